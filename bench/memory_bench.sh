#!/usr/bin/env bash
# The Linux service's resident memory around one large delivery, as a small
# box would feel it: the peak during the delivery and what stays resident
# while it waits for the next one. The reference, measured in the same run
# on the same file, is vorlund-convert's peak for the conversion alone (the
# summing table and nothing else), so the service's own cost shows as the
# difference. Usage: memory_bench.sh BUILD_DIR [MIB...] (default 1 10 64)
#
# Each delivery has about one distinct article code per 19 bytes, as many
# as a terminal's file can hold: the worst case for the summing table.
set -euo pipefail
build=$1
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 10 64)
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/e2e/harness.sh"
work=$(mktemp -d)
service=
cleanup() {
    stop_background $service
    rm -rf "$work"
}
trap cleanup EXIT

kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$2/status"; }

printf '%8s %14s %14s %14s %12s\n' "delivery" "service peak" "service idle" "table alone" "delivery s"
for mib in "${sizes[@]}"; do
    app=$work/app$mib
    mkdir -p "$app"
    cp "$build/src/app/posix/vorlund" "$app/vorlund"
    # Lines of 13-digit codes: about 19 bytes each, one new code in most.
    lines=$((mib * 1024 * 1024 / 19))
    "$build/bench/make_received_file" "$work/X$mib.DAT" "$lines" "$lines"
    truncate -s $((mib * 1024 * 1024)) "$work/X$mib.DAT"
    start_pty_pair "$work/line$mib" "$work/terminal$mib"
    printf 'SerialDevice=%s\nOutFile=export.txt\n' "$work/line$mib" >"$app/Vorlund.ini"
    (cd "$work" && exec "$app/vorlund" 2>"$work/service$mib.log") &
    service=$!
    sleep 0.5
    began=$(date +%s.%N)
    timeout 600 sz --ymodem -k "$work/X$mib.DAT" <"$work/terminal$mib" >"$work/terminal$mib" \
        2>/dev/null
    wait_for 120 test -s "$app/Out/export.txt"
    took=$(awk -v a="$began" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    sleep 2  # idle, waiting for the next terminal
    peak=$(kib VmHWM "$service")
    idle=$(kib VmRSS "$service")
    kill -TERM "$service"
    wait "$service" || true
    service=
    # The reference: the conversion alone, in a process of its own.
    mkdir -p "$work/ref$mib/Spool"
    cp "$work/X$mib.DAT" "$work/ref$mib/Spool/X.DAT"
    printf 'OutFile=export.txt\n' >"$work/ref$mib/Vorlund.ini"
    read -r _ table < <("$build/bench/measure" 1 /dev/null \
        "$build/src/app/convert/vorlund-convert" "$work/ref$mib")
    printf '%5d MiB %11d KiB %11d KiB %11d KiB %12.1f\n' "$mib" "$peak" "$idle" "$table" "$took"
    rm -rf "$app" "$work/ref$mib" "$work/X$mib.DAT"
done
