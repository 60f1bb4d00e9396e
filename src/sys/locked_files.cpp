#include "sys/locked_files.h"

#include "app/context.h"
#include "app/log.h"
#include "common/text.h"

namespace {

// Frees one node and its path copy.
void FreeNode(LockedFileNode *node) {
  if (node->Path != nullptr) GlobalFree(node->Path);
  GlobalFree(node);
}

}  // namespace

BOOL AddLockedFile(LockedFileNode **head, LPCWSTR path) {
  for (LockedFileNode *node = *head; node != nullptr; node = node->Next) {
    if (TextEquals(node->Path, path)) return TRUE;
  }
  int length = lstrlenW(path);
  LockedFileNode *node = (LockedFileNode *)GlobalAlloc(GPTR, sizeof(LockedFileNode));
  if (node == nullptr) return FALSE;
  node->Path = (LPWSTR)GlobalAlloc(GPTR, ((SIZE_T)length + 1) * sizeof(WCHAR));
  if (node->Path == nullptr) {
    GlobalFree(node);
    return FALSE;
  }
  lstrcpyW(node->Path, path);
  node->Next = *head;
  *head = node;
  return TRUE;
}

void DeleteOrRemember(InstallContext *ctx, LPCWSTR path) {
  if (DeleteFileW(path)) return;
  if (path == nullptr || path[0] == 0) return;
  AddLockedFile(&ctx->LockedFiles, path);
}

void DeleteFileTry(InstallContext *ctx) {
  WriteLog(ctx, W("DeleteFile-try"));
  LockedFileNode **link = &ctx->LockedFiles;
  while (*link != nullptr) {
    LockedFileNode *node = *link;
    if (DeleteFileW(node->Path) || GetLastError() == ERROR_FILE_NOT_FOUND) {
      *link = node->Next;
      FreeNode(node);
    } else {
      link = &node->Next;
    }
  }
}

DWORD ScheduleDeleteAtRestart(InstallContext *ctx) {
  DWORD accepted = 0;
  for (LockedFileNode *node = ctx->LockedFiles; node != nullptr; node = node->Next) {
    if (MoveFileExW(node->Path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) accepted += 1;
  }
  ClearLockedFileList(&ctx->LockedFiles);
  return accepted;
}

void ClearLockedFileList(LockedFileNode **head) {
  LockedFileNode *node = *head;
  while (node != nullptr) {
    LockedFileNode *next = node->Next;
    FreeNode(node);
    node = next;
  }
  *head = nullptr;
}
