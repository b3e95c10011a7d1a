#include "JournalLines.h"

#include <cstdlib>

namespace corvantle {

bool standardErrorIsJournal() {
    const char *stream = std::getenv("JOURNAL_STREAM");
    return stream != nullptr && *stream != '\0';
}

std::string priorityPrefix(Priority priority, bool journal) {
    if (!journal)
        return {};
    return priority == Priority::Error ? "<3>" : "<4>";
}

PrefixedLines::PrefixedLines(std::ostream &out, std::string prefix)
    : std::ostream(nullptr), buffer_(out, std::move(prefix)) {
    rdbuf(&buffer_);
}

PrefixedLines::Buffer::int_type PrefixedLines::Buffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (atLineStart_)
        out_ << prefix_;
    const char character = traits_type::to_char_type(c);
    out_.put(character);
    atLineStart_ = character == '\n';
    if (atLineStart_)
        out_.flush();
    return c;
}

int PrefixedLines::Buffer::sync() {
    out_.flush();
    return 0;
}

} // namespace corvantle
