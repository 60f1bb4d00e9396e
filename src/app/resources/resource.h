// Resource identifiers of install.exe, shared by install.rc and the log dialog.
#pragma once

// The log dialog and its text box. The "Close" button is IDOK (1).
#define IDD_LOG 101
#define IDC_LOG_TEXT 1001
