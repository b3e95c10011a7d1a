#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit tests, the Qt dialogs on the offscreen
# platform, and the end-to-end tests over two real Dire Wolf engines joined by a simulated radio channel.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
cd "$top/build"
# Tests run side by side, one per processor; each over-the-air test has engines of its own.
ctest --output-on-failure --timeout 300 -j"$(nproc)"
