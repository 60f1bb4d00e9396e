#include "support/scenario.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/dispatch.h"

namespace mrvtest {

RunResult RunCommand(const std::u16string &commandLine, bool holdShift) {
  winsim::BeginProcess(commandLine);
  winsim::M().shiftHeld = holdShift;
  winsim::P().dialogClose = IDOK;
  RunResult r;
  r.exitCode = DispatchCommand(GetModuleHandleW(nullptr));
  if (!winsim::P().dialogs.empty()) {
    r.log = winsim::P().dialogs.back().text;
    r.title = winsim::P().dialogs.back().title;
  }
  r.waitedMs = winsim::P().waitedMs;
  r.leaks = winsim::Leaks();
  winsim::M().shiftHeld = false;
  return r;
}

std::string CompareWithExpected(const std::string &name, const std::string &actual) {
  std::string path = std::string(MRV_SCENARIO_DIR) + "/expected/" + name;
  const char *update = std::getenv("MRV_UPDATE_EXPECTED");
  if (update != nullptr && update[0] == '1') {
    std::ofstream out(path, std::ios::binary);
    out << actual;
    return std::string();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return "no expected-output file " + path + " (run with MRV_UPDATE_EXPECTED=1 to write it)";
  std::stringstream ss;
  ss << in.rdbuf();
  std::string expected = ss.str();
  if (expected == actual) return std::string();
  // Report the first differing line.
  std::istringstream e(expected), a(actual);
  std::string el, al;
  int line = 1;
  for (;; ++line) {
    bool he = static_cast<bool>(std::getline(e, el));
    bool ha = static_cast<bool>(std::getline(a, al));
    if (!he && !ha) break;
    if (!he || !ha || el != al)
      return name + " line " + std::to_string(line) + ":\n  expected: " + (he ? el : "(end)") +
             "\n  actual:   " + (ha ? al : "(end)");
  }
  return name + ": differs in line endings";
}

}  // namespace mrvtest
