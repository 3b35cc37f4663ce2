#!/usr/bin/env bash
# End-to-end cases of the Linux service: the real `vorlund` in a temporary
# application directory, a pseudo-terminal pair from socat as the serial
# line, and lrzsz's `sz --ymodem` as the terminal that delivers.
#
#   serial_service_test.sh CASE VORLUND_BINARY EXAMPLE_X_DAT
set -euo pipefail

case_name=$1
binary=$2
example=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-e2e.XXXXXX")
app=$work/app
mkdir -p "$app"
cp "$binary" "$app/vorlund"
program=$app/vorlund
service_pid=
sender_pid=
mounted=
loop_device=
source "$(dirname "$0")/harness.sh"

cleanup() {
    stop_background $sender_pid $service_pid
    [ -z "$mounted" ] || umount "$mounted" || umount -l "$mounted"
    [ -z "$loop_device" ] || losetup -d "$loop_device"
    rm -rf "$work"
}
trap cleanup EXIT

# Ends the case as skipped (ctest's code 77), saying why.
skip() {
    echo "skip ($case_name): $*"
    exit 77
}

fail() {
    echo "FAIL ($case_name): $*" >&2
    if [ -f "$work/stderr" ]; then
        echo "--- service stderr:" >&2
        cat "$work/stderr" >&2
    fi
    exit 1
}

make_pty_pair() {
    start_pty_pair "$work/line" "$work/terminal" || fail "no pseudo-terminal pair"
}

make_line() {
    make_pty_pair
    printf 'SerialDevice=%s\n' "$work/line" >>"$app/Vorlund.ini"
}

start_service() {
    (cd "$work" && exec "$app/vorlund" 2>"$work/stderr") &
    service_pid=$!
}

# The program on the application directory $app, wherever that is, its
# lines added to those of its earlier runs.
start_service_on_app() {
    (cd "$work" && exec "$program" "$app" 2>>"$work/stderr") &
    service_pid=$!
}

stop_service() {
    kill -TERM "$service_pid"
    await_exit 5
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
}

listen_as_service_manager() {
    start_notify_listener "$work/notify" "$work/notify.log" || fail "no notification socket"
    export NOTIFY_SOCKET=$work/notify
}

# Waits for the service to end within $1 seconds; leaves its exit code in
# $exit_code.
await_exit() {
    wait_for "$1" bash -c "! kill -0 $service_pid 2>/dev/null" || fail "the service did not end"
    exit_code=0
    wait "$service_pid" || exit_code=$?
    service_pid=
}

# Delivers the files given as a terminal would; returns sz's exit code.
deliver() {
    timeout 40 sz --ymodem "$@" <"$work/terminal" >"$work/terminal" 2>>"$work/sz.log"
}

exports() { find "$app/Out" -maxdepth 1 -type f ! -name '.*' 2>/dev/null | sort; }
export_count_is() { [ "$(exports | wc -l)" -eq "$1" ]; }

# A delivery with a known export: article codes summed, in code order.
printf 'ABC;3\r\nDEF;2.5\r\nABC;1\r\n' >"$work/first.dat"
first_export=$(printf 'ABC,4\r\nDEF,2.5\r\n')
printf 'X1;1\r\nX1;2\r\n' >"$work/second.dat"
second_export=$(printf 'X1,3\r\n')

notified() { grep -qxE "$1" "$work/notify.log"; }

