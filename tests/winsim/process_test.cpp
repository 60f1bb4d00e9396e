// winsim's processes, windows and mutexes: the tray program with its mutex,
// window, exit request and file in use; help viewer windows; CreateProcessW.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/fixture.h"
#include "winsim/winsim.h"

namespace {

using winsim::M;
using winsim::P;

const char kMutex[] = "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}";
const char16_t kTrayClass[] = u"vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}";
const char kTrayPath[] = "C:\\Program Files\\Morvalente\\mrvtray.exe";
const UINT kExitRequest = 0x402;

class ProcessTest : public mrvtest::MachineTest {
 protected:
  // Starts a program the way the installer does and closes the handles.
  BOOL Start(const std::u16string &commandLine, DWORD *error = nullptr) {
    std::u16string cmd = commandLine;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                             nullptr, &si, &pi);
    if (error != nullptr) *error = ok ? 0 : GetLastError();
    if (ok) {
      EXPECT_TRUE(CloseHandle(pi.hProcess));
      EXPECT_TRUE(CloseHandle(pi.hThread));
    }
    return ok;
  }

  // The tray program running with the given behaviour, started from its file
  // in an earlier process (as at logon).
  void RunTray(const std::string &behaviour, uint32_t exitDelayMs = 0) {
    M().tray.behaviour = behaviour;
    M().tray.exitDelayMs = exitDelayMs;
    ASSERT_TRUE(Start(u"\"" + winsim::ToUtf16(kTrayPath) + u"\""));
    Begin();
  }

  bool FileInUse() {
    if (DeleteFileW(winsim::ToUtf16(kTrayPath).c_str())) {
      winsim::WriteHostFile(kTrayPath, "MZ");
      return false;
    }
    return true;
  }
};

TEST_F(ProcessTest, TrayProgramStartedFromItsFileHoldsMutexWindowAndFile) {
  RunTray("exit");
  EXPECT_TRUE(M().tray.running);
  EXPECT_EQ(M().tray.path, kTrayPath);

  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutex);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  HWND w = FindWindowW(kTrayClass, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(IsWindow(w));
  EXPECT_EQ(FindWindowW(kTrayClass, nullptr), w) << "the handle value is stable";

  EXPECT_FALSE(DeleteFileW(winsim::ToUtf16(kTrayPath).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(ProcessTest, MutexIsNewWhenTrayProgramDoesNotRun) {
  SetLastError(1234);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutex);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(P().waitedMs, 0u);
  EXPECT_EQ(FindWindowW(kTrayClass, nullptr), nullptr);

  // A second handle to the same name finds it existing.
  HANDLE again = CreateMutexA(nullptr, FALSE, kMutex);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CloseHandle(again));
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_FALSE(CloseHandle(mutex));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// One exit request and waits of 5 s on the mutex, against each behaviour.
struct BehaviourCase {
  const char *name;
  const char *behaviour;
  uint32_t exitDelayMs;
  bool windowFound;
  DWORD firstWait;         // result of the first 5 s wait after the request
  uint64_t firstWaitedMs;  // virtual time it took
  bool windowAfterPost;    // the window is still there after the request
  bool runningAfter;       // after the first wait
};

void PrintTo(const BehaviourCase &c, std::ostream *os) {
  *os << c.name;
}

class TrayBehaviourTest : public ProcessTest, public ::testing::WithParamInterface<BehaviourCase> {};

TEST_P(TrayBehaviourTest, RequestAndWait) {
  const BehaviourCase &c = GetParam();
  RunTray(c.behaviour, c.exitDelayMs);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutex);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << c.name;
  HWND w = FindWindowW(kTrayClass, nullptr);
  EXPECT_EQ(w != nullptr, c.windowFound) << c.name;
  if (w != nullptr) {
    EXPECT_TRUE(PostMessageW(w, kExitRequest, 0, 0)) << c.name;
    EXPECT_EQ(FindWindowW(kTrayClass, nullptr) != nullptr, c.windowAfterPost) << c.name;
    EXPECT_EQ(IsWindow(w) != 0, c.windowAfterPost) << c.name;
  }
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), c.firstWait) << c.name;
  EXPECT_EQ(P().waitedMs, c.firstWaitedMs) << c.name;
  EXPECT_EQ(M().tray.running, c.runningAfter) << c.name;
  EXPECT_EQ(FileInUse(), c.runningAfter) << c.name;
  EXPECT_TRUE(CloseHandle(mutex));
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, TrayBehaviourTest,
    ::testing::Values(BehaviourCase{"exit", "exit", 0, true, WAIT_OBJECT_0, 0, false, false},
                      BehaviourCase{"delay_3s", "delay", 3000, true, WAIT_OBJECT_0, 3000, false, false},
                      BehaviourCase{"delay_7s", "delay", 7000, true, WAIT_TIMEOUT, 5000, false, true},
                      BehaviourCase{"ignore", "ignore", 0, true, WAIT_TIMEOUT, 5000, true, true},
                      BehaviourCase{"nowindow", "nowindow", 0, false, WAIT_TIMEOUT, 5000, false, true}),
    [](const ::testing::TestParamInfo<BehaviourCase> &i) { return std::string(i.param.name); });

