// Files the server must refuse without changing anything on disk.
#include <sys/stat.h>

#include "Common.h"

namespace pdftest {

class BadInput : public PdfTest {
 protected:
  // Open must answer False and leave the folder exactly as it was.
  void expectRefused(const std::string& file) {
    std::vector<std::string> before = dir.names();
    std::string bytes = fixture::exists(file) ? fixture::readFile(file) : std::string();
    ObjectRef d = CreateObject(acrobat::kPDDoc);
    EXPECT_FALSE(CBool(call(d, "Open", {file}))) << file;
    EXPECT_EQ(dir.names(), before);
    if (fixture::exists(file)) {
      EXPECT_EQ(fixture::readFile(file), bytes);
    }
    // The object stays usable and holds no document.
    EXPECT_THROW(call(d, "GetNumPages"), AutomationError);
  }
};

TEST_F(BadInput, MissingPathIsRefused) {
  expectRefused(dir.file("missing.pdf"));
}

TEST_F(BadInput, FolderIsRefused) {
  expectRefused(dir.path());
}

TEST_F(BadInput, TextFileIsRefused) {
  fixture::writeFile(dir.file("note.pdf"), "This is not a PDF at all.\n1 0 obj\n<<>>\nendobj\n");
  expectRefused(dir.file("note.pdf"));
}

TEST_F(BadInput, EmptyFileIsRefused) {
  fixture::writeFile(dir.file("empty.pdf"), "");
  expectRefused(dir.file("empty.pdf"));
}

TEST_F(BadInput, HeaderOnlyIsRefused) {
  fixture::writeFile(dir.file("head.pdf"), "%PDF-1.7\n%garbage\n");
  expectRefused(dir.file("head.pdf"));
}

TEST_F(BadInput, EncryptedWithoutPasswordIsRefused) {
  fixture::DocSpec s = standardSpec();
  s.userPassword = "secret";
  std::string enc = dir.file("locked.pdf");
  fixture::makePdf(enc, s);
  expectRefused(enc);
}

TEST_F(BadInput, TruncatedFileIsRepairedOrRefusedButNeverChanged) {
  std::string bytes = fixture::readFile(path);
  std::string cut = dir.file("cut.pdf");
  // Cut off the cross-reference table: the engine repairs what it can.
  fixture::writeFile(cut, bytes.substr(0, bytes.size() * 2 / 3));
  std::vector<std::string> before = dir.names();
  std::string saved = fixture::readFile(cut);
  ObjectRef d = CreateObject(acrobat::kPDDoc);
  bool ok = CBool(call(d, "Open", {cut}));
  if (ok) {
    int n = CLng(call(d, "GetNumPages"));
    EXPECT_GE(n, 1);
    // Every page the repaired file claims can be walked.
    for (int i = 0; i < n; ++i) {
      ObjectRef p = objectOf(call(d, "AcquirePage", {i}));
      call(p, "GetSize");
      try {
        ObjectRef js = objectOf(call(d, "GetJSObject"));
        call(js, "getPageNumWords", {i});
      } catch (const AutomationError&) {
        // A damaged page may raise, but as an automation error.
      }
    }
  }
  EXPECT_EQ(dir.names(), before);
  EXPECT_EQ(fixture::readFile(cut), saved);
}

TEST_F(BadInput, DamagedMiddleRaisesAutomationErrorsOnly) {
  std::string bytes = fixture::readFile(path);
  // Overwrite the middle third (page contents and fonts) with junk.
  for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i) bytes[i] = static_cast<char>('A' + i % 7);
  std::string bad = dir.file("bad.pdf");
  fixture::writeFile(bad, bytes);
  ObjectRef d = CreateObject(acrobat::kPDDoc);
  bool ok = false;
  EXPECT_NO_FATAL_FAILURE(ok = CBool(call(d, "Open", {bad})));
  if (!ok) return;
  ObjectRef js = objectOf(call(d, "GetJSObject"));
  int n = CLng(call(d, "GetNumPages"));
  for (int i = 0; i < n; ++i) {
    try {
      call(js, "getPageNumWords", {i});
      call(objectOf(call(d, "AcquirePage", {i})), "GetSize");
    } catch (const AutomationError&) {
    }
  }
  try {
    Variant kids = get(objectOf(get(js, "bookmarkRoot")), "children");
    (void)kids;
  } catch (const AutomationError&) {
  }
}

// Found by fuzzing: siblings linked into a loop made reading the children
// run for minutes, and a child pointing at its ancestor made copying the
// outline recurse without end.
TEST_F(BadInput, LoopedOutlineIsReadOnceAndCopiedOnce) {
  fixture::DocSpec s = standardSpec();
  s.loopOutline = true;
  std::string looped = dir.file("looped.pdf");
  fixture::makePdf(looped, s);
  ObjectRef d = openPDDoc(looped);
  ObjectRef root = objectOf(get(objectOf(call(d, "GetJSObject")), "bookmarkRoot"));
  Variant kids = get(root, "children");
  ASSERT_TRUE(kids.isArray());
  EXPECT_EQ(kids.array().size(), 2u);
  ObjectRef target = CreateObject(acrobat::kPDDoc);
  call(target, "Create");
  EXPECT_TRUE(CBool(call(target, "InsertPages", {-1, Variant(d), 0, 3, true})));
  std::string out = dir.file("copied.pdf");
  call(target, "Save", {1, out});
  fixture::ReadBack r = fixture::readBack(out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.outline.size(), 2u);
}

TEST_F(BadInput, PasswordFileIsNotTouchedBySaveAttempts) {
  fixture::DocSpec s = standardSpec();
  s.userPassword = "pw";
  std::string enc = dir.file("locked.pdf");
  fixture::makePdf(enc, s);
  std::string bytes = fixture::readFile(enc);
  ObjectRef d = CreateObject(acrobat::kPDDoc);
  EXPECT_FALSE(CBool(call(d, "Open", {enc})));
  EXPECT_THROW(call(d, "Save", {1, enc}), AutomationError);
  EXPECT_EQ(fixture::readFile(enc), bytes);
}

}  // namespace pdftest
