#include "OptionsLogic.h"
#include "BridgeFixture.h"
#include "PlainText.h"

#include <algorithm>
#include <optional>

using namespace corvantle;
using namespace corvantle::test;

namespace {

class OptionsLogicTest : public BridgeFixture {
  protected:
    // Preferences over the settings as start-up read them.
    std::optional<OptionsLogic> options;

    void SetUp() override {
        startConfigured();
        preferencesOverTheStore();
    }
    // As the program that starts with the store as it is now.
    void preferencesOverTheStore() {
        storeChanged();
        options.emplace(bridge, window, reading.settings, writer);
    }

    std::string stored(const settings::Key &key) {
        return store.readSetting(kProgramName, key.section, key.name, "<unset>");
    }
};

TEST_F(OptionsLogicTest, EmptyStoreOpensWithTheDefaults) {
    BridgeRig rig;
    rig.bridge.start();
    ASSERT_TRUE(rig.bridge.isRunning());
    const OptionsFields fields =
        OptionsLogic{rig.bridge, rig.window, rig.reading.settings, rig.writer}.fieldsToShow();
    EXPECT_EQ(fields.callsign, "MYCALL");
    EXPECT_EQ(fields.cluster, "CLUSTER");
    EXPECT_EQ(fields.localPort, "4444");
    EXPECT_EQ(fields.radioPort, "0");
    EXPECT_FALSE(fields.autoMinimize);
    EXPECT_EQ(fields.autoMinimizeDelay, "10");
    EXPECT_FALSE(fields.monitorMode);
    EXPECT_FALSE(fields.compatibilityMode);
    EXPECT_FALSE(fields.connectVia);
    EXPECT_EQ(fields.digis, "");
    EXPECT_EQ(fields.engineHost, "127.0.0.1");
    EXPECT_EQ(fields.enginePort, "8000");
    EXPECT_EQ(fields.linkEnd, LinkEnd::Keep);
    EXPECT_EQ(fields.keepLinkSeconds, "0");
    EXPECT_EQ(fields.clients, "1");
    EXPECT_FALSE(fields.quietKeepalives);
    EXPECT_EQ(fields.listenAddress, "127.0.0.1");
    EXPECT_EQ(fields.allowedClients, "127.0.0.0/8,::1");
    EXPECT_FALSE(fields.kissEngine);
    EXPECT_EQ(fields.kissMaxFrame, "4");
    EXPECT_EQ(fields.kissPaclen, "128");
    EXPECT_EQ(fields.kissFrackSeconds, "3");
    EXPECT_EQ(fields.kissRetries, "10");
    EXPECT_EQ(fields.kissTxDelay, "0");
}

TEST_F(OptionsLogicTest, OkAppliesUpperCasedTextsAndSavesEveryKeyInOrder) {
    OptionsFields fields = options->fieldsToShow();
    fields.callsign = "g4abc-1";
    fields.cluster = "gb7dxc";
    fields.digis = "relay1,relay2"; // saved although the route is not switched on
    fields.radioPort = " 3 ";
    fields.localPort = " 5000 ";
    fields.autoMinimize = true;
    fields.autoMinimizeDelay = "2.5";
    fields.compatibilityMode = true;
    fields.engineHost = " 192.168.1.20 ";
    fields.enginePort = "8001";
    const OkOutcome outcome = options->applyAndSave(fields);

    EXPECT_TRUE(outcome.closeDialog);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(state.myCallsign, "N0CALL"); // the registered callsign stays in use until the next start
    EXPECT_EQ(state.cluster, "GB7DXC");
    EXPECT_EQ(state.digipeaters, "RELAY1,RELAY2");
    EXPECT_EQ(state.radioPort, 3);
    EXPECT_EQ(state.autoMinimizeDelayMs, 2500);
    EXPECT_EQ(window.intervalMs[TimerId::AutoMinimize], 2500);
    EXPECT_TRUE(window.enabled[TimerId::AutoMinimize]);
    EXPECT_TRUE(state.compatibilityMode);
    EXPECT_EQ(socket.port, 4444); // a new local port applies from the next start

    const Journal expected = {"AutoMinimize.interval 2500",
                              "AutoMinimize.enable",
                              "store.write MyCallsign=G4ABC-1",
                              "store.write Cluster=GB7DXC",
                              "store.write RadioPort=3",
                              "store.write AutoMinimize=1",
                              "store.write AutoMinimizeDelay=2500",
                              "store.write MonitorMode=False",
                              "store.write CompatibilityMode=True",
                              "store.write ConnectViaDigi=False",
                              "store.write Digis=RELAY1,RELAY2",
                              "store.write LocalPort= 5000 ",
                              "store.write Host=192.168.1.20",
                              "store.write Port=8001",
                              "store.write Relink=False",
                              "store.write KeepLinkSeconds=0",
                              "store.write Clients=1",
                              "store.write QuietKeepalives=False",
                              "store.write LinkEnd=Keep",
                              "store.write Kind=AGW", // with AGW, the KISS TNC's keys stay as they are
                              "store.write ListenAddress=127.0.0.1",
                              "store.write AllowedClients=127.0.0.0/8,::1"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(stored(settings::kEngineHost), "192.168.1.20"); // in the engine's section
    EXPECT_EQ(stored(settings::kEnginePort), "8001");
    EXPECT_EQ(options->fieldsToShow().autoMinimizeDelay, "2.5");
}

TEST_F(OptionsLogicTest, TextsThatAreNotNumbersFallBack) {
    change([&](BridgeState &s) { s.autoMinimizeDelayMs = 7000; });
    OptionsFields fields = options->fieldsToShow();
    fields.radioPort = "two";
    fields.localPort = "";
    fields.autoMinimizeDelay = "";
    const int startsBefore = window.countdownStarts[TimerId::AutoMinimize];
    ASSERT_TRUE(options->applyAndSave(fields).closeDialog);

    EXPECT_EQ(state.radioPort, 0);
    EXPECT_EQ(stored(settings::kRadioPort), "0");
    EXPECT_EQ(stored(settings::kLocalPort), "4444");
    EXPECT_EQ(state.autoMinimizeDelayMs, 7000);
    EXPECT_EQ(stored(settings::kAutoMinimizeDelay), "7000");
    EXPECT_EQ(window.countdownStarts[TimerId::AutoMinimize], startsBefore); // interval untouched
}

TEST_F(OptionsLogicTest, NumbersThatDoNotFitRefuseTheWholeOk) {
    struct Row {
        const char *what;
        std::string radioPort, delay, localPort;
        std::string messageStart;
    };
    const Row rows[] = {
        {"radio port too large", "256", "10", "4444", "RadioPort: 256 is outside 0 to 255"},
        {"radio port negative", "-1", "10", "4444", "RadioPort: -1 is outside 0 to 255"},
        {"negative delay", "0", "-1", "4444", "AutoMinimize delay: -1 is negative"},
        {"delay beyond 32 bits of ms", "0", "3000000", "4444",
         "AutoMinimize delay: 3000000 seconds is too long"},
        {"local port zero", "0", "10", "0", "Local TCP Port: 0 is outside 1 to 65535"},
        {"local port too large", "0", "10", "65536", "Local TCP Port: 65536 is outside 1 to 65535"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        OptionsFields fields = options->fieldsToShow();
        fields.cluster = "GB7ABC";
        fields.radioPort = row.radioPort;
        fields.autoMinimizeDelay = row.delay;
        fields.localPort = row.localPort;
        const OkOutcome outcome = options->applyAndSave(fields);
        EXPECT_FALSE(outcome.closeDialog);
        EXPECT_EQ(outcome.message.rfind(row.messageStart, 0), 0u) << outcome.message;
        EXPECT_EQ(state.cluster, "GB7DXC");
        EXPECT_TRUE(journal.empty());
    }
}

TEST_F(OptionsLogicTest, MonitorModeDuringALinkSendsOneDisconnectPerOk) {
    OptionsFields fields = options->fieldsToShow();
    fields.monitorMode = true;
    fields.cluster = "gb7abc";
    fields.radioPort = "1";

    options->applyAndSave(fields); // no link: nothing
    EXPECT_TRUE(engine.requests.empty());

    fields.monitorMode = false;
    options->applyAndSave(fields);
    clientStays(1);
    frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7ABC\r", "GB7ABC", 1);
    ASSERT_TRUE(bridge.linkUp());
    clearRecords();
    fields.monitorMode = true;
    fields.cluster = "gb7xyz"; // changed with the same OK: the link keeps its own station and port
    fields.radioPort = "2";
    options->applyAndSave(fields);
    options->applyAndSave(fields); // the test is on the state, not on a change
    const std::vector<EngineRequest> expected(2, disconnectRequest("GB7ABC", 1));
    EXPECT_EQ(engine.requests, expected);
    EXPECT_TRUE(bridge.linkUp()); // the engine's notice clears it
}

TEST_F(OptionsLogicTest, DigipeaterBoxChangesTheBridgeAtOnceEvenWithoutOk) {
    options->setConnectViaDigipeaters(true);
    EXPECT_TRUE(state.connectViaDigipeaters);
    EXPECT_TRUE(journal.empty()); // nothing stored: the dialog was cancelled
}

TEST_F(OptionsLogicTest, AutoMinimizeClearedStopsTheTimer) {
    window.enabled[TimerId::AutoMinimize] = true;
    OptionsFields fields = options->fieldsToShow();
    fields.autoMinimize = false;
    options->applyAndSave(fields);
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);
}

// The callsign and the local port apply at the next start: a second OK must not write the old ones back.
TEST_F(OptionsLogicTest, NextStartSettingsShowWhatIsStored) {
    OptionsFields fields = options->fieldsToShow();
    fields.localPort = "5000";
    fields.callsign = "g4abc";
    options->applyAndSave(fields);
    EXPECT_EQ(socket.port, 4444);
    EXPECT_EQ(state.myCallsign, "N0CALL");

    const OptionsFields reopened = options->fieldsToShow();
    EXPECT_EQ(reopened.localPort, "5000");
    EXPECT_EQ(reopened.callsign, "G4ABC");
    options->applyAndSave(reopened);
    EXPECT_EQ(stored(settings::kLocalPort), "5000");
    EXPECT_EQ(stored(settings::kMyCallsign), "G4ABC");
}

// An engine cannot build a frame for a callsign that is not an AX.25 address, and the connect would wait in
// silence: what the user types is refused, naming the field and the rule.
TEST_F(OptionsLogicTest, TypedCallsignsThatCannotGoOnTheAirAreRefusedNamingTheField) {
    const std::string rule =
        " is not an AX.25 callsign: 1 to 6 letters or digits, then an optional SSID -0 to -15.";
    struct Row {
        const char *what;
        std::string callsign, cluster, digis;
        std::string message; // empty: accepted
    };
    const Row rows[] = {
        {"six letters and an SSID", "G4ABCD-15", "GB7DXC-15", "RELAY1-15", ""},
        {"lower case and blanks", " g4abc-1 ", "gb7dxc", " relay1 , relay2 ", ""},
        {"own callsign too long", "G4ABCDE-15", "GB7DXC", "", "Callsign: \"G4ABCDE-15\"" + rule},
        {"own SSID above 15", "G4ABC-16", "GB7DXC", "", "Callsign: \"G4ABC-16\"" + rule},
        {"cluster of seven letters", "N0CALL", "GB7DXCX", "", "DX Cluster: \"GB7DXCX\"" + rule},
        {"the default cluster typed", "N0CALL", "CLUSTER", "", "DX Cluster: \"CLUSTER\"" + rule},
        {"cluster with a slash", "N0CALL", "GB7/DXC", "", "DX Cluster: \"GB7/DXC\"" + rule},
        {"a digipeater's SSID", "N0CALL", "GB7DXC", "RELAY1,RELAY2-16", "Via: \"RELAY2-16\"" + rule},
        {"eight digipeaters", "N0CALL", "GB7DXC", "A,B,C,D,E,F,G,H", "Via: 8 digipeaters, at most 7 fit."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        OptionsLogic logic{rig.bridge, rig.window, rig.reading.settings, rig.writer};
        OptionsFields fields = logic.fieldsToShow();
        fields.callsign = row.callsign;
        fields.cluster = row.cluster;
        fields.digis = row.digis;
        const OkOutcome outcome = logic.applyAndSave(fields);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.closeDialog, row.message.empty());
        EXPECT_EQ(rig.journal.empty(), !row.message.empty()); // a refusal applies and stores nothing
    }
}

// What the dialog opened with (the unconfigured defaults, or a file written by hand) is the user's to
// change when they choose: another field's OK does not hang on it.
TEST_F(OptionsLogicTest, CallsignsLeftAsTheyWereStoredAreNotRefused) {
    BridgeRig rig;
    rig.store_setting(settings::kDigis, "RELAY1,LONGDIGI10");
    rig.bridge.start();
    ASSERT_TRUE(rig.bridge.isRunning()); // MYCALL and CLUSTER
    OptionsLogic logic{rig.bridge, rig.window, rig.reading.settings, rig.writer};
    OptionsFields fields = logic.fieldsToShow();
    fields.radioPort = "1";
    fields.digis = "relay1, longdigi10 ,RELAY3"; // the stored two kept, in other case and spacing
    EXPECT_EQ(logic.applyAndSave(fields).message, "");
    EXPECT_EQ(rig.state.radioPort, 1);
    EXPECT_EQ(rig.state.cluster, "CLUSTER");

    fields = logic.fieldsToShow();
    fields.digis += ",LONGDIGI2";
    EXPECT_EQ(
        logic.applyAndSave(fields).message,
        "Via: \"LONGDIGI2\" is not an AX.25 callsign: 1 to 6 letters or digits, then an optional SSID -0 "
        "to -15.");
}

TEST_F(OptionsLogicTest, StoreThatCannotBeWrittenKeepsTheValuesAppliedAndTheDialogOpen) {
    store.failWith = "the file is read-only";
    OptionsFields fields = options->fieldsToShow();
    fields.callsign = "g4abc";
    const OkOutcome outcome = options->applyAndSave(fields);
    EXPECT_FALSE(outcome.closeDialog);
    EXPECT_EQ(
        outcome.message,
        "The settings are in use now but could not be saved to /fake/settings.ini: the file is read-only.");
    EXPECT_EQ(state.cluster, "GB7DXC");
}

// The engine's address applies at the next start, like the callsign: it is only checked and stored.
TEST_F(OptionsLogicTest, EngineAddressIsCheckedAndStoredAsTheNextStartReadsIt) {
    struct Row {
        const char *what;
        std::string host, port;
        std::string storedHost, storedPort; // when accepted
        std::string message;                // empty: accepted
    };
    const Row rows[] = {
        {"an address and a port", "192.168.1.20", "8001", "192.168.1.20", "8001", ""},
        {"a name with blanks around", " raspberrypi.local ", " 8002 ", "raspberrypi.local", "8002", ""},
        {"blank: the defaults", "", "", "127.0.0.1", "8000", ""},
        {"only blanks, a whole number with a point", "   ", "8000.0", "127.0.0.1", "8000", ""},
        {"the highest port", "::1", "65535", "::1", "65535", ""},
        {"port zero", "pi", "0", "", "", "Engine AGW Port: 0 is outside 1 to 65535."},
        {"port too large", "pi", "65536", "", "", "Engine AGW Port: 65536 is outside 1 to 65535."},
        {"port not a number", "pi", "agw", "", "", "Engine AGW Port: \"agw\" is not a number."},
        {"a blank inside the host", "my pi", "8000", "", "",
         "Packet engine host: \"my pi\" is not a host name or address."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        OptionsLogic logic{rig.bridge, rig.window, rig.reading.settings, rig.writer};
        OptionsFields fields = logic.fieldsToShow();
        fields.cluster = "gb7abc";
        fields.engineHost = row.host;
        fields.enginePort = row.port;
        const OkOutcome outcome = logic.applyAndSave(fields);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.closeDialog, row.message.empty());
        if (!row.message.empty()) {
            EXPECT_TRUE(rig.journal.empty()); // nothing applied, nothing stored
            EXPECT_EQ(rig.state.cluster, "GB7DXC");
            continue;
        }
        const OptionsFields reopened = logic.fieldsToShow();
        EXPECT_EQ(reopened.engineHost, row.storedHost);
        EXPECT_EQ(reopened.enginePort, row.storedPort);
        EXPECT_EQ(logic.engineToAsk().host, row.storedHost);
        EXPECT_EQ(std::to_string(logic.engineToAsk().port), row.storedPort);
    }
}

// The link's own care: applied to the running bridge on OK, stored, and refused when a number does not fit.
TEST_F(OptionsLogicTest, LinkSettingsAreAppliedStoredOrRefused) {
    struct Row {
        const char *what;
        std::string keepLink, clients;
        std::string message; // empty: accepted
    };
    const Row rows[] = {
        {"all switched on", "600", "8", ""},
        {"blanks around, the smallest", " 0 ", " 1 ", ""},
        {"the longest keep", "3600", "2", ""},
        {"keep too long", "3601", "2", "Keep the link: 3601 is outside 0 to 3600."},
        {"keep negative", "-5", "2", "Keep the link: -5 is outside 0 to 3600."},
        {"keep not a number", "ten", "2", "Keep the link: \"ten\" is not a number."},
        {"no clients", "0", "0", "Clients at a time: 0 is outside 1 to 8."},
        {"too many clients", "0", "9", "Clients at a time: 9 is outside 1 to 8."},
        {"clients left empty", "0", "", "Clients at a time: \"\" is not a number."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        OptionsLogic logic{rig.bridge, rig.window, rig.reading.settings, rig.writer};
        OptionsFields fields = logic.fieldsToShow();
        fields.linkEnd = LinkEnd::Relink;
        fields.quietKeepalives = true;
        fields.keepLinkSeconds = row.keepLink;
        fields.clients = row.clients;
        const OkOutcome outcome = logic.applyAndSave(fields);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.closeDialog, row.message.empty());
        EXPECT_EQ(rig.state.relink, row.message.empty()); // a refusal applies nothing
        EXPECT_EQ(rig.state.quietKeepalives, row.message.empty());
        const auto stored = [&](const settings::Key &key) {
            return rig.store.readSetting(kProgramName, key.section, key.name, "<unset>");
        };
        if (!row.message.empty()) {
            EXPECT_EQ(stored(settings::kClients), "<unset>");
            continue;
        }
        EXPECT_EQ(stored(settings::kRelink), "True");
        EXPECT_EQ(stored(settings::kQuietKeepalives), "True");
        EXPECT_EQ(stored(settings::kKeepLinkSeconds), std::to_string(rig.state.keepLinkSeconds));
        EXPECT_EQ(stored(settings::kClients), std::to_string(rig.state.maxClients));
        EXPECT_EQ(logic.fieldsToShow().keepLinkSeconds, plain::trimmed(row.keepLink));
        EXPECT_EQ(logic.fieldsToShow().clients, plain::trimmed(row.clients));
    }
}

TEST_F(OptionsLogicTest, ListenSettingsAreStoredOrRefusedNamingTheRule) {
    struct Row {
        std::string address, allowed;
        std::string storedAddress, storedAllowed; // what the file gets when accepted
        std::string message;                      // empty: accepted
    };
    const Row rows[] = {
        {" any ", " 192.168.1.0/24, fd00::/8 ", "any", "192.168.1.0/24, fd00::/8", ""},
        {"192.168.1.20", "127.0.0.2,192.168.1.7", "192.168.1.20", "127.0.0.2,192.168.1.7", ""},
        {"", "", "127.0.0.1", "", ""}, // blank: this machine alone
        {"lan", "", "", "", "Listen on address: \"lan\" is neither an IPv4 or IPv6 address nor \"any\"."},
        {"any", "192.168.1.0/33", "", "",
         "Allowed clients: \"192.168.1.0/33\": the prefix length after \"/\" must be a number from 0 to 32 "
         "for IPv4."},
        {"any", "192.168.1.x", "", "",
         "Allowed clients: \"192.168.1.x\" is not an IPv4 or IPv6 address or a range such as 192.168.1.0/24 "
         "or fd00::/8."},
        {"any", "127.0.0.0/8,::1", "", "",
         "Allowed clients: listening on any reaches other machines, so name the ones to serve (an address, "
         "or "
         "a range such as 192.168.1.0/24): every client connection transmits under your callsign."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.address + " / " + row.allowed);
        BridgeRig rig;
        rig.startConfigured();
        OptionsLogic logic{rig.bridge, rig.window, rig.reading.settings, rig.writer};
        OptionsFields fields = logic.fieldsToShow();
        fields.listenAddress = row.address;
        fields.allowedClients = row.allowed;
        const OkOutcome outcome = logic.applyAndSave(fields);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.closeDialog, row.message.empty());
        const auto stored = [&](const settings::Key &key) {
            return rig.store.readSetting(kProgramName, key.section, key.name, "<unset>");
        };
        EXPECT_EQ(stored(settings::kListenAddress), row.message.empty() ? row.storedAddress : "<unset>");
        EXPECT_EQ(stored(settings::kAllowedClients), row.message.empty() ? row.storedAllowed : "<unset>");
        if (row.message.empty()) {
            EXPECT_EQ(logic.fieldsToShow().listenAddress, row.storedAddress);
            EXPECT_EQ(logic.fieldsToShow().allowedClients, row.storedAllowed);
        }
    }
}

// What the file holds reaches the dialog as the next start reads it: a host or port it cannot use shows as
// the default that start falls back to, and the engine is asked there; once OK has stored another address,
// at that one.
TEST_F(OptionsLogicTest, EngineIsAskedAtTheAddressTheNextStartUses) {
    store_setting(settings::kEngineHost, " ");
    store_setting(settings::kEnginePort, "80000");
    preferencesOverTheStore();
    OptionsFields fields = options->fieldsToShow();
    EXPECT_EQ(fields.engineHost, "127.0.0.1");
    EXPECT_EQ(fields.enginePort, "8000");
    EXPECT_EQ(options->engineToAsk().host, "127.0.0.1");
    EXPECT_EQ(options->engineToAsk().port, 8000);

    fields.engineHost = "10.0.0.7";
    fields.enginePort = "8010";
    ASSERT_EQ(options->applyAndSave(fields).message, "");
    EXPECT_EQ(options->engineToAsk().host, "10.0.0.7");
    EXPECT_EQ(options->engineToAsk().port, 8010);
}

// A port picked from the engine's list reads "2: second soundcard mono"; the number is what counts.
TEST_F(OptionsLogicTest, RadioPortPickedFromTheListCountsByItsNumber) {
    struct Row {
        std::string field;
        int16_t radioPort;   // when accepted
        std::string message; // empty: accepted
    };
    const Row rows[] = {
        {"2: second soundcard mono", 2, ""},
        {" 1 : VHF 1200", 1, ""},
        {"0: SoundCard Ch: A", 0, ""},
        {"3", 3, ""},
        {"300: not an engine's port", 0, "RadioPort: 300 is outside 0 to 255."},
        {"first: soundcard", 0, ""}, // not a number: the first port, as for any other text
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.field);
        change([&](BridgeState &s) { s.radioPort = 7; });
        OptionsFields fields = options->fieldsToShow();
        fields.radioPort = row.field;
        const OkOutcome outcome = options->applyAndSave(fields);
        EXPECT_EQ(outcome.message, row.message);
        if (!row.message.empty())
            continue;
        EXPECT_EQ(state.radioPort, row.radioPort);
        EXPECT_EQ(stored(settings::kRadioPort), std::to_string(row.radioPort));
    }
    EXPECT_EQ(radioPortChoiceText({1, "first soundcard right"}), "1: first soundcard right");
}

} // namespace

