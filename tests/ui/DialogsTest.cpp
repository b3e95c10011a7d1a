// The Preferences and About dialogs, opened from the main window's menus over OptionsLogic and fakes, with
// the fake packet engine on loopback to ask for radio ports.
#include "AboutDialog.h"
#include "AgwFrame.h"
#include "Bridge.h"
#include "CaptionChecks.h"
#include "DialogLauncher.h"
#include "FakeAgwServer.h"
#include "MainForm.h"
#include "OptionsDialog.h"
#include "OptionsLogic.h"
#include "ProgramSettings.h"
#include "RecordingFakes.h"
#include "SettingsWriter.h"
#include "TimerMark.h"
#include "VersionLine.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

using namespace corvantle;
using namespace corvantle::test;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// The Raspberry Pi's own touchscreen, the smallest screen the dialog is made for.
const QSize kSmallScreen(800, 480);
// A window manager's title bar and borders, where the platform (offscreen) draws none.
const QSize kFrameReserve(8, 40);

const std::string kDireWolfStereo = "2;Port1 first soundcard left;Port2 first soundcard right;"
                                    "Port3 INVALID CHANNEL;Port4 INVALID CHANNEL;Port5 INVALID CHANNEL;"
                                    "Port6 INVALID CHANNEL;\0"s;

template <typename Dialog> QList<Dialog *> openDialogs() {
    QList<Dialog *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<Dialog *>(widget))
            found.append(dialog);
    }
    return found;
}

// The bridge, the menus and the dialogs, wired as main wires them; the stored engine address is the fake
// engine's, which lists no radio ports until a test gives it some.
struct Rig {
    FakeAgwServer agwEngine;
    Journal journal;
    FakeWindow window{journal};
    FakeSocket socket{journal};
    FakeEngine engine{journal};
    MemoryStore store{journal};
    StoreWriter writer{store};
    SettingsReading reading;
    StartupSettings startup = startupFrom(reading);
    Bridge bridge{window, socket, engine, startup};
    const BridgeState &state = bridge.state();
    OptionsLogic logic{bridge, window, reading.settings, writer};
    MainForm form;
    DialogLauncher launcher{form, logic};

    // `more`: what else the file holds, by section and key.
    explicit Rig(const std::map<std::pair<std::string, std::string>, std::string> &more = {})
        : reading(storeWith(more)) {
        bridge.start();
    }
    SettingsReading storeWith(const std::map<std::pair<std::string, std::string>, std::string> &more) {
        store.values[{kProgramName, "Config", "MyCallsign"}] = "N0CALL";
        store.values[{kProgramName, "Config", "Cluster"}] = "GB7DXC";
        store.values[{kProgramName, "Config", "RadioPort"}] = "1";
        store.values[{kProgramName, "Engine", "Host"}] = "127.0.0.1";
        store.values[{kProgramName, "Engine", "Port"}] = agwEngine.port();
        for (const auto &[sectionAndKey, text] : more)
            store.values[{kProgramName, sectionAndKey.first, sectionAndKey.second}] = text;
        return readProgramSettings(store);
    }
    // Settings in force, as Preferences hands them to the bridge.
    template <typename Edit> void change(Edit edit) {
        BridgeState next = bridge.state();
        edit(next);
        bridge.applySettings(next);
    }
    void menu(const char *actionName) { form.findChild<QAction *>(actionName)->trigger(); }
    OptionsDialog *options() {
        menu("preferences");
        const auto dialogs = openDialogs<OptionsDialog>();
        return dialogs.size() == 1 ? dialogs.front() : nullptr;
    }
    template <typename W> W *control(QWidget *dialog, const char *name) {
        return dialog->findChild<W *>(name);
    }
    QComboBox *radioPorts(QWidget *dialog) { return control<QComboBox>(dialog, "RadioPortText"); }
    QTabWidget *pages(QWidget *dialog) { return control<QTabWidget>(dialog, "Pages"); }
    // The page that holds `field`, by its index.
    int pageOf(QWidget *dialog, QWidget *field) {
        QTabWidget *tabs = pages(dialog);
        for (int page = 0; page < tabs->count(); ++page)
            if (tabs->widget(page)->isAncestorOf(field))
                return page;
        return -1;
    }
    std::string stored(const char *section, const char *key) const {
        return store.readSetting(kProgramName, section, key, "<unset>");
    }
    int storeWrites() const {
        return static_cast<int>(std::count_if(journal.begin(), journal.end(), [](const std::string &line) {
            return line.starts_with("store.");
        }));
    }
};

} // namespace

