# The installed package at a site with several cradles, sourced by
# debian_package_test.sh for the build machine's own package, in its
# throwaway root: two instances of the template side by side, each on its
# own line with its own settings and directory; the refusals of a second
# vorlund on one directory and of lines that other programs hold; and the
# README's network serial line, over the loopback interface.

# Ends background processes of the test at once, quietly.
stop_now() {
    kill -KILL "$@" 2>/dev/null
    wait "$@" 2>/dev/null
}

# Starts a service in $work/third on LINE (third_pid) and waits until its
# messages, in STDERR, name HOLDER as the program that has the line.
start_on_held_line() {
    local line=$1 holder=$2 stderr=$3
    local held='<3>Kunde inte öppna COM-port. Kontrollera att ingen annan applikation använder porten.'
    printf 'SerialDevice=%s\n' "$line" >"$work/third/Vorlund.ini"
    "$root/usr/bin/vorlund" "$work/third" 2>"$stderr" &
    third_pid=$!
    background_pids+=("$third_pid")
    # A holder started by a service manager is named with its unit.
    wait_for 5 grep -qE "^$held: $line: held by another program \($holder(, [^)]*\.service)?\)\$" "$stderr"
}

# Two instances, as "systemctl enable --now vorlund@cradle1 vorlund@cradle2"
# starts them: each from /etc/vorlund/NAME.ini, in /var/lib/vorlund/NAME.
grep -qx 'AssertPathExists=/etc/vorlund/%i.ini' "$template" ||
    fail "an instance without its settings would start on the defaults"
printf 'A1;1\r\nA1;2\r\n' >"$work/first.dat"
printf 'B2;5\r\n' >"$work/second.dat"
for cradle in cradle1 cradle2; do
    start_pty_pair "$work/$cradle.line" "$work/$cradle.terminal" || fail "no pseudo-terminal pair"
    { cat "$work/Vorlund.ini.packaged"; printf 'SerialDevice=%s\n' "$work/$cradle.line"; } \
        >"$root/etc/vorlund/$cradle.ini"
    start_service "$cradle" "$template" "$cradle"
done
deliver "$work/cradle1.terminal" "$work/first.dat"
deliver "$work/cradle2.terminal" "$work/second.dat"
for cradle in cradle1 cradle2; do
    dir=$root/var/lib/vorlund/$cradle
    wait_for 10 has_export "$dir/Out" || fail "$cradle: no export"
    [ "$(readlink "$dir/Vorlund.ini")" = "$root/etc/vorlund/$cradle.ini" ] ||
        fail "$cradle: its settings are not linked into its directory"
    [ "$(stat -c %a "$dir/Out")" = 2775 ] || fail "$cradle: Out is not shared with the group"
done
[ "$(cat "$(exports_of "$root/var/lib/vorlund/cradle1/Out")")" = "$(printf 'A1,3\r')" ] &&
    [ "$(cat "$(exports_of "$root/var/lib/vorlund/cradle2/Out")")" = "$(printf 'B2,5\r')" ] ||
    fail "the instances' exports are mixed up"
cmp -s "$work/second.dat" "$root/var/lib/vorlund/cradle2/Spool/X.DAT" || fail "cradle2: X.DAT"

# A second vorlund on cradle1's directory ends at once and says who works
# there.
timeout 5 "$root/usr/bin/vorlund" "$root/var/lib/vorlund/cradle1" 2>"$work/second-copy.stderr"
status=$?
[ "$status" = 4 ] || fail "a second copy on one directory: exit status $status"
grep -qxE "<3>Vorlund körs redan\.: $root/var/lib/vorlund/cradle1 \(vorlund, pid $cradle1_pid(, [^)]*\.service)?\)" "$work/second-copy.stderr" ||
    fail "a second copy on one directory: $(cat "$work/second-copy.stderr")"
timeout 5 "$root/usr/bin/vorlund-convert" "$root/var/lib/vorlund/cradle1" 2>/dev/null
status=$?
[ "$status" = 104 ] || fail "vorlund-convert beside the service: exit status $status"
# What waits, and the settings as a start uses them, beside the service.
[ -z "$("$root/usr/bin/vorlund-convert" --pending "$root/var/lib/vorlund/cradle1")" ] ||
    fail "something waits in cradle1"
"$root/usr/bin/vorlund" --check "$root/var/lib/vorlund/cradle1" >"$work/check.out" ||
    fail "vorlund --check of a usable directory: $(cat "$work/check.out")"
