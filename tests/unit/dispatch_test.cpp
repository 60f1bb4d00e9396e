// The command dispatcher: command words, exit codes, the parent window
// argument and what a run leaves behind.
#include "app/dispatch.h"

#include <string>
#include <vector>

#include "support/fixture.h"
#include "support/scenario.h"

namespace {

using mrvtest::MachineTest;

class DispatchTest : public MachineTest {};

struct CommandRow {
  const char *name;
  std::u16string commandLine;
  bool scmUnopenable;  // makes a run write an error line
  DWORD exitCode;
  bool run;  // an InstallContext was built (the spooler check ran)
};

TEST_F(DispatchTest, CommandWordsAndExitCodes) {
  const CommandRow rows[] = {
      {"no argument", u"install.exe", false, 6, false},
      {"install", u"install.exe install", false, 1, true},
      {"install in mixed case", u"install.exe InStAll", false, 1, true},
      {"in", u"install.exe IN", false, 1, true},
      {"serverinstall", u"install.exe serverinstall", false, 1, true},
      {"in_notray", u"install.exe In_NoTray", false, 1, true},
      {"install with an error line", u"install.exe install", true, 100, true},
      {"uninstall", u"install.exe UNINSTALL", false, 2, true},
      {"un", u"install.exe un", false, 2, true},
      {"uninstall with an error line", u"install.exe uninstall", true, 100, true},
      {"onChkDrv answers no", u"install.exe onchkdrv", false, 3, false},
      {"onInit: no default printer", u"install.exe ONINIT", false, 102, false},
      {"removetray", u"install.exe RemoveTray", false, 6, false},
      {"def.set exact", u"install.exe def.set", false, 4, false},
      {"def.set with a capital", u"install.exe Def.set", false, 6, false},
      {"def.set in capitals", u"install.exe DEF.SET", false, 6, false},
      {"unknown word", u"install.exe instal", false, 6, false},
      {"word with a suffix", u"install.exe install2", false, 6, false},
      {"empty word", u"install.exe \"\"", false, 6, false},
      {"fourth argument is ignored", u"install.exe install 1234 extra", false, 1, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    winsim::M().scmUnopenable = row.scmUnopenable;
    winsim::BeginProcess(row.commandLine);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    EXPECT_EQ(DispatchCommand(instance), row.exitCode);
    EXPECT_EQ(ProgramInstance, instance);
    EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), row.run ? 1u : 0u);
    if (row.run) {
      EXPECT_GT(winsim::CallCount("EnumPrintersW"), 0u);
    }
    // The Shift key is read only after a run without error lines.
    EXPECT_EQ(winsim::CallCount("GetAsyncKeyState"), row.run && !row.scmUnopenable ? 1u : 0u);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

TEST_F(DispatchTest, NoArgumentTouchesNothingElse) {
  winsim::BeginProcess(u"install.exe");
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), (DWORD)ExitNoCommand);
  // Only the split of the command line (which allocates its array) happens.
  for (auto &e : winsim::P().journal)
    EXPECT_TRUE(e.call == "CommandLineToArgvW" || e.call == "LocalAlloc") << "unexpected call " << e.call;
  EXPECT_EQ(winsim::CallCount("CommandLineToArgvW"), 1u);
}

TEST_F(DispatchTest, UnsplittableCommandLineIsNoCommand) {
  winsim::BeginProcess(u"install.exe install");
  winsim::AddFault("CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), (DWORD)ExitNoCommand);
  EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), 0u);
}

TEST_F(DispatchTest, ParentWindowArgument) {
  struct Row {
    const char *name;
    std::vector<std::u16string> args;
    std::vector<uint64_t> windows;
    uint64_t expected;               // 0: no parent window
    std::vector<std::string> asked;  // values IsWindow was asked about
  } rows[] = {
      {"a window", {u"install.exe", u"install", u"1234"}, {1234}, 1234, {"1234"}},
      {"not a window", {u"install.exe", u"install", u"1234"}, {99}, 0, {"1234"}},
      {"leading blanks, sign and trailing text", {u"install.exe", u"in", u"  +77px"}, {77}, 77, {"77"}},
      {"no digits", {u"install.exe", u"in", u"main"}, {1234}, 0, {"0"}},
      {"beyond the 32-bit range is clamped",
       {u"install.exe", u"in", u"99999999999"},
       {2147483647},
       2147483647,
       {"2147483647"}},
      {"below the 32-bit range is clamped and widened with its sign",
       {u"install.exe", u"in", u"-99999999999"},
       {0xFFFFFFFF80000000ull},
       0xFFFFFFFF80000000ull,
       {std::to_string(0xFFFFFFFF80000000ull)}},
      {"negative value widened with its sign",
       {u"install.exe", u"in", u"-5"},
       {0xFFFFFFFFFFFFFFFBull},
       0xFFFFFFFFFFFFFFFBull,
       {std::to_string(0xFFFFFFFFFFFFFFFBull)}},
      {"fourth argument: handle ignored", {u"install.exe", u"in", u"1234", u"x"}, {1234}, 0, {}},
      {"no handle argument", {u"install.exe", u"in"}, {1234}, 0, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::BeginProcess(u"install.exe");
    winsim::M().windows = row.windows;
    std::vector<std::u16string> store = row.args;
    std::vector<LPWSTR> argv;
    for (auto &a : store) argv.push_back(a.data());
    HWND parent = ParentWindowArgument((int)argv.size(), argv.data());
    EXPECT_EQ(reinterpret_cast<uint64_t>(parent), row.expected);
    EXPECT_EQ(mrvtest::CallArgs("IsWindow"), row.asked);
  }
}

TEST_F(DispatchTest, RunReadsTheParentWindowFromTheCommandLine) {
  winsim::M().windows = {2147483647};
  winsim::BeginProcess(u"install.exe uninstall 4294967296");
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), (DWORD)ExitUninstalled);
  EXPECT_EQ(mrvtest::CallArgs("IsWindow"), std::vector<std::string>{"2147483647"});

  winsim::BeginProcess(u"install.exe install 2147483647 extra");
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), (DWORD)ExitInstalled);
  EXPECT_TRUE(mrvtest::CallArgs("IsWindow").empty());
}

}  // namespace
