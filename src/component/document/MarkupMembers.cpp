// Text markup of Document: the phrase scan over the page words and what
// each find method does with a match (highlight, squiggly, strike-out,
// underline, a note, an overwriting free-text box, the coordinates), and
// the word access members.
#include <functional>

#include "component/document/AnnotWriter.h"
#include "component/document/Document.h"

namespace pm {
namespace {

using annot::Props;

enum class QuadNeed { EveryWord, FirstAndLast, First };

struct Match {
  int32_t page = 0;                // 0-based
  std::vector<Variant> wordQuads;  // EveryWord: the quad list of each word
  Variant firstQuad, lastQuad;     // first quad of the first and last word
};

// The scan's calls. The tolerant scan (the highlight family) ignores each
// failing call and goes on with what it has; the others stop at the first
// failure.
struct Calls {
  Document& d;
  bool tolerant;
  Variant run(const std::function<Variant()>& body) const {
    if (!tolerant) return body();
    Variant r;
    ignoreErrors([&] { r = body(); });
    return r;
  }
};

Variant firstQuadOf(const Variant& list) {
  if (!list.isArray()) return {};
  const Array& a = list.array();
  if (a.size() == 0) return {};
  return a.at({a.lbound()});
}

// Every page of the range is read word by word; a candidate of n + 1 words
// that matches the search text counts once and the scan goes on after its
// last word. Counters are 32-bit and every step moves on, so a failing
// call can never hold the scan in one place. onMatch answers true to stop.
int32_t scan(Document& d, Frame& f, size_t findAt, size_t startAt, size_t endAt, size_t caseAt, QuadNeed need,
             bool tolerant, const std::function<bool(const Match&)>& onMatch) {
  Calls c{d, tolerant};
  std::string find = CStr(f[findAt]);
  int32_t n = Document::CountSpaces(find);
  bool caseSensitive = CBool(f[caseAt]);
  int32_t first = annot::aboveZero(f[startAt]) ? CLng(f[startAt]) - 1 : 0;
  int32_t last = 0;
  if (annot::aboveZero(f[endAt])) {
    last = CLng(f[endAt]) - 1;
  } else {
    Variant pages = c.run([&] { return get(d.objJSO, "NumPages"); });
    last = (pages.isEmpty() ? 0 : CLng(pages)) - 1;
  }
  int32_t count = 0;
  for (int32_t p = first; p <= last; ++p) {
    Variant words = c.run([&] { return call(d.objJSO, "getPageNumWords", {Variant(p)}); });
    int32_t W = words.isEmpty() ? 0 : CLng(words);
    int32_t w = 0;
    while (w <= W - 1) {
      if (w + n > W - 1) break;  // the phrase does not fit on the rest of the page
      std::string candidate;
      Match m;
      m.page = p;
      for (int32_t k = 0; k <= n; ++k) {
        Variant word = c.run([&] {
          return call(d.objJSO, "GetPageNthWord", {Variant(p), Variant(w + k), Variant(false)});
        });
        std::string text = word.isEmpty() ? std::string() : CStr(word);
        std::erase(text, '\r');
        std::erase(text, '\n');
        candidate += text;
        auto quads = [&] {
          return c.run([&] { return call(d.objJSO, "GetPageNthWordQuads", {Variant(p), Variant(w + k)}); });
        };
        if (need == QuadNeed::EveryWord) m.wordQuads.push_back(quads());
        if (need != QuadNeed::EveryWord && k == 0) m.firstQuad = firstQuadOf(quads());
        if (need == QuadNeed::FirstAndLast && k == n) m.lastQuad = firstQuadOf(quads());
      }
      candidate = Trim(candidate);
      bool same = caseSensitive ? candidate == find : TextEquals(candidate, find);
      if (same) {
        ++count;
        if (onMatch(m)) return count;
        w += n + 1;
      } else {
        w += 1;
      }
    }
  }
  return count;
}

// ---- The highlight family ----
Variant markUp(Document& d, Frame& f, const char* type, const char* defaultColour) {
  return Variant(scan(d, f, 0, 1, 2, 3, QuadNeed::EveryWord, true, [&](const Match& m) {
    for (const Variant& quads : m.wordQuads) {
      Props first;
      first.emplace_back("Page", Variant(m.page));
      // By position: each member of the family names its colour after its kind.
      ignoreErrors([&] { first.emplace_back("StrokeColor", annot::colourOr(d, f[4], defaultColour)); });
      first.emplace_back("Type", Variant(type));
      Props second{{"quads", quads}};
      auto text = [&](const char* name, size_t i) {
        ignoreErrors([&] {
          if (annot::hasText(f[i])) second.emplace_back(name, f[i]);
        });
      };
      auto flag = [&](const char* name, size_t i) {
        ignoreErrors([&] {
          if (CBool(f[i])) second.emplace_back(name, Variant(true));
        });
      };
      text("Author", 5);
      text("Subject", 6);
      flag("Lock", 7);
      flag("ReadOnly", 8);
      ignoreErrors([&] {
        if (CBool(f["blnTransparent"])) second.emplace_back("opacity", Variant(0.5));
      });
      text("contents", 10);
      flag("Hidden", 11);
      text("Name", 12);
      flag("noView", 14);
      flag("PopupOpen", 13);
      flag("toggleNoView", 15);
      annot::writeNew(d, first, second, false);
    }
    return false;
  }));
}

Variant FindAndHighlightText(Document& d, Frame& f) {
  return markUp(d, f, "Highlight", "yellow");
}
Variant FindAndSquigglyText(Document& d, Frame& f) {
  return markUp(d, f, "Squiggly", "red");
}
Variant FindAndStrikeoutText(Document& d, Frame& f) {
  return markUp(d, f, "StrikeOut", "red");
}
Variant FindAndUnderlineText(Document& d, Frame& f) {
  return markUp(d, f, "Underline", "red");
}

Variant FindAndCommentText(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    return Variant(scan(d, f, 0, 2, 3, 4, QuadNeed::FirstAndLast, false, [&](const Match& m) {
      annot::Note n;
      n.page = Variant(m.page + 1);
      n.text = f["strText"];
      n.colour = f["varColor"];
      n.author = f["strAuthor"];
      n.subject = f["strSubject"];
      n.point = m.firstQuad;
      n.icon = f["lngNoteIcon"];
      n.name = Variant("Comment" + std::to_string(m.page + 1));
      n.lock = f["blnLock"];
      n.readOnly = f["blnReadOnly"];
      n.popupOpen = Variant(false);
      n.state = f["lngNoteState"];
      n.width = f["intBorderWidth"];
      n.transparent = CBool(f["blnTransparent"]);
      annot::addTextNote(d, n);
      return false;
    }));
  });
}

