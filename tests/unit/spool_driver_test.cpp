// The product's printer driver against winsim's spooler: installation with
// the spooler's own copies of its files, removal with a restart when refused,
// and the "onChkDrv" question about the driver file's build.
#include <functional>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "spool/driver.h"
#include "spool/driver_build.h"
#include "unit/spool_test_support.h"

namespace {

using mrvtest::PutDriver;
using mrvtest::PutPrinter;
using mrvtest::U8;
using spooltest::SpoolTest;

const std::string kInstallerDir = "C:\\Program Files\\Morvalente\\Drivers";
const std::string kDriverDir = "C:\\Windows\\System32\\spool\\drivers\\x64";
const std::string kVersionDir = spooltest::kVersionDir;

class DriverTest : public SpoolTest {
 protected:
  const DriverList *Drivers() {
    list_ = ListDrivers(u"Windows x64");
    return &list_;
  }
  void TearDown() override {
    if (list_.Entries != nullptr) GlobalFree(list_.Entries);
    list_ = DriverList{};
    SpoolTest::TearDown();
  }
  bool LogHas(const std::string &text) const { return Log().find(text) != std::string::npos; }

  DriverList list_ = {};
};

// ---------------------------------------------------------------------------
// AddPrinterDriver
// ---------------------------------------------------------------------------

TEST_F(DriverTest, RegistersAndLeavesOnlyTheSpoolersCopies) {
  MakeContext();
  AddPrinterDriver(&ctx_);
  EXPECT_EQ(Log(),
            ">Add Printer Driver\r\n"
            "  >CopyFile gwrdrv64.dll to " +
                kDriverDir +
                "\\ [1])\r\n    Copy Succeeded :)\r\n"
                "  >CopyFile gwrui64.dll to " +
                kDriverDir +
                "\\ [1])\r\n    Copy Succeeded :)\r\n"
                "  >CopyFile gwrhelp.chm to " +
                kDriverDir +
                "\\ [1])\r\n    Copy Succeeded :)\r\n"
                "  OK :)\r\n");
  ASSERT_EQ(winsim::M().spooler.drivers.size(), 1u);
  const winsim::Driver &d = winsim::M().spooler.drivers[0];
  EXPECT_EQ(d.name, "Morvalente printer");
  EXPECT_EQ(d.environment, "Windows x64");
  EXPECT_EQ(d.driverPath, kVersionDir + "\\gwrdrv64.dll");
  EXPECT_EQ(d.dataFile, kVersionDir + "\\gwrdrv64.dll");
  EXPECT_EQ(d.configFile, kVersionDir + "\\gwrui64.dll");
  EXPECT_EQ(d.helpFile, kVersionDir + "\\gwrhelp.chm");
  EXPECT_EQ(d.mfgName, "Garrowe Software Kft.");
  EXPECT_EQ(d.provider, "Garrowe Software Kft.");
  EXPECT_EQ(d.oemUrl.rfind("http://", 0), 0u);
  for (const char *f : {"gwrdrv64.dll", "gwrui64.dll", "gwrhelp.chm"}) {
    EXPECT_FALSE(winsim::FileExists(kDriverDir + "\\" + f)) << f << ": the installer's copy goes";
    EXPECT_TRUE(winsim::FileExists(kVersionDir + "\\" + f)) << f << ": the spooler's copy stays";
  }
  EXPECT_EQ(ctx_.LockedFiles, nullptr);
  EXPECT_EQ(ctx_.ErrorCount, 0);
}

TEST_F(DriverTest, AMissingHelpFileLeavesTheDriverWithoutOne) {
  winsim::RemoveHostFile(kInstallerDir + "\\gwrhelp.chm");
  MakeContext();
  AddPrinterDriver(&ctx_);
  EXPECT_TRUE(LogHas("  OK :)\r\n")) << Log();
  EXPECT_EQ(ctx_.ErrorCount, 1) << "the copy reports its own error";
  ASSERT_EQ(winsim::M().spooler.drivers.size(), 1u);
  EXPECT_EQ(winsim::M().spooler.drivers[0].helpFile, "");
  EXPECT_FALSE(winsim::FileExists(kDriverDir + "\\gwrdrv64.dll"));
  EXPECT_FALSE(winsim::FileExists(kDriverDir + "\\gwrui64.dll"));
  EXPECT_EQ(ctx_.LockedFiles, nullptr) << "an empty path is not remembered";
}

TEST_F(DriverTest, AMissingConfigurationFileStopsBeforeRegistering) {
  winsim::RemoveHostFile(kInstallerDir + "\\gwrui64.dll");
  MakeContext();
  AddPrinterDriver(&ctx_);
  EXPECT_EQ(winsim::CallCount("AddPrinterDriverExW"), 0u);
  EXPECT_FALSE(LogHas("Error(13)"));
  EXPECT_TRUE(LogHas("Error(10): Cant't open source file: gwrui64.dll"));
  EXPECT_TRUE(winsim::FileExists(kDriverDir + "\\gwrdrv64.dll")) << "the driver file copy stays";
  EXPECT_TRUE(winsim::M().spooler.drivers.empty());
  EXPECT_EQ(ctx_.IndentLevel, 0);
}

TEST_F(DriverTest, ARefusedRegistrationStillDeletesTheCopies) {
  MakeContext();
  winsim::AddFault("AddPrinterDriverExW", ERROR_ACCESS_DENIED);
  AddPrinterDriver(&ctx_);
  EXPECT_EQ(Log().substr(Log().rfind("  Error(13)")),
            "  Error(13): Can`t install a printer driver 'Morvalente printer' - (" +
                MachineText(ERROR_ACCESS_DENIED) + ")\r\n");
  EXPECT_EQ(ctx_.ErrorCount, 1);
  for (const char *f : {"gwrdrv64.dll", "gwrui64.dll", "gwrhelp.chm"})
    EXPECT_FALSE(winsim::FileExists(kDriverDir + "\\" + f)) << f;
}

TEST_F(DriverTest, ACopyThatCannotBeDeletedIsRemembered) {
  MakeContext();
  // The configuration file's copy is held by another process at that moment.
  winsim::AddFault("DeleteFileW", ERROR_SHARING_VIOLATION, NextCall("DeleteFileW", 2));
  AddPrinterDriver(&ctx_);
  ASSERT_NE(ctx_.LockedFiles, nullptr) << Log();
  EXPECT_EQ(U8(ctx_.LockedFiles->Path), kDriverDir + "\\gwrui64.dll");
}

// ---------------------------------------------------------------------------
// DeletePrinterDriver
// ---------------------------------------------------------------------------

TEST_F(DriverTest, NoProductDriverMeansNoSpoolerCall) {
  struct Row {
    const char *name;
    std::function<void()> prepare;
    std::string log;
  };
  const std::vector<Row> rows = {
      {"no drivers", [] {},
       ">DeletePrinterDriver for Windows x64\r\n  BTW, there is no printer drivers on this system.\r\n"
       "  No Morvalente driver was found\r\n"},
      {"other drivers",
       [] {
         PutDriver("Morvalente Printer");
         PutDriver("Other printer");
       },
       ">DeletePrinterDriver for Windows x64\r\n  ------------ 2 existing drivers-----------\r\n"
       "  1. Morvalente Printer\r\n  2. Other printer\r\n  -------------------------------------------\r\n"
       "  No Morvalente driver was found\r\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.prepare();
    MakeContext();
    DeletePrinterDriver(&ctx_, Drivers());
    EXPECT_EQ(Log(), row.log);
    EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 0u);
  }
}

TEST_F(DriverTest, RemovesTheDriverWithItsFiles) {
  PutDriver("A");
  PutDriver("B", "Windows x64", "b.dll");
  PutDriver("Morvalente printer");
  winsim::M().spooler.drivers[0].driverPath = kVersionDir + "\\a.dll";
  winsim::M().spooler.drivers[0].dataFile = kVersionDir + "\\a.dll";
  winsim::M().spooler.drivers[0].configFile = kVersionDir + "\\a-ui.dll";
  winsim::M().spooler.drivers[1].configFile = kVersionDir + "\\b-ui.dll";
  winsim::WriteHostFile(kVersionDir + "\\gwrdrv64.dll", "driver");
  winsim::WriteHostFile(kVersionDir + "\\gwrui64.dll", "ui");
  MakeContext();
  DeletePrinterDriver(&ctx_, Drivers());
  EXPECT_EQ(Log(),
            ">DeletePrinterDriver for Windows x64\r\n  ------------ 3 existing drivers-----------\r\n"
            "  1. A\r\n  2. B\r\n  3. Morvalente printer\r\n  -------------------------------------------\r\n"
            "  Driver is found. Index=3\r\n  OK :)\r\n");
  EXPECT_EQ(winsim::M().spooler.drivers.size(), 2u);
  EXPECT_FALSE(winsim::FileExists(kVersionDir + "\\gwrdrv64.dll"));
  EXPECT_FALSE(winsim::FileExists(kVersionDir + "\\gwrui64.dll"));
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u) << "no restart";
}

