#!/usr/bin/env bash
# Conversion throughput and memory against references measured in the same run
# on the same data: datamash (the standard tool for the summing job), an awk
# one-liner, and cat as the I/O floor. Usage: conversion_bench.sh BUILD_DIR
set -euo pipefail
build=$1
lines=${VORLUND_BENCH_LINES:-1000000}
runs=${VORLUND_BENCH_RUNS:-5}
export LC_ALL=C
measure=$build/bench/measure
convert=$build/src/app/convert/vorlund-convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/sum/Spool" "$work/list/Spool" "$work/big/Spool"
"$build/bench/make_received_file" "$work/sum/Spool/X.DAT" "$lines" 10000
cp "$work/sum/Spool/X.DAT" "$work/list/Spool/X.DAT"
"$build/bench/make_received_file" "$work/big/Spool/X.DAT" $((lines * 4)) 10000
printf 'OutFile=out.txt\r\nAggregation=1\r\nSeparator=1\r\n' >"$work/sum/Vorlund.ini"
printf 'OutFile=out.txt\r\nAggregation=0\r\nSeparator=1\r\n' >"$work/list/Vorlund.ini"
cp "$work/sum/Vorlund.ini" "$work/big/Vorlund.ini"
tr -d '\r' <"$work/sum/Spool/X.DAT" >"$work/lf.dat"  # datamash refuses CR
bytes=$(stat -c %s "$work/sum/Spool/X.DAT")

declare -A seconds memory
run() {  # NAME RUNS COMMAND...
    local name=$1 n=$2
    shift 2
    read -r seconds[$name] memory[$name] < <("$measure" "$n" "$work/$name.out" "$@")
}
run cat "$runs" cat "$work/sum/Spool/X.DAT"
run summing "$runs" "$convert" "$work/sum"
run listing "$runs" "$convert" "$work/list"
run summing_4x 1 "$convert" "$work/big"
run datamash 3 sh -c "datamash -s -t';' groupby 1 sum 2 <'$work/lf.dat'"
run awk 3 sh -c "awk -F';' '{s[\$1]+=\$2} END{for(k in s) print k\";\"s[k]}' '$work/sum/Spool/X.DAT'"

# The summing export must agree with datamash on every code and sum.
tr -d '\r' <"$work/sum/Out/out.txt" | cmp -s - "$work/datamash.out" ||
    { echo "summing export differs from datamash's result"; exit 1; }

mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN{printf "%.0f", b / s / 1e6}'; }
printf '%s lines, %.1f MB, best of %s runs\n' "$lines" "$(awk -v b="$bytes" 'BEGIN{print b/1e6}')" "$runs"
printf '%-22s %9s %8s %10s\n' "" seconds "MB/s" "peak MiB"
for name in cat summing listing datamash awk; do
    printf '%-22s %9.3f %8s %10.1f\n' "$name" "${seconds[$name]}" "$(mbps "${seconds[$name]}")" \
        "$(awk -v k="${memory[$name]}" 'BEGIN{print k/1024}')"
done
printf '%-22s %9.3f %8s %10.1f\n' "summing, 4x the lines" "${seconds[summing_4x]}" "" \
    "$(awk -v k="${memory[summing_4x]}" 'BEGIN{print k/1024}')"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }
vs_datamash=$(ratio "${seconds[datamash]}" "${seconds[summing]}")
vs_awk=$(ratio "${seconds[awk]}" "${seconds[summing]}")
memory_growth=$(ratio "${memory[summing_4x]}" "${memory[summing]}")
verdict() { awk -v v="$1" -v t="$2" 'BEGIN{print (v >= t) ? "met" : "MISSED"}'; }
echo
echo "summing is ${vs_datamash}x datamash's speed (target 3x: $(verdict "$vs_datamash" 3))"
echo "summing is ${vs_awk}x the awk one-liner's speed (target 1x: $(verdict "$vs_awk" 1))"
echo "peak memory with 4x the lines: ${memory_growth}x (constant reader: $(verdict 1.10 "$memory_growth"))"
