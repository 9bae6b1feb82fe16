// JSON as the pressmark command reads arguments and prints results.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "automation/Variant.h"

namespace pm::cli {

// Parses a whole word as one JSON value: numbers (integers that fit become
// Long, others Double), true/false (Boolean), null (Null), "strings", and
// arrays (a nested array of equal-length rows is two-dimensional, rows
// first; [] is an empty one-dimensional array, bounds 0 to -1). Returns
// nothing when the word is not JSON.
std::optional<Variant> parseJson(std::string_view text);

// The length of the JSON value at the start of text (a string or an array),
// 0 when it is not a complete one.
size_t jsonValueLength(std::string_view text);

// Prints a value: strings quoted, Booleans true/false, Empty and Null as
// null, arrays as nested arrays, dates as their text. Objects are written by
// the caller-supplied function (the command prints "$N").
std::string toJson(const Variant& v, const std::function<std::string(const ObjectRef&)>& object);

std::string jsonQuote(std::string_view s);

}  // namespace pm::cli
