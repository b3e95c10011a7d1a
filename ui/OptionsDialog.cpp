// The Preferences dialog.
#include "OptionsDialog.h"

#include "EnginePortQuery.h"
#include "OptionsLogic.h"
#include "RadioPorts.h"
#include "SettingsTable.h"
#include "ui_frmOptions.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

namespace corvantle {

namespace {
QString qs(const std::string &text) {
    return QString::fromStdString(text);
}
std::string ss(const QString &text) {
    return text.toStdString();
}

// The window manager's title bar and borders, before the first showing tells their real size.
constexpr int kFrameReserveWidthPx = 8;
constexpr int kFrameReserveHeightPx = 40;

void setRange(QSpinBox &field, const settings::Key &key) {
    field.setRange(static_cast<int>(key.min), static_cast<int>(key.max));
}
} // namespace

OptionsDialog::OptionsDialog(OptionsLogic &logic, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmOptions>()), logic_(logic),
      portQuery_(std::make_unique<EnginePortQuery>()) {
    ui_->setupUi(this);
    // Sizable, so the window manager can give it more room, but never minimized or maximized on its own.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setUpKissLinkFields();
    nameFieldsByTheirLabels();
    fitToScreen();

    connect(ui_->AutoMinimizeCheck, &QCheckBox::clicked, this, &OptionsDialog::updateDelayRow);
    connect(ui_->ConnectVia, &QCheckBox::clicked, this, &OptionsDialog::onDigipeaterBoxClicked);
    connect(ui_->EngineKindChoice, &QComboBox::currentIndexChanged, this, &OptionsDialog::onEngineKindChosen);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &OptionsDialog::onOk);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    // A question still open would hold one of the engine's few client places for nothing.
    connect(this, &QDialog::finished, portQuery_.get(), &EnginePortQuery::cancel);
}

OptionsDialog::~OptionsDialog() = default;

// The link's numbers take the ranges the settings table gives their keys.
void OptionsDialog::setUpKissLinkFields() {
    setRange(*ui_->KissMaxFrameField, settings::kKissMaxFrame);
    setRange(*ui_->KissPaclenField, settings::kKissPaclen);
    setRange(*ui_->KissFrackField, settings::kKissFrackSeconds);
    setRange(*ui_->KissRetriesField, settings::kKissRetries);
    setRange(*ui_->KissTxDelayField, settings::kKissTxDelay);
}

// A screen reader names a field by its accessible name; the captions stand in separate labels (a check box's
// caption too), so each field takes its label's words.
void OptionsDialog::nameFieldsByTheirLabels() {
    for (QLabel *label : findChildren<QLabel *>()) {
        QWidget *field = label->buddy();
        if (field == nullptr || !field->accessibleName().isEmpty())
            continue;
        QString words = label->text();
        words.remove(QLatin1Char('&'));
        if (words.endsWith(QLatin1Char(':')))
            words.chop(1);
        field->setAccessibleName(words);
    }
}

