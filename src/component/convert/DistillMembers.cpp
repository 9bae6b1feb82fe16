// The conversions that start from PostScript: one file, or a list of files
// joined into one PDF through a generated PostScript driver file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "automation/surfaces/Distiller.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/Distill.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm {
namespace {

// The driver file's fixed head, lines 1 to 7.
constexpr const char* kDriverHead =
    "/prun { /mysave save def\r\n"
    "dup = flush\r\n"
    "RunFile\r\n"
    "clear cleardictstack\r\n"
    "mysave restore\r\n"
    "} def\r\n"
    "\r\n";

// A path inside a PostScript string. Windows-style separators become "/";
// "(", ")" and "\" are escaped so that a name holding them can neither
// break the job nor smuggle PostScript into it, and control bytes (a line
// break in a name) are written as octal escapes so each entry stays on
// its line.
std::string driverEntry(const std::string& path) {
  std::string out = "(";
  for (unsigned char c : path) {
    if (c == '\\') c = '/';
    if (c == '(' || c == ')') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      static const char digits[] = "01234567";
      out += '\\';
      out += digits[(c >> 6) & 7];
      out += digits[(c >> 3) & 7];
      out += digits[c & 7];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ") prun\r\n";
}

// The driver file, created so that it never replaces an existing file: the
// name after the output PDF when that name is free, else a fresh name
// beside it. An input that happens to carry the driver's name is thereby
// never overwritten, and never deleted afterwards. The driver itself is
// removed however the method ends.
class DriverFile {
 public:
  explicit DriverFile(const std::string& wanted) {
    fd_ = ::open(wanted.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      path_ = wanted;
    } else {
      if (errno == ENOENT || errno == ENOTDIR)
        raise(basic::PathNotFound, std::string(basicDescription(basic::PathNotFound)) + ": " + wanted);
      if (errno != EEXIST) raiseFileError(errno, wanted);
      std::string stem = wanted.substr(0, wanted.size() - 2);  // keeps the "." of ".ps"
      if (!stem.empty() && stem.back() == '.') stem.pop_back();
      ExclusiveTempFile fresh(stem + "-", ".ps");
      fresh.keep();
      path_ = fresh.path();
      fd_ = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd_ < 0) raiseFileError(errno, path_);
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
  }
  ~DriverFile() {
    if (fd_ >= 0) ::close(fd_);
    // Only while the name still stands for the file made here.
    struct stat st {};
    if (ino_ != 0 && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
      ::unlink(path_.c_str());
  }
  DriverFile(const DriverFile&) = delete;
  DriverFile& operator=(const DriverFile&) = delete;

  const std::string& path() const { return path_; }
  // True when the path names this very file (a list that names the driver
  // would make the job run itself without end).
  bool is(const std::string& other) const {
    struct stat st {};
    return ::stat(other.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
  }
  void write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) raiseFileError(errno, path_);
      done += static_cast<size_t>(n);
    }
  }
  void close() {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) raiseFileError(errno, path_);
  }

 private:
  std::string path_;
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

Variant CreatePDFfromPS(CreatePDF& self, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  Variant& strPSFile = f["strPSFile"];
  Variant& strDistiller = f["strDistiller"];
  // Before anything else.
  requireNoConversion(self);
  if (!FileExists(strPSFile)) raiseMissingFile(strPSFile);
  ObjectRef secure;
  distillTrap(self, secure, [&] {
    // Written back to the caller; not used otherwise.
    if (Trim(CStr(strDistiller)).empty()) strDistiller = Variant(self.strPrinterName);
    // An existing PDF is not deleted first: the Distiller writes beside
    // it and puts the new file in its place only once the job succeeded,
    // so a failed job leaves it as it was, and an output that is also the
    // input is read before it is replaced.
    // The input stays in place.
    distillStep(self, CStr(strPSFile), CStr(strPDFFile), f["blnShowWindow"], f["blnSpoolJobs"], f["strJobOptionsFile"],
                f["blnApplySecurity"], secure);
  });
  return {};
}

Variant CreatePDFfromMultiPS(CreatePDF& self, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  Variant& varPSFiles = f["varPSFiles"];
  Variant& strDistiller = f["strDistiller"];
  requireNoConversion(self);
  ObjectRef secure;
  distillTrap(self, secure, [&] {
    // The output path without its last three characters, then "ps".
    std::string pdf = CStr(strPDFFile);
    if (pdf.size() < 3) raise(basic::InvalidProcedureCall);
    DriverFile driver(pdf.substr(0, pdf.size() - 3) + "ps");
    // The names are written byte for byte: Ghostscript opens them as
    // the file system spells them, so a code-page conversion would only
    // damage names outside ASCII.
    std::string text = kDriverHead;
    // The files as Ghostscript will open them: the only ones the job may
    // read besides the driver's own folder.
    std::vector<std::string> entries;
    // A 16-bit index runs over the list, as it always did.
    if (!varPSFiles.isArray()) raise(basic::TypeMismatch);
    const Array& list = varPSFiles.array();
    int32_t lower = list.lbound(1), upper = list.ubound(1);
    if (lower < INT16_MIN || upper > INT16_MAX) raise(basic::Overflow);
    for (int32_t i = lower; i <= upper; ++i) {
      // Pending window messages: a server process has none to process.
      const Variant& element = list.at({i});
      if (!FileExists(element)) continue;
      std::string path = CStr(element);
      if (driver.is(path)) continue;
      text += driverEntry(path);
      for (char& c : path)
        if (c == '\\') c = '/';
      entries.push_back(std::move(path));
    }
    driver.write(text);
    driver.close();
    // Written back to the caller; not used otherwise.
    if (Trim(CStr(strDistiller)).empty()) strDistiller = Variant(self.strPrinterName);
    // The existing PDF stays until the new one replaces it (as above).
    // Both paths of the distill step; the driver goes once it is done,
    // or with the error that ends the method.
    distiller::WrittenDriver written(driver.path(), std::move(entries));
    distillStep(self, driver.path(), pdf, f["blnShowWindow"], f["blnSpoolJobs"], f["strJobOptionsFile"],
                f["blnApplySecurity"], secure);
    Kill(driver.path());
  });
  return {};
}

std::vector<ParamSpec> distillOptions() {
  return {P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false), P("strJobOptionsFile").path().opt(""),
          P("blnApplySecurity").opt(false)};
}

void describe(Members<CreatePDF>& m) {
  std::vector<ParamSpec> ps = {P("strPDFFile").path(), P("strPSFile").path(), P("strDistiller").path().opt("")};
  std::vector<ParamSpec> multi = {P("strPDFFile").path(), P("varPSFiles").path(), P("strDistiller").path().opt("")};
  for (ParamSpec& p : distillOptions()) {
    ps.push_back(p);
    multi.push_back(p);
  }
  m.method("CreatePDFfromPS", ps, &CreatePDFfromPS, "Convert a PostScript file to PDF.")
      .method("CreatePDFfromMultiPS", multi, &CreatePDFfromMultiPS,
              "Convert a list of PostScript files to one PDF through a PostScript driver file.");
}

const CreatePDFMembers::Register reg("convert_distill", &describe);

}  // namespace
}  // namespace pm
