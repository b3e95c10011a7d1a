#include "StandardErrorLog.h"

#include "JournalLines.h"

#include <algorithm>

namespace corvantle {

StandardErrorLog::StandardErrorLog(std::ostream &out, bool journal) : out_(out), journal_(journal) {
    turnEnd_.setSingleShot(true);
    turnEnd_.setInterval(0);
    QObject::connect(&turnEnd_, &QTimer::timeout, [this] { flush(); });
}

StandardErrorLog::~StandardErrorLog() {
    flush();
}

void StandardErrorLog::note(const std::string &line) {
    flush();
    out_ << line << std::endl;
    warnedSinceNote_.clear();
}

void StandardErrorLog::warn(const std::string &line) {
    flush();
    pending_ = line;
    warnedSinceNote_.push_back(line);
    turnEnd_.start();
}

void StandardErrorLog::message(const std::string &line) {
    if (std::find(warnedSinceNote_.begin(), warnedSinceNote_.end(), line) == warnedSinceNote_.end())
        warn(line);
}

void StandardErrorLog::endingOnLastWarning() {
    writePending(Priority::Error);
}

void StandardErrorLog::flush() {
    writePending(Priority::Warning);
}

void StandardErrorLog::writePending(Priority priority) {
    turnEnd_.stop();
    if (pending_.empty())
        return;
    // A message of several lines: each line carries the priority, since the journal reads them one by one.
    const std::string prefix = priorityPrefix(priority, journal_);
    out_ << prefix << "corvantle: ";
    for (const char c : pending_) {
        out_ << c;
        if (c == '\n')
            out_ << prefix;
    }
    out_ << std::endl;
    pending_.clear();
}

} // namespace corvantle