class DialogsTest final : public QObject {
    Q_OBJECT
  private slots:
    void cleanup();
    void oneInstancePerDialog_data();
    void oneInstancePerDialog();
    void reopeningRefillsButRaisingDoesNot();
    void optionsOpensWithCallsignFocusedAndCentred();
    void optionsTabOrder_data();
    void optionsTabOrder();
    void optionsFitASmallScreenWithOkInSight();
    void everyFieldIsNamedByItsLabel();
    void engineGroupsFollowTheChosenKind();
    void kissLinkSettingsShowWhatTheNextStartUsesAndOkStoresThem();
    void escapeCancels_data();
    void escapeCancels();
    void enterDoesNotConfirm_data();
    void enterDoesNotConfirm();
    void okAppliesAndCloses();
    void refusedOkKeepsTheDialogOpenWithAWarning_data();
    void refusedOkKeepsTheDialogOpenWithAWarning();
    void checkBoxesRunTheirClickHandlers();
    void radioPortsAreOfferedFromTheEngine();
    void radioPortFieldKeepsWhatItShows_data();
    void radioPortFieldKeepsWhatItShows();
    void everyOpeningAsksAndClosingStopsAsking();
    void kissAsksNoAgwEngineForRadioPorts();
    void radioPortListFollowsTheEngineChoice();
    void engineAddressShowsTheStoredOneAndOkStoresIt();
    void linkGroupShowsTheRunningValuesAndOkStoresThem();
    void telnetClientsGroupShowsTheStoredValuesAndOkStoresThem();
    void captionsFit_data();
    void captionsFit();
    void aboutOpensWhereItWasDrawn();
    void aboutShowsTheProgramVersion();
    void aboutClosesOnEnterAndEscape_data();
    void aboutClosesOnEnterAndEscape();
    void versionLine_data();
    void versionLine();
    void callsignsAsTheDialogOpenedWithDoNotHoldOk();
};

void DialogsTest::cleanup() {
    // Each rig takes its dialogs with it; nothing may outlive a test.
    QVERIFY(openDialogs<OptionsDialog>().isEmpty());
    QVERIFY(openDialogs<AboutDialog>().isEmpty());
}

void DialogsTest::oneInstancePerDialog_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("Preferences") << "preferences";
    QTest::newRow("About") << "about2";
}

void DialogsTest::oneInstancePerDialog() {
    QFETCH(QString, action);
    Rig rig;
    rig.menu(action.toLatin1().constData());
    rig.menu(action.toLatin1().constData());
    const int open =
        static_cast<int>(openDialogs<OptionsDialog>().size() + openDialogs<AboutDialog>().size());
    QCOMPARE(open, 1);

    QDialog *dialog = openDialogs<OptionsDialog>().isEmpty()
                          ? static_cast<QDialog *>(openDialogs<AboutDialog>().front())
                          : openDialogs<OptionsDialog>().front();
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->parentWidget() == nullptr);
    QVERIFY(!dialog->isModal());
    dialog->close();
    rig.menu(action.toLatin1().constData());
    QVERIFY(dialog->isVisible());
    QCOMPARE(openDialogs<OptionsDialog>().size() + openDialogs<AboutDialog>().size(), 1);
}

void DialogsTest::reopeningRefillsButRaisingDoesNot() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *callsign = rig.control<QLineEdit>(dialog, "CallsignText");
    QCOMPARE(callsign->text(), QString("N0CALL"));

    callsign->setText("typed");
    rig.menu("preferences");
    QCOMPARE(callsign->text(), QString("typed"));

    dialog->close(); // cancelled: what was typed is not kept
    rig.menu("preferences");
    QCOMPARE(callsign->text(), QString("N0CALL"));
}

void DialogsTest::optionsOpensWithCallsignFocusedAndCentred() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QVERIFY(dialog->maximumSize().width() > dialog->width()); // the window manager may give it more room
    QVERIFY(dialog->maximumSize().height() > dialog->height());
    QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(rig.pages(dialog)->currentIndex(), 0);
    QCOMPARE(dialog->focusWidget(), rig.control<QWidget>(dialog, "CallsignText"));
    const QPoint screenCentre = dialog->screen()->geometry().center();
    // Centred as a whole; where the frame is not known yet, the client area is centred instead.
    QVERIFY((dialog->geometry().center() - screenCentre).manhattanLength() <= 20);
}

void DialogsTest::optionsTabOrder_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("Station")
        << 0
        << QStringList{"CallsignText",      "ClusterText",           "ConnectVia", "via",          "PortText",
                       "AutoMinimizeCheck", "AutoMinimizeDelayText", "RX_Check",   "Compatibility"};
    QTest::newRow("Packet engine") << 1
                                   << QStringList{"EngineKindChoice", "RadioPortText",   "EngineHostText",
                                                  "EnginePortText",   "KissAddressText", "KissMaxFrameField",
                                                  "KissPaclenField",  "KissFrackField",  "KissRetriesField",
                                                  "KissTxDelayField"};
    QTest::newRow("Link to the cluster")
        << 2 << QStringList{"LinkEndChoice", "KeepLinkText", "ClientsText", "QuietKeepalivesCheck"};
    QTest::newRow("Telnet clients") << 3 << QStringList{"ListenAddressText", "AllowedClientsText"};
}

