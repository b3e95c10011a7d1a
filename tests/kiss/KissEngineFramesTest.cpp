// The EngineFrames the KissEngine hands the bridge: the AGW engines' notice texts, and the text of frames
// heard between other stations, also on their modulo 128 links.
#include "KissEngineFrames.h"

#include <gtest/gtest.h>

namespace corvantle::kiss {
namespace {

const ax25::Address kUser{"N0CALL", 0};
const ax25::Address kCluster{"GB7DXC", 1};

TEST(KissEngineFrames, LinkEventsBecomeLinkNotices) {
    struct Case {
        ax25::LinkEvent event;
        FrameKind kind;
        std::string text;
    };
    const Case cases[] = {
        {{ax25::LinkEvent::Kind::Up, {}, {}}, FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC-1\r"},
        {{ax25::LinkEvent::Kind::Down, ax25::DownReason::ByPeer, {}},
         FrameKind::LinkDown,
         "*** DISCONNECTED From Station GB7DXC-1\r"},
        {{ax25::LinkEvent::Kind::Down, ax25::DownReason::ByUs, {}},
         FrameKind::LinkDown,
         "*** DISCONNECTED From Station GB7DXC-1\r"},
        {{ax25::LinkEvent::Kind::Down, ax25::DownReason::Refused, {}},
         FrameKind::LinkDown,
         "*** DISCONNECTED From Station GB7DXC-1\r"},
        {{ax25::LinkEvent::Kind::Down, ax25::DownReason::RetriesExhausted, {}},
         FrameKind::LinkDown,
         "*** DISCONNECTED RETRYOUT With GB7DXC-1\r"},
        {{ax25::LinkEvent::Kind::Data, {}, "DX de K1ABC\r"}, FrameKind::LinkData, "DX de K1ABC\r"},
    };
    for (const Case &c : cases) {
        const EngineFrame frame = linkFrameOf(c.event, 2, kCluster, kUser);
        EXPECT_EQ(frame.kind, c.kind);
        EXPECT_EQ(frame.text, c.text);
        EXPECT_EQ(frame.radioPort, 2);
        EXPECT_EQ(frame.from, "GB7DXC-1");
        EXPECT_EQ(frame.to, "N0CALL");
    }
}

TEST(KissEngineFrames, HeardFramesCarryTheirText) {
    const auto heard = [](ax25::FrameType type, std::uint8_t pid, std::string info) {
        ax25::Frame frame;
        frame.source = kCluster;
        frame.destination = {"G4XYZ", 0};
        frame.type = type;
        frame.pid = pid;
        frame.info = std::move(info);
        return monitoredFrameOf(frame, 1);
    };
    const std::optional<EngineFrame> plain = heard(ax25::FrameType::I, 0xF0, "Hello\r");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->kind, FrameKind::HeardInformation);
    EXPECT_EQ(plain->text, "Hello\r");
    EXPECT_EQ(plain->from, "GB7DXC-1");
    EXPECT_EQ(plain->to, "G4XYZ");
    EXPECT_EQ(heard(ax25::FrameType::I, 0x02, "\xF0Hello\r")->text, "Hello\r"); // modulo 128
    EXPECT_EQ(heard(ax25::FrameType::UI, 0xF0, "\xF0 beacon")->text, "\xF0 beacon");
    EXPECT_EQ(heard(ax25::FrameType::UI, 0xF0, "beacon")->kind, FrameKind::HeardUnnumbered);
    EXPECT_EQ(heard(ax25::FrameType::I, 0xF0, std::string(5000, 'x'))->text.size(), kMaxFrameTextBytes);
    EXPECT_FALSE(heard(ax25::FrameType::RR, 0xF0, ""));
}

} // namespace
} // namespace corvantle::kiss
