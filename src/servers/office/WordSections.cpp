// The Sections of a Word document and the headers and footers of the first
// one, with the page numbers added to them.
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/NumberingType.hpp>
#include <com/sun/star/style/ParagraphAdjust.hpp>
#include <com/sun/star/text/PageNumberType.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>

#include "servers/office/WordObjects.h"

namespace pm::office::word {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

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
    int32_t align = f.missing("PageNumberAlignment") ? 1 : CLng(f["PageNumberAlignment"]);
    bool firstPage = f.missing("FirstPage") ? true : truthy(f["FirstPage"]);
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
    int32_t i = CLng(f["Index"]);
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
    if (f.missing("Index")) return Variant(ObjectRef(coll));
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
    int32_t i = CLng(f["Index"]);
    if (i != 1)
      fail(kErrNoSuchMember,
           "The requested member of the collection does not exist: only the first section (1) is available.");
    return Variant(ObjectRef(std::make_shared<WordSection>(doc_)));
  }
  Variant Count(Frame&) { return Variant(int32_t{1}); }

 private:
  DocRef doc_;
};

}  // namespace

Variant WordDocument::Sections(Frame& f) {
  requireOpen();
  auto coll = std::make_shared<WordSections>(std::static_pointer_cast<WordDocument>(shared_from_this()));
  if (f.missing("Index")) return Variant(ObjectRef(coll));
  return coll->Item(f);
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
}  // namespace pm::office::word
