// Text search, bookmarks for found text and web links, really in the file.
#include "Real.h"

namespace pm::test {

DocSpec threeAlphas() {
  DocSpec s;
  s.pages = {textPage({"Nothing to see on page one"}), textPage({"An alpha on page two", "and Beta too"}),
             textPage({"Another alpha on page three"})};
  return s;
}

// The top-level bookmarks, "title@page".
Lines marks(const std::string& path) {
  Lines out;
  for (const auto& o : readBack(path).outline) out.push_back(o.title + "@" + std::to_string(o.page));
  return out;
}

int viewerDocuments() {
  return CLng(call(CreateObject(acrobat::kApp), "GetNumAVDocs"));
}

TEST_F(RealViewer, FindTextLeavesTheFileOpenAtTheFirstHitOrExits) {
  std::string path = make("find.pdf", threeAlphas());
  call(pdf_, "FindTextInPDF", {path, "ALPHA"});
  ASSERT_EQ(viewerDocuments(), 1);
  ObjectRef front = objectOf(call(CreateObject(acrobat::kApp), "GetActiveDoc"));
  EXPECT_EQ(CLng(call(objectOf(call(front, "GetAVPageView")), "GetPageNum")), 1) << "the hit is on page two";
  EXPECT_EQ(CStr(call(front, "GetTitle")), "find.pdf");
  front.reset();
  call(CreateObject(acrobat::kApp), "CloseAllDocs");

  // Case-sensitive: "ALPHA" is not written anywhere.
  call(pdf_, "FindTextInPDF", {path, "ALPHA", Variant(true)});
  EXPECT_EQ(viewerDocuments(), 0) << "a text not found leaves nothing open";
}

TEST_F(RealViewer, BookmarksMarkSuccessiveHitsUnlessTheSearchStartsAgain) {
  std::string path = make("marks.pdf", threeAlphas());
  Variant titles = V({"alpha", "alpha", "Gamma", "beta"});
  call(pdf_, "CreateBookmarksInPDF", {path, ByRef(titles)});
  // The second alpha is the one on page three. "Gamma" is not written,
  // and beta stands before the last hit, where the search goes on from.
  EXPECT_EQ(marks(path), (Lines{"alpha@1", "alpha@2"}));

  std::string again = make("again.pdf", threeAlphas());
  Variant twice = V({"alpha", "alpha", "beta"});
  call(pdf_, "CreateBookmarksInPDF", {again, ByRef(twice), Variant(false), Variant(true), Variant(true)});
  EXPECT_EQ(marks(again), (Lines{"alpha@1", "alpha@1", "beta@1"}));
  EXPECT_EQ(readBack(again).pageText, readBack(make("plain.pdf", threeAlphas())).pageText) << "the pages are kept";
}

TEST_F(RealViewer, WebAddressesInTheTextBecomeLinks) {
  DocSpec s;
  s.pages = {textPage({"Read https://example.org/manual first", "No address on this line"}),
             textPage({"Or see www.example.com/help."})};
  std::string path = make("links.pdf", s);
  // The second time, the addresses already linked are not linked again.
  for (int time = 1; time <= 2; ++time) {
    call(pdf_, "CreateLinksInPDF", {path});
    EXPECT_EQ(annotSummary(path, 0), (Lines{"Link:https://example.org/manual"})) << time;
    EXPECT_EQ(annotSummary(path, 1), (Lines{"Link:http://www.example.com/help"})) << time;
  }
}

TEST_F(RealViewer, ADamagedFileRaisesTheViewersErrorWithTheComponentAsSource) {
  std::string path = dir_.file("broken.pdf");
  writeFile(path, "not a PDF at all");
  Raised e = raised([&] { call(pdf_, "CreateLinksInPDF", {path}); });
  // The viewer's own number and text, the component's name as source.
  EXPECT_EQ(e.number, static_cast<int32_t>(0x80004005u));
  EXPECT_EQ(e.description, "The document is not open");
  EXPECT_EQ(e.source, kComponentTitle);
  EXPECT_EQ(viewerDocuments(), 0);
  EXPECT_EQ(readFile(path), "not a PDF at all");
}

}  // namespace pm::test
