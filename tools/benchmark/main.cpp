// corvantle-benchmark: an end-to-end benchmark of the real program, treated as a black box, side by side
// with a direct reader of the same packet engine.
//
// Run: corvantle-benchmark --program build/ui/corvantle [--engine path/to/corvantle-fake-engine]
// (--program defaults to $CORVANTLE; the fake engine to the one next to this binary). Progress goes to
// standard error, the Markdown table to standard output. Missed targets are reported, not failed.
#include "Benchmark.h"
#include "ProgramUnderTest.h"
#include "Report.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

struct Options {
    std::string program;
    std::string engine;
};

std::string besideThisBinary(const std::string &name) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? name : (self.parent_path() / name).string();
}

bool parseOptions(int argc, char *argv[], Options &options) {
    const char *fromEnvironment = std::getenv("CORVANTLE");
    options.program = fromEnvironment ? fromEnvironment : "";
    options.engine = besideThisBinary("corvantle-fake-engine");
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return false;
        if (option == "--program")
            options.program = argv[++i];
        else if (option == "--engine")
            options.engine = argv[++i];
        else
            return false;
    }
    return !options.program.empty();
}

} // namespace

int main(int argc, char *argv[]) {
    std::signal(SIGPIPE, SIG_IGN);
    // The readers here and the fake engine wake up for every chunk they read, and Qt's own event
    // dispatcher costs less per wake-up than GLib's; the program under test keeps the environment the
    // benchmark was given.
    corvantle::bench::ProgramUnderTest::keepGivenEnvironment();
    qputenv("QT_NO_GLIB", "1");
    // For QProcess and the readers' sockets; the driver itself waits without an event loop.
    QCoreApplication application(argc, argv);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << "usage: corvantle-benchmark --program PATH-TO-CORVANTLE [--engine PATH-TO-FAKE-ENGINE]\n"
                     "       (or CORVANTLE=PATH-TO-CORVANTLE in the environment)\n";
        return 2;
    }
    const std::string program = std::filesystem::absolute(options.program).string();
    if (access(program.c_str(), X_OK) != 0) {
        std::cerr << "corvantle-benchmark: " << program << " is not an executable file\n";
        return 1;
    }
    corvantle::bench::Benchmark benchmark(program, options.engine);
    std::string error;
    if (!benchmark.prepare(error)) {
        std::cerr << "corvantle-benchmark: " << error << "\n";
        return 1;
    }
    const auto results = benchmark.run();
    std::cout << corvantle::bench::markdownReport(results, corvantle::bench::thisMachine(program));
    return 0;
}
