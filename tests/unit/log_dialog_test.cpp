// The log dialog: its title and text from the run's context, how it is
// closed, and when the dispatcher shows it.
#include "app/log_dialog.h"

#include <ostream>
#include <string>

#include "app/context.h"
#include "app/dispatch.h"
#include "app/error_codes.h"
#include "app/log.h"
#include "common/counted_string.h"
#include "support/fixture.h"

namespace {

using winsim::M;
using winsim::P;

class LogDialogTest : public mrvtest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ProgramInstance = GetModuleHandleW(nullptr);
    P().dialogClose = IDOK;
  }
};

struct TitleRow {
  const char *name;
  bool withError;
  const char *title;
};
void PrintTo(const TitleRow &r, std::ostream *os) {
  *os << r.name;
}

class LogDialogTitleTest : public LogDialogTest, public ::testing::WithParamInterface<TitleRow> {};

TEST_P(LogDialogTitleTest, ShowsTheWholeLogAndSaysWhetherErrorsOccurred) {
  const TitleRow &r = GetParam();
  InstallContext ctx;
  InitContext(&ctx, RunFlag64Bit);
  WriteLog(&ctx, W(">>0010"));
  if (r.withError) {
    SetLastError(0);
    LogError(&ctx, ErrAddPrinter, MsgAddPrinter, W("Morvalente"));
  }
  WriteLog(&ctx, W("last line"));
  std::string log = mrvtest::U8(CountedStringText(ctx.Log));
  M().windows = {0x30c0e};
  HWND parent = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x30c0e));

  ShowLogDialog(&ctx, parent);

  ASSERT_EQ(P().dialogs.size(), 1u) << r.name;
  const winsim::DialogRecord &d = P().dialogs[0];
  EXPECT_EQ(d.templateId, 101) << r.name;
  EXPECT_EQ(d.owner, 0x30c0eu) << r.name;
  EXPECT_EQ(d.initParam, reinterpret_cast<int64_t>(&ctx)) << r.name;
  EXPECT_EQ(d.title, r.title) << r.name;
  EXPECT_EQ(d.text, log) << r.name;
  EXPECT_EQ(d.text.find("Error(15): Can`t add printer 'Morvalente'\r\n") != std::string::npos, r.withError)
      << r.name << "\n"
      << d.text;
  EXPECT_EQ(d.text.substr(d.text.size() - 11), "last line\r\n") << r.name;
  EXPECT_TRUE(d.ended) << r.name;
  EXPECT_EQ(ctx.ErrorCount, r.withError ? 1 : 0) << "the dialog changes nothing in the context";
  EXPECT_EQ(mrvtest::U8(CountedStringText(ctx.Log)), log) << r.name;
  FreeContext(&ctx);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, LogDialogTitleTest,
    ::testing::Values(TitleRow{"one_error", true, "Morvalente build 2563- Install error log!"},
                      TitleRow{"no_error", false, "Morvalente build 2563- Install log."}),
    [](const ::testing::TestParamInfo<TitleRow> &i) { return std::string(i.param.name); });

TEST_F(LogDialogTest, ReadsTheContextOnlyAtInitialisation) {
  InstallContext ctx = {};
  ASSERT_TRUE(AssignCountedString(&ctx.Log, W("Morvalente 2563\r\n")));
  ctx.ErrorCount = 0;
  bool stayedOpen = false;
  INT_PTR otherResults = -1;
  P().onDialogShown = [&](HWND dialog) {
    // The run changes after the dialog opened; other commands and messages
    // come in.
    ctx.ErrorCount = 3;
    AppendCountedString(&ctx.Log, W("later line\r\n"));
    otherResults = LogDialogProc(dialog, WM_COMMAND, IDC_LOG_TEXT, 0) |
                   LogDialogProc(dialog, WM_COMMAND, 0x10000 | 5, 0) | LogDialogProc(dialog, 0x000F, 0, 0);
    stayedOpen = IsWindow(dialog) && !P().dialogs[0].ended;
  };
  ShowLogDialog(&ctx, nullptr);
  EXPECT_EQ(otherResults, 0);
  EXPECT_TRUE(stayedOpen) << "other identifiers are ignored";
  EXPECT_EQ(P().dialogs[0].title, "Morvalente build 2563- Install log.");
  EXPECT_EQ(P().dialogs[0].text, "Morvalente 2563\r\n");
  EXPECT_EQ(winsim::CallCount("SetDlgItemTextW"), 1u);
  EXPECT_EQ(winsim::CallCount("SetWindowTextW"), 1u);
  EXPECT_EQ(ctx.ErrorCount, 3);
  FreeCountedString(&ctx.Log);
}

TEST_F(LogDialogTest, CommandIdentifierIsTheLowWord) {
  InstallContext ctx = {};
  P().onDialogShown = [](HWND dialog) {
    // Identifier IDOK with a notification code in the high word.
    EXPECT_EQ(LogDialogProc(dialog, WM_COMMAND, (1u << 16) | IDOK, 0), 0);
  };
  P().dialogClose = IDCANCEL;
  ShowLogDialog(&ctx, nullptr);
  EXPECT_EQ(P().dialogs[0].result, 1);
  EXPECT_EQ(P().dialogs[0].closeCommand, 0) << "closed before the test's own close command";
}

