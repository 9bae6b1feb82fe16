#include "component/pdffiles/TempImagePdf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "automation/Error.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm {

TempImagePdf::TempImagePdf(const std::string& prefix, int n) {
  std::string wanted = prefix + "_temp_" + std::to_string(n) + ".pdf";
  int fd = ::open(wanted.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    path_ = wanted;
  } else {
    if (errno != EEXIST) raiseFileError(errno, wanted);
    ExclusiveTempFile fresh(prefix + "_temp_" + std::to_string(n) + "_", ".pdf");
    fresh.keep();
    path_ = fresh.path();
    fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) raiseFileError(errno, path_);
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  ::close(fd);
}

void TempImagePdf::removeIfUnwritten() {
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_ && st.st_size == 0)
    ::unlink(path_.c_str());
}

}  // namespace pm
