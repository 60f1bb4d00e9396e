// Copying component files: the exact log, the result, what the destination
// holds afterwards and the virtual time spent waiting for a busy destination.
// A copy that did not complete (a short write, a failed read) is a failure.
#include <functional>
#include <string>

#include "app/context.h"
#include "common/counted_string.h"
#include "support/fixture.h"
#include "sys/file_copy.h"

namespace {

using mrvtest::U8;

const char kSource[] = "C:\\Program Files\\Morvalente\\Drivers\\f.bin";
const char kDest[] = "C:\\Dest\\f.bin";

std::string Bytes(size_t n) {
  std::string b(n, '\0');
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return b;
}

// Another process holds the file open without sharing (the file is there).
void Hold(const std::string &path, int64_t releaseAfterMs) {
  if (!winsim::FileExists(path)) winsim::WriteHostFile(path, "old");
  int64_t at = releaseAfterMs < 0 ? -1 : static_cast<int64_t>(winsim::M().clockMs) + releaseAfterMs;
  winsim::M().holds.push_back({path, 0, at, "viewer"});
}

struct CopyRow {
  const char *name;
  int64_t sourceBytes;  // -1: no source file
  std::function<void()> setup;
  std::u16string moduleDir;
  std::u16string destDir;
  bool report;
  HRESULT result;
  std::string log;
  std::string outPath;  // what the out-parameter holds afterwards
  int64_t destBytes;    // size of the destination afterwards; -1: no file
  uint64_t waitedMs;
  LONG errors;
  size_t reads;  // ReadFile calls
};

class FileCopyTest : public mrvtest::MachineTest {};

TEST_F(FileCopyTest, CopyOutcomes) {
  const std::string opened = ">CopyFile f.bin to C:\\Dest [0])\r\n";
  const std::string openedReport = ">CopyFile f.bin to C:\\Dest [1])\r\n";
  const std::string ok = "  Copy Succeeded :)\r\n";
  const std::string failed = "  Copy Failed :(\r\n";
  const std::u16string module = u"C:\\Program Files\\Morvalente\\Drivers\\";
  const CopyRow rows[] = {
      {"0 bytes", 0, [] {}, module, u"C:\\Dest", false, S_OK, opened + ok, kDest, 0, 0, 0, 1},
      {"3 bytes", 3, [] {}, module, u"C:\\Dest", false, S_OK, opened + ok, kDest, 3, 0, 0, 1},
      {"exactly 8192 bytes", 8192, [] {}, module, u"C:\\Dest", false, S_OK, opened + ok, kDest, 8192, 0, 0,
       2},
      {"exactly 16384 bytes", 16384, [] {}, module, u"C:\\Dest", true, S_OK, openedReport + ok, kDest, 16384,
       0, 0, 3},
      {"20000 bytes", 20000, [] {}, module, u"C:\\Dest", true, S_OK, openedReport + ok, kDest, 20000, 0, 0,
       3},
      {"replaces a longer destination", 100, [] { winsim::WriteHostFile(kDest, Bytes(50000)); }, module,
       u"C:\\Dest", false, S_OK, opened + ok, kDest, 100, 0, 0, 1},
      {"destination directory ends in a backslash", 10, [] {}, module, u"C:\\Dest\\", false, S_OK,
       ">CopyFile f.bin to C:\\Dest\\ [0])\r\n" + ok, kDest, 10, 0, 0, 1},
      {"module directory without its backslash", 10, [] {}, u"C:\\Program Files\\Morvalente\\Drivers",
       u"C:\\Dest", false, S_OK, opened + ok, kDest, 10, 0, 0, 1},
      {"missing source, not reported", -1, [] {}, module, u"C:\\Dest", false, E_FAIL, opened + failed, kDest,
       -1, 0, 0, 0},
      {"missing source, reported", -1, [] {}, module, u"C:\\Dest", true, E_FAIL,
       openedReport +
           "  Error(10): Cant't open source file: f.bin - (No file of that name could be found.)\r\n" +
           failed,
       kDest, -1, 0, 1, 0},
      {"empty module directory", 10, [] {}, u"", u"C:\\Dest", true, E_FAIL,
       openedReport +
           "  Error(10): Cant't open source file: f.bin - (No file of that name could be found.)\r\n" +
           failed,
       kDest, -1, 0, 1, 0},
      {"destination held, freed after 1 s", 20000, [] { Hold(kDest, 1000); }, module, u"C:\\Dest", true, S_OK,
       openedReport + ok, kDest, 20000, 1000, 0, 3},
      {"destination held for good, not reported", 20000, [] { Hold(kDest, -1); }, module, u"C:\\Dest", false,
       E_FAIL, opened + failed, kDest, 3, 5000, 0, 0},
      {"destination held for good, reported", 20000, [] { Hold(kDest, -1); }, module, u"C:\\Dest", true,
       E_FAIL,
       openedReport +
           "  Error(9): Cant't open destination file: C:\\Dest\\f.bin - (Another process has the file open "
           "and "
           "does not share it.)\r\n" +
           failed,
       kDest, 3, 5000, 1, 0},
      {"destination directory missing", 10, [] {}, module, u"C:\\Nowhere", true, E_FAIL,
       ">CopyFile f.bin to C:\\Nowhere [1])\r\n"
       "  Error(9): Cant't open destination file: C:\\Nowhere\\f.bin - (The path leads to a folder that is "
       "not "
       "there.)\r\n" +
           failed,
       "C:\\Nowhere\\f.bin", -1, 5000, 1, 0},
      {"full disk, reported", 20000, [] { winsim::M().diskFreeBytes = 10000; }, module, u"C:\\Dest", true,
       E_FAIL,
       openedReport + "  Error(8): CopyFile(..,C:\\Dest\\f.bin) - (The disk has no room left.)\r\n" + failed,
       kDest, 10000, 0, 1, 2},
      {"full disk, not reported", 20000, [] { winsim::M().diskFreeBytes = 10000; }, module, u"C:\\Dest",
       false, E_FAIL, opened + failed, kDest, 10000, 0, 0, 2},
      {"disk full from the start", 10, [] { winsim::M().diskFreeBytes = 0; }, module, u"C:\\Dest", true,
       E_FAIL,
       openedReport + "  Error(8): CopyFile(..,C:\\Dest\\f.bin) - (The disk has no room left.)\r\n" + failed,
       kDest, 0, 0, 1, 1},
      {"second read fails, reported", 20000, [] { winsim::AddFault("ReadFile", ERROR_ACCESS_DENIED, 2); },
       module, u"C:\\Dest", true, E_FAIL,
       openedReport + "  Error(8): CopyFile(..,C:\\Dest\\f.bin) - (Access to the object was refused.)\r\n" +
           failed,
       kDest, 8192, 0, 1, 2},
      {"first read fails, not reported", 20000, [] { winsim::AddFault("ReadFile", ERROR_ACCESS_DENIED); },
       module, u"C:\\Dest", false, E_FAIL, opened + failed, kDest, 0, 0, 0, 1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    Begin();
    winsim::WriteHostFile("C:\\Dest\\keep.txt", "");
    if (row.sourceBytes >= 0) winsim::WriteHostFile(kSource, Bytes(static_cast<size_t>(row.sourceBytes)));
    row.setup();
    InstallContext ctx{};
    AssignCountedString(&ctx.ModuleDir, row.moduleDir.c_str());
    WCHAR out[MAX_PATH];
    out[0] = u'?';
    out[1] = 0;
    HRESULT result = CopyFile(&ctx, row.destDir.c_str(), u"f.bin", out, row.report);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(U8(CountedStringText(ctx.Log)), row.log);
    EXPECT_EQ(ctx.ErrorCount, row.errors);
    EXPECT_EQ(ctx.IndentLevel, 0);
    EXPECT_EQ(U8(out), row.outPath);
    std::string dest;
    bool there = winsim::ReadHostFile(row.outPath, &dest);
    EXPECT_EQ(there ? static_cast<int64_t>(dest.size()) : -1, row.destBytes);
    if (there && row.result == S_OK) {
      EXPECT_EQ(dest, Bytes(static_cast<size_t>(row.sourceBytes)));
    }
    EXPECT_EQ(winsim::P().waitedMs, row.waitedMs);
    EXPECT_EQ(winsim::CallCount("ReadFile"), row.reads);
    FreeContext(&ctx);
    EXPECT_TRUE(winsim::Leaks().empty());
    winsim::ClearFaults();
  }
}

TEST_F(FileCopyTest, NoOutParameterIsNeeded) {
  winsim::WriteHostFile(kSource, Bytes(5));
  winsim::WriteHostFile("C:\\Dest\\keep.txt", "");
  InstallContext ctx{};
  AssignCountedString(&ctx.ModuleDir, u"C:\\Program Files\\Morvalente\\Drivers\\");
  EXPECT_EQ(CopyFile(&ctx, u"C:\\Dest", u"f.bin", nullptr, TRUE), S_OK);
  EXPECT_TRUE(winsim::FileExists(kDest));
  FreeContext(&ctx);
}

// Destination paths up to 259 characters fit the callers' buffers; longer
// ones are refused before any file is opened.
TEST_F(FileCopyTest, DestinationPathsLongerThanTheBuffersAreRefused) {
  winsim::WriteHostFile(kSource, Bytes(5));
  // "C:\" + 100 + "\" + 100 + "\" + n characters, then "\f.bin".
  auto dirOf = [](size_t total) {
    std::string d = "C:\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\";
    d += std::string(total - d.size() - 6, 'c');
    return d;
  };
  for (size_t total : {258u, 259u, 260u, 400u}) {
    SCOPED_TRACE(total);
    Begin();
    std::string dir = dirOf(total);
    ASSERT_EQ(dir.size() + 6, total);
    if (total < 300) winsim::WriteHostFile(dir + "\\keep.txt", "");
    InstallContext ctx{};
    AssignCountedString(&ctx.ModuleDir, u"C:\\Program Files\\Morvalente\\Drivers\\");
    WCHAR out[MAX_PATH + 8];
    for (auto &c : out) c = u'#';
    std::u16string dirW = winsim::ToUtf16(dir);
    HRESULT result = CopyFile(&ctx, dirW.c_str(), u"f.bin", out, TRUE);
    // Nothing is written past the MAX_PATH units the callers provide.
    for (size_t i = MAX_PATH; i < MAX_PATH + 8; ++i) EXPECT_EQ(out[i], u'#') << i;
    if (total <= 259) {
      EXPECT_EQ(result, S_OK);
      EXPECT_EQ(U8(out), dir + "\\f.bin");
    } else {
      EXPECT_EQ(result, E_FAIL);
      EXPECT_EQ(U8(out), "");
      EXPECT_EQ(winsim::CallCount("CreateFileW"), 0u);
      std::string log = U8(CountedStringText(ctx.Log));
      EXPECT_NE(
          log.find("  Error(9): Cant't open destination file: " + dir + "\\f.bin - ( No Description )\r\n"),
          std::string::npos)
          << log;
      EXPECT_EQ(ctx.ErrorCount, 1);
    }
    FreeContext(&ctx);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

struct DestinationRow {
  const char *name;
  int64_t holdReleaseMs;  // -2: no hold
  uint64_t startClockMs;
  bool opens;
  uint64_t waitedMs;
  size_t attempts;
};

TEST_F(FileCopyTest, DestinationIsAwaitedAFixedNumberOfTimes) {
  const DestinationRow rows[] = {
      {"free", -2, 3600000, true, 0, 1},
      {"freed after 50 ms", 50, 3600000, true, 50, 2},
      {"freed after 4950 ms: the last attempt", 4950, 3600000, true, 4950, 100},
      {"freed after 5000 ms: too late", 5000, 3600000, false, 5000, 100},
      {"held for good", -1, 3600000, false, 5000, 100},
      {"held for good across the tick counter's wrap", -1, 0xFFFFFFFFull - 1000, false, 5000, 100},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    winsim::M().clockMs = row.startClockMs;
    Begin();
    winsim::WriteHostFile(kDest, "old");
    if (row.holdReleaseMs != -2) Hold(kDest, row.holdReleaseMs);
    InstallContext ctx{};
    HANDLE h = CreateDestinationFile(&ctx, u"C:\\Dest\\f.bin");
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, row.opens);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(winsim::P().waitedMs, row.waitedMs);
    EXPECT_EQ(winsim::CallCount("CreateFileW"), row.attempts);
    // The attempts end before the ten-second limit: no time-out line.
    EXPECT_EQ(U8(CountedStringText(ctx.Log)), "");
    FreeContext(&ctx);
  }
}

}  // namespace
