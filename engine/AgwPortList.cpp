// Reading an engine's port list: which entries are ports, which number each one has, and its description.
#include "AgwPortList.h"

#include <algorithm>
#include <optional>
#include <set>

namespace corvantle::agw {
namespace {

constexpr int kLargestPort = 255; // the header's port field is one byte

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool startsWithWord(std::string_view text, std::string_view word) {
    return text.substr(0, word.size()) == word && (text.size() == word.size() || text[word.size()] == ' ');
}

// One entry of the list, taken apart.
struct Entry {
    std::optional<int> listedNumber; // K of a leading "PortK"
    bool withForm = false;           // "PortK with ...", as soundmodem and LinBPQ word it
    std::string_view words;          // the rest: the port's description
};

Entry readEntry(std::string_view text) {
    Entry entry;
    entry.words = text;
    if (text.substr(0, 4) != "Port")
        return entry;
    std::size_t end = 4;
    while (end < text.size() && end < 8 && isDigit(text[end]))
        ++end;
    if (end == 4 || (end < text.size() && text[end] != ' '))
        return entry;
    entry.listedNumber = std::stoi(std::string(text.substr(4, end - 4)));
    entry.words = trimBlanks(text.substr(end));
    if (startsWithWord(entry.words, "with")) {
        entry.withForm = true;
        entry.words = trimBlanks(entry.words.substr(4));
    }
    return entry;
}

// Entries that only keep the later ports in their places.
bool isPlaceholder(const Entry &entry) {
    return entry.words == "INVALID CHANNEL" || entry.words == "Disabled";
}

// Dire Wolf's channels that are no radio: they carry no AX.25 links.
bool isWithoutRadio(const Entry &entry) {
    return entry.words == "Internet Gateway" || entry.words == "Network TNC";
}

// soundmodem names the sound card channel, "SoundCard Ch C" (or "Ch: C"), whatever the entry's number.
std::optional<int> soundCardChannel(std::string_view words) {
    constexpr std::string_view kName = "SoundCard Ch";
    const std::size_t at = words.find(kName);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = words.substr(at + kName.size());
    if (!rest.empty() && rest.front() == ':')
        rest.remove_prefix(1);
    rest = trimBlanks(rest);
    if (rest.size() != 1 || rest.front() < 'A' || rest.front() > 'Z')
        return std::nullopt;
    return rest.front() - 'A';
}

int portNumber(const Entry &entry, int position) {
    if (const auto channel = soundCardChannel(entry.words))
        return *channel;
    // Dire Wolf's unwordy "PortK" names channel K-1, also where older versions leave gaps out of the list.
    if (entry.listedNumber && !entry.withForm && *entry.listedNumber >= 1)
        return *entry.listedNumber - 1;
    return position;
}

// The ';'-terminated fields before the first NUL. Text after the last ';' is dropped: Dire Wolf cuts a long
// list short in the middle of an entry.
std::vector<std::string_view> fields(std::string_view data) {
    data = data.substr(0, data.find('\0'));
    std::vector<std::string_view> out;
    for (std::size_t end = data.find(';'); end != std::string_view::npos; end = data.find(';')) {
        out.push_back(data.substr(0, end));
        data.remove_prefix(end + 1);
    }
    return out;
}

bool isCount(std::string_view text) {
    text = trimBlanks(text);
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

} // namespace

std::vector<RadioPortChoice> radioPortChoices(std::string_view answerData) {
    const std::vector<std::string_view> list = fields(answerData);
    if (list.empty() || !isCount(list.front()))
        return {};
    std::vector<RadioPortChoice> choices;
    std::set<int> taken;
    for (std::size_t i = 1; i < list.size(); ++i) {
        const std::string_view text = trimBlanks(list[i]);
        if (std::any_of(text.begin(), text.end(), isControl))
            return {};
        const Entry entry = readEntry(text);
        if (text.empty() || isPlaceholder(entry) || isWithoutRadio(entry))
            continue;
        const int number = portNumber(entry, static_cast<int>(i - 1));
        if (number > kLargestPort || !taken.insert(number).second)
            continue;
        choices.push_back({number, std::string(entry.words.empty() ? text : entry.words)});
    }
    return choices;
}

} // namespace corvantle::agw
