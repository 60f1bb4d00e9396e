// Process start-up for the native install program: loads the machine named
// by WINSIM_MACHINE (or the default machine, created on first use), runs the
// program's entry point on it and saves the machine afterwards.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "winsim/win32.h"
#include "winsim/winsim.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

namespace {

std::string DefaultMachineDir() {
  const char *xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] != 0) return std::string(xdg) + "/winsim/default";
  const char *home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/.local/share/winsim/default";
}

// Quotes an argument so that CommandLineToArgvW gives it back unchanged.
std::string Quote(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
    } else if (c == '"') {
      out.append(slashes * 2 + 1, '\\');
      slashes = 0;
    } else {
      out.append(slashes, '\\');
      slashes = 0;
    }
    if (c != '\\') out += c;
  }
  out.append(slashes * 2, '\\');
  return out + "\"";
}

}  // namespace

int main(int argc, char **argv) {
  const char *env = std::getenv("WINSIM_MACHINE");
  std::string dir = (env != nullptr && env[0] != 0) ? env : DefaultMachineDir();
  if (!winsim::LoadMachine(dir)) winsim::NewMachine(dir);

  std::string cmd = Quote(winsim::M().modulePath);
  for (int i = 1; i < argc; ++i) cmd += " " + Quote(argv[i]);
  winsim::BeginProcess(winsim::ToUtf16(cmd));

  int code = wWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOW);

  // The journal of the run stays beside the machine for `winsim show`.
  std::ofstream journal(dir + "/last-run.journal");
  for (auto &e : winsim::P().journal) journal << e.call << "(" << e.args << ") = " << e.result << "\n";
  for (auto &leak : winsim::Leaks())
    std::fprintf(stderr, "winsim: left behind by the run: %s\n", leak.c_str());
  winsim::SaveMachine();
  return code;
}
