#!/bin/sh
# Builds the PDF fuzz target with sanitizers into $1 (default build-fuzz):
# a libFuzzer binary when clang has libFuzzer, else a standalone driver
# built with g++. It compiles the automation layer, the system services it
# needs and the PDF server together, so the whole path runs instrumented.
# Usage: fuzz/build.sh [outdir]; then
#   outdir/pdf_open_fuzz -max_total_time=60 fuzz/corpus      (libFuzzer)
#   PM_FUZZ_SECONDS=60 outdir/pdf_open_fuzz fuzz/corpus      (standalone)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-fuzz}
mkdir -p "$out"
srcs="$root/fuzz/pdf_open_fuzz.cpp $(ls $root/src/automation/*.cpp $root/src/servers/pdf/*.cpp $root/src/system/Clipboard.cpp $root/src/system/WindowTable.cpp $root/src/system/Files.cpp)"
libs="$(pkg-config --static --libs mupdf) -lharfbuzz"
flags="-std=c++20 -g -O1 -fno-omit-frame-pointer -I$root/src -I$root/include"
if [ "${PM_FUZZ_DRIVER:-}" != standalone ] && command -v clang++ >/dev/null &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}' |
   clang++ -x c++ -fsanitize=fuzzer - -o "$out/.probe" 2>/dev/null; then
  rm -f "$out/.probe"
  clang++ $flags -fsanitize=fuzzer,address,undefined $srcs $libs -o "$out/pdf_open_fuzz"
  echo "libfuzzer"
else
  g++ $flags -DPM_STANDALONE_FUZZ -fsanitize=address,undefined $srcs $libs -o "$out/pdf_open_fuzz"
  echo "standalone"
fi
