// The text export's lines as the data server builds them: written through a
// pointer into one buffer and handed to the sink many lines at a time, so a
// value costs a copy and no call into the string library.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "automation/surfaces/Ado.h"

namespace pm::data {

class LinesOut {
 public:
  LinesOut(ado::TextSink& sink, const ado::LineFormat& format) : sink_(sink), format_(format) {
    buf_.resize(kPiece + 4096);
  }
  LinesOut(const LinesOut&) = delete;
  LinesOut& operator=(const LinesOut&) = delete;

  // Room for n more bytes; commit(n) keeps what was written there.
  char* room(size_t n) {
    if (used_ + n > buf_.size()) buf_.resize(std::max(buf_.size() * 2, used_ + n));
    return buf_.data() + used_;
  }
  void commit(size_t n) { used_ += n; }
  void put(std::string_view s) {
    std::memcpy(room(s.size()), s.data(), s.size());
    used_ += s.size();
  }
  void put(char c) {
    *room(1) = c;
    ++used_;
  }

  void beginField(size_t index) {
    if (index > 0) put(format_.delimiter);
    if (format_.quotes) put('"');
  }
  void endField() {
    if (format_.quotes) put('"');
  }
  void endLine() {
    put(format_.lineEnd);
    if (used_ >= kPiece) flush();
  }
  void flush() {
    if (used_ > 0) sink_.write(std::string_view(buf_.data(), used_));
    used_ = 0;
  }

 private:
  // Large enough that handing a piece over costs nothing next to its text,
  // small enough to stay in the cache.
  static constexpr size_t kPiece = 64 * 1024;
  ado::TextSink& sink_;
  ado::LineFormat format_;
  std::string buf_;
  size_t used_ = 0;
};

}  // namespace pm::data
