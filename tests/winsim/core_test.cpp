// winsim's core: command-line splitting, faults, accounting, the journal,
// the message table, enumeration of printers and the machine's persistence.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "support/fixture.h"
#include "winsim/winsim.h"

namespace {

using mrvtest::MachineTest;

struct SplitCase {
  const char *name;
  std::u16string line;
  std::vector<std::u16string> args;
};

class CommandLine : public MachineTest {};

TEST_F(CommandLine, SplitsAsTheShellDoes) {
  const SplitCase cases[] = {
      {"plain", u"install.exe in", {u"install.exe", u"in"}},
      {"quoted program with blanks",
       u"\"C:\\Program Files\\i.exe\" un 12",
       {u"C:\\Program Files\\i.exe", u"un", u"12"}},
      {"program backslashes are literal", u"C:\\a\\\"b c", {u"C:\\a\\\"b", u"c"}},
      {"extra blanks", u"i.exe   in\t\t5  ", {u"i.exe", u"in", u"5"}},
      {"quoted argument", u"i.exe \"a b\" c", {u"i.exe", u"a b", u"c"}},
      {"escaped quote", u"i.exe a\\\"b", {u"i.exe", u"a\"b"}},
      {"even backslashes before quote", u"i.exe a\\\\\"b c\"", {u"i.exe", u"a\\b c"}},
      {"backslashes without quote", u"i.exe a\\\\b", {u"i.exe", u"a\\\\b"}},
      {"empty quoted argument", u"i.exe \"\" x", {u"i.exe", u"", u"x"}},
  };
  for (const auto &c : cases) {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(c.line.c_str(), &argc);
    ASSERT_NE(argv, nullptr) << c.name;
    ASSERT_EQ(argc, static_cast<int>(c.args.size())) << c.name;
    for (int i = 0; i < argc; ++i) EXPECT_EQ(std::u16string(argv[i]), c.args[i]) << c.name << " arg " << i;
    EXPECT_EQ(argv[argc], nullptr) << c.name;
    LocalFree(argv);
  }
}

TEST_F(CommandLine, EmptyLineGivesTheProgramPath) {
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(u"", &argc);
  ASSERT_EQ(argc, 1);
  EXPECT_EQ(winsim::ToUtf8(argv[0]), winsim::M().modulePath);
  LocalFree(argv);
}

class Faults : public MachineTest {};

TEST_F(Faults, NthCallFailsForTheGivenNumberOfCalls) {
  winsim::AddFault("GetSystemDirectoryW", ERROR_ACCESS_DENIED, 2, 2);
  WCHAR buf[MAX_PATH];
  std::vector<UINT> results;
  std::vector<DWORD> errors;
  for (int i = 0; i < 4; ++i) {
    SetLastError(0);
    results.push_back(GetSystemDirectoryW(buf, MAX_PATH));
    errors.push_back(GetLastError());
  }
  EXPECT_NE(results[0], 0u);
  EXPECT_EQ(results[1], 0u);
  EXPECT_EQ(errors[1], static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(results[2], 0u);
  EXPECT_NE(results[3], 0u);
}

TEST_F(Faults, AlwaysKeepsFailingAndANewProcessStartsCountingAgain) {
  winsim::AddFault("OpenSCManagerW", 5, 3, 1, /*always=*/true);
  for (int run = 0; run < 2; ++run) {
    Begin();
    for (int i = 1; i <= 5; ++i) {
      SC_HANDLE h = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
      EXPECT_EQ(h == nullptr, i >= 3) << "run " << run << " call " << i;
      if (h) CloseServiceHandle(h);
    }
  }
  EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), 5u);
}

class Accounting : public MachineTest {};

TEST_F(Accounting, EveryBlockAndHandleIsAccountedFor) {
  void *g = GlobalAlloc(GMEM_FIXED, 10);
  void *h = HeapAlloc(GetProcessHeap(), 0, 10);
  SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  EXPECT_EQ(winsim::Leaks().size(), 3u);
  // Freeing with the wrong family is refused and leaves the block live.
  EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, g));
  EXPECT_EQ(GlobalFree(g), nullptr);
  h = HeapReAlloc(GetProcessHeap(), 0, h, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, h));
  EXPECT_TRUE(CloseServiceHandle(m));
  EXPECT_FALSE(CloseServiceHandle(m)) << "a handle closes once";
  EXPECT_TRUE(winsim::Leaks().empty());
}

class Messages : public MachineTest {};

