// A trivial property read by name from C++: the baseline the Python module's
// call overhead is measured against (bench/python_property_get.py).
#include <benchmark/benchmark.h>

#include "pressmark/pressmark.h"

namespace {

void TempFilePathFromCpp(benchmark::State& state) {
  auto pdf = pressmark::create("Pressmark.CreatePDF");
  for (auto _ : state) {
    pressmark::Variant v = pressmark::get(pdf, "TempFilePath");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(TempFilePathFromCpp);

}  // namespace

BENCHMARK_MAIN();
