// The run log: appending N lines. Every line grows the log's CountedString,
// which is reallocated whenever its capacity (a multiple of 32 characters)
// changes, so the cost per line depends on how the heap extends a block.
#include <benchmark/benchmark.h>

#include "app/context.h"
#include "app/log.h"
#include "support/fixture.h"

namespace {

void BM_RunLogAppend(benchmark::State &state) {
  std::string dir = mrvtest::MakeTempDir();
  winsim::NewMachine(dir);
  winsim::BeginProcess(u"install.exe");
  const int lines = static_cast<int>(state.range(0));
  for (auto _ : state) {
    InstallContext ctx = {};
    ctx.IndentLevel = 2;
    for (int i = 0; i < lines; ++i) WriteLog(&ctx, W(">DeletePrinter(%s) %d"), W("Morvalente"), i);
    benchmark::DoNotOptimize(ctx.Log);
    FreeContext(&ctx);
    // winsim journals every HeapReAlloc: empty the journal outside the
    // timing, or its growth over all iterations is measured too.
    state.PauseTiming();
    winsim::P().journal.clear();
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
  mrvtest::RemoveTree(dir);
}
BENCHMARK(BM_RunLogAppend)->RangeMultiplier(10)->Range(10, 100000)->Complexity();

}  // namespace