namespace {

// The engine kind and the KISS TNC's port are stored for the next start; a port that is neither host:port
// nor a device, or a serial speed the line cannot take, refuses OK, naming the field.
TEST_F(OptionsLogicTest, KissEngineAndItsPortAreCheckedAndStored) {
    OptionsFields fields = options->fieldsToShow();
    EXPECT_FALSE(fields.kissEngine);
    EXPECT_EQ(fields.kissAddress, "127.0.0.1:8001");
    fields.kissEngine = true;
    fields.kissAddress = "tnc";
    EXPECT_EQ(options->applyAndSave(fields).message,
              "KISS TNC: \"tnc\" is neither host:port (127.0.0.1:8001) nor a serial device with its speed "
              "(/dev/ttyUSB0:9600).");
    EXPECT_EQ(stored(settings::kEngineKind), "<unset>");
    fields.kissAddress = "/dev/ttyUSB0:250000";
    EXPECT_EQ(
        options->applyAndSave(fields).message,
        "KISS TNC: \"/dev/ttyUSB0:250000\" is a serial device at 250000 baud, a speed the line cannot take "
        "(1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200).");
    EXPECT_EQ(stored(settings::kEngineKind), "<unset>");
    fields.kissAddress = " /dev/ttyUSB0:9600 ";
    EXPECT_EQ(options->applyAndSave(fields).message, "");
    EXPECT_EQ(stored(settings::kEngineKind), "KISS");
    EXPECT_EQ(stored(settings::kEngineKiss), "/dev/ttyUSB0:9600");
    EXPECT_TRUE(options->fieldsToShow().kissEngine);
}

} // namespace

