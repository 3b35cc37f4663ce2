#!/usr/bin/env bash
# End-to-end tests of vorlund-convert: real directories, real files, export
# files compared byte for byte. Usage: convert_e2e.sh SOURCE_DIR CONVERTER...
# (the converter may be a command with a prefix, such as an emulator).
set -uo pipefail
source_dir=$1
shift
converter=("$@")
here=$source_dir/tests/app/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# new_app NAME [INI]: a fresh application directory with the given settings.
new_app() {
    app=$work/$1
    mkdir -p "$app/Spool"
    [ $# -lt 2 ] || printf '%s' "$2" >"$app/Vorlund.ini"
}

run() {
    run_with "$app"
}

run_with() {
    "${converter[@]}" "$@" >"$work/stdout" 2>"$work/stderr"
    status=$?
    tr -d '\r' <"$work/stdout" >"$work/stdout.txt"
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1 ($(cat "$work/stderr"))"
}

expect_file() {  # FILE EXPECTED_BYTES NAME
    if ! cmp -s "$1" <(printf '%b' "$2"); then
        fail "$3: export differs"
        od -c "$1" | head -20
    fi
}

# The bundled example, summed in code order with ';' as separator.
new_app example
cp -r "$source_dir/examples/app/." "$app"
run
expect_status 0 "example"
exported=$(head -n 1 "$work/stdout.txt")
exported=${exported//\\//}
cmp -s "$app/Out/${exported##*/}" "$here/golden/example-summed.txt" ||
    fail "example: export differs from the golden file"
cmp -s "$app/Spool/X.DAT" "$source_dir/examples/app/Spool/X.DAT" || fail "example: X.DAT changed"

# Listing in arrival order, quoted, TAB-separated, with the lines that used
# to lose data: LF-only line ends, negative fractions, and an export line
# longer than 1,023 bytes.
long_code=$(printf 'L%.0s' $(seq 1 1018))
new_app listing $'Aggregation=0\r\nUseQuotes=1\r\nSeparator=2\r\nOutFile=list.txt\r\n'
printf 'b;1\r\na;-12.5\nc ; -0.5 \r\n\xe5;12.\r\n%s;2\r\nend\r\nz;9\r\n' "$long_code" >"$app/Spool/X.DAT"
run
expect_status 0 "listing"
expect_file "$app/Out/list.txt" \
    "\"B\"\t\"1\"\r\n\"A\"\t\"-12.5\"\r\n\"C\"\t\"-0.5\"\r\n\"\xc5\"\t\"12\"\r\n\"$long_code\"\t\"2\"\r\n" "listing"

# A fixed OutFile is rewritten by every run.
printf 'x;1\r\n' >"$app/Spool/X.DAT"
run
expect_file "$app/Out/list.txt" '"X"\t"1"\r\n' "rewritten OutFile"

# Sums whose text depends on the 80-bit extended format, the same on every
# machine: ones vanish beside 10^20 (a wider format would keep them) but not
# beside 10^16 (a double would lose them), ten tenths less 1 leave the
# format's own rounding error (2^-63), and two of the largest values overflow.
new_app extended $'OutFile=sums.txt\r\nAggregation=1\r\nSeparator=1\r\n'
{
    printf 'A;100000000000000000000\r\nA;1\r\nA;1\r\nA;1\r\nA;-100000000000000000000\r\n'
    printf 'B;10000000000000000\r\nB;1\r\nB;1\r\nB;1\r\nB;-10000000000000000\r\n'
    printf 'C;0.1\r\n%.0s' {1..10}
    printf 'C;-1\r\nD;1e4932\r\nD;1e4932\r\n'
} >"$app/Spool/X.DAT"
run
expect_status 0 "extended sums"
expect_file "$app/Out/sums.txt" 'A;0\r\nB;3\r\nC;1.0842021724855E-19\r\nD;INF\r\n' "extended sums"

# Time-stamped names never replace each other, even within one second.
new_app stamps
printf 'a;1\r\n' >"$app/Spool/X.DAT"
run
run
run
[ "$(ls "$app/Out" | wc -l)" -eq 3 ] || fail "stamps: expected three exports, got $(ls "$app/Out")"

# Results and their messages.
new_app missing
run
expect_status 1 "no X.DAT"
grep -q 'Fel vid skapande av destinationsfil!' "$work/stderr" || fail "no X.DAT: message missing"
[ -z "$(ls "$app/Out")" ] || fail "no X.DAT: an export was created"

new_app uncreatable $'OutFile=missing/x.txt\r\n'
printf 'a;1\r\n' >"$app/Spool/X.DAT"
run
expect_status 50 "uncreatable export"
grep -q 'Fel vid skapande av destinationsfil! (50): .*missing/x.txt: .' "$work/stderr" ||
    fail "uncreatable export: the file and the reason are not named ($(cat "$work/stderr"))"

# The command line: help and version on stdout; anything else is refused
# before any directory is touched.
new_app options
run_with --help
expect_status 0 "--help"
grep -q '^Usage: vorlund-convert \[APPDIR \[FILE\]\]$' "$work/stdout.txt" || fail "--help: no usage"
run_with --version
expect_status 0 "--version"
grep -qE '^vorlund-convert \(Vorlund\) [0-9]+\.[0-9]+\.[0-9]+$' "$work/stdout.txt" ||
    fail "--version: $(cat "$work/stdout.txt")"
for arguments in "--bogus" "-x" "$app $app $app"; do
    # shellcheck disable=SC2086
    run_with $arguments
    expect_status 64 "arguments '$arguments'"
    [ ! -s "$work/stdout" ] || fail "arguments '$arguments': output on stdout"
done
[ -z "$(ls -A "$app/Spool")" ] && [ ! -e "$app/Out" ] || fail "a refused command line made something"

# A kept delivery is converted from where it lies; X.DAT is not touched.
new_app kept
mkdir "$app/Spool/Okonverterade"
printf 'k;2\r\nk;3\r\n' >"$app/Spool/Okonverterade/20261208-141503-50.DAT"
run_with "$app" "$app/Spool/Okonverterade/20261208-141503-50.DAT"
expect_status 0 "kept delivery"
exported=$(head -n 1 "$work/stdout.txt")
exported=${exported//\\//}
expect_file "$app/Out/${exported##*/}" 'K,5\r\n' "kept delivery"
[ ! -e "$app/Spool/X.DAT" ] || fail "kept delivery: X.DAT was made"

new_app spoolfile
rmdir "$app/Spool"
touch "$app/Spool"
run
expect_status 101 "Spool is a file"

new_app deep "OutDir=$work/nowhere/deeper"
run
expect_status 102 "OutDir two levels deep"

if [ "${VORLUND_NATIVE:-1}" = 1 ]; then
    # Messages reach a Linux terminal in UTF-8.
    new_app spoolfile-text
    rmdir "$app/Spool"
    touch "$app/Spool"
    run
    grep -q 'Mapp för temporära filer kunde ej skapas. Applikationen avslutas' "$work/stderr" ||
        fail "Spool is a file: message missing or not UTF-8"

    # X.DAT held by another process: result 2, nothing created.
    new_app locked
    printf 'a;1\r\n' >"$app/Spool/X.DAT"
    flock "$app/Spool/X.DAT" sleep 3 &
    holder=$!
    sleep 0.3
    run
    expect_status 2 "locked X.DAT"
    [ -z "$(ls -A "$app/Out")" ] || fail "locked X.DAT: something was created"
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
fi

if [ "$failures" -eq 0 ]; then
    echo "vorlund-convert end to end: all cases passed"
fi
exit $((failures > 0))
