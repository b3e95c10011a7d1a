#include "ListenPolicy.h"

#include "PlainText.h"
#include "SettingsTable.h"

#include <algorithm>
#include <cctype>
#include <variant>

namespace corvantle {

std::optional<std::optional<IpAddress>> parseListenAddress(std::string_view text) {
    std::string word = plain::trimmed(std::string(text));
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    if (word == "any")
        return std::optional<IpAddress>();
    if (const auto address = IpAddress::parse(word))
        return std::optional<IpAddress>(*address);
    return std::nullopt;
}

ListenPolicy ListenPolicy::byDefault() {
    return {*parseListenAddress(settings::kListenAddress.defaultText),
            std::get<ClientAllowList>(ClientAllowList::parse(settings::kAllowedClients.defaultText))};
}

std::string ListenPolicy::addressText() const {
    return address ? address->text() : "any";
}

std::string ListenPolicy::problem(const std::string &location) const {
    if (!beyondLoopback() || !allowed.onlyLoopback())
        return {};
    return "ListenAddress is " + addressText() +
           ", which other machines can reach, but AllowedClients names no address outside this machine. "
           "Every client connection transmits under your callsign, so add the addresses or ranges of your "
           "logging computers to AllowedClients (for example 192.168.1.0/24) or set ListenAddress back to "
           "127.0.0.1 in " +
           location;
}

} // namespace corvantle
