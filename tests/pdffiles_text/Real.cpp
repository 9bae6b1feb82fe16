#include "Real.h"

#include <cstring>
#include <fstream>
#include <iterator>

extern "C" {
#include <mupdf/fitz.h>
}

namespace pm::test {

std::vector<std::pair<int, std::string>> linksOf(const std::string& path) {
  std::vector<std::pair<int, std::string>> out;
  fz_context* c = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
  fz_register_document_handlers(c);
  fz_document* doc = nullptr;
  fz_var(doc);
  fz_try(c) {
    doc = fz_open_document(c, path.c_str());
    int n = fz_count_pages(c, doc);
    for (int i = 0; i < n; ++i) {
      fz_page* page = fz_load_page(c, doc, i);
      fz_link* links = fz_load_links(c, page);
      for (fz_link* l = links; l; l = l->next)
        if (l->uri) out.emplace_back(i, l->uri);
      fz_drop_link(c, links);
      fz_drop_page(c, page);
    }
  }
  fz_always(c) {
    fz_drop_document(c, doc);
  }
  fz_catch(c) {
    out.emplace_back(-1, fz_caught_message(c));
  }
  fz_drop_context(c);
  return out;
}

namespace {
uint32_t le(const std::string& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return v;
}
}  // namespace

BmpInfo bmpInfo(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  BmpInfo info;
  if (b.size() < 54 || b.compare(0, 2, "BM") != 0 || le(b, 14, 4) != 40) return info;
  info.width = static_cast<int32_t>(le(b, 18, 4));
  info.height = static_cast<int32_t>(le(b, 22, 4));
  info.bits = static_cast<int>(le(b, 28, 2));
  const size_t offset = le(b, 10, 4);
  const size_t row = (static_cast<size_t>(info.width) * static_cast<size_t>(info.bits) / 8 + 3) & ~size_t(3);
  info.lengthRight = le(b, 2, 4) == b.size() && b.size() == offset + row * static_cast<size_t>(info.height);
  for (size_t i = offset; i < b.size(); ++i)
    if (static_cast<unsigned char>(b[i]) < 200) {
      // Row padding is zero too; only pixels of a row count.
      size_t inRow = (i - offset) % row;
      if (inRow < static_cast<size_t>(info.width) * 3) info.hasInk = true;
    }
  return info;
}

}  // namespace pm::test
