#include "StandardErrorLog.h"

namespace corvantle {

StandardErrorLog::StandardErrorLog(std::ostream &out) : out_(out) {}

void StandardErrorLog::note(const std::string &line) {
    out_ << line << std::endl;
    lastWarning_.clear();
}

void StandardErrorLog::warn(const std::string &line) {
    out_ << "corvantle: " << line << std::endl;
    lastWarning_ = line;
}

void StandardErrorLog::message(const std::string &line) {
    if (line != lastWarning_)
        warn(line);
    lastWarning_.clear();
}

} // namespace corvantle
