// Databases, recordsets and XML: the seven data-source methods of
// CreatePDF. They drive ADODB.Connection and ADODB.Recordset by name, report
// their outcome as a 16-bit code and never raise.
#include <string_view>
#include <vector>

#include "automation/surfaces/Ado.h"
#include "component/frame/CreatePDF.h"
#include "component/data/TextFiles.h"

namespace pm {
namespace {

using datafiles::argText;
using datafiles::TextFileWriter;

Variant code(int c) {
  return Variant(static_cast<int16_t>(c));
}

// "&" in Basic: Null joins as nothing.
std::string joinText(const Variant& v) {
  return v.isNull() ? std::string() : argText(v);
}

void closeQuietly(const ObjectRef& o) {
  if (o) ignoreErrors([&] { call(o, "Close"); });
}

// A data source opened for one method: the connection and the recordset on
// the query, closed and released on every path.
struct DataSource {
  ObjectRef connection, recordset;
  ~DataSource() {
    closeQuietly(recordset);
    closeQuietly(connection);
  }
};

// Opens the connection and the query's recordset. Returns 0, or the
// connection or the query failure code. The array export opens the
// client-side cursor, which knows its row count before the first row is
// read; the text export, which reads each row once in order and needs no
// count, opens a forward-only server cursor, which holds one block of rows
// instead of the whole result and writes each row while the next are still
// to be fetched. The file holds the same lines either way.
int openDataSource(DataSource& ds, const Variant& dsn, const Variant& sql, const Variant& user, const Variant& password,
                   int connectionCode, int queryCode, int32_t cursorLocation) {
  try {
    std::string text = "DSN=" + joinText(dsn) + ";UID=" + joinText(user) + ";PWD=" + joinText(password) + ";";
    ds.connection = CreateObject(ado::kConnectionProgId);
    call(ds.connection, "Open", {Variant(text)});
  } catch (...) {
    ds.connection.reset();
    return connectionCode;
  }
  try {
    ds.recordset = CreateObject(ado::kRecordsetProgId);
    let(ds.recordset, "CursorLocation", Variant(cursorLocation));
    let(ds.recordset, "CacheSize", Variant(int16_t{20}));
    call(ds.recordset, "Open",
         {sql, Variant(ds.connection), Variant(ado::adOpenForwardOnly), Variant(ado::adLockReadOnly)});
  } catch (...) {
    ds.recordset.reset();
    closeQuietly(ds.connection);
    ds.connection.reset();
    return queryCode;
  }
  return 0;
}

// The fields of a recordset, fetched once: Field objects follow the
// recordset's current record.
struct FieldList {
  std::vector<ObjectRef> fields;
  explicit FieldList(const ObjectRef& rs) {
    ObjectRef all = objectOf(get(rs, "Fields"));
    int32_t n = CLng(get(all, "Count"));
    for (int32_t i = 0; i < n; ++i) fields.push_back(objectOf(get(all, "Item", {Variant(i)})));
  }
  size_t size() const { return fields.size(); }
};

bool atEnd(const ObjectRef& rs) {
  return CBool(get(rs, "EOF"));
}

// The text writers' line: every field's text, quoted when asked, joined by
// the delimiter. A record source without fields has no last field: error.
class LineWriter {
 public:
  LineWriter(TextFileWriter& out, std::string delimiter, bool quotes)
      : out_(out), delimiter_(std::move(delimiter)), quotes_(quotes) {}
  void line(const FieldList& fl, const char* member) {
    if (fl.size() == 0) raise(basic::SubscriptOutOfRange);
    for (size_t i = 0; i < fl.size(); ++i) {
      Variant v = get(fl.fields[i], member);
      if (quotes_) out_.append('"');
      // A Null is an empty field: nearly every real table has one.
      if (v.isString())
        out_.append(v.asString());
      else if (!v.isNull())
        out_.append(datafiles::elementText(v));
      if (quotes_) out_.append('"');
      if (i + 1 < fl.size()) out_.append(delimiter_);
    }
    out_.endLine();
  }

 private:
  TextFileWriter& out_;
  std::string delimiter_;
  bool quotes_;
};

// The lines a recordset of the data server writes itself, into the file.
class FileText final : public ado::TextSink {
 public:
  explicit FileText(TextFileWriter& out) : out_(out) {}
  void write(std::string_view utf8) override { out_.text(utf8); }