TEST_F(ProcessTest, DelayedExitReleasesMutexPartWayThroughALaterWait) {
  RunTray("delay", 7000);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutex);
  ASSERT_TRUE(PostMessageW(FindWindowW(kTrayClass, nullptr), kExitRequest, 0, 0));
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(P().waitedMs, 7000u);
  EXPECT_FALSE(M().tray.running);
  EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(ProcessTest, DelayedExitHappensOnTheClockDuringSleep) {
  RunTray("delay", 1000);
  ASSERT_TRUE(PostMessageW(FindWindowW(kTrayClass, nullptr), kExitRequest, 0, 0));
  Sleep(999);
  EXPECT_TRUE(M().tray.running);
  Sleep(1);
  EXPECT_FALSE(M().tray.running);
  EXPECT_FALSE(M().tray.mutexHeld);
  EXPECT_FALSE(FileInUse());
}

TEST_F(ProcessTest, RepeatedRequestDoesNotPostponeTheExit) {
  RunTray("delay", 4000);
  HWND w = FindWindowW(kTrayClass, nullptr);
  ASSERT_TRUE(PostMessageW(w, kExitRequest, 0, 0));
  Sleep(3000);
  EXPECT_FALSE(PostMessageW(w, kExitRequest, 0, 0)) << "its window is gone";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  Sleep(1000);
  EXPECT_FALSE(M().tray.running);
}

