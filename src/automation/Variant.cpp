#include "automation/Variant.h"

#include "automation/Convert.h"
#include "automation/Dispatch.h"
#include "automation/Error.h"

namespace pressmark {

Variant::Variant(ObjectRef o) : v_(std::move(o)) {}
Variant::Variant(Array a) : v_(std::make_shared<Array>(std::move(a))) {}

Variant Variant::nothing() {
  return Variant(ObjectRef{});
}

VT Variant::type() const {
  switch (v_.index()) {
    case 0:
      return VT::Empty;
    case 1:
      return VT::Null;
    case 2:
      return VT::Boolean;
    case 3:
      return VT::Integer;
    case 4:
      return VT::Long;
    case 5:
      return VT::Single;
    case 6:
      return VT::Double;
    case 7:
      return VT::Currency;
    case 8:
      return VT::Date;
    case 9:
      return VT::String;
    case 10:
      return VT::Object;
    case 11:
      return VT::Error;
    case 12:
      return VT::Byte;
    default:
      return VT::Array;
  }
}

uint16_t Variant::vartype() const {
  if (isArray()) return static_cast<uint16_t>(VT::Array) | static_cast<uint16_t>(array().elementType());
  return static_cast<uint16_t>(type());
}

bool Variant::isMissing() const {
  return std::holds_alternative<ErrorCode>(v_) && std::get<ErrorCode>(v_).scode == kParamNotFound;
}

bool Variant::isNumeric() const {
  switch (type()) {
    case VT::Boolean:
    case VT::Integer:
    case VT::Long:
    case VT::Single:
    case VT::Double:
    case VT::Currency:
    case VT::Byte:
      return true;
    default:
      return false;
  }
}

const Array& Variant::array() const {
  if (!isArray()) pm::raise(basic::TypeMismatch);
  return *std::get<std::shared_ptr<Array>>(v_);
}

Array& Variant::arrayMut() {
  if (!isArray()) pm::raise(basic::TypeMismatch);
  auto& p = std::get<std::shared_ptr<Array>>(v_);
  if (p.use_count() > 1) p = std::make_shared<Array>(*p);
  return *p;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.isArray() && b.isArray()) return a.array() == b.array();
  return a.v_ == b.v_;
}

// ---- Array ----

Array::Array(std::vector<Bound> bounds, VT elementType) : bounds_(std::move(bounds)), elementType_(elementType) {
  size_t n = bounds_.empty() ? 0 : 1;
  for (const Bound& b : bounds_) {
    if (b.count < 0) pm::raise(basic::SubscriptOutOfRange);
    n *= static_cast<size_t>(b.count);
  }
  Variant init;
  if (elementType_ != VT::Variant) init = pm::coerce(Variant(), elementType_);
  data_.assign(n, init);
}

Array Array::vector(std::vector<Variant> items, int32_t lower) {
  Array a;
  a.bounds_ = {Bound{lower, static_cast<int32_t>(items.size())}};
  a.data_ = std::move(items);
  return a;
}

Array Array::matrix(int32_t rows, int32_t cols, int32_t lowerRow, int32_t lowerCol) {
  return Array({Bound{lowerRow, rows}, Bound{lowerCol, cols}});
}

int32_t Array::lbound(int dimension) const {
  if (dimension < 1 || dimension > dims()) pm::raise(basic::SubscriptOutOfRange);
  return bounds_[dimension - 1].lower;
}

int32_t Array::ubound(int dimension) const {
  if (dimension < 1 || dimension > dims()) pm::raise(basic::SubscriptOutOfRange);
  return bounds_[dimension - 1].upper();
}

size_t Array::offset(const int32_t* index, size_t n) const {
  if (n != bounds_.size()) pm::raise(basic::SubscriptOutOfRange);
  size_t off = 0, stride = 1;
  for (size_t d = 0; d < n; ++d) {
    const Bound& b = bounds_[d];
    int64_t i = static_cast<int64_t>(index[d]) - b.lower;
    if (i < 0 || i >= b.count) pm::raise(basic::SubscriptOutOfRange);
    off += static_cast<size_t>(i) * stride;
    stride *= static_cast<size_t>(b.count);
  }
  return off;
}

const Variant& Array::at(const int32_t* index, size_t n) const {
  return data_[offset(index, n)];
}
const Variant& Array::at(std::initializer_list<int32_t> index) const {
  return at(index.begin(), index.size());
}

void Array::set(const int32_t* index, size_t n, Variant value) {
  size_t off = offset(index, n);
  data_[off] = elementType_ == VT::Variant ? std::move(value) : pm::coerce(value, elementType_);
}
void Array::set(std::initializer_list<int32_t> index, Variant value) {
  set(index.begin(), index.size(), std::move(value));
}

void Array::redimPreserve(int32_t newUpperOfLast) {
  if (bounds_.empty()) pm::raise(basic::SubscriptOutOfRange);
  Bound& last = bounds_.back();
  int32_t newCount = newUpperOfLast - last.lower + 1;
  if (newCount < 0) pm::raise(basic::SubscriptOutOfRange);
  size_t inner = 1;
  for (size_t d = 0; d + 1 < bounds_.size(); ++d) inner *= static_cast<size_t>(bounds_[d].count);
  Variant init;
  if (elementType_ != VT::Variant) init = pm::coerce(Variant(), elementType_);
  // The last dimension varies slowest, so growing it only appends.
  data_.resize(inner * static_cast<size_t>(newCount), init);
  last.count = newCount;
}

}  // namespace pressmark
