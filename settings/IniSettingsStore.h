// The settings store as one INI file, read and written with QSettings: the per-user file,
// $XDG_CONFIG_HOME/corvantle/settings.ini (default ~/.config/corvantle/settings.ini), or the one --config
// names (the service's /etc/corvantle/settings.ini).
//
// The program's keys are "Section\Key" in one group named after the program; the name and the section are
// percent-encoded ("%" and "/") so that QSettings reads no nested groups into them. A value written by hand
// with commas and no quotes, which QSettings reads as a list, reads back as one text, its parts joined by
// commas.
//
// A file that QSettings cannot read in full is noted when the store is opened and copied beside itself
// (settings.ini.bad, .bad.1, ...) before it is first written over, since writing would drop what could not
// be read. A UTF-8 byte-order mark alone is no such problem: QSettings reads every key after it.
#pragma once

#include "SettingsStore.h"

#include <string>

namespace corvantle {

class IniSettingsStore final : public SettingsStore {
  public:
    // The store in the per-user file.
    IniSettingsStore();
    // The store in `filePath`: the per-user file, the --config file, or a test's.
    explicit IniSettingsStore(std::string filePath);

    // The per-user file; it need not exist yet.
    static std::string defaultFilePath();

    // Nothing saves this store in this run (headless: no Preferences dialog): the notice about an unreadable
    // file tells the user to correct it by hand instead of promising a copy before the next save.
    void setEditedByHandOnly() { editedByHandOnly_ = true; }

    std::string readSetting(const std::string &appName, const std::string &section, const std::string &key,
                            const std::string &defaultText) const override;
    bool writeSetting(const std::string &appName, const std::string &section, const std::string &key,
                      const std::string &text, std::string &error) override;
    std::string location() const override { return filePath_; }
    std::string formatProblem() const override { return formatProblem_; }
    std::string keptCopyPath() const override { return keptCopyPath_; }

    std::string formatProblemMessage() const override;
    std::string unreadKeysMessage(const std::string &appName) const override;

  private:
    bool keepUnreadableFile(std::string &error);
    bool wasWrittenOver() const;
    bool markWrittenOver() const;

    std::string filePath_;
    std::string formatProblem_;
    std::string keptCopyPath_;
    bool mustKeepFile_ = false; // an unreadable file not yet copied in this run
    bool editedByHandOnly_ = false;
    bool byteOrderMark_ = false; // the file began with a UTF-8 byte-order mark when opened
};

} // namespace corvantle
