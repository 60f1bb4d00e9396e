// Processes, windows and mutexes of the simulated machine.
//
// The product's tray program is modelled from the outside, as the installer
// sees it: while it runs it owns its named mutex, has a top-level window of
// its class (unless its behaviour is "nowindow") and keeps its own file open
// without delete or write sharing. The exit request 0x402 posted to its
// window ends it at once ("exit"), closes the window at once and ends the
// program exitDelayMs later ("delay"), or does nothing ("ignore"). Ending
// releases the mutex and frees the file.
//
// Help viewer windows come from Machine::helpWindows; WM_SYSCOMMAND/SC_CLOSE
// or WM_CLOSE closes one when closesOnRequest is set.
//
// The handles this process holds (mutex, process, thread) live here and go
// when the process ends; the machine's state (tray, help windows, holds)
// persists with the machine.
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {
namespace {

const char kTrayMutex[] = "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}";
const char kTrayClass[] = "vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}";
const char kTrayFileName[] = "mrvtray.exe";
const char kTrayHolder[] = "mrvtray.exe (running)";
const UINT kTrayExitRequest = WM_USER + 2;
const uint64_t kTrayWindow = 0x000A0132;
const uint64_t kFirstHelpWindow = 0x00030010;
const DWORD kErrorPossibleDeadlock = 1131;

struct MutexObject {
  std::string name;       // empty: unnamed
  uint32_t ownCount = 0;  // times this process has acquired it
};

struct ProcessObject {
  bool tray = false;     // the tray program started by this process
  uint64_t trayRun = 0;  // which start of the tray program
  DWORD id = 0;
};

std::map<const void *, std::shared_ptr<MutexObject>> g_mutexes;
std::map<const void *, ProcessObject> g_processes;  // process and thread handles
uint64_t g_trayRun = 0;                             // counts starts of the tray program
DWORD g_nextId = 0x1000;

// ---------------------------------------------------------------------------
// The tray program
// ---------------------------------------------------------------------------

bool TrayWindowExists() {
  const TrayProgram &t = M().tray;
  return t.running && t.behaviour != "nowindow" && t.exitAtMs < 0;
}

void DropTrayHolds() {
  auto &holds = M().holds;
  for (size_t i = 0; i < holds.size();) {
    if (holds[i].holder == kTrayHolder)
      holds.erase(holds.begin() + static_cast<long>(i));
    else
      ++i;
  }
}

// Keeps the file hold in step with the tray program's state.
void SyncTrayHold() {
  DropTrayHolds();
  const TrayProgram &t = M().tray;
  if (!t.running || t.path.empty()) return;
  FileHold h;
  h.path = t.path;
  h.share = FILE_SHARE_READ;
  h.holder = kTrayHolder;
  M().holds.push_back(h);
}

void TrayExit() {
  TrayProgram &t = M().tray;
  t.running = false;
  t.mutexHeld = false;
  t.exitAtMs = -1;
  DropTrayHolds();
}

void TrayStart(const std::string &path) {
  TrayProgram &t = M().tray;
  t.running = true;
  t.path = path;
  t.mutexHeld = true;
  t.exitAtMs = -1;
  ++g_trayRun;
  SyncTrayHold();
}

// Object names are case-sensitive; the session namespace is the default.
std::string ObjectName(const std::string &name) {
  return name.rfind("Local\\", 0) == 0 ? name.substr(6) : name;
}

bool HeldByTray(const std::string &name) {
  return name == kTrayMutex && M().tray.running && M().tray.mutexHeld;
}

// ---------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------

void GiveHelpWindowsHandles() {
  uint64_t next = kFirstHelpWindow;
  for (auto &w : M().helpWindows)
    if (w.handle >= next) next = w.handle + 0x10;
  for (auto &w : M().helpWindows)
    if (w.handle == 0) {
      w.handle = next;
      next += 0x10;
    }
}

uint64_t Value(HWND h) {
  return reinterpret_cast<uintptr_t>(h);
}
HWND ToHwnd(uint64_t v) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
}

HelpWindow *FindHelpWindow(uint64_t v) {
  if (v == 0) return nullptr;
  for (auto &w : M().helpWindows)
    if (w.handle == v) return &w;
  return nullptr;
}

// A class or title argument: null (or an atom, which names no class here)
// matches any window.
bool ReadName(LPCWSTR p, std::string *out, bool *atom) {
  *atom = false;
  if (p == nullptr) return false;
  if (reinterpret_cast<uintptr_t>(p) < 0x10000) {
    *atom = true;
    return false;
  }
  *out = ToUtf8(p);
  return true;
}

std::string HexValue(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

// ---------------------------------------------------------------------------
// Programs
// ---------------------------------------------------------------------------

bool IsAbsolute(const std::string &p) {
  return (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) || p.rfind("\\\\", 0) == 0;
}

std::string DirOf(const std::string &path) {
  size_t pos = path.find_last_of("\\/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string FileNameOf(const std::string &path) {
  size_t pos = path.find_last_of("\\/");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

// The file a program name stands for: as given when absolute, else in the
// program's own directory or the system directory; ".exe" is added to a
// name without an extension. Empty when no such file exists.
std::string ResolveProgram(const std::string &name) {
  std::vector<std::string> names = {name};
  if (FileNameOf(name).find('.') == std::string::npos) names.push_back(name + ".exe");
  std::vector<std::string> dirs;
  if (IsAbsolute(name))
    dirs.push_back("");
  else
    dirs = {DirOf(M().modulePath) + "\\", M().systemDir + "\\"};
  for (auto &d : dirs)
    for (auto &n : names)
      if (FileExists(d + n)) return d + n;
  return std::string();
}

// The error for a program that is not there: 3 when its folder is missing.
DWORD MissingProgramError(const std::string &name) {
  if (!IsAbsolute(name)) return ERROR_FILE_NOT_FOUND;
  std::string host = HostPath(DirOf(name));
  struct stat st;
  return (!host.empty() && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ERROR_FILE_NOT_FOUND
                                                                                : ERROR_PATH_NOT_FOUND;
}

// The program a command line starts: a quoted path up to its closing quote;
// unquoted, the shortest run of blank-separated words that names a file, as
// the system tries them. `first` receives the first candidate for errors.
std::string ProgramOfCommandLine(const std::string &cmd, std::string *first) {
  if (!cmd.empty() && cmd[0] == '"') {
    size_t end = cmd.find('"', 1);
    *first = cmd.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    return ResolveProgram(*first);
  }
  size_t start = cmd.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  size_t pos = start;
  first->clear();
  for (;;) {
    size_t end = cmd.find_first_of(" \t", pos);
    std::string candidate = cmd.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (first->empty()) *first = candidate;
    std::string found = ResolveProgram(candidate);
    if (!found.empty() || end == std::string::npos) return found;
    pos = cmd.find_first_not_of(" \t", end);
    if (pos == std::string::npos) return std::string();
  }
}

bool ProcessEnded(const ProcessObject &o) {
  return !o.tray || !M().tray.running || o.trayRun != g_trayRun;
}

// Waits up to `ms` for the tray program to end on its own, on the virtual
// clock. True when it ended within the time.
bool WaitForTrayExit(DWORD ms, bool *deadlock) {
  *deadlock = false;
  const TrayProgram &t = M().tray;
  uint64_t now = M().clockMs;
  if (t.exitAtMs >= 0 && (ms == INFINITE || static_cast<uint64_t>(t.exitAtMs) <= now + ms)) {
    uint64_t at = static_cast<uint64_t>(t.exitAtMs);
    detail::Advance(at > now ? at - now : 0);
    if (M().tray.running) TrayExit();  // in case the clock hooks did not see it
    return true;
  }
  if (ms == INFINITE) {
    *deadlock = true;  // nothing will ever end it: the wait would never return
    return false;
  }
  detail::Advance(ms);
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Joints
// ---------------------------------------------------------------------------

namespace internal {

void ProcessesResetProcess() {
  g_mutexes.clear();
  g_processes.clear();
  SyncTrayHold();
  GiveHelpWindowsHandles();
}

void ProcessesOnClock() {
  const TrayProgram &t = M().tray;
  if (t.running && t.exitAtMs >= 0 && static_cast<uint64_t>(t.exitAtMs) <= M().clockMs) TrayExit();
}

bool CloseProcessObject(HANDLE h) {
  if (g_mutexes.erase(h) > 0 || g_processes.erase(h) > 0) {
    detail::DropHandle(h);
    return true;
  }
  return false;
}

bool WindowExists(HWND h) {
  uint64_t v = Value(h);
  if (v == 0) return false;
  for (uint64_t w : M().windows)
    if (w == v) return true;
  if (v == kTrayWindow && TrayWindowExists()) return true;
  if (FindHelpWindow(v) != nullptr) return true;
  return IsDialogWindow(h);
}

}  // namespace internal
}  // namespace winsim

using namespace winsim;

// ---------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------

BOOL WINAPI IsWindow(HWND hWnd) {
  if (detail::Enter("IsWindow", std::to_string(reinterpret_cast<uintptr_t>(hWnd)))) return FALSE;
  GiveHelpWindowsHandles();
  BOOL ok = internal::WindowExists(hWnd) ? TRUE : FALSE;
  detail::Result(ok ? "yes" : "no");
  return ok;
}

// Finds a top-level window by class and title, both compared without regard
// to case; a null argument matches any. Modal dialogs come first, then the
// tray program's window, then the help viewer windows in their order.
HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  std::string cls, title;
  bool clsAtom = false, titleAtom = false;
  bool hasClass = ReadName(lpClassName, &cls, &clsAtom);
  bool hasTitle = ReadName(lpWindowName, &title, &titleAtom);
  if (detail::Enter("FindWindowW", (hasClass ? cls : "*") + " | " + (hasTitle ? title : "*"))) return nullptr;
  GiveHelpWindowsHandles();
  HWND found = nullptr;
  if (!clsAtom && !titleAtom) {
    auto matches = [&](const std::string &c, const std::string &t) {
      return (!hasClass || IEquals(c, cls)) && (!hasTitle || IEquals(t, title));
    };
    if (!hasClass || IEquals(cls, "#32770")) found = internal::FindDialogWindow(hasTitle ? &title : nullptr);
    if (found == nullptr && TrayWindowExists() && matches(kTrayClass, "")) found = ToHwnd(kTrayWindow);
    if (found == nullptr)
      for (auto &w : M().helpWindows)
        if (matches(w.className, w.title)) {
          found = ToHwnd(w.handle);
          break;
        }
  }
  detail::Result(found ? HexValue(Value(found)) : "none");
  return found;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  uint64_t v = Value(hWnd);
  if (detail::Enter("PostMessageW", HexValue(v) + " " + HexValue(Msg) + " " + HexValue(wParam) + " " +
                                        HexValue(static_cast<uint64_t>(lParam))))
    return FALSE;
  GiveHelpWindowsHandles();
  if (v == 0) return TRUE;  // to the thread's own queue; nothing reads it
  if (v == kTrayWindow && TrayWindowExists()) {
    TrayProgram &t = M().tray;
    if (Msg == kTrayExitRequest) {
      if (t.behaviour == "exit" || (t.behaviour == "delay" && t.exitDelayMs == 0)) {
        TrayExit();
        detail::Result("tray exits");
      } else if (t.behaviour == "delay") {
        // It closes its window at once and ends when it has finished.
        t.exitAtMs = static_cast<int64_t>(M().clockMs + t.exitDelayMs);
        detail::Result("tray exits in " + std::to_string(t.exitDelayMs) + " ms");
      } else {
        detail::Result("tray ignores it");
      }
    }
    return TRUE;
  }
  if (HelpWindow *w = FindHelpWindow(v)) {
    bool closeRequest = (Msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) || Msg == WM_CLOSE;
    if (closeRequest && w->closesOnRequest) {
      auto &all = M().helpWindows;
      all.erase(all.begin() + (w - all.data()));
      detail::Result("closed");
    } else if (closeRequest) {
      detail::Result("stays open");
    }
    return TRUE;
  }
  if (internal::WindowExists(hWnd)) return TRUE;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  detail::Result("error 1400");
  return FALSE;
}

// ---------------------------------------------------------------------------
// Mutexes
// ---------------------------------------------------------------------------

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  std::string name = lpName ? ObjectName(AnsiToUtf8(lpName)) : std::string();
  if (detail::Enter("CreateMutexA", (lpName ? name : "(unnamed)") + (bInitialOwner ? " owned" : "")))
    return nullptr;
  std::shared_ptr<MutexObject> obj;
  bool exists = false;
  if (!name.empty()) {
    for (auto &m : g_mutexes)
      if (m.second->name == name) obj = m.second;
    exists = obj != nullptr || HeldByTray(name);
  }
  if (obj == nullptr) {
    obj = std::make_shared<MutexObject>();
    obj->name = name;
    if (bInitialOwner && !exists) obj->ownCount = 1;
  }
  HANDLE h = detail::NewHandle(HandleKind::Mutex);
  g_mutexes[h] = obj;
  SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  detail::Result(exists ? "exists" : "created");
  return h;
}

// Waits on the virtual clock: a mutex that the tray program owns is released
// when the program ends (at once if it is due within the time), otherwise the
// full time passes and the wait times out. An infinite wait that nothing can
// end fails with ERROR_POSSIBLE_DEADLOCK instead of hanging the simulation.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto mit = g_mutexes.find(hHandle);
  auto pit = g_processes.find(hHandle);
  const char *kind = mit != g_mutexes.end() ? "mutex" : pit != g_processes.end() ? "process" : "?";
  if (detail::Enter("WaitForSingleObject", std::string(kind) + " " + std::to_string(dwMilliseconds)))
    return WAIT_FAILED;
  auto finish = [](DWORD r, const char *text) {
    detail::Result(text);
    return r;
  };
  bool deadlock = false;
  if (mit != g_mutexes.end()) {
    MutexObject &m = *mit->second;
    if (m.ownCount > 0 || !HeldByTray(m.name) || WaitForTrayExit(dwMilliseconds, &deadlock)) {
      ++m.ownCount;
      return finish(WAIT_OBJECT_0, "signalled");
    }
  } else if (pit != g_processes.end()) {
    if (ProcessEnded(pit->second) || WaitForTrayExit(dwMilliseconds, &deadlock))
      return finish(WAIT_OBJECT_0, "signalled");
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    return finish(WAIT_FAILED, "error 6");
  }
  if (deadlock) {
    SetLastError(kErrorPossibleDeadlock);
    return finish(WAIT_FAILED, "deadlock");
  }
  return finish(WAIT_TIMEOUT, "timeout");
}

// ---------------------------------------------------------------------------
// Programs
// ---------------------------------------------------------------------------

// Starts a program. The tray program (any existing file named mrvtray.exe)
// starts running unless one already runs, in which case the new instance
// ends at once as a single-instance program does; any other program ends at
// once. The journal holds the command line and the start-up choices.
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  std::string app = lpApplicationName ? ToUtf8(lpApplicationName) : std::string();
  std::string cmd = lpCommandLine ? ToUtf8(lpCommandLine) : std::string();
  std::string args = cmd + " | app=" + (lpApplicationName ? app : "-") +
                     " inherit=" + std::to_string(bInheritHandles) + " flags=" + HexValue(dwCreationFlags);
  if (lpStartupInfo != nullptr)
    args += " cb=" + std::to_string(lpStartupInfo->cb) + " startf=" + HexValue(lpStartupInfo->dwFlags) +
            " show=" + std::to_string(lpStartupInfo->wShowWindow);
  args += std::string(" env=") + (lpEnvironment ? "given" : "-") +
          " dir=" + (lpCurrentDirectory ? ToUtf8(lpCurrentDirectory) : "-");
  if (detail::Enter("CreateProcessW", args)) return FALSE;
  if ((lpApplicationName == nullptr && cmd.empty()) || lpStartupInfo == nullptr ||
      lpProcessInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    detail::Result("error 87");
    return FALSE;
  }
  std::string first = app;
  std::string program = lpApplicationName ? ResolveProgram(app) : ProgramOfCommandLine(cmd, &first);
  if (program.empty()) {
    SetLastError(MissingProgramError(first));
    detail::Result("error " + std::to_string(GetLastError()));
    return FALSE;
  }
  ProcessObject obj;
  obj.id = g_nextId += 4;
  if (IEquals(FileNameOf(program), kTrayFileName)) {
    // A tray program that finds its mutex already there leaves at once.
    bool mutexThere = M().tray.running;
    for (auto &m : g_mutexes) mutexThere = mutexThere || m.second->name == kTrayMutex;
    if (!mutexThere) {
      TrayStart(program);
      obj.tray = true;
      obj.trayRun = g_trayRun;
    }
  }
  HANDLE process = detail::NewHandle(HandleKind::Process);
  HANDLE thread = detail::NewHandle(HandleKind::Thread);
  g_processes[process] = obj;
  g_processes[thread] = obj;
  lpProcessInformation->hProcess = process;
  lpProcessInformation->hThread = thread;
  lpProcessInformation->dwProcessId = obj.id;
  lpProcessInformation->dwThreadId = obj.id + 2;
  SetLastError(ERROR_SUCCESS);
  detail::Result(std::string("started ") + program + (obj.tray ? " (tray program)" : ""));
  return TRUE;
}