namespace {

// The KISS link's settings: shown as the next start will use them, refused outside their keys' ranges
// naming the field, and stored with the TNC, after it, while KISS is chosen.
TEST_F(OptionsLogicTest, KissLinkSettingsAreCheckedAndStoredWithTheTnc) {
    struct Row {
        const char *what;
        std::string maxFrame, paclen, frack, retries, txDelay;
        std::string message; // empty: accepted
        OptionsField field = OptionsField::None;
    };
    const Row rows[] = {
        {"the smallest", "1", "16", "1", "1", "0", ""},
        {"the largest, with blanks", " 7 ", "256", "15", "30", "255", ""},
        {"eight frames", "8", "128", "3", "10", "0", "Frames before an acknowledgement: 8 is outside 1 to 7.",
         OptionsField::KissMaxFrame},
        {"frames too short", "4", "15", "3", "10", "0", "Most text in one frame: 15 is outside 16 to 256.",
         OptionsField::KissPaclen},
        {"no wait", "4", "128", "0", "10", "0", "Wait for an acknowledgement: 0 is outside 1 to 15.",
         OptionsField::KissFrackSeconds},
        {"polls not a number", "4", "128", "3", "ten", "0",
         "Polls before giving up: \"ten\" is not a number.", OptionsField::KissRetries},
        {"key-up too long", "4", "128", "3", "10", "256",
         "Transmitter key-up delay: 256 is outside 0 to 255.", OptionsField::KissTxDelay},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        OptionsLogic logic{rig.bridge, rig.window, rig.reading.settings, rig.writer};
        OptionsFields fields = logic.fieldsToShow();
        fields.kissEngine = true;
        fields.kissMaxFrame = row.maxFrame;
        fields.kissPaclen = row.paclen;
        fields.kissFrackSeconds = row.frack;
        fields.kissRetries = row.retries;
        fields.kissTxDelay = row.txDelay;
        const OkOutcome outcome = logic.applyAndSave(fields);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.field, row.field);
        if (!row.message.empty()) {
            EXPECT_TRUE(rig.journal.empty()); // a refusal applies and stores nothing
            continue;
        }
        const OptionsFields shown = logic.fieldsToShow();
        const std::pair<const settings::Key &, std::string> expected[] = {
            {settings::kKissMaxFrame, shown.kissMaxFrame},
            {settings::kKissPaclen, shown.kissPaclen},
            {settings::kKissFrackSeconds, shown.kissFrackSeconds},
            {settings::kKissRetries, shown.kissRetries},
            {settings::kKissTxDelay, shown.kissTxDelay},
        };
        for (const auto &[key, text] : expected)
            EXPECT_EQ(rig.store.readSetting(kProgramName, key.section, key.name, "<unset>"), text)
                << key.name;
        EXPECT_EQ(shown.kissMaxFrame, plain::trimmed(row.maxFrame));
        EXPECT_EQ(shown.kissTxDelay, row.txDelay);
        // Stored right after the TNC, in the engine's section.
        const auto kiss =
            std::find(rig.journal.begin(), rig.journal.end(), "store.write Kiss=127.0.0.1:8001");
        ASSERT_NE(kiss, rig.journal.end());
        EXPECT_EQ(*(kiss + 1), "store.write MaxFrame=" + plain::trimmed(row.maxFrame));
        EXPECT_EQ(*(kiss + 5), "store.write TxDelay=" + row.txDelay);
    }
}

