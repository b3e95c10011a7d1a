// The ten settings: their keys, their defaults, and how their stored texts convert to the bridge's values.
//
// Start-up reads every key through the converters below; the Preferences dialog writes them back with the
// formatters. Texts that the dialog never writes (not a number, out of range, a boolean other than "True" or
// "False") fall back to the key's default, with one line on standard error naming the key and the value.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace corvantle {

class SettingsStore;

namespace settings {

inline constexpr const char *kSection = "Config";

struct Key {
    const char *name;
    const char *defaultText;
    // For whole-number keys, the values that fit: an engine radio port, a TCP port, 0 or 1, a 32-bit
    // millisecond count.
    int64_t min = 0;
    int64_t max = 0;
};

inline constexpr Key kMyCallsign{"MyCallsign", "MYCALL"};
inline constexpr Key kCluster{"Cluster", "CLUSTER"};
inline constexpr Key kRadioPort{"RadioPort", "0", 0, 255};
inline constexpr Key kLocalPort{"LocalPort", "4444", 1, 65535};
inline constexpr Key kAutoMinimize{"AutoMinimize", "0", 0, 1};
inline constexpr Key kAutoMinimizeDelay{"AutoMinimizeDelay", "10000", 0, INT32_MAX};
inline constexpr Key kMonitorMode{"MonitorMode", "False"};
inline constexpr Key kCompatibilityMode{"CompatibilityMode", "False"};
inline constexpr Key kConnectViaDigi{"ConnectViaDigi", "False"};
inline constexpr Key kDigis{"Digis", ""};

// In the order in which start-up reads them.
inline constexpr Key kAllKeys[] = {kMyCallsign,   kCluster,          kRadioPort,        kLocalPort,
                                   kAutoMinimize, kAutoMinimizeDelay, kMonitorMode,      kCompatibilityMode,
                                   kConnectViaDigi, kDigis};

// The numeric test shared by the dialog and start-up: optional blanks, an optional sign, digits with an
// optional "." fraction, optional blanks. Returns the value, or nothing when the text does not pass.
std::optional<double> readNumber(std::string_view text);

// readNumber rounded to the nearest whole number (halves away from zero), when it lies in [min, max].
std::optional<int64_t> readWholeNumber(std::string_view text, int64_t min, int64_t max);

// "True" / "False", exactly.
std::optional<bool> readBoolean(std::string_view text);
const char *booleanText(bool value);

// Milliseconds as seconds for the dialog: 10000 -> "10", 2500 -> "2.5".
std::string secondsText(int32_t milliseconds);

// Start-up's reads: the stored text converted, or the key's default with a line on `warnings`.
class StartupReader final {
public:
    StartupReader(const SettingsStore &store, std::string appName, std::ostream &warnings);

    std::string text(const Key &key) const;
    int64_t wholeNumber(const Key &key) const; // within the key's range
    bool boolean(const Key &key) const;

private:
    std::string stored(const Key &key) const;
    void warn(const Key &key, const std::string &value, const std::string &why) const;

    const SettingsStore &store_;
    std::string appName_;
    std::ostream &warnings_;
};

} // namespace settings
} // namespace corvantle