// Tab goes from the page tabs down the page, top to bottom, to OK and Cancel, and back to the page tabs.
void DialogsTest::optionsTabOrder() {
    QFETCH(int, page);
    QFETCH(QStringList, fields);
    Rig rig;
    rig.change([&](BridgeState &s) { s.autoMinimize = 1; }); // every control enabled
    rig.change([&](BridgeState &s) { s.connectViaDigipeaters = true; });
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QTabWidget *tabs = rig.pages(dialog);
    tabs->setCurrentIndex(page);
    // Both engine groups are in the chain; the chosen kind decides which Tab reaches.
    for (const char *name : {"AgwGroup", "KissGroup"})
        rig.control<QWidget>(dialog, name)->setEnabled(true);
    const QStringList expected = QStringList{"Pages"} + fields + QStringList{"cmdOK", "cmdCancel"};

    QStringList order;
    QWidget *widget = tabs;
    do {
        // What Tab reaches: a widget that takes focus by Tab, shown and enabled. A spin box's text box stands
        // for its spin box; a box that hands its focus to another is passed over, as Tab passes it.
        QWidget *field =
            qobject_cast<QAbstractSpinBox *>(widget->parentWidget()) ? widget->parentWidget() : widget;
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && widget->isVisibleTo(dialog) &&
            widget->isEnabled())
            order.append(field == tabs->tabBar() ? QString("Pages") : field->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != tabs && order.size() <= expected.size());
    QCOMPARE(order, expected);
}

// At the font in use, the dialog with its title bar fits the Pi's 800 x 480 touchscreen, no page needs to
// scroll, and OK and Cancel are inside it.
void DialogsTest::optionsFitASmallScreenWithOkInSight() {
    // Debian's desktops give Qt DejaVu Sans at 9 points; the offscreen platform's own font is smaller.
    const QFont saved = QApplication::font();
    QApplication::setFont(QFont("DejaVu Sans", 9));
    const auto restore = qScopeGuard([&] { QApplication::setFont(saved); });
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    const QRect frame = dialog->frameGeometry();
    const QSize withFrame =
        frame.size() == dialog->geometry().size() ? frame.size() + kFrameReserve : frame.size();
    QVERIFY2(withFrame.width() <= kSmallScreen.width() && withFrame.height() <= kSmallScreen.height(),
             qPrintable(QString("%1 x %2 with its frame").arg(withFrame.width()).arg(withFrame.height())));
    for (const char *button : {"cmdOK", "cmdCancel"}) {
        auto *push = rig.control<QPushButton>(dialog, button);
        QVERIFY(push->isVisible());
        QVERIFY(dialog->rect().contains(QRect(push->mapTo(dialog, QPoint(0, 0)), push->size())));
    }
    QTabWidget *tabs = rig.pages(dialog);
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        QApplication::processEvents();
        auto *scroll = tabs->widget(page)->findChild<QScrollArea *>();
        QVERIFY(scroll);
        const QSize needed = scroll->widget()->minimumSizeHint().expandedTo(scroll->widget()->sizeHint());
        QVERIFY2(needed.width() <= scroll->viewport()->width() &&
                     needed.height() <= scroll->viewport()->height(),
                 qPrintable(QString("%1 needs %2 x %3, has %4 x %5")
                                .arg(tabs->tabText(page))
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(scroll->viewport()->width())
                                .arg(scroll->viewport()->height())));
    }
}

// Each field has a label tied to it, whose words name it to a screen reader. A caption never spells a
// setting's key, save the captions the dialog has always had.
void DialogsTest::everyFieldIsNamedByItsLabel() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QList<QWidget *> fields;
    for (QWidget *widget : dialog->findChildren<QWidget *>()) {
        const bool inside = qobject_cast<QComboBox *>(widget->parentWidget()) ||
                            qobject_cast<QAbstractSpinBox *>(widget->parentWidget());
        if (!inside && (qobject_cast<QLineEdit *>(widget) || qobject_cast<QComboBox *>(widget) ||
                        qobject_cast<QAbstractSpinBox *>(widget) || qobject_cast<QCheckBox *>(widget)))
            fields.append(widget);
    }
    QCOMPARE(fields.size(), 25);
    const QStringList originalCaptions = {"RadioPort:", "AutoMinimize", "AutoMinimize delay (in sec.)"};
    const QStringList keys = {"MyCallsign",    "RadioPort",         "LocalPort",       "AutoMinimize",
                              "MonitorMode",   "CompatibilityMode", "ConnectViaDigi",  "Digis",
                              "Relink",        "KeepLinkSeconds",   "QuietKeepalives", "LinkEnd",
                              "ListenAddress", "AllowedClients",    "MaxFrame",        "Paclen",
                              "Frack",         "Retries",           "TxDelay"};
    for (QWidget *field : fields) {
        const QLabel *tied = nullptr;
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            if (label->buddy() == field)
                tied = label;
        QVERIFY2(!field->accessibleName().isEmpty(), qPrintable(field->objectName()));
        // The digipeater box shares its caption with the route it switches on, which the caption is tied to.
        if (tied == nullptr && field->objectName() == "ConnectVia")
            continue;
        QVERIFY2(tied, qPrintable(field->objectName()));
        if (originalCaptions.contains(tied->text()))
            continue;
        for (const QString &key : keys)
            QVERIFY2(!tied->text().contains(key), qPrintable(tied->text()));
    }
}

