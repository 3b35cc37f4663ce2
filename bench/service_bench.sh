#!/usr/bin/env bash
# The Linux service as a terminal sees it: processor time while it waits idle
# (target: under 10 ms in 10 s) and the time from the last byte of a delivery
# to the export on disk. Usage: service_bench.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
"$build/bench/service_bench" "$build/src/app/posix/vorlund" "$root/examples/app/Spool/X.DAT" \
    "${VORLUND_BENCH_IDLE_SECONDS:-10}"
