// "Word.Application" over LibreOffice Writer: the members the conversions
// call, each done with the office's own document model.
//
// Printing to a file: the document is exported to PDF by the office and the
// PDF becomes PostScript that keeps its text (PostScriptText.h). The office builds
// without a GUI toolkit (the -nogui packages) have no printers at all, and
// even the full builds print to file only through a CUPS queue; the export
// road gives the same pages with no printer installed.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <vector>

#include <com/sun/star/awt/FontSlant.hpp>
#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/NumberingType.hpp>
#include <com/sun/star/style/ParagraphAdjust.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/PageNumberType.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include "automation/Automation.h"
#include "automation/surfaces/Office.h"
#include "servers/office/OfficeBridge.h"
#include "servers/office/OpenModel.h"
#include "servers/office/PostScriptText.h"
#include "servers/office/UnoUtil.h"
#include "system/AtomicFile.h"
#include "system/CodePage.h"
#include "system/Files.h"
#include "system/Process.h"
#include "system/Spooler.h"
#include "system/SystemServices.h"
#include "system/clsRegistry.h"

namespace pm::office {
namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using XPropSet = css::beans::XPropertySet;

constexpr const char* kSource = "Pressmark Word server";

// Word's own error numbers for the faults a client can provoke.
constexpr int32_t kErrBadPassword = 5408;
constexpr int32_t kErrNoSuchMember = 5941;
constexpr int32_t kErrOutOfRange = 4608;
constexpr int32_t kErrPrinter = 5216;
constexpr int32_t kErrCannotOpen = 5174;
constexpr int32_t kErrCommandFailed = 4198;

[[noreturn]] void fail(int32_t number, const std::string& description) {
  raise(number, description, kSource);
}

int32_t pointsTo100thMm(double points) {
  return static_cast<int32_t>(points * 2540.0 / 72.0 + (points >= 0 ? 0.5 : -0.5));
}
double hundredthMmToPoints(int32_t v) {
  return static_cast<double>(v) * 72.0 / 2540.0;
}

bool truthy(const Variant& v) {
  return CLng(v) != 0;
}

class WordApp;

// One open document: the office's model, of the office process that opened
// it. Closed when the client closes it, when its application quits, or when
// the last reference goes.
class WordDocument : public Dispatch {
 public:
  WordDocument(Reference<css::lang::XComponent> model, uint64_t generation, std::string path,
               std::weak_ptr<WordApp> app)
      : model_(std::move(model)), generation_(generation), path_(std::move(path)), app_(std::move(app)) {}
  ~WordDocument() override { closeQuietly(); }

  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Document"; }

  // Runs body on this document's model in its office process.
  void with(const std::string& what,
            const std::function<void(const Reference<css::lang::XComponent>&, Session&)>& body) {
    if (!model_.is()) fail(kErrCommandFailed, "The document " + path_ + " is closed.");
    OfficeBridge::instance().runIn(generation_, what + " of " + path_, [&](Session& s) { body(model_, s); });
  }

  void closeQuietly() {
    if (!model_.is()) return;
    Reference<css::lang::XComponent> m = model_;
    model_.clear();
    ignoreErrors([&] {
      if (OfficeBridge::instance().generation() != generation_) return;  // gone with its process
      OfficeBridge::instance().runIn(generation_, "closing " + path_, [&](Session&) { closeModel(m); });
    });
  }

