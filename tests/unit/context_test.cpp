// InitContext on prepared machines: the spooler check and its wait, the
// environment and the driver directory, the module and system directories,
// the printer list with the default printer marked, and the release of
// everything the context owns.
#include "app/context.h"

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/log.h"
#include "support/run_context.h"

namespace {

using mrvtest::U8;

const std::string kDriverDir64 = "C:\\Windows\\System32\\spool\\drivers\\x64";
const std::string kFirstLines = "Morvalente 2563\r\n>Check Spooler\r\n";
const std::string kDirLines =
    "PrinterDriverDirectory(1):" + kDriverDir64 + "\r\nPrinterDriverDirectory(2):" + kDriverDir64 + "\\\r\n";

winsim::Service &Spooler() {
  for (auto &s : winsim::M().services)
    if (s.name == "spooler") return s;
  throw std::runtime_error("no spooler service");
}

class ContextTest : public mrvtest::ContextTest {
 protected:
  void SetUp() override {
    mrvtest::ContextTest::SetUp();
    ProgramInstance = GetModuleHandleW(nullptr);
  }

  static winsim::Printer MakePrinter(const std::string &name, bool connection = false) {
    winsim::Printer p;
    p.name = name;
    p.portName = "LPT1:";
    p.driverName = "Some driver";
    p.connection = connection;
    return p;
  }

