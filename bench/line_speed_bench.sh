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

source "$(dirname "$0")/paced_line.sh"

echo "$bytes bytes at $baud baud, median of $runs runs"
measure_reference

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
