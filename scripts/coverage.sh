#!/usr/bin/env bash
# Line and branch coverage of the whole suite, per library.
#
#   bash scripts/coverage.sh [BUILD_DIR]      (default: build-cov)
#   COVERAGE_LABEL=gfx_tests bash scripts/coverage.sh ...   only one test executable's cases
#
# A coverage build (gcc --coverage, no optimisation), every test of ctest,
# then gcovr (from Debian) over the sources outside tests/ and bench/,
# summed per library folder and printed as a table. Not run by CI: it takes
# a full build and the whole suite on top of the two CI builds. The table is
# also written to BUILD_DIR/coverage.txt; BUILD_DIR/coverage.json holds the
# per-file figures.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-cov}
jobs=${COVERAGE_JOBS:-$(nproc)}
bash "$root/scripts/install-deps.sh"
if ! command -v gcovr >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then apt-get install -y -qq gcovr >/dev/null; else sudo apt-get install -y -qq gcovr >/dev/null; fi
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHELM_BENCH=OFF -DHELM_ASSERTS=OFF -DHELM_TEST_TIME_SCALE=6 \
  -DCMAKE_C_FLAGS_DEBUG="-O0 -g --coverage -fprofile-update=atomic" -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g --coverage -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$jobs"
find "$build" -name '*.gcda' -delete

export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
# Unoptimised code is slow: every time limit is stretched (HELM_TEST_TIME_SCALE).
ctest --test-dir "$build" -j "$jobs" ${COVERAGE_LABEL:+-L "^$COVERAGE_LABEL\$"} --output-on-failure || echo "(some tests failed; coverage is of what ran)" >&2

gcovr --root "$root" --object-directory "$build" --gcov-ignore-parse-errors \
  --exclude "$root/tests/" --exclude "$root/bench/" --exclude "$build/" \
  --exclude-unreachable-branches --exclude-throw-branches \
  -j "$jobs" --json "$build/coverage.json" >/dev/null

python3 - "$build/coverage.json" "$build/coverage.txt" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
# One row per library folder (the README's layer table).
units = ["common", "platform/win32", "platform/direct3d", "platform/dsound", "platform/dinput",
         "platform/dshow", "app", "gfx", "physics", "engine", "game", "frontend", "tools", "helm"]
def unit_of(path):
    for u in sorted(units, key=len, reverse=True):
        if path == u or path.startswith(u + "/"):
            return u
    return None
sums = {u: [0, 0, 0, 0] for u in units}
for f in data["files"]:
    u = unit_of(f["file"])
    if u is None:
        continue
    s = sums[u]
    for line in f["lines"]:
        if line.get("gcovr/noncode"):
            continue
        s[1] += 1
        s[0] += 1 if line["count"] > 0 else 0
        for b in line.get("branches", []):
            s[3] += 1
            s[2] += 1 if b["count"] > 0 else 0
out = ["| library | lines | line % | branches | branch % |", "|---|---:|---:|---:|---:|"]
tot = [0, 0, 0, 0]
for u in units:
    lh, lt, bh, bt = sums[u]
    if lt == 0:
        continue
    tot = [a + b for a, b in zip(tot, sums[u])]
    out.append(f"| {u} | {lt} | {100.0*lh/lt:.1f} | {bt} | {100.0*bh/bt if bt else 0:.1f} |")
lh, lt, bh, bt = tot
out.append(f"| all | {lt} | {100.0*lh/lt:.1f} | {bt} | {100.0*bh/bt if bt else 0:.1f} |")
text = "\n".join(out)
print(text)
open(sys.argv[2], "w").write(text + "\n")
PY
