// The Preferences dialog's effect on the running bridge and on the settings store.
#include "OptionsLogic.h"

#include "AgwCalls.h"
#include "PacketEngine.h"
#include "SettingsStore.h"
#include "SettingsTable.h"
#include "TelnetSocket.h"
#include "WindowOps.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace corvantle {
namespace {

// A callsign, cluster or digipeater that does not fit the engine's call fields is refused: cut short, it
// would name another station.
std::string callsignRefusal(const OptionsFields &fields) {
    const auto check = [](const char *field, const std::string &call) -> std::string {
        if (const std::string problem = agw::callProblem(agw::normalCall(call));
            !problem.empty() && !agw::normalCall(call).empty())
            return std::string(field) + ": \"" + call + "\" " + problem + ".";
        return {};
    };
    if (std::string refusal = check("Callsign", fields.callsign); !refusal.empty())
        return refusal;
    if (std::string refusal = check("DX Cluster", fields.cluster); !refusal.empty())
        return refusal;
    const std::vector<std::string> digis = agw::routeCalls(fields.digis);
    if (digis.size() > agw::kMaxDigipeaters)
        return "Via: " + std::to_string(digis.size()) + " digipeaters, at most " +
               std::to_string(agw::kMaxDigipeaters) + " fit.";
    for (const std::string &digi : digis)
        if (std::string refusal = check("Via", digi); !refusal.empty())
            return refusal;
    return {};
}

// Values that pass the numeric test but do not fit their field are refused with a reason.
struct CheckedNumbers {
    int16_t radioPort = 0;
    std::optional<int32_t> delayMs; // nothing: the delay field does not pass the numeric test
    std::string refusal;            // empty when every field fits
};

CheckedNumbers checkNumbers(const OptionsFields &fields) {
    CheckedNumbers checked;
    if (settings::readNumber(fields.radioPort)) {
        const auto port = settings::readWholeNumber(fields.radioPort, settings::kRadioPort.min,
                                                    settings::kRadioPort.max);
        if (!port) {
            checked.refusal = "RadioPort: " + fields.radioPort + " is outside 0 to 255.";
            return checked;
        }
        checked.radioPort = static_cast<int16_t>(*port);
    }
    if (const auto seconds = settings::readNumber(fields.autoMinimizeDelay)) {
        const double ms = std::round(*seconds * 1000.0);
        if (ms < 0) {
            checked.refusal = "AutoMinimize delay: " + fields.autoMinimizeDelay + " is negative.";
            return checked;
        }
        if (ms > INT32_MAX) {
            checked.refusal = "AutoMinimize delay: " + fields.autoMinimizeDelay +
                              " seconds is too long; the longest delay is 2147483.647 seconds.";
            return checked;
        }
        checked.delayMs = static_cast<int32_t>(ms);
    }
    if (settings::readNumber(fields.localPort) &&
        !settings::readWholeNumber(fields.localPort, settings::kLocalPort.min, settings::kLocalPort.max)) {
        checked.refusal = "Local TCP Port: " + fields.localPort + " is outside 1 to 65535.";
        return checked;
    }
    return checked;
}

} // namespace

OptionsLogic::OptionsLogic(BridgeState &state, WindowOps &window, TelnetSocket &socket, PacketEngine &engine,
                           SettingsStore &store)
    : state_(state), window_(window), socket_(socket), engine_(engine), store_(store) {}

OptionsFields OptionsLogic::fieldsToShow() const {
    OptionsFields fields;
    // The callsign and the local port take effect at the next start: show what that start will use.
    fields.callsign = store_.readSetting(state_.programName, settings::kSection, settings::kMyCallsign.name,
                                         state_.myCallsign);
    fields.cluster = state_.cluster;
    fields.localPort = store_.readSetting(state_.programName, settings::kSection, settings::kLocalPort.name,
                                          std::to_string(socket_.localPort()));
    fields.radioPort = std::to_string(state_.radioPort);
    fields.autoMinimize = state_.autoMinimize != 0;
    fields.autoMinimizeDelay = settings::secondsText(state_.autoMinimizeDelayMs);
    fields.monitorMode = state_.monitorMode;
    fields.compatibilityMode = state_.compatibilityMode;
    fields.digis = state_.digipeaters;
    fields.connectVia = state_.connectViaDigipeaters;
    return fields;
}

void OptionsLogic::setConnectViaDigipeaters(bool ticked) { state_.connectViaDigipeaters = ticked; }

OkOutcome OptionsLogic::applyAndSave(const OptionsFields &fields) {
    if (const std::string refusal = callsignRefusal(fields); !refusal.empty())
        return {false, refusal};
    const CheckedNumbers checked = checkNumbers(fields);
    if (!checked.refusal.empty())
        return {false, checked.refusal};

    // The registered callsign stays in use until the next start; only the store gets the new one.
    const std::string callsign = agw::upper(fields.callsign);
    state_.cluster = agw::upper(fields.cluster);
    state_.digipeaters = agw::upper(fields.digis);
    state_.radioPort = checked.radioPort;
    state_.connectViaDigipeaters = fields.connectVia;
    state_.monitorMode = fields.monitorMode;
    if (state_.monitorMode && state_.linkUp)
        engine_.disconnect(state_.cluster, state_.radioPort);
    state_.compatibilityMode = fields.compatibilityMode;
    state_.autoMinimize = fields.autoMinimize ? 1 : 0;
    if (checked.delayMs) {
        state_.autoMinimizeDelayMs = *checked.delayMs;
        window_.setTimerInterval(TimerId::AutoMinimize, state_.autoMinimizeDelayMs);
    }
    window_.setTimerEnabled(TimerId::AutoMinimize, state_.autoMinimize != 0);

    // Texts are stored as the bridge now uses them: an engine refuses lower-case callsigns, so a
    // callsign stored as typed would fail from the next start on.
    const bool localPortPasses = settings::readNumber(fields.localPort).has_value();
    const std::vector<std::pair<const settings::Key &, std::string>> writes = {
        {settings::kMyCallsign, callsign},
        {settings::kCluster, state_.cluster},
        {settings::kRadioPort, std::to_string(state_.radioPort)},
        {settings::kAutoMinimize, std::to_string(state_.autoMinimize)},
        {settings::kAutoMinimizeDelay, std::to_string(state_.autoMinimizeDelayMs)},
        {settings::kMonitorMode, settings::booleanText(state_.monitorMode)},
        {settings::kCompatibilityMode, settings::booleanText(state_.compatibilityMode)},
        {settings::kConnectViaDigi, settings::booleanText(state_.connectViaDigipeaters)},
        {settings::kDigis, state_.digipeaters},
        {settings::kLocalPort, localPortPasses ? fields.localPort : std::string(settings::kLocalPort.defaultText)},
    };
    for (const auto &[key, text] : writes) {
        std::string error;
        if (!store_.writeSetting(state_.programName, settings::kSection, key.name, text, error))
            return {false, "The settings are in use now but could not be saved to " + store_.location() + ": " +
                               error + "."};
    }
    return {};
}

} // namespace corvantle
