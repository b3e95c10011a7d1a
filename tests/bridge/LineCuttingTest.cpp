// Line cutting both ways: the telnet client's bytes into lines for the radio, and the radio's frames into
// whole lines for the client.
#include "ClientLines.h"
#include "RadioLines.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace corvantle {

void PrintTo(const ClientLine &line, std::ostream *os) {
    *os << (line.ended ? "line " : "piece ") << ::testing::PrintToString(line.text);
}

} // namespace corvantle

using corvantle::ClientLine;
using corvantle::ClientLines;
using corvantle::RadioLines;

namespace {

ClientLine line(std::string text) {
    return {std::move(text), true};
}
ClientLine piece(std::string text) {
    return {std::move(text), false};
}

// Text without line-end bytes whose every byte shows its position, so a lost or reordered byte shows.
std::string numbered(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

struct ClientOutcome {
    std::vector<ClientLine> lines;
    std::string held;
    bool operator==(const ClientOutcome &) const = default;
};

void PrintTo(const ClientOutcome &outcome, std::ostream *os) {
    *os << ::testing::PrintToString(outcome.lines) << " held " << ::testing::PrintToString(outcome.held);
}

ClientOutcome feedClient(const std::vector<std::string_view> &pieces) {
    ClientLines cutter;
    ClientOutcome outcome;
    for (std::string_view bytes : pieces)
        for (ClientLine &cut : cutter.feed(bytes))
            outcome.lines.push_back(std::move(cut));
    if (std::optional<ClientLine> held = cutter.takeHeld())
        outcome.held = held->text;
    return outcome;
}

// ---- ClientLines ------------------------------------------------------------------------------------

struct ClientRow {
    std::string name, stream;
    std::vector<ClientLine> lines;
    std::string held;
};

const std::vector<ClientRow> &clientRows() {
    static const std::vector<ClientRow> rows = {
        {"crlf", "sh/dx\r\n", {line("sh/dx")}, ""},
        {"every line end", "a\nb\rc\r\0d\r\n"s, {line("a"), line("b"), line("c"), line("d")}, ""},
        {"empty lines", "\r\n\r\n\n\r\r", {line(""), line(""), line(""), line(""), line("")}, ""},
        {"lf then cr is two ends", "x\n\ry", {line("x"), line("")}, "y"},
        {"one lf or nul per cr", "a\r\n\nb\r\0\0"s, {line("a"), line(""), line("b")}, "\0"s},
        {"nul not after cr", "\0a\0\r"s, {line("\0a\0"s)}, ""},
        {"binary and high bytes", "\x01\x7f\x80\xff\x1b[0m\r", {line("\x01\x7f\x80\xff\x1b[0m")}, ""},
        {"unfinished", "bye", {}, "bye"},
        {"long line",
         numbered(600) + "\r\nnext",
         {piece(numbered(600).substr(0, 256)), piece(numbered(600).substr(256, 256)),
          line(numbered(600).substr(512))},
         "next"},
    };
    return rows;
}

TEST(ClientLines, CutsAWholeStream) {
    for (const ClientRow &row : clientRows()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(feedClient({row.stream}), (ClientOutcome{row.lines, row.held}));
    }
}

// TCP may split the stream anywhere, also between a CR and its LF.
TEST(ClientLines, AnySplitGivesTheSameLines) {
    for (const ClientRow &row : clientRows()) {
        SCOPED_TRACE(row.name);
        const std::string_view stream = row.stream;
        const ClientOutcome whole{row.lines, row.held};
        for (std::size_t at = 0; at <= stream.size(); ++at) {
            SCOPED_TRACE("split at " + std::to_string(at));
            EXPECT_EQ(feedClient({stream.substr(0, at), stream.substr(at)}), whole);
        }
        std::vector<std::string_view> bytes;
        for (std::size_t i = 0; i < stream.size(); ++i)
            bytes.push_back(stream.substr(i, 1));
        EXPECT_EQ(feedClient(bytes), whole) << "byte by byte";
    }
}

TEST(ClientLines, ALineIsCompleteAtItsCr) {
    ClientLines cutter;
    EXPECT_EQ(cutter.feed("sh/dx 10\r"), std::vector<ClientLine>{line("sh/dx 10")});
    EXPECT_FALSE(cutter.holding());
    EXPECT_EQ(cutter.feed("\n"), std::vector<ClientLine>{});
    EXPECT_EQ(cutter.feed("\n"), std::vector<ClientLine>{line("")}) << "only one LF belongs to the CR";
}

TEST(ClientLines, HeldTextIsCutIntoFrameSizedPieces) {
    struct Row {
        std::size_t heldBytes;
        std::size_t pieces;
    };
    for (const Row row : {Row{255, 0}, Row{256, 0}, Row{257, 1}, Row{512, 1}, Row{513, 2}, Row{600, 2}}) {
        SCOPED_TRACE(row.heldBytes);
        const std::string text = numbered(row.heldBytes);
        ClientLines cutter;
        std::vector<ClientLine> cut;
        for (std::size_t at = 0; at < text.size(); at += 100)
            for (ClientLine &each : cutter.feed(std::string_view(text).substr(at, 100)))
                cut.push_back(std::move(each));
        ASSERT_EQ(cut.size(), row.pieces);
        std::string joined;
        for (const ClientLine &each : cut) {
            EXPECT_EQ(each, piece(text.substr(joined.size(), ClientLines::kPieceBytes)));
            joined += each.text;
        }
        EXPECT_EQ(cutter.heldBytes(), row.heldBytes - joined.size());
        EXPECT_EQ(cutter.takeHeld(), line(text.substr(joined.size())));
    }
}

TEST(ClientLines, TakeHeldHandsOutTheUnfinishedLineOnce) {
    ClientLines cutter;
    EXPECT_EQ(cutter.takeHeld(), std::nullopt);
    EXPECT_EQ(cutter.feed("done\rhalf"), std::vector<ClientLine>{line("done")});
    EXPECT_TRUE(cutter.holding());
    EXPECT_EQ(cutter.heldBytes(), 4u);
    EXPECT_EQ(cutter.takeHeld(), line("half"));
    EXPECT_FALSE(cutter.holding());
    EXPECT_EQ(cutter.takeHeld(), std::nullopt);
    EXPECT_EQ(cutter.feed("next\r"), std::vector<ClientLine>{line("next")});
}

TEST(ClientLines, ResetForgetsTheHeldTextAndAPendingCr) {
    ClientLines cutter;
    cutter.feed("old\r");
    cutter.reset();
    EXPECT_EQ(cutter.feed("\n"), std::vector<ClientLine>{line("")})
        << "an LF from the new client is a line end";
    cutter.feed("partial");
    cutter.reset();
    EXPECT_FALSE(cutter.holding());
    EXPECT_EQ(cutter.feed("new\r"), std::vector<ClientLine>{line("new")});
}

// ---- RadioLines -------------------------------------------------------------------------------------

struct Frame {
    std::string text;
    std::vector<std::string> lines; // what feeding this frame returns
};

struct RadioRow {
    std::string name;
    std::vector<Frame> frames;
    std::string held;
};

const std::string kSpot1 = "DX de ZS6ABC:    14025.0  ZR8QOD       cq cq                    1234Z\r";
const std::string kSpot2 = "DX de K1ABC:      7010.0  VK2XYZ       loud                     1235Z\r";

TEST(RadioLines, JoinsFramesIntoWholeLines) {
    const std::vector<RadioRow> rows = {
        {"spot split across frames",
         {{kSpot1 + kSpot2.substr(0, 30), {kSpot1}}, {kSpot2.substr(30), {kSpot2}}},
         ""},
        {"several lines in a frame", {{"one\rtwo\r\nthree\n", {"one\r", "two\r\n", "three\n"}}}, ""},
        {"cr at frame end, lf next", {{"a\r", {"a\r"}}, {"\nb\r", {"b\r"}}}, ""},
        {"only one lf swallowed", {{"a\r", {"a\r"}}, {"\n\nb\r", {"\n", "b\r"}}}, ""},
        {"an empty frame in between changes nothing", {{"a\r", {"a\r"}}, {"", {}}, {"\nb\r", {"b\r"}}}, ""},
        {"lf after lf is a line", {{"a\n", {"a\n"}}, {"\nb\r", {"\n", "b\r"}}}, ""},
        {"cr after cr is a line", {{"a\r", {"a\r"}}, {"\rb", {"\r"}}}, "b"},
        {"prompt without line end", {{"bye\rZR8QOD de GB7DXC >", {"bye\r"}}}, "ZR8QOD de GB7DXC >"},
        {"binary bytes", {{"\x01\0\x80\xff\x1b[1m\r"s, {"\x01\0\x80\xff\x1b[1m\r"s}}}, ""},
    };
    for (const RadioRow &row : rows) {
        SCOPED_TRACE(row.name);
        RadioLines joiner;
        for (const Frame &frame : row.frames)
            EXPECT_EQ(joiner.feed(frame.text), frame.lines)
                << "frame " << ::testing::PrintToString(frame.text);
        EXPECT_EQ(joiner.holding(), !row.held.empty());
        EXPECT_EQ(joiner.takeHeld(), row.held);
    }
}

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// A frame may end anywhere. The line end that comes out may then be CR where the stream had CR LF, which
// the telnet rewrite makes the same; the lines themselves must not change.
TEST(RadioLines, AnySplitGivesTheSameLines) {
    const std::string streams[] = {
        kSpot1 + kSpot2,
        "one\r\ntwo\r\n\r\nthree\nfour\r\rprompt >",
        "\r\n\n\r\r\nx",
    };
    const auto run = [](const std::vector<std::string_view> &frames) {
        RadioLines joiner;
        std::vector<std::string> texts;
        for (std::string_view frame : frames)
            for (std::string &line : joiner.feed(frame)) {
                EXPECT_TRUE(line.back() == '\r' || line.back() == '\n') << ::testing::PrintToString(line);
                texts.push_back(withoutLineEnd(std::move(line)));
            }
        texts.push_back("held: " + joiner.takeHeld());
        return texts;
    };
    for (const std::string &stream : streams) {
        SCOPED_TRACE(::testing::PrintToString(stream));
        const std::string_view whole = stream;
        const std::vector<std::string> expected = run({whole});
        for (std::size_t at = 0; at <= whole.size(); ++at)
            EXPECT_EQ(run({whole.substr(0, at), whole.substr(at)}), expected) << "split at " << at;
    }
}

TEST(RadioLines, TakeHeldEmptiesTheHold) {
    RadioLines joiner;
    EXPECT_EQ(joiner.takeHeld(), "");
    joiner.feed("login: ");
    EXPECT_EQ(joiner.takeHeld(), "login: ");
    EXPECT_FALSE(joiner.holding());
    EXPECT_EQ(joiner.takeHeld(), "");
    EXPECT_EQ(joiner.feed("ZR8QOD\r"), std::vector<std::string>{"ZR8QOD\r"}) << "nothing of the prompt again";
}

// An LF late after a frame-ending CR still completes that line end, even once the hold was flushed.
TEST(RadioLines, TakeHeldKeepsAPendingCr) {
    RadioLines joiner;
    joiner.feed("a\r");
    EXPECT_EQ(joiner.takeHeld(), "");
    EXPECT_EQ(joiner.feed("\nb\r"), std::vector<std::string>{"b\r"});
}

TEST(RadioLines, HeldTextIsBounded) {
    struct Row {
        std::size_t textBytes;
        std::size_t pieces;
    };
    constexpr std::size_t kFrameBytes = 236;
    for (const Row row : {Row{4096, 0}, Row{4097, 1}, Row{8192, 1}, Row{10000, 2}}) {
        SCOPED_TRACE(row.textBytes);
        const std::string text = numbered(row.textBytes);
        RadioLines joiner;
        std::vector<std::string> out;
        for (std::size_t at = 0; at < text.size(); at += kFrameBytes)
            for (std::string &each : joiner.feed(std::string_view(text).substr(at, kFrameBytes)))
                out.push_back(std::move(each));
        ASSERT_EQ(out.size(), row.pieces);
        std::string joined;
        for (const std::string &each : out) {
            EXPECT_EQ(each, text.substr(joined.size(), RadioLines::kHoldLimitBytes));
            joined += each;
        }
        EXPECT_EQ(joiner.takeHeld(), text.substr(joined.size()));
    }
}

TEST(RadioLines, ResetForgetsTheHeldTextAndAPendingCr) {
    RadioLines joiner;
    joiner.feed("a\r");
    joiner.reset();
    EXPECT_EQ(joiner.feed("\n"), std::vector<std::string>{"\n"});
    joiner.feed("half");
    joiner.reset();
    EXPECT_FALSE(joiner.holding());
    EXPECT_EQ(joiner.feed("new\r"), std::vector<std::string>{"new\r"});
}

} // namespace
