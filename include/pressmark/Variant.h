// The one value type that crosses every automation boundary: arguments,
// results, properties, array elements and event arguments.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "pressmark/Export.h"

namespace pressmark {

class Dispatch;
using ObjectRef = std::shared_ptr<Dispatch>;

// Type codes are the classic VarType numbers, so values printed by a client
// or compared with VarType() read the way Basic programmers expect.
enum class VT : uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,
  Long = 3,
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  String = 8,
  Object = 9,
  Error = 10,
  Boolean = 11,
  Variant = 12,  // only as an array element type
  Byte = 17,
  Array = 8192,  // flag bit, combined with the element type by vartype()
};

// The scode an omitted optional argument carries (DISP_E_PARAMNOTFOUND).
inline constexpr int32_t kParamNotFound = static_cast<int32_t>(0x80020004u);

struct Currency {
  int64_t scaled = 0;  // value * 10000
  friend bool operator==(Currency, Currency) = default;
};
struct Date {
  double serial = 0;  // days since 1899-12-30, fraction = time of day
  friend bool operator==(Date, Date) = default;
};
struct ErrorCode {
  int32_t scode = kParamNotFound;
  friend bool operator==(ErrorCode, ErrorCode) = default;
};

class Array;
class Variant;
// Structural equality, declared here so that it is exported.
PRESSMARK_API bool operator==(const Variant& a, const Variant& b);

class PRESSMARK_API Variant {
 public:
  Variant() = default;
  Variant(bool b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t l) : v_(l) {}
  Variant(float f) : v_(f) {}
  Variant(double d) : v_(d) {}
  Variant(Currency c) : v_(c) {}
  Variant(Date d) : v_(d) {}
  Variant(uint8_t b) : v_(b) {}
  Variant(ErrorCode e) : v_(e) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ObjectRef o);
  Variant(Array a);
  // Avoid silent narrowing of other integer kinds: long long and unsigned
  // values must be converted explicitly by the caller.
  Variant(int64_t) = delete;
  Variant(uint32_t) = delete;

  static Variant null() {
    Variant v;
    v.v_ = NullTag{};
    return v;
  }
  static Variant missing() { return Variant(ErrorCode{kParamNotFound}); }
  static Variant nothing();  // an Object variant holding no object

  VT type() const;           // element type for arrays is in vartype()
  uint16_t vartype() const;  // VarType(): arrays carry the 8192 flag
  bool isEmpty() const { return v_.index() == 0; }
  bool isNull() const { return std::holds_alternative<NullTag>(v_); }
  bool isArray() const { return std::holds_alternative<std::shared_ptr<Array>>(v_); }
  bool isObject() const { return std::holds_alternative<ObjectRef>(v_); }
  bool isString() const { return std::holds_alternative<std::string>(v_); }
  bool isMissing() const;  // an omitted optional argument
  bool isNumeric() const;  // holds a number type (not a numeric string)

  // Direct access; the caller must know the type (see the conversions in
  // Convert.h for the coercing forms).
  bool asBool() const { return std::get<bool>(v_); }
  int16_t asInteger() const { return std::get<int16_t>(v_); }
  int32_t asLong() const { return std::get<int32_t>(v_); }
  float asSingle() const { return std::get<float>(v_); }
  double asDouble() const { return std::get<double>(v_); }
  Currency asCurrency() const { return std::get<Currency>(v_); }
  Date asDate() const { return std::get<Date>(v_); }
  uint8_t asByte() const { return std::get<uint8_t>(v_); }
  ErrorCode asError() const { return std::get<ErrorCode>(v_); }
  const std::string& asString() const { return std::get<std::string>(v_); }
  const ObjectRef& asObject() const { return std::get<ObjectRef>(v_); }

  // Arrays have value semantics, as in Basic, with the copy made only when a
  // shared array is written to.
  const Array& array() const;
  Array& arrayMut();

  // Structural equality (same type and same value); Basic comparison with
  // coercion is Compare() in Convert.h.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  std::variant<std::monostate, NullTag, bool, int16_t, int32_t, float, double, Currency, Date, std::string, ObjectRef,
               ErrorCode, uint8_t, std::shared_ptr<Array>>
      v_;
};

struct Bound {
  int32_t lower = 0;
  int32_t count = 0;  // upper = lower + count - 1
  int32_t upper() const { return lower + count - 1; }
  friend bool operator==(Bound, Bound) = default;
};

// A SAFEARRAY: one or more dimensions with their own lower bounds and an
// element type (Variant, or a base type whose values are coerced on store).
// Elements are kept with the first index varying fastest, as SAFEARRAY does.
class PRESSMARK_API Array {
 public:
  Array() = default;
  explicit Array(std::vector<Bound> bounds, VT elementType = VT::Variant);
  // One-dimensional array of Variants with lower bound 0.
  static Array vector(std::vector<Variant> items, int32_t lower = 0);
  // Two-dimensional array (rows, columns), lower bounds given.
  static Array matrix(int32_t rows, int32_t cols, int32_t lowerRow = 0, int32_t lowerCol = 0);

  VT elementType() const { return elementType_; }
  int dims() const { return static_cast<int>(bounds_.size()); }
  // dimension is 1-based, as LBound/UBound take it; error 9 outside.
  int32_t lbound(int dimension = 1) const;
  int32_t ubound(int dimension = 1) const;
  const std::vector<Bound>& bounds() const { return bounds_; }
  size_t size() const { return data_.size(); }

  const Variant& at(std::initializer_list<int32_t> index) const;
  const Variant& at(const int32_t* index, size_t n) const;
  // Stores with coercion to the element type (error 13 when impossible).
  void set(std::initializer_list<int32_t> index, Variant value);
  void set(const int32_t* index, size_t n, Variant value);
  // ReDim Preserve: only the last dimension may change.
  void redimPreserve(int32_t newUpperOfLast);

  // Elements in storage order (first index fastest).
  const std::vector<Variant>& data() const { return data_; }
  std::vector<Variant>& data() { return data_; }

  friend bool operator==(const Array&, const Array&) = default;

 private:
  size_t offset(const int32_t* index, size_t n) const;
  std::vector<Bound> bounds_;
  VT elementType_ = VT::Variant;
  std::vector<Variant> data_;
};

// Convenience for building argument lists and tests.
inline Variant V(std::initializer_list<Variant> items) {
  return Variant(Array::vector(std::vector<Variant>(items)));
}

}  // namespace pressmark
