// Fuzz target: a PDF of arbitrary bytes opened through AcroExch.PDDoc, its
// pages, text and outline walked through the automation surface. Any
// automation error is an acceptable answer; a crash, a sanitizer report or
// a leak is a finding.
//
// With clang this is a libFuzzer target (-fsanitize=fuzzer). Built with
// -DPM_STANDALONE_FUZZ (with g++ too) it carries its own driver:
//   pdf_open_fuzz [--make-seeds DIR] [--seconds N] [--seed N] [DIR...]
// writes seed documents made through the server into DIR (forms,
// annotations, outline, labels, templates, attachments), replays every file
// of the folders given and then mutates them for N seconds (default: the
// PM_FUZZ_SECONDS variable, else 60), saving an input that crashes the
// driver under crash-<pid>-<n>.pdf before the sanitizer ends the run.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"

namespace {

using namespace pm;

std::string scratchFile() {
  static std::string p = [] {
    char tmpl[] = "/tmp/pm-fuzz-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  return p;
}

void walkOutline(const ObjectRef& node, int depth, int& budget) {
  if (depth > 32 || budget <= 0) return;
  Variant kids = get(node, "children");
  if (!kids.isArray()) return;
  for (const Variant& k : kids.array().data()) {
    if (--budget <= 0) return;
    ObjectRef c = objectOf(k);
    CStr(get(c, "name"));
    get(c, "open");
    get(c, "color");
    try {
      call(c, "execute");
    } catch (const AutomationError&) {
    }
    walkOutline(c, depth + 1, budget);
  }
}

void walkForm(const ObjectRef& js) {
  try {
    int n = CLng(get(js, "numFields"));
    for (int i = 0; i < n && i < 64; ++i) {
      try {
        Variant f = call(js, "getField", {call(js, "getNthFieldName", {i})});
        if (!f.isObject()) continue;
        ObjectRef field = objectOf(f);
        for (const char* p : {"type", "value", "rect", "page", "readonly", "textFont", "textSize", "fillColor",
                              "borderStyle", "exportValues", "numItems", "defaultValue", "display"}) {
          try {
            get(field, p);
          } catch (const AutomationError&) {
          }
        }
        try {
          let(field, "value", "fuzz");
        } catch (const AutomationError&) {
        }
      } catch (const AutomationError&) {
      }
    }
  } catch (const AutomationError&) {
  }
}

void walkAnnots(const ObjectRef& js, int pages) {
  for (int i = 0; i < pages && i < 8; ++i) {
    try {
      Variant list = call(js, "getAnnots", {i});
      if (!list.isArray()) continue;
      int k = 0;
      for (const Variant& a : list.array().data()) {
        if (++k > 32) break;
        try {
          ObjectRef props = objectOf(call(objectOf(a), "getProps"));
          call(objectOf(a), "setProps", {Variant(props)});
        } catch (const AutomationError&) {
        }
      }
    } catch (const AutomationError&) {
    }
  }
}

void exercise(const uint8_t* data, size_t size) {
  const std::string path = scratchFile();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    ObjectRef doc = CreateObject(acrobat::kPDDoc);
    if (!CBool(call(doc, "Open", {path}))) return;
    int pages = CLng(call(doc, "GetNumPages"));
    ObjectRef js = objectOf(call(doc, "GetJSObject"));
    ObjectRef rect = CreateObject(acrobat::kRect);
    let(rect, "Left", 0);
    let(rect, "Right", 30000);
    let(rect, "bottom", -30000);
    let(rect, "Top", 30000);
    for (int i = 0; i < pages && i < 8; ++i) {
      try {
        ObjectRef page = objectOf(call(doc, "AcquirePage", {i}));
        call(page, "GetSize");
        int words = CLng(call(js, "getPageNumWords", {i}));
        for (int w = 0; w < words && w < 64; ++w) {
          call(js, "getPageNthWord", {i, w, false});
          call(js, "getPageNthWordQuads", {i, w});
        }
        ObjectRef sel = objectOf(call(doc, "CreateTextSelect", {i, Variant(rect)}));
        int n = CLng(call(sel, "GetNumText"));
        for (int k = 0; k < n && k < 64; ++k) call(sel, "GetText", {k});
        call(js, "getPageBox", {"Crop", i});
      } catch (const AutomationError&) {
      }
    }
    try {
      int budget = 500;
      walkOutline(objectOf(get(js, "bookmarkRoot")), 0, budget);
    } catch (const AutomationError&) {
    }
    try {
      CStr(get(js, "title"));
      get(js, "creationDate");
      get(js, "numFields");
    } catch (const AutomationError&) {
    }
    walkForm(js);
    walkAnnots(js, pages);
    try {
      for (int i = 0; i < pages && i < 8; ++i) call(js, "getPageLabel", {i});
      get(js, "dataObjects");
      get(js, "templates");
      get(js, "numTemplates");
    } catch (const AutomationError&) {
    }
    try {
      // Writing the document back walks every object the engine kept.
      call(doc, "Save", {1, path + ".out"});
    } catch (const AutomationError&) {
    }
    std::remove((path + ".out").c_str());
  } catch (const AutomationError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  exercise(data, size);
  return 0;
}

#ifdef PM_STANDALONE_FUZZ
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace {
// The input under test; never destroyed, since the sanitizer's death
// callback may run after exit-time destructors (a leak found at exit).
std::vector<uint8_t>& current = *new std::vector<uint8_t>;
void saveCurrent() {
  static int n = 0;
  std::string name = "crash-" + std::to_string(getpid()) + "-" + std::to_string(n++) + ".pdf";
  std::ofstream o(name, std::ios::binary);
  o.write(reinterpret_cast<const char*>(current.data()), static_cast<std::streamsize>(current.size()));
}
}  // namespace

// Present only when a sanitizer is linked in.
extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

namespace {

// Documents made through the server that reach the members the target
// walks: form fields of every kind, annotations, an outline, page labels,
// a template, a script and an attachment.
void makeSeeds(const std::string& dir) {
  std::filesystem::create_directories(dir);
  ObjectRef doc = CreateObject(acrobat::kPDDoc);
  call(doc, "Create");
  ObjectRef js = objectOf(call(doc, "GetJSObject"));
  for (int i = 0; i < 3; ++i) call(js, "newPage", {i, 612.0, 792.0});
  const char* kinds[] = {"text", "button", "checkbox", "radiobutton", "combobox", "listbox", "signature"};
  double y = 700;
  for (const char* k : kinds) {
    ObjectRef f = objectOf(call(js, "addField", {std::string("f.") + k, k, 0, V({72.0, y, 272.0, y - 20})}));
    y -= 40;
    if (std::string(k) == "combobox" || std::string(k) == "listbox") call(f, "setItems", {V({"a", V({"b", "B"})})});
    if (std::string(k) == "text") let(f, "value", "seed");
  }
  ObjectRef a = objectOf(call(js, "addAnnot"));
  ObjectRef p = objectOf(call(a, "getProps"));
  let(p, "type", "Text");
  let(p, "contents", "note");
  let(p, "popupRect", V({0, 600, 200, 700}));
  call(a, "setProps", {Variant(p)});
  ObjectRef h = objectOf(call(js, "addAnnot"));
  p = objectOf(call(h, "getProps"));
  let(p, "type", "Highlight");
  let(p, "page", 1);
  let(p, "quads", V({V({72, 720, 172, 720, 72, 700, 172, 700})}));
  call(h, "setProps", {Variant(p)});
  ObjectRef root = objectOf(get(js, "bookmarkRoot"));
  call(root, "createChild", {"One", "this.pageNum = 1;", 0});
  call(objectOf(get(root, "children").array().data()[0]), "createChild", {"Two", "this.pageNum++;", 0});
  call(js, "setPageLabels", {1, V({"r", "p-", 3})});
  call(js, "createTemplate", {"tpl", 2});
  call(js, "addScript", {"init", "var x = 1;"});
  call(js, "addWatermarkFromText", {"SEED", 1, "Helvetica", 30});
  std::string file = dir + "/seed-attachment.txt";
  {
    std::ofstream o(file);
    o << "attached";
  }
  call(js, "importDataObject", {"att", file});
  std::remove(file.c_str());
  call(doc, "Save", {1, dir + "/seed-everything.pdf"});
  call(doc, "Close");
}

}  // namespace

int main(int argc, char** argv) {
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(saveCurrent);
  std::vector<std::string> dirs;
  const char* env = std::getenv("PM_FUZZ_SECONDS");
  int seconds = env ? std::atoi(env) : 60;
  uint64_t seed = std::random_device{}();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--make-seeds" && i + 1 < argc) {
      std::string d = argv[++i];
      makeSeeds(d);
      dirs.push_back(d);
    } else if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else {
      dirs.push_back(a);
    }
  }
  std::vector<std::vector<uint8_t>> corpus;
  for (const std::string& d : dirs) {
    for (auto& e : std::filesystem::directory_iterator(d)) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      std::string b = s.str();
      corpus.emplace_back(b.begin(), b.end());
    }
  }
  if (corpus.empty()) corpus.push_back({'%', 'P', 'D', 'F', '-', '1', '.', '7', '\n'});
  for (auto& c : corpus) {
    current = c;
    LLVMFuzzerTestOneInput(current.data(), current.size());
  }
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  std::mt19937_64 rng(seed);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  long runs = 0;
  while (std::chrono::steady_clock::now() < end) {
    current = corpus[rng() % corpus.size()];
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !current.empty(); ++e) {
      size_t at = rng() % current.size();
      switch (rng() % 6) {
        case 0: current[at] = static_cast<uint8_t>(rng()); break;
        case 1: current[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 2: current.erase(current.begin() + static_cast<long>(at), current.begin() + static_cast<long>(std::min(current.size(), at + 1 + rng() % 64))); break;
        case 3: current.insert(current.begin() + static_cast<long>(at), static_cast<size_t>(1 + rng() % 16), static_cast<uint8_t>("0123456789 <>/[]R"[rng() % 17])); break;
        case 4: current.resize(at + 1); break;
        case 5: {
          // A run copied from elsewhere in the file: objects and keys reappear out of place.
          size_t from = rng() % current.size(), n = std::min<size_t>(1 + rng() % 32, current.size() - from);
          std::vector<uint8_t> piece(current.begin() + static_cast<long>(from), current.begin() + static_cast<long>(from + n));
          current.insert(current.begin() + static_cast<long>(at), piece.begin(), piece.end());
          break;
        }
      }
    }
    LLVMFuzzerTestOneInput(current.data(), current.size());
    ++runs;
  }
  std::printf("%ld mutated inputs in %d s, %zu corpus files, no failure\n", runs, seconds, corpus.size());
  std::fflush(stdout);
  return 0;
}
#endif
