// A file written beside its target and put in the target's place only when
// it is complete. Every writer that replaces a file goes through it, so that
// none leaves half a file under the target's name, none loses the old file
// before the new one exists, and none can be steered through a link planted
// at a name another user could predict: the temporary name is random and
// created exclusively (O_CREAT|O_EXCL|O_NOFOLLOW) in the target's folder.
#pragma once

#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "automation/Internal.h"

namespace pm {

// A failure of the file system, with the errno it came from.
class AtomicFileError : public std::runtime_error {
 public:
  AtomicFileError(int err, const std::string& what) : std::runtime_error(what), err_(err) {}
  int error() const { return err_; }

 private:
  int err_;
};

class AtomicFile {
 public:
  // Creates the temporary file beside target (which is taken as given: a
  // caller that writes through a link resolves it first). The finished
  // file gets mode when given, else the mode of the file it replaces, else
  // 0666 less the umask, as a new file would. Throws AtomicFileError.
  PM_INTERNAL explicit AtomicFile(const std::string& target, std::optional<mode_t> mode = std::nullopt);
  // Removes the temporary file unless it was committed.
  PM_INTERNAL ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::string& target() const { return target_; }
  // The temporary name, for writers that open a file by name (MuPDF,
  // Ghostscript): they write over the empty file this object made.
  const std::string& path() const { return path_; }
  // The open descriptor (write only); -1 after close().
  int fd() const { return fd_; }

  // Writes all of data; throws AtomicFileError.
  PM_INTERNAL void write(std::string_view data);
  // Closes the descriptor early, for writers that then open the file by name.
  PM_INTERNAL void close();
  // Makes the file durable, gives it its mode and renames it over the
  // target. Throws AtomicFileError; the temporary file is then removed.
  PM_INTERNAL void commit();
  // Removes the temporary file now.
  void discard();

  // The mode a new file for target gets: the existing file's, else 0666
  // less the umask.
  static mode_t modeFor(const std::string& target);

 private:
  std::string target_, path_;
  int fd_ = -1;
  mode_t mode_ = 0644;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  bool done_ = false;
};

// An existing file moved out of the way, to a fresh name beside it, for a
// writer that must find its target absent (a program that prints into the
// file while the caller waits for it to appear). The old file is put back
// unless keepNew() says the new one is complete, so a failure never costs
// the caller the file they had.
class SetAside {
 public:
  // Nothing is moved when target does not exist. Throws AtomicFileError.
  explicit SetAside(const std::string& target);
  ~SetAside();
  SetAside(const SetAside&) = delete;
  SetAside& operator=(const SetAside&) = delete;
  // The new file is in place: the old one goes.
  void keepNew();

 private:
  std::string target_, aside_;
};

}  // namespace pm
