#!/usr/bin/env bash
# The real service against lrzsz's sz in every variant a terminal may use,
# and against senders that are not lrzsz (Debian's python3-xmodem; our own
# ZMODEM sender written from the protocol's description), on a line paced
# at 115200 baud (tools/faulty-line, no faults): each file delivered whole,
# by the protocol the sender speaks, and exported once; a ZMODEM transfer
# cut off goes on where it stopped when it is offered again with crash
# recovery (sz -r), and only then: another file under the same name, size
# and time starts from its first byte; a line fixed to ZMODEM draws out a
# sender that waits to be asked.
#
#   lrzsz_service_test.sh VORLUND_BINARY FAULTY_LINE SENDERS_DIR
set -euo pipefail

binary=$1
faulty_line=$2
senders=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-lrzsz.XXXXXX")
app=$work/app
mkdir -p "$app"
cp "$binary" "$app/vorlund"
service_pid=
sender_pid=
source "$(dirname "$0")/harness.sh"
trap 'stop_background $sender_pid $service_pid; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- service:" >&2
    cat "$work/stderr" >&2
    exit 1
}

"$faulty_line" "$work/line" "$work/terminal" 1 baud=115200 ${VORLUND_LINE_TRACE:+trace=$VORLUND_LINE_TRACE} \
    2>"$work/line.log" &
background_pids+=($!)
wait_for 5 test -e "$work/line" -a -e "$work/terminal" || fail "no line"
printf 'SerialDevice=%s\nBaudRate=5\n' "$work/line" >"$app/Vorlund.ini"
start_service() {
    (cd "$work" && exec "$app/vorlund" 2>>"$work/stderr") &
    service_pid=$!
}
start_service

