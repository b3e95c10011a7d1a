// Lines on standard error as systemd's journal reads them.
//
// A service's standard error goes to the journal, which takes "<3>" at the start of a line as an error and
// "<4>" as a warning (sd-daemon(3)); other lines get the service's default priority. systemd says that it
// is listening by setting JOURNAL_STREAM. Anywhere else (a terminal, a file) the lines stay as they are.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace corvantle {

enum class Priority { Error, Warning };

// True when standard error is the journal's (JOURNAL_STREAM is set).
bool standardErrorIsJournal();

// "<3>" or "<4>" when `journal`; empty otherwise.
std::string priorityPrefix(Priority priority, bool journal);

// An output stream onto `out` that begins each line with `prefix`: for the parts that write their warnings
// to a stream of their own (the settings readers, the command line).
class PrefixedLines final : public std::ostream {
  public:
    PrefixedLines(std::ostream &out, std::string prefix);

  private:
    class Buffer final : public std::streambuf {
      public:
        Buffer(std::ostream &out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}

      protected:
        int_type overflow(int_type c) override;
        int sync() override;

      private:
        std::ostream &out_;
        std::string prefix_;
        bool atLineStart_ = true;
    };
    Buffer buffer_;
};

} // namespace corvantle
