#include "IniSettingsStore.h"
#include "SettingsTable.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

using corvantle::IniSettingsStore;
using corvantle::SettingsStore;

namespace {

constexpr const char *kApp = "ZR8QOD Logger/AGWPE Corvantle ";

class IniSettingsStoreTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string path = (dir.path() + "/corvantle/settings.ini").toStdString();
    IniSettingsStore store{path};

    void write(const std::string &app, const std::string &section, const std::string &key,
               const std::string &text) {
        std::string error;
        ASSERT_TRUE(store.writeSetting(app, section, key, text, error)) << error;
    }
    std::string read(const std::string &app, const std::string &section, const std::string &key) {
        return store.readSetting(app, section, key, "<default>");
    }
};

TEST_F(IniSettingsStoreTest, TextsRoundTripExactlyThroughTheFile) {
    for (const std::string text : {"N0CALL", " 5000 ", "RELAY1,RELAY2", "", "a=b;c#d", "trailing blank "}) {
        write(kApp, "Config", "Value", text);
        EXPECT_EQ(IniSettingsStore(path).readSetting(kApp, "Config", "Value", "<default>"), text);
    }
    EXPECT_EQ(read(kApp, "Config", "Missing"), "<default>");
    EXPECT_EQ(read("Never written", "Config", "Value"), "<default>");
}

TEST_F(IniSettingsStoreTest, EveryNameAndSectionIsAPlaceOfItsOwn) {
    write(kApp, "Config", "Port", "1");
    write("ZR8QOD Logger/AGWPE Corvantle", "Config", "Port", "2"); // without the trailing blank
    write("ZR8QOD Logger", "AGWPE Corvantle /Config", "Port", "3");
    write(kApp, "Engine", "Port", "4");
    EXPECT_EQ(read(kApp, "Config", "Port"), "1");
    EXPECT_EQ(read("ZR8QOD Logger/AGWPE Corvantle", "Config", "Port"), "2");
    EXPECT_EQ(read("ZR8QOD Logger", "AGWPE Corvantle /Config", "Port"), "3");
    EXPECT_EQ(read(kApp, "Engine", "Port"), "4");
    EXPECT_EQ(read("ZR8QOD Logger", "AGWPE Corvantle ", "Config"), "<default>");
}

TEST_F(IniSettingsStoreTest, HandWrittenFileIsRead) {
    QDir().mkpath(dir.path() + "/corvantle");
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\n"
               "Config\\MyCallsign=G4ABC\n"
               "Config\\Digis=RELAY1,RELAY2\n");
    file.close();
    EXPECT_EQ(read(kApp, "Config", "MyCallsign"), "G4ABC");
    EXPECT_EQ(read(kApp, "Config", "Digis"), "RELAY1,RELAY2");
}

TEST_F(IniSettingsStoreTest, UnwritableStoreSaysWhy) {
    // A folder where the file should be: no write can succeed, not even as root.
    QDir().mkpath(QString::fromStdString(path));
    std::string error;
    EXPECT_FALSE(store.writeSetting(kApp, "Config", "MyCallsign", "G4ABC", error));
    EXPECT_EQ(error, "it is not a regular file");
}

// Start-up's conversions, read back from the file as the dialog and a person write it.
TEST_F(IniSettingsStoreTest, StartupConversionsReadTheFile) {
    namespace s = corvantle::settings;
    struct Row {
        const s::Key &key;
        std::string stored;
        std::string expected; // the converted value as text; the default when the stored text is unusable
        bool warned;
    };
    const Row rows[] = {
        {s::kMyCallsign, "g4abc-1", "g4abc-1", false},
        {s::kCluster, " GB7DXC ", " GB7DXC ", false},
        {s::kDigis, "RELAY1,RELAY2", "RELAY1,RELAY2", false},
        {s::kRadioPort, "255", "255", false},
        {s::kRadioPort, "-3", "0", true},
        {s::kRadioPort, "256", "0", true},
        {s::kLocalPort, " 5000 ", "5000", false},
        {s::kLocalPort, "5000.0", "5000", false},
        {s::kLocalPort, "65536", "4444", true},
        {s::kLocalPort, "port", "4444", true},
        {s::kAutoMinimize, "1", "1", false},
        {s::kAutoMinimize, "2", "0", true},
        {s::kAutoMinimizeDelay, "2500", "2500", false},
        {s::kAutoMinimizeDelay, "2147483648", "10000", true},
        {s::kMonitorMode, "True", "1", false},
        {s::kCompatibilityMode, "False", "0", false},
        {s::kConnectViaDigi, "yes", "0", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.key.name) + "=" + row.stored);
        write(kApp, s::kSection, row.key.name, row.stored);
        const IniSettingsStore reopened(path);
        const s::StartupReader reader(reopened, kApp);
        const bool isBoolean = std::string(row.key.defaultText) == "False";
        const std::string value = row.key.max != 0 ? std::to_string(reader.wholeNumber(row.key))
                                  : isBoolean      ? std::to_string(reader.boolean(row.key))
                                                   : reader.text(row.key);
        EXPECT_EQ(value, row.expected);
        EXPECT_EQ(reader.problems().size(), row.warned ? 1u : 0u);
    }
}

