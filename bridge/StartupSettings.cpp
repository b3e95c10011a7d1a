#include "StartupSettings.h"

#include "SettingsStore.h"
#include "SettingsTable.h"

namespace corvantle {
namespace {

// In the order of the settings table, which is the order the problems are named in.
void readValues(const settings::StartupReader &read, StartupSettings &values) {
    using namespace settings;
    BridgeState &state = values.bridge;
    state.programName = kProgramName;
    state.myCallsign = read.text(kMyCallsign);
    state.cluster = read.text(kCluster);
    state.radioPort = static_cast<int16_t>(read.wholeNumber(kRadioPort));
    values.localPort = static_cast<int32_t>(read.wholeNumber(kLocalPort));
    state.autoMinimize = static_cast<int16_t>(read.wholeNumber(kAutoMinimize));
    state.autoMinimizeDelayMs = static_cast<int32_t>(read.wholeNumber(kAutoMinimizeDelay));
    state.monitorMode = read.boolean(kMonitorMode);
    state.compatibilityMode = read.boolean(kCompatibilityMode);
    state.connectViaDigipeaters = read.boolean(kConnectViaDigi);
    state.digipeaters = read.text(kDigis);
    // Files from before LinkEnd hold Relink=True, which still means Relink.
    const bool relink = read.boolean(kRelink);
    const LinkEnd linkEnd = read.linkEnd(kLinkEnd);
    state.relink = relink || linkEnd == LinkEnd::Relink;
    state.closeClientsWhenLinkEnds = !state.relink && linkEnd == LinkEnd::Close;
    state.keepLinkSeconds = static_cast<int32_t>(read.wholeNumber(kKeepLinkSeconds));
    state.maxClients = static_cast<int32_t>(read.wholeNumber(kClients));
    state.quietKeepalives = read.boolean(kQuietKeepalives);
}

} // namespace

StartupSettings readStartupSettings(const SettingsStore &store) {
    StartupSettings values;
    const settings::StartupReader read(store, kProgramName);
    readValues(read, values);

    // Otherwise the only sign of a damaged file would be settings that seem forgotten.
    if (const std::string notice = store.formatProblemMessage(); !notice.empty()) {
        values.warnings.push_back(notice);
        values.boxes.push_back(notice);
    }
    // A group or key written by hand where the program never looks would otherwise seem forgotten too. The
    // session log says so; no box, since the values in use are the ones the program reads.
    if (const std::string notice = store.unreadKeysMessage(kProgramName); !notice.empty())
        values.warnings.push_back(notice);
    // Standard error (where the log's warnings go too) is not where a user who started the program from the
    // desktop menu looks. The engine library reads and logs its own port as it registers; the box names it.
    values.warnings.insert(values.warnings.end(), read.problems().begin(), read.problems().end());
    const settings::StartupReader engineRead(store, kProgramName);
    engineRead.wholeNumber(settings::kEnginePort);
    if (const std::string box =
            settings::unusableSettingsMessage(read.problems(), engineRead.problems(), store.location());
        !box.empty())
        values.boxes.push_back(box);
    return values;
}

} // namespace corvantle
