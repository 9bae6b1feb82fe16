// The interactive form of a document as the JavaScript object sees it:
// fields named by their full dotted names, each with one or more widgets
// on the pages.
#pragma once

#include <string>
#include <vector>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf::form {

// Field flags (/Ff) and annotation flags (/F).
namespace ff {
inline constexpr int ReadOnly = 1 << 0, Required = 1 << 1, NoExport = 1 << 2, Multiline = 1 << 12, Password = 1 << 13,
                     NoToggleToOff = 1 << 14, Radio = 1 << 15, Pushbutton = 1 << 16, Combo = 1 << 17, Edit = 1 << 18,
                     FileSelect = 1 << 20, MultiSelect = 1 << 21, DoNotSpellCheck = 1 << 22, DoNotScroll = 1 << 23,
                     Comb = 1 << 24, RadiosInUnison = 1 << 25, CommitOnSelChange = 1 << 26;
}
namespace af {
inline constexpr int Invisible = 1, Hidden = 2, Print = 4, NoZoom = 8, NoRotate = 16, NoView = 32, ReadOnly = 64,
                     Locked = 128, ToggleNoView = 256, LockedContents = 512;
}

struct Field {
  pdf_obj* obj = nullptr;  // borrowed from the document
  std::string name;        // full name
};

// The fields that hold values, in the order the document lists them (the
// order of numFields and getNthFieldName).
std::vector<Field> terminalFields(Doc& d);
// A field of any level by its full name; nullptr when there is none.
pdf_obj* lookup(Doc& d, const std::string& name);
std::string fullName(pdf_obj* field);
// The widgets of a terminal field (the field itself when the two are one).
std::vector<pdf_obj*> widgets(pdf_obj* field);
// The terminal fields at and below a field.
std::vector<pdf_obj*> terminals(pdf_obj* field);
// "text", "button", ... of a terminal field; "" for an unknown kind.
std::string kind(pdf_obj* field);
// Whether fields of a kind hold an on state or Off (check boxes and radio
// buttons).
bool hasOnState(const std::string& kind);
// Whether fields of a kind hold no value (buttons and signatures).
bool holdsNoValue(const std::string& kind);
int fieldFlags(pdf_obj* field);
void setFieldFlag(pdf_obj* field, int flag, bool on);
int widgetFlags(pdf_obj* widget);
void setWidgetFlag(pdf_obj* widget, int flag, bool on);

// The form dictionary, made with its defaults when create is set.
pdf_obj* acroForm(Doc& d, bool create);

// Adds a field of the given kind (or one more widget to an existing field
// of that kind and name) on page with the rectangle in default user space.
// Answers the terminal field.
pdf_obj* add(Doc& d, const std::string& name, const std::string& kind, int page, fz_rect rect);
// Removes a field with all its widgets from the form and the pages.
void remove(Doc& d, pdf_obj* field);

// The on-state names of a check box's or radio button's widgets, in widget
// order ("" for a widget without one).
std::vector<std::string> onStates(pdf_obj* field);
// Renames the on-state of one widget.
void setOnState(Doc& d, pdf_obj* widget, const std::string& state);
// The check appearances of a widget drawn with the glyph of a style name
// (check, cross, diamond, circle, star, square).
void drawCheck(Doc& d, pdf_obj* widget, const std::string& onState, const std::string& style);

// The value as text (a button's state name, "Off" when none is on); lists
// of a multiple-selection list box come back joined by none: see values().
std::string value(pdf_obj* field);
std::vector<std::string> values(pdf_obj* field);
// Sets the value; for check boxes and radio buttons a state name that no
// widget has is refused.
void setValue(Doc& d, pdf_obj* field, const std::string& v);
void setValues(Doc& d, pdf_obj* field, const std::vector<std::string>& v);
void clearValue(Doc& d, pdf_obj* field);
// Back to the default value.
void reset(Doc& d, pdf_obj* field);

// The options of a choice field as (shown text, export value).
std::vector<std::pair<std::string, std::string>> options(pdf_obj* field);
void setOptions(Doc& d, pdf_obj* field, const std::vector<std::pair<std::string, std::string>>& opts);

// The default appearance string parts.
struct Appearance {
  std::string font = "Helv";  // resource name
  double size = 0;
  std::vector<double> colour{0};
};
Appearance appearance(pdf_obj* field);
// The number of components a colour operator of a default appearance
// takes (g, rg or k); 0 for any other token.
size_t colourOperands(const std::string& op);
void setAppearance(Doc& d, pdf_obj* field, const Appearance& a);
// The base font name of a resource name in the form's resources, and the
// resource name (added when missing) for a base font name.
std::string baseFont(Doc& d, const std::string& resource);
std::string fontResource(Doc& d, const std::string& baseFont);

// The font of a resource name in the form's resources; the standard
// Helvetica (Helv) and ZapfDingbats (ZaDb) the fields of this form name are
// added when missing. Null for another name the form does not hold.
pdf_obj* formFont(Doc& d, const std::string& resource);

// Draws the appearances of the widgets of a field (and of the terminal
// fields below it) from their values and looks.
void redraw(Doc& d, pdf_obj* field);

}  // namespace pm::pdf::form