case $case_name in
delivery)
    make_line
    [ "${VORLUND_NOTIFY:-0}" = 0 ] || listen_as_service_manager
    start_service
    deliver "$work/first.dat" || fail "sz reported a failure"
    wait_for 10 export_count_is 1 || fail "no export"
    cmp -s "$work/first.dat" "$app/Spool/X.DAT" || fail "X.DAT differs from the delivery"
    [ "$(cat "$(exports)")" = "$first_export" ] || fail "export: $(od -c "$(exports)")"
    # One line for the operator: bytes, records, export lines, file, time.
    wait_for 5 grep -qxE "<6>Leverans mottagen: $(wc -c <"$work/first.dat") byte, 3 poster, 2 rader till $(exports), [0-9]+ ms, YMODEM, first\.dat" "$work/stderr" ||
        fail "no delivery line"
    # The bundled example spans hundreds of blocks.
    deliver "$example" || fail "sz reported a failure for the example"
    wait_for 10 cmp -s "$example" "$app/Spool/X.DAT" || fail "the example's X.DAT differs"
    if [ "${VORLUND_NOTIFY:-0}" != 0 ]; then
        wait_for 5 notified "STATUS=Senaste leverans [0-9-]{10} [0-9:]{8}: [0-9]+ poster, $app/Out/[0-9]{14}\.txt" ||
            fail "no delivery state: $(cat "$work/notify.log")"
        notified "READY=1" || fail "not ready: $(cat "$work/notify.log")"
        notified "STATUS=Väntar på leverans: $work/line" || fail "no first state"
        kill -TERM "$service_pid"
        await_exit 5
        [ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
        notified "STOPPING=1" || fail "no stop notification: $(cat "$work/notify.log")"
    fi
    ;;
two-deliveries)
    printf 'OutFile=export.txt\n' >"$app/Vorlund.ini"
    make_line
    start_service
    deliver "$work/first.dat" || fail "sz reported a failure"
    wait_for 10 test -f "$app/Out/export.txt" || fail "no first export"
    [ "$(cat "$app/Out/export.txt")" = "$first_export" ] || fail "first export"
    # The second goes through the restart 300 ms after the first.
    deliver "$work/second.dat" || fail "sz reported a failure the second time"
    wait_for 10 bash -c "[ \"\$(cat '$app/Out/export.txt')\" = '$second_export' ]" ||
        fail "second export: $(cat "$app/Out/export.txt")"
    ;;
batch)
    # One file per reception: the second file's header is repeated to the
    # reception that follows the restart, so the whole batch arrives.
    printf 'OutFile=export.txt\n' >"$app/Vorlund.ini"
    make_line
    start_service
    deliver "$work/first.dat" "$work/second.dat" || fail "sz reported a failure for the batch"
    wait_for 10 cmp -s "$work/second.dat" "$app/Spool/X.DAT" || fail "second file not received"
    wait_for 10 bash -c "[ \"\$(cat '$app/Out/export.txt')\" = '$second_export' ]" ||
        fail "export of the second file"
    ;;
abort)
    make_line
    start_service
    head -c 3000000 /dev/urandom | base64 >"$work/large.dat"
    # Started without `timeout`, so that the kill below reaches sz itself.
    sz --ymodem "$work/large.dat" <"$work/terminal" >"$work/terminal" 2>/dev/null &
    sender_pid=$!
    sleep 0.4
    kill -KILL "$sender_pid"
    wait "$sender_pid" 2>/dev/null || true
    sender_pid=
    # sz dies without a word; a sender that aborts says so with CAN CAN, once
    # the partial block it left has been dropped and asked for again.
    sleep 1.2
    printf '\030\030\030\030\030\030\030\030\030\030\b\b\b\b\b\b\b\b\b\b' >"$work/terminal"
    sleep 0.3
    [ ! -e "$app/Spool/X.DAT" ] || fail "an aborted transfer wrote X.DAT"
    export_count_is 0 || fail "an aborted transfer made an export"
    deliver "$work/first.dat" || fail "the next transfer failed"
    wait_for 10 export_count_is 1 || fail "no export after the abort"
    [ "$(cat "$(exports)")" = "$first_export" ] || fail "export after the abort"
    ;;
