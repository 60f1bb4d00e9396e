// The machine's life: creating, saving and loading it in its directory, the
// JSON form used by the state file and the winsim tool, change documents,
// and the restart that carries out the pending file operations.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "winsim/internal.h"
#include "winsim/winsim.h"

using nlohmann::json;

namespace winsim {

namespace {

const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string Hex(const std::vector<uint8_t> &d) {
  static const char *digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::vector<uint8_t> FromHex(const std::string &s) {
  std::vector<uint8_t> d;
  auto val = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    d.push_back(static_cast<uint8_t>(val(s[i]) * 16 + val(s[i + 1])));
  return d;
}

// Whole UTF-16 strings of a REG_SZ or REG_MULTI_SZ value, when well formed.
bool AsStrings(const std::vector<uint8_t> &d, bool multi, std::vector<std::string> *out) {
  if (d.size() % 2 != 0 || d.size() < 2) return false;
  std::u16string w(reinterpret_cast<const char16_t *>(d.data()), d.size() / 2);
  if (w.back() != u'\0') return false;
  if (!multi) {
    if (w.find(u'\0') != w.size() - 1) return false;
    out->push_back(ToUtf8(w.substr(0, w.size() - 1)));
    return true;
  }
  if (w.size() < 2 || w[w.size() - 2] != u'\0') return w.size() == 1;  // "\0" alone: an empty list
  size_t start = 0;
  w.pop_back();
  while (start < w.size()) {
    size_t end = w.find(u'\0', start);
    out->push_back(ToUtf8(w.substr(start, end - start)));
    start = end + 1;
  }
  return true;
}

json ValueToJson(const RegValue &v) {
  json j;
  j["name"] = v.name;
  j["type"] = v.type;
  std::vector<std::string> strs;
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && AsStrings(v.data, false, &strs)) {
    j["string"] = strs[0];
  } else if (v.type == REG_MULTI_SZ && AsStrings(v.data, true, &strs)) {
    j["strings"] = strs;
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    j["dword"] = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
  } else {
    j["hex"] = Hex(v.data);
  }
  return j;
}

std::vector<uint8_t> Utf16Bytes(const std::u16string &w) {
  std::vector<uint8_t> d(w.size() * 2);
  if (!d.empty()) std::memcpy(d.data(), w.data(), d.size());
  return d;
}

RegValue ValueFromJson(const json &j) {
  RegValue v;
  v.name = j.value("name", "");
  v.type = j.value("type", static_cast<DWORD>(REG_SZ));
  if (j.contains("string")) {
    v.data = Utf16Bytes(ToUtf16(j["string"].get<std::string>()) + u'\0');
  } else if (j.contains("strings")) {
    std::u16string all;
    for (auto &s : j["strings"]) all += ToUtf16(s.get<std::string>()) + u'\0';
    all += u'\0';
    v.data = Utf16Bytes(all);
    if (!j.contains("type")) v.type = REG_MULTI_SZ;
  } else if (j.contains("dword")) {
    uint32_t x = j["dword"].get<uint32_t>();
    v.data = {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x >> 16),
              static_cast<uint8_t>(x >> 24)};
    if (!j.contains("type")) v.type = REG_DWORD;
  } else if (j.contains("hex")) {
    v.data = FromHex(j["hex"].get<std::string>());
  }
  return v;
}

json DataToJson(const PrinterDataValue &v, const std::string &name) {
  json j;
  j["name"] = name;
  j["type"] = v.type;
  // ANSI printer data is stored as bytes; show text values as text when they are plain.
  bool text = v.type == REG_SZ && !v.data.empty() && v.data.back() == 0;
  for (size_t i = 0; text && i + 1 < v.data.size(); ++i)
    if (v.data[i] == 0 || v.data[i] >= 0x80) text = false;
  if (text)
    j["ansi"] = std::string(v.data.begin(), v.data.end() - 1);
  else
    j["hex"] = Hex(v.data);
  return j;
}

PrinterDataValue DataFromJson(const json &j) {
  PrinterDataValue v;
  v.type = j.value("type", static_cast<DWORD>(REG_SZ));
  if (j.contains("ansi")) {
    std::string s = j["ansi"].get<std::string>();
    v.data.assign(s.begin(), s.end());
    v.data.push_back(0);
  } else if (j.contains("hex")) {
    v.data = FromHex(j["hex"].get<std::string>());
  }
  return v;
}

json PrinterToJson(const Printer &p) {
  json j;
  j["name"] = p.name;
  j["port"] = p.portName;
  j["driver"] = p.driverName;
  j["comment"] = p.comment;
  j["location"] = p.location;
  j["printProcessor"] = p.printProcessor;
  j["datatype"] = p.datatype;
  if (!p.shareName.empty()) j["share"] = p.shareName;
  if (!p.serverName.empty()) j["server"] = p.serverName;
  if (!p.sepFile.empty()) j["sepFile"] = p.sepFile;
  if (!p.parameters.empty()) j["parameters"] = p.parameters;
  j["attributes"] = p.attributes;
  j["priority"] = p.priority;
  if (p.status != 0) j["status"] = p.status;
  if (p.cJobs != 0) j["jobs"] = p.cJobs;
  if (p.connection) j["connection"] = true;
  json data = json::object();
  for (auto &k : p.data) {
    json vals = json::array();
    for (auto &v : k.second) vals.push_back(DataToJson(v.second, v.second.name));
    data[k.first] = vals;
  }
  if (!data.empty()) j["data"] = data;
  return j;
}

// The printer fields a state file or a change document may set on a new or
// existing printer.
void SetPrinterFields(const json &j, Printer &p) {
  if (j.contains("port")) p.portName = j["port"];
  if (j.contains("driver")) p.driverName = j["driver"];
  if (j.contains("comment")) p.comment = j["comment"];
  if (j.contains("location")) p.location = j["location"];
  if (j.contains("attributes")) p.attributes = j["attributes"];
  if (j.contains("connection")) p.connection = j["connection"];
  if (j.contains("printProcessor")) p.printProcessor = j["printProcessor"];
  if (j.contains("datatype")) p.datatype = j["datatype"];
  if (j.contains("share")) p.shareName = j["share"];
  if (j.contains("server")) p.serverName = j["server"];
  if (j.contains("sepFile")) p.sepFile = j["sepFile"];
  if (j.contains("parameters")) p.parameters = j["parameters"];
  if (j.contains("priority")) p.priority = j["priority"];
  if (j.contains("status")) p.status = j["status"];
  if (j.contains("jobs")) p.cJobs = j["jobs"];
  if (j.contains("data")) {
    for (auto &[key, vals] : j["data"].items())
      for (auto &v : vals) {
        PrinterDataValue dv = DataFromJson(v);
        dv.name = v.value("name", "");
        p.data[Lower(key)][Lower(dv.name)] = dv;
      }
  }
  // The settings name, plain and under "DsUser"; null removes both.
  if (j.contains("subKey")) {
    if (j["subKey"].is_null()) {
      p.data[""].erase("subkey");
      p.data["dsuser"].erase("subkey");
      if (p.data[""].empty()) p.data.erase("");
      if (p.data["dsuser"].empty()) p.data.erase("dsuser");
    } else {
      std::string s = j["subKey"].get<std::string>();
      PrinterDataValue v;
      v.name = "SubKey";
      v.type = REG_SZ;
      v.data.assign(s.begin(), s.end());
      v.data.push_back(0);
      p.data[""]["subkey"] = v;
      p.data["dsuser"]["subkey"] = v;
    }
  }
}

// A printer of a state file or of a change document's "addPrinters": the
// fields given, the spooler's defaults for the rest.
Printer PrinterFromJson(const json &j) {
  Printer p;
  p.name = j.value("name", "");
  SetPrinterFields(j, p);
  return p;
}

json ServiceToJson(const Service &s) {
  static const char *states[] = {"?", "stopped", "start pending", "stop pending", "running"};
  json j;
  j["name"] = s.name;
  j["state"] = s.state <= 4 ? states[s.state] : "?";
  j["pendingTarget"] = s.pendingTarget;
  j["pendingUntil"] = s.pendingUntil;
  j["startDelayMs"] = s.startDelayMs;
  j["stopDelayMs"] = s.stopDelayMs;
  j["neverStarts"] = s.neverStarts;
  j["ignoresStop"] = s.ignoresStop;
  j["stopError"] = s.stopError;
  j["unopenable"] = s.unopenable;
  return j;
}

DWORD StateFromText(const std::string &t) {
  if (t == "stopped") return SERVICE_STOPPED;
  if (t == "start pending") return SERVICE_START_PENDING;
  if (t == "stop pending") return SERVICE_STOP_PENDING;
  return SERVICE_RUNNING;
}

void ServiceFromJson(const json &j, Service &s) {
  if (j.contains("name")) s.name = j["name"];
  if (j.contains("state")) s.state = StateFromText(j["state"]);
  s.pendingTarget = j.value("pendingTarget", s.pendingTarget);
  s.pendingUntil = j.value("pendingUntil", s.pendingUntil);
  s.startDelayMs = j.value("startDelayMs", s.startDelayMs);
  s.stopDelayMs = j.value("stopDelayMs", s.stopDelayMs);
  s.neverStarts = j.value("neverStarts", s.neverStarts);
  s.ignoresStop = j.value("ignoresStop", s.ignoresStop);
  s.stopError = j.value("stopError", s.stopError);
  s.unopenable = j.value("unopenable", s.unopenable);
}

json MonitorToJson(const Monitor &m) {
  json j{{"name", m.name},
         {"environment", m.environment},
         {"dll", m.dll},
         {"ports", m.ports},
         {"loaded", m.loaded}};
  if (m.removed) j["removed"] = true;
  return j;
}

Monitor MonitorFromJson(const json &j) {
  Monitor m;
  m.name = j.value("name", "");
  m.environment = j.value("environment", "Windows x64");
  m.dll = j.value("dll", "");
  m.ports = j.value("ports", std::vector<std::string>{});
  m.loaded = j.value("loaded", false);
  m.removed = j.value("removed", false);
  return m;
}

json DriverToJson(const Driver &d) {
  return json{{"name", d.name},
              {"environment", d.environment},
              {"version", d.version},
              {"driverPath", d.driverPath},
              {"dataFile", d.dataFile},
              {"configFile", d.configFile},
              {"helpFile", d.helpFile},
              {"dependentFiles", d.dependentFiles},
              {"monitorName", d.monitorName},
              {"defaultDataType", d.defaultDataType},
              {"mfgName", d.mfgName},
              {"oemUrl", d.oemUrl},
              {"hardwareId", d.hardwareId},
              {"provider", d.provider}};
}

Driver DriverFromJson(const json &j) {
  Driver d;
  d.name = j.value("name", "");
  d.environment = j.value("environment", "Windows x64");
  d.version = j.value("version", 3u);
  d.driverPath = j.value("driverPath", "");
  d.dataFile = j.value("dataFile", "");
  d.configFile = j.value("configFile", "");
  d.helpFile = j.value("helpFile", "");
  d.dependentFiles = j.value("dependentFiles", std::vector<std::string>{});
  d.monitorName = j.value("monitorName", "");
  d.defaultDataType = j.value("defaultDataType", "");
  d.mfgName = j.value("mfgName", "");
  d.oemUrl = j.value("oemUrl", "");
  d.hardwareId = j.value("hardwareId", "");
  d.provider = j.value("provider", "");
  return d;
}

json TrayToJson(const TrayProgram &t) {
  return json{{"running", t.running},         {"path", t.path},         {"behaviour", t.behaviour},
              {"exitDelayMs", t.exitDelayMs}, {"exitAtMs", t.exitAtMs}, {"mutexHeld", t.mutexHeld}};
}

void TrayFromJson(const json &j, TrayProgram &t) {
  t.running = j.value("running", t.running);
  t.path = j.value("path", t.path);
  t.behaviour = j.value("behaviour", t.behaviour);
  t.exitDelayMs = j.value("exitDelayMs", t.exitDelayMs);
  t.exitAtMs = j.value("exitAtMs", t.exitAtMs);
  t.mutexHeld = j.value("mutexHeld", t.running);
}

json FaultToJson(const Fault &f) {
  return json{{"call", f.call}, {"error", f.error}, {"nth", f.nth}, {"times", f.times}, {"always", f.always}};
}

Fault FaultFromJson(const json &j) {
  Fault f;
  f.call = j.value("call", "");
  f.error = j.value("error", 0u);
  f.nth = j.value("nth", 1u);
  f.times = j.value("times", 1u);
  f.always = j.value("always", false);
  return f;
}

json HoldToJson(const FileHold &h) {
  return json{{"path", h.path}, {"share", h.share}, {"releaseAtMs", h.releaseAtMs}, {"holder", h.holder}};
}

FileHold HoldFromJson(const json &j) {
  FileHold h;
  h.path = j.value("path", "");
  h.share = j.value("share", 0u);
  h.releaseAtMs = j.value("releaseAtMs", static_cast<int64_t>(-1));
  if (j.contains("releaseAfterMs"))
    h.releaseAtMs = static_cast<int64_t>(M().clockMs) + j["releaseAfterMs"].get<int64_t>();
  h.holder = j.value("holder", "another process");
  return h;
}

// Applies the machine-state fields present in `j` over `m`.
void MergeState(const json &j, Machine &m) {
  if (j.contains("clockMs")) m.clockMs = j["clockMs"];
  if (j.contains("registry")) {
    m.registry.clear();
    for (auto &k : j["registry"]) {
      RegKey key;
      key.path = k.value("path", "");
      for (auto &v : k.value("values", json::array())) {
        RegValue rv = ValueFromJson(v);
        key.values[Lower(rv.name)] = rv;
      }
      m.registry[Lower(key.path)] = key;
    }
  }
  if (j.contains("holds")) {
    m.holds.clear();
    for (auto &h : j["holds"]) m.holds.push_back(HoldFromJson(h));
  }
  if (j.contains("services")) {
    m.services.clear();
    for (auto &s : j["services"]) {
      Service sv;
      ServiceFromJson(s, sv);
      m.services.push_back(sv);
    }
  }
  if (j.contains("spooler")) {
    const json &s = j["spooler"];
    if (s.contains("monitors")) {
      m.spooler.monitors.clear();
      for (auto &x : s["monitors"]) m.spooler.monitors.push_back(MonitorFromJson(x));
    }
    if (s.contains("standardPorts"))
      m.spooler.standardPorts = s["standardPorts"].get<std::vector<std::string>>();
    if (s.contains("drivers")) {
      m.spooler.drivers.clear();
      for (auto &x : s["drivers"]) m.spooler.drivers.push_back(DriverFromJson(x));
    }
    if (s.contains("printers")) {
      m.spooler.printers.clear();
      for (auto &x : s["printers"]) m.spooler.printers.push_back(PrinterFromJson(x));
    }
    if (s.contains("defaultPrinter")) m.spooler.defaultPrinter = s["defaultPrinter"];
    if (s.contains("driverRoot")) m.spooler.driverRoot = s["driverRoot"];
    if (s.contains("printProcessors"))
      m.spooler.printProcessors = s["printProcessors"].get<std::vector<std::string>>();
    m.spooler.monitorDllStaysLoaded = s.value("monitorDllStaysLoaded", m.spooler.monitorDllStaysLoaded);
    if (s.contains("driverDirText")) m.spooler.driverDirText = s["driverDirText"];
  }
  if (j.contains("tray")) TrayFromJson(j["tray"], m.tray);
  if (j.contains("helpWindows")) {
    m.helpWindows.clear();
    for (auto &h : j["helpWindows"]) {
      HelpWindow w;
      w.className = h.value("class", w.className);
      w.title = h.value("title", w.title);
      w.closesOnRequest = h.value("closesOnRequest", true);
      w.handle = h.value("handle", static_cast<uint64_t>(0));
      m.helpWindows.push_back(w);
    }
  }
  if (j.contains("faults")) {
    m.faults.clear();
    for (auto &f : j["faults"]) m.faults.push_back(FaultFromJson(f));
  }
  m.modulePath = j.value("modulePath", m.modulePath);
  m.systemDir = j.value("systemDir", m.systemDir);
  if (j.contains("os")) {
    m.osMajor = j["os"].value("major", m.osMajor);
    m.osMinor = j["os"].value("minor", m.osMinor);
    m.osBuild = j["os"].value("build", m.osBuild);
    m.osPlatform = j["os"].value("platform", m.osPlatform);
  }
  m.shiftHeld = j.value("shiftHeld", m.shiftHeld);
  m.scmUnopenable = j.value("scmUnopenable", m.scmUnopenable);
  m.diskFreeBytes = j.value("diskFreeBytes", m.diskFreeBytes);
  if (j.contains("windows")) m.windows = j["windows"].get<std::vector<uint64_t>>();
}

json StateJson(const Machine &m) {
  json j;
  j["clockMs"] = m.clockMs;
  json reg = json::array();
  for (auto &k : m.registry) {
    json vals = json::array();
    for (auto &v : k.second.values) vals.push_back(ValueToJson(v.second));
    reg.push_back(json{{"path", k.second.path}, {"values", vals}});
  }
  j["registry"] = reg;
  json holds = json::array();
  for (auto &h : m.holds) holds.push_back(HoldToJson(h));
  j["holds"] = holds;
  json services = json::array();
  for (auto &s : m.services) services.push_back(ServiceToJson(s));
  j["services"] = services;
  json sp;
  json mons = json::array(), drvs = json::array(), prns = json::array();
  for (auto &x : m.spooler.monitors) mons.push_back(MonitorToJson(x));
  for (auto &x : m.spooler.drivers) drvs.push_back(DriverToJson(x));
  for (auto &x : m.spooler.printers) prns.push_back(PrinterToJson(x));
  sp["monitors"] = mons;
  sp["standardPorts"] = m.spooler.standardPorts;
  sp["drivers"] = drvs;
  sp["printers"] = prns;
  sp["defaultPrinter"] = m.spooler.defaultPrinter;
  sp["driverRoot"] = m.spooler.driverRoot;
  sp["printProcessors"] = m.spooler.printProcessors;
  sp["monitorDllStaysLoaded"] = m.spooler.monitorDllStaysLoaded;
  if (!m.spooler.driverDirText.empty()) sp["driverDirText"] = m.spooler.driverDirText;
  j["spooler"] = sp;
  j["tray"] = TrayToJson(m.tray);
  json hw = json::array();
  for (auto &h : m.helpWindows)
    hw.push_back(json{{"class", h.className},
                      {"title", h.title},
                      {"closesOnRequest", h.closesOnRequest},
                      {"handle", h.handle}});
  j["helpWindows"] = hw;
  json faults = json::array();
  for (auto &f : m.faults) faults.push_back(FaultToJson(f));
  j["faults"] = faults;
  j["modulePath"] = m.modulePath;
  j["systemDir"] = m.systemDir;
  j["os"] =
      json{{"major", m.osMajor}, {"minor", m.osMinor}, {"build", m.osBuild}, {"platform", m.osPlatform}};
  j["shiftHeld"] = m.shiftHeld;
  j["scmUnopenable"] = m.scmUnopenable;
  j["diskFreeBytes"] = m.diskFreeBytes;
  j["windows"] = m.windows;
  return j;
}

std::string Parent(const std::string &winPath) {
  size_t pos = winPath.find_last_of('\\');
  return pos == std::string::npos ? std::string() : winPath.substr(0, pos);
}

// The build number of a released Windows version, or `otherwise`.
DWORD KnownOsBuild(unsigned major, unsigned minor, DWORD otherwise) {
  static const struct {
    unsigned major, minor;
    DWORD build;
  } known[] = {{5, 1, 2600}, {5, 2, 3790}, {6, 0, 6002},  {6, 1, 7601},
               {6, 2, 9200}, {6, 3, 9600}, {10, 0, 19045}};
  for (auto &k : known)
    if (k.major == major && k.minor == minor) return k.build;
  return otherwise;
}

}  // namespace

