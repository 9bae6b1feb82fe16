// Zip packages the tests write for themselves (office documents are zips of
// XML parts), stored or deflated, and zips whose parts expand far beyond
// their size, as a hostile sender makes them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pm::test {

struct ZipPart {
  ZipPart(std::string n, std::string d, bool deflated = false, uint64_t copies = 1)
      : name(std::move(n)), data(std::move(d)), deflate(deflated), repeat(copies) {}
  std::string name;
  std::string data;  // what the part holds once unpacked (empty for a repeated part)
  bool deflate = false;
  // A part of head, `repeat` copies of data and tail, deflated without ever
  // holding the whole part in memory: each copy compresses to the same bytes.
  uint64_t repeat = 1;
  std::string head, tail;
};

// The zip of the parts, in order (an ODF "mimetype" goes first, stored).
std::string makeZip(const std::vector<ZipPart>& parts);

// A Word package: its content types (with the <Override> elements given for
// further parts) and relationships, the parts given, then the document part
// (word/document.xml).
std::string docxPackage(ZipPart document, std::vector<ZipPart> parts = {}, const std::string& overrides = "");

}  // namespace pm::test
