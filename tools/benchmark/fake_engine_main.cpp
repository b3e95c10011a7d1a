// corvantle-fake-engine: the benchmark's packet engine, run by corvantle-benchmark as a process of its own
// so that its work does not share the driver's threads. Prints "port N" (its AGW port) once it listens,
// then serves commands on standard input until "quit" or end of input.
#include "FakeEngine.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    corvantle::bench::FakeEngine engine;
    std::string error;
    if (!engine.listen(error)) {
        std::fprintf(stderr, "corvantle-fake-engine: %s\n", error.c_str());
        return EXIT_FAILURE;
    }
    std::printf("port %d\n", engine.port());
    std::fflush(stdout);
    engine.run();
    return EXIT_SUCCESS;
}
