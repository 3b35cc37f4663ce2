#!/usr/bin/env bash
# The Debian package under a real systemd: a Debian root booted with
# systemd as its PID 1 in a container (container.sh), the package
# installed with apt, and its units run as systemd runs them, sandbox and
# device policy included, which tests run as root by hand never see:
# readiness, journal priorities, two network cradles through the package's
# template as the README sets them up (one restarted, both delivering),
# instances side by side, the refusals (a second service on one line, an
# instance without its settings or of a reserved name, a device the policy
# keeps out), the restart after kill -9 taking its line again, a sender that
# gives up on its header, a settings typo said at start, the operator's path
# (a delivery kept, shown in the status, settled with vorlund-convert while
# the service runs, exported once), a reload, the sandbox and its security
# rating, a clean stop, an upgrade restarting the services, a removal and a
# reinstall that starts the enabled ones again, and a purge. One boot.
#
#   systemd_test.sh PACKAGE.deb SOURCE_DIR [ROOT]    (as root)
#
# ROOT (default /var/tmp/vorlund-systemd-root) is made the first time, with
# debootstrap from the host's Debian mirror, and reused. Exits with 77 where
# the machine cannot boot a container.
set -uo pipefail
source "$(dirname "$0")/../e2e/harness.sh"
source "$(dirname "$0")/container.sh"
if [ -z "${VORLUND_IN_NAMESPACE:-}" ]; then
    reason=$(container_unsupported)
    if [ -n "$reason" ]; then
        echo "--- skipped: this machine cannot boot a container ($reason)"
        exit 77
    fi
    exec unshare --mount --propagation private env VORLUND_IN_NAMESPACE=1 bash "$0" "$@"
fi
deb=$(realpath "$1")
readme=$(realpath "$2")/README.md
root=${3:-/var/tmp/vorlund-systemd-root}
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-systemd.XXXXXX")
failures=0

