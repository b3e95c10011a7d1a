// One line describing an AX.25 frame, for logs a user attaches when asking for help:
//   N0CALL>GB7DXC,RELAY1* I C P s0 r1 5 bytes "hello"
// (a '*' marks a digipeater that has repeated the frame; text beyond 40 bytes is cut, and bytes that are
// not printable are written as \r, \n or \xNN).
#pragma once

#include "Ax25Frame.h"

#include <string>

namespace corvantle::ax25 {

std::string frameText(const Frame &frame);

} // namespace corvantle::ax25
