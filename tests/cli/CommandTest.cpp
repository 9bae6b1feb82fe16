// The pressmark command as a person runs it, and the scripts that build and test it.
// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/PdfFixtures.h"
#include "support/TestSupport.h"
#include <regex>
#include <sstream>

namespace pm::test {

namespace {

// The exit code and standard output of one run, compared in one line.
std::pair<int, std::string> command(const std::vector<std::string>& args, const std::string& input = {},
                                    const std::vector<std::string>& env = {}) {
  CommandResult r = runPressmark(args, input, env);
  return {r.exitCode, r.out};
}
using Outcome = std::pair<int, std::string>;
const std::string kNoSuch = "error 438 (Pressmark): Object doesn't support this property or method: CreatePDF.NoSuch\n";

}  // namespace

TEST(Command, OneCallPrintsNothingForNoResultAndAnErrorLineWithExitOne) {
  TempDir d;
  writeFile(d.file("a.txt"), "abc");
  EXPECT_EQ(command({"CopyFile", d.file("a.txt"), d.file("b b.txt")}), Outcome(0, ""));
  EXPECT_EQ(readFile(d.file("b b.txt")), "abc");
  EXPECT_EQ(command({"CopyFile", "/nonexistent/a", "/nonexistent/b"}),
            Outcome(1, "error 53 (Pressmark): File not found\n"));
  EXPECT_EQ(command({"NoSuch"}), Outcome(1, kNoSuch));
}

TEST(Command, ShellFromFileAndStandardInput) {
  TempDir d;
  std::string script = "# settings\nTempFilePath = " + d.path() + "/sub\nTempFilePath\n\nNoSuch\nAcrobatVersion\n";
  writeFile(d.file("calls.txt"), script);
  TempDir reg;
  std::vector<std::string> env = {"PRESSMARK_REGISTRY=" + reg.path()};
  Outcome expected(1, "ok\n\"" + d.path() + "/sub/\"\n" + kNoSuch + "\"\"\n");
  EXPECT_EQ(command({"shell", d.file("calls.txt")}, "", env), expected);
  EXPECT_EQ(command({"shell"}, script, env), expected);
  EXPECT_EQ(command({"shell"}, "PrinterName\n", env), Outcome(0, "\"Acrobat Distiller\"\n"));
}

TEST(Command, HelpListsMembersWithParametersAndDefaultsAndAnyClassesMembers) {
  auto r = runPressmark({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* line :
       {"pressmark shell [FILE]", "CopyFile strSource strTarget", "TempFilePath (property let) vNewValue (by value)",
        "JobStart (1) strInputPostScript strOutputPDF", "pressmark --help [CLASS]"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  EXPECT_EQ(runPressmark({}).exitCode, 2);
  EXPECT_NE(r.out.find("\nClasses: Collection, CreatePDF, Document, Field, FreeTextAnnotType, TextAnnotType\n"),
            std::string::npos)
      << r.out;
  struct Case {
    std::string asked, heading, present, absent;
  };
  for (const Case& c :
       std::vector<Case>{{"Document", "Document members:\n", "  SaveAs strPath [lngFileType = 0]\n", "CopyFile"},
                         {"CreatePDF", "CreatePDF members:\n", "  CopyFile strSource strTarget\n", "SaveAs strPath"},
                         {"field", "Field members:\n", "  IsSigned\n", "CreateTextField"},
                         {"TextAnnotType", "TextAnnotType members:\n", "  NoteIcon (property let)", "CreateTextField"},
                         {"Collection", "Collection members:\n", "  Count (property get)\n", "IsSigned"}}) {
    auto h = runPressmark({"--help", c.asked});
    EXPECT_EQ(h.exitCode, 0) << c.asked << h.err;
    EXPECT_EQ(h.out.rfind(c.heading, 0), 0u) << c.asked << ": " << h.out.substr(0, 200);
    EXPECT_NE(h.out.find(c.present), std::string::npos) << c.asked;
    EXPECT_EQ(h.out.find(c.absent), std::string::npos) << c.asked;
  }
  // Members are listed as their class declares its groups: a field's signatures come before its vocabulary.
  auto field = runPressmark({"--help", "Field"});
  size_t vocabulary = field.out.find("  GetTrigger ");
  ASSERT_NE(vocabulary, std::string::npos) << field.out;
  EXPECT_LT(field.out.find("  IsSigned\n"), vocabulary) << field.out;
  CommandResult unknown = runPressmark({"--help", "NoSuch"});
  EXPECT_EQ(Outcome(unknown.exitCode, unknown.out), Outcome(2, ""));
  EXPECT_EQ(unknown.err,
            "pressmark: there is no class NoSuch; the classes are Collection, CreatePDF, Document, Field, "
            "FreeTextAnnotType, TextAnnotType\n");
}

TEST(Command, EveryTestHasARegistryFolderOfItsOwn) {
  // A registry written on the machine (pressmark register writes the
  // system file) must not reach a test that expects an empty registry.
  const char* dir = std::getenv("PRESSMARK_REGISTRY");
  ASSERT_NE(dir, nullptr);
  EXPECT_TRUE(S_ISDIR(modeOf(dir))) << dir;
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << dir;
  EXPECT_EQ(command({"PrinterName"}), Outcome(0, "\"Acrobat Distiller\"\n")) << "one call prints its result as JSON";
}

// The command loads an engine's server when a job first needs it: help maps
// no server, a PDF job only the PDF server, and that without the signing
// library (the loader's own trace shows what it opens).
TEST(Command, LoadsOnlyTheServersAJobUses) {
  TempDir d;
  DocSpec plan;
  plan.pages.push_back({});
  plan.pages.back().lines = {"Loaded on first use"};
  makePdf(d.file("in.pdf"), plan);
  auto help = runPressmark({"--help"}, "", {"LD_DEBUG=files"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err.find("pressmark-servers/"), std::string::npos) << help.err.substr(0, 2000);
  EXPECT_EQ(help.err.find("libodbc"), std::string::npos);
  auto text = runPressmark({"CreateTextfileFromPDF", d.file("in.pdf"), d.file("out.txt")}, "", {"LD_DEBUG=files"});
  EXPECT_EQ(text.exitCode, 0) << text.out;
  EXPECT_NE(readFile(d.file("out.txt")).find("Loaded on first use"), std::string::npos);
  EXPECT_NE(text.err.find("pressmark-servers/pdf.so"), std::string::npos) << text.err.substr(0, 2000);
  for (const char* other :
       {"pressmark-servers/office.so", "pressmark-servers/data.so", "libuno_", "libodbc", "libcrypto"})
    EXPECT_EQ(text.err.find(other), std::string::npos) << other;
}

namespace {

std::vector<std::string> linesWith(const std::string& path, const std::string& word) {
  std::istringstream in(readFile(path));
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) {
    size_t start = l.find_first_not_of(' ');
    if (start == std::string::npos || l[start] == '#') continue;
    if (std::regex_search(l, std::regex("(^|[ ;&|(])" + word + " "))) out.push_back(l);
  }
  return out;
}

// The README's two commands: every build states the options it needs, so a
// build folder configured by one script is not taken over with the other's
// cached settings, and a test run that finds no tests fails.
TEST(Scripts, EveryBuildStatesItsOptionsAndCtestRefusesToFindNoTests) {
  const std::string root = PRESSMARK_SOURCE_DIR;
  struct Case {
    std::string script;
    std::vector<std::string> builds;  // the expected option values, one build a line
  };
  for (const Case& c :
       std::vector<Case>{{"scripts/setup.sh", {"TESTS=OFF SANITIZE=OFF BENCH=OFF"}},
                         {"scripts/test.sh", {"TESTS=ON SANITIZE=OFF BENCH=ON", "TESTS=ON SANITIZE=ON BENCH=OFF"}}}) {
    std::vector<std::string> got;
    for (const std::string& l : linesWith(root + "/" + c.script, "pm_build")) {
      std::string options;
      for (const char* o : {"TESTS", "SANITIZE", "BENCH"}) {
        std::smatch m;
        bool stated = std::regex_search(l, m, std::regex(std::string("-DPRESSMARK_") + o + "=(ON|OFF)"));
        options += (options.empty() ? "" : " ") + std::string(o) + "=" + (stated ? m[1].str() : "(unstated)");
      }
      got.push_back(options);
    }
    EXPECT_EQ(got, c.builds) << c.script;
  }
  std::vector<std::string> runs = linesWith(root + "/scripts/test.sh", "ctest");
  EXPECT_EQ(runs.size(), 2u);
  for (const std::string& l : runs) EXPECT_NE(l.find("--no-tests=error"), std::string::npos) << l;
}

}  // namespace

}  // namespace pm::test
