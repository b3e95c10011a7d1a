#include "LineEnds.h"

#include <gtest/gtest.h>

using corvantle::withTelnetLineEnds;

namespace {

// Clusters on AX.25 end lines with CR alone and pack several lines into one frame.
TEST(TelnetLineEnds, EveryCrWithoutLfGetsOne) {
    struct Row {
        std::string fromRadio, toClient;
    };
    const Row rows[] = {
        {"spot\r", "spot\r\n"},
        {"one\rtwo\rthree", "one\r\ntwo\r\nthree"},
        {"kept\r\nas is\r\n", "kept\r\nas is\r\n"},
        {"\r\r", "\r\n\r\n"},
        {"no line end", "no line end"},
        {"lf alone\n", "lf alone\n"},
        {"", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(withTelnetLineEnds(row.fromRadio), row.toClient);
}

} // namespace
