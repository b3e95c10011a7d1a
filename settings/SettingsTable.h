// The settings: their keys, their defaults, and how their stored texts convert to the program's values.
//
// The "Config" section holds the bridge's keys, the link's care and sharing, and where the telnet port
// listens; the "Engine" section holds the packet engine's: its kind, the AGW engine's address, the KISS TNC
// and its link. readProgramSettings (ProgramSettings.h) reads every key once through the converters below;
// the Preferences dialog checks what is typed with the same converters and writes the texts back with the
// formatters. A text the dialog never writes (not a number, out of range, a boolean other than "True" or
// "False") falls back to the key's default, and the reading names the key and the text among its problems.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle {

class SettingsStore;

// What happens to the clients when the link to the cluster ends under them: they stay connected and are
// told, their connections are closed after the notice (as a telnet cluster does after "bye"), or the link
// is asked for again.
enum class LinkEnd { Keep, Close, Relink };

namespace settings {

inline constexpr const char *kSection = "Config";
inline constexpr const char *kEngineSection = "Engine";

struct Key {
    const char *name;
    const char *defaultText;
    // For whole-number keys, the values that fit: an engine radio port, a TCP port, 0 or 1, a 32-bit
    // millisecond count.
    int64_t min = 0;
    int64_t max = 0;
    const char *section = kSection;
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

// The link's own care, each off by default: asking again for a dropped link, keeping it for a returning
// client, the clients that share it, and keepalives kept off the air.
inline constexpr Key kRelink{"Relink", "False"};
inline constexpr Key kKeepLinkSeconds{"KeepLinkSeconds", "0", 0, 3600};
inline constexpr Key kClients{"Clients", "1", 1, 8};
inline constexpr Key kQuietKeepalives{"QuietKeepalives", "False"};
// "Keep", "Close" or "Relink". "Relink" is also Relink=True, which files from before this key hold.
inline constexpr Key kLinkEnd{"LinkEnd", "Keep"};

// Where the packet engine listens; a blank host stands for the default.
inline constexpr Key kEngineHost{"Host", "127.0.0.1", 0, 0, kEngineSection};
inline constexpr Key kEnginePort{"Port", "8000", 1, 65535, kEngineSection};

// The bridge's keys, in the order in which start-up reads them.
inline constexpr Key kAllKeys[] = {
    kMyCallsign,        kCluster,     kRadioPort,         kLocalPort,      kAutoMinimize,
    kAutoMinimizeDelay, kMonitorMode, kCompatibilityMode, kConnectViaDigi, kDigis};

// Which engine carries the link: "AGW" (a packet engine over the AGW TCP API, the default) or "KISS" (a
// TNC's KISS port, with the program's own AX.25 link). The KISS port is "host:port" on TCP, or a serial
// device with its speed, "/dev/ttyUSB0:9600". The AX.25 link's parameters apply to KISS only.
inline constexpr Key kEngineKind{"Kind", "AGW", 0, 0, kEngineSection};
inline constexpr Key kEngineKiss{"Kiss", "127.0.0.1:8001", 0, 0, kEngineSection};
inline constexpr Key kKissMaxFrame{"MaxFrame", "4", 1, 7, kEngineSection};
inline constexpr Key kKissPaclen{"Paclen", "128", 16, 256, kEngineSection};
inline constexpr Key kKissFrackSeconds{"Frack", "3", 1, 15, kEngineSection};
inline constexpr Key kKissRetries{"Retries", "10", 1, 30, kEngineSection};
// In 10 ms steps, as KISS sends it; 0 leaves the TNC's own.
inline constexpr Key kKissTxDelay{"TxDelay", "0", 0, 255, kEngineSection};

// Where the telnet port listens ("any" or an address) and the clients it serves there: addresses and CIDR
// ranges separated by commas. By default only this machine.
inline constexpr Key kListenAddress{"ListenAddress", "127.0.0.1"};
inline constexpr Key kAllowedClients{"AllowedClients", "127.0.0.0/8,::1"};

// Every key the program reads, as the settings file and the documents list them: the Config section's,
// then the Engine section's.
inline constexpr Key kEveryKey[] = {
    kMyCallsign,  kCluster,           kRadioPort,      kLocalPort,     kAutoMinimize,   kAutoMinimizeDelay,
    kMonitorMode, kCompatibilityMode, kConnectViaDigi, kDigis,         kRelink,         kKeepLinkSeconds,
    kClients,     kQuietKeepalives,   kLinkEnd,        kListenAddress, kAllowedClients, kEngineHost,
    kEnginePort,  kEngineKind,        kEngineKiss,     kKissMaxFrame,  kKissPaclen,     kKissFrackSeconds,
    kKissRetries, kKissTxDelay};

// The numeric test shared by the dialog and start-up: optional blanks, an optional sign, digits with an
// optional "." fraction, optional blanks. Returns the value, or nothing when the text does not pass.
std::optional<double> readNumber(std::string_view text);

// readNumber rounded to the nearest whole number (halves away from zero), when it lies in [min, max].
std::optional<int64_t> readWholeNumber(std::string_view text, int64_t min, int64_t max);

// "Keep" / "Close" / "Relink", exactly.
std::optional<LinkEnd> readLinkEnd(std::string_view text);
const char *linkEndText(LinkEnd value);

// "True" / "False", exactly.
std::optional<bool> readBoolean(std::string_view text);
const char *booleanText(bool value);

// Milliseconds as seconds for the dialog: 10000 -> "10", 2500 -> "2.5".
std::string secondsText(int32_t milliseconds);

// How a key is named to the user: "MyCallsign" for the bridge's keys, "Engine\Port" for the others, as
// the INI file spells them.
std::string keyLabel(const Key &key);

// Start-up's reads: the stored text converted, or the key's default with a problem named, which the caller
// tells the user.
class StartupReader final {
  public:
    StartupReader(const SettingsStore &store, std::string appName);

