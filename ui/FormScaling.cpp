// Fits a form drawn for a small system font to the font in use.
#include "FormScaling.h"

#include <QLabel>
#include <QSize>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace corvantle {

namespace {

constexpr double kFactorStep = 0.01;
constexpr double kLargestFactor = 4.0;
constexpr int kRuleThicknessPx = 2;

int scaled(int length, double factor) {
    return static_cast<int>(std::lround(length * factor));
}

bool captionFits(const QLabel &label, double factor) {
    const int width = scaled(label.width(), factor);
    const int height = scaled(label.height(), factor);
    if (label.wordWrap())
        return label.heightForWidth(width) <= height;
    const QSize needed = label.sizeHint();
    return needed.width() <= width && needed.height() <= height;
}

} // namespace

double captionFitFactor(const QWidget &container) {
    double factor = 1.0;
    for (const QLabel *label : container.findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        if (label->text().isEmpty())
            continue;
        while (factor < kLargestFactor && !captionFits(*label, factor))
            factor += kFactorStep;
    }
    return factor;
}

QSize scaleChildren(QWidget &container, double factor, const QSize &designSize) {
    for (QWidget *child : container.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const QRect design = child->geometry();
        // Pictures keep their pixel size and rules their thickness; only where they sit moves.
        const auto *label = qobject_cast<const QLabel *>(child);
        const bool picture = label != nullptr && !label->pixmap().isNull();
        const int width = picture ? design.width() : scaled(design.width(), factor);
        const int height = picture || design.height() <= kRuleThicknessPx ? design.height()
                                                                          : scaled(design.height(), factor);
        child->setGeometry(scaled(design.x(), factor), scaled(design.y(), factor), width, height);
    }
    return {scaled(designSize.width(), factor), scaled(designSize.height(), factor)};
}

} // namespace corvantle
