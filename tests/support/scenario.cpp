#include "support/scenario.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

std::vector<std::string> Waits() {
  std::vector<std::string> out;
  for (auto &e : winsim::P().journal) {
    if (e.call == "Sleep") out.push_back("Sleep " + e.args);
    if (e.call == "WaitForSingleObject") out.push_back("WaitForSingleObject " + e.args + " -> " + e.result);
  }
  return out;
}

std::vector<std::string> Calls(const std::string &call) {
  std::vector<std::string> out;
  for (auto &e : winsim::P().journal)
    if (e.call == call) out.push_back(e.args + " -> " + e.result);
  return out;
}

std::vector<std::string> CallArgs(const std::string &call) {
  std::vector<std::string> out;
  for (auto &e : winsim::P().journal)
    if (e.call == call) out.push_back(e.args);
  return out;
}

::testing::AssertionResult InstallFirst() {
  RunResult r = RunCommand(u"install.exe in", false);
  if (r.exitCode != 1 || !r.leaks.empty())
    return ::testing::AssertionFailure() << "the first install ended with " << r.exitCode << " and left "
                                         << r.leaks.size() << " blocks or handles";
  return ::testing::AssertionSuccess();
}

std::vector<std::string> PendingStrings() {
  const winsim::RegValue *v = winsim::GetRegValue("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                                  "PendingFileRenameOperations");
  std::vector<std::string> out;
  if (v == nullptr) return out;
  std::u16string all(v->data.size() / 2, u'\0');
  if (!all.empty()) std::memcpy(&all[0], v->data.data(), all.size() * 2);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(u'\0', start);
    if (end == std::u16string::npos) {
      out.push_back(winsim::ToUtf8(all.substr(start)) + "<no zero>");
      break;
    }
    out.push_back(winsim::ToUtf8(all.substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

namespace {

const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsRoot[] = "hkcu\\software\\garrowe software kft";

// The build of a component file: the low word of the product version's
// second half in its fixed version information; -1 without one.
int BuildOfBytes(const std::string &bytes) {
  static const unsigned char sig[4] = {0xBD, 0x04, 0xEF, 0xFE};
  for (size_t i = 0; i + 24 <= bytes.size(); ++i) {
    if (std::memcmp(bytes.data() + i, sig, 4) != 0) continue;
    uint32_t productLS = 0;
    std::memcpy(&productLS, bytes.data() + i + 20, 4);
    return static_cast<int>(productLS & 0xFFFF);
  }
  return -1;
}

std::string Quoted(const std::string &s) {
  return "\"" + s + "\"";
}

// A registry or printer-data value as text: strings quoted, numbers in
// decimal, anything else as its type and size.
std::string ValueText(DWORD type, const std::vector<uint8_t> &data, bool wide) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string text;
    if (wide) {
      std::u16string w(reinterpret_cast<const char16_t *>(data.data()), data.size() / 2);
      text = winsim::ToUtf8(w);
    } else {
      text.assign(data.begin(), data.end());
    }
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return Quoted(text);
  }
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t v = 0;
    std::memcpy(&v, data.data(), 4);
    return std::to_string(v);
  }
  return "type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes";
}

}  // namespace

std::string MachineSummary() {
  const winsim::Machine &m = winsim::M();
  std::ostringstream out;

  for (auto &p : m.spooler.printers) {
    out << "printer " << Quoted(p.name) << " port " << Quoted(p.portName) << " driver "
        << Quoted(p.driverName) << " comment " << Quoted(p.comment) << " location " << Quoted(p.location);
    for (auto &key : p.data)
      for (auto &v : key.second)
        out << " " << (key.first.empty() ? std::string() : key.first + "\\") << v.second.name << "="
            << ValueText(v.second.type, v.second.data, false);
    if (p.status != 0) out << " status " << p.status;
    out << "\n";
  }
  out << "default " << (m.spooler.defaultPrinter.empty() ? "none" : Quoted(m.spooler.defaultPrinter)) << "\n";

  for (auto &mon : m.spooler.monitors) {
    out << "monitor " << Quoted(mon.name) << " " << mon.environment << " dll " << mon.dll << " ports";
    for (auto &port : mon.ports) out << " " << port;
    out << (mon.loaded ? " loaded" : "") << (mon.removed ? " removed" : "") << "\n";
  }
  for (auto &d : m.spooler.drivers) {
    out << "driver " << Quoted(d.name) << " " << d.environment << " v" << d.version << "\n"
        << "  files " << d.driverPath << " | " << d.dataFile << " | " << d.configFile << " | " << d.helpFile
        << "\n";
    if (!d.mfgName.empty() || !d.provider.empty() || !d.oemUrl.empty())
      out << "  maker " << Quoted(d.mfgName) << " provider " << Quoted(d.provider) << " url "
          << Quoted(d.oemUrl) << "\n";
  }

  // Every file of drive C:, by its Windows path.
  std::vector<std::string> files;
  std::filesystem::path root = std::filesystem::path(m.dir) / "c";
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string rel = std::filesystem::relative(it->path(), root).generic_string();
    std::replace(rel.begin(), rel.end(), '/', '\\');
    std::string win = "C:\\" + rel;
    std::string bytes;
    winsim::ReadHostFile(win, &bytes);
    int build = BuildOfBytes(bytes);
    files.push_back("file " + win + (build >= 0 ? " build " + std::to_string(build) : std::string()));
  }
  std::sort(files.begin(), files.end());
  for (auto &f : files) out << f << "\n";

  const winsim::RegValue *run = winsim::GetRegValue(kRunKey, "MorvalenteTray");
  out << "run " << (run == nullptr ? "none" : ValueText(run->type, run->data, true)) << "\n";
  out << "tray " << (m.tray.running ? "running from " + m.tray.path : std::string("not running")) << "\n";

  std::vector<std::string> pending = PendingStrings();
  for (size_t i = 0; i + 1 < pending.size() && !pending[i].empty(); i += 2)
    out << "pending " << pending[i] << " -> " << Quoted(pending[i + 1]) << "\n";

  for (auto &k : m.registry) {
    if (k.first.rfind(kSettingsRoot, 0) != 0) continue;
    out << "key " << k.second.path;
    for (auto &v : k.second.values)
      out << " " << v.second.name << "=" << ValueText(v.second.type, v.second.data, true);
    out << "\n";
  }
  // Holds in a fixed order: the machine re-adds the tray program's own hold
  // whenever a process begins.
  std::vector<std::string> holds;
  for (auto &h : m.holds)
    holds.push_back("held " + h.path + " by " + h.holder + " share " + std::to_string(h.share));
  std::sort(holds.begin(), holds.end());
  for (auto &h : holds) out << h << "\n";
  return out.str();
}