// Each engine's group is in use only while its kind is chosen; the radio port serves both.
void DialogsTest::engineGroupsFollowTheChosenKind() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *kind = rig.control<QComboBox>(dialog, "EngineKindChoice");
    auto *agw = rig.control<QGroupBox>(dialog, "AgwGroup");
    auto *kiss = rig.control<QGroupBox>(dialog, "KissGroup");
    QCOMPARE(kind->currentText(), QString("AGW"));
    QVERIFY(agw->isEnabled());
    QVERIFY(!kiss->isEnabled());
    QVERIFY(!rig.control<QWidget>(dialog, "KissMaxFrameField")->isEnabled());

    kind->setCurrentIndex(kind->findText("KISS"));
    QVERIFY(!agw->isEnabled());
    QVERIFY(kiss->isEnabled());
    QVERIFY(rig.control<QWidget>(dialog, "KissTxDelayField")->isEnabled());
    QVERIFY(rig.radioPorts(dialog)->isEnabled());
}

// The KISS link's numbers show what the next start will use, take only their keys' ranges, say what they do
// on the air, and are stored on OK while KISS is chosen.
void DialogsTest::kissLinkSettingsShowWhatTheNextStartUsesAndOkStoresThem() {
    Rig rig({{{"Engine", "Kind"}, "KISS"},
             {{"Engine", "MaxFrame"}, "2"},
             {{"Engine", "Paclen"}, "999"}}); // out of range: the next start uses 128
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    struct Field {
        const char *name;
        int shown, min, max, typed;
        const char *key;
    };
    const Field table[] = {
        {"KissMaxFrameField", 2, 1, 7, 7, "MaxFrame"},  {"KissPaclenField", 128, 16, 256, 256, "Paclen"},
        {"KissFrackField", 3, 1, 15, 5, "Frack"},       {"KissRetriesField", 10, 1, 30, 20, "Retries"},
        {"KissTxDelayField", 0, 0, 255, 30, "TxDelay"},
    };
    for (const Field &field : table) {
        auto *spin = rig.control<QSpinBox>(dialog, field.name);
        QVERIFY2(spin, field.name);
        QCOMPARE(spin->value(), field.shown);
        QCOMPARE(spin->minimum(), field.min);
        QCOMPARE(spin->maximum(), field.max);
        // One line, short enough to show whole on an 800-pixel screen.
        QVERIFY(!spin->toolTip().isEmpty() && !spin->toolTip().contains('\n'));
        QVERIFY2(spin->fontMetrics().horizontalAdvance(spin->toolTip()) < 760, qPrintable(spin->toolTip()));
        spin->setValue(field.typed);
    }
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    for (const Field &field : table)
        QCOMPARE(rig.stored("Engine", field.key), std::to_string(field.typed));
}

void DialogsTest::escapeCancels_data() {
    QTest::addColumn<QString>("focus");
    QTest::newRow("in a text box") << "CallsignText";
    QTest::newRow("on a check box") << "RX_Check";
}

void DialogsTest::escapeCancels() {
    QFETCH(QString, focus);
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    rig.control<QLineEdit>(dialog, "CallsignText")->setText("ZS6XYZ");
    rig.control<QCheckBox>(dialog, "RX_Check")->setChecked(true);

    QTest::keyClick(rig.control<QWidget>(dialog, focus.toLatin1().constData()), Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rig.state.myCallsign, std::string("N0CALL"));
    QVERIFY(!rig.state.monitorMode);
    QCOMPARE(rig.storeWrites(), 0);
}

void DialogsTest::enterDoesNotConfirm_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::newRow("Return in the callsign") << "CallsignText" << int(Qt::Key_Return);
    QTest::newRow("keypad Enter in the port") << "PortText" << int(Qt::Key_Enter);
    QTest::newRow("Return in the radio port") << "RadioPortText" << int(Qt::Key_Return);
    QTest::newRow("Return in the engine host") << "EngineHostText" << int(Qt::Key_Return);
    QTest::newRow("Return on a check box") << "Compatibility" << int(Qt::Key_Return);
}

