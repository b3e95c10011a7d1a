#include "ChosenEngine.h"

#include "AgwEngine.h"
#include "KissEngine.h"
#include "SerialKissTransport.h"
#include "TcpKissTransport.h"

#include <chrono>

namespace corvantle {
namespace {

std::unique_ptr<PacketEngine> makeAgwEngine(const settings::EngineAddress &address, EngineLogLine warnings,
                                            EngineLogLine frames) {
    auto engine = std::make_unique<AgwEngine>(address);
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

std::unique_ptr<PacketEngine> makeChosenEngine(const settings::EngineChoice &engine, int radioPort,
                                               EngineLogLine warnings, EngineLogLine frames) {
    if (!engine.kiss)
        return makeAgwEngine(engine.agw, std::move(warnings), std::move(frames));
    // The settings reading has said what is wrong with an unusable radio port; the TNC's is within KISS's.
    const auto kissPort =
        static_cast<std::uint8_t>(radioPort >= 0 && radioPort <= kiss::kMaxPort ? radioPort : 0);
    return makeKissEngine(engine, kissPort, std::move(warnings), std::move(frames));
}

} // namespace corvantle