Variant FindAndOverwriteText(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    return Variant(scan(d, f, 0, 2, 3, 4, QuadNeed::FirstAndLast, false, [&](const Match& m) {
      if (annot::isZero(f["intWidth"]))
        f["intWidth"] = Variant(CInt(Variant(6 * CharCount(CStr(f["strReplaceText"])))));
      auto at = [](const Variant& quad, int32_t i) {
        if (!quad.isArray()) raise(basic::TypeMismatch, "The viewer gave no quad for a word of the match");
        return CDbl(quad.array().at({quad.array().lbound() + i}));
      };
      double y = CDbl(f["intY"]), width = CDbl(f["intWidth"]);
      Variant rect =
          V({at(m.firstQuad, 0), at(m.firstQuad, 1) - 13.8 + y, at(m.lastQuad, 0) + width, at(m.lastQuad, 1) + y});
      annot::FreeText t{Variant(m.page + 1), rect,
                        f["strReplaceText"], f["varColor"],
                        Variant(""),         Variant(""),
                        Variant(""),         Variant(true),
                        Variant(true),       Variant(int16_t(0)),
                        f["varFillColor"],   f["lngFont"],
                        Variant(int16_t(8)), Variant(int16_t(CBool(f["blnBorder"]) ? 1 : 0)),
                        Variant(int16_t(0)), Variant(1.0)};
      annot::createFreeText(d, t, false);
      return false;
    }));
  });
}

Variant GetTextCoordinates(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    Variant found(int16_t(-1));
    scan(d, f, 0, 1, 2, 3, QuadNeed::First, false, [&](const Match& m) {
      found = m.firstQuad;
      return true;
    });
    return found;
  });
}

// ---- Word access ----
Variant pageIndex(const Variant& page) {
  return annot::isZero(page) ? Variant(int16_t(0)) : annot::minusOne(page);
}

Variant GetPageNthWord(Document& d, Frame& f) {
  return Variant(CStr(call(d.objJSO, "GetPageNthWord", {pageIndex(f["lngPage"]), f["intWordIndex"], f["blnStrip"]})));
}
Variant GetPageNthWordQuads(Document& d, Frame& f) {
  return call(d.objJSO, "GetPageNthWordQuads", {pageIndex(f["lngPage"]), f["intWordIndex"]});
}

