// Inputs at and beyond their limits, through whole commands: paths longer
// than MAX_PATH, printer names of 254, 255 and 300 characters, names,
// comments and settings names outside ASCII, settings names of 63 and 64
// characters, odd parent-window arguments, Run values without a terminator,
// and monitor records whose DLL name is missing or has a directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixture.h"
#include "support/scenario.h"
#include "sweep/sweep.h"

namespace {

using mrvtest::FindPrinter;
using mrvtest::RunCommand;
using mrvtest::RunResult;

const char kInstallerDir[] = "C:\\Program Files\\Morvalente\\Drivers";
const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsKey[] = "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\";
const char kSystemMonitor[] = "C:\\Windows\\System32\\gwrmon64.dll";

// "C:\" and directories of at most 100 characters, `length` characters in all.
std::string LongDir(size_t length) {
  std::string dir = "C:";
  char letter = 'a';
  while (dir.size() < length) {
    size_t room = length - dir.size() - 1;  // after the backslash
    if (room == 0) {
      dir += 'x';  // no room for another directory: lengthen the last one
      continue;
    }
    dir += '\\' + std::string(room < 100 ? room : 100, letter++);
  }
  return dir;
}

// A path of `length` characters that ends in "\mrvtray.exe".
std::string LongTrayPath(size_t length) {
  return LongDir(length - 12) + "\\mrvtray.exe";
}

std::vector<uint8_t> Bytes(const std::string &s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// The log lines, without their line ends.
std::vector<std::string> Lines(const std::string &log) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    out.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

bool Logged(const RunResult &r, const std::string &text) {
  return r.log.find(text) != std::string::npos;
}

class ExtremeInputs : public mrvtest::MachineTest {
 protected:
  // A fresh machine with these options, current.
  void Fresh(const winsim::NewMachineOptions &options) {
    winsim::NewMachine(dir_, options);
    Begin();
  }

  // A printer of the product (after an install) with a settings name given
  // as raw bytes, in both places.
  static winsim::Printer &AddProductPrinter(const std::string &name, const std::string &settings) {
    winsim::Printer &p = mrvtest::PutPrinter(name);
    mrvtest::PutPrinterData(p, "", "SubKey", REG_SZ, settings);
    mrvtest::PutPrinterData(p, "DsUser", "SubKey", REG_SZ, settings);
    return p;
  }

  // The journal's file calls on paths that are not full ones.
  static void ExpectOnlyFullPaths(const char *name) {
    std::vector<std::string> unsafe = sweep::UnsafeFileCalls(winsim::P().journal);
    for (auto &u : unsafe) ADD_FAILURE() << name << ": " << u;
  }
};

// ---------------------------------------------------------------------------
// Paths longer than MAX_PATH
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, InstallerDirectoryAroundMaxPath) {
  const struct {
    const char *name;
    size_t installerDir;  // characters of the installer's directory
    unsigned exitCode;
    std::vector<std::string> logged;
  } rows[] = {
      // install.exe's path has 258 characters, a component's 259: all fit.
      {"module path of 258 characters", 246, 1, {}},
      // install.exe's path fits (259), but the 12-character names of the
      // monitor, driver and configuration files make source paths of 260.
      {"module path of 259 characters",
       247,
       100,
       {"Error(10): Cant't open source file: gwrmon64.dll - (The path leads to a folder that is not there.)",
        "Error(10): Cant't open source file: gwrdrv64.dll"}},
      // The module's own path does not fit: no installer directory at all,
      // and nothing is taken from the current one.
      {"installer directory of 300 characters",
       300,
       100,
       {"Error(10): Cant't open source file: gwrmon64.dll - (No file of that name could be found.)",
        "Error(10): Cant't open source file: gwrdrv64.dll"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachineOptions options;
    options.installerDir = LongDir(row.installerDir);
    Fresh(options);
    RunResult r = RunCommand(u"install.exe in");
    EXPECT_EQ(r.exitCode, row.exitCode) << r.log;
    for (auto &text : row.logged) EXPECT_TRUE(Logged(r, text)) << text << "\n" << r.log;
    EXPECT_TRUE(r.leaks.empty());
    ExpectOnlyFullPaths(row.name);
    if (row.exitCode == 1) {
      EXPECT_TRUE(winsim::FileExists(kSystemMonitor));
    }
    // The tray program one directory up starts when the installer's
    // directory is known, and nothing starts by its bare name.
    EXPECT_EQ(winsim::CallCount("CreateProcessW"), row.installerDir < 259 ? 1u : 0u);
  }
}

TEST_F(ExtremeInputs, DriverDirectoryBeyondMaxPath) {
  const struct {
    const char *name;
    size_t length;
  } rows[] = {{"300 characters", 300}, {"1100 characters: longer than a log line", 1100}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    std::string dir = LongDir(row.length);
    winsim::M().spooler.driverDirText = dir;
    RunResult r = RunCommand(u"install.exe in");
    EXPECT_EQ(r.exitCode, 100u);
    EXPECT_TRUE(Logged(r, "Error(9): Cant't open destination file: " + dir.substr(0, 200))) << r.log;
    EXPECT_FALSE(winsim::FileExists(dir + "\\gwrdrv64.dll"));
    // A line's text holds at most 1023 units; longer ones are cut.
    for (auto &line : Lines(r.log)) EXPECT_LE(line.size(), 1023u + 20u) << line.substr(0, 80);
    EXPECT_TRUE(r.leaks.empty());
    ExpectOnlyFullPaths(row.name);
  }
}

// ---------------------------------------------------------------------------
// Printer names at and beyond the limits
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, LongPrinterNamesThroughAReinstall) {
  const struct {
    const char *name;
    size_t length;
    bool recreated;  // the spooler takes names of up to 220 characters
  } rows[] = {
      {"220 characters", 220, true},
      {"254 characters", 254, false},
      {"255 characters", 255, false},
      {"300 characters", 300, false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    ASSERT_TRUE(mrvtest::InstallFirst());
    std::string name(row.length, 'p');
    AddProductPrinter(name, std::string("long\0", 5));
    winsim::M().spooler.defaultPrinter = name;
    RunResult r = RunCommand(u"install.exe in");
    EXPECT_TRUE(Logged(r, ">DeletePrinter(" + name + ")\r\n")) << r.log;
    EXPECT_TRUE(Logged(r, ">AddPrinter(" + name + ")\r\n")) << r.log;
    if (row.recreated) {
      EXPECT_EQ(r.exitCode, 1u) << r.log;
      EXPECT_NE(FindPrinter(name), nullptr);
      EXPECT_EQ(winsim::M().spooler.defaultPrinter, name);
    } else {
      // The spooler refuses the name: error 15, and the one printer
      // "Morvalente" stands in.
      EXPECT_EQ(r.exitCode, 100u) << r.log;
      EXPECT_TRUE(Logged(r, "Error(15): Can`t add printer '" + name + "'")) << r.log;
      EXPECT_EQ(FindPrinter(name), nullptr);
    }
    // "Morvalente" (without a settings name) is not re-created, and stands
    // in only when no printer could be.
    EXPECT_EQ(FindPrinter("Morvalente") != nullptr, !row.recreated);
    EXPECT_TRUE(r.leaks.empty());
  }
}

TEST_F(ExtremeInputs, LongDefaultPrinterNameForOnInit) {
  const struct {
    const char *name;
    size_t length;
    unsigned exitCode;
  } rows[] = {
      // The name fits the 260 characters offered: the default printer is
      // the product's.
      {"259 characters", 259, 3},
      // It does not: the question cannot be answered, and "not the
      // product's" is the answer.
      {"260 characters", 260, 102},
      {"300 characters", 300, 102},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    ASSERT_TRUE(mrvtest::InstallFirst());
    std::string name(row.length, 'q');
    AddProductPrinter(name, std::string("q\0", 2));
    winsim::M().spooler.defaultPrinter = name;
    RunResult r = RunCommand(u"install.exe onInit");
    EXPECT_EQ(r.exitCode, row.exitCode);
    EXPECT_TRUE(r.leaks.empty());
  }
}

// ---------------------------------------------------------------------------
// Names, comments and settings names outside ASCII
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, NonAsciiNamesSurviveAReinstall) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  const std::string name =
      "B\xC3\xBCro \xE2\x80\x93 Drucker \xE2\x98\x83 \xF0\x9F\x96\xA8";  // Büro – Drucker ☃ 🖨
  const std::string comment = "Zweiter Stock \xE2\x80\x94 Raum 2";       // Zweiter Stock — Raum 2
  const std::string location = "Krak\xC3\xB3w, 2. pi\xC4\x99tro";        // Kraków, 2. piętro
  // "Größe €" in the machine's ANSI code page (1252), and in UTF-8.
  const std::string settingsAnsi(
      "Gr\xF6\xDF"
      "e \x80",
      7);
  const std::string settingsUtf8 =
      "Gr\xC3\xB6\xC3\x9F"
      "e \xE2\x82\xAC";
  winsim::Printer &p = AddProductPrinter(name, settingsAnsi + '\0');
  p.comment = comment;
  p.location = location;
  winsim::M().spooler.defaultPrinter = name;
  winsim::RegValue mark;
  mark.name = "deleted";
  mark.type = REG_DWORD;
  mark.data = {1, 0, 0, 0};
  winsim::EnsureKey(kSettingsKey + settingsUtf8).values["deleted"] = mark;

  RunResult r = RunCommand(u"install.exe in");
  EXPECT_EQ(r.exitCode, 1u) << r.log;
  EXPECT_TRUE(Logged(r, ">AddPrinter(" + name + ")")) << r.log;
  winsim::Printer *back = FindPrinter(name);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->comment, comment);
  EXPECT_EQ(back->location, location);
  EXPECT_EQ(winsim::M().spooler.defaultPrinter, name);
  for (const char *key : {"", "dsuser"}) {
    ASSERT_EQ(back->data[key].count("subkey"), 1u) << key;
    EXPECT_EQ(back->data[key]["subkey"].data, Bytes(settingsAnsi + '\0')) << key;
  }
  EXPECT_EQ(winsim::GetRegValue(kSettingsKey + settingsUtf8, "deleted"), nullptr) << "the mark is cleared";
  EXPECT_TRUE(r.leaks.empty());
}

