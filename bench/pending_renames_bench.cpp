// The system's pending file operations with 10 to 100,000 pairs: reading and
// parsing the value (one GetFileAttributesW per name) and sweeping the
// pending deletions, as the install and uninstall sequences do after their
// removal step.
//
// Every tenth pair is a deletion of an existing file (the sweep deletes it;
// it is written again before the next iteration, outside the timing), every
// tenth a rename, the rest deletions of files that are already gone. The
// files lie in directories of at most 100 entries (two levels of them): winsim finds a path's host
// file without regard to case by reading each directory on the way, so one
// directory of 100,000 files would measure winsim's directory scans, not
// the installer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fixture.h"
#include "sys/pending_renames.h"

namespace {

const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string FilePath(int i) {
  char text[96];
  std::snprintf(text, sizeof text, "C:\\ProgramData\\Vendor\\cache%02d\\part%02d\\update-%06d.tmp", i / 10000,
                (i / 100) % 100, i);
  return text;
}

void BM_PendingRenamesSweep(benchmark::State &state) {
  const int pairs = static_cast<int>(state.range(0));
  std::string dir = mrvtest::MakeTempDir();
  winsim::NewMachine(dir);
  winsim::BeginProcess(u"install.exe");

  std::vector<std::string> strings;
  std::vector<std::string> existing;
  for (int i = 0; i < pairs; ++i) {
    std::string path = FilePath(i);
    strings.push_back("\\??\\" + path);
    if (i % 10 == 1) {
      strings.push_back("!\\??\\" + path + ".new");  // a rename: never touched
    } else {
      strings.push_back("");  // a deletion
    }
    if (i % 10 == 0 || i % 10 == 1) existing.push_back(path);
  }
  winsim::SetRegMultiSz(kSessionManager, "PendingFileRenameOperations", strings);
  for (auto &p : existing) winsim::WriteHostFile(p, "x");

  LONG swept = 0;
  for (auto _ : state) {
    PendingRenameList list = ReadPendingRenames();
    SweepPendingDeletes(&list);
    swept = list.PairCount;
    FreePendingRenames(&list);
    state.PauseTiming();
    for (int i = 0; i < pairs; i += 10) winsim::WriteHostFile(FilePath(i), "x");
    winsim::P().journal.clear();
    state.ResumeTiming();
  }
  if (swept != pairs) state.SkipWithError("the value did not parse into every pair");
  state.SetComplexityN(pairs);
  winsim::BeginProcess(u"install.exe");
  mrvtest::RemoveTree(dir);
}
BENCHMARK(BM_PendingRenamesSweep)
    ->RangeMultiplier(10)
    ->Range(10, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

}  // namespace