  static std::string Text(CountedString s) { return U8(CountedStringText(s)); }
};

struct InitRow {
  const char *name;
  std::function<void(ContextTest *)> prepare;
  std::function<std::string()> log;  // built after prepare, when the machine's texts are known
  LONG errors;
  uint64_t waitedMs;
  size_t startCalls;
  std::string driverDir;
  std::string systemDir;
};

TEST_F(ContextTest, InitContextPreparesTheRun) {
  auto none = [](ContextTest *) {};
  const std::vector<InitRow> rows = {
      {"spooler running", none, [] { return kFirstLines + kDirLines; }, 0, 0, 0, kDriverDir64 + "\\",
       "C:\\Windows\\System32\\"},
      {"driver directory reported with its trailing backslash",
       [](ContextTest *t) { winsim::M().spooler.driverDirText = "D:\\Drivers\\"; },
       [] {
         return kFirstLines +
                "PrinterDriverDirectory(1):D:\\Drivers\\\r\nPrinterDriverDirectory(2):D:\\Drivers\\\r\n";
       },
       0, 0, 0, "D:\\Drivers\\", "C:\\Windows\\System32\\"},
      {"spooler stopped, starts within the limit",
       [](ContextTest *t) {
         Spooler().state = SERVICE_STOPPED;
         Spooler().startDelayMs = 3000;
       },
       [] { return kFirstLines + kDirLines; }, 0, 3000, 1, kDriverDir64 + "\\", "C:\\Windows\\System32\\"},
      {"spooler stopped, starts at the last poll",
       [](ContextTest *t) {
         Spooler().state = SERVICE_STOPPED;
         Spooler().startDelayMs = 10000;
       },
       [] { return kFirstLines + kDirLines; }, 0, 10000, 1, kDriverDir64 + "\\", "C:\\Windows\\System32\\"},
      {"spooler never starts",
       [](ContextTest *t) {
         Spooler().state = SERVICE_STOPPED;
         Spooler().neverStarts = true;
       },
       [] {
         return kFirstLines + "  Error(4): Can't start the spooler\r\n" +
                "Error(6): Can`t retrieve printer driver directory. - (" +
                MachineText(RPC_S_SERVER_UNAVAILABLE) + ")\r\n";
       },
       2, 10000, 1, "", "C:\\Windows\\System32\\"},
      {"service manager cannot be opened", [](ContextTest *) { winsim::M().scmUnopenable = true; },
       [] {
         return kFirstLines + "  Error(1): Can't open service manager. - (" +
                MachineText(ERROR_ACCESS_DENIED) + ")\r\n" + kDirLines;
       },
       1, 0, 0, kDriverDir64 + "\\", "C:\\Windows\\System32\\"},
      {"spooler service cannot be opened", [](ContextTest *t) { Spooler().unopenable = true; },
       [] {
         return kFirstLines + "  Error(2): Can't open the spooler - (" + MachineText(ERROR_ACCESS_DENIED) +
                ")\r\n" + kDirLines;
       },
       1, 0, 0, kDriverDir64 + "\\", "C:\\Windows\\System32\\"},
      {"status query fails: no start, no error",
       [](ContextTest *t) {
         Spooler().state = SERVICE_STOPPED;
         winsim::AddFault("QueryServiceStatus", ERROR_ACCESS_DENIED);
       },
       // The stopped spooler then refuses the directory query.
       [] {
         return kFirstLines + "Error(6): Can`t retrieve printer driver directory. - (" +
                MachineText(RPC_S_SERVER_UNAVAILABLE) + ")\r\n";
       },
       1, 0, 0, "", "C:\\Windows\\System32\\"},
      {"driver directory size query fails",
       [](ContextTest *) { winsim::AddFault("GetPrinterDriverDirectoryW", ERROR_ACCESS_DENIED); },
       [] {
         return kFirstLines + "Error(6): Can`t retrieve printer driver directory. - (" +
                MachineText(ERROR_ACCESS_DENIED) + ")\r\n";
       },
       1, 0, 0, "", "C:\\Windows\\System32\\"},
      {"driver directory second call fails",
       [](ContextTest *) { winsim::AddFault("GetPrinterDriverDirectoryW", ERROR_INVALID_PARAMETER, 2); },
       [] {
         return kFirstLines + "Error(6): Can`t retrieve printer driver directory. - (" +
                MachineText(ERROR_INVALID_PARAMETER) + ")\r\n";
       },
       1, 0, 0, "", "C:\\Windows\\System32\\"},
      {"system directory fails",
       [](ContextTest *) { winsim::AddFault("GetSystemDirectoryW", ERROR_ACCESS_DENIED); },
       [] {
         return kFirstLines + kDirLines + "Error(7): Can`t retrieve system directory. - (" +
                MachineText(ERROR_ACCESS_DENIED) + ")\r\n";
       },
       1, 0, 0, kDriverDir64 + "\\", ""},
      {"system directory already ends in a backslash", [](ContextTest *) { winsim::M().systemDir = "C:\\"; },
       [] { return kFirstLines + kDirLines; }, 0, 0, 0, kDriverDir64 + "\\", "C:\\"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    winsim::BeginProcess(u"install.exe install");
    row.prepare(this);
    InitContext(&ctx_, RunFlag64Bit);
    EXPECT_EQ(Text(ctx_.Log), row.log());
    EXPECT_EQ(ctx_.ErrorCount, row.errors);
    EXPECT_EQ(ctx_.IndentLevel, 0);
    EXPECT_EQ(winsim::P().waitedMs, row.waitedMs);
    EXPECT_EQ(winsim::CallCount("StartServiceW"), row.startCalls);
    EXPECT_EQ(Text(ctx_.DriverDir), row.driverDir);
    EXPECT_EQ(Text(ctx_.SystemDir), row.systemDir);
    EXPECT_EQ(Text(ctx_.ModuleDir), "C:\\Program Files\\Morvalente\\Drivers\\");
    FreeContext(&ctx_);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

TEST_F(ContextTest, SpoolerWaitPollsEvery200msAtMost50Times) {
  Spooler().state = SERVICE_STOPPED;
  Spooler().neverStarts = true;
  ctx_.IndentLevel = 0;
  EXPECT_FALSE(CheckSpooler(&ctx_));
  EXPECT_EQ(winsim::CallCount("Sleep"), 50u);
  EXPECT_EQ(winsim::CallCount("QueryServiceStatus"), 52u);  // CheckSpooler's own, then 51 in the wait
  EXPECT_EQ(winsim::P().waitedMs, 10000u);
  EXPECT_EQ(ctx_.IndentLevel, 0);
  for (const auto &leak : winsim::Leaks()) EXPECT_EQ(leak.rfind("handle", 0), std::string::npos) << leak;
}

TEST_F(ContextTest, RunFlagsAndEnvironment) {
  struct Row {
    const char *name;
    DWORD flags;
    BYTE is64;
    BYTE launchTray;
    std::string environment, monitor, driver, ui, driverDir;
  } rows[] = {
      {"64-bit", 2, 1, 1, "Windows x64", "gwrmon64.dll", "gwrdrv64.dll", "gwrui64.dll", kDriverDir64 + "\\"},
      {"64-bit without tray", 6, 1, 0, "Windows x64", "gwrmon64.dll", "gwrdrv64.dll", "gwrui64.dll",
       kDriverDir64 + "\\"},
      {"32-bit", 0, 0, 1, "Windows NT x86", "gwrmon32.dll", "gwrdrv32.dll", "gwrui32.dll",
       "C:\\Windows\\System32\\spool\\drivers\\W32X86\\"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::BeginProcess(u"install.exe");
    InitContext(&ctx_, row.flags);
    EXPECT_EQ(ctx_.Is64Bit, row.is64);
    EXPECT_EQ(ctx_.LaunchTray, row.launchTray);
    EXPECT_EQ(ctx_.VerifyMonitorVersion, 0);
    EXPECT_EQ(ctx_.InstallMonitor, 1);
    EXPECT_EQ(ctx_.CopyMonitor, 1);
    EXPECT_EQ(U8(ctx_.Environment), row.environment);
    EXPECT_EQ(U8(ctx_.MonitorFile), row.monitor);
    EXPECT_EQ(U8(ctx_.DriverFile), row.driver);
    EXPECT_EQ(U8(ctx_.UiFile), row.ui);
    EXPECT_EQ(U8(ctx_.HelpFile), "gwrhelp.chm");
    EXPECT_EQ(Text(ctx_.DriverDir), row.driverDir);
    EXPECT_EQ(ctx_.RedirectedPrinters, nullptr);
    EXPECT_EQ(ctx_.LockedFiles, nullptr);
    EXPECT_EQ(ctx_.SavedPrinters, nullptr);
    FreeContext(&ctx_);
  }
  // The help file is set even when the directory cannot be had.
  winsim::BeginProcess(u"install.exe");
  winsim::AddFault("GetPrinterDriverDirectoryW", ERROR_ACCESS_DENIED);
  SelectEnvironment(&ctx_, TRUE);
  EXPECT_EQ(U8(ctx_.HelpFile), "gwrhelp.chm");
  EXPECT_EQ(ctx_.DriverDir, nullptr);
}

TEST_F(ContextTest, ModuleDirectory) {
  struct Row {
    const char *name;
    std::string modulePath;
    std::string expected;
  } rows[] = {
      {"backslashes", "C:\\Program Files\\Morvalente\\Drivers\\install.exe",
       "C:\\Program Files\\Morvalente\\Drivers\\"},
      {"forward slashes", "C:/tools/install.exe", "C:/tools/"},
      {"drive colon only", "C:install.exe", "C:"},
      {"no separator at all", "install.exe", ""},
      {"path longer than the buffer", "C:\\" + std::string(300, 'd') + "\\install.exe", ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::BeginProcess(u"install.exe");
    winsim::M().modulePath = row.modulePath;
    InitContext(&ctx_, RunFlag64Bit);
    EXPECT_EQ(Text(ctx_.ModuleDir), row.expected);
    EXPECT_EQ(ctx_.ErrorCount, 0);
    FreeContext(&ctx_);
  }
}

TEST_F(ContextTest, DefaultPrinterIsMarked) {
  struct Row {
    const char *name;
    std::vector<winsim::Printer> printers;
    std::string defaultPrinter;
    std::vector<bool> marked;
  } rows[] = {
      {"no printers", {}, "", {}},
      {"no default printer", {MakePrinter("Office"), MakePrinter("Lab")}, "", {false, false}},
      {"two records with the default's name",
       {MakePrinter("Office"), MakePrinter("Lab"), MakePrinter("Office", true), MakePrinter("office"),
        MakePrinter("Office 2")},
       "Office",
       {true, false, true, false, false}},
      {"default name too long for the buffer",
       {MakePrinter(std::string(300, 'n'))},
       std::string(300, 'n'),
       {false}},
      {"longest name that fits", {MakePrinter(std::string(254, 'n'))}, std::string(254, 'n'), {true}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::BeginProcess(u"install.exe");
    winsim::M().spooler.printers = row.printers;
    winsim::M().spooler.defaultPrinter = row.defaultPrinter;
    InitContext(&ctx_, RunFlag64Bit);
    ASSERT_EQ(ctx_.Printers.Count, row.marked.size());
    if (row.marked.empty()) {
      EXPECT_EQ(ctx_.Printers.Entries, nullptr);
    }
    for (size_t i = 0; i < row.marked.size(); ++i) {
      const PRINTER_INFO_2W &rec = ctx_.Printers.Entries[i];
      EXPECT_EQ(U8(rec.pPrinterName), row.printers[i].name);
      EXPECT_EQ((rec.Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0, row.marked[i]) << "record " << i;
    }
    EXPECT_EQ(Text(ctx_.Log), kFirstLines + kDirLines) << "printers are not logged";
    FreeContext(&ctx_);
  }
}

TEST_F(ContextTest, PrinterListFailuresGiveAnEmptyList) {
  winsim::M().spooler.printers = {MakePrinter("Office"), MakePrinter("Lab")};
  struct Row {
    const char *name;
    const char *call;
    DWORD error;
    uint32_t nth;
    DWORD lastErrorAfter;  // 0: not checked
  } rows[] = {
      {"size query fails", "EnumPrintersW", ERROR_ACCESS_DENIED, 1, 0},
      {"second call fails", "EnumPrintersW", ERROR_INSUFFICIENT_BUFFER, 2, 0},
      {"no memory for the records", "GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, (DWORD)E_OUTOFMEMORY},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::BeginProcess(u"install.exe");
    winsim::ClearFaults();
    winsim::AddFault(row.call, row.error, row.nth);
    PrinterList list = {};
    LoadPrinterList(&list);
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(list.Entries, nullptr);
    if (row.lastErrorAfter != 0) {
      EXPECT_EQ(GetLastError(), row.lastErrorAfter);
    }
    EXPECT_TRUE(winsim::Leaks().empty());
  }
  winsim::ClearFaults();
  // A loaded list is replaced, not added to, by a second load.
  winsim::BeginProcess(u"install.exe");
  PrinterList list = {};
  LoadPrinterList(&list);
  EXPECT_EQ(list.Count, 2u);
  winsim::M().spooler.printers.pop_back();
  LoadPrinterList(&list);
  EXPECT_EQ(list.Count, 1u);
  // The block is the size the spooler asked for plus 32 spare bytes.
  std::string needed, allocated;
  for (auto &e : winsim::P().journal) {
    const std::string prefix = "error 122 needed ";
    if (e.call == "EnumPrintersW" && e.result.rfind(prefix, 0) == 0) needed = e.result.substr(prefix.size());
    if (e.call == "GlobalAlloc") allocated = e.args;
  }
  ASSERT_FALSE(needed.empty());
  EXPECT_EQ(allocated, std::to_string(std::stoul(needed) + 32));
  FreePrinterList(&list);
  EXPECT_EQ(list.Entries, nullptr);
  EXPECT_EQ(list.Count, 0u);
}

TEST_F(ContextTest, FreeContextReleasesEveryList) {
  winsim::M().spooler.printers = {MakePrinter("Office"), MakePrinter("Lab")};
  InitContext(&ctx_, RunFlag64Bit);
  ASSERT_EQ(ctx_.Printers.Count, 2u);

  // Three locked paths, two remembered printers (one without a settings
  // name) and a redirection array, built as their owners build them.
  for (const char16_t *path : {u"C:\\a.dll", u"C:\\b.dll", u"C:\\c.dll"}) {
    auto *node = static_cast<LockedFileNode *>(GlobalAlloc(GPTR, sizeof(LockedFileNode)));
    node->Path = static_cast<LPWSTR>(GlobalAlloc(GPTR, (lstrlenW(path) + 1) * sizeof(WCHAR)));
    lstrcpyW(node->Path, path);
    node->Next = ctx_.LockedFiles;
    ctx_.LockedFiles = node;
  }
  for (int i = 0; i < 2; ++i) {
    auto *node = static_cast<SavedPrinter *>(GlobalAlloc(GPTR, sizeof(SavedPrinter)));
    if (i == 0) {
      node->SettingsName = static_cast<LPSTR>(GlobalAlloc(GPTR, 6));
      memcpy(node->SettingsName, "Prn01", 6);
    }
    node->Printer = &ctx_.Printers.Entries[i];
    node->Next = ctx_.SavedPrinters;
    ctx_.SavedPrinters = node;
  }
  ctx_.RedirectedPrinters = static_cast<PRINTER_INFO_2W **>(
      GlobalAlloc(GPTR, (ctx_.Printers.Count + 1) * sizeof(PRINTER_INFO_2W *)));
  ctx_.RedirectedPrinters[0] = &ctx_.Printers.Entries[1];

  FreeContext(&ctx_);
  EXPECT_EQ(ctx_.LockedFiles, nullptr);
  EXPECT_EQ(ctx_.SavedPrinters, nullptr);
  EXPECT_EQ(ctx_.RedirectedPrinters, nullptr);
  EXPECT_EQ(ctx_.Printers.Entries, nullptr);
  EXPECT_EQ(ctx_.Printers.Count, 0u);
  EXPECT_EQ(ctx_.Log, nullptr);
  EXPECT_EQ(ctx_.ModuleDir, nullptr);
  EXPECT_EQ(ctx_.SystemDir, nullptr);
  EXPECT_EQ(ctx_.DriverDir, nullptr);
  EXPECT_TRUE(winsim::Leaks().empty());

  // The two list releases on their own, including empty lists.
  LockedFileNode *empty = nullptr;
  ClearLockedFileList(&empty);
  EXPECT_EQ(empty, nullptr);
  FreeSavedPrinterChain(nullptr);
}

}  // namespace
