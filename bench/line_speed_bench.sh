#!/usr/bin/env bash
# How much of a serial line a delivery uses, against lrzsz's rz on the same
# line in the same run: tools/faulty-line paces a pseudo-terminal pair at
# BAUD (ten bits a byte, no faults), and lrzsz's sz sends the same delivery
# to rz (ZMODEM), and to the service as ZMODEM, YMODEM (sz --ymodem -k: 1 KB
# blocks, its fastest) and XMODEM (sz --xmodem -k). Each is timed from the
# sender's start to its end, the median of RUNS; the share of the line is
# the delivery's bytes over what the line carries in that time.
#
#   line_speed_bench.sh BUILD_DIR [BAUD] [KBYTES] [RUNS]
set -euo pipefail
build=$1
baud=${2:-115200}
kbytes=${3:-115}
runs=${4:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-speed.XXXXXX")
line_pid=
service_pid=
cleanup() {
    for pid in $service_pid $line_pid; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A terminal's delivery: lines of article code and quantity.
i=0
while [ "$(stat -c %s "$work/delivery.dat" 2>/dev/null || echo 0)" -lt $((kbytes * 1000)) ]; do
    for j in $(seq 1 200); do i=$((i + 1)); printf 'A%07d;%d\r\n' "$i" $((i % 97 + 1)); done >>"$work/delivery.dat"
done
bytes=$(stat -c %s "$work/delivery.dat")

start_line() {
    rm -f "$work/line" "$work/terminal"
    "$build/tools/faulty-line/faulty_line" "$work/line" "$work/terminal" 1 "baud=$baud" 2>"$work/line.log" &
    line_pid=$!
    until [ -e "$work/line" ] && [ -e "$work/terminal" ]; do sleep 0.02; done
}
stop_line() {
    kill -TERM "$line_pid"
    wait "$line_pid" 2>/dev/null || true
    line_pid=
}
# Seconds from the sender's start to its end.
timed_send() {
    local start end
    start=$(date +%s%N)
    timeout 120 sz "$@" "$work/delivery.dat" <"$work/terminal" >"$work/terminal" 2>/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
report() {
    local name=$1 ms=$2
    awk -v name="$name" -v ms="$ms" -v bytes="$bytes" -v baud="$baud" -v ref="$3" 'BEGIN {
        share = bytes / (baud / 10) / (ms / 1000) * 100
        printf "%-34s %6.2f s  %5.1f %% of the line", name, ms / 1000, share
        if (ref > 0) printf "  (%.2f x rz'"'"'s time)", ms / ref
        printf "\n" }'
}

echo "$bytes bytes at $baud baud, median of $runs runs"
start_line
mkdir -p "$work/rz"
reference=$(for run in $(seq 1 "$runs"); do
    rm -f "$work/rz/delivery.dat"
    (cd "$work/rz" && exec rz -y <"$work/line" >"$work/line" 2>/dev/null) &
    rz_pid=$!
    sleep 0.3
    timed_send
    wait "$rz_pid" || true
done | median)
stop_line
report "rz (ZMODEM), the reference" "$reference" 0

start_line
mkdir -p "$work/app"
cp "$build/src/app/posix/vorlund" "$work/app/vorlund"
printf 'SerialDevice=%s\nBaudRate=%s\n' "$work/line" "$baud" >"$work/app/Vorlund.ini"
(cd "$work" && exec "$work/app/vorlund" 2>"$work/service.log") &
service_pid=$!
sleep 1
for variant in "ZMODEM:" "YMODEM:--ymodem -k" "XMODEM:--xmodem -k"; do
    name=${variant%%:*}
    options=${variant#*:}
    ms=$(for run in $(seq 1 "$runs"); do
        # shellcheck disable=SC2086
        timed_send $options
        sleep 0.5  # the service restarts its reception after each delivery
    done | median)
    report "vorlund, $name (sz ${options:-})" "$ms" "$reference"
done
