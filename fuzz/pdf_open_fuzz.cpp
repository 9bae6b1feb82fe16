// Fuzz target: a PDF of arbitrary bytes opened through AcroExch.PDDoc, its
// pages, text and outline walked through the automation surface. Any
// automation error is an acceptable answer; a crash, a sanitizer report or
// a leak is a finding.
//
// With clang this is a libFuzzer target (-fsanitize=fuzzer). Built with
// -DPM_STANDALONE_FUZZ it carries its own driver: it replays every file of
// the corpus folders given and then mutates them for the number of seconds
// in PM_FUZZ_SECONDS (default 60), saving inputs that crash the driver
// under crash-<n>.pdf before the sanitizer ends the run.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
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
std::vector<uint8_t> current;
void saveCurrent() {
  static int n = 0;
  std::string name = "crash-" + std::to_string(getpid()) + "-" + std::to_string(n++) + ".pdf";
  std::ofstream o(name, std::ios::binary);
  o.write(reinterpret_cast<const char*>(current.data()), static_cast<std::streamsize>(current.size()));
}
}  // namespace

extern "C" void __sanitizer_set_death_callback(void (*)(void));

int main(int argc, char** argv) {
  __sanitizer_set_death_callback(saveCurrent);
  std::vector<std::vector<uint8_t>> corpus;
  for (int i = 1; i < argc; ++i) {
    for (auto& e : std::filesystem::directory_iterator(argv[i])) {
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
  const char* env = std::getenv("PM_FUZZ_SECONDS");
  int seconds = env ? std::atoi(env) : 60;
  std::mt19937_64 rng(std::random_device{}());
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  long runs = 0;
  while (std::chrono::steady_clock::now() < end) {
    current = corpus[rng() % corpus.size()];
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !current.empty(); ++e) {
      size_t at = rng() % current.size();
      switch (rng() % 5) {
        case 0: current[at] = static_cast<uint8_t>(rng()); break;
        case 1: current[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 2: current.erase(current.begin() + static_cast<long>(at), current.begin() + static_cast<long>(std::min(current.size(), at + 1 + rng() % 64))); break;
        case 3: current.insert(current.begin() + static_cast<long>(at), static_cast<size_t>(1 + rng() % 16), static_cast<uint8_t>("0123456789 <>/[]R"[rng() % 17])); break;
        case 4: current.resize(at + 1); break;
      }
    }
    LLVMFuzzerTestOneInput(current.data(), current.size());
    ++runs;
  }
  std::printf("%ld mutated inputs in %d s, %zu corpus files, no failure\n", runs, seconds, corpus.size());
  return 0;
}
#endif
