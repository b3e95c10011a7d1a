#include "IniSettingsStore.h"
#include "SettingsTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using corvantle::IniSettingsStore;

namespace {

constexpr const char *kApp = "ZR8QOD Logger/AGWPE Corvantle ";

class IniSettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path = (dir.path() + "/corvantle/settings.ini").toStdString();
    IniSettingsStore store{path};

    void write(const std::string &app, const std::string &section, const std::string &key,
               const std::string &text) {
        std::string error;
        ASSERT_TRUE(store.writeSetting(app, section, key, text, error)) << error;
    }
    std::string read(const std::string &app, const std::string &section, const std::string &key) {
        return store.readSetting(app, section, key, "<default>");
    }
};

TEST_F(IniSettingsStoreTest, TextsRoundTripExactlyThroughTheFile) {
    for (const std::string text : {"N0CALL", " 5000 ", "RELAY1,RELAY2", "", "a=b;c#d", "trailing blank "}) {
        write(kApp, "Config", "Value", text);
        EXPECT_EQ(IniSettingsStore(path).readSetting(kApp, "Config", "Value", "<default>"), text);
    }
    EXPECT_EQ(read(kApp, "Config", "Missing"), "<default>");
    EXPECT_EQ(read("Never written", "Config", "Value"), "<default>");
}

TEST_F(IniSettingsStoreTest, EveryNameAndSectionIsAPlaceOfItsOwn) {
    write(kApp, "Config", "Port", "1");
    write("ZR8QOD Logger/AGWPE Corvantle", "Config", "Port", "2"); // without the trailing blank
    write("ZR8QOD Logger", "AGWPE Corvantle /Config", "Port", "3");
    write(kApp, "Engine", "Port", "4");
    EXPECT_EQ(read(kApp, "Config", "Port"), "1");
    EXPECT_EQ(read("ZR8QOD Logger/AGWPE Corvantle", "Config", "Port"), "2");
    EXPECT_EQ(read("ZR8QOD Logger", "AGWPE Corvantle /Config", "Port"), "3");
    EXPECT_EQ(read(kApp, "Engine", "Port"), "4");
    EXPECT_EQ(read("ZR8QOD Logger", "AGWPE Corvantle ", "Config"), "<default>");
}

TEST_F(IniSettingsStoreTest, HandWrittenFileIsRead) {
    QDir().mkpath(dir.path() + "/corvantle");
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\n"
               "Config\\MyCallsign=G4ABC\n"
               "Config\\Digis=RELAY1,RELAY2\n");
    file.close();
    EXPECT_EQ(read(kApp, "Config", "MyCallsign"), "G4ABC");
    EXPECT_EQ(read(kApp, "Config", "Digis"), "RELAY1,RELAY2");
}

TEST_F(IniSettingsStoreTest, UnwritableStoreSaysWhy) {
    // A folder where the file should be: no write can succeed, not even as root.
    QDir().mkpath(QString::fromStdString(path));
    std::string error;
    EXPECT_FALSE(store.writeSetting(kApp, "Config", "MyCallsign", "G4ABC", error));
    EXPECT_EQ(error, "it is not a regular file");
}

// Start-up's conversions, read back from the file as the dialog and a person write it.
TEST_F(IniSettingsStoreTest, StartupConversionsReadTheFile) {
    namespace s = corvantle::settings;
    struct Row {
        const s::Key &key;
        std::string stored;
        std::string expected; // the converted value as text; the default when the stored text is unusable
        bool warned;
    };
    const Row rows[] = {
        {s::kMyCallsign, "g4abc-1", "g4abc-1", false},
        {s::kCluster, " GB7DXC ", " GB7DXC ", false},
        {s::kDigis, "RELAY1,RELAY2", "RELAY1,RELAY2", false},
        {s::kRadioPort, "-3", "-3", false},
        {s::kRadioPort, "32768", "0", true},
        {s::kLocalPort, " 5000 ", "5000", false},
        {s::kLocalPort, "5000.0", "5000", false},
        {s::kLocalPort, "65536", "4444", true},
        {s::kLocalPort, "port", "4444", true},
        {s::kAutoMinimize, "1", "1", false},
        {s::kAutoMinimize, "2", "0", true},
        {s::kAutoMinimizeDelay, "2500", "2500", false},
        {s::kAutoMinimizeDelay, "2147483648", "10000", true},
        {s::kMonitorMode, "True", "1", false},
        {s::kCompatibilityMode, "False", "0", false},
        {s::kConnectViaDigi, "yes", "0", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.key.name) + "=" + row.stored);
        write(kApp, s::kSection, row.key.name, row.stored);
        std::ostringstream warnings;
        const IniSettingsStore reopened(path);
        const s::StartupReader reader(reopened, kApp, warnings);
        const bool isBoolean = std::string(row.key.defaultText) == "False";
        const std::string value = row.key.max != 0 ? std::to_string(reader.wholeNumber(row.key))
                                  : isBoolean      ? std::to_string(reader.boolean(row.key))
                                                   : reader.text(row.key);
        EXPECT_EQ(value, row.expected);
        EXPECT_EQ(!warnings.str().empty(), row.warned) << warnings.str();
    }
}

TEST(IniSettingsStoreLocation, FollowsXdgConfigHome) {
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(IniSettingsStore::defaultFilePath(), (dir.path() + "/corvantle/settings.ini").toStdString());
    qputenv("XDG_CONFIG_HOME", old);
}

} // namespace