void DialogsTest::enterDoesNotConfirm() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    rig.control<QLineEdit>(dialog, "ClusterText")->setText("GB7ABC");

    QTest::keyClick(rig.control<QWidget>(dialog, focus.toLatin1().constData()), Qt::Key(key));
    QVERIFY(dialog->isVisible());
    QCOMPARE(rig.state.cluster, std::string("GB7DXC"));
    QCOMPARE(rig.storeWrites(), 0);
}

void DialogsTest::okAppliesAndCloses() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    rig.control<QLineEdit>(dialog, "ClusterText")->setText("gb7abc");
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rig.state.cluster, std::string("GB7ABC"));
    QVERIFY(rig.storeWrites() > 0);
}

void DialogsTest::refusedOkKeepsTheDialogOpenWithAWarning_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focused"); // empty: the field typed in
    QTest::newRow("radio port") << "RadioPortText"
                                << "99999"
                                << "RadioPort: 99999 is outside 0 to 255."
                                << "";
    QTest::newRow("engine port") << "EnginePortText"
                                 << "70000"
                                 << "Engine AGW Port: 70000 is outside 1 to 65535."
                                 << "";
    QTest::newRow("engine host") << "EngineHostText"
                                 << "my pi"
                                 << "Packet engine host: \"my pi\" is not a host name or address."
                                 << "";
    QTest::newRow("keep the link") << "KeepLinkText"
                                   << "ten"
                                   << "Keep the link: \"ten\" is not a number."
                                   << "";
    QTest::newRow("clients") << "ClientsText"
                             << "9"
                             << "Clients at a time: 9 is outside 1 to 8."
                             << "";
    QTest::newRow("a typed cluster") << "ClusterText"
                                     << "GB7DXCX"
                                     << "DX Cluster: \"GB7DXCX\" is not an AX.25 callsign: 1 to 6 letters or "
                                        "digits, then an optional SSID -0 to -15."
                                     << "";
    QTest::newRow("listen address")
        << "ListenAddressText"
        << "lan"
        << "Listen on address: \"lan\" is neither an IPv4 or IPv6 address nor \"any\"."
        << "";
    QTest::newRow("allowed clients")
        << "AllowedClientsText"
        << "10.0.0.0/33"
        << "Allowed clients: \"10.0.0.0/33\": the prefix length after \"/\" must be "
           "a number from 0 to 32 for IPv4."
        << "";
    QTest::newRow("KISS TNC")
        << "KissAddressText"
        << "tnc"
        << "KISS TNC: \"tnc\" is neither host:port (127.0.0.1:8001) nor a serial device with "
           "its speed (/dev/ttyUSB0:9600)."
        << "";
    QTest::newRow("listening for everybody")
        << "ListenAddressText"
        << "any"
        << "Allowed clients: listening on any reaches other machines, so name the ones to serve (an address, "
           "or "
           "a range such as 192.168.1.0/24): every client connection transmits under your callsign."
        << "AllowedClientsText";
}

void DialogsTest::refusedOkKeepsTheDialogOpenWithAWarning() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, focused);
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *typed = rig.control<QWidget>(dialog, field.toLatin1().constData());
    if (auto *box = qobject_cast<QComboBox *>(typed))
        box->setEditText(text);
    else
        qobject_cast<QLineEdit *>(typed)->setText(text);
    auto *refused = focused.isEmpty() ? typed : rig.control<QWidget>(dialog, focused.toLatin1().constData());
    if (field.startsWith("Kiss"))
        rig.control<QComboBox>(dialog, "EngineKindChoice")->setCurrentIndex(1);
    // Another page is in front when OK is pressed.
    const int page = rig.pageOf(dialog, refused);
    rig.pages(dialog)->setCurrentIndex((page + 1) % rig.pages(dialog)->count());

    QString caption;
    QString shownText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, dialog, [&] {
        QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        caption = box->windowTitle();
        shownText = box->text();
        icon = box->icon();
        box->accept();
    });
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);

    QCOMPARE(caption, QString("Preferences"));
    QCOMPARE(shownText, message);
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY(dialog->isVisible());
    QCOMPARE(rig.storeWrites(), 0);
    // The refused field's page is in front, and the field has the focus.
    QCOMPARE(rig.pages(dialog)->currentIndex(), page);
    QCOMPARE(dialog->focusWidget(), refused);
}

void DialogsTest::checkBoxesRunTheirClickHandlers() {
    Rig rig;
    rig.change([&](BridgeState &s) { s.autoMinimize = 1; });
    rig.change([&](BridgeState &s) { s.connectViaDigipeaters = false; });
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *delay = rig.control<QLineEdit>(dialog, "AutoMinimizeDelayText");
    auto *delayLabel = rig.control<QLabel>(dialog, "Label6");
    auto *via = rig.control<QLineEdit>(dialog, "via");
    QVERIFY(delay->isEnabled());
    QVERIFY(delayLabel->isEnabled());
    QVERIFY(!via->isEnabled());

    QTest::mouseClick(rig.control<QCheckBox>(dialog, "AutoMinimizeCheck"), Qt::LeftButton);
    QVERIFY(!delay->isEnabled());
    QVERIFY(!delayLabel->isEnabled());

    // The digipeater box takes effect at once, without OK.
    QTest::mouseClick(rig.control<QCheckBox>(dialog, "ConnectVia"), Qt::LeftButton);
    QVERIFY(via->isEnabled());
    QVERIFY(rig.state.connectViaDigipeaters);
}

