// The run log: indentation, error lines with the system's text, the error
// table, the line limit and the last error left alone.
#include "app/log.h"

#include <string>

#include "app/context.h"
#include "app/error_codes.h"
#include "support/run_context.h"

namespace {

using mrvtest::U8;

// MachineText asks the machine itself, so that it can judge the installer's
// own SystemErrorText.
class LogTest : public mrvtest::ContextTest {};

TEST_F(LogTest, IndentationIsTwoBlanksPerLevelUpToTen) {
  struct Row {
    const char *name;
    LONG level;
    std::string expected;
  } rows[] = {
      {"negative", -1, "abc\r\n"},
      {"zero", 0, "abc\r\n"},
      {"three", 3, "      abc\r\n"},
      {"ten", 10, std::string(20, ' ') + "abc\r\n"},
      {"fifteen", 15, std::string(20, ' ') + "abc\r\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    FreeContext(&ctx_);
    ctx_ = InstallContext{};
    ctx_.IndentLevel = row.level;
    WriteLog(&ctx_, u"abc");
    EXPECT_EQ(Log(), row.expected);
    EXPECT_EQ(ctx_.IndentLevel, row.level);
    EXPECT_EQ(ctx_.ErrorCount, 0);
  }
}

TEST_F(LogTest, LinesAccumulateAndAnEmptyTextStillAddsALine) {
  WriteLog(&ctx_, u">Check Spooler");
  ctx_.IndentLevel = 1;
  WriteLog(&ctx_, u"");
  AppendLogLine(&ctx_, nullptr);
  ctx_.IndentLevel = 0;
  WriteLog(&ctx_, u"PrinterDriverDirectory(1):%s", u"C:\\x");
  EXPECT_EQ(Log(), ">Check Spooler\r\n  \r\n  \r\nPrinterDriverDirectory(1):C:\\x\r\n");
}

TEST_F(LogTest, ErrorLines) {
  struct Row {
    const char *name;
    DWORD lastError;
    LONG level;
    std::string expected;
  } rows[] = {
      {"no last error", 0, 0, "Error(4): Can't start the spooler\r\n"},
      {"with the system's text", ERROR_ACCESS_DENIED, 1,
       "  Error(4): Can't start the spooler - (" + MachineText(ERROR_ACCESS_DENIED) + ")\r\n"},
      {"code without a text", 9999, 0, "Error(4): Can't start the spooler - ( No Description )\r\n"},
  };
  ASSERT_FALSE(MachineText(ERROR_ACCESS_DENIED).empty());
  ASSERT_TRUE(MachineText(9999).empty());
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    FreeContext(&ctx_);
    ctx_ = InstallContext{};
    ctx_.IndentLevel = row.level;
    SetLastError(row.lastError);
    LogError(&ctx_, ErrStartSpooler, MsgStartSpooler);
    EXPECT_EQ(Log(), row.expected);
    EXPECT_EQ(ctx_.ErrorCount, 1);
    EXPECT_EQ(GetLastError(), row.lastError) << "the log leaves the last error alone";
  }
}

TEST_F(LogTest, ErrorFiveShowsTheCodeInDecimalAndHex) {
  SetLastError(ERROR_SERVICE_NOT_ACTIVE);
  LogError(&ctx_, ErrControlService, MsgControlService, 1062, 1062);
  EXPECT_EQ(Log(), "Error(5): ControlService failed with code 1062 (0x426) - (" +
                       MachineText(ERROR_SERVICE_NOT_ACTIVE) + ")\r\n");
  SetLastError(0);
  LogError(&ctx_, ErrControlService, MsgControlService, -2147483647 - 1, 0x80000000u);
  EXPECT_NE(Log().find("Error(5): ControlService failed with code -2147483648 (0x80000000)\r\n"),
            std::string::npos);
  EXPECT_EQ(ctx_.ErrorCount, 2);
}

TEST_F(LogTest, EveryCodeHasItsOwnMessage) {
  struct Row {
    int code;
    std::string line;
  } rows[] = {
      {1, "Error(1): Can't open service manager."},
      {2, "Error(2): Can't open the spooler"},
      {3, "Error(3): Can't stop the spooler"},
      {4, "Error(4): Can't start the spooler"},
      {5, "Error(5): ControlService failed with code 7 (0x7)"},
      {6, "Error(6): Can`t retrieve printer driver directory."},
      {7, "Error(7): Can`t retrieve system directory."},
      {8, "Error(8): CopyFile(..,X)"},
      {9, "Error(9): Cant't open destination file: X"},
      {10, "Error(10): Cant't open source file: X"},
      {11, "Error(11): Can`t install a local port monitor'Morvalente:'"},
      {12, "Error(12): Can`t remove the port monitor 'Morvalente:'"},
      {13, "Error(13): Can`t install a printer driver 'Morvalente printer'"},
      {14, "Error(14): Can`t remove the printer-driver 'Morvalente printer'"},
      {15, "Error(15): Can`t add printer 'X'"},
      {16, "Error(16): Can`t open printer 'X'"},
      {17, "Error(17): Can`t delete printer 'X'"},
  };
  SetLastError(0);
  for (const auto &row : rows) {
    FreeContext(&ctx_);
    ctx_ = InstallContext{};
    const char16_t *format = ErrorMessageFormat(row.code);
    ASSERT_NE(format, nullptr) << row.code;
    // Formats take either an integer pair or one text; the extra argument is unused.
    if (row.code == ErrControlService)
      LogError(&ctx_, row.code, format, 7, 7);
    else
      LogError(&ctx_, row.code, format, u"X");
    EXPECT_EQ(Log(), row.line + "\r\n") << "code " << row.code;
  }
  EXPECT_EQ(ErrorMessageFormat(0), nullptr);
  EXPECT_EQ(ErrorMessageFormat(18), nullptr);
}

TEST_F(LogTest, OverlongTextsAreCutAtTheLineLimit) {
  std::u16string path(2000, u'p');
  ctx_.IndentLevel = 2;
  WriteLog(&ctx_, u"CopyFile %s", path.c_str());
  std::string expected = "    CopyFile " + std::string(LogLineLimit - 9, 'p') + "\r\n";
  EXPECT_EQ(Log(), expected);

  FreeContext(&ctx_);
  ctx_ = InstallContext{};
  SetLastError(ERROR_ACCESS_DENIED);
  LogError(&ctx_, ErrCopyFile, MsgCopyFile, path.c_str());
  std::string line = Log();
  ASSERT_EQ(line.size(), LogLineLimit + 2);
  EXPECT_EQ(line.substr(0, 21), "Error(8): CopyFile(..");
  EXPECT_EQ(line.substr(line.size() - 3), "p\r\n");
  EXPECT_EQ(ctx_.ErrorCount, 1);

  // A line just at the limit comes out whole.
  FreeContext(&ctx_);
  ctx_ = InstallContext{};
  std::u16string exact(LogLineLimit, u'e');
  WriteLog(&ctx_, u"%s", exact.c_str());
  EXPECT_EQ(Log(), std::string(LogLineLimit, 'e') + "\r\n");
}

TEST_F(LogTest, WritingLeavesTheLastErrorAlone) {
  SetLastError(ERROR_SHARING_VIOLATION);
  // Enough lines to move the log's block several times.
  for (int i = 0; i < 50; ++i) WriteLog(&ctx_, u"line %d of the run", i);
  AppendLogLine(&ctx_, u"x");
  EXPECT_GT(winsim::CallCount("HeapReAlloc"), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
}

TEST_F(LogTest, WithoutAContextNothingIsWritten) {
  SetLastError(ERROR_ACCESS_DENIED);
  WriteLog(nullptr, u">RestartSpooler");
  LogError(nullptr, ErrStopSpooler, MsgStopSpooler);
  AppendLogLine(nullptr, u"x");
  EXPECT_EQ(winsim::CallCount("FormatMessageW"), 0u);
  EXPECT_EQ(winsim::CallCount("HeapAlloc"), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(LogTest, SystemErrorTextDropsTheLineEnd) {
  LPWSTR text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_NE(text, nullptr);
  std::string s = U8(text);
  EXPECT_EQ(s, MachineText(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(s.empty());
  EXPECT_NE(s.back(), '\n');
  EXPECT_NE(s.back(), '\r');
  LocalFree(text);
  EXPECT_EQ(SystemErrorText(9999), nullptr);
  // Asked in language 1033, with the system allocating the text.
  bool asked = false;
  for (auto &e : winsim::P().journal)
    if (e.call == "FormatMessageW" && e.args == "2") asked = true;
  EXPECT_TRUE(asked);
}

}  // namespace
