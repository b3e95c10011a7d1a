#include "SettingsTable.h"

#include "SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace corvantle::settings {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Digits with an optional "." fraction; at least one digit on either side of the point.
bool isUnsignedDecimal(std::string_view text) {
    std::size_t digits = 0;
    bool point = false;
    for (char c : text) {
        if (isDigit(c))
            ++digits;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits > 0;
}

} // namespace

std::optional<double> readNumber(std::string_view text) {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!isUnsignedDecimal(text))
        return std::nullopt;
    double value = 0;
    // from_chars reads "5." and ".5" as decimal numbers, independent of the locale.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<int64_t> readWholeNumber(std::string_view text, int64_t min, int64_t max) {
    const std::optional<double> number = readNumber(text);
    if (!number)
        return std::nullopt;
    const double rounded = std::round(*number);
    if (rounded < static_cast<double>(min) || rounded > static_cast<double>(max))
        return std::nullopt;
    return static_cast<int64_t>(rounded);
}

std::optional<bool> readBoolean(std::string_view text) {
    if (text == "True")
        return true;
    if (text == "False")
        return false;
    return std::nullopt;
}

const char *booleanText(bool value) {
    return value ? "True" : "False";
}

std::string secondsText(int32_t milliseconds) {
    const int64_t ms = milliseconds;
    std::string text = std::to_string(ms / 1000);
    if (ms < 0 && ms > -1000)
        text = "-0";
    int64_t fraction = std::llabs(ms % 1000);
    if (fraction == 0)
        return text;
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03lld", static_cast<long long>(fraction));
    std::string fractionText = digits;
    while (fractionText.back() == '0')
        fractionText.pop_back();
    return text + "." + fractionText;
}

StartupReader::StartupReader(const SettingsStore &store, std::string appName)
    : store_(store), appName_(std::move(appName)) {}

std::string keyLabel(const Key &key) {
    if (std::string_view(key.section) == kSection)
        return key.name;
    return std::string(key.section) + "\\" + key.name;
}

std::string StartupReader::stored(const Key &key) const {
    return store_.readSetting(appName_, key.section, key.name, key.defaultText);
}

void StartupReader::unusable(const Key &key, const std::string &value, const std::string &why) const {
    problems_.push_back("setting \"" + keyLabel(key) + "\" holds \"" + value + "\", " + why +
                        "; using the default \"" + key.defaultText + "\"");
}

std::string StartupReader::text(const Key &key) const {
    return stored(key);
}

int64_t StartupReader::wholeNumber(const Key &key) const {
    const std::string value = stored(key);
    if (const auto number = readWholeNumber(value, key.min, key.max))
        return *number;
    const std::string why =
        readNumber(value) ? "which is outside " + std::to_string(key.min) + " to " + std::to_string(key.max)
                          : "which is not a number";
    unusable(key, value, why);
    return *readWholeNumber(key.defaultText, key.min, key.max);
}

bool StartupReader::boolean(const Key &key) const {
    const std::string value = stored(key);
    if (const auto flag = readBoolean(value))
        return *flag;
    unusable(key, value, "which is neither \"True\" nor \"False\"");
    return *readBoolean(key.defaultText);
}

LinkEnd StartupReader::linkEnd(const Key &key) const {
    const std::string value = stored(key);
    if (const auto choice = readLinkEnd(value))
        return *choice;
    unusable(key, value, "which is none of \"Keep\", \"Close\" and \"Relink\"");
    return *readLinkEnd(key.defaultText);
}

std::optional<LinkEnd> readLinkEnd(std::string_view text) {
    for (const LinkEnd choice : {LinkEnd::Keep, LinkEnd::Close, LinkEnd::Relink})
        if (text == linkEndText(choice))
            return choice;
    return std::nullopt;
}

const char *linkEndText(LinkEnd value) {
    switch (value) {
    case LinkEnd::Close:
        return "Close";
    case LinkEnd::Relink:
        return "Relink";
    case LinkEnd::Keep:
        break;
    }
    return "Keep";
}

std::string unusableSettingsMessage(const std::vector<std::string> &problems, const std::string &location) {
    if (problems.empty())
        return {};
    std::string message =
        "Some stored settings could not be used; their defaults are in use until Preferences "
        "saves others";
    if (!location.empty())
        message += " (" + location + ")";
    message += ":";
    for (const std::string &line : problems)
        message += "\n" + line;
    return message;
}

namespace {

bool isSerialSpeed(int64_t baud) {
    return std::find(std::begin(kSerialSpeeds), std::end(kSerialSpeeds), baud) != std::end(kSerialSpeeds);
}

// "1200, 2400, ... or 115200"
std::string serialSpeedsText() {
    std::string text;
    for (std::size_t i = 0; i < std::size(kSerialSpeeds); ++i)
        text += (i == 0                              ? ""
                 : i + 1 == std::size(kSerialSpeeds) ? " or "
                                                     : ", ") +
                std::to_string(kSerialSpeeds[i]);
    return text;
}

} // namespace

std::optional<KissAddress> readKissAddress(std::string_view text) {
    const std::string value(trimBlanks(text));
    if (value.empty())
        return std::nullopt;
    const auto number = [](std::string_view digits, int64_t max) -> std::optional<int64_t> {
        if (digits.empty() || digits.size() > 6 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        const int64_t n = std::stoll(std::string(digits));
        return n >= 1 && n <= max ? std::optional<int64_t>(n) : std::nullopt;
    };
    KissAddress address;
    if (value.front() == '/') {
        const std::size_t colon = value.rfind(':');
        address.device = value.substr(0, colon);
        if (colon != std::string::npos) {
            const auto baud = number(std::string_view(value).substr(colon + 1), 4000000);
            if (!baud || !isSerialSpeed(*baud))
                return std::nullopt;
            address.baud = static_cast<int>(*baud);
        }
        return address.device.size() > 1 ? std::optional<KissAddress>(address) : std::nullopt;
    }
    std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = value.substr(0, colon);
    if (host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return std::nullopt; // an IPv6 address needs its brackets before the port
    const auto port = number(std::string_view(value).substr(colon + 1), 65535);
    if (host.empty() || host.find_first_of(" \t") != std::string::npos || !port)
        return std::nullopt;
    address.host = host;
    address.port = static_cast<std::uint16_t>(*port);
    return address;
}

std::string kissAddressProblem(std::string_view text) {
    if (readKissAddress(text))
        return {};
    const std::string value(trimBlanks(text));
    const std::size_t colon = value.rfind(':');
    const std::string speed = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    if (!value.empty() && value.front() == '/' && colon > 1 && !speed.empty() && speed.size() <= 7 &&
        speed.find_first_not_of("0123456789") == std::string::npos)
        return "a serial device at " + speed + " baud, a speed the line cannot take (" + serialSpeedsText() +
               ")";
    return "neither host:port (127.0.0.1:8001) nor a serial device with its speed (/dev/ttyUSB0:9600)";
}

std::string kissAddressText(const KissAddress &address) {
    if (!address.device.empty())
        return address.device + ":" + std::to_string(address.baud);
    const bool ipv6 = address.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

std::optional<bool> readKissEngine(std::string_view text) {
    std::string kind(trimBlanks(text));
    std::transform(kind.begin(), kind.end(), kind.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (kind == engineKindText(true))
        return true;
    if (kind == engineKindText(false))
        return false;
    return std::nullopt;
}

const char *engineKindText(bool kiss) {
    return kiss ? "KISS" : "AGW";
}

} // namespace corvantle::settings
