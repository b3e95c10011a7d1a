// The radio ports read out of 'G' answers, as the engines word them.
#include "AgwPortList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using corvantle::RadioPortChoice;
using corvantle::agw::radioPortChoices;

namespace {

using namespace std::string_literals;

struct Row {
    const char *engine;
    std::string data; // as the frame carries it, NUL included
    std::vector<RadioPortChoice> choices;
};

void check(const Row &row) {
    SCOPED_TRACE(row.engine);
    EXPECT_EQ(radioPortChoices(row.data), row.choices);
}

TEST(AgwPortListTest, DireWolfListsEveryChannelAndMarksTheUnusedOnes) {
    const Row rows[] = {
        {"1.6, one mono channel (seen on the wire)",
         "1;Port1 first soundcard mono;Port2 INVALID CHANNEL;Port3 INVALID CHANNEL;Port4 INVALID CHANNEL;"
         "Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;\0"s,
         {{0, "first soundcard mono"}}},
        {"1.6, stereo (seen on the wire)",
         "2;Port1 first soundcard left;Port2 first soundcard right;Port3 INVALID CHANNEL;Port4 INVALID "
         "CHANNEL;"
         "Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;\0"s,
         {{0, "first soundcard left"}, {1, "first soundcard right"}}},
        {"1.6, two mono cards: channels 0 and 2",
         "2;Port1 first soundcard mono;Port2 INVALID CHANNEL;Port3 second soundcard mono;Port4 INVALID "
         "CHANNEL;"
         "Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;\0"s,
         {{0, "first soundcard mono"}, {2, "second soundcard mono"}}},
        {"1.5 leaves the gap out: Port3 is still channel 2",
         "2;Port1 first soundcard mono;Port3 second soundcard mono;\0"s,
         {{0, "first soundcard mono"}, {2, "second soundcard mono"}}},
        {"a long list cut short at 200 bytes in the middle of an entry",
         "2;Port1 first soundcard mono;Port2 INVALID CHANNEL;Port3 INVALID CHANNEL;Port4 INVALID CHANNEL;"
         "Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;Port7 INVALID CHANNEL;Port8 INVALID CHANNEL;"
         "Port9 second soundcard mono;Port10 INVAL\0"s,
         {{0, "first soundcard mono"}, {8, "second soundcard mono"}}},
        {"1.6 and 1.7: an internet gateway and a network TNC are channels without a radio",
         "3;Port1 first soundcard mono;Port2 Internet Gateway;Port3 Network TNC;Port4 INVALID CHANNEL;\0"s,
         {{0, "first soundcard mono"}}},
    };
    for (const Row &row : rows)
        check(row);
}

TEST(AgwPortListTest, SoundmodemPortsAreItsSoundCardChannels) {
    const Row rows[] = {
        {"all four listed, two disabled",
         "4;Port1 with SoundCard Ch A;Port2 Disabled;Port3 with SoundCard Ch C;Port4 Disabled;\0"s,
         {{0, "SoundCard Ch A"}, {2, "SoundCard Ch C"}}},
        {"only the enabled ones, renumbered",
         "2;Port1 with SoundCard Ch A;Port2 with SoundCard Ch C;\0"s,
         {{0, "SoundCard Ch A"}, {2, "SoundCard Ch C"}}},
        {"UZ7HO, padded with NULs",
         "1;Port1 with SoundCard Ch: A;"s + std::string(21, '\0'),
         {{0, "SoundCard Ch: A"}}},
    };
    for (const Row &row : rows)
        check(row);
}

TEST(AgwPortListTest, LinBpqPortsAreNumberedByTheirPlaceInTheList) {
    const Row rows[] = {
        {"port 2 hidden",
         "4;Port1 with VHF 1200 Packet;Port3 with HF Robust Packet;Port4 with Telnet Server;\0"s,
         {{0, "VHF 1200 Packet"}, {1, "HF Robust Packet"}, {2, "Telnet Server"}}},
        {"a port without a description", "1;Port1 with;\0"s, {{0, "Port1 with"}}},
    };
    for (const Row &row : rows)
        check(row);
}

TEST(AgwPortListTest, AnswersThatAreNoPortListGiveNoChoices) {
    const Row rows[] = {
        {"no data", "", {}},
        {"only the NUL", "\0"s, {}},
        {"no ports", "0;\0"s, {}},
        {"every channel unused", "0;Port1 INVALID CHANNEL;Port2 INVALID CHANNEL;\0"s, {}},
        {"no count in front", "Port1 first soundcard mono;\0"s, {}},
        {"no entry ends", "1;Port1 first soundcard mono\0"s, {}},
        {"a version answer's bytes", "\x07\0\0\0\x06\0\0\0"s, {}},
        {"control bytes in an entry", "1;Port1 \x01\x02;\0"s, {}},
    };
    for (const Row &row : rows)
        check(row);
}

TEST(AgwPortListTest, EntriesOfNoOtherEngineTakeTheirPlaceInTheList) {
    check({"words without a PortK name", "2;VHF;UHF;\0"s, {{0, "VHF"}, {1, "UHF"}}});
    check({"the same number twice keeps the first",
           "2;Port1 first soundcard mono;Port1 again;\0"s,
           {{0, "first soundcard mono"}}});
}

} // namespace
