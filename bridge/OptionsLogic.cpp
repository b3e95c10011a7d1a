// The Preferences dialog's effect on the running bridge and on the saved settings.
#include "OptionsLogic.h"

#include "Bridge.h"
#include "Callsign.h"
#include "ListenPolicy.h"
#include "PlainText.h"
#include "SettingsTable.h"
#include "SettingsWriter.h"
#include "WindowOps.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace corvantle {
namespace {

// Why OK is refused, and the field to correct; empty when nothing is refused.
struct Refusal {
    OptionsField field = OptionsField::None;
    std::string message;
    bool empty() const { return message.empty(); }
};

// A callsign, cluster or digipeater that the user typed and that is not an AX.25 address is refused: the
// engine could build no frame for it, and the connect would wait in silence. One left as the dialog opened
// with it is not checked; a digipeater counts as typed when the route it opened with did not name it.
Refusal callsignRefusal(const OptionsFields &fields, const OptionsFields &openedWith) {
    const auto check = [](OptionsField id, const char *field, const std::string &call) -> Refusal {
        if (const std::string problem = callsign::airProblem(call);
            !problem.empty() && !callsign::normal(call).empty())
            return {id, std::string(field) + ": \"" + call + "\" " + problem + "."};
        return {};
    };
    const auto typed = [](const std::string &call, const std::string &opened) {
        return callsign::normal(call) != callsign::normal(opened);
    };
    if (typed(fields.callsign, openedWith.callsign))
        if (Refusal refusal = check(OptionsField::Callsign, "Callsign", fields.callsign); !refusal.empty())
            return refusal;
    if (typed(fields.cluster, openedWith.cluster))
        if (Refusal refusal = check(OptionsField::Cluster, "DX Cluster", fields.cluster); !refusal.empty())
            return refusal;
    const std::vector<std::string> digis = callsign::routeCalls(fields.digis);
    if (digis.size() > callsign::kMaxDigipeaters)
        return {OptionsField::Digis, "Via: " + std::to_string(digis.size()) + " digipeaters, at most " +
                                         std::to_string(callsign::kMaxDigipeaters) + " fit."};
    const std::vector<std::string> openedDigis = callsign::routeCalls(openedWith.digis);
    for (const std::string &digi : digis)
        if (std::find(openedDigis.begin(), openedDigis.end(), digi) == openedDigis.end())
            if (Refusal refusal = check(OptionsField::Digis, "Via", digi); !refusal.empty())
                return refusal;
    return {};
}

// A radio port picked from the engine's list shows as "1: first soundcard right"; its number is what counts.
std::string radioPortNumberText(const std::string &field) {
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos)
        return field;
    const std::string number = plain::trimmed(field.substr(0, colon));
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (number.empty() || !std::all_of(number.begin(), number.end(), digit))
        return field;
    return number;
}

// The engine's address as it is stored: a blank host or port stands for the default.
struct EngineTexts {
    std::string host;
    std::string port;
    Refusal refusal; // empty when both fit
};

EngineTexts checkEngineAddress(const OptionsFields &fields) {
    EngineTexts texts;
    texts.host = plain::trimmed(fields.engineHost);
    const auto unfit = [](char c) { return c == ' ' || static_cast<unsigned char>(c) < 0x20; };
    if (std::any_of(texts.host.begin(), texts.host.end(), unfit)) {
        texts.refusal = {OptionsField::EngineHost,
                         "Packet engine host: \"" + fields.engineHost + "\" is not a host name or address."};
        return texts;
    }
    if (texts.host.empty())
        texts.host = settings::kEngineHost.defaultText;

    const std::string port = plain::trimmed(fields.enginePort);
    const settings::Key &key = settings::kEnginePort;
    if (port.empty()) {
        texts.port = key.defaultText;
    } else if (!settings::readNumber(port)) {
        texts.refusal = {OptionsField::EnginePort,
                         "Engine AGW Port: \"" + fields.enginePort + "\" is not a number."};
    } else if (const auto number = settings::readWholeNumber(port, key.min, key.max)) {
        texts.port = std::to_string(*number);
    } else {
        texts.refusal = {OptionsField::EnginePort, "Engine AGW Port: " + port + " is outside 1 to 65535."};
    }
    return texts;
}