  // The page styles the body text uses: what Word calls the page setup of
  // the document.
  static std::vector<Reference<XPropSet>> usedPageStyles(const Reference<css::lang::XComponent>& m) {
    Reference<css::style::XStyleFamiliesSupplier> sup(m, UNO_QUERY_THROW);
    Reference<css::container::XNameAccess> styles(sup->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
    std::vector<Reference<XPropSet>> out;
    for (const ::rtl::OUString& n : styles->getElementNames()) {
      Reference<css::style::XStyle> st(styles->getByName(n), UNO_QUERY);
      if (st.is() && st->isInUse()) out.emplace_back(st, UNO_QUERY);
    }
    if (out.empty()) out.push_back(firstPageStyle(m));
    return out;
  }

  // The page style of the first paragraph: the first section's.
  static Reference<XPropSet> firstPageStyle(const Reference<css::lang::XComponent>& m) {
    Reference<css::text::XTextDocument> doc(m, UNO_QUERY_THROW);
    Reference<css::text::XText> text = doc->getText();
    Reference<XPropSet> start(text->createTextCursorByRange(text->getStart()), UNO_QUERY_THROW);
    ::rtl::OUString name = getProp<::rtl::OUString>(start, "PageStyleName");
    Reference<css::style::XStyleFamiliesSupplier> sup(m, UNO_QUERY_THROW);
    Reference<css::container::XNameAccess> styles(sup->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
    return Reference<XPropSet>(styles->getByName(name), UNO_QUERY_THROW);
  }

  static int32_t pageCount(const Reference<css::lang::XComponent>& m) {
    Reference<css::frame::XModel> model(m, UNO_QUERY_THROW);
    Reference<XPropSet> ctl(model->getCurrentController(), UNO_QUERY);
    if (ctl.is()) {
      try {
        return getProp<sal_Int32>(ctl, "PageCount");
      } catch (const css::uno::Exception&) {
      }
    }
    Reference<css::text::XTextViewCursorSupplier> vs(model->getCurrentController(), UNO_QUERY_THROW);
    Reference<css::text::XPageCursor> pc(vs->getViewCursor(), UNO_QUERY_THROW);
    pc->jumpToLastPage();
    return pc->getPage();
  }

  Variant PageSetup(Frame&);
  Variant Sections(Frame&);
  Variant Content(Frame&);
  Variant PrintOut(Frame&);
  Variant ExportAsFixedFormat(Frame&);
  Variant Close(Frame&);
  Variant SaveAs(Frame&);
  Variant FullName(Frame&) { return Variant(path_); }
  Variant ComputePages(Frame&) {
    int32_t n = 0;
    with("counting the pages", [&](const Reference<css::lang::XComponent>& m, Session&) { n = pageCount(m); });
    return Variant(n);
  }

  bool open() const { return model_.is(); }
  void requireOpen() const {
    if (!model_.is()) fail(kErrCommandFailed, "The document " + path_ + " is closed.");
  }

 private:
  Reference<css::lang::XComponent> model_;
  uint64_t generation_;
  std::string path_;
  std::weak_ptr<WordApp> app_;
};

using DocRef = std::shared_ptr<WordDocument>;

// ---- PageSetup ----
class WordPageSetup : public Dispatch {
 public:
  explicit WordPageSetup(DocRef doc) : doc_(std::move(doc)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "PageSetup"; }

  Variant GetOrientation(Frame&) {
    bool landscape = false;
    doc_->with("reading the orientation", [&](const Reference<css::lang::XComponent>& m, Session&) {
      landscape = getProp<sal_Bool>(WordDocument::firstPageStyle(m), "IsLandscape");
    });
    return Variant(int32_t{landscape ? 1 : 0});
  }
  Variant LetOrientation(Frame& f) {
    int32_t o = CLng(f[0]);
    if (o != 0 && o != 1)
      fail(kErrOutOfRange, "Value out of range: Orientation must be 0 (portrait) or 1 (landscape).");
    doc_->with("setting the orientation", [&](const Reference<css::lang::XComponent>& m, Session&) {
      for (const Reference<XPropSet>& st : WordDocument::usedPageStyles(m)) {
        sal_Int32 w = getProp<sal_Int32>(st, "Width"), h = getProp<sal_Int32>(st, "Height");
        bool wantLandscape = o == 1;
        if ((wantLandscape && w < h) || (!wantLandscape && w > h)) std::swap(w, h);
        setProp(st, "IsLandscape", sal_Bool(wantLandscape));
        setProp(st, "Width", w);
        setProp(st, "Height", h);
      }
    });
    return {};
  }
  Variant margin(const char* property) {
    double pt = 0;
    doc_->with(std::string("reading ") + property, [&](const Reference<css::lang::XComponent>& m, Session&) {
      pt = hundredthMmToPoints(getProp<sal_Int32>(WordDocument::firstPageStyle(m), property));
    });
    return Variant(static_cast<float>(pt));
  }
  Variant setMargin(const char* property, Frame& f) {
    double pt = CDbl(f[0]);
    // Word takes margins from 0 up to the page size (22 inches at most).
    if (pt < 0 || pt > 1584)
      fail(kErrOutOfRange, std::string("Value out of range: ") + property + " " + DoubleToText(pt) + ".");
    doc_->with(std::string("setting ") + property, [&](const Reference<css::lang::XComponent>& m, Session&) {
      for (const Reference<XPropSet>& st : WordDocument::usedPageStyles(m)) setProp(st, property, pointsTo100thMm(pt));
    });
    return {};
  }
  Variant GetTop(Frame&) { return margin("TopMargin"); }
  Variant GetLeft(Frame&) { return margin("LeftMargin"); }
  Variant GetRight(Frame&) { return margin("RightMargin"); }
  Variant GetBottom(Frame&) { return margin("BottomMargin"); }
  Variant LetTop(Frame& f) { return setMargin("TopMargin", f); }
  Variant LetLeft(Frame& f) { return setMargin("LeftMargin", f); }
  Variant LetRight(Frame& f) { return setMargin("RightMargin", f); }
  Variant LetBottom(Frame& f) { return setMargin("BottomMargin", f); }
  Variant PageWidth(Frame&) {
    double pt = 0;
    doc_->with("reading the page width", [&](const Reference<css::lang::XComponent>& m, Session&) {
      pt = hundredthMmToPoints(getProp<sal_Int32>(WordDocument::firstPageStyle(m), "Width"));
    });
    return Variant(static_cast<float>(pt));
  }
  Variant PageHeight(Frame&) {
    double pt = 0;
    doc_->with("reading the page height", [&](const Reference<css::lang::XComponent>& m, Session&) {
      pt = hundredthMmToPoints(getProp<sal_Int32>(WordDocument::firstPageStyle(m), "Height"));
    });
    return Variant(static_cast<float>(pt));
  }

 private:
  DocRef doc_;
};

// ---- Page numbers of the first section's primary header or footer ----
class WordPageNumbers : public Dispatch {
 public:
  WordPageNumbers(DocRef doc, bool footer) : doc_(std::move(doc)), footer_(footer) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "PageNumbers"; }

  // Add(PageNumberAlignment, FirstPage): a page number field in its own
  // paragraph of the header or footer, aligned as asked; FirstPage False
  // leaves the first page without it (a first page of its own).
  Variant Add(Frame& f) {
    int32_t align = f.missing(0) ? 1 : CLng(f[0]);
    bool firstPage = f.missing(1) ? true : truthy(f[1]);
    css::style::ParagraphAdjust adjust;
    switch (align) {
      case 0:
        adjust = css::style::ParagraphAdjust_LEFT;
        break;
      case 1:
        adjust = css::style::ParagraphAdjust_CENTER;
        break;
      case 2:
        adjust = css::style::ParagraphAdjust_RIGHT;
        break;
      default:
        fail(kErrOutOfRange, "Value out of range: PageNumberAlignment " + std::to_string(align) +
                                 " (left 0, center 1 and right 2 are supported).");
    }
    const char* on = footer_ ? "FooterIsOn" : "HeaderIsOn";
    const char* textName = footer_ ? "FooterText" : "HeaderText";
    doc_->with("adding page numbers", [&](const Reference<css::lang::XComponent>& m, Session&) {
      Reference<XPropSet> style = WordDocument::firstPageStyle(m);
      bool wasOn = getProp<sal_Bool>(style, on);
      setProp(style, on, sal_Bool(true));
      if (!firstPage) setProp(style, "FirstIsShared", sal_Bool(false));
      Reference<css::text::XText> text(style->getPropertyValue(::rtl::OUString::createFromAscii(textName)),
                                       UNO_QUERY_THROW);
      Reference<css::text::XTextCursor> cursor = text->createTextCursor();
      cursor->gotoEnd(false);
      if (wasOn && !text->getString().isEmpty())
        text->insertControlCharacter(Reference<css::text::XTextRange>(cursor, UNO_QUERY_THROW), 0 /* PARAGRAPH_BREAK */,
                                     false);
      Reference<css::lang::XMultiServiceFactory> factory(m, UNO_QUERY_THROW);
      Reference<XPropSet> field(factory->createInstance("com.sun.star.text.TextField.PageNumber"), UNO_QUERY_THROW);
      setProp(field, "NumberingType", sal_Int16(css::style::NumberingType::ARABIC));
      setProp(field, "SubType", css::text::PageNumberType_CURRENT);
      Reference<css::text::XTextContent> content(field, UNO_QUERY_THROW);
      text->insertTextContent(Reference<css::text::XTextRange>(cursor, UNO_QUERY_THROW), content, false);
      Reference<XPropSet> para(cursor, UNO_QUERY_THROW);
      setProp(para, "ParaAdjust", sal_Int16(adjust));
    });
    ++count_;
    return {};
  }
  Variant Count(Frame&) { return Variant(count_); }

 private:
  DocRef doc_;
  bool footer_;
  int32_t count_ = 0;
};

class WordHeaderFooter : public Dispatch {
 public:
  WordHeaderFooter(DocRef doc, bool footer) : doc_(std::move(doc)), footer_(footer) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return footer_ ? "Footer" : "Header"; }
  Variant PageNumbers(Frame&) {
    if (!numbers_) numbers_ = std::make_shared<WordPageNumbers>(doc_, footer_);
    return Variant(ObjectRef(numbers_));
  }
  Variant Exists(Frame&) { return Variant(true); }

