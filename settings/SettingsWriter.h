// Where Preferences saves the settings: key by key, as texts the settings table's converters read back.
//
// The bridge's Preferences logic writes through this interface and never reads the store: what the file
// holds reaches it as a value (ProgramSettings). StoreWriter writes into the program's settings store.
#pragma once

#include "BridgeState.h"
#include "SettingsStore.h"
#include "SettingsTable.h"

#include <string>

namespace corvantle {

class SettingsWriter {
  public:
    virtual ~SettingsWriter() = default;
    // Stores `text` as the key's value. Returns false, with the reason in `error`, when it cannot.
    virtual bool write(const settings::Key &key, const std::string &text, std::string &error) = 0;
    // Where the values live, for messages to the user.
    virtual std::string location() const = 0;
};

// The program's keys, under its settings name, in `store`.
class StoreWriter final : public SettingsWriter {
  public:
    explicit StoreWriter(SettingsStore &store) : store_(store) {}
    bool write(const settings::Key &key, const std::string &text, std::string &error) override {
        return store_.writeSetting(kProgramName, key.section, key.name, text, error);
    }
    std::string location() const override { return store_.location(); }

  private:
    SettingsStore &store_;
};

} // namespace corvantle
