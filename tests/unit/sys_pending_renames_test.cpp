// The system's pending file operations: parsing the value (whatever its
// size or content, never reading outside the data), sweeping pending
// deletions, and the "onInit" check with its spooler restarts.
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "support/fixture.h"
#include "support/scenario.h"
#include "sys/pending_renames.h"

namespace {

using mrvtest::U8;
using mrvtest::WideBytes;

const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kValue[] = "PendingFileRenameOperations";
const char kDriverDir[] = "C:\\Windows\\System32\\spool\\drivers\\x64\\3";

// A value made of these strings, each with its zero, and the list's end.
std::vector<uint8_t> MultiSz(const std::vector<std::string> &strings) {
  std::u16string all;
  for (auto &s : strings) all += winsim::ToUtf16(s) + u'\0';
  all += u'\0';
  return WideBytes(all);
}

void SetValue(const std::vector<uint8_t> &data) {
  winsim::SetRegRaw(kSessionManager, kValue, REG_MULTI_SZ, data);
}

// The list as text: each entry's name ("-" for none) and flag.
std::vector<std::string> Entries(const PendingRenameList &list) {
  std::vector<std::string> out;
  for (LONG i = 0; i < 2 * list.PairCount; ++i) {
    out.push_back((list.Names[i] ? U8(list.Names[i]) : std::string("-")) + " " +
                  std::to_string(list.Exists[i]));
  }
  return out;
}

winsim::Service &Spooler() {
  return winsim::M().services[0];
}

class PendingRenamesTest : public mrvtest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::WriteHostFile("C:\\Data\\f.dll", "f");
    winsim::WriteHostFile("C:\\Data\\g.dll", "g");
    winsim::WriteHostFile("C:\\Data\\Sub\\keep.txt", "");
  }
};

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

struct ReadRow {
  const char *name;
  std::function<void()> setup;
  std::vector<std::string> entries;
  size_t attributeCalls;  // GetFileAttributesW calls
};

