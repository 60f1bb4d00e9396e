// The tray program: asking it to exit and removing its file and Run value
// (StopTrayProgram), registering and starting it (StartTrayProgram), and its
// path beside the installer's directory.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/dispatch.h"
#include "common/counted_string.h"
#include "companion/tray_program.h"
#include "support/fixture.h"

namespace {

using winsim::M;
using winsim::P;

const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kTrayPath[] = "C:\\Program Files\\Morvalente\\mrvtray.exe";
const char kOtherFile[] = "C:\\Windows\\System32\\kernel32.dll";

class TrayTest : public mrvtest::MachineTest {
 protected:
  // The tray program started from its file (as at logon) with a behaviour;
  // the test's own process begins afterwards.
  void RunTray(const std::string &behaviour, uint32_t exitDelayMs = 0) {
    M().tray.behaviour = behaviour;
    M().tray.exitDelayMs = exitDelayMs;
    std::u16string cmd = u"\"" + winsim::ToUtf16(kTrayPath) + u"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    ASSERT_TRUE(M().tray.running);
    Begin();
  }

  static void SetRunValue(const std::string &path) { winsim::SetRegString(kRunKey, "MorvalenteTray", path); }
  static bool RunValueThere() { return winsim::GetRegValue(kRunKey, "MorvalenteTray") != nullptr; }
  static std::string RunValue() {
    const winsim::RegValue *v = winsim::GetRegValue(kRunKey, "MorvalenteTray");
    if (v == nullptr) return "(none)";
    std::u16string w(reinterpret_cast<const char16_t *>(v->data.data()), v->data.size() / 2);
    return winsim::ToUtf8(w);
  }
  static std::vector<std::string> Calls() {
    std::vector<std::string> out;
    for (auto &e : P().journal)
      if (e.call != "HeapAlloc" && e.call != "HeapFree" && e.call != "HeapReAlloc") out.push_back(e.call);
    return out;
  }
  static size_t IndexOf(const std::string &call) {
    for (size_t i = 0; i < P().journal.size(); ++i)
      if (P().journal[i].call == call) return i;
    return SIZE_MAX;
  }
};

// ---------------------------------------------------------------------------
// StopTrayProgram
// ---------------------------------------------------------------------------

enum class RunValueKind { Tray, None, Empty, FileGone, OtherFile, TrayInCapitals };

struct StopRow {
  const char *name;
  const char *behaviour;  // null: the tray program does not run
  uint32_t exitDelayMs;
  RunValueKind value;
  uint64_t waitedMs;
  size_t searches, requests, waits, deleteAttempts;
  bool trayFileStays;
  bool trayRunsAfter;
};
void PrintTo(const StopRow &r, std::ostream *os) {
  *os << r.name;
}

class StopTrayTest : public TrayTest, public ::testing::WithParamInterface<StopRow> {};

TEST_P(StopTrayTest, WaitsDeletesAndUnregisters) {
  const StopRow &r = GetParam();
  winsim::WriteHostFile(kOtherFile, "MZ system file");
  if (r.behaviour != nullptr) RunTray(r.behaviour, r.exitDelayMs);
  switch (r.value) {
    case RunValueKind::Tray:
      SetRunValue(kTrayPath);
      break;
    case RunValueKind::None:
      break;
    case RunValueKind::Empty:
      SetRunValue("");
      break;
    case RunValueKind::FileGone:
      SetRunValue(kTrayPath);
      winsim::RemoveHostFile(kTrayPath);
      break;
    case RunValueKind::OtherFile:
      SetRunValue(kOtherFile);
      break;
    case RunValueKind::TrayInCapitals:
      SetRunValue("C:\\PROGRAM FILES\\MORVALENTE\\MRVTRAY.EXE");
      break;
  }

  StopTrayProgram();

  EXPECT_EQ(P().waitedMs, r.waitedMs) << r.name;
  EXPECT_EQ(winsim::CallCount("CreateMutexA"), 1u) << r.name;
  EXPECT_EQ(winsim::CallCount("FindWindowW"), r.searches) << r.name;
  EXPECT_EQ(winsim::CallCount("PostMessageW"), r.requests) << r.name;
  EXPECT_EQ(winsim::CallCount("WaitForSingleObject"), r.waits) << r.name;
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), r.deleteAttempts) << r.name;
  EXPECT_EQ(winsim::FileExists(kTrayPath), r.trayFileStays) << r.name;
  EXPECT_TRUE(winsim::FileExists(kOtherFile)) << r.name;
  EXPECT_EQ(M().tray.running, r.trayRunsAfter) << r.name;
  EXPECT_FALSE(RunValueThere()) << r.name;
  EXPECT_EQ(winsim::CallCount("RegDeleteValueA"), 1u) << r.name;
  EXPECT_EQ(winsim::CallCount("CloseHandle"), 1u) << r.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopTrayTest,
    ::testing::Values(
        // The mutex is new: no search, no wait; the file goes.
        StopRow{"not_running", nullptr, 0, RunValueKind::Tray, 0, 0, 0, 0, 1, false, false},
        // One request, one wait that ends at once, then the file goes.
        StopRow{"exits_at_once", "exit", 0, RunValueKind::Tray, 0, 1, 1, 1, 1, false, false},
        StopRow{"exits_after_3s", "delay", 3000, RunValueKind::Tray, 3000, 1, 1, 1, 1, false, false},
        // 20 searches 250 ms apart; the file is in use: 10 attempts, 9 pauses of 10 ms.
        StopRow{"no_window", "nowindow", 0, RunValueKind::Tray, 20 * 250 + 9 * 10, 20, 0, 0, 10, true, true},
        // 20 requests with a 5 s wait each and a last 5 s wait.
        StopRow{"ignores_the_request", "ignore", 0, RunValueKind::Tray, 21 * 5000 + 9 * 10, 20, 20, 21, 10,
                true, true},
        // The window goes with the request; the second pass finds none and
        // waits once more, in which the program ends after 7 s.
        StopRow{"window_gone_exits_in_last_wait", "delay", 7000, RunValueKind::Tray, 7000, 2, 1, 2, 1, false,
                false},
        // ... or does not end within that last wait: the loop ends all the same.
        StopRow{"window_gone_still_running", "delay", 60000, RunValueKind::Tray, 2 * 5000 + 9 * 10, 2, 1, 2,
                10, true, true},
        // A pause of one second, no deletion; the value's deletion fails quietly.
        StopRow{"no_run_value", nullptr, 0, RunValueKind::None, 1000, 0, 0, 0, 0, true, false},
        StopRow{"empty_run_value", nullptr, 0, RunValueKind::Empty, 0, 0, 0, 0, 0, true, false},
        StopRow{"file_already_gone", nullptr, 0, RunValueKind::FileGone, 0, 0, 0, 0, 1, false, false},
        // Only a file called mrvtray.exe is ever deleted.
        StopRow{"value_names_another_file", nullptr, 0, RunValueKind::OtherFile, 0, 0, 0, 0, 0, true, false},
        StopRow{"file_name_in_capitals", nullptr, 0, RunValueKind::TrayInCapitals, 0, 0, 0, 0, 1, false,
                false}),
    [](const ::testing::TestParamInfo<StopRow> &i) { return std::string(i.param.name); });

