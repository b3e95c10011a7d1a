// AX.25 frames: addresses, the byte layout of each control field, round trips of every type, and a decoder
// that returns nothing for malformed bytes.
#include "Ax25Frame.h"
#include "Callsign.h"
#include "FrameText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace corvantle::ax25 {
namespace {

const Address kCluster{"GB7DXC", 0};
const Address kUser{"N0CALL", 0};

std::string bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (const unsigned value : values)
        out += static_cast<char>(value);
    return out;
}

// GB7DXC, then N0CALL: the two addresses of most frames below, with the given SSID bytes.
std::string addresses(unsigned destinationSsidByte, unsigned sourceSsidByte) {
    return bytes({0x8E, 0x84, 0x6E, 0x88, 0xB0, 0x86, destinationSsidByte, 0x9C, 0x60, 0x86, 0x82, 0x98, 0x98,
                  sourceSsidByte});
}

Frame frameOf(FrameType type, bool command, bool pollFinal, std::uint8_t ns = 0, std::uint8_t nr = 0,
              std::string info = {}) {
    Frame frame;
    frame.destination = kCluster;
    frame.source = kUser;
    frame.command = command;
    frame.type = type;
    frame.pollFinal = pollFinal;
    frame.ns = ns;
    frame.nr = nr;
    frame.info = std::move(info);
    return frame;
}

TEST(Ax25Address, ParsesAndNamesCallsignsWithSsid) {
    EXPECT_EQ(Address::parse(" gb7dxc-12 "), (Address{"GB7DXC", 12}));
    EXPECT_EQ(Address::parse("N0CALL-0"), (Address{"N0CALL", 0}));
    EXPECT_EQ((Address{"N0CALL", 0}).text(), "N0CALL");
    EXPECT_EQ((Address{"GB7DXC", 15}).text(), "GB7DXC-15");
    for (const char *bad :
         {"", "-1", "CLUSTER", "N0CALL-16", "N0CALL-", "N0 CALL", "N0CALL-1X", "N0CALL-001"})
        EXPECT_FALSE(Address::parse(bad)) << bad;
}

// A stored call names the same station on the KISS engine's link as in an AGW engine's requests: what
// callsign::airProblem refuses is no address here, and an address is written as callsign::normal writes it.
TEST(Ax25Address, ReadsACallAsTheCallsignModuleDoes) {
    struct Row {
        const char *stored;
        std::optional<Address> address;
    };
    const Row rows[] = {
        {"G4ABC-05", Address{"G4ABC", 5}},    {" g4abc-00", Address{"G4ABC", 0}},
        {"GB7DXC-15", Address{"GB7DXC", 15}}, {"G4ABC-015", std::nullopt},
        {"G4ABC-16", std::nullopt},           {"GB7DXCX", std::nullopt},
        {"G4ABC-+5", std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.stored);
        const std::optional<Address> address = Address::parse(row.stored);
        EXPECT_EQ(address, row.address);
        EXPECT_EQ(address.has_value(), callsign::airProblem(row.stored).empty());
        if (address)
            EXPECT_EQ(address->text(), callsign::normal(row.stored));
    }
}