void DialogsTest::radioPortsAreOfferedFromTheEngine() {
    Rig rig;
    rig.agwEngine.answerPortList(kDireWolfStereo);
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QComboBox *ports = rig.radioPorts(dialog);
    QTRY_COMPARE(ports->count(), 2);
    QCOMPARE(ports->itemText(0), QString("0: first soundcard left"));
    QCOMPARE(ports->itemText(1), QString("1: first soundcard right"));
    QCOMPARE(ports->currentText(), QString("1: first soundcard right")); // the port in use, by name
    QVERIFY(ports->toolTip().contains("127.0.0.1:" + QString::fromStdString(rig.agwEngine.port())));

    ports->setCurrentIndex(0);
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rig.state.radioPort, int16_t(0));
    QCOMPARE(rig.stored("Config", "RadioPort"), std::string("0"));
}

void DialogsTest::radioPortFieldKeepsWhatItShows_data() {
    QTest::addColumn<int>("portInUse");
    QTest::addColumn<QString>("typedBeforeTheList"); // empty: nothing typed
    QTest::addColumn<QString>("shownWithTheList");
    QTest::addColumn<int>("applied");
    QTest::newRow("the port in use is not listed") << 3 << ""
                                                   << "3" << 3;
    QTest::newRow("typed while the engine was asked") << 1 << "5"
                                                      << "5" << 5;
    QTest::newRow("typed number that is listed") << 1 << " 0"
                                                 << "0: first soundcard left" << 0;
}

void DialogsTest::radioPortFieldKeepsWhatItShows() {
    QFETCH(int, portInUse);
    QFETCH(QString, typedBeforeTheList);
    QFETCH(QString, shownWithTheList);
    QFETCH(int, applied);
    Rig rig;
    rig.change([&](BridgeState &s) { s.radioPort = static_cast<int16_t>(portInUse); });
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QComboBox *ports = rig.radioPorts(dialog);
    QCOMPARE(ports->currentText(), QString::number(portInUse));
    if (!typedBeforeTheList.isEmpty())
        ports->setEditText(typedBeforeTheList);

    // The engine answers only now, the way it does after a moment.
    QTRY_COMPARE(rig.agwEngine.frameCount(), std::size_t(1));
    agw::Frame answer;
    answer.kind = 'G';
    answer.data = kDireWolfStereo;
    rig.agwEngine.send(answer);
    QTRY_COMPARE(ports->count(), 2);
    QCOMPARE(ports->currentText(), shownWithTheList);

    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(int(rig.state.radioPort), applied);
}

// Dire Wolf serves three clients: the dialog asks on each opening and lets go as soon as it closes.
void DialogsTest::everyOpeningAsksAndClosingStopsAsking() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QTRY_COMPARE(rig.agwEngine.frameCount(), std::size_t(1));
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    QVERIFY(rig.agwEngine.waitForClientGone(2000ms));
    QVERIFY(rig.radioPorts(dialog)->toolTip().contains("Asking")); // no answer was taken after closing

    rig.agwEngine.answerPortList(kDireWolfStereo);
    rig.menu("preferences");
    QTRY_COMPARE(rig.radioPorts(dialog)->count(), 2);
    QCOMPARE(rig.agwEngine.frameCount(), std::size_t(2));
    QVERIFY(rig.agwEngine.frames().back().kind == 'G');
}

// With KISS chosen no AGW engine is asked: a TNC names no radio ports, and the field takes the number alone.
void DialogsTest::kissAsksNoAgwEngineForRadioPorts() {
    Rig rig({{{"Engine", "Kind"}, "KISS"}});
    rig.agwEngine.answerPortList(kDireWolfStereo);
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    TimerMark mark(500); // far longer than a question to the engine on loopback takes to arrive
    QVERIFY(mark.wait());
    QCOMPARE(rig.agwEngine.connections(), 0);
    QComboBox *ports = rig.radioPorts(dialog);
    QCOMPARE(ports->count(), 0);
    QCOMPARE(ports->currentText(), QString("1"));
    QVERIFY(ports->toolTip().contains("KISS port, 0 to 15"));

    ports->setEditText("3");
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(int(rig.state.radioPort), 3);
}

