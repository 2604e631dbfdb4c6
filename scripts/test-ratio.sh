#!/usr/bin/env bash
# Size of the tests against the code they test: non-blank lines of the
# tracked .cpp and .h files in tests/ over those outside tests/ and bench/,
# overall and per top-level folder (tests/<folder> against <folder>).
#
#   bash scripts/test-ratio.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files -- '*.cpp' '*.h' | awk '
  {
    f = $0; n = 0
    while ((getline line < f) > 0) if (line ~ /[^ \t\r]/) n++
    close(f)
    split(f, p, "/")
    if (p[1] == "bench") next
    if (p[1] == "tests") { tests += n; t[p[3] == "" ? "(tests)" : p[2]] += n }
    else { code += n; c[p[1]] += n }
  }
  END {
    for (k in c) keys[k] = 1
    for (k in t) keys[k] = 1
    for (k in keys)
      printf "%-12s %8d %8d %8s\n", k, t[k], c[k], c[k] ? sprintf("%.3f", t[k] / c[k]) : "-" | "sort"
    close("sort")
    printf "%-12s %8d %8d %8.4f\n", "all", tests, code, tests / code
  }' | { printf '%-12s %8s %8s %8s\n' folder tests code ratio; cat; }
