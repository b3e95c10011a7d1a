// The main window.
#include "MainForm.h"

#include "FormScaling.h"
#include "ui_MainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>

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
} // namespace

MainForm::MainForm(QWidget *parent) : QMainWindow(parent), ui_(std::make_unique<Ui::MainForm>()) {
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
}

MainForm::~MainForm() = default;

void MainForm::setStatusText(const QString &text) {
    showGrowingToFit(*ui_->StatusLabel, text);
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
    emit closing();
    // Open dialogs have no owner and would keep the application running; closing this window ends it.
    QCoreApplication::quit();
}

} // namespace corvantle