TEST_F(DriverTest, ARefusedRemovalIsTriedOnceMoreAfterARestart) {
  struct Row {
    const char *name;
    uint32_t refusals;
    LONG errors;
    bool removed;
  };
  const std::vector<Row> rows = {{"second try succeeds", 1, 0, true}, {"both refused", 2, 1, false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    PutDriver("Morvalente printer");
    MakeContext();
    winsim::AddFault("DeletePrinterDriverExW", ERROR_ACCESS_DENIED, 1, row.refusals);
    DeletePrinterDriver(&ctx_, Drivers());
    EXPECT_TRUE(
        LogHas("  Driver is found. Index=1\r\n  Can't delete driver. Trying to restart spooler\r\n"
               "  >Restart Spooler\r\n"))
        << Log();
    EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 2u);
    EXPECT_EQ(winsim::CallCount("StartServiceW"), 1u);
    EXPECT_EQ(ctx_.ErrorCount, row.errors);
    EXPECT_EQ(winsim::M().spooler.drivers.empty(), row.removed);
    if (row.removed) {
      EXPECT_EQ(Log().substr(Log().size() - 9), "  OK :)\r\n");
    } else {
      EXPECT_EQ(Log().substr(Log().rfind("  Error(14)")),
                "  Error(14): Can`t remove the printer-driver 'Morvalente printer' - (" +
                    MachineText(ERROR_ACCESS_DENIED) + ")\r\n");
    }
  }
}