 private:
  DocRef doc_;
  bool footer_;
  std::shared_ptr<WordPageNumbers> numbers_;
};

// Headers(i) / Footers(i): only the primary one (1) is kept apart here; the
// first-page and even-page kinds have no separate object in this server.
class WordHeadersFooters : public Dispatch {
 public:
  WordHeadersFooters(DocRef doc, bool footer) : doc_(std::move(doc)), footer_(footer) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return footer_ ? "HeadersFooters (footers)" : "HeadersFooters (headers)"; }
  Variant Item(Frame& f) {
    int32_t i = CLng(f[0]);
    if (i != 1)
      fail(kErrNoSuchMember, "The requested member of the collection does not exist: only the primary " +
                                 std::string(footer_ ? "footer" : "header") + " (1) is available.");
    return Variant(ObjectRef(std::make_shared<WordHeaderFooter>(doc_, footer_)));
  }
  Variant Count(Frame&) { return Variant(int32_t{1}); }

 private:
  DocRef doc_;
  bool footer_;
};

class WordSection : public Dispatch {
 public:
  explicit WordSection(DocRef doc) : doc_(std::move(doc)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Section"; }
  Variant hf(Frame& f, bool footer) {
    auto coll = std::make_shared<WordHeadersFooters>(doc_, footer);
    if (f.missing(0)) return Variant(ObjectRef(coll));
    return coll->Item(f);
  }
  Variant Footers(Frame& f) { return hf(f, true); }
  Variant Headers(Frame& f) { return hf(f, false); }

 private:
  DocRef doc_;
};

class WordSections : public Dispatch {
 public:
  explicit WordSections(DocRef doc) : doc_(std::move(doc)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Sections"; }
  Variant Item(Frame& f) {
    int32_t i = CLng(f[0]);
    if (i != 1)
      fail(kErrNoSuchMember,
           "The requested member of the collection does not exist: only the first section (1) is available.");
    return Variant(ObjectRef(std::make_shared<WordSection>(doc_)));
  }
  Variant Count(Frame&) { return Variant(int32_t{1}); }

 private:
  DocRef doc_;
};

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
    std::string n = CStr(f[0]);
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
    float s = CSng(f[0]);
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
    float w = truthy(f[0]) ? css::awt::FontWeight::BOLD : css::awt::FontWeight::NORMAL;
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
    css::awt::FontSlant s = truthy(f[0]) ? css::awt::FontSlant_ITALIC : css::awt::FontSlant_NONE;
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
    int32_t w = CLng(f[0]);
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
    int32_t w = CLng(f[0]);
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

// ---- Application and Documents ----
class WordApp : public Dispatch {
 public:
  WordApp() = default;
  ~WordApp() override { closeAll(); }
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return kWordProgId; }