// A whole number for one of the link's keys: refused when it is not a number or does not fit the key.
struct CheckedLinkNumber {
    int32_t value = 0;
    Refusal refusal; // empty when it fits
};

CheckedLinkNumber checkLinkNumber(OptionsField id, const char *field, const std::string &text,
                                  const settings::Key &key) {
    const std::string trimmed = plain::trimmed(text);
    if (!settings::readNumber(trimmed))
        return {0, {id, std::string(field) + ": \"" + text + "\" is not a number."}};
    const auto number = settings::readWholeNumber(trimmed, key.min, key.max);
    if (!number)
        return {0,
                {id, std::string(field) + ": " + trimmed + " is outside " + std::to_string(key.min) + " to " +
                         std::to_string(key.max) + "."}};
    return {static_cast<int32_t>(*number), {}};
}

// Values that pass the numeric test but do not fit their field are refused with a reason.
struct CheckedNumbers {
    int16_t radioPort = 0;
    std::optional<int32_t> delayMs; // nothing: the delay field does not pass the numeric test
    Refusal refusal;                // empty when every field fits
};

CheckedNumbers checkNumbers(const OptionsFields &fields) {
    CheckedNumbers checked;
    const std::string radioPort = radioPortNumberText(fields.radioPort);
    if (settings::readNumber(radioPort)) {
        const auto port =
            settings::readWholeNumber(radioPort, settings::kRadioPort.min, settings::kRadioPort.max);
        if (!port) {
            checked.refusal = {OptionsField::RadioPort, "RadioPort: " + radioPort + " is outside 0 to 255."};
            return checked;
        }
        checked.radioPort = static_cast<int16_t>(*port);
    }
    if (const auto seconds = settings::readNumber(fields.autoMinimizeDelay)) {
        const double ms = std::round(*seconds * 1000.0);
        if (ms < 0) {
            checked.refusal = {OptionsField::AutoMinimizeDelay,
                               "AutoMinimize delay: " + fields.autoMinimizeDelay + " is negative."};
            return checked;
        }
        if (ms > INT32_MAX) {
            checked.refusal = {OptionsField::AutoMinimizeDelay,
                               "AutoMinimize delay: " + fields.autoMinimizeDelay +
                                   " seconds is too long; the longest delay is 2147483.647 seconds."};
            return checked;
        }
        checked.delayMs = static_cast<int32_t>(ms);
    }
    if (settings::readNumber(fields.localPort) &&
        !settings::readWholeNumber(fields.localPort, settings::kLocalPort.min, settings::kLocalPort.max)) {
        checked.refusal = {OptionsField::LocalPort,
                           "Local TCP Port: " + fields.localPort + " is outside 1 to 65535."};
        return checked;
    }
    return checked;
}

// The listener's two keys as they are stored (a blank address is the default, a blank list allows this
// machine alone), or why they do not fit.
struct ListenTexts {
    std::string address;
    std::string allowed;
    ListenPolicy policy; // what the next start reads from them
    Refusal refusal;     // empty when both fit
};

