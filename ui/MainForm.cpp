// The main window.
#include "MainForm.h"

#include "FormScaling.h"
#include "LinkTray.h"
#include "ui_MainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QSystemTrayIcon>

namespace corvantle {

namespace {
constexpr int kClientWidthPx = 386;
constexpr int kClientHeightPx = 68;

// Run-time texts ("Bytes Transferred: 123K") can be longer than the design captions; grow to the right.
void showGrowingToFit(QLabel &label, const QString &text) {
    label.setText(text);
    const int neededWidth = label.sizeHint().width();
    if (neededWidth > label.width())
        label.resize(neededWidth, label.height());
}

bool wantsTray(MainForm::Tray tray) {
    if (tray == MainForm::Tray::WhereAvailable)
        return QSystemTrayIcon::isSystemTrayAvailable();
    return tray == MainForm::Tray::Always;
}
} // namespace

MainForm::MainForm(QWidget *parent, Tray tray) : QMainWindow(parent), ui_(std::make_unique<Ui::MainForm>()) {
    ui_->setupUi(this);
    // Sizable and minimizable, but never maximized from the title bar.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const QSize client = scaleChildren(*ui_->centralwidget, captionFitFactor(*ui_->centralwidget),
                                       {kClientWidthPx, kClientHeightPx});
    resize(client.width(), client.height() + menuBar()->sizeHint().height());

    connect(ui_->preferences, &QAction::triggered, this, &MainForm::preferencesRequested);
    connect(ui_->sessionLog, &QAction::triggered, this, &MainForm::sessionLogRequested);
    connect(ui_->about2, &QAction::triggered, this, &MainForm::aboutRequested);

    if (!wantsTray(tray))
        return;
    tray_ = std::make_unique<LinkTray>();
    tray_->showStatus(ui_->StatusLabel->text());
    connect(tray_.get(), &LinkTray::showWindowRequested, this, &MainForm::showFromTray);
    connect(tray_.get(), &LinkTray::preferencesRequested, this, &MainForm::preferencesRequested);
    connect(tray_.get(), &LinkTray::sessionLogRequested, this, &MainForm::sessionLogRequested);
    // Quit is closing the window: the same shutdown, whether the window is shown or in the tray.
    connect(tray_.get(), &LinkTray::quitRequested, this, &QWidget::close);
    // Queued, so the bridge's own tick (connected after this) has counted the bytes already.
    connect(&tickTimer_, &WindowTimer::tick, this, &MainForm::refreshTraySummary, Qt::QueuedConnection);
    tray_->show();
}

MainForm::~MainForm() = default;

void MainForm::setStatusText(const QString &text) {
    showGrowingToFit(*ui_->StatusLabel, text);
    if (tray_)
        tray_->showStatus(text);
}

void MainForm::refreshTraySummary() {
    if (tray_ && traySummary_)
        tray_->showSummary(traySummary_());
}

void MainForm::hideToTray() {
    if (!tray_)
        return;
    hiddenInTray_ = true;
    hide();
}

void MainForm::showFromTray() {
    hiddenInTray_ = false;
    showNormal();
    raise();
    activateWindow();
}

void MainForm::setCounterText(const QString &text) {
    showGrowingToFit(*ui_->BytesTransfLabel, text);
}

void MainForm::closeEvent(QCloseEvent *event) {
    event->accept();
    if (closed_)
        return;
    closed_ = true;
    // Closing may wait a few seconds for the user's last lines to leave for the radio: out of sight.
    hide();
    if (tray_)
        tray_->hide();
    emit closing();
    // Open dialogs have no owner and would keep the application running; closing this window ends it.
    QCoreApplication::quit();
}

} // namespace corvantle