TEST_F(PendingRenamesTest, ReadParsesPairsOfStrings) {
  auto value = [](std::vector<uint8_t> d) { return [d] { SetValue(d); }; };
  auto u16 = [](const char16_t *s, size_t n) { return WideBytes(std::u16string(s, n)); };
  std::vector<uint8_t> oddPair = MultiSz({"\\??\\C:\\Data\\f.dll", ""});
  oddPair.push_back(0x41);
  std::vector<std::string> many;
  std::vector<std::string> manyEntries;
  for (int i = 0; i < 40; ++i) {
    many.push_back("\\??\\C:\\Data\\n" + std::to_string(i));
    many.push_back(i == 39 ? "\\??\\C:\\Data\\f.dll" : "");
    manyEntries.push_back("\\??\\C:\\Data\\n" + std::to_string(i) + " 0");
    manyEntries.push_back(i == 39 ? "\\??\\C:\\Data\\f.dll 1" : "- 0");
  }
  const ReadRow rows[] = {
      {"no value", [] {}, {}, 0},
      {"no key", [] { winsim::M().registry.erase(winsim::Lower(kSessionManager)); }, {}, 0},
      {"empty value", value({}), {}, 0},
      {"only the list's end", value(u16(u"\0", 1)), {}, 0},
      {"one string", value(MultiSz({"\\??\\C:\\Data\\f.dll"})), {}, 0},
      {"one deletion", value(MultiSz({"\\??\\C:\\Data\\f.dll", ""})), {"\\??\\C:\\Data\\f.dll 1", "- 0"}, 1},
      {"one rename",
       value(MultiSz({"\\??\\C:\\Data\\f.dll", "!\\??\\C:\\Data\\h.dll"})),
       {"\\??\\C:\\Data\\f.dll 1", "!\\??\\C:\\Data\\h.dll 0"},
       2},
      {"three strings: the third is not read",
       value(MultiSz({"\\??\\C:\\Data\\f.dll", "", "\\??\\C:\\Data\\g.dll"})),
       {"\\??\\C:\\Data\\f.dll 1", "- 0"},
       1},
      {"empty existing name",
       value(MultiSz({"", "\\??\\C:\\Data\\f.dll", "\\??\\C:\\Data\\g.dll", ""})),
       {"- 0", "\\??\\C:\\Data\\f.dll 1", "\\??\\C:\\Data\\g.dll 1", "- 0"},
       2},
      {"prefix rule",
       value(MultiSz({"C:\\Data\\f.dll", "\\??XC:\\Data\\f.dll", "\\??\\", "\\?\\C:\\Data\\g.dll",
                      "\\\\??\\C:\\x", "\\??\\\\??\\C:\\Data\\f.dll"})),
       {"C:\\Data\\f.dll 1", "\\??XC:\\Data\\f.dll 0", "\\??\\ 0", "\\?\\C:\\Data\\g.dll 0",
        "\\\\??\\C:\\x 0", "\\??\\\\??\\C:\\Data\\f.dll 0"},
       6},
      {"directories and missing files",
       value(MultiSz({"\\??\\C:\\Data\\Sub", "", "\\??\\C:\\Data", "", "\\??\\C:\\Data\\none.dll", "",
                      "\\??\\C:\\None\\f.dll", ""})),
       {"\\??\\C:\\Data\\Sub 0", "- 0", "\\??\\C:\\Data 0", "- 0", "\\??\\C:\\Data\\none.dll 0", "- 0",
        "\\??\\C:\\None\\f.dll 0", "- 0"},
       4},
      {"letter case of the path",
       value(MultiSz({"\\??\\c:\\DATA\\F.DLL", ""})),
       {"\\??\\c:\\DATA\\F.DLL 1", "- 0"},
       1},
      {"forty pairs", value(MultiSz(many)), manyEntries, 41},
      // Malformed data: nothing is read outside the data.
      {"odd byte count", value(oddPair), {"\\??\\C:\\Data\\f.dll 1", "- 0"}, 1},
      {"one byte", value({0x41}), {}, 0},
      {"last string without its zero", value(WideBytes(u"\\??\\C:\\Data\\f.dll")), {}, 0},
      {"pair whose new name has no zero", value(u16(u"\\??\\C:\\Data\\f.dll\0xyz", 21)), {}, 0},
      {"pair without the list's end", value(u16(u"\\??\\C:\\Data\\f.dll\0\0", 19)), {}, 0},
      {"pair, then a string without its zero",
       value(u16(u"\\??\\C:\\Data\\f.dll\0\0\\??\\C:\\Data\\g.dll", 36)),
       {"\\??\\C:\\Data\\f.dll 1", "- 0"},
       1},
      {"only zeros", value(std::vector<uint8_t>(10, 0)), {"- 0", "- 0", "- 0", "- 0"}, 0},
      {"second read refused",
       [] {
         SetValue(MultiSz({"\\??\\C:\\Data\\f.dll", ""}));
         winsim::AddFault("RegQueryValueExW", ERROR_MORE_DATA, 2);
       },
       {},
       0},
      {"key refused", [] { winsim::AddFault("RegOpenKeyExA", ERROR_ACCESS_DENIED); }, {}, 0},
      {"no memory for the data",
       [] {
         SetValue(MultiSz({"\\??\\C:\\Data\\f.dll", ""}));
         winsim::AddFault("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
       },
       {},
       0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    Begin();
    winsim::WriteHostFile("C:\\Data\\f.dll", "f");
    winsim::WriteHostFile("C:\\Data\\g.dll", "g");
    winsim::WriteHostFile("C:\\Data\\Sub\\keep.txt", "");
    row.setup();
    const winsim::RegValue *before = winsim::GetRegValue(kSessionManager, kValue);
    std::vector<uint8_t> data = before ? before->data : std::vector<uint8_t>();
    {
      PendingRenameList list = ReadPendingRenames();
      EXPECT_EQ(Entries(list), row.entries);
      EXPECT_EQ(list.Names == nullptr, row.entries.empty());
      EXPECT_EQ(list.Exists == nullptr, row.entries.empty());
      // Each name is a block of its own; the data block is gone.
      size_t names = 0;
      for (LONG i = 0; i < 2 * list.PairCount; ++i) names += list.Names[i] != nullptr ? 1 : 0;
      EXPECT_EQ(winsim::P().blocks.size(), names + (row.entries.empty() ? 0 : 2));
    }
    EXPECT_EQ(winsim::CallCount("GetFileAttributesW"), row.attributeCalls);
    // The key is closed whenever it was opened.
    size_t opened = 0;
    for (auto &e : winsim::P().journal) opened += e.call == "RegOpenKeyExA" && e.result == "0" ? 1 : 0;
    EXPECT_EQ(winsim::CallCount("RegCloseKey"), opened);
    EXPECT_TRUE(winsim::Leaks().empty());
    // The value is only read.
    const winsim::RegValue *after = winsim::GetRegValue(kSessionManager, kValue);
    EXPECT_EQ(after ? after->data : std::vector<uint8_t>(), data);
    winsim::ClearFaults();
  }
}

// Random values of every size, odd ones included. The sanitizer build checks
// that no read leaves the data; here the count of pairs must agree with the
// strings the data holds.
TEST_F(PendingRenamesTest, ReadStaysInsideArbitraryData) {
  std::mt19937 rng(41);
  const char16_t alphabet[] = {u'\0', u'\0', u'\0', u'\\', u'?', u'C', u':', u'a', u'f'};
  for (int round = 0; round < 400; ++round) {
    size_t bytes = rng() % 64;
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
      char16_t c = alphabet[rng() % (sizeof alphabet / sizeof alphabet[0])];
      std::memcpy(&data[i], &c, 2);
    }
    if (bytes % 2 == 1) data[bytes - 1] = static_cast<uint8_t>(rng());
    SetValue(data);
    // Strings that end inside the data, starting before its last character.
    size_t chars = bytes / 2, strings = 0;
    std::vector<char16_t> text(chars);
    if (chars > 0) std::memcpy(text.data(), data.data(), chars * 2);
    for (size_t pos = 0; chars > 0 && pos < chars - 1;) {
      size_t end = pos;
      while (end < chars && text[end] != 0) ++end;
      if (end == chars) break;
      ++strings;
      pos = end + 1;
    }
    PendingRenameList list = ReadPendingRenames();
    ASSERT_EQ(list.PairCount, static_cast<LONG>(strings / 2)) << "round " << round;
    for (LONG i = 0; i < 2 * list.PairCount; ++i) {
      if (list.Names[i] != nullptr) {
        ASSERT_GT(std::char_traits<char16_t>::length(list.Names[i]), 0u);
      }
    }
  }
}

TEST_F(PendingRenamesTest, MovingTheListHandsItsBlocksOver) {
  SetValue(MultiSz({"\\??\\C:\\Data\\f.dll", ""}));
  PendingRenameList first = ReadPendingRenames();
  PendingRenameList second(std::move(first));
  EXPECT_EQ(first.PairCount, 0);
  EXPECT_EQ(first.Names, nullptr);
  EXPECT_EQ(second.PairCount, 1);
  FreePendingRenames(&second);
  EXPECT_EQ(second.Names, nullptr);
  EXPECT_EQ(second.Exists, nullptr);
  EXPECT_EQ(second.PairCount, 0);
  EXPECT_TRUE(winsim::Leaks().empty());
}

// ---------------------------------------------------------------------------
// Sweeping
// ---------------------------------------------------------------------------

TEST_F(PendingRenamesTest, SweepDeletesOnlyExistingFilesOfPendingDeletions) {
  winsim::WriteHostFile("C:\\Data\\held.dll", "h");
  winsim::M().holds.push_back({"C:\\Data\\held.dll", 0, -1, "viewer"});
  std::vector<std::string> strings = {"\\??\\C:\\Data\\f.dll",    "",                       // deleted
                                      "\\??\\C:\\Data\\g.dll",    "\\??\\C:\\Data\\x.dll",  // a rename: kept
                                      "\\??\\C:\\Data\\held.dll", "",                       // in use: kept
                                      "\\??\\C:\\Data\\Sub",      "",                       // a directory
                                      "\\??\\C:\\Data\\none.dll", ""};
  for (int i = 0; i < 30; ++i) {
    winsim::WriteHostFile("C:\\Data\\n" + std::to_string(i), "n");
    strings.push_back("\\??\\C:\\Data\\n" + std::to_string(i));
    strings.push_back("");
  }
  SetValue(MultiSz(strings));
  std::vector<uint8_t> data = winsim::GetRegValue(kSessionManager, kValue)->data;
  PendingRenameList list = ReadPendingRenames();
  SweepPendingDeletes(&list);
  std::vector<std::string> e = Entries(list);
  EXPECT_EQ(std::vector<std::string>(e.begin(), e.begin() + 10),
            (std::vector<std::string>{"\\??\\C:\\Data\\f.dll 0", "- 0", "\\??\\C:\\Data\\g.dll 1",
                                      "\\??\\C:\\Data\\x.dll 0", "\\??\\C:\\Data\\held.dll 1", "- 0",
                                      "\\??\\C:\\Data\\Sub 0", "- 0", "\\??\\C:\\Data\\none.dll 0", "- 0"}));
  EXPECT_FALSE(winsim::FileExists("C:\\Data\\f.dll"));
  EXPECT_TRUE(winsim::FileExists("C:\\Data\\g.dll"));
  EXPECT_TRUE(winsim::FileExists("C:\\Data\\held.dll"));
  // Every pair of the long list, the last one included.
  for (int i = 0; i < 30; ++i) EXPECT_FALSE(winsim::FileExists("C:\\Data\\n" + std::to_string(i))) << i;
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 32u);  // f, held and the thirty
  EXPECT_EQ(winsim::GetRegValue(kSessionManager, kValue)->data, data);
}

