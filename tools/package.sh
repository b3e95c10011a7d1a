#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests in build-package/, then cpack, leaving
# build-package/corvantle_<version>_<arch>.deb. Installs what building and checking the package need.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"

# dpkg-dev and file: dpkg-shlibdeps, which names the package's library dependencies. desktop-file-utils
# and appstream: the checks in tools/check-package.sh.
"$top/tools/install-deps.sh" dpkg-dev file desktop-file-utils appstream

# Debian's hardening flags (stack protector, fortified functions, read-only relocations bound at start),
# given on every configure so that an existing build directory takes them too. CMake reads no CPPFLAGS.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCORVANTLE_BUILD_BENCHMARK=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/corvantle_*.deb # a package of an earlier version would be taken for this one
(cd "$build" && cpack -G DEB)
ls "$build"/corvantle_*.deb
