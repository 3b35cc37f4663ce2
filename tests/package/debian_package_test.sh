#!/usr/bin/env bash
# Checks the Debian package as a user gets it: lintian, the installed layout,
# the conffile, the maintainer scripts (run against stand-in commands), the
# unit (systemd-analyze verify), and the installed vorlund run end to end
# from a throwaway root (dpkg -x) over a pseudo-terminal pair with sz.
#
#   debian_package_test.sh PACKAGE.deb SOURCE_DIR
set -uo pipefail
deb=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-package.XXXXXX")
root=$work/root
failures=0
source "$(dirname "$0")/../e2e/harness.sh"

cleanup() {
    stop_background
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

echo "--- $(basename "$deb"): $(stat -c %s "$deb") bytes"

# lintian: no errors (warnings are shown, not fatal).
lintian --no-cfg --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
grep -v 'running with root privileges' "$work/lintian.log"

# The installed files, exactly.
expected_files='./etc/vorlund/Vorlund.ini
./lib/systemd/system/vorlund.service
./usr/bin/vorlund
./usr/bin/vorlund-convert
./usr/share/doc/vorlund/changelog.gz
./usr/share/doc/vorlund/copyright
./usr/share/man/man1/vorlund-convert.1.gz
./usr/share/man/man8/vorlund.8.gz
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
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *adduser* && $depends == *libc6* ]] || fail "Depends: $depends"
# A build without libsystemd has no service-manager notifications to check.
notifies=0
[[ $depends != *libsystemd0* ]] || notifies=1

# The maintainer scripts, run against stand-ins that log their calls: a fresh
# install makes the user, puts it in dialout and gives it the state directory;
# nothing removes the data.
mkdir -p "$work/control" "$work/bin"
dpkg-deb -e "$deb" "$work/control"
for command in adduser chown systemctl deb-systemd-invoke deb-systemd-helper; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$command" "$work/calls" >"$work/bin/$command"
done
printf '#!/bin/sh\n[ "$1 $2" = "group dialout" ]\n' >"$work/bin/getent"
chmod +x "$work/bin/"*
for script in postinst prerm postrm; do
    sh -n "$work/control/$script" || fail "$script: syntax"
done
PATH=$work/bin:$PATH sh "$work/control/postinst" configure "" || fail "postinst failed"
expected_calls='adduser --system --group --home /var/lib/vorlund --no-create-home --gecos Vorlund download service vorlund
adduser --quiet vorlund dialout
chown vorlund:vorlund /var/lib/vorlund'
[ "$(cat "$work/calls")" = "$expected_calls" ] || fail "postinst did: $(cat "$work/calls")"
: >"$work/calls"
PATH=$work/bin:$PATH sh "$work/control/prerm" remove || fail "prerm failed"
PATH=$work/bin:$PATH sh "$work/control/postrm" purge || fail "postrm failed"
! grep -E 'rm |deluser|userdel' "$work/control/postrm" "$work/control/prerm" >/dev/null ||
    fail "removing the package would delete data or the user"

# The installed files, in a throwaway root.
dpkg -x "$deb" "$root" || fail "dpkg -x"
unit=$root/lib/systemd/system/vorlund.service
[ "$(readlink "$root/var/lib/vorlund/Vorlund.ini")" = /etc/vorlund/Vorlund.ini ] ||
    fail "the application directory's settings do not lead to /etc/vorlund"

# The unit, as systemd reads it, with the program where this root has it.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/unit"
    sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$work/unit/vorlund.service"
    if ! MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/vorlund.service" \
        >"$work/verify.log" 2>&1 || [ -s "$work/verify.log" ]; then
        fail "systemd-analyze verify: $(cat "$work/verify.log")"
    fi
fi
grep -qx 'Type=notify' "$unit" && grep -qx 'Restart=on-failure' "$unit" ||
    fail "the unit is not Type=notify with Restart=on-failure"

# The installed programs.
version=$(dpkg-deb -f "$deb" Version)
[ "$("$root/usr/bin/vorlund" --version)" = "vorlund (Vorlund) $version" ] || fail "vorlund --version"
[ "$("$root/usr/bin/vorlund-convert" --version)" = "vorlund-convert (Vorlund) $version" ] ||
    fail "vorlund-convert --version"

# The service as the unit starts it, under this root, delivering the example
# over a pseudo-terminal pair; the settings are the packaged ones plus the
# line.
read -r -a command <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
[ "${command[*]}" = "/usr/bin/vorlund /var/lib/vorlund" ] || fail "ExecStart: ${command[*]}"
ln -sfn "$root/etc/vorlund/Vorlund.ini" "$root/var/lib/vorlund/Vorlund.ini"
start_pty_pair "$work/line" "$work/terminal" || fail "no pseudo-terminal pair"
printf 'SerialDevice=%s\n' "$work/line" >>"$root/etc/vorlund/Vorlund.ini"
start_notify_listener "$work/notify" "$work/notify.log" || fail "no notification socket"
NOTIFY_SOCKET=$work/notify "$root${command[0]}" "$root${command[1]}" 2>"$work/stderr" &
service=$!
background_pids+=("$service")
[ "$notifies" = 0 ] || wait_for 5 grep -qx READY=1 "$work/notify.log" ||
    fail "the service did not report ready"
example=$source_dir/examples/app/Spool/X.DAT
timeout 40 sz --ymodem "$example" <"$work/terminal" >"$work/terminal" 2>/dev/null ||
    fail "sz reported a failure"
exports() { find "$root/var/lib/vorlund/Out" -maxdepth 1 -type f ! -name '.*' 2>/dev/null; }
wait_for 10 test -n "$(exports)" || fail "no export"
# The golden export was made with ';' as separator; the packaged settings
# give ','.
if ! cmp -s "$(exports)" <(sed 's/;/,/' "$source_dir/tests/app/convert/golden/example-summed.txt"); then
    fail "the export differs from the golden one"
fi
cmp -s "$example" "$root/var/lib/vorlund/Spool/X.DAT" || fail "X.DAT differs from the delivery"
grep -q '^<6>Leverans mottagen: ' "$work/stderr" || fail "no delivery line"
kill -TERM "$service"
status=0
wait "$service" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
[ "$notifies" = 0 ] || grep -qx STOPPING=1 "$work/notify.log" || fail "no STOPPING=1"

if [ "$failures" -gt 0 ]; then
    echo "--- service stderr:" >&2
    cat "$work/stderr" >&2 2>/dev/null
    exit 1
fi
echo "debian package: all checks passed"
