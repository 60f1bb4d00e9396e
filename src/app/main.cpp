// The program's entry point: everything happens in the dispatcher.
#include "app/dispatch.h"
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  return (int)DispatchCommand(instance);
}
