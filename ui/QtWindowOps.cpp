// WindowOps on the main window.
#include "QtWindowOps.h"

#include "Bridge.h"
#include "MainForm.h"
#include "WindowTimer.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace corvantle {

QtWindowOps::QtWindowOps(MainForm &form)
    : form_(form), autoMinimizer_(form.tickTimer(), {[this] { return windowState() == kWindowNormal; },
                                                     [this] { setWindowState(kWindowMinimized); }}) {}

void QtWindowOps::setStatusText(const std::string &text) {
    form_.setStatusText(QString::fromStdString(text));
}

void QtWindowOps::setCounterText(const std::string &text) {
    form_.setCounterText(QString::fromStdString(text));
}

int QtWindowOps::windowState() const {
    if (form_.isHiddenInTray())
        return kWindowMinimized;
    const Qt::WindowStates states = form_.windowState();
    if (states & Qt::WindowMinimized)
        return kWindowMinimized;
    if (states & Qt::WindowMaximized)
        return kWindowMaximized;
    return kWindowNormal;
}

void QtWindowOps::setWindowState(int state) {
    Qt::WindowState wanted = Qt::WindowNoState;
    if (state == kWindowMinimized)
        wanted = Qt::WindowMinimized;
    else if (state == kWindowMaximized)
        wanted = Qt::WindowMaximized;
    // Back from the tray as asked; minimized, it stays there.
    if (form_.isHiddenInTray()) {
        if (wanted != Qt::WindowMinimized)
            form_.showFromTray();
        if (wanted == Qt::WindowMaximized)
            form_.showMaximized();
        return;
    }
    // A window not shown yet only takes the state on; showing it is main's decision.
    if (!form_.isVisible()) {
        form_.setWindowState(wanted);
        return;
    }
    switch (wanted) {
    case Qt::WindowMinimized:
        // With a tray, the window goes there instead of the task bar.
        if (form_.tray() != nullptr)
            form_.hideToTray();
        else
            form_.showMinimized();
        break;
    case Qt::WindowMaximized:
        form_.showMaximized();
        break;
    default:
        form_.showNormal();
        break;
    }
}

void QtWindowOps::startTicking() {
    form_.tickTimer().setEnabled(true);
}

void QtWindowOps::setAutoMinimize(bool on, int32_t delayMs) {
    autoMinimizer_.set(on, delayMs);
}

void QtWindowOps::messageBox(const std::string &prompt) {
    QWidget *owner = form_.isVisible() ? &form_ : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), QString::fromStdString(prompt),
                    QMessageBox::Ok, owner);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void QtWindowOps::remindToConfigure() {
    messageBox("Please configure your Callsign and/or Cluster station in the Options Menu");
}

void QtWindowOps::endProgram(int exitCode) {
    QCoreApplication::exit(exitCode);
}

} // namespace corvantle