  void closeAll() {
    for (auto& w : docs_)
      if (auto d = w.lock()) d->closeQuietly();
    docs_.clear();
  }
  void requireRunning() const {
    if (quit_) fail(kErrServerDied, "The application has quit.");
  }

  Variant Documents(Frame&);
  Variant GetDisplayAlerts(Frame&) { return Variant(displayAlerts_); }
  // wdAlertsNone 0, wdAlertsMessageBox -2, wdAlertsAll -1. No alert is
  // ever shown by this server; the setting is kept for the client.
  Variant LetDisplayAlerts(Frame& f) {
    int32_t v = CLng(f[0]);
    if (v != 0 && v != -1 && v != -2)
      fail(kErrOutOfRange, "Value out of range: DisplayAlerts " + std::to_string(v) + ".");
    displayAlerts_ = v;
    return {};
  }
  Variant GetActivePrinter(Frame&) {
    requireRunning();
    return Variant(activePrinter_);
  }
  Variant LetActivePrinter(Frame& f) {
    requireRunning();
    std::string p = CStr(f[0]);
    if (!printerKnown(p)) fail(kErrPrinter, "There is a printer error: the printer \"" + p + "\" is not installed.");
    activePrinter_ = p;
    return {};
  }
  Variant Quit(Frame&) {
    closeAll();
    quit_ = true;
    return {};
  }
  Variant Version(Frame&) { return Variant("16.0"); }
  Variant Name(Frame&) { return Variant("Pressmark Word server"); }

  DocRef open(const std::string& path, const Variant& password, const Variant& writePassword);
  const std::string& activePrinter() const { return activePrinter_; }

