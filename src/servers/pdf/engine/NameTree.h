// The catalog's name trees (/Names: EmbeddedFiles, JavaScript, Templates,
// Pages, AP, Sounds) as ordered lists the document's members edit and write
// back whole.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "servers/pdf/engine/Doc.h"

namespace pm::pdf {

// A tree as a list of (name, value).
using NameList = std::vector<std::pair<std::string, mu::ObjPtr>>;
NameList readNameTree(Doc& d, const char* tree);
// Writes the tree back as one flat, sorted node.
void writeNameTree(Doc& d, const char* tree, const NameList& entries);
pdf_obj* findName(const NameList& l, const std::string& name);
void putName(NameList& l, const std::string& name, pdf_obj* value);
bool dropName(NameList& l, const std::string& name);

}  // namespace pm::pdf
