// winsim's modal dialogs: DialogBoxParamW runs the dialog procedure, records
// what it shows, and closes it through WM_COMMAND as the test, the terminal
// user or the "Close" button decides.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/fixture.h"
#include "winsim/winsim.h"

namespace {

using winsim::P;

// A dialog procedure like a log dialog's, recording what it was sent.
struct ProcLog {
  std::vector<UINT> messages;
  std::vector<WPARAM> commands;
  LPARAM initParam = 0;
  bool endOnInit = false;
  bool ignoreCommands = false;
};
ProcLog g_proc;

INT_PTR CALLBACK TestProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_proc.messages.push_back(msg);
  if (msg == WM_INITDIALOG) {
    g_proc.initParam = lParam;
    SetDlgItemTextW(hDlg, 1001, u"first line\r\nsecond line\r\n");
    SetWindowTextW(hDlg, u"Test title");
    if (g_proc.endOnInit) EndDialog(hDlg, 7);
  } else if (msg == WM_COMMAND) {
    g_proc.commands.push_back(wParam);
    if (g_proc.ignoreCommands) return 0;
    if (LOWORD(wParam) == IDOK) EndDialog(hDlg, 1);
    if (LOWORD(wParam) == IDCANCEL) EndDialog(hDlg, 0);
  }
  return 0;
}

const LPCWSTR kTemplate = MAKEINTRESOURCEW(101);

// The test program never waits for a key when it is run from a terminal: a
// dialog that no test closes is written to stderr and closed with IDOK.
const bool kDialogsOnStderr = setenv("WINSIM_DIALOG", "stderr", 0) == 0;

class DialogTest : public mrvtest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    g_proc = ProcLog();
  }
  INT_PTR Show(HWND owner = nullptr, LPARAM param = 0x1234) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), kTemplate, owner, TestProc, param);
  }
};

struct CloseCase {
  const char *name;
  int dialogClose;
  INT_PTR result;
};
void PrintTo(const CloseCase &c, std::ostream *os) {
  *os << c.name;
}

class DialogCloseTest : public DialogTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(DialogCloseTest, ProcedureSeesInitialisationThenTheCloseCommand) {
  const CloseCase &c = GetParam();
  winsim::M().windows = {0x7700a};
  HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7700a));
  P().dialogClose = c.dialogClose;
  EXPECT_EQ(Show(owner, 0xC0FFEE), c.result) << c.name;

  EXPECT_EQ(g_proc.messages, (std::vector<UINT>{WM_INITDIALOG, WM_COMMAND})) << c.name;
  EXPECT_EQ(g_proc.initParam, 0xC0FFEE) << c.name;
  EXPECT_EQ(g_proc.commands, (std::vector<WPARAM>{static_cast<WPARAM>(c.dialogClose)})) << c.name;
  ASSERT_EQ(P().dialogs.size(), 1u) << c.name;
  const winsim::DialogRecord &r = P().dialogs[0];
  EXPECT_EQ(r.templateId, 101) << c.name;
  EXPECT_EQ(r.owner, 0x7700au) << c.name;
  EXPECT_EQ(r.initParam, 0xC0FFEE) << c.name;
  EXPECT_EQ(r.title, "Test title") << c.name;
  EXPECT_EQ(r.text, "first line\r\nsecond line\r\n") << c.name;
  EXPECT_EQ(r.button, "Close") << c.name;
  EXPECT_TRUE(r.shown) << c.name;
  EXPECT_TRUE(r.ended) << c.name;
  EXPECT_EQ(r.closeCommand, c.dialogClose) << c.name;
  EXPECT_EQ(r.result, c.result) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Closing, DialogCloseTest,
                         ::testing::Values(CloseCase{"close_button", IDOK, 1},
                                           CloseCase{"escape", IDCANCEL, 0}),
                         [](const ::testing::TestParamInfo<CloseCase> &i) {
                           return std::string(i.param.name);
                         });

