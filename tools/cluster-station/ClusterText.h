// The text side of the test DX cluster station: line splitting, spot lines, commands and log escaping.
//
// Pure functions over strings, so the column layout that logging programs parse and the line handling that
// the bridge's output must survive are tested without an engine.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::cluster {

// Columns of a "DX de" line, counted from 0, as clusters send them and logging programs parse them.
inline constexpr std::size_t kFrequencyEndColumn = 24; // the frequency ends just before this column
inline constexpr std::size_t kDxCallColumn = 26;
inline constexpr std::size_t kCommentColumn = 39;
inline constexpr std::size_t kCommentWidth = 30;
inline constexpr std::size_t kTimeColumn = 70;

struct Spot {
    int serial = 0; // unique per run, also written into the comment so each spot can be recognised
    std::string spotter;
    double frequencyKhz = 0.0;
    std::string dxCall;
    std::string comment;
    std::string date; // "10-Dec-2024"
    std::string hhmm; // "1234", UTC
};

// The spot with number `serial`, drawn from rotating lists so that consecutive spots differ in every field.
Spot makeSpot(int serial, const std::tm &utc);

// "DX de K1ABC:     14025.0  JA1XYZ       CW 599 #1                     1234Z", without line end.
std::string formatDxSpot(const Spot &spot);

// The same spot as a line of a "sh/dx" listing, in the shorter layout clusters use for it.
std::string formatShowDxLine(const Spot &spot);

// Cuts received connected data into lines at CR. Each line comes back raw, CR included, so that the log shows
// exactly what arrived; an LF is never a line end and stays at the start of the following line.
class LineSplitter final {
  public:
    std::vector<std::string> feed(std::string_view bytes);
    const std::string &pending() const { return pending_; }

  private:
    std::string pending_;
};

// The command in a raw line: CR and LF removed, blanks trimmed at both ends, lower case.
std::string commandOf(std::string_view rawLine);

// `bytes` in double quotes, printable ASCII as it is, quote and backslash escaped, CR LF TAB as \r \n \t and
// every other byte as \xHH, so that one log line shows the exact bytes.
std::string escapeForLog(std::string_view bytes);

} // namespace corvantle::cluster
