// The annotation creators against the recording server: the two passes and
// their property order, placement from the page height, default colours,
// and what happens when the annotation cannot be made.
#include "Fixture.h"
#include "support/RecordedDocument.h"

namespace {

using namespace pm;
using pm::test::AnnotFixture;
using pm::test::Lines;

using Creators = AnnotFixture;

TEST_F(Creators, TextNoteTwoPassesWithPointAndPopupFromThePageHeight) {
  ObjectRef d = open();
  call(d, "CreateTextAnnot", {1, "Hello", Variant::nothing(), "Ann", "Subj", Variant(int16_t(50)),
                              Variant(int16_t(100)), 8, " n1 ", false, true, false, 1});
  EXPECT_EQ(rec->transcript(),
            (Lines{"JSO get NumPages",
                   "AcroExch.PDDoc call AcquirePage(0&)",
                   "Page call GetSize()",
                   "Size get y",
                   "release Size",
                   "release Page",
                   "JSO get Color",
                   "Color get yellow",
                   "release Color",
                   "JSO call addAnnot()",
                   "Annot call getProps()",
                   "Props let Delay = True",
                   "Props let Type = \"Text\"",
                   "Props let contents = \"Hello\"",
                   "Props let Delay = False",
                   "Annot call setProps(<Props>)",
                   "release Props",
                   "Annot call getProps()",
                   "Props#2 let Delay = True",
                   "Props#2 let State = \"Accepted\"",
                   "Props#2 let Page = 0&",
                   "Props#2 let Point = Array(50%, 692%)",
                   "Props#2 let PopupRect = Array(0%, 692%, 200%, 792%)",
                   "Props#2 let Author = \"Ann\"",
                   "Props#2 let Subject = \"Subj\"",
                   "Props#2 let NoteIcon = \"Note\"",
                   "Props#2 let StrokeColor = Array(\"RGB\", 1#, 1#, 0#)",
                   "Props#2 let Name = \" n1 \"",
                   "Props#2 let PopupOpen = False",
                   "Props#2 let Width = 1%",
                   "Props#2 let Lock = False",
                   "Props#2 let ReadOnly = True",
                   "Props#2 let opacity = 1!",
                   "Props#2 let Delay = False",
                   "Annot call setProps(<Props#2>)",
                   "release Props#2",
                   "release Annot"}));
}

// The property names of the second pass, in order.
Lines secondPass(const Lines& t) {
  Lines out;
  bool second = false;
  for (const std::string& l : t) {
    if (l.rfind("Props#2 let ", 0) != 0) continue;
    second = true;
    std::string name = l.substr(12, l.find(' ', 12) - 12);
    if (name != "Delay") out.push_back(name);
  }
  EXPECT_TRUE(second);
  return out;
}

TEST_F(Creators, EachCreatorHasItsOwnSecondPassOrder) {
  struct Case {
    const char* member;
    std::vector<Variant> args;
    const char* firstType;
    Lines order;
  };
  Variant rect = V({10.0, 20.0, 110.0, 70.0});
  const Case cases[] = {
      {"CreateComment",
       {1, "c", Variant::nothing(), "", "", 0, 0, 2, "name"},
       "\"Text\"",
       {"State", "Page", "Point", "PopupRect", "Author", "Subject", "NoteIcon", "StrokeColor", "Name", "Lock",
        "ReadOnly", "PopupOpen", "Width", "opacity"}},
      {"CreateStampAnnot",
       {2, rect, "s", Variant::nothing(), "", "", 0, 0, 4, ""},
       "\"Stamp\"",
       {"Page", "Rect", "PopupRect", "Author", "Subject", "AP", "StrokeColor", "PopupOpen", "Lock", "ReadOnly"}},
      {"CreateFreeTextAnnot",
       {3, rect, "f", Variant::nothing(), "", "", "box", false, false, 1, Variant::nothing(), 4, Variant(int16_t(10)),
        Variant(int16_t(2)), 90},
       "\"FreeText\"",
       {"Alignment", "StrokeColor", "FillColor", "TextFont", "TextSize", "Page", "Rect", "Author", "Subject", "Name",
        "Width", "Lock", "ReadOnly", "Rotate", "opacity"}},
      {"CreateFreeTextAnnot",
       {1, rect, "f"},
       "\"FreeText\"",
       {"Alignment", "StrokeColor", "FillColor", "TextFont", "TextSize", "Page", "Rect", "Author", "Subject", "Width",
        "Lock", "ReadOnly", "opacity"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    ObjectRef d = open();
    std::vector<Arg> args(c.args.begin(), c.args.end());
    call(d, c.member, std::span<const Arg>(args));
    EXPECT_EQ(secondPass(rec->transcript()), c.order);
    Lines t = rec->transcript();
    EXPECT_NE(std::find(t.begin(), t.end(), std::string("Props let Type = ") + c.firstType), t.end());
  }
}

TEST_F(Creators, ValuesOfStampAndFreeText) {
  ObjectRef d = open();
  Variant rect = V({10.0, 20.0, 110.0, 70.0});
  call(d, "CreateStampAnnot", {2, rect, "s", Variant::nothing(), "", "", 50, 50, 4});
  Lines stamp = only({"Props#2 let AP", "Props#2 let StrokeColor", "Props#2 let Page", "Props#2 let Rect"});
  EXPECT_EQ(stamp, (Lines{"Props#2 let Page = 1&", "Props#2 let Rect = Array(10#, 20#, 110#, 70#)",
                          "Props#2 let AP = \"Draft\"", "Props#2 let StrokeColor = Array(\"RGB\", 1#, 0#, 0#)"}));
  rec->clear();
  propsMade = 0;
  call(d, "CreateFreeTextAnnot", {1, rect, "f", V({"RGB", 0.0, 0.0, 1.0}), "", "", "", false, false, 2,
                                  Variant(int32_t(5)), 8, Variant(int16_t(10)), Variant(int16_t(0)), 0, 0.5});
  Lines free = only({"Props#2 let Alignment", "Props#2 let StrokeColor", "Props#2 let FillColor",
                     "Props#2 let TextFont", "Props#2 let TextSize", "Props#2 let Rotate", "Props#2 let opacity"});
  EXPECT_EQ(free, (Lines{"Props#2 let Alignment = 2&", "Props#2 let StrokeColor = Array(\"RGB\", 0#, 0#, 1#)",
                         "Props#2 let FillColor = Array(\"G\", 1#)", "Props#2 let TextFont = \"Courier\"",
                         "Props#2 let TextSize = 10%", "Props#2 let opacity = 0.5#"}))
      << "a colour code is no colour: the default white fills; rotation 0 is not written";
  EXPECT_TRUE(only({"AcroExch.PDDoc call AcquirePage"}).empty()) << "free text reads no page size";
}

TEST_F(Creators, APageOutsideTheDocumentRaisesAndMakesNothing) {
  for (int page : {0, 4, -1}) {
    SCOPED_TRACE(page);
    ObjectRef d = open();
    for (const char* member : {"CreateTextAnnot", "CreateComment"}) {
      try {
        call(d, member, {page, "x"});
        ADD_FAILURE() << member;
      } catch (const AutomationError& e) {
        EXPECT_EQ(e.number(), basic::InvalidProcedureCall);
        EXPECT_EQ(e.source(), "Pressmark");
        EXPECT_NE(e.description().find("3 pages"), std::string::npos) << e.description();
      }
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
  pm::test::recordViewerDocument(*r2);
  r2->on("JSO", "NumPages").returns(Variant(int32_t(1)));
  r2->on("JSO", "addAnnot").fails(1001, "cannot annotate");
  ObjectRef d2 = createDocument();
  try {
    call(d2, "CreateFreeTextAnnot", {1, V({0, 0, 1, 1}), "x"});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 1001);
    EXPECT_EQ(e.description(), "cannot annotate");
  }
}

}  // namespace
