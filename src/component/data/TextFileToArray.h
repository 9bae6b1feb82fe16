// The text-file-to-array algorithm shared by CreatePDF.TextFileToArray and
// Document.TextFileToArray: one row per line, one column per delimited
// field. Returns the method's code (1; -1 the file cannot be opened; -2
// varArray holds neither an array nor Empty; -3 any other failure) and
// never raises. varArray is the caller's variable.
#pragma once

#include <cstdint>

#include "automation/Variant.h"

namespace pm {

int16_t TextFileToArrayCode(const Variant& strTextFile, Variant& varArray, const Variant& strDelimiter,
                            const Variant& blnRemoveQuotes);

}  // namespace pm