// Choosing the other engine in the open dialog updates the list: KISS lets the AGW engine go at once and
// keeps the port shown as its number, AGW asks again.
void DialogsTest::radioPortListFollowsTheEngineChoice() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *kind = rig.control<QComboBox>(dialog, "EngineKindChoice");
    QComboBox *ports = rig.radioPorts(dialog);
    QTRY_COMPARE(rig.agwEngine.frameCount(), std::size_t(1)); // asked; the engine does not answer yet
    kind->setCurrentIndex(kind->findText("KISS"));
    QVERIFY(rig.agwEngine.waitForClientGone(2000ms));
    QVERIFY(ports->toolTip().contains("KISS port, 0 to 15"));

    rig.agwEngine.answerPortList(kDireWolfStereo);
    kind->setCurrentIndex(kind->findText("AGW"));
    QTRY_COMPARE(ports->count(), 2);
    QCOMPARE(rig.agwEngine.frameCount(), std::size_t(2));
    QCOMPARE(ports->currentText(), QString("1: first soundcard right"));
    QVERIFY(ports->toolTip().contains("127.0.0.1:" + QString::fromStdString(rig.agwEngine.port())));

    kind->setCurrentIndex(kind->findText("KISS"));
    QCOMPARE(ports->count(), 0);
    QCOMPARE(ports->currentText(), QString("1"));
    QVERIFY(ports->toolTip().contains("KISS port, 0 to 15"));
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rig.stored("Engine", "Kind"), std::string("KISS"));
    QCOMPARE(rig.stored("Config", "RadioPort"), std::string("1"));
}

void DialogsTest::engineAddressShowsTheStoredOneAndOkStoresIt() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *host = rig.control<QLineEdit>(dialog, "EngineHostText");
    auto *port = rig.control<QLineEdit>(dialog, "EnginePortText");
    QCOMPARE(host->text(), QString("127.0.0.1"));
    QCOMPARE(port->text(), QString::fromStdString(rig.agwEngine.port()));

    host->setText("raspberrypi.local");
    port->setText("8001");
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rig.stored("Engine", "Host"), std::string("raspberrypi.local"));
    QCOMPARE(rig.stored("Engine", "Port"), std::string("8001"));

    rig.menu("preferences");
    QCOMPARE(host->text(), QString("raspberrypi.local"));
    QCOMPARE(port->text(), QString("8001"));
    dialog->close();
}

// The link's group shows the running values, and OK applies and stores them.
void DialogsTest::linkGroupShowsTheRunningValuesAndOkStoresThem() {
    Rig rig;
    rig.change([&](BridgeState &s) { s.keepLinkSeconds = 120; });
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    auto *linkEnd = rig.control<QComboBox>(dialog, "LinkEndChoice");
    auto *keep = rig.control<QLineEdit>(dialog, "KeepLinkText");
    auto *clients = rig.control<QLineEdit>(dialog, "ClientsText");
    auto *quiet = rig.control<QCheckBox>(dialog, "QuietKeepalivesCheck");
    QCOMPARE(linkEnd->currentText(), QString("Keep the client connected"));
    QCOMPARE(keep->text(), QString("120"));
    QCOMPARE(clients->text(), QString("1"));
    QVERIFY(!quiet->isChecked());

    linkEnd->setCurrentIndex(linkEnd->findText("Reconnect when the link drops"));
    QTest::mouseClick(quiet, Qt::LeftButton);
    clients->setText("3");
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QVERIFY(rig.state.relink);
    QCOMPARE(rig.state.maxClients, 3);
    QVERIFY(rig.state.quietKeepalives);
    QCOMPARE(rig.stored("Config", "Clients"), std::string("3"));
    QCOMPARE(rig.stored("Config", "Relink"), std::string("True"));
    QCOMPARE(rig.stored("Config", "LinkEnd"), std::string("Relink"));
    QCOMPARE(rig.stored("Config", "KeepLinkSeconds"), std::string("120"));
    QCOMPARE(rig.stored("Config", "QuietKeepalives"), std::string("True"));
}

// The listener's keys take effect at the next start: the dialog shows and stores what the file holds.
void DialogsTest::telnetClientsGroupShowsTheStoredValuesAndOkStoresThem() {
    Rig rig;
    OptionsDialog *dialog = rig.options();
    QVERIFY(dialog);
    QTabWidget *tabs = rig.pages(dialog);
    QCOMPARE(tabs->tabText(rig.pageOf(dialog, rig.control<QWidget>(dialog, "ListenAddressText"))),
             QString("&Telnet clients"));
    auto *address = rig.control<QLineEdit>(dialog, "ListenAddressText");
    auto *allowed = rig.control<QLineEdit>(dialog, "AllowedClientsText");
    QCOMPARE(address->text(), QString("127.0.0.1"));
    QCOMPARE(allowed->text(), QString("127.0.0.0/8,::1"));

    address->setText("any");
    allowed->setText("127.0.0.0/8,::1,192.168.1.0/24");
    QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rig.stored("Config", "ListenAddress"), std::string("any"));
    QCOMPARE(rig.stored("Config", "AllowedClients"), std::string("127.0.0.0/8,::1,192.168.1.0/24"));
    QCOMPARE(rig.options(), dialog);           // opened again, so filled again
    QCOMPARE(address->text(), QString("any")); // the stored value, although the running listener is older
}

