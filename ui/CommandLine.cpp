// The command line read with QCommandLineParser, and the checks that a --config file can be read and saved.
#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>

#include <optional>

namespace corvantle {
namespace {

// Written here rather than taken from QCommandLineParser, whose help cannot show an option with a value
// that may be left out (--verbose[=frames]) and names the program after whatever path started it.
constexpr const char *kHelpText =
    "Usage: corvantle [options]\n"
    "Relays a DX cluster session between telnet clients (up to 8 sharing one\n"
    "radio link) and a cluster station over AX.25, through an AGW packet engine\n"
    "such as Dire Wolf, or a KISS TNC with corvantle's own AX.25 link.\n"
    "Clients connect to 127.0.0.1 port 4444, or where the settings' LocalPort\n"
    "and ListenAddress say; AllowedClients names the machines served.\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this help and end\n"
    "  --version           show the version and end\n"
    "  --config FILE       use FILE as the settings file instead of\n"
    "                      $XDG_CONFIG_HOME/corvantle/settings.ini\n"
    "                      (one file per radio, each with its own LocalPort)\n"
    "  --verbose[=frames]  log the session to standard error; =frames also logs\n"
    "                      every frame to and from the AGW engine or KISS TNC\n"
    "  --headless          run without a window (as a service): the session log\n"
    "                      goes to standard error; SIGTERM ends the program\n";

const QString kVerbosePrefix = QStringLiteral("--verbose=");
const QString kFramesLevel = QStringLiteral("frames");

// The arguments as QCommandLineParser can read them, and the levels given as --verbose=LEVEL.
struct SplitArguments {
    QStringList arguments;
    QStringList verboseLevels;
};

// QCommandLineParser has no option whose value may be left out, so each --verbose=LEVEL is taken apart
// here and the parser sees a plain --verbose. What follows "--", and the value of a separate
// "--config FILE", are file names and are left as they are.
SplitArguments splitVerboseLevels(const QStringList &arguments) {
    SplitArguments split;
    bool namesOnly = false;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString &argument = arguments[index];
        if (index > 0 && !namesOnly && argument.startsWith(kVerbosePrefix)) {
            split.verboseLevels.append(argument.mid(kVerbosePrefix.size()));
            split.arguments.append(QStringLiteral("--verbose"));
            continue;
        }
        split.arguments.append(argument);
        namesOnly = index > 0 && (namesOnly || argument == QLatin1String("--"));
        if (argument == QLatin1String("--config") && !namesOnly && index + 1 < arguments.size())
            split.arguments.append(arguments[++index]);
    }
    return split;
}

int usageError(std::ostream &err, const QString &message) {
    err << "corvantle: " << message.toStdString() << "\nTry 'corvantle --help' for the options.\n";
    return kCommandLineUsageError;
}

// Why an existing `file` cannot be the settings file, or nothing.
std::optional<QString> existingFileProblem(const QFileInfo &file, bool mustBeWritable) {
    if (file.isDir())
        return QStringLiteral("it is a folder");
    if (!file.isFile())
        return QStringLiteral("it is not a regular file");
    if (!file.isReadable())
        return QStringLiteral("it is not readable");
    if (mustBeWritable && !file.isWritable())
        return QStringLiteral("it is not writable");
    return std::nullopt;
}

// Why a file cannot be made in `folderPath`, or nothing. Saving the settings makes the missing folders, so
// what counts is the nearest one that exists.
std::optional<QString> folderProblem(const QString &folderPath) {
    QFileInfo nearest(folderPath);
    while (!nearest.exists() && nearest.absolutePath() != nearest.absoluteFilePath())
        nearest.setFile(nearest.absolutePath());
    if (!nearest.isDir())
        return nearest.absoluteFilePath() + QStringLiteral(" is not a folder");
    if (!nearest.isWritable())
        return QStringLiteral("the folder ") + nearest.absoluteFilePath() +
               QStringLiteral(" is not writable");
    return std::nullopt;
}

std::optional<QString> settingsFileProblem(const QString &path, bool mustBeWritable) {
    if (path.isEmpty())
        return QStringLiteral("no file name was given");
    if (path.endsWith(QLatin1Char('/')))
        return QStringLiteral("it names a folder");
    const QFileInfo file(path);
    if (file.exists())
        return existingFileProblem(file, mustBeWritable);
    return folderProblem(file.absolutePath());
}

// The --config file as an absolute path, or the exit code after saying why it cannot be used.
std::variant<std::string, int> settingsFile(const QStringList &paths, bool mustBeWritable,
                                            std::ostream &err) {
    if (paths.size() > 1)
        return usageError(err, QStringLiteral("--config is given more than once"));
    if (const auto problem = settingsFileProblem(paths.front(), mustBeWritable)) {
        err << "corvantle: cannot use the settings file '" << paths.front().toStdString()
            << "': " << problem->toStdString() << "\n";
        return kCommandLineUsageError;
    }
    return QFileInfo(paths.front()).absoluteFilePath().toStdString();
}

void addOptions(QCommandLineParser &parser) {
    parser.addOptions({
        QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
        // No -v: next to --verbose it would be read either way.
        QCommandLineOption(QStringLiteral("version")),
        QCommandLineOption(QStringLiteral("config"), QString(), QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("verbose")),
        QCommandLineOption(QStringLiteral("headless")),
    });
}

// Answers --help or --version on `out`, if asked; the program then ends.
bool answeredQuestion(const QCommandLineParser &parser, std::ostream &out) {
    if (parser.isSet(QStringLiteral("help"))) {
        out << kHelpText;
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << "corvantle " << CORVANTLE_VERSION_MAJOR << '.' << CORVANTLE_VERSION_MINOR << '.'
            << CORVANTLE_VERSION_PATCH << '\n';
        return true;
    }
    return false;
}

// What the parser accepts but the program does not: arguments that are not options, and unknown levels.
std::optional<QString> argumentProblem(const QCommandLineParser &parser, const QStringList &verboseLevels) {
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().front());
    for (const QString &level : verboseLevels) {
        if (level != kFramesLevel)
            return QStringLiteral("--verbose takes no level but =frames, not '%1'").arg(level);
    }
    return std::nullopt;
}

} // namespace

std::variant<CommandLineOptions, int> parseCommandLine(const QStringList &arguments, std::ostream &out,
                                                       std::ostream &err) {
    const SplitArguments split = splitVerboseLevels(arguments);
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(split.arguments))
        return usageError(err, parser.errorText());
    if (answeredQuestion(parser, out))
        return kCommandLineDone;
    if (const auto problem = argumentProblem(parser, split.verboseLevels))
        return usageError(err, *problem);

    CommandLineOptions options;
    options.verbose = parser.isSet(QStringLiteral("verbose")); // --verbose=frames is a --verbose too
    options.verboseFrames = !split.verboseLevels.isEmpty();
    options.headless = parser.isSet(QStringLiteral("headless"));
    if (parser.isSet(QStringLiteral("config"))) {
        const auto path = settingsFile(parser.values(QStringLiteral("config")), !options.headless, err);
        if (const int *exitCode = std::get_if<int>(&path))
            return *exitCode;
        options.configPath = std::get<std::string>(path);
        options.configIsNew = !QFileInfo::exists(QString::fromStdString(options.configPath));
        // Headless, nothing saves it: the program says so in words of its own.
        if (options.configIsNew && !options.headless)
            err << "corvantle: new settings file " << options.configPath
                << " (created when the settings are first saved)\n";
    }
    return options;
}

} // namespace corvantle
