#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian (no error and no warning), installs it as a user would,
# checks what it installed (the program runs, the desktop entry, the AppStream metainfo, the manual page, the
# service unit, the package's fields), and removes it again, also when a check fails. Run as root on Debian
# 12, without input; exits non-zero when anything failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 1
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
    echo "check-package.sh: run it as root: it installs and removes the package" >&2
    exit 1
fi
tools/package.sh || exit 1
# groff renders the manual page; lintian checks the package; systemd brings systemd-analyze for the unit.
tools/install-deps.sh groff-base lintian systemd || exit 1

deb=$(ls build-package/corvantle_*.deb)
version=$(dpkg-deb -f "$deb" Version)
failures=0

# check WHAT COMMAND...: runs COMMAND and reports WHAT as passed or failed.
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

# silent COMMAND...: succeeds when COMMAND succeeds and prints nothing; what it printed is shown otherwise.
silent() {
    local output
    output=$("$@" 2>&1) && [ -z "$output" ] && return 0
    printf '%s\n' "$output"
    return 1
}

control_fields_are_set() {
    [ "$(dpkg-deb -f "$deb" Section)" = hamradio ] &&
        [ "$(dpkg-deb -f "$deb" Maintainer)" = "corvantle developers <corvantle@example.org>" ] &&
        dpkg-deb -f "$deb" Recommends | grep -qw direwolf &&
        dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' &&
        [ -n "$(dpkg-deb -f "$deb" Description | sed -n 2p)" ] # a long description under the short one
}

files_are_installed() {
    local missing=0 file
    for file in /usr/bin/corvantle /usr/share/applications/corvantle.desktop \
        /usr/share/icons/hicolor/{16x16,48x48}/apps/corvantle.png /usr/share/icons/hicolor/scalable/apps/corvantle.svg \
        /usr/share/metainfo/org.example.corvantle.metainfo.xml /usr/share/man/man1/corvantle.1.gz \
        /lib/systemd/system/corvantle.service /etc/corvantle/settings.ini \
        /usr/share/doc/corvantle/copyright /usr/share/doc/corvantle/changelog.gz; do
        [ -f "$file" ] || { echo "missing: $file"; missing=1; }
    done
    return $missing
}

version_is_the_packages() {
    local shown
    # Qt's notes on standard error (no XDG_RUNTIME_DIR as root) are no part of the answer.
    shown=$(QT_QPA_PLATFORM=offscreen /usr/bin/corvantle --version 2>/dev/null) || return 1
    [ "$shown" = "corvantle $version" ] || { echo "corvantle --version says '$shown'"; return 1; }
}

# The metainfo's launchable names the installed desktop entry: validate-tree checks the two together.
metainfo_fits_desktop_entry() {
    local tree
    tree=$(mktemp -d) || return 1
    mkdir -p "$tree/usr/share/metainfo" "$tree/usr/share/applications"
    cp /usr/share/metainfo/org.example.corvantle.metainfo.xml "$tree/usr/share/metainfo/"
    cp /usr/share/applications/corvantle.desktop "$tree/usr/share/applications/"
    appstreamcli validate-tree --no-net --strict "$tree"
    local result=$?
    rm -rf "$tree"
    return $result
}

newest_release_is_the_packages() {
    grep -q "<release version=\"$version\"" /usr/share/metainfo/org.example.corvantle.metainfo.xml
}

# groff prints every warning (-ww) on standard error; a page that renders cleanly prints none.
manual_page_renders_cleanly() {
    local page rendered
    page=$(ls /usr/share/man/man1/corvantle.1*) || return 1
    rendered=$(zcat -f "$page" | groff -man -Tutf8 -ww -rLL=80n 2>&1 >/dev/null) || return 1
    [ -z "$rendered" ] || { printf '%s\n' "$rendered"; return 1; }
    zcat -f "$page" | groff -man -Tutf8 -P-cbou 2>/dev/null | grep -q "corvantle --help"
}

# Debian's own judgement of the package: every error and warning counts (informational tags do not).
lintian_passes() {
    local output
    output=$(lintian --fail-on error,warning "$deb" 2>&1)
    local result=$?
    [ -n "$output" ] && printf '%s\n' "$output"
    return $result
}

# The unit as installed: systemd-analyze reads it, the program it starts and the user it asks for.
unit_verifies() {
    silent systemd-analyze verify /lib/systemd/system/corvantle.service
}

# The service's own command, as its unit gives it, reads the installed settings file and answers.
unit_starts_the_installed_program() {
    grep -qx 'ExecStart=/usr/bin/corvantle --headless --config /etc/corvantle/settings.ini' \
        /lib/systemd/system/corvantle.service &&
        grep -qx 'DynamicUser=yes' /lib/systemd/system/corvantle.service &&
        grep -q 'After=.*direwolf.service' /lib/systemd/system/corvantle.service &&
        grep -qx 'Restart=on-failure' /lib/systemd/system/corvantle.service
}

# The shipped settings file, read as the service reads it: by an unprivileged user, headless, no display.
# It names MYCALL, and no engine need be there: what counts is that the file was read whole.
service_reads_the_shipped_settings() {
    local said
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 15 \
        runuser -u nobody -- /usr/bin/corvantle --headless --config /etc/corvantle/settings.ini 2>&1)
    printf '%s\n' "$said" | grep -q "^Registering MYCALL with the packet engine$" &&
        ! printf '%s\n' "$said" | grep -q "could not be read" ||
        { printf '%s\n' "$said"; return 1; }
}

check "lintian: no errors, no warnings" lintian_passes

trap 'apt-get remove -y -qq corvantle >/dev/null 2>&1 || true' EXIT
if ! apt-get install -y -qq "./$deb"; then
    echo "FAILED: installing $deb"
    exit 1
fi

check "the package's fields" control_fields_are_set
check "the installed files" files_are_installed
check "corvantle --version is $version" version_is_the_packages
check "desktop-file-validate" silent desktop-file-validate /usr/share/applications/corvantle.desktop
check "appstreamcli validate" appstreamcli validate --no-net --strict /usr/share/metainfo/org.example.corvantle.metainfo.xml
check "the metainfo's launchable is the desktop entry" metainfo_fits_desktop_entry
check "the metainfo's release is $version" newest_release_is_the_packages
check "the manual page renders without warnings" manual_page_renders_cleanly
check "systemd-analyze verify corvantle.service" unit_verifies
check "the unit runs the program headless with /etc/corvantle/settings.ini" unit_starts_the_installed_program
check "the service reads the shipped settings file" service_reads_the_shipped_settings

if [ "$failures" -ne 0 ]; then
    echo "check-package.sh: $failures check(s) failed"
    exit 1
fi
echo "check-package.sh: $deb passed every check"
