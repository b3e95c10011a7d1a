// corvantle-cluster-station: a small DX cluster on an AGW packet engine, the far end for end-to-end tests and
// demonstrations of the bridge.
#include "ClusterStation.h"
#include "StationOptions.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    using namespace corvantle::cluster;
    const std::string program = argc > 0 ? argv[0] : "corvantle-cluster-station";
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.helpWanted || !parsed.ok) {
        if (!parsed.ok)
            std::fprintf(stderr, "%s: %s\n", program.c_str(), parsed.error.c_str());
        std::fputs(usageText(program).c_str(), parsed.ok ? stdout : stderr);
        return parsed.ok ? 0 : 2;
    }
    QCoreApplication app(argc, argv);
    return ClusterStation(parsed.options).run();
}
