#include "component/document/Vocabulary.h"

#include <utility>

#include "automation/Convert.h"
#include "automation/Error.h"

namespace pm::vocab {

namespace {

struct Entry {
  int32_t code;
  const char* name;
};

template <size_t N>
std::string lookup(const Variant& v, const Entry (&table)[N], const char* def) {
  for (const Entry& e : table)
    if (codeIs(v, e.code)) return e.name;
  return def;
}

}  // namespace

bool codeIs(const Variant& v, int32_t code) {
  // Numbers compare numerically whatever their type; any other kind of
  // value takes Basic's comparison, where Null raises.
  if (v.isNumeric()) return CDbl(v) == static_cast<double>(code);
  if (v.type() == VT::Boolean) return (v.asBool() ? -1 : 0) == code;
  return Compare(v, Variant(code)) == 0;
}

std::string Font(const Variant& c) {
  static const Entry t[] = {
      {0, "Times-Roman"}, {1, "Times-Bold"},     {2, "Times-Italic"},      {3, "Times-BoldItalic"},
      {4, "Helvetica"},   {5, "Helvetica-Bold"}, {6, "Helvetica-Oblique"}, {7, "Helvetica-BoldOblique"},
      {8, "Courier"},     {9, "Courier-Bold"},   {10, "Courier-Oblique"},  {11, "Courier-BoldOblique"},
      {12, "Symbol"},     {13, "ZapfDingbats"}};
  return lookup(c, t, "Times-Roman");
}

std::string Alignment(const Variant& c) {
  static const Entry t[] = {{0, "left"}, {1, "center"}, {2, "right"}};
  return lookup(c, t, "left");
}

std::string FieldBorder(const Variant& c) {
  static const Entry t[] = {{0, "solid"}, {1, "beveled"}, {2, "dashed"}, {3, "inset"}, {4, "underline"}};
  return lookup(c, t, "solid");
}

std::string GlyphStyle(const Variant& c) {
  static const Entry t[] = {{0, "check"}, {1, "cross"}, {2, "diamond"}, {3, "circle"}, {4, "star"}, {5, "square"}};
  return lookup(c, t, "check");
}

std::string FieldTrigger(const Variant& c) {
  static const Entry t[] = {{10, ""},         {0, "MouseUp"},   {1, "MouseDown"}, {2, "MouseEnter"},
                            {3, "MouseExit"}, {4, "OnFocus"},   {5, "OnBlur"},    {6, "Keystroke"},
                            {7, "Validate"},  {8, "Calculate"}, {9, "Format"}};
  return lookup(c, t, "");
}

std::string DocumentTrigger(const Variant& c) {
  static const Entry t[] = {{0, "WillClose"}, {1, "WillSave"}, {2, "DidSave"}, {3, "WillPrint"}, {4, "DidPrint"}};
  return lookup(c, t, "WillClose");
}

std::string PageTrigger(const Variant& c) {
  static const Entry t[] = {{0, "Open"}, {1, "Close"}};
  return lookup(c, t, "Open");
}

std::string NoteIcon(const Variant& c) {
  static const Entry t[] = {{0, "Check"}, {1, "Circle"},    {2, "Comment"},     {3, "Cross"},
                            {4, "Help"},  {5, "Insert"},    {6, "Key"},         {7, "NewParagraph"},
                            {8, "Note"},  {9, "Paragraph"}, {10, "RightArrow"}, {11, "RightPointer"},
                            {12, "Star"}, {13, "UpArrow"},  {14, "UpLeftArrow"}};
  return lookup(c, t, "Note");
}

std::string NoteState(const Variant& c) {
  static const Entry t[] = {{0, "None"}, {1, "Accepted"}, {2, "Rejected"}, {3, "Cancelled"}, {4, "Completed"}};
  return lookup(c, t, "None");
}

std::string StampIcon(const Variant& c) {
  static const Entry t[] = {{0, "Approved"},     {1, "AsIs"},
                            {2, "Confidential"}, {3, "Departmental"},
                            {4, "Draft"},        {5, "Experimental"},
                            {6, "Expired"},      {7, "Final"},
                            {8, "ForComment"},   {9, "ForPublicRelease"},
                            {10, "NotApproved"}, {11, "NotForPublicRelease"},
                            {12, "Sold"},        {13, "TopSecret"}};
  return lookup(c, t, "Approved");
}

std::string FileType(const Variant& c, const std::string& acrobatVersion) {
  const std::string prefix = "com.adobe.acrobat.";
  if (codeIs(c, 0)) return Val(acrobatVersion) >= 8 ? "com.callas.preflight.pdfa" : prefix + "pdf";
  static const Entry t[] = {{1, "eps"},         {2, "html-3-20"},   {3, "html-4-01-css-1-00"},
                            {4, "jpeg"},        {5, "jp2k"},        {6, "doc"},
                            {7, "png"},         {8, "ps"},          {9, "rtf"},
                            {10, "accesstext"}, {11, "plain-text"}, {12, "tiff"},
                            {13, "xml-1-00"},   {14, "xdp"}};
  return prefix + lookup(c, t, "pdf");
}

std::string Layout(const Variant& c) {
  static const Entry t[] = {{0, "SinglePage"},     {1, "OneColumn"},   {2, "TwoColumnLeft"},
                            {3, "TwoColumnRight"}, {4, "TwoPageLeft"}, {5, "TwoPageRight"}};
  return lookup(c, t, "SinglePage");
}

void SetColor(const Variant& code, Variant& colour) {
  auto store = [&](int32_t i, Variant v) {
    // Indexing anything but an array is a type mismatch, as in Basic.
    if (!colour.isArray()) raise(basic::TypeMismatch);
    colour.arrayMut().set({i}, std::move(v));
  };
  store(1, Variant(int16_t(0)));
  store(2, Variant(int16_t(0)));
  store(3, Variant(int16_t(0)));
  struct Row {
    int32_t code;
    const char* space;
    int32_t element;  // 0: none
    Variant value;
  };
  static const Row rows[] = {
      {0, "T", 0, {}},
      {1, "G", 0, {}},
      {2, "G", 1, Variant(int16_t(1))},
      {3, "RGB", 1, Variant(int16_t(1))},
      {4, "RGB", 2, Variant(int16_t(1))},
      {5, "RGB", 3, Variant(int16_t(1))},
      {6, "CMYK", 1, Variant(int16_t(1))},
      {7, "CMYK", 2, Variant(int16_t(1))},
      {8, "CMYK", 3, Variant(int16_t(1))},
      {9, "G", 1, Variant(0.25)},
      {10, "G", 1, Variant(0.5)},
      {11, "G", 1, Variant(0.75)},
  };
  for (const Row& r : rows) {
    if (!codeIs(code, r.code)) continue;
    store(0, Variant(r.space));
    if (r.element) store(r.element, r.value);
    return;
  }
  store(0, Variant("T"));
}

}  // namespace pm::vocab
