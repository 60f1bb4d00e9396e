#include "app/log.h"

#include <cstdarg>

#include "common/format.h"
#include "common/text.h"

namespace {

const DWORD MaxIndentLevels = 10;
const WCHAR Blanks[] = W("                    ");  // 2 * MaxIndentLevels
const DWORD LineBufferUnits = LogLineLimit + 1;

// language 1033: English (United States)
const DWORD MessageLanguage = 1033;

// The line itself, with no care for the last error.
void AppendLine(InstallContext *ctx, LPCWSTR text) {
  LONG level = ctx->IndentLevel;
  if (level > (LONG)MaxIndentLevels) level = (LONG)MaxIndentLevels;
  if (level > 0) AppendCountedChars(&ctx->Log, Blanks, (uint64_t)level * 2);
  if (text != nullptr && text[0] != 0) AppendCountedString(&ctx->Log, text);
  AppendCountedChars(&ctx->Log, W("\r\n"), 2);
}

}  // namespace

void AppendLogLine(InstallContext *ctx, LPCWSTR text) {
  if (ctx == nullptr) return;
  DWORD lastError = GetLastError();
  AppendLine(ctx, text);
  SetLastError(lastError);
}

void WriteLog(InstallContext *ctx, LPCWSTR format, ...) {
  if (ctx == nullptr) return;
  DWORD lastError = GetLastError();
  WCHAR line[LineBufferUnits];
  va_list args;
  va_start(args, format);
  FormatTextV(line, LineBufferUnits, format, args);
  va_end(args);
  AppendLine(ctx, line);
  SetLastError(lastError);
}

void LogError(InstallContext *ctx, int code, LPCWSTR format, ...) {
  if (ctx == nullptr) return;
  WCHAR line[LineBufferUnits];
  FormatResult prefix = FormatText(line, LineBufferUnits, W("Error(%d): "), code);
  DWORD length = prefix.Length;
  va_list args;
  va_start(args, format);
  length += FormatTextV(line + length, LineBufferUnits - length, format, args).Length;
  va_end(args);

  // The formatter never touches the last error: this is the failed call's code.
  DWORD lastError = GetLastError();
  LPWSTR systemText = nullptr;
  if (lastError != 0) {
    systemText = SystemErrorText(lastError);
    if (systemText != nullptr) {
      FormatText(line + length, LineBufferUnits - length, W(" - (%s)"), systemText);
    } else {
      FormatText(line + length, LineBufferUnits - length, W(" - ( No Description )"));
    }
  }
  AppendLine(ctx, line);
  ctx->ErrorCount += 1;
  if (systemText != nullptr) LocalFree(systemText);
  SetLastError(lastError);
}

LPWSTR SystemErrorText(DWORD code) {
  LPWSTR text = nullptr;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the
  // address of the block the system allocates.
  DWORD length = FormatMessageW(flags, nullptr, code, MessageLanguage, (LPWSTR)&text, 0, nullptr);
  if (length == 0 || text == nullptr) {
    if (text != nullptr) LocalFree(text);
    return nullptr;
  }
  uint64_t end = TextLength(text);
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  text[end] = 0;
  return text;
}
