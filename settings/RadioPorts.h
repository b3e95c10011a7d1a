// The radio ports an engine offers, as the program shows them to the user; neither engine's wording.
#pragma once

#include <string>
#include <vector>

namespace corvantle {

// One radio port an engine names: the number the RadioPort setting takes, and the engine's words for it.
struct RadioPortChoice {
    int number = 0;          // 0 for the engine's first port
    std::string description; // "first soundcard right"

    bool operator==(const RadioPortChoice &) const = default;
};

// Port numbers as the user reads them: "0, 1".
std::string portNumbersText(const std::vector<int> &ports);

} // namespace corvantle