TEST_F(ProcessTest, InfiniteWaitOnAMutexNothingReleasesFailsInsteadOfHanging) {
  RunTray("ignore");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutex);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), 1131u);
  EXPECT_EQ(P().waitedMs, 0u);
  EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(ProcessTest, OtherMessagesDoNotEndTheTrayProgram) {
  RunTray("exit");
  HWND w = FindWindowW(kTrayClass, nullptr);
  EXPECT_TRUE(PostMessageW(w, WM_USER + 1, 0, 0));
  EXPECT_TRUE(PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_TRUE(M().tray.running);
}

TEST_F(ProcessTest, TrayStateSurvivesSaveAndLoad) {
  RunTray("delay", 9000);
  ASSERT_TRUE(PostMessageW(FindWindowW(kTrayClass, nullptr), kExitRequest, 0, 0));
  uint64_t exitAt = M().clockMs + 9000;
  winsim::SaveMachine();
  ASSERT_TRUE(winsim::LoadMachine(dir_));
  Begin();
  EXPECT_TRUE(M().tray.running);
  EXPECT_EQ(M().tray.exitAtMs, static_cast<int64_t>(exitAt));
  EXPECT_EQ(FindWindowW(kTrayClass, nullptr), nullptr) << "the window went with the request";
  EXPECT_TRUE(FileInUse());
  Sleep(9000);
  EXPECT_FALSE(M().tray.running);
  winsim::SaveMachine();
  ASSERT_TRUE(winsim::LoadMachine(dir_));
  Begin();
  EXPECT_FALSE(M().tray.running);
  EXPECT_FALSE(FileInUse());
}

TEST_F(ProcessTest, TrayProgramSetRunningByHandHoldsItsFileFromTheNextProcess) {
  M().tray.running = true;
  M().tray.mutexHeld = true;
  M().tray.path = kTrayPath;
  Begin();
  EXPECT_TRUE(FileInUse());
  EXPECT_NE(FindWindowW(kTrayClass, nullptr), nullptr);
  winsim::Reboot();
  EXPECT_FALSE(M().tray.running);
  EXPECT_FALSE(FileInUse());
}

// ---------------------------------------------------------------------------
// CreateProcessW
// ---------------------------------------------------------------------------

struct StartCase {
  const char *name;
  const char16_t *commandLine;
  DWORD error;       // 0: starts
  bool trayRuns;     // the tray program runs afterwards
  const char *path;  // its path when it runs
};

void PrintTo(const StartCase &c, std::ostream *os) {
  *os << c.name;
}

class StartTest : public ProcessTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartTest, CommandLine) {
  const StartCase &c = GetParam();
  winsim::WriteHostFile("C:\\Tools\\Other Dir\\mrvtray.exe", "MZ");
  winsim::WriteHostFile("C:\\Tools\\helper.exe", "MZ");
  DWORD error = 0;
  EXPECT_EQ(Start(c.commandLine, &error), c.error == 0) << c.name;
  EXPECT_EQ(error, c.error) << c.name;
  EXPECT_EQ(M().tray.running, c.trayRuns) << c.name;
  if (c.trayRuns) {
    EXPECT_EQ(M().tray.path, c.path) << c.name;
    EXPECT_TRUE(M().tray.mutexHeld) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, StartTest,
    ::testing::Values(
        StartCase{"quoted", u"\"C:\\Program Files\\Morvalente\\mrvtray.exe\"", 0, true, kTrayPath},
        StartCase{"quoted_other_case", u"\"c:\\program files\\MORVALENTE\\MrvTray.EXE\" /x", 0, true,
                  "c:\\program files\\MORVALENTE\\MrvTray.EXE"},
        StartCase{"unquoted_with_blanks", u"C:\\Tools\\Other Dir\\mrvtray.exe", 0, true,
                  "C:\\Tools\\Other Dir\\mrvtray.exe"},
        StartCase{"other_program", u"\"C:\\Tools\\helper.exe\"", 0, false, ""},
        StartCase{"missing_file", u"\"C:\\Program Files\\Morvalente\\Drivers\\mrvtray.exe\"",
                  ERROR_FILE_NOT_FOUND, false, ""},
        StartCase{"missing_folder", u"\"C:\\Nowhere\\mrvtray.exe\"", ERROR_PATH_NOT_FOUND, false, ""},
        StartCase{"name_alone_not_beside_the_program", u"\"mrvtray.exe\"", ERROR_FILE_NOT_FOUND, false, ""},
        StartCase{"empty_quotes", u"\"\"", ERROR_FILE_NOT_FOUND, false, ""}),
    [](const ::testing::TestParamInfo<StartCase> &i) { return std::string(i.param.name); });

TEST_F(ProcessTest, StartRecordsItsCommandLineAndHandsOutHandlesToClose) {
  std::u16string cmd = u"\"" + winsim::ToUtf16(kTrayPath) + u"\"";
  STARTUPINFOW si{};
  si.cb = 104;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                             nullptr, &si, &pi));
  ASSERT_EQ(P().journal.back().call, "CreateProcessW");
  EXPECT_EQ(
      P().journal.back().args,
      std::string("\"") + kTrayPath + "\" | app=- inherit=0 flags=0x20 cb=104 startf=0x1 show=5 env=- dir=-");
  EXPECT_NE(pi.dwProcessId, 0u);
  EXPECT_EQ(winsim::Leaks().size(), 2u) << "a process and a thread handle";
  // The process handle is signalled when the program ends.
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(PostMessageW(FindWindowW(kTrayClass, nullptr), kExitRequest, 0, 0));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(CloseHandle(pi.hThread));
  EXPECT_TRUE(CloseHandle(pi.hProcess));
  EXPECT_TRUE(winsim::Leaks().empty());
}

TEST_F(ProcessTest, SecondTrayProgramLeavesAtOnceWhileOneRuns) {
  RunTray("ignore");
  winsim::WriteHostFile("C:\\Other\\mrvtray.exe", "MZ");
  std::u16string cmd = u"\"C:\\Other\\mrvtray.exe\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(M().tray.path, kTrayPath);
  EXPECT_TRUE(CloseHandle(pi.hThread));
  EXPECT_TRUE(CloseHandle(pi.hProcess));
}

