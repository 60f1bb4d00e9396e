// The product's printers across a run: settings names read and written as
// printer data, single printers deleted and added with their log lines, all
// product printers remembered and deleted, and re-created with their names,
// settings names, comments, locations and default status.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/run_lists.h"
#include "spool/printers.h"
#include "unit/spool_test_support.h"

namespace {

using mrvtest::FindPrinter;
using mrvtest::PutDriver;
using mrvtest::PutPrinter;
using mrvtest::PutPrinterData;
using mrvtest::U8;
using spooltest::SpoolTest;

const char kSettingsKey[] = "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\";

std::string ErrorLine(int code, const std::string &message, const std::string &systemText) {
  return "Error(" + std::to_string(code) + "): " + message + " - (" + systemText + ")\r\n";
}

class PrintersTest : public SpoolTest {
 protected:
  // The value "deleted" under a printer's per-user settings key.
  static void MarkDeleted(const std::string &settingsName) {
    winsim::SetRegRaw(kSettingsKey + settingsName, "deleted", REG_DWORD, {1, 0, 0, 0});
  }
  static bool DeletedMarkThere(const std::string &settingsName) {
    return winsim::GetRegValue(kSettingsKey + settingsName, "deleted") != nullptr;
  }
  static std::string Data(const std::string &printer, const std::string &key) {
    winsim::Printer *p = FindPrinter(printer);
    if (p == nullptr) return "(no printer)";
    auto k = p->data.find(key);
    if (k == p->data.end()) return "(no key)";
    auto v = k->second.find("subkey");
    if (v == k->second.end()) return "(no value)";
    if (v->second.type != REG_SZ) return "(type " + std::to_string(v->second.type) + ")";
    return std::string(v->second.data.begin(), v->second.data.end());
  }
  static HANDLE Open(const char16_t *name, DWORD access = PRINTER_ALL_ACCESS) {
    PRINTER_DEFAULTSW d = {nullptr, nullptr, access};
    HANDLE h = nullptr;
    OpenPrinterW((LPWSTR)name, &h, &d);
    return h;
  }
};

// ---------------------------------------------------------------------------
// Settings names as printer data
// ---------------------------------------------------------------------------

struct ReadRow {
  const char *name;
  std::function<void(winsim::Printer &)> prepare;
  std::string expected;
};

TEST_F(PrintersTest, ReadSubKeyTakesTheFirstFittingStringOfTheTwoPlaces) {
  const std::string name63(63, 'n');
  const std::string name64(64, 'n');
  const std::vector<ReadRow> rows = {
      {"plain value",
       [](winsim::Printer &p) { PutPrinterData(p, "", "SubKey", REG_SZ, std::string("plain\0", 6)); },
       "plain"},
      {"plain value before the keyed one",
       [](winsim::Printer &p) {
         PutPrinterData(p, "", "SubKey", REG_SZ, std::string("plain\0", 6));
         PutPrinterData(p, "DsUser", "SubKey", REG_SZ, std::string("keyed\0", 6));
       },
       "plain"},
      {"keyed value only",
       [](winsim::Printer &p) { PutPrinterData(p, "DsUser", "SubKey", REG_SZ, std::string("keyed\0", 6)); },
       "keyed"},
      {"plain value of another type",
       [](winsim::Printer &p) {
         PutPrinterData(p, "", "SubKey", REG_BINARY, "0123456789");
         PutPrinterData(p, "DsUser", "SubKey", REG_SZ, "ab");  // stored without its terminator
       },
       "ab"},
      {"63 characters fit",
       [&](winsim::Printer &p) { PutPrinterData(p, "", "SubKey", REG_SZ, name63 + std::string(1, '\0')); },
       name63},
      {"64 characters read as absent",
       [&](winsim::Printer &p) {
         PutPrinterData(p, "", "SubKey", REG_SZ, name64 + std::string(1, '\0'));
         PutPrinterData(p, "DsUser", "SubKey", REG_SZ, name64 + std::string(1, '\0'));
       },
       ""},
      {"too long plain, fitting keyed",
       [&](winsim::Printer &p) {
         PutPrinterData(p, "", "SubKey", REG_SZ, name64 + std::string(1, '\0'));
         PutPrinterData(p, "DsUser", "SubKey", REG_SZ, std::string("keyed\0", 6));
       },
       "keyed"},
      {"keyed value of another type",
       [](winsim::Printer &p) { PutPrinterData(p, "DsUser", "SubKey", REG_DWORD, "abcd"); }, ""},
      {"none", [](winsim::Printer &) {}, ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    InstallProduct();
    row.prepare(PutPrinter("Office"));
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW((LPWSTR)u"Office", &h, nullptr));
    char buffer[260];
    std::memset(buffer, 0, sizeof buffer);
    ReadSubKey(h, buffer);
    EXPECT_EQ(std::string(buffer), row.expected);
    ClosePrinter(h);
  }
}

TEST_F(PrintersTest, WriteSubKeyWritesBothPlacesAndAnswersForTheKeyedOne) {
  struct Row {
    const char *name;
    const char *faultCall;  // null: none
    BOOL expected;
    std::string plain, keyed;
  };
  const std::vector<Row> rows = {
      {"both written", nullptr, TRUE, std::string("set-1\0", 6), std::string("set-1\0", 6)},
      {"plain refused", "SetPrinterDataA", TRUE, "(no key)", std::string("set-1\0", 6)},
      {"keyed refused", "SetPrinterDataExA", FALSE, std::string("set-1\0", 6), "(no key)"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    InstallProduct();
    PutPrinter("Office");
    HANDLE h = Open(u"Office");
    ASSERT_NE(h, nullptr);
    if (row.faultCall) winsim::AddFault(row.faultCall, ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteSubKey(h, "set-1"), row.expected);
    EXPECT_EQ(Data("Office", ""), row.plain);
    EXPECT_EQ(Data("Office", "dsuser"), row.keyed);
    ClosePrinter(h);
  }
}

TEST_F(PrintersTest, ClearDeletedMarkDeletesTheValueUnderTheSettingsRoot) {
  MarkDeleted("set-1");
  EXPECT_TRUE(ClearDeletedMark("Morvalentes\\set-1"));
  EXPECT_FALSE(DeletedMarkThere("set-1"));
  EXPECT_NE(winsim::FindKey(kSettingsKey + std::string("set-1")), nullptr) << "the key itself stays";
  EXPECT_FALSE(ClearDeletedMark("Morvalentes\\set-1")) << "no value left";
  EXPECT_FALSE(ClearDeletedMark("Morvalentes\\unknown")) << "no such key";
  // A long path is used whole, never cut.
  const std::string longName(200, 'x');
  MarkDeleted(longName);
  EXPECT_TRUE(ClearDeletedMark(("Morvalentes\\" + longName).c_str()));
  EXPECT_FALSE(DeletedMarkThere(longName));
}

// ---------------------------------------------------------------------------
// DeletePrinter and AddPrinter
// ---------------------------------------------------------------------------

TEST_F(PrintersTest, DeletePrinterLogsItsOutcome) {
  struct Row {
    const char *name;
    std::function<void()> prepare;
    const char16_t *printer;
    std::function<std::string()> log;
    LONG errors;
    bool printerStays;
  };
  const std::vector<Row> rows = {
      {"deleted", [] {}, u"Office", [] { return std::string(">DeletePrinter(Office)\r\n  OK\r\n"); }, 0,
       false},
      {"deleted with its jobs", [] { FindPrinter("Office")->cJobs = 3; }, u"Office",
       [] { return std::string(">DeletePrinter(Office)\r\n  OK\r\n"); }, 0, false},
      {"unknown printer", [] {}, u"Nobody",
       [] {
         return ">DeletePrinter(Nobody)\r\n  " +
                ErrorLine(16, "Can`t open printer 'Nobody'", MachineText(ERROR_INVALID_PRINTER_NAME));
       },
       1, true},
      {"deletion refused", [] { winsim::AddFault("DeletePrinter", ERROR_ACCESS_DENIED); }, u"Office",
       [] {
         return ">DeletePrinter(Office)\r\n  " +
                ErrorLine(17, "Can`t delete printer 'Office'", MachineText(ERROR_ACCESS_DENIED));
       },
       1, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    InstallProduct();
    PutPrinter("Office");
    row.prepare();
    DeletePrinter(&ctx_, row.printer);
    EXPECT_EQ(Log(), row.log());
    EXPECT_EQ(ctx_.ErrorCount, row.errors);
    EXPECT_EQ(ctx_.IndentLevel, 0);
    EXPECT_EQ(FindPrinter("Office") != nullptr, row.printerStays);
  }
}

TEST_F(PrintersTest, DeletePrinterOpensWithDeleteAndAdministerAccess) {
  InstallProduct();
  PutPrinter("Office");
  DeletePrinter(&ctx_, u"Office");
  EXPECT_EQ(mrvtest::CallArgs("OpenPrinterW"), std::vector<std::string>{"Office access 65540"});
}

TEST_F(PrintersTest, NoNameShowsAStar) {
  InstallProduct();
  PutPrinter("Office");
  DeletePrinter(&ctx_, nullptr);
  EXPECT_EQ(Log().substr(0, 18), ">DeletePrinter(*)\r");
  EXPECT_NE(FindPrinter("Office"), nullptr);
  FreeContext(&ctx_);
  ctx_ = InstallContext{};
  HANDLE h = ::AddPrinter(&ctx_, nullptr);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(Log().substr(0, 15), ">AddPrinter(*)\r");
  EXPECT_EQ(ctx_.ErrorCount, 1);
}

TEST_F(PrintersTest, AddPrinterChecksTheMonitorsAndAddsInEveryCase) {
  struct Row {
    const char *name;
    std::function<void()> prepare;
    std::function<std::string()> log;
    bool added;
  };
  const std::vector<Row> rows = {
      {"monitor there", [] { InstallProduct(); },
       [] {
         return std::string(
             ">AddPrinter(New)\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n  OK :)\r\n");
       },
       true},
      {"only other monitors",
       [] {
         PutDriver("Morvalente printer");
         AddMonitor("Local Port", "localspl.dll");
         AddMonitor("Morvalente", "other.dll");
       },
       [] {
         return ">AddPrinter(New)\r\n  Let's check our port monitors\r\n"
                "  No Morvalente port monitor was found.\r\n"
                "  ------- 2 existing monitors ----------\r\n  1. Local Port\r\n  2. Morvalente\r\n"
                "  ---------------------------------------\r\n  " +
                ErrorLine(15, "Can`t add printer 'New'", MachineText(ERROR_UNKNOWN_PORT));
       },
       false},
      // The spooler knows ports without regard to case: a monitor of the name
      // in other letters provides the port, though it is not the product's.
      {"the monitor's name in other case",
       [] {
         PutDriver("Morvalente printer");
         AddMonitor("MORVALENTE:", "other.dll");
       },
       [] {
         return std::string(
             ">AddPrinter(New)\r\n  Let's check our port monitors\r\n"
             "  No Morvalente port monitor was found.\r\n"
             "  ------- 1 existing monitors ----------\r\n  1. MORVALENTE:\r\n"
             "  ---------------------------------------\r\n  OK :)\r\n");
       },
       true},
      {"no monitors at all", [] { PutDriver("Morvalente printer"); },
       [] {
         return ">AddPrinter(New)\r\n  Let's check our port monitors\r\n  1. EnumMonitors returns true\r\n"
                "  No Morvalente port monitor was found.\r\n"
                "  BTW, there is no port monitors on this system.\r\n  " +
                ErrorLine(15, "Can`t add printer 'New'", MachineText(ERROR_UNKNOWN_PORT));
       },
       false},
      {"monitor there, driver missing", [] { AddMonitor("Morvalente:"); },
       [] {
         return ">AddPrinter(New)\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n  " +
                ErrorLine(15, "Can`t add printer 'New'", MachineText(ERROR_UNKNOWN_PRINTER_DRIVER));
       },
       false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.prepare();
    HANDLE h = ::AddPrinter(&ctx_, u"New");
    EXPECT_EQ(Log(), row.log());
    EXPECT_EQ(h != nullptr, row.added);
    EXPECT_EQ(winsim::CallCount("AddPrinterW"), 1u) << "submitted in every case";
    if (h != nullptr) {
      const winsim::Printer *p = FindPrinter("New");
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->portName, "Morvalente:");
      EXPECT_EQ(p->driverName, "Morvalente printer");
      EXPECT_EQ(p->printProcessor, "WinPrint");
      EXPECT_EQ(p->comment, "");
      EXPECT_EQ(p->location, "");
      ClosePrinter(h);
    }
  }
}

// ---------------------------------------------------------------------------
// DeleteAllPrinters and RecreatePrinters
// ---------------------------------------------------------------------------

TEST_F(PrintersTest, DeleteAllPrintersRemembersAndDeletesOnlyTheProducts) {
  InstallProduct();
  PutDriver("Other printer");
  PutPrinterData(PutPrinter("A"), "", "SubKey", REG_SZ, std::string("set-a\0", 6));
  PutPrinter("B", "Other printer");       // another driver on our port
  PutPrinter("C", "morvalente printer");  // the driver's name in other case
  PutPrinter("D");                        // no settings name
  PutPrinterData(PutPrinter("E"), "", "SubKey", REG_SZ, std::string(64, 'e') + '\0');      // too long
  PutPrinterData(PutPrinter("F"), "DsUser", "SubKey", REG_SZ, std::string("set-f\0", 6));  // keyed copy only
  LoadPrinterList(&ctx_.Printers);
  ctx_.IndentLevel = 1;

  DeleteAllPrinters(&ctx_);

  EXPECT_EQ(Log(),
            "  >DeleteAllPrinters\r\n"
            "    >DeletePrinter(A)\r\n      OK\r\n"
            "    >DeletePrinter(D)\r\n      OK\r\n"
            "    >DeletePrinter(E)\r\n      OK\r\n"
            "    >DeletePrinter(F)\r\n      OK\r\n");
  EXPECT_EQ(ctx_.IndentLevel, 1);
  std::vector<std::string> left;
  for (auto &p : winsim::M().spooler.printers) left.push_back(p.name);
  EXPECT_EQ(left, (std::vector<std::string>{"B", "C"}));
  // Remembered newest first, each pointing at its record in the list.
  ASSERT_NE(ctx_.SavedPrinters, nullptr);
  EXPECT_STREQ(ctx_.SavedPrinters->SettingsName, "set-f");
  EXPECT_EQ(U8(ctx_.SavedPrinters->Printer->pPrinterName), "F");
  ASSERT_NE(ctx_.SavedPrinters->Next, nullptr);
  EXPECT_STREQ(ctx_.SavedPrinters->Next->SettingsName, "set-a");
  EXPECT_EQ(ctx_.SavedPrinters->Next->Printer, &ctx_.Printers.Entries[0]);
  EXPECT_EQ(ctx_.SavedPrinters->Next->Next, nullptr);
}

TEST_F(PrintersTest, PrinterThatCannotBeRememberedIsKept) {
  const struct {
    const char *name;
    const char *call;
    uint32_t later;  // which of the next calls fails
    DWORD error;
  } rows[] = {
      {"no memory for the name's copy", "GlobalAlloc", 2, ERROR_NOT_ENOUGH_MEMORY},
      {"the printer cannot be opened", "OpenPrinterW", 1, RPC_S_SERVER_UNAVAILABLE},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    InstallProduct();
    PutPrinterData(PutPrinter("A"), "", "SubKey", REG_SZ, std::string("set-a\0", 6));
    LoadPrinterList(&ctx_.Printers);
    winsim::AddFault(row.call, row.error, NextCall(row.call, row.later));
    DeleteAllPrinters(&ctx_);
    EXPECT_EQ(ctx_.SavedPrinters, nullptr);
    EXPECT_NE(FindPrinter("A"), nullptr) << "a printer the install could not bring back stays";
    EXPECT_EQ(Log(), ">DeleteAllPrinters\r\n  Printer A is kept: its settings could not be read\r\n");
    EXPECT_EQ(ctx_.ErrorCount, 0);
  }
}

// A machine with the product and two remembered printers: A (listed first)
// and B, B the default printer, each with a settings name, comment and
// location and a "deleted" mark under its settings key.
class RecreateTest : public PrintersTest {
 protected:
  void SetUp() override {
    PrintersTest::SetUp();
    InstallProduct();
    PutPrinter("Plain", "Other printer", "LPT1:");
    PutDriver("Other printer");
    winsim::Printer &a = PutPrinter("A");
    a.comment = "first floor";
    a.location = "Room 1";
    PutPrinterData(a, "", "SubKey", REG_SZ, std::string("set-a\0", 6));
    winsim::Printer &b = PutPrinter("B");
    b.comment = "second floor";
    PutPrinterData(b, "DsUser", "SubKey", REG_SZ, std::string("set-b\0", 6));
    winsim::M().spooler.defaultPrinter = "B";
    MarkDeleted("set-a");
    MarkDeleted("set-b");
    MarkDefaultPrinter(&ctx_);
    DeleteAllPrinters(&ctx_);
    FreeCountedString(&ctx_.Log);
    ASSERT_EQ(winsim::M().spooler.printers.size(), 1u);
    ASSERT_TRUE(winsim::M().spooler.defaultPrinter.empty());
    readsBefore_ = winsim::CallCount("GetPrinterDataA");
  }

  size_t readsBefore_ = 0;  // settings-name reads made by the deletion

  static std::string Added(const std::string &name) {
    return ">AddPrinter(" + name +
           ")\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n  OK :)\r\n";
  }
};

TEST_F(RecreateTest, RememberedPrintersComeBackWithTheirSettings) {
  RecreatePrinters(&ctx_);
  EXPECT_EQ(Log(), Added("B") + Added("A")) << "the newest remembered first";
  EXPECT_EQ(ctx_.ErrorCount, 0);
  for (const char *name : {"A", "B"}) {
    const winsim::Printer *p = FindPrinter(name);
    ASSERT_NE(p, nullptr) << name;
    EXPECT_EQ(p->portName, "Morvalente:");
    EXPECT_EQ(p->driverName, "Morvalente printer");
  }
  EXPECT_EQ(FindPrinter("A")->comment, "first floor");
  EXPECT_EQ(FindPrinter("A")->location, "Room 1");
  EXPECT_EQ(FindPrinter("B")->comment, "second floor");
  EXPECT_EQ(FindPrinter("B")->location, "");
  EXPECT_EQ(Data("A", ""), std::string("set-a\0", 6));
  EXPECT_EQ(Data("A", "dsuser"), std::string("set-a\0", 6));
  EXPECT_EQ(Data("B", ""), std::string("set-b\0", 6));
  EXPECT_FALSE(DeletedMarkThere("set-a"));
  EXPECT_FALSE(DeletedMarkThere("set-b"));
  EXPECT_EQ(winsim::M().spooler.defaultPrinter, "B");
  EXPECT_EQ(FindPrinter("Morvalente"), nullptr);
}

TEST_F(RecreateTest, FailuresAfterTheAddStillCountThePrinter) {
  struct Row {
    const char *name;
    std::function<void()> prepare;
    std::function<void()> check;
  };
  const std::vector<Row> rows = {
      {"keyed settings name not written: no read-back, the mark stays",
       [] { winsim::AddFault("SetPrinterDataExA", ERROR_ACCESS_DENIED, 1, 1, true); },
       [this] {
         EXPECT_EQ(winsim::CallCount("GetPrinterDataA"), readsBefore_);
         EXPECT_TRUE(DeletedMarkThere("set-a"));
         EXPECT_EQ(FindPrinter("A")->comment, "first floor") << "comment restored all the same";
         EXPECT_EQ(winsim::M().spooler.defaultPrinter, "B");
       }},
      {"new printer's record unreadable: no comment, no default",
       [] { winsim::AddFault("GetPrinterW", ERROR_ACCESS_DENIED, 1, 1, true); },
       [] {
         EXPECT_FALSE(DeletedMarkThere("set-a"));
         EXPECT_EQ(FindPrinter("A")->comment, "");
         EXPECT_TRUE(winsim::M().spooler.defaultPrinter.empty());
       }},
      {"comment, default and mark refused: ignored",
       [] {
         winsim::AddFault("SetPrinterW", ERROR_ACCESS_DENIED, 1, 1, true);
         winsim::AddFault("SpoolSetDefaultPrinterW", ERROR_ACCESS_DENIED, 1, 1, true);
         winsim::AddFault("RegDeleteValueA", ERROR_ACCESS_DENIED, 1, 1, true);
       },
       [] {
         EXPECT_EQ(FindPrinter("A")->comment, "");
         EXPECT_TRUE(winsim::M().spooler.defaultPrinter.empty());
         EXPECT_TRUE(DeletedMarkThere("set-a"));
       }},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.prepare();
    RecreatePrinters(&ctx_);
    EXPECT_EQ(Log(), Added("B") + Added("A"));
    EXPECT_EQ(ctx_.ErrorCount, 0);
    EXPECT_EQ(FindPrinter("Morvalente"), nullptr) << "both counted as re-created";
    row.check();
  }
}

TEST_F(RecreateTest, WhenNoneCanBeAddedTheOnePrinterMorvalenteIsTried) {
  winsim::AddFault("AddPrinterW", ERROR_ACCESS_DENIED, 1, 2);
  RecreatePrinters(&ctx_);
  std::string failed = ErrorLine(15, "Can`t add printer 'B'", MachineText(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Log().substr(0, Log().find(">AddPrinter(A)")),
            ">AddPrinter(B)\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n  " + failed);
  EXPECT_NE(Log().find(Added("Morvalente")), std::string::npos);
  EXPECT_EQ(ctx_.ErrorCount, 2);
  const winsim::Printer *p = FindPrinter("Morvalente");
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p->data.empty()) << "no settings name";
  EXPECT_EQ(p->comment, "");
  EXPECT_TRUE(winsim::M().spooler.defaultPrinter.empty());

  // And when that fails too, a third error line.
  TearDown();
  SetUp();
  winsim::AddFault("AddPrinterW", ERROR_ACCESS_DENIED, 1, 3);
  RecreatePrinters(&ctx_);
  EXPECT_EQ(ctx_.ErrorCount, 3);
  EXPECT_NE(Log().find(ErrorLine(15, "Can`t add printer 'Morvalente'", MachineText(ERROR_ACCESS_DENIED))),
            std::string::npos);
}

TEST_F(PrintersTest, NothingRememberedGivesOnePrinterMorvalente) {
  InstallProduct();
  PutPrinter("Unnamed");  // a product printer without a settings name, the default one
  winsim::M().spooler.defaultPrinter = "Unnamed";
  MarkDefaultPrinter(&ctx_);
  DeleteAllPrinters(&ctx_);
  FreeCountedString(&ctx_.Log);
  RecreatePrinters(&ctx_);
  EXPECT_EQ(Log(),
            ">AddPrinter(Morvalente)\r\n  Let's check our port monitors\r\n  Port monitor is found\r\n"
            "  OK :)\r\n");
  ASSERT_EQ(winsim::M().spooler.printers.size(), 1u);
  EXPECT_EQ(winsim::M().spooler.printers[0].name, "Morvalente");
  EXPECT_TRUE(winsim::M().spooler.printers[0].data.empty());
  EXPECT_TRUE(winsim::M().spooler.defaultPrinter.empty()) << "the installer makes no printer the default";
}

}  // namespace
