// The test DX cluster station's own logic: line splitting, the spot columns logging programs parse, the
// answers to a caller, when a goodbye has been delivered, and its command line. End-to-end tests trust this
// station, so it is tested here.
#include "ClusterService.h"
#include "ClusterText.h"
#include "DeliveryWatch.h"
#include "StationOptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace corvantle::cluster {
namespace {

std::tm fixedTime() {
    std::tm utc{};
    utc.tm_year = 2024 - 1900;
    utc.tm_mon = 11;
    utc.tm_mday = 10;
    utc.tm_hour = 12;
    utc.tm_min = 34;
    return utc;
}

TEST(LineSplitter, CutsAtCarriageReturnWhateverTheFramesAre) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        std::string pending;
    };
    const Case cases[] = {
        {{"sh/dx \r"}, {"sh/dx \r"}, ""},
        {{"sh/", "dx", " \r"}, {"sh/dx \r"}, ""},
        {{"a\rb\rc"}, {"a\r", "b\r"}, "c"},
        // An LF is not a line end: it stays with the next line, so the log shows that CR LF arrived.
        {{"a\r\n", "b\r\n"}, {"a\r", "\nb\r"}, "\n"},
        {{"\r\r"}, {"\r", "\r"}, ""},
        {{"no end"}, {}, "no end"},
    };
    for (const Case &c : cases) {
        LineSplitter splitter;
        std::vector<std::string> lines;
        for (const std::string &chunk : c.chunks) {
            for (std::string &line : splitter.feed(chunk))
                lines.push_back(std::move(line));
        }
        EXPECT_EQ(lines, c.lines) << escapeForLog(c.chunks.front());
        EXPECT_EQ(splitter.pending(), c.pending);
    }
}

TEST(ClusterText, FindsTheCommandInARawLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"sh/dx \r", "sh/dx"}, {"\nSH/DX\r", "sh/dx"}, {" \tBye \r\n", "bye"}, {"\r", ""}, {"a b\r", "a b"},
    };
    for (const auto &[raw, command] : cases)
        EXPECT_EQ(commandOf(raw), command) << escapeForLog(raw);
}

TEST(ClusterText, EscapesEveryByteVisibly) {
    EXPECT_EQ(escapeForLog(std::string("sh/dx \r\n\t\"\\\0\xFF", 13)), R"("sh/dx \r\n\t\"\\\x00\xFF")");
}

TEST(ClusterText, FormatsTheUsualSpotLine) {
    EXPECT_EQ(formatDxSpot(makeSpot(0, fixedTime())),
              "DX de K1ABC:     14025.0  JA1XYZ       CW 599 #0                      1234Z");
}

// Every spot of a full rotation keeps the columns that logging programs cut the line at. The reference is
// the layout clusters print with "DX de %-7.7s%11.1f  %-12.12s %-30.30s %4.4sZ".
TEST(ClusterText, KeepsTheColumnsForEverySpot) {
    for (int serial = 1; serial <= 840; ++serial) {
        const Spot spot = makeSpot(serial, fixedTime());
        char expected[128];
        std::snprintf(expected, sizeof expected, "DX de %-7.7s%11.1f  %-12.12s %-30.30s %4.4sZ",
                      (spot.spotter + ":").c_str(), spot.frequencyKhz, spot.dxCall.c_str(),
                      spot.comment.c_str(), spot.hhmm.c_str());
        ASSERT_EQ(formatDxSpot(spot), expected) << "spot " << serial;
        ASSERT_NE(spot.comment.find("#" + std::to_string(serial)), std::string::npos);
    }
}

TEST(ClusterText, KeepsFieldsApartWhenTheyOverflow) {
    Spot spot = makeSpot(1, fixedTime());
    spot.spotter = "GB7DXC-15";
    spot.frequencyKhz = 10368100.0;
    spot.dxCall = "VP8ABC/MM1234";
    const std::string line = formatDxSpot(spot);
    EXPECT_NE(line.find("GB7DXC-15: 10368100.0 VP8ABC/MM1234 "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 6), " 1234Z");
}

