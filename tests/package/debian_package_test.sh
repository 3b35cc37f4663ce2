#!/usr/bin/env bash
# Checks the Debian package as a user gets it: lintian at --pedantic, the
# installed layout, the conffile, the dependencies and the programs'
# architecture, the maintainer scripts (run against stand-in commands), the
# units and the README's drop-ins (systemd-analyze verify and security), and
# the installed vorlund run end to end from a throwaway root (dpkg -x) over
# a pseudo-terminal pair with sz, under EMULATOR for another architecture's
# package. The build machine's own package is also run as an administrator
# would run it (site_checks.sh): two instances of the template side by side,
# the refusals (a second vorlund on one directory, a line held by another
# vorlund, by picocom or by a lock file), and the README's network serial
# line over the loopback interface.
#
#   debian_package_test.sh PACKAGE.deb SOURCE_DIR [EMULATOR...]
set -uo pipefail
deb=$(realpath "$1")
source_dir=$(realpath "$2")
shift 2
emulator=("$@")
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-package.XXXXXX")
root=$work/root
failures=0
source "$(dirname "$0")/../e2e/harness.sh"

cleanup() {
    stop_background
    rm -f "${lock_files[@]}"
    rm -rf "$work"
}
lock_files=()
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

arch=$(dpkg-deb -f "$deb" Architecture)
echo "--- $(basename "$deb"): $(stat -c %s "$deb") bytes"

# lintian at its most pedantic: no errors and no warnings. What it says for
# information is shown (see the README for the two tags that stay).
lintian --no-cfg --pedantic -I -E --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian reports errors or warnings"
grep -v 'running with root privileges' "$work/lintian.log"

# The installed files, exactly.
expected_files='./etc/vorlund/Vorlund.ini
./lib/systemd/system/vorlund-net@.service
./lib/systemd/system/vorlund.service
./lib/systemd/system/vorlund@.service
./usr/bin/vorlund
./usr/bin/vorlund-convert
./usr/share/doc/vorlund/README.md.gz
./usr/share/doc/vorlund/changelog.gz
./usr/share/doc/vorlund/copyright
./usr/share/man/man1/vorlund-convert.1.gz
./usr/share/man/man8/vorlund.8.gz
./usr/share/vorlund/reserved-names/Out
./usr/share/vorlund/reserved-names/Spool
./var/lib/vorlund/Vorlund.ini -> /etc/vorlund/Vorlund.ini'
files=$(dpkg-deb -c "$deb" | grep -v '^d' | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sort)
[ "$files" = "$expected_files" ] || fail "installed files differ:
$(diff <(echo "$expected_files") <(echo "$files"))"
# grep -c reads to the end: grep -q would leave early, and dpkg-deb, killed
# by the broken pipe, would fail the pipeline.
[ "$(dpkg-deb -c "$deb" | grep -c '^drwxr-xr-x root/root .* \./var/lib/vorlund/$')" = 1 ] ||
    fail "no state directory"

# The settings survive upgrades: a conffile.
[ "$(dpkg-deb -I "$deb" conffiles)" = /etc/vorlund/Vorlund.ini ] || fail "conffiles"
# The changelog is the repository's, for this version.
version=$(dpkg-deb -f "$deb" Version)
changelog_head=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vorlund/changelog.gz | gunzip | head -1)
[ "$changelog_head" = "$(head -1 "$source_dir/CHANGELOG")" ] && [[ $changelog_head == "vorlund ($version) "* ]] ||
    fail "changelog: $changelog_head"

