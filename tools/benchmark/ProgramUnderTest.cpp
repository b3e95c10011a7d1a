// ProgramUnderTest: the settings file, the start with its own environment, and the /proc readings.
#include "ProgramUnderTest.h"

#include "Loopback.h"
#include "MonotonicClock.h"
#include "Stations.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace corvantle::bench {
namespace {

// The settings group is the program's name as its INI store escapes it.
constexpr const char *kSettingsGroup = "[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]";

std::string fileText(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

ProgramUnderTest::ProgramUnderTest(std::string binary, std::filesystem::path workDir, int enginePort)
    : binary_(std::move(binary)), workDir_(std::move(workDir)), enginePort_(enginePort) {}

bool ProgramUnderTest::start(std::string &error) {
    std::filesystem::create_directories(workDir_ / "config" / "corvantle");
    localPort_ = freeLoopbackPort();
    writeSettings();
    const std::string log = (workDir_ / "errors.log").string();
    const int errors = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    startedNs_ = monotonicNs();
    const bool started = process_.start(
        {binary_}, {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (workDir_ / "config").string()},
        {-1, errors, errors}, error);
    if (errors >= 0)
        close(errors);
    return started;
}

std::string ProgramUnderTest::whyGone() {
    if (running())
        return "still running";
    const std::string last = lastLogLine();
    return "corvantle " + process_.howItEnded() + (last.empty() ? "" : ": \"" + last + "\"");
}

std::optional<double> ProgramUnderTest::cpuSeconds() const {
    // Fields after the command name, which may hold blanks: state is the first, utime the 12th, stime the
    // 13th.
    const std::string stat = fileText("/proc/" + std::to_string(process_.pid()) + "/stat");
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string field;
    double ticks = 0;
    for (int index = 1; index <= 13 && fields >> field; ++index) {
        if (index >= 12)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::optional<double> ProgramUnderTest::peakResidentMb() const {
    std::istringstream status(fileText("/proc/" + std::to_string(process_.pid()) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return std::nullopt;
}

void ProgramUnderTest::writeSettings() const {
    std::ofstream settings(workDir_ / "config" / "corvantle" / "settings.ini");
    settings << kSettingsGroup << "\n"
             << "Config\\MyCallsign=" << kProgramCall << "\n"
             << "Config\\Cluster=" << kClusterCall << "\n"
             << "Config\\LocalPort=" << localPort_ << "\n"
             << "Engine\\Host=127.0.0.1\n"
             << "Engine\\Port=" << enginePort_ << "\n";
}

std::string ProgramUnderTest::lastLogLine() const {
    std::istringstream log(fileText((workDir_ / "errors.log").string()));
    std::string last;
    for (std::string line; std::getline(log, line);) {
        if (!line.empty())
            last = line;
    }
    return last;
}

} // namespace corvantle::bench
