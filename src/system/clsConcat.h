// An append-only string builder: pieces are copied into a buffer that is
// grown ahead of need, so long delimited texts are built row by row without
// copying the text so far at each step. Characters are the bytes of the
// std::string (UTF-8 text).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "automation/Variant.h"

namespace pm {

class clsConcat {
 public:
  // Growth step of the buffer, in characters.
  static constexpr size_t kReserve = 15000;

  void ReInit();
  // The text so far. Spends the buffer: build again only after ReInit.
  std::string GetString();
  // Text followed by kReserve characters of reserve; the text so far
  // becomes this text.
  void SetString(const std::string& text);
  // Appends the piece converted with CStr; a piece that cannot be
  // converted (Null, an object) is ignored.
  void SConcat(const Variant& piece);
  // The same for callers that already hold text. The common case (the
  // piece fits the reserve) is inline; growing is not.
  void SConcat(std::string_view piece) {
    if (used_ + piece.size() < buffer_.size()) {
      if (!piece.empty()) std::memcpy(buffer_.data() + used_, piece.data(), piece.size());
      used_ += piece.size();
      return;
    }
    growAndAppend(piece);
  }
  void SConcat(const std::string& piece) { SConcat(std::string_view(piece)); }
  void SConcat(const char* piece) { SConcat(std::string_view(piece)); }

  // The buffer's length, reserve included, and the characters of text.
  size_t BufferLength() const { return buffer_.size(); }
  size_t UsedLength() const { return used_; }

 private:
  void growAndAppend(std::string_view piece);

  std::string buffer_;
  size_t used_ = 0;
};

}  // namespace pm
