// The information the engine library reads out of a monitored frame's text, as engines write it.
#include "AgwTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace corvantle::agw {
namespace {

// An engine's monitor text: description, "]" CR, then what follows, then the closing NUL.
std::string monitorText(const std::string &description, const std::string &rest) {
    return " 1:Fm K1ABC To W1AW " + description + "[03:09:00]\r" + rest + '\0';
}

TEST(AgwTexts, MonitoredInformationIsWhatTheStationSentOnly) {
    struct Case {
        const char *name;
        std::string text;
        std::string information;
    };
    const Case cases[] = {
        {"stated length", monitorText("<I S0 R0 pid=F0 Len=5 P=0 >", "spot\r\r"), "spot\r"},
        {"line cut in the middle", monitorText("<I S0 R0 pid=F0 Len=9 P=0 >", "a line cu\r"), "a line cu"},
        {"brackets in the information", monitorText("<UI pid=F0 Len=22 >", "brackets ] [x] inside\r\r"),
         "brackets ] [x] inside\r"},
        {"through a digipeater", monitorText("Via RELAY1* <UI pid=F0 Len=3 >", "hey\r"), "hey"},
        {"NUL in the information, cut there by the engine",
         monitorText("<I S0 R0 pid=F0 Len=13 P=0 >", "binary\r"), "binary"},
        {"no stated length", monitorText("<UI pid=F0 >", "two\r\r"), "two\r"},
        {"no stated length, no line end", monitorText("<UI pid=F0 >", "bare\r"), "bare"},
        {"stated length 0", monitorText("<UI pid=F0 Len=0 >", ""), ""},
        {"frame without information", monitorText("<UA F=1 >", ""), ""},
        {"no description end", std::string("DX de K1ABC\r\0", 13), ""},
        {"description end without its CR", std::string(" 1:Fm K1ABC To W1AW <UA>[03:09:00]x\0", 36), ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(monitoredInformation(c.text), c.information) << c.name;
}

} // namespace
} // namespace corvantle::agw
