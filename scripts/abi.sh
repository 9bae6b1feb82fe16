#!/usr/bin/env bash
# The ABI of libpressmark's API against the release's (abigail-tools):
#   scripts/abi.sh check LIBRARY   fails when a symbol of the API disappeared
#                                  or changed incompatibly; additions pass
#   scripts/abi.sh dump LIBRARY    writes the baseline, abi/libpressmark.abi.xz
#                                  (abidw's XML, compressed: most of it is
#                                  the standard library's types)
# The API is what include/pressmark declares (version node PRESSMARK_1);
# what the modules and programs link besides (PRESSMARK_INTERNAL_<version>)
# is no promise and is left out (abi/internal.suppr). The types come from
# the debug information of the files that define the API, which every build
# compiles with -g, so LIBRARY is an unstripped build: a build tree's or an
# installation's before packing. At a release, once its library is built:
#   scripts/abi.sh dump build/libpressmark.so && git add abi/libpressmark.abi.xz
# and raise the version node with SOVERSION when the release breaks the ABI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
baseline=$root/abi/libpressmark.abi.xz
suppr=$root/abi/internal.suppr

[ $# -eq 2 ] || { echo "usage: $0 check|dump LIBRARY" >&2; exit 2; }
action=$1 lib=$2
command -v abidw >/dev/null || { echo "abi.sh: abidw is missing (apt-get install abigail-tools)" >&2; exit 1; }

dump() {
  abidw --headers-dir "$root/include/pressmark" --drop-private-types --suppressions "$suppr" \
    --no-corpus-path --no-comp-dir-path --no-show-locs --no-architecture --out-file "$2" "$1"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/pressmark-abi-XXXXXX")
trap 'rm -rf "$work"' EXIT
case $action in
  dump)
    dump "$lib" "$work/current.abi"
    xz -9 -c "$work/current.abi" >"$baseline"
    echo "abi.sh: wrote $baseline" >&2
    ;;
  check)
    dump "$lib" "$work/current.abi"
    xz -dc "$baseline" >"$work/release.abi"
    # abidiff's status: 4 a change, 8 an incompatible one; additions are
    # not reported, so any change left is one to the API as released.
    status=0
    report=$(abidiff --no-added-syms --suppressions "$suppr" "$work/release.abi" "$work/current.abi") || status=$?
    if [ $status -ne 0 ]; then
      printf '%s\n' "$report" >&2
      echo "abi.sh: libpressmark's API differs from the release's ($baseline)" >&2
      exit 1
    fi
    ;;
  *)
    echo "usage: $0 check|dump LIBRARY" >&2
    exit 2
    ;;
esac
