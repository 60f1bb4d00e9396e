// Files of the simulated machine: opening with sharing against files held by
// other processes on the virtual clock, reading and writing (a full disk
// gives a short write), deletion of files in use, attributes, and deletions
// and renames at restart through "PendingFileRenameOperations".
#include <functional>

#include "support/fixture.h"
#include "support/scenario.h"

namespace {

using mrvtest::PendingStrings;
using mrvtest::WideBytes;

const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kDir[] = "C:\\Data";
const char kFile[] = "C:\\Data\\file.bin";
const std::u16string kFileW = u"C:\\Data\\file.bin";

// Another process holds the file open with this sharing, until the virtual
// clock has moved on by releaseAfterMs (for good when negative).
void Hold(const std::string &path, DWORD share, int64_t releaseAfterMs = -1) {
  int64_t at = releaseAfterMs < 0 ? -1 : static_cast<int64_t>(winsim::M().clockMs) + releaseAfterMs;
  winsim::M().holds.push_back({path, share, at, "other process"});
}

// Asks the service manager to stop the spooler.
void StopSpooler() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, u"spooler", SERVICE_STOP);
  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

class FilesTest : public mrvtest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::WriteHostFile(kFile, "contents");
  }
};

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------

TEST_F(FilesTest, CreateFileHonoursSharingAndTheFileSystem) {
  struct Case {
    const char *name;
    std::function<void(FilesTest &)> setup;
    std::u16string path;
    DWORD access, share, disposition;
    DWORD error;  // 0: opens
  };
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE;
  const Case cases[] = {
      {"plain read", [](FilesTest &) {}, kFileW, R, FILE_SHARE_READ, OPEN_EXISTING, 0},
      {"path in other letter case", [](FilesTest &) {}, u"c:\\DATA\\FILE.BIN", R, FILE_SHARE_READ,
       OPEN_EXISTING, 0},
      {"forward slashes", [](FilesTest &) {}, u"C:/Data/file.bin", R, 0, OPEN_EXISTING, 0},
      {"held without sharing: read", [](FilesTest &) { Hold(kFile, 0); }, kFileW, R, FILE_SHARE_READ,
       OPEN_EXISTING, ERROR_SHARING_VIOLATION},
      {"held without sharing: replace", [](FilesTest &) { Hold(kFile, 0); }, kFileW, W, FILE_SHARE_READ,
       CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
      {"held sharing read: read", [](FilesTest &) { Hold(kFile, FILE_SHARE_READ); }, kFileW, R,
       FILE_SHARE_READ, OPEN_EXISTING, 0},
      {"held sharing read: read without sharing", [](FilesTest &) { Hold(kFile, FILE_SHARE_READ); }, kFileW,
       R, 0, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
      {"held sharing read: write", [](FilesTest &) { Hold(kFile, FILE_SHARE_READ); }, kFileW, W,
       FILE_SHARE_READ, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
      {"held sharing read and write: write",
       [](FilesTest &) { Hold(kFile, FILE_SHARE_READ | FILE_SHARE_WRITE); }, kFileW, W, FILE_SHARE_READ,
       CREATE_ALWAYS, 0},
      {"held elsewhere", [](FilesTest &) { Hold("C:\\Data\\other.bin", 0); }, kFileW, W, 0, CREATE_ALWAYS, 0},
      {"hold already released", [](FilesTest &) { Hold(kFile, 0, 0); }, kFileW, W, 0, CREATE_ALWAYS, 0},
      {"missing file", [](FilesTest &) {}, u"C:\\Data\\none.bin", R, FILE_SHARE_READ, OPEN_EXISTING,
       ERROR_FILE_NOT_FOUND},
      {"missing directory", [](FilesTest &) {}, u"C:\\None\\none.bin", R, FILE_SHARE_READ, OPEN_EXISTING,
       ERROR_PATH_NOT_FOUND},
      {"create in a missing directory", [](FilesTest &) {}, u"C:\\None\\none.bin", W, 0, CREATE_ALWAYS,
       ERROR_PATH_NOT_FOUND},
      {"truncate a missing file", [](FilesTest &) {}, u"C:\\Data\\none.bin", W, 0, TRUNCATE_EXISTING,
       ERROR_FILE_NOT_FOUND},
      {"create new over a file", [](FilesTest &) {}, kFileW, W, 0, CREATE_NEW, ERROR_FILE_EXISTS},
      {"a directory", [](FilesTest &) {}, u"C:\\Data", R, FILE_SHARE_READ, OPEN_EXISTING,
       ERROR_ACCESS_DENIED},
      {"a bare file name", [](FilesTest &) {}, u"file.bin", R, FILE_SHARE_READ, OPEN_EXISTING,
       ERROR_FILE_NOT_FOUND},
      {"an empty path", [](FilesTest &) {}, u"", R, FILE_SHARE_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"another drive", [](FilesTest &) {}, u"D:\\file.bin", R, FILE_SHARE_READ, OPEN_EXISTING,
       ERROR_PATH_NOT_FOUND},
      {"loaded monitor DLL: write",
       [](FilesTest &) {
         winsim::WriteHostFile("C:\\Windows\\System32\\gwrmon64.dll", "x");
         mrvtest::PutMonitor();
       },
       u"C:\\Windows\\System32\\gwrmon64.dll", W, FILE_SHARE_READ, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
      {"loaded monitor DLL: read",
       [](FilesTest &) {
         winsim::WriteHostFile("C:\\Windows\\System32\\gwrmon64.dll", "x");
         mrvtest::PutMonitor();
       },
       u"C:\\Windows\\System32\\gwrmon64.dll", R, FILE_SHARE_READ, OPEN_EXISTING, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::M().holds.clear();
    winsim::M().spooler.monitors.clear();
    winsim::WriteHostFile(kFile, "contents");
    c.setup(*this);
    SetLastError(0);
    HANDLE h = CreateFileW(c.path.c_str(), c.access, c.share, nullptr, c.disposition, 0, nullptr);
    if (c.error == 0) {
      ASSERT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
      EXPECT_TRUE(CloseHandle(h));
    } else {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
    // Only an open of the file for writing that succeeded replaced its
    // contents (every such row creates it afresh, empty).
    const bool replaced = c.error == 0 && c.access == W && c.path == kFileW;
    std::string bytes;
    EXPECT_TRUE(winsim::ReadHostFile(kFile, &bytes));
    EXPECT_EQ(bytes, replaced ? "" : "contents");
  }
}

TEST_F(FilesTest, OwnOpenFilesConflictLikeOtherProcesses) {
  HANDLE reader =
      CreateFileW(kFileW.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(kFileW.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE second =
      CreateFileW(kFileW.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileW(kFileW.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_FALSE(CloseHandle(reader));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(DeleteFileW(kFileW.c_str()));
}

TEST_F(FilesTest, HoldIsReleasedOnTheVirtualClock) {
  Hold(kFile, 0, 1000);
  uint64_t start = winsim::M().clockMs;
  int attempts = 0;
  HANDLE h = INVALID_HANDLE_VALUE;
  while (attempts < 100) {
    ++attempts;
    h = CreateFileW(kFileW.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    Sleep(50);
  }
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(attempts, 21);  // free at exactly 1000 ms: the 21st attempt, after 20 sleeps
  EXPECT_EQ(winsim::M().clockMs - start, 1000u);
  EXPECT_EQ(winsim::P().waitedMs, 1000u);
  EXPECT_TRUE(winsim::M().holds.empty());
  CloseHandle(h);
}

TEST_F(FilesTest, ReplacingReportsAnExistingFile) {
  HANDLE h = CreateFileW(kFileW.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  std::string bytes = "x";
  ASSERT_TRUE(winsim::ReadHostFile(kFile, &bytes));
  EXPECT_EQ(bytes, "");  // emptied
  h = CreateFileW(u"C:\\Data\\new.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);
}

// ---------------------------------------------------------------------------
// Reading and writing
// ---------------------------------------------------------------------------

TEST_F(FilesTest, ReadsComeInPiecesUntilTheEnd) {
  std::string data(20000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  winsim::WriteHostFile(kFile, data);
  HANDLE h = CreateFileW(kFileW.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string got;
  std::vector<DWORD> counts;
  char buf[8192];
  DWORD n = 0;
  do {
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    counts.push_back(n);
    got.append(buf, n);
  } while (n == sizeof buf);
  EXPECT_EQ(counts, (std::vector<DWORD>{8192, 8192, 3616}));
  EXPECT_EQ(got, data);
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);  // at the end: success with nothing read
  CloseHandle(h);
}

TEST_F(FilesTest, ReadAndWriteNeedTheirAccess) {
  HANDLE r = CreateFileW(kFileW.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD n = 5;
  char buf[4];
  EXPECT_FALSE(WriteFile(r, "ab", 2, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(n, 0u);
  CloseHandle(r);
  HANDLE w = CreateFileW(kFileW.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  n = 5;
  EXPECT_FALSE(ReadFile(w, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(n, 0u);
  CloseHandle(w);
  EXPECT_FALSE(ReadFile(w, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, FullDiskGivesAShortWrite) {
  struct Case {
    const char *name;
    int64_t freeBytes;
    std::vector<DWORD> writes;
    std::vector<DWORD> written;
    std::vector<bool> ok;
    size_t sizeAfter;
  };
  const Case cases[] = {
      {"unlimited", -1, {8192, 8192}, {8192, 8192}, {true, true}, 16384},
      {"room for exactly two", 16384, {8192, 8192, 1}, {8192, 8192, 0}, {true, true, false}, 16384},
      {"room for one and a half", 12288, {8192, 8192, 8192}, {8192, 4096, 0}, {true, false, false}, 12288},
      {"no room", 0, {100, 0}, {0, 0}, {false, true}, 0},
  };
  std::string chunk(8192, 'z');
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::M().diskFreeBytes = c.freeBytes;
    HANDLE h =
        CreateFileW(kFileW.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (size_t i = 0; i < c.writes.size(); ++i) {
      DWORD n = 12345;
      SetLastError(0);
      BOOL ok = WriteFile(h, chunk.data(), c.writes[i], &n, nullptr);
      EXPECT_EQ(ok != 0, static_cast<bool>(c.ok[i])) << "write " << i;
      EXPECT_EQ(n, c.written[i]) << "write " << i;
      if (!ok) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
      }
    }
    CloseHandle(h);
    std::string bytes;
    ASSERT_TRUE(winsim::ReadHostFile(kFile, &bytes));
    EXPECT_EQ(bytes.size(), c.sizeAfter);
    if (c.freeBytes >= 0) {
      EXPECT_EQ(winsim::M().diskFreeBytes, c.freeBytes - static_cast<int64_t>(c.sizeAfter));
    }
  }
}

// ---------------------------------------------------------------------------
// Deleting and attributes
// ---------------------------------------------------------------------------

TEST_F(FilesTest, DeleteFileRefusesFilesInUse) {
  const std::string dll = "C:\\Windows\\System32\\gwrmon64.dll";
  auto loadedMonitor = [&](FilesTest &) {
    winsim::WriteHostFile(dll, "x");
    mrvtest::PutMonitor();
  };
  struct Case {
    const char *name;
    std::function<void(FilesTest &)> setup;
    std::string path;
    DWORD error;  // 0: deleted
  };
  const Case cases[] = {
      {"plain file", [](FilesTest &) {}, kFile, 0},
      {"other letter case", [](FilesTest &) {}, "C:\\DATA\\File.Bin", 0},
      {"missing file", [](FilesTest &) {}, "C:\\Data\\none.bin", ERROR_FILE_NOT_FOUND},
      {"missing directory", [](FilesTest &) {}, "C:\\None\\file.bin", ERROR_PATH_NOT_FOUND},
      {"a directory", [](FilesTest &) {}, kDir, ERROR_ACCESS_DENIED},
      {"held without sharing", [](FilesTest &) { Hold(kFile, 0); }, kFile, ERROR_SHARING_VIOLATION},
      {"held sharing read and write", [](FilesTest &) { Hold(kFile, FILE_SHARE_READ | FILE_SHARE_WRITE); },
       kFile, ERROR_SHARING_VIOLATION},
      {"held sharing delete", [](FilesTest &) { Hold(kFile, FILE_SHARE_READ | FILE_SHARE_DELETE); }, kFile,
       0},
      {"held until now", [](FilesTest &) { Hold(kFile, 0, 0); }, kFile, 0},
      {"monitor DLL loaded by the running spooler", loadedMonitor, dll, ERROR_ACCESS_DENIED},
      {"monitor DLL of a stopped spooler",
       [&](FilesTest &t) {
         loadedMonitor(t);
         StopSpooler();
       },
       dll, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::M().holds.clear();
    winsim::M().spooler.monitors.clear();
    winsim::WriteHostFile(kFile, "contents");
    c.setup(*this);
    std::u16string path = winsim::ToUtf16(c.path);
    SetLastError(0);
    BOOL ok = DeleteFileW(path.c_str());
    if (c.error == 0) {
      EXPECT_TRUE(ok) << "error " << GetLastError();
      EXPECT_FALSE(winsim::FileExists(c.path));
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
}

TEST_F(FilesTest, LoadedMonitorIsFreeOnlyOnceTheStopCompletes) {
  const std::u16string dll = u"C:\\Windows\\System32\\gwrmon64.dll";
  winsim::WriteHostFile("C:\\Windows\\System32\\gwrmon64.dll", "x");
  mrvtest::PutMonitor();
  winsim::M().services[0].stopDelayMs = 500;
  StopSpooler();
  EXPECT_EQ(winsim::M().services[0].state, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_FALSE(DeleteFileW(dll.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  Sleep(499);
  EXPECT_FALSE(DeleteFileW(dll.c_str()));
  Sleep(1);
  EXPECT_EQ(winsim::M().services[0].state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_FALSE(winsim::M().spooler.monitors[0].loaded);
  EXPECT_TRUE(DeleteFileW(dll.c_str()));
}

TEST_F(FilesTest, AttributesTellFilesFromDirectories) {
  struct Case {
    const char16_t *path;
    DWORD attributes;
    DWORD error;
  };
  const Case cases[] = {
      {u"C:\\Data\\file.bin", FILE_ATTRIBUTE_ARCHIVE, 0},
      {u"c:\\data\\FILE.BIN", FILE_ATTRIBUTE_ARCHIVE, 0},
      {u"C:\\Data", FILE_ATTRIBUTE_DIRECTORY, 0},
      {u"C:\\Data\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {u"C:\\Data\\none.bin", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {u"C:\\None\\none.bin", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {u"\\??\\C:\\Data\\file.bin", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {u"file.bin", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {u"", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(mrvtest::U8(c.path));
    SetLastError(0);
    DWORD a = GetFileAttributesW(c.path);
    EXPECT_EQ(a, c.attributes);
    if (c.error != 0) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
}

// ---------------------------------------------------------------------------
// Operations at restart
// ---------------------------------------------------------------------------

TEST_F(FilesTest, DeletionAtRestartIsRecordedAndCarriedOutByTheRestart) {
  winsim::WriteHostFile("C:\\Data\\second.bin", "2");
  ASSERT_TRUE(MoveFileExW(kFileW.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExW(u"C:\\Data\\second.bin", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  const winsim::RegValue *v = winsim::GetRegValue(kSessionManager, "PendingFileRenameOperations");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(PendingStrings(),
            (std::vector<std::string>{"\\??\\C:\\Data\\file.bin", "", "\\??\\C:\\Data\\second.bin", "", ""}));
  EXPECT_EQ(v->data.size() % 2, 0u);
  // Nothing happens before the restart.
  EXPECT_TRUE(winsim::FileExists(kFile));
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists(kFile));
  EXPECT_FALSE(winsim::FileExists("C:\\Data\\second.bin"));
  EXPECT_EQ(winsim::GetRegValue(kSessionManager, "PendingFileRenameOperations"), nullptr);
}

TEST_F(FilesTest, RenameAtRestartKeepsBothNames) {
  ASSERT_TRUE(MoveFileExW(kFileW.c_str(), u"C:\\Data\\moved.bin", MOVEFILE_DELAY_UNTIL_REBOOT));
  winsim::WriteHostFile("C:\\Data\\a.bin", "a");
  ASSERT_TRUE(MoveFileExW(u"C:\\Data\\a.bin", u"C:\\Data\\b.bin",
                          MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(PendingStrings(),
            (std::vector<std::string>{"\\??\\C:\\Data\\file.bin", "\\??\\C:\\Data\\moved.bin",
                                      "\\??\\C:\\Data\\a.bin", "!\\??\\C:\\Data\\b.bin", ""}));
  winsim::Reboot();
  std::string bytes;
  EXPECT_TRUE(winsim::ReadHostFile("C:\\Data\\moved.bin", &bytes));
  EXPECT_EQ(bytes, "contents");
  EXPECT_TRUE(winsim::ReadHostFile("C:\\Data\\b.bin", &bytes));
  EXPECT_EQ(bytes, "a");
  EXPECT_FALSE(winsim::FileExists(kFile));
}

// An existing value that is not well formed: the new pair starts after a
// whole last string, and the list ends once.
TEST_F(FilesTest, DeletionAtRestartAppendsToAnyExistingValue) {
  struct Case {
    const char *name;
    std::vector<uint8_t> before;
    std::vector<std::string> after;
  };
  const std::string me = "\\??\\C:\\Data\\file.bin";
  std::vector<uint8_t> odd = WideBytes(std::u16string(u"\\??\\C:\\x\0\0\0", 11));
  odd.push_back(0x41);
  const Case cases[] = {
      {"empty data", {}, {me, "", ""}},
      {"only the list's end", WideBytes(std::u16string(u"\0", 1)), {me, "", ""}},
      {"one pair", WideBytes(std::u16string(u"\\??\\C:\\x\0\0\0", 11)), {"\\??\\C:\\x", "", me, "", ""}},
      {"rename without the list's end",
       WideBytes(std::u16string(u"\\??\\C:\\x\0\\??\\C:\\y\0", 18)),
       {"\\??\\C:\\x", "\\??\\C:\\y", me, "", ""}},
      {"last string without its zero", WideBytes(u"\\??\\C:\\x"), {"\\??\\C:\\x", me, "", ""}},
      {"odd byte count", odd, {"\\??\\C:\\x", "", me, "", ""}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::SetRegRaw(kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ, c.before);
    ASSERT_TRUE(MoveFileExW(kFileW.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(PendingStrings(), c.after);
  }
}

TEST_F(FilesTest, RestartEndsHoldsAndStartsTheSpooler) {
  Hold(kFile, 0);
  StopSpooler();
  winsim::Reboot();
  EXPECT_TRUE(winsim::M().holds.empty());
  EXPECT_EQ(winsim::M().services[0].state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(DeleteFileW(kFileW.c_str()));
}

}  // namespace
