// CreatePDF's creation sequence, settings, event relay, and members that
// take any Variant: a wrong type is an automation error, never another failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

// A registry folder with the given HKEY_LOCAL_MACHINE file contents.
struct Registry {
  TempDir dir;
  ScopedEnv env;
  explicit Registry(const std::string& hklm) : env("PRESSMARK_REGISTRY", dir.path()) {
    writeFile(dir.file("HKEY_LOCAL_MACHINE.reg"), "REGEDIT4\r\n\r\n" + hklm);
  }
};

std::string version(const std::string& v) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AcroExch.App\\AcrobatVersion]\r\n@=\"" + v + "\"\r\n\r\n";
}
std::string distiller(const std::string& ver, const std::string& printer, bool withDefault = true) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Adobe\\Acrobat Distiller\\" + ver + "\\PrinterName]\r\n" +
         (withDefault ? "@=\"" + printer + "\"\r\n" : std::string()) + "\r\n";
}

ObjectRef newCreatePDF() {
  registerCreatePDF();
  return CreateObject("Pressmark.CreatePDF");
}

std::string str(const Variant& v) {
  return CStr(v);
}

}  // namespace

TEST(Creation, PrinterNameFollowsTheVersionAndABrokenRegistryFailsNothing) {
  struct Case {
    std::string hklm, version, printer;
  } cases[] = {
      {"", "", "Acrobat Distiller"},
      {version("5.0"), "5.0", "Acrobat Distiller"},
      {version("5.05"), "5.05", "Adobe PDF"},
      {version("Acrobat 9"), "Acrobat 9", "Acrobat Distiller"},
      {version("6.0") + distiller("6.0", "Six") + distiller("8.0", "Eight"), "6.0", "Eight"},
      {version("8.0") + distiller("10.0", "Ten") + distiller("5.0", "Five"), "8.0", "Ten"},
      {version("8.0") + distiller("7.0", "", false), "8.0", ""},
      // A broken registry never fails the creation.
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AcroExch.App\\AcrobatVersion]\r\n@=broken line\r\n", "",
       "Acrobat Distiller"},
  };
  for (const Case& c : cases) {
    Registry reg(c.hklm);
    ObjectRef pdf = newCreatePDF();
    EXPECT_EQ(str(call(pdf, "AcrobatVersion")), c.version) << c.hklm;
    EXPECT_EQ(str(call(pdf, "PrinterName")), c.printer) << c.hklm;
  }
}

// The default folder is a private one of the user's, also where someone
// planted a link under its name.
TEST(Creation, TempFolderIsPrivateAndNeverALink) {
  for (bool planted : {false, true}) {
    TempDir base, elsewhere;
    ScopedEnv tmp("TMPDIR", base.path());
    std::string own = base.path() + "/pressmark-" + std::to_string(::getuid());
    ASSERT_TRUE(!planted || ::symlink(elsewhere.path().c_str(), own.c_str()) == 0);
    std::string used = str(get(newCreatePDF(), "TempFilePath"));  // never fails
    EXPECT_EQ(used == own + "/", !planted) << used << ": a linked folder must not be used";
    EXPECT_EQ(modeOf(used), S_IFDIR | 0700u);
    struct stat st {};
    EXPECT_TRUE(::lstat(used.c_str(), &st) == 0 && st.st_uid == ::getuid());
  }
}

TEST(TempFilePath, LetRules) {
  TempDir d;
  ObjectRef pdf = newCreatePDF();
  // An existing folder gets its slash, a new one is created with the slash
  // kept; one whose parent is missing, or a value that is no text, is
  // refused silently.
  const std::pair<Variant, std::string> rows[] = {{Variant(d.path()), d.path() + "/"},
                                                  {Variant(d.path() + "/new/"), d.path() + "/new/"},
                                                  {Variant(d.path() + "/missing/child"), d.path() + "/new/"},
                                                  {Variant::null(), d.path() + "/new/"}};
  for (const auto& [value, now] : rows) {
    let(pdf, "TempFilePath", value);
    EXPECT_EQ(get(pdf, "TempFilePath"), Variant(now));
  }
  EXPECT_TRUE(S_ISDIR(modeOf(d.path() + "/new")));
}

// The folder belongs to the thread: a second creation resets it, and
// another thread's setting is its own.
TEST(TempFilePath, ASecondCreationResetsTheThreadsFolderAndEachThreadHasItsOwn) {
  TempDir d;
  ObjectRef first = newCreatePDF();
  std::string initial = str(get(first, "TempFilePath"));
  let(first, "TempFilePath", Variant(d.path()));
  ObjectRef second = newCreatePDF();
  EXPECT_EQ(str(get(first, "TempFilePath")), initial);
  EXPECT_EQ(str(get(second, "TempFilePath")), initial);
  let(second, "TempFilePath", Variant(d.path()));
  std::string other;
  std::thread t([&] {
    ObjectRef mine = newCreatePDF();
    let(mine, "TempFilePath", Variant(d.path() + "/thread"));
    other = str(get(mine, "TempFilePath"));
  });
  t.join();
  EXPECT_EQ(other, d.path() + "/thread/");
  EXPECT_EQ(str(get(second, "TempFilePath")), d.path() + "/");
}

