#!/usr/bin/env bash
# The main job on a bundled sample: installs and builds everything, writes the
# registry keys of the built-in servers, and runs a short pressmark session.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$PM_ROOT"

pm_install_packages
# Every option stated: a build folder keeps its cached settings, so test.sh
# states its own when it configures the same folder afterwards. The library
# is compiled as test.sh compiles it (warnings as errors included), so the
# test command that follows compiles only the tests.
pm_build build -DPRESSMARK_TESTS=OFF -DPRESSMARK_SANITIZE=OFF -DPRESSMARK_BENCH=OFF -DPRESSMARK_WERROR=ON

./build/pressmark register

pm_install_docs_assets build

# The library, the command and the Python module (for the python3 the build
# found, normally the system's /usr/bin/python3).
pm_log "cmake --install build"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo cmake --install build >/dev/null
$sudo ldconfig
if [ -f build/npm/node_modules/swagger-ui-dist/swagger-ui-bundle.js ]; then
  $sudo mkdir -p /usr/local/share/pressmark
  $sudo rm -rf /usr/local/share/pressmark/swagger-ui-dist
  $sudo cp -r build/npm/node_modules/swagger-ui-dist /usr/local/share/pressmark/
fi
# LibreOffice's shared extension cache must stay readable for every user: an
# office once started under a restrictive umask (077) made it private to its
# user, and every other user's office aborted from then on. The modes are
# given back as LibreOffice makes them (folders 755, files 644).
spool=/var/spool/libreoffice
if [ -d "$spool" ] && [ ! -L "$spool" ]; then
  $sudo find "$spool" -xdev \( -type d ! -perm -0055 -exec chmod go+rx {} + \) -o \( -type f ! -perm -0044 -exec chmod go+r {} + \)
fi
python=$(sed -n 's/^PRESSMARK_PYTHON_EXECUTABLE:INTERNAL=//p' build/CMakeCache.txt)
"${python:-python3}" -c 'import pressmark; print("python: import pressmark from", pressmark.__file__)'
# A python3 ahead of the system's on PATH (pyenv, a virtual environment)
# imports the same package when it is the same Python version.
if command -v python3 >/dev/null && ! python3 -c 'import pressmark' 2>/dev/null; then
  ver='import sys; print("%d.%d" % sys.version_info[:2])'
  if [ -n "$python" ] && [ "$("$python" -c "$ver")" = "$(python3 -c "$ver")" ]; then
    site=$(python3 -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
    pkg=$("$python" -c 'import os, pressmark; print(os.path.dirname(pressmark.__file__))')
    $sudo mkdir -p "$site"
    $sudo ln -sfn "$pkg" "$site/pressmark"
    python3 -c 'import pressmark; print("python3 on PATH: import pressmark from", pressmark.__file__)'
  else
    pm_log "python3 on PATH is another Python version than $python: use that one for import pressmark"
  fi
fi
out=$(mktemp -d "${TMPDIR:-/tmp}/pressmark-sample-XXXXXX")
pm_log "pressmark shell samples/session.calls (output in $out)"
sed "s#@OUT@#$out#g; s#@SAMPLES@#$PM_ROOT/samples#g" samples/session.calls | ./build/pressmark shell

pm_log "pressmark CreatePDFfromWord $out/letter.pdf samples/letter.rtf"
./build/pressmark CreatePDFfromWord "$out/letter.pdf" "$PM_ROOT/samples/letter.rtf" | grep -v '^event LogMessage'
ls -l "$out/letter.pdf"
