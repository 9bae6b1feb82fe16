#!/usr/bin/env bash
# Installs what the tests need, builds twice (a normal build and one with
# address and undefined-behaviour sanitizers), starts the test services and
# runs every test of the normal build, and in the sanitizer build the tests
# of the areas it builds (see tests/CMakeLists.txt), then packs the normal
# build as the Debian package and checks it. Services are stopped on every
# path; each phase reports how long it took.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$PM_ROOT"

pm_install_packages

export BUILD_DIR="$PM_ROOT/build"
services=()
stop_services() {
  local s
  # The office tests lease offices from this user's shared office service;
  # it ends with the run instead of idling on.
  [ -x "$PM_ROOT/build/pressmark" ] && "$PM_ROOT/build/pressmark" office stop >/dev/null 2>&1 || true
  for s in "${services[@]}"; do "stop_$s" || true; done
}
trap stop_services EXIT

# Every option stated: setup.sh configures build/ without tests, and CMake
# would keep that cached setting.
phase_start=$SECONDS
phase() {
  pm_log "$1 ($((SECONDS - phase_start)) s since the start)"
}
phase "layer and format checks"
# The layers the build enforces through include roots, plus what no include
# root can hide (engine headers, processes started by the component); the
# tree in the house style.
scripts/check-layers.sh
scripts/check-format.sh
# The Python in the house style, the service typed throughout, and the
# operations guide's settings table as the settings class makes it.
# Debian's interpreter, where its flake8, mypy and pydantic live (a python3
# of pyenv or a virtual environment may come first on PATH).
sys_python=/usr/bin/python3
[ -x "$sys_python" ] || sys_python=python3
"$sys_python" -m flake8 python/ tests/service scripts/
(cd python/src && "$sys_python" -m mypy --config-file ../../mypy.ini --strict -p pressmark.service)
"$sys_python" -m mypy --strict scripts/check-sizes.py
"$sys_python" scripts/readme-settings.py --check
# No file over 800 lines or with a chain of ifs over names, no function over
# 120 lines without a comment saying why it is one.
"$sys_python" scripts/check-sizes.py
phase "normal build"
pm_build build -DPRESSMARK_TESTS=ON -DPRESSMARK_SANITIZE=OFF -DPRESSMARK_BENCH=ON -DPRESSMARK_WERROR=ON
pm_install_docs_assets build
phase "sanitizer build"
# The Python module and its tests are left to the normal build, like the
# other areas outside the sanitized set.
pm_build build-asan -DPRESSMARK_TESTS=ON -DPRESSMARK_SANITIZE=ON -DPRESSMARK_BENCH=OFF -DPRESSMARK_PYTHON=OFF -DPRESSMARK_WERROR=ON

for f in scripts/services/*.sh; do
  [ -e "$f" ] || continue
  name=$(basename "$f" .sh)
  source "$f"
  pm_log "starting service $name"
  "start_$name"
  services+=("$name")
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# What the tests leave in the shared temporary folders: the entries there
# (and in this user's private folder) before and after the tests.
tmp_entries() {
  local d
  for d in /tmp "${TMPDIR:-/tmp}" "/tmp/pressmark-$(id -u)" "${TMPDIR:-/tmp}/pressmark-$(id -u)"; do
    if [ -d "$d" ]; then find "$d" -mindepth 1 -maxdepth 1 -printf '%p\n' 2>/dev/null || true; fi
  done | sort -u
}
tmp_before=$(mktemp)
tmp_entries >"$tmp_before"

status=0
phase "tests (normal build)"
tests_start=$SECONDS
# A run that finds no tests is a failure, not a pass.
ctest --test-dir build --output-on-failure --no-tests=error -j2 --timeout 900 || status=1
phase "tests (sanitizer build)"
ctest --test-dir build-asan --output-on-failure --no-tests=error -j2 --timeout 900 || status=1
# Offices, their pipes and profiles, Ghostscript's files and job folders
# must not outlive the tests, also those that kill clients and the service.
phase "leftovers"
"$PM_ROOT/build/pressmark" office stop >/dev/null 2>&1 || true
if "$PM_ROOT/build/pressmark" office status 2>/dev/null | grep -q '^office '; then
  pm_log "an office still runs after the tests"
  status=1
fi
# An office of a test's own pool or bridge runs on a profile in the test's
# temporary folder, which the test removes: only its process shows that it
# outlived its test. Any started since the tests began is reported and ended.
stray=$(ps -eo etimes=,pgid=,args= |
  awk -v t=$((SECONDS - tests_start)) '$1 <= t && /UserInstallation=file:\/\/.*\/pmtest-/ { print $2 }' | sort -u)
if [ -n "$stray" ]; then
  pm_log "offices of test folders still run after the tests (process groups $(echo $stray))"
  for g in $stray; do kill -KILL -- "-$g" 2>/dev/null || true; done
  status=1
fi
left=$(comm -13 "$tmp_before" <(tmp_entries) |
  grep -E '/(OSL_PIPE_|gs_|distill-|office-|profile|lu[0-9A-Za-z]+\.tmp$|job|\.part)' || true)
rm -f "$tmp_before"
if [ -n "$left" ]; then
  pm_log "left behind by the tests:"
  printf '%s\n' "$left" >&2
  status=1
fi
# The Debian package, packed from the normal build (nothing is compiled
# again), read back, unpacked and run.
phase "Debian package"
scripts/package.sh --check --reuse "$PM_ROOT/build" >/dev/null || status=1
phase "done"
exit $status
