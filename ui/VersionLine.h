// The About box's version line, "Version 1.2.2", from the three parts of the program's version.
#pragma once

#include <QString>

namespace corvantle {

QString versionLine(int major, int minor, int patch);

} // namespace corvantle