    std::string text(const Key &key) const;
    int64_t wholeNumber(const Key &key) const; // within the key's range
    bool boolean(const Key &key) const;
    LinkEnd linkEnd(const Key &key) const;
    // A text of `key` the caller's own converter could not use: `why` follows the value, as in "which is not
    // a number" or "where ...".
    void unusable(const Key &key, const std::string &value, const std::string &why) const;

    // Each value read so far that could not be used, one line each, as standard error shows it after
    // "corvantle: " (setting "RadioPort" holds "abc", which is not a number; using the default "0").
    const std::vector<std::string> &problems() const { return problems_; }

  private:
    std::string stored(const Key &key) const;

    const SettingsStore &store_;
    std::string appName_;
    mutable std::vector<std::string> problems_;
};

// The message box that names every stored value start-up could not use and the file they are in; empty
// when there is none.
std::string unusableSettingsMessage(const std::vector<std::string> &problems, const std::string &location);

// Where the AGW engine listens. Stored, a blank host stands for the default host.
struct EngineAddress {
    std::string host = kEngineHost.defaultText;
    std::uint16_t port = 8000;
    bool operator==(const EngineAddress &) const = default;
};

// "AGW" or "KISS", in any case, blanks around: whether the KISS engine is chosen; nothing for other texts.
std::optional<bool> readKissEngine(std::string_view text);
const char *engineKindText(bool kiss);

// Where a KISS TNC is: a TCP host and port, or a serial device and its speed.
struct KissAddress {
    std::string host;       // empty for a serial device
    std::uint16_t port = 0; // TCP
    std::string device;     // empty for TCP
    int baud = 9600;        // serial
    bool operator==(const KissAddress &) const = default;
};

// The speeds a serial line to a TNC takes: the standard rates that every serial adapter and Qt Serial Port
// name. Anything else is refused rather than quietly changed into one of them.
inline constexpr int kSerialSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// "host:port", "[v6::addr]:port", "/dev/ttyUSB0", "/dev/ttyUSB0:19200"; nothing when it is none of them,
// or when the speed is none of kSerialSpeeds.
std::optional<KissAddress> readKissAddress(std::string_view text);

// The address as readKissAddress reads it: "127.0.0.1:8001", "[::1]:8001", "/dev/ttyUSB0:9600".
std::string kissAddressText(const KissAddress &address);

// Why `text` is no KISS port, to follow "... is " in a message: "neither host:port (127.0.0.1:8001) nor a
// serial device with its speed (/dev/ttyUSB0:9600)", or for a speed a serial line cannot take, that speed
// and the ones it can. Empty when readKissAddress takes it.
std::string kissAddressProblem(std::string_view text);

// The stored choice of engine: the AGW engine's address, or the KISS TNC's port and the AX.25 link's
// parameters.
struct EngineChoice {
    bool kiss = false;
    EngineAddress agw;
    KissAddress kissAddress{"127.0.0.1", 8001, "", 9600};
    int maxFrame = 4;
    int paclen = 128;
    int frackSeconds = 3;
    int retries = 10;
    int txDelay = 0; // 10 ms steps; 0: the TNC's own
};

} // namespace settings
} // namespace corvantle
