// The README's table of keys and the manual page's list of keys name exactly the keys of the settings table,
// so that neither document can drift from what the program reads. Both files are read from the source tree.
#include "SettingsTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace corvantle::settings {
namespace {

// Every key as "Section\Name", the way the settings file spells it.
std::string fullName(const Key &key) {
    return std::string(key.section) + "\\" + key.name;
}

std::set<std::string> tableKeys() {
    std::set<std::string> keys;
    for (const Key &key : kEveryKey)
        keys.insert(fullName(key));
    return keys;
}

std::vector<std::string> linesOf(const std::string &path) {
    std::ifstream file(path);
    EXPECT_TRUE(file.is_open()) << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// The lines from the one that is `heading` up to the next that starts with `nextHeading`.
std::vector<std::string> section(const std::vector<std::string> &lines, const std::string &heading,
                                 const std::string &nextHeading) {
    std::vector<std::string> inside;
    bool in = false;
    for (const std::string &line : lines) {
        if (in && line.starts_with(nextHeading))
            break;
        if (in)
            inside.push_back(line);
        in = in || line == heading;
    }
    return inside;
}

// The README's table under "## Settings": each row's first cell, `MyCallsign` for a Config key and
// `Engine\Port` for the others, as the program names keys to the user.
std::vector<std::string> readmeKeys(const std::vector<std::string> &readme) {
    static const std::regex row(R"(^\| `([A-Za-z]+\\)?([A-Za-z]+)` \|)");
    std::vector<std::string> keys;
    for (const std::string &line : section(readme, "## Settings", "## ")) {
        std::smatch match;
        if (!std::regex_search(line, match, row))
            continue;
        const std::string sectionPart = match[1].matched ? match[1].str() : std::string(kSection) + "\\";
        keys.push_back(sectionPart + match[2].str());
    }
    return keys;
}

// The manual page's entries under ".SH SETTINGS": the tag line after each ".TP", where a key is written
// "Config\eMyCallsign" (one entry may name several keys).
std::vector<std::string> manualKeys(const std::vector<std::string> &manual) {
    static const std::regex key(R"(\b(Config|Engine)\\e([A-Za-z]+))");
    std::vector<std::string> keys;
    const std::vector<std::string> lines = section(manual, ".SH SETTINGS", ".SH ");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != ".TP")
            continue;
        const std::string &tag = lines[i + 1];
        for (auto it = std::sregex_iterator(tag.begin(), tag.end(), key); it != std::sregex_iterator(); ++it)
            keys.push_back((*it)[1].str() + "\\" + (*it)[2].str());
    }
    return keys;
}

// The example file's lines, "Config\MyCallsign=G4ABC-1", between the lines `opening` and `closing` of the
// section; in the manual page a backslash is written "\e".
std::vector<std::string> exampleKeys(const std::vector<std::string> &lines, const std::string &opening,
                                     const std::string &closing) {
    static const std::regex line(R"(^(Config|Engine)\\e?([A-Za-z]+)=)");
    std::vector<std::string> keys;
    bool in = false;
    for (const std::string &text : lines) {
        if (in && text == closing)
            break;
        std::smatch match;
        if (in && std::regex_search(text, match, line))
            keys.push_back(match[1].str() + "\\" + match[2].str());
        in = in || text == opening;
    }
    return keys;
}

// Names each key the document has that the table does not, and each it lists twice.
std::string unknownOrTwice(const std::vector<std::string> &documented) {
    const std::set<std::string> table = tableKeys();
    std::set<std::string> seen;
    std::ostringstream said;
    for (const std::string &key : documented) {
        if (!table.contains(key))
            said << "  not a key of the settings table: " << key << "\n";
        if (!seen.insert(key).second)
            said << "  listed twice: " << key << "\n";
    }
    return said.str();
}

// ... and each key of the table it lacks.
std::string differences(const std::vector<std::string> &documented) {
    std::ostringstream said;
    said << unknownOrTwice(documented);
    const std::set<std::string> seen(documented.begin(), documented.end());
    for (const std::string &key : tableKeys())
        if (!seen.contains(key))
            said << "  missing: " << key << "\n";
    return said.str();
}

TEST(DocumentedKeys, EveryKeyOnceInTheTable) {
    EXPECT_EQ(tableKeys().size(), std::size(kEveryKey)) << "a key is named twice in kEveryKey";
    for (const Key &key : kAllKeys)
        EXPECT_TRUE(tableKeys().contains(fullName(key))) << key.name;
}

TEST(DocumentedKeys, TheReadmeTableNamesEveryKeyOfTheSettingsTable) {
    const std::vector<std::string> keys = readmeKeys(linesOf(CORVANTLE_SOURCE_DIR "/README.md"));
    ASSERT_FALSE(keys.empty()) << "no table of keys under \"## Settings\"";
    EXPECT_EQ(differences(keys), "") << "README.md, the table under \"## Settings\"";
}

TEST(DocumentedKeys, TheManualPageNamesEveryKeyOfTheSettingsTable) {
    const std::vector<std::string> keys = manualKeys(linesOf(CORVANTLE_SOURCE_DIR "/packaging/corvantle.1"));
    ASSERT_FALSE(keys.empty()) << "no keys under \".SH SETTINGS\"";
    EXPECT_EQ(differences(keys), "") << "packaging/corvantle.1, the entries under \".SH SETTINGS\"";
}

// The example files show keys as a person writes them into the file: each a key of the table, once.
TEST(DocumentedKeys, TheExampleFilesHoldOnlyKeysOfTheSettingsTable) {
    const std::vector<std::string> readme = exampleKeys(
        section(linesOf(CORVANTLE_SOURCE_DIR "/README.md"), "## Settings", "## "), "```ini", "```");
    ASSERT_FALSE(readme.empty()) << "no example file under \"## Settings\"";
    EXPECT_EQ(unknownOrTwice(readme), "") << "README.md, the example file under \"## Settings\"";
    const std::vector<std::string> manual =
        exampleKeys(section(linesOf(CORVANTLE_SOURCE_DIR "/packaging/corvantle.1"), ".SH SETTINGS", ".SH "),
                    ".nf", ".fi");
    ASSERT_FALSE(manual.empty()) << "no example file under \".SH SETTINGS\"";
    EXPECT_EQ(unknownOrTwice(manual), "") << "packaging/corvantle.1, the example file under \".SH SETTINGS\"";
}

} // namespace
} // namespace corvantle::settings
