// The product's port monitor against winsim's spooler: its removal (the file
// it works out, the build gate, the three tries with printers parked on
// "file:" and the spooler restarted) and its installation (the copy, the
// registration tries, the ports given back).
#include <functional>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "spool/monitor.h"
#include "sys/build_number.h"
#include "unit/spool_test_support.h"

namespace {

using mrvtest::FindPrinter;
using mrvtest::PutDriver;
using mrvtest::PutMonitorFileBuild;
using mrvtest::PutPrinter;
using mrvtest::U8;
using spooltest::SpoolTest;

const char kMonitorPath[] = "C:\\Windows\\System32\\gwrmon64.dll";
const char kInstallerDir[] = "C:\\Program Files\\Morvalente\\Drivers";

class MonitorTest : public SpoolTest {
 protected:
  // Monitors as the spooler lists them now; released in TearDown.
  const MonitorList *Monitors() {
    list_ = ListMonitors(nullptr);
    return &list_;
  }

  void TearDown() override {
    if (list_.Entries != nullptr) GlobalFree(list_.Entries);
    list_ = MonitorList{};
    SpoolTest::TearDown();
  }

  bool LogHas(const std::string &line) const { return Log().find(line) != std::string::npos; }

  MonitorList list_ = {};
};

// ---------------------------------------------------------------------------
// DeleteMonitor
// ---------------------------------------------------------------------------

TEST_F(MonitorTest, RemovesTheMonitorAndItsFile) {
  AddMonitor("Local Port", "localspl.dll");
  AddMonitor("Morvalente:");
  MakeContext();
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_EQ(Log(),
            ">DeleteMonitor\r\n"
            "  ------- 2 existing monitors ----------\r\n"
            "  1. Local Port\r\n"
            "  2. Morvalente:\r\n"
            "  ---------------------------------------\r\n"
            "  Port monitor is found. Index=2\r\n"
            "  Trying to get monitor filename from MONITOR_INFO_2\r\n"
            "  Auto calculated monitor file name: C:\\Windows\\System32\\gwrmon64.dll\r\n"
            "  There is no check for monitor version\r\n"
            "  Monitor was removed :)\r\n");
  EXPECT_EQ(ctx_.ErrorCount, 0);
  EXPECT_FALSE(winsim::FileExists(kMonitorPath));
  ASSERT_EQ(winsim::M().spooler.monitors.size(), 1u);
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 1u);
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u) << "no restart";
}

TEST_F(MonitorTest, TheFoundRecordNamesTheFile) {
  AddMonitor("Morvalente:", "gwrmon32.dll");
  MakeContext();
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_TRUE(LogHas("  Auto calculated monitor file name: C:\\Windows\\System32\\gwrmon32.dll\r\n"));
  EXPECT_FALSE(winsim::FileExists("C:\\Windows\\System32\\gwrmon32.dll"));
}

TEST_F(MonitorTest, NotFoundAndRefusedIsFine) {
  PutMonitorFileBuild(2563);
  MakeContext();
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_EQ(Log(),
            ">DeleteMonitor\r\n"
            "  BTW, there is no port monitors on this system.\r\n"
            "  No Morvalente port monitor was found.\r\n"
            "  Computing monitor filename\r\n"
            "  Auto calculated monitor file name: C:\\Windows\\System32\\gwrmon64.dll\r\n"
            "  There is no check for monitor version\r\n"
            "  Can't delete monitor and monitor was not found. So everything should be ok\r\n");
  EXPECT_EQ(ctx_.ErrorCount, 0);
  EXPECT_TRUE(winsim::FileExists(kMonitorPath)) << "no file deletion";
}

TEST_F(MonitorTest, NotFoundInTheListButRemovedByTheSpooler) {
  // The enumeration failed, so the list is empty, yet the monitor is there.
  AddMonitor("Morvalente:");
  MakeContext();
  MonitorList empty = {nullptr, 2, 0};
  DeleteMonitor(&ctx_, &empty);
  EXPECT_TRUE(LogHas("  Computing monitor filename\r\n"));
  EXPECT_TRUE(LogHas("  Monitor was removed :)\r\n"));
  EXPECT_FALSE(winsim::FileExists(kMonitorPath));
  EXPECT_TRUE(winsim::M().spooler.monitors.empty());
}

struct BuildRow {
  const char *name;
  int build;        // of the installed file; -2: no file at all
  bool registered;  // the monitor is in the list
  std::string gateLines;
  bool kept;
};

