// One command on a machine with N printers (a tenth of them the product's),
// for measuring tools: prints the exit code, the virtual waiting time, the
// installer's heap (winsim's count of the blocks it handed out: peak and
// left at the end) and the calls made. Run it under valgrind to profile the
// run alone: callgrind with --toggle-collect=DispatchCommand, or massif.
//
//   mrv_profile PRINTERS [COMMAND]      COMMAND defaults to "install.exe in"
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/dispatch.h"
#include "bench_machine.h"
#include "support/fixture.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mrv_profile PRINTERS [COMMAND]\n");
    return 2;
  }
  int printers = std::atoi(argv[1]);
  std::string command = argc > 2 ? argv[2] : "install.exe in";
  std::string dir = mrvtest::MakeTempDir();
  if (!mrvbench::PrepareInstalledMachine(dir)) {
    std::fprintf(stderr, "mrv_profile: the first install did not end with 1\n");
    mrvtest::RemoveTree(dir);
    return 1;
  }
  mrvbench::AddPrinters(printers);

  winsim::BeginProcess(winsim::ToUtf16(command));
  winsim::P().dialogClose = IDOK;
  unsigned code = DispatchCommand(GetModuleHandleW(nullptr));
  const winsim::Process &p = winsim::P();
  std::printf("printers %d product %d\n", printers, mrvbench::ProductPrinterCount());
  std::printf("exit %u\n", code);
  std::printf("waited_ms %llu\n", static_cast<unsigned long long>(p.waitedMs));
  std::printf("heap_peak_bytes %llu\n", static_cast<unsigned long long>(p.peakBytes));
  std::printf("heap_left_bytes %llu\n", static_cast<unsigned long long>(p.liveBytes));
  std::printf("calls %zu\n", p.journal.size());
  winsim::BeginProcess(u"install.exe");
  mrvtest::RemoveTree(dir);
  return code == 1 || code == 2 ? 0 : 1;
}
