// Which callsigns an engine can put on the air, and how the log names those it cannot.
#include "AgwCalls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using corvantle::agw::airCallProblem;
using corvantle::agw::airRouteProblem;

constexpr const char *kNotAnAddress =
    "is not an AX.25 callsign: 1 to 6 letters or digits, then an optional SSID -0 to -15";

TEST(AgwCallsTest, AnAirCallIsOneToSixLettersOrDigitsWithAnSsidOfZeroToFifteen) {
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
        {"GB7DXCX", false},
        {"CLUSTER", false},
        {"G4ABC-16", false},
        {"G4ABC-", false},
        {"G4ABC-05", false},
        {"G4ABC-1A", false},
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
        EXPECT_EQ(airCallProblem(row.call), row.fits ? "" : kNotAnAddress);
    }
}

TEST(AgwCallsTest, ARouteNamesTheFirstCallThatCannotGoOnTheAir) {
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
        const std::string said = airRouteProblem(row.own, row.station, row.digis);
        if (row.said.empty()) {
            EXPECT_EQ(said, "");
            continue;
        }
        EXPECT_EQ(said.rfind(row.said + " is not an AX.25 callsign", 0), 0u) << said;
    }
}

} // namespace
