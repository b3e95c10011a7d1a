// The command line: which argument lists end the program with which exit code and message, and which give
// the options the program runs with. --config files are real files and folders in a temporary folder.
#include "CommandLine.h"
#include "RunMode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstddef>
#include <cstring>
#include <memory>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <variant>

using corvantle::CommandLineOptions;
using corvantle::kCommandLineDone;
using corvantle::kCommandLineUsageError;
using corvantle::parseCommandLine;
using corvantle::RunMode;

namespace {

// What one call printed and returned.
struct Outcome {
    std::variant<CommandLineOptions, int> result;
    QString out;
    QString err;
};

Outcome parse(const QStringList &arguments) {
    std::ostringstream out;
    std::ostringstream err;
    auto result = parseCommandLine(QStringList{QStringLiteral("corvantle")} + arguments, out, err);
    return {std::move(result), QString::fromStdString(out.str()), QString::fromStdString(err.str())};
}

// Each text in `expected` is part of `text`; none expected means `text` is empty.
void verifyHasAll(const QString &text, const QStringList &expected) {
    if (expected.isEmpty())
        QVERIFY2(text.isEmpty(), qPrintable(text));
    for (const QString &part : expected)
        QVERIFY2(text.contains(part), qPrintable(QStringLiteral("'%1' not in:\n%2").arg(part, text)));
}

} // namespace

class CommandLineTest final : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void endsWithExitCode_data();
    void endsWithExitCode();
    void versionIsTheProgramsVersion();
    void givesOptions_data();
    void givesOptions();
    void newFileNeedsNoFolderYet();
    void headlessIsAnOption();
    void runModeFollowsTheOptionAndTheDisplay_data();
    void runModeFollowsTheOptionAndTheDisplay();
    void xServerIsFoundAtItsSocket();

  private:
    // {dir} stands for the temporary folder, {cwd} for the current folder.
    QStringList expanded(const QStringList &texts) const;

    std::unique_ptr<QTemporaryDir> dir_;
};

// A folder with an existing settings file and a plain file that stands where a folder is needed.
void CommandLineTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    for (const QString &name : {QStringLiteral("existing.ini"), QStringLiteral("plain.txt")}) {
        QFile file(dir_->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\nConfig\\LocalPort=4445\n");
    }
}

QStringList CommandLineTest::expanded(const QStringList &texts) const {
    QStringList result;
    for (QString text : texts)
        result << text.replace(QStringLiteral("{dir}"), dir_->path())
                      .replace(QStringLiteral("{cwd}"), QDir::currentPath());
    return result;
}