// As large as the largest page needs, within the screen's free room less the window's frame: a page that
// needs more (a large font on a small screen) scrolls, and OK and Cancel stay in sight.
void OptionsDialog::fitToScreen() {
    // A scroll area asks for only part of a large page: the dialog grows by what the largest page lacks.
    QSize pagesNeed(0, 0);
    QSize pagesGet(0, 0);
    for (QScrollArea *scroll : ui_->Pages->findChildren<QScrollArea *>()) {
        // Laid out now, so each nested layout measures its controls as they are filled (a combo box's
        // choices widen it).
        scroll->widget()->layout()->activate();
        pagesNeed = pagesNeed.expandedTo(scroll->widget()->sizeHint());
        pagesGet = pagesGet.expandedTo(scroll->sizeHint());
    }
    const QSize natural = sizeHint() + (pagesNeed - pagesGet).expandedTo(QSize(0, 0));
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        resize(natural);
        return;
    }
    const QSize room =
        screen->availableGeometry().size() - QSize(kFrameReserveWidthPx, kFrameReserveHeightPx);
    resize(natural.boundedTo(room));
}

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

    ui_->Pages->setCurrentIndex(0);
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
    {
        // The radio ports are offered once, below, for the engine the dialog opens with.
        const QSignalBlocker filling(ui_->EngineKindChoice);
        ui_->EngineKindChoice->setCurrentIndex(f.kissEngine ? 1 : 0);
    }
    ui_->KissAddressText->setText(qs(f.kissAddress));
    ui_->KissMaxFrameField->setValue(qs(f.kissMaxFrame).toInt());
    ui_->KissPaclenField->setValue(qs(f.kissPaclen).toInt());
    ui_->KissFrackField->setValue(qs(f.kissFrackSeconds).toInt());
    ui_->KissRetriesField->setValue(qs(f.kissRetries).toInt());
    ui_->KissTxDelayField->setValue(qs(f.kissTxDelay).toInt());
    updateEngineGroups();
    // The choices are listed in the order of LinkEnd.
    ui_->LinkEndChoice->setCurrentIndex(static_cast<int>(f.linkEnd));
    ui_->KeepLinkText->setText(qs(f.keepLinkSeconds));
    ui_->ClientsText->setText(qs(f.clients));
    ui_->QuietKeepalivesCheck->setChecked(f.quietKeepalives);
    ui_->ListenAddressText->setText(qs(f.listenAddress));
    ui_->AllowedClientsText->setText(qs(f.allowedClients));
    ui_->CallsignText->setFocus();
    offerRadioPorts();
}

bool OptionsDialog::kissChosen() const {
    return ui_->EngineKindChoice->currentIndex() == 1;
}

void OptionsDialog::onEngineKindChosen() {
    updateEngineGroups();
    offerRadioPorts();
}

