#!/usr/bin/env bash
# How soon every kind of sender starts, docked at any moment of the
# service's waiting: on a line paced at BAUD (tools/faulty-line, which, like
# a real line, loses what is sent while no terminal listens), each sender is
# started DELAYS seconds after the service began waiting (after its last
# delivery and the restart of its reception), and timed from its start to
# its end; against the line's own time for the delivery's bytes and against
# lrzsz's receiver of the same protocol started just before the sender, in
# the same run. Senders: lrzsz's sz (ZMODEM, YMODEM with 1 KB blocks, XMODEM
# with 1 KB blocks), Debian's python3-xmodem (CRC with 1 KB blocks, and a
# sender that knows only the checksum), and, with the line fixed to ZMODEM,
# our own ZMODEM sender that waits to be asked.
#
#   start_rhythm_bench.sh BUILD_DIR [BAUD] [KBYTES] [DELAYS]
set -euo pipefail
build=$1
baud=${2:-115200}
kbytes=${3:-13}
# Docked at every phase of the service's invitations, not in step with them.
delays=${4:-"1.1 4.3 8.5 13.7 17.9"}
here=$(cd "$(dirname "$0")/.." && pwd)
senders=$here/tools/senders
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-rhythm.XXXXXX")
line_pid=
service_pid=
cleanup() {
    for pid in $service_pid $line_pid; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Deliveries of KBYTES, each of its own lines so that none is a resend.
make_delivery() {
    local i=0
    : >"$work/$1"
    while [ "$(stat -c %s "$work/$1")" -lt $((kbytes * 1000)) ]; do
        for j in $(seq 1 100); do i=$((i + 1)); printf '%s%06d;%d\r\n' "$1" "$i" $((i % 9 + 1)); done \
            >>"$work/$1"
    done
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

start_line() {
    rm -f "$work/line" "$work/terminal"
    "$build/tools/faulty-line/faulty_line" "$work/line" "$work/terminal" 1 "baud=$baud" 2>/dev/null &
    line_pid=$!
    until [ -e "$work/line" ] && [ -e "$work/terminal" ]; do sleep 0.02; done
}
stop_line() {
    kill -TERM "$line_pid" 2>/dev/null || true
    wait "$line_pid" 2>/dev/null || true
    line_pid=
}
start_service() {
    printf 'SerialDevice=%s\nBaudRate=%s\nProtocol=%s\n' "$work/line" "$baud" "$1" >"$work/app/Vorlund.ini"
    (cd "$work" && exec "$work/app/vorlund" 2>>"$work/service.log") &
    service_pid=$!
    sleep 1
}
stop_service() {
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
}
exports() { find "$work/app/Out" -maxdepth 1 -type f ! -name '.*' 2>/dev/null | wc -l; }

# run_sender NAME FILE: the sender NAME sends FILE over the terminal's end.
run_sender() {
    local file=$work/$2
    case $1 in
        zmodem) sz "$file" ;;
        ymodem) sz --ymodem -k "$file" ;;
        xmodem) sz --xmodem -k "$file" ;;
        python-crc) /usr/bin/python3 "$senders/xmodem_sender.py" "$work/terminal" "$file" --1k ;;
        python-checksum)
            /usr/bin/python3 "$senders/xmodem_sender.py" "$work/terminal" "$file" --checksum-only ;;
        waiting-zmodem) python3 "$senders/zmodem_sender.py" "$work/terminal" "$file" --wait ;;
    esac <"$work/terminal" >"$work/terminal" 2>/dev/null
}
# timed NAME FILE: milliseconds from the sender's start to its end.
timed() {
    local start
    start=$(now_ms)
    timeout 60 bash -c 'run_sender "$@"' _ "$1" "$2" || true
    echo $(($(now_ms) - start))
}
# The reference: lrzsz's receiver of the protocol, already waiting.
reference_receiver() {
    case $1 in
        zmodem | waiting-zmodem) echo "rz" ;;
        ymodem) echo "rz --ymodem" ;;
        python-checksum) echo "rz --xmodem rx.out" ;;
        *) echo "rz --xmodem -c rx.out" ;;
    esac
}
export work senders
export -f run_sender
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
slowest() { sort -n | tail -1; }

mkdir -p "$work/app" "$work/rz"
cp "$build/src/app/posix/vorlund" "$work/app/vorlund"
line_ms=$((kbytes * 1000 * 10 * 1000 / baud))
echo "deliveries of $kbytes KB at $baud baud (the line's own time: $line_ms ms), senders started"
echo "$delays s after the service began waiting; times from the sender's start to its end"
printf '%-16s %10s %10s %8s %14s\n' sender median slowest "x line" "rz's median"
n=0
for sender in zmodem ymodem xmodem python-crc python-checksum waiting-zmodem; do
    protocol=auto
    [ "$sender" = waiting-zmodem ] && protocol=ZMODEM
    start_line
    start_service "$protocol"
    ready=$(now_ms)
    times=()
    for delay in $delays; do
        n=$((n + 1))
        make_delivery "d$n"
        sleep "$(awk -v ready="$ready" -v now="$(now_ms)" -v d="$delay" \
            'BEGIN { s = (ready + d * 1000 - now) / 1000; print (s > 0 ? s : 0) }')"
        before=$(exports)
        times+=("$(timed "$sender" "d$n")")
        for _ in $(seq 1 50); do [ "$(exports)" -gt "$before" ] && break; sleep 0.1; done
        [ "$(exports)" -gt "$before" ] || times[-1]=failed
        # The service restarts its reception 300 ms after each delivery.
        ready=$(($(now_ms) + 300))
    done
    stop_service
    stop_line
    start_line
    references=()
    for delay in $delays; do
        n=$((n + 1))
        make_delivery "d$n"
        rm -f "$work/rz/"*
        # shellcheck disable=SC2046
        (cd "$work/rz" && exec timeout 60 $(reference_receiver "$sender") <"$work/line" \
            >"$work/line" 2>/dev/null) &
        receiver=$!
        sleep 0.3
        # Until the receiver has the file and ends (lrzsz's YMODEM receiver
        # ends before it answers the end of the batch, which its sender then
        # waits for in vain).
        start=$(now_ms)
        bash -c 'run_sender "$@"' _ "$sender" "d$n" &
        sender_pid=$!
        wait "$receiver" 2>/dev/null || true
        references+=("$(($(now_ms) - start))")
        kill "$sender_pid" 2>/dev/null || true
        pkill -P "$sender_pid" 2>/dev/null || true
        wait "$sender_pid" 2>/dev/null || true
    done
    stop_line
    if printf '%s\n' "${times[@]}" | grep -q failed; then
        printf '%-16s %s\n' "$sender" "FAILED: ${times[*]}"
        continue
    fi
    med=$(printf '%s\n' "${times[@]}" | median)
    printf '%-16s %8d ms %8d ms %7.1fx %11d ms   (%s)\n' "$sender" "$med" \
        "$(printf '%s\n' "${times[@]}" | slowest)" "$(awk -v m="$med" -v l="$line_ms" 'BEGIN { print m / l }')" \
        "$(printf '%s\n' "${references[@]}" | median)" "${times[*]}"
done
