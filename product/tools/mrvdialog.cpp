// mrvdialog.exe: reads and closes the installer's log dialog for the
// end-to-end tests. Not shipped.
//
//   mrvdialog [WAIT_MS [ok|cancel|keep]]
//
// Looks for a top-level window whose title begins with "Morvalente build ",
// for up to WAIT_MS milliseconds (0, the default: look once). When one is
// there it prints
//   title<TAB>THE TITLE
// and then the whole text of its control 1001, line by line as it stands
// (UTF-8, each line ended by a line feed), and then closes the dialog: "ok"
// (the default) clicks its "Close" button (IDOK), "cancel" sends IDCANCEL as
// the Escape key does, "keep" leaves it open.
// Exit code 0 when a dialog was found, 1 when none was, 2 for a bad command
// line.
#include <windows.h>

#include "out.h"

namespace {

const WCHAR kTitlePrefix[] = L"Morvalente build ";
const int kLogControl = 1001;

struct Search {
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  WCHAR title[256];
  int n = GetWindowTextW(window, title, 256);
  int prefix = lstrlenW(kTitlePrefix);
  if (n >= prefix) {
    title[prefix] = 0;
    if (lstrcmpW(title, kTitlePrefix) == 0) {
      ((Search *)param)->found = window;
      return FALSE;
    }
  }
  return TRUE;
}

// Prints text with its CR LF pairs as single line feeds; a final line
// feed is added when the text does not end with one.
void PrintText(const WCHAR *text) {
  int len = lstrlenW(text);
  int chars = WideCharToMultiByte(CP_UTF8, 0, text, len, nullptr, 0, nullptr, nullptr);
  if (chars <= 0) {
    if (len == 0) return;
    out::Text("(text not convertible)\n");
    return;
  }
  char *utf8 = (char *)HeapAlloc(GetProcessHeap(), 0, chars + 1);
  if (!utf8) return;
  WideCharToMultiByte(CP_UTF8, 0, text, len, utf8, chars, nullptr, nullptr);
  int w = 0;
  for (int r = 0; r < chars; ++r) {
    if (utf8[r] == '\r' && r + 1 < chars && utf8[r + 1] == '\n') continue;
    utf8[w++] = utf8[r];
  }
  if (w > 0 && utf8[w - 1] != '\n') utf8[w++] = '\n';
  out::Bytes(utf8, w);
  HeapFree(GetProcessHeap(), 0, utf8);
}

DWORD ParseNumber(const WCHAR *s) {
  DWORD v = 0;
  for (; *s >= L'0' && *s <= L'9'; ++s) v = v * 10 + (DWORD)(*s - L'0');
  return v;
}

}  // namespace

int wmain(int argc, WCHAR **argv) {
  if (argc > 3) {
    out::Text("usage: mrvdialog [WAIT_MS [ok|cancel|keep]]\n");
    return 2;
  }
  DWORD wait = argc > 1 ? ParseNumber(argv[1]) : 0;
  const WCHAR *close = argc > 2 ? argv[2] : L"ok";
  if (lstrcmpW(close, L"ok") && lstrcmpW(close, L"cancel") && lstrcmpW(close, L"keep")) {
    out::Text("usage: mrvdialog [WAIT_MS [ok|cancel|keep]]\n");
    return 2;
  }

  Search search = {nullptr};
  DWORD start = GetTickCount();
  for (;;) {
    EnumWindows(FindDialog, (LPARAM)&search);
    if (search.found || GetTickCount() - start >= wait) break;
    Sleep(100);
  }
  if (!search.found) return 1;

  HWND dialog = search.found;
  WCHAR title[256];
  GetWindowTextW(dialog, title, 256);
  out::Text("title\t");
  out::Wide(title);
  out::End();

  HWND box = GetDlgItem(dialog, kLogControl);
  if (box) {
    LRESULT len = SendMessageW(box, WM_GETTEXTLENGTH, 0, 0);
    WCHAR *text = (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (len + 1) * sizeof(WCHAR));
    if (text) {
      SendMessageW(box, WM_GETTEXT, len + 1, (LPARAM)text);
      PrintText(text);
      HeapFree(GetProcessHeap(), 0, text);
    }
  } else {
    out::Text("(no control 1001)\n");
  }

  if (!lstrcmpW(close, L"ok")) {
    HWND button = GetDlgItem(dialog, IDOK);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)button);
  } else if (!lstrcmpW(close, L"cancel")) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
  }
  return 0;
}
