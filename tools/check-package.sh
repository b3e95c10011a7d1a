#!/usr/bin/env bash
# Builds the Debian package the Debian way (tools/package.sh), checks it with lintian (no error and no
# warning), checks its maintainer scripts with systemd seemingly running, takes it through install,
# upgrade, remove and purge as dpkg does, checks what it installed (the program runs, the desktop entry, the
# AppStream metainfo, the manual page, the service unit and its sandbox's score), runs the installed program
# as the unit's user and groups would against a pseudo-terminal standing in for a serial TNC, and checks
# that the README's nftables rules parse. Run as root on Debian 12, without input; exits non-zero when
# anything failed, and leaves the package purged.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 1
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
    echo "check-package.sh: run it as root: it installs and removes the package" >&2
    exit 1
fi
tools/package.sh || exit 1
# groff renders the manual page; lintian checks the package; systemd brings systemd-analyze for the unit;
# desktop-file-utils and appstream check the desktop entry and the metainfo; python3 plays the serial TNC;
# nftables checks the README's rules.
tools/install-deps.sh groff-base lintian systemd desktop-file-utils appstream python3 nftables || exit 1

deb=$(ls build-package/corvantle_*.deb)
version=$(dpkg-deb -f "$deb" Version)
unit=/lib/systemd/system/corvantle.service
settings=/etc/corvantle/settings.ini
metainfo=/usr/share/metainfo/org.example.corvantle.metainfo.xml
program=/usr/bin/corvantle
# The highest exposure systemd-analyze may give the installed unit.
max_exposure=2.0
failures=0
scratch=$(mktemp -d /run/corvantle-check.XXXXXX) || exit 1
chmod 0755 "$scratch"
# The sandboxed runs below see neither /tmp nor /root as they are, where a checkout may live: what they run
# of the checkout's comes from here.
install -m 0644 "$top/tools/lib/deny-write-execute.py" "$scratch/deny-write-execute.py"

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

purge_package() {
    dpkg -P corvantle >/dev/null 2>&1 || true
}

# ---- the package as built ----

# Debian's own judgement of the package: every error and warning counts. The pedantic and informational
# tags are shown, so that a new one is seen, but do not fail the check (README, "Installing", says why
# those that remain stay).
lintian_passes() {
    local output
    output=$(lintian --fail-on error,warning --pedantic --display-info "$deb" 2>&1)
    local result=$?
    output=$(printf '%s\n' "$output" | grep -v "running with root privileges is not recommended")
    [ -n "$output" ] && printf '%s\n' "$output" | sed 's/^/    lintian: /'
    return $result
}

control_fields_are_set() {
    [ "$(dpkg-deb -f "$deb" Section)" = hamradio ] &&
        [ "$(dpkg-deb -f "$deb" Maintainer)" = "corvantle developers <corvantle@example.org>" ] &&
        dpkg-deb -f "$deb" Recommends | grep -qw direwolf &&
        dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' &&
        [ -n "$(dpkg-deb -f "$deb" Description | sed -n 2p)" ] # a long description under the short one
}

# The version stands in three places; the package's is debian/changelog's.
versions_agree() {
    local program metainfo_release
    program=$(sed -n 's/^project(corvantle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    metainfo_release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' packaging/org.example.corvantle.metainfo.xml | head -1)
    [ "$program" = "$version" ] && [ "$metainfo_release" = "$version" ] ||
        { echo "package $version, CMakeLists.txt $program, metainfo $metainfo_release"; return 1; }
}

# ---- the maintainer scripts ----

# The scripts as debhelper wrote them, run with systemd seemingly running (a /run/systemd/system of their
# own, in a mount namespace) and systemctl, deb-systemd-invoke and deb-systemd-helper recording what they
# are asked. What the real ones do is seen in the install cycle below.
scripts_drive_systemd() {
    # Outside /run, which the scripts get a fresh one of.
    local dir tool
    dir=$(mktemp -d) || return 1
    mkdir -p "$dir/shims" && dpkg-deb -e "$deb" "$dir/control" || return 1
    # A machine that never had the package: nothing installed, nothing enabled.
    for tool in systemctl deb-systemd-invoke deb-systemd-helper; do
        printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\ncase "$*" in *debian-installed*|*was-enabled*) exit 1 ;; esac\n' \
            "$tool" "$dir" >"$dir/shims/$tool"
        chmod +x "$dir/shims/$tool"
    done
    # shellcheck disable=SC2016 # expanded by the inner shell
    unshare --mount --propagation private -- sh -ec '
        mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system
        dir=$1
        PATH="$dir/shims:$PATH"
        step() { echo "== $*" >>"$dir/calls"; "$dir/control/$1" "$2" ${3:+"$3"}; }
        step postinst configure
        step postinst configure 1.0.0
        step prerm remove
        step postrm remove
        step postrm purge' sh "$dir" || { echo "a maintainer script failed"; rm -rf "$dir"; return 1; }
    local step call
    while IFS='|' read -r step call; do
        awk -v step="== $step" '$0 == step { inside = 1; next } /^== / { inside = 0 } inside' "$dir/calls" |
            grep -qxF "$call" && continue
        echo "\"$step\" did not ask for \"$call\"; what the scripts asked:"
        sed 's/^/    /' "$dir/calls"
        rm -rf "$dir"
        return 1
    done <<'EOF'
