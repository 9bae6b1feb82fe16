// Thumbnails at 10 percent of every page of a 196-page file through
// CreateThumbnailImages, run as the pressmark command, against `mutool draw
// -r 7.2` (the fastest peer) and `pdftoppm -r 7.2` on the same file, as
// whole processes: median time, cpu time and peak memory of five runs each.
// Both peers write uncompressed pixmaps, as the BMP files are.
#include <filesystem>

#include "PdfFilesBench.h"

namespace fs = std::filesystem;

int main() {
  const std::string cli = pdfbench::command();
  char dirTemplate[] = "/tmp/pm-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate, pdf = dir + "/thumbs.pdf", out = dir + "/out";
  pdfbench::writeDocument(pdf, 196);
  fs::create_directory(out);
  std::vector<pdfbench::Contender> all = {
      {"pressmark CreateThumbnailImages", {cli, "CreateThumbnailImages", pdf, out, "bmp", "10"}, {}, {}, {}},
      {"mutool draw -r 7.2 (PPM)", {"mutool", "draw", "-q", "-r", "7.2", "-o", out + "/m%d.ppm", pdf}, {}, {}, {}},
      {"pdftoppm -r 7.2 (PPM)", {"pdftoppm", "-r", "7.2", pdf, out + "/p"}, {}, {}, {}},
  };
  std::printf("thumbnails of 196 pages at 10 percent\n");
  pdfbench::compare(all, 5, [&] {
    fs::remove_all(out);
    fs::create_directory(out);
  });
  size_t images = 0;
  for (auto& e : fs::directory_iterator(out)) images += e.path().filename().string()[0] == 'p';
  std::printf("pdftoppm wrote %zu images in its last run\n", images);
  fs::remove_all(dir);
  return 0;
}
