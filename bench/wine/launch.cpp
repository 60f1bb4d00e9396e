// mrvlaunch.exe: runs a command line under Wine and measures how long the
// program took to do its work. Not shipped; used by bench/wine/run.sh.
//
//   mrvlaunch COMMAND LINE...
//
// While the program runs, a top-level window of that process whose title
// begins with "Morvalente build " (the installer's log dialog) is closed
// with its "Close" button as soon as it appears. The program has done its
// work by then (the log is shown last), so its time is the time from
// CreateProcessW to the dialog's appearance; without a dialog, to its exit.
// The time from the click to the exit is given apart. The program is ended
// after 300 s. Prints one line:
//   ms MS dialog 0|1 exit CODE thread TID after_close MS2
// in milliseconds (three decimals; MS2 is 0 without a dialog), with TID the
// program's first thread as Wine's debug channels print it (four hex
// digits).
#include <windows.h>

#include <cstdio>

namespace {

const WCHAR kTitlePrefix[] = L"Morvalente build ";
const DWORD kLimitMs = 300000;
const DWORD kPollMs = 2;

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  Search *s = (Search *)param;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != s->pid) return TRUE;
  WCHAR title[256];
  int n = GetWindowTextW(window, title, 256);
  int prefix = lstrlenW(kTitlePrefix);
  if (n < prefix) return TRUE;
  title[prefix] = 0;
  if (lstrcmpW(title, kTitlePrefix) != 0) return TRUE;
  s->found = window;
  return FALSE;
}

// The command line after the program's own name.
WCHAR *RestOfCommandLine() {
  WCHAR *p = GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

double Ms(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER freq) {
  return (double)(to.QuadPart - from.QuadPart) * 1000.0 / (double)freq.QuadPart;
}

}  // namespace

int main() {
  WCHAR *command = RestOfCommandLine();
  if (*command == 0) {
    std::fprintf(stderr, "usage: mrvlaunch COMMAND LINE...\n");
    return 2;
  }
  LARGE_INTEGER freq, start, now, shown = {}, closed = {};
  QueryPerformanceFrequency(&freq);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "mrvlaunch: CreateProcessW failed with %lu\n", GetLastError());
    return 2;
  }
  bool dialog = false;
  for (;;) {
    DWORD r = WaitForSingleObject(pi.hProcess, kPollMs);
    QueryPerformanceCounter(&now);
    if (r != WAIT_TIMEOUT) break;
    if (Ms(start, now, freq) > kLimitMs) {
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, 10000);
      std::fprintf(stderr, "mrvlaunch: ended after %lu ms\n", kLimitMs);
      break;
    }
    if (dialog) continue;
    Search s = {pi.dwProcessId, nullptr};
    EnumWindows(FindDialog, (LPARAM)&s);
    if (s.found == nullptr || !IsWindowVisible(s.found)) continue;
    shown = now;
    dialog = true;
    HWND button = GetDlgItem(s.found, IDOK);
    PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)button);
    QueryPerformanceCounter(&closed);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  double ms = dialog ? Ms(start, shown, freq) : Ms(start, now, freq);
  double after = dialog ? Ms(closed, now, freq) : 0.0;
  std::printf("ms %.3f dialog %d exit %lu thread %04lx after_close %.3f\n", ms, dialog ? 1 : 0, code,
              pi.dwThreadId, after);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
