#include "companion/help_viewer.h"

void CloseHelpViewer(void) {
  for (int pass = 0; pass < HelpViewerPassLimit; ++pass) {
    HWND window = FindWindowW(W("HH Parent"), W("Morvalente Help"));
    if (window == nullptr) return;
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(HelpViewerPassPauseMs);
  }
}
