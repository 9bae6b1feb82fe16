// Files the server must refuse without changing anything on disk.
#include <sys/stat.h>

#include "Common.h"

namespace pm::test {

class BadInput : public PdfTest {
 protected:
  // Open must answer False and leave the folder exactly as it was.
  void expectRefused(const std::string& file) {
    std::vector<std::string> before = dir.names();
    std::string bytes = exists(file) ? readFile(file) : std::string();
    ObjectRef d = CreateObject(acrobat::kPDDoc);
    EXPECT_FALSE(CBool(call(d, "Open", {file}))) << file;
    EXPECT_EQ(dir.names(), before);
    if (exists(file)) {
      EXPECT_EQ(readFile(file), bytes);
    }
    // The object stays usable and holds no document.
    EXPECT_THROW(call(d, "GetNumPages"), AutomationError);
  }
};

// Each bad file in turn: missing, a folder, text, empty, a bare header, and
// an encrypted file without its password.
TEST_F(BadInput, UnreadableFilesAreRefusedAndLeftAlone) {
  writeFile(dir.file("note.pdf"), "This is not a PDF at all.\n1 0 obj\n<<>>\nendobj\n");
  writeFile(dir.file("empty.pdf"), "");
  writeFile(dir.file("head.pdf"), "%PDF-1.7\n%garbage\n");
  DocSpec s = standardSpec();
  s.userPassword = "secret";
  makePdf(dir.file("locked.pdf"), s);
  for (std::string name : {"missing.pdf", "", "note.pdf", "empty.pdf", "head.pdf", "locked.pdf"}) {
    SCOPED_TRACE(name);
    expectRefused(name.empty() ? dir.path() : dir.file(name));
  }
}

// Found by fuzzing: siblings linked into a loop made reading the children
// run for minutes, and a child pointing at its ancestor made copying the
// outline recurse without end.
TEST_F(BadInput, LoopedOutlineIsReadOnceAndCopiedOnce) {
  DocSpec s = standardSpec();
  s.loopOutline = true;
  std::string looped = dir.file("looped.pdf");
  makePdf(looped, s);
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
  ReadBack r = readBack(out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.outline.size(), 2u);
}

TEST_F(BadInput, PasswordFileIsNotTouchedBySaveAttempts) {
  DocSpec s = standardSpec();
  s.userPassword = "pw";
  std::string enc = dir.file("locked.pdf");
  makePdf(enc, s);
  std::string bytes = readFile(enc);
  ObjectRef d = CreateObject(acrobat::kPDDoc);
  EXPECT_FALSE(CBool(call(d, "Open", {enc})));
  EXPECT_THROW(call(d, "Save", {1, enc}), AutomationError);
  EXPECT_EQ(readFile(enc), bytes);
}

}  // namespace pm::test