void CommandLineTest::endsWithExitCode_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("outHas");
    QTest::addColumn<QStringList>("errHas");

    const QStringList helpLines{"Usage: corvantle [options]",
                                "--help",
                                "--version",
                                "--config FILE",
                                "$XDG_CONFIG_HOME/corvantle/settings.ini",
                                "--verbose[=frames]",
                                "log the session to standard error",
                                "=frames also logs",
                                "every frame to and from the AGW engine or KISS TNC",
                                "KISS TNC with corvantle's own AX.25 link",
                                "up to 8 sharing one",
                                "ListenAddress",
                                "AllowedClients"};
    const QStringList tryHelp{"Try 'corvantle --help'"};
    QTest::newRow("--help") << QStringList{"--help"} << kCommandLineDone << helpLines << QStringList();
    QTest::newRow("-h") << QStringList{"-h"} << kCommandLineDone << helpLines << QStringList();
    QTest::newRow("help before other options") << QStringList{"--verbose", "--help", "--config", "{dir}"}
                                               << kCommandLineDone << helpLines << QStringList();

    QTest::newRow("unknown option") << QStringList{"--bogus"} << kCommandLineUsageError << QStringList()
                                    << QStringList{"corvantle: Unknown option 'bogus'"} + tryHelp;
    QTest::newRow("bad option beats help") << QStringList{"--help", "--bogus"} << kCommandLineUsageError
                                           << QStringList() << QStringList{"Unknown option 'bogus'"};
    QTest::newRow("-v is not version")
        << QStringList{"-v"} << kCommandLineUsageError << QStringList() << QStringList{"Unknown option 'v'"};
    QTest::newRow("--config without file")
        << QStringList{"--config"} << kCommandLineUsageError << QStringList()
        << QStringList{"Missing value after '--config'"} + tryHelp;
    QTest::newRow("unknown verbose level") << QStringList{"--verbose=loud"} << kCommandLineUsageError
                                           << QStringList() << QStringList{"=frames, not 'loud'"};
    QTest::newRow("version with a value")
        << QStringList{"--version=2"} << kCommandLineUsageError << QStringList()
        << QStringList{"Unexpected value after '--version'"};
    QTest::newRow("stray argument") << QStringList{"settings.ini"} << kCommandLineUsageError << QStringList()
                                    << QStringList{"unexpected argument 'settings.ini'"} + tryHelp;
    QTest::newRow("verbose level after --") << QStringList{"--", "--verbose=frames"} << kCommandLineUsageError
                                            << QStringList() << QStringList{"unexpected argument '--verbose"};
    QTest::newRow("two config files")
        << QStringList{"--config", "{dir}/a.ini", "--config", "{dir}/b.ini"} << kCommandLineUsageError
        << QStringList() << QStringList{"--config is given more than once"};

    const QString cannotUse = "corvantle: cannot use the settings file '%1': %2";
    QTest::newRow("config is a folder")
        << QStringList{"--config", "{dir}"} << kCommandLineUsageError << QStringList()
        << QStringList{cannotUse.arg("{dir}", "it is a folder")};
    QTest::newRow("config ends in a slash")
        << QStringList{"--config={dir}/new/"} << kCommandLineUsageError << QStringList()
        << QStringList{cannotUse.arg("{dir}/new/", "it names a folder")};
    QTest::newRow("config is a device") << QStringList{"--config", "/dev/null"} << kCommandLineUsageError
                                        << QStringList() << QStringList{"it is not a regular file"};
    QTest::newRow("config is empty") << QStringList{"--config="} << kCommandLineUsageError << QStringList()
                                     << QStringList{"no file name was given"};
    QTest::newRow("folder is a file")
        << QStringList{"--config", "{dir}/plain.txt/settings.ini"} << kCommandLineUsageError << QStringList()
        << QStringList{"{dir}/plain.txt is not a folder"};
    QTest::newRow("folders under a file")
        << QStringList{"--config", "{dir}/plain.txt/radio/two/settings.ini"} << kCommandLineUsageError
        << QStringList() << QStringList{"{dir}/plain.txt is not a folder"};
}

void CommandLineTest::endsWithExitCode() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, outHas);
    QFETCH(QStringList, errHas);

    const Outcome outcome = parse(expanded(arguments));

    QVERIFY(std::holds_alternative<int>(outcome.result));
    QCOMPARE(std::get<int>(outcome.result), exitCode);
    verifyHasAll(outcome.out, outHas);
    verifyHasAll(outcome.err, expanded(errHas));
}

void CommandLineTest::versionIsTheProgramsVersion() {
    const Outcome outcome = parse({QStringLiteral("--version")});

    QCOMPARE(std::get<int>(outcome.result), kCommandLineDone);
    QCOMPARE(outcome.out, QStringLiteral("corvantle " CORVANTLE_PROJECT_VERSION "\n"));
    QVERIFY(outcome.err.isEmpty());
}

