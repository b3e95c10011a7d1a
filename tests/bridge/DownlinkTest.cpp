// Downlink alone: the writes it hands back for the clients, whole lines one each, a prompt after a second,
// and a line end of its own before the bridge's notice only where the cluster's text stopped mid-line.
#include "Downlink.h"
#include "Ticks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantle {
namespace {

using Writes = std::vector<std::string>;

TEST(DownlinkTest, WholeLinesAtOnceAPromptASecondLate) {
    struct Row {
        const char *what;
        Writes arrivals;
        Writes atOnce;        // handed back as the text arrives
        Writes afterASecond;  // handed back by the ticks of the next second
        Writes beforeANotice; // endLine() after that
    };
    const Row rows[] = {
        {"a line in two frames",
         {"DX de G4XYZ: 14025", ".0 JA1XYZ\r"},
         {"DX de G4XYZ: 14025.0 JA1XYZ\r"},
         {},
         {}},
        {"two lines in one frame", {"a\rb\r"}, {"a\r", "b\r"}, {}, {}},
        {"a prompt", {"\rN0CALL de GB7DXC >"}, {"\r"}, {"N0CALL de GB7DXC >"}, {"\r"}},
        {"a line cut off by the notice", {"DX de"}, {}, {"DX de"}, {"\r"}},
        {"the prompt's line ended later", {"GB7DXC >", "\r"}, {"GB7DXC >\r"}, {}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Downlink downlink;
        Writes atOnce;
        for (const std::string &text : row.arrivals)
            for (std::string &write : downlink.relay(text))
                atOnce.push_back(std::move(write));
        EXPECT_EQ(atOnce, row.atOnce);
        Writes later;
        for (int i = 0; i < kHoldTicks; ++i)
            for (std::string &write : downlink.tick())
                later.push_back(std::move(write));
        EXPECT_EQ(later, row.afterASecond);
        EXPECT_EQ(downlink.endLine(), row.beforeANotice);
        EXPECT_EQ(downlink.endLine(), Writes{}); // once only
    }
}

TEST(DownlinkTest, ANoticeRightAfterAPromptFollowsItOnALineOfItsOwn) {
    Downlink downlink;
    downlink.relay("GB7DXC >");
    EXPECT_EQ(downlink.endLine(), (Writes{"GB7DXC >", "\r"}));
    downlink.relay("half");
    downlink.reset(); // a new session: nothing held from the last one
    EXPECT_EQ(downlink.endLine(), Writes{});
}

} // namespace
} // namespace corvantle
