// mrvtray.exe: the product's tray companion program.
//
// While it runs it owns the named mutex "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}"
// and has a top-level window of the class
// "vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}", which carries its
// notification-area icon when the shell offers one. Message 0x402 asks it to
// exit: it removes its icon, destroys its window, releases the mutex as its
// very last act and ends, so a program waiting on the mutex finds the file
// free for deletion right after. A second instance finds the mutex taken and
// ends at once. Command-line arguments are ignored.
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>

namespace {

const char kMutexName[] = "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}";
const WCHAR kWindowClass[] = L"vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}";
const UINT kExitRequest = WM_USER + 2;  // 0x402
const UINT kIconMessage = WM_USER + 1;
const UINT kIconId = 1;

bool g_icon_shown = false;

void ShowIcon(HWND window) {
  NOTIFYICONDATAW icon;
  ZeroMemory(&icon, sizeof(icon));
  icon.cbSize = sizeof(icon);
  icon.hWnd = window;
  icon.uID = kIconId;
  icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon.uCallbackMessage = kIconMessage;
  icon.hIcon = LoadIconW(nullptr, (LPCWSTR)IDI_APPLICATION);
  lstrcpynW(icon.szTip, L"Morvalente", sizeof(icon.szTip) / sizeof(icon.szTip[0]));
  g_icon_shown = Shell_NotifyIconW(NIM_ADD, &icon) != FALSE;
}

void HideIcon(HWND window) {
  if (!g_icon_shown) return;
  NOTIFYICONDATAW icon;
  ZeroMemory(&icon, sizeof(icon));
  icon.cbSize = sizeof(icon);
  icon.hWnd = window;
  icon.uID = kIconId;
  Shell_NotifyIconW(NIM_DELETE, &icon);
  g_icon_shown = false;
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kExitRequest:
    case WM_CLOSE:
    case WM_ENDSESSION:
      if (message == WM_ENDSESSION && !wparam) return 0;
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      HideIcon(window);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
  if (!mutex) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another instance holds it (or an installer has it open right now): the
    // initial ownership was not granted, so there is nothing to release.
    CloseHandle(mutex);
    return 0;
  }

  int result = 1;
  WNDCLASSEXW wc;
  ZeroMemory(&wc, sizeof(wc));
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = TrayWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  HWND window = nullptr;
  if (RegisterClassExW(&wc)) {
    // A hidden top-level window: findable by its class, never on screen.
    window = CreateWindowExW(0, kWindowClass, L"Morvalente", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             instance, nullptr);
  }
  if (window) {
    ShowIcon(window);
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    result = 0;
  }

  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return result;
}
