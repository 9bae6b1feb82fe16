// Costs of the system services: random names, exclusive temporary files,
// the input-file test, and a default-printer switch in memory and, when the
// test cupsd runs (scripts/services/cups.sh), through CUPS.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "system/Files.h"
#include "system/Printers.h"
#include "system/SystemServices.h"

using namespace pm;

static void BM_GetRandomFileName(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(GetRandomFileName());
}
BENCHMARK(BM_GetRandomFileName);

static void BM_ExclusiveTempFile(benchmark::State& state) {
  std::string dir = privateTempDir();
  for (auto _ : state) {
    ExclusiveTempFile t(dir, ".ps");
    benchmark::DoNotOptimize(t.path());
  }
}
BENCHMARK(BM_ExclusiveTempFile);

static void BM_FileExists(benchmark::State& state) {
  ExclusiveTempFile t(privateTempDir(), ".pdf");
  Variant path(t.path());
  for (auto _ : state) benchmark::DoNotOptimize(FileExists(path));
}
BENCHMARK(BM_FileExists);

static void BM_SwitchInMemory(benchmark::State& state) {
  MemorySpooler s;
  for (int i = 0; i < 20; ++i)
    s.queues.push_back({"Queue_" + std::to_string(i), "Queue number " + std::to_string(i), "Generic PostScript Printer",
                        "file:/tmp/q" + std::to_string(i)});
  int i = 0;
  for (auto _ : state) {
    SetDefaultPrinter(s, (i++ & 1) ? "Queue 3" : "Queue number 17");
    s.calls.clear();
  }
}
BENCHMARK(BM_SwitchInMemory);

// A switch and the switch back, through a private HOME.
static void BM_SwitchThroughCups(benchmark::State& state) {
  if (!std::getenv("PRESSMARK_TEST_CUPS")) {
    state.SkipWithError("no test cupsd (PRESSMARK_TEST_CUPS is not set)");
    return;
  }
  std::string home = (std::filesystem::temp_directory_path() / "pmbench-XXXXXX").string();
  if (!::mkdtemp(home.data())) {
    state.SkipWithError("no private HOME");
    return;
  }
  ::setenv("HOME", home.c_str(), 1);
  Spooler& s = currentSpooler();
  for (auto _ : state) {
    SetDefaultPrinter(s, "Pressmark Office");
    SetDefaultPrinter(s, "Pressmark_PS");
  }
  std::filesystem::remove_all(home);
}
BENCHMARK(BM_SwitchThroughCups)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
