#!/usr/bin/env bash
# Builds the Debian package the Debian way: dpkg-buildpackage with debian/ (debhelper and its CMake build
# system) on a copy of the checkout in build-package/source, leaving build-package/corvantle_<version>_<arch>.deb
# and nothing in the checkout itself. Installs what building needs (debian/control's Build-Depends).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build-package"

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"$top/tools/install-deps.sh" dpkg-dev build-essential
if ! (cd "$top" && dpkg-checkbuilddeps 2>/dev/null); then
    echo "Installing the package's build dependencies"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq --no-install-recommends "$top" >/dev/null
fi

# The package states its version twice: debian/changelog for Debian, CMakeLists.txt for the program itself.
cmake_version=$(sed -n 's/^project(corvantle VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
changelog_version=$(cd "$top" && dpkg-parsechangelog -S Version)
if [ "$cmake_version" != "$changelog_version" ]; then
    echo "package.sh: debian/changelog says $changelog_version, CMakeLists.txt says $cmake_version" >&2
    exit 1
fi

# A fresh copy of the files git knows (committed or not), so that the build sees what a clone would and
# its by-products (obj-*/, debian/corvantle/, debian/files) stay out of the checkout.
rm -rf "$out/source" "$out"/corvantle_* "$out"/corvantle-dbgsym_* "$out/build.log"
mkdir -p "$out/source"
(cd "$top" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null -T - -cf -) | tar -xf - -C "$out/source"

# dpkg-buildpackage leaves its results beside the source tree, in build-package/.
# Its every compiler line goes to build-package/build.log; what went wrong is shown from there.
echo "Building the package (dpkg-buildpackage -b -us -uc; the log is in build-package/build.log)"
if ! (cd "$out/source" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b -us -uc) >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    echo "package.sh: dpkg-buildpackage failed; the whole log is in $out/build.log" >&2
    exit 1
fi
ls "$out"/corvantle_*.deb
