#include "ChosenEngine.h"

#include "AgwEngine.h"
#include "KissEngine.h"
#include "SerialKissTransport.h"
#include "SettingsStore.h"
#include "SettingsTable.h"
#include "TcpKissTransport.h"

#include <chrono>

namespace corvantle {
namespace {

std::unique_ptr<PacketEngine> makeAgwEngine(const SettingsStore &store, EngineLogLine warnings,
                                            EngineLogLine frames) {
    auto engine =
        std::make_unique<AgwEngine>([&store](const std::string &appName, const std::string &section,
                                             const std::string &key, const std::string &defaultText) {
            return store.readSetting(appName, section, key, defaultText);
        });
    engine->setLog(std::move(warnings), std::move(frames));
    return engine;
}

std::unique_ptr<PacketEngine> makeKissEngine(const settings::EngineChoice &choice, std::uint8_t kissPort,
                                             EngineLogLine warnings, EngineLogLine frames) {
    std::unique_ptr<kiss::KissTransport> transport;
    if (!choice.kissAddress.device.empty())
        transport =
            std::make_unique<kiss::SerialKissTransport>(choice.kissAddress.device, choice.kissAddress.baud);
    else
        transport =
            std::make_unique<kiss::TcpKissTransport>(choice.kissAddress.host, choice.kissAddress.port);
    kiss::KissEngineOptions options;
    options.link.maxFrame = static_cast<std::size_t>(choice.maxFrame);
    options.link.paclen = static_cast<std::size_t>(choice.paclen);
    options.link.frack = std::chrono::seconds(choice.frackSeconds);
    options.link.retries = choice.retries;
    // A hardware TNC keeps its own transmit delay unless one is set: an engine's KISS port (Dire Wolf's)
    // would otherwise take ours over its configuration.
    if (choice.txDelay > 0) {
        options.tncParameters.push_back(
            {kissPort, kiss::Command::TxDelay, static_cast<std::uint8_t>(choice.txDelay)});
        options.link.keyUp = std::chrono::milliseconds(10 * choice.txDelay); // the link's air-time estimate
    }
    auto engine = std::make_unique<kiss::KissEngine>(std::move(transport), options);
    engine->setLog(std::move(warnings), std::move(frames));
    return engine;
}

} // namespace

std::unique_ptr<PacketEngine> makeChosenEngine(const SettingsStore &store, const std::string &appName,
                                               std::ostream &settingsWarnings, EngineLogLine warnings,
                                               EngineLogLine frames) {
    const settings::EngineChoice choice = settings::readEngineChoice(store, appName, settingsWarnings);
    if (choice.kiss) {
        // The radio port is the TNC's KISS port; the bridge has said what is wrong with an unusable one.
        const auto radioPort = settings::readWholeNumber(
            store.readSetting(appName, settings::kSection, settings::kRadioPort.name, "0"), 0,
            kiss::kMaxPort);
        return makeKissEngine(choice, static_cast<std::uint8_t>(radioPort.value_or(0)), std::move(warnings),
                              std::move(frames));
    }
    return makeAgwEngine(store, std::move(warnings), std::move(frames));
}

} // namespace corvantle