winsim::Monitor &PutMonitor(const std::string &name, const std::string &dll) {
  winsim::Monitor m;
  m.name = name;
  m.environment = "Windows x64";
  m.dll = dll;
  m.ports = {name};
  m.loaded = true;
  winsim::M().spooler.monitors.push_back(m);
  return winsim::M().spooler.monitors.back();
}

winsim::Driver &PutDriver(const std::string &name, const std::string &environment,
                          const std::string &driverFile) {
  const std::string versionDir = "C:\\Windows\\System32\\spool\\drivers\\x64\\3\\";
  winsim::Driver d;
  d.name = name;
  d.environment = environment;
  d.driverPath = versionDir + driverFile;
  d.dataFile = d.driverPath;
  d.configFile = versionDir + "gwrui64.dll";
  winsim::M().spooler.drivers.push_back(d);
  return winsim::M().spooler.drivers.back();
}

winsim::Printer &PutPrinter(const std::string &name, const std::string &driver, const std::string &port) {
  winsim::Printer p;
  p.name = name;
  p.driverName = driver;
  p.portName = port;
  winsim::M().spooler.printers.push_back(p);
  return winsim::M().spooler.printers.back();
}

winsim::Printer *FindPrinter(const std::string &name) {
  for (auto &p : winsim::M().spooler.printers)
    if (p.name == name) return &p;
  return nullptr;
}

void PutPrinterData(winsim::Printer &p, const std::string &key, const std::string &value, DWORD type,
                    const std::string &bytes) {
  winsim::PrinterDataValue v;
  v.name = value;
  v.type = type;
  v.data.assign(bytes.begin(), bytes.end());
  p.data[winsim::Lower(key)][winsim::Lower(value)] = v;
}

void PutPrinterString(winsim::Printer &p, const std::string &key, const std::string &value,
                      const std::string &text) {
  PutPrinterData(p, key, value, REG_SZ, text + std::string(1, '\0'));
}

void PutOtherDriver(const std::string &name, const std::string &file) {
  std::string path = winsim::M().spooler.driverRoot + "\\x64\\3\\" + file;
  winsim::WriteHostFile(path, winsim::MakeComponentFile(file, 100));
  winsim::Driver d;
  d.name = name;
  d.environment = "Windows x64";
  d.driverPath = path;
  d.dataFile = path;
  d.configFile = path;
  winsim::M().spooler.drivers.push_back(d);
}

void PutMonitorFileBuild(int build, const std::string &dll) {
  winsim::WriteHostFile(winsim::M().systemDir + "\\" + dll, winsim::MakeComponentFile(dll, build));
}

}  // namespace mrvtest
