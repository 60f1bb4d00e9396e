// winsim's print spooler: the refusals a real spooler answers with, the size
// protocol of its queries, and the state it keeps (monitors and their loaded
// DLLs, drivers and the spooler's copies of their files, printers, data).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/fixture.h"
#include "support/scenario.h"
#include "winsim/winsim.h"

using namespace winsim;
using mrvtest::PutDriver;
using mrvtest::PutPrinter;

namespace {

const char kX64Dir[] = "C:\\Windows\\System32\\spool\\drivers\\x64";
const char kVersionDir[] = "C:\\Windows\\System32\\spool\\drivers\\x64\\3";

void SetSpooler(const char *state) {
  std::string err;
  ASSERT_TRUE(ApplyJson(std::string(R"({"spoolerService":{"state":")") + state + "\"}}", &err)) << err;
}

// A spooler with the product's monitor, a driver and a printer on it.
class SpoolerTest : public mrvtest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    mrvtest::PutMonitorFileBuild(2563);
    mrvtest::PutMonitor();
    PutDriver("Morvalente printer");
    PutPrinter("Office");
  }

  static HANDLE Open(const char16_t *name, DWORD access) {
    PRINTER_DEFAULTSW d{nullptr, nullptr, access};
    HANDLE h = nullptr;
    OpenPrinterW(const_cast<LPWSTR>(name), &h, access == 0 ? nullptr : &d);
    return h;
  }

  // A level-2 record for a new printer; the strings live in the test.
  static PRINTER_INFO_2W NewRecord(const char16_t *name, const char16_t *port,
                                   const char16_t *driver = u"Morvalente printer",
                                   const char16_t *processor = u"WinPrint") {
    PRINTER_INFO_2W r{};
    r.pPrinterName = const_cast<LPWSTR>(name);
    r.pPortName = const_cast<LPWSTR>(port);
    r.pDriverName = const_cast<LPWSTR>(driver);
    r.pComment = const_cast<LPWSTR>(u"");
    r.pPrintProcessor = const_cast<LPWSTR>(processor);
    return r;
  }
};

// ---------------------------------------------------------------------------
// A stopped spooler refuses every call
// ---------------------------------------------------------------------------

struct CallRow {
  const char *name;
  // Makes the call; returns whether it reported success. The handle is one
  // opened while the spooler ran.
  std::function<bool(HANDLE)> call;
};

TEST_F(SpoolerTest, StoppedSpoolerRefusesEveryCall) {
  BYTE buf[512];
  DWORD needed = 0, returned = 0, type = 0;
  MONITOR_INFO_2W mon{const_cast<LPWSTR>(u"Other:"), const_cast<LPWSTR>(u"Windows x64"),
                      const_cast<LPWSTR>(u"gwrmon64.dll")};
  PRINTER_INFO_2W rec = NewRecord(u"New", u"Morvalente:");
  DRIVER_INFO_6W drv{};
  drv.cVersion = 3;
  drv.pName = const_cast<LPWSTR>(u"Other driver");
  const std::vector<CallRow> rows = {
      {"EnumPrintersW",
       [&](HANDLE) { return EnumPrintersW(6, nullptr, 2, buf, sizeof buf, &needed, &returned) != 0; }},
      {"EnumMonitorsW",
       [&](HANDLE) { return EnumMonitorsW(nullptr, 2, buf, sizeof buf, &needed, &returned) != 0; }},
      {"EnumPrinterDriversW",
       [&](HANDLE) {
         return EnumPrinterDriversW(nullptr, nullptr, 6, buf, sizeof buf, &needed, &returned) != 0;
       }},
      {"GetPrinterDriverDirectoryW",
       [&](HANDLE) {
         return GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buf, sizeof buf, &needed) != 0;
       }},
      {"OpenPrinterW",
       [&](HANDLE) {
         HANDLE h = nullptr;
         bool ok = OpenPrinterW(const_cast<LPWSTR>(u"Office"), &h, nullptr) != 0;
         EXPECT_EQ(h, nullptr);
         return ok;
       }},
      {"GetPrinterW", [&](HANDLE h) { return GetPrinterW(h, 2, buf, sizeof buf, &needed) != 0; }},
      {"GetPrinterDriverW",
       [&](HANDLE h) { return GetPrinterDriverW(h, nullptr, 2, buf, sizeof buf, &needed) != 0; }},
      {"SetPrinterW level 0",
       [&](HANDLE h) { return SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE) != 0; }},
      {"SetPrinterW level 2",
       [&](HANDLE h) { return SetPrinterW(h, 2, reinterpret_cast<LPBYTE>(&rec), 0) != 0; }},
      {"AddPrinterW",
       [&](HANDLE) { return AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&rec)) != nullptr; }},
      {"DeletePrinter", [&](HANDLE h) { return DeletePrinter(h) != 0; }},
      {"AddMonitorW", [&](HANDLE) { return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&mon)) != 0; }},
      {"DeleteMonitorW",
       [&](HANDLE) {
         return DeleteMonitorW(nullptr, const_cast<LPWSTR>(u"Windows x64"),
                               const_cast<LPWSTR>(u"Morvalente:")) != 0;
       }},
      {"AddPrinterDriverExW",
       [&](HANDLE) {
         return AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&drv), APD_COPY_ALL_FILES) != 0;
       }},
      {"DeletePrinterDriverExW",
       [&](HANDLE) {
         return DeletePrinterDriverExW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente printer"),
                                       DPD_DELETE_ALL_FILES, 0) != 0;
       }},
      {"GetPrinterDataA",
       [&](HANDLE h) {
         DWORD r = GetPrinterDataA(h, const_cast<LPSTR>("SubKey"), &type, buf, 64, &needed);
         EXPECT_EQ(r, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
         return r == 0;
       }},
      {"GetPrinterDataExA",
       [&](HANDLE h) {
         DWORD r = GetPrinterDataExA(h, "DsUser", "SubKey", &type, buf, 64, &needed);
         EXPECT_EQ(r, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
         return r == 0;
       }},
      {"SetPrinterDataA",
       [&](HANDLE h) {
         DWORD r = SetPrinterDataA(h, const_cast<LPSTR>("SubKey"), REG_SZ, (LPBYTE) "x", 2);
         EXPECT_EQ(r, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
         return r == 0;
       }},
      {"SetPrinterDataExA",
       [&](HANDLE h) {
         DWORD r = SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, (LPBYTE) "x", 2);
         EXPECT_EQ(r, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
         return r == 0;
       }},
      {"SpoolGetDefaultPrinterW",
       [&](HANDLE) {
         WCHAR name[260];
         DWORD n = 260;
         return SpoolGetDefaultPrinterW(name, &n) != 0;
       }},
      {"SpoolSetDefaultPrinterW", [&](HANDLE) { return SpoolSetDefaultPrinterW(u"Office") != 0; }},
      {"ClosePrinter", [&](HANDLE h) { return ClosePrinter(h) != 0; }},
  };
  M().spooler.defaultPrinter = "Office";
  size_t printersBefore = M().spooler.printers.size();
  for (const auto &row : rows) {
    SetSpooler("running");
    HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
    ASSERT_NE(h, nullptr) << row.name;
    SetSpooler("stopped");
    SetLastError(0);
    EXPECT_FALSE(row.call(h)) << row.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)) << row.name;
    SetSpooler("running");
    ClosePrinter(h);  // a second close of the same handle is refused harmlessly
  }
  // Nothing changed while the spooler was down.
  EXPECT_EQ(M().spooler.printers.size(), printersBefore);
  EXPECT_EQ(M().spooler.monitors.size(), 1u);
  EXPECT_EQ(M().spooler.drivers.size(), 1u);
  EXPECT_TRUE(M().spooler.printers[0].data.empty());
}

