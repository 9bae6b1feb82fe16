// Thumbnails at 10 percent of every page of a 200-page file through
// CreateThumbnailImages, against `mutool draw -r 7.2` (the fastest peer)
// and `pdftoppm -r 7.2` on the same file, as whole processes: median time
// and peak memory of five runs each. Both peers write uncompressed
// pixmaps, as the BMP files are.
#include <filesystem>

#include "PdfFilesBench.h"
#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"

using namespace pm;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--run") {
    registerCreatePDF();
    ObjectRef pdf = CreateObject(kCreatePDFProgId);
    Variant file(argv[2]);
    Variant r = call(pdf, "CreateThumbnailImages", {ByRef(file), argv[3], "bmp", Variant(int16_t(10))});
    return CInt(r) == 1 ? 0 : 2;
  }
  char dirTemplate[] = "/tmp/pm-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate, pdf = dir + "/thumbs.pdf", out = dir + "/out";
  pdfbench::writeDocument(pdf, 200);
  fs::create_directory(out);
  std::vector<pdfbench::Contender> all = {
      {"CreateThumbnailImages (BMP)", {"/proc/self/exe", "--run", pdf, out}, {}, {}},
      {"mutool draw -r 7.2 (PPM)", {"mutool", "draw", "-q", "-r", "7.2", "-o", out + "/m%d.ppm", pdf}, {}, {}},
      {"pdftoppm -r 7.2 (PPM)", {"pdftoppm", "-r", "7.2", pdf, out + "/p"}, {}, {}},
  };
  const std::string self = fs::read_symlink("/proc/self/exe");
  all[0].argv[0] = self;
  std::printf("thumbnails of 200 pages at 10 percent\n");
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