void DialogsTest::captionsFit_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QSize>("designSize"); // empty: laid out, not drawn at a size
    QTest::addColumn<int>("fontPixels");
    QTest::newRow("Preferences, system font") << "preferences" << QSize() << 0;
    QTest::newRow("Preferences, small font") << "preferences" << QSize() << 8;
    QTest::newRow("Preferences, large font") << "preferences" << QSize() << 24;
    QTest::newRow("About, system font") << "about2" << QSize(382, 237) << 0;
    QTest::newRow("About, small font") << "about2" << QSize(382, 237) << 8;
    QTest::newRow("About, large font") << "about2" << QSize(382, 237) << 24;
}

// A drawn dialog has its design size where its captions fit at that size, and grows in proportion where not;
// a laid out one shows every caption whole on every page, scrolling where the screen is too small.
void DialogsTest::captionsFit() {
    QFETCH(QString, action);
    QFETCH(QSize, designSize);
    QFETCH(int, fontPixels);
    const FontOverride font(fontPixels);
    Rig rig;
    rig.menu(action.toLatin1().constData());
    QWidget *dialog = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<QDialog *>(widget))
            dialog = widget;
    }
    QVERIFY(dialog);

    if (!designSize.isValid()) {
        QTabWidget *tabs = dialog->findChild<QTabWidget *>("Pages");
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QApplication::processEvents();
            QCOMPARE(firstCutCaption(*tabs->widget(page)), QString());
        }
        QVERIFY(QRect(QPoint(0, 0), dialog->screen()->availableSize())
                    .contains(QRect(QPoint(0, 0), dialog->size())));
        return;
    }
    if (fontPixels == 8)
        QCOMPARE(dialog->size(), designSize);
    QVERIFY(grownInProportion(dialog->size(), designSize));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QCOMPARE(firstCutCaption(*dialog), QString());
}

void DialogsTest::aboutOpensWhereItWasDrawn() {
    Rig rig;
    rig.menu("about2");
    AboutDialog *about = openDialogs<AboutDialog>().value(0);
    QVERIFY(about);
    QCOMPARE(about->geometry().topLeft(), QPoint(156, 129));

    about->move(about->pos() + QPoint(40, 30));
    const QPoint movedTo = about->geometry().topLeft();
    about->close();
    rig.menu("about2");
    QCOMPARE(about->geometry().topLeft(), movedTo);
}

void DialogsTest::aboutShowsTheProgramVersion() {
    Rig rig;
    rig.menu("about2");
    AboutDialog *about = openDialogs<AboutDialog>().value(0);
    QVERIFY(about);
    auto *version = about->findChild<QLabel *>("lblVersion");
    QCOMPARE(version->text(), QString("Version " CORVANTLE_PROJECT_VERSION));
    QCOMPARE(about->focusWidget(), about->findChild<QWidget *>("cmdOK"));

    version->setText("stale");
    about->close();
    rig.menu("about2");
    QCOMPARE(version->text(), QString("Version " CORVANTLE_PROJECT_VERSION));
}

void DialogsTest::aboutClosesOnEnterAndEscape_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void DialogsTest::aboutClosesOnEnterAndEscape() {
    QFETCH(int, key);
    Rig rig;
    rig.menu("about2");
    AboutDialog *about = openDialogs<AboutDialog>().value(0);
    QVERIFY(about);
    QTest::keyClick(about->findChild<QWidget *>("cmdOK"), Qt::Key(key));
    QVERIFY(!about->isVisible());
}

void DialogsTest::versionLine_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<QString>("line");
    QTest::newRow("this release") << 1 << 2 << 2 << "Version 1.2.2";
    QTest::newRow("two-digit parts") << 2 << 12 << 10 << "Version 2.12.10";
    QTest::newRow("zeros") << 3 << 0 << 0 << "Version 3.0.0";
}

void DialogsTest::versionLine() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(QString, line);
    QCOMPARE(corvantle::versionLine(major, minor, patch), line);
}

// The unconfigured cluster is not an AX.25 callsign, but the user did not type it: another field's OK goes
// through, each time the dialog opens.
void DialogsTest::callsignsAsTheDialogOpenedWithDoNotHoldOk() {
    Rig rig;
    rig.change([&](BridgeState &s) { s.cluster = "CLUSTER"; });
    for (const char *port : {"0", "2"}) {
        OptionsDialog *dialog = rig.options();
        QVERIFY(dialog);
        rig.radioPorts(dialog)->setEditText(QString::fromLatin1(port));
        QTest::mouseClick(rig.control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(rig.state.radioPort, std::atoi(port));
        QCOMPARE(rig.stored("Config", "Cluster"), std::string("CLUSTER"));
    }
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
