// The allow-list and listen address: what each written form means, which clients it lets in, and when the
// program must refuse to listen.
#include "ClientAllowList.h"
#include "ListenPolicy.h"
#include "ProgramSettings.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace corvantle;

namespace {

ClientAllowList listOf(const std::string &text) {
    auto parsed = ClientAllowList::parse(text);
    EXPECT_TRUE(std::holds_alternative<ClientAllowList>(parsed)) << text;
    return std::get<ClientAllowList>(parsed);
}

TEST(ClientAllowList, LetsInTheNamedAddressesAndRangesAndThisMachine) {
    struct Row {
        const char *list;
        const char *client;
        bool allowed;
    };
    const Row rows[] = {
        {"", "127.0.0.1", true}, // this machine, whatever the list says
        {"", "::1", true},
        {"", "::ffff:127.0.0.1", true}, // IPv4 through a dual-stack listener
        {"", "127.0.0.2", false},
        {"127.0.0.2", "127.0.0.2", true},
        {"127.0.0.2", "::ffff:127.0.0.2", true},
        {"127.0.0.2", "127.0.0.3", false},
        {" 10.0.0.9 , 127.0.0.0/30 ", "127.0.0.3", true},
        {"127.0.0.0/30", "127.0.0.4", false},
        {"192.168.1.0/24", "192.168.1.77", true},
        {"192.168.1.0/24", "192.168.2.77", false},
        {"fd00::/8", "fd12:3456::1", true},
        {"fd00::/8", "fe80::1", false},
        {"2001:db8::1", "2001:DB8:0::1", true},
        {"192.168.1.0/24", "not an address", false},
        {"192.168.0.0/16", "192.168.200.1", true},
        {"10.0.0.0/8", "2001:db8::1", false}, // an IPv4 range holds no IPv6 address
        {"::ffff:0:0/96", "192.0.2.1", true}, // every IPv4 address, written as an IPv6 range
    };
    for (const Row &row : rows)
        EXPECT_EQ(listOf(row.list).allows(std::string(row.client)), row.allowed)
            << "list \"" << row.list << "\", client " << row.client;
}

TEST(ClientAllowList, NamesTheEntryThatIsNotAnAddressAndTheRule) {
    struct Row {
        const char *list;
        const char *problem;
    };
    const Row rows[] = {
        {"192.168.1.0/24, 300.1.2.3",
         "\"300.1.2.3\" is not an IPv4 or IPv6 address or a range such as 192.168.1.0/24 or fd00::/8"},
        {"host.example", "\"host.example\" is not an IPv4 or IPv6 address or a range such as 192.168.1.0/24 "
                         "or fd00::/8"},
        {"10.0.0.0/33",
         "\"10.0.0.0/33\": the prefix length after \"/\" must be a number from 0 to 32 for IPv4"},
        {"10.0.0.0/", "\"10.0.0.0/\": the prefix length after \"/\" must be a number from 0 to 32 for IPv4"},
        {"fd00::/129",
         "\"fd00::/129\": the prefix length after \"/\" must be a number from 0 to 128 for IPv6"},
        {"fd00::/x8", "\"fd00::/x8\": the prefix length after \"/\" must be a number from 0 to 128 for IPv6"},
        {"fe80::1%eth0", "\"fe80::1%eth0\" is not an IPv4 or IPv6 address or a range such as 192.168.1.0/24 "
                         "or fd00::/8"},
        // Every address, on purpose or by a typo: each client transmits under the user's callsign.
        {"0.0.0.0/0", "\"0.0.0.0/0\": a prefix length of 0 lets every address in, and every client transmits "
                      "under your callsign; name your logging computers' addresses or network instead"},
        {"192.168.1.0/24, ::/0", "\"::/0\": a prefix length of 0 lets every address in, and every client "
                                 "transmits under your callsign; name your logging computers' addresses or "
                                 "network instead"},
        {"127.0.0.1/0", "\"127.0.0.1/0\": a prefix length of 0 lets every address in, and every client "
                        "transmits under your callsign; name your logging computers' addresses or network "
                        "instead"},
        {"::1/0", "\"::1/0\": a prefix length of 0 lets every address in, and every client transmits under "
                  "your callsign; name your logging computers' addresses or network instead"},
        // Host bits: one machine meant, a whole network given.
        {"192.168.1.5/24", "\"192.168.1.5/24\" has bits set after the first 24: it would mean the whole "
                           "network 192.168.1.0/24; write that, or the address alone"},
        {"fd00::5/8",
         "\"fd00::5/8\" has bits set after the first 8: it would mean the whole network fd00::/8; "
         "write that, or the address alone"},
    };
    for (const Row &row : rows) {
        const auto parsed = ClientAllowList::parse(row.list);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << row.list;
        EXPECT_EQ(std::get<std::string>(parsed), row.problem);
    }
}

TEST(ClientAllowList, OnlyLoopbackWhenNoEntryReachesAnotherMachine) {
    struct Row {
        const char *list;
        bool onlyLoopback;
    };
    const Row rows[] = {
        {"", true},
        {"127.0.0.0/8,::1", true},
        {"127.0.0.2, 127.5.0.0/16", true},
        {"126.0.0.0/7", false}, // reaches 127.x and 126.x
        {"127.0.0.2, 192.168.1.0/24", false},
        {"::ffff:0:0/96", false},
        {"fd00::1", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(listOf(row.list).onlyLoopback(), row.onlyLoopback) << row.list;
}

TEST(ListenPolicy, RefusesToListenBeyondLoopbackWithoutAnAllowListThatReachesThere) {
    struct Row {
        const char *address;
        const char *allowed;
        bool refused;
    };
    const Row rows[] = {
        {"127.0.0.1", "127.0.0.0/8,::1", false}, {"::1", "", false},
        {"any", "127.0.0.0/8,::1", true},        {"ANY", "", true},
        {"192.168.1.20", "127.0.0.2", true},     {"any", "192.168.1.0/24", false},
        {"fd00::5", "fd00::/8", false},
    };
    for (const Row &row : rows) {
        const ListenPolicy policy{**parseListenAddress(row.address), listOf(row.allowed)};
        const std::string problem = policy.problem("/etc/corvantle/settings.ini");
        EXPECT_EQ(!problem.empty(), row.refused) << row.address << " with \"" << row.allowed << "\"";
        if (row.refused) {
            EXPECT_NE(problem.find("AllowedClients"), std::string::npos) << problem;
            EXPECT_NE(problem.find("transmits under your callsign"), std::string::npos) << problem;
            EXPECT_NE(problem.find("/etc/corvantle/settings.ini"), std::string::npos) << problem;
        }
    }
}

TEST(ListenPolicy, ReadsTheStoreAndFallsBackToLoopbackOnTextItCannotUse) {
    test::Journal journal;
    test::MemoryStore store(journal);
    const std::string app = kProgramName;
    // The reading's problems, as the lines on standard error they were.
    std::string warnings;
    const auto readListenPolicy = [&] {
        const SettingsReading reading = readProgramSettings(store);
        for (const std::string &problem : reading.problems)
            warnings += "corvantle: " + problem + "\n";
        return reading.settings.listen;
    };

    ListenPolicy policy = readListenPolicy();
    EXPECT_EQ(policy.addressText(), "127.0.0.1");
    EXPECT_TRUE(policy.allowed.allows(std::string("127.0.0.2"))); // the whole loopback range, as before
    EXPECT_FALSE(policy.allowed.allows(std::string("192.168.1.2")));
    EXPECT_EQ(warnings, "");

    store.values[{app, "Config", "ListenAddress"}] = " any ";
    store.values[{app, "Config", "AllowedClients"}] = "192.168.1.0/24";
    policy = readListenPolicy();
    EXPECT_EQ(policy.addressText(), "any");
    EXPECT_TRUE(policy.allowed.allows(std::string("192.168.1.2")));
    EXPECT_EQ(warnings, "");

    store.values[{app, "Config", "ListenAddress"}] = "lan";
    store.values[{app, "Config", "AllowedClients"}] = "192.168.1.0/40";
    policy = readListenPolicy();
    EXPECT_EQ(policy.addressText(), "127.0.0.1");
    EXPECT_FALSE(policy.allowed.allows(std::string("192.168.1.2")));
    EXPECT_EQ(
        warnings,
        "corvantle: setting \"ListenAddress\" holds \"lan\", which is neither an IP address nor \"any\"; "
        "using the default \"127.0.0.1\"\n"
        "corvantle: setting \"AllowedClients\" holds \"192.168.1.0/40\", where \"192.168.1.0/40\": the "
        "prefix length after \"/\" must be a number from 0 to 32 for IPv4; using the default "
        "\"127.0.0.0/8,::1\"\n");
}

} // namespace