TEST_F(MonitorTest, TheBuildGateKeepsACompatibleMonitor) {
  const std::string unknown = "  Version is unknown, proceed with reinstall\r\n";
  const std::vector<BuildRow> rows = {
      {"2451 found", 2451, true,
       "  Version (2451) is compatible, proceed without uninstall\r\n  InstallMonitor == 0, CopyMonitor == "
       "1\r\n",
       true},
      {"2563 found", 2563, true,
       "  Version (2563) is compatible, proceed without uninstall\r\n  InstallMonitor == 0, CopyMonitor == "
       "1\r\n",
       true},
      {"2563 not registered", 2563, false,
       "  Version (2563) is compatible, proceed without uninstall\r\n  InstallMonitor == 1, CopyMonitor == "
       "0\r\n",
       true},
      {"2450", 2450, true, "  Version (2450) is not supported, proceed with reinstall\r\n", false},
      {"2564", 2564, true, "  Version (2564) is not supported, proceed with reinstall\r\n", false},
      {"0", 0, true, "  Version (0) is not supported, proceed with reinstall\r\n", false},
      {"no version resource", -1, true, unknown, false},
      {"no file", -2, true, unknown, false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    if (row.registered) AddMonitor("Morvalente:");
    if (row.build == -2)
      winsim::RemoveHostFile(kMonitorPath);
    else
      PutMonitorFileBuild(row.build);
    MakeContext();
    ctx_.VerifyMonitorVersion = 1;
    DeleteMonitor(&ctx_, Monitors());
    std::string gate =
        "  Auto calculated monitor file name: C:\\Windows\\System32\\gwrmon64.dll\r\n" + row.gateLines;
    EXPECT_TRUE(LogHas(gate)) << Log();
    EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), row.kept ? 0u : 1u);
    if (row.kept) {
      EXPECT_TRUE(winsim::FileExists(kMonitorPath));
      EXPECT_EQ(winsim::M().spooler.monitors.size(), row.registered ? 1u : 0u);
      EXPECT_EQ(Log().substr(Log().size() - row.gateLines.size()), row.gateLines) << "nothing after the gate";
    }
  }
}

TEST_F(MonitorTest, ARefusedRemovalParksThePrintersOnFile) {
  InstallProduct();
  PutPrinter("Gone");                                                // deleted after the snapshot
  PutPrinter("A", "Morvalente printer", "Morvalente:,Morvalente:");  // keeps one port of the monitor
  PutPrinter("Other", "Morvalente printer", "LPT1:");
  MakeContext();
  winsim::M().spooler.printers.erase(winsim::M().spooler.printers.begin());
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_TRUE(
      LogHas("  Can't delete monitor from the first try\r\n"
             "  Can't open printer Gone\r\n"
             "  SetPrinter(A) - ok\r\n"
             "  >Restart Spooler\r\n"))
      << Log();
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 3u);
  EXPECT_EQ(winsim::CallCount("StartServiceW"), 1u) << "one restart, before the third try";
  EXPECT_EQ(ctx_.ErrorCount, 1);
  EXPECT_EQ(Log().substr(Log().rfind("  Error(12)")),
            "  Error(12): Can`t remove the port monitor 'Morvalente:' - (" +
                MachineText(ERROR_PRINT_MONITOR_IN_USE) + ")\r\n");
  EXPECT_TRUE(winsim::FileExists(kMonitorPath)) << "the file stays";
  // Both recorded, in enumeration order; their snapshot texts say "file:" in
  // place of the first "Morvalente:".
  ASSERT_NE(ctx_.RedirectedPrinters, nullptr);
  ASSERT_NE(ctx_.RedirectedPrinters[0], nullptr);
  EXPECT_EQ(U8(ctx_.RedirectedPrinters[0]->pPrinterName), "Gone");
  EXPECT_EQ(U8(ctx_.RedirectedPrinters[0]->pPortName), "file:");
  ASSERT_NE(ctx_.RedirectedPrinters[1], nullptr);
  EXPECT_EQ(U8(ctx_.RedirectedPrinters[1]->pPrinterName), "A");
  EXPECT_EQ(U8(ctx_.RedirectedPrinters[1]->pPortName), "file:,Morvalente:");
  EXPECT_EQ(ctx_.RedirectedPrinters[2], nullptr);
  EXPECT_EQ(FindPrinter("A")->portName, "file:,Morvalente:");
  EXPECT_EQ(FindPrinter("Other")->portName, "LPT1:");
}

