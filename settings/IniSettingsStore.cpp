// The settings store on QSettings: the INI file's groups and keys, why a write failed, and keeping a file
// that could not be read before writing over it.
#include "IniSettingsStore.h"

#include "SettingsTable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

namespace corvantle {
namespace {

// QSettings reads a slash in a key as a nested group. The application name and the section are therefore
// percent-encoded ("%" and "/" only), so every (name, section) pair lands in a group of its own; the
// trailing blank of a name is kept as it is.
QString encodedGroupPart(const std::string &text) {
    QString part = QString::fromStdString(text);
    part.replace(QLatin1Char('%'), QLatin1String("%25"));
    part.replace(QLatin1Char('/'), QLatin1String("%2F"));
    return part;
}

QString settingPath(const std::string &appName, const std::string &section, const std::string &key) {
    return encodedGroupPart(appName) + QLatin1Char('/') + encodedGroupPart(section) + QLatin1Char('/') +
           encodedGroupPart(key);
}

// A group's name as the INI file spells it in its [header]: QSettings writes "%" and blanks as %25 and %20.
QString iniGroupHeader(QString group) {
    group.replace(QLatin1Char('%'), QLatin1String("%25"));
    group.replace(QLatin1Char(' '), QLatin1String("%20"));
    return QLatin1Char('[') + group + QLatin1Char(']');
}

// A key QSettings lists as "Group/Section/Key" as a person finds it in the file: "[Group] Section\Key".
// Keys before any header are in QSettings' [General] group.
QString asWrittenInFile(const QString &path) {
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return QLatin1String("[General] ") + path;
    QString key = path.mid(slash + 1);
    key.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return iniGroupHeader(path.left(slash)) + QLatin1Char(' ') + key;
}

// Every key the program reads, where QSettings lists it.
QStringList keysRead(const std::string &appName) {
    QStringList paths;
    for (const settings::Key &key : settings::kEveryKey)
        paths << settingPath(appName, key.section, key.name);
    return paths;
}

// Why a file could not be written; QSettings only reports that it failed.
std::string writeFailureReason(const QString &filePath) {
    const QFileInfo file(filePath);
    if (file.exists() && !file.isFile())
        return "it is not a regular file";
    if (file.exists() && !file.isWritable())
        return "the file is read-only";
    QDir folder = file.absoluteDir();
    while (!folder.exists() && !folder.isRoot())
        folder.setPath(QFileInfo(folder.absolutePath()).absolutePath());
    const QFileInfo folderInfo(folder.absolutePath());
    if (!folderInfo.isWritable())
        return "the folder " + folder.absolutePath().toStdString() + " is not writable";
    return "the file could not be written";
}

// QSettings reports a format error only to the instance that parses the faulty group, and keeps what it
// parsed for the rest of the process; the question is therefore asked once, when the store is opened, and
// about every group at once.
bool hasFormatError(const QString &filePath) {
    QSettings file(filePath, QSettings::IniFormat);
    file.allKeys();
    return file.status() == QSettings::FormatError;
}

// Some editors begin a UTF-8 file with a byte-order mark. QSettings reads every key after it, but reports
// the mark as a format error (and does so again after each write, although the file it wrote has none).
const QByteArray kByteOrderMark = "\xEF\xBB\xBF";

bool startsWithByteOrderMark(const QString &filePath) {
    QFile file(filePath);
    return file.open(QIODevice::ReadOnly) && file.read(kByteOrderMark.size()) == kByteOrderMark;
}

// Whether the file without its byte-order mark reads in full.
bool readsInFullWithoutMark(const QString &filePath) {
    QFile file(filePath);
    QTemporaryFile copy;
    if (!file.open(QIODevice::ReadOnly) || !copy.open())
        return false;
    copy.write(file.readAll().mid(kByteOrderMark.size()));
    copy.close();
    return !hasFormatError(copy.fileName());
}

std::string formatProblemOf(const QString &filePath) {
    if (!hasFormatError(filePath))
        return {};
    if (startsWithByteOrderMark(filePath) && readsInFullWithoutMark(filePath))
        return {};
    return "it has lines that are not in INI format";
}

// The first of settings.ini.bad, settings.ini.bad.1, ... that does not exist, so no earlier copy is lost.
QString freeCopyPath(const QString &filePath) {
    QString candidate = filePath + QLatin1String(".bad");
    for (int number = 1; QFileInfo::exists(candidate); ++number)
        candidate = filePath + QLatin1String(".bad.") + QString::number(number);
    return candidate;
}

QByteArray fileBytes(const QString &filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

IniSettingsStore::IniSettingsStore() : IniSettingsStore(defaultFilePath()) {}

IniSettingsStore::IniSettingsStore(std::string filePath)
    : filePath_(std::move(filePath)), formatProblem_(formatProblemOf(QString::fromStdString(filePath_))),
      mustKeepFile_(!formatProblem_.empty()),
      byteOrderMark_(startsWithByteOrderMark(QString::fromStdString(filePath_))) {}

std::string IniSettingsStore::defaultFilePath() {
    // GenericConfigLocation follows $XDG_CONFIG_HOME and falls back to ~/.config.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (base + QLatin1String("/corvantle/settings.ini")).toStdString();
}

std::string IniSettingsStore::readSetting(const std::string &appName, const std::string &section,
                                          const std::string &key, const std::string &defaultText) const {
    const QSettings file(QString::fromStdString(filePath_), QSettings::IniFormat);
    const QVariant value = file.value(settingPath(appName, section, key));
    if (!value.isValid())
        return defaultText;
    // An unquoted value with commas, as a person may type it into the file, reads as a list.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    return value.toString().toStdString();
}

bool IniSettingsStore::writeSetting(const std::string &appName, const std::string &section,
                                    const std::string &key, const std::string &text, std::string &error) {
    if (!keepUnreadableFile(error))
        return false;
    QSettings file(QString::fromStdString(filePath_), QSettings::IniFormat);
    file.setValue(settingPath(appName, section, key), QString::fromStdString(text));
    file.sync();
    // QSettings keeps the first problem it meets: over an unreadable file that is the format error, which
    // hides whether the write itself worked.
    const bool written = file.status() == QSettings::NoError ||
                         (file.status() == QSettings::FormatError && (wasWrittenOver() || markWrittenOver()));
    if (written)
        return true;
    error = writeFailureReason(QString::fromStdString(filePath_));
    return false;
}

std::string IniSettingsStore::unreadKeysMessage(const std::string &appName) const {
    const QStringList read = keysRead(appName);
    QStringList unread;
    const QSettings file(QString::fromStdString(filePath_), QSettings::IniFormat);
    for (const QString &path : file.allKeys())
        if (!read.contains(path))
            unread << asWrittenInFile(path);
    if (unread.isEmpty())
        return {};
    return "The settings file " + filePath_ +
           " holds keys that corvantle does not read: " + unread.join(QLatin1String(", ")).toStdString() +
           ". It reads only the keys under " + iniGroupHeader(encodedGroupPart(appName)).toStdString() +
           ", such as Config\\" + settings::kMyCallsign.name + ".";
}

std::string IniSettingsStore::formatProblemMessage() const {
    if (formatProblem_.empty())
        return {};
    std::string message = "The settings file " + filePath_ + " could not be read in full (" + formatProblem_ +
                          "), so some or all settings are at their defaults. ";
    if (editedByHandOnly_)
        return message + "Correct it by hand, then restart corvantle.";
    if (!keptCopyPath_.empty())
        return message + "The file as it was is kept as " + keptCopyPath_ + ".";
    const QString copyPath = freeCopyPath(QString::fromStdString(filePath_));
    return message + "It will be kept as " + copyPath.toStdString() + " before settings are saved.";
}

// Writing keeps only what QSettings could read, so the file as the user left it is copied first, once.
bool IniSettingsStore::keepUnreadableFile(std::string &error) {
    const QString filePath = QString::fromStdString(filePath_);
    if (mustKeepFile_ && !QFileInfo::exists(filePath))
        mustKeepFile_ = false; // removed since the store was opened: nothing left to lose
    if (!mustKeepFile_)
        return true;
    const QString copyPath = freeCopyPath(filePath);
    QFile original(filePath);
    if (!original.copy(copyPath)) {
        error = "the unreadable file could not be kept before writing over it: " +
                original.errorString().toStdString();
        return false;
    }
    keptCopyPath_ = copyPath.toStdString();
    mustKeepFile_ = false;
    return true;
}

// QSettings reports the byte-order mark it read as a format error after a write too; the write happened
// when the file no longer begins with the mark.
bool IniSettingsStore::markWrittenOver() const {
    return byteOrderMark_ && !startsWithByteOrderMark(QString::fromStdString(filePath_));
}

// QSettings replaces the whole file with one it can read again, so the file differs from the kept,
// unreadable copy exactly when the write took place.
bool IniSettingsStore::wasWrittenOver() const {
    if (keptCopyPath_.empty())
        return false;
    return fileBytes(QString::fromStdString(filePath_)) != fileBytes(QString::fromStdString(keptCopyPath_));
}

} // namespace corvantle
