// Arrays and delimited text: the six array/text methods of CreatePDF. Each
// reports its outcome as a 16-bit code and never raises.
#include <algorithm>
#include <limits>

#include "component/frame/CreatePDF.h"
#include "component/data/TextFileToArray.h"
#include "component/data/TextFiles.h"
#include "system/clsConcat.h"

namespace pm {
namespace {

using datafiles::argText;
using datafiles::elementText;
using datafiles::emptyOrSpaces;
using datafiles::TextFileWriter;

constexpr const char* kCrLf = "\r\n";
constexpr const char* kQuote = "\"";

Variant code(int c) {
  return Variant(static_cast<int16_t>(c));
}

// Runs a method body; any failure becomes the given code.
template <class Body>
Variant guarded(int failure, Body&& body) noexcept {
  try {
    return code(body());
  } catch (...) {
    return code(failure);
  }
}

const Array& oneD(const Variant& v) {
  const Array& a = v.array();
  if (a.dims() != 1) raise(basic::SubscriptOutOfRange);
  return a;
}
const Array& twoD(const Variant& v) {
  if (!v.isArray()) raise(basic::SubscriptOutOfRange);  // Empty: UBound(v, 2) fails
  const Array& a = v.array();
  if (a.dims() != 2) raise(basic::SubscriptOutOfRange);
  return a;
}

// The print form of a value without quotes, as a line-printing statement
// writes it: strings unchanged, Empty as nothing, Null as the word Null,
// numbers with a leading sign position.
std::string printForm(const Variant& v) {
  if (v.isNull()) return "Null";
  if (v.isArray() || v.isObject()) raise(basic::TypeMismatch);
  if (v.isNumeric() && v.type() != VT::Boolean && v.type() != VT::Date) {
    std::string s = CStr(v);
    return s.empty() || s[0] == '-' ? s : " " + s;
  }
  return CStr(v);
}

// "&" in Basic: Null joins as nothing.
std::string concatText(const Variant& v) {
  if (v.isNull()) return {};
  return elementText(v);
}

Variant OneDArrayToTextFile(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray()) return code(-1);
  return guarded(-2, [&] {
    const Array& a = oneD(f["varArray"]);
    bool quotes = CBool(f["blnQuotes"]);
    TextFileWriter out(argText(f["strTextFile"]));
    for (const Variant& e : a.data()) {
      if (quotes) {
        out.append('"');
        out.append(concatText(e));
        out.append('"');
      } else {
        out.append(printForm(e));
      }
      out.endLine();
    }
    out.commit();
    return 1;
  });
}

Variant OneDArrayToText(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray()) return code(-1);
  return guarded(-2, [&] {
    if (emptyOrSpaces(argText(f["strEndOfRowChar"]))) f["strEndOfRowChar"] = Variant(kCrLf);
    const Array& a = oneD(f["varArray"]);
    std::string row = argText(f["strEndOfRowChar"]);
    std::string last = f.missing("strEndOfArrayChar") ? std::string() : argText(f["strEndOfArrayChar"]);
    bool quotes = CBool(f["blnQuotes"]);
    clsConcat text;
    text.ReInit();
    const auto& items = a.data();
    for (size_t i = 0; i < items.size(); ++i) {
      if (quotes) text.SConcat(kQuote);
      text.SConcat(elementText(items[i]));
      if (quotes) text.SConcat(kQuote);
      text.SConcat(i + 1 == items.size() ? last : row);
    }
    f["strText"] = Variant(text.GetString());
    return 1;
  });
}