cleanup() {
    container_poweroff
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The package, and a newer version of it, as a maintainer's next release
# would be, for the upgrade.
mkdir -p "$work/packages"
cp "$deb" "$work/packages/vorlund.deb"
dpkg-deb -R "$deb" "$work/newer" &&
    sed -i "s/^Version: .*/Version: $(dpkg-deb -f "$deb" Version).1/" "$work/newer/DEBIAN/control" &&
    dpkg-deb -b --root-owner-group "$work/newer" "$work/packages/newer.deb" >/dev/null ||
    fail "the newer package"

container_root "$root" || { echo "FAIL: no root to boot" >&2; exit 1; }
start=$(now_ms)
container_boot "$root" "$work/boot" "$work/packages" || exit 1
echo "--- booted in $(($(now_ms) - start)) ms"

unit_show() { inside systemctl show -P "$2" "$1"; }
journal_of() { inside journalctl -u "$1" -o cat "${@:2}"; }
# write FILE: standard input into FILE in the container.
write() { inside tee "$1" >/dev/null; }
# exports_are DIR N: DIR holds N exports.
exports_are() { [ "$(inside find "$1" -maxdepth 1 -type f ! -name '.*' | wc -l)" = "$2" ]; }
# deliver TERMINAL FILE: FILE sent from TERMINAL as a terminal would. The
# service's idle requests pile up in a pseudo-terminal that nobody reads,
# and sz would take each for a refusal of its header: drained first.
deliver() {
    inside sh -c 'timeout 0.3 cat "$1" >/dev/null; timeout 30 sz --ymodem "$2" <"$1" >"$1" 2>/dev/null' \
        sh "$1" "$2" || fail "sz reported a failure on $1"
}
# holds_line UNIT DEVICE [NOT_PID]: UNIT's main process (other than
# NOT_PID) has DEVICE open.
holds_line() {
    inside sh -c 'pid=$(systemctl show -P MainPID "$1"); [ "$pid" != 0 ] && [ "$pid" != "$3" ] &&
        ls -l "/proc/$pid/fd" | grep -q " -> $(readlink -f "$2")\$"' sh "$@"
}
held='Kunde inte öppna COM-port. Kontrollera att ingen annan applikation använder porten.'

inside apt-get install -y -q /mnt/host/vorlund.deb >"$work/install.log" 2>&1 ||
    fail "apt-get install: $(tail -3 "$work/install.log")"
printf 'A;1\r\nB;2\r\n' | write /root/first.dat
printf 'C;3\r\n' | write /root/second.dat

# The lines: two network cradles, their servers stand-ins on the loopback
# interface that hand each connection to a terminal's end, their lines the
# package's template as the README enables it; and a pseudo-terminal pair
# for an instance.
test_dir=/run/vorlund-test
inside mkdir -p "$test_dir"
for port in 4001 4002; do
    inside systemd-run --quiet --unit=serial-server-$port -p Restart=always -p RestartSec=100ms \
        socat tcp-listen:$port,bind=127.0.0.1,reuseaddr "pty,raw,echo=0,link=$test_dir/net$port.terminal"
done
inside_wait 5 sh -c 'grep -q ":0FA1 00000000:0000 0A" /proc/net/tcp && grep -q ":0FA2 00000000:0000 0A" /proc/net/tcp' ||
    fail "the serial server stand-ins"
grep -qx '    systemctl enable --now vorlund-net@192.0.2.10:4001' "$readme" &&
    grep -qx '    SerialDevice=/run/vorlund-net/192.0.2.10:4001/tty' "$readme" ||
    fail "the README's network line is not the one tested"
net_line=/run/vorlund-net/127.0.0.1:4001/tty
net2_line=/run/vorlund-net/127.0.0.1:4002/tty
inside systemctl enable --now --quiet vorlund-net@127.0.0.1:4001 vorlund-net@127.0.0.1:4002 ||
    fail "the network lines' units"
inside systemd-run --quiet --unit=line1 socat "pty,raw,echo=0,link=$test_dir/line1,user-late=vorlund,perm-late=0600" \
    "pty,raw,echo=0,link=$test_dir/terminal1"
inside_wait 10 test -e "$net_line" -a -e "$net2_line" -a -e "$test_dir/net4001.terminal" \
    -a -e "$test_dir/net4002.terminal" -a -e "$test_dir/terminal1" ||
    fail "the lines are not there"

# settings NAME DEVICE: an instance's settings, the packaged ones on DEVICE.
inside cp /etc/vorlund/Vorlund.ini /root/Vorlund.ini.packaged
settings() {
    inside sh -c '{ cat /root/Vorlund.ini.packaged; echo "SerialDevice=$2"; } >"/etc/vorlund/$1.ini"' sh "$@"
}
settings cradle1 "$test_dir/line1"
settings cradle2 "$net_line"
settings net2 "$net2_line"
echo "SerialDevice=$net_line" | inside tee -a /etc/vorlund/Vorlund.ini >/dev/null
# A typo a site makes: blanks around '=', so the line sets nothing.
echo "SerialDevice = /dev/ttyUSB9" | inside tee -a /etc/vorlund/cradle1.ini >/dev/null
typo_line=$(inside grep -n '^SerialDevice = ' /etc/vorlund/cradle1.ini | cut -d: -f1)

# Ready once it says so: started, with its status line, on the network line
# with no drop-in for pseudo-terminals.
inside systemctl enable --now --quiet vorlund vorlund@cradle1 vorlund@net2 || fail "systemctl enable --now"
for unit in vorlund vorlund@cradle1 vorlund@net2; do
    [ "$(unit_show "$unit" ActiveState)" = active ] && [ "$(unit_show "$unit" Type)" = notify ] ||
        fail "$unit is not active, or not Type=notify"
    [[ $(unit_show "$unit" StatusText) == "Väntar på leverans: "* ]] ||
        fail "$unit's status: $(unit_show "$unit" StatusText)"
    ready_us=$(($(unit_show "$unit" ActiveEnterTimestampMonotonic) -
        $(unit_show "$unit" ExecMainStartTimestampMonotonic)))
    echo "--- $unit ready $((ready_us / 1000)) ms after its start"
done
holds_line vorlund "$net_line" || fail "the service does not hold the network line"
# What it starts on, and the typo, said at start, with the settings' own path.
journal_of vorlund@cradle1 -p info..info | grep -q "^Vorlund startar: version .*; line $test_dir/line1, 115200 bit/s (BaudRate=5), protocol auto; Out /var/lib/vorlund/cradle1/Out, .*; settings /etc/vorlund/cradle1.ini\$" ||
    fail "no start line: $(journal_of vorlund@cradle1 | head -3)"
journal_of vorlund@cradle1 -p warning..warning | grep -qF "Fel i inställningsfilen: /etc/vorlund/cradle1.ini, line $typo_line: SerialDevice = /dev/ttyUSB9: a blank around '=' is part of the name, so the line does not set SerialDevice" ||
    fail "the typo was not said at start: $(journal_of vorlund@cradle1 | head -5)"

# A sender that finds a backlog of our requests waiting takes each for a
# refusal of its header, gives up and writes its cancel, which its flush of
# the line throws away unless socat has read it: the transfer still gets
# its line (checked below, once it is due). Should the flush take the
# header too, the service never heard of the sender, and it tries again.
# cradle1 takes no delivery before: in the 300 ms after one, a further
# header waits for the restarted reception, which starts afresh.
transfer_heard() {
    inside sh -c 'ls -a /var/lib/vorlund/cradle1/Spool | grep -q "^\.X\.DAT\..*\.tmp$" ||
        journalctl -u vorlund@cradle1 -o cat | grep -q "^Överföringen misslyckades"'
}
for _ in 1 2 3; do
    inside sh -c 'printf CCCCCCCCCCCCCCCC >"$1"' sh "$test_dir/line1"
    inside sh -c 'timeout 30 sz --ymodem /root/first.dat <"$1" >"$1" 2>/dev/null' sh "$test_dir/terminal1"
    [ $? = 128 ] || fail "sz did not give up on its header"
    gave_up=$(now_ms)
    ! wait_for 1 transfer_heard || break
done

deliver "$test_dir/net4001.terminal" /root/first.dat
wait_for 10 exports_are /var/lib/vorlund/Out 1 || fail "no export over the network line"
journal_of vorlund -p info..info | grep -q '^Leverans mottagen: 10 byte, 2 poster, .*, YMODEM, first\.dat$' ||
    fail "no delivery line at priority info"

# The second network cradle delivers; its line restarted, the first
# cradle's line stays, and the second takes its line back and delivers.
deliver "$test_dir/net4002.terminal" /root/first.dat
wait_for 10 exports_are /var/lib/vorlund/net2/Out 1 || fail "no export over the second network line"
net2_pid=$(unit_show vorlund@net2 MainPID)
inside systemctl restart vorlund-net@127.0.0.1:4002
inside test -e "$net_line" || fail "restarting one network line took the other's away"
inside_wait 10 sh -c 'journalctl -u vorlund@net2 -p err..err -o cat | grep -qF "$1"' \
    sh "Förbindelsen på COM-porten bröts.: $net2_line: the line hung up" ||
    fail "the lost network line: $(journal_of vorlund@net2 | tail -2)"
wait_for 15 holds_line vorlund@net2 "$net2_line" && inside test -e "$test_dir/net4002.terminal" ||
    fail "the second network line did not come back: $(journal_of vorlund@net2 | tail -2)"
deliver "$test_dir/net4002.terminal" /root/second.dat
wait_for 10 exports_are /var/lib/vorlund/net2/Out 2 || fail "no export after the network line's restart"
holds_line vorlund "$net_line" && [ "$(unit_show vorlund@net2 MainPID)" = "$net2_pid" ] ||
    fail "a network line's restart disturbed the services"

# A second service given the same line names the one that has it.
main_pid=$(unit_show vorlund MainPID)
inside systemctl start vorlund@cradle2
inside_wait 5 sh -c 'journalctl -u vorlund@cradle2 -p err..err -o cat | grep -qF "$1"' \
    sh "$held: $net_line: held by another program (vorlund, pid $main_pid, vorlund.service)" ||
    fail "a line held by another vorlund: $(journal_of vorlund@cradle2 | tail -1)"
inside systemctl stop vorlund@cradle2

# An instance without its settings does not start on the defaults, and
# none takes the plain service's Spool or Out, not even with settings.
! inside systemctl start vorlund@nosettings 2>/dev/null && [ "$(unit_show vorlund@nosettings AssertResult)" = no ] ||
    fail "an instance without its settings started"
settings Out "$test_dir/line1"
! inside systemctl start vorlund@Out 2>/dev/null && [ "$(unit_show vorlund@Out AssertResult)" = no ] &&
    [ "$(inside stat -c %a /var/lib/vorlund/Out)" = 2775 ] && ! inside test -e /var/lib/vorlund/Out/Spool ||
    fail "an instance named Out started, or touched the plain service's Out"

# The sandbox, as systemd set it up.
status=$(inside cat "/proc/$main_pid/status")
grep -qx "Uid:[[:space:]]*$(inside id -u vorlund)[[:space:]].*" <<<"$status" &&
    grep -qx 'CapEff:[[:space:]]*0000000000000000' <<<"$status" &&
    grep -qx 'CapBnd:[[:space:]]*0000000000000000' <<<"$status" &&
    grep -qx 'NoNewPrivs:[[:space:]]*1' <<<"$status" && grep -qx 'Seccomp:[[:space:]]*2' <<<"$status" ||
    fail "not the sandbox's user, capabilities, no_new_privs or seccomp: $(grep -E '^(Uid|Cap|NoNew|Secc)' <<<"$status")"
! inside nsenter --target "$main_pid" --mount touch /usr/vorlund-probe 2>/dev/null ||
    fail "the system is writable for the service"
[ "$(inside readlink "/proc/$main_pid/ns/net")" != "$(inside readlink /proc/1/ns/net)" ] ||
    fail "the service shares the network"
security=$(inside systemd-analyze security --no-pager vorlund | tail -1)
echo "--- running: ${security#→ }"
inside systemd-analyze security --no-pager --threshold=5 vorlund >/dev/null ||
    fail "the running unit is less hardened: $security"

# The device policy: the README's drop-in that leaves the consoles out
# refuses one, however open its file, with the README's message.
inside mknod -m 0666 /dev/tty5 c 4 5
settings cradle3 /dev/tty5
inside mkdir -p /etc/systemd/system/vorlund@cradle3.service.d
readme_block "$readme" '# systemctl edit vorlund: the built-in ports by name, without the consoles' |
    write /etc/systemd/system/vorlund@cradle3.service.d/consoles.conf
inside systemctl daemon-reload
inside systemctl start vorlund@cradle3
inside_wait 5 sh -c 'journalctl -u vorlund@cradle3 -p err..err -o cat | grep -qF "$1"' \
    sh "$held: /dev/tty5: Operation not permitted (the service may not use this device: see DeviceAllow in vorlund(8))" ||
    fail "a console past the README's drop-in: $(journal_of vorlund@cradle3 | tail -1)"
inside systemctl stop vorlund@cradle3
inside systemctl revert --quiet vorlund@cradle3

# Killed, restarted by systemd, and on its line again (a pseudo-terminal
# whose other side stays open), without the privilege to pass an
# exclusive mode; the next delivery arrives.
inside kill -KILL "$main_pid"
killed=$(now_ms)
if wait_for 15 holds_line vorlund "$net_line" "$main_pid"; then
    echo "--- killed with SIGKILL: waiting on its line again after $(($(now_ms) - killed)) ms"
else
    fail "not on its line again after kill -9: $(journal_of vorlund | tail -1)"
fi
deliver "$test_dir/net4001.terminal" /root/second.dat
wait_for 10 exports_are /var/lib/vorlund/Out 2 || fail "no export after the restart"

inside_wait $((26 - ($(now_ms) - gave_up) / 1000)) sh -c \
    'journalctl -u vorlund@cradle1 -p warning..warning -o cat | grep -q "^Överföringen misslyckades: first.dat: "' ||
    fail "no line for the sender that gave up: $(journal_of vorlund@cradle1 | tail -1)"
echo "--- the sender that gave up: $(journal_of vorlund@cradle1 -p warning..warning | tail -1)"
deliver "$test_dir/terminal1" /root/second.dat
wait_for 10 exports_are /var/lib/vorlund/cradle1/Out 1 || fail "cradle1: no export"
[ "$(inside cat /var/lib/vorlund/cradle1/Spool/X.DAT)" = "$(printf 'C;3\r')" ] ||
    fail "the instances' deliveries are mixed up"

# The operator's path: Out cannot be written, so the delivery is kept; the
# error's own line says where, the status says that it waits; once Out is
# put right, vorlund-convert settles it while the service runs: exported
# once, the kept file gone, the journal and the ledger say so.
cradle1=/var/lib/vorlund/cradle1
cradle1_pid=$(unit_show vorlund@cradle1 MainPID)
inside chmod 0555 "$cradle1/Out"
printf 'K;7\r\n' | write /root/third.dat
deliver "$test_dir/terminal1" /root/third.dat
kept_of() { inside find "$cradle1/Spool/Okonverterade" -name '*-50.DAT'; }
is_kept() { [ -n "$(kept_of)" ]; }
wait_for 10 is_kept || fail "the delivery was not kept: $(journal_of vorlund@cradle1 | tail -3)"
kept=$(kept_of)
journal_of vorlund@cradle1 -p err..err | grep -q "^Fel vid skapande av destinationsfil!: $cradle1/Out/[0-9]*\.txt: Permission denied; the delivery is kept as $kept\$" ||
    fail "the error does not say where the delivery is kept: $(journal_of vorlund@cradle1 -p err..err | tail -1)"
journal_of vorlund@cradle1 -p warning..warning | grep -q "^Leveransen sparades undan: $kept (leverans [0-9]* (third.dat), 5 byte, YMODEM); 1 delivery waits: vorlund-convert --settle $cradle1 once the fault is put right\$" ||
    fail "no kept line: $(journal_of vorlund@cradle1 -p warning..warning | tail -1)"
[[ $(unit_show vorlund@cradle1 StatusText) == *"; 1 sparad leverans väntar (vorlund-convert --pending $cradle1)" ]] ||
    fail "the status does not say that a delivery waits: $(unit_show vorlund@cradle1 StatusText)"
[[ $(inside vorlund-convert --pending "$cradle1") == "$kept"$'\t'*$'\t'"$test_dir/line1"$'\t'YMODEM$'\t'third.dat$'\t'5$'\t'"kept for 50: the export could not be created ($cradle1/Out/"*": Permission denied)" ]] ||
    fail "--pending: $(inside vorlund-convert --pending "$cradle1")"
inside chmod 2775 "$cradle1/Out"
settled=$(inside vorlund-convert --settle "$cradle1" 2>"$work/settle.log") ||
    fail "--settle: $(cat "$work/settle.log")"
exports_are "$cradle1/Out" 2 && [ "$(inside cat "$settled")" = "$(printf 'K,7\r')" ] ||
    fail "the kept delivery was not exported: $settled"
! inside test -e "$kept" || fail "the kept file stayed"
[ "$(unit_show vorlund@cradle1 MainPID)" = "$cradle1_pid" ] || fail "the service did not run throughout"
journal_of vorlund@cradle1 -p notice..notice | grep -qF "Sparad leverans exporterad: $kept to $settled (leverans" ||
    fail "the journal does not say that it was settled: $(journal_of vorlund@cradle1 | tail -2)"
inside grep -q " exported .*file=Out/${settled##*/} .*kept=Spool/Okonverterade/${kept##*/} " "$cradle1/Spool/Leveranser.log" ||
    fail "the ledger does not say that it was settled"
[[ $(unit_show vorlund@cradle1 StatusText) != *väntar* ]] || fail "the status still says it waits"
[ -z "$(inside vorlund-convert --settle "$cradle1" 2>&1)" ] && exports_are "$cradle1/Out" 2 ||
    fail "a second settlement did something"

# A reload reads the settings again in the same process: no start to count.
inside sed -i '/^SerialDevice = /d' /etc/vorlund/cradle1.ini
inside systemctl reload vorlund@cradle1 || fail "systemctl reload"
inside_wait 10 sh -c 'journalctl -u vorlund@cradle1 -p notice..notice -o cat | grep -qxF "$1"' \
    sh "Inställningarna läses om: /etc/vorlund/cradle1.ini (SIGHUP)" || fail "no line for the reload"
inside_wait 10 sh -c '[ "$(systemctl show -P StatusText vorlund@cradle1)" = "Väntar på leverans: $1" ]' sh "$test_dir/line1" ||
    fail "not waiting after the reload: $(unit_show vorlund@cradle1 StatusText)"
[ "$(unit_show vorlund@cradle1 MainPID)" = "$cradle1_pid" ] && [ "$(unit_show vorlund@cradle1 NRestarts)" = 0 ] ||
    fail "the reload was a restart"

# The upgrade restarts the running services on the new program.
cradle1_pid=$(unit_show vorlund@cradle1 MainPID)
main_pid=$(unit_show vorlund MainPID)
inside apt-get install -y -q /mnt/host/newer.deb >"$work/upgrade.log" 2>&1 ||
    fail "the upgrade: $(tail -3 "$work/upgrade.log")"
for unit in vorlund:"$main_pid" vorlund@cradle1:"$cradle1_pid"; do
    pid=$(unit_show "${unit%%:*}" MainPID)
    [ "$pid" != 0 ] && [ "$pid" != "${unit#*:}" ] || fail "${unit%%:*} was not restarted by the upgrade"
done

# A clean stop ends with 0.
inside systemctl stop vorlund vorlund@cradle1
for unit in vorlund vorlund@cradle1; do
    [ "$(unit_show "$unit" Result)" = success ] && [ "$(unit_show "$unit" ExecMainStatus)" = 0 ] ||
        fail "$unit's stop: $(unit_show "$unit" Result), status $(unit_show "$unit" ExecMainStatus)"
done

# Removed and installed again: what is enabled runs again.
inside apt-get remove -y -q vorlund >"$work/remove.log" 2>&1 || fail "the removal: $(tail -3 "$work/remove.log")"
[ "$(unit_show vorlund ActiveState)" != active ] || fail "the removal left the service running"
inside apt-get install -y -q /mnt/host/newer.deb >"$work/reinstall.log" 2>&1 ||
    fail "the reinstall: $(tail -3 "$work/reinstall.log")"
for unit in vorlund vorlund@cradle1 vorlund@net2 vorlund-net@127.0.0.1:4001; do
    inside_wait 10 systemctl is-active --quiet "$unit" || fail "$unit is not running after the reinstall"
done

# A purge leaves no enable links, nor records of them.
inside apt-get purge -y -q vorlund >"$work/purge.log" 2>&1 || fail "the purge: $(tail -3 "$work/purge.log")"
leftovers=$(inside find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
    \( -name vorlund.service -o -name 'vorlund@*' -o -name 'vorlund-net@*' \))
[ -z "$leftovers" ] || fail "the purge left: $leftovers"

if [ "$failures" -gt 0 ]; then
    for unit in vorlund vorlund@cradle1 vorlund@cradle2 vorlund@cradle3 vorlund@net2 \
        vorlund-net@127.0.0.1:4001 vorlund-net@127.0.0.1:4002; do
        echo "--- journal of $unit:" >&2
        journal_of "$unit" --no-pager -o short-monotonic | tail -15 >&2
    done
    exit 1
fi
echo "under systemd: all checks passed"