TEST_F(DriverTest, ADriverPrintersStillUseIsRefusedTwice) {
  PutDriver("Morvalente printer");
  PutPrinter("Office", "Morvalente printer", "LPT1:");
  MakeContext();
  DeletePrinterDriver(&ctx_, Drivers());
  EXPECT_TRUE(LogHas("Error(14): Can`t remove the printer-driver 'Morvalente printer' - (" +
                     MachineText(ERROR_PRINTER_DRIVER_IN_USE) + ")\r\n"))
      << Log();
  EXPECT_EQ(winsim::M().spooler.drivers.size(), 1u);
}

// ---------------------------------------------------------------------------
// CheckDriverBuild
// ---------------------------------------------------------------------------

struct BuildRow {
  const char *name;
  std::function<void()> prepare;
  BOOL expected;
};

void DriverFileOfBuild(int build) {
  winsim::WriteHostFile(kVersionDir + "\\gwrdrv64.dll", winsim::MakeComponentFile("gwrdrv64.dll", build));
}

TEST_F(DriverTest, CheckDriverBuildAsksAboutTheFirstProductPrinter) {
  const std::vector<BuildRow> rows = {
      {"no printer of the product",
       [] {
         DriverFileOfBuild(2563);
         PutDriver("Other printer");
         PutPrinter("Morvalente", "Other printer", "LPT1:");
       },
       FALSE},
      {"build 2450",
       [] {
         DriverFileOfBuild(2450);
         PutPrinter("Office");
       },
       FALSE},
      {"build 2451",
       [] {
         DriverFileOfBuild(2451);
         PutPrinter("Office");
       },
       TRUE},
      {"build 2563",
       [] {
         DriverFileOfBuild(2563);
         PutPrinter("Office");
       },
       TRUE},
      {"no version resource",
       [] {
         DriverFileOfBuild(-1);
         PutPrinter("Office");
       },
       FALSE},
      {"driver file gone", [] { PutPrinter("Office"); }, FALSE},
      {"first product printer unreachable, the second not asked",
       [] {
         DriverFileOfBuild(2563);
         PutPrinter("First");
         PutPrinter("Second");
         winsim::AddFault("OpenPrinterW", ERROR_ACCESS_DENIED);
       },
       FALSE},
      {"driver not installed for x64",
       [] {
         DriverFileOfBuild(2563);
         PutPrinter("Office");
         winsim::M().spooler.drivers[0].environment = "Windows NT x86";
       },
       FALSE},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    PutDriver("Morvalente printer");
    row.prepare();
    EXPECT_EQ(CheckDriverBuild(), row.expected);
    EXPECT_LE(winsim::CallCount("OpenPrinterW"), 1u);
  }
}

}  // namespace
