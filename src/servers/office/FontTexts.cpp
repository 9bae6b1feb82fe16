// Reading the character maps of a PDF's fonts with MuPDF, for the printing
// step that hands them on to the PostScript fonts.
#include <memory>
#include <vector>

#include "automation/Automation.h"
#include "servers/office/PostScriptText.h"
#include "servers/pdf/engine/Mu.h"

namespace pm::office {

namespace {

struct DropPdfDocument {
  void operator()(pdf_document* d) const { pdf_drop_document(mu::ctx(), d); }
};
struct DropCmap {
  void operator()(pdf_cmap* m) const { pdf_drop_cmap(mu::ctx(), m); }
};
using PdfDocumentPtr = std::unique_ptr<pdf_document, DropPdfDocument>;
using CmapPtr = std::unique_ptr<pdf_cmap, DropCmap>;

// A ToUnicode value holds up to this many units (MuPDF's own limit).
constexpr int kMaxUnits = 8;

// Unicode scalar values (or UTF-16 units MuPDF kept unpaired) as UTF-16BE.
std::string utf16be(const int* units, int n) {
  std::string s;
  auto put = [&](unsigned u) {
    s += static_cast<char>((u >> 8) & 0xff);
    s += static_cast<char>(u & 0xff);
  };
  for (int i = 0; i < n; ++i) {
    unsigned u = static_cast<unsigned>(units[i]);
    if (u > 0x10ffff) return {};
    if (u > 0xffff) {
      u -= 0x10000;
      put(0xd800 + (u >> 10));
      put(0xdc00 + (u & 0x3ff));
    } else {
      put(u);
    }
  }
  return s;
}

// The codes of one font: 256 for a simple font, 65536 for a composite one
// (the office and the common producers use two-byte codes there).
struct CodeTable {
  explicit CodeTable(unsigned codes)
      : count(codes), lengths(codes, 0), units(size_t(codes) * kMaxUnits, 0), cids(codes, -1) {}
  unsigned count;
  std::vector<int> lengths;
  std::vector<int> units;
  std::vector<int> cids;  // composite fonts: the CID each code selects
};

// Fills table from one font dictionary; false when the font has no usable
// ToUnicode map.
bool readFont(pdf_document* doc, pdf_obj* font, bool composite, CodeTable& table) {
  pdf_cmap* toUnicode = nullptr;
  pdf_cmap* encoding = nullptr;
  mu::guard("Reading a font's character map", [&](fz_context* c) {
    pdf_obj* tu = pdf_dict_get(c, font, PDF_NAME(ToUnicode));
    if (!pdf_is_stream(c, tu)) return;
    toUnicode = pdf_load_embedded_cmap(c, doc, tu);
    if (!composite) return;
    pdf_obj* enc = pdf_dict_get(c, font, PDF_NAME(Encoding));
    if (pdf_is_name(c, enc))
      encoding = pdf_load_system_cmap(c, pdf_to_name(c, enc));
    else if (pdf_is_stream(c, enc))
      encoding = pdf_load_embedded_cmap(c, doc, enc);
  });
  CmapPtr tuOwner(toUnicode), encOwner(encoding);
  if (!toUnicode || (composite && !encoding)) return false;
  int* lengths = table.lengths.data();
  int* units = table.units.data();
  int* cids = table.cids.data();
  unsigned count = table.count;
  mu::guard("Reading a font's character map", [&](fz_context*) {
    for (unsigned code = 0; code < count; ++code) {
      lengths[code] = pdf_lookup_cmap_full(toUnicode, code, units + size_t(code) * kMaxUnits);
      if (encoding) cids[code] = pdf_lookup_cmap(encoding, code);
    }
  });
  return true;
}

}  // namespace

FontTexts readFontTexts(const std::string& pdf) {
  FontTexts texts;
  pdf_document* raw = nullptr;
  const char* path = pdf.c_str();
  mu::guard("Opening the printed pages", [&](fz_context* c) { raw = pdf_open_document(c, path); });
  PdfDocumentPtr doc(raw);
  int objects = 0;
  mu::guard("Reading the printed pages", [&](fz_context* c) { objects = pdf_xref_len(c, raw); });
  for (int num = 1; num < objects; ++num) {
    pdf_obj* obj = nullptr;
    int gen = 0;
    bool isFont = false, composite = false;
    // A damaged object is no font of the pages; the office writes none, and
    // pdftops would fail on the same file if it mattered.
    try {
      mu::guard("Reading the printed pages", [&](fz_context* c) {
        pdf_xref_entry* e = pdf_get_xref_entry_no_null(c, raw, num);
        if (e->type != 'n' && e->type != 'o') return;
        gen = e->gen;
        obj = pdf_load_object(c, raw, num);
        if (!pdf_is_dict(c, obj) || !pdf_name_eq(c, pdf_dict_get(c, obj, PDF_NAME(Type)), PDF_NAME(Font))) return;
        pdf_obj* subtype = pdf_dict_get(c, obj, PDF_NAME(Subtype));
        composite = pdf_name_eq(c, subtype, PDF_NAME(Type0));
        isFont = composite || pdf_name_eq(c, subtype, PDF_NAME(TrueType)) || pdf_name_eq(c, subtype, PDF_NAME(Type1)) ||
                 pdf_name_eq(c, subtype, PDF_NAME(MMType1));
      });
    } catch (const AutomationError&) {
    }
    mu::ObjPtr owner(obj);
    if (!isFont) continue;
    CodeTable table(composite ? 0x10000u : 0x100u);
    if (!readFont(raw, obj, composite, table)) continue;
    FontText ft;
    ft.cid = composite;
    for (unsigned code = 0; code < table.count; ++code) {
      int n = table.lengths[code];
      if (n <= 0 || n > kMaxUnits) continue;
      std::string u = utf16be(table.units.data() + size_t(code) * kMaxUnits, n);
      if (u.empty()) continue;
      if (!composite)
        ft.text[code] = std::move(u);
      else if (table.cids[code] >= 0)
        ft.text[static_cast<uint32_t>(table.cids[code])] = std::move(u);
    }
    if (!ft.text.empty()) texts[{num, gen}] = std::move(ft);
  }
  return texts;
}

}  // namespace pm::office
