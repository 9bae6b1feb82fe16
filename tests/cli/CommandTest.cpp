// The pressmark command as a person runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "pdfserver/Fixtures.h"
#include "support/TestSupport.h"

namespace pm::test {

TEST(Command, OneCallPrintsNothingForNoResultAndAnErrorLineWithExitOne) {
  TempDir d;
  writeFile(d.file("a.txt"), "abc");
  auto r = runPressmark({"CopyFile", d.file("a.txt"), d.file("b b.txt")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(d.file("b b.txt")), "abc");
  r = runPressmark({"CopyFile", "/nonexistent/a", "/nonexistent/b"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "error 53 (Pressmark): File not found\n");
  r = runPressmark({"NoSuch"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "error 438 (Pressmark): Object doesn't support this property or method: CreatePDF.NoSuch\n");
}

TEST(Command, ShellFromFileAndStandardInput) {
  TempDir d;
  std::string script = "# settings\nTempFilePath = " + d.path() + "/sub\nTempFilePath\n\nNoSuch\nAcrobatVersion\n";
  writeFile(d.file("calls.txt"), script);
  TempDir reg;
  std::vector<std::string> env = {"PRESSMARK_REGISTRY=" + reg.path()};
  auto fromFile = runPressmark({"shell", d.file("calls.txt")}, "", env);
  auto fromStdin = runPressmark({"shell"}, script, env);
  std::string expected = "ok\n\"" + d.path() +
                         "/sub/\"\n"
                         "error 438 (Pressmark): Object doesn't support this property or method: CreatePDF.NoSuch\n"
                         "\"\"\n";
  EXPECT_EQ(fromFile.out, expected);
  EXPECT_EQ(fromStdin.out, expected);
  EXPECT_EQ(fromFile.exitCode, 1);
  auto clean = runPressmark({"shell"}, "PrinterName\n", env);
  EXPECT_EQ(clean.exitCode, 0);
  EXPECT_EQ(clean.out, "\"Acrobat Distiller\"\n");
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
                         {"document", "Document members:\n", "  Title (property get)\n", "JobStart"},
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
  auto unknown = runPressmark({"--help", "NoSuch"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_EQ(unknown.out, "");
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
  auto r = runPressmark({"PrinterName"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\"Acrobat Distiller\"\n") << "one call prints its result as JSON";
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

}  // namespace pm::test
