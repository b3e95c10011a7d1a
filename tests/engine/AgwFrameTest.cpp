// The AGW frame codec: byte layout, round trips, and the answers for partial and untrustworthy input.
#include "AgwFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace corvantle::agw {
namespace {

std::string headerWithLength(std::int32_t dataBytes) {
    std::string bytes(kHeaderBytes, '\0');
    bytes[4] = 'D';
    for (int i = 0; i < 4; ++i)
        bytes[28 + i] = static_cast<char>((static_cast<std::uint32_t>(dataBytes) >> (8 * i)) & 0xFF);
    return bytes;
}

TEST(AgwFrame, EncodesTheHeaderLayout) {
    const Frame frame{2, 'D', 0xF0, "N0CALL", "GB7DXC-12", std::string(300, 'a')};
    const std::string bytes = encode(frame);
    ASSERT_EQ(bytes.size(), kHeaderBytes + 300);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x02\0\0\0D\0\xF0\0", 8));
    EXPECT_EQ(bytes.substr(8, 10), std::string("N0CALL\0\0\0\0", 10));
    EXPECT_EQ(bytes.substr(18, 10), std::string("GB7DXC-12\0", 10));
    EXPECT_EQ(bytes.substr(28, 8), std::string("\x2C\x01\0\0\0\0\0\0", 8)); // 300 little-endian, user zero
}

TEST(AgwFrame, CutsLongCallsignsToNineCharacters) {
    const std::string bytes = encode(Frame{0, 'C', 0, "TOOLONGCALL", "", ""});
    EXPECT_EQ(bytes.substr(8, 10), std::string("TOOLONGCA\0", 10));
}

TEST(AgwFrame, RoundTripsEveryField) {
    const Frame cases[] = {
        {0, 'X', 0, "N0CALL", "", ""},
        {255, 'D', 0xF0, "GB7DXC", "N0CALL-15", "DX de K1ABC:\r"},
        {1, 'y', 0, "", "", std::string("\0\1\2\xFF", 4)},
        {0, 'U', 0, "A", "B", std::string(5000, 'x')},
    };
    for (const Frame &frame : cases) {
        SCOPED_TRACE(frame.kind);
        const std::string bytes = encode(frame) + "trailing bytes of the next frame";
        const DecodeResult result = decode(bytes);
        ASSERT_EQ(result.status, DecodeStatus::Complete);
        EXPECT_EQ(result.consumedBytes, kHeaderBytes + frame.data.size());
        EXPECT_EQ(result.frame.port, frame.port);
        EXPECT_EQ(result.frame.kind, frame.kind);
        EXPECT_EQ(result.frame.pid, frame.pid);
        EXPECT_EQ(result.frame.callFrom, frame.callFrom);
        EXPECT_EQ(result.frame.callTo, frame.callTo);
        EXPECT_EQ(result.frame.data, frame.data);
    }
}

TEST(AgwFrame, NeedsMoreForEveryPartOfAFrame) {
    const std::string bytes = encode(Frame{0, 'D', 0xF0, "GB7DXC", "N0CALL", "hello\r"});
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_EQ(decode(bytes.substr(0, size)).status, DecodeStatus::NeedMore) << size << " bytes";
}

TEST(AgwFrame, LengthDecidesTrust) {
    struct Case {
        std::int32_t dataBytes;
        DecodeStatus status;
    };
    const Case cases[] = {
        {-1, DecodeStatus::Invalid},
        {INT32_MIN, DecodeStatus::Invalid},
        {static_cast<std::int32_t>(kMaxDataBytes) + 1, DecodeStatus::Invalid},
        {INT32_MAX, DecodeStatus::Invalid},
        {static_cast<std::int32_t>(kMaxDataBytes), DecodeStatus::NeedMore}, // large but possible: wait for it
        {0, DecodeStatus::Complete},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decode(headerWithLength(c.dataBytes)).status, c.status) << c.dataBytes;
}

} // namespace
} // namespace corvantle::agw
