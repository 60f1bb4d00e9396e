#include "app/dispatch.h"

#include "app/context.h"
#include "app/log.h"
#include "app/log_dialog.h"
#include "app/sequences.h"
#include "common/text.h"
#include "companion/help_viewer.h"
#include "companion/tray_program.h"
#include "spool/default_printer.h"
#include "spool/driver_build.h"
#include "sys/locked_files.h"
#include "sys/pending_renames.h"

HINSTANCE ProgramInstance = nullptr;

namespace {

// The Shift key counts as held when the top bit of the key state is set.
BOOL ShiftHeld() {
  return ((uint16_t)GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
}

BOOL IsWord(LPCWSTR argument, LPCWSTR word) {
  return TextEqualsIgnoreCase(argument, word);
}

}  // namespace

HWND ParentWindowArgument(int argc, LPWSTR *argv) {
  if (argc != 3 || argv == nullptr) return nullptr;
  LONG value = ParseDecimalInt32(argv[2]);
  HWND window = (HWND)(LONG_PTR)value;
  return IsWindow(window) ? window : nullptr;
}

DWORD InstallCommand(HWND parent, DWORD flags) {
  InstallContext ctx;
  CloseHelpViewer();
  InitContext(&ctx, flags);
  WriteLog(&ctx, W(">>0010"));
  ReInstall(&ctx);
  DWORD scheduled = ScheduleDeleteAtRestart(&ctx);
  if (ctx.ErrorCount != 0 || ShiftHeld()) ShowLogDialog(&ctx, parent);
  LONG errors = ctx.ErrorCount;
  FreeContext(&ctx);
  if (errors != 0) return ExitRunErrors;
  if (scheduled > 0) return ExitRestartNeeded;
  return ExitInstalled;
}

BOOL UnInstallCommand(HWND parent, DWORD *scheduled) {
  InstallContext ctx;
  InitContext(&ctx, RunFlag64Bit);
  CompleteUnInstall(&ctx);
  *scheduled = ScheduleDeleteAtRestart(&ctx);
  if (ctx.ErrorCount != 0 || ShiftHeld()) ShowLogDialog(&ctx, parent);
  LONG errors = ctx.ErrorCount;
  FreeContext(&ctx);
  return errors != 0;
}

DWORD DispatchCommand(HINSTANCE instance) {
  ProgramInstance = instance;
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return ExitNoCommand;

  DWORD exitCode = ExitNoCommand;
  if (argc >= 2) {
    HWND parent = ParentWindowArgument(argc, argv);
    LPCWSTR word = argv[1];
    DWORD installFlags = 0;
    if (IsWord(word, W("in")) || IsWord(word, W("install")) || IsWord(word, W("serverinstall"))) {
      installFlags = RunFlag64Bit;
    } else if (IsWord(word, W("in_notray"))) {
      installFlags = RunFlag64Bit | RunFlagNoTray;
    }

    if (IsWord(word, W("onChkDrv"))) {
      exitCode = CheckDriverBuild() ? ExitDriverBuildOk : ExitAnswerNo;
    } else if (IsWord(word, W("onInit"))) {
      if (CheckPendingComponentFiles()) {
        exitCode = ExitPendingOperations;
      } else {
        exitCode = CheckDefaultPrinter() ? ExitDefaultNotProduct : ExitAnswerNo;
      }
    } else if (IsWord(word, W("un")) || IsWord(word, W("uninstall"))) {
      CloseHelpViewer();
      DWORD scheduled = 0;
      if (UnInstallCommand(parent, &scheduled)) {
        exitCode = ExitRunErrors;
      } else {
        exitCode = scheduled > 0 ? ExitRestartNeeded : ExitUninstalled;
      }
    } else if (IsWord(word, W("removetray"))) {
      StopTrayProgram();
      exitCode = ExitNoCommand;
    } else if (installFlags != 0) {
      exitCode = InstallCommand(parent, installFlags);
    } else if (TextEquals(word, W("def.set"))) {
      MakeProductPrinterDefault();
      exitCode = ExitDefaultSet;
    }
  }
  LocalFree(argv);
  return exitCode;
}
