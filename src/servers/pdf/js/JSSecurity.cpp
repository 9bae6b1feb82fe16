// The JavaScript object's "security" object, whose "Adobe.PPKLite" handler
// signs signature fields.
#include "servers/pdf/js/JSSupport.h"
#include "servers/pdf/forms/Signing.h"

namespace pm::pdf {
namespace {

Variant security(DocHolder&, Frame&) {
  return Variant(makeSecurity());
}

void describe(Members<DocHolder>& m) {
  m.get("security", {}, &security);
}

const js::Groups::Register reg("security", &describe);

}  // namespace
}  // namespace pm::pdf
