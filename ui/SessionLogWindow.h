// The session log: a window, opened from the Options menu, that shows what happened, newest last, each line
// with the time to the second; the same lines go to standard error when the program runs with --verbose.
#pragma once

#include "SessionLog.h"

#include <QWidget>

#include <memory>

class QPlainTextEdit;

namespace corvantle {

class SessionLogWindow final : public QWidget, public SessionLog {
  public:
    // The window keeps the newest `maxLines` lines.
    explicit SessionLogWindow(bool toStandardError, int maxLines = 5000);
    ~SessionLogWindow() override;

    void note(const std::string &line) override;
    void warn(const std::string &line) override;

    // Shows the window, or brings it to the front when it is open.
    void showAndRaise();

    // The lines kept, for tests.
    QStringList lines() const;

  private:
    void append(const QString &line);

    QPlainTextEdit *text_ = nullptr; // owned by this widget
    bool toStandardError_ = false;
};

} // namespace corvantle
