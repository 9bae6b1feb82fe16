// The methods of Field over items, check boxes, buttons and actions, and
// its vocabulary getters.
#include "component/document/Field.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

// ---- Items and children ----
Variant ClearItems(Field& x, Frame&) {
  call(x.objField, "ClearItems");
  return {};
}

Variant DeleteItem(Field& x, Frame& f) {
  if (vocab::codeIs(f["intIndex"], -1))
    call(x.objField, "deleteItemAt");
  else
    call(x.objField, "deleteItemAt", {f["intIndex"]});
  let(x.objField, "CurrentValueIndices", Variant(int16_t(0)));
  return {};
}

Variant FieldPages(Field& x, Frame&) {
  return get(x.objField, "Page");
}

Variant GetChildFields(Field& x, Frame& f) {
  return passErrorsOn({}, [&] {
    f["varFields"] = call(x.objField, "getArray");
    if (!f["varFields"].isArray()) raise(basic::TypeMismatch);
    int32_t u = f["varFields"].array().ubound(1);
    if (u > 32767 || u < -32768) raise(basic::Overflow);
    return Variant(int16_t(u));
  });
}

// ---- Check boxes, radio buttons, buttons, items, actions ----
Variant SetCheckBox(Field& x, Frame& f) {
  call(x.objField, "checkThisBox", {f["intIndex"], f["blnChecked"]});
  return {};
}

// A face outside 0 to 2 means the normal caption.
Variant buttonFace(const Variant& v) {
  if (Compare(v, Variant(int32_t(0))) < 0 || Compare(v, Variant(int32_t(2))) > 0) return Variant(int32_t(0));
  return v;
}

Variant SetButtonCaption(Field& x, Frame& f) {
  call(x.objField, "buttonSetCaption", {f["strCaption"], buttonFace(f["lngButtonFace"])});
  return {};
}

Variant GetButtonCaption(Field& x, Frame& f) {
  return Variant(CStr(call(x.objField, "buttonGetCaption", {buttonFace(f["lngButtonFace"])})));
}

Variant GetItem(Field& x, Frame& f) {
  return Variant(CStr(call(x.objField, "getItemAt", {f["intIndex"], f["blnExportValue"]})));
}

Variant InsertItem(Field& x, Frame& f) {
  call(x.objField, "insertItemAt", {f["strItem"], f["strExportValue"], f["intIndex"]});
  return {};
}

Variant IsBoxChecked(Field& x, Frame& f) {
  return Variant(CBool(call(x.objField, "IsBoxChecked", {f["intIndex"]})));
}
Variant IsDefaultChecked(Field& x, Frame& f) {
  return Variant(CBool(call(x.objField, "IsDefaultChecked", {f["intIndex"]})));
}

Variant SetDefaultValue(Field& x, Frame& f) {
  call(x.objField, "defaultIsChecked", {f["intIndex"], f["blnChecked"]});
  return {};
}

// Unlike the Document's, a code outside 0 to 9 (10 included) is MouseUp,
// so an action is never set for an empty trigger.
std::string trigger(const Variant& code) {
  std::string t = vocab::FieldTrigger(code);
  return t.empty() ? "MouseUp" : t;
}

Variant SetFieldAction(Field& x, Frame& f) {
  call(x.objField, "setAction", {trigger(f["lngTrigger"]), f["strAction"]});
  return {};
}

Variant SetItems(Field& x, Frame& f) {
  call(x.objField, "SetItems", {f["varItems"]});
  return {};
}

// ---- Vocabulary ----
template <std::string (*Map)(const Variant&)>
Variant mapped(Field&, Frame& f) {
  // By position: one body serves every vocabulary member, each naming its value its own way.
  return Variant(Map(f[0]));
}

std::string highlight(const Variant& code) {
  static const char* names[] = {"none", "invert", "push", "outline"};
  for (int32_t i = 0; i < 4; ++i)
    if (vocab::codeIs(code, i)) return names[i];
  return "none";
}

void describeItems(Members<Field>& m) {
  m.method("ClearItems", {}, &ClearItems, "Clears all the values in a list box or combo box.")
      .method("DeleteItem", {P("intIndex").opt(Variant(int16_t(-1)))}, &DeleteItem,
              "Deletes an item in a combo box or a list box.")
      .method("FieldPages", {}, &FieldPages,
              "Method to get the page number or an array of page numbers of a specific field.")
      .method("GetChildFields", {P("varFields")}, &GetChildFields,
              "Gets the array of terminal child fields (that is, fields that can have a value) for this Field "
              "Object, the parent field.");
}

void describeMethods(Members<Field>& m) {
  m.method("SetCheckBox", {P("intIndex"), P("blnChecked").opt(Variant(false))}, &SetCheckBox,
           "Checks or unchecks the specified item in a check box or radio button. Only check boxes can be "
           "unchecked. A radio button cannot be unchecked using this method, but if its default state is "
           "unchecked it can be reset to the unchecked state.")
      .method("SetButtonCaption", {P("strCaption"), P("lngButtonFace").byVal().opt(Variant(int32_t(0)))},
              &SetButtonCaption, "Sets the caption associated with a button.")
      .method("GetButtonCaption", {P("lngButtonFace").byVal().opt(Variant(int32_t(0)))}, &GetButtonCaption,
              "Get button field caption.")
      .method("GetItem", {P("intIndex"), P("blnExportValue").opt(Variant(false))}, &GetItem,
              "Gets the internal value of an item in a combo box or a list box.")
      .method("InsertItem",
              {P("strItem"), P("strExportValue").opt(Variant(std::string())), P("intIndex").opt(Variant(int16_t(0)))},
              &InsertItem, "Inserts a new item into a combo box or a list box.")
      .method("IsBoxChecked", {P("intIndex")}, &IsBoxChecked,
              "Determines if the item for a specified check box for a radio button is checked.")
      .method("IsDefaultChecked", {P("intIndex")}, &IsDefaultChecked,
              "Determines whether the specified check box or radio button item is checked by default (for "
              "example,when the field gets reset).")
      .method("SetDefaultValue", {P("intIndex"), P("blnChecked").opt(Variant(false))}, &SetDefaultValue,
              "Sets the specified item for check boxes and radio buttons to be checked or unchecked by default. ")
      .method("SetFieldAction", {P("lngTrigger"), P("strAction")}, &SetFieldAction,
              "Sets the JavaScript action of the field for a given trigger.")
      .method("SetItems", {P("varItems")}, &SetItems, "Sets the list of items for a combo box or a list box.");
}

void describeVocabulary(Members<Field>& m) {
  m.method("GetTrigger", {P("i")}, &mapped<trigger>, "Get trigger string used to set field actions.")
      .method("GetFont", {P("lngFont")}, &mapped<vocab::Font>, "Get font string.")
      .method("GetGlyphStyle", {P("i")}, &mapped<vocab::GlyphStyle>,
              "Get glyph style string used by check box and radio button.")
      .method("GetAlignment", {P("i")}, &mapped<vocab::Alignment>, "Get text field alignment string.")
      .method("GetBorderStyle", {P("i")}, &mapped<vocab::FieldBorder>, "Get field border style string.")
      .method("GetHighlight", {P("i")}, &mapped<highlight>, "Get highlight string used by button.");
}

const FieldMembers::Register items("items", &describeItems);
const FieldMembers::Register methods("methods", &describeMethods);
const FieldMembers::Register vocabulary("vocabulary", &describeVocabulary);

}  // namespace
}  // namespace pm
