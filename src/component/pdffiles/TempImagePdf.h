// The per-image temporary PDF of the image assembly: a file created
// exclusively under the temporary-file prefix, named prefix & "_temp_" & n &
// ".pdf" when that name is free and a fresh random name beside it when it is
// taken, so no file of someone else (or a link planted under the name) is
// ever deleted, written through or merged.
#pragma once

#include <sys/types.h>

#include <string>

namespace pm {

class TempImagePdf {
 public:
  TempImagePdf(const std::string& prefix, int n);
  TempImagePdf(const TempImagePdf&) = delete;
  TempImagePdf& operator=(const TempImagePdf&) = delete;

  const std::string& path() const { return path_; }
  // Removes the file when it is still the empty one made here, that is,
  // when the conversion wrote nothing to the name.
  void removeIfUnwritten();

 private:
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

}  // namespace pm
