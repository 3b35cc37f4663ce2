# What the line-speed benchmarks share, sourced by them: a delivery of
# KBYTES, a line paced at BAUD by tools/faulty-line, sz timed across it, and
# rz's time on that line as the reference. Expects build, work, baud,
# kbytes and runs to be set; sets bytes, line_pid and reference.

# A terminal's delivery: lines of article code and quantity.
i=0
while [ "$(stat -c %s "$work/delivery.dat" 2>/dev/null || echo 0)" -lt $((kbytes * 1000)) ]; do
    for j in $(seq 1 200); do i=$((i + 1)); printf 'A%07d;%d\r\n' "$i" $((i % 97 + 1)); done >>"$work/delivery.dat"
done
bytes=$(stat -c %s "$work/delivery.dat")
line_pid=

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
# Milliseconds from the sender's start to its end.
timed_send() {
    local start end
    start=$(date +%s%N)
    timeout 120 sz "$@" "$work/delivery.dat" <"$work/terminal" >"$work/terminal" 2>/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
report() {
    awk -v name="$1" -v ms="$2" -v bytes="$bytes" -v baud="$baud" -v ref="$3" 'BEGIN {
        share = bytes / (baud / 10) / (ms / 1000) * 100
        printf "%-34s %6.2f s  %5.1f %% of the line", name, ms / 1000, share
        if (ref > 0) printf "  (%.2f x rz'"'"'s time)", ms / ref
        printf "\n" }'
}
# rz's median time on the line, the reference of every figure after it.
measure_reference() {
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
}
