// The page set-up of a worksheet: Excel's properties over the sheet's page
// style. Sheets of a Calc document often share one page style; the first
// change to a shared style gives the sheet a copy of its own, so that a
// change stays on the sheet it was made for, as in Excel.
#include <com/sun/star/beans/PropertyAttribute.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XHeaderFooterContent.hpp>
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/awt/FontSlant.hpp>
#include <com/sun/star/awt/FontStrikeout.hpp>
#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/awt/FontWeight.hpp>

#include "servers/office/ExcelObjects.h"
#include "servers/office/UnoUtil.h"

namespace pm::office::excel {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using XPropSet = css::beans::XPropertySet;

namespace {

int32_t mm100(double points) {
  return static_cast<int32_t>(points * 2540.0 / 72.0 + (points >= 0 ? 0.5 : -0.5));
}
double points(int32_t v) {
  return static_cast<double>(v) * 72.0 / 2540.0;
}

Reference<css::container::XNameContainer> pageStyles(const Reference<css::lang::XComponent>& m) {
  Reference<css::style::XStyleFamiliesSupplier> sup(m, UNO_QUERY_THROW);
  return Reference<css::container::XNameContainer>(sup->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
}

// The character style Excel's header and footer codes set for the text
// that follows them.
struct CodeStyle {
  bool bold = false, italic = false, underline = false, strike = false, dunder = false, sup = false, sub = false;
  std::string font;
  float size = 0;
  int32_t colour = -1;
};

// The codes that insert a field, with the file name's format (-1: none).
struct CodeField {
  char code;
  const char* service;
  sal_Int16 fileFormat;
};
constexpr CodeField kCodeFields[] = {
    {'P', "com.sun.star.text.TextField.PageNumber", -1}, {'N', "com.sun.star.text.TextField.PageCount", -1},
    {'D', "com.sun.star.text.TextField.Date", -1},       {'T', "com.sun.star.text.TextField.Time", -1},
    {'A', "com.sun.star.text.TextField.SheetName", -1},  {'F', "com.sun.star.text.TextField.FileName", 3},
    {'Z', "com.sun.star.text.TextField.FileName", 1},
};

// The codes that switch a style on and off, with the one each switches off
// (superscript and subscript exclude each other).
struct CodeSwitch {
  char code;
  bool CodeStyle::*flag;
  bool CodeStyle::*clears;
};
constexpr CodeSwitch kCodeSwitches[] = {
    {'B', &CodeStyle::bold, nullptr},        {'I', &CodeStyle::italic, nullptr},
    {'U', &CodeStyle::underline, nullptr},   {'E', &CodeStyle::dunder, nullptr},
    {'S', &CodeStyle::strike, nullptr},      {'X', &CodeStyle::sup, &CodeStyle::sub},
    {'Y', &CodeStyle::sub, &CodeStyle::sup},
};

// Excel's header and footer codes as text and fields of a Calc header
// part: &P page, &N pages, &D date, &T time, &F file name, &Z path, &A sheet
// name, && an ampersand; &B &I &U &S &E &X &Y switch bold, italic,
// underline, strike-through, double underline, superscript and subscript;
// &"font" and &nn set the font and its size; &Krrggbb the colour.
class CodeWriter {
 public:
  CodeWriter(const Reference<css::lang::XComponent>& m, const Reference<css::text::XText>& text) : text_(text) {
    text_->setString(::rtl::OUString());
    cursor_ = text_->createTextCursor();
    cursor_->gotoEnd(false);
    factory_.set(m, UNO_QUERY_THROW);
  }

  void write(const std::string& codes) {
    for (size_t i = 0; i < codes.size(); ++i) {
      if (codes[i] != '&' || i + 1 == codes.size())
        run_ += codes[i];
      else
        i = code(codes, i + 1);
    }
    flush();
  }

 private:
  // The code at codes[i]; returns the index of its last character.
  size_t code(const std::string& codes, size_t i) {
    char c = codes[i];
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const CodeField& f : kCodeFields)
      if (f.code == upper) {
        field(f);
        return i;
      }
    for (const CodeSwitch& s : kCodeSwitches)
      if (s.code == upper) {
        flush();
        style_.*s.flag = !(style_.*s.flag);
        if (s.clears) style_.*s.clears = false;
        return i;
      }
    switch (upper) {
      case '&':
        run_ += '&';
        return i;
      case 'L':
      case 'C':
      case 'R':
        return i;  // section switches: this text is one section already
      case '"':
        return fontCode(codes, i);
      case 'K':
        return colourCode(codes, i);
      case 'G':
        fail("Pictures in headers and footers (&G) are not supported: " + codes);
      default:
        if (std::isdigit(static_cast<unsigned char>(c))) {
          flush();
          size_t j = i;
          while (j < codes.size() && std::isdigit(static_cast<unsigned char>(codes[j]))) ++j;
          style_.size = static_cast<float>(std::stoi(codes.substr(i, j - i)));
          return j - 1;
        }
        run_ += '&';
        run_ += c;
        return i;
    }
  }

  // &"font,style": the font, and bold or italic when its style says so.
  size_t fontCode(const std::string& codes, size_t i) {
    flush();
    size_t end = codes.find('"', i + 1);
    if (end == std::string::npos) fail("The header or footer code &\" has no closing quote: " + codes);
    std::string& font = style_.font;
    font = codes.substr(i + 1, end - i - 1);
    if (size_t comma = font.find(','); comma != std::string::npos) {
      std::string style = LCase(font.substr(comma + 1));
      font.resize(comma);
      if (style.find("bold") != std::string::npos) style_.bold = true;
      if (style.find("italic") != std::string::npos) style_.italic = true;
    }
    if (font == "-") font.clear();
    return end;
  }

  // &Krrggbb: the colour.
  size_t colourCode(const std::string& codes, size_t i) {
    flush();
    std::string hex = codes.substr(i + 1, 6);
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      fail("The header or footer code &K needs six hexadecimal digits: " + codes);
    style_.colour = static_cast<int32_t>(std::stol(hex, nullptr, 16));
    return i + 6;
  }

  // Gives the last length characters the current style.
  void format(sal_Int32 length) {
    if (length <= 0) return;
    const CodeStyle& st = style_;
    cursor_->goLeft(static_cast<sal_Int16>(std::min<sal_Int32>(length, 32767)), true);
    Reference<XPropSet> p(cursor_, UNO_QUERY_THROW);
    setProp(p, "CharWeight", st.bold ? css::awt::FontWeight::BOLD : css::awt::FontWeight::NORMAL);
    setProp(p, "CharPosture", st.italic ? css::awt::FontSlant_ITALIC : css::awt::FontSlant_NONE);
    setProp(p, "CharUnderline",
            sal_Int16(st.dunder      ? css::awt::FontUnderline::DOUBLE
                      : st.underline ? css::awt::FontUnderline::SINGLE
                                     : css::awt::FontUnderline::NONE));
    setProp(p, "CharStrikeout", sal_Int16(st.strike ? css::awt::FontStrikeout::SINGLE : css::awt::FontStrikeout::NONE));
    setProp(p, "CharEscapement", sal_Int16(st.sup ? 33 : st.sub ? -33 : 0));
    setProp(p, "CharEscapementHeight", sal_Int8(st.sup || st.sub ? 58 : 100));
    if (!st.font.empty()) setProp(p, "CharFontName", fromUtf8(st.font));
    if (st.size > 0) setProp(p, "CharHeight", st.size);
    if (st.colour >= 0) setProp(p, "CharColor", sal_Int32(st.colour));
    cursor_->collapseToEnd();
  }

  // Writes the text gathered so far in the current style.
  void flush() {
    if (run_.empty()) return;
    ::rtl::OUString s = fromUtf8(run_);
    text_->insertString(Reference<css::text::XTextRange>(cursor_, UNO_QUERY_THROW), s, false);
    format(s.getLength());
    run_.clear();
  }

  void field(const CodeField& code) {
    flush();
    Reference<css::text::XTextContent> f(factory_->createInstance(::rtl::OUString::createFromAscii(code.service)),
                                         UNO_QUERY_THROW);
    if (code.fileFormat >= 0) setProp(Reference<XPropSet>(f, UNO_QUERY_THROW), "FileFormat", code.fileFormat);
    text_->insertTextContent(Reference<css::text::XTextRange>(cursor_, UNO_QUERY_THROW), f, false);
    format(1);
  }

  Reference<css::text::XText> text_;
  Reference<css::lang::XMultiServiceFactory> factory_;
  Reference<css::text::XTextCursor> cursor_;
  CodeStyle style_;
  std::string run_;
};

void writeCodes(const Reference<css::lang::XComponent>& m, const Reference<css::text::XText>& text,
                const std::string& codes) {
  CodeWriter(m, text).write(codes);
}

// Excel's view of a page style that it has not seen before.
void readPage(const Reference<XPropSet>& style, SheetPage& page) {
  bool hOn = getProp<sal_Bool>(style, "HeaderIsOn"), fOn = getProp<sal_Bool>(style, "FooterIsOn");
  double top = points(getProp<sal_Int32>(style, "TopMargin")),
         bottom = points(getProp<sal_Int32>(style, "BottomMargin"));
  // A style read from a file can report a header or footer height of the
  // whole page; such a height is taken as Excel's default band instead.
  auto band = [&](const char* property) {
    double h = points(getProp<sal_Int32>(style, property));
    return h > 0 && h <= 2 * 72 ? h : 0.45 * 72;
  };
  page.top = top + (hOn ? band("HeaderHeight") : 0);
  page.header = hOn ? top : 0.3 * 72;
  page.bottom = bottom + (fOn ? band("FooterHeight") : 0);
  page.footer = fOn ? bottom : 0.3 * 72;
  for (int k = 0; k < 2; ++k) {
    if (!(k == 0 ? hOn : fOn)) continue;
    Reference<css::sheet::XHeaderFooterContent> c(
        style->getPropertyValue(k == 0 ? "RightPageHeaderContent" : "RightPageFooterContent"), UNO_QUERY);
    if (!c.is()) continue;
    std::string* parts = k == 0 ? page.headers : page.footers;
    parts[0] = toUtf8(c->getLeftText()->getString());
    parts[1] = toUtf8(c->getCenterText()->getString());
    parts[2] = toUtf8(c->getRightText()->getString());
  }
  page.zoomOff = getProp<sal_Int16>(style, "ScaleToPagesX") > 0 || getProp<sal_Int16>(style, "ScaleToPagesY") > 0;
  page.fitWide = getProp<sal_Int16>(style, "ScaleToPagesX");
  page.fitTall = getProp<sal_Int16>(style, "ScaleToPagesY");
  if (!page.zoomOff) page.fitWide = page.fitTall = 1;
  page.known = true;
}

// Excel measures the header from the page edge (HeaderMargin) and the body
// from the page edge (TopMargin); Calc puts the header inside its top
// margin and the body after the header's height. The Calc values follow
// from the Excel ones whenever either changes.
void applyVertical(const Reference<XPropSet>& style, const SheetPage& page) {
  const double minGap = 0.1 * 72;
  for (int k = 0; k < 2; ++k) {
    bool header = k == 0;
    bool on = getProp<sal_Bool>(style, header ? "HeaderIsOn" : "FooterIsOn");
    double body = header ? page.top : page.bottom, edge = header ? page.header : page.footer;
    const char* margin = header ? "TopMargin" : "BottomMargin";
    if (on && body - edge >= minGap) {
      setProp(style, margin, mm100(edge));
      setProp(style, header ? "HeaderIsDynamicHeight" : "FooterIsDynamicHeight", sal_Bool(false));
      setProp(style, header ? "HeaderHeight" : "FooterHeight", mm100(body - edge));
      setProp(style, header ? "HeaderBodyDistance" : "FooterBodyDistance", mm100(std::min(minGap, (body - edge) / 2)));
    } else {
      setProp(style, margin, mm100(body));
    }
  }
}

}  // namespace

Reference<XPropSet> pageStyleOf(const Reference<css::lang::XComponent>& m, int32_t index, bool own) {
  Reference<XPropSet> sheet(sheetOf(m, index), UNO_QUERY_THROW);
  ::rtl::OUString name = getProp<::rtl::OUString>(sheet, "PageStyle");
  Reference<css::container::XNameContainer> styles = pageStyles(m);
  if (own) {
    Reference<css::sheet::XSpreadsheetDocument> doc(m, UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    int users = 0;
    for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
      Reference<XPropSet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
      if (getProp<::rtl::OUString>(s, "PageStyle") == name) ++users;
    }
    if (users > 1) {
      ::rtl::OUString sheetName = Reference<css::container::XNamed>(sheet, UNO_QUERY_THROW)->getName();
      ::rtl::OUString copy = name + " (" + sheetName + ")";
      for (int n = 2; styles->hasByName(copy); ++n)
        copy = name + " (" + sheetName + " " + ::rtl::OUString::number(n) + ")";
      Reference<css::lang::XMultiServiceFactory> factory(m, UNO_QUERY_THROW);
      Reference<XPropSet> fresh(factory->createInstance("com.sun.star.style.PageStyle"), UNO_QUERY_THROW);
      styles->insertByName(copy, Any(fresh));
      Reference<XPropSet> old(styles->getByName(name), UNO_QUERY_THROW);
      for (const css::beans::Property& p : old->getPropertySetInfo()->getProperties()) {
        if (p.Attributes & css::beans::PropertyAttribute::READONLY) continue;
        try {
          fresh->setPropertyValue(p.Name, old->getPropertyValue(p.Name));
        } catch (const css::uno::Exception&) {
        }
      }
      setProp(sheet, "PageStyle", copy);
      name = copy;
    }
  }
  return Reference<XPropSet>(styles->getByName(name), UNO_QUERY_THROW);
}

void ExcelPageSetup::onStyle(
    const std::string& what, bool change,
    const std::function<void(const Reference<css::lang::XComponent>&, const Reference<XPropSet>&, SheetPage&)>& body) {
  const WorkbookRef& book = sheet_->book();
  SheetState& state = book->state(sheet_->index());
  book->with(what, [&](const Reference<css::lang::XComponent>& m) {
    Reference<XPropSet> style = pageStyleOf(m, sheet_->index(), change && !state.ownStyle);
    if (change) state.ownStyle = true;
    if (!state.page.known) readPage(style, state.page);
    body(m, style, state.page);
  });
}

namespace {

// One free function per property keeps the member table readable.
using Setup = ExcelPageSetup;
using Model = Reference<css::lang::XComponent>;

Variant GetGrid(Setup& s, Frame&) {
  bool v = false;
  s.onStyle("reading PrintGridlines", false,
            [&](const Model&, const Reference<XPropSet>& st, SheetPage&) { v = getProp<sal_Bool>(st, "PrintGrid"); });
  return Variant(v);
}
Variant LetGrid(Setup& s, Frame& f) {
  bool v = CBool(f["value"]);
  s.onStyle("setting PrintGridlines", true,
            [&](const Model&, const Reference<XPropSet>& st, SheetPage&) { setProp(st, "PrintGrid", sal_Bool(v)); });
  return {};
}

// xlPortrait 1, xlLandscape 2.
Variant GetOrientation(Setup& s, Frame&) {
  bool landscape = false;
  s.onStyle("reading Orientation", false, [&](const Model&, const Reference<XPropSet>& st, SheetPage&) {
    landscape = getProp<sal_Bool>(st, "IsLandscape");
  });
  return Variant(int32_t{landscape ? 2 : 1});
}
Variant LetOrientation(Setup& s, Frame& f) {
  int32_t o = CLng(f["value"]);
  if (o != 1 && o != 2) fail("Unable to set the Orientation property of the PageSetup class: " + std::to_string(o));
  s.onStyle("setting Orientation", true, [&](const Model&, const Reference<XPropSet>& st, SheetPage&) {
    sal_Int32 w = getProp<sal_Int32>(st, "Width"), h = getProp<sal_Int32>(st, "Height");
    bool landscape = o == 2;
    if ((landscape && w < h) || (!landscape && w > h)) std::swap(w, h);
    setProp(st, "IsLandscape", sal_Bool(landscape));
    setProp(st, "Width", w);
    setProp(st, "Height", h);
  });
  return {};
}

// Headers and footers: part 0 left, 1 centre, 2 right.
Variant getPart(Setup& s, bool header, int part) {
  std::string v;
  s.onStyle("reading a header or footer", false, [&](const Model&, const Reference<XPropSet>&, SheetPage& p) {
    v = header ? p.headers[part] : p.footers[part];
  });
  return Variant(v);
}
Variant letPart(Setup& s, bool header, int part, Frame& f) {
  std::string codes = CStr(f["value"]);
  s.onStyle("setting a header or footer", true, [&](const Model& m, const Reference<XPropSet>& st, SheetPage& p) {
    const char* on = header ? "HeaderIsOn" : "FooterIsOn";
    if (!Trim(codes).empty() && !getProp<sal_Bool>(st, on)) {
      setProp(st, on, sal_Bool(true));
      // A header that was off had no parts of its own: none shows now but
      // the one set.
      Reference<css::sheet::XHeaderFooterContent> c(
          st->getPropertyValue(header ? "RightPageHeaderContent" : "RightPageFooterContent"), UNO_QUERY_THROW);
      c->getLeftText()->setString(::rtl::OUString());
      c->getCenterText()->setString(::rtl::OUString());
      c->getRightText()->setString(::rtl::OUString());
      for (const char* prop : {header ? "RightPageHeaderContent" : "RightPageFooterContent",
                               header ? "LeftPageHeaderContent" : "LeftPageFooterContent"})
        st->setPropertyValue(::rtl::OUString::createFromAscii(prop), Any(c));
      (header ? p.headers : p.footers)[0].clear();
      (header ? p.headers : p.footers)[1].clear();
      (header ? p.headers : p.footers)[2].clear();
    }
    for (const char* prop : {header ? "RightPageHeaderContent" : "RightPageFooterContent",
                             header ? "LeftPageHeaderContent" : "LeftPageFooterContent"}) {
      Reference<css::sheet::XHeaderFooterContent> c(st->getPropertyValue(::rtl::OUString::createFromAscii(prop)),
                                                    UNO_QUERY_THROW);
      writeCodes(m, part == 0 ? c->getLeftText() : part == 1 ? c->getCenterText() : c->getRightText(), codes);
      st->setPropertyValue(::rtl::OUString::createFromAscii(prop), Any(c));
    }
    (header ? p.headers : p.footers)[part] = codes;
    applyVertical(st, p);
  });
  return {};
}
Variant GetLH(Setup& s, Frame&) {
  return getPart(s, true, 0);
}
Variant GetCH(Setup& s, Frame&) {
  return getPart(s, true, 1);
}
Variant GetRH(Setup& s, Frame&) {
  return getPart(s, true, 2);
}
Variant GetLF(Setup& s, Frame&) {
  return getPart(s, false, 0);
}
Variant GetCF(Setup& s, Frame&) {
  return getPart(s, false, 1);
}
Variant GetRF(Setup& s, Frame&) {
  return getPart(s, false, 2);
}
Variant LetLH(Setup& s, Frame& f) {
  return letPart(s, true, 0, f);
}
Variant LetCH(Setup& s, Frame& f) {
  return letPart(s, true, 1, f);
}
Variant LetRH(Setup& s, Frame& f) {
  return letPart(s, true, 2, f);
}
Variant LetLF(Setup& s, Frame& f) {
  return letPart(s, false, 0, f);
}
Variant LetCF(Setup& s, Frame& f) {
  return letPart(s, false, 1, f);
}
Variant LetRF(Setup& s, Frame& f) {
  return letPart(s, false, 2, f);
}

// Margins in points. Left and right are the page style's own; the four
// vertical ones are Excel's and the style follows them.
enum class Margin { Top, Bottom, Header, Footer, Left, Right };
Variant getMargin(Setup& s, Margin which) {
  double v = 0;
  s.onStyle("reading a margin", false, [&](const Model&, const Reference<XPropSet>& st, SheetPage& p) {
    switch (which) {
      case Margin::Top:
        v = p.top;
        break;
      case Margin::Bottom:
        v = p.bottom;
        break;
      case Margin::Header:
        v = p.header;
        break;
      case Margin::Footer:
        v = p.footer;
        break;
      case Margin::Left:
        v = points(getProp<sal_Int32>(st, "LeftMargin"));
        break;
      case Margin::Right:
        v = points(getProp<sal_Int32>(st, "RightMargin"));
        break;
    }
  });
  return Variant(v);
}
Variant letMargin(Setup& s, Margin which, Frame& f) {
  double v = CDbl(f["value"]);
  if (v < 0 || v > 49 * 72) fail("Unable to set the margin property of the PageSetup class: " + DoubleToText(v));
  s.onStyle("setting a margin", true, [&](const Model&, const Reference<XPropSet>& st, SheetPage& p) {
    switch (which) {
      case Margin::Top:
        p.top = v;
        break;
      case Margin::Bottom:
        p.bottom = v;
        break;
      case Margin::Header:
        p.header = v;
        break;
      case Margin::Footer:
        p.footer = v;
        break;
      case Margin::Left:
        setProp(st, "LeftMargin", mm100(v));
        return;
      case Margin::Right:
        setProp(st, "RightMargin", mm100(v));
        return;
    }
    applyVertical(st, p);
  });
  return {};
}
Variant GetTop(Setup& s, Frame&) {
  return getMargin(s, Margin::Top);
}
Variant GetBottom(Setup& s, Frame&) {
  return getMargin(s, Margin::Bottom);
}
Variant GetHeaderM(Setup& s, Frame&) {
  return getMargin(s, Margin::Header);
}
Variant GetFooterM(Setup& s, Frame&) {
  return getMargin(s, Margin::Footer);
}
Variant GetLeft(Setup& s, Frame&) {
  return getMargin(s, Margin::Left);
}
Variant GetRight(Setup& s, Frame&) {
  return getMargin(s, Margin::Right);
}
Variant LetTop(Setup& s, Frame& f) {
  return letMargin(s, Margin::Top, f);
}
Variant LetBottom(Setup& s, Frame& f) {
  return letMargin(s, Margin::Bottom, f);
}
Variant LetHeaderM(Setup& s, Frame& f) {
  return letMargin(s, Margin::Header, f);
}
Variant LetFooterM(Setup& s, Frame& f) {
  return letMargin(s, Margin::Footer, f);
}
Variant LetLeft(Setup& s, Frame& f) {
  return letMargin(s, Margin::Left, f);
}
Variant LetRight(Setup& s, Frame& f) {
  return letMargin(s, Margin::Right, f);
}

// xlAutomatic (-4105) continues the numbering; Calc's 0 does the same.
constexpr int32_t kXlAutomatic = -4105;
Variant GetFirstPage(Setup& s, Frame&) {
  int32_t v = 0;
  s.onStyle("reading FirstPageNumber", false, [&](const Model&, const Reference<XPropSet>& st, SheetPage&) {
    v = getProp<sal_Int16>(st, "FirstPageNumber");
  });
  return Variant(v == 0 ? kXlAutomatic : v);
}
Variant LetFirstPage(Setup& s, Frame& f) {
  int32_t v = CLng(f["value"]);
  if (v != kXlAutomatic && (v < 1 || v > 32767))
    fail("Unable to set the FirstPageNumber property of the PageSetup class: " + std::to_string(v));
  s.onStyle("setting FirstPageNumber", true, [&](const Model&, const Reference<XPropSet>& st, SheetPage&) {
    setProp(st, "FirstPageNumber", sal_Int16(v == kXlAutomatic ? 0 : v));
  });
  return {};
}

// PrintArea: an address on this sheet, "" for the whole used area.
Variant GetPrintArea(Setup& s, Frame&) {
  std::string v;
  s.onStyle("reading PrintArea", false, [&](const Model& m, const Reference<XPropSet>&, SheetPage&) {
    Reference<css::sheet::XPrintAreas> areas(sheetOf(m, s.sheetIndex()), UNO_QUERY_THROW);
    for (const css::table::CellRangeAddress& a : areas->getPrintAreas()) {
      auto letters = [](int32_t c) {
        std::string t;
        for (++c; c > 0; c = (c - 1) / 26) t.insert(t.begin(), static_cast<char>('A' + (c - 1) % 26));
        return t;
      };
      if (!v.empty()) v += ",";
      v += "$" + letters(a.StartColumn) + "$" + std::to_string(a.StartRow + 1) + ":$" + letters(a.EndColumn) + "$" +
           std::to_string(a.EndRow + 1);
    }
  });
  return Variant(v);
}
Variant LetPrintArea(Setup& s, Frame& f) {
  std::string address = CStr(f["value"]);
  std::vector<css::table::CellRangeAddress> areas;
  if (!Trim(address).empty()) {
    Block b = parseAddress(address);
    css::table::CellRangeAddress a;
    a.Sheet = static_cast<sal_Int16>(s.sheetIndex());
    a.StartColumn = b.col1 - 1;
    a.StartRow = b.row1 - 1;
    a.EndColumn = b.col2 - 1;
    a.EndRow = b.row2 - 1;
    areas.push_back(a);
  }
  s.onStyle("setting PrintArea", false, [&](const Model& m, const Reference<XPropSet>&, SheetPage&) {
    Reference<css::sheet::XPrintAreas> pa(sheetOf(m, s.sheetIndex()), UNO_QUERY_THROW);
    pa->setPrintAreas(
        css::uno::Sequence<css::table::CellRangeAddress>(areas.data(), static_cast<sal_Int32>(areas.size())));
  });
  return {};
}

// Zoom: a percentage from 10 to 400, or False to fit the print to
// FitToPagesWide x FitToPagesTall pages (False there: as many as needed).
void applyScale(const Reference<XPropSet>& st, const SheetPage& p, int32_t percent) {
  if (p.zoomOff) {
    setProp(st, "ScaleToPagesX", sal_Int16(p.fitWide));
    setProp(st, "ScaleToPagesY", sal_Int16(p.fitTall));
  } else {
    setProp(st, "ScaleToPagesX", sal_Int16(0));
    setProp(st, "ScaleToPagesY", sal_Int16(0));
    setProp(st, "ScaleToPages", sal_Int16(0));
    setProp(st, "PageScale", sal_Int16(percent));
  }
}
Variant GetZoom(Setup& s, Frame&) {
  Variant v;
  s.onStyle("reading Zoom", false, [&](const Model&, const Reference<XPropSet>& st, SheetPage& p) {
    v = p.zoomOff ? Variant(false) : Variant(int32_t{getProp<sal_Int16>(st, "PageScale")});
  });
  return v;
}
Variant LetZoom(Setup& s, Frame& f) {
  bool off = f["value"].type() == VT::Boolean && !f["value"].asBool();
  int32_t percent = off ? 100 : CLng(f["value"]);
  if (!off && (percent < 10 || percent > 400))
    fail("Unable to set the Zoom property of the PageSetup class: " + std::to_string(percent));
  s.onStyle("setting Zoom", true, [&](const Model&, const Reference<XPropSet>& st, SheetPage& p) {
    p.zoomOff = off;
    applyScale(st, p, percent);
  });
  return {};
}
Variant fitGet(Setup& s, bool wide) {
  int32_t v = 0;
  s.onStyle("reading FitToPages", false,
            [&](const Model&, const Reference<XPropSet>&, SheetPage& p) { v = wide ? p.fitWide : p.fitTall; });
  return v == 0 ? Variant(false) : Variant(v);
}
Variant fitLet(Setup& s, bool wide, Frame& f) {
  int32_t v = f["value"].type() == VT::Boolean ? 0 : CLng(f["value"]);
  if (v < 0 || v > 1000) fail("Unable to set the FitToPages property of the PageSetup class: " + std::to_string(v));
  s.onStyle("setting FitToPages", true, [&](const Model&, const Reference<XPropSet>& st, SheetPage& p) {
    (wide ? p.fitWide : p.fitTall) = v;
    if (p.zoomOff) applyScale(st, p, 100);
  });
  return {};
}
Variant GetFitWide(Setup& s, Frame&) {
  return fitGet(s, true);
}
Variant GetFitTall(Setup& s, Frame&) {
  return fitGet(s, false);
}
Variant LetFitWide(Setup& s, Frame& f) {
  return fitLet(s, true, f);
}
Variant LetFitTall(Setup& s, Frame& f) {
  return fitLet(s, false, f);
}

}  // namespace

const MemberTable* ExcelPageSetup::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("PageSetup");
    Members<ExcelPageSetup> m(table);
    auto v = [] { return std::vector<ParamSpec>{P("value").byVal()}; };
    m.get("PrintGridlines", {}, &GetGrid)
        .let("PrintGridlines", v(), &LetGrid)
        .get("Orientation", {}, &GetOrientation)
        .let("Orientation", v(), &LetOrientation)
        .get("LeftHeader", {}, &GetLH)
        .let("LeftHeader", v(), &LetLH)
        .get("CenterHeader", {}, &GetCH)
        .let("CenterHeader", v(), &LetCH)
        .get("RightHeader", {}, &GetRH)
        .let("RightHeader", v(), &LetRH)
        .get("LeftFooter", {}, &GetLF)
        .let("LeftFooter", v(), &LetLF)
        .get("CenterFooter", {}, &GetCF)
        .let("CenterFooter", v(), &LetCF)
        .get("RightFooter", {}, &GetRF)
        .let("RightFooter", v(), &LetRF)
        .get("TopMargin", {}, &GetTop)
        .let("TopMargin", v(), &LetTop)
        .get("BottomMargin", {}, &GetBottom)
        .let("BottomMargin", v(), &LetBottom)
        .get("LeftMargin", {}, &GetLeft)
        .let("LeftMargin", v(), &LetLeft)
        .get("RightMargin", {}, &GetRight)
        .let("RightMargin", v(), &LetRight)
        .get("HeaderMargin", {}, &GetHeaderM)
        .let("HeaderMargin", v(), &LetHeaderM)
        .get("FooterMargin", {}, &GetFooterM)
        .let("FooterMargin", v(), &LetFooterM)
        .get("FirstPageNumber", {}, &GetFirstPage)
        .let("FirstPageNumber", v(), &LetFirstPage)
        .get("PrintArea", {}, &GetPrintArea)
        .let("PrintArea", v(), &LetPrintArea)
        .get("Zoom", {}, &GetZoom)
        .let("Zoom", v(), &LetZoom)
        .get("FitToPagesWide", {}, &GetFitWide)
        .let("FitToPagesWide", v(), &LetFitWide)
        .get("FitToPagesTall", {}, &GetFitTall)
        .let("FitToPagesTall", v(), &LetFitTall);
    return table;
  }();
  return &t;
}

}  // namespace pm::office::excel