postinst configure|systemctl --system daemon-reload
postinst configure|deb-systemd-invoke start corvantle.service
postinst configure 1.0.0|systemctl --system daemon-reload
postinst configure 1.0.0|deb-systemd-invoke restart corvantle.service
prerm remove|deb-systemd-invoke stop corvantle.service
postrm remove|systemctl --system daemon-reload
postrm purge|deb-systemd-helper purge corvantle.service
EOF
    rm -rf "$dir"
}

# ---- install, upgrade, remove, purge ----

installs_cleanly() {
    purge_package
    apt-get install -y -qq "./$deb" >/dev/null 2>"$scratch/apt.err" || { cat "$scratch/apt.err"; return 1; }
    dpkg-query -W -f='${Status}' corvantle | grep -q "install ok installed" &&
        grep -qx "$settings" /var/lib/dpkg/info/corvantle.conffiles || return 1
    # Not enabled: the service cannot run before its settings file names the callsign and the cluster.
    [ ! -e /etc/systemd/system/multi-user.target.wants/corvantle.service ] ||
        { echo "installing enabled the service"; return 1; }
}

files_are_installed() {
    local missing=0 file
    for file in /usr/bin/corvantle /usr/share/applications/corvantle.desktop \
        /usr/share/icons/hicolor/{16x16,48x48}/apps/corvantle.png /usr/share/icons/hicolor/scalable/apps/corvantle.svg \
        "$metainfo" /usr/share/man/man1/corvantle.1.gz "$unit" "$settings" \
        /usr/share/doc/corvantle/copyright /usr/share/doc/corvantle/changelog.gz; do
        [ -f "$file" ] || { echo "missing: $file"; missing=1; }
    done
    return $missing
}

# The same package as a later version: what dpkg does on an upgrade (the scripts' upgrade arguments, the
# conffile kept) does not depend on what changed inside.
later_version_of_the_package() {
    local tree="$scratch/later"
    rm -rf "$tree" && dpkg-deb -R "$deb" "$tree" || return 1
    sed -i "s/^Version: .*/Version: $version+check1/" "$tree/DEBIAN/control"
    dpkg-deb -b "$tree" "$scratch/corvantle_later.deb" >/dev/null
}

# A user's edit to the settings file and the link that enables the service both outlive an upgrade.
upgrade_keeps_edits_and_enablement() {
    sed -i 's/^Config\\MyCallsign=.*/Config\\MyCallsign=G4ABC-1/' "$settings"
    silent systemctl enable --quiet corvantle.service || return 1
    [ -L /etc/systemd/system/multi-user.target.wants/corvantle.service ] || { echo "enable made no link"; return 1; }
    later_version_of_the_package || return 1
    dpkg -i "$scratch/corvantle_later.deb" >"$scratch/dpkg.out" 2>&1 || { cat "$scratch/dpkg.out"; return 1; }
    [ "$(dpkg-query -W -f='${Version}' corvantle)" = "$version+check1" ] &&
        grep -qx 'Config\\MyCallsign=G4ABC-1' "$settings" &&
        [ -L /etc/systemd/system/multi-user.target.wants/corvantle.service ]
}

# Removing takes the program and keeps the user's settings; purging takes those and the enable link too.
remove_then_purge_leave_nothing() {
    dpkg -r corvantle >"$scratch/dpkg.out" 2>&1 || { cat "$scratch/dpkg.out"; return 1; }
    [ ! -e /usr/bin/corvantle ] && [ ! -e "$unit" ] || { echo "dpkg -r left the program or the unit"; return 1; }
    grep -qx 'Config\\MyCallsign=G4ABC-1' "$settings" || { echo "dpkg -r took the settings file"; return 1; }
    dpkg -P corvantle >"$scratch/dpkg.out" 2>&1 || { cat "$scratch/dpkg.out"; return 1; }
    local left
    left=$(find /etc/corvantle /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
        /var/lib/systemd/deb-systemd-helper-masked -name 'corvantle*' 2>/dev/null)
    [ -z "$left" ] && ! dpkg-query -W corvantle >/dev/null 2>&1 ||
        { echo "left after purge: ${left:-the record in the dpkg database}"; return 1; }
}

