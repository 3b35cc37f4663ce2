#!/usr/bin/env bash
# Reading the delivery ledger, against a ledger a fifth its length read in
# the same run. Usage: ledger_bench.sh BUILD_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1/bench/ledger_bench" "$work/Leveranser.log"
