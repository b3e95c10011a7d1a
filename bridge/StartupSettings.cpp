#include "StartupSettings.h"

#include "SettingsTable.h"

namespace corvantle {

StartupSettings readStartupSettings(const settings::StartupReader &read) {
    using namespace settings;
    StartupSettings values;
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
    return values;
}

} // namespace corvantle
