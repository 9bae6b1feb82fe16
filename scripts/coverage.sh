#!/usr/bin/env bash
# Line coverage of src/ by the whole test suite: builds in build-coverage
# with gcc's --coverage (no optimisation, so every line maps to code), starts
# the test services as test.sh does, runs every test once and prints gcovr's
# per-file report. Extra arguments go to ctest (e.g. -L servers/pdf).
# Services and this user's office service are stopped on every path.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$PM_ROOT"

pm_install_packages

dir="$PM_ROOT/build-coverage"
export BUILD_DIR="$dir"
services=()
stop_services() {
  local s
  [ -x "$dir/pressmark" ] && "$dir/pressmark" office stop >/dev/null 2>&1 || true
  for s in "${services[@]}"; do "stop_$s" || true; done
}
trap stop_services EXIT

pm_log "coverage build"
# Absolute source names in the notes files: a compiler cache that rewrites
# paths relative to a base folder would otherwise leave gcov unable to find
# the sources of some objects, and their lines would silently drop out.
# A notes file also records the folder it was compiled in, so a cached
# object may only come from a compile in the same folder: one from another
# checkout names sources gcov cannot find, and whole servers went missing.
unset CCACHE_NOHASHDIR
export CCACHE_HASHDIR=true
pm_build "$dir" -DCMAKE_BUILD_TYPE=Debug -DPRESSMARK_TESTS=ON -DPRESSMARK_SANITIZE=OFF -DPRESSMARK_BENCH=OFF \
  "-DCMAKE_C_FLAGS=--coverage -fprofile-abs-path" "-DCMAKE_CXX_FLAGS=--coverage -fprofile-abs-path" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage
# The service's /docs page is served from these; without them its tests
# fail here although the test command passes.
pm_install_docs_assets "$dir"

for f in scripts/services/*.sh; do
  [ -e "$f" ] || continue
  name=$(basename "$f" .sh)
  source "$f"
  pm_log "starting service $name"
  "start_$name"
  services+=("$name")
done

# Counters of an earlier run would be added to this one.
find "$dir" -name '*.gcda' -delete
pm_log "tests (coverage build)"
status=0
ctest --test-dir "$dir" --no-tests=error -j"$(nproc)" --timeout 1800 "$@" || status=1

pm_log "line coverage of src/"
# Headers count where their inline code runs; the test programs do not.
gcovr --root "$PM_ROOT" --filter "$PM_ROOT/src/" --object-directory "$dir" \
  --gcov-ignore-parse-errors --print-summary --sort-percentage \
  -o "$dir/coverage.txt" "$dir"
cat "$dir/coverage.txt"
exit $status
