#!/usr/bin/env bash
# Builds the Debian package of the whole project with CPack:
#   scripts/package.sh [--check] [--reuse] [BUILD_DIR]   (default build-deb; prints the .deb's path)
# --check then reads the package back (dpkg-deb --info, --contents), unpacks
# it (dpkg -x), verifies its systemd units (systemd-analyze verify) and
# converts the bundled sample with the unpacked files.
# --reuse packs an existing build tree (the test command's, say) as it is
# configured, setting only where things install, so nothing is compiled again:
# the test programs and benchmarks have no install rules.
# The Depends: line is made here from what the built files need: the
# packages that hold every library they load (ldd, dpkg -S), and the programs
# and data the component runs or reads (listed below).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$PM_ROOT"

check=0 reuse=0
while [ $# -gt 0 ]; do
  case $1 in
    --check) check=1; shift ;;
    --reuse) reuse=1; shift ;;
    *) break ;;
  esac
done
dir=${1:-$PM_ROOT/build-deb}
pm_log "package build in $dir"
install_options=(-DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib -DPRESSMARK_PYTHON_DIR=/usr/lib/python3/dist-packages)
if [ "$reuse" = 1 ]; then
  [ -f "$dir/CMakeCache.txt" ] || { echo "package.sh: $dir is not a build tree" >&2; exit 1; }
  # A sanitized library or one built for another interpreter is not what a
  # package may carry.
  grep -q '^PRESSMARK_SANITIZE:BOOL=OFF$' "$dir/CMakeCache.txt" || { echo "package.sh: $dir is sanitized" >&2; exit 1; }
  grep -q '^PRESSMARK_PYTHON:BOOL=ON$' "$dir/CMakeCache.txt" || { echo "package.sh: $dir has no Python module" >&2; exit 1; }
  # Twice: GNUInstallDirs takes a libdir equal to the default of the previous
  # prefix for its own and moves it to the multiarch folder of /usr; only
  # once the prefix is /usr does it keep the one given.
  cmake -S "$PM_ROOT" -B "$dir" "${install_options[@]}" >/dev/null
  cmake -S "$PM_ROOT" -B "$dir" "${install_options[@]}" >/dev/null
else
  cmake -S "$PM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPRESSMARK_TESTS=OFF -DPRESSMARK_BENCH=OFF -DPRESSMARK_SANITIZE=OFF -DPRESSMARK_PYTHON=ON \
    "${install_options[@]}" -DPython_EXECUTABLE=/usr/bin/python3 >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"

stage=$(mktemp -d "${TMPDIR:-/tmp}/pressmark-deb-XXXXXX")
unpacked=
cleanup() {
  rm -rf "$stage"
  if [ -n "$unpacked" ]; then
    # The unpacked command's office service ends with the check.
    LD_LIBRARY_PATH=$unpacked/usr/lib "$unpacked/usr/bin/pressmark" office stop >/dev/null 2>&1 || true
    rm -rf "$unpacked"
  fi
}
trap cleanup EXIT
DESTDIR=$stage cmake --install "$dir" >/dev/null

# The package of one library file; /lib and /usr/lib are one folder on a
# merged /usr, but dpkg knows each file under the name its package used.
package_of() {
  local f=$1 p name
  for p in "$f" "$(readlink -f "$f")" "${f#/usr}" "/usr$f"; do
    name=$(dpkg-query -S "$p" 2>/dev/null | sed -n '1{s/: .*//;s/,.*//;s/:.*//;p}')
    [ -n "$name" ] && { echo "$name"; return 0; }
  done
  return 1
}

# Only the libraries a file names itself (NEEDED); theirs are their
# packages' business.
libs=$(find "$stage" -type f | while read -r f; do
  [ "$(head -c4 "$f" | od -An -c | tr -d ' ')" = "177ELF" ] || continue
  needed=$(objdump -p "$f" | awk '$1 == "NEEDED" {print $2}')
  LD_LIBRARY_PATH=$stage/usr/lib ldd "$f" 2>/dev/null | awk '$2 == "=>" && $3 ~ /^\// {print $1, $3}' |
    while read -r name path; do grep -qxF -- "$name" <<<"$needed" && echo "$path"; done
done | grep -v "^$stage" | sort -u)
lib_packages=()
for f in $libs; do
  p=$(package_of "$f") || { echo "package.sh: no Debian package holds $f" >&2; exit 1; }
  lib_packages+=("$p")
done

