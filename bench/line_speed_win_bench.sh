#!/usr/bin/env bash
# Vorlund.exe with its own receivers (Protocol=auto) under Wine, as a
# terminal sees it: how much of a serial line a delivery uses, against
# lrzsz's rz on the same line in the same run (as line_speed_bench.sh does
# for the Linux service), and the processor time that it and Wine's server
# take while it waits idle on an open port. tools/faulty-line paces a
# pseudo-terminal pair at BAUD, and Wine's registry makes one end COM11.
#
#   line_speed_win_bench.sh BUILD_DIR [VORLUND_EXE] [BAUD] [KBYTES] [RUNS]
#
# BUILD_DIR is a native build (for its faulty line, which is made when
# missing); without VORLUND_EXE, the x86_64 build is made in out/bench-win64.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${2:-}
baud=${3:-115200}
kbytes=${4:-115}
runs=${5:-3}
idle_seconds=${VORLUND_BENCH_IDLE_SECONDS:-30}
if [ -z "$exe" ]; then
    cmake -S "$root" -B "$root/out/bench-win64" -DVORLUND_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
    cmake --build "$root/out/bench-win64" -j "$(nproc)" --target Vorlund >/dev/null
    exe=$root/out/bench-win64/src/app/win32/Vorlund.exe
fi
[ -x "$build/tools/faulty-line/faulty_line" ] || cmake --build "$build" --target faulty_line >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-speed-win.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all
line_pid=
display_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    for pid in $line_pid $display_pid; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display for the tray icon, and a prefix whose COM11 is the line.
display=:$((RANDOM % 1000 + 4000))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
display_pid=$!
export DISPLAY=$display
"$root/tools/wine-run" wineboot -i >/dev/null 2>&1
"$root/tools/wine-run" reg add 'HKLM\Software\Wine\Ports' /v COM11 /t REG_SZ /d "$work/line" /f \
    >/dev/null 2>&1
wineserver -k
wineserver -w

source "$(dirname "$0")/paced_line.sh"
# Processor ticks (user and system) of a process so far.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

echo "$bytes bytes at $baud baud, median of $runs runs; $exe"
measure_reference

start_line
mkdir -p "$work/app"
cp "$exe" "$work/app/Vorlund.exe"
printf 'Protocol=auto\r\nCOM-Port=10\r\n' >"$work/app/Vorlund.ini"
"$root/tools/wine-run" "$work/app/Vorlund.exe" >/dev/null 2>&1 &
service_pid=$!
sleep 5
for variant in "ZMODEM:" "YMODEM:--ymodem -k" "XMODEM:--xmodem -k"; do
    name=${variant%%:*}
    options=${variant#*:}
    ms=$(for run in $(seq 1 "$runs"); do
        # shellcheck disable=SC2086
        timed_send $options
        sleep 0.5  # the service restarts its reception after each delivery
    done | median)
    report "Vorlund.exe, $name (sz ${options:-})" "$ms" "$reference"
done
sleep 15  # quiet for long enough to look at the port seldom
# The prefix's own server, whatever other servers run beside it.
for pid in $(pgrep wineserver); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
        server_pid=$pid
    fi
done
before=$(($(ticks "$service_pid") + $(ticks "$server_pid")))
sleep "$idle_seconds"
after=$(($(ticks "$service_pid") + $(ticks "$server_pid")))
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$idle_seconds" 'BEGIN {
    printf "idle on an open port: %.0f ms of processor time in %d s (Vorlund.exe and wineserver, %.3f %%)\n",
        t * 1000 / hz, s, t / hz / s * 100 }'