// The AGW engine is asked for its list; a KISS TNC cannot be asked, and a list of all sixteen KISS ports
// would offer ports the TNC may not have (most have port 0 alone), so the field takes the number alone.
void OptionsDialog::offerRadioPorts() {
    if (!kissChosen()) {
        askForRadioPorts();
        return;
    }
    // A question still open would hold one of the AGW engine's few client places for nothing.
    portQuery_->cancel();
    listRadioPorts({});
    ui_->RadioPortText->setToolTip(QStringLiteral(
        "A KISS TNC names no radio ports: type the number of its KISS port, 0 to 15 (0 for a TNC with one "
        "port)."));
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
// stored number of a port the engine does not list, or what the user typed meanwhile) stays as it is. An
// entry picked from an earlier list stays as its number.
void OptionsDialog::listRadioPorts(const std::vector<RadioPortChoice> &choices) {
    QComboBox *field = ui_->RadioPortText;
    const int picked = field->currentIndex();
    const QString shown =
        picked >= 0 ? QString::number(field->itemData(picked).toInt()) : field->currentText();
    field->clear();
    for (const RadioPortChoice &choice : choices)
        field->addItem(qs(radioPortChoiceText(choice)), choice.number);
    bool isNumber = false;
    const int number = shown.trimmed().toInt(&isNumber);
    const int entry = isNumber ? field->findData(number) : -1;
    field->setCurrentIndex(entry);
    if (entry < 0)
        field->setEditText(shown);
    // The list may be wider than the field; its entries are shown whole.
    field->view()->setMinimumWidth(field->view()->sizeHintForColumn(0) + field->view()->frameWidth() * 2);
}

void OptionsDialog::showRadioPorts(const EnginePortList &list, const QString &engine) {
    listRadioPorts(list.choices);
    QComboBox *field = ui_->RadioPortText;
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

// Each engine's settings are in use only while that kind of engine is chosen; the radio port is both's.
void OptionsDialog::updateEngineGroups() {
    const bool kiss = kissChosen();
    ui_->AgwGroup->setEnabled(!kiss);
    ui_->KissGroup->setEnabled(kiss);
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
    f.kissEngine = kissChosen();
    f.kissAddress = ss(ui_->KissAddressText->text());
    f.kissMaxFrame = std::to_string(ui_->KissMaxFrameField->value());
    f.kissPaclen = std::to_string(ui_->KissPaclenField->value());
    f.kissFrackSeconds = std::to_string(ui_->KissFrackField->value());
    f.kissRetries = std::to_string(ui_->KissRetriesField->value());
    f.kissTxDelay = std::to_string(ui_->KissTxDelayField->value());
    f.linkEnd = static_cast<LinkEnd>(std::clamp(ui_->LinkEndChoice->currentIndex(), 0, 2));
    f.keepLinkSeconds = ss(ui_->KeepLinkText->text());
    f.clients = ss(ui_->ClientsText->text());
    f.quietKeepalives = ui_->QuietKeepalivesCheck->isChecked();
    f.listenAddress = ss(ui_->ListenAddressText->text());
    f.allowedClients = ss(ui_->AllowedClientsText->text());
    return f;
}

QWidget *OptionsDialog::fieldWidget(OptionsField field) const {
    switch (field) {
    case OptionsField::None:
        return nullptr;
    case OptionsField::Callsign:
        return ui_->CallsignText;
    case OptionsField::Cluster:
        return ui_->ClusterText;
    case OptionsField::Digis:
        return ui_->via;
    case OptionsField::LocalPort:
        return ui_->PortText;
    case OptionsField::RadioPort:
        return ui_->RadioPortText;
    case OptionsField::AutoMinimizeDelay:
        return ui_->AutoMinimizeDelayText;
    case OptionsField::EngineHost:
        return ui_->EngineHostText;
    case OptionsField::EnginePort:
        return ui_->EnginePortText;
    case OptionsField::KissAddress:
        return ui_->KissAddressText;
    case OptionsField::KissMaxFrame:
        return ui_->KissMaxFrameField;
    case OptionsField::KissPaclen:
        return ui_->KissPaclenField;
    case OptionsField::KissFrackSeconds:
        return ui_->KissFrackField;
    case OptionsField::KissRetries:
        return ui_->KissRetriesField;
    case OptionsField::KissTxDelay:
        return ui_->KissTxDelayField;
    case OptionsField::KeepLink:
        return ui_->KeepLinkText;
    case OptionsField::Clients:
        return ui_->ClientsText;
    case OptionsField::ListenAddress:
        return ui_->ListenAddressText;
    case OptionsField::AllowedClients:
        return ui_->AllowedClientsText;
    }
    return nullptr;
}

// The page that holds the field comes to the front, and the field is scrolled into sight.
void OptionsDialog::bringToFront(QWidget *field) {
    for (int page = 0; page < ui_->Pages->count(); ++page) {
        auto *scroll = qobject_cast<QScrollArea *>(ui_->Pages->widget(page)->findChild<QScrollArea *>());
        if (scroll != nullptr && scroll->widget()->isAncestorOf(field)) {
            ui_->Pages->setCurrentIndex(page);
            scroll->ensureWidgetVisible(field);
            return;
        }
    }
}

void OptionsDialog::onOk() {
    const OkOutcome outcome = logic_.applyAndSave(fields());
    QWidget *refused = outcome.closeDialog ? nullptr : fieldWidget(outcome.field);
    if (refused != nullptr)
        bringToFront(refused);
    if (!outcome.message.empty())
        QMessageBox::warning(this, windowTitle(), qs(outcome.message));
    if (outcome.closeDialog) {
        accept();
        return;
    }
    if (refused != nullptr) {
        refused->setFocus(Qt::OtherFocusReason);
        if (auto *text = qobject_cast<QLineEdit *>(refused))
            text->selectAll();
    }
}

} // namespace corvantle