std::vector<Action> ofKind(const std::vector<Action> &actions, Action::Kind kind) {
    std::vector<Action> found;
    for (const Action &action : actions) {
        if (action.kind == kind)
            found.push_back(action);
    }
    return found;
}

std::string sentText(const std::vector<Action> &actions) {
    std::string text;
    for (const Action &action : ofKind(actions, Action::Kind::Send))
        text += action.text;
    return text;
}

TEST(ClusterService, GreetsByCallsignAndLogsTheLink) {
    ClusterService service("GB7DXC");
    const auto actions = service.linkUp("N0CALL");
    EXPECT_EQ(sentText(actions), "Hello N0CALL, this is GB7DXC DX cluster\rN0CALL de GB7DXC >\r");
    EXPECT_EQ(actions.front(), (Action{Action::Kind::Log, "", "UP N0CALL"}));
}

TEST(ClusterService, AnswersCommandsArrivingInPieces) {
    ClusterService service("GB7DXC");
    service.linkUp("N0CALL");
    EXPECT_TRUE(service.received("N0CALL", "sh/").empty());
    const auto actions = service.received("N0CALL", "DX \rfoo\r");
    EXPECT_EQ(actions.front(), (Action{Action::Kind::Log, "", R"(RX N0CALL "sh/DX \r")"}));
    EXPECT_EQ(sentText(actions), "No spots yet\rN0CALL de GB7DXC >\r"
                                 "Sorry N0CALL, unknown command: foo\rN0CALL de GB7DXC >\r");
}

TEST(ClusterService, ListsTheLastFiveSpotsNewestFirst) {
    ClusterService service("GB7DXC");
    EXPECT_TRUE(service.spotDue(fixedTime()).empty()) << "nobody listens, no spot";
    service.linkUp("N0CALL");
    for (int i = 1; i <= 7; ++i)
        EXPECT_EQ(sentText(service.spotDue(fixedTime())), formatDxSpot(makeSpot(i, fixedTime())) + "\r");
    std::string expected;
    for (int serial = 7; serial >= 3; --serial)
        expected += formatShowDxLine(makeSpot(serial, fixedTime())) + "\r";
    EXPECT_EQ(sentText(service.received("N0CALL", "sh/dx\r")), expected + "N0CALL de GB7DXC >\r");
}

TEST(ClusterService, SaysGoodbyeThenFallsSilent) {
    ClusterService service("GB7DXC");
    service.linkUp("N0CALL");
    service.linkUp("N1CALL");
    const auto bye = service.received("N0CALL", "BYE\r");
    EXPECT_EQ(sentText(bye), "73 N0CALL, thanks for using GB7DXC\r");
    EXPECT_EQ(bye.back(), (Action{Action::Kind::Disconnect, "N0CALL", ""}));
    EXPECT_EQ(sentText(service.received("N0CALL", "sh/dx\r")), "");
    const auto spot = ofKind(service.spotDue(fixedTime()), Action::Kind::Send);
    ASSERT_EQ(spot.size(), 1u);
    EXPECT_EQ(spot[0].remote, "N1CALL");
}

TEST(ClusterService, LogsWhatWasLeftWhenTheLinkGoesDown) {
    ClusterService service("GB7DXC");
    service.linkUp("N0CALL");
    service.received("N0CALL", "bye\r\n");
    const auto actions = service.linkDown("N0CALL");
    EXPECT_EQ(actions, (std::vector<Action>{{Action::Kind::Log, "", R"(RX N0CALL "\n")"},
                                            {Action::Kind::Log, "", "DOWN N0CALL"}}));
    EXPECT_FALSE(service.hasLinks());
}

