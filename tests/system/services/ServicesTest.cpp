// The input-file test, random names, exclusive temporary files and special
// folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "automation/Automation.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"
#include "system/AtomicFile.h"
#include "system/Clipboard.h"
#include "system/Files.h"
#include "system/SystemServices.h"

namespace pm::test {

namespace {

bool exists(const std::string& p) {
  return modeOf(p) != 0;
}

size_t entries(const std::string& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

bool wellFormed(const std::string& n) {
  if (n.empty() || n.size() > 8 || n[0] == '0') return false;
  if (!std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  long v = std::stol(n);
  return v >= 1 && v <= 99999999;
}

}  // namespace

TEST(FileExists, FilesYesFoldersMissingPathsAndOtherValuesNo) {
  TempDir dir;
  writeFile(dir.file("empty.pdf"), "");
  writeFile(dir.file("a"), "x");
  EXPECT_TRUE(FileExists(Variant(dir.file("empty.pdf"))));
  // Values without a path are false, not errors; a name with a NUL must not test the file before it.
  for (const Variant& v :
       {Variant(dir.file("missing.pdf")), Variant(dir.path()), Variant(dir.file("*.pdf")), Variant(""), Variant(),
        Variant::null(), V({Variant(dir.file("a"))}), Variant(dir.file("a") + std::string("\0b", 2))})
    EXPECT_FALSE(FileExists(v)) << recording::Describe(v);
}

TEST(GetRandomFileName, RangeAndFormOverManyDrawsAndThreadsDoNotShareASequence) {
  std::set<std::string> seen;
  bool small = false, large = false;
  for (int i = 0; i < 100000; ++i) {
    std::string n = GetRandomFileName();
    ASSERT_TRUE(wellFormed(n)) << n;
    small = small || n.size() < 8;
    large = large || n.size() == 8;
    seen.insert(n);
  }
  EXPECT_TRUE(small);
  EXPECT_TRUE(large);
  // 100,000 draws out of 99,999,999 repeat about 50 times; a generator with
  // fewer distinct values (a single-precision product has 2^24) or one
  // re-seeded within a clock tick repeats far more.
  EXPECT_GT(seen.size(), 99800u);
  auto draw = [] {
    std::set<std::string> out;
    for (int i = 0; i < 64; ++i) out.insert(GetRandomFileName());
    return out;
  };
  auto a = std::async(std::launch::async, draw), b = std::async(std::launch::async, draw);
  std::set<std::string> all = a.get();
  all.merge(b.get());
  EXPECT_GE(all.size(), 127u);
}

TEST(ExclusiveTempFile, TenThousandDrawsOnTwoThreadsNeverShareAFile) {
  TempDir dir;
  std::string prefix = dir.path() + "/";
  using Files = std::vector<std::unique_ptr<ExclusiveTempFile>>;
  Files a, b;
  auto make = [&prefix](Files& out) {
    for (int i = 0; i < 5000; ++i) out.push_back(std::make_unique<ExclusiveTempFile>(prefix, ".ps"));
  };
  auto ta = std::async(std::launch::async, make, std::ref(a)), tb = std::async(std::launch::async, make, std::ref(b));
  ASSERT_NO_THROW(ta.get());  // a failed draw raises here
  ASSERT_NO_THROW(tb.get());
  std::set<std::string> paths;
  for (const Files* f : {&a, &b})
    for (const auto& t : *f) {
      const std::string& p = t->path();
      ASSERT_EQ(p.rfind(prefix, 0), 0u);
      ASSERT_EQ(p.substr(p.size() - 3), ".ps");
      ASSERT_TRUE(wellFormed(p.substr(prefix.size(), p.size() - prefix.size() - 3))) << p;
      paths.insert(p);
    }
  EXPECT_EQ(paths.size(), 10000u);
  EXPECT_EQ(entries(dir.path()), 10000u);
  EXPECT_EQ(modeOf(a.front()->path()), S_IFREG | 0600u);
  a.clear();
  b.clear();
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(ExclusiveTempFile, AClashDrawsAgainAndEveryNameTakenOrAMissingFolderIsAnErrorThatDeletesNothing) {
  TempDir dir;
  writeFile(dir.file("42.ps"), "theirs");
  std::vector<std::string> names = {"42", "43"};
  size_t next = 0;
  {
    ExclusiveTempFile t(dir.path() + "/", ".ps", [&] { return names.at(next++); });
    EXPECT_EQ(t.path(), dir.file("43.ps"));
    EXPECT_TRUE(exists(t.path()));
  }
  EXPECT_EQ(readFile(dir.file("42.ps")), "theirs");
  EXPECT_FALSE(exists(dir.file("43.ps")));
  // Every name taken, or a missing folder, is an error that deletes nothing.
  EXPECT_EQ(errorOf([&] { ExclusiveTempFile t(dir.path() + "/", ".ps", [] { return std::string("42"); }); }),
            basic::FileAlreadyExists);
  EXPECT_EQ(readFile(dir.file("42.ps")), "theirs");
  EXPECT_EQ(entries(dir.path()), 1u);
  EXPECT_EQ(errorOf([&] { ExclusiveTempFile t(dir.file("gone") + "/", ".ps"); }), basic::PathNotFound);
}

TEST(ExclusiveTempFile, KeepsOrRemovesOnlyTheFileItCreated) {
  TempDir dir;
  std::string replaced, moved;
  {
    ExclusiveTempFile t(dir.path() + "/", ".ps");
    replaced = t.path();
    // Another program puts its own file under the name.
    writeFile(dir.file("other"), "someone else's");
    ASSERT_EQ(::rename(dir.file("other").c_str(), replaced.c_str()), 0);
  }
  EXPECT_EQ(readFile(replaced), "someone else's");
  {
    ExclusiveTempFile t(dir.path() + "/", ".ps");
    moved = t.path();
    ASSERT_EQ(::rename(moved.c_str(), dir.file("moved-away").c_str()), 0);
    writeFile(moved, "new owner");
    t.remove();
    t.remove();
  }
  EXPECT_EQ(readFile(moved), "new owner");
  EXPECT_TRUE(exists(dir.file("moved-away")));
  // Kept, it stays; removed, it goes at once.
  std::string kept, removed;
  {
    ExclusiveTempFile t(dir.path() + "/", ".ps");
    kept = t.path();
    writeFile(kept, "%!PS");  // the printer writing its output over it
    t.keep();
  }
  EXPECT_EQ(readFile(kept), "%!PS");
  {
    ExclusiveTempFile t(dir.path() + "/", ".pdf");
    removed = t.path();
    t.remove();
    EXPECT_FALSE(exists(removed));
  }
  EXPECT_FALSE(exists(removed));
}

TEST(GetSpecialFolderPath, TheTableOverXdgFoldersAndHome) {
  TempDir dir;
  std::string home = dir.file("home"), config = dir.file("cfg");
  writeFile(config + "/user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\nXDG_PICTURES_DIR=\"/srv/pictures/\"\n"
            "XDG_MUSIC_DIR=\"relative/ignored\"\nXDG_VIDEOS_DIR=\"$HOME/First\"\nXDG_VIDEOS_DIR=\"$HOME/Second\"\n");
  ScopedEnv h("HOME", home + "/"), c("XDG_CONFIG_HOME", config), d("XDG_DATA_HOME", "not/absolute"),
      k("XDG_CACHE_HOME", dir.file("cache"));
  const std::map<int32_t, std::string> expected({{37, "/usr/bin"},
                                                 {40, home},
                                                 {5, home + "/Docs"},
                                                 {39, "/srv/pictures"},
                                                 {13, home},
                                                 {14, home + "/Second"},
                                                 {0, home + "/Desktop"},
                                                 {26, config},
                                                 {28, home + "/.local/share"},
                                                 {32, dir.file("cache")},
                                                 {9999, ""}});
  for (const auto& [folder, path] : expected) EXPECT_EQ(GetSpecialFolderPath(folder), path) << folder;
  // Without a user-dirs file the home folder serves.
  ScopedEnv none("XDG_CONFIG_HOME", dir.file("nothing-here"));
  EXPECT_EQ(GetSpecialFolderPath(5) + "|" + GetSpecialFolderPath(0), home + "|" + home + "/Desktop");
}

namespace {

// The names writers once put beside their targets, each a link another user
// could have planted to a file of the caller's.
void plantLinks(const std::string& target, const std::string& victim) {
  for (const std::string& suffix : {std::string(".part"), std::string(".tmp"), ".part" + std::to_string(::getpid()),
                                    ".part-" + std::to_string(::getpid())})
    std::filesystem::create_symlink(victim, target + suffix);
}

}  // namespace

TEST(AtomicFile, WritersReplaceOnlyWhenCompleteAndFollowNoPlantedLink) {
  TempDir dir;
  std::string victim = dir.file("victim"), target = dir.file("t.txt");
  writeFile(victim, "untouched");
  writeFile(target, "old");
  ::chmod(target.c_str(), 0640);
  plantLinks(target, victim);
  {
    AtomicFile f(target);
    f.write("half");
  }  // never committed
  EXPECT_EQ(readFile(target), "old");
  EXPECT_EQ(entries(dir.path()), 6u) << "nothing is left beside the target";
  AtomicFile f(target);
  f.write("new");
  f.commit();
  EXPECT_EQ(readFile(target), "new");
  EXPECT_EQ(modeOf(target), S_IFREG | 0640u) << "a replaced file keeps its mode";

  // The component's own writers, each with links at its old names.
  std::string bmp = dir.file("p.bmp"), copy = dir.file("c.txt");
  plantLinks(bmp, victim);
  plantLinks(copy, victim);
  saveBitmapFile(Bitmap{1, 1, {255, 0, 0}}, bmp);
  FileCopy(target, copy);
  EXPECT_EQ(readFile(bmp).substr(0, 2), "BM");
  EXPECT_EQ(readFile(copy), "new");
  EXPECT_EQ(readFile(victim), "untouched");
}

TEST(AtomicFile, SetAsideBringsTheOldFileBackUnlessTheNewOneIsKept) {
  TempDir dir;
  std::string out = dir.file("out.ps");
  writeFile(out, "old");
  {
    SetAside aside(out);
    EXPECT_FALSE(exists(out)) << "the printing program finds no file";
    writeFile(out, "half-printed");
  }
  EXPECT_EQ(readFile(out), "old");
  {
    SetAside aside(out);
    writeFile(out, "new");
    aside.keepNew();
  }
  EXPECT_EQ(readFile(out), "new");
  EXPECT_EQ(entries(dir.path()), 1u);
}

}  // namespace pm::test
