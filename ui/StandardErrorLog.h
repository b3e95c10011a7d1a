// The session log of a program without a window: every line on standard error, without a time, since the
// service manager's journal adds its own. Warnings carry the program's name, as they do with a window.
#pragma once

#include "SessionLog.h"

#include <ostream>
#include <string>

namespace corvantle {

class StandardErrorLog final : public SessionLog {
  public:
    explicit StandardErrorLog(std::ostream &out);

    void note(const std::string &line) override;
    void warn(const std::string &line) override;
    // A start-up message: a warning, unless it is the very warning just written (the bridge both logs and
    // shows some of them, which without a window would print the same line twice).
    void message(const std::string &line);

  private:
    std::ostream &out_;
    std::string lastWarning_;
};

} // namespace corvantle