TEST_F(DialogTest, DialogWindowLivesOnlyWhileOpen) {
  P().dialogClose = IDOK;
  HWND seen = nullptr;
  bool validInside = false, foundByTitle = false;
  P().onDialogShown = [&](HWND h) {
    seen = h;
    validInside = IsWindow(h) != 0;
    foundByTitle = FindWindowW(u"#32770", u"Test title") == h;
  };
  ASSERT_EQ(Show(), 1);
  ASSERT_NE(seen, nullptr);
  EXPECT_TRUE(validInside);
  EXPECT_TRUE(foundByTitle);
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_FALSE(SetWindowTextW(seen, u"late"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(EndDialog(seen, 3));
  EXPECT_EQ(P().dialogs[0].title, "Test title");
}

TEST_F(DialogTest, RecordFollowsTextsSetWhileOpen) {
  P().dialogClose = IDCANCEL;
  P().onDialogShown = [](HWND h) {
    EXPECT_TRUE(SetWindowTextW(h, u"Changed"));
    EXPECT_TRUE(SetDlgItemTextW(h, 1, u"Done"));
    EXPECT_FALSE(SetDlgItemTextW(h, 1002, u"no such control"));
    EXPECT_EQ(GetLastError(), 1421u);
  };
  ASSERT_EQ(Show(), 0);
  EXPECT_EQ(P().dialogs[0].title, "Changed");
  EXPECT_EQ(P().dialogs[0].button, "Done");
}

TEST_F(DialogTest, EndedDuringInitialisationIsNeverShown) {
  P().dialogClose = IDOK;
  g_proc.endOnInit = true;
  bool hookCalled = false;
  P().onDialogShown = [&](HWND) { hookCalled = true; };
  EXPECT_EQ(Show(), 7);
  EXPECT_FALSE(hookCalled);
  EXPECT_EQ(g_proc.messages, std::vector<UINT>{WM_INITDIALOG});
  EXPECT_FALSE(P().dialogs[0].shown);
  EXPECT_TRUE(P().dialogs[0].ended);
}

TEST_F(DialogTest, ProcedureThatNeverEndsTheDialogIsReported) {
  P().dialogClose = IDOK;
  g_proc.ignoreCommands = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Show(), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("did not end it"), std::string::npos) << err;
  EXPECT_FALSE(P().dialogs[0].ended);
  EXPECT_EQ(P().dialogs[0].result, -1);
}

struct RefusalCase {
  const char *name;
  bool otherInstance;
  uintptr_t templateId;
  uintptr_t owner;
  bool fault;
  DWORD error;
};
void PrintTo(const RefusalCase &c, std::ostream *os) {
  *os << c.name;
}

class DialogRefusalTest : public DialogTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(DialogRefusalTest, NothingRunsAndMinusOneComesBack) {
  const RefusalCase &c = GetParam();
  P().dialogClose = IDOK;
  if (c.fault) winsim::AddFault("DialogBoxParamW", c.error);
  HINSTANCE inst = c.otherInstance ? reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7ff00000))
                                   : GetModuleHandleW(nullptr);
  EXPECT_EQ(
      DialogBoxParamW(inst, MAKEINTRESOURCEW(c.templateId), reinterpret_cast<HWND>(c.owner), TestProc, 0), -1)
      << c.name;
  EXPECT_EQ(GetLastError(), c.error) << c.name;
  EXPECT_TRUE(g_proc.messages.empty()) << c.name;
  EXPECT_TRUE(P().dialogs.empty()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, DialogRefusalTest,
    ::testing::Values(RefusalCase{"unknown_template", false, 102, 0, false, 1814},
                      RefusalCase{"other_module", true, 101, 0, false, 1814},
                      RefusalCase{"owner_not_a_window", false, 101, 0x99990, false,
                                  ERROR_INVALID_WINDOW_HANDLE},
                      RefusalCase{"no_desktop", false, 101, 0, true, ERROR_ACCESS_DENIED}),
    [](const ::testing::TestParamInfo<RefusalCase> &i) { return std::string(i.param.name); });