// Odd values that convert to text are relative folder names, so the
// members run in a folder of the test's own; OpenDocument raises nothing for
// a missing file and stores its path, CopyFile raises for a missing file or
// folder and makes no target.
TEST(FrameMembers, TakeAnyVariantAndRaiseOnlyAutomationErrors) {
  TempDir cwd;
  std::string old = std::filesystem::current_path();
  std::filesystem::current_path(cwd.path());
  ObjectRef pdf = newCreatePDF();
  EXPECT_NO_THROW(call(pdf, "OpenDocument", {"/nonexistent/file.pdf"}));
  EXPECT_EQ(moduleState().strOpenDocumentPath, "/nonexistent/file.pdf");
  writeFile(cwd.file("a"), "new");
  EXPECT_EQ(errorOf([&] { call(pdf, "CopyFile", {cwd.file("a"), cwd.file("no/such/dir")}); }), basic::FileNotFound);
  EXPECT_EQ(errorOf([&] { call(pdf, "CopyFile", {cwd.file("missing"), cwd.file("c")}); }), basic::FileNotFound);
  EXPECT_FALSE(std::filesystem::exists(cwd.file("c")));
  std::vector<Variant> odd({Variant::null(), Variant(), V({1, 2}), Variant(Array::matrix(2, 2)), Variant(pdf),
                            Variant::nothing(), Variant(ErrorCode{5}), Variant(1e300), Variant(std::string(2000, 'x')),
                            Variant(std::string("b\0c", 3))});
  for (const char* m : {"OpenDocument", "CopyFile", "AcrobatVersion", "PrinterName", "TempFilePath"}) {
    for (const Variant& a : odd) {
      for (const Variant& b : odd) raised([&] { call(pdf, m, {a, b}); });
      raised([&] { call(pdf, m, {a}); });
      EXPECT_EQ(raised([&] { let(pdf, "TempFilePath", a); }), Raised{}) << "TempFilePath let never raises";
    }
  }
  EXPECT_EQ(str(get(pdf, "TempFilePath")).back(), '/');
  EXPECT_FALSE(std::filesystem::exists(cwd.file("b"))) << "a name with a NUL must not be cut short";
  std::filesystem::current_path(old);
}

TEST(EventRelay, DistillerEventsReachTheClientAsCopies) {
  auto rec = recording::Recorder::create();
  rec->registerClass("Test.Distiller", {EventSpec{"OnJobStart", 1, {}}, EventSpec{"OnJobDone", 2, {}},
                                        EventSpec{"OnJobFail", 3, {}}, EventSpec{"OnLogMessage", 4, {}},
                                        EventSpec{"OnPercentDone", 5, {}}, EventSpec{"OnPageNumber", 6, {}}});
  ObjectRef pdf = newCreatePDF();
  std::vector<std::string> seen;
  EventConnection c(pdf, std::make_shared<FunctionSink>([&](const EventCall& e) {
                      std::string line = e.event.name;
                      for (Variant* a : e.args) {
                        line += " " + recording::Describe(*a);
                        *a = Variant("changed by client");
                      }
                      seen.push_back(line);
                    }));
  auto& frame = static_cast<CreatePDF&>(*pdf);
  frame.setDistiller(CreateObject("Test.Distiller"));
  auto d = std::static_pointer_cast<recording::RecordedObject>(frame.distiller());
  auto after = d->raise("OnJobStart", {Variant("in.ps"), Variant("out.pdf")});
  d->raise("OnLogMessage", {Variant("line")});
  d->raise("OnPercentDone", {Variant(int16_t{50})});
  d->raise("OnPageNumber", {Variant(int32_t{3})});
  d->raise("OnJobFail", {Variant("in.ps"), Variant("out.pdf")});
  d->raise("OnJobDone", {Variant("in.ps"), Variant("out.pdf")});
  EXPECT_EQ(seen, (std::vector<std::string>{"JobStart \"in.ps\" \"out.pdf\"", "LogMessage \"line\"", "PercentDone 50&",
                                            "PageNumber 3&", "JobFail \"in.ps\" \"out.pdf\"",
                                            "JobDone \"in.ps\" \"out.pdf\""}));
  EXPECT_EQ(after[0], Variant("in.ps")) << "the client's change must not reach the Distiller";
  // Once the Distiller is let go, nothing more is relayed.
  frame.setDistiller(nullptr);
  d->raise("OnJobDone", {Variant("x"), Variant("y")});
  EXPECT_EQ(seen.size(), 6u);
}

}  // namespace pm::test
