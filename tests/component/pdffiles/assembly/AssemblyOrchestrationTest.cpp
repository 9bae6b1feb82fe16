// The assembly members against the recording server: the viewer calls, their
// order and arguments (0-based insertion points, save types by version),
// the traps, and the mended handling of the output file and of the
// per-image temporary PDFs.
#include <sys/stat.h>

#include <filesystem>

#include "Real.h"
#include "automation/surfaces/Acrobat.h"
#include "support/Expect.h"

namespace pm::test {

namespace fs = std::filesystem;

class Assembly : public RecordedTest {
 protected:
  Assembly() : RecordedTest({acrobat::kApp, acrobat::kPDDoc, acrobat::kAVDoc}) {
    rec_->on("*", "Open").returns(true);
    rec_->on("*", "Create").returns(true);
  }
  // A file that exists for FileExists; the recorded viewer never reads it.
  std::string input(const std::string& name, const std::string& bytes = "%PDF-1.4") {
    writeFile(dir_.file(name), bytes);
    return dir_.file(name);
  }
};

const std::string kT = acrobat::kPDDoc;  // the target
const std::string kS = kT + "#2";        // the source

TEST_F(Assembly, MultiPDFFailuresCloseBothDocumentsAndKeepTheError) {
  rec_->on(kT, "Create").returns(false).times(1);
  EXPECT_EQ(raised([&] {
              run("CreatePDFfromMultiPDF", {dir_.file("out.pdf"), Variant(Array::vector({}))});
            }),
            (Raised{kErrComponent, "Unable to create document object.", kComponentTitle}));
  EXPECT_EQ(rec_->transcript(), (Lines{"create " + kT, "create " + kT + " -> " + kS, kT + " call Create()",
                                       kS + " call Close()", "release " + kS, kT + " call Close()", "release " + kT}));
  // A failing save is reported, not taken for a merged file.
  rec_->on(kT, "Save").fails(static_cast<int32_t>(0x80004005u), "Saving failed: disk full");
  rec_->on(kS, "GetNumPages").returns(int16_t{1});
  EXPECT_EQ(raised([&] {
              run("CreatePDFfromMultiPDF", {dir_.file("out.pdf"), Variant(Array::vector({Variant(input("a.pdf"))}))});
            }),
            (Raised{static_cast<int32_t>(0x80004005u), "Saving failed: disk full", kComponentTitle}));
}

TEST_F(Assembly, NoMatchesDoNothingAndAFileTheViewerCannotOpenIsAClearError) {
  std::string out = input("out.pdf", "keep");
  run("CreatePDFfromMultiPDFinDir", {out, dir_.path(), "*.xyz"});
  EXPECT_TRUE(rec_->transcript().empty());
  EXPECT_EQ(test::readFile(out), "keep");
  std::string a = input("a.pdf");
  rec_->on(kT, "Open").returns(false);
  Raised e = raised([&] { run("CreatePDFfromMultiPDFinDir", {dir_.file("out.pdf"), dir_.path()}); });
  EXPECT_EQ(e.number, kErrComponent);
  EXPECT_EQ(e.description, "File " + a + " cannot be opened.");
  EXPECT_EQ(rec_->transcript(),
            (Lines{"create " + kT, kT + " call Open(" + q(a) + ")", kT + " call Close()", "release " + kT}));
}

class ImageAssembly : public Assembly {
 protected:
  ImageAssembly() {
    rec_->on(acrobat::kApp, "GetActiveDoc").returnsObject("ActiveDoc");
    // Defaults under "*", so a test's own rule for the object wins.
    rec_->on("*", "IsValid").returns(true);
    rec_->on("ActiveDoc", "GetPDDoc").returnsObject("ImageDoc");
    // The recorded viewer writes a file where it is told to save.
    rec_->on("*", "Save").does([this](auto&, std::span<const Arg> args) {
      saved_.push_back(CStr(args[1].get()));
      writeFile(saved_.back(), "%PDF-image");
      return Variant(true);
    });
  }
  std::vector<std::string> saved_;
};

const std::string kApp = acrobat::kApp, kAV = acrobat::kAVDoc;

TEST_F(ImageAssembly, AFailedSaveClosesEverythingAndRaises) {
  std::string img = input("pic.png", "png");
  rec_->on("ImageDoc", "Save").returns(false).times(1);
  EXPECT_THROW(run("CreatePDFfromImageFile", {dir_.file("out.pdf"), img}), AutomationError);
  Lines t = rec_->transcript();
  Lines tail(t.end() - 7, t.end());
  EXPECT_EQ(tail, (Lines{"ImageDoc call Close()", "ActiveDoc call Close(True)", "release ActiveDoc",
                         "ImageDoc call Close()", "release ImageDoc", kApp + " call Exit()", "release " + kApp}));
  // A missing image is reported before anything is created.
  rec_->clear();
  Raised e = raised([&] { run("CreatePDFfromImageFile", {dir_.file("out.pdf"), dir_.file("none.png")}); });
  EXPECT_EQ(e.number, kErrComponent);
  EXPECT_EQ(e.description, "File " + dir_.file("none.png") + " does not exist.");
  EXPECT_TRUE(rec_->transcript().empty());
}

TEST_F(ImageAssembly, MultiImageMakesItsTemporaryFilesExclusivelyAndDeletesOnlyWhatExists) {
  std::string one = input("one.png", "png"), two = input("two.png", "png"), three = input("three.gif", "gif");
  std::string out = input("out.pdf", "old");
  // Someone else's file (here a link to a file of ours) under the first
  // temporary name is neither followed, nor replaced, nor deleted, nor merged.
  std::string victim = input("victim.txt", "precious");
  std::string planted = temp_.path() + "/_temp_0.pdf";
  fs::create_symlink(victim, planted);
  // The second image cannot be converted: its temporary file is not made.
  std::vector<std::string> openedWith;
  rec_->on("ActiveDoc", "IsValid").returns(true).returns(false).returns(true);
  rec_->on(kAV, "Open").does([&](auto&, std::span<const Arg> args) {
    openedWith.push_back(CStr(args[0].get()));
    return Variant(true);
  });
  rec_->on(kT, "GetNumPages").returns(int32_t{0});
  rec_->on(kS, "GetNumPages").returns(int16_t{1});
  std::vector<std::string> merged;
  rec_->on(kS, "Open").does([&](auto&, std::span<const Arg> args) {
    merged.push_back(CStr(args[0].get()));
    struct stat st {};
    EXPECT_EQ(::stat(merged.back().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a temporary PDF is private to the user";
    return Variant(true);
  });
  rec_->on(kT, "Save").does([&](auto&, std::span<const Arg> args) {
    writeFile(CStr(args[1].get()), "%PDF-merged");
    return Variant(true);
  });
  run("CreatePDFfromMultiImage",
      {out, Variant(Array::vector({Variant(one), Variant(dir_.file("none.png")), Variant(two), Variant(three)}))});
  EXPECT_EQ(openedWith, (std::vector<std::string>{one, two, three}));
  ASSERT_EQ(saved_.size(), 2u);
  EXPECT_NE(saved_[0], planted) << "the taken name is not written through";
  EXPECT_EQ(saved_[0].rfind(temp_.path() + "/_temp_0_", 0), 0u) << saved_[0];
  EXPECT_EQ(saved_[1], temp_.path() + "/_temp_2.pdf");
  EXPECT_EQ(merged, saved_) << "only the converted images are merged";
  EXPECT_EQ(test::readFile(out), "%PDF-merged");
  EXPECT_EQ(test::readFile(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(planted));
  for (const std::string& s : saved_) EXPECT_FALSE(fs::exists(s)) << s;
  EXPECT_FALSE(fs::exists(temp_.path() + "/_temp_1.pdf")) << "the unconverted image leaves nothing behind";
}

TEST_F(ImageAssembly, AFailedConversionStopsTheListAndLeavesNoEmptyName) {
  std::string one = input("one.png", "png"), two = input("two.png", "png");
  rec_->on("ImageDoc", "Save").does([&](auto&, std::span<const Arg> args) {
    std::string to = CStr(args[1].get());
    if (to.find("_temp_1") != std::string::npos) return Variant(false);
    writeFile(to, "%PDF-image");
    return Variant(true);
  });
  EXPECT_THROW(
      run("CreatePDFfromMultiImage", {dir_.file("out.pdf"), Variant(Array::vector({Variant(one), Variant(two)}))}),
      AutomationError);
  EXPECT_TRUE(fs::exists(temp_.path() + "/_temp_0.pdf")) << "a converted image stays after a failure";
  EXPECT_FALSE(fs::exists(temp_.path() + "/_temp_1.pdf"));
  EXPECT_FALSE(fs::exists(dir_.file("out.pdf")));
}

TEST_F(ImageAssembly, DocumentInformationFromSeparateVariablesByReference) {
  std::string img = input("pic.png", "png");
  Variant out(dir_.file("out.pdf")), image(img);
  // The caller's variables lie in an order of their own, with a stray one
  // after them: each argument must be read from its own variable.
  std::vector<Variant> vars = {Variant("K"), Variant("S"), Variant("A"), Variant("T"), Variant("stray")};
  std::vector<Arg> a = {ByRef(out), ByRef(image), ByRef(vars[3]), ByRef(vars[2]), ByRef(vars[1]), ByRef(vars[0])};
  call(pdf_, "CreatePDFfromImageFile", std::span<const Arg>(a.data(), a.size()));
  Lines info;
  for (const std::string& l : rec_->transcript())
    if (l.find("SetInfo") != std::string::npos) info.push_back(l);
  EXPECT_EQ(info, (Lines{"ImageDoc call SetInfo(\"Title\", \"T\")", "ImageDoc call SetInfo(\"Author\", \"A\")",
                         "ImageDoc call SetInfo(\"Subject\", \"S\")", "ImageDoc call SetInfo(\"Keywords\", \"K\")"}));
}

}  // namespace pm::test
