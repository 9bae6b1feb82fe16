// The properties of Field: each reads or writes the field object's member
// of the same (or the listed) name, the value passed through unchanged
// unless a conversion is listed.
#include "component/document/Field.h"

namespace pm {
namespace {

struct Prop {
  const char* name;    // the Field's property
  const char* member;  // the field object's member
  VT type;             // the type a get hands out
  bool canLet;
  const char* help;
};

// The properties in interface order, after Name.
const Prop kProps[] = {
    {"ReadOnly", "ReadOnly", VT::Variant, true, "Get/set the read-only state of the field."},
    {"Alignment", "Alignment", VT::Variant, true, "Get/set the text alignment. Values: left, center, right."},
    {"BorderStyle", "BorderStyle", VT::Variant, true,
     "Get/set the border style. Values: solid, beveled, dashed, inset, underline."},
    {"ButtonAlignX", "ButtonAlignX", VT::Variant, true, "Get/set the horizontal icon position of a button."},
    {"ButtonAlignY", "ButtonAlignY", VT::Variant, true, "Get/set the vertical icon position of a button."},
    {"ButtonFitBounds", "ButtonFitBounds", VT::Variant, true, "Get/set whether a button's icon fits its bounds."},
    {"ButtonPosition", "ButtonPosition", VT::Variant, true, "Get/set the layout of a button's caption and icon."},
    {"ButtonScaleHow", "ButtonScaleHow", VT::Variant, true, "Get/set how a button's icon is scaled."},
    {"ButtonScaleWhen", "ButtonScaleWhen", VT::Variant, true, "Get/set when a button's icon is scaled."},
    {"CalcOrderIndex", "CalcOrderIndex", VT::Variant, true, "Get/set the field's place in the calculation order."},
    {"CharLimit", "CharLimit", VT::Variant, true, "Get/set the most characters a text field takes."},
    {"Comb", "Comb", VT::Variant, true, "Get/set the comb layout of a text field."},
    {"CommitOnSelChange", "CommitOnSelChange", VT::Variant, true,
     "Get/set whether a selection is committed as soon as it is made."},
    {"CurrentValueIndices", "CurrentValueIndices", VT::Variant, true,
     "Get/set the selected items of a combo box or list box."},
    {"DefaultValue", "DefaultValue", VT::Variant, true, "Get/set the field's default value."},
    {"DoNotScroll", "DoNotScroll", VT::Variant, true, "Get/set whether a text field scrolls."},
    {"DoNotSpellCheck", "DoNotSpellCheck", VT::Variant, true, "Get/set whether the field's text is spell-checked."},
    {"Display", "Display", VT::Variant, true,
     "Get/set whether the field is visible, hidden, not printed or not viewed."},
    {"Editable", "Editable", VT::Variant, true, "Get/set whether a combo box takes typed text."},
    {"ExportValues", "ExportValues", VT::Variant, true, "Get/set the export values of check boxes and radio buttons."},
    {"FileSelect", "FileSelect", VT::Variant, true, "Get/set whether a text field holds a file path."},
    {"FillColor", "FillColor", VT::Variant, true, "Get/set the background colour."},
    {"Hidden", "Hidden", VT::Variant, true, "Get/set whether the field is hidden."},
    {"Highlight", "Highlight", VT::Variant, true, "Get/set a button's highlight. Values: none, invert, push, outline."},
    {"LineWidth", "LineWidth", VT::Variant, true, "Get/set the border width."},
    {"MultiLine", "MultiLine", VT::Variant, true, "Get/set whether a text field takes several lines."},
    {"MultipleSelection", "MultipleSelection", VT::Variant, true,
     "Get/set whether a list box allows several selected items."},
    {"NumItems", "NumItems", VT::Integer, false, "The number of items of a combo box or list box."},
    {"Page", "Page", VT::Variant, false, "The page or pages the field is on."},
    {"Password", "Password", VT::Variant, true, "Get/set whether a text field hides what is typed."},
    {"PrintField", "Print", VT::Variant, true, "Get/set whether the field is printed."},
    {"RadiosInUnison", "RadiosInUnison", VT::Variant, true,
     "Get/set whether radio buttons of the same export value turn on together."},
    {"Rect", "Rect", VT::Variant, true, "Get/set the field's rectangle on its page."},
    {"Required", "Required", VT::Variant, true, "Get/set whether the field must hold a value."},
    {"Rotation", "Rotation", VT::Variant, true, "Get/set the rotation of the field. Values: 0, 90, 180, 270"},
    {"StrokeColor", "StrokeColor", VT::Variant, true, "Get/set the border colour."},
    {"Style", "Style", VT::Variant, true,
     "Get/set the glyph style. Values: check, cross, diamond, circle, star, square."},
    {"SubmitName", "SubmitName", VT::Variant, true, "Get/set the name used when the form is submitted."},
    {"TextColor", "TextColor", VT::Variant, true, "Get/set the text colour."},
    {"TextFont", "TextFont", VT::Variant, true, "Get/set the text font."},
    {"TextSize", "TextSize", VT::Variant, true, "Get/set the text size."},
    {"FieldType", "Type", VT::String, false,
     "The field type. Values: button, checkbox, combobox, listbox, radiobutton, signature, text."},
    {"UserName", "UserName", VT::Variant, true, "Get/set the tool tip text."},
    {"Value", "Value", VT::Variant, true, "Get/set the field's value."},
    {"ValueAsString", "ValueAsString", VT::String, false, "The field's value as text."},
};

const Prop& propOf(Frame& f) {
  for (const Prop& p : kProps)
    if (TextEquals(p.name, f.member().name)) return p;
  raise(basic::InternalError);
}

Variant getProp(Field& x, Frame& f) {
  const Prop& p = propOf(f);
  return coerce(get(x.objField, p.member), p.type);
}

Variant letProp(Field& x, Frame& f) {
  let(x.objField, propOf(f).member, f["vNewValue"]);
  return {};
}

// Name says plainly that the field is not there, whatever failed.
Variant Name(Field& x, Frame&) {
  try {
    return Variant(CStr(get(x.objField, "Name")));
  } catch (...) {
    raise(kErrComponent, "Invalid field name.");
  }
}

void describe(Members<Field>& m) {
  m.get("Name", {}, &Name, "The fully qualified name of the field.");
  for (const Prop& p : kProps) {
    m.get(p.name, {}, &getProp, p.help);
    if (p.canLet) m.let(p.name, {P("vNewValue")}, &letProp, p.help);
  }
}

const FieldMembers::Register reg("properties", &describe);

}  // namespace
}  // namespace pm
