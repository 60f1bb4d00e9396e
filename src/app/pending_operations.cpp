// Placeholders for operations whose parts have not landed yet. Each does
// nothing and gives the "no" answer.
#include "app/pending_operations.h"

// Replaced when the install sequence lands.
void ReInstall(InstallContext *ctx) {}

// Replaced when the uninstall sequence lands.
void CompleteUnInstall(InstallContext *ctx) {}

// Replaced when the default printer and driver queries land.
BOOL CheckDriverBuild(void) {
  return FALSE;
}

