// The data-access surface: the ProgIDs, constants and member names the data
// methods of CreatePDF use and the data server answers to. Both sides include
// this file, so a name is spelled once.
#pragma once

#include <cstdint>
#include <string_view>

namespace pm::ado {

inline constexpr const char* kConnectionProgId = "ADODB.Connection";
inline constexpr const char* kRecordsetProgId = "ADODB.Recordset";

// The XML data-source provider texts, in the order they are tried.
inline constexpr const char* kXmlProviders[3] = {
    "Provider=MSDAOSP; Data Source=MSXML2.DSOControl;",
    "Provider=MSDAOSP; Data Source=MSXML2.DSOControl.2.6;",
    "Provider=MSDAOSP; Data Source=MSXML2.DSOControl.3.0;",
};
// The field an XML recordset carries for an element's own text.
inline constexpr const char* kXmlTextField = "$Text";

// CursorLocationEnum, CursorTypeEnum, LockTypeEnum, ObjectStateEnum.
inline constexpr int32_t adUseServer = 2;
inline constexpr int32_t adUseClient = 3;
inline constexpr int32_t adOpenForwardOnly = 0;
inline constexpr int32_t adOpenStatic = 3;
inline constexpr int32_t adLockReadOnly = 1;
inline constexpr int32_t adStateClosed = 0;
inline constexpr int32_t adStateOpen = 1;

// DataTypeEnum: the field type codes.
inline constexpr int32_t adSmallInt = 2;
inline constexpr int32_t adInteger = 3;
inline constexpr int32_t adSingle = 4;
inline constexpr int32_t adDouble = 5;
inline constexpr int32_t adCurrency = 6;
inline constexpr int32_t adDate = 7;
inline constexpr int32_t adBoolean = 11;
inline constexpr int32_t adDecimal = 14;
inline constexpr int32_t adTinyInt = 16;
inline constexpr int32_t adUnsignedTinyInt = 17;
inline constexpr int32_t adBigInt = 20;
inline constexpr int32_t adGUID = 72;
inline constexpr int32_t adBinary = 128;
inline constexpr int32_t adNumeric = 131;
inline constexpr int32_t adDBTime = 134;
inline constexpr int32_t adDBTimeStamp = 135;
inline constexpr int32_t adChapter = 136;
inline constexpr int32_t adVarChar = 200;
inline constexpr int32_t adLongVarChar = 201;
inline constexpr int32_t adVarWChar = 202;
inline constexpr int32_t adLongVarWChar = 203;
inline constexpr int32_t adLongVarBinary = 205;

// The data-access errors (ErrorValueEnum as HRESULTs) the server raises.
inline constexpr int32_t kErrGeneric = static_cast<int32_t>(0x80004005u);           // E_FAIL
inline constexpr int32_t kErrBofEof = static_cast<int32_t>(0x800A0BCDu);            // 3021
inline constexpr int32_t kErrItemNotFound = static_cast<int32_t>(0x800A0CC1u);      // 3265
inline constexpr int32_t kErrObjectClosed = static_cast<int32_t>(0x800A0E78u);      // 3704
inline constexpr int32_t kErrObjectOpen = static_cast<int32_t>(0x800A0E79u);        // 3705
inline constexpr int32_t kErrProviderNotFound = static_cast<int32_t>(0x800A0E7Au);  // 3706
inline constexpr int32_t kErrArguments = static_cast<int32_t>(0x800A0BB9u);         // 3001
inline constexpr int32_t kErrFetchBackward = static_cast<int32_t>(0x80040E24u);     // DB_E_CANTFETCHBACKWARDS

// Where a recordset that writes its own records as text puts them: UTF-8
// text of whole lines, many lines at a time.
class TextSink {
 public:
  virtual void write(std::string_view utf8) = 0;

 protected:
  ~TextSink() = default;
};

// How the text export lays out a record: each field in double quotes when
// asked, the fields joined by the delimiter, the line ended by lineEnd.
struct LineFormat {
  std::string_view delimiter;
  bool quotes = false;
  std::string_view lineEnd;
};

// A recordset of the data server writes the text export's lines itself: it
// formats each value straight from what the driver fetched (the text CStr
// gives its Value, a Null as nothing), where a Field's Value would cost a
// Variant and a call by name per cell, and a forward-only cursor holds no
// record after its line is out. The file is the same either way.
class RecordLines {
 public:
  virtual ~RecordLines() = default;
  // Writes the records from the current one to the last; the recordset is
  // left at EOF.
  virtual void writeLines(TextSink& sink, const LineFormat& format) = 0;
};

}  // namespace pm::ado