TEST_F(TrayTest, StopAsksThroughTheWindowAndClosesTheMutexBeforeTouchingTheFile) {
  RunTray("exit");
  SetRunValue(kTrayPath);
  StopTrayProgram();
  ASSERT_EQ(winsim::CallCount("CreateMutexA"), 1u);
  EXPECT_EQ(P().journal[IndexOf("CreateMutexA")].args, "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}")
      << "named, not initially owned";
  EXPECT_EQ(P().journal[IndexOf("FindWindowW")].args, "vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C} | *");
  EXPECT_EQ(
      P().journal[IndexOf("PostMessageW")].args.substr(P().journal[IndexOf("PostMessageW")].args.find(' ')),
      " 0x402 0x0 0x0");
  EXPECT_EQ(P().journal[IndexOf("WaitForSingleObject")].args, "mutex 5000");
  EXPECT_EQ(P().journal[IndexOf("RegOpenKeyExA")].args, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_LT(IndexOf("CloseHandle"), IndexOf("RegOpenKeyExA"));
  EXPECT_LT(IndexOf("CloseHandle"), IndexOf("DeleteFileW"));
  EXPECT_LT(IndexOf("DeleteFileW"), IndexOf("RegDeleteValueA"));
  EXPECT_EQ(Calls().back(), "RegCloseKey");
}

TEST_F(TrayTest, StopForAnInstallKeepsTheFileItIsAboutToStartButNoOther) {
  const struct {
    const char *name;
    std::string registered;
    std::u16string keep;
    bool fileStays;
  } rows[] = {
      {"same path", kTrayPath, winsim::ToUtf16(kTrayPath), true},
      {"same path in other case", kTrayPath, u"c:\\PROGRAM FILES\\morvalente\\MRVTRAY.EXE", true},
      {"an older location", "C:\\Old\\mrvtray.exe", winsim::ToUtf16(kTrayPath), false},
  };
  for (const auto &row : rows) {
    winsim::WriteHostFile(row.registered, "tray");
    RunTray("exit");
    SetRunValue(row.registered);
    StopTrayProgramKeeping(row.keep.c_str());
    EXPECT_FALSE(M().tray.running) << row.name;
    EXPECT_EQ(winsim::FileExists(row.registered), row.fileStays) << row.name;
    EXPECT_FALSE(RunValueThere()) << row.name;
  }
}

TEST_F(TrayTest, StopWithoutTheMutexLeavesTheFileButRemovesTheValue) {
  RunTray("exit");
  SetRunValue(kTrayPath);
  winsim::AddFault("CreateMutexA", ERROR_ACCESS_DENIED);
  StopTrayProgram();
  EXPECT_EQ(winsim::CallCount("FindWindowW"), 0u);
  EXPECT_EQ(winsim::CallCount("CloseHandle"), 0u);
  EXPECT_EQ(winsim::CallCount("RegQueryValueExW"), 0u);
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0u);
  EXPECT_EQ(P().waitedMs, 0u);
  EXPECT_TRUE(M().tray.running);
  EXPECT_TRUE(winsim::FileExists(kTrayPath));
  EXPECT_FALSE(RunValueThere());
}

