// The command line of corvantle-cluster-station.
#include "StationOptions.h"

#include "PlainText.h"

#include <charconv>

namespace corvantle::cluster {
namespace {

bool parseWhole(const std::string &text, long min, long max, long &value) {
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= min && value <= max;
}

bool parseSeconds(const std::string &text, double &value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size() && value > 0.0;
    } catch (...) {
        return false;
    }
}

bool takesValue(const std::string &name) {
    return name == "--host" || name == "--port" || name == "--call" || name == "--radio-port" ||
           name == "--spot-interval";
}

// Applies one option with its value; false with `error` set if the value does not fit.
bool apply(const std::string &name, const std::string &value, StationOptions &options, std::string &error) {
    long number = 0;
    if (name == "--host") {
        options.host = value;
    } else if (name == "--port") {
        if (!parseWhole(value, 1, 65535, number))
            return error = "--port wants 1..65535, not \"" + value + "\"", false;
        options.port = static_cast<std::uint16_t>(number);
    } else if (name == "--call") {
        if (value.empty() || value.size() > 9)
            return error = "--call wants a callsign of at most 9 characters", false;
        options.call = plain::upper(value);
    } else if (name == "--radio-port") {
        if (!parseWhole(value, 0, 255, number))
            return error = "--radio-port wants 0..255, not \"" + value + "\"", false;
        options.radioPort = static_cast<std::uint8_t>(number);
    } else if (name == "--spot-interval") {
        if (!parseSeconds(value, options.spotIntervalSeconds))
            return error = "--spot-interval wants a number of seconds above 0, not \"" + value + "\"", false;
    }
    return true;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string> &args) {
    ParsedOptions parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--verbose") {
            parsed.options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            parsed.helpWanted = true;
        } else if (!takesValue(arg)) {
            parsed.error = (arg.starts_with("-") ? "unknown option " : "unexpected argument ") + arg;
            return parsed;
        } else if (i + 1 >= args.size()) {
            parsed.error = arg + " wants a value";
            return parsed;
        } else if (!apply(arg, args[++i], parsed.options, parsed.error)) {
            return parsed;
        }
    }
    parsed.ok = true;
    return parsed;
}

std::string usageText(const std::string &programName) {
    return "usage: " + programName +
           " [--host 127.0.0.1] [--port 8000] [--call GB7DXC] [--radio-port 0]\n"
           "       [--spot-interval 5] [--verbose]\n"
           "A DX cluster station on an AGW packet engine: accepts connections to --call, greets, sends a\n"
           "spot every --spot-interval seconds, answers sh/dx, bye and \"count N\" (N numbered lines).\n"
           "Logs what it receives and sends on stdout; --verbose also logs every frame to and from the\n"
           "engine on stderr.\n";
}

} // namespace corvantle::cluster