# Run at run time, not linked: the office programs (without a GUI toolkit),
# Ghostscript, poppler's pdftops, qpdf for linearizing, the SQLite ODBC
# driver, libcups, libcurl and OpenSSL's libcrypto (loaded when first used), one spelling
# dictionary, the fonts the conversions embed (Noto CJK also stands in for
# CJK fonts a PDF names but does not embed), and the interpreter the
# Python module is built for; adduser makes the service units' account.
pyver=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
pynext=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % (sys.version_info[0], sys.version_info[1] + 1))')
programs=(
  "libreoffice-core-nogui | libreoffice-core"
  "libreoffice-writer-nogui | libreoffice-writer"
  "libreoffice-calc-nogui | libreoffice-calc"
  "libreoffice-impress-nogui | libreoffice-impress"
  "libreoffice-draw-nogui | libreoffice-draw"
  ghostscript poppler-utils qpdf libsqliteodbc libcups2 libcurl4 libssl3
  "hunspell-en-us | hunspell-dictionary"
  fonts-dejavu-core fonts-liberation2 fonts-noto-cjk
  adduser
  "python3 (>= $pyver)" "python3 (<< $pynext)"
)
depends=$( { printf '%s\n' "${lib_packages[@]}" | sort -u; printf '%s\n' "${programs[@]}"; } | paste -sd, | sed 's/,/, /g')
# Reading aloud (espeak-ng), a local print server, OCR (OCRmyPDF with
# Tesseract's English data) and the service's web-page routes (Chromium) are
# used when present.
recommends="espeak-ng, cups, ocrmypdf, tesseract-ocr-eng, chromium"
# The HTTP service run by `pressmark serve` needs its Python packages (not
# the HTTP client and the browser driver its tests use).
if [ -f scripts/packages/service.txt ]; then
  extra=$(sed 's/#.*//' scripts/packages/service.txt | awk 'NF && /^python3-/ && $1 != "python3-httpx" && $1 != "python3-selenium" {print $1}' | paste -sd, | sed 's/,/, /g')
  [ -z "$extra" ] || recommends="$recommends, $extra"
fi
pm_log "Depends: $depends"

(cd "$dir" && cpack -G DEB -D "CPACK_DEBIAN_PACKAGE_DEPENDS=$depends" \
  -D "CPACK_DEBIAN_PACKAGE_RECOMMENDS=$recommends" >/dev/null)
deb=$(ls -t "$dir"/pressmark_*.deb | head -1)
pm_log "package: $deb"

