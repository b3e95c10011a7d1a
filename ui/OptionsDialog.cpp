// The Preferences dialog.
#include "OptionsDialog.h"

#include "EnginePortQuery.h"
#include "FormScaling.h"
#include "OptionsLogic.h"
#include "ui_frmOptions.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

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
    : QDialog(parent), ui_(std::make_unique<Ui::frmOptions>()), logic_(logic),
      portQuery_(std::make_unique<EnginePortQuery>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(scaleChildren(*this, captionFitFactor(*this), size()));

    connect(ui_->AutoMinimizeCheck, &QCheckBox::clicked, this, &OptionsDialog::updateDelayRow);
    connect(ui_->ConnectVia, &QCheckBox::clicked, this, &OptionsDialog::onDigipeaterBoxClicked);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &OptionsDialog::onOk);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    // A question still open would hold one of the engine's few client places for nothing.
    connect(this, &QDialog::finished, portQuery_.get(), &EnginePortQuery::cancel);
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
    ui_->RadioPortText->clear();
    ui_->RadioPortText->setEditText(qs(f.radioPort));
    ui_->AutoMinimizeDelayText->setText(qs(f.autoMinimizeDelay));
    ui_->AutoMinimizeCheck->setChecked(f.autoMinimize);
    updateDelayRow();
    ui_->ConnectVia->setChecked(f.connectVia);
    onDigipeaterBoxClicked();
    ui_->RX_Check->setChecked(f.monitorMode);
    ui_->Compatibility->setChecked(f.compatibilityMode);
    ui_->EngineHostText->setText(qs(f.engineHost));
    ui_->EnginePortText->setText(qs(f.enginePort));
    ui_->EngineKindChoice->setCurrentIndex(f.kissEngine ? 1 : 0);
    ui_->KissAddressText->setText(qs(f.kissAddress));
    // The choices are listed in the order of LinkEnd.
    ui_->LinkEndChoice->setCurrentIndex(static_cast<int>(f.linkEnd));
    ui_->KeepLinkText->setText(qs(f.keepLinkSeconds));
    ui_->ClientsText->setText(qs(f.clients));
    ui_->QuietKeepalivesCheck->setChecked(f.quietKeepalives);
    ui_->ListenAddressText->setText(qs(f.listenAddress));
    ui_->AllowedClientsText->setText(qs(f.allowedClients));
    ui_->CallsignText->setFocus();
    askForRadioPorts();
}

void OptionsDialog::askForRadioPorts() {
    const settings::EngineAddress address = logic_.engineToAsk();
    const QString engine = qs(address.host) + QLatin1Char(':') + QString::number(address.port);
    ui_->RadioPortText->setToolTip(
        QStringLiteral("Asking the packet engine at %1 for its radio ports...").arg(engine));
    portQuery_->ask(address.host, address.port, logic_.radioPortInUse(),
                    [this, engine](const EnginePortList &list) { showRadioPorts(list, engine); });
}

// The field keeps what it shows: a number that is in the list shows as its entry, anything else (the
// stored number of a port the engine does not list, or what the user typed meanwhile) stays as it is.
void OptionsDialog::showRadioPorts(const EnginePortList &list, const QString &engine) {
    QComboBox *field = ui_->RadioPortText;
    const QString shown = field->currentText();
    field->clear();
    for (const agw::RadioPortChoice &choice : list.choices)
        field->addItem(qs(radioPortChoiceText(choice)), choice.number);
    bool isNumber = false;
    const int number = shown.trimmed().toInt(&isNumber);
    const int entry = isNumber ? field->findData(number) : -1;
    field->setCurrentIndex(entry);
    if (entry < 0)
        field->setEditText(shown);
    // The list may be wider than the field; its entries are shown whole.
    field->view()->setMinimumWidth(field->view()->sizeHintForColumn(0) + field->view()->frameWidth() * 2);

    if (list.choices.empty())
        field->setToolTip(
            QStringLiteral("No list of radio ports from the packet engine at %1: %2. Type the number of "
                           "the radio port (0 for the engine's first).")
                .arg(engine, qs(list.problem)));
    else
        field->setToolTip(
            QStringLiteral("The radio ports of the packet engine at %1; a port it does not list can be "
                           "typed as a number.")
                .arg(engine));
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
    f.radioPort = ss(ui_->RadioPortText->currentText());
    f.autoMinimizeDelay = ss(ui_->AutoMinimizeDelayText->text());
    f.connectVia = ui_->ConnectVia->isChecked();
    f.autoMinimize = ui_->AutoMinimizeCheck->isChecked();
    f.monitorMode = ui_->RX_Check->isChecked();
    f.compatibilityMode = ui_->Compatibility->isChecked();
    f.engineHost = ss(ui_->EngineHostText->text());
    f.enginePort = ss(ui_->EnginePortText->text());
    f.kissEngine = ui_->EngineKindChoice->currentIndex() == 1;
    f.kissAddress = ss(ui_->KissAddressText->text());
    f.linkEnd = static_cast<LinkEnd>(std::clamp(ui_->LinkEndChoice->currentIndex(), 0, 2));
    f.keepLinkSeconds = ss(ui_->KeepLinkText->text());
    f.clients = ss(ui_->ClientsText->text());
    f.quietKeepalives = ui_->QuietKeepalivesCheck->isChecked();
    f.listenAddress = ss(ui_->ListenAddressText->text());
    f.allowedClients = ss(ui_->AllowedClientsText->text());
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
