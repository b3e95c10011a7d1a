#include "ProgramSettings.h"

#include "PlainText.h"
#include "SettingsStore.h"

#include <variant>

namespace corvantle {
namespace {

using settings::StartupReader;

void readBridge(const StartupReader &read, ProgramSettings &values) {
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

ListenPolicy readListen(const StartupReader &read) {
    using namespace settings;
    ListenPolicy policy = ListenPolicy::byDefault();
    const std::string address = read.text(kListenAddress);
    if (const auto parsed = parseListenAddress(address))
        policy.address = *parsed;
    else
        read.unusable(kListenAddress, address, "which is neither an IP address nor \"any\"");

    const std::string list = read.text(kAllowedClients);
    auto allowed = ClientAllowList::parse(list);
    if (ClientAllowList *parsed = std::get_if<ClientAllowList>(&allowed))
        policy.allowed = std::move(*parsed);
    else
        read.unusable(kAllowedClients, list, "where " + std::get<std::string>(allowed));
    return policy;
}

// At start-up the message keeps its shorter words for an address that is no address at all.
std::string kissProblemAtStartup(std::string_view text) {
    const std::string problem = settings::kissAddressProblem(text);
    return problem.starts_with("neither") ? "neither host:port nor a device path" : problem;
}

settings::EngineChoice readEngine(const StartupReader &read) {
    using namespace settings;
    EngineChoice engine;
    // A blank host stands for the default, as Preferences stores it.
    if (std::string host = plain::trimmed(read.text(kEngineHost)); !host.empty())
        engine.agw.host = std::move(host);
    engine.agw.port = static_cast<std::uint16_t>(read.wholeNumber(kEnginePort));

    const std::string kind = plain::trimmed(read.text(kEngineKind));
    if (const auto kiss = readKissEngine(kind))
        engine.kiss = *kiss;
    else
        read.unusable(kEngineKind, kind, "which is neither \"AGW\" nor \"KISS\"");
    const std::string kissText = read.text(kEngineKiss);
    if (const auto address = readKissAddress(kissText))
        engine.kissAddress = *address;
    else
        read.unusable(kEngineKiss, kissText, "which is " + kissProblemAtStartup(kissText));
    engine.maxFrame = static_cast<int>(read.wholeNumber(kKissMaxFrame));
    engine.paclen = static_cast<int>(read.wholeNumber(kKissPaclen));
    engine.frackSeconds = static_cast<int>(read.wholeNumber(kKissFrackSeconds));
    engine.retries = static_cast<int>(read.wholeNumber(kKissRetries));
    engine.txDelay = static_cast<int>(read.wholeNumber(kKissTxDelay));
    return engine;
}

} // namespace

SettingsReading readProgramSettings(const SettingsStore &store) {
    SettingsReading reading;
    const StartupReader read(store, kProgramName);
    // In the order of the settings table, which is the order the problems are named in.
    readBridge(read, reading.settings);
    reading.settings.listen = readListen(read);
    reading.settings.engine = readEngine(read);
    reading.problems = read.problems();
    reading.unreadableNotice = store.formatProblemMessage();
    reading.unreadKeysNotice = store.unreadKeysMessage(kProgramName);
    reading.location = store.location();
    return reading;
}

} // namespace corvantle
