// Placeholders for operations whose parts have not landed yet. Each does
// nothing and gives the "no" answer.
#include "app/pending_operations.h"

// Replaced when the default printer and driver queries land.
BOOL CheckDriverBuild(void) {
  return FALSE;
}