Variant TwoDArrayToTextFile(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray() && !f["varArray"].isEmpty()) return code(-1);
  return guarded(-2, [&] {
    std::string delimiter = argText(f["strDelimiter"]);
    if (delimiter.empty()) delimiter = ",";
    const Array& a = twoD(f["varArray"]);
    bool quotes = CBool(f["blnQuotes"]);
    const Bound rows = a.bounds()[0], cols = a.bounds()[1];
    TextFileWriter out(argText(f["strTextFile"]));
    for (int32_t r = rows.lower; r < rows.lower + rows.count; ++r) {
      for (int32_t c = cols.lower; c < cols.lower + cols.count; ++c) {
        const Variant& e = a.at({r, c});
        if (quotes) out.append('"');
        if (e.isString())
          out.append(e.asString());
        else
          out.append(elementText(e));
        if (quotes) out.append('"');
        if (c != cols.upper()) out.append(delimiter);
      }
      out.endLine();
    }
    out.commit();
    return 1;
  });
}

Variant TwoDArrayToText(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray() && !f["varArray"].isEmpty()) return code(-1);
  return guarded(-2, [&] {
    if (emptyOrSpaces(argText(f["strDelimiter"]))) f["strDelimiter"] = Variant("\t");
    if (emptyOrSpaces(argText(f["strEndOfRowChar"]))) f["strEndOfRowChar"] = Variant(kCrLf);
    std::string delimiter = argText(f["strDelimiter"]), rowEnd = argText(f["strEndOfRowChar"]);
    bool quotes = CBool(f["blnQuotes"]);
    const Array& a = twoD(f["varArray"]);
    const Bound rows = a.bounds()[0], cols = a.bounds()[1];
    clsConcat text;
    text.ReInit();
    for (int32_t r = rows.lower; r < rows.lower + rows.count; ++r)
      for (int32_t c = cols.lower; c < cols.lower + cols.count; ++c) {
        if (quotes) text.SConcat(kQuote);
        text.SConcat(elementText(a.at({r, c})));
        if (quotes) text.SConcat(kQuote);
        text.SConcat(c == cols.upper() ? rowEnd : delimiter);
      }
    f["strText"] = Variant(text.GetString());
    return 1;
  });
}

Variant TextFileToOneDArray(CreatePDF&, Frame& f) {
  std::vector<std::string> lines;
  try {
    lines = datafiles::readLines(argText(f["strTextFile"]));
  } catch (...) {
    return code(-1);
  }
  Variant& var = f["varArray"];
  if (!var.isArray() && !var.isEmpty()) return code(-2);
  return guarded(-3, [&] {
    if (lines.empty()) return 1;  // the caller's variable stays as it was
    if (var.isEmpty()) var = Variant(Array({Bound{0, 0}}));
    // ReDim Preserve (0 To n): the caller's array keeps its element type,
    // and only a one-dimensional array based at 0 can be resized so.
    Array& a = var.arrayMut();
    if (a.dims() != 1 || a.lbound(1) != 0) raise(basic::SubscriptOutOfRange);
    a.redimPreserve(static_cast<int32_t>(lines.size()) - 1);
    for (size_t n = 0; n < lines.size(); ++n) {
      int32_t i = static_cast<int32_t>(n);
      a.set({i}, Variant(std::move(lines[n])));
    }
    return 1;
  });
}

Variant TextFileToArray(CreatePDF&, Frame& f) {
  return code(TextFileToArrayCode(f["strTextFile"], f["varArray"], f["strDelimiter"], f["blnRemoveQuotes"]));
}