// Files QSettings cannot read in full. Writing over one keeps only what it could read, so the store copies
// the file first.
const QByteArray kGoodFile = "[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\nConfig\\MyCallsign=G4ABC\n";
// A line typed without "=" before the group: the group is still read, the file is flagged.
const QByteArray kBrokenLine = "MyCallsign G4ABC\n" + kGoodFile;

void putFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

std::optional<QByteArray> fileBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// A file changed on disk since the store opened it is read again by QSettings while writing, which then
// reports its format error in place of the write's outcome.
void changeTimestamp(const QString &path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        file.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5)), QFileDevice::FileModificationTime));
}

std::string readCallsign(const SettingsStore &store) {
    return store.readSetting(kApp, "Config", "MyCallsign", "<default>");
}

bool writeCallsign(SettingsStore &store, const std::string &callsign, std::string &error) {
    return store.writeSetting(kApp, "Config", "MyCallsign", callsign, error);
}

TEST(UnreadableSettingsFile, IsFlaggedExactlyWhenQSettingsCannotReadIt) {
    struct Row {
        const char *name;
        std::optional<QByteArray> contents; // none: no file
        bool flagged;
        std::string callsign; // what is read despite the problem
    };
    const Row rows[] = {
        {"missing file", std::nullopt, false, "<default>"},
        {"empty file", QByteArray(), false, "<default>"},
        {"good file", kGoodFile, false, "G4ABC"},
        {"comments and blank lines", "; written by hand\n\n" + kGoodFile, false, "G4ABC"},
        {"line without = before the group", kBrokenLine, true, "G4ABC"},
        {"group header without ]", "[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20\nConfig\\MyCallsign=G4ABC\n",
         true, "G4ABC"},
        {"binary garbage", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18), true, "<default>"},
        // A UTF-8 byte-order mark, as some editors write one: QSettings reads every key after it.
        {"byte-order mark", "\xEF\xBB\xBF" + kGoodFile, false, "G4ABC"},
        {"byte-order mark and a broken line", "\xEF\xBB\xBF" + kBrokenLine, true, "G4ABC"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        if (row.contents)
            putFile(path, *row.contents);
        const IniSettingsStore store(path.toStdString());
        const SettingsStore &asStore = store;
        EXPECT_EQ(!asStore.formatProblem().empty(), row.flagged) << asStore.formatProblem();
        EXPECT_EQ(readCallsign(store), row.callsign);
        const std::string message = store.formatProblemMessage();
        EXPECT_EQ(!message.empty(), row.flagged);
        if (row.flagged) {
            EXPECT_NE(message.find(path.toStdString() + " could not be read"), std::string::npos) << message;
            EXPECT_NE(message.find(path.toStdString() + ".bad "), std::string::npos) << message;
        }
    }
}

TEST(UnreadableSettingsFile, IsCopiedOnceBeforeTheFirstWriteOverIt) {
    struct Row {
        std::vector<QString> earlierCopies;
        QString expectedCopy;
    };
    const Row rows[] = {
        {{}, ".bad"},
        {{".bad"}, ".bad.1"},
        {{".bad", ".bad.1"}, ".bad.2"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.expectedCopy.toStdString());
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        putFile(path, kBrokenLine);
        for (const QString &suffix : row.earlierCopies)
            putFile(path + suffix, "earlier copy " + suffix.toUtf8());
        IniSettingsStore store(path.toStdString());
        EXPECT_EQ(store.keptCopyPath(), "");
        EXPECT_NE(store.formatProblemMessage().find((path + row.expectedCopy).toStdString()),
                  std::string::npos);

        std::string error;
        ASSERT_TRUE(writeCallsign(store, "G4XYZ", error)) << error;
        EXPECT_EQ(store.keptCopyPath(), (path + row.expectedCopy).toStdString());
        EXPECT_EQ(fileBytes(path + row.expectedCopy), kBrokenLine);
        ASSERT_TRUE(store.writeSetting(kApp, "Config", "Cluster", "GB7DXC", error)) << error;

        QDir folder(dir.path());
        EXPECT_EQ(folder.entryList(QDir::Files).size(), row.earlierCopies.size() + 2) << "one copy only";
        for (const QString &suffix : row.earlierCopies)
            EXPECT_EQ(fileBytes(path + suffix), "earlier copy " + suffix.toUtf8());
        const IniSettingsStore reopened(path.toStdString());
        EXPECT_EQ(readCallsign(reopened), "G4XYZ");
        EXPECT_EQ(reopened.readSetting(kApp, "Config", "Cluster", "<default>"), "GB7DXC");
    }
}

