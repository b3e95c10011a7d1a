// The settings store as one per-user INI file, $XDG_CONFIG_HOME/corvantle/settings.ini (default
// ~/.config/corvantle/settings.ini), written with QSettings.
#pragma once

#include "SettingsStore.h"

#include <string>

namespace corvantle {

class IniSettingsStore final : public SettingsStore {
public:
    // The store in the per-user file.
    IniSettingsStore();
    // The store in `filePath`, for tests and tools.
    explicit IniSettingsStore(std::string filePath);

    static std::string defaultFilePath();

    std::string readSetting(const std::string &appName, const std::string &section, const std::string &key,
                            const std::string &defaultText) const override;
    bool writeSetting(const std::string &appName, const std::string &section, const std::string &key,
                      const std::string &text, std::string &error) override;
    std::string location() const override { return filePath_; }

private:
    std::string filePath_;
};

} // namespace corvantle
