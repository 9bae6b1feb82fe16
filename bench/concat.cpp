// clsConcat against std::string: 10^6 pieces of 10 characters each, the way
// the data exports build their delimited text.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "automation/Variant.h"
#include "system/clsConcat.h"

namespace {

constexpr int kPieces = 1000000;
const std::string kPiece = "0123456789";

void StdStringAppend(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < kPieces; ++i) s.append(kPiece);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
  state.SetBytesProcessed(state.iterations() * kPieces * int64_t(kPiece.size()));
}
BENCHMARK(StdStringAppend)->Unit(benchmark::kMillisecond);

// std::string's best case: the capacity of the previous round is kept, so
// only the appending is measured (no allocation, no page faults). The
// first figure above depends much on how the allocator returns big blocks.
void StdStringAppendWarm(benchmark::State& state) {
  std::string s;
  for (auto _ : state) {
    s.clear();
    for (int i = 0; i < kPieces; ++i) s.append(kPiece);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
  state.SetBytesProcessed(state.iterations() * kPieces * int64_t(kPiece.size()));
}
BENCHMARK(StdStringAppendWarm)->Unit(benchmark::kMillisecond);

void ConcatStringView(benchmark::State& state) {
  for (auto _ : state) {
    pm::clsConcat c;
    for (int i = 0; i < kPieces; ++i) c.SConcat(std::string_view(kPiece));
    std::string s = c.GetString();
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
  state.SetBytesProcessed(state.iterations() * kPieces * int64_t(kPiece.size()));
}
BENCHMARK(ConcatStringView)->Unit(benchmark::kMillisecond);

// The automation path: every piece arrives as a Variant holding a string.
void ConcatVariant(benchmark::State& state) {
  const pm::Variant piece(kPiece);
  for (auto _ : state) {
    pm::clsConcat c;
    for (int i = 0; i < kPieces; ++i) c.SConcat(piece);
    std::string s = c.GetString();
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(ConcatVariant)->Unit(benchmark::kMillisecond);

// Numbers converted with CStr on the way in.
void ConcatVariantNumber(benchmark::State& state) {
  const pm::Variant piece(int32_t(1234567890));
  for (auto _ : state) {
    pm::clsConcat c;
    for (int i = 0; i < kPieces; ++i) c.SConcat(piece);
    std::string s = c.GetString();
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(ConcatVariantNumber)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
