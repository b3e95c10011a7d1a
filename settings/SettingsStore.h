// The per-user store of text settings, addressed by application name, section and key.
//
// The bridge reads and writes settings only through this interface; IniSettingsStore keeps them in an INI
// file, tests may use that on a temporary directory.
#pragma once

#include <string>

namespace corvantle {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text of the key, or `defaultText` when it was never written.
    virtual std::string readSetting(const std::string &appName, const std::string &section,
                                    const std::string &key, const std::string &defaultText) const = 0;

    // Stores the text. Returns false, with the reason in `error`, when the store cannot be written.
    virtual bool writeSetting(const std::string &appName, const std::string &section, const std::string &key,
                              const std::string &text, std::string &error) = 0;

    // Where the values live, for messages to the user.
    virtual std::string location() const = 0;
};

} // namespace corvantle
