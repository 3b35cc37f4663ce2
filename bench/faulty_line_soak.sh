#!/usr/bin/env bash
# The Linux service through a faulty serial line for hundreds of deliveries:
# noise, lost bytes, garbage and stalls of up to 16 s in both directions,
# and senders pulled out midway. Several lines run side by side, each with
# its own service and seed. Prints, over all of them: deliveries sent,
# reported delivered, stored exactly, exported once, lost and doubled (both
# must be 0). Takes about 25 minutes with the defaults; not run by
# scripts/bench.
#
#   faulty_line_soak.sh BUILD_DIR [DELIVERIES_PER_LINE] [LINES]
set -euo pipefail
build=$1
per_line=${2:-50}
lines=${3:-4}
root=$(cd "$(dirname "$0")/.." && pwd)
faults="flip=0.0002 drop=0.0002 garbage=0.0001 stall=0.00003 stall-ms=16000 back=20"
logs=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-soak.XXXXXX")
pids=()
for line in $(seq 1 "$lines"); do
    python3 "$root/tests/e2e/faulty_line_test.py" "$build/src/app/posix/vorlund" \
        "$build/src/app/convert/vorlund-convert" "$build/tools/faulty-line/faulty_line" \
        --deliveries "$per_line" --seed $((1000 + line)) --largest 40000 --pull 0.2 --pull-at-end 0.15 \
        --faults "$faults" >"$logs/line$line.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
grep -h '^FAIL' "$logs"/*.log || true
grep -h '^faulty_line' "$logs"/*.log | sed 's/^/  /'
grep -h ' sent, ' "$logs"/*.log | awk '
    { sent += $1; reported += $3; stored += $6; once += $9; lost += $12; doubled += $14
      wrong += $16; never += $19; unreported += substr($23, 2) + 0; repeats += $30 }
    END { printf "%d sent, %d reported delivered, %d stored exactly, %d exported once, " \
                 "%d lost, %d doubled, %d wrong exports; %d never reported delivered " \
                 "(%d of them stored and exported once); %d repeats stored but not " \
                 "converted again\n",
                 sent, reported, stored, once, lost, doubled, wrong, never, unreported, repeats }'
[ "$status" -eq 0 ] && rm -rf "$logs" || echo "logs kept in $logs"
exit $status
