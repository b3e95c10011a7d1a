// StationFrames: the engine's frames about the link to the cluster, with Dire Wolf's monitor texts.
#include "StationFrames.h"

#include "Stations.h"

#include <cstdio>
#include <ctime>

namespace corvantle::bench {
namespace {

// Monitor texts end with the wall-clock time the engine heard the frame, as "[hh:mm:ss]".
std::string heardAt() {
    const std::time_t now = std::time(nullptr);
    std::tm fields{};
    localtime_r(&now, &fields);
    char text[16];
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d]", fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

std::string modulo8(std::int64_t number) {
    return std::to_string(number % 8);
}

} // namespace

agw::Frame clusterData(const std::string &payload) {
    return {0, 'D', kPidText, kClusterCall, kProgramCall, payload};
}

agw::Frame monitoredCopy(const std::string &payload, std::int64_t frameNumber) {
    const std::string header = std::string(" 1:Fm ") + kClusterCall + " To " + kProgramCall + " <I S" +
                               modulo8(frameNumber) + " R0 pid=0xF0 Len=" + std::to_string(payload.size()) +
                               " P=0 >" + heardAt() + "\r";
    return {0, 'I', kPidText, kClusterCall, kProgramCall, header + payload + "\r" + std::string(1, '\0')};
}

agw::Frame transmittedAck(std::int64_t frameNumber) {
    const std::string text = std::string(" 1:Fm ") + kProgramCall + " To " + kClusterCall + " <RR R" +
                             modulo8(frameNumber + 1) + " >" + heardAt() + "\r";
    return {0, 'T', 0, kProgramCall, kClusterCall, text + std::string(1, '\0')};
}

} // namespace corvantle::bench