 private:
  TextFileWriter& out_;
};

void writeRecords(const ObjectRef& rs, TextFileWriter& out, bool headings, const std::string& delimiter, bool quotes) {
  FieldList fl(rs);
  LineWriter lines(out, delimiter, quotes);
  if (headings) lines.line(fl, "Name");
  if (auto* own = dynamic_cast<ado::RecordLines*>(rs.get())) {
    FileText sink(out);
    own->writeLines(sink, ado::LineFormat{delimiter, quotes, TextFileWriter::kLineEnd});
  } else {
    while (!atEnd(rs)) {
      lines.line(fl, "Value");
      call(rs, "MoveNext");
    }
  }
  out.commit();
}

// Row count from RecordCount; a count the recordset does not know (-1)
// cannot size an array.
int32_t recordCount(const ObjectRef& rs) {
  int32_t n = CLng(get(rs, "RecordCount"));
  if (n < 0) raise(basic::SubscriptOutOfRange);
  return n;
}

// Rows of a recordset into a two-dimensional array, headings in row 0 when
// asked; a single field gives a one-dimensional array when oneD is set.
Array recordsToArray(const ObjectRef& rs, bool headings, bool oneD) {
  FieldList fl(rs);
  int32_t rows = recordCount(rs) + (headings ? 1 : 0);
  int32_t cols = static_cast<int32_t>(fl.size());
  if (oneD && cols == 1) {
    Array a({Bound{0, rows}});
    int32_t row = 0;
    if (headings) a.set({row++}, get(fl.fields[0], "Name"));
    while (!atEnd(rs)) {
      a.set({row++}, get(fl.fields[0], "Value"));
      call(rs, "MoveNext");
    }
    return a;
  }
  Array a = Array::matrix(rows, cols);
  int32_t row = 0;
  if (headings) {
    for (int32_t c = 0; c < cols; ++c) a.set({0, c}, get(fl.fields[static_cast<size_t>(c)], "Name"));
    row = 1;
  }
  while (!atEnd(rs)) {
    for (int32_t c = 0; c < cols; ++c) a.set({row, c}, get(fl.fields[static_cast<size_t>(c)], "Value"));
    ++row;
    call(rs, "MoveNext");
  }
  return a;
}

// Sets the XML data-source provider as the recordset's connection, trying
// each provider text in turn.
bool useXmlProvider(const ObjectRef& rs) {
  for (const char* provider : ado::kXmlProviders)
    if (ignoreErrors([&] { let(rs, "ActiveConnection", Variant(provider)); })) return true;
  return false;
}

Variant DatabaseTableToTextFile(CreatePDF&, Frame& f) {
  try {
    DataSource ds;
    if (int c =
            openDataSource(ds, f["strDSN"], f["strSQL"], f["strUserID"], f["strPassword"], -1, -2, ado::adUseServer))
      return code(c);
    try {
      TextFileWriter out(argText(f["strTextFile"]));
      writeRecords(ds.recordset, out, CBool(f["blnIncludeHeadings"]), argText(f["strDelimiter"]),
                   CBool(f["blnQuotes"]));
    } catch (...) {
      return code(-3);
    }
    return code(1);
  } catch (...) {
    return code(-3);
  }
}

Variant RecordsetToTextFile(CreatePDF&, Frame& f) {
  ObjectRef rs;
  try {
    rs = objectOf(f["objRecd"]);
    TextFileWriter out(argText(f["strTextFile"]));
    call(rs, "MoveFirst");
    writeRecords(rs, out, CBool(f["blnIncludeHeadings"]), argText(f["strDelimiter"]), CBool(f["blnQuotes"]));
    call(rs, "MoveFirst");
    return code(1);
  } catch (...) {
    if (rs) ignoreErrors([&] { call(rs, "MoveFirst"); });
    return code(-1);
  }
}

Variant DatabaseTableToArray(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray()) return code(-1);
  try {
    DataSource ds;
    if (int c =
            openDataSource(ds, f["strDSN"], f["strSQL"], f["strUserID"], f["strPassword"], -2, -3, ado::adUseClient))
      return code(c);
    try {
      f["varArray"] = Variant(recordsToArray(ds.recordset, CBool(f["blnIncludeHeadings"]), false));
    } catch (...) {
      return code(-4);
    }
    return code(1);
  } catch (...) {
    return code(-4);
  }
}

Variant RecordsetToArray(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray() && !f["varArray"].isEmpty()) return code(-1);
  ObjectRef rs;
  try {
    rs = objectOf(f["objRecd"]);
    call(rs, "MoveFirst");
    f["varArray"] = Variant(recordsToArray(rs, CBool(f["blnIncludeHeadings"]), true));
    call(rs, "MoveFirst");
    return code(1);
  } catch (...) {
    if (rs) ignoreErrors([&] { call(rs, "MoveFirst"); });
    return code(-2);
  }
}

Variant XMLFileToRecordset(CreatePDF&, Frame& f) {
  try {
    ObjectRef rs = f["objRecd"].isObject() ? f["objRecd"].asObject() : nullptr;
    if (!rs || !useXmlProvider(rs)) return code(-1);
    if (!ignoreErrors([&] { call(rs, "Open", {f["strXMLFile"]}); })) return code(-2);
    return code(1);
  } catch (...) {
    return code(-2);
  }
}

