// The run's locked-file list: no duplicates, newest first, retries that drop
// what is gone, and the hand-over to the system for deletion at restart.
#include <string>
#include <vector>

#include "app/context.h"
#include "common/counted_string.h"
#include "support/run_context.h"
#include "support/scenario.h"
#include "sys/locked_files.h"
#include "sys/spooler_restart.h"

namespace {

using mrvtest::CallArgs;
using mrvtest::PendingStrings;
using mrvtest::U8;

std::vector<std::string> Paths(const LockedFileNode *head) {
  std::vector<std::string> out;
  for (; head != nullptr; head = head->Next) out.push_back(U8(head->Path));
  return out;
}

void Hold(const std::string &path) {
  winsim::M().holds.push_back({path, 0, -1, "viewer"});
}

class LockedFilesTest : public mrvtest::ContextTest {};

TEST_F(LockedFilesTest, PathsAreListedOnceNewestFirst) {
  struct Row {
    const char *name;
    std::vector<std::u16string> added;
    std::vector<std::string> listed;
  };
  const Row rows[] = {
      {"one path", {u"C:\\a.dll"}, {"C:\\a.dll"}},
      {"the same path twice", {u"C:\\a.dll", u"C:\\a.dll"}, {"C:\\a.dll"}},
      {"paths that differ in case", {u"C:\\a.dll", u"C:\\A.dll"}, {"C:\\A.dll", "C:\\a.dll"}},
      {"a prefix of a listed path", {u"C:\\a.dll", u"C:\\a.dl"}, {"C:\\a.dl", "C:\\a.dll"}},
      {"newest first", {u"C:\\a", u"C:\\b", u"C:\\c", u"C:\\b"}, {"C:\\c", "C:\\b", "C:\\a"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    LockedFileNode *head = nullptr;
    for (auto &p : row.added) EXPECT_TRUE(AddLockedFile(&head, p.c_str()));
    EXPECT_EQ(Paths(head), row.listed);
    for (auto *n = head; n != nullptr; n = n->Next) {
      EXPECT_EQ(winsim::P().blocks.count(n->Path), 1u);  // its own block
    }
    ClearLockedFileList(&head);
    EXPECT_EQ(head, nullptr);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

TEST_F(LockedFilesTest, MemoryShortageLeavesTheListAsItWas) {
  LockedFileNode *head = nullptr;
  ASSERT_TRUE(AddLockedFile(&head, u"C:\\a.dll"));
  for (uint32_t which : {1u, 2u}) {  // the node, then the path copy
    SCOPED_TRACE(which);
    winsim::ClearFaults();
    winsim::AddFault("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY,
                     static_cast<uint32_t>(winsim::CallCount("GlobalAlloc")) + which);
    EXPECT_FALSE(AddLockedFile(&head, u"C:\\b.dll"));
    EXPECT_EQ(Paths(head), std::vector<std::string>{"C:\\a.dll"});
    EXPECT_EQ(winsim::P().blocks.size(), 2u);  // a's node and copy only
  }
  winsim::ClearFaults();
  ClearLockedFileList(&head);
}

TEST_F(LockedFilesTest, DeleteOrRememberListsWhatCannotBeDeleted) {
  winsim::WriteHostFile("C:\\Data\\free.dll", "x");
  winsim::WriteHostFile("C:\\Data\\held.dll", "x");
  Hold("C:\\Data\\held.dll");
  DeleteOrRemember(&ctx_, u"C:\\Data\\free.dll");
  DeleteOrRemember(&ctx_, u"C:\\Data\\held.dll");
  DeleteOrRemember(&ctx_, u"C:\\Data\\missing.dll");
  DeleteOrRemember(&ctx_, u"C:\\NoDir\\missing.dll");
  DeleteOrRemember(&ctx_, u"");
  DeleteOrRemember(&ctx_, u"C:\\Data\\held.dll");
  EXPECT_FALSE(winsim::FileExists("C:\\Data\\free.dll"));
  EXPECT_EQ(
      Paths(ctx_.LockedFiles),
      (std::vector<std::string>{"C:\\NoDir\\missing.dll", "C:\\Data\\missing.dll", "C:\\Data\\held.dll"}));
  EXPECT_EQ(Log(), "");  // nothing is logged
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 6u);

  // One retry: the missing file (error 2) goes, the missing directory
  // (error 3) and the held file stay, in their order.
  ctx_.IndentLevel = 2;
  DeleteFileTry(&ctx_);
  EXPECT_EQ(Log(), "    DeleteFile-try\r\n");
  EXPECT_EQ(ctx_.IndentLevel, 2);
  EXPECT_EQ(Paths(ctx_.LockedFiles),
            (std::vector<std::string>{"C:\\NoDir\\missing.dll", "C:\\Data\\held.dll"}));
}

TEST_F(LockedFilesTest, RetryTakesTheNewestFirstAndKeepsTheOrder) {
  for (const char *p : {"C:\\Data\\a.dll", "C:\\Data\\b.dll", "C:\\Data\\c.dll"}) {
    winsim::WriteHostFile(p, "x");
    Hold(p);
    DeleteOrRemember(&ctx_, winsim::ToUtf16(p).c_str());
  }
  // The middle one is let go.
  winsim::M().holds.erase(winsim::M().holds.begin() + 1);
  size_t before = CallArgs("DeleteFileW").size();
  DeleteFileTry(&ctx_);
  std::vector<std::string> tried = CallArgs("DeleteFileW");
  tried.erase(tried.begin(), tried.begin() + static_cast<long>(before));
  EXPECT_EQ(tried, (std::vector<std::string>{"C:\\Data\\c.dll", "C:\\Data\\b.dll", "C:\\Data\\a.dll"}));
  EXPECT_EQ(Paths(ctx_.LockedFiles), (std::vector<std::string>{"C:\\Data\\c.dll", "C:\\Data\\a.dll"}));
  EXPECT_FALSE(winsim::FileExists("C:\\Data\\b.dll"));
  // b's node and copy were freed; two nodes and two copies are left.
  size_t global = 0;
  for (auto &b : winsim::P().blocks) global += b.second == "GlobalAlloc" ? 1 : 0;
  EXPECT_EQ(global, 4u);
}

TEST_F(LockedFilesTest, RetryOfAnEmptyListOnlyWritesItsLine) {
  DeleteFileTry(&ctx_);
  EXPECT_EQ(Log(), "DeleteFile-try\r\n");
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0u);
}

// The monitor DLL is in use while the spooler runs: listed, then deleted by
// the retry while the spooler is stopped.
TEST_F(LockedFilesTest, LoadedMonitorIsDeletedWhileTheSpoolerIsStopped) {
  const char dll[] = "C:\\Windows\\System32\\gwrmon64.dll";
  mrvtest::PutMonitorFileBuild(2563);
  mrvtest::PutMonitor();
  DeleteOrRemember(&ctx_, u"C:\\Windows\\System32\\gwrmon64.dll");
  DeleteFileTry(&ctx_);
  EXPECT_EQ(Paths(ctx_.LockedFiles), std::vector<std::string>{dll});
  {
    SpoolerRestart restart;
    RestartSpooler(&restart, &ctx_);
    DeleteFileTry(&ctx_);
  }
  EXPECT_EQ(ctx_.LockedFiles, nullptr);
  EXPECT_FALSE(winsim::FileExists(dll));
  EXPECT_EQ(Log(), "DeleteFile-try\r\n>Restart Spooler\r\nDeleteFile-try\r\n");
  EXPECT_EQ(winsim::M().services[0].state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(LockedFilesTest, ScheduleHandsOverNewestFirstAndEmptiesTheList) {
  EXPECT_EQ(ScheduleDeleteAtRestart(&ctx_), 0u);
  EXPECT_EQ(winsim::CallCount("MoveFileExW"), 0u);

  for (const char *p : {"C:\\Data\\a.dll", "C:\\Data\\b.dll", "C:\\Data\\c.dll"}) {
    winsim::WriteHostFile(p, "x");
    Hold(p);
    DeleteOrRemember(&ctx_, winsim::ToUtf16(p).c_str());
  }
  winsim::AddFault("MoveFileExW", ERROR_ACCESS_DENIED, 2);  // b is refused
  EXPECT_EQ(ScheduleDeleteAtRestart(&ctx_), 2u);
  EXPECT_EQ(ctx_.LockedFiles, nullptr);
  EXPECT_EQ(
      CallArgs("MoveFileExW"),
      (std::vector<std::string>{"C:\\Data\\c.dll ->  4", "C:\\Data\\b.dll ->  4", "C:\\Data\\a.dll ->  4"}));
  EXPECT_EQ(PendingStrings(),
            (std::vector<std::string>{"\\??\\C:\\Data\\c.dll", "", "\\??\\C:\\Data\\a.dll", "", ""}));
  EXPECT_EQ(Log(), "");
  winsim::ClearFaults();
  // The restart carries the deletions out; the refused path is left.
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists("C:\\Data\\c.dll"));
  EXPECT_TRUE(winsim::FileExists("C:\\Data\\b.dll"));
  EXPECT_FALSE(winsim::FileExists("C:\\Data\\a.dll"));
}

TEST_F(LockedFilesTest, TheContextFreesWhatIsStillListed) {
  for (const char16_t *p : {u"C:\\x\\1", u"C:\\x\\2", u"C:\\x\\3"}) DeleteOrRemember(&ctx_, p);
  EXPECT_EQ(winsim::P().blocks.size(), 6u);  // three nodes, three path copies
  FreeContext(&ctx_);
  EXPECT_TRUE(winsim::Leaks().empty());
}

}  // namespace

// A whole uninstall whose monitor file another process keeps open: the file
// is handed over for deletion at restart and the run answers 101.
TEST_F(LockedFilesTest, UninstallEndsWith101WhenFilesWereHandedOver) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  const std::string mon = "C:\\Windows\\System32\\gwrmon64.dll";
  ASSERT_TRUE(winsim::FileExists(mon));
  winsim::M().holds.push_back({mon, FILE_SHARE_READ, -1, "scanner"});
  mrvtest::RunResult run = mrvtest::RunCommand(u"install.exe un");
  EXPECT_EQ(run.exitCode, 101u);
  // Retried once with the spooler running, once stopped, then handed over.
  const std::string tail = "  DeleteFile-try\r\nDeleteFile-try\r\n>Restart Spooler\r\nDeleteFile-try\r\n";
  ASSERT_GE(run.log.size(), tail.size());
  EXPECT_EQ(run.log.substr(run.log.size() - tail.size()), tail) << run.log;
  EXPECT_EQ(PendingStrings(), (std::vector<std::string>{"\\??\\" + mon, "", ""}));
  EXPECT_TRUE(run.leaks.empty());
  winsim::Reboot();
  EXPECT_FALSE(winsim::FileExists(mon));
}
