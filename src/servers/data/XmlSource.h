// The XML data-source provider: an XML file read as a hierarchical row set.
// The children of the root element are the rows; their attributes and child
// elements are the fields; an element's own text is the "$Text" field; a
// child element that repeats within a row, or has attributes or elements of
// its own, is a chapter field (a child row set read by the same rules).
#pragma once

#include <string>

#include "servers/data/RowSet.h"

namespace pm::data {

// Reads the file with network access, DTD loading and entity substitution
// off. A missing or unreadable file, or one that is not well-formed XML,
// raises an automation error naming the file and the parser's complaint.
RowSetRef readXmlFile(const std::string& path, const std::string& source);

}  // namespace pm::data