TEST_F(SpoolerTest, HandleFromBeforeARestartIsStale) {
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  ASSERT_NE(h, nullptr);
  SetSpooler("stopped");
  SetSpooler("running");
  BYTE buf[512];
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterW(h, 2, buf, sizeof buf, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ClosePrinter(h));  // refused, but the handle is gone from the process all the same
  EXPECT_TRUE(Leaks().empty());
}

// ---------------------------------------------------------------------------
// The size protocol
// ---------------------------------------------------------------------------

struct SizeRow {
  const char *name;
  // Makes the call with the given buffer; `returned` receives the count
  // (1 for single-record queries).
  std::function<BOOL(LPBYTE, DWORD, DWORD *needed, DWORD *returned)> call;
  size_t recordSize;  // bytes of one fixed record; 0: a bare string
  size_t nameOffset;  // where the record's name pointer lies
  DWORD expectCount;
};

TEST_F(SpoolerTest, SizeProtocolOfEveryQuery) {
  PutDriver("Second driver");
  PutDriver("Old driver", "Windows NT x86");
  HANDLE h = Open(u"Office", 0);
  ASSERT_NE(h, nullptr);
  auto enumDrivers = [](DWORD level) {
    return [level](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) {
      return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(u"Windows x64"), level, b, cb, n, r);
    };
  };
  const std::vector<SizeRow> rows = {
      {"EnumPrintersW level 2",
       [](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) { return EnumPrintersW(6, nullptr, 2, b, cb, n, r); },
       sizeof(PRINTER_INFO_2W), 8, 1},
      {"EnumMonitorsW level 1",
       [](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) { return EnumMonitorsW(nullptr, 1, b, cb, n, r); },
       sizeof(MONITOR_INFO_1W), 0, 1},
      {"EnumMonitorsW level 2",
       [](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) { return EnumMonitorsW(nullptr, 2, b, cb, n, r); },
       sizeof(MONITOR_INFO_2W), 0, 1},
      {"EnumPrinterDriversW level 1", enumDrivers(1), 8, 0, 2},
      {"EnumPrinterDriversW level 2", enumDrivers(2), 48, 8, 2},
      {"EnumPrinterDriversW level 3", enumDrivers(3), 80, 8, 2},
      {"EnumPrinterDriversW level 4", enumDrivers(4), 88, 8, 2},
      {"EnumPrinterDriversW level 5", enumDrivers(5), 64, 8, 2},
      {"EnumPrinterDriversW level 6", enumDrivers(6), 136, 8, 2},
      {"GetPrinterW level 2",
       [h](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) {
         *r = 1;
         return GetPrinterW(h, 2, b, cb, n);
       },
       sizeof(PRINTER_INFO_2W), 8, 1},
      {"GetPrinterDriverW level 2",
       [h](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) {
         *r = 1;
         return GetPrinterDriverW(h, nullptr, 2, b, cb, n);
       },
       sizeof(DRIVER_INFO_2W), 8, 1},
      {"GetPrinterDriverDirectoryW",
       [](LPBYTE b, DWORD cb, DWORD *n, DWORD *r) {
         *r = 1;
         return GetPrinterDriverDirectoryW(nullptr, nullptr, 1, b, cb, n);
       },
       0, 0, 1},
  };
  for (const auto &row : rows) {
    DWORD needed = 0, returned = 7;
    SetLastError(0);
    EXPECT_FALSE(row.call(nullptr, 0, &needed, &returned)) << row.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << row.name;
    ASSERT_GT(needed, row.recordSize * row.expectCount) << row.name;

    std::vector<BYTE> buf(needed + 16, 0xCC);
    DWORD again = 0;
    SetLastError(0);
    EXPECT_FALSE(row.call(buf.data(), needed - 1, &again, &returned)) << row.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << row.name;
    EXPECT_EQ(again, needed) << row.name;

    EXPECT_TRUE(row.call(buf.data(), needed, &again, &returned)) << row.name;
    EXPECT_EQ(returned, row.expectCount) << row.name;
    EXPECT_EQ(buf[needed], 0xCC) << row.name << ": wrote past the size it asked for";
    if (row.recordSize != 0) {
      // The last record's name points at a string inside the buffer, behind the records.
      const BYTE *records = buf.data();
      LPWSTR s;
      std::memcpy(&s, records + row.recordSize * (row.expectCount - 1) + row.nameOffset, sizeof s);
      ASSERT_NE(s, nullptr) << row.name;
      EXPECT_GE(reinterpret_cast<const BYTE *>(s), records + row.recordSize * row.expectCount) << row.name;
      EXPECT_LT(reinterpret_cast<const BYTE *>(s), records + needed) << row.name;
    }
  }
  ClosePrinter(h);
}

