// AX.25 callsigns as every engine and the bridge read them: which texts are addresses, the one text each is
// written as, and how the log names a route's call that cannot go on the air.
#include "Callsign.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace corvantle::callsign;

constexpr const char *kNotAnAddress =
    "is not an AX.25 callsign: 1 to 6 letters or digits, then an optional SSID -0 to -15";

TEST(CallsignTest, AnAirCallIsOneToSixLettersOrDigitsWithAnSsidOfZeroToFifteen) {
    struct Row {
        const char *call;
        bool fits;
    };
    const Row rows[] = {
        {"G", true},
        {"GB7DXC", true},
        {"N0CALL-0", true},
        {"G4ABC-15", true},
        {"g4abc-9", true},
        {" GB7DXC ", true},
        {"2E0ABC-1", true},
        // The SSID is a number of one or two digits: a leading zero names the same SSID.
        {"G4ABC-05", true},
        {"G4ABC-00", true},
        {"G4ABC-015", false},
        {"GB7DXCX", false},
        {"CLUSTER", false},
        {"G4ABC-16", false},
        {"G4ABC-", false},
        {"G4ABC-1A", false},
        {"G4ABC-+5", false},
        {"-5", false},
        {"", false},
        {"G4/ABC", false},
        {"G4 ABC", false},
        {"G4ABC-1-2", false},
        {"G4ABC*", false},
        {"TOOLONGCALL", false},
        {"\xC3\x84"
         "BC",
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.call);
        EXPECT_EQ(airProblem(row.call), row.fits ? "" : kNotAnAddress);
        EXPECT_EQ(parse(row.call).has_value(), row.fits);
    }
}

// Engines report calls in one form and match links by exact text: every call is sent and compared so.
TEST(CallsignTest, EachCallIsWrittenOneWay) {
    struct Row {
        const char *call;
        const char *written;
    };
    const Row rows[] = {
        {"GB7DXC", "GB7DXC"},
        {" gb7dxc-1\t", "GB7DXC-1"},
        {"GB7DXC-0", "GB7DXC"},
        {"G4ABC-05", "G4ABC-5"},
        {"G4ABC-00", "G4ABC"},
        {"g4abc-15", "G4ABC-15"},
        // No address: as the user wrote it, in upper case, so that the log names it.
        {"cluster", "CLUSTER"},
        {"toolongcall-0", "TOOLONGCALL"},
        {"G4ABC-16", "G4ABC-16"},
        {"G4ABC-015", "G4ABC-015"},
        {"-0", "-0"},
        {"  ", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.call);
        EXPECT_EQ(normal(row.call), row.written);
        EXPECT_EQ(normal(row.written), row.written); // written once, it stays so
        EXPECT_TRUE(same(row.call, row.written));
    }
    EXPECT_FALSE(same("GB7DXC", "GB7DXC-1"));
    EXPECT_FALSE(same("G4ABC-5", "G4ABC-15"));
}

TEST(CallsignTest, ARouteIsItsCallsWrittenOneWay) {
    EXPECT_EQ(routeCalls("relay1, relay2-05 ,,RELAY3-0,"),
              (std::vector<std::string>{"RELAY1", "RELAY2-5", "RELAY3"}));
    EXPECT_EQ(routeCalls(" , "), std::vector<std::string>{});
}

TEST(CallsignTest, ARouteNamesTheFirstCallThatCannotGoOnTheAir) {
    struct Row {
        const char *own, *station;
        std::vector<std::string> digis;
        std::string said; // empty: every call fits
    };
    const Row rows[] = {
        {"N0CALL", "GB7DXC", {"RELAY1", "RELAY2-3"}, ""},
        {"MYCALL", "GB7DXC", {}, ""}, // the unconfigured default has the form of a callsign
        {"G4ABC-16", "GB7DXC", {}, "your callsign \"G4ABC-16\""},
        {"N0CALL", "CLUSTER", {}, "the cluster \"CLUSTER\""},
        {"N0CALL", "GB7DXC", {"RELAY1", "RELAY2-16"}, "the digipeater \"RELAY2-16\""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.own) + " " + row.station);
        const std::string said = routeAirProblem(row.own, row.station, row.digis);
        if (row.said.empty()) {
            EXPECT_EQ(said, "");
            continue;
        }
        EXPECT_EQ(said.rfind(row.said + " is not an AX.25 callsign", 0), 0u) << said;
    }
}

} // namespace