 private:
  friend class WordDocuments;
  std::vector<std::weak_ptr<WordDocument>> docs_;
  int32_t displayAlerts_ = -1;
  std::string activePrinter_ = kGenericPostScript;
  bool quit_ = false;
};

class WordDocuments : public Dispatch {
 public:
  explicit WordDocuments(std::shared_ptr<WordApp> app) : app_(std::move(app)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Documents"; }
  Variant Open(Frame& f) {
    app_->requireRunning();
    std::string path = CStr(f[0]);
    DocRef d = app_->open(path, f[1], f[2]);
    return Variant(ObjectRef(d));
  }
  Variant Count(Frame&) {
    int32_t n = 0;
    for (auto& w : app_->docs_)
      if (auto d = w.lock(); d && d->open()) ++n;
    return Variant(n);
  }

 private:
  std::shared_ptr<WordApp> app_;
};

Variant WordApp::Documents(Frame&) {
  requireRunning();
  return Variant(ObjectRef(std::make_shared<WordDocuments>(std::static_pointer_cast<WordApp>(shared_from_this()))));
}

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  return LCase(ext);
}

DocRef WordApp::open(const std::string& path, const Variant& password, const Variant& writePassword) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    fail(kErrCannotOpen, "This file could not be found: " + path);
  std::string pwd = password.isMissing() || password.isEmpty() ? std::string() : CStr(password);
  std::string wpwd = writePassword.isMissing() || writePassword.isEmpty() ? std::string() : CStr(writePassword);
  Reference<css::lang::XComponent> model;
  uint64_t gen = 0;
  LoadFailure failure;
  std::string textCopy;
  struct RemoveCopy {
    std::string& p;
    ~RemoveCopy() {
      if (!p.empty()) ::unlink(p.c_str());
    }
  } removeCopy{textCopy};
  OfficeBridge::instance().run("opening " + path, [&](Session& s) {
    // Documents are only read: opened read-only, the office takes no lock
    // on them (a lock left by a killed office would keep the next one from
    // opening the same file) and a write password is never needed; the
    // formatting the conversions apply lives in memory only.
    (void)wpwd;
    // Plain text is 8-bit text in the system code page, its lines become
    // paragraphs, whatever the type detection guesses. The office reads it
    // as UTF-8: a file in another code page is read from a UTF-8 copy in
    // the office's private folder (ASCII is UTF-8 already).
    std::string ext = lowerExtension(path);
    std::string load = path;
    LoadFilter filter;
    if (ext == ".txt" || ext == ".text" || ext == ".log" || ext == ".csv" || ext == ".prn") {
      filter = {"Text (encoded)", "UTF8,CRLF,,,"};
      std::string cp = UCase(codePageName());
      if (cp != "UTF-8" && cp != "UTF8" && cp != "ANSI_X3.4-1968" && cp != "ASCII" && cp != "US-ASCII") {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        textCopy = OfficeBridge::instance().workDir() + "/text-" + GetRandomFileName() + ext;
        std::ofstream(textCopy, std::ios::binary) << fromCodePage(bytes);
        load = textCopy;
      }
    }
    model = loadHidden(s, load, pwd, failure, filter);
    gen = s.generation;
    if (!model.is()) return;
    if (!Reference<css::text::XTextDocument>(model, UNO_QUERY).is()) {
      closeModel(model);
      model.clear();
      fail(kErrCannotOpen, "Word cannot open this file as a text document: " + path);
    }
  });
  if (!model.is()) {
    // A password request (answered "abort") means the password was wrong
    // or missing.
    if (failure.passwordAsked)
      fail(kErrBadPassword, "The password is incorrect. Word cannot open the document. (" + path + ")");
    fail(kErrCannotOpen, "Word cannot open the document " + path + (failure.why.empty() ? "" : ": " + failure.why));
  }
  auto doc = std::make_shared<WordDocument>(model, gen, path, std::static_pointer_cast<WordApp>(shared_from_this()));
  docs_.push_back(doc);
  return doc;
}

// ---- Document members ----
Variant WordDocument::PageSetup(Frame&) {
  requireOpen();
  return Variant(
      ObjectRef(std::make_shared<WordPageSetup>(std::static_pointer_cast<WordDocument>(shared_from_this()))));
}
Variant WordDocument::Sections(Frame& f) {
  requireOpen();
  auto coll = std::make_shared<WordSections>(std::static_pointer_cast<WordDocument>(shared_from_this()));
  if (f.missing(0)) return Variant(ObjectRef(coll));
  return coll->Item(f);
}
Variant WordDocument::Content(Frame&) {
  requireOpen();
  return Variant(ObjectRef(std::make_shared<WordRange>(std::static_pointer_cast<WordDocument>(shared_from_this()))));
}

// Close(SaveChanges): nothing is ever saved by this server. wdDoNotSaveChanges
// (0, False) and an omitted argument close the document; asking to save
// is refused rather than dropped.
Variant WordDocument::Close(Frame& f) {
  if (!f.missing(0)) {
    int32_t save = CLng(f[0]);
    if (save != 0) fail(kErrCommandFailed, "Close with saving is not supported: documents are closed without saving.");
  }
  if (!model_.is()) return {};
  Reference<css::lang::XComponent> m = model_;
  uint64_t gen = generation_;
  model_.clear();
  if (OfficeBridge::instance().generation() != gen) return {};  // lost with its process: nothing to close
  OfficeBridge::instance().runIn(gen, "closing " + path_, [&](Session&) { closeModel(m); });
  return {};
}

// SaveAs(FileName, FileFormat, LockComments, Password, AddToRecentFiles,
// WritePassword): the format follows the extension (.odt, .docx, .doc,
// .rtf, .txt); a password encrypts the saved file (.odt).
Variant WordDocument::SaveAs(Frame& f) {
  std::string target = CStr(f[0]);
  std::string ext = lowerExtension(target);
  const char* filter = ext == ".odt"    ? "writer8"
                       : ext == ".docx" ? "MS Word 2007 XML"
                       : ext == ".doc"  ? "MS Word 97"
                       : ext == ".rtf"  ? "Rich Text Format"
                       : ext == ".txt"  ? "Text (encoded)"
                                        : nullptr;
  if (!filter) fail(kErrCommandFailed, "SaveAs: no file format for the extension of " + target + ".");
  if (!f.missing(1)) fail(kErrCommandFailed, "SaveAs: FileFormat is not supported; the format follows the extension.");
  std::string pwd = f.missing(3) ? std::string() : CStr(f[3]);
  std::string wpwd = f.missing(5) ? std::string() : CStr(f[5]);
  if (!wpwd.empty()) fail(kErrCommandFailed, "SaveAs: a write password is not supported.");
  // The office encrypts only its own format reliably; a password it would
  // drop for another format is refused rather than ignored.
  if (!pwd.empty() && ext != ".odt") fail(kErrCommandFailed, "SaveAs: a password can protect .odt files only.");
  with("saving", [&](const Reference<css::lang::XComponent>& m, Session&) {
    std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString::createFromAscii(filter)),
                                                 prop("Overwrite", true)};
    if (ext == ".txt") md.push_back(prop("FilterOptions", ::rtl::OUString("UTF8,CRLF,,,")));
    if (!pwd.empty()) md.push_back(prop("Password", fromUtf8(pwd)));
    Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
    store->storeToURL(fileUrl(target), props(md));
  });
  return {};
}