TEST_F(SpoolerTest, RecordsCarryTheModelsFields) {
  HANDLE h = Open(u"Office", 0);
  ASSERT_NE(h, nullptr);
  DWORD needed = 0, returned = 0;
  EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &returned);
  std::vector<BYTE> buf(needed);
  ASSERT_TRUE(EnumMonitorsW(nullptr, 2, buf.data(), needed, &needed, &returned));
  auto *mon = reinterpret_cast<MONITOR_INFO_2W *>(buf.data());
  EXPECT_EQ(mrvtest::U8(mon->pName), "Morvalente:");
  EXPECT_EQ(mrvtest::U8(mon->pEnvironment), "Windows x64");
  EXPECT_EQ(mrvtest::U8(mon->pDLLName), "gwrmon64.dll");

  GetPrinterDriverW(h, nullptr, 2, nullptr, 0, &needed);
  buf.assign(needed, 0);
  ASSERT_TRUE(GetPrinterDriverW(h, nullptr, 2, buf.data(), needed, &needed));
  auto *drv = reinterpret_cast<DRIVER_INFO_2W *>(buf.data());
  EXPECT_EQ(drv->cVersion, 3u);
  EXPECT_EQ(mrvtest::U8(drv->pName), "Morvalente printer");
  EXPECT_EQ(mrvtest::U8(drv->pEnvironment), "Windows x64");
  EXPECT_EQ(mrvtest::U8(drv->pDriverPath), std::string(kVersionDir) + "\\gwrdrv64.dll");
  EXPECT_EQ(mrvtest::U8(drv->pConfigFile), std::string(kVersionDir) + "\\gwrui64.dll");

  GetPrinterW(h, 2, nullptr, 0, &needed);
  buf.assign(needed, 0);
  ASSERT_TRUE(GetPrinterW(h, 2, buf.data(), needed, &needed));
  auto *p = reinterpret_cast<PRINTER_INFO_2W *>(buf.data());
  EXPECT_EQ(mrvtest::U8(p->pPrinterName), "Office");
  EXPECT_EQ(mrvtest::U8(p->pPortName), "Morvalente:");
  EXPECT_EQ(mrvtest::U8(p->pDriverName), "Morvalente printer");
  ClosePrinter(h);
}

