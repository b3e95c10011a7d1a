// The Preferences dialog.
#include "OptionsDialog.h"

#include "FormScaling.h"
#include "OptionsLogic.h"
#include "ui_frmOptions.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace corvantle {

namespace {
QString qs(const std::string &text) {
    return QString::fromStdString(text);
}
std::string ss(const QString &text) {
    return text.toStdString();
}
} // namespace

OptionsDialog::OptionsDialog(OptionsLogic &logic, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmOptions>()), logic_(logic) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(scaleChildren(*this, captionFitFactor(*this), size()));

    connect(ui_->AutoMinimizeCheck, &QCheckBox::clicked, this, &OptionsDialog::updateDelayRow);
    connect(ui_->ConnectVia, &QCheckBox::clicked, this, &OptionsDialog::onDigipeaterBoxClicked);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &OptionsDialog::onOk);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::openOrRaise() {
    if (!isVisible()) {
        showCurrentValues();
        show();
    }
    raise();
    activateWindow();
}

void OptionsDialog::showCurrentValues() {
    // Centred as a whole, frame included, once the frame is known (from the second opening on).
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }

    const OptionsFields f = logic_.fieldsToShow();
    ui_->CallsignText->setText(qs(f.callsign));
    ui_->ClusterText->setText(qs(f.cluster));
    ui_->via->setText(qs(f.digis));
    ui_->PortText->setText(qs(f.localPort));
    ui_->RadioPortText->setText(qs(f.radioPort));
    ui_->AutoMinimizeDelayText->setText(qs(f.autoMinimizeDelay));
    ui_->AutoMinimizeCheck->setChecked(f.autoMinimize);
    updateDelayRow();
    ui_->ConnectVia->setChecked(f.connectVia);
    onDigipeaterBoxClicked();
    ui_->RX_Check->setChecked(f.monitorMode);
    ui_->Compatibility->setChecked(f.compatibilityMode);
    ui_->CallsignText->setFocus();
}

void OptionsDialog::updateDelayRow() {
    const bool ticked = ui_->AutoMinimizeCheck->isChecked();
    ui_->AutoMinimizeDelayText->setEnabled(ticked);
    ui_->Label6->setEnabled(ticked);
}

void OptionsDialog::onDigipeaterBoxClicked() {
    const bool ticked = ui_->ConnectVia->isChecked();
    logic_.setConnectViaDigipeaters(ticked);
    ui_->via->setEnabled(ticked);
}

OptionsFields OptionsDialog::fields() const {
    OptionsFields f;
    f.callsign = ss(ui_->CallsignText->text());
    f.cluster = ss(ui_->ClusterText->text());
    f.digis = ss(ui_->via->text());
    f.localPort = ss(ui_->PortText->text());
    f.radioPort = ss(ui_->RadioPortText->text());
    f.autoMinimizeDelay = ss(ui_->AutoMinimizeDelayText->text());
    f.connectVia = ui_->ConnectVia->isChecked();
    f.autoMinimize = ui_->AutoMinimizeCheck->isChecked();
    f.monitorMode = ui_->RX_Check->isChecked();
    f.compatibilityMode = ui_->Compatibility->isChecked();
    return f;
}

void OptionsDialog::onOk() {
    const OkOutcome outcome = logic_.applyAndSave(fields());
    if (!outcome.message.empty())
        QMessageBox::warning(this, windowTitle(), qs(outcome.message));
    if (outcome.closeDialog)
        accept();
}

} // namespace corvantle
