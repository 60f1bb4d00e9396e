// The spooler enumerations (with the lines ListMonitors writes at each
// exit), the finders of the product's monitor and driver, the log listing of
// the monitors, the two record queries and the single-call wrappers.
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/run_lists.h"
#include "spool/spooler_calls.h"
#include "spool/spooler_lists.h"
#include "unit/spool_test_support.h"

namespace {

using mrvtest::FindPrinter;
using mrvtest::PutDriver;
using mrvtest::PutPrinter;
using mrvtest::U8;
using spooltest::SpoolTest;

// ---------------------------------------------------------------------------
// ListMonitors and ListDrivers
// ---------------------------------------------------------------------------

struct ListRow {
  const char *name;
  std::function<void()> prepare;
  std::function<std::string()> log;  // expected run log, built after prepare
  std::vector<std::string> names;    // expected records
  DWORD lastError;                   // expected last error when the list is empty; 0: not checked
};

TEST_F(SpoolTest, ListMonitorsLogsEveryExitButFullSuccess) {
  auto noMonitors = [] { winsim::M().spooler.monitors.clear(); };
  const std::vector<ListRow> rows = {
      {"two monitors",
       [] {
         AddMonitor("Morvalente:");
         AddMonitor("Other:", "other.dll");
       },
       [] { return std::string(); },
       {"Morvalente:", "Other:"},
       0},
      {"no monitors: the size query succeeds",
       noMonitors,
       [] { return std::string("1. EnumMonitors returns true\r\n"); },
       {},
       0},
      {"size query refused: spooler stopped",
       [] {
         AddMonitor("Morvalente:");
         winsim::AddFault("EnumMonitorsW", RPC_S_SERVER_UNAVAILABLE);
       },
       [] { return "2. EnumMonitors  failed with code: " + MachineText(RPC_S_SERVER_UNAVAILABLE) + "\r\n"; },
       {},
       RPC_S_SERVER_UNAVAILABLE},
      {"size query refused with a code the system has no text for",
       [] {
         AddMonitor("Morvalente:");
         winsim::AddFault("EnumMonitorsW", 0x2BAD);
       },
       [] { return std::string("2. EnumMonitors  failed with code: No Error or no description\r\n"); },
       {},
       0x2BAD},
      {"no memory for the buffer",
       [] {
         AddMonitor("Morvalente:");
         winsim::AddFault("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, NextCall("GlobalAlloc"));
       },
       [] { return std::string("3. EnumMonitors - can't allocate memory for buffer\r\n"); },
       {},
       (DWORD)E_OUTOFMEMORY},
      {"second call refused",
       [] {
         AddMonitor("Morvalente:");
         winsim::AddFault("EnumMonitorsW", ERROR_ACCESS_DENIED, NextCall("EnumMonitorsW", 2));
       },
       [] { return "3. EnumMonitors  failed with code: " + MachineText(ERROR_ACCESS_DENIED) + "\r\n"; },
       {},
       ERROR_ACCESS_DENIED},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.prepare();
    MonitorList list = ListMonitors(&ctx_);
    DWORD error = GetLastError();
    EXPECT_EQ(Log(), row.log());
    EXPECT_EQ(list.Level, 2u);
    ASSERT_EQ(list.Count, row.names.size());
    EXPECT_EQ(list.Entries == nullptr, row.names.empty());
    const auto *records = (const MONITOR_INFO_2W *)list.Entries;
    for (size_t i = 0; i < row.names.size(); ++i) EXPECT_EQ(U8(records[i].pName), row.names[i]);
    if (row.lastError != 0) {
      EXPECT_EQ(error, row.lastError);
    }
    EXPECT_EQ(ctx_.ErrorCount, 0) << "enumeration failures are not errors of the run";
    if (list.Entries) GlobalFree(list.Entries);
  }
}

TEST_F(SpoolTest, ListMonitorsWithoutAContextLogsNothing) {
  winsim::M().spooler.monitors.clear();
  MonitorList list = ListMonitors(nullptr);
  EXPECT_EQ(list.Count, 0u);
  EXPECT_EQ(list.Entries, nullptr);
}

TEST_F(SpoolTest, ListDriversListsOneEnvironmentSilently) {
  struct Row {
    const char *name;
    std::function<void()> prepare;
    const char16_t *environment;
    std::vector<std::string> names;
  };
  const std::vector<Row> rows = {
      {"x64 drivers only",
       [] {
         PutDriver("Morvalente printer");
         PutDriver("Old x86 driver", "Windows NT x86");
         PutDriver("Other printer");
       },
       u"Windows x64",
       {"Morvalente printer", "Other printer"}},
      {"no drivers", [] {}, u"Windows x64", {}},
      {"unknown environment", [] { PutDriver("Morvalente printer"); }, u"Windows 95", {}},
      {"no memory",
       [] {
         PutDriver("Morvalente printer");
         winsim::AddFault("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, NextCall("GlobalAlloc"));
       },
       u"Windows x64",
       {}},
      {"second call refused",
       [] {
         PutDriver("Morvalente printer");
         winsim::AddFault("EnumPrinterDriversW", ERROR_ACCESS_DENIED, NextCall("EnumPrinterDriversW", 2));
       },
       u"Windows x64",
       {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.prepare();
    DriverList list = ListDrivers(row.environment);
    EXPECT_EQ(list.Level, 6u);
    ASSERT_EQ(list.Count, row.names.size());
    EXPECT_EQ(list.Entries == nullptr, row.names.empty());
    const auto *records = (const DRIVER_INFO_6W *)list.Entries;
    for (size_t i = 0; i < row.names.size(); ++i) {
      EXPECT_EQ(U8(records[i].pName), row.names[i]);
      EXPECT_EQ(U8(records[i].pEnvironment), "Windows x64");
    }
    EXPECT_EQ(Log(), "");
    if (list.Entries) GlobalFree(list.Entries);
  }
}

// ---------------------------------------------------------------------------
// The finders
// ---------------------------------------------------------------------------

// Records of a given size with the name pointer at a given offset, the names
// held by the builder.
struct Records {
  std::vector<std::u16string> texts;
  std::vector<BYTE> bytes;

  Records(const std::vector<const char16_t *> &names, size_t size, size_t nameOffset)
      : bytes(names.size() * size) {
    texts.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      LPCWSTR p = nullptr;
      if (names[i] != nullptr) {
        texts.push_back(names[i]);
        p = texts.back().c_str();
      }
      std::memcpy(bytes.data() + i * size + nameOffset, &p, sizeof p);
    }
  }
};

struct FinderRow {
  const char *name;
  std::vector<const char16_t *> names;
  LONG expected;
};

TEST(SpoolFinders, FindProductMonitorMatchesTheExactName) {
  const std::vector<FinderRow> rows = {
      {"first", {u"Morvalente:", u"Other:"}, 0},
      {"second", {u"Local Port", u"Morvalente:"}, 1},
      {"letter case differs", {u"morvalente:", u"MORVALENTE:"}, -1},
      {"longer name", {u"Morvalente:2"}, -1},
      {"prefix only", {u"Morvalente"}, -1},
      {"two matches: the lower index", {u"Other:", u"Morvalente:", u"Morvalente:"}, 1},
      {"a record without a name", {nullptr, u"Morvalente:"}, 1},
      {"none", {u"Other:"}, -1},
  };
  struct Level {
    DWORD level;
    size_t size;
  };
  for (Level lv : {Level{1, sizeof(MONITOR_INFO_1W)}, Level{2, sizeof(MONITOR_INFO_2W)}}) {
    for (const auto &row : rows) {
      Records recs(row.names, lv.size, 0);
      MonitorList list = {recs.bytes.data(), lv.level, (DWORD)row.names.size()};
      EXPECT_EQ(FindProductMonitor(&list), row.expected) << row.name << ", level " << lv.level;
    }
  }
}

TEST(SpoolFinders, FindProductDriverStepsByTheRecordSizeOfItsLevel) {
  const std::vector<FinderRow> rows = {
      {"third", {u"A", u"B", u"Morvalente printer"}, 2},
      {"letter case differs", {u"Morvalente Printer"}, -1},
      {"longer name", {u"Morvalente printer 2"}, -1},
      {"prefix only", {u"Morvalente"}, -1},
      {"two matches: the lower index", {u"Morvalente printer", u"Morvalente printer"}, 0},
      {"a record without a name", {nullptr, u"Morvalente printer"}, 1},
  };
  struct Level {
    DWORD level;
    size_t size;
    size_t nameOffset;
  };
  const Level levels[] = {{1, 8, 0}, {2, 48, 8}, {3, 80, 8}, {4, 88, 8}, {5, 64, 8}, {6, 136, 8}};
  for (const Level &lv : levels) {
    for (const auto &row : rows) {
      Records recs(row.names, lv.size, lv.nameOffset);
      DriverList list = {recs.bytes.data(), lv.level, (DWORD)row.names.size()};
      EXPECT_EQ(FindProductDriver(&list), row.expected) << row.name << ", level " << lv.level;
    }
  }
}

TEST(SpoolFinders, UnknownLevelsAndEmptyListsFindNothing) {
  Records monitors({u"Morvalente:"}, sizeof(MONITOR_INFO_2W), 0);
  MonitorList level3 = {monitors.bytes.data(), 3, 1};
  EXPECT_EQ(FindProductMonitor(&level3), -1);
  Records drivers({u"Morvalente printer"}, sizeof(DRIVER_INFO_6W), 8);
  DriverList level7 = {drivers.bytes.data(), 7, 1};
  EXPECT_EQ(FindProductDriver(&level7), -1);
  // A count of 0 is answered without looking at the entries at all.
  MonitorList none = {(BYTE *)(uintptr_t)0x10, 2, 0};
  EXPECT_EQ(FindProductMonitor(&none), -1);
  DriverList noDrivers = {(BYTE *)(uintptr_t)0x10, 6, 0};
  EXPECT_EQ(FindProductDriver(&noDrivers), -1);
}

TEST_F(SpoolTest, LogMonitorListNumbersEveryRecord) {
  Records recs({u"Local Port", nullptr, u"Morvalente:"}, sizeof(MONITOR_INFO_2W), 0);
  MonitorList list = {recs.bytes.data(), 2, 3};
  ctx_.IndentLevel = 1;
  LogMonitorList(&ctx_, &list);
  EXPECT_EQ(Log(),
            "  ------- 3 existing monitors ----------\r\n"
            "  1. Local Port\r\n"
            "  2. ***EMPTY***\r\n"
            "  3. Morvalente:\r\n"
            "  ---------------------------------------\r\n");
}

// ---------------------------------------------------------------------------
// Record queries
// ---------------------------------------------------------------------------

class SpoolQueryTest : public SpoolTest {
 protected:
  void SetUp() override {
    SpoolTest::SetUp();
    InstallProduct();
    PutPrinter("Office").comment = "second floor";
    ASSERT_TRUE(OpenPrinterW((LPWSTR)u"Office", &printer_, nullptr));
  }
  void TearDown() override {
    if (printer_) ClosePrinter(printer_);
    SpoolTest::TearDown();
  }
  HANDLE printer_ = nullptr;
};

TEST_F(SpoolQueryTest, FetchPrinterInfoGivesTheRecordInABlockOfItsOwn) {
  PRINTER_INFO_2W *info = FetchPrinterInfo(printer_);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(U8(info->pPrinterName), "Office");
  EXPECT_EQ(U8(info->pComment), "second floor");
  EXPECT_EQ(U8(info->pDriverName), "Morvalente printer");
  GlobalFree(info);
}

TEST_F(SpoolQueryTest, FetchPrinterDriverInfoAsksForTheX64DriverThenTheCallersOwn) {
  DRIVER_INFO_2W *info = FetchPrinterDriverInfo(printer_);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(U8(info->pName), "Morvalente printer");
  EXPECT_EQ(U8(info->pDriverPath), std::string(spooltest::kVersionDir) + "\\gwrdrv64.dll");
  GlobalFree(info);
  EXPECT_EQ(mrvtest::CallArgs("GetPrinterDriverW"),
            (std::vector<std::string>{"Windows x64 level 2", " level 2"}));
}

struct QueryFailureRow {
  const char *name;
  std::function<void()> prepare;
  DWORD lastError;
};

TEST_F(SpoolQueryTest, QueriesThatFailGiveNoBlock) {
  const std::vector<QueryFailureRow> rows = {
      {"size query refused", [] { winsim::AddFault("GetPrinterW", ERROR_ACCESS_DENIED); },
       ERROR_ACCESS_DENIED},
      {"no memory", [] { winsim::AddFault("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, NextCall("GlobalAlloc")); },
       (DWORD)E_OUTOFMEMORY},
      {"second call refused",
       [] { winsim::AddFault("GetPrinterW", ERROR_INVALID_HANDLE, NextCall("GetPrinterW", 2)); },
       ERROR_INVALID_HANDLE},
  };
  for (const auto &row : rows) {
    winsim::ClearFaults();
    row.prepare();
    EXPECT_EQ(FetchPrinterInfo(printer_), nullptr) << row.name;
    EXPECT_EQ(GetLastError(), row.lastError) << row.name;
  }
  winsim::ClearFaults();
  // A printer whose driver is not installed for x64 has no driver record.
  winsim::M().spooler.drivers[0].environment = "Windows NT x86";
  EXPECT_EQ(FetchPrinterDriverInfo(printer_), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_UNKNOWN_PRINTER_DRIVER);
}

// ---------------------------------------------------------------------------
// Wrappers
// ---------------------------------------------------------------------------

// The arguments of the latest journaled call of `call`.
std::string LastArgs(const std::string &call) {
  std::vector<std::string> args = mrvtest::CallArgs(call);
  return args.empty() ? "(no call)" : args.back();
}

TEST_F(SpoolQueryTest, PurgeAndDeletePrinterDeletesEvenWhenThePurgeFails) {
  ClosePrinter(printer_);
  PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  ASSERT_TRUE(OpenPrinterW((LPWSTR)u"Office", &printer_, &all));
  winsim::AddFault("SetPrinterW", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(PurgeAndDeletePrinter(printer_));
  EXPECT_EQ(winsim::CallCount("SetPrinterW"), 1u);
  EXPECT_EQ(winsim::CallCount("DeletePrinter"), 1u);
  EXPECT_EQ(FindPrinter("Office"), nullptr);
}

TEST_F(SpoolQueryTest, WrappersLeaveTheCallsErrorForTheCaller) {
  // Opened for use only: the spooler refuses the purge and the deletion.
  EXPECT_FALSE(PurgeAndDeletePrinter(printer_));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_NE(FindPrinter("Office"), nullptr);

  PRINTER_INFO_2W info = {};
  info.pPrinterName = (LPWSTR)u"New";
  info.pPortName = (LPWSTR)u"Morvalente:";
  info.pDriverName = (LPWSTR)u"No such driver";
  info.pPrintProcessor = (LPWSTR)u"WinPrint";
  EXPECT_EQ(AddPrinterChecked(&info), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_UNKNOWN_PRINTER_DRIVER);

  DRIVER_INFO_6W driver = {};
  driver.cVersion = 3;
  driver.pName = (LPWSTR)u"Morvalente printer";
  driver.pDriverPath = (LPWSTR)u"C:\\nowhere\\gwrdrv64.dll";
  driver.pDataFile = driver.pDriverPath;
  driver.pConfigFile = driver.pDriverPath;
  EXPECT_FALSE(AddPrinterDriverChecked(&driver));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LastArgs("AddPrinterDriverExW"), "Morvalente printer level 6 flags 4");

  EXPECT_FALSE(DeleteMonitorChecked(u"Windows x64"));  // a printer still uses its port
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PRINT_MONITOR_IN_USE);
  EXPECT_EQ(LastArgs("DeleteMonitorW"), "Windows x64 Morvalente:");

  EXPECT_TRUE(ClosePrinterChecked(printer_));
  printer_ = nullptr;
  EXPECT_EQ(ctx_.ErrorCount, 0);
  EXPECT_EQ(Log(), "") << "the wrappers never log";
}

TEST_F(SpoolTest, AddPrinterCheckedReturnsAnOpenHandle) {
  InstallProduct();
  PRINTER_INFO_2W info = {};
  info.pPrinterName = (LPWSTR)u"New";
  info.pPortName = (LPWSTR)u"Morvalente:";
  info.pDriverName = (LPWSTR)u"Morvalente printer";
  info.pPrintProcessor = (LPWSTR)u"WinPrint";
  HANDLE h = AddPrinterChecked(&info);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(FindPrinter("New"), nullptr);
  EXPECT_TRUE(ClosePrinterChecked(h));
}

// ---------------------------------------------------------------------------
// The chain of remembered printers
// ---------------------------------------------------------------------------

SavedPrinter *PushNode(SavedPrinter *head, const char *name) {
  auto *node = (SavedPrinter *)GlobalAlloc(GPTR, sizeof(SavedPrinter));
  if (name != nullptr) {
    node->SettingsName = (LPSTR)GlobalAlloc(GPTR, std::strlen(name) + 1);
    std::memcpy(node->SettingsName, name, std::strlen(name));
  }
  node->Next = head;
  return node;
}

TEST_F(SpoolTest, FreeSavedPrinterChainReleasesEveryNodeAndName) {
  struct Row {
    const char *name;
    std::vector<const char *> names;  // settings names of the nodes, null for none
  };
  const std::vector<Row> rows = {
      {"empty chain", {}},
      {"one node", {"a"}},
      {"nodes with and without names", {"a", nullptr, "ccc", nullptr}},
  };
  for (const auto &row : rows) {
    SavedPrinter *head = nullptr;
    for (const char *n : row.names) head = PushNode(head, n);
    FreeSavedPrinterChain(head);
    EXPECT_TRUE(winsim::Leaks().empty()) << row.name;
  }
  // A long chain.
  SavedPrinter *head = nullptr;
  for (int i = 0; i < 20000; ++i) head = PushNode(head, (i % 2) ? "x" : nullptr);
  FreeSavedPrinterChain(head);
  EXPECT_TRUE(winsim::Leaks().empty());
}

}  // namespace
