// ProgramUnderTest: the run's directory and error log around the tests' launcher.
#include "ProgramUnderTest.h"

#include "MonotonicClock.h"
#include "Stations.h"

#include <fstream>
#include <sstream>

namespace corvantle::bench {
namespace {

QProcessEnvironment &givenEnvironment() {
    static QProcessEnvironment given = QProcessEnvironment::systemEnvironment();
    return given;
}

} // namespace

void ProgramUnderTest::keepGivenEnvironment() {
    givenEnvironment();
}

ProgramUnderTest::ProgramUnderTest(std::string binary, std::filesystem::path workDir, int enginePort)
    : binary_(std::move(binary)), workDir_(std::move(workDir)), enginePort_(enginePort) {}

bool ProgramUnderTest::start(std::string &error) {
    std::filesystem::create_directories(workDir_);
    localPort_ = test::freePort();
    const QString configHome = QString::fromStdString((workDir_ / "config").string());
    if (!test::prepareProgram(process_, configHome, kProgramCall, static_cast<quint16>(localPort_),
                              std::to_string(enginePort_))) {
        error = "cannot write the settings under " + configHome.toStdString();
        return false;
    }
    QProcessEnvironment environment = givenEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "QT_QPA_PLATFORM"})
        environment.insert(name, process_.processEnvironment().value(name));
    process_.setProcessEnvironment(environment);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QString::fromStdString((workDir_ / "errors.log").string()));
    startedNs_ = monotonicNs();
    if (!process_.launch(QString::fromStdString(binary_), {})) {
        error = "cannot start " + binary_ + ": " + process_.errorString().toStdString();
        return false;
    }
    return true;
}

std::string ProgramUnderTest::whyGone() {
    if (running())
        return "still running";
    const std::string last = lastLogLine();
    return "corvantle " + process_.howItEnded().toStdString() + (last.empty() ? "" : ": \"" + last + "\"");
}

std::string ProgramUnderTest::lastLogLine() const {
    std::ifstream log(workDir_ / "errors.log");
    std::string last;
    for (std::string line; std::getline(log, line);) {
        if (!line.empty())
            last = line;
    }
    return last;
}

} // namespace corvantle::bench