TEST_F(Messages, KnownCodesHaveTextEndingInALineBreakOthersNone) {
  LPWSTR text = nullptr;
  DWORD n = FormatMessageW(0x1300, nullptr, 5, 1033, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_GT(n, 2u);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text[n - 2], u'\r');
  EXPECT_EQ(text[n - 1], u'\n');
  LocalFree(text);
  text = nullptr;
  EXPECT_EQ(FormatMessageW(0x1300, nullptr, 0x12345, 1033, reinterpret_cast<LPWSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(text, nullptr);
}

class Printers : public MachineTest {};

TEST_F(Printers, EnumerationFollowsTheSizeProtocol) {
  DWORD needed = 0, count = 7;
  EXPECT_TRUE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count)) << "no printers: nothing to list";
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(count, 0u);

  winsim::Printer a;
  a.name = "Alpha";
  a.portName = "LPT1:";
  a.driverName = "Some driver";
  a.comment = "Floor 2";
  winsim::Printer b = a;
  b.name = "Beta";
  b.connection = true;
  winsim::M().spooler.printers = {a, b};

  EXPECT_FALSE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, 2 * sizeof(PRINTER_INFO_2W));
  std::vector<uint8_t> buf(needed);
  EXPECT_FALSE(EnumPrintersW(6, nullptr, 2, buf.data(), needed - 1, &needed, &count));
  ASSERT_TRUE(EnumPrintersW(6, nullptr, 2, buf.data(), needed, &needed, &count));
  ASSERT_EQ(count, 2u);
  auto *recs = reinterpret_cast<PRINTER_INFO_2W *>(buf.data());
  EXPECT_EQ(winsim::ToUtf8(recs[0].pPrinterName), "Alpha");
  EXPECT_EQ(winsim::ToUtf8(recs[1].pPrinterName), "Beta");
  EXPECT_EQ(winsim::ToUtf8(recs[0].pComment), "Floor 2");
  // Strings lie inside the buffer, after the records.
  for (uint32_t i = 0; i < count; ++i) {
    auto *p = reinterpret_cast<uint8_t *>(recs[i].pPortName);
    EXPECT_GE(p, buf.data() + 2 * sizeof(PRINTER_INFO_2W));
    EXPECT_LT(p, buf.data() + buf.size());
  }
  // Local printers only.
  ASSERT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
  std::vector<uint8_t> local(needed);
  ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, local.data(), needed, &needed, &count));
  EXPECT_EQ(count, 1u);
}

