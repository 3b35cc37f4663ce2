#!/usr/bin/env bash
# The Linux service through a faulty serial line for a few hundred
# deliveries: noise, lost bytes, garbage and stalls of up to 16 s in both
# directions; the line dropped at random, just after the ends of transfers,
# with their last acknowledgement and in their middle; senders pulled out;
# the service killed with SIGKILL (now and then closed with SIGTERM) and
# started again at once; batches whose last file fails, sent again whole;
# terminals pulled out at their end and docked again after the service's
# clock was stepped hours forward or back; counts delivered twice.
# Several lines run side by side, each with its own service and seed.
# Prints, over all of them: deliveries sent, reported delivered, exported
# once, lost and doubled (both must be 0), wrong exports, kept deliveries,
# the restarts and drops made, the repeats the service recognised, and what
# the failed deliveries' attempts met. Takes about half an hour with the
# defaults; not run by scripts/bench.
#
#   faulty_line_soak.sh BUILD_DIR [DELIVERIES_PER_LINE] [LINES] [BATCHES_PER_LINE]
#       [LATER_PER_LINE] [TWINS_PER_LINE]
set -euo pipefail
build=$1
per_line=${2:-40}
lines=${3:-4}
batches=${4:-3}
later=${5:-3}
twins=${6:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
faults="flip=0.0002 drop=0.0002 garbage=0.0001 stall=0.00003 stall-ms=16000 back=20"
drops="hangup=0.00001 hangup-eot=0.15 hangup-ack=0.1 away-ms=200-2000"
logs=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-soak.XXXXXX")
pids=()
for line in $(seq 1 "$lines"); do
    python3 "$root/tests/e2e/faulty_line_test.py" "$build/src/app/posix/vorlund" \
        "$build/src/app/convert/vorlund-convert" "$build/tools/faulty-line/faulty_line" \
        --deliveries "$per_line" --batches "$batches" --later "$later" --twins "$twins" \
        --seed $((1000 + line)) --largest 40000 \
        --pull 0.15 --pull-at-end 0.1 --kill 0.2 --term 0.2 --drop 0.1 \
        --faults "$faults $drops" >"$logs/line$line.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
grep -h '^FAIL' "$logs"/*.log || true
grep -h '^faulty_line' "$logs"/*.log | sed 's/^/  /'
# Each line's figures as name=value; summed by name.
grep -h '^totals:' "$logs"/*.log | awk '
    { for (i = 2; i <= NF; i++) { split($i, pair, "="); sum[pair[1]] += pair[2] } }
    END { printf "%d sent, %d reported delivered, %d stored exactly, %d exported once, " \
                 "%d lost, %d doubled, %d wrong exports, %d kept; %d never reported " \
                 "delivered (%d of them exported once); %d repeats recognised; %d kill -9 " \
                 "and %d SIGTERM restarts, %d line drops, %d senders pulled; %d sent again " \
                 "after a clock step (%d steps), %d counts delivered twice\n",
                 sum["sent"], sum["reported"], sum["stored"], sum["exported_once"],
                 sum["lost"], sum["doubled"], sum["wrong"], sum["kept"],
                 sum["not_delivered"], sum["stored_unreported"], sum["repeats"],
                 sum["kills"], sum["terms"], sum["drops"], sum["pulls"], sum["later"],
                 sum["clock_steps"], sum["twins"] }'
# What the failed deliveries met, summed over the lines.
sed -n '/^failures by what their attempts met:/,/^[0-9]* s$/p' "$logs"/*.log |
    sed -n 's/^  \(.*\) (\([0-9]*\))$/\2 \1/p' |
    awk '{ n = $1; $1 = ""; sum[substr($0, 2)] += n }
         END { for (what in sum) printf "  %s (%d)\n", what, sum[what] }' | sort
[ "$status" -eq 0 ] && rm -rf "$logs" || echo "logs kept in $logs"
exit $status