// ---------------------------------------------------------------------------
// Settings names of 63 and 64 characters
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, SettingsNamesOf63And64Characters) {
  const struct {
    const char *name;
    std::string stored;  // the value's bytes, as stored
    bool remembered;
  } rows[] = {
      {"63 characters", std::string(63, 's') + '\0', true},
      {"63 characters without a terminator", std::string(63, 's'), true},
      {"64 characters", std::string(64, 's') + '\0', false},
      {"64 characters without a terminator", std::string(64, 's'), false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    ASSERT_TRUE(mrvtest::InstallFirst());
    AddProductPrinter("Settings", row.stored);
    RunResult r = RunCommand(u"install.exe in");
    EXPECT_EQ(r.exitCode, 1u) << r.log;
    winsim::Printer *back = FindPrinter("Settings");
    if (row.remembered) {
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(back->data["dsuser"]["subkey"].data, Bytes(std::string(63, 's') + '\0'));
      // The name written back is read back by the next install as well.
      RunResult again = RunCommand(u"install.exe in");
      EXPECT_EQ(again.exitCode, 1u);
      EXPECT_NE(FindPrinter("Settings"), nullptr);
    } else {
      // Too long in both places: not remembered, deleted, not re-created.
      EXPECT_EQ(back, nullptr);
    }
    EXPECT_EQ(FindPrinter("Morvalente") != nullptr, !row.remembered);
    EXPECT_TRUE(r.leaks.empty());
  }
}

// ---------------------------------------------------------------------------
// The parent-window argument
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, ParentWindowArguments) {
  const struct {
    const char *name;
    std::u16string argument;
    std::vector<uint64_t> windows;
    std::string asked;  // the value IsWindow is asked about
    uint64_t owner;     // the log dialog's owner
  } rows[] = {
      {"-1, a window", u"-1", {0xFFFFFFFFFFFFFFFFull}, "18446744073709551615", 0xFFFFFFFFFFFFFFFFull},
      {"-1, no window", u"-1", {}, "18446744073709551615", 0},
      {"99999999999 is clamped", u"99999999999", {2147483647}, "2147483647", 2147483647},
      {"+12abc reads as 12", u"+12abc", {12}, "12", 12},
      {"empty argument reads as 0", u"\"\"", {12}, "0", 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    winsim::M().windows = row.windows;
    RunResult r = RunCommand(u"install.exe un " + row.argument);
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_EQ(mrvtest::CallArgs("IsWindow"), std::vector<std::string>{row.asked});
    ASSERT_EQ(winsim::P().dialogs.size(), 1u);
    EXPECT_EQ(winsim::P().dialogs[0].owner, row.owner);
    EXPECT_TRUE(winsim::P().dialogs[0].ended);
  }
}

// ---------------------------------------------------------------------------
// Run values of the tray program at the buffer's limit
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, RunValuesAtTheBuffersLimit) {
  const struct {
    const char *name;
    size_t length;    // characters of the path
    bool terminated;  // stored with its zero
    size_t deleteAttempts;
    uint64_t waitedMs;
    bool fileStays;
    bool bare = false;  // the bare name "mrvtray.exe" instead of a path
  } rows[] = {
      {"259 characters", 259, true, 1, 0, false},
      // 263 characters and the zero fill the 264 of the buffer, but a file
      // call takes no path of MAX_PATH characters or more: 10 attempts, 9
      // pauses of 10 ms, and the file stays.
      {"263 characters", 263, true, 10, 90, true},
      // The whole buffer without a zero: not a path this program wrote.
      {"264 characters without a terminator", 264, false, 0, 0, true},
      // Longer than the buffer: unreadable, a pause of one second.
      {"265 characters", 265, true, 0, 1000, true},
      // A bare name would be looked for in the current directory.
      {"bare file name", 11, true, 0, 0, true, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    std::string path = row.bare ? std::string("mrvtray.exe") : LongTrayPath(row.length);
    ASSERT_EQ(path.size(), row.length);
    if (!row.bare) winsim::WriteHostFile(path, "MZ tray");
    std::u16string text = winsim::ToUtf16(path);
    if (row.terminated) text += u'\0';
    winsim::SetRegRaw(kRunKey, "MorvalenteTray", REG_SZ, mrvtest::WideBytes(text));

    RunResult r = RunCommand(u"install.exe removetray");
    EXPECT_EQ(r.exitCode, 6u);
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), row.deleteAttempts);
    EXPECT_EQ(r.waitedMs, row.waitedMs);
    if (!row.bare) {
      EXPECT_EQ(winsim::FileExists(path), row.fileStays);
    }
    EXPECT_EQ(winsim::GetRegValue(kRunKey, "MorvalenteTray"), nullptr);
    EXPECT_TRUE(r.leaks.empty());
  }
}