TEST_F(Printers, AStoppedSpoolerRefusesSpoolerCalls) {
  winsim::M().services[0].state = SERVICE_STOPPED;
  DWORD needed = 0, count = 0;
  EXPECT_FALSE(EnumPrintersW(6, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_FALSE(
      GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(u"Windows x64"), 1, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

TEST_F(Printers, DefaultPrinterNameNeedsRoomForItsTerminator) {
  winsim::M().spooler.defaultPrinter = "Alpha";
  WCHAR buf[16] = {};
  DWORD cch = 5;
  EXPECT_FALSE(SpoolGetDefaultPrinterW(buf, &cch));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cch, 6u);
  ASSERT_TRUE(SpoolGetDefaultPrinterW(buf, &cch));
  EXPECT_EQ(winsim::ToUtf8(buf), "Alpha");
  winsim::M().spooler.defaultPrinter.clear();
  cch = 16;
  EXPECT_FALSE(SpoolGetDefaultPrinterW(buf, &cch));
}

class Persistence : public MachineTest {};

TEST_F(Persistence, AMachineReloadsAsItWasSaved) {
  winsim::Printer p;
  p.name = "Ünïcode printer";
  p.portName = "LPT1:";
  p.driverName = "D";
  winsim::PrinterDataValue v;
  v.name = "SubKey";
  v.data = {'a', 'b', 0};
  p.data["dsuser"]["subkey"] = v;
  winsim::M().spooler.printers.push_back(p);
  winsim::M().spooler.defaultPrinter = p.name;
  winsim::SetRegRaw("HKLM\\SYSTEM\\X", "Odd", REG_MULTI_SZ, {'a', 0, 'b'});  // malformed on purpose
  winsim::SetRegMultiSz("HKLM\\SYSTEM\\X", "List", {"one", "", "three"});
  winsim::AddFault("DeleteFileW", 5, 2, 3);
  winsim::M().services[0].startDelayMs = 700;
  winsim::FileHold h;
  h.path = "C:\\x.dll";
  h.share = FILE_SHARE_READ;
  h.releaseAtMs = 123;
  winsim::M().holds.push_back(h);
  std::string before = winsim::ToJson(winsim::M());
  winsim::SaveMachine();
  ASSERT_TRUE(winsim::LoadMachine(dir_));
  EXPECT_EQ(winsim::ToJson(winsim::M()), before);
  EXPECT_EQ(winsim::GetRegValue("HKLM\\SYSTEM\\X", "odd")->data, (std::vector<uint8_t>{'a', 0, 'b'}));
}

TEST_F(Persistence, ChangeDocumentsAddPrintersValuesFilesAndFaults) {
  std::string error;
  ASSERT_TRUE(winsim::ApplyJson(R"({
    "addPrinters": [{"name": "P", "port": "LPT1:", "driver": "D", "subKey": "abc"}],
    "defaultPrinter": "P",
    "registry": [{"key": "HKCU\\Software\\K", "name": "V", "string": "text"}],
    "files": [{"path": "C:\\Temp\\a.txt", "text": "hello", "hold": {"share": 1, "releaseAfterMs": 1000}}],
    "faults": [{"call": "DeleteFileW", "error": 5, "nth": 1, "times": 2}],
    "shift": true,
    "spoolerService": {"state": "stopped", "startDelayMs": 300}
  })",
                                &error))
      << error;
  auto &m = winsim::M();
  ASSERT_EQ(m.spooler.printers.size(), 1u);
  EXPECT_EQ(m.spooler.printers[0].data["dsuser"]["subkey"].data, (std::vector<uint8_t>{'a', 'b', 'c', 0}));
  EXPECT_EQ(m.spooler.defaultPrinter, "P");
  ASSERT_NE(winsim::GetRegValue("HKCU\\Software\\K", "V"), nullptr);
  EXPECT_TRUE(winsim::FileExists("c:\\temp\\A.TXT")) << "drive C: is found without regard to case";
  ASSERT_EQ(m.holds.size(), 1u);
  EXPECT_EQ(m.holds[0].releaseAtMs, static_cast<int64_t>(m.clockMs + 1000));
  EXPECT_EQ(m.faults.size(), 1u);
  EXPECT_TRUE(m.shiftHeld);
  EXPECT_EQ(m.services[0].state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(m.services[0].startDelayMs, 300u);
  EXPECT_FALSE(winsim::ApplyJson("[1,2]", &error));
  EXPECT_FALSE(winsim::ApplyJson(R"({"addPrinters": [{"name": 5}]})", &error));
}

TEST_F(Persistence, RebootCarriesOutPendingDeletionsAndClearsTheList) {
  winsim::WriteHostFile("C:\\Windows\\System32\\gwrmon64.dll", "x");
  winsim::WriteHostFile("C:\\keep.txt", "y");
  ASSERT_TRUE(MoveFileExW(u"C:\\Windows\\System32\\gwrmon64.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  const winsim::RegValue *v = winsim::GetRegValue("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                                  "PendingFileRenameOperations");
  ASSERT_NE(v, nullptr);
  std::u16string expect = u"\\??\\C:\\Windows\\System32\\gwrmon64.dll";
  expect += u'\0';
  expect += u'\0';
  expect += u'\0';
  ASSERT_EQ(v->data.size(), expect.size() * 2);
  EXPECT_EQ(std::memcmp(v->data.data(), expect.data(), v->data.size()), 0);
  winsim::M().services[0].state = SERVICE_STOPPED;
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists("C:\\Windows\\System32\\gwrmon64.dll"));
  EXPECT_TRUE(winsim::FileExists("C:\\keep.txt"));
  EXPECT_EQ(winsim::GetRegValue("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                "PendingFileRenameOperations"),
            nullptr);
  EXPECT_EQ(winsim::M().services[0].state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(Persistence, MonitorsAddedBesideARemovalAreLoadedByName) {
  for (const char *dll : {"old.dll", "keep.dll", "x.dll", "y.dll"})
    winsim::WriteHostFile(std::string("C:\\Windows\\System32\\") + dll, "monitor");
  for (const char *name : {"Old", "Keep"}) {
    winsim::Monitor mon;
    mon.name = name;
    mon.dll = std::string(name) == "Old" ? "old.dll" : "keep.dll";
    mon.loaded = true;
    winsim::M().spooler.monitors.push_back(mon);
  }
  std::string error;
  ASSERT_TRUE(winsim::ApplyJson(R"({
    "addMonitors": [{"name": "X", "dll": "x.dll"}, {"name": "Y", "dll": "y.dll", "loaded": false}],
    "removeMonitors": ["Old"]
  })",
                                &error))
      << error;
  std::map<std::string, bool> loaded;
  for (auto &mon : winsim::M().spooler.monitors) loaded[mon.name] = mon.loaded;
  EXPECT_EQ(loaded, (std::map<std::string, bool>{{"Keep", true}, {"X", true}, {"Y", false}}));
}

// A document that is refused leaves drive C: as it was, whichever of its
// parts is at fault.
struct RefusedChange {
  const char *name;
  const char *document;
};

TEST_F(Persistence, RefusedChangeDocumentsLeaveDriveCAsItWas) {
  const RefusedChange rows[] = {
      {"a path off drive C:",
       R"({"files": [{"path": "C:\\Temp\\old.txt", "text": "changed"}, {"path": "C:\\Temp\\new.txt", "text": "x"},
                     {"path": "D:\\elsewhere.txt", "text": "y"}]})"},
      {"an os that is no version",
       R"({"files": [{"path": "C:\\Temp\\old.txt", "text": "changed"}, {"path": "C:\\Temp\\new.txt", "text": "x"}],
           "os": "ten"})"},
      {"a deletion before an os that is no version",
       R"({"files": [{"path": "C:\\Temp\\old.txt", "delete": true}], "os": "ten"})"},
      {"a later step of the wrong type",
       R"({"files": [{"path": "C:\\Temp\\old.txt", "text": "changed"}, {"path": "C:\\Temp\\new.txt", "text": "x"}],
           "shift": "yes"})"},
      {"a later file of the wrong type",
       R"({"files": [{"path": "C:\\Temp\\old.txt", "text": "changed"}, {"path": "C:\\Temp\\new.txt", "text": "x"},
                     {"path": "C:\\Temp\\third.txt", "text": 5}]})"},
  };
  for (const RefusedChange &row : rows) {
    winsim::WriteHostFile("C:\\Temp\\old.txt", "original");
    std::string before = winsim::ToJson(winsim::M());
    std::string error;
    EXPECT_FALSE(winsim::ApplyJson(row.document, &error)) << row.name;
    EXPECT_FALSE(error.empty()) << row.name;
    std::string bytes;
    EXPECT_TRUE(winsim::ReadHostFile("C:\\Temp\\old.txt", &bytes)) << row.name;
    EXPECT_EQ(bytes, "original") << row.name;
    EXPECT_FALSE(winsim::FileExists("C:\\Temp\\new.txt")) << row.name;
    EXPECT_FALSE(winsim::FileExists("C:\\Temp\\third.txt")) << row.name;
    EXPECT_EQ(winsim::ToJson(winsim::M()), before) << row.name;
  }
}