// With AGW chosen the KISS fields are out of use (the dialog greys them): what they hold neither refuses OK
// nor reaches the file, which keeps its own values for a later switch to KISS.
TEST_F(OptionsLogicTest, WithAgwTheKissFieldsAreNeitherCheckedNorStored) {
    store_setting(settings::kEngineKiss, "/dev/ttyUSB0:9600");
    preferencesOverTheStore();
    OptionsFields fields = options->fieldsToShow();
    fields.kissAddress = "not a tnc";
    fields.kissMaxFrame = "99";
    const OkOutcome outcome = options->applyAndSave(fields);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(stored(settings::kEngineKind), "AGW");
    EXPECT_EQ(stored(settings::kEngineKiss), "/dev/ttyUSB0:9600");
    EXPECT_EQ(stored(settings::kKissMaxFrame), "<unset>");
}

// Preferences and start-up read a stored text with the same converters, so it means the same to both: the
// engine's kind in any case, and what neither can use is the default in both.
TEST_F(OptionsLogicTest, TheEngineKindMeansTheSameToStartUpAndToPreferences) {
    struct Row {
        const char *stored;
        bool kiss;
        bool named; // among start-up's problems
    };
    for (const Row &row : {Row{"Kiss", true, false}, Row{" kiss ", true, false}, Row{"Agw", false, false},
                           Row{"TNC", false, true}}) {
        SCOPED_TRACE(row.stored);
        store_setting(settings::kEngineKind, row.stored);
        preferencesOverTheStore();
        EXPECT_EQ(reading.settings.engine.kiss, row.kiss); // what start-up runs
        EXPECT_EQ(options->fieldsToShow().kissEngine, row.kiss);
        EXPECT_EQ(reading.problems.size(), row.named ? 1u : 0u);
    }
}