// The bytes of each kind of frame, written out by hand from the frame layout.
TEST(Ax25Frame, EncodesEachControlField) {
    struct Case {
        Frame frame;
        std::string expected;
    };
    const Case cases[] = {
        {frameOf(FrameType::SABM, true, true), addresses(0xE0, 0x61) + bytes({0x3F})},
        {frameOf(FrameType::UA, false, true), addresses(0x60, 0xE1) + bytes({0x73})},
        {frameOf(FrameType::DISC, true, true), addresses(0xE0, 0x61) + bytes({0x53})},
        {frameOf(FrameType::DM, false, false), addresses(0x60, 0xE1) + bytes({0x0F})},
        {frameOf(FrameType::RR, false, true, 0, 3), addresses(0x60, 0xE1) + bytes({0x71})},
        {frameOf(FrameType::RNR, true, false, 0, 7), addresses(0xE0, 0x61) + bytes({0xE5})},
        {frameOf(FrameType::REJ, false, false, 0, 1), addresses(0x60, 0xE1) + bytes({0x29})},
        {frameOf(FrameType::I, true, false, 2, 5, "hi\r"),
         addresses(0xE0, 0x61) + bytes({0xA4, 0xF0}) + "hi\r"},
        {frameOf(FrameType::UI, true, false, 0, 0, "CQ"), addresses(0xE0, 0x61) + bytes({0x03, 0xF0}) + "CQ"},
        {frameOf(FrameType::FRMR, false, true, 0, 0, bytes({1, 2, 3})),
         addresses(0x60, 0xE1) + bytes({0x97, 1, 2, 3})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(typeName(c.frame.type));
        EXPECT_EQ(encode(c.frame), c.expected);
        EXPECT_EQ(decode(c.expected), c.frame);
    }
}

TEST(Ax25Frame, WritesSsidsDigipeatersAndTheirRepeatedBits) {
    Frame frame = frameOf(FrameType::I, true, true, 7, 6, "text");
    frame.destination.ssid = 15;
    frame.source.ssid = 1;
    frame.via = {{{"RELAY1", 0}, true}, {{"RELAY2", 9}, false}};
    const std::string encoded = encode(frame);
    ASSERT_EQ(encoded.size(), 4 * kAddressBytes + 2 + 4);
    EXPECT_EQ(static_cast<unsigned char>(encoded[6]), 0xE0 | (15 << 1));
    EXPECT_EQ(static_cast<unsigned char>(encoded[13]), 0x60 | (1 << 1));
    EXPECT_EQ(static_cast<unsigned char>(encoded[20]), 0xE0);                // RELAY1 repeated, not last
    EXPECT_EQ(static_cast<unsigned char>(encoded[27]), 0x60 | (9 << 1) | 1); // RELAY2 not repeated, last
    EXPECT_EQ(decode(encoded), frame);
}

TEST(Ax25Frame, RoundTripsEverySequenceNumberAndEightDigipeaters) {
    for (std::uint8_t ns = 0; ns < 8; ++ns)
        for (std::uint8_t nr = 0; nr < 8; ++nr)
            for (const FrameType type : {FrameType::I, FrameType::RR, FrameType::RNR, FrameType::REJ}) {
                Frame frame = frameOf(type, nr % 2 == 0, ns % 2 == 0, type == FrameType::I ? ns : 0, nr,
                                      type == FrameType::I ? std::string(ns * 40, 'x') : std::string());
                for (int hop = 0; hop < ns + 1; ++hop)
                    frame.via.push_back(
                        {{"RELAY" + std::to_string(hop), static_cast<std::uint8_t>(hop)}, hop < nr});
                EXPECT_EQ(decode(encode(frame)), frame) << typeName(type) << ns << nr;
            }
}

TEST(Ax25Frame, DecodesNothingFromMalformedBytes) {
    const std::string sabm = addresses(0xE0, 0x61) + bytes({0x3F});
    const std::string ui = addresses(0xE0, 0x61) + bytes({0x03, 0xF0}) + "text";
    std::string nineDigipeaters = addresses(0xE0, 0x60);
    for (int hop = 0; hop < 9; ++hop)
        nineDigipeaters += encodeAddress({"RELAY1", 0}, false, hop == 8);
    struct Case {
        const char *why;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"addresses only", addresses(0xE0, 0x61)},
        {"one address", addresses(0xE0, 0x61).substr(0, 7) + bytes({0x3F})},
        {"no end-of-addresses bit", addresses(0xE0, 0x60) + bytes({0x3F})},
        {"cut inside an address", addresses(0xE0, 0x60) + bytes({0x82, 0x84})},
        {"nine digipeaters", nineDigipeaters + bytes({0x3F})},
        {"lower-case callsign", bytes({0xCE}) + sabm.substr(1)},
        {"blank inside a callsign", bytes({0x40}) + sabm.substr(1)},
        {"blank callsign", bytes({0x40, 0x40, 0x40, 0x40, 0x40, 0x40}) + sabm.substr(6)},
        {"end bit in a callsign byte", bytes({0x8F}) + sabm.substr(1)},
        {"I frame without PID", addresses(0xE0, 0x61) + bytes({0x00})},
        {"UI frame without PID", addresses(0xE0, 0x61) + bytes({0x03})},
        {"SABM with information", sabm + "x"},
        {"RR with information", addresses(0xE0, 0x61) + bytes({0x01, 0x00})},
        {"FRMR of two bytes", addresses(0x60, 0xE1) + bytes({0x87, 1, 2})},
        {"SREJ", addresses(0x60, 0xE1) + bytes({0x0D})},
        {"XID", addresses(0x60, 0xE1) + bytes({0xAF})},
        {"TEST", addresses(0x60, 0xE1) + bytes({0xE3})},
        {"information too long", ui + std::string(kMaxInfoBytes, 'x')},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(decode(c.bytes)) << c.why;
    EXPECT_TRUE(decode(sabm));
    EXPECT_TRUE(decode(ui));
}

TEST(Ax25FrameText, DescribesEachFrameOnOneLine) {
    Frame digipeated = frameOf(FrameType::I, true, true, 3, 1, "hello\r\x01\"");
    digipeated.via = {{{"RELAY1", 0}, true}, {{"RELAY2", 2}, false}};
    struct Case {
        Frame frame;
        std::string expected;
    };
    const Case cases[] = {
        {frameOf(FrameType::SABM, true, true), "N0CALL>GB7DXC SABM C P"},
        {frameOf(FrameType::RR, false, false, 0, 5), "N0CALL>GB7DXC RR R r5"},
        {digipeated, R"(N0CALL>GB7DXC,RELAY1*,RELAY2-2 I C P s3 r1 8 bytes "hello\r\x01\x22")"},
        {frameOf(FrameType::UI, true, false, 0, 0, std::string(50, 'x')),
         "N0CALL>GB7DXC UI C 50 bytes \"" + std::string(40, 'x') + "...\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(frameText(c.frame), c.expected);
}

} // namespace
} // namespace corvantle::ax25