ListenTexts checkListenFields(const OptionsFields &fields) {
    ListenTexts texts{plain::trimmed(fields.listenAddress), plain::trimmed(fields.allowedClients), {}, {}};
    if (texts.address.empty())
        texts.address = settings::kListenAddress.defaultText;
    const auto address = parseListenAddress(texts.address);
    if (!address) {
        texts.refusal = {OptionsField::ListenAddress,
                         "Listen on address: \"" + fields.listenAddress +
                             "\" is neither an IPv4 or IPv6 address nor \"any\"."};
        return texts;
    }
    auto allowed = ClientAllowList::parse(texts.allowed);
    if (const std::string *why = std::get_if<std::string>(&allowed)) {
        texts.refusal = {OptionsField::AllowedClients, "Allowed clients: " + *why + "."};
        return texts;
    }
    texts.policy = {*address, std::get<ClientAllowList>(allowed)};
    const ListenPolicy &policy = texts.policy;
    if (policy.beyondLoopback() && policy.allowed.onlyLoopback())
        texts.refusal = {
            OptionsField::AllowedClients,
            "Allowed clients: listening on " + policy.addressText() +
                " reaches other machines, so name the ones to serve (an address, or a range such as "
                "192.168.1.0/24): every client connection transmits under your callsign."};
    return texts;
}

// The KISS TNC and its link's settings as they are stored: a blank TNC stands for the default, as the engine
// host does; each number must fit its key's range.
struct KissTexts {
    std::vector<std::pair<const settings::Key &, std::string>> writes;
    settings::EngineChoice engine; // the TNC and the link's numbers as the next start reads them
    Refusal refusal;               // empty when every field fits
};

KissTexts checkKissFields(const OptionsFields &fields) {
    KissTexts texts;
    std::string address = plain::trimmed(fields.kissAddress);
    if (address.empty())
        address = settings::kEngineKiss.defaultText;
    if (const std::string problem = settings::kissAddressProblem(address); !problem.empty()) {
        texts.refusal = {OptionsField::KissAddress,
                         "KISS TNC: \"" + fields.kissAddress + "\" is " + problem + "."};
        return texts;
    }
    texts.writes.emplace_back(settings::kEngineKiss, address);
    texts.engine.kissAddress = *settings::readKissAddress(address);
    using Engine = settings::EngineChoice;
    struct LinkField {
        OptionsField id;
        const char *name;
        const std::string &text;
        const settings::Key &key;
        int Engine::*value;
    };
    const LinkField numbers[] = {
        {OptionsField::KissMaxFrame, "Frames before an acknowledgement", fields.kissMaxFrame,
         settings::kKissMaxFrame, &Engine::maxFrame},
        {OptionsField::KissPaclen, "Most text in one frame", fields.kissPaclen, settings::kKissPaclen,
         &Engine::paclen},
        {OptionsField::KissFrackSeconds, "Wait for an acknowledgement", fields.kissFrackSeconds,
         settings::kKissFrackSeconds, &Engine::frackSeconds},
        {OptionsField::KissRetries, "Polls before giving up", fields.kissRetries, settings::kKissRetries,
         &Engine::retries},
        {OptionsField::KissTxDelay, "Transmitter key-up delay", fields.kissTxDelay, settings::kKissTxDelay,
         &Engine::txDelay},
    };
    for (const LinkField &field : numbers) {
        const CheckedLinkNumber number = checkLinkNumber(field.id, field.name, field.text, field.key);
        if (!number.refusal.empty()) {
            texts.refusal = number.refusal;
            return texts;
        }
        texts.writes.emplace_back(field.key, std::to_string(number.value));
        texts.engine.*field.value = number.value;
    }
    return texts;
}

OkOutcome refused(const Refusal &refusal) {
    return {false, refusal.message, refusal.field};
}

} // namespace

std::string radioPortChoiceText(const RadioPortChoice &choice) {
    return std::to_string(choice.number) + ": " + choice.description;
}

OptionsLogic::OptionsLogic(Bridge &bridge, WindowOps &window, ProgramSettings stored, SettingsWriter &writer)
    : bridge_(bridge), state_(bridge.state()), window_(window), stored_(std::move(stored)), writer_(writer) {}