TEST_F(SpoolerTest, NoMonitorsMeansNothingToList) {
  M().spooler.monitors.clear();
  for (DWORD level : {1u, 2u}) {
    DWORD needed = 99, returned = 99;
    SetLastError(0);
    EXPECT_TRUE(EnumMonitorsW(nullptr, level, nullptr, 0, &needed, &returned)) << "level " << level;
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(returned, 0u);
  }
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

struct RefusalRow {
  const char *name;
  std::function<void(SpoolerTest *)> setup;  // may be null
  std::function<bool()> call;                // true when the call reported success
  DWORD error;
};

TEST_F(SpoolerTest, RefusalsCarryTheDocumentedCodes) {
  static PRINTER_INFO_2W rec;
  static MONITOR_INFO_2W mon;
  static DRIVER_INFO_6W drv;
  auto addPrinter = [](const char16_t *name, const char16_t *port, const char16_t *driver,
                       const char16_t *processor) {
    return [=] {
      rec = NewRecord(name, port, driver, processor);
      HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&rec));
      if (h != nullptr) ClosePrinter(h);
      return h != nullptr;
    };
  };
  auto addMonitor = [](const char16_t *name, const char16_t *env, const char16_t *dll) {
    return [=] {
      mon = {const_cast<LPWSTR>(name), const_cast<LPWSTR>(env), const_cast<LPWSTR>(dll)};
      return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&mon)) != 0;
    };
  };
  auto deleteMonitor = [](const char16_t *env, const char16_t *name) {
    return [=] { return DeleteMonitorW(nullptr, const_cast<LPWSTR>(env), const_cast<LPWSTR>(name)) != 0; };
  };
  auto withHandle = [](DWORD access, std::function<bool(HANDLE)> f) {
    return [=] {
      HANDLE h = Open(u"Office", access);
      EXPECT_NE(h, nullptr);
      bool ok = f(h);
      ClosePrinter(h);
      return ok;
    };
  };
  auto enumDrivers = [](const char16_t *env, DWORD level) {
    return [=] {
      DWORD n = 0, r = 0;
      return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(env), level, nullptr, 0, &n, &r) != 0;
    };
  };
  auto addDriver = [](const char16_t *path, const char16_t *env) {
    return [=] {
      drv = {};
      drv.cVersion = 3;
      drv.pName = const_cast<LPWSTR>(u"New driver");
      drv.pEnvironment = const_cast<LPWSTR>(env);
      drv.pDriverPath = const_cast<LPWSTR>(path);
      drv.pDataFile = const_cast<LPWSTR>(path);
      drv.pConfigFile = const_cast<LPWSTR>(path);
      return AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&drv), APD_COPY_ALL_FILES) != 0;
    };
  };
  auto deleteDriver = [](const char16_t *env, const char16_t *name) {
    return [=] {
      return DeletePrinterDriverExW(nullptr, const_cast<LPWSTR>(env), const_cast<LPWSTR>(name),
                                    DPD_DELETE_ALL_FILES, 0) != 0;
    };
  };
  const std::vector<RefusalRow> rows = {
      {"open unknown printer", nullptr,
       [] {
         HANDLE h = nullptr;
         return OpenPrinterW(const_cast<LPWSTR>(u"Nobody"), &h, nullptr) != 0;
       },
       ERROR_INVALID_PRINTER_NAME},
      {"add printer: driver not installed", nullptr,
       addPrinter(u"New", u"Morvalente:", u"No such driver", u"WinPrint"), ERROR_UNKNOWN_PRINTER_DRIVER},
      {"add printer: driver only for x86", [](SpoolerTest *) { PutDriver("x86 only", "Windows NT x86"); },
       addPrinter(u"New", u"Morvalente:", u"x86 only", u"WinPrint"), ERROR_UNKNOWN_PRINTER_DRIVER},
      {"add printer: unknown port", nullptr,
       addPrinter(u"New", u"Nowhere:", u"Morvalente printer", u"WinPrint"), ERROR_UNKNOWN_PORT},
      {"add printer: one of two ports unknown", nullptr,
       addPrinter(u"New", u"LPT1:,Nowhere:", u"Morvalente printer", u"WinPrint"), ERROR_UNKNOWN_PORT},
      {"add printer: unknown print processor", nullptr,
       addPrinter(u"New", u"Morvalente:", u"Morvalente printer", u"Other"), ERROR_UNKNOWN_PRINTPROCESSOR},
      {"add printer: name taken (other case)", nullptr,
       addPrinter(u"OFFICE", u"Morvalente:", u"Morvalente printer", u"WinPrint"),
       ERROR_PRINTER_ALREADY_EXISTS},
      {"add printer: port of a removed monitor",
       [](SpoolerTest *) {
         M().spooler.printers.clear();
         DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente:"));
       },
       addPrinter(u"New", u"Morvalente:", u"Morvalente printer", u"WinPrint"), ERROR_UNKNOWN_PORT},
      {"set printer: unknown port", nullptr,
       withHandle(PRINTER_ALL_ACCESS,
                  [](HANDLE h) {
                    rec = NewRecord(u"Office", u"Nowhere:");
                    return SetPrinterW(h, 2, reinterpret_cast<LPBYTE>(&rec), 0) != 0;
                  }),
       ERROR_UNKNOWN_PORT},
      {"set printer with use access only", nullptr,
       withHandle(0,
                  [](HANDLE h) {
                    rec = NewRecord(u"Office", u"FILE:");
                    return SetPrinterW(h, 2, reinterpret_cast<LPBYTE>(&rec), 0) != 0;
                  }),
       ERROR_ACCESS_DENIED},
      {"purge with use access only", nullptr,
       withHandle(PRINTER_ACCESS_USE,
                  [](HANDLE h) { return SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE) != 0; }),
       ERROR_ACCESS_DENIED},
      {"delete printer opened without delete access", nullptr,
       withHandle(PRINTER_ACCESS_ADMINISTER, [](HANDLE h) { return DeletePrinter(h) != 0; }),
       ERROR_ACCESS_DENIED},
      {"delete printer opened with defaults", nullptr,
       withHandle(0, [](HANDLE h) { return DeletePrinter(h) != 0; }), ERROR_ACCESS_DENIED},
      {"set printer data with use access only", nullptr,
       withHandle(0,
                  [](HANDLE h) {
                    SetLastError(0);
                    DWORD r = SetPrinterDataA(h, const_cast<LPSTR>("SubKey"), REG_SZ, (LPBYTE) "abc", 4);
                    EXPECT_EQ(r, static_cast<DWORD>(ERROR_ACCESS_DENIED));
                    return r == 0;
                  }),
       ERROR_ACCESS_DENIED},
      {"add monitor: DLL missing from the system directory", nullptr,
       addMonitor(u"Other:", u"Windows x64", u"other64.dll"), ERROR_MOD_NOT_FOUND},
      {"add monitor: DLL given with a path",
       [](SpoolerTest *) { WriteHostFile("C:\\Temp\\other64.dll", "MZ"); },
       addMonitor(u"Other:", u"Windows x64", u"C:\\Temp\\other64.dll"), ERROR_MOD_NOT_FOUND},
      {"add monitor: already installed (other case)", nullptr,
       addMonitor(u"MORVALENTE:", u"Windows x64", u"gwrmon64.dll"), ERROR_PRINT_MONITOR_ALREADY_INSTALLED},
      {"add monitor: foreign environment", nullptr, addMonitor(u"Other:", u"Windows NT x86", u"gwrmon64.dll"),
       ERROR_INVALID_ENVIRONMENT},
      {"add monitor: unknown environment", nullptr, addMonitor(u"Other:", u"Windows 3.1", u"gwrmon64.dll"),
       ERROR_INVALID_ENVIRONMENT},
      {"add monitor: no DLL named", nullptr, addMonitor(u"Other:", u"Windows x64", u""),
       ERROR_INVALID_PARAMETER},
      {"delete unknown monitor", nullptr, deleteMonitor(u"Windows x64", u"Other:"),
       ERROR_UNKNOWN_PRINT_MONITOR},
      {"delete monitor whose port a printer uses", nullptr, deleteMonitor(u"Windows x64", u"Morvalente:"),
       ERROR_PRINT_MONITOR_IN_USE},
      {"delete monitor whose port is the second of a printer's",
       [](SpoolerTest *) { M().spooler.printers[0].portName = "LPT1:, Morvalente:"; },
       deleteMonitor(u"Windows x64", u"Morvalente:"), ERROR_PRINT_MONITOR_IN_USE},
      {"enumerate drivers of an unknown environment", nullptr, enumDrivers(u"Windows 95", 6),
       ERROR_INVALID_ENVIRONMENT},
      {"enumerate drivers at level 7", nullptr, enumDrivers(u"Windows x64", 7), ERROR_INVALID_LEVEL},
      {"enumerate monitors at level 3", nullptr,
       [] {
         DWORD n = 0, r = 0;
         return EnumMonitorsW(nullptr, 3, nullptr, 0, &n, &r) != 0;
       },
       ERROR_INVALID_LEVEL},
      {"printer driver of an unknown environment", nullptr,
       withHandle(0,
                  [](HANDLE h) {
                    DWORD n = 0;
                    return GetPrinterDriverW(h, const_cast<LPWSTR>(u"Windows 95"), 2, nullptr, 0, &n) != 0;
                  }),
       ERROR_INVALID_ENVIRONMENT},
      {"printer driver not installed for x86", nullptr,
       withHandle(0,
                  [](HANDLE h) {
                    DWORD n = 0;
                    return GetPrinterDriverW(h, const_cast<LPWSTR>(u"Windows NT x86"), 2, nullptr, 0, &n) !=
                           0;
                  }),
       ERROR_UNKNOWN_PRINTER_DRIVER},
      {"add driver: source file missing", nullptr, addDriver(u"C:\\Temp\\missing.dll", u"Windows x64"),
       ERROR_FILE_NOT_FOUND},
      {"add driver: unknown environment", [](SpoolerTest *) { WriteHostFile("C:\\Temp\\d.dll", "MZ"); },
       addDriver(u"C:\\Temp\\d.dll", u"Windows 95"), ERROR_INVALID_ENVIRONMENT},
      {"delete unknown driver", nullptr, deleteDriver(u"Windows x64", u"No such driver"),
       ERROR_UNKNOWN_PRINTER_DRIVER},
      {"delete driver printers use", nullptr, deleteDriver(u"Windows x64", u"Morvalente printer"),
       ERROR_PRINTER_DRIVER_IN_USE},
      {"delete driver of an unknown environment", nullptr, deleteDriver(u"Windows 95", u"Morvalente printer"),
       ERROR_INVALID_ENVIRONMENT},
      {"set default to unknown printer", nullptr, [] { return SpoolSetDefaultPrinterW(u"Nobody") != 0; },
       ERROR_INVALID_PRINTER_NAME},
  };
  for (const auto &row : rows) {
    TearDown();
    SetUp();
    if (row.setup) row.setup(this);
    size_t printers = M().spooler.printers.size(), drivers = M().spooler.drivers.size();
    size_t monitors = M().spooler.monitors.size();
    SetLastError(0);
    EXPECT_FALSE(row.call()) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
    EXPECT_EQ(M().spooler.printers.size(), printers) << row.name;
    EXPECT_EQ(M().spooler.drivers.size(), drivers) << row.name;
    EXPECT_EQ(M().spooler.monitors.size(), monitors) << row.name;
    EXPECT_TRUE(Leaks().empty()) << row.name;
  }
}