TEST_F(MonitorTest, TheSecondTryAfterParkingSucceedsWithoutARestart) {
  InstallProduct();
  PutPrinter("A", "Morvalente printer", "LPT1:,Morvalente:");
  PutPrinter("B");
  MakeContext();
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_TRUE(
      LogHas("  Can't delete monitor from the first try\r\n"
             "  SetPrinter(A) - ok\r\n"
             "  SetPrinter(B) - ok\r\n"
             "  Monitor was removed :)\r\n"))
      << Log();
  EXPECT_EQ(FindPrinter("A")->portName, "LPT1:,file:");
  EXPECT_EQ(FindPrinter("B")->portName, "file:");
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 2u);
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
  EXPECT_FALSE(winsim::FileExists(kMonitorPath));
  EXPECT_EQ(ctx_.ErrorCount, 0);
}

TEST_F(MonitorTest, NoPrintersAndARefusedRemoval) {
  AddMonitor("Morvalente:");
  MakeContext();
  winsim::AddFault("DeleteMonitorW", ERROR_ACCESS_DENIED, 1, 1, true);
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_EQ(ctx_.RedirectedPrinters, nullptr);
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 3u);
  EXPECT_EQ(winsim::CallCount("StartServiceW"), 1u) << "one restart";
  EXPECT_EQ(ctx_.ErrorCount, 1);
  EXPECT_TRUE(winsim::FileExists(kMonitorPath));
}

TEST_F(MonitorTest, AStillLoadedFileIsRemembered) {
  AddMonitor("Morvalente:");
  winsim::M().spooler.monitorDllStaysLoaded = true;
  MakeContext();
  DeleteMonitor(&ctx_, Monitors());
  EXPECT_TRUE(LogHas("  Monitor was removed :)\r\n"));
  EXPECT_TRUE(winsim::FileExists(kMonitorPath));
  ASSERT_NE(ctx_.LockedFiles, nullptr);
  EXPECT_EQ(U8(ctx_.LockedFiles->Path), kMonitorPath);
  EXPECT_EQ(ctx_.LockedFiles->Next, nullptr);
}

// ---------------------------------------------------------------------------
// AddMonitor
// ---------------------------------------------------------------------------

TEST_F(MonitorTest, CopiesRegistersAndLoads) {
  MakeContext();
  ::AddMonitor(&ctx_);
  EXPECT_EQ(Log(),
            ">AddMonitor\r\n"
            "  Copy monitor file\r\n"
            "  >CopyFile gwrmon64.dll to C:\\Windows\\System32\\ [0])\r\n"
            "    Copy Succeeded :)\r\n"
            "  AddMonitor - OK :)\r\n");
  EXPECT_TRUE(winsim::FileExists(kMonitorPath));
  ASSERT_EQ(winsim::M().spooler.monitors.size(), 1u);
  EXPECT_EQ(winsim::M().spooler.monitors[0].name, "Morvalente:");
  EXPECT_EQ(winsim::M().spooler.monitors[0].dll, "gwrmon64.dll");
  EXPECT_TRUE(winsim::M().spooler.monitors[0].loaded);
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u) << "no restart";
}

TEST_F(MonitorTest, SkipsTheCopyWhenTold) {
  PutMonitorFileBuild(2500);
  MakeContext();
  ctx_.CopyMonitor = 0;
  ::AddMonitor(&ctx_);
  EXPECT_EQ(Log(), ">AddMonitor\r\n  Skip copy monitor file\r\n  AddMonitor - OK :)\r\n");
  EXPECT_EQ(winsim::CallCount("CreateFileW"), 0u);
}

TEST_F(MonitorTest, ALoadedOldFileIsCopiedWithTheSpoolerStopped) {
  // The old monitor stays loaded after its removal until the spooler stops.
  AddMonitor("Morvalente:");
  PutMonitorFileBuild(2000);
  winsim::M().spooler.monitorDllStaysLoaded = true;
  ASSERT_TRUE(DeleteMonitorW(nullptr, nullptr, (LPWSTR)u"Morvalente:"));
  MakeContext();
  ::AddMonitor(&ctx_);
  EXPECT_TRUE(LogHas("  >CopyFile gwrmon64.dll to C:\\Windows\\System32\\ [0])\r\n")) << Log();
  EXPECT_TRUE(LogHas(">Restart Spooler"));
  EXPECT_TRUE(LogHas("  >CopyFile gwrmon64.dll to C:\\Windows\\System32\\ [1])\r\n"));
  EXPECT_TRUE(LogHas("  AddMonitor - OK :)\r\n"));
  EXPECT_EQ(ctx_.ErrorCount, 0) << "the first copy reports nothing";
  EXPECT_EQ(BuildNumber(u"C:\\Windows\\System32\\gwrmon64.dll"), 2563) << "the new file is in place";
}