OptionsFields OptionsLogic::fieldsToShow() {
    OptionsFields fields;
    // The callsign, the local port, the engine and the listener take effect at the next start: show what
    // that start will use. An unusable text in the file shows as the default that start falls back to.
    fields.callsign = stored_.bridge.myCallsign;
    fields.cluster = state_.cluster;
    fields.localPort = std::to_string(stored_.localPort);
    fields.radioPort = std::to_string(state_.radioPort);
    fields.autoMinimize = state_.autoMinimize != 0;
    fields.autoMinimizeDelay = settings::secondsText(state_.autoMinimizeDelayMs);
    fields.monitorMode = state_.monitorMode;
    fields.compatibilityMode = state_.compatibilityMode;
    fields.digis = state_.digipeaters;
    fields.connectVia = state_.connectViaDigipeaters;
    fields.engineHost = stored_.engine.agw.host;
    fields.enginePort = std::to_string(stored_.engine.agw.port);
    fields.linkEnd = state_.relink                     ? LinkEnd::Relink
                     : state_.closeClientsWhenLinkEnds ? LinkEnd::Close
                                                       : LinkEnd::Keep;
    fields.keepLinkSeconds = std::to_string(state_.keepLinkSeconds);
    fields.clients = std::to_string(state_.maxClients);
    fields.quietKeepalives = state_.quietKeepalives;
    const settings::EngineChoice &engine = stored_.engine;
    fields.kissEngine = engine.kiss;
    fields.kissAddress = settings::kissAddressText(engine.kissAddress);
    fields.kissMaxFrame = std::to_string(engine.maxFrame);
    fields.kissPaclen = std::to_string(engine.paclen);
    fields.kissFrackSeconds = std::to_string(engine.frackSeconds);
    fields.kissRetries = std::to_string(engine.retries);
    fields.kissTxDelay = std::to_string(engine.txDelay);
    fields.listenAddress = stored_.listen.addressText();
    fields.allowedClients = stored_.listen.allowed.text();
    openedWith_ = fields;
    return fields;
}

settings::EngineAddress OptionsLogic::engineToAsk() const {
    return stored_.engine.agw;
}

std::uint8_t OptionsLogic::radioPortInUse() const {
    return static_cast<std::uint8_t>(std::clamp<int>(state_.radioPort, 0, settings::kRadioPort.max));
}

void OptionsLogic::setConnectViaDigipeaters(bool ticked) {
    BridgeState next = state_;
    next.connectViaDigipeaters = ticked;
    bridge_.applySettings(next);
}