grep -qx "Line:     $work/cradle1.line, 115200 bit/s (BaudRate=5), protocol auto" "$work/check.out" ||
    fail "vorlund --check does not name the line: $(cat "$work/check.out")"
mkdir -p "$work/nowhere"
printf 'SerialDevice=%s\n' "$work/no-such-line" >"$work/nowhere/Vorlund.ini"
! "$root/usr/bin/vorlund" --check "$work/nowhere" >"$work/check.out" &&
    grep -qx "error: the line cannot be used: $work/no-such-line: No such file or directory" "$work/check.out" &&
    [ ! -e "$work/nowhere/Spool" ] ||
    fail "vorlund --check of a line that is not there: $(cat "$work/check.out")"

# A third service given cradle2's line by mistake reports the other vorlund,
# and keeps trying.
mkdir -p "$work/third"
start_on_held_line "$work/cradle2.line" "vorlund, pid $cradle2_pid" "$work/third.stderr" ||
    fail "a line held by another vorlund"
stop_now "$third_pid"

# Lines that Debian's serial programs hold: picocom by its flock(2) lock,
# minicom by its lock file, here one naming a process that lives. Once
# picocom lets go, the service opens the line.
start_pty_pair "$work/picocom.line" "$work/picocom.terminal" || fail "no pseudo-terminal pair"
# picocom waits for its keyboard: a pipe that nobody writes to. It gets a
# session of its own: told to end, it passes the signal on to its whole
# process group.
mkfifo "$work/keyboard"
exec 7<>"$work/keyboard"
setsid picocom -q "$work/picocom.line" <"$work/keyboard" >/dev/null 2>&1 &
picocom_pid=$!
background_pids+=("$picocom_pid")
wait_for 5 grep -q "FLOCK.* $picocom_pid " /proc/locks || fail "picocom did not lock its line"
start_on_held_line "$work/picocom.line" "picocom, pid $picocom_pid" "$work/picocom.stderr" ||
    fail "a line held by picocom"
kill -TERM "$picocom_pid"
wait_for 5 grep -q '^<6>COM-port öppnad igen: ' "$work/picocom.stderr" ||
    fail "the line was not taken once picocom let go"
stop_now "$third_pid"
exec 7>&-

minicom_line=$work/ttyM$$
start_pty_pair "$minicom_line" "$work/minicom.terminal" || fail "no pseudo-terminal pair"
sleep 60 &
holder_pid=$!
background_pids+=("$holder_pid")
lock_files+=("/run/lock/LCK..ttyM$$")
printf '%10d\n' "$holder_pid" >"/run/lock/LCK..ttyM$$"
start_on_held_line "$minicom_line" "sleep, pid $holder_pid" "$work/minicom.stderr" ||
    fail "a line held by a lock file"
stop_now "$third_pid" "$holder_pid"

# The network cradle's line of the package's template, its instance the
# loopback interface and a port of this test's. The serial server stand-in
# hands the connection to the terminal's end of another pseudo-terminal.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
socat "tcp-listen:$port,bind=127.0.0.1,reuseaddr" "pty,raw,echo=0,link=$work/net.terminal" &
background_pids+=($!)
recipe=$(sed -n 's/^ExecStart=//p' "$root/lib/systemd/system/vorlund-net@.service")
[[ $recipe == *' tcp:%i,'* && $recipe == *'link=/run/vorlund-net/%i/tty,'* ]] ||
    fail "the network line's template is not the one tested: $recipe"
recipe=${recipe//\/run\/vorlund-net\/%i\/tty/$work/ttyNET0}
recipe=${recipe//%i/127.0.0.1:$port}
listening() { grep -qi ":$(printf '%04X' "$port") 00000000:0000 0A" /proc/net/tcp; }
wait_for 5 listening || fail "the serial server stand-in does not listen"
# shellcheck disable=SC2086
$recipe &
background_pids+=($!)
wait_for 5 test -e "$work/ttyNET0" -a -e "$work/net.terminal" || fail "no network line"
printf 'SerialDevice=%s\n' "$work/ttyNET0" >"$work/third/Vorlund.ini"
"$root/usr/bin/vorlund" "$work/third" 2>"$work/network.stderr" &
third_pid=$!
background_pids+=("$third_pid")
deliver "$work/net.terminal" "$work/first.dat"
wait_for 10 has_export "$work/third/Out" || fail "no export over the network line"
[ "$(cat "$(exports_of "$work/third/Out")")" = "$(printf 'A1,3\r')" ] ||
    fail "the export over the network line"
stop_now "$third_pid"
