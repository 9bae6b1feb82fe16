// CreatePDFfromWord through the warm office against a fresh
// `soffice --headless --convert-to pdf` per document, on the same 5-page
// document. Prints the first-call latency (office start included), the
// warm per-document time and the command's per-document time; and the
// printing step alone (the office's PDF to PostScript) as it was before,
// Ghostscript's ps2write, whose PostScript loses the TrueType text, and as it
// is now, pdftops with the fonts' text maps added.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "servers/office/PostScriptText.h"
#include "system/Process.h"
#include "WordDocs.h"

using namespace pm;
using Clock = std::chrono::steady_clock;

namespace {

using bench::fivePages;

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  if (!ClassRegistry::instance().has("Word.Application")) {
    std::printf("Word.Application is not served (the office server was not built); nothing to measure.\n");
    return 0;
  }
  std::string dir = std::filesystem::temp_directory_path() / ("pm-bench-word-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string doc = dir + "/five.rtf";
  std::ofstream(doc) << fivePages();

  registerCreatePDF();
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  let(pdf, "TempFilePath", Variant(dir));

  try {
    auto t0 = Clock::now();
    call(pdf, "CreatePDFfromWord", {Arg(dir + "/first.pdf"), Arg(doc)});
    double first = seconds(Clock::now() - t0);

    t0 = Clock::now();
    for (int i = 0; i < runs; ++i) call(pdf, "CreatePDFfromWord", {Arg(dir + "/warm.pdf"), Arg(doc)});
    double warm = seconds(Clock::now() - t0);

    // The command, one process per document, with one profile of its own
    // (made by a first run that is not counted).
    std::string profile = "-env:UserInstallation=file://" + dir + "/soffice-profile";
    auto convert = [&] {
      ProcessOptions o;
      o.argv = {"soffice", profile, "--headless", "--convert-to", "pdf", "--outdir", dir + "/cmd", doc};
      o.timeout = std::chrono::minutes(2);
      o.onLine = [](OutputStream, std::string_view) {};
      return runProcess(std::move(o)).success();
    };
    convert();
    t0 = Clock::now();
    int ok = 0;
    for (int i = 0; i < runs; ++i) ok += convert() ? 1 : 0;
    double command = seconds(Clock::now() - t0);

    // The printing step on the office's own export of the same document.
    std::string exported = dir + "/cmd/five.pdf";
    auto perRun = [&](const std::function<void()>& step) {
      auto t = Clock::now();
      for (int i = 0; i < runs; ++i) step();
      return seconds(Clock::now() - t) / runs;
    };
    double oldStep = perRun([&] {
      ProcessOptions o;
      o.argv = {"gs",
                "-q",
                "-dSAFER",
                "-dBATCH",
                "-dNOPAUSE",
                "-sDEVICE=ps2write",
                "-dLanguageLevel=2",
                "-sOutputFile=" + dir + "/old.ps",
                exported};
      o.onLine = [](OutputStream, std::string_view) {};
      runProcess(std::move(o));
    });
    double newStep = perRun([&] {
      office::PostScriptJob job;
      job.errorNumber = 1;
      job.source = "bench";
      office::printPdfToPostScript(exported, dir + "/new.ps", job);
    });
    // Of that, the part that is new work: reading the PDF's text maps and
    // adding them to pdftops' output.
    {
      ProcessOptions o;
      o.argv = {"pdftops", "-level3", "-origpagesizes", exported, dir + "/plain.ps"};
      o.onLine = [](OutputStream, std::string_view) {};
      runProcess(std::move(o));
    }
    double mapsStep = perRun([&] {
      office::FontTexts texts = office::readFontTexts(exported);
      std::ifstream in(dir + "/plain.ps", std::ios::binary);
      std::ofstream out(dir + "/maps.ps", std::ios::binary | std::ios::trunc);
      office::addGlyphText(in, out, texts);
    });
    double warmEach = warm / runs;

    std::printf("first CreatePDFfromWord (office start included): %.3f s\n", first);
    std::printf("%d x CreatePDFfromWord, warm office:   %.3f s total, %.3f s per document\n", runs, warm, warm / runs);
    std::printf("%d x soffice --headless --convert-to pdf: %.3f s total, %.3f s per document (%d succeeded)\n", runs,
                command, command / runs, ok);
    std::printf("speed-up of the warm office: %.1fx\n", command / warm);
    std::printf("printing step before (ps2write, text lost):        %.3f s per document\n", oldStep);
    std::printf("printing step now (pdftops + fonts' text maps):    %.3f s per document, %.1f%% of a warm conversion\n",
                newStep, 100 * newStep / warmEach);
    std::printf(
        "  of which the text maps (read with MuPDF, added):  %.3f s per document, %.1f%% of a warm conversion\n",
        mapsStep, 100 * mapsStep / warmEach);
    std::printf("warm CreatePDFfromWord before (old step): %.3f s per document; now: %.3f s (%+.1f%%)\n",
                warmEach - newStep + oldStep, warmEach, 100 * (newStep - oldStep) / (warmEach - newStep + oldStep));
  } catch (const AutomationError& e) {
    std::printf("failed: %s (%d)\n", e.description().c_str(), e.number());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}
