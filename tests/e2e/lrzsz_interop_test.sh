#!/usr/bin/env bash
# The receivers against lrzsz's sz in every variant a terminal may use,
# through tools/sender-interop: each file must arrive whole, by the protocol
# the sender spoke, and a ZMODEM transfer cut off must continue where it
# stopped when it is offered again with crash recovery.
#
#   lrzsz_interop_test.sh SENDER_INTEROP
set -euo pipefail

tool=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-interop.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Text with no padding byte at its end, as a terminal's data is, and bytes
# of every value, which ZMODEM must escape where they mean something.
for i in $(seq 1 900); do printf 'A%05d;%d\r\n' "$i" $((i % 97)); done >text.dat
head -c 40000 /dev/urandom >binary.dat
head -c 200000 /dev/urandom >large.dat
printf 'X;1\r\n' >tiny.dat

# deliver PROTOCOL FILE... -- SZ-OPTIONS: one run, each file delivered in
# turn, by PROTOCOL.
deliver() {
    local protocol=$1 files=() options=()
    shift
    while [ "$1" != -- ]; do files+=("$1"); shift; done
    shift
    options=("$@")
    rm -rf out
    timeout 60 "$tool" out -- sz "${options[@]}" "${files[@]}" >log 2>/dev/null ||
        fail "sz ${options[*]}: exit $?: $(cat log)"
    local n=0 file
    for file in "${files[@]}"; do
        n=$((n + 1))
        cmp -s "$file" "out/$n.dat" || fail "sz ${options[*]}: $file arrived otherwise: $(cat log)"
    done
    [ "$(grep -c "^delivered $protocol " log)" -eq "${#files[@]}" ] ||
        fail "sz ${options[*]}: not by $protocol: $(cat log)"
}

deliver zmodem binary.dat -- 
deliver zmodem binary.dat -- -e
deliver zmodem large.dat -- -8
deliver zmodem large.dat -- -w 2048
deliver zmodem text.dat tiny.dat binary.dat --
deliver ymodem text.dat --  --ymodem
deliver ymodem binary.dat tiny.dat -- --ymodem -k
deliver xmodem text.dat -- --xmodem
deliver xmodem text.dat -- --xmodem -k

# Cut off a third of the way: the part stays; offered again with crash
# recovery, the file goes on from there.
rm -rf out
timeout 60 "$tool" out --cut-after 60000 -- sz large.dat >log 2>/dev/null && fail "the cut sender succeeded"
[ -s out/part ] || fail "no part was kept: $(cat log)"
timeout 60 "$tool" out -- sz -r large.dat >log 2>/dev/null || fail "sz -r: exit $?: $(cat log)"
cmp -s large.dat out/1.dat || fail "the resumed file differs: $(cat log)"
from=$(sed -n 's/^delivered zmodem large.dat 200000 from //p' log)
[ "${from:-0}" -ge 60000 ] || fail "not resumed: $(cat log)"
echo "ok: zmodem (plain, -e, -8, -w 2048, a batch, -r from $from of 200000), ymodem (-k), xmodem (-k)"