// ---------------------------------------------------------------------------
// Monitor records whose DLL name is missing or has a directory
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, MonitorRecordsWithoutABareDllName) {
  const std::string ownFile = std::string(kInstallerDir) + "\\gwrmon64.dll";
  const struct {
    const char *name;
    std::string dll;
  } rows[] = {
      {"no DLL name", ""},
      {"a relative path out of the system directory",
       "..\\..\\Program Files\\Morvalente\\Drivers\\gwrmon64.dll"},
      {"a full path", ownFile},
      {"a drive-relative name", "C:gwrmon64.dll"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh({});
    ASSERT_TRUE(mrvtest::InstallFirst());
    ASSERT_EQ(winsim::M().spooler.monitors.size(), 1u);
    winsim::M().spooler.monitors[0].dll = row.dll;
    winsim::M().spooler.monitors[0].loaded = false;
    RunResult r = RunCommand(u"install.exe un");
    EXPECT_EQ(r.exitCode, 2u) << r.log;
    EXPECT_TRUE(Logged(r, "Auto calculated monitor file name: C:\\Windows\\System32\\gwrmon64.dll\r\n"))
        << r.log;
    EXPECT_FALSE(winsim::FileExists(kSystemMonitor)) << "the monitor's own file goes";
    EXPECT_TRUE(winsim::FileExists(ownFile)) << "the installer's file stays";
    EXPECT_TRUE(r.leaks.empty());
    ExpectOnlyFullPaths(row.name);
  }
}

// ---------------------------------------------------------------------------
// Pending file operations whose names are not full paths
// ---------------------------------------------------------------------------

TEST_F(ExtremeInputs, PendingOperationsOnlyNameFilesByFullPaths) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  // Bare names, an NT name for a share, and drive-relative names would be
  // found in the current directory: none of them names a file, none is
  // deleted, and none counts for "onInit". (winsim finds "C:name" at the
  // drive's root, so those files are there to be wrongly deleted or found.)
  winsim::WriteHostFile("C:\\gwrmon64.dll", "MZ");
  winsim::WriteHostFile("C:\\gwrdrv64.dll", "MZ");
  const struct {
    const char *name;
    std::u16string command;
    unsigned exitCode;
  } rows[] = {
      // Nothing counts as pending: the default-printer half answers.
      {"onInit", u"install.exe onInit", 102},
      {"in", u"install.exe in", 1},
      {"un", u"install.exe un", 2},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::SetRegMultiSz(
        "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations",
        {"\\??\\gwrdrv64.dll", "", "gwrmon64.dll", "", "\\??\\UNC\\server\\share\\gwrui64.dll", "",
         "\\??\\C:gwrmon64.dll", "", "\\??\\C:gwrdrv64.dll", "x"});
    RunResult r = RunCommand(row.command);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.log;
    EXPECT_TRUE(winsim::FileExists("C:\\gwrmon64.dll"));
    EXPECT_TRUE(winsim::FileExists("C:\\gwrdrv64.dll"));
    ExpectOnlyFullPaths(row.name);
    EXPECT_TRUE(r.leaks.empty());
  }
}

}  // namespace
