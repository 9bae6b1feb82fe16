#include "support/Zips.h"

#include <zlib.h>

#include <stdexcept>

namespace pm::test {

namespace {

void put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// Raw deflate of data with a full flush: the bytes depend on data alone, so
// copies of them in a row inflate to copies of data. final ends the stream.
std::string deflateBlock(const std::string& data, bool final) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, final ? Z_FINISH : Z_FULL_FLUSH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != (final ? Z_STREAM_END : Z_OK)) throw std::runtime_error("deflate");
  return out;
}

uint32_t crcOf(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}
uint32_t crcAfter(uint32_t crc, const std::string& s) {
  return static_cast<uint32_t>(crc32_combine(crc, crcOf(s), static_cast<z_off_t>(s.size())));
}

}  // namespace

std::string makeZip(const std::vector<ZipPart>& parts) {
  std::string zip, central;
  for (const ZipPart& p : parts) {
    uint32_t crc = crcOf(p.head);
    uint64_t size = p.head.size() + p.data.size() * p.repeat + p.tail.size();
    std::string body;
    if (p.repeat > 1) {
      std::string block = deflateBlock(p.data, false);
      body = deflateBlock(p.head, false);
      body.reserve(body.size() + block.size() * p.repeat + p.tail.size() + 64);
      uint32_t one = crcOf(p.data);
      for (uint64_t i = 0; i < p.repeat; ++i) {
        crc = static_cast<uint32_t>(crc32_combine(crc, one, static_cast<z_off_t>(p.data.size())));
        body += block;
      }
      crc = crcAfter(crc, p.tail);
      body += deflateBlock(p.tail, true);
    } else {
      crc = crcAfter(crcAfter(crc, p.data), p.tail);
      std::string all = p.head + p.data + p.tail;
      body = p.deflate ? deflateBlock(all, true) : all;
    }
    if (size > 0xFFFFFFFFu) throw std::runtime_error("a part over 4 GB");
    uint16_t method = p.deflate || p.repeat > 1 ? 8 : 0;
    std::string head;
    put32(head, crc);
    put32(head, static_cast<uint32_t>(body.size()));
    put32(head, static_cast<uint32_t>(size));
    put16(head, static_cast<uint32_t>(p.name.size()));
    put16(head, 0);  // no extra field
    uint32_t offset = static_cast<uint32_t>(zip.size());
    put32(zip, 0x04034b50);
    put16(zip, 20);
    put16(zip, 0);
    put16(zip, method);
    put32(zip, 0);  // time and date
    zip += head + p.name + body;
    put32(central, 0x02014b50);
    put16(central, 20);
    put16(central, 20);
    put16(central, 0);
    put16(central, method);
    put32(central, 0);
    central += head;
    put16(central, 0);  // comment
    put16(central, 0);  // disk
    put16(central, 0);  // internal attributes
    put32(central, 0);  // external attributes
    put32(central, offset);
    central += p.name;
  }
  uint32_t at = static_cast<uint32_t>(zip.size());
  zip += central;
  put32(zip, 0x06054b50);
  put32(zip, 0);
  put16(zip, static_cast<uint32_t>(parts.size()));
  put16(zip, static_cast<uint32_t>(parts.size()));
  put32(zip, static_cast<uint32_t>(central.size()));
  put32(zip, at);
  put16(zip, 0);
  return zip;
}

std::string docxPackage(ZipPart document, std::vector<ZipPart> parts, const std::string& overrides) {
  parts.insert(
      parts.begin(),
      {{"[Content_Types].xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>" +
            overrides + "</Types>"},
       {"_rels/.rels",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"r1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>"}});
  document.name = "word/document.xml";
  parts.push_back(std::move(document));
  return makeZip(parts);
}

}  // namespace pm::test
