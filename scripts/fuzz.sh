#!/usr/bin/env bash
# Every fuzz target, the game's configurations, saves and modes included, for
# a longer bounded time than CI gives them (default 60 s each); as in CI,
# an input slower than HELM_FUZZ_TIMEOUT seconds (default 5) is a finding.
#   bash scripts/fuzz.sh [seconds per target] [build folder]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
HELM_FUZZ_GAME=1 exec bash "$root/tests/fuzz/run.sh" "${1:-60}" "${2:-$root/build-fuzz}"
