// The annotation creators against the recording server: what happens when
// the annotation cannot be made or a later property fails, which only the
// recording server can arrange.
#include "Fixture.h"
#include "support/RecordedDocument.h"

namespace pm::test {

using Creators = AnnotFixture;

TEST_F(Creators, APageOutsideTheDocumentRaisesAndMakesNothing) {
  for (int page : {0, 4, -1}) {
    SCOPED_TRACE(page);
    ObjectRef d = open();
    for (const char* member : {"CreateTextAnnot", "CreateComment"}) {
      Raised e = raised([&] { call(d, member, {page, "x"}); });
      EXPECT_EQ(e.number, basic::InvalidProcedureCall);
      EXPECT_EQ(e.source, "Pressmark");
      EXPECT_THAT(e.description, HasSubstr("3 pages")) << e.description;
    }
    EXPECT_THROW(call(d, "CreateStampAnnot", {page, V({0, 0, 1, 1}), "x"}), AutomationError);
    EXPECT_THROW(call(d, "CreateFreeTextAnnot", {page, V({0, 0, 1, 1}), "x"}), AutomationError);
    EXPECT_EQ(rec->transcript(), Lines(4, "JSO get NumPages"));
  }
}

TEST_F(Creators, AnAnnotationThatCannotBeMadeRaisesButLaterPropertyFailuresAreIgnored) {
  ObjectRef d = open();
  int calls = 0;
  rec->on("Annot", "setProps").does([&calls](recording::RecordedObject&, std::span<const Arg>) {
    if (++calls % 2 == 0) raise(5, "bad page", "viewer");
    return Variant(true);
  });
  // The first setProps makes the annotation; the second fails and is ignored.
  EXPECT_NO_THROW(call(d, "CreateTextAnnot", {1, "x"}));
  rec->on("Props", "StrokeColor").fails(13);
  EXPECT_NO_THROW(call(d, "CreateComment", {1, "x"}));

  auto r2 = recording::Recorder::create();
  recordViewerDocument(*r2);
  r2->on("JSO", "NumPages").returns(Variant(int32_t(1)));
  r2->on("JSO", "addAnnot").fails(1001, "cannot annotate");
  ObjectRef d2 = createDocument();
  Raised e = raised([&] { call(d2, "CreateFreeTextAnnot", {1, V({0, 0, 1, 1}), "x"}); });
  EXPECT_EQ(e.number, 1001);
  EXPECT_EQ(e.description, "cannot annotate");
}

}  // namespace pm::test
