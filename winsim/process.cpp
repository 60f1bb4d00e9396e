// Processes, windows and mutexes of the simulated machine.
#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim::internal {

void ProcessesResetProcess() {}
void ProcessesOnClock() {}
bool CloseProcessObject(HANDLE h) {
  return false;
}

}  // namespace winsim::internal

using namespace winsim;

BOOL WINAPI IsWindow(HWND hWnd) {
  if (detail::Enter("IsWindow", std::to_string(reinterpret_cast<uintptr_t>(hWnd)))) return FALSE;
  uint64_t v = reinterpret_cast<uintptr_t>(hWnd);
  for (uint64_t w : M().windows)
    if (w == v && v != 0) return TRUE;
  return FALSE;
}
