// The vocabulary members of Document: codes of the type library's
// enumerations turned into the JavaScript object's names, and SetColor.
#include "component/document/Document.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

Variant SetColor(Document&, Frame& f) {
  vocab::SetColor(f["lngColor"], f["varColor"]);
  return {};
}

template <std::string (*Map)(const Variant&)>
Variant mapped(Document&, Frame& f) {
  // By position: one body serves every vocabulary member, each naming its value its own way.
  return Variant(Map(f[0]));
}

void describe(Members<Document>& m) {
  m.method("SetColor", {P("lngColor"), P("varColor")}, &SetColor, "Set color array.")
      .method("GetFont", {P("lngFont")}, &mapped<vocab::Font>, "Get font type string.")
      .method("GetAlignment", {P("i")}, &mapped<vocab::Alignment>, "Returns text alignment string.")
      .method("GetFieldBorder", {P("i")}, &mapped<vocab::FieldBorder>, "Get the field border string.")
      .method("GetGlyphStyle", {P("i")}, &mapped<vocab::GlyphStyle>,
              "Get glyph style string. Used for check boxes and radio buttons.")
      .method("GetTrigger", {P("i")}, &mapped<vocab::FieldTrigger>, "Get field trigger string.")
      .method("GetDocumentTrigger", {P("i")}, &mapped<vocab::DocumentTrigger>, "Get the document trigger string.")
      .method("GetPageTrigger", {P("i")}, &mapped<vocab::PageTrigger>, "Gets the page trigger string.")
      .method("GetNoteIcon", {P("i")}, &mapped<vocab::NoteIcon>, "Get note icon string.")
      .method("GetNoteState", {P("i")}, &mapped<vocab::NoteState>, "Get note state string.")
      .method("GetStampIcon", {P("i")}, &mapped<vocab::StampIcon>, "Get the stamp icon string.");
}

const DocumentMembers::Register reg("vocabulary", &describe);

}  // namespace
}  // namespace pm