void CommandLineTest::givesOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("configPath");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<bool>("verboseFrames");
    QTest::addColumn<QStringList>("errHas");

    QTest::newRow("nothing") << QStringList() << QString() << false << false << QStringList();
    QTest::newRow("--verbose") << QStringList{"--verbose"} << QString() << true << false << QStringList();
    QTest::newRow("--verbose=frames")
        << QStringList{"--verbose=frames"} << QString() << true << true << QStringList();
    QTest::newRow("existing file") << QStringList{"--config", "{dir}/existing.ini"} << "{dir}/existing.ini"
                                   << false << false << QStringList();
    QTest::newRow("existing file, with =") << QStringList{"--verbose", "--config={dir}/existing.ini"}
                                           << "{dir}/existing.ini" << true << false << QStringList();
    QTest::newRow("path made plain") << QStringList{"--config", "{dir}/./radio/../existing.ini"}
                                     << "{dir}/existing.ini" << false << false << QStringList();
    QTest::newRow("new file") << QStringList{"--config", "{dir}/second-radio.ini"} << "{dir}/second-radio.ini"
                              << false << false
                              << QStringList{"corvantle: new settings file {dir}/second-radio.ini"};
    QTest::newRow("new file in new folders")
        << QStringList{"--config", "{dir}/radios/two/settings.ini"} << "{dir}/radios/two/settings.ini"
        << false << false << QStringList{"new settings file {dir}/radios/two/settings.ini"};
    // Headless nothing will make it, so the program itself says so in other words.
    QTest::newRow("new file, headless") << QStringList{"--headless", "--config", "{dir}/second-radio.ini"}
                                        << "{dir}/second-radio.ini" << false << false << QStringList();
    // A file may be named like an option; after --config it is still the file.
    QTest::newRow("file named like an option")
        << QStringList{"--config", "--verbose=frames"} << "{cwd}/--verbose=frames" << false << false
        << QStringList{"new settings file {cwd}/--verbose=frames"};
}

void CommandLineTest::givesOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, configPath);
    QFETCH(bool, verbose);
    QFETCH(bool, verboseFrames);
    QFETCH(QStringList, errHas);

    const Outcome outcome = parse(expanded(arguments));

    QVERIFY2(std::holds_alternative<CommandLineOptions>(outcome.result), qPrintable(outcome.err));
    const auto &options = std::get<CommandLineOptions>(outcome.result);
    QCOMPARE(QString::fromStdString(options.configPath), expanded({configPath}).front());
    QCOMPARE(options.verbose, verbose);
    QCOMPARE(options.verboseFrames, verboseFrames);
    QCOMPARE(options.configIsNew, configPath.contains("second-radio") || configPath.contains("radios/two") ||
                                      configPath.contains("--verbose"));
    QVERIFY(outcome.out.isEmpty());
    verifyHasAll(outcome.err, expanded(errHas));
}

// Reading the command line leaves the disk alone: the file and its folders are made by the first save.
void CommandLineTest::newFileNeedsNoFolderYet() {
    const QString folder = dir_->filePath(QStringLiteral("radios"));

    const Outcome outcome = parse({QStringLiteral("--config"), folder + QStringLiteral("/two/settings.ini")});

    QVERIFY(std::holds_alternative<CommandLineOptions>(outcome.result));
    QVERIFY(!QFileInfo::exists(folder));
}

void CommandLineTest::headlessIsAnOption() {
    const Outcome plain = parse({});
    QVERIFY(!std::get<CommandLineOptions>(plain.result).headless);
    const Outcome headless = parse({QStringLiteral("--headless"), QStringLiteral("--verbose")});
    QVERIFY2(std::holds_alternative<CommandLineOptions>(headless.result), qPrintable(headless.err));
    QVERIFY(std::get<CommandLineOptions>(headless.result).headless);
    QVERIFY(parse({QStringLiteral("--help")}).out.contains(QStringLiteral("--headless")));
}

