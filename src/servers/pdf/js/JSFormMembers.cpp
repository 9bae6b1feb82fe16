// Form members of the JavaScript object: adding, finding, listing,
// removing and resetting fields.
#include "servers/pdf/forms/Form.h"
#include "servers/pdf/js/JSFieldObject.h"
#include "servers/pdf/js/JSSupport.h"

namespace pm::pdf {

namespace {

using namespace js;

Variant addField(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  std::string kind = CStr(f["cFieldType"]);
  int page = CLng(f["nPageNum"]);
  fz_rect r = rectArg(f["oCoords"]);
  pdf_obj* field = form::add(d, name, kind, page, r);
  return Variant(makeField(self.docState(), form::fullName(field)));
}

Variant getField(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  pdf_obj* field = form::lookup(d, name);
  // The viewer answers null for a name the form does not hold.
  if (!field) return Variant::null();
  return Variant(makeField(self.docState(), form::fullName(field)));
}

Variant removeField(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::string name = CStr(f["cName"]);
  pdf_obj* field = form::lookup(d, name);
  if (!field) fail("The field \"" + name + "\" does not exist");
  form::remove(d, field);
  return {};
}

Variant resetForm(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  std::vector<pdf_obj*> targets;
  if (f["aFields"].isArray()) {
    for (const Variant& n : f["aFields"].array().data()) {
      pdf_obj* field = form::lookup(d, CStr(n));
      if (!field) fail("The field \"" + CStr(n) + "\" does not exist");
      for (pdf_obj* t : form::terminals(field)) targets.push_back(t);
    }
  } else {
    for (auto& x : form::terminalFields(d)) targets.push_back(x.obj);
  }
  for (pdf_obj* t : targets) form::reset(d, t);
  return {};
}

Variant getNthFieldName(DocHolder& self, Frame& f) {
  Doc& d = docOf(self);
  int32_t i = CLng(f["nIndex"]);
  std::vector<form::Field> all = form::terminalFields(d);
  if (i < 0 || static_cast<size_t>(i) >= all.size())
    fail("Field " + std::to_string(i) + " does not exist: the document has " + std::to_string(all.size()) +
         " fields (numbers start at 0)");
  return Variant(all[static_cast<size_t>(i)].name);
}

void describe(Members<DocHolder>& m) {
  m.method("addField", {P("cName"), P("cFieldType"), P("nPageNum").opt(int32_t(0)), P("oCoords")}, &addField);
  m.method("getField", {P("cName")}, &getField);
  m.method("removeField", {P("cName")}, &removeField);
  m.method("resetForm", {P("aFields").opt()}, &resetForm);
  m.method("getNthFieldName", {P("nIndex")}, &getNthFieldName);
}

const Groups::Register reg("fields", &describe);

}  // namespace

}  // namespace pm::pdf
