#include "SettingsTable.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvantle::settings;

namespace {

TEST(NumericTest, AcceptsDecimalsWithSignAndBlanksOnly) {
    struct Row {
        const char *text;
        std::optional<double> value;
    };
    const Row rows[] = {
        {"4444", 4444},  {" 5000 ", 5000}, {"\t5000.0", 5000}, {"2.5", 2.5}, {"-3", -3}, {"+7", 7},
        {".5", 0.5},     {"5.", 5},        {"0", 0},
        {"", std::nullopt},    {"  ", std::nullopt},  {"abc", std::nullopt},  {"12ab", std::nullopt},
        {"1,5", std::nullopt}, {"1.2.3", std::nullopt}, {"- 3", std::nullopt}, {"1e3", std::nullopt},
        {".", std::nullopt},   {"+", std::nullopt},    {"0x10", std::nullopt}, {"5 5", std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(readNumber(row.text), row.value) << '"' << row.text << '"';
}

TEST(NumericTest, WholeNumbersAreRoundedAndRangeChecked) {
    EXPECT_EQ(readWholeNumber("4444.4", 1, 65535), 4444);
    EXPECT_EQ(readWholeNumber("2.5", 0, 10), 3);
    EXPECT_EQ(readWholeNumber("-2.5", -10, 10), -3);
    EXPECT_EQ(readWholeNumber("65535", 1, 65535), 65535);
    EXPECT_EQ(readWholeNumber("65536", 1, 65535), std::nullopt);
    EXPECT_EQ(readWholeNumber("0.4", 1, 65535), std::nullopt);
    EXPECT_EQ(readWholeNumber("99999999999999999999999", 0, INT32_MAX), std::nullopt);
}

TEST(SettingTexts, BooleansAndSecondsReadAndWriteBack) {
    EXPECT_EQ(readBoolean("True"), true);
    EXPECT_EQ(readBoolean("False"), false);
    EXPECT_EQ(readBoolean("true"), std::nullopt);
    EXPECT_EQ(readBoolean("-1"), std::nullopt);
    EXPECT_STREQ(booleanText(true), "True");

    struct Row {
        int32_t ms;
        const char *seconds;
    };
    for (const Row &row : {Row{10000, "10"}, Row{2500, "2.5"}, Row{0, "0"}, Row{1, "0.001"},
                           Row{1250, "1.25"}, Row{INT32_MAX, "2147483.647"}}) {
        EXPECT_EQ(secondsText(row.ms), row.seconds);
        // What the dialog shows reads back as the same number of milliseconds.
        EXPECT_EQ(std::llround(readNumber(secondsText(row.ms)).value_or(-1) * 1000), row.ms);
    }
}

TEST(SettingKeys, TenKeysInStartupOrderWithTheirDefaults) {
    const std::pair<const char *, const char *> expected[] = {
        {"MyCallsign", "MYCALL"},    {"Cluster", "CLUSTER"},         {"RadioPort", "0"},
        {"LocalPort", "4444"},       {"AutoMinimize", "0"},          {"AutoMinimizeDelay", "10000"},
        {"MonitorMode", "False"},    {"CompatibilityMode", "False"}, {"ConnectViaDigi", "False"},
        {"Digis", ""}};
    ASSERT_EQ(std::size(kAllKeys), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_STREQ(kAllKeys[i].name, expected[i].first);
        EXPECT_STREQ(kAllKeys[i].defaultText, expected[i].second);
    }
}

} // namespace
