#include "app/log_dialog.h"

#include "app/dispatch.h"
#include "common/counted_string.h"
#include "common/format.h"
#include "common/product.h"

void FormatLogDialogTitle(WCHAR *title, LONG errorCount) {
  FormatText(title, LogDialogTitleChars, W("Morvalente build %d- Install%s"), InstallerBuild,
             errorCount != 0 ? W(" error log!") : W(" log."));
}

INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const InstallContext *ctx = (const InstallContext *)lParam;
    if (ctx == nullptr) return 0;
    SetDlgItemTextW(dialog, IDC_LOG_TEXT, CountedStringText(ctx->Log));
    WCHAR title[LogDialogTitleChars];
    FormatLogDialogTitle(title, ctx->ErrorCount);
    SetWindowTextW(dialog, title);
  } else if (message == WM_COMMAND) {
    WORD id = LOWORD(wParam);
    if (id == IDOK) EndDialog(dialog, 1);
    if (id == IDCANCEL) EndDialog(dialog, 0);
  }
  return 0;
}

void ShowLogDialog(InstallContext *ctx, HWND parent) {
  DialogBoxParamW(ProgramInstance, MAKEINTRESOURCEW(IDD_LOG), parent, LogDialogProc, (LPARAM)ctx);
}
