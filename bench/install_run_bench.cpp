// A whole "install.exe in" run (a repair) on machines with 10 to 10,000
// printers, a tenth of them the product's with settings names: every one of
// those is remembered, deleted and re-created.
//
// Each run changes the machine (it deletes and re-creates the product's
// printers, restarts the tray program, moves the clock), so the machine is
// put back to a saved copy before every iteration, outside the timing. The
// files on drive C: need no restoring: a repair over an installed product
// leaves the same files behind as it found (the monitor is kept, the
// driver's files are written again with the same bytes).
#include <benchmark/benchmark.h>

#include "bench_machine.h"
#include "support/fixture.h"

namespace {

void BM_InstallRun(benchmark::State &state) {
  const int printers = static_cast<int>(state.range(0));
  std::string dir = mrvtest::MakeTempDir();
  if (!mrvbench::PrepareInstalledMachine(dir)) {
    state.SkipWithError("preparing the machine: the first install did not end with 1");
    mrvtest::RemoveTree(dir);
    return;
  }
  mrvbench::AddPrinters(printers);
  const winsim::Machine saved = winsim::M();
  const int product = mrvbench::ProductPrinterCount();

  for (auto _ : state) {
    state.PauseTiming();
    winsim::M() = saved;
    winsim::BeginProcess(u"install.exe");  // frees the last run's journal outside the timing
    state.ResumeTiming();
    unsigned code = mrvbench::Run(u"install.exe in");
    state.PauseTiming();
    if (code != 1 || mrvbench::ProductPrinterCount() != product) {
      state.SkipWithError("the run did not repair the machine (exit code or printers differ)");
      break;
    }
    state.ResumeTiming();
  }
  state.counters["product_printers"] = product;
  state.SetComplexityN(printers);
  winsim::BeginProcess(u"install.exe");
  mrvtest::RemoveTree(dir);
}
BENCHMARK(BM_InstallRun)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