// Word's page list: numbers and ranges separated by commas ("1,3,5-7").
bool validPages(const std::string& pages) {
  static const std::regex re(R"(^\s*\d+\s*(-\s*\d+\s*)?(,\s*\d+\s*(-\s*\d+\s*)?)*$)");
  return std::regex_match(pages, re);
}

// PrintOut(Background, Append, Range, OutputFileName, From, To, Item, Copies,
// Pages, PageType, PrintToFile, Collate, FileName, ...). The output always
// goes to OutputFileName as PostScript; the call returns when the file is
// complete, also when Background is True.
Variant WordDocument::PrintOut(Frame& f) {
  auto app = app_.lock();
  std::string printer = app ? app->activePrinter() : kGenericPostScript;
  if (!f.missing(1) && truthy(f[1])) fail(kErrCommandFailed, "PrintOut: Append is not supported.");
  int32_t range = f.missing(2) ? 0 : CLng(f[2]);
  std::string out = f.missing(3) ? std::string() : CStr(f[3]);
  if (!f.missing(6) && CLng(f[6]) != 0)
    fail(kErrCommandFailed, "PrintOut: only the document's content can be printed (Item 0).");
  if (!f.missing(7) && CLng(f[7]) != 1) fail(kErrCommandFailed, "PrintOut: only one copy can be printed to a file.");
  if (!f.missing(9) && CLng(f[9]) != 0)
    fail(kErrCommandFailed, "PrintOut: only all pages (PageType 0) can be printed.");
  if (!f.missing(12) && !CStr(f[12]).empty())
    fail(kErrCommandFailed, "PrintOut: FileName (printing another document) is not supported.");
  if (Trim(out).empty())
    fail(kErrCommandFailed,
         "PrintOut: this server prints to files only; give OutputFileName (printer \"" + printer + "\").");

  std::string pageRange;  // empty: every page
  switch (range) {
    case 0:
      break;   // wdPrintAllDocument
    case 3: {  // wdPrintFromTo
      int32_t from = f.missing(4) ? 1 : CLng(CStr(f[4]).empty() ? Variant(int32_t{1}) : f[4]);
      int32_t to = f.missing(5) || CStr(f[5]).empty() ? 0 : CLng(f[5]);
      if (from < 1 || (to != 0 && to < from)) fail(kErrOutOfRange, "PrintOut: the page range From/To is not valid.");
      pageRange = std::to_string(from) + "-" + (to ? std::to_string(to) : std::string());
      break;
    }
    case 4: {  // wdPrintRangeOfPages
      std::string pages = f.missing(8) ? std::string() : CStr(f[8]);
      if (!validPages(pages)) fail(kErrOutOfRange, "PrintOut: the page range \"" + pages + "\" is not valid.");
      for (char c : pages)
        if (!std::isspace(static_cast<unsigned char>(c))) pageRange += c;
      break;
    }
    default:
      fail(kErrOutOfRange,
           "PrintOut: Range " + std::to_string(range) + " is not supported (0 all, 3 from-to, 4 pages).");
  }

  // The office writes the pages as PDF into its private folder. A page list
  // that names no page of the document would print nothing: that is an
  // error, not an empty file.
  std::string pdf;
  int32_t pages = 0;
  bool anyPage = true;
  with("printing", [&](const Reference<css::lang::XComponent>& m, Session&) {
    pages = pageCount(m);
    if (!pageRange.empty()) {
      anyPage = false;
      std::regex num(R"(\d+)");
      for (auto it = std::sregex_iterator(pageRange.begin(), pageRange.end(), num); it != std::sregex_iterator(); ++it)
        if (std::stol(it->str()) <= pages && std::stol(it->str()) >= 1) anyPage = true;
      if (!anyPage) return;
    }
    pdf = OfficeBridge::instance().workDir() + "/print-" + GetRandomFileName() + ".pdf";
    std::vector<css::beans::PropertyValue> filterData;
    if (!pageRange.empty()) filterData.push_back(prop("PageRange", fromUtf8(pageRange)));
    css::uno::Sequence<css::beans::PropertyValue> fd = props(filterData);
    std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString("writer_pdf_Export")),
                                                 prop("FilterData", fd)};
    Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
    store->storeToURL(fileUrl(pdf), props(md));
  });
  if (!anyPage)
    fail(kErrOutOfRange, "PrintOut: the page range \"" + pageRange + "\" names no page of the document (" +
                             std::to_string(pages) + " pages).");
  struct RemovePdf {
    std::string p;
    ~RemovePdf() { ::unlink(p.c_str()); }
  } removePdf{pdf};
  struct stat st {};
  if (::stat(pdf.c_str(), &st) != 0 || st.st_size == 0) fail(kErrCommandFailed, "PrintOut: the office wrote no pages.");

  PostScriptJob ps;
  ps.timeout = OfficeBridge::instance().callTimeout();
  ps.errorNumber = kErrCommandFailed;
  ps.source = kSource;
  printPdfToPostScript(pdf, out, ps);
  return {};
}

