#!/usr/bin/env bash
# The software extended type's cost against the hardware's, on the
# conversion's arithmetic. Usage: extended_bench.sh BUILD_DIR
set -euo pipefail
"$1/bench/extended_bench"
