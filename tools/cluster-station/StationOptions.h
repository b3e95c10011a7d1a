// The command line of corvantle-cluster-station: which engine to use, which callsign to answer on, how often
// to send spots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvantle::cluster {

struct StationOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 8000; // the AGW Packet Engine's usual port
    std::string call = "GB7DXC";
    std::uint8_t radioPort = 0;
    double spotIntervalSeconds = 5.0;
    bool verbose = false;
};

struct ParsedOptions {
    bool ok = false;
    bool helpWanted = false;
    std::string error;
    StationOptions options;
};

// `args` without the program name.
ParsedOptions parseOptions(const std::vector<std::string> &args);

std::string usageText(const std::string &programName);

} // namespace corvantle::cluster
