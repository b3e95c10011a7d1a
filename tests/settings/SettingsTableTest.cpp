#include "SettingsTable.h"
#include "IniSettingsStore.h"
#include "ProgramSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace corvantle::settings;

namespace {

// A settings file in `dir` with the program's group heading and `lines` below it, as a person writes one.
std::string settingsFile(const QTemporaryDir &dir, const char *lines) {
    const QString path = dir.path() + "/settings.ini";
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\n") + lines);
    return path.toStdString();
}

// The settings a store holds, and the reading's problems as lines on standard error once were.
struct Read {
    corvantle::ProgramSettings settings;
    std::string warnings;
};
Read readFile(const corvantle::SettingsStore &store) {
    const corvantle::SettingsReading reading = corvantle::readProgramSettings(store);
    std::string warnings;
    for (const std::string &problem : reading.problems)
        warnings += "corvantle: " + problem + "\n";
    return {reading.settings, warnings};
}

TEST(NumericTest, AcceptsDecimalsWithSignAndBlanksOnly) {
    struct Row {
        const char *text;
        std::optional<double> value;
    };
    const Row rows[] = {
        {"4444", 4444},
        {" 5000 ", 5000},
        {"\t5000.0", 5000},
        {"2.5", 2.5},
        {"-3", -3},
        {"+7", 7},
        {".5", 0.5},
        {"5.", 5},
        {"0", 0},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"abc", std::nullopt},
        {"12ab", std::nullopt},
        {"1,5", std::nullopt},
        {"1.2.3", std::nullopt},
        {"- 3", std::nullopt},
        {"1e3", std::nullopt},
        {".", std::nullopt},
        {"+", std::nullopt},
        {"0x10", std::nullopt},
        {"5 5", std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(readNumber(row.text), row.value) << '"' << row.text << '"';
}

TEST(NumericTest, WholeNumbersAreRoundedAndRangeChecked) {
    EXPECT_EQ(readWholeNumber("4444.4", 1, 65535), 4444);
    EXPECT_EQ(readWholeNumber("2.5", 0, 10), 3);
    EXPECT_EQ(readWholeNumber("-2.5", -10, 10), -3);
    EXPECT_EQ(readWholeNumber("65535", 1, 65535), 65535);
    EXPECT_EQ(readWholeNumber("65536", 1, 65535), std::nullopt);
    EXPECT_EQ(readWholeNumber("0.4", 1, 65535), std::nullopt);
    EXPECT_EQ(readWholeNumber("99999999999999999999999", 0, INT32_MAX), std::nullopt);
}

TEST(SettingTexts, BooleansAndSecondsReadAndWriteBack) {
    EXPECT_EQ(readBoolean("True"), true);
    EXPECT_EQ(readBoolean("False"), false);
    EXPECT_EQ(readBoolean("true"), std::nullopt);
    EXPECT_EQ(readBoolean("-1"), std::nullopt);
    EXPECT_STREQ(booleanText(true), "True");

    struct Row {
        int32_t ms;
        const char *seconds;
    };
    for (const Row &row : {Row{10000, "10"}, Row{2500, "2.5"}, Row{0, "0"}, Row{1, "0.001"},
                           Row{1250, "1.25"}, Row{INT32_MAX, "2147483.647"}}) {
        EXPECT_EQ(secondsText(row.ms), row.seconds);
        // What the dialog shows reads back as the same number of milliseconds.
        EXPECT_EQ(std::llround(readNumber(secondsText(row.ms)).value_or(-1) * 1000), row.ms);
    }
}

TEST(SettingKeys, TenKeysInStartupOrderWithTheirDefaults) {
    const std::pair<const char *, const char *> expected[] = {
        {"MyCallsign", "MYCALL"},    {"Cluster", "CLUSTER"},
        {"RadioPort", "0"},          {"LocalPort", "4444"},
        {"AutoMinimize", "0"},       {"AutoMinimizeDelay", "10000"},
        {"MonitorMode", "False"},    {"CompatibilityMode", "False"},
        {"ConnectViaDigi", "False"}, {"Digis", ""}};
    ASSERT_EQ(std::size(kAllKeys), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_STREQ(kAllKeys[i].name, expected[i].first);
        EXPECT_STREQ(kAllKeys[i].defaultText, expected[i].second);
    }
}

TEST(SettingKeys, EngineKeysLiveInTheirOwnSection) {
    EXPECT_STREQ(kEngineHost.section, "Engine");
    EXPECT_STREQ(kEnginePort.section, "Engine");
    EXPECT_STREQ(kEngineHost.defaultText, "127.0.0.1");
    EXPECT_STREQ(kEnginePort.defaultText, "8000");
    for (const Key &key : kAllKeys)
        EXPECT_STREQ(key.section, "Config") << key.name;
    EXPECT_EQ(keyLabel(kEnginePort), "Engine\\Port");
    EXPECT_EQ(keyLabel(kLocalPort), "LocalPort");
}

// The engine's address as a person writes it into the file by hand.
TEST(EngineAddressTest, ReadFromTheFileWithDefaultsForWhatCannotBeUsed) {
    struct Row {
        const char *lines; // the group's lines below the heading
        std::string host;
        std::uint16_t port;
        std::string warning; // empty: none
    };
    const Row rows[] = {
        {"", "127.0.0.1", 8000, ""},
        {"Engine\\Host=192.168.1.20\nEngine\\Port=8001\n", "192.168.1.20", 8001, ""},
        {"Engine\\Host=raspberrypi.local\n", "raspberrypi.local", 8000, ""},
        {"Engine\\Host=\" pi \"\nEngine\\Port=\" 65535 \"\n", "pi", 65535, ""},
        {"Engine\\Host=\nEngine\\Port=1\n", "127.0.0.1", 1, ""},
        {"Engine\\Host=\"   \"\n", "127.0.0.1", 8000, ""},
        // The key of the bridge with the same name is another setting.
        {"Config\\Port=9000\n", "127.0.0.1", 8000, ""},
        {"Engine\\Port=0\n", "127.0.0.1", 8000,
         "corvantle: setting \"Engine\\Port\" holds \"0\", which is outside 1 to 65535; using the default "
         "\"8000\"\n"},
        {"Engine\\Port=65536\n", "127.0.0.1", 8000,
         "corvantle: setting \"Engine\\Port\" holds \"65536\", which is outside 1 to 65535; using the "
         "default \"8000\"\n"},
        {"Engine\\Port=agw\n", "127.0.0.1", 8000,
         "corvantle: setting \"Engine\\Port\" holds \"agw\", which is not a number; using the default "
         "\"8000\"\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lines);
        QTemporaryDir dir;
        const corvantle::IniSettingsStore store(settingsFile(dir, row.lines));
        const Read read = readFile(store);
        const EngineAddress &address = read.settings.engine.agw;
        EXPECT_EQ(address.host, row.host);
        EXPECT_EQ(address.port, row.port);
        EXPECT_EQ(read.warnings, row.warning);
    }
}

// Where a KISS TNC is, as a person types it: on TCP, or a serial device with its speed.
TEST(KissAddressTest, HostAndPortOrDeviceAndSpeed) {
    struct Row {
        const char *text;
        std::optional<KissAddress> address;
    };
    const Row rows[] = {
        {"127.0.0.1:8001", KissAddress{"127.0.0.1", 8001, "", 9600}},
        {" raspberrypi.local:8001 ", KissAddress{"raspberrypi.local", 8001, "", 9600}},
        {"[::1]:8001", KissAddress{"::1", 8001, "", 9600}},
        {"/dev/ttyUSB0", KissAddress{"", 0, "/dev/ttyUSB0", 9600}},
        {"/dev/rfcomm0:19200", KissAddress{"", 0, "/dev/rfcomm0", 19200}},
        {"/dev/ttyACM0:115200", KissAddress{"", 0, "/dev/ttyACM0", 115200}},
        {"/dev/ttyUSB0:250000", std::nullopt}, // no speed a serial line takes
        {"/dev/ttyUSB0:300", std::nullopt},
        {"/dev/ttyUSB0:0", std::nullopt},
        {"", std::nullopt},
        {"127.0.0.1", std::nullopt},   // no port
        {"127.0.0.1:0", std::nullopt}, // no such port
        {"127.0.0.1:65536", std::nullopt},
        {"::1:8001", std::nullopt},          // an IPv6 address needs its brackets
        {"/dev/ttyUSB0:fast", std::nullopt}, // a speed is a number
        {"host name:8001", std::nullopt},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(readKissAddress(row.text), row.address) << row.text;
        // As Preferences shows the stored port: read back, the same port.
        if (row.address)
            EXPECT_EQ(readKissAddress(kissAddressText(*row.address)), row.address) << row.text;
    }
}

// A serial speed the line cannot take is refused with the speeds it can, in Preferences' words and at
// start-up, where the default port is used instead; anything else that is no port keeps the general words.
TEST(KissAddressTest, ASpeedTheLineCannotTakeIsRefusedNamingThoseItCan) {
    const std::string speeds = "(1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200)";
    EXPECT_EQ(kissAddressProblem("/dev/ttyUSB0:9600"), "");
    EXPECT_EQ(kissAddressProblem("/dev/ttyUSB0:4000000"),
              "a serial device at 4000000 baud, a speed the line cannot take " + speeds);
    EXPECT_EQ(kissAddressProblem("tnc"),
              "neither host:port (127.0.0.1:8001) nor a serial device with its speed (/dev/ttyUSB0:9600)");

    QTemporaryDir dir;
    const corvantle::IniSettingsStore store(
        settingsFile(dir, "Engine\\Kind=KISS\nEngine\\Kiss=/dev/ttyUSB0:250000\n"));
    const Read read = readFile(store);
    const EngineChoice &choice = read.settings.engine;
    const std::string warnings = read.warnings;
    EXPECT_EQ(choice.kissAddress, (KissAddress{"127.0.0.1", 8001, "", 9600}));
    EXPECT_NE(warnings.find("\"/dev/ttyUSB0:250000\", which is a serial device at 250000 baud, a speed "
                            "the line cannot take " +
                            speeds + "; using the default \"127.0.0.1:8001\""),
              std::string::npos)
        << warnings;
}

// The engine's kind and the AGW engine stay the default; a kind or KISS port that cannot be used is said. The
// kind is read in any case, as Preferences reads it.
TEST(EngineChoiceTest, AgwUnlessTheFileSaysKiss) {
    struct Row {
        const char *lines;
        bool kiss;
        KissAddress address;
        int maxFrame;
        bool warned;
    };
    const KissAddress dw{"127.0.0.1", 8001, "", 9600};
    const Row rows[] = {
        {"", false, dw, 4, false},
        {"Engine\\Kind=KISS\nEngine\\Kiss=/dev/ttyACM0:57600\nEngine\\MaxFrame=7\n", true,
         KissAddress{"", 0, "/dev/ttyACM0", 57600}, 7, false},
        {"Engine\\Kind=TNC\n", false, dw, 4, true},
        {"Engine\\Kind=Kiss\n", true, dw, 4, false},
        {"Engine\\Kind=\" agw \"\n", false, dw, 4, false},
        {"Engine\\Kind=KISS\nEngine\\Kiss=nowhere\nEngine\\MaxFrame=9\n", true, dw, 4, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lines);
        QTemporaryDir dir;
        const corvantle::IniSettingsStore store(settingsFile(dir, row.lines));
        const Read read = readFile(store);
        const EngineChoice &choice = read.settings.engine;
        EXPECT_EQ(choice.kiss, row.kiss);
        EXPECT_EQ(choice.kissAddress, row.address);
        EXPECT_EQ(choice.maxFrame, row.maxFrame);
        EXPECT_EQ(!read.warnings.empty(), row.warned) << read.warnings;
    }
}

} // namespace
