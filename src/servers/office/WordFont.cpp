// The Content of a Word document: its text and the character formatting of
// the whole body text (Font).
#include <com/sun/star/awt/FontSlant.hpp>
#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>

#include "servers/office/WordObjects.h"

namespace pm::office::word {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// ---- Content.Font: character formatting of the whole body text ----
class WordFont : public Dispatch {
 public:
  explicit WordFont(DocRef doc) : doc_(std::move(doc)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Font"; }

  void onWhole(const std::string& what, const std::function<void(const Reference<XPropSet>&)>& fn) {
    doc_->with(what, [&](const Reference<css::lang::XComponent>& m, Session&) {
      Reference<css::text::XTextDocument> doc(m, UNO_QUERY_THROW);
      Reference<css::text::XText> text = doc->getText();
      Reference<css::text::XTextCursor> c = text->createTextCursor();
      c->gotoStart(false);
      c->gotoEnd(true);
      fn(Reference<XPropSet>(c, UNO_QUERY_THROW));
    });
  }
  // Reads at the start of the text (a mixed range has no single value).
  void atStart(const std::string& what, const std::function<void(const Reference<XPropSet>&)>& fn) {
    doc_->with(what, [&](const Reference<css::lang::XComponent>& m, Session&) {
      Reference<css::text::XTextDocument> doc(m, UNO_QUERY_THROW);
      Reference<css::text::XText> text = doc->getText();
      Reference<css::text::XTextCursor> c = text->createTextCursor();
      c->gotoStart(false);
      c->goRight(1, true);
      fn(Reference<XPropSet>(c, UNO_QUERY_THROW));
    });
  }

  Variant GetName(Frame&) {
    std::string n;
    atStart("reading the font name",
            [&](const Reference<XPropSet>& p) { n = toUtf8(getProp<::rtl::OUString>(p, "CharFontName")); });
    return Variant(n);
  }
  Variant LetName(Frame& f) {
    std::string n = CStr(f["value"]);
    if (Trim(n).empty()) fail(kErrOutOfRange, "Value out of range: a font name cannot be empty.");
    onWhole("setting the font name", [&](const Reference<XPropSet>& p) {
      for (const char* k : {"CharFontName", "CharFontNameAsian", "CharFontNameComplex"}) setProp(p, k, fromUtf8(n));
    });
    return {};
  }
  Variant GetSize(Frame&) {
    float s = 0;
    atStart("reading the font size", [&](const Reference<XPropSet>& p) { s = getProp<float>(p, "CharHeight"); });
    return Variant(s);
  }
  Variant LetSize(Frame& f) {
    float s = CSng(f["value"]);
    if (!(s >= 1 && s <= 1638))
      fail(kErrOutOfRange, "Value out of range: font size " + DoubleToText(s) + " (1 to 1638).");
    onWhole("setting the font size", [&](const Reference<XPropSet>& p) {
      for (const char* k : {"CharHeight", "CharHeightAsian", "CharHeightComplex"}) setProp(p, k, s);
    });
    return {};
  }
  Variant GetBold(Frame&) {
    float w = 0;
    atStart("reading bold", [&](const Reference<XPropSet>& p) { w = getProp<float>(p, "CharWeight"); });
    return Variant(BasicBool(w >= css::awt::FontWeight::BOLD));
  }
  Variant LetBold(Frame& f) {
    float w = truthy(f["value"]) ? css::awt::FontWeight::BOLD : css::awt::FontWeight::NORMAL;
    onWhole("setting bold", [&](const Reference<XPropSet>& p) {
      for (const char* k : {"CharWeight", "CharWeightAsian", "CharWeightComplex"}) setProp(p, k, w);
    });
    return {};
  }
  Variant GetItalic(Frame&) {
    css::awt::FontSlant s = css::awt::FontSlant_NONE;
    atStart("reading italic",
            [&](const Reference<XPropSet>& p) { s = getProp<css::awt::FontSlant>(p, "CharPosture"); });
    return Variant(BasicBool(s != css::awt::FontSlant_NONE));
  }
  Variant LetItalic(Frame& f) {
    css::awt::FontSlant s = truthy(f["value"]) ? css::awt::FontSlant_ITALIC : css::awt::FontSlant_NONE;
    onWhole("setting italic", [&](const Reference<XPropSet>& p) {
      for (const char* k : {"CharPosture", "CharPostureAsian", "CharPostureComplex"}) setProp(p, k, s);
    });
    return {};
  }
  Variant GetUnderline(Frame&) {
    sal_Int16 u = 0;
    atStart("reading underline", [&](const Reference<XPropSet>& p) { u = getProp<sal_Int16>(p, "CharUnderline"); });
    int32_t w = u == css::awt::FontUnderline::NONE     ? 0
                : u == css::awt::FontUnderline::DOUBLE ? 3
                : u == css::awt::FontUnderline::DOTTED ? 4
                                                       : 1;
    return Variant(w);
  }
  // Word's underline kinds: 0 none, 1 single (True as well), 3 double,
  // 4 dotted; other kinds have no counterpart here.
  Variant LetUnderline(Frame& f) {
    int32_t w = CLng(f["value"]);
    sal_Int16 u;
    switch (w) {
      case 0:
        u = css::awt::FontUnderline::NONE;
        break;
      case 1:
      case -1:
        u = css::awt::FontUnderline::SINGLE;
        break;
      case 3:
        u = css::awt::FontUnderline::DOUBLE;
        break;
      case 4:
        u = css::awt::FontUnderline::DOTTED;
        break;
      default:
        fail(kErrOutOfRange, "Value out of range: Underline " + std::to_string(w) + " (0, 1, 3 and 4 are supported).");
    }
    onWhole("setting underline", [&](const Reference<XPropSet>& p) { setProp(p, "CharUnderline", u); });
    return {};
  }
  // Word colours are 0x00BBGGRR; the office's are 0x00RRGGBB.
  Variant GetColor(Frame&) {
    sal_Int32 c = -1;
    atStart("reading the colour", [&](const Reference<XPropSet>& p) { c = getProp<sal_Int32>(p, "CharColor"); });
    if (c < 0) return Variant(static_cast<int32_t>(0xFF000000u));  // wdColorAutomatic
    return Variant(int32_t(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF)));
  }
  Variant LetColor(Frame& f) {
    int32_t w = CLng(f["value"]);
    sal_Int32 c;
    if (w == static_cast<int32_t>(0xFF000000u))
      c = -1;
    else if (w >= 0 && w <= 0xFFFFFF)
      c = ((w & 0xFF) << 16) | (w & 0xFF00) | ((w >> 16) & 0xFF);
    else
      fail(kErrOutOfRange, "Value out of range: colour " + std::to_string(w) + ".");
    onWhole("setting the colour", [&](const Reference<XPropSet>& p) { setProp(p, "CharColor", c); });
    return {};
  }
  // Reset: the character formatting goes back to the paragraph style's.
  Variant Reset(Frame&) {
    onWhole("resetting the font", [&](const Reference<XPropSet>& p) {
      Reference<css::beans::XPropertyState> st(p, UNO_QUERY_THROW);
      for (const char* k : {"CharFontName", "CharFontNameAsian", "CharFontNameComplex", "CharHeight", "CharHeightAsian",
                            "CharHeightComplex", "CharWeight", "CharWeightAsian", "CharWeightComplex", "CharPosture",
                            "CharPostureAsian", "CharPostureComplex", "CharUnderline", "CharColor"})
        st->setPropertyToDefault(::rtl::OUString::createFromAscii(k));
    });
    return {};
  }

