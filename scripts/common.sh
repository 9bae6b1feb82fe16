# Shared by setup.sh, test.sh and demo.sh: package installation and builds.
# Sourced, not run.

PM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

pm_log() { printf '== %s\n' "$*" >&2; }

# Installs every package listed in scripts/packages/*.txt that is missing.
pm_install_packages() {
  local wanted missing=() p
  wanted=$(cat "$PM_ROOT"/scripts/packages/*.txt | sed 's/#.*//' | awk 'NF' | sort -u)
  for p in $wanted; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    pm_log "packages: all present"
    return 0
  fi
  pm_log "packages: installing ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# pm_build DIR [cmake options...]
# Optimised without debug information: it doubles the compile time and
# neither the tests nor an installation read it (debug in a tree of your own,
# configured with -DCMAKE_BUILD_TYPE=Debug).
pm_build() {
  local dir=$1
  shift
  cmake -S "$PM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

# pm_install_docs_assets DIR: the files the HTTP service's /docs page is
# served from, installed from npm into DIR/npm; the page loads nothing from
# elsewhere. Without npm the page answers that it is not installed.
pm_install_docs_assets() {
  local dir=$1
  if [ -f "$dir/npm/node_modules/swagger-ui-dist/swagger-ui-bundle.js" ]; then return 0; fi
  if command -v npm >/dev/null; then
    pm_log "npm install swagger-ui-dist ($dir/npm)"
    npm install --silent --no-audit --no-fund --prefix "$dir/npm" swagger-ui-dist@5 >/dev/null
  else
    pm_log "npm is not installed: the service's /docs page stays unavailable"
  fi
}