OkOutcome OptionsLogic::applyAndSave(const OptionsFields &fields) {
    if (const Refusal refusal = callsignRefusal(fields, openedWith_); !refusal.empty())
        return refused(refusal);
    const CheckedNumbers checked = checkNumbers(fields);
    if (!checked.refusal.empty())
        return refused(checked.refusal);
    const EngineTexts engine = checkEngineAddress(fields);
    if (!engine.refusal.empty())
        return refused(engine.refusal);
    const KissTexts kiss = fields.kissEngine ? checkKissFields(fields) : KissTexts{};
    if (!kiss.refusal.empty())
        return refused(kiss.refusal);
    const CheckedLinkNumber keepLink = checkLinkNumber(OptionsField::KeepLink, "Keep the link",
                                                       fields.keepLinkSeconds, settings::kKeepLinkSeconds);
    if (!keepLink.refusal.empty())
        return refused(keepLink.refusal);
    const CheckedLinkNumber clients =
        checkLinkNumber(OptionsField::Clients, "Clients at a time", fields.clients, settings::kClients);
    if (!clients.refusal.empty())
        return refused(clients.refusal);
    const ListenTexts listen = checkListenFields(fields);
    if (!listen.refusal.empty())
        return refused(listen.refusal);

    // The registered callsign stays in use until the next start; only the store gets the new one.
    const std::string callsign = plain::upper(fields.callsign);
    BridgeState next = state_;
    next.cluster = plain::upper(fields.cluster);
    next.digipeaters = plain::upper(fields.digis);
    next.radioPort = checked.radioPort;
    next.connectViaDigipeaters = fields.connectVia;
    next.monitorMode = fields.monitorMode;
    next.compatibilityMode = fields.compatibilityMode;
    next.autoMinimize = fields.autoMinimize ? 1 : 0;
    if (checked.delayMs)
        next.autoMinimizeDelayMs = *checked.delayMs;
    // The bridge reads these as it needs them: the next drop, the next client leaving or arriving, the next
    // empty line.
    next.relink = fields.linkEnd == LinkEnd::Relink;
    next.closeClientsWhenLinkEnds = fields.linkEnd == LinkEnd::Close;
    next.keepLinkSeconds = keepLink.value;
    next.maxClients = clients.value;
    next.quietKeepalives = fields.quietKeepalives;
    bridge_.applySettings(next);
    if (checked.delayMs)
        window_.setTimerInterval(TimerId::AutoMinimize, state_.autoMinimizeDelayMs);
    window_.setTimerEnabled(TimerId::AutoMinimize, state_.autoMinimize != 0);

    // Callsigns are stored in upper case, as they go on the air: engines match links by exact text and
    // report the calls they hear in upper case.
    const bool localPortPasses = settings::readNumber(fields.localPort).has_value();
    std::vector<std::pair<const settings::Key &, std::string>> writes = {
        {settings::kMyCallsign, callsign},
        {settings::kCluster, state_.cluster},
        {settings::kRadioPort, std::to_string(state_.radioPort)},
        {settings::kAutoMinimize, std::to_string(state_.autoMinimize)},
        {settings::kAutoMinimizeDelay, std::to_string(state_.autoMinimizeDelayMs)},
        {settings::kMonitorMode, settings::booleanText(state_.monitorMode)},
        {settings::kCompatibilityMode, settings::booleanText(state_.compatibilityMode)},
        {settings::kConnectViaDigi, settings::booleanText(state_.connectViaDigipeaters)},
        {settings::kDigis, state_.digipeaters},
        {settings::kLocalPort,
         localPortPasses ? fields.localPort : std::string(settings::kLocalPort.defaultText)},
        {settings::kEngineHost, engine.host},
        {settings::kEnginePort, engine.port},
        {settings::kRelink, settings::booleanText(state_.relink)},
        {settings::kKeepLinkSeconds, std::to_string(state_.keepLinkSeconds)},
        {settings::kClients, std::to_string(state_.maxClients)},
        {settings::kQuietKeepalives, settings::booleanText(state_.quietKeepalives)},
        {settings::kLinkEnd, settings::linkEndText(fields.linkEnd)},
        {settings::kEngineKind, settings::engineKindText(fields.kissEngine)},
    };
    for (const auto &[key, text] : kiss.writes)
        writes.emplace_back(key, text);
    writes.emplace_back(settings::kListenAddress, listen.address);
    writes.emplace_back(settings::kAllowedClients, listen.allowed);
    for (const auto &[key, text] : writes) {
        std::string error;
        if (!writer_.write(key, text, error))
            return {false, "The settings are in use now but could not be saved to " + writer_.location() +
                               ": " + error + "."};
    }

    // What the file holds now, read back as the next start will read it.
    stored_.bridge = state_;
    stored_.bridge.myCallsign = callsign;
    stored_.localPort = static_cast<int32_t>(
        *settings::readWholeNumber(localPortPasses ? fields.localPort : settings::kLocalPort.defaultText,
                                   settings::kLocalPort.min, settings::kLocalPort.max));
    stored_.engine.agw = {engine.host,
                          static_cast<std::uint16_t>(*settings::readWholeNumber(
                              engine.port, settings::kEnginePort.min, settings::kEnginePort.max))};
    // With AGW chosen the file keeps the KISS keys it held, and so does the value.
    if (fields.kissEngine) {
        const settings::EngineAddress agwEngine = stored_.engine.agw;
        stored_.engine = kiss.engine;
        stored_.engine.agw = agwEngine;
    }
    stored_.engine.kiss = fields.kissEngine;
    stored_.listen = listen.policy;
    return {};
}

} // namespace corvantle