// ---------------------------------------------------------------------------
// Printers
// ---------------------------------------------------------------------------

TEST_F(SpoolerTest, AddPrinterGivesAnOpenHandleWithFullAccess) {
  PRINTER_INFO_2W rec = NewRecord(u"Second", u"Morvalente:");
  rec.pLocation = const_cast<LPWSTR>(u"Hall");
  rec.Attributes = PRINTER_ATTRIBUTE_DEFAULT;
  HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&rec));
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(M().spooler.printers.size(), 2u);
  const Printer &p = M().spooler.printers[1];
  EXPECT_EQ(p.name, "Second");
  EXPECT_EQ(p.location, "Hall");
  EXPECT_EQ(p.datatype, "RAW");
  EXPECT_EQ(p.attributes & PRINTER_ATTRIBUTE_DEFAULT, 0u)
      << "the default is per user, not kept with the printer";
  EXPECT_TRUE(M().spooler.defaultPrinter.empty());
  EXPECT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("SubKey"), REG_SZ, (LPBYTE) "abc", 4), 0u);
  EXPECT_TRUE(DeletePrinter(h));
  EXPECT_TRUE(ClosePrinter(h));
  EXPECT_EQ(M().spooler.printers.size(), 1u);
}

TEST_F(SpoolerTest, SetPrinterUpdatesTheWholeRecord) {
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  ASSERT_NE(h, nullptr);
  PutDriver("Other printer");
  PRINTER_INFO_2W rec = NewRecord(u"Office", u"file:", u"Other printer");
  rec.pComment = const_cast<LPWSTR>(u"second floor");
  rec.pLocation = const_cast<LPWSTR>(u"Room 12");
  rec.Attributes = 0x200;
  ASSERT_TRUE(SetPrinterW(h, 2, reinterpret_cast<LPBYTE>(&rec), 0));
  const Printer &p = M().spooler.printers[0];
  EXPECT_EQ(p.portName, "file:");
  EXPECT_EQ(p.driverName, "Other printer");
  EXPECT_EQ(p.comment, "second floor");
  EXPECT_EQ(p.location, "Room 12");
  EXPECT_EQ(p.attributes, 0x200u | PRINTER_ATTRIBUTE_LOCAL);
  // With the printer off its port, the monitor and the driver can go.
  EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente:")));
  EXPECT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente printer"), 0, 0));
  ClosePrinter(h);
}

TEST_F(SpoolerTest, DeletingAPrinterWithJobsWaitsForThePurge) {
  M().spooler.printers[0].cJobs = 2;
  M().spooler.defaultPrinter = "Office";
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(DeletePrinter(h));
  ASSERT_EQ(M().spooler.printers.size(), 1u) << "a printer with jobs stays until they are gone";
  HANDLE other = nullptr;
  EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(u"Office"), &other, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  ASSERT_TRUE(SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE));
  EXPECT_TRUE(M().spooler.printers.empty());
  EXPECT_TRUE(M().spooler.defaultPrinter.empty()) << "the default printer goes with the printer";
  BYTE buf[64];
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinterW(h, 2, buf, sizeof buf, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_TRUE(ClosePrinter(h));
}

// Deleting a printer once marked the handles of the printer listed after it
// as deleted (the name it compared with was the removed printer's own, which
// the removal had overwritten), or read freed memory.
TEST_F(SpoolerTest, DeletingAPrinterLeavesTheHandlesOfTheOthers) {
  PutPrinter("First printer with a long name", "Generic / Text Only", "LPT1:");
  PutPrinter("Second printer with a long name", "Generic / Text Only", "LPT1:");
  HANDLE first = Open(u"First printer with a long name", PRINTER_ALL_ACCESS);
  ASSERT_NE(first, nullptr);
  HANDLE second = Open(u"Second printer with a long name", PRINTER_ALL_ACCESS);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(DeletePrinter(first));
  BYTE buffer[2048];
  DWORD needed = 0;
  EXPECT_TRUE(GetPrinterW(second, 2, buffer, sizeof buffer, &needed)) << GetLastError();
  ClosePrinter(first);
  ClosePrinter(second);
}

