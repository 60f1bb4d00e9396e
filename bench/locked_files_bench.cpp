// The run's locked-file list with 10 to 10,000 paths: adding them (each add
// first walks the list for an equal path), one DeleteFileTry pass over paths
// that stay listed, and handing them all over for deletion at restart.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/context.h"
#include "support/fixture.h"
#include "sys/locked_files.h"

namespace {

// Paths as the installer lists them: files of the driver directory. The
// directory "x64\\9" does not exist, so a deletion fails with error 3 and
// the path stays listed (a file that is gone, error 2, would leave).
std::vector<std::u16string> Paths(int n) {
  std::vector<std::u16string> out;
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    char text[96];
    std::snprintf(text, sizeof text, "C:\\Windows\\System32\\spool\\drivers\\x64\\9\\gwrdrv64-%06d.dll", i);
    out.push_back(winsim::ToUtf16(text));
  }
  return out;
}

// Builds the list by pushing nodes in front, without AddLockedFile's walk,
// so that preparing a list costs no more than the list itself.
void PushAll(LockedFileNode **head, const std::vector<std::u16string> &paths) {
  for (auto &p : paths) {
    auto *node = static_cast<LockedFileNode *>(GlobalAlloc(GPTR, sizeof(LockedFileNode)));
    node->Path = static_cast<LPWSTR>(GlobalAlloc(GPTR, (p.size() + 1) * sizeof(WCHAR)));
    lstrcpyW(node->Path, p.c_str());
    node->Next = *head;
    *head = node;
  }
}

struct Machine {
  std::string dir = mrvtest::MakeTempDir();
  Machine() {
    winsim::NewMachine(dir);
    winsim::BeginProcess(u"install.exe");
  }
  ~Machine() {
    winsim::BeginProcess(u"install.exe");
    mrvtest::RemoveTree(dir);
  }
};

void BM_AddLockedFile(benchmark::State &state) {
  Machine machine;
  const auto paths = Paths(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    LockedFileNode *head = nullptr;
    for (auto &p : paths) AddLockedFile(&head, p.c_str());
    state.PauseTiming();
    ClearLockedFileList(&head);
    winsim::P().journal.clear();
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AddLockedFile)->RangeMultiplier(10)->Range(10, 10000)->Complexity();

void BM_DeleteFileTry(benchmark::State &state) {
  Machine machine;
  const auto paths = Paths(static_cast<int>(state.range(0)));
  InstallContext ctx = {};
  PushAll(&ctx.LockedFiles, paths);
  for (auto _ : state) {
    DeleteFileTry(&ctx);  // every path stays (error 3)
    state.PauseTiming();
    FreeCountedString(&ctx.Log);
    winsim::P().journal.clear();
    state.ResumeTiming();
  }
  FreeContext(&ctx);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DeleteFileTry)->RangeMultiplier(10)->Range(10, 10000)->Complexity();

void BM_ScheduleDeleteAtRestart(benchmark::State &state) {
  Machine machine;
  const auto paths = Paths(static_cast<int>(state.range(0)));
  const char *sessionManager = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  InstallContext ctx = {};
  for (auto _ : state) {
    state.PauseTiming();
    PushAll(&ctx.LockedFiles, paths);
    if (winsim::RegKey *key = winsim::FindKey(sessionManager))
      key->values.erase("pendingfilerenameoperations");
    winsim::P().journal.clear();
    state.ResumeTiming();
    DWORD accepted = ScheduleDeleteAtRestart(&ctx);
    if (accepted != paths.size()) state.SkipWithError("not every path was accepted");
  }
  FreeContext(&ctx);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ScheduleDeleteAtRestart)->RangeMultiplier(10)->Range(10, 10000)->Complexity();

}  // namespace