TEST_F(TrayTest, StopWithTheRunKeyUnopenableLeavesFileAndValue) {
  SetRunValue(kTrayPath);
  winsim::AddFault("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  StopTrayProgram();
  EXPECT_EQ(winsim::CallCount("CloseHandle"), 1u) << "the mutex is closed all the same";
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0u);
  EXPECT_EQ(winsim::CallCount("RegDeleteValueA"), 0u);
  EXPECT_TRUE(winsim::FileExists(kTrayPath));
  EXPECT_EQ(RunValue(), std::string(kTrayPath) + std::string(1, '\0'));
}

TEST_F(TrayTest, StopPausesLongerAfterAccessDenied) {
  SetRunValue(kTrayPath);
  winsim::AddFault("DeleteFileW", ERROR_ACCESS_DENIED, 1, 1, true);
  StopTrayProgram();
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 10u);
  EXPECT_EQ(P().waitedMs, 9u * 100u) << "no pause after the last attempt";
  EXPECT_TRUE(winsim::FileExists(kTrayPath));
  EXPECT_FALSE(RunValueThere());
}

TEST_F(TrayTest, StopDeletesAfterATransientFailure) {
  SetRunValue(kTrayPath);
  winsim::AddFault("DeleteFileW", ERROR_SHARING_VIOLATION, 1, 2);
  StopTrayProgram();
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 3u);
  EXPECT_EQ(P().waitedMs, 20u);
  EXPECT_FALSE(winsim::FileExists(kTrayPath));
}

// Run values the program did not write: stored without a terminator, as long
// as the buffer, longer than the buffer, or not text at all.
struct OddValueRow {
  const char *name;
  std::u16string text;  // stored as given, no terminator added
  DWORD type;
  uint64_t waitedMs;
  size_t deleteAttempts;
};
void PrintTo(const OddValueRow &r, std::ostream *os) {
  *os << r.name;
}

class OddRunValueTest : public TrayTest, public ::testing::WithParamInterface<OddValueRow> {};

std::u16string Padded(size_t length) {
  std::u16string tail = u"\\mrvtray.exe";
  std::u16string path = u"C:\\Program Files\\Morvalente\\";
  // Backslashes repeat harmlessly in a Windows path.
  while (path.size() + tail.size() < length) path.insert(3, u"\\");
  return path + tail;
}

