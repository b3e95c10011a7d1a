// Shared by the window tests: a font to draw with, and checks that every caption fits its box and that a
// form keeps its design's proportions.
#pragma once

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QSize>
#include <QString>
#include <QWidget>

#include <cmath>

namespace corvantle::test {

// Makes new windows use a font of `pixels` (0: leave the system font) until it goes out of scope.
class FontOverride final {
  public:
    explicit FontOverride(int pixels) : saved_(QApplication::font()) {
        if (pixels > 0) {
            QFont font = saved_;
            font.setPixelSize(pixels);
            QApplication::setFont(font);
        }
    }
    ~FontOverride() { QApplication::setFont(saved_); }
    FontOverride(const FontOverride &) = delete;
    FontOverride &operator=(const FontOverride &) = delete;

  private:
    QFont saved_;
};

// The first label under `form` whose caption is cut off, or an empty string.
inline QString firstCutCaption(const QWidget &form) {
    for (const QLabel *label : form.findChildren<QLabel *>()) {
        if (label->text().isEmpty())
            continue;
        const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                            : label->sizeHint().width() <= label->width() &&
                                                  label->sizeHint().height() <= label->height();
        if (!fits)
            return label->objectName();
    }
    return {};
}

// `actual` is `design` grown by one factor (at least 1), give or take rounding.
inline bool grownInProportion(const QSize &actual, const QSize &design) {
    const double factor = double(actual.width()) / design.width();
    return factor >= 1.0 && std::abs(design.height() * factor - actual.height()) <= 1.0;
}

} // namespace corvantle::test
