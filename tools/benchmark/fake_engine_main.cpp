// corvantle-fake-engine: the benchmark's packet engine, run by corvantle-benchmark as a process of its own
// so that its work does not share the driver's threads. Prints "port N" (its AGW port) once it listens,
// then serves commands on standard input until "quit" or end of input.
#include "FakeEngine.h"

#include <QCoreApplication>

#include <iostream>
#include <string>
#include <thread>

namespace {

// Reads the driver's commands on a thread of its own and has the engine's thread answer each one.
void serveCommands(corvantle::bench::FakeEngine &engine) {
    for (std::string line; std::getline(std::cin, line);) {
        std::string reply;
        QMetaObject::invokeMethod(
            engine.context(), [&] { return engine.answer(line); }, Qt::BlockingQueuedConnection, &reply);
        std::cout << reply << std::endl;
        if (engine.quitAsked())
            return;
    }
    QMetaObject::invokeMethod(engine.context(), [] { QCoreApplication::quit(); }); // the driver is gone
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    corvantle::bench::FakeEngine engine;
    std::string error;
    if (!engine.listen(error)) {
        std::cerr << "corvantle-fake-engine: " << error << "\n";
        return EXIT_FAILURE;
    }
    std::cout << "port " << engine.port() << std::endl;
    std::thread commands([&engine] { serveCommands(engine); });
    const int status = QCoreApplication::exec();
    commands.join();
    return status;
}