TEST_F(SpoolerTest, DefaultPrinterCalls) {
  WCHAR name[260] = {};
  DWORD n = 260;
  EXPECT_FALSE(SpoolGetDefaultPrinterW(name, &n));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  PutPrinter("Plotter", "Morvalente printer", "LPT1:");
  EXPECT_TRUE(SpoolSetDefaultPrinterW(nullptr)) << "no name: the first printer, when there is no default";
  EXPECT_EQ(M().spooler.defaultPrinter, "Office");
  EXPECT_TRUE(SpoolSetDefaultPrinterW(u"plotter"));
  EXPECT_EQ(M().spooler.defaultPrinter, "Plotter") << "kept as the printer spells it";
  EXPECT_TRUE(SpoolSetDefaultPrinterW(u""));
  EXPECT_EQ(M().spooler.defaultPrinter, "Plotter") << "no name with a default: nothing changes";
  n = 3;
  EXPECT_FALSE(SpoolGetDefaultPrinterW(name, &n));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(n, 8u);
  ASSERT_TRUE(SpoolGetDefaultPrinterW(name, &n));
  EXPECT_EQ(mrvtest::U8(name), "Plotter");
}

// ---------------------------------------------------------------------------
// Printer data
// ---------------------------------------------------------------------------

TEST_F(SpoolerTest, PrinterDataKeepsTypeAndSizeAndKeys) {
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  ASSERT_NE(h, nullptr);
  const char name[] = "Office-settings";
  ASSERT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("SubKey"), REG_SZ, (LPBYTE)name, sizeof name), 0u);
  DWORD dword = 7;
  ASSERT_EQ(SetPrinterDataExA(h, "DsUser", "SubKey", REG_DWORD, (LPBYTE)&dword, 4), 0u);

  BYTE buf[64];
  DWORD type = 0, needed = 0;
  ASSERT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("subkey"), &type, buf, sizeof buf, &needed), 0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(needed, sizeof name);
  EXPECT_STREQ(reinterpret_cast<char *>(buf), name);

  ASSERT_EQ(GetPrinterDataExA(h, "dsuser", "SubKey", &type, buf, sizeof buf, &needed), 0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << "the keyed value is a value of its own";
  EXPECT_EQ(needed, 4u);

  // Too small a buffer: ERROR_MORE_DATA with the size needed, the type told.
  type = 0;
  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("SubKey"), &type, buf, 4, &needed),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(needed, sizeof name);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  EXPECT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("Missing"), &type, buf, sizeof buf, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrinterDataExA(h, "NoSuchKey", "SubKey", &type, buf, sizeof buf, &needed),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // The plain values are the key "PrinterDriverData".
  ASSERT_EQ(GetPrinterDataExA(h, "PrinterDriverData", "SubKey", &type, buf, sizeof buf, &needed), 0u);
  EXPECT_STREQ(reinterpret_cast<char *>(buf), name);
  ClosePrinter(h);
}

TEST_F(SpoolerTest, PrinterDataCallsAnswerInjectedFaults) {
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  AddFault("SetPrinterDataExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, (LPBYTE) "x", 2),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(M().spooler.printers[0].data.empty());
  EXPECT_EQ(SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, (LPBYTE) "x", 2), 0u);
  ClosePrinter(h);
}

// ---------------------------------------------------------------------------
// Monitors and their DLLs
// ---------------------------------------------------------------------------

TEST_F(SpoolerTest, AddedMonitorProvidesItsPortAndLocksItsDll) {
  M().spooler.printers.clear();
  ASSERT_TRUE(
      DeleteMonitorW(nullptr, const_cast<LPWSTR>(u"Windows x64"), const_cast<LPWSTR>(u"Morvalente:")));
  const char16_t *dll = u"C:\\Windows\\System32\\gwrmon64.dll";
  EXPECT_TRUE(FileExists("C:\\Windows\\System32\\gwrmon64.dll")) << "deleting the monitor leaves its file";

  MONITOR_INFO_2W mon{const_cast<LPWSTR>(u"Morvalente:"), const_cast<LPWSTR>(u"Windows x64"),
                      const_cast<LPWSTR>(u"gwrmon64.dll")};
  ASSERT_TRUE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&mon)));
  ASSERT_EQ(M().spooler.monitors.size(), 1u);
  EXPECT_EQ(M().spooler.monitors[0].ports, std::vector<std::string>{"Morvalente:"});
  EXPECT_TRUE(M().spooler.monitors[0].loaded);

  // The running spooler holds the DLL: no deletion, no writing.
  EXPECT_FALSE(DeleteFileW(dll));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateFileW(dll, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  // Its port takes printers now.
  PRINTER_INFO_2W rec = NewRecord(u"New", u"Morvalente:");
  HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&rec));
  ASSERT_NE(h, nullptr);
  ClosePrinter(h);

  // Stopped, the spooler lets go of the DLL; started again, it loads it again.
  SetSpooler("stopped");
  EXPECT_FALSE(M().spooler.monitors[0].loaded);
  HANDLE f = CreateFileW(dll, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  SetSpooler("running");
  EXPECT_TRUE(M().spooler.monitors[0].loaded);
  EXPECT_FALSE(DeleteFileW(dll));
}

TEST_F(SpoolerTest, DeletedMonitorsDllFollowsTheMachineSetting) {
  const char16_t *dll = u"C:\\Windows\\System32\\gwrmon64.dll";
  struct Row {
    const char *name;
    bool staysLoaded;
  };
  for (const Row &row : {Row{"unloaded at once", false}, Row{"loaded until the spooler stops", true}}) {
    TearDown();
    SetUp();
    M().spooler.printers.clear();
    M().spooler.monitorDllStaysLoaded = row.staysLoaded;
    ASSERT_TRUE(DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente:"))) << row.name;
    DWORD needed = 0, returned = 0;
    EXPECT_TRUE(EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &returned))
        << row.name << ": no monitor listed";
    EXPECT_EQ(DeleteFileW(dll) != 0, !row.staysLoaded) << row.name;
    if (row.staysLoaded) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << row.name;
      // It can be registered again meanwhile, and it is gone for good once the spooler stops.
      MONITOR_INFO_2W mon{const_cast<LPWSTR>(u"Morvalente:"), nullptr, const_cast<LPWSTR>(u"gwrmon64.dll")};
      EXPECT_TRUE(AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&mon))) << row.name;
      EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente:"))) << row.name;
      SetSpooler("stopped");
      EXPECT_TRUE(M().spooler.monitors.empty()) << row.name;
      SetSpooler("running");
      EXPECT_TRUE(DeleteFileW(dll)) << row.name;
    }
  }
}

