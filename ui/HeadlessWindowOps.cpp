#include "HeadlessWindowOps.h"

#include "SettingsTable.h"
#include "StandardErrorLog.h"

#include <QCoreApplication>

namespace corvantle {
namespace {
// The bridge's reminder, meant for a window with an Options menu.
constexpr const char *kConfigureReminder =
    "Please configure your Callsign and/or Cluster station in the Options Menu";
} // namespace

HeadlessWindowOps::HeadlessWindowOps(StandardErrorLog &log, std::string settingsFile)
    : log_(log), settingsFile_(std::move(settingsFile)) {}

void HeadlessWindowOps::setTimerInterval(TimerId timer, int32_t intervalMs) {
    this->timer(timer).setInterval(intervalMs);
}

void HeadlessWindowOps::setTimerEnabled(TimerId timer, bool enabled) {
    this->timer(timer).setEnabled(enabled);
}

void HeadlessWindowOps::messageBox(const std::string &prompt) {
    if (prompt != kConfigureReminder) {
        log_.message(prompt);
        return;
    }
    const std::string section = settings::kSection;
    log_.message("not configured: set " + section + "\\" + settings::kMyCallsign.name +
                 " (your callsign) and " + section + "\\" + settings::kCluster.name +
                 " (the DX cluster station) in " + settingsFile_ + ", then restart corvantle");
}

std::string HeadlessWindowOps::whereToConfigure() const {
    const std::string section = settings::kSection;
    return section + "\\" + settings::kMyCallsign.name + " and " + section + "\\" + settings::kCluster.name +
           " in " + settingsFile_ + ", then restart corvantle";
}

void HeadlessWindowOps::endProgram(int exitCode) {
    exitCode_ = exitCode;
    QCoreApplication::exit(exitCode);
}

} // namespace corvantle