TEST(ClusterService, DisconnectsEveryOpenLinkOnce) {
    ClusterService service("GB7DXC");
    service.linkUp("N0CALL");
    service.linkUp("N1CALL");
    service.received("N1CALL", "bye\r");
    const auto disconnects = ofKind(service.disconnectAll(), Action::Kind::Disconnect);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_EQ(disconnects[0].remote, "N0CALL");
    EXPECT_TRUE(service.hasLinks()) << "links stay until the engine reports them down";
}

// What the station hears of one link, in order: 'H' handed a piece to the engine, 'T' the engine transmitted
// a frame with this information, 'A' the caller sent a frame.
TEST(DeliveryWatch, SettlesOnceTheLastPieceWentOutAndWasAnswered) {
    struct Case {
        const char *what;
        std::vector<std::pair<char, std::string>> events;
        bool settled;
    };
    const std::string bye = "73 N0CALL, thanks for using GB7DXC\r";
    const Case cases[] = {
        {"nothing sent", {}, true},
        {"still queued", {{'H', bye}}, false},
        {"sent, no answer yet", {{'H', bye}, {'T', bye}}, false},
        {"sent and answered", {{'H', bye}, {'T', bye}, {'A', ""}}, true},
        {"an answer that crossed it", {{'H', bye}, {'A', ""}, {'T', bye}}, false},
        {"only an earlier piece out", {{'H', "LINE 1\r"}, {'H', bye}, {'T', "LINE 1\r"}, {'A', ""}}, false},
        {"other frames out", {{'H', bye}, {'T', ""}, {'A', ""}}, false},
        {"sent again after the answer", {{'H', bye}, {'T', bye}, {'A', ""}, {'T', bye}}, false},
        {"answered after resending", {{'H', bye}, {'T', bye}, {'A', ""}, {'T', bye}, {'A', ""}}, true},
        {"more data after delivery", {{'H', bye}, {'T', bye}, {'A', ""}, {'H', "more\r"}}, false},
    };
    for (const Case &c : cases) {
        DeliveryWatch watch;
        for (const auto &[event, text] : c.events) {
            if (event == 'H')
                watch.handedOver("N0CALL", text);
            else if (event == 'T')
                watch.transmitted("N0CALL", text);
            else
                watch.heardFrom("N0CALL");
        }
        EXPECT_EQ(watch.settled("N0CALL"), c.settled) << c.what;
    }
}

TEST(DeliveryWatch, KeepsLinksApart) {
    DeliveryWatch watch;
    watch.handedOver("N0CALL", "73\r");
    watch.handedOver("N1CALL", "73\r");
    watch.transmitted("N1CALL", "73\r");
    watch.heardFrom("N0CALL");
    watch.heardFrom("N1CALL");
    EXPECT_FALSE(watch.settled("N0CALL")) << "N1CALL's frames say nothing about N0CALL's data";
    EXPECT_TRUE(watch.settled("N1CALL"));
    watch.forget("N0CALL");
    EXPECT_TRUE(watch.settled("N0CALL")) << "a link that went down has nothing left to wait for";
}

TEST(StationOptions, ParsesAndRefuses) {
    const ParsedOptions parsed =
        parseOptions({"--port", "8001", "--call", "gb7abc-1", "--radio-port", "1", "--spot-interval", "0.5"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.port, 8001);
    EXPECT_EQ(parsed.options.call, "GB7ABC-1");
    EXPECT_EQ(parsed.options.radioPort, 1);
    EXPECT_DOUBLE_EQ(parsed.options.spotIntervalSeconds, 0.5);

    const std::vector<std::string> refused[] = {
        {"--port", "0"},
        {"--port", "70000"},
        {"--port", "80x"},
        {"--spot-interval", "0"},
        {"--spot-interval", "2s"},
        {"--call", "TOOLONGCALL"},
        {"--port"},
        {"--colour", "blue"},
        {"stray"},
    };
    for (const auto &args : refused)
        EXPECT_FALSE(parseOptions(args).ok) << args.front();
}

} // namespace
} // namespace corvantle::cluster
