// Where the bridge and the engine library say what happens: registration, link requests and notices,
// clients arriving and leaving, errors, the bytes relayed. ui/ shows it in the session log window and, with
// --verbose, on standard error; warnings reach standard error always.
#pragma once

#include <iostream>
#include <string>

namespace corvantle {

class SessionLog {
  public:
    virtual ~SessionLog() = default;
    // Something that happened in the normal course of a session.
    virtual void note(const std::string &line) = 0;
    // Something the user should hear of even without looking at the log.
    virtual void warn(const std::string &line) = 0;
};

// The log when nobody reads one: warnings on standard error, notes nowhere.
class WarningsOnlyLog final : public SessionLog {
  public:
    void note(const std::string &) override {}
    void warn(const std::string &line) override { std::cerr << "corvantle: " << line << "\n"; }
};

// The log the parts of the bridge write to: it passes each line on to the log the bridge was given, by
// default the warnings-only one.
class ForwardingLog final : public SessionLog {
  public:
    void setTarget(SessionLog &target) { target_ = &target; }
    void note(const std::string &line) override { target_->note(line); }
    void warn(const std::string &line) override { target_->warn(line); }

  private:
    WarningsOnlyLog warningsOnly_;
    SessionLog *target_ = &warningsOnly_;
};

} // namespace corvantle
