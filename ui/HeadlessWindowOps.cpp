#include "HeadlessWindowOps.h"

#include "SettingsTable.h"
#include "StandardErrorLog.h"

#include <QCoreApplication>

#include <sstream>

namespace corvantle {
namespace {
// The start of the box that names every stored value start-up could not use, one line each after the first.
constexpr std::string_view kUnusableSettings = "Some stored settings could not be used";

// The key a problem line names (setting "RadioPort" holds ...), as the file spells it: Config\RadioPort.
std::string keyOfProblem(const std::string &line) {
    const std::string opening = "setting \"";
    if (line.rfind(opening, 0) != 0)
        return {};
    const std::size_t end = line.find('"', opening.size());
    if (end == std::string::npos)
        return {};
    const std::string key = line.substr(opening.size(), end - opening.size());
    return key.find('\\') == std::string::npos ? std::string(settings::kSection) + "\\" + key : key;
}

} // namespace

HeadlessWindowOps::HeadlessWindowOps(StandardErrorLog &log, std::string settingsFile)
    : log_(log), settingsFile_(std::move(settingsFile)) {}

// The window's reminder speaks of its Options menu: here the file and its keys.
void HeadlessWindowOps::remindToConfigure() {
    const std::string section = settings::kSection;
    log_.message("not configured: set " + section + "\\" + settings::kMyCallsign.name +
                 " (your callsign) and " + section + "\\" + settings::kCluster.name +
                 " (the DX cluster station) in " + settingsFile_ + ", then restart corvantle");
}

void HeadlessWindowOps::messageBox(const std::string &prompt) {
    if (prompt.rfind(kUnusableSettings, 0) == 0) {
        log_.message(unusableSettingsLine(prompt));
        return;
    }
    log_.message(prompt);
}

// Each value was named in a line of its own just before; the box would name them all again, and speaks of
// Preferences, which a program without a window has not.
std::string HeadlessWindowOps::unusableSettingsLine(const std::string &box) const {
    std::istringstream lines(box);
    std::string line;
    std::getline(lines, line); // the heading
    std::string keys;
    while (std::getline(lines, line)) {
        const std::string key = keyOfProblem(line);
        if (!key.empty() && keys.find(key) == std::string::npos)
            keys += (keys.empty() ? "" : ", ") + key;
    }
    return std::string(kUnusableSettings) + "; their defaults are in use until you correct " + keys + " in " +
           settingsFile_ + " and restart corvantle";
}

std::string HeadlessWindowOps::whereToConfigure() const {
    const std::string section = settings::kSection;
    return section + "\\" + settings::kMyCallsign.name + " and " + section + "\\" + settings::kCluster.name +
           " in " + settingsFile_ + ", then restart corvantle";
}

void HeadlessWindowOps::endProgram(int exitCode) {
    if (exitCode != 0)
        log_.endingOnLastWarning();
    QCoreApplication::exit(exitCode);
}

} // namespace corvantle