 private:
  DocRef doc_;
};

class WordRange : public Dispatch {
 public:
  explicit WordRange(DocRef doc) : doc_(std::move(doc)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Range"; }
  Variant Font(Frame&) { return Variant(ObjectRef(std::make_shared<WordFont>(doc_))); }
  Variant Text(Frame&) {
    std::string s;
    doc_->with("reading the text", [&](const Reference<css::lang::XComponent>& m, Session&) {
      Reference<css::text::XTextDocument> doc(m, UNO_QUERY_THROW);
      s = toUtf8(doc->getText()->getString());
    });
    return Variant(s);
  }

 private:
  DocRef doc_;
};

}  // namespace

Variant WordDocument::Content(Frame&) {
  requireOpen();
  return Variant(ObjectRef(std::make_shared<WordRange>(std::static_pointer_cast<WordDocument>(shared_from_this()))));
}

const MemberTable* WordRange::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Range");
    Members<WordRange> m(table);
    m.get("Font", {}, &WordRange::Font).get("Text", {}, &WordRange::Text);
    return table;
  }();
  return &t;
}

const MemberTable* WordFont::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Font");
    Members<WordFont> m(table);
    m.get("Name", {}, &WordFont::GetName)
        .let("Name", {P("value").byVal()}, &WordFont::LetName)
        .get("Size", {}, &WordFont::GetSize)
        .let("Size", {P("value").byVal()}, &WordFont::LetSize)
        .get("Bold", {}, &WordFont::GetBold)
        .let("Bold", {P("value").byVal()}, &WordFont::LetBold)
        .get("Italic", {}, &WordFont::GetItalic)
        .let("Italic", {P("value").byVal()}, &WordFont::LetItalic)
        .get("Underline", {}, &WordFont::GetUnderline)
        .let("Underline", {P("value").byVal()}, &WordFont::LetUnderline)
        .get("Color", {}, &WordFont::GetColor)
        .let("Color", {P("value").byVal()}, &WordFont::LetColor)
        .method("Reset", {}, &WordFont::Reset);
    return table;
  }();
  return &t;
}
}  // namespace pm::office::word
