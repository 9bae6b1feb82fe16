// The name rule the bookmark walks share: whole or part of a name, exact or
// ignoring case in every script.
#include <gtest/gtest.h>

#include "component/pdffiles/BookmarkWalk.h"

namespace pm::test {

using pm::bookmarks::NameRule;

TEST(BookmarkNameRule, WholeOrPartExactOrIgnoringCase) {
  const std::tuple<const char*, bool, bool, const char*, bool> cases[] = {
      {"Intro", false, true, "intro", true},
      {"Intro", true, true, "intro", false},
      {"Intro", true, true, "Intro", true},
      {"Int", false, true, "Intro", false},
      {"int", false, false, "Intro", true},
      {"int", true, false, "Intro", false},
      {"", false, false, "Anything", true},
      {"", false, true, "Anything", false},
      {"", false, true, "", true},
      {"введение", false, true, "ВВЕДЕНИЕ", true},
      {"введение", true, true, "ВВЕДЕНИЕ", false},
      {"ÉTÉ", false, false, "Un été chaud", true},
      {"~", false, false, "Terms ~ conditions", true},
      {"~", false, true, "Terms ~ conditions", false},
      {"Straße", false, true, "STRASSE", false},
  };
  for (const auto& [text, caseSensitive, wholeWord, name, matches] : cases)
    EXPECT_EQ((NameRule{text, caseSensitive, wholeWord}.matches(name)), matches)
        << text << " / " << name << " case " << caseSensitive << " whole " << wholeWord;
}

}  // namespace pm::test