// A value the file holds out of range shows as the default the next start falls back to.
TEST_F(OptionsLogicTest, KissLinkSettingsOutOfRangeInTheFileShowTheirDefaults) {
    store_setting(settings::kKissMaxFrame, "9");
    store_setting(settings::kKissFrackSeconds, "7");
    preferencesOverTheStore();
    const OptionsFields fields = options->fieldsToShow();
    EXPECT_EQ(fields.kissMaxFrame, "4");
    EXPECT_EQ(fields.kissFrackSeconds, "7");
}

// Each refusal names the field to correct, so the dialog can bring it to the front.
TEST_F(OptionsLogicTest, EachRefusalNamesItsField) {
    struct Row {
        const char *what;
        void (*edit)(OptionsFields &);
        OptionsField field;
    };
    const Row rows[] = {
        {"callsign", [](OptionsFields &f) { f.callsign = "G4ABCDEF"; }, OptionsField::Callsign},
        {"cluster", [](OptionsFields &f) { f.cluster = "GB7DXCX"; }, OptionsField::Cluster},
        {"route", [](OptionsFields &f) { f.digis = "A,B,C,D,E,F,G,H"; }, OptionsField::Digis},
        {"local port", [](OptionsFields &f) { f.localPort = "0"; }, OptionsField::LocalPort},
        {"radio port", [](OptionsFields &f) { f.radioPort = "256"; }, OptionsField::RadioPort},
        {"delay", [](OptionsFields &f) { f.autoMinimizeDelay = "-1"; }, OptionsField::AutoMinimizeDelay},
        {"engine host", [](OptionsFields &f) { f.engineHost = "my pi"; }, OptionsField::EngineHost},
        {"engine port", [](OptionsFields &f) { f.enginePort = "0"; }, OptionsField::EnginePort},
        {"KISS TNC",
         [](OptionsFields &f) {
             f.kissEngine = true;
             f.kissAddress = "tnc";
         },
         OptionsField::KissAddress},
        {"keep the link", [](OptionsFields &f) { f.keepLinkSeconds = "-1"; }, OptionsField::KeepLink},
        {"clients", [](OptionsFields &f) { f.clients = "9"; }, OptionsField::Clients},
        {"listen address", [](OptionsFields &f) { f.listenAddress = "lan"; }, OptionsField::ListenAddress},
        {"allowed clients", [](OptionsFields &f) { f.allowedClients = "10.0.0.0/33"; },
         OptionsField::AllowedClients},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        OptionsFields fields = options->fieldsToShow();
        row.edit(fields);
        const OkOutcome outcome = options->applyAndSave(fields);
        EXPECT_FALSE(outcome.closeDialog);
        EXPECT_EQ(outcome.field, row.field) << outcome.message;
    }
    store.failWith = "the file is read-only";
    EXPECT_EQ(options->applyAndSave(options->fieldsToShow()).field, OptionsField::None);
}

} // namespace
