// The ODBC seam of the data server: one environment per process, one
// connection per Connection object, statements fetched whole into a RowSet
// or read forward a block of rows at a time.
// Every ODBC failure leaves here as an AutomationError carrying the
// driver's diagnostic text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "servers/data/LinesOut.h"
#include "servers/data/RowSet.h"

namespace pm::data {

// One statement's result read forward: each fetch fills the column buffers
// bound once with the next block of rows and appends them to a RowSet, or
// writes them out as text, so a result of any length costs one block of
// memory. The connection that made it must outlive it; closing that
// connection ends the stream.
class OdbcStream {
 public:
  struct State;
  explicit OdbcStream(std::unique_ptr<State> state);
  ~OdbcStream();
  OdbcStream(const OdbcStream&) = delete;
  OdbcStream& operator=(const OdbcStream&) = delete;

  const std::vector<FieldInfo>& fields() const;
  // Appends the next block's rows to `into`; false once no row is left.
  bool fetch(RowSet& into);
  // Writes every row still to come as a line of the text export (see
  // ado::RecordLines), each value formatted once straight from the bound
  // buffers, and returns how many there were.
  size_t writeLines(LinesOut& out);
  // Frees the statement; a later fetch raises.
  void close() noexcept;

 private:
  std::unique_ptr<State> s_;
};

class OdbcConnection {
 public:
  OdbcConnection();
  ~OdbcConnection();
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  // Connects with an ODBC connection text ("DSN=...;UID=...;PWD=...;" or
  // any text SQLDriverConnect takes). A DSN that names no configured data
  // source but an existing SQLite database file is opened through the
  // SQLite driver, so a user with no ODBC set-up can still work.
  void open(const std::string& connectionText, const std::string& source);
  void close() noexcept;
  bool isOpen() const { return dbc_ != nullptr; }

  // Runs one statement and fetches its whole result; nullptr when the
  // statement returns no columns.
  RowSetRef execute(const std::string& sql, const std::string& source);
  // Runs one statement and leaves its result to be read forward in blocks
  // of up to blockRows rows; nullptr when the statement returns no columns.
  std::shared_ptr<OdbcStream> stream(const std::string& sql, const std::string& source, size_t blockRows);

 private:
  void* dbc_ = nullptr;  // SQLHDBC
  // The streams still reading on this connection: their statements are
  // freed before the connection goes.
  std::vector<std::weak_ptr<OdbcStream>> streams_;
  // Unicode drivers get text as UTF-16 through the wide calls; ANSI drivers
  // (SQLite's among them) pass UTF-8 bytes through the narrow ones, which
  // the driver manager would otherwise squeeze through Latin-1.
  bool wide_ = false;
};

// The connection text actually handed to the driver manager (exposed for
// tests of the SQLite default).
std::string resolveConnectionText(const std::string& connectionText);
// The connection text with a user ID and password added as ODBC quotes
// them: in braces, a "}" doubled, so neither can add attributes of its own.
// An empty-or-missing one (null) is not added.
std::string withCredentials(std::string connectionText, const std::string* userId, const std::string* password);

// UTF-8 <-> UTF-16 for the driver manager's wide calls.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(const char16_t* s, size_t n);
void appendUtf8(std::string& out, const char16_t* s, size_t n);

}  // namespace pm::data
