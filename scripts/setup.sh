#!/usr/bin/env bash
# The main job on a bundled sample: installs and builds everything, writes the
# registry keys of the built-in servers, and runs a short pressmark session.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$PM_ROOT"

pm_install_packages
pm_build build -DPRESSMARK_TESTS=OFF -DPRESSMARK_BENCH=OFF

./build/pressmark register

# The library, the command and the Python module (for the python3 the build
# found, normally the system's /usr/bin/python3).
pm_log "cmake --install build"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo cmake --install build >/dev/null
$sudo ldconfig
python=$(sed -n 's/^PRESSMARK_PYTHON_EXECUTABLE:INTERNAL=//p' build/CMakeCache.txt)
"${python:-python3}" -c 'import pressmark; print("python: import pressmark from", pressmark.__file__)'
out=$(mktemp -d "${TMPDIR:-/tmp}/pressmark-sample-XXXXXX")
pm_log "pressmark shell samples/session.calls (output in $out)"
sed "s#@OUT@#$out#g; s#@SAMPLES@#$PM_ROOT/samples#g" samples/session.calls | ./build/pressmark shell

pm_log "pressmark CreatePDFfromWord $out/letter.pdf samples/letter.rtf"
./build/pressmark CreatePDFfromWord "$out/letter.pdf" "$PM_ROOT/samples/letter.rtf" | grep -v '^event LogMessage'
ls -l "$out/letter.pdf"