# The dependencies are the target's libraries, found by dpkg-shlibdeps.
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *adduser* && $depends == *libc6* && $depends == *libstdc++6* ]] || fail "Depends: $depends"
# The network cradles' lines come from socat, which the package recommends.
[ "$(dpkg-deb -f "$deb" Recommends)" = socat ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
# A build without libsystemd has no service-manager notifications to check,
# and its unit must not wait for them.
notifies=0
[[ $depends != *libsystemd0* ]] || notifies=1

# The installed files, in a throwaway root.
dpkg -x "$deb" "$root" || fail "dpkg -x"
unit=$root/lib/systemd/system/vorlund.service
template=$root/lib/systemd/system/vorlund@.service
[ "$(readlink "$root/var/lib/vorlund/Vorlund.ini")" = /etc/vorlund/Vorlund.ini ] ||
    fail "the application directory's settings do not lead to /etc/vorlund"

# The programs are the package's architecture.
declare -A machine=([amd64]='x86-64' [arm64]='ARM aarch64' [armhf]='ARM, EABI5')
for program in vorlund vorlund-convert; do
    [[ $(file -b "$root/usr/bin/$program") == *"${machine[$arch]:-?}"* ]] ||
        fail "$program is not built for $arch: $(file -b "$root/usr/bin/$program")"
done

# The maintainer scripts, run against stand-ins that log their calls: a fresh
# install makes the user, puts it in dialout, gives it the state directory
# and records the unit's enable links; nothing removes the data.
mkdir -p "$work/control" "$work/bin"
dpkg-deb -e "$deb" "$work/control"
for command in adduser chown chmod install systemctl deb-systemd-invoke deb-systemd-helper \
    dpkg-statoverride; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$command" "$work/calls" >"$work/bin/$command"
done
printf '#!/bin/sh\n[ "$1 $2" = "group dialout" ]\n' >"$work/bin/getent"
chmod +x "$work/bin/"*
for script in postinst prerm postrm; do
    sh -n "$work/control/$script" || fail "$script: syntax"
done
PATH=$work/bin:$PATH sh "$work/control/postinst" configure "" || fail "postinst failed"
for call in 'adduser --system --group --home /var/lib/vorlund --no-create-home --gecos Vorlund download service vorlund' \
    'adduser --quiet vorlund dialout' 'chown vorlund:vorlund /var/lib/vorlund' \
    'deb-systemd-helper update-state vorlund.service'; do
    grep -qxF "$call" "$work/calls" || fail "postinst did not: $call"
done
PATH=$work/bin:$PATH sh "$work/control/prerm" remove || fail "prerm failed"
PATH=$work/bin:$PATH sh "$work/control/postrm" purge || fail "postrm failed"
! grep -E 'rm -r|deluser|userdel' "$work/control/postrm" "$work/control/prerm" >/dev/null ||
    fail "removing the package would delete data or the user"

# The units and the README's drop-ins, as systemd reads them, with the
# program where this root has it.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/units/vorlund.service.d"
    for name in vorlund.service vorlund@.service; do
        sed "s|^ExecStart=/|ExecStart=$root/|" "$root/lib/systemd/system/$name" >"$work/units/$name"
    done
    cp "$root/lib/systemd/system/vorlund-net@.service" "$work/units/"  # socat is this machine's
    drop_ins=0
    while read -r heading; do
        readme_block "$source_dir/README.md" "$heading" >"$work/units/vorlund.service.d/$((++drop_ins)).conf"
    done < <(grep -o '^    # systemctl edit vorlund: .*' "$source_dir/README.md" | sed 's/^    //')
    [ "$drop_ins" -ge 2 ] || fail "the README's drop-ins were not found"
    if ! MANPATH=$root/usr/share/man SYSTEMD_UNIT_PATH=$work/units: systemd-analyze verify \
        "$work/units/vorlund.service" "$work/units/vorlund@cradle2.service" \
        "$work/units/vorlund-net@cradle3.service" >"$work/verify.log" 2>&1 ||
        [ -s "$work/verify.log" ]; then
        fail "systemd-analyze verify: $(cat "$work/verify.log")"
    fi
    # The sandbox stays as tight as systemd rates it: 0.5, "SAFE".
    for name in vorlund.service vorlund@cradle2.service; do
        SYSTEMD_UNIT_PATH=$work/units: systemd-analyze security --offline=yes --threshold=5 \
            "$work/units/$name" >"$work/security.log" 2>&1 ||
            fail "$name is less hardened: $(tail -1 "$work/security.log")"
    done
fi
for name in "$unit" "$template"; do
    grep -qx "Type=$([ "$notifies" = 1 ] && echo notify || echo exec)" "$name" &&
        grep -qx 'Restart=on-failure' "$name" && grep -qx 'DeviceAllow=char-ttyAMA rw' "$name" &&
        grep -qxF "ExecReload=/bin/sh -c 'kill -HUP \$\$MAINPID'" "$name" ||
        fail "$(basename "$name"): not Type=notify with libsystemd (exec without), Restart=on-failure, ttyAMA, ExecReload"
done

# The installed programs.
[ "$("${emulator[@]}" "$root/usr/bin/vorlund" --version)" = "vorlund (Vorlund) $version" ] ||
    fail "vorlund --version"
[ "$("${emulator[@]}" "$root/usr/bin/vorlund-convert" --version)" = "vorlund-convert (Vorlund) $version" ] ||
    fail "vorlund-convert --version"

# unit_commands UNIT INSTANCE: the unit's ExecStartPre and ExecStart lines
# for INSTANCE, one command a line, with the package's files in this root.
unit_commands() {
    sed -n 's/^ExecStart\(Pre\)\?=//p' "$1" |
        sed "s|%i|$2|g; s#\(^\| \)/\(etc\|var\|usr\)/#\1$root/\2/#g"
}

# start_service NAME UNIT INSTANCE: prepares what systemd would (the state
# directory) and what the unit does before the start, then starts the
# service, its notifications in $work/NAME.notify and its lines in
# $work/NAME.stderr; its pid in $NAME_pid.
start_service() {
    local name=$1 unit=$2 instance=${3:-}
    local commands
    mapfile -t commands < <(unit_commands "$unit" "$instance")
    local directory=$root/var/lib/vorlund${instance:+/$instance}
    mkdir -p "$directory" && chmod 2755 "$directory"
    local i
    for ((i = 0; i < ${#commands[@]} - 1; i++)); do
        ${commands[i]} || fail "$name: ${commands[i]}"
    done
    start_notify_listener "$work/$name.sock" "$work/$name.notify" || fail "no notification socket"
    # shellcheck disable=SC2086
    NOTIFY_SOCKET=$work/$name.sock "${emulator[@]}" ${commands[-1]} 2>"$work/$name.stderr" &
    background_pids+=($!)
    printf -v "${name}_pid" %s $!
}

exports_of() { find "$1" -maxdepth 1 -type f ! -name '.*' 2>/dev/null; }
# Looked for afresh on every try of wait_for.
has_export() { [ -n "$(exports_of "$1")" ]; }

# deliver TERMINAL FILE: sends FILE as a terminal would.
deliver() {
    timeout 40 sz --ymodem "$2" <"$1" >"$1" 2>/dev/null || fail "sz reported a failure on $1"
}

# The service as the plain unit starts it, under this root, delivering the
# example over a pseudo-terminal pair; the settings are the packaged ones
# plus the line.
[ "$(unit_commands "$unit" "" | tail -1)" = "$root/usr/bin/vorlund $root/var/lib/vorlund" ] ||
    fail "ExecStart: $(unit_commands "$unit" "" | tail -1)"
ln -sfn "$root/etc/vorlund/Vorlund.ini" "$root/var/lib/vorlund/Vorlund.ini"
start_pty_pair "$work/line" "$work/terminal" || fail "no pseudo-terminal pair"
cp "$root/etc/vorlund/Vorlund.ini" "$work/Vorlund.ini.packaged"
printf 'SerialDevice=%s\n' "$work/line" >>"$root/etc/vorlund/Vorlund.ini"
start_service plain "$unit"
[ "$notifies" = 0 ] || wait_for 10 grep -qx READY=1 "$work/plain.notify" ||
    fail "the service did not report ready"
example=$source_dir/examples/app/Spool/X.DAT
deliver "$work/terminal" "$example"
wait_for 20 has_export "$root/var/lib/vorlund/Out" || fail "no export"
# The golden export was made with ';' as separator; the packaged settings
# give ','.
if ! cmp -s "$(exports_of "$root/var/lib/vorlund/Out")" \
    <(sed 's/;/,/' "$source_dir/tests/app/convert/golden/example-summed.txt"); then
    fail "the export differs from the golden one"
fi
cmp -s "$example" "$root/var/lib/vorlund/Spool/X.DAT" || fail "X.DAT differs from the delivery"
[ "$(stat -c %a "$root/var/lib/vorlund/Out")" = 2775 ] || fail "Out is not shared with the group"
grep -q '^<6>Leverans mottagen: ' "$work/plain.stderr" || fail "no delivery line"
kill -TERM "$plain_pid"
status=0
wait "$plain_pid" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
[ "$notifies" = 0 ] || grep -qx STOPPING=1 "$work/plain.notify" || fail "no STOPPING=1"

if [ ${#emulator[@]} -eq 0 ]; then
    source "$(dirname "$0")/site_checks.sh"
fi

if [ "$failures" -gt 0 ]; then
    for log in "$work"/*.stderr; do
        echo "--- $(basename "$log"):" >&2
        cat "$log" >&2
    done
    exit 1
fi
echo "debian package ($arch): all checks passed"