// ---------------------------------------------------------------------------
// The "onInit" check
// ---------------------------------------------------------------------------

struct CheckRow {
  const char *name;
  std::function<void()> setup;
  BOOL result;
  size_t restarts;
  uint64_t waitedMs;
  std::string gone = "";  // a file the check deleted
};

TEST_F(PendingRenamesTest, CheckLooksTwiceAroundASpoolerRestart) {
  const std::string drv = std::string(kDriverDir) + "\\gwrdrv64.dll";
  const std::string ui = std::string(kDriverDir) + "\\gwrui64.dll";
  const std::string mon = "C:\\Windows\\System32\\gwrmon64.dll";
  auto file = [](const std::string &path) { winsim::WriteHostFile(path, "x"); };
  auto loadedMonitor = [=] {
    file(mon);
    mrvtest::PutMonitor();
  };
  const CheckRow rows[] = {
      {"no value", [] {}, FALSE, 0, 0},
      {"empty value", [] { SetValue({}); }, FALSE, 0, 0},
      {"one string",
       [=] {
         file(drv);
         SetValue(MultiSz({"\\??\\" + drv}));
       },
       FALSE, 0, 0},
      {"pending rename of the driver file",
       [=] {
         file(drv);
         SetValue(MultiSz({"\\??\\" + drv, "\\??\\" + drv + ".new"}));
       },
       TRUE, 2, 0},
      {"pending deletion of the UI file, swept",
       [=] {
         file(ui);
         SetValue(MultiSz({"\\??\\" + ui, ""}));
       },
       FALSE, 0, 0, ui},
      {"pending deletion of a held UI file",
       [=] {
         file(ui);
         winsim::M().holds.push_back({ui, 0, -1, "viewer"});
         SetValue(MultiSz({"\\??\\" + ui, ""}));
       },
       TRUE, 2, 0},
      {"held UI file let go during the restart",
       [=] {
         file(ui);
         winsim::M().holds.push_back({ui, 0, static_cast<int64_t>(winsim::M().clockMs) + 300, "viewer"});
         Spooler().stopDelayMs = 400;
         SetValue(MultiSz({"\\??\\" + ui, ""}));
       },
       FALSE, 1, 400},
      {"pending deletion of the loaded monitor file",
       [=] {
         loadedMonitor();
         SetValue(MultiSz({"\\??\\" + mon, ""}));
       },
       TRUE, 2, 0},
      {"file-name part in capitals",
       [=] {
         file(std::string(kDriverDir) + "\\GWRDRV64.DLL");
         SetValue(MultiSz({"\\??\\" + std::string(kDriverDir) + "\\GWRDRV64.DLL", "x"}));
       },
       TRUE, 2, 0},
      {"longer name that ends like one",
       [=] {
         file(std::string(kDriverDir) + "\\oldgwrdrv64.dll");
         SetValue(MultiSz({"\\??\\" + std::string(kDriverDir) + "\\oldgwrdrv64.dll", "x"}));
       },
       FALSE, 0, 0},
      {"forward slashes",
       [=] {
         file(drv);
         SetValue(MultiSz({"\\??\\C:/Windows/System32/spool/drivers/x64/3/gwrdrv64.dll", "x"}));
       },
       TRUE, 2, 0},
      {"without the prefix",
       [=] {
         file(drv);
         SetValue(MultiSz({drv, "x"}));
       },
       TRUE, 2, 0},
      {"other prefix: used whole",
       [=] {
         file(drv);
         SetValue(MultiSz({"\\??X" + drv, "x"}));
       },
       FALSE, 0, 0},
      {"missing driver file",
       [=] {
         SetValue(MultiSz({"\\??\\" + drv, "x"}));
       },
       FALSE, 0, 0},
      {"directory named like the driver file",
       [=] {
         winsim::WriteHostFile(drv + "\\inside.txt", "");
         SetValue(MultiSz({"\\??\\" + drv, "x"}));
       },
       FALSE, 0, 0},
      {"only the new name is the driver file",
       [=] {
         file("C:\\Data\\f.dll");
         SetValue(MultiSz({"\\??\\C:\\Data\\f.dll", "\\??\\" + drv}));
       },
       FALSE, 0, 0},
      {"32-bit driver file",
       [=] {
         file(std::string(kDriverDir) + "\\gwrdrv32.dll");
         SetValue(MultiSz({"\\??\\" + std::string(kDriverDir) + "\\gwrdrv32.dll", "x"}));
       },
       FALSE, 0, 0},
      {"last of many pairs",
       [=] {
         file(drv);
         std::vector<std::string> s;
         for (int i = 0; i < 20; ++i) s.insert(s.end(), {"\\??\\C:\\Data\\n" + std::to_string(i), ""});
         s.insert(s.end(), {"\\??\\" + drv, "x"});
         SetValue(MultiSz(s));
       },
       TRUE, 2, 0},
      {"slow spooler",
       [=] {
         file(drv);
         Spooler().stopDelayMs = 1000;
         Spooler().startDelayMs = 600;
         SetValue(MultiSz({"\\??\\" + drv, "x"}));
       },
       TRUE, 2, 2 * (1000 + 600)},
      {"spooler that cannot be stopped",
       [=] {
         file(drv);
         Spooler().ignoresStop = true;
         SetValue(MultiSz({"\\??\\" + drv, "x"}));
       },
       TRUE, 2, 2 * 10000},
      {"service manager unopenable",
       [=] {
         file(drv);
         winsim::M().scmUnopenable = true;
         SetValue(MultiSz({"\\??\\" + drv, "x"}));
       },
       TRUE, 0, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    Begin();
    row.setup();
    const winsim::RegValue *before = winsim::GetRegValue(kSessionManager, kValue);
    std::vector<uint8_t> data = before ? before->data : std::vector<uint8_t>();
    EXPECT_EQ(CheckPendingComponentFiles(), row.result);
    EXPECT_EQ(winsim::CallCount("ControlService"), row.restarts);
    EXPECT_EQ(winsim::CallCount("StartServiceW"), row.restarts);
    EXPECT_EQ(winsim::P().waitedMs, row.waitedMs);
    // A look reads the value afresh: one read per pass.
    size_t passes = row.result ? 2 : (row.restarts + 1);
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), passes);
    if (row.restarts > 0) {
      EXPECT_EQ(Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
    }
    const winsim::RegValue *after = winsim::GetRegValue(kSessionManager, kValue);
    EXPECT_EQ(after ? after->data : std::vector<uint8_t>(), data);
    if (!row.gone.empty()) {
      EXPECT_FALSE(winsim::FileExists(row.gone));
    }
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

// "onInit" through the dispatcher: 200 when operations stay pending on a
// component file, otherwise the default-printer half answers.
TEST_F(PendingRenamesTest, OnInitAnswers200WhenOperationsStayPending) {
  const std::string drv = std::string(kDriverDir) + "\\gwrdrv64.dll";
  winsim::WriteHostFile(drv, winsim::MakeComponentFile("gwrdrv64.dll", 2563));
  SetValue(MultiSz({"\\??\\" + drv, "\\??\\" + drv + ".old"}));
  winsim::BeginProcess(u"install.exe onInit");
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), 200u);
  EXPECT_EQ(winsim::CallCount("ControlService"), 2u);
  EXPECT_TRUE(winsim::Leaks().empty());

  // After a restart of the machine the rename has been carried out.
  winsim::Reboot();
  winsim::BeginProcess(u"install.exe onInit");
  EXPECT_NE(DispatchCommand(GetModuleHandleW(nullptr)), 200u);
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
  EXPECT_TRUE(winsim::FileExists(drv + ".old"));
}

}  // namespace