kept)
    # The output directory goes away: each failed delivery is kept under a
    # name of its own, and X.DAT stays; when the copy fails too, the message
    # says the delivery is in danger.
    make_line
    start_service
    sleep 0.3
    rmdir "$app/Out"
    kept_of() { find "$app/Spool/Okonverterade" -name "*-50*.DAT" 2>/dev/null | sort; }
    deliver "$work/first.dat" || fail "sz reported a failure"
    wait_for 5 bash -c "[ -n \"\$(find '$app/Spool/Okonverterade' -name '*-50.DAT')\" ]" ||
        fail "the delivery was not kept"
    cmp -s "$work/first.dat" "$(kept_of)" || fail "the kept copy differs"
    cmp -s "$work/first.dat" "$app/Spool/X.DAT" || fail "X.DAT differs"
    grep -q '^<3>Fel vid skapande av destinationsfil!' "$work/stderr" || fail "no message"
    deliver "$work/second.dat" || fail "sz reported a failure the second time"
    wait_for 5 bash -c "[ \$(find '$app/Spool/Okonverterade' -name '*.DAT' | wc -l) -eq 2 ]" ||
        fail "the second delivery was not kept beside the first"
    rm -r "$app/Spool/Okonverterade"
    : >"$app/Spool/Okonverterade"
    printf 'Y;1\r\n' >"$work/third.dat"
    deliver "$work/third.dat" || fail "sz reported a failure the third time"
    # What really happens next, and what failed each time.
    danger='<3>Fel vid skapande av destinationsfil! Leveransen kunde inte heller sparas undan: den finns bara i X.DAT, och nästa överföring nekas tills den har exporterats eller sparats undan.'
    wait_for 5 grep -qF "$danger: $app/Out/" "$work/stderr" || fail "no message of the failed copy"
    grep -qF "; $app/Spool/Okonverterade: File exists" "$work/stderr" || fail "the copy's failure is not named"
    export_count_is 0 || fail "an export appeared"
    # Nothing may replace it now: the next transfer is refused, and the
    # terminal keeps its data.
    ! deliver "$work/first.dat" || fail "a transfer was taken over an unsettled delivery"
    cmp -s "$work/third.dat" "$app/Spool/X.DAT" || fail "the unsettled delivery was replaced"
    grep -q "^<4>Överföringen misslyckades: first.dat: nekad: .*neither exported nor kept: $app/Out/.*; $app/Spool/Okonverterade: File exists" "$work/stderr" ||
        fail "the refusal was not journaled with what to put right"
    ;;