TEST_F(SpoolerTest, MonitorSettingsSurviveSaveAndLoad) {
  M().spooler.monitorDllStaysLoaded = true;
  M().spooler.printers.clear();
  ASSERT_TRUE(DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente:")));
  M().spooler.printProcessors.push_back("Other");
  SaveMachine();
  ASSERT_TRUE(LoadMachine(dir_));
  EXPECT_TRUE(M().spooler.monitorDllStaysLoaded);
  ASSERT_EQ(M().spooler.monitors.size(), 1u);
  EXPECT_TRUE(M().spooler.monitors[0].removed);
  EXPECT_EQ(M().spooler.printProcessors, (std::vector<std::string>{"WinPrint", "Other"}));
  EXPECT_FALSE(DeleteFileW(u"C:\\Windows\\System32\\gwrmon64.dll"));
}

// ---------------------------------------------------------------------------
// Drivers and the spooler's copies of their files
// ---------------------------------------------------------------------------

TEST_F(SpoolerTest, AddPrinterDriverKeepsItsOwnCopies) {
  M().spooler.printers.clear();
  M().spooler.drivers.clear();
  for (const char *f : {"gwrdrv64.dll", "gwrui64.dll", "gwrhelp.chm"})
    WriteHostFile(std::string(kX64Dir) + "\\" + f, std::string("bytes of ") + f);
  DRIVER_INFO_6W d{};
  d.cVersion = 3;
  d.pName = const_cast<LPWSTR>(u"Morvalente printer");
  d.pEnvironment = const_cast<LPWSTR>(u"Windows x64");
  d.pDriverPath = const_cast<LPWSTR>(u"C:\\Windows\\System32\\spool\\drivers\\x64\\gwrdrv64.dll");
  d.pDataFile = d.pDriverPath;
  d.pConfigFile = const_cast<LPWSTR>(u"C:\\Windows\\System32\\spool\\drivers\\x64\\gwrui64.dll");
  d.pHelpFile = const_cast<LPWSTR>(u"gwrhelp.chm");  // a bare name is found in the driver directory
  d.pszProvider = const_cast<LPWSTR>(u"Garrowe Software Kft.");
  ASSERT_TRUE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&d), APD_COPY_ALL_FILES));
  ASSERT_EQ(M().spooler.drivers.size(), 1u);
  const Driver &drv = M().spooler.drivers[0];
  EXPECT_EQ(drv.driverPath, std::string(kVersionDir) + "\\gwrdrv64.dll");
  EXPECT_EQ(drv.dataFile, std::string(kVersionDir) + "\\gwrdrv64.dll");
  EXPECT_EQ(drv.configFile, std::string(kVersionDir) + "\\gwrui64.dll");
  EXPECT_EQ(drv.helpFile, std::string(kVersionDir) + "\\gwrhelp.chm");
  EXPECT_EQ(drv.provider, "Garrowe Software Kft.");

  // The installer's files can go; the spooler's copies stay.
  for (const char *f : {"gwrdrv64.dll", "gwrui64.dll", "gwrhelp.chm"}) {
    ASSERT_TRUE(RemoveHostFile(std::string(kX64Dir) + "\\" + f));
    std::string bytes;
    EXPECT_TRUE(ReadHostFile(std::string(kVersionDir) + "\\" + f, &bytes)) << f;
    EXPECT_EQ(bytes, std::string("bytes of ") + f);
  }

  // Added again (without a help file this time), it replaces the first.
  WriteHostFile(std::string(kX64Dir) + "\\gwrdrv64.dll", "new driver");
  WriteHostFile(std::string(kX64Dir) + "\\gwrui64.dll", "new ui");
  d.pHelpFile = const_cast<LPWSTR>(u"");
  ASSERT_TRUE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&d), APD_COPY_ALL_FILES));
  ASSERT_EQ(M().spooler.drivers.size(), 1u);
  EXPECT_EQ(M().spooler.drivers[0].helpFile, "");
  std::string bytes;
  ReadHostFile(std::string(kVersionDir) + "\\gwrdrv64.dll", &bytes);
  EXPECT_EQ(bytes, "new driver");

  // Deleted with all files, the copies go.
  ASSERT_TRUE(DeletePrinterDriverExW(nullptr, const_cast<LPWSTR>(u"Windows x64"),
                                     const_cast<LPWSTR>(u"Morvalente printer"), DPD_DELETE_ALL_FILES, 0));
  EXPECT_TRUE(M().spooler.drivers.empty());
  EXPECT_FALSE(FileExists(std::string(kVersionDir) + "\\gwrdrv64.dll"));
  EXPECT_FALSE(FileExists(std::string(kVersionDir) + "\\gwrui64.dll"));
  EXPECT_TRUE(FileExists(std::string(kVersionDir) + "\\gwrhelp.chm")) << "no longer the driver's file";
}

TEST_F(SpoolerTest, DriverFilesStayWithoutTheDeleteFlagOrWhenShared) {
  M().spooler.printers.clear();
  WriteHostFile(std::string(kVersionDir) + "\\gwrdrv64.dll", "driver");
  WriteHostFile(std::string(kVersionDir) + "\\gwrui64.dll", "ui");
  PutDriver("Sibling");  // names the same files
  ASSERT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, const_cast<LPWSTR>(u"Morvalente printer"),
                                     DPD_DELETE_ALL_FILES, 0));
  EXPECT_TRUE(FileExists(std::string(kVersionDir) + "\\gwrdrv64.dll"));
  ASSERT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, const_cast<LPWSTR>(u"Sibling"), 0, 0));
  EXPECT_TRUE(FileExists(std::string(kVersionDir) + "\\gwrdrv64.dll"));
  EXPECT_TRUE(M().spooler.drivers.empty());
}

