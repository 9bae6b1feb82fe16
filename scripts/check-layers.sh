#!/usr/bin/env bash
# The include roots of the build keep every layer to the headers of the
# layers it may see; engine headers live in /usr/include, which no include
# root hides, so this check refuses them where they do not belong, and
# refuses processes started by the component. docs/architecture.md has the
# picture.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
refuse() {  # refuse WHAT PATTERN FOLDER...
  local what=$1 pattern=$2
  shift 2
  local hits
  hits=$(grep -rnE "$pattern" "$@" --include='*.cpp' --include='*.h' || true)
  if [ -n "$hits" ]; then
    printf 'layer check: %s\n%s\n' "$what" "$hits" >&2
    status=1
  fi
}
engines='#include <(mupdf/|com/sun/star/|cppu|cppuhelper/|sal/|rtl/|osl/|uno/|sql\.h|sqlext\.h|libxml/|curl/|hunspell|openssl/|ghostscript/|cups/)'
refuse "an engine header in the component" "$engines" src/component
refuse "an engine header in the automation layer" "$engines" src/automation
refuse "an engine header other than CUPS in system" '#include <(mupdf/|com/sun/star/|cppu|sal/|sql\.h|libxml/|curl/|hunspell|openssl/)' src/system
refuse "a server header in the component" '#include "servers/' src/component
refuse "a component header in a server" '#include "component/' src/servers
refuse "a component or server header in system" '#include "(component|servers)/' src/system
refuse "a header above the automation layer in it" '#include "(component|servers|system)/' src/automation
# The PDF server's layers (src/servers/pdf/CMakeLists.txt): the engine sees
# none of the others, the viewer, the form model and the outside libraries'
# users see only the engine, and the office reaches only the engine.
pdf='src/servers/pdf'
refuse "a PDF server header above the engine in it" '#include "servers/pdf/(js|viewer|forms|external)/' $pdf/engine
refuse "a PDF server header beside or above the viewer in it" '#include "servers/pdf/(js|forms|external)/' $pdf/viewer
refuse "a PDF server header beside or above the form model in it" '#include "servers/pdf/(js|viewer|external)/' $pdf/forms
refuse "a PDF server header beside or above the outside libraries' users in them" \
  '#include "servers/pdf/(js|viewer|forms)/' $pdf/external
refuse "a PDF server header other than the engine's in the office server" '#include "servers/pdf/(js|viewer|forms|external)/' \
  src/servers/office
refuse "a process started by the component" '\b(fork|vfork|execv|execvp|posix_spawn|popen|system)\s*\(' src/component
exit $status