# File N: lines of article codes of its own, so that its export is known.
make_file() {
    local i
    for i in $(seq 1 "$2"); do printf 'Z%dA%05d;%d\r\n' "$1" "$i" $((i % 7 + 1)); done >"$work/f$1.dat"
}
exports_of() { grep -l "^Z$1A" "$app"/Out/* 2>/dev/null | wc -l; }
# Out is made by the service as it starts, which may not have happened yet
# (a build with the sanitizers starts slowly): then there is none.
export_count() { { find "$app/Out" -maxdepth 1 -type f ! -name '.*' 2>/dev/null || true; } | wc -l; }
# Counted afresh on every try: the sender hears that a file arrived once it
# is safe, and its export follows.
exports_reach() { test "$(export_count)" -eq "$1"; }

# A ZMODEM sender that reads an invitation ('C') after its own request
# falls back to YMODEM, as lrzsz's sz does; the service invites at the start
# of every reception, so a ZMODEM sender starts once it has, as a terminal
# docked at any other moment would. After a session whose "OO" was lost (sz
# throws away what the pseudo-terminal has not passed on yet as it exits),
# one quiet spell comes first.
await_invitation() {
    timeout 15 python3 -c '
import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NOCTTY)
while os.read(fd, 1) not in (b"C", b"\x15"):
    pass' "$work/terminal" || fail "no invitation"
}

n=0
# send_by COMMAND... -- COUNT: COUNT new files sent in one run of the
# sender COMMAND (the files' names follow its arguments), each exported once.
send_by() {
    local command=() files=() first=$((n + 1)) before k
    while [ "$1" != -- ]; do command+=("$1"); shift; done
    for k in $(seq 1 "$2"); do n=$((n + 1)); make_file $n 60; files+=("f$n.dat"); done
    before=$(export_count)
    (cd "$work" && timeout 60 "${command[@]}" "${files[@]}" <terminal >terminal 2>>sz.log) ||
        fail "${command[*]}: exit $?"
    wait_for 10 exports_reach $((before + $2)) || fail "${command[*]}: exports"
    for k in $(seq "$first" "$n"); do
        [ "$(exports_of $k)" -eq 1 ] || fail "${command[*]}: file $k exported $(exports_of $k) times"
    done
    cmp -s "$work/f$n.dat" "$app/Spool/X.DAT" || fail "${command[*]}: X.DAT"
}
# deliver OPTIONS -- COUNT: COUNT new files sent in one run of sz.
deliver() {
    local options=()
    while [ "$1" != -- ]; do options+=("$1"); shift; done
    case " ${options[*]} " in *" --ymodem "* | *" --xmodem "*) ;; *) await_invitation ;; esac
    send_by sz "${options[@]}" -- "$2"
}

deliver -- 1
deliver -e -- 1
deliver -8 -- 1
deliver -w 2048 -- 1
deliver -- 3
deliver --ymodem -- 1
deliver --ymodem -k -- 2
deliver --xmodem -- 1
deliver --xmodem -k -- 1
! grep -q '^<4>Okända byte' "$work/stderr" || fail "sz's own bytes taken for noise"

# Cut off after 20 KB of 60: the terminal lifted from its cradle. Docked
# again, it offers the file with crash recovery, and the rest follows.
n=$((n + 1))
make_file $n 5000
staged() { find "$app/Spool" -maxdepth 1 -name '.X.DAT.*' -size +20k | grep -q .; }
await_invitation
(cd "$work" && exec sz "f$n.dat" <terminal >terminal 2>/dev/null) &
sender_pid=$!
wait_for 30 staged || fail "the transfer to cut did not get going"
kill -KILL "$sender_pid"
wait "$sender_pid" 2>/dev/null || true
sender_pid=
# The line goes quiet once what was on its way has arrived.
size_now() { find "$app/Spool" -maxdepth 1 -name '.X.DAT.*' -printf '%s\n'; }
last=
until [ "$(size_now)" = "$last" ]; do last=$(size_now); sleep 1.2; done
before=$(export_count)
(cd "$work" && timeout 60 sz -r "f$n.dat" <terminal >terminal 2>>sz.log) || fail "sz -r: exit $?"
wait_for 10 exports_reach $((before + 1)) || fail "sz -r: no export"
[ "$(exports_of $n)" -eq 1 ] || fail "the resumed file exported $(exports_of $n) times"
cmp -s "$work/f$n.dat" "$app/Spool/X.DAT" || fail "the resumed X.DAT differs"
grep -qE "^<6>Överföringen fortsatte där den avbröts: f$n.dat: [0-9]{5,} av $(stat -c %s "$work/f$n.dat") byte$" "$work/stderr" ||
    fail "no line for the resumed transfer"

# Debian's python3-xmodem: CRC or checksum, 128- or 1,024-byte blocks (the
# checksum's 1 KB blocks from a sender that takes no 'C').
for options in "" --1k --checksum-only "--checksum-only --1k"; do
    # shellcheck disable=SC2086
    send_by /usr/bin/python3 "$senders/xmodem_sender.py" terminal $options -- 1
done
# Our ZMODEM sender, which takes no header it does not expect: a batch of
# three alike, each a delivery.
n=$((n + 1))
make_file $n 40
before=$(export_count)
(cd "$work" && timeout 60 python3 "$senders/zmodem_sender.py" terminal "f$n.dat" "f$n.dat" "f$n.dat" \
    --strict 2>>sz.log) || fail "a strict ZMODEM sender's batch: exit $?"
wait_for 10 exports_reach $((before + 3)) || fail "three files alike in one batch: $(export_count) exports"

# Cut off again, then another file under the same name, size and time is
# offered with crash recovery by a sender that gives no CRC: it is received
# from its first byte, not spliced onto the part kept.
n=$((n + 1))
make_file $n 5000
await_invitation
(cd "$work" && exec sz "f$n.dat" <terminal >terminal 2>/dev/null) &
sender_pid=$!
wait_for 30 staged || fail "the second transfer to cut did not get going"
kill -KILL "$sender_pid"
wait "$sender_pid" 2>/dev/null || true
sender_pid=
last=
until [ "$(size_now)" = "$last" ]; do last=$(size_now); sleep 1.2; done
mkdir -p "$work/other"
tr 'A' 'B' <"$work/f$n.dat" >"$work/other/f$n.dat"
touch -r "$work/f$n.dat" "$work/other/f$n.dat"
before=$(export_count)
(cd "$work/other" && timeout 60 python3 "$senders/zmodem_sender.py" ../terminal "f$n.dat" --resume \
    --no-crc --timeout 25 2>>"$work/sz.log") || fail "the unproven resume: exit $?"
wait_for 10 exports_reach $((before + 1)) || fail "the unproven resume: no export"
cmp -s "$work/other/f$n.dat" "$app/Spool/X.DAT" || fail "another file was spliced onto the part kept"

# A line fixed to ZMODEM offers itself unasked: a sender that waits to be
# asked starts, and lrzsz's still does.
kill -TERM "$service_pid"
wait "$service_pid" 2>/dev/null || true
printf 'Protocol=ZMODEM\n' >>"$app/Vorlund.ini"
start_service
send_by python3 "$senders/zmodem_sender.py" terminal --wait -- 1
send_by sz -- 1
echo "ok: $n files"