void describe(Members<CreatePDF>& m) {
  m.method("OneDArrayToTextFile", {P("varArray"), P("strTextFile").path(), P("blnQuotes").opt(Variant(false))},
           &OneDArrayToTextFile, "Write a one-dimensional array to a text file, one element per line.")
      .method("OneDArrayToText",
              {P("varArray"), P("strText"), P("strEndOfRowChar"), P("strEndOfArrayChar").opt(Variant("")),
               P("blnQuotes").opt(Variant(false))},
              &OneDArrayToText, "Join a one-dimensional array into a text.")
      .method("TwoDArrayToTextFile",
              {P("varArray"), P("strTextFile").path(), P("strDelimiter").byVal().opt(Variant("")),
               P("blnQuotes").opt(Variant(false))},
              &TwoDArrayToTextFile, "Write a two-dimensional array to a delimited text file.")
      .method(
          "TwoDArrayToText",
          {P("varArray"), P("strText"), P("strDelimiter"), P("strEndOfRowChar"), P("blnQuotes").opt(Variant(false))},
          &TwoDArrayToText, "Join a two-dimensional array into a delimited text.")
      .method("TextFileToOneDArray", {P("strTextFile").path(), P("varArray")}, &TextFileToOneDArray,
              "Read a text file into a one-dimensional array, one element per line.")
      .method("TextFileToArray",
              {P("strTextFile").path(), P("varArray"), P("strDelimiter").byVal().opt(Variant("")),
               P("blnRemoveQuotes").opt(Variant(false))},
              &TextFileToArray, "Read a delimited text file into a two-dimensional array.");
}

const CreatePDFMembers::Register reg("data_arrays", &describe);

}  // namespace

namespace {
// Length of the UTF-8 sequence at s[i] (one character of the text).
size_t charLength(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  return std::min(n, s.size() - i);
}
}  // namespace

int16_t TextFileToArrayCode(const Variant& strTextFile, Variant& varArray, const Variant& strDelimiter,
                            const Variant& blnRemoveQuotes) {
  std::vector<std::string> lines;
  try {
    lines = datafiles::readLines(argText(strTextFile));
  } catch (...) {
    return -1;
  }
  try {
    std::string delimiter = argText(strDelimiter);
    if (delimiter.empty()) delimiter = ",";
    if (!varArray.isArray() && !varArray.isEmpty()) return -2;
    bool removeQuotes = CBool(blnRemoveQuotes);
    // A delimiter is one character: each character of a line is compared
    // with the whole delimiter, so a longer one never matches.
    auto isDelimiter = [&](const std::string& s, size_t i, size_t len) {
      return len == delimiter.size() && s.compare(i, len, delimiter) == 0;
    };
    size_t most = 0;
    for (const std::string& line : lines) {
      size_t count = 0;
      for (size_t i = 0; i < line.size();) {
        size_t len = charLength(line, i);
        if (isDelimiter(line, i, len)) ++count;
        i += len;
      }
      most = std::max(most, count);
    }
    if (most > static_cast<size_t>(std::numeric_limits<int16_t>::max())) raise(basic::Overflow);
    if (lines.empty() || lines.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
      raise(basic::SubscriptOutOfRange);
    varArray = Variant(Array::matrix(static_cast<int32_t>(lines.size()), static_cast<int32_t>(most) + 1));
    Array& a = varArray.arrayMut();
    for (size_t r = 0; r < lines.size(); ++r) {
      std::string line = std::move(lines[r]);
      // Ends with the delimiter? Otherwise one is added so the last field
      // is closed like the others.
      size_t lastStart = line.size();
      if (!line.empty()) {
        lastStart = line.size() - 1;
        while (lastStart > 0 && (static_cast<unsigned char>(line[lastStart]) & 0xC0) == 0x80) --lastStart;
      }
      if (line.empty() || !isDelimiter(line, lastStart, line.size() - lastStart)) line += delimiter;
      std::string field;
      int32_t c = 0;
      for (size_t i = 0; i < line.size();) {
        size_t len = charLength(line, i);
        if (isDelimiter(line, i, len)) {
          if (removeQuotes && !field.empty() && field.front() == '"' && field.back() == '"') {
            if (field.size() < 2) raise(basic::InvalidProcedureCall);  // Mid(field, 2, -1)
            field = field.substr(1, field.size() - 2);
          }
          a.set({static_cast<int32_t>(r), c}, Variant(std::move(field)));
          field.clear();
          ++c;
        } else {
          field.append(line, i, len);
        }
        i += len;
      }
    }
    return 1;
  } catch (...) {
    return -3;
  }
}

}  // namespace pm