if [ "$check" = 1 ]; then
  fail() { echo "package check: $*" >&2; exit 1; }
  info=$(dpkg-deb --info "$deb")
  for want in "Package: pressmark" "Version: $(sed -n 's/^project(Pressmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
              "Architecture: $(dpkg --print-architecture)" "License: AGPL-3.0-or-later" \
              libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui libreoffice-draw-nogui \
              ghostscript poppler-utils qpdf libsqliteodbc libodbc2 libcups2 libssl3 libcurl4 libhunspell \
              hunspell-en-us fonts-dejavu-core adduser "python3 (>=" postinst prerm postrm conffiles; do
    grep -qF -- "$want" <<<"$info" || fail "dpkg-deb --info lacks $want"
  done
  # Nothing a test build or another machine would add.
  deps=$(sed -n 's/^ Depends: //p' <<<"$info")
  grep -Eq '(^|, )(libgtest|googletest|libbenchmark|[a-z0-9.+-]*-dev)( |,|$)' <<<"$deps" && fail "Depends names build packages: $deps"
  # MuPDF, most of the package, is in it once (the PDF engine's library).
  size=$(stat -c %s "$deb")
  [ "$size" -lt $((30 * 1024 * 1024)) ] || fail "the package has $size bytes, more than 30 MiB"
  contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
  for want in ./usr/bin/pressmark ./usr/lib/libpressmark.so.1 ./usr/include/pressmark/pressmark.h \
              ./usr/lib/pressmark-servers/pdf.so ./usr/lib/pressmark-servers/distiller.so \
              ./usr/lib/pressmark-servers/data.so ./usr/lib/pressmark-servers/office.so \
              ./usr/lib/pressmark-servers/libpressmark-pdfengine.so \
              ./usr/lib/pkgconfig/pressmark.pc ./usr/lib/python3/dist-packages/pressmark/__init__.py \
              ./usr/lib/python3/dist-packages/pressmark/__init__.pyi ./usr/lib/python3/dist-packages/pressmark/py.typed \
              ./usr/lib/python3/dist-packages/pressmark/_version.py ./usr/share/doc/pressmark/README.md \
              ./usr/share/doc/pressmark/docs/operations.md ./usr/share/doc/pressmark/copyright ./lib/systemd/system/pressmark.service \
              ./lib/systemd/system/pressmark-worker.service ./etc/pressmark/service.conf; do
    grep -qxF -- "$want" <<<"$contents" || fail "dpkg-deb --contents lacks $want"
  done
  if [ -f LICENSE ]; then grep -qxF ./usr/share/doc/pressmark/LICENSE <<<"$contents" || fail "no LICENSE"; fi
  grep -q '^./usr/lib/python3/dist-packages/pressmark/_pressmark\..*\.so$' <<<"$contents" || fail "no extension module"
  grep -q '^./usr/local\|/build\|__pycache__' <<<"$contents" && fail "stray files: $(grep '^./usr/local\|/build\|__pycache__' <<<"$contents" | head -3)"
  # The API and nothing else: the headers of include/pressmark, at most 400
  # exported symbols, and no symbol of the release's API gone or changed
  # (read from the installed library before packing stripped it).
  headers=$(grep '^./usr/include/.*[^/]$' <<<"$contents" | sort)
  [ "$headers" = "$(cd include && find pressmark -type f | sed 's|^|./usr/include/|' | sort)" ] ||
    fail "the installed headers are not include/pressmark's: $(paste -sd' ' <<<"$headers")"
  exported=$(nm -D --defined-only "$stage/usr/lib/libpressmark.so.1" | wc -l)
  [ "$exported" -le 400 ] || fail "libpressmark exports $exported symbols (at most 400)"
  scripts/abi.sh check "$stage/usr/lib/libpressmark.so.1" || fail "libpressmark's ABI is not the release's"

  unpacked=$(mktemp -d "${TMPDIR:-/tmp}/pressmark-unpacked-XXXXXX")
  dpkg -x "$deb" "$unpacked"
  # MuPDF is the PDF engine library's alone: the modules that use it carry none.
  for m in pdf office; do
    size=$(stat -c %s "$unpacked/usr/lib/pressmark-servers/$m.so")
    [ "$size" -lt $((15 * 1024 * 1024)) ] || fail "$m.so has $size bytes: it carries an engine of its own"
  done
  [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/pressmark/service.conf ] ||
    fail "service.conf is not the package's conffile"
  # The units as shipped, but naming the unpacked command (systemd-analyze
  # checks that it can be run); any finding, a warning too, fails.
  units=$unpacked/units
  mkdir -p "$units"
  for unit in pressmark.service pressmark-worker.service; do
    file=$unpacked/lib/systemd/system/$unit
    for want in User=pressmark StateDirectory=pressmark EnvironmentFile=/etc/pressmark/service.conf \
                NoNewPrivileges=yes ProtectSystem=strict ProtectHome=yes PrivateTmp=yes \
                RestrictAddressFamilies= LimitNOFILE= MemoryMax= KillMode=mixed; do
      grep -q "^$want" "$file" || fail "$unit lacks $want"
    done
    sed "s|/usr/bin/pressmark|$unpacked/usr/bin/pressmark|" "$file" >"$units/$unit"
  done
  findings=$(systemd-analyze verify "$units"/*.service 2>&1) || fail "systemd-analyze verify: $findings"
  [ -z "$findings" ] || fail "systemd-analyze verify: $findings"
  out=$unpacked/out
  mkdir -p "$out"
  export PRESSMARK_REGISTRY=$out/registry LD_LIBRARY_PATH=$unpacked/usr/lib
  export PYTHONPATH=$unpacked/usr/lib/python3/dist-packages
  "$unpacked/usr/bin/pressmark" register >/dev/null
  pm_log "unpacked: pressmark CreatePDFfromWord letter.pdf samples/letter.rtf"
  "$unpacked/usr/bin/pressmark" CreatePDFfromWord "$out/letter.pdf" "$PM_ROOT/samples/letter.rtf" | grep -v '^event LogMessage' >&2
  pdftotext "$out/letter.pdf" - | grep -q "A letter from Pressmark" || fail "the unpacked command made no readable letter.pdf"
  # The README's C++ example, built against the unpacked package alone
  # (its pkg-config file) and run.
  awk '/^## For C\+\+ clients/ {s = 1} s && /^```cpp/ {c = 1; next} c && /^```/ {exit} c' README.md >"$out/example.txt"
  [ -s "$out/example.txt" ] || fail "the README has no C++ example"
  { grep '^#include' "$out/example.txt"; echo 'int main() {'; grep -v '^#include' "$out/example.txt"; echo '}'; } >"$out/example.cpp"
  g++ -o "$out/example" "$out/example.cpp" $(PKG_CONFIG_LIBDIR=$unpacked/usr/lib/pkgconfig pkg-config --cflags --libs pressmark) ||
    fail "the README's C++ example does not build against the package"
  "$out/example" || fail "the README's C++ example failed"
  printf '%%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (From Python) show showpage\n' >"$out/in.ps"
  /usr/bin/python3 -c 'import sys, pressmark
assert pressmark.__file__.startswith(sys.argv[3]), pressmark.__file__
pressmark.CreatePDF().CreatePDFfromPS(sys.argv[2], sys.argv[1])' "$out/in.ps" "$out/python.pdf" "$unpacked"
  pdftotext "$out/python.pdf" - | grep -q "From Python" || fail "the unpacked Python module made no readable PDF"
  pm_log "package check: passed"
fi
echo "$deb"