TEST_F(ProcessTest, InjectedFaultFailsTheStart) {
  winsim::AddFault("CreateProcessW", ERROR_ACCESS_DENIED);
  DWORD error = 0;
  EXPECT_FALSE(Start(u"\"" + winsim::ToUtf16(kTrayPath) + u"\"", &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(M().tray.running);
}

// ---------------------------------------------------------------------------
// Help viewer windows and window handles
// ---------------------------------------------------------------------------

TEST_F(ProcessTest, HelpWindowsAreFoundByClassAndTitleAndCloseOnRequest) {
  winsim::HelpWindow other;
  other.title = "Other Help";
  M().helpWindows = {winsim::HelpWindow(), other, winsim::HelpWindow()};
  Begin();
  HWND first = FindWindowW(u"HH Parent", u"Morvalente Help");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(FindWindowW(u"hh parent", u"MORVALENTE HELP"), first) << "class and title ignore case";
  EXPECT_EQ(FindWindowW(nullptr, u"Other Help"), FindWindowW(u"HH Parent", u"Other Help"));
  EXPECT_EQ(FindWindowW(u"HH Parent", u"Morvalente"), nullptr) << "a prefix is not the title";
  uint64_t third = M().helpWindows[2].handle;

  EXPECT_TRUE(PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_FALSE(IsWindow(first));
  HWND next = FindWindowW(u"HH Parent", u"Morvalente Help");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(next), third) << "the other windows keep their handles";
  EXPECT_TRUE(PostMessageW(next, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(FindWindowW(u"HH Parent", u"Morvalente Help"), nullptr);
  ASSERT_EQ(M().helpWindows.size(), 1u);
  EXPECT_EQ(M().helpWindows[0].title, "Other Help");
}

TEST_F(ProcessTest, HelpWindowThatNeverClosesStays) {
  winsim::HelpWindow stuck;
  stuck.closesOnRequest = false;
  M().helpWindows = {stuck};
  Begin();
  HWND w = FindWindowW(u"HH Parent", u"Morvalente Help");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_TRUE(PostMessageW(w, WM_CLOSE, 0, 0));
  EXPECT_EQ(FindWindowW(u"HH Parent", u"Morvalente Help"), w);
}

TEST_F(ProcessTest, HelpWindowHandlesPersistWithTheMachine) {
  M().helpWindows = {winsim::HelpWindow(), winsim::HelpWindow()};
  Begin();
  HWND first = FindWindowW(u"HH Parent", nullptr);
  winsim::SaveMachine();
  ASSERT_TRUE(winsim::LoadMachine(dir_));
  Begin();
  EXPECT_EQ(FindWindowW(u"HH Parent", nullptr), first);
  EXPECT_TRUE(IsWindow(first));
  M().helpWindows.push_back(winsim::HelpWindow());
  Begin();
  EXPECT_NE(M().helpWindows[2].handle, M().helpWindows[0].handle);
  EXPECT_NE(M().helpWindows[2].handle, M().helpWindows[1].handle);
}

TEST_F(ProcessTest, IsWindowAcceptsOnlyLiveWindows) {
  M().windows = {0x5a0b2};
  RunTray("exit");
  HWND tray = FindWindowW(kTrayClass, nullptr);
  EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5a0b2))));
  EXPECT_TRUE(IsWindow(tray));
  EXPECT_FALSE(IsWindow(nullptr));
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5a0b4))));
  ASSERT_TRUE(PostMessageW(tray, kExitRequest, 0, 0));
  EXPECT_FALSE(IsWindow(tray));
  EXPECT_FALSE(PostMessageW(tray, kExitRequest, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(ProcessTest, VersionQueryFillsTheAnsiRecordOfItsSize) {
  M().osMajor = 5;
  M().osMinor = 1;
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = 148;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwMajorVersion, 5u);
  EXPECT_EQ(v.dwMinorVersion, 1u);
  EXPECT_EQ(v.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  OSVERSIONINFOA wrong{};
  wrong.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&wrong));
  EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

}  // namespace
