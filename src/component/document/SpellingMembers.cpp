// SpellCheckPDF: every word of the chosen pages through the viewer's
// spelling checker; the questioned words with their suggestions.
#include "automation/Automation.h"
#include "component/document/Document.h"
#include "system/clsConcat.h"

namespace pm {
namespace {

[[noreturn]] void passOn(const AutomationError& e) {
  throw AutomationError(e.number(), kComponentTitle, e.description());
}

Variant SpellCheckPDF(Document& d, Frame& f) {
  const Variant& delimiter = f["strDelimiter"];
  clsConcat builder;
  builder.ReInit();
  std::vector<Variant> found;

  int32_t first = 0, last = -1;
  ignoreErrors([&] {
    // A Null page number compares as neither greater nor smaller: every page.
    if (!f["lngPage"].isNull() && Compare(f["lngPage"], Variant(int32_t(0))) > 0) {
      first = last = CLng(f["lngPage"]) - 1;
    } else {
      last = CLng(get(d.objJSO, "NumPages")) - 1;
    }
  });

  // Failures of single words are passed over, but a checker that cannot be
  // had at all is an error: answering "no word questioned" then would
  // report a document nobody checked as correct.
  bool checkerAnswered = false;
  for (int64_t p = first; p <= last; ++p) {
    int16_t words = 0;
    if (!ignoreErrors([&] { words = CInt(call(d.objJSO, "getPageNumWords", {Variant(static_cast<int32_t>(p))})); }))
      continue;
    for (int16_t w = 0; w < words; ++w) {
      Variant word;
      if (!ignoreErrors([&] {
            word = call(d.objJSO, "GetPageNthWord", {Variant(static_cast<int32_t>(p)), Variant(int32_t(w))});
          }))
        continue;
      if (word.type() != VT::String) continue;
      ObjectRef spell;
      try {
        spell = objectOf(get(d.objJSO, "spell"));
      } catch (const AutomationError& e) {
        passOn(e);
      }
      Variant suggestions;
      try {
        suggestions = call(spell, "checkWord", {word});
        checkerAnswered = true;
      } catch (const AutomationError& e) {
        if (!checkerAnswered) passOn(e);
        continue;
      }
      if (!suggestions.isArray()) continue;
      builder.SConcat(word);
      for (const Variant& s : suggestions.array().data()) {
        builder.SConcat(delimiter);
        builder.SConcat(s);
      }
      found.emplace_back(builder.GetString());
      builder.ReInit();
    }
  }
  if (found.empty()) return Variant(int16_t(-1));
  Array result({Bound{0, static_cast<int32_t>(found.size())}}, VT::String);
  result.data() = std::move(found);
  return Variant(std::move(result));
}

void describe(Members<Document>& m) {
  m.method("SpellCheckPDF", {P("strDelimiter").opt(std::string("^")), P("lngPage").opt(int32_t(0))}, &SpellCheckPDF,
           "Spell check the document.");
}

const DocumentMembers::Register reg("spelling", &describe);

}  // namespace
}  // namespace pm
