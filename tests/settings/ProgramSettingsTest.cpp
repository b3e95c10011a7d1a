// The one reading of the settings: every key once, under the program's name, with one list of problems.
#include "ProgramSettings.h"
#include "IniSettingsStore.h"
#include "SettingsStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace corvantle;

namespace {

// A store that holds nothing and notes each key asked for, with the default it was asked with.
class AskedStore final : public SettingsStore {
  public:
    std::string readSetting(const std::string &appName, const std::string &section, const std::string &key,
                            const std::string &defaultText) const override {
        asked.push_back(appName + "|" + section + "|" + key + "|" + defaultText);
        return defaultText;
    }
    bool writeSetting(const std::string &, const std::string &, const std::string &, const std::string &,
                      std::string &error) override {
        error = "read only";
        return false;
    }
    std::string location() const override { return "/asked/settings.ini"; }

    mutable std::vector<std::string> asked;
};

TEST(ProgramSettingsReading, AsksForEveryKeyOnceUnderTheProgramsName) {
    const AskedStore store;
    const SettingsReading reading = readProgramSettings(store);
    EXPECT_TRUE(reading.problems.empty());
    EXPECT_EQ(reading.location, "/asked/settings.ini");
    for (const std::string &key : store.asked) {
        EXPECT_EQ(key.rfind(std::string(kProgramName) + "|", 0), 0u) << key;
        EXPECT_EQ(std::count(store.asked.begin(), store.asked.end(), key), 1) << key;
    }
    const std::string program = kProgramName;
    for (const std::string &engineKey : {program + "|Engine|Host|127.0.0.1", program + "|Engine|Port|8000",
                                         program + "|Config|ListenAddress|127.0.0.1"})
        EXPECT_NE(std::find(store.asked.begin(), store.asked.end(), engineKey), store.asked.end())
            << engineKey;
    // The defaults make the value a fresh start runs with.
    EXPECT_EQ(reading.settings.bridge.myCallsign, "MYCALL");
    EXPECT_EQ(reading.settings.localPort, 4444);
    EXPECT_EQ(reading.settings.listen.addressText(), "127.0.0.1");
    EXPECT_FALSE(reading.settings.engine.kiss);
    EXPECT_EQ(reading.settings.engine.agw, (settings::EngineAddress{"127.0.0.1", 8000}));
}

// An engine port that is not a whole number from 1 to 65535 is the default, and is named with it.
TEST(ProgramSettingsReading, AnEnginePortThatIsNoPortIsNamedWithTheDefault) {
    for (const char *bad : {"0", "65536", "80x", "", "-5", "1e3"}) {
        SCOPED_TRACE(bad);
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        IniSettingsStore file(path.toStdString());
        std::string error;
        ASSERT_TRUE(file.writeSetting(kProgramName, "Engine", "Port", bad, error)) << error;
        const SettingsReading reading = readProgramSettings(IniSettingsStore(path.toStdString()));
        EXPECT_EQ(reading.settings.engine.agw.port, 8000);
        ASSERT_EQ(reading.problems.size(), 1u);
        const std::string &said = reading.problems[0];
        EXPECT_NE(said.find(R"("Engine\Port" holds ")" + std::string(bad) + "\""), std::string::npos) << said;
        EXPECT_NE(said.find("8000"), std::string::npos) << said;
    }
}

} // namespace