// Copies an XML recordset into an array sized by the caller: every field
// but "$Text" has a column; chapter fields (child recordsets) keep their
// column, left Empty in the record rows, so every value stays under its
// heading. A failing step is skipped; a failing EOF or MoveNext ends the
// walk rather than looping.
void CopyXmlRecordsetToArray(const ObjectRef& rs, bool headings, Array& a) {
  std::vector<ObjectRef> fields;
  ignoreErrors([&] {
    ObjectRef all = objectOf(get(rs, "Fields"));
    int32_t n = CLng(get(all, "Count"));
    for (int32_t i = 0; i < n; ++i) fields.push_back(objectOf(get(all, "Item", {Variant(i)})));
  });
  std::vector<std::string> names(fields.size());
  std::vector<int32_t> types(fields.size(), 0);
  for (size_t i = 0; i < fields.size(); ++i) {
    ignoreErrors([&] { names[i] = CStr(get(fields[i], "Name")); });
    ignoreErrors([&] { types[i] = CLng(get(fields[i], "Type")); });
  }
  int32_t row = 0;
  if (headings) {
    int32_t col = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (names[i] == ado::kXmlTextField) continue;
      ignoreErrors([&] { a.set({0, col}, Variant(names[i])); });
      ++col;
    }
    row = 1;
  }
  for (;;) {
    bool eof = true;
    if (!ignoreErrors([&] { eof = atEnd(rs); }) || eof) break;
    int32_t col = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (names[i] == ado::kXmlTextField) continue;
      if (types[i] != ado::adChapter) ignoreErrors([&] { a.set({row, col}, get(fields[i], "Value")); });
      ++col;
    }
    ++row;
    if (!ignoreErrors([&] { call(rs, "MoveNext"); })) break;
  }
}

Variant XMLFileToArray(CreatePDF&, Frame& f) {
  if (!f["varArray"].isArray()) return code(-1);
  try {
    ObjectRef rs = CreateObject(ado::kRecordsetProgId);
    if (!useXmlProvider(rs)) return code(-2);
    if (!ignoreErrors([&] { call(rs, "Open", {f["strXMLFile"]}); })) return code(-3);
    try {
      bool headings = CBool(f["blnIncludeHeadings"]);
      int32_t rows = recordCount(rs) + (headings ? 1 : 0);
      int32_t fields = CLng(get(objectOf(get(rs, "Fields")), "Count"));
      Array a = Array::matrix(rows, fields - 1);
      CopyXmlRecordsetToArray(rs, headings, a);
      f["varArray"] = Variant(std::move(a));
    } catch (...) {
      closeQuietly(rs);
      return code(-4);
    }
    closeQuietly(rs);
    return code(1);
  } catch (...) {
    return code(-4);
  }
}

void describe(Members<CreatePDF>& m) {
  m.method("DatabaseTableToTextFile",
           {P("strDSN").path(), P("strSQL"), P("strTextFile").path(), P("strUserID").opt(Variant("")),
            P("strPassword").opt(Variant("")), P("blnIncludeHeadings").opt(Variant(false)),
            P("strDelimiter").byVal().opt(Variant("")), P("blnQuotes").opt(Variant(false))},
           &DatabaseTableToTextFile, "Write the result of a query on an ODBC data source to a delimited text file.")
      .method("RecordsetToTextFile",
              {P("objRecd"), P("strTextFile").path(), P("blnIncludeHeadings").opt(Variant(false)),
               P("strDelimiter").byVal().opt(Variant("")), P("blnQuotes").opt(Variant(false))},
              &RecordsetToTextFile, "Write a recordset to a delimited text file.")
      .method("DatabaseTableToArray",
              {P("strDSN").path(), P("strSQL"), P("varArray"), P("strUserID").opt(Variant("")),
               P("strPassword").opt(Variant("")), P("blnIncludeHeadings").opt(Variant(false))},
              &DatabaseTableToArray, "Read the result of a query on an ODBC data source into an array.")
      .method("RecordsetToArray", {P("objRecd"), P("varArray"), P("blnIncludeHeadings").opt(Variant(false))},
              &RecordsetToArray, "Read a recordset into an array.")
      .method("XMLFileToRecordset", {P("strXMLFile").path(), P("objRecd")}, &XMLFileToRecordset,
              "Open an XML file in a recordset.")
      .method("XMLFileToArray", {P("strXMLFile").path(), P("varArray"), P("blnIncludeHeadings").opt(Variant(false))},
              &XMLFileToArray, "Read an XML file into an array.");
}

const CreatePDFMembers::Register reg("data_database", &describe);

}  // namespace
}  // namespace pm