exfat)
    # The application directory on exFAT, as on an SD card or a USB stick
    # of a small board: a real one, on a loop device through exfat-fuse. It
    # has no hard links, so a delivery whose conversion fails is kept by a
    # copy, and so is an X.DAT found at start-up; the line goes on taking
    # deliveries after each.
    for tool in losetup mkfs.exfat mount.exfat-fuse; do
        command -v "$tool" >/dev/null || skip "no $tool (scripts/install-deps installs exfatprogs and exfat-fuse)"
    done
    [ "$(id -u)" -eq 0 ] || skip "a loop device and a FUSE mount need root"
    [ -c /dev/fuse ] || skip "no /dev/fuse"
    truncate -s 32M "$work/exfat.img"
    loop_device=$(losetup -f --show "$work/exfat.img") || skip "no free loop device"
    mkfs.exfat "$loop_device" >/dev/null || fail "mkfs.exfat"
    mkdir "$work/sd"
    mount.exfat-fuse "$loop_device" "$work/sd" 2>/dev/null || fail "mount.exfat-fuse"
    mounted=$work/sd
    app=$work/sd/app
    mkdir "$app"
    make_line
    start_service_on_app
    deliver "$work/first.dat" || fail "sz reported a failure"
    wait_for 10 export_count_is 1 || fail "no export on exFAT"
    [ "$(cat "$(exports)")" = "$first_export" ] || fail "export: $(od -c "$(exports)")"
    mv "$app/Out" "$app/Out.away"
    deliver "$work/second.dat" || fail "sz reported a failure the second time"
    kept_copy() { find "$app/Spool/Okonverterade" -name "$1" ! -name '.*' 2>/dev/null; }
    wait_for 5 bash -c "[ -n \"\$(find '$app/Spool/Okonverterade' -name '*-50.DAT')\" ]" ||
        fail "the delivery was not kept"
    cmp -s "$work/second.dat" "$(kept_copy '*-50.DAT')" || fail "the kept copy differs"
    printf 'X2;7\r\n' >"$work/third.dat"
    deliver "$work/third.dat" || fail "the transfer after the kept one failed"
    wait_for 5 bash -c "[ \$(find '$app/Spool/Okonverterade' -name '*-50*.DAT' | wc -l) -eq 2 ]" ||
        fail "the next delivery was not kept beside the first"
    # Said once a run: it is the place, not the delivery.
    no_links="<5>Mappen kan inte ha hårda länkar: $app/Spool/Okonverterade: Operation not permitted (.*)"
    [ "$(grep -cx "$no_links" "$work/stderr")" -eq 1 ] || fail "not one line about the missing hard links"
    mv "$app/Out.away" "$app/Out"
    printf 'X3;1\r\n' >"$work/fourth.dat"
    deliver "$work/fourth.dat" || fail "the transfer after the kept ones failed"
    wait_for 10 export_count_is 2 || fail "no export after the kept deliveries"
    # An X.DAT the ledger never saw, found at start-up.
    stop_service
    printf 'Z;9\r\nZ;' >"$app/Spool/X.DAT"
    start_service_on_app
    wait_for 5 bash -c "[ -n \"\$(find '$app/Spool/Okonverterade' -name '*-U.DAT')\" ]" ||
        fail "the unknown X.DAT was not kept"
    [ "$(cat "$(kept_copy '*-U.DAT')")" = "$(printf 'Z;9\r\nZ;')" ] || fail "the kept X.DAT differs"
    printf 'X4;1\r\n' >"$work/fifth.dat"
    deliver "$work/fifth.dat" || fail "the line was not taking deliveries after the start"
    wait_for 10 export_count_is 3 || fail "no export after the start"
    [ "$(grep -c '^<3>' "$work/stderr")" -eq 2 ] || fail "an error besides the failed conversions"
    # No room for a copy: the delivery waits in X.DAT, each transfer is
    # refused with what to free, and the line goes on once there is room.
    mv "$app/Out" "$app/Out.away"
    head -c 300000 /dev/zero | tr '\0' 'B' | fold -w 30 | sed 's/$/;1\r/' >"$work/big.dat"
    avail=$(df --output=avail -B1 "$work/sd" | tail -1)
    head -c $((avail - 500000)) /dev/zero >"$work/sd/filler"
    deliver "$work/big.dat" || fail "the large delivery was not stored"
    no_room="no hard links here: the copy needs $(wc -c <"$work/big.dat") bytes free in $app/Spool/Okonverterade"
    wait_for 5 grep -q "^<3>.* nästa överföring nekas .*: No space left on device ($no_room)\$" "$work/stderr" ||
        fail "no message of the copy without room"
    ! deliver "$work/fifth.dat" || fail "a transfer was taken over a delivery that was not kept"
    grep -q "^<4>Överföringen misslyckades: fifth.dat: nekad: .*($no_room)\$" "$work/stderr" ||
        fail "the refusal does not say what to free"
    rm "$work/sd/filler"
    mv "$app/Out.away" "$app/Out"
    printf 'X6;1\r\n' >"$work/sixth.dat"
    deliver "$work/sixth.dat" || fail "the line did not go on once there was room"
    wait_for 10 export_count_is 5 || fail "the waiting delivery and the next were not exported"
    stop_service
    ;;
