// The About box's version line.
#include "VersionLine.h"

namespace corvantle {

QString versionLine(int major, int minor, int patch) {
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(patch);
}

} // namespace corvantle
