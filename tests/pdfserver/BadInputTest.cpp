// Files the server must refuse without changing anything on disk.
#include "Common.h"

namespace pm::test {

// Each bad file in turn: missing, a folder, text, empty, a bare header, and
// an encrypted file without its password. Open answers False, a save
// attempt raises, and the folder and the file stay exactly as they were.
TEST_F(PdfTest, UnreadableFilesAreRefusedAndLeftAlone) {
  writeFile(dir.file("note.pdf"), "This is not a PDF at all.\n1 0 obj\n<<>>\nendobj\n");
  writeFile(dir.file("empty.pdf"), "");
  writeFile(dir.file("head.pdf"), "%PDF-1.7\n%garbage\n");
  DocSpec s = standardSpec();
  s.userPassword = "secret";
  makePdf(dir.file("locked.pdf"), s);
  for (std::string name : {"missing.pdf", "", "note.pdf", "empty.pdf", "head.pdf", "locked.pdf"}) {
    SCOPED_TRACE(name);
    std::string file = name.empty() ? dir.path() : dir.file(name);
    std::vector<std::string> before = dir.names();
    std::string bytes = name.empty() || !exists(file) ? "" : readFile(file);
    ObjectRef d = CreateObject(acrobat::kPDDoc);
    EXPECT_FALSE(CBool(call(d, "Open", {file})));
    EXPECT_THROW(call(d, "Save", {1, file}), AutomationError);
    EXPECT_THROW(call(d, "GetNumPages"), AutomationError) << "the object stays usable and holds no document";
    EXPECT_EQ(dir.names(), before);
    EXPECT_EQ(bytes.empty() ? "" : readFile(file), bytes);
  }
}

// Found by fuzzing: siblings linked into a loop made reading the children
// run for minutes, and a child pointing at its ancestor made copying the
// outline recurse without end.
TEST_F(PdfTest, LoopedOutlineIsReadOnceAndCopiedOnce) {
  DocSpec s = standardSpec();
  s.loopOutline = true;
  std::string looped = dir.file("looped.pdf");
  makePdf(looped, s);
  ObjectRef d = openPDDoc(looped);
  Variant kids = get(objectOf(get(objectOf(call(d, "GetJSObject")), "bookmarkRoot")), "children");
  ASSERT_TRUE(kids.isArray());
  EXPECT_EQ(kids.array().size(), 2u);
  ObjectRef target = CreateObject(acrobat::kPDDoc);
  call(target, "Create");
  EXPECT_TRUE(CBool(call(target, "InsertPages", {-1, Variant(d), 0, 3, true})));
  call(target, "Save", {1, dir.file("copied.pdf")});
  EXPECT_EQ(readBack(dir.file("copied.pdf")).outline.size(), 2u);
}

}  // namespace pm::test