// Decided before any application object exists, from the raw arguments and the environment.
void CommandLineTest::runModeFollowsTheOptionAndTheDisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment"); // NAME=value
    QTest::addColumn<bool>("xServer");            // an X server answers at DISPLAY
    QTest::addColumn<bool>("headless");
    QTest::addColumn<QString>("says");

    const QString noDisplay = "corvantle: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are not "
                              "set): running headless, without a window\n";
    QTest::newRow("X display") << QStringList() << QStringList{"DISPLAY=:0"} << true << false << QString();
    QTest::newRow("Wayland") << QStringList() << QStringList{"WAYLAND_DISPLAY=wayland-0"} << false << false
                             << QString();
    QTest::newRow("a platform named")
        << QStringList() << QStringList{"QT_QPA_PLATFORM=offscreen"} << false << false << QString();
    QTest::newRow("--headless with a display")
        << QStringList{"--headless"} << QStringList{"DISPLAY=:0"} << true << true << QString();
    QTest::newRow("no display") << QStringList{"--verbose"} << QStringList() << false << true << noDisplay;
    QTest::newRow("empty DISPLAY") << QStringList() << QStringList{"DISPLAY="} << false << true << noDisplay;
    QTest::newRow("a file named --headless")
        << QStringList{"--config", "--headless"} << QStringList{"DISPLAY=:0"} << true << false << QString();
    QTest::newRow("after --") << QStringList{"--", "--headless"} << QStringList{"DISPLAY=:0"} << true << false
                              << QString();
    // Qt would abort on a DISPLAY that no X server answers at (a service started with a stale one).
    QTest::newRow("DISPLAY without an X server")
        << QStringList() << QStringList{"DISPLAY=:7"} << false << true
        << "corvantle: no X server answers at DISPLAY=:7: running headless, without a window\n";
    QTest::newRow("no X server, a platform named")
        << QStringList() << QStringList{"DISPLAY=:7", "QT_QPA_PLATFORM=offscreen"} << false << false
        << QString();
    QTest::newRow("no X server, Wayland")
        << QStringList() << QStringList{"DISPLAY=:7", "WAYLAND_DISPLAY=wayland-0"} << false << false
        << QString();
    // --help and --version answer and end: no window to go without, so no line about it.
    QTest::newRow("--help, no display")
        << QStringList{"--help"} << QStringList() << false << true << QString();
    QTest::newRow("-h, no display") << QStringList{"-h"} << QStringList() << false << true << QString();
    QTest::newRow("--version, no display")
        << QStringList{"--verbose", "--version"} << QStringList() << false << true << QString();
    QTest::newRow("--version, no X server")
        << QStringList{"--version"} << QStringList{"DISPLAY=:7"} << false << true << QString();
    QTest::newRow("a file named --help")
        << QStringList{"--config", "--help"} << QStringList() << false << true << noDisplay;
    QTest::newRow("--version after --")
        << QStringList{"--", "--version"} << QStringList() << false << true << noDisplay;
}

void CommandLineTest::runModeFollowsTheOptionAndTheDisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(bool, xServer);
    QFETCH(bool, headless);
    QFETCH(QString, says);

    std::vector<QByteArray> texts{"corvantle"};
    for (const QString &argument : arguments)
        texts.push_back(argument.toUtf8());
    std::vector<const char *> argv;
    for (const QByteArray &text : texts)
        argv.push_back(text.constData());
    QProcessEnvironment variables;
    for (const QString &variable : environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    std::ostringstream err;

    const RunMode mode = corvantle::chooseRunMode(static_cast<int>(argv.size()), argv.data(), variables, err,
                                                  [&](const QString &) { return xServer; });

    QCOMPARE(mode == RunMode::Headless, headless);
    QCOMPARE(QString::fromStdString(err.str()), says);
}

// The X server's socket as it listens: the abstract name, as a local X server on Linux also has.
void CommandLineTest::xServerIsFoundAtItsSocket() {
    int display = 900;
    while (corvantle::xServerAnswers(":" + QString::number(display)) && display < 1000)
        ++display;
    const QString free = ":" + QString::number(display);
    QVERIFY(!corvantle::xServerAnswers(free));
    QVERIFY(!corvantle::xServerAnswers("unix" + free + ".0"));

    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(server >= 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(display);
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    QVERIFY(::bind(server, reinterpret_cast<sockaddr *>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0);
    QVERIFY(::listen(server, 1) == 0);
    QVERIFY(corvantle::xServerAnswers(free));
    QVERIFY(corvantle::xServerAnswers(free + ".0"));
    ::close(server);
    // What it cannot read is left to Qt.
    QVERIFY(corvantle::xServerAnswers("somewhere"));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