// ExportAsFixedFormat(OutputFileName, ExportFormat, OpenAfterExport,
// OptimizeFor, Range, From, To, Item, ...): the office's own PDF of the
// document (wdExportFormatPDF), all of it or pages From to To, written
// beside OutputFileName and renamed into place when complete.
Variant WordDocument::ExportAsFixedFormat(Frame& f) {
  constexpr int32_t kFormatPdf = 17, kAllDocument = 0, kFromTo = 3;
  std::string out = CStr(f[0]);
  if (Trim(out).empty()) fail(kErrCommandFailed, "ExportAsFixedFormat: give OutputFileName.");
  if (CLng(f[1]) != kFormatPdf)
    fail(kErrCommandFailed, "ExportAsFixedFormat: only PDF (ExportFormat 17) can be written by this server.");
  if (!f.missing(2) && truthy(f[2]))
    fail(kErrCommandFailed, "ExportAsFixedFormat: this server cannot open the exported file.");
  if (!f.missing(7) && CLng(f[7]) != 0)
    fail(kErrCommandFailed, "ExportAsFixedFormat: only the document's content can be exported (Item 0).");
  int32_t range = f.missing(4) ? kAllDocument : CLng(f[4]);
  std::string pageRange;
  if (range == kFromTo) {
    int32_t from = f.missing(5) ? 1 : CLng(f[5]);
    int32_t to = f.missing(6) ? 0 : CLng(f[6]);
    if (from < 1 || (to != 0 && to < from))
      fail(kErrOutOfRange, "ExportAsFixedFormat: the page range From/To is not valid.");
    pageRange = std::to_string(from) + "-" + (to ? std::to_string(to) : std::string());
  } else if (range != kAllDocument) {
    fail(kErrOutOfRange,
         "ExportAsFixedFormat: Range " + std::to_string(range) + " is not supported (0 all, 3 from-to).");
  }
  std::string pdf = OfficeBridge::instance().workDir() + "/export-" + GetRandomFileName() + ".pdf";
  struct RemovePdf {
    std::string p;
    ~RemovePdf() { ::unlink(p.c_str()); }
  } removePdf{pdf};
  with("exporting", [&](const Reference<css::lang::XComponent>& m, Session&) {
    std::vector<css::beans::PropertyValue> filterData;
    if (!pageRange.empty()) filterData.push_back(prop("PageRange", fromUtf8(pageRange)));
    css::uno::Sequence<css::beans::PropertyValue> fd = props(filterData);
    std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString("writer_pdf_Export")),
                                                 prop("FilterData", fd)};
    Reference<css::frame::XStorable> store(m, UNO_QUERY_THROW);
    store->storeToURL(fileUrl(pdf), props(md));
  });
  std::ifstream in(pdf, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) fail(kErrCommandFailed, "ExportAsFixedFormat: the office wrote no pages.");
  try {
    AtomicFile target(out);
    target.write(bytes);
    target.commit();
  } catch (const AtomicFileError& e) {
    raiseFileError(e.error(), out);
  }
  return {};
}

// ---- Member tables ----
const MemberTable* WordApp::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Application");
    Members<WordApp> m(table);
    m.get("Documents", {}, &WordApp::Documents)
        .get("DisplayAlerts", {}, &WordApp::GetDisplayAlerts)
        .let("DisplayAlerts", {P("value").byVal()}, &WordApp::LetDisplayAlerts)
        .get("ActivePrinter", {}, &WordApp::GetActivePrinter)
        .let("ActivePrinter", {P("value").byVal()}, &WordApp::LetActivePrinter)
        .method("Quit", {P("SaveChanges").opt(), P("OriginalFormat").opt(), P("RouteDocument").opt()}, &WordApp::Quit)
        .get("Version", {}, &WordApp::Version)
        .get("Name", {}, &WordApp::Name);
    return table;
  }();
  return &t;
}

const MemberTable* WordDocuments::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Documents");
    Members<WordDocuments> m(table);
    m.method(
         "Open",
         {P("FileName"), P("PasswordDocument").opt(), P("WritePasswordDocument").opt(), P("ConfirmConversions").opt(),
          P("ReadOnly").opt(), P("AddToRecentFiles").opt(), P("PasswordTemplate").opt(), P("Revert").opt(),
          P("WritePasswordTemplate").opt(), P("Format").opt(), P("Encoding").opt(), P("Visible").opt()},
         &WordDocuments::Open)
        .get("Count", {}, &WordDocuments::Count);
    return table;
  }();
  return &t;
}

