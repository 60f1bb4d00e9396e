// The default-printer questions of the setup program: is the default printer
// another product's, and making the product's first printer the default.
#include <functional>
#include <string>
#include <vector>

#include "spool/default_printer.h"
#include "unit/spool_test_support.h"

namespace {

using mrvtest::PutDriver;
using mrvtest::PutPrinter;
using spooltest::SpoolTest;

struct DefaultRow {
  const char *name;
  std::function<void()> prepare;
  BOOL expected;
};

TEST_F(SpoolTest, CheckDefaultPrinterAsksWhetherTheDefaultIsAnotherProducts) {
  const std::vector<DefaultRow> rows = {
      {"no default printer", [] { PutPrinter("Office"); }, TRUE},
      {"default uses the product's driver",
       [] {
         PutPrinter("Office");
         winsim::M().spooler.defaultPrinter = "Office";
       },
       FALSE},
      {"default uses another driver",
       [] {
         PutDriver("Other printer");
         PutPrinter("Morvalente", "Other printer", "LPT1:");
         winsim::M().spooler.defaultPrinter = "Morvalente";
       },
       TRUE},
      {"default uses the driver's name in other case",
       [] {
         PutPrinter("Office", "MORVALENTE PRINTER");
         winsim::M().spooler.defaultPrinter = "Office";
       },
       TRUE},
      {"default cannot be opened",
       [] {
         PutPrinter("Office");
         winsim::M().spooler.defaultPrinter = "Office";
         winsim::AddFault("OpenPrinterW", ERROR_ACCESS_DENIED);
       },
       TRUE},
      {"default cannot be read",
       [] {
         PutPrinter("Office");
         winsim::M().spooler.defaultPrinter = "Office";
         winsim::AddFault("GetPrinterW", ERROR_ACCESS_DENIED, 2);
       },
       TRUE},
      {"spooler stopped",
       [] {
         PutPrinter("Office");
         winsim::M().spooler.defaultPrinter = "Office";
         std::string err;
         winsim::ApplyJson(R"({"spoolerService":{"state":"stopped"}})", &err);
       },
       TRUE},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    InstallProduct();
    row.prepare();
    EXPECT_EQ(CheckDefaultPrinter(), row.expected);
  }
}

struct MakeDefaultRow {
  const char *name;
  std::function<void()> prepare;
  std::string expected;  // default printer afterwards
};

TEST_F(SpoolTest, MakeProductPrinterDefaultPicksTheFirstProductPrinter) {
  const std::vector<MakeDefaultRow> rows = {
      {"no product printer",
       [] {
         PutDriver("Other printer");
         PutPrinter("Morvalente", "Other printer", "LPT1:");
         winsim::M().spooler.defaultPrinter = "Morvalente";
       },
       "Morvalente"},
      {"the first of two",
       [] {
         PutDriver("Other printer");
         PutPrinter("Plain", "Other printer", "LPT1:");
         PutPrinter("First");
         PutPrinter("Second");
         winsim::M().spooler.defaultPrinter = "Plain";
       },
       "First"},
      {"no default yet: the first of two",
       [] {
         PutPrinter("First");
         PutPrinter("Second");
       },
       "First"},
      {"the change refused goes unnoticed",
       [] {
         PutPrinter("First");
         winsim::AddFault("SpoolSetDefaultPrinterW", ERROR_ACCESS_DENIED);
       },
       ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    InstallProduct();
    row.prepare();
    MakeProductPrinterDefault();
    EXPECT_EQ(winsim::M().spooler.defaultPrinter, row.expected);
    EXPECT_LE(winsim::CallCount("SpoolSetDefaultPrinterW"), 1u);
    EXPECT_EQ(winsim::CallCount("OpenPrinterW"), 0u) << "the printer is only named, never opened";
  }
}

}  // namespace
