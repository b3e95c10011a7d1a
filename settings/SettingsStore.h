// The per-user store of text settings, addressed by application name, section and key.
//
// The program reads it once at start-up (readProgramSettings) and Preferences writes to it through a
// StoreWriter; no other part sees it. IniSettingsStore keeps the settings in an INI file, which tests may use
// on a temporary directory.
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

    // Empty when the store was read without trouble when it was opened; otherwise a short reason why part of
    // it could not be read, so the user learns why their values are not in use.
    virtual std::string formatProblem() const { return {}; }

    // The notice for the user about that: which store, that defaults stand in, and where the unreadable
    // original is kept. Empty when there is nothing to say.
    virtual std::string formatProblemMessage() const { return {}; }

    // The notice for the user about keys in the store that the program `appName` never reads (a group
    // written by hand, a misspelt key), naming them and where the program's own keys belong. Empty when
    // there are none.
    virtual std::string unreadKeysMessage(const std::string & /*appName*/) const { return {}; }

    // Where an unreadable store was copied before it was first written over in this run; empty when no copy
    // was needed.
    virtual std::string keptCopyPath() const { return {}; }
};

} // namespace corvantle