TEST_P(OddRunValueTest, DeletesOnlyWhatItCanReadWhole) {
  const OddValueRow &r = GetParam();
  std::vector<uint8_t> data(r.text.size() * 2);
  std::memcpy(data.data(), r.text.data(), data.size());
  winsim::SetRegRaw(kRunKey, "MorvalenteTray", r.type, data);
  StopTrayProgram();
  EXPECT_EQ(P().waitedMs, r.waitedMs) << r.name;
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), r.deleteAttempts) << r.name;
  EXPECT_EQ(winsim::FileExists(kTrayPath), r.deleteAttempts == 0) << r.name;
  EXPECT_FALSE(RunValueThere()) << r.name;
}

INSTANTIATE_TEST_SUITE_P(
    Values, OddRunValueTest,
    ::testing::Values(
        OddValueRow{"no_terminator", u"C:\\Program Files\\Morvalente\\mrvtray.exe", REG_SZ, 0, 1},
        OddValueRow{"expandable_string", u"C:\\Program Files\\Morvalente\\mrvtray.exe", REG_EXPAND_SZ, 0, 1},
        // The longest path a file call takes (MAX_PATH - 1 characters).
        OddValueRow{"259_characters_no_terminator", Padded(259), REG_SZ, 0, 1},
        OddValueRow{"fills_the_buffer_without_terminator", Padded(264), REG_SZ, 0, 0},
        OddValueRow{"longer_than_the_buffer", Padded(300), REG_SZ, 1000, 0}),
    [](const ::testing::TestParamInfo<OddValueRow> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// The tray program's path
// ---------------------------------------------------------------------------

struct PathRow {
  const char *name;
  const char16_t *moduleDir;
  const char *path;
};
void PrintTo(const PathRow &r, std::ostream *os) {
  *os << r.name;
}

class TrayPathTest : public TrayTest, public ::testing::WithParamInterface<PathRow> {};

TEST_P(TrayPathTest, OneDirectoryAboveTheInstaller) {
  const PathRow &r = GetParam();
  CountedString moduleDir = nullptr;
  ASSERT_TRUE(AssignCountedString(&moduleDir, r.moduleDir));
  CountedString path = nullptr;
  ASSERT_TRUE(TrayProgramPath(moduleDir, &path)) << r.name;
  EXPECT_EQ(mrvtest::U8(CountedStringText(path)), r.path) << r.name;
  FreeCountedString(&path);
  FreeCountedString(&moduleDir);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TrayPathTest,
    ::testing::Values(PathRow{"trailing_backslash", u"C:\\A\\B\\", "C:\\A\\mrvtray.exe"},
                      PathRow{"no_trailing_separator", u"C:\\A\\B", "C:\\A\\mrvtray.exe"},
                      PathRow{"installer_default", u"C:\\Program Files\\Morvalente\\Drivers\\", kTrayPath},
                      PathRow{"forward_slashes", u"C:/A/B/", "C:/A\\mrvtray.exe"},
                      PathRow{"backslash_wins_over_slash", u"C:\\A/B\\C\\", "C:\\A/B\\mrvtray.exe"},
                      PathRow{"drive_root", u"C:\\", "mrvtray.exe"},
                      PathRow{"one_directory_below_the_root", u"C:\\A\\", "C:\\mrvtray.exe"},
                      PathRow{"separator_first", u"\\A\\", "mrvtray.exe"},
                      PathRow{"unknown", u"", "mrvtray.exe"},
                      PathRow{"network_share", u"\\\\server\\share\\dir\\",
                              "\\\\server\\share\\mrvtray.exe"}),
    [](const ::testing::TestParamInfo<PathRow> &i) { return std::string(i.param.name); });

TEST_F(TrayTest, PathFailsWholeWhenMemoryIsShort) {
  CountedString moduleDir = nullptr;
  ASSERT_TRUE(AssignCountedString(&moduleDir, W("C:\\A\\B\\")));
  // The copy of the directory, then its parent directory, need a block each;
  // a failure of the second must not pass for "no parent directory".
  const struct {
    uint32_t failingAllocation;
    bool ok;
  } rows[] = {{1, false}, {2, false}, {3, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.failingAllocation);
    winsim::ClearFaults();
    winsim::AddFault("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY,
                     P().callCounts["HeapAlloc"] + row.failingAllocation);
    CountedString path = nullptr;
    EXPECT_EQ(TrayProgramPath(moduleDir, &path), row.ok ? TRUE : FALSE);
    EXPECT_EQ(mrvtest::U8(CountedStringText(path)), row.ok ? "C:\\A\\mrvtray.exe" : "");
    FreeCountedString(&path);
  }
  winsim::ClearFaults();
  FreeCountedString(&moduleDir);
}

// ---------------------------------------------------------------------------
// StartTrayProgram
// ---------------------------------------------------------------------------

class StartTrayTest : public TrayTest {
 protected:
  void TearDown() override {
    FreeCountedString(&ctx_.ModuleDir);
    TrayTest::TearDown();
  }
  void Start(const std::u16string &moduleDir, BYTE launchTray = 1) {
    ctx_.LaunchTray = launchTray;
    ASSERT_TRUE(AssignCountedString(&ctx_.ModuleDir, moduleDir.c_str()));
    StartTrayProgram(&ctx_);
  }
  static std::string CommandLine() {
    for (auto &e : P().journal)
      if (e.call == "CreateProcessW") return e.args.substr(0, e.args.find(" | "));
    return "(not started)";
  }
  InstallContext ctx_ = {};
};

TEST_F(StartTrayTest, RegistersAndStartsTheProgramAboveTheInstaller) {
  Start(u"C:\\Program Files\\Morvalente\\Drivers\\");
  EXPECT_EQ(RunValue(), std::string(kTrayPath) + std::string(1, '\0')) << "the terminator is stored";
  EXPECT_EQ(winsim::GetRegValue(kRunKey, "MorvalenteTray")->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(P().journal[IndexOf("RegOpenKeyExA")].args, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
  ASSERT_EQ(winsim::CallCount("CreateProcessW"), 1u);
  EXPECT_EQ(
      P().journal[IndexOf("CreateProcessW")].args,
      std::string("\"") + kTrayPath + "\" | app=- inherit=0 flags=0x20 cb=104 startf=0x1 show=5 env=- dir=-");
  EXPECT_TRUE(M().tray.running);
  EXPECT_EQ(M().tray.path, kTrayPath);
  EXPECT_EQ(winsim::CallCount("WaitForSingleObject"), 0u) << "it does not wait for the program";
  EXPECT_EQ(winsim::CallCount("CloseHandle"), 2u);
}

TEST_F(StartTrayTest, ModuleDirOfTwoLevels) {
  winsim::WriteHostFile("C:\\A\\mrvtray.exe", "MZ");
  Start(u"C:\\A\\B\\");
  EXPECT_EQ(RunValue(), std::string("C:\\A\\mrvtray.exe") + std::string(1, '\0'));
  EXPECT_EQ(CommandLine(), "\"C:\\A\\mrvtray.exe\"");
  EXPECT_EQ(M().tray.path, "C:\\A\\mrvtray.exe");
}

struct NoStartRow {
  const char *name;
  BYTE launchTray;
  DWORD osMajor;
  DWORD platform;
  bool versionFault;
};
void PrintTo(const NoStartRow &r, std::ostream *os) {
  *os << r.name;
}

class NoStartTest : public StartTrayTest, public ::testing::WithParamInterface<NoStartRow> {};

TEST_P(NoStartTest, NothingRegisteredOrStarted) {
  const NoStartRow &r = GetParam();
  M().osMajor = r.osMajor;
  M().osPlatform = r.platform;
  if (r.versionFault) winsim::AddFault("GetVersionExA", ERROR_INVALID_PARAMETER);
  Start(u"C:\\Program Files\\Morvalente\\Drivers\\", r.launchTray);
  EXPECT_FALSE(RunValueThere()) << r.name;
  EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), 0u) << r.name;
  EXPECT_EQ(winsim::CallCount("CreateProcessW"), 0u) << r.name;
  EXPECT_FALSE(M().tray.running) << r.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoStartTest,
    ::testing::Values(NoStartRow{"in_notray", 0, 10, VER_PLATFORM_WIN32_NT, false},
                      NoStartRow{"major_version_5", 1, 5, VER_PLATFORM_WIN32_NT, false},
                      NoStartRow{"not_nt_family", 1, 6, VER_PLATFORM_WIN32_WINDOWS, false},
                      NoStartRow{"version_unreadable", 1, 10, VER_PLATFORM_WIN32_NT, true}),
    [](const ::testing::TestParamInfo<NoStartRow> &i) { return std::string(i.param.name); });

TEST_F(StartTrayTest, MajorVersionSixIsEnough) {
  M().osMajor = 6;
  M().osMinor = 0;
  Start(u"C:\\Program Files\\Morvalente\\Drivers\\");
  EXPECT_TRUE(M().tray.running);
  const winsim::JournalEntry &e = P().journal[IndexOf("GetVersionExA")];
  EXPECT_EQ(e.call, "GetVersionExA");
}

TEST_F(StartTrayTest, PathOverTheCommandLineLimitIsCutOnlyThere) {
  std::u16string dir = u"C:\\";
  while (dir.size() < 270) dir += u"Long directory name\\";
  dir += u"Drivers\\";
  Start(dir);
  std::string expected = winsim::ToUtf8(dir.substr(0, dir.size() - 8)) + "mrvtray.exe";
  ASSERT_GT(expected.size(), 259u);
  EXPECT_EQ(RunValue(), expected + std::string(1, '\0')) << "the Run value holds the whole path";
  EXPECT_EQ(CommandLine(), "\"" + expected.substr(0, 259) + "\"");
  EXPECT_FALSE(M().tray.running);
}

TEST_F(StartTrayTest, PathOfExactly259CharactersIsWhole) {
  std::u16string dir = u"C:\\";
  dir += std::u16string(259 - 3 - 12, u'd') + u"\\Drivers\\";
  Start(dir);
  std::string expected = "C:\\" + std::string(259 - 3 - 12, 'd') + "\\mrvtray.exe";
  ASSERT_EQ(expected.size(), 259u);
  EXPECT_EQ(CommandLine(), "\"" + expected + "\"");
}

TEST_F(StartTrayTest, UnopenableRunKeyStillStarts) {
  winsim::AddFault("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  Start(u"C:\\Program Files\\Morvalente\\Drivers\\");
  EXPECT_FALSE(RunValueThere());
  EXPECT_TRUE(M().tray.running);
}

TEST_F(StartTrayTest, FailedStartKeepsTheRegistration) {
  winsim::RemoveHostFile(kTrayPath);
  Start(u"C:\\Program Files\\Morvalente\\Drivers\\");
  EXPECT_EQ(winsim::CallCount("CreateProcessW"), 1u);
  EXPECT_EQ(winsim::CallCount("CloseHandle"), 0u);
  EXPECT_EQ(RunValue(), std::string(kTrayPath) + std::string(1, '\0'));
  EXPECT_FALSE(M().tray.running);
}

TEST_F(StartTrayTest, ShortMemoryStartsNothing) {
  winsim::AddFault("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, 1, true);
  ctx_.LaunchTray = 1;
  StartTrayProgram(&ctx_);  // ModuleDir stays empty: the path needs one block
  EXPECT_FALSE(RunValueThere());
  EXPECT_EQ(winsim::CallCount("CreateProcessW"), 0u);
}

TEST_F(StartTrayTest, StartedProgramIsStoppedAgain) {
  Start(u"C:\\Program Files\\Morvalente\\Drivers\\");
  ASSERT_TRUE(M().tray.running);
  FreeCountedString(&ctx_.ModuleDir);  // the blocks of this process go with it
  Begin();
  StopTrayProgram();
  EXPECT_FALSE(M().tray.running);
  EXPECT_FALSE(winsim::FileExists(kTrayPath));
  EXPECT_FALSE(RunValueThere());
  EXPECT_EQ(P().waitedMs, 0u);
}

// ---------------------------------------------------------------------------
// The "removetray" command
// ---------------------------------------------------------------------------

TEST_F(TrayTest, RemoveTrayCommandStopsAndUnregisters) {
  RunTray("delay", 2500);
  SetRunValue(kTrayPath);
  winsim::BeginProcess(u"install.exe removetray");
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), static_cast<DWORD>(ExitNoCommand));
  EXPECT_FALSE(M().tray.running);
  EXPECT_FALSE(winsim::FileExists(kTrayPath));
  EXPECT_FALSE(RunValueThere());
  EXPECT_EQ(P().waitedMs, 2500u);
  EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), 0u) << "no run context";
}

}  // namespace