std::string DefaultTrayPath(const std::string &installerDir) {
  std::string up = Parent(installerDir);
  return (up.empty() ? std::string("C:") : up) + "\\mrvtray.exe";
}

std::string ToJson(const Machine &m) {
  return StateJson(m).dump(2);
}

bool FromJson(const std::string &text, Machine &m, std::string *error) {
  json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    if (error) *error = "not a JSON object";
    return false;
  }
  try {
    MergeState(j, m);
  } catch (const json::exception &e) {
    if (error) *error = e.what();
    return false;
  }
  return true;
}

namespace internal {
void ResetProcessObjects() {
  FilesResetProcess();
  RegistryResetProcess();
  ServicesResetProcess();
  SpoolerResetProcess();
  ProcessesResetProcess();
}

void OnClock() {
  FilesOnClock();
  ServicesOnClock();
  ProcessesOnClock();
}
}  // namespace internal

void NewMachine(const std::string &dir, const NewMachineOptions &opt) {
  std::filesystem::create_directories(dir);
  std::filesystem::remove(dir + "/state.json");
  std::filesystem::remove_all(dir + "/c");
  Machine m;
  m.dir = dir;
  m.osMajor = opt.osMajor;
  m.osMinor = opt.osMinor;
  m.osBuild = opt.osBuild != 0 ? opt.osBuild : KnownOsBuild(opt.osMajor, opt.osMinor, m.osBuild);
  m.modulePath = opt.installerDir + "\\install.exe";
  Service spooler;
  spooler.name = "spooler";
  spooler.state = SERVICE_RUNNING;
  m.services.push_back(spooler);
  internal::SetMachine(std::move(m));
  EnsureKey(kSessionManager);
  EnsureKey("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
  EnsureKey("HKCU\\Software");
  // Drive C: with the system and driver directories.
  std::filesystem::create_directories(HostPath(M().systemDir));
  for (const char *sub : {"x64", "W32X86"})
    std::filesystem::create_directories(HostPath(M().spooler.driverRoot + "\\" + sub));
  std::filesystem::create_directories(HostPath(opt.installerDir));
  if (opt.componentFiles) {
    WriteHostFile(opt.installerDir + "\\gwrmon64.dll", MakeComponentFile("gwrmon64.dll", opt.monitorBuild));
    WriteHostFile(opt.installerDir + "\\gwrdrv64.dll", MakeComponentFile("gwrdrv64.dll", opt.driverBuild));
    WriteHostFile(opt.installerDir + "\\gwrui64.dll", MakeComponentFile("gwrui64.dll", opt.uiBuild));
    WriteHostFile(opt.installerDir + "\\gwrhelp.chm", "ITSF help file of the product\n");
  }
  if (opt.trayFile) WriteHostFile(DefaultTrayPath(opt.installerDir), MakeComponentFile("mrvtray.exe", 2563));
  SaveMachine();
}

bool LoadMachine(const std::string &dir) {
  std::ifstream in(dir + "/state.json");
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  Machine m;
  m.dir = dir;
  std::string error;
  if (!FromJson(ss.str(), m, &error)) return false;
  internal::SetMachine(std::move(m));
  return true;
}

void SaveMachine() {
  if (M().dir.empty()) return;
  std::string tmp = M().dir + "/state.json.tmp";
  {
    std::ofstream out(tmp);
    out << ToJson(M()) << "\n";
  }
  std::filesystem::rename(tmp, M().dir + "/state.json");
}

void Reboot() {
  Machine &m = M();
  const RegValue *v = GetRegValue(kSessionManager, "PendingFileRenameOperations");
  if (v != nullptr) {
    std::u16string all(reinterpret_cast<const char16_t *>(v->data.data()), v->data.size() / 2);
    std::vector<std::u16string> strs;
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find(u'\0', start);
      if (end == std::u16string::npos) end = all.size();
      strs.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    auto strip = [](std::string s) {
      if (!s.empty() && s[0] == '!') s = s.substr(1);
      if (s.rfind("\\??\\", 0) == 0) s = s.substr(4);
      return s;
    };
    for (size_t i = 0; i + 1 < strs.size(); i += 2) {
      if (strs[i].empty()) break;  // the list's end
      std::string from = strip(ToUtf8(strs[i]));
      std::string to = strip(ToUtf8(strs[i + 1]));
      if (to.empty()) {
        RemoveHostFile(from);
      } else {
        std::string hf = HostPath(from), ht = HostPath(to);
        if (!hf.empty() && !ht.empty()) std::rename(hf.c_str(), ht.c_str());
      }
    }
    FindKey(kSessionManager)->values.erase(Lower("PendingFileRenameOperations"));
  }
  // Processes end; files held open are free; services come up.
  m.holds.clear();
  m.tray.running = false;
  m.tray.mutexHeld = false;
  m.tray.exitAtMs = -1;
  m.helpWindows.clear();
  m.windows.clear();
  for (auto &s : m.services) {
    s.pendingTarget = 0;
    s.state = s.neverStarts ? SERVICE_START_PENDING : SERVICE_RUNNING;
  }
  m.clockMs += 60000;
  internal::SpoolerStarted();
}

namespace {

// A change document that cannot be applied, with the reason.
struct BadChange {
  std::string what;
};

// Refuses keys outside `allowed`, so that a misspelt key does not pass unnoticed.
void CheckKeys(const json &j, const std::vector<std::string> &allowed, const std::string &where) {
  if (!j.is_object()) throw BadChange{where + ": not an object"};
  for (auto &item : j.items())
    if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end())
      throw BadChange{where + ": unknown key \"" + item.key() + "\""};
}

const json &ListOf(const json &j, const char *key) {
  static const json empty = json::array();
  if (!j.contains(key)) return empty;
  if (!j[key].is_array()) throw BadChange{std::string(key) + ": not a list"};
  return j[key];
}

void CheckHex(const json &j, const std::string &where) {
  if (!j.contains("hex")) return;
  std::string s = j["hex"].get<std::string>();
  if (s.size() % 2 != 0 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw BadChange{where + ": \"hex\" wants pairs of hex digits"};
}

void CheckName(const json &j, const std::string &where) {
  if (!j.contains("name") || !j["name"].is_string() || j["name"].get<std::string>().empty())
    throw BadChange{where + ": a \"name\" is needed"};
}

// A registry value type given by number or by name ("REG_MULTI_SZ").
json RegType(const json &t) {
  if (!t.is_string()) return t;
  static const std::pair<const char *, DWORD> names[] = {
      {"REG_NONE", 0},   {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_BINARY", 3}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
      {"REG_QWORD", 11}};
  for (auto &n : names)
    if (t.get<std::string>() == n.first) return n.second;
  throw BadChange{"registry: unknown type \"" + t.get<std::string>() + "\""};
}

const std::vector<std::string> kPrinterKeys = {
    "name",    "port",       "driver",   "comment",        "location", "attributes", "connection",
    "subKey",  "data",       "default",  "printProcessor", "datatype", "share",      "server",
    "sepFile", "parameters", "priority", "status",         "jobs"};

// Reads "MAJOR.MINOR" of a change document's "os".
void ParseOsVersion(const json &os, unsigned *major, unsigned *minor) {
  if (std::sscanf(os.get<std::string>().c_str(), "%u.%u", major, minor) != 2)
    throw BadChange{"os: \"MAJOR.MINOR\" or {\"major\", \"minor\", \"build\"}"};
}

// Checks a whole change document before anything of it is applied.
void CheckChange(const json &j) {
  CheckKeys(j,
            {"set",
             "addPrinters",
             "changePrinters",
             "removePrinters",
             "defaultPrinter",
             "addMonitors",
             "removeMonitors",
             "addDrivers",
             "removeDrivers",
             "registry",
             "files",
             "faults",
             "clearFaults",
             "shift",
             "spoolerService",
             "scmUnopenable",
             "tray",
             "helpWindows",
             "windows",
             "diskFreeBytes",
             "os",
             "advanceMs"},
            "change");
  for (const char *list : {"addPrinters", "changePrinters"})
    for (auto &p : ListOf(j, list)) {
      CheckKeys(p, kPrinterKeys, list);
      CheckName(p, list);
    }
  for (auto &mon : ListOf(j, "addMonitors")) {
    CheckKeys(mon, {"name", "environment", "dll", "ports", "loaded", "removed"}, "addMonitors");
    CheckName(mon, "addMonitors");
  }
  for (auto &drv : ListOf(j, "addDrivers")) {
    CheckKeys(
        drv,
        {"name", "environment", "version", "driverPath", "dataFile", "configFile", "helpFile",
         "dependentFiles", "monitorName", "defaultDataType", "mfgName", "oemUrl", "hardwareId", "provider"},
        "addDrivers");
    CheckName(drv, "addDrivers");
  }
  for (auto &r : ListOf(j, "registry")) {
    CheckKeys(r, {"key", "name", "type", "string", "strings", "dword", "hex", "delete", "deleteKey"},
              "registry");
    if (!r.contains("key")) throw BadChange{"registry: a \"key\" is needed"};
    if (r.contains("type")) RegType(r["type"]);
    CheckHex(r, "registry");
  }
  for (auto &f : ListOf(j, "files")) {
    CheckKeys(f, {"path", "text", "hex", "component", "delete", "hold", "release"}, "files");
    if (!f.contains("path")) throw BadChange{"files: a \"path\" is needed"};
    std::string path = f["path"].get<std::string>();
    if (HostPath(path).empty()) throw BadChange{"files: \"" + path + "\" is not on drive C:"};
    int contents = 0;
    for (const char *k : {"text", "hex", "component", "delete"}) contents += f.contains(k) ? 1 : 0;
    if (contents > 1) throw BadChange{"files: one of \"text\", \"hex\", \"component\", \"delete\""};
    if (f.contains("component")) {
      int build = f["component"].get<int>();
      if (build < -1 || build > 65535)
        throw BadChange{"files: \"component\" wants a build 0 to 65535, or -1"};
    }
    CheckHex(f, "files");
    if (f.contains("hold")) CheckKeys(f["hold"], {"share", "releaseAfterMs", "holder"}, "files: hold");
  }
  for (auto &f : ListOf(j, "faults")) {
    CheckKeys(f, {"call", "error", "nth", "times", "always"}, "faults");
    if (!f.contains("call")) throw BadChange{"faults: a \"call\" is needed"};
  }
  if (j.contains("spoolerService")) {
    const json &s = j["spoolerService"];
    CheckKeys(
        s, {"state", "startDelayMs", "stopDelayMs", "neverStarts", "ignoresStop", "stopError", "unopenable"},
        "spoolerService");
    if (s.contains("state")) {
      std::string st = s["state"].get<std::string>();
      if (st != "running" && st != "stopped" && st != "start pending" && st != "stop pending")
        throw BadChange{
            "spoolerService: state is \"running\", \"stopped\", \"start pending\" or \"stop pending\""};
    }
  }
  if (j.contains("tray")) {
    CheckKeys(j["tray"], {"running", "path", "behaviour", "exitDelayMs"}, "tray");
    if (j["tray"].contains("behaviour")) {
      std::string b = j["tray"]["behaviour"].get<std::string>();
      if (b != "exit" && b != "delay" && b != "ignore" && b != "nowindow")
        throw BadChange{"tray: behaviour is \"exit\", \"delay\", \"ignore\" or \"nowindow\""};
    }
  }
  for (auto &w : ListOf(j, "helpWindows")) CheckKeys(w, {"class", "title", "closesOnRequest"}, "helpWindows");
  if (j.contains("os")) {
    unsigned major = 0, minor = 0;
    if (j["os"].is_string())
      ParseOsVersion(j["os"], &major, &minor);
    else
      CheckKeys(j["os"], {"major", "minor", "build", "platform"}, "os");
  }
}

Printer *FindPrinterNamed(Machine &m, const std::string &name) {
  for (auto &p : m.spooler.printers)
    if (IEquals(p.name, name)) return &p;
  return nullptr;
}

void SetDefaultMark(const json &j, Machine &m, const std::string &name) {
  if (!j.contains("default")) return;
  if (j["default"].get<bool>())
    m.spooler.defaultPrinter = name;
  else if (IEquals(m.spooler.defaultPrinter, name))
    m.spooler.defaultPrinter.clear();
}

// The files of drive C: a change document touches, as they were before it,
// so that a document that fails can put them back.
struct FileUndo {
  struct Kept {
    std::string path;
    bool existed = false;
    std::string bytes;
  };
  std::vector<Kept> kept;

  void Keep(const std::string &path) {
    for (auto &k : kept)
      if (internal::PathKey(k.path) == internal::PathKey(path)) return;
    Kept k;
    k.path = path;
    k.existed = FileExists(path) && ReadHostFile(path, &k.bytes);
    kept.push_back(k);
  }

  void Restore() {
    for (auto k = kept.rbegin(); k != kept.rend(); ++k) {
      if (k->existed)
        WriteHostFile(k->path, k->bytes);
      else
        RemoveHostFile(k->path);
    }
  }
};

}  // namespace

bool ApplyJson(const std::string &text, std::string *error) {
  json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    if (error) *error = "not a JSON object";
    return false;
  }
  Machine &m = M();
  Machine saved = m;  // a document that fails changes nothing of the state
  FileUndo undo;      // nor of drive C:
  try {
    CheckChange(j);
    if (j.contains("set")) MergeState(j["set"], m);
    for (auto &p : j.value("addPrinters", json::array())) {
      if (FindPrinterNamed(m, p["name"]) != nullptr)
        throw BadChange{"addPrinters: printer \"" + p["name"].get<std::string>() + "\" exists"};
      m.spooler.printers.push_back(PrinterFromJson(p));
      SetDefaultMark(p, m, p["name"]);
    }
    for (auto &c : j.value("changePrinters", json::array())) {
      Printer *p = FindPrinterNamed(m, c["name"]);
      if (p == nullptr)
        throw BadChange{"changePrinters: no printer \"" + c["name"].get<std::string>() + "\""};
      SetPrinterFields(c, *p);
      SetDefaultMark(c, m, p->name);
    }
    for (auto &name : j.value("removePrinters", json::array())) {
      auto &ps = m.spooler.printers;
      size_t count = ps.size();
      for (size_t i = 0; i < ps.size(); ++i)
        if (IEquals(ps[i].name, name.get<std::string>())) ps.erase(ps.begin() + static_cast<long>(i--));
      if (ps.size() == count)
        throw BadChange{"removePrinters: no printer \"" + name.get<std::string>() + "\""};
      if (IEquals(m.spooler.defaultPrinter, name.get<std::string>())) m.spooler.defaultPrinter.clear();
    }
    if (j.contains("defaultPrinter")) m.spooler.defaultPrinter = j["defaultPrinter"];
    for (auto &mon : j.value("addMonitors", json::array())) {
      for (auto &x : m.spooler.monitors)
        if (IEquals(x.name, mon["name"]) && IEquals(x.environment, mon.value("environment", "Windows x64")))
          throw BadChange{"addMonitors: monitor \"" + x.name + "\" exists"};
      m.spooler.monitors.push_back(MonitorFromJson(mon));
    }
    for (auto &drv : j.value("addDrivers", json::array())) {
      for (auto &x : m.spooler.drivers)
        if (IEquals(x.name, drv["name"]) && IEquals(x.environment, drv.value("environment", "Windows x64")))
          throw BadChange{"addDrivers: driver \"" + x.name + "\" exists"};
      m.spooler.drivers.push_back(DriverFromJson(drv));
    }
    for (auto &name : j.value("removeMonitors", json::array())) {
      auto &ms = m.spooler.monitors;
      size_t count = ms.size();
      for (size_t i = 0; i < ms.size(); ++i)
        if (IEquals(ms[i].name, name.get<std::string>())) ms.erase(ms.begin() + static_cast<long>(i--));
      if (ms.size() == count)
        throw BadChange{"removeMonitors: no monitor \"" + name.get<std::string>() + "\""};
    }
    for (auto &name : j.value("removeDrivers", json::array())) {
      auto &ds = m.spooler.drivers;
      size_t count = ds.size();
      for (size_t i = 0; i < ds.size(); ++i)
        if (IEquals(ds[i].name, name.get<std::string>())) ds.erase(ds.begin() + static_cast<long>(i--));
      if (ds.size() == count) throw BadChange{"removeDrivers: no driver \"" + name.get<std::string>() + "\""};
    }
    for (auto &r0 : j.value("registry", json::array())) {
      json r = r0;
      if (r.contains("type"))
        r["type"] = RegType(r["type"]);
      else if (r.contains("hex"))
        r["type"] = 3;  // REG_BINARY
      std::string key = r.value("key", "");
      if (r.value("deleteKey", false)) {
        // The key goes with its subkeys.
        std::string lower = Lower(key);
        for (auto it = m.registry.begin(); it != m.registry.end();)
          it = it->first == lower || it->first.rfind(lower + "\\", 0) == 0 ? m.registry.erase(it)
                                                                           : std::next(it);
      } else if (r.contains("name") && r.value("delete", false)) {
        if (RegKey *k = FindKey(key)) k->values.erase(Lower(r["name"].get<std::string>()));
      } else if (r.contains("name")) {
        RegValue v = ValueFromJson(r);
        SetRegRaw(key, v.name, v.type, v.data);
      } else {
        EnsureKey(key);
      }
    }
    for (auto &f : j.value("files", json::array())) {
      std::string path = f.value("path", "");
      undo.Keep(path);
      if (f.value("delete", false)) {
        RemoveHostFile(path);
      } else if (f.contains("component")) {
        WriteHostFile(path,
                      MakeComponentFile(path.substr(path.find_last_of('\\') + 1), f["component"].get<int>()));
      } else if (f.contains("text")) {
        WriteHostFile(path, f["text"].get<std::string>());
      } else if (f.contains("hex")) {
        auto d = FromHex(f["hex"].get<std::string>());
        WriteHostFile(path, std::string(d.begin(), d.end()));
      }
      if (f.value("release", false)) {
        auto &hs = m.holds;
        for (size_t i = 0; i < hs.size(); ++i)
          if (internal::PathKey(hs[i].path) == internal::PathKey(path))
            hs.erase(hs.begin() + static_cast<long>(i--));
      }
      if (f.contains("hold")) {
        json h = f["hold"];
        h["path"] = path;
        m.holds.push_back(HoldFromJson(h));
      }
    }
    // Monitors registered now are loaded when the spooler runs and finds their DLL.
    // Found by name and environment: a removal in the same document may have
    // taken others out of the list.
    for (auto &mon : j.value("addMonitors", json::array())) {
      if (mon.contains("loaded")) continue;
      for (auto &x : m.spooler.monitors)
        if (IEquals(x.name, mon["name"]) && IEquals(x.environment, mon.value("environment", "Windows x64")))
          x.loaded = internal::SpoolerRunning() && FileExists(internal::SystemPath(x.dll));
    }
    // Cleared first, so that a document can replace the faults.
    if (j.value("clearFaults", false)) m.faults.clear();
    for (auto &f : j.value("faults", json::array())) m.faults.push_back(FaultFromJson(f));
    if (j.contains("shift")) m.shiftHeld = j["shift"];
    if (j.contains("spoolerService")) {
      Service *s = internal::FindService("spooler");
      if (s != nullptr) {
        DWORD before = s->state;
        ServiceFromJson(j["spoolerService"], *s);
        // As a state change of the service: the monitors stay loaded until a
        // stop has completed.
        if (before != s->state && s->state == SERVICE_RUNNING) internal::SpoolerStarted();
        if (before != s->state && s->state == SERVICE_STOPPED) internal::SpoolerStopped();
      }
    }
    if (j.contains("scmUnopenable")) m.scmUnopenable = j["scmUnopenable"];
    if (j.contains("tray")) {
      const json &t = j["tray"];
      TrayFromJson(t, m.tray);
      if (t.contains("running")) m.tray.exitAtMs = -1;
      // A running tray program without a path runs from one directory above the installer's.
      if (m.tray.running && m.tray.path.empty()) m.tray.path = DefaultTrayPath(Parent(m.modulePath));
    }
    if (j.contains("helpWindows")) {
      m.helpWindows.clear();
      for (auto &h : j["helpWindows"]) {
        HelpWindow w;
        w.className = h.value("class", w.className);
        w.title = h.value("title", w.title);
        w.closesOnRequest = h.value("closesOnRequest", true);
        m.helpWindows.push_back(w);
      }
    }
    if (j.contains("windows")) m.windows = j["windows"].get<std::vector<uint64_t>>();
    if (j.contains("diskFreeBytes")) m.diskFreeBytes = j["diskFreeBytes"];
    if (j.contains("os")) {
      const json &os = j["os"];
      if (os.is_string()) {
        unsigned major = 0, minor = 0;
        ParseOsVersion(os, &major, &minor);
        m.osMajor = major;
        m.osMinor = minor;
        m.osBuild = KnownOsBuild(major, minor, m.osBuild);
      } else {
        m.osMajor = os.value("major", m.osMajor);
        m.osMinor = os.value("minor", m.osMinor);
        m.osBuild = os.value("build", m.osBuild);
        m.osPlatform = os.value("platform", m.osPlatform);
      }
    }
    if (j.contains("advanceMs")) detail::Advance(j["advanceMs"].get<uint64_t>());
  } catch (const json::exception &e) {
    m = saved;
    undo.Restore();
    if (error) *error = e.what();
    return false;
  } catch (const BadChange &e) {
    m = saved;
    undo.Restore();
    if (error) *error = e.what;
    return false;
  }
  return true;
}

}  // namespace winsim