Variant GetPagesWordCount(Document& d, Frame& f) {
  return passErrorsOn({}, [&] {
    if (annot::aboveZero(f["lngPage"])) {
      int16_t c = CInt(call(d.objJSO, "getPageNumWords", {annot::minusOne(f["lngPage"])}));
      f["varPages"] = V({Variant(c)});
      return Variant(int32_t(c));
    }
    int32_t pages = CLng(get(d.objJSO, "NumPages"));
    std::vector<Variant> counts;
    int32_t total = 0;
    for (int32_t p = 0; p <= pages - 1; ++p) {
      int16_t c = CInt(call(d.objJSO, "getPageNumWords", {Variant(p)}));
      counts.emplace_back(c);
      total += c;
    }
    f["varPages"] = Variant(Array::vector(std::move(counts)));
    return Variant(total);
  });
}

ParamSpec opt(const char* n, Variant def) {
  return P(n).opt(std::move(def));
}

std::vector<ParamSpec> markupParams(const char* colour) {
  return {P("strFindText"),
          opt("lngStartPage", int32_t(0)),
          opt("lngEndPage", int32_t(0)),
          opt("blnCaseSensitive", false),
          opt(colour, Variant::nothing()),
          opt("strAuthor", std::string()),
          opt("strSubject", std::string()),
          opt("blnLock", false),
          opt("blnReadOnly", false),
          opt("blnTransparent", false),
          opt("strContents", std::string()),
          opt("blnHidden", false),
          opt("strName", std::string()),
          opt("blnPopupOpen", false),
          opt("blnNoView", false),
          opt("blnToggleNoView", false)};
}

// What every find method's help says about its search text.
#define SEARCH_NOTE                                                                                          \
  " The search text matches whole words (a space separates them); a search text with a leading or trailing " \
  "space never matches."

void describe(Members<Document>& m) {
  m.method("FindAndCommentText",
           {P("strFindText"), P("strText"), opt("lngStartPage", int32_t(0)), opt("lngEndPage", int32_t(0)),
            opt("blnCaseSensitive", false), opt("lngNoteIcon", int32_t(8)), opt("varColor", Variant::nothing()),
            opt("strAuthor", std::string()), opt("strSubject", std::string()), opt("intBorderWidth", int16_t(1)),
            opt("blnLock", false), opt("blnReadOnly", false), opt("lngAlignment", int32_t(0)),
            opt("lngNoteState", int32_t(0)), opt("blnTransparent", true)},
           &FindAndCommentText,
           "Find text and add a text annotation." SEARCH_NOTE
           " The notes made on one page all carry the name Comment followed by the page number.")
      .method("FindAndHighlightText", markupParams("varHighlightColor"), &FindAndHighlightText,
              "Find text and add a highlight annotation." SEARCH_NOTE)
      .method("FindAndSquigglyText", markupParams("varSquigglyColor"), &FindAndSquigglyText,
              "Find text and add a squiggly annotation." SEARCH_NOTE)
      .method("FindAndStrikeoutText", markupParams("varStrikeoutColor"), &FindAndStrikeoutText,
              "Find text and add a strikeout annotation." SEARCH_NOTE)
      .method("FindAndUnderlineText", markupParams("varUnderlineColor"), &FindAndUnderlineText,
              "Find text and add an underline annotation." SEARCH_NOTE)
      .method("FindAndOverwriteText",
              {P("strFindText"), P("strReplaceText"), opt("lngStartPage", int32_t(0)), opt("lngEndPage", int32_t(0)),
               opt("blnCaseSensitive", false), opt("lngFont", int32_t(0)), opt("intWidth", int16_t(0)),
               opt("varColor", Variant::nothing()), opt("varFillColor", Variant::nothing()), opt("blnBorder", false),
               opt("intY", int16_t(0))},
              &FindAndOverwriteText, "Find text and overwrite with a text annotation." SEARCH_NOTE)
      .method("GetTextCoordinates",
              {P("strFindText"), opt("lngStartPage", int32_t(0)), opt("lngEndPage", int32_t(0)),
               opt("blnCaseSensitive", false)},
              &GetTextCoordinates, "Get coordinates of text." SEARCH_NOTE)
      .method("GetPageNthWord",
              {P("lngPage").byVal().opt(int32_t(0)), opt("intWordIndex", int16_t(0)), opt("blnStrip", false)},
              &GetPageNthWord, "Gets the nth word on the page.")
      .method("GetPageNthWordQuads", {P("lngPage").byVal().opt(int32_t(0)), opt("intWordIndex", int16_t(0))},
              &GetPageNthWordQuads, "Gets the quads list for the nth word on the page.")
      .method("GetPagesWordCount", {opt("lngPage", int32_t(0)), opt("varPages", Variant::nothing())},
              &GetPagesWordCount, "Gets the number of words on a specified page.");
}
#undef SEARCH_NOTE

const DocumentMembers::Register reg("markup", &describe);

}  // namespace
}  // namespace pm