# ---- what was installed ----

version_is_the_packages() {
    local shown
    # Qt's notes on standard error (no XDG_RUNTIME_DIR as root) are no part of the answer.
    shown=$(QT_QPA_PLATFORM=offscreen /usr/bin/corvantle --version 2>/dev/null) || return 1
    [ "$shown" = "corvantle $version" ] || { echo "corvantle --version says '$shown'"; return 1; }
}

# The metainfo's launchable names the installed desktop entry: validate-tree checks the two together.
metainfo_fits_desktop_entry() {
    local tree="$scratch/appstream"
    mkdir -p "$tree/usr/share/metainfo" "$tree/usr/share/applications"
    cp "$metainfo" "$tree/usr/share/metainfo/"
    cp /usr/share/applications/corvantle.desktop "$tree/usr/share/applications/"
    appstreamcli validate-tree --no-net --strict "$tree"
}

# groff prints every warning (-ww) on standard error; a page that renders cleanly prints none.
manual_page_renders_cleanly() {
    local page=/usr/share/man/man1/corvantle.1.gz rendered
    rendered=$(zcat "$page" | groff -man -Tutf8 -ww -rLL=80n 2>&1 >/dev/null) || return 1
    [ -z "$rendered" ] || { printf '%s\n' "$rendered"; return 1; }
    zcat "$page" | groff -man -Tutf8 -P-cbou 2>/dev/null | grep -q "corvantle --help"
}

# ---- the unit ----

unit_verifies() {
    silent systemd-analyze verify "$unit"
}

# unit_says SETTING=VALUE: the installed unit has exactly that line.
unit_says() {
    grep -qxF "$1" "$unit" || { echo "the unit has no line $1"; return 1; }
}

unit_runs_the_service() {
    unit_says "ExecStart=/usr/bin/corvantle --headless --config $settings" &&
        unit_says 'DynamicUser=yes' && unit_says 'Restart=on-failure' &&
        unit_says 'RestartPreventExitStatus=2' &&
        unit_says 'Wants=network-online.target' &&
        unit_says 'After=network-online.target direwolf.service'
}

# A serial TNC stays within reach: the group that owns serial lines, and the serial drivers' devices, with
# no PrivateDevices=yes to hide /dev. TCP to an engine on this machine or the LAN stays open.
unit_reaches_a_serial_tnc_and_the_network() {
    unit_says 'SupplementaryGroups=dialout' && unit_says 'DevicePolicy=closed' &&
        unit_says 'DeviceAllow=char-ttyUSB rw' && unit_says 'DeviceAllow=char-ttyACM rw' &&
        unit_says 'DeviceAllow=char-rfcomm rw' && unit_says 'DeviceAllow=char-ttyAMA rw' &&
        unit_says 'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX' || return 1
    ! grep -Eq '^(PrivateDevices=yes|PrivateNetwork=yes|IPAddressDeny=)' "$unit" ||
        { echo "the unit hides devices or the network"; return 1; }
}

# systemd's own measure of the sandbox, from 0 (locked down) to 10 (exposed).
unit_is_locked_down() {
    local report exposure
    report=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1)
    exposure=$(printf '%s\n' "$report" | sed -n 's/.*Overall exposure level for corvantle.service: \([0-9.]*\).*/\1/p')
    [ -n "$exposure" ] || { printf '%s\n' "$report"; return 1; }
    echo "    systemd-analyze security: exposure $exposure (at most $max_exposure)"
    awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }' ||
        { printf '%s\n' "$report" | grep '✗'; return 1; }
}

# ---- the installed program as the unit runs it ----

# unit_group_ids: the numeric ids of the unit's SupplementaryGroups, comma-separated.
unit_group_ids() {
    local names name ids=()
    names=$(sed -n 's/^SupplementaryGroups=//p' "$unit")
    for name in $names; do
        ids+=("$(getent group "$name" | cut -d: -f3)")
    done
    (IFS=,; echo "${ids[*]}")
}

