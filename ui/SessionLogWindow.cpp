#include "SessionLogWindow.h"

#include <QPlainTextEdit>
#include <QTime>
#include <QVBoxLayout>

#include <iostream>

namespace corvantle {

SessionLogWindow::SessionLogWindow(bool toStandardError, int maxLines)
    : QWidget(nullptr, Qt::Window), text_(new QPlainTextEdit(this)), toStandardError_(toStandardError) {
    setWindowTitle(QStringLiteral("Session log"));
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(maxLines);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFont(QStringLiteral("monospace")));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(text_);
    resize(640, 320);
}

SessionLogWindow::~SessionLogWindow() = default;

void SessionLogWindow::note(const std::string &line) {
    const QString stamped =
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + QString::fromStdString(line);
    append(stamped);
    if (toStandardError_)
        std::cerr << stamped.toStdString() << std::endl;
}

void SessionLogWindow::warn(const std::string &line) {
    append(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + QString::fromStdString(line));
    std::cerr << "corvantle: " << line << std::endl;
}

void SessionLogWindow::showAndRaise() {
    show();
    raise();
    activateWindow();
}

QStringList SessionLogWindow::lines() const {
    return text_->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SessionLogWindow::append(const QString &line) {
    text_->appendPlainText(line);
}

} // namespace corvantle