TEST_F(LogDialogTest, ProcedureReturnsZeroAndEndsWithOneOrZero) {
  InstallContext ctx = {};
  ctx.ErrorCount = 1;
  for (int close : {IDOK, IDCANCEL}) {
    SCOPED_TRACE(close);
    P().dialogs.clear();
    P().dialogClose = close;
    ShowLogDialog(&ctx, nullptr);
    ASSERT_EQ(P().dialogs.size(), 1u);
    EXPECT_EQ(P().dialogs[0].result, close == IDOK ? 1 : 0);
    EXPECT_EQ(P().dialogs[0].text, "") << "an empty log is an empty box";
    EXPECT_EQ(P().dialogs[0].title, "Morvalente build 2563- Install error log!");
  }
}

// ---------------------------------------------------------------------------
// The dispatcher shows the dialog after errors or with Shift held.
// ---------------------------------------------------------------------------

struct RunRow {
  const char *name;
  const char16_t *commandLine;
  bool error;  // the service manager cannot be opened: one error line
  bool shift;
  int dialogClose;
  DWORD exitCode;
  const char *title;  // null: no dialog
};
void PrintTo(const RunRow &r, std::ostream *os) {
  *os << r.name;
}

class RunDialogTest : public LogDialogTest, public ::testing::WithParamInterface<RunRow> {};

TEST_P(RunDialogTest, ShownAfterErrorsOrWithShiftAndClosingDoesNotChangeTheExitCode) {
  const RunRow &r = GetParam();
  M().scmUnopenable = r.error;
  M().shiftHeld = r.shift;
  M().windows = {4242};
  winsim::BeginProcess(r.commandLine);
  P().dialogClose = r.dialogClose;
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), r.exitCode) << r.name;
  if (r.title == nullptr) {
    EXPECT_TRUE(P().dialogs.empty()) << r.name;
    EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 0u) << r.name;
    return;
  }
  ASSERT_EQ(P().dialogs.size(), 1u) << r.name;
  const winsim::DialogRecord &d = P().dialogs[0];
  EXPECT_EQ(d.title, r.title) << r.name;
  EXPECT_EQ(d.owner, 4242u) << r.name;
  EXPECT_EQ(d.closeCommand, r.dialogClose) << r.name;
  EXPECT_EQ(d.text.rfind("Morvalente 2563\r\n", 0), 0u) << r.name << "\n" << d.text;
  EXPECT_EQ(d.text.find("Error(1): ") != std::string::npos, r.error) << r.name << "\n" << d.text;
  EXPECT_TRUE(winsim::Leaks().empty()) << r.name;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunDialogTest,
    ::testing::Values(
        RunRow{"install_error_close_button", u"install.exe install 4242", true, false, IDOK, 100,
               "Morvalente build 2563- Install error log!"},
        RunRow{"install_error_escape", u"install.exe install 4242", true, false, IDCANCEL, 100,
               "Morvalente build 2563- Install error log!"},
        RunRow{"install_error_shift_held", u"install.exe install 4242", true, true, IDCANCEL, 100,
               "Morvalente build 2563- Install error log!"},
        RunRow{"install_shift_close_button", u"install.exe install 4242", false, true, IDOK, 1,
               "Morvalente build 2563- Install log."},
        RunRow{"install_shift_escape", u"install.exe install 4242", false, true, IDCANCEL, 1,
               "Morvalente build 2563- Install log."},
        RunRow{"install_no_error_shift_up", u"install.exe install 4242", false, false, IDOK, 1, nullptr},
        RunRow{"uninstall_error_escape", u"install.exe uninstall 4242", true, false, IDCANCEL, 100,
               "Morvalente build 2563- Install error log!"},
        RunRow{"uninstall_shift_close_button", u"install.exe uninstall 4242", false, true, IDOK, 2,
               "Morvalente build 2563- Install log."},
        RunRow{"uninstall_no_error_shift_up", u"install.exe uninstall 4242", false, false, IDOK, 2, nullptr},
        RunRow{"queries_never_show_it", u"install.exe removetray", false, true, IDOK, 6, nullptr}),
    [](const ::testing::TestParamInfo<RunRow> &i) { return std::string(i.param.name); });

TEST_F(LogDialogTest, RunWithoutParentWindowShowsAnUnownedDialog) {
  M().shiftHeld = true;
  winsim::BeginProcess(u"install.exe in 777");
  P().dialogClose = IDOK;
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), 1u);
  ASSERT_EQ(P().dialogs.size(), 1u);
  EXPECT_EQ(P().dialogs[0].owner, 0u);
}

TEST_F(LogDialogTest, DialogThatCannotBeCreatedChangesNothing) {
  M().scmUnopenable = true;
  winsim::BeginProcess(u"install.exe install");
  winsim::AddFault("DialogBoxParamW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(DispatchCommand(GetModuleHandleW(nullptr)), 100u);
  EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 1u);
  EXPECT_TRUE(P().dialogs.empty());
  EXPECT_TRUE(winsim::Leaks().empty());
}

}  // namespace
