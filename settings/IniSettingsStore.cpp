#include "IniSettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

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

} // namespace

IniSettingsStore::IniSettingsStore() : IniSettingsStore(defaultFilePath()) {}

IniSettingsStore::IniSettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

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
    QSettings file(QString::fromStdString(filePath_), QSettings::IniFormat);
    file.setValue(settingPath(appName, section, key), QString::fromStdString(text));
    file.sync();
    if (file.status() == QSettings::NoError)
        return true;
    error = writeFailureReason(QString::fromStdString(filePath_));
    return false;
}

} // namespace corvantle
