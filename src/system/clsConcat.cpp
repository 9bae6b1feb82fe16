#include "system/clsConcat.h"

#include "automation/Convert.h"

namespace pm {

void clsConcat::ReInit() {
  buffer_.clear();
  buffer_.shrink_to_fit();
  used_ = 0;
}

std::string clsConcat::GetString() {
  std::string out;
  try {
    // Left(buffer, used): the used length stays as it was.
    if (used_ >= buffer_.size()) {
      out = std::move(buffer_);
    } else {
      buffer_.resize(used_);
      out = std::move(buffer_);
    }
  } catch (...) {
  }
  buffer_ = std::string();
  return out;
}

void clsConcat::SetString(const std::string& text) {
  try {
    std::string next;
    next.reserve(text.size() + kReserve);
    next.append(text);
    next.append(kReserve, '\0');
    buffer_ = std::move(next);
    used_ = text.size();
  } catch (...) {
  }
}

void clsConcat::growAndAppend(std::string_view piece) {
  try {
    const size_t n = piece.size();
    if (used_ + n >= buffer_.size()) {
      size_t grow = n > used_ ? n : kReserve;
      if (buffer_.size() + grow < used_ + n) grow = used_ + n - buffer_.size();
      // std::string grows its capacity geometrically underneath, so the
      // fixed logical step does not make appending quadratic.
      buffer_.append(grow, '\0');
    }
    if (n) std::memcpy(buffer_.data() + used_, piece.data(), n);
    used_ += n;
  } catch (...) {
  }
}

void clsConcat::SConcat(const Variant& piece) {
  try {
    if (piece.isString()) {
      SConcat(std::string_view(piece.asString()));
      return;
    }
    std::string s = CStr(piece);
    SConcat(std::string_view(s));
  } catch (...) {
  }
}

}  // namespace pm