TEST_F(MonitorTest, BothCopiesFailAndRegistrationIsStillTried) {
  winsim::RemoveHostFile(std::string(kInstallerDir) + "\\gwrmon64.dll");
  MakeContext();
  ::AddMonitor(&ctx_);
  EXPECT_TRUE(LogHas("Error(10): Cant't open source file: gwrmon64.dll")) << Log();
  EXPECT_EQ(winsim::CallCount("AddMonitorW"), 5u);
  EXPECT_TRUE(LogHas("Error(11): Can`t install a local port monitor'Morvalente:' - (" +
                     MachineText(ERROR_MOD_NOT_FOUND) + ")\r\n"));
  EXPECT_EQ(ctx_.ErrorCount, 2);
}

struct TriesRow {
  const char *name;
  uint32_t refusals;  // AddMonitorW calls refused before one succeeds; 5: never
  size_t failLines;
  uint64_t waitedMs;
  bool added;
};

TEST_F(MonitorTest, RegistrationIsTriedFiveTimes) {
  const std::string failLine = "  AddMonitor - failed. Trying to wait and install again\r\n";
  const std::vector<TriesRow> rows = {
      {"first try", 0, 0, 0, true},
      {"third try", 2, 2, 100, true},
      {"never", 5, 5, 200, false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    PutDriver("Morvalente printer");
    PutPrinter("A");
    MakeContext();
    // A printer parked by the removal: it gets its port back only when the
    // monitor is registered.
    ctx_.RedirectedPrinters = (PRINTER_INFO_2W **)GlobalAlloc(GPTR, 2 * sizeof(PRINTER_INFO_2W *));
    ctx_.RedirectedPrinters[0] = &ctx_.Printers.Entries[0];
    LPWSTR port = ctx_.Printers.Entries[0].pPortName;
    std::u16string parked = u"file:";
    for (size_t i = 0; i <= parked.size(); ++i) port[i] = parked.c_str()[i];
    winsim::M().spooler.printers[0].portName = "file:";
    if (row.refusals > 0) winsim::AddFault("AddMonitorW", ERROR_ACCESS_DENIED, 1, row.refusals);
    uint64_t waitedBefore = winsim::P().waitedMs;

    ::AddMonitor(&ctx_);

    size_t lines = 0;
    for (size_t at = Log().find(failLine); at != std::string::npos; at = Log().find(failLine, at + 1))
      ++lines;
    EXPECT_EQ(lines, row.failLines);
    EXPECT_EQ(winsim::P().waitedMs - waitedBefore, row.waitedMs);
    EXPECT_EQ(LogHas("  AddMonitor - OK :)\r\n"), row.added);
    EXPECT_EQ(ctx_.ErrorCount, row.added ? 0 : 1);
    EXPECT_EQ(FindPrinter("A")->portName, row.added ? "Morvalente:" : "file:");
    EXPECT_EQ(U8(ctx_.Printers.Entries[0].pPortName), row.added ? "Morvalente:" : "file:");
    if (row.added) {
      EXPECT_TRUE(LogHas("  AddMonitor - OK :)\r\n  SetPrinter(A) - ok\r\n"));
    }
  }
}

TEST_F(MonitorTest, NothingFollowsWithoutParkedPrinters) {
  MakeContext();
  ::AddMonitor(&ctx_);
  EXPECT_EQ(Log().substr(Log().size() - 22), "  AddMonitor - OK :)\r\n");
  ctx_.RedirectedPrinters = (PRINTER_INFO_2W **)GlobalAlloc(GPTR, sizeof(PRINTER_INFO_2W *));
  FreeCountedString(&ctx_.Log);
  winsim::M().spooler.monitors.clear();
  ::AddMonitor(&ctx_);
  EXPECT_EQ(Log().substr(Log().size() - 22), "  AddMonitor - OK :)\r\n");
}

TEST_F(MonitorTest, AParkedPortComesBackWithTheTextAroundIt) {
  AddMonitor("Morvalente:");
  PutDriver("Morvalente printer");
  PutPrinter("A", "Morvalente printer", "LPT1:,Morvalente:,COM1:");
  MakeContext();
  const std::u16string before = (const char16_t *)ctx_.Printers.Entries[0].pPortName;
  DeleteMonitor(&ctx_, Monitors());
  ASSERT_TRUE(LogHas("  Monitor was removed :)\r\n")) << Log();
  EXPECT_EQ(FindPrinter("A")->portName, "LPT1:,file:,COM1:");
  ::AddMonitor(&ctx_);
  EXPECT_EQ(std::u16string((const char16_t *)ctx_.Printers.Entries[0].pPortName), before);
  EXPECT_EQ(FindPrinter("A")->portName, "LPT1:,Morvalente:,COM1:");
  EXPECT_EQ(ctx_.ErrorCount, 0);
}

}  // namespace