// A new machine of a chosen Windows version carries that version's build
// without a further change, and its tray program sits one directory above
// the installer's.
struct NewMachineRow {
  const char *name;
  DWORD major, minor, build;  // build 0: the released version's
  const char *installerDir;
  DWORD wantBuild;
  const char *wantTray;
};

TEST_F(Persistence, NewMachineTakesTheBuildOfItsVersionAndPlacesTheTrayProgram) {
  const NewMachineRow rows[] = {
      {"Windows 7", 6, 1, 0, "C:\\Program Files\\Morvalente\\Drivers", 7601,
       "C:\\Program Files\\Morvalente\\mrvtray.exe"},
      {"XP with its build given", 5, 1, 2700, "C:\\Setup\\Drivers", 2700, "C:\\Setup\\mrvtray.exe"},
      {"an unknown version", 11, 0, 0, "C:\\Drivers", 19045, "C:\\mrvtray.exe"},
  };
  for (const NewMachineRow &row : rows) {
    winsim::NewMachineOptions opt;
    opt.osMajor = row.major;
    opt.osMinor = row.minor;
    opt.osBuild = row.build;
    opt.installerDir = row.installerDir;
    winsim::NewMachine(dir_, opt);
    ASSERT_TRUE(winsim::LoadMachine(dir_)) << row.name;
    EXPECT_EQ(winsim::M().osMajor, row.major) << row.name;
    EXPECT_EQ(winsim::M().osBuild, row.wantBuild) << row.name;
    EXPECT_EQ(winsim::DefaultTrayPath(row.installerDir), row.wantTray) << row.name;
    EXPECT_TRUE(winsim::FileExists(row.wantTray)) << row.name;
  }
}

}  // namespace
