#include "IniSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

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

TEST(IniSettingsStoreLocation, FollowsXdgConfigHome) {
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(IniSettingsStore::defaultFilePath(), (dir.path() + "/corvantle/settings.ini").toStdString());
    qputenv("XDG_CONFIG_HOME", old);
}

} // namespace
