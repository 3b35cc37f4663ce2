# Helpers of the shell tests that run the Linux service end to end: waiting,
# a pseudo-terminal pair as the serial line, a stand-in for systemd's
# notification socket, and the README's recipes. Sourced; the helpers'
# background processes are in `background_pids`, which stop_background ends.

background_pids=()

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local limit=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        [ "$(now_ms)" -lt "$limit" ] || return 1
        sleep 0.05
    done
}

# A pseudo-terminal pair from socat: the service's end at $1, the terminal's
# at $2.
start_pty_pair() {
    socat "pty,raw,echo=0,link=$1" "pty,raw,echo=0,link=$2" &
    background_pids+=($!)
    wait_for 5 test -e "$1" -a -e "$2"
}

# Receives what the service tells a service manager at the socket $1, as
# systemd would at $NOTIFY_SOCKET, one message a line into $2.
start_notify_listener() {
    python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "ab", 0) as log:
    while True:
        log.write(s.recv(65536) + b"\n")
' "$1" "$2" &
    background_pids+=($!)
    wait_for 5 test -S "$1"
}

# The README's indented block whose first line starts with $2 ($1: the
# README), unindented: the recipes the tests run as the README gives them.
readme_block() {
    awk -v first="$2" '
        index($0, "    " first) == 1 { taking = 1 }
        taking && !/^    / && !/^$/ { exit }
        taking { sub(/^    /, ""); print }' "$1"
}

stop_background() {
    local pid
    for pid in "${background_pids[@]}" "$@"; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
