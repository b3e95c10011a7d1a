// The session log of a program without a window: every line on standard error, without a time, since the
// service manager's journal adds its own. Warnings carry the program's name, as they do with a window, and
// under systemd the journal's priority: "<4>" for a warning, "<3>" for the error the program ends on.
//
// The bridge says some start-up problems twice over (a warning in the log, then the same words as a message
// box), and then may end the program on them. So the last warning is written when the next line comes or the
// event loop next turns, once, and as an error when the program ends on it.
#pragma once

#include "JournalLines.h"
#include "SessionLog.h"

#include <QTimer>

#include <ostream>
#include <string>
#include <vector>

namespace corvantle {

class StandardErrorLog final : public SessionLog {
  public:
    // `journal`: standard error is systemd's journal (see JournalLines.h).
    StandardErrorLog(std::ostream &out, bool journal);
    ~StandardErrorLog() override;
    StandardErrorLog(const StandardErrorLog &) = delete;
    StandardErrorLog &operator=(const StandardErrorLog &) = delete;

    void note(const std::string &line) override;
    void warn(const std::string &line) override;
    // A start-up message: a warning, unless the same words were said as a warning since the last note (the
    // bridge logs each start-up problem and then shows it in a box).
    void message(const std::string &line);
    // The program ends on what was said last: written as an error.
    void endingOnLastWarning();
    // Writes the warning that waits, if any.
    void flush();

  private:
    void writePending(Priority priority);

    std::ostream &out_;
    bool journal_;
    std::string pending_; // the last warning, not written yet
    std::vector<std::string> warnedSinceNote_;
    QTimer turnEnd_;
};

} // namespace corvantle