signals)
    # SIGHUP starts the service again in its process, on its settings read
    # afresh (systemctl reload). A file larger than the largest the
    # service may write (RLIMIT_FSIZE) is refused, every time, with one line
    # a minute; the limit lowered under a running service makes the write
    # itself fail, which ends the transfer, not the service.
    make_line
    (cd "$work" && exec prlimit --fsize=20000 "$app/vorlund" 2>"$work/stderr") &
    service_pid=$!
    wait_for 5 test -e "$app/Spool/Leveranser.log" || fail "the service did not start"
    kill -HUP "$service_pid"
    wait_for 5 grep -qxF "<5>Inställningarna läses om: $app/Vorlund.ini (SIGHUP)" "$work/stderr" ||
        fail "no line for SIGHUP"
    wait_for 5 bash -c "[ \$(grep -c '^<6>Vorlund startar: ' '$work/stderr') -eq 2 ]" ||
        fail "SIGHUP did not start the service afresh"
    kill -0 "$service_pid" || fail "SIGHUP ended the service"
    too_large='<4>Överföringen misslyckades: X.DAT: större än RLIMIT_FSIZE (20000 byte), den största fil tjänsten får skriva'
    for attempt in 1 2; do
        ! deliver "$example" || fail "a file over the limit was acknowledged"
    done
    [ "$(grep -cxF "$too_large" "$work/stderr")" -eq 1 ] || fail "not one line for the refusals"
    [ ! -e "$app/Spool/X.DAT" ] || fail "a refused file was stored"
    deliver "$work/first.dat" || fail "a file within the limit failed"
    wait_for 10 export_count_is 1 || fail "no export within the limit"
    # Above the journal's and the ledger's sizes, below the file's.
    prlimit --pid "$service_pid" --fsize=5000:
    head -c 12000 /dev/zero | tr '\0' 'A' | sed 's/$/;1\r/' >"$work/over.dat"
    ! deliver "$work/over.dat" || fail "a write beyond the limit was acknowledged"
    kill -0 "$service_pid" || fail "the write beyond the limit ended the service"
    grep -q "^<3>Fel vid skapande av destinationsfil!: $app/Spool/X.DAT: File too large (RLIMIT_FSIZE: the service may write no file larger than 5000 bytes)" "$work/stderr" ||
        fail "the failed write was not journaled"
    prlimit --pid "$service_pid" --fsize=20000:
    deliver "$work/second.dat" || fail "sz reported a failure once the limit was raised"
    wait_for 10 export_count_is 2 || fail "no export once the limit was raised"
    ;;
unopenable)
    # The device appears only later, as an adapter that is plugged in.
    printf 'SerialDevice=%s\n' "$work/line" >"$app/Vorlund.ini"
    start_service
    # Tried every 300 ms, written once, with the device and the reason.
    wait_for 5 test -s "$work/stderr" || fail "no message"
    sleep 1.2
    [ "$(grep -v '^<6>Vorlund startar: ' "$work/stderr")" = "<3>Kunde inte öppna COM-port. Kontrollera att ingen annan applikation använder porten.: $work/line: No such file or directory" ] ||
        fail "not one line naming the device"
    make_pty_pair
    wait_for 5 grep -qxE "<6>COM-port öppnad igen: $work/line \(efter [0-9]+ försök på [0-9]+ s\)" "$work/stderr" ||
        fail "the end of the fault was not written"
    deliver "$work/first.dat" || fail "sz reported a failure once the line was there"
    wait_for 10 export_count_is 1 || fail "no export once the line was there"
    kill -TERM "$service_pid"
    await_exit 5
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
    ;;
idle-close)
    make_line
    start_service
    sleep 0.5
    kill -0 "$service_pid" || fail "the service is not running"
    start=$(now_ms)
    kill -TERM "$service_pid"
    await_exit 5
    elapsed=$(($(now_ms) - start))
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
    # The close waits for the restart timer, then one second.
    [ "$elapsed" -ge 1000 ] && [ "$elapsed" -le 2500 ] || fail "closed after $elapsed ms"
    # Nothing but the settings it started with.
    [ "$(grep -vc '^<6>Vorlund startar: ' "$work/stderr")" = 0 ] || fail "unexpected output"
    ;;
spool-file)
    : >"$app/Spool"
    start_service
    await_exit 5
    [ "$exit_code" -eq 1 ] || fail "exit code $exit_code"
    [ "$(cat "$work/stderr")" = "<3>Mapp för temporära filer kunde ej skapas. Applikationen avslutas: $app/Spool: File exists" ] ||
        fail "message"
    ;;
output-dir)
    printf 'OutDir=%s\n' "$work/missing/deeper" >"$app/Vorlund.ini"
    start_service
    await_exit 5
    [ "$exit_code" -eq 2 ] || fail "exit code $exit_code"
    [ "$(cat "$work/stderr")" = "<3>Utdatamappen finns inte och kunde inte skapas. Applikationen avslutas: $work/missing/deeper: No such file or directory" ] ||
        fail "message"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok ($case_name)"
