// Report: the benchmark's results as a small Markdown table, each figure beside its target, with the
// machine and the date above it and notes below for every figure that is missing or qualified.
#pragma once

#include "Results.h"

#include <string>

namespace corvantle::bench {

struct Machine {
    std::string description; // "2 cores, <CPU model>"
    std::string date;        // UTC
    std::string program;     // the binary measured
};

Machine thisMachine(const std::string &program);
std::string markdownReport(const Results &results, const Machine &machine);

} // namespace corvantle::bench