# as_the_unit GROUPS COMMAND...: runs COMMAND (replacing this shell, so that $! is the program) as far as
# this machine can without systemd as PID 1, with what the unit asks for:
# - a user id of systemd's dynamic range with no entry in /etc/passwd (DynamicUser), in GROUPS (the unit's
#   SupplementaryGroups, or none), with no capabilities and no new privileges (CapabilityBoundingSet=,
#   NoNewPrivileges), in a user namespace that maps only that user (PrivateUsers);
# - every mount read-only but /dev, /proc and /sys, /home and /root empty, /tmp and /var/tmp its own
#   (ProtectSystem=strict, ProtectHome, PrivateTmp), /proc showing its own processes only (ProtectProc,
#   ProcSubset), all in a mount namespace of its own, so the machine's mounts stay as they are;
# - and, on a kernel that has it, no writable executable memory (MemoryDenyWriteExecute).
# The unit's system call filter, address families and device policy need systemd itself; the README says
# so, and the checks above read them from the unit.
sandbox_uid=64999
as_the_unit() {
    local groups=$1
    shift
    local identity=(setpriv --reuid="$sandbox_uid" --regid="$sandbox_uid" --no-new-privs)
    if [ -n "$groups" ]; then identity+=(--groups="$groups"); else identity+=(--clear-groups); fi
    # The capability bounding set is dropped last, inside the user namespace, as systemd does: a new user
    # namespace starts with a full one.
    local no_capabilities=(setpriv --inh-caps=-all --ambient-caps=-all --bounding-set=-all --)
    local userns=(unshare --user --keep-caps --map-user="$sandbox_uid" --map-group="$sandbox_uid")
    if ! "${identity[@]}" "${userns[@]}" "${no_capabilities[@]}" true 2>/dev/null; then
        echo "    (no user namespace here: PrivateUsers is not reproduced)" >&2
        userns=()
        identity+=(--inh-caps=-all --ambient-caps=-all --bounding-set=-all)
        no_capabilities=()
    fi
    local mdwe=(/usr/bin/python3 "$scratch/deny-write-execute.py")
    if ! "${mdwe[@]}" true 2>/dev/null; then
        echo "    (this kernel cannot refuse writable executable memory: MemoryDenyWriteExecute is not reproduced)" >&2
        mdwe=()
    fi
    # shellcheck disable=SC2016 # expanded by the inner shell
    exec unshare --mount --propagation private -- bash -ec '
        findmnt -rno TARGET | grep -Ev "^/(dev|proc|sys)(/|$)" | while read -r target; do
            mount -o remount,bind,ro "$target" 2>/dev/null || true
        done
        mount -t tmpfs -o mode=1777 tmpfs /tmp
        mount -t tmpfs -o mode=1777 tmpfs /var/tmp
        for home in /home /root; do [ -d "$home" ] && mount -t tmpfs -o ro,mode=0755 tmpfs "$home"; done
        mount -t proc -o subset=pid,hidepid=invisible proc /proc
        exec "$@"' sh "${identity[@]}" -- "${userns[@]}" "${no_capabilities[@]}" "${mdwe[@]}" \
        env -i HOME=/ LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# kiss_settings LINK LOCALPORT: a service settings file with a KISS TNC on the serial line LINK. The TXDELAY
# the program sends when the line opens is the first thing the "TNC" sees.
kiss_settings() {
    cat <<EOF
[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]
Config\\MyCallsign=G4ABC-1
Config\\Cluster=GB7DXC
Config\\LocalPort=$2
Engine\\Kind=KISS
Engine\\Kiss=$1:9600
Engine\\TxDelay=30
EOF
}

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# run_against_pty_tnc GROUPS NAME: starts the "TNC" on a pseudo-terminal linked at $scratch/NAME and the
# installed program on it as the unit would run it in GROUPS, until the TNC has seen the program's TXDELAY
# or 15 s passed; leaves the TNC's words in $scratch/NAME.tnc, the program's in $scratch/NAME.log and its
# exit status in $scratch/NAME.status. The program is stopped with SIGTERM, as systemctl stop does.
run_against_pty_tnc() {
    local groups=$1 name=$2 link="$scratch/$2" config="$scratch/$2.ini"
    kiss_settings "$link" "$(free_port)" >"$config" && chmod 0644 "$config"
    /usr/bin/python3 "$top/tools/lib/pty-tnc.py" "$link" 15 >"$scratch/$name.tnc" 2>&1 &
    local tnc=$!
    local waited=0
    until [ -L "$link" ] || [ $waited -ge 100 ]; do sleep 0.1; waited=$((waited + 1)); done
    (as_the_unit "$groups" "$program" --headless --config "$config") >"$scratch/$name.log" 2>&1 &
    local service=$!
    # Until the TNC has its frame (or gave up) or the program has ended, then until the program listens.
    waited=0
    while kill -0 "$tnc" 2>/dev/null && kill -0 "$service" 2>/dev/null && [ $waited -lt 200 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    until ! kill -0 "$service" 2>/dev/null || grep -q "Listening for a telnet client" "$scratch/$name.log" ||
        [ $waited -ge 300 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -TERM "$service" 2>/dev/null
    wait "$service"
    echo $? >"$scratch/$name.status"
    kill "$tnc" 2>/dev/null
    wait "$tnc"
}

# In the dialout group, as the unit puts it, the program opens the line, sends the TNC its TXDELAY,
# listens for its telnet client, and ends with status 0 when stopped.
opens_a_serial_tnc_as_the_unit() {
    local groups
    groups=$(unit_group_ids)
    [ -n "$groups" ] || { echo "the unit names no group"; return 1; }
    run_against_pty_tnc "$groups" ttyUSB0
    grep -qx "01 1e" "$scratch/ttyUSB0.tnc" &&
        grep -q "Listening for a telnet client" "$scratch/ttyUSB0.log" &&
        [ "$(cat "$scratch/ttyUSB0.status")" = 0 ] ||
        { echo "TNC:"; sed 's/^/    /' "$scratch/ttyUSB0.tnc"; echo "program (status $(cat "$scratch/ttyUSB0.status")):"
          sed 's/^/    /' "$scratch/ttyUSB0.log"; return 1; }
}

# Outside the group the same line is refused: the group is what lets the service at the TNC.
refused_the_line_without_dialout() {
    run_against_pty_tnc "" ttyUSB1
    grep -q "Permission denied" "$scratch/ttyUSB1.log" ||
        { echo "program:"; sed 's/^/    /' "$scratch/ttyUSB1.log"; return 1; }
}

# The shipped settings file, read by the program as the unit runs it. It names MYCALL, and no engine need
# be there: what counts is that the file was read whole.
service_reads_the_shipped_settings() {
    local said
    said=$( (as_the_unit "$(unit_group_ids)" timeout 15 "$program" --headless --config "$settings") 2>&1)
    printf '%s\n' "$said" | grep -q "^Registering MYCALL with the packet engine$" &&
        ! printf '%s\n' "$said" | grep -q "could not be read" ||
        { printf '%s\n' "$said"; return 1; }
}

# ---- the README ----

# The rule set in the README's Pi section, as nft would load it (checked, not applied).
readme_nftables_rules_parse() {
    awk '/^```nft$/ { inside = 1; next } /^```$/ { inside = 0 } inside' README.md >"$scratch/direwolf.nft"
    [ -s "$scratch/direwolf.nft" ] || { echo "no nft block in README.md"; return 1; }
    silent nft -c -f "$scratch/direwolf.nft"
}

trap 'purge_package; rm -rf "$scratch"' EXIT

check "lintian: no errors, no warnings" lintian_passes
check "the package's fields" control_fields_are_set
check "the package, the program and the metainfo are all version $version" versions_agree
check "the maintainer scripts reload, start, restart, stop and purge the service" scripts_drive_systemd
check "installs, with $settings a conffile" installs_cleanly
check "the installed files" files_are_installed
check "corvantle --version is $version" version_is_the_packages
check "desktop-file-validate" silent desktop-file-validate /usr/share/applications/corvantle.desktop
check "appstreamcli validate" appstreamcli validate --no-net --strict "$metainfo"
check "the metainfo's launchable is the desktop entry" metainfo_fits_desktop_entry
check "the manual page renders without warnings" manual_page_renders_cleanly
check "systemd-analyze verify corvantle.service" unit_verifies
check "the unit runs the program headless with $settings, after the network and Dire Wolf" unit_runs_the_service
check "the unit lets the service at a serial TNC and the network" unit_reaches_a_serial_tnc_and_the_network
check "systemd-analyze security --offline=true: at most $max_exposure" unit_is_locked_down
check "as the unit runs it, the program reads the shipped settings file" service_reads_the_shipped_settings
check "as the unit runs it, the program opens a serial TNC (a pseudo-terminal)" opens_a_serial_tnc_as_the_unit
check "without the dialout group the same line is refused" refused_the_line_without_dialout
check "an upgrade keeps the edited settings file and the enabled service" upgrade_keeps_edits_and_enablement
check "dpkg -r keeps the settings, dpkg -P leaves nothing behind" remove_then_purge_leave_nothing
check "the README's nftables rules parse (nft -c)" readme_nftables_rules_parse

if [ "$failures" -ne 0 ]; then
    echo "check-package.sh: $failures check(s) failed"
    exit 1
fi
echo "check-package.sh: $deb passed every check"
