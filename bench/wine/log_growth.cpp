// mrvloggrowth.exe: the run log's growth on the Windows heap. Appends N
// lines to a run log with the installer's own WriteLog, as
// bench/log_bench.cpp does on winsim, for N = 10 to 100,000, and prints the
// time per line. The log's block grows by 32 characters at a time, so
// whether the cost per line stays flat depends on whether the heap can
// extend the block where it lies. Not shipped; used by scripts/bench.sh.
//
// Prints one line per size: "lines N ms MS ns_per_line X".
#include <windows.h>

#include <cstdio>

#include "app/context.h"
#include "app/log.h"

int main() {
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  for (int lines = 10; lines <= 100000; lines *= 10) {
    // Small sizes are repeated so that each size takes a measurable time.
    int repeat = 100000 / lines;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int r = 0; r < repeat; ++r) {
      InstallContext ctx = {};
      ctx.IndentLevel = 2;
      for (int i = 0; i < lines; ++i) WriteLog(&ctx, W(">DeletePrinter(%s) %d"), W("Morvalente"), i);
      FreeCountedString(&ctx.Log);
    }
    QueryPerformanceCounter(&end);
    double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)freq.QuadPart / repeat;
    std::printf("lines %d ms %.4f ns_per_line %.1f\n", lines, ms, ms * 1e6 / lines);
  }
  return 0;
}