TEST(UnreadableSettingsFile, ChangedSinceOpenedIsStillWrittenOver) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/settings.ini";
    putFile(path, kBrokenLine);
    IniSettingsStore store(path.toStdString());
    changeTimestamp(path);

    std::string error;
    EXPECT_TRUE(writeCallsign(store, "G4XYZ", error)) << error;
    EXPECT_EQ(fileBytes(path + ".bad"), kBrokenLine);
    EXPECT_EQ(readCallsign(IniSettingsStore(path.toStdString())), "G4XYZ");
}

// Names near the 255-byte limit make the copy, or the temporary file QSettings saves through, impossible
// even for root.
TEST(UnreadableSettingsFile, RefusedWriteLeavesItAsItWas) {
    struct Row {
        int nameLength;
        std::string errorStart;
        bool copyKept;
    };
    const Row rows[] = {
        {252, "the unreadable file could not be kept before writing over it: ", false}, // no room for ".bad"
        {250, "the file could not be written", true}, // room for ".bad", none for QSettings's temporary file
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.nameLength);
        QTemporaryDir dir;
        const QString path = dir.path() + "/" + QString(row.nameLength - 4, QLatin1Char('s')) + ".ini";
        putFile(path, kBrokenLine);
        IniSettingsStore store(path.toStdString());
        changeTimestamp(path); // so the failed write reports the format error, not its own failure
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::string error;
            EXPECT_FALSE(writeCallsign(store, "G4XYZ", error));
            EXPECT_EQ(error.substr(0, row.errorStart.size()), row.errorStart) << error;
        }
        EXPECT_EQ(fileBytes(path), kBrokenLine);
        EXPECT_EQ(store.keptCopyPath(), row.copyKept ? (path + ".bad").toStdString() : "");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), row.copyKept ? 2 : 1);
    }
}

TEST(IniSettingsStoreLocation, FollowsXdgConfigHome) {
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(IniSettingsStore::defaultFilePath(), (dir.path() + "/corvantle/settings.ini").toStdString());
    qputenv("XDG_CONFIG_HOME", old);
}

} // namespace

// A file that begins with a byte-order mark is written over as any other: QSettings writes it without the
// mark, and the write is reported as done.
TEST(ByteOrderMark, IsNoReasonToRefuseAWrite) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/settings.ini";
    putFile(path, "\xEF\xBB\xBF" + kGoodFile);
    IniSettingsStore store(path.toStdString());
    std::string error;
    ASSERT_TRUE(writeCallsign(store, "G4XYZ", error)) << error;
    EXPECT_EQ(readCallsign(IniSettingsStore(path.toStdString())), "G4XYZ");
    EXPECT_FALSE(QFileInfo::exists(path + ".bad"));
    ASSERT_TRUE(writeCallsign(store, "G4ABC", error)) << error;
    EXPECT_EQ(readCallsign(IniSettingsStore(path.toStdString())), "G4ABC");
}

// Keys the program never reads, such as a [Config] group written by hand, are named with the group it reads.
TEST(UnreadKeys, AreNamedWithTheGroupTheProgramReads) {
    struct Row {
        const char *name;
        QByteArray contents;
        std::vector<std::string> named; // empty: no message
    };
    const Row rows[] = {
        {"only the program's keys", kGoodFile + "Engine\\Port=8001\nConfig\\ListenAddress=any\n", {}},
        {"a [Config] group by hand",
         "[Config]\nMyCallsign=G4ABC\nCluster=GB7DXC\n",
         {"[Config] MyCallsign", "[Config] Cluster"}},
        {"a misspelt key",
         kGoodFile + "Config\\Callsign=G4ABC\n",
         {"[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20] Config\\Callsign"}},
        {"a key before any group", "MyCallsign=G4ABC\n" + kGoodFile, {"[General] MyCallsign"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/settings.ini";
        putFile(path, row.contents);
        const IniSettingsStore store(path.toStdString());
        const std::string message = static_cast<const SettingsStore &>(store).unreadKeysMessage(kApp);
        if (row.named.empty()) {
            EXPECT_EQ(message, "");
            continue;
        }
        EXPECT_EQ(message.rfind("The settings file " + path.toStdString() +
                                    " holds keys that corvantle does "
                                    "not read: ",
                                0),
                  0u)
            << message;
        for (const std::string &named : row.named)
            EXPECT_NE(message.find(named), std::string::npos) << message;
        EXPECT_NE(
            message.find("It reads only the keys under [ZR8QOD%20Logger%252FAGWPE%20Corvantle%20], such "
                         "as Config\\MyCallsign."),
            std::string::npos)
            << message;
    }
}
