// KISS framing: escapes, the port and command byte, the TNC parameters, and a streaming decoder that waits
// for more, survives any split of the stream and drops what it cannot trust.
#include "KissFrame.h"
#include "KissDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantle::kiss {
namespace {

std::string bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (const unsigned value : values)
        out += static_cast<char>(value);
    return out;
}

std::vector<Frame> decodeAll(KissDecoder &decoder, const std::string &stream) {
    decoder.feed(stream);
    std::vector<Frame> frames;
    while (std::optional<Frame> frame = decoder.next())
        frames.push_back(std::move(*frame));
    return frames;
}

TEST(KissFrame, EncodesEscapesPortsAndParameters) {
    struct Case {
        const char *what;
        std::string encoded;
        std::string expected;
    };
    const Case cases[] = {
        {"data on port 0", dataFrame(0, "AB"), bytes({0xC0, 0x00, 'A', 'B', 0xC0})},
        {"data on port 3", dataFrame(3, "A"), bytes({0xC0, 0x30, 'A', 0xC0})},
        {"FEND and FESC escaped", dataFrame(0, bytes({0xC0, 0xDB, 0xDC, 0xDD})),
         bytes({0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD, 0xC0})},
        {"port cut to four bits", dataFrame(0x12, "A"), bytes({0xC0, 0x20, 'A', 0xC0})},
        {"TXDELAY", parameterFrame(0, Command::TxDelay, 30), bytes({0xC0, 0x01, 30, 0xC0})},
        {"PERSIST", parameterFrame(1, Command::Persist, 63), bytes({0xC0, 0x12, 63, 0xC0})},
        {"SLOTTIME", parameterFrame(0, Command::SlotTime, 10), bytes({0xC0, 0x03, 10, 0xC0})},
        {"TXTAIL", parameterFrame(0, Command::TxTail, 0xC0), bytes({0xC0, 0x04, 0xDB, 0xDC, 0xC0})},
        {"FULLDUP", parameterFrame(15, Command::FullDuplex, 1), bytes({0xC0, 0xF5, 1, 0xC0})},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.encoded, c.expected) << c.what;
}

TEST(KissDecoder, DecodesTheSameFramesHoweverTheStreamIsSplit) {
    const std::vector<Frame> sent = {
        {0, Command::Data, bytes({0xC0, 'x', 0xDB, 0xDC})},
        {2, Command::Data, std::string(300, 'y')},
        {0, Command::TxDelay, bytes({40})},
    };
    std::string stream;
    for (const Frame &frame : sent)
        stream += encode(frame);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        KissDecoder decoder;
        std::vector<Frame> got = decodeAll(decoder, stream.substr(0, cut));
        for (Frame &frame : decodeAll(decoder, stream.substr(cut)))
            got.push_back(std::move(frame));
        ASSERT_EQ(got, sent) << "cut at " << cut;
    }
}

TEST(KissDecoder, NeedsMoreUntilTheClosingFend) {
    KissDecoder decoder;
    EXPECT_TRUE(decodeAll(decoder, bytes({0xC0, 0x00, 'a', 'b'})).empty());
    EXPECT_EQ(decodeAll(decoder, bytes({0xC0})), (std::vector<Frame>{{0, Command::Data, "ab"}}));
}

TEST(KissDecoder, DropsWhatItCannotTrustAndGoesOn) {
    const std::string good = dataFrame(0, "good");
    struct Case {
        const char *why;
        std::string stream;
        std::size_t dropped;
    };
    const Case cases[] = {
        {"bytes before the first FEND", "noise" + good, 0},
        {"back-to-back FENDs", bytes({0xC0, 0xC0, 0xC0}) + good, 0},
        {"FESC before a plain byte", bytes({0xC0, 0x00, 0xDB, 'q', 'r'}) + good, 1},
        {"FESC right before FEND", bytes({0xC0, 0x00, 'a', 0xDB}) + good, 1},
        {"frame over the bound", bytes({0xC0, 0x00}) + std::string(100, 'z') + good, 1},
    };
    for (const Case &c : cases) {
        KissDecoder decoder(64);
        EXPECT_EQ(decodeAll(decoder, c.stream), (std::vector<Frame>{{0, Command::Data, "good"}})) << c.why;
        EXPECT_EQ(decoder.droppedFrames(), c.dropped) << c.why;
    }
}

TEST(KissDecoder, KeepsAFrameOfExactlyTheBound) {
    KissDecoder decoder(64);
    const std::string payload(63, 'p'); // with the command byte, 64
    EXPECT_EQ(decodeAll(decoder, dataFrame(5, payload)), (std::vector<Frame>{{5, Command::Data, payload}}));
}

} // namespace
} // namespace corvantle::kiss
