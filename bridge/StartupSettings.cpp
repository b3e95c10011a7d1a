#include "StartupSettings.h"

#include "ProgramSettings.h"
#include "SettingsTable.h"

namespace corvantle {

StartupSettings startupFrom(const SettingsReading &reading) {
    StartupSettings startup;
    startup.bridge = reading.settings.bridge;
    startup.localPort = reading.settings.localPort;
    // Otherwise the only sign of a damaged file would be settings that seem forgotten.
    if (!reading.unreadableNotice.empty()) {
        startup.warnings.push_back(reading.unreadableNotice);
        startup.boxes.push_back(reading.unreadableNotice);
    }
    // A group or key written by hand where the program never looks would otherwise seem forgotten too. The
    // session log says so; no box, since the values in use are the ones the program reads.
    if (!reading.unreadKeysNotice.empty())
        startup.warnings.push_back(reading.unreadKeysNotice);
    // Standard error (where the log's warnings go too) is not where a user who started the program from the
    // desktop menu looks: the box names them all.
    startup.warnings.insert(startup.warnings.end(), reading.problems.begin(), reading.problems.end());
    if (const std::string box = settings::unusableSettingsMessage(reading.problems, reading.location);
        !box.empty())
        startup.boxes.push_back(box);
    return startup;
}

} // namespace corvantle
