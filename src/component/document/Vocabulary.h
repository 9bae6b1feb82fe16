// The value vocabularies: enumeration codes of the type library turned into
// the names the document's JavaScript object expects, and colours into
// colour arrays. Pure functions; the Document and Field members call them.
#pragma once

#include <string>

#include "automation/Variant.h"

namespace pm::vocab {

// Each compares its argument numerically with the codes of its table in
// table order and answers the first match, or the table's default.
std::string Font(const Variant& code);
std::string Alignment(const Variant& code);
std::string FieldBorder(const Variant& code);
std::string GlyphStyle(const Variant& code);
std::string FieldTrigger(const Variant& code);  // code 10 and unknown codes: ""
std::string DocumentTrigger(const Variant& code);
std::string PageTrigger(const Variant& code);
std::string NoteIcon(const Variant& code);
std::string NoteState(const Variant& code);
std::string StampIcon(const Variant& code);
// The conversion identifier of a PDFFileType code; acrobatVersion is the
// installed version text (its leading number decides code 0).
std::string FileType(const Variant& code, const std::string& acrobatVersion);
std::string Layout(const Variant& code);
// Fills elements 0 to 3 of the array in colour (zeros first, then the
// colour space name, then the one component), raising on a store that
// fails; elements already stored stay stored.
void SetColor(const Variant& code, Variant& colour);

// True when v equals the code numerically (a text or Empty never matches a
// number unless Basic comparison says so).
bool codeIs(const Variant& v, int32_t code);

}  // namespace pm::vocab