// Points stdin and stderr somewhere else for the length of a test.
class Redirect {
 public:
  Redirect(int in, int err) : savedIn_(dup(0)), savedErr_(dup(2)) {
    dup2(in, 0);
    dup2(err, 2);
  }
  ~Redirect() {
    dup2(savedIn_, 0);
    dup2(savedErr_, 2);
    close(savedIn_);
    close(savedErr_);
  }

 private:
  int savedIn_, savedErr_;
};

TEST_F(DialogTest, WithoutATerminalItIsWrittenToStderrAndClosedAsByTheButton) {
  int null = open("/dev/null", O_RDONLY);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  INT_PTR result;
  {
    Redirect r(null, pipeFds[1]);
    result = Show();
  }
  close(pipeFds[1]);
  close(null);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_proc.commands, std::vector<WPARAM>{IDOK});
  EXPECT_EQ(out, "=== Test title ===\nfirst line\nsecond line\n=== [ Close ] ===\n");
}

// The dialog on a pseudo-terminal: keys typed in advance, the screen read
// back while it runs.
class TerminalDialogTest : public DialogTest {
 protected:
  std::string RunWithKeys(const std::string &keys, INT_PTR *result) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave, 0);
    EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    std::string screen;
    std::atomic<bool> done{false};
    std::thread reader([&] {
      char buf[4096];
      for (;;) {
        pollfd p{master, POLLIN, 0};
        int ready = poll(&p, 1, 20);
        if (ready > 0) {
          ssize_t n = read(master, buf, sizeof buf);
          if (n <= 0) break;
          screen.append(buf, static_cast<size_t>(n));
        } else if (done) {
          break;
        }
      }
    });
    {
      Redirect r(slave, slave);
      setenv("WINSIM_DIALOG", "terminal", 1);
      *result = Show();
      setenv("WINSIM_DIALOG", "stderr", 1);
    }
    done = true;
    reader.join();
    close(slave);
    close(master);
    return screen;
  }
};

TEST_F(TerminalDialogTest, EnterClosesWithTheButtonsCommand) {
  INT_PTR result = 0;
  std::string screen = RunWithKeys("\r", &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_proc.commands, std::vector<WPARAM>{IDOK});
  EXPECT_NE(screen.find("+- Test title -"), std::string::npos) << screen;
  EXPECT_NE(screen.find("|first line"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[ Close ]"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\x1b[?1049l"), std::string::npos) << "the screen is given back";
}

TEST_F(TerminalDialogTest, ScrollingKeysKeepItOpenAndEscapeClosesWithCancel) {
  INT_PTR result = 0;
  // Down, Page Down, Right, j, then Escape alone.
  std::string screen = RunWithKeys("\x1b[B\x1b[6~\x1b[Cj\x1b", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_proc.commands, std::vector<WPARAM>{IDCANCEL});
  size_t draws = 0;
  for (size_t at = screen.find("+- Test title"); at != std::string::npos;
       at = screen.find("+- Test title", at + 1))
    ++draws;
  EXPECT_EQ(draws, 5u) << "drawn once and again after each of the four scrolling keys";
}

TEST_F(TerminalDialogTest, QClosesWithCancelAndLaterKeysStayUnread) {
  INT_PTR result = 0;
  std::string screen = RunWithKeys("jq\r", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_proc.commands, std::vector<WPARAM>{IDCANCEL});
}

TEST_F(TerminalDialogTest, LongTextScrollsInsteadOfSpillingOver) {
  std::u16string many;
  for (int i = 0; i < 200; ++i) many += u"line " + winsim::ToUtf16(std::to_string(i)) + u"\r\n";
  static std::u16string s_text;
  s_text = many;
  INT_PTR result = 0;
  P().onDialogShown = [](HWND h) { SetDlgItemTextW(h, 1001, s_text.c_str()); };
  std::string screen = RunWithKeys("\x1b[F\r", &result);  // End, then Enter
  EXPECT_EQ(result, 1);
  EXPECT_NE(screen.find("|line 0 "), std::string::npos);
  EXPECT_NE(screen.find("|line 199 "), std::string::npos) << "End shows the last line";
  EXPECT_EQ(screen.find("|line 100 "), std::string::npos) << "lines outside the box are not drawn";
}

}  // namespace