const MemberTable* WordDocument::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Document");
    Members<WordDocument> m(table);
    m.get("PageSetup", {}, &WordDocument::PageSetup)
        .get("Sections", {P("Index").opt()}, &WordDocument::Sections)
        .get("Content", {}, &WordDocument::Content)
        .get("FullName", {}, &WordDocument::FullName)
        .method("ComputeStatistics", {P("Statistic"), P("IncludeFootnotesAndEndnotes").opt()},
                &WordDocument::ComputePages)
        .method("PrintOut",
                {P("Background").opt(), P("Append").opt(), P("Range").opt(), P("OutputFileName").opt(), P("From").opt(),
                 P("To").opt(), P("Item").opt(), P("Copies").opt(), P("Pages").opt(), P("PageType").opt(),
                 P("PrintToFile").opt(), P("Collate").opt(), P("FileName").opt(), P("ActivePrinterMacGX").opt(),
                 P("ManualDuplexPrint").opt(), P("PrintZoomColumn").opt(), P("PrintZoomRow").opt(),
                 P("PrintZoomPaperWidth").opt(), P("PrintZoomPaperHeight").opt()},
                &WordDocument::PrintOut)
        .method("ExportAsFixedFormat",
                {P("OutputFileName"), P("ExportFormat"), P("OpenAfterExport").opt(), P("OptimizeFor").opt(),
                 P("Range").opt(), P("From").opt(), P("To").opt(), P("Item").opt(), P("IncludeDocProps").opt(),
                 P("KeepIRM").opt(), P("CreateBookmarks").opt(), P("DocStructureTags").opt(),
                 P("BitmapMissingFonts").opt(), P("UseISO19005_1").opt()},
                &WordDocument::ExportAsFixedFormat)
        .method("Close", {P("SaveChanges").opt(), P("OriginalFormat").opt(), P("RouteDocument").opt()},
                &WordDocument::Close)
        .method("SaveAs",
                {P("FileName"), P("FileFormat").opt(), P("LockComments").opt(), P("Password").opt(),
                 P("AddToRecentFiles").opt(), P("WritePassword").opt()},
                &WordDocument::SaveAs);
    return table;
  }();
  return &t;
}

const MemberTable* WordPageSetup::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("PageSetup");
    Members<WordPageSetup> m(table);
    m.get("Orientation", {}, &WordPageSetup::GetOrientation)
        .let("Orientation", {P("value").byVal()}, &WordPageSetup::LetOrientation)
        .get("TopMargin", {}, &WordPageSetup::GetTop)
        .let("TopMargin", {P("value").byVal()}, &WordPageSetup::LetTop)
        .get("LeftMargin", {}, &WordPageSetup::GetLeft)
        .let("LeftMargin", {P("value").byVal()}, &WordPageSetup::LetLeft)
        .get("RightMargin", {}, &WordPageSetup::GetRight)
        .let("RightMargin", {P("value").byVal()}, &WordPageSetup::LetRight)
        .get("BottomMargin", {}, &WordPageSetup::GetBottom)
        .let("BottomMargin", {P("value").byVal()}, &WordPageSetup::LetBottom)
        .get("PageWidth", {}, &WordPageSetup::PageWidth)
        .get("PageHeight", {}, &WordPageSetup::PageHeight);
    return table;
  }();
  return &t;
}

const MemberTable* WordSections::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Sections");
    Members<WordSections> m(table);
    m.method("Item", {P("Index")}, &WordSections::Item).get("Count", {}, &WordSections::Count);
    return table;
  }();
  return &t;
}

const MemberTable* WordSection::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Section");
    Members<WordSection> m(table);
    m.get("Footers", {P("Index").opt()}, &WordSection::Footers)
        .get("Headers", {P("Index").opt()}, &WordSection::Headers);
    return table;
  }();
  return &t;
}

const MemberTable* WordHeadersFooters::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("HeadersFooters");
    Members<WordHeadersFooters> m(table);
    m.method("Item", {P("Index")}, &WordHeadersFooters::Item).get("Count", {}, &WordHeadersFooters::Count);
    return table;
  }();
  return &t;
}

const MemberTable* WordHeaderFooter::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("HeaderFooter");
    Members<WordHeaderFooter> m(table);
    m.get("PageNumbers", {}, &WordHeaderFooter::PageNumbers).get("Exists", {}, &WordHeaderFooter::Exists);
    return table;
  }();
  return &t;
}

const MemberTable* WordPageNumbers::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("PageNumbers");
    Members<WordPageNumbers> m(table);
    m.method("Add", {P("PageNumberAlignment").opt(), P("FirstPage").opt()}, &WordPageNumbers::Add)
        .get("Count", {}, &WordPageNumbers::Count);
    return table;
  }();
  return &t;
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

const RegisterClass regWord(
    kWordProgId, "", [] { return std::make_shared<WordApp>(); }, "Word documents through LibreOffice Writer");

}  // namespace
}  // namespace pm::office