TEST_F(SpoolerTest, AddPrinterDriverNeedsEveryFileBeforeCopyingAny) {
  M().spooler.drivers.clear();
  M().spooler.printers.clear();
  WriteHostFile(std::string(kX64Dir) + "\\gwrdrv64.dll", "driver");
  DRIVER_INFO_6W d{};
  d.cVersion = 3;
  d.pName = const_cast<LPWSTR>(u"Morvalente printer");
  d.pDriverPath = const_cast<LPWSTR>(u"gwrdrv64.dll");
  d.pDataFile = d.pDriverPath;
  d.pConfigFile = const_cast<LPWSTR>(u"gwrui64.dll");
  EXPECT_FALSE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<LPBYTE>(&d), APD_COPY_ALL_FILES));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(M().spooler.drivers.empty());
  EXPECT_FALSE(FileExists(std::string(kVersionDir) + "\\gwrdrv64.dll"));
}

TEST_F(SpoolerTest, AddPrinterDriverCopiesAFileOnceItsHolderLetsGo) {
  M().spooler.drivers.clear();
  M().spooler.printers.clear();
  const std::string source = std::string(kX64Dir) + "\\gwrdrv64.dll";
  WriteHostFile(source, "driver");
  M().holds.push_back({source, 0, static_cast<int64_t>(M().clockMs) + 500, "setup program"});
  DRIVER_INFO_3W d{};
  d.cVersion = 3;
  d.pName = const_cast<LPWSTR>(u"Morvalente printer");
  d.pDriverPath = const_cast<LPWSTR>(u"gwrdrv64.dll");
  d.pDataFile = d.pDriverPath;
  d.pConfigFile = d.pDriverPath;
  EXPECT_FALSE(AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&d), APD_COPY_ALL_FILES));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  Sleep(500);
  ASSERT_TRUE(AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&d), APD_COPY_ALL_FILES));
  EXPECT_TRUE(FileExists(std::string(kVersionDir) + "\\gwrdrv64.dll"));
  EXPECT_TRUE(M().holds.empty()) << "a released hold is not kept";
}

// Names in the ANSI code page (1252 here) are kept as the characters they
// stand for, so the machine saves and reloads them and the same bytes find
// them again.
TEST_F(SpoolerTest, PrinterDataNamesInTheAnsiCodePageSurviveSaveAndLoad) {
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  ASSERT_NE(h, nullptr);
  DWORD one = 1, two = 2;
  ASSERT_EQ(SetPrinterDataA(h, const_cast<LPSTR>("Cl\xE9"), REG_DWORD, (LPBYTE)&one, 4), 0u);
  ASSERT_EQ(SetPrinterDataExA(h, "R\xE9glages", "\xC9tat", REG_DWORD, (LPBYTE)&two, 4), 0u);
  ClosePrinter(h);
  ASSERT_NO_THROW(SaveMachine());
  ASSERT_TRUE(LoadMachine(dir_));

  const Printer &p = M().spooler.printers[0];
  ASSERT_EQ(p.data.count(""), 1u);
  ASSERT_EQ(p.data.at("").count("cl\u00e9"), 1u);
  EXPECT_EQ(p.data.at("").at("cl\u00e9").name, "Cl\u00e9");
  ASSERT_EQ(p.data.count("r\u00e9glages"), 1u);
  EXPECT_EQ(p.data.at("r\u00e9glages").at("\u00c9tat").name, "\u00c9tat");

  h = Open(u"Office", PRINTER_ALL_ACCESS);
  BYTE buf[8];
  DWORD type = 0, needed = 0;
  ASSERT_EQ(GetPrinterDataA(h, const_cast<LPSTR>("cl\xE9"), &type, buf, sizeof buf, &needed), 0u);
  EXPECT_EQ(std::memcmp(buf, &one, 4), 0);
  ASSERT_EQ(GetPrinterDataExA(h, "r\xE9glages", "\xC9tat", &type, buf, sizeof buf, &needed), 0u);
  EXPECT_EQ(std::memcmp(buf, &two, 4), 0);
  ClosePrinter(h);
}

// Reading an ANSI name is the machine's own work, not a conversion call of
// the process: a fault meant for the installer's conversions leaves it alone.
TEST_F(SpoolerTest, AnsiNamesAreReadWithoutTheProcesssConversionCall) {
  HANDLE h = Open(u"Office", PRINTER_ALL_ACCESS);
  ASSERT_NE(h, nullptr);
  AddFault("MultiByteToWideChar", ERROR_INVALID_PARAMETER, 1, 1, true);
  DWORD one = 1;
  ASSERT_EQ(SetPrinterDataExA(h, "DsUser", "Cl\xE9", REG_DWORD, (LPBYTE)&one, 4), 0u);
  ClosePrinter(h);
  EXPECT_EQ(CallCount("MultiByteToWideChar"), 0u);
  const auto &values = M().spooler.printers[0].data.at("dsuser");
  ASSERT_EQ(values.count("cl\u00e9"), 1u);
  EXPECT_EQ(values.at("cl\u00e9").name, "Cl\u00e9");
}

// A change document that sets the spooler's state acts as the service does:
// a stop that is still pending keeps the monitors' DLLs loaded (a removed
// monitor's too), a completed stop unloads them and forgets removed monitors.
TEST_F(SpoolerTest, DocumentedSpoolerStateKeepsMonitorsUntilTheStopCompletes) {
  struct Row {
    const char *name;
    const char *state;
    bool loaded;       // the registered monitor's DLL
    bool removedKept;  // the removed monitor still listed with its DLL
  };
  const Row rows[] = {
      {"stop pending", "stop pending", true, true},
      {"stopped", "stopped", false, false},
  };
  for (const Row &row : rows) {
    TearDown();
    SetUp();
    WriteHostFile("C:\\Windows\\System32\\old.dll", "monitor");
    Monitor old;
    old.name = "Old:";
    old.dll = "old.dll";
    old.loaded = true;
    old.removed = true;
    M().spooler.monitors.push_back(old);
    SetSpooler(row.state);
    EXPECT_EQ(M().spooler.monitors[0].loaded, row.loaded) << row.name;
    bool kept = M().spooler.monitors.size() == 2 && M().spooler.monitors[1].loaded;
    EXPECT_EQ(kept, row.removedKept) << row.name;
    EXPECT_EQ(DeleteFileW(u"C:\\Windows\\System32\\gwrmon64.dll") != 0, !row.loaded) << row.name;
  }
}

}  // namespace
