// winsim: the tool for working with simulated machines by hand: create one,
// show it whole or part by part, change it with a change document, restart
// it, and compare two states of it.
//
// Everything shown is read from the machine's JSON form (the state file plus
// drive C:'s files), so `show` and `diff` work the same on a machine
// directory and on the saved output of `winsim show DIR`.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "winsim/win32.h"
#include "winsim/winsim.h"

using nlohmann::json;

namespace {

const char kUsage[] =
    "usage:\n"
    "  winsim new DIR [--installer-dir PATH] [--monitor-build N] [--driver-build N] [--ui-build N]\n"
    "                 [--os MAJOR.MINOR[.BUILD]] [--no-components] [--no-tray]\n"
    "      a fresh machine in DIR (builds: 0 to 65535, or -1 for a file without a version resource)\n"
    "  winsim show DIR [PART] [--json]\n"
    "      the whole machine as JSON, or one part as text (as JSON with --json); PART is one of\n"
    "      printers, monitors, drivers, registry [KEY], files [PREFIX], services, tray, faults,\n"
    "      pending, system, journal; DIR may also be a file saved from `winsim show DIR`\n"
    "  winsim apply DIR FILE|-\n"
    "      apply a change document (JSON; - reads standard input)\n"
    "  winsim reboot DIR\n"
    "      restart the machine: pending file operations carried out, programs ended, spooler up\n"
    "  winsim diff BEFORE AFTER\n"
    "      what changed, part by part; each a machine directory or a saved `winsim show DIR`\n";

const char kSessionManager[] = "hklm\\system\\currentcontrolset\\control\\session manager";
const char kPendingValue[] = "pendingfilerenameoperations";
const char kRunKey[] = "hklm\\software\\microsoft\\windows\\currentversion\\run";
const char kTrayRunValue[] = "morvalentetray";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string &msg) {
  std::fprintf(stderr, "winsim: %s\n", msg.c_str());
  return 1;
}

bool ReadAll(const std::string &path, std::string *out) {
  std::stringstream ss;
  if (path == "-") {
    ss << std::cin.rdbuf();
  } else {
    std::ifstream in(path);
    if (!in) return false;
    ss << in.rdbuf();
  }
  *out = ss.str();
  return true;
}

bool IsDir(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------------------
// Reading a machine
// ---------------------------------------------------------------------------

// The product version build of a file, read through the machine's own
// version calls (as the installer reads it); -1 when it has none. Injected
// faults and files held open by other processes are meant for the programs
// under test, not for this look from outside.
int ProductBuild(const std::string &winPath) {
  std::vector<winsim::Fault> faults;
  std::vector<winsim::FileHold> holds;
  faults.swap(winsim::M().faults);
  holds.swap(winsim::M().holds);
  std::u16string w = winsim::ToUtf16(winPath);
  int build = -1;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(w.c_str(), &handle);
  if (size != 0) {
    std::vector<uint8_t> block(size);
    void *fixed = nullptr;
    UINT len = 0;
    if (GetFileVersionInfoW(w.c_str(), 0, size, block.data()) &&
        VerQueryValueW(block.data(), u"\\", &fixed, &len) && fixed != nullptr &&
        len >= sizeof(VS_FIXEDFILEINFO))
      build = static_cast<int>(static_cast<const VS_FIXEDFILEINFO *>(fixed)->dwProductVersionLS & 0xFFFF);
  }
  faults.swap(winsim::M().faults);
  holds.swap(winsim::M().holds);
  return build;
}

bool LooksLikeImage(const std::string &hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  char mz[2] = {0, 0};
  return in.read(mz, 2) && mz[0] == 'M' && mz[1] == 'Z';
}

// Files of drive C: as Windows paths with their sizes and, for program
// images, their product build (-1: no version resource).
void ListFiles(const std::string &host, const std::string &win, json &out) {
  DIR *d = opendir(host.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent *e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (auto &n : names) {
    std::string h = host + "/" + n;
    std::string w = win + "\\" + n;
    struct stat st;
    if (stat(h.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ListFiles(h, w, out);
      continue;
    }
    json f = {{"size", static_cast<uint64_t>(st.st_size)}};
    if (LooksLikeImage(h)) f["build"] = ProductBuild(w);
    out[w] = f;
  }
}

json FullState(const std::string &dir) {
  json j = json::parse(winsim::ToJson(winsim::M()));
  json files = json::object();
  ListFiles(dir + "/c", "C:", files);
  j["files"] = files;
  return j;
}

// A saved output with parts missing reads as a machine without them; older
// saved outputs list files as path: size.
void Normalise(json &j) {
  for (const char *k : {"registry", "holds", "services", "helpWindows", "faults", "windows"})
    if (!j.contains(k) || !j[k].is_array()) j[k] = json::array();
  for (const char *k : {"files", "tray", "os"})
    if (!j.contains(k) || !j[k].is_object()) j[k] = json::object();
  const json defaults = {{"diskFreeBytes", -1}, {"shiftHeld", false}, {"scmUnopenable", false},
                         {"clockMs", 0},        {"modulePath", ""},   {"systemDir", ""}};
  for (auto &[k, v] : defaults.items())
    if (!j.contains(k)) j[k] = v;
  json &sp = j["spooler"];
  for (const char *k : {"printers", "monitors", "drivers"})
    if (!sp.contains(k) || !sp[k].is_array()) sp[k] = json::array();
  for (auto &[path, f] : j["files"].items())
    if (f.is_number()) f = json{{"size", f}};
}

// Loads a machine directory (making it current) or a JSON file saved from `show`.
bool LoadEither(const std::string &path, json *out, std::string *error) {
  if (IsDir(path)) {
    if (!winsim::LoadMachine(path)) {
      *error = "no machine in " + path;
      return false;
    }
    *out = FullState(path);
    return true;
  }
  std::string text;
  if (!ReadAll(path, &text)) {
    *error = "cannot read " + path;
    return false;
  }
  *out = json::parse(text, nullptr, false);
  if (out->is_discarded() || !out->is_object() || !out->contains("spooler") ||
      !(*out)["spooler"].is_object()) {
    *error = path + " is neither a machine directory nor a saved `winsim show`";
    return false;
  }
  Normalise(*out);
  return true;
}

// ---------------------------------------------------------------------------
// Text forms
// ---------------------------------------------------------------------------

std::string Q(const std::string &s) {
  return "\"" + s + "\"";
}

std::string Str(const json &j, const char *key) {
  return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

std::string HexNum(uint64_t v, int width = 0) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llx", width, static_cast<unsigned long long>(v));
  return buf;
}

std::string Join(const std::vector<std::string> &v, const char *sep = ", ") {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? sep : "") + v[i];
  return out;
}

std::string ErrorName(uint64_t code) {
  static const std::map<uint64_t, const char *> names = {{2, "ERROR_FILE_NOT_FOUND"},
                                                         {3, "ERROR_PATH_NOT_FOUND"},
                                                         {5, "ERROR_ACCESS_DENIED"},
                                                         {6, "ERROR_INVALID_HANDLE"},
                                                         {8, "ERROR_NOT_ENOUGH_MEMORY"},
                                                         {14, "ERROR_OUTOFMEMORY"},
                                                         {32, "ERROR_SHARING_VIOLATION"},
                                                         {87, "ERROR_INVALID_PARAMETER"},
                                                         {112, "ERROR_DISK_FULL"},
                                                         {122, "ERROR_INSUFFICIENT_BUFFER"},
                                                         {124, "ERROR_INVALID_LEVEL"},
                                                         {126, "ERROR_MOD_NOT_FOUND"},
                                                         {127, "ERROR_PROC_NOT_FOUND"},
                                                         {183, "ERROR_ALREADY_EXISTS"},
                                                         {234, "ERROR_MORE_DATA"},
                                                         {1053, "ERROR_SERVICE_REQUEST_TIMEOUT"},
                                                         {1056, "ERROR_SERVICE_ALREADY_RUNNING"},
                                                         {1061, "ERROR_SERVICE_CANNOT_ACCEPT_CTRL"},
                                                         {1062, "ERROR_SERVICE_NOT_ACTIVE"},
                                                         {1722, "RPC_S_SERVER_UNAVAILABLE"},
                                                         {1796, "ERROR_UNKNOWN_PORT"},
                                                         {1797, "ERROR_UNKNOWN_PRINTER_DRIVER"},
                                                         {1798, "ERROR_UNKNOWN_PRINTPROCESSOR"},
                                                         {1801, "ERROR_INVALID_PRINTER_NAME"},
                                                         {1802, "ERROR_PRINTER_ALREADY_EXISTS"},
                                                         {1805, "ERROR_INVALID_ENVIRONMENT"},
                                                         {3000, "ERROR_UNKNOWN_PRINT_MONITOR"},
                                                         {3001, "ERROR_PRINTER_DRIVER_IN_USE"},
                                                         {3006, "ERROR_PRINT_MONITOR_ALREADY_INSTALLED"},
                                                         {3008, "ERROR_PRINT_MONITOR_IN_USE"},
                                                         {0x8007000E, "E_OUTOFMEMORY"}};
  auto it = names.find(code);
  std::string n = std::to_string(code);
  return it == names.end() ? n : n + " " + it->second;
}

std::string RegTypeName(uint64_t type) {
  static const char *names[] = {"REG_NONE",   "REG_SZ",      "REG_EXPAND_SZ",
                                "REG_BINARY", "REG_DWORD",   "REG_DWORD_BIG_ENDIAN",
                                "REG_LINK",   "REG_MULTI_SZ"};
  if (type < 8) return names[type];
  if (type == 11) return "REG_QWORD";
  return "type " + std::to_string(type);
}

std::string SpacedHex(const std::string &hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (i ? " " : "") + hex.substr(i, 2);
  return out;
}

// A registry value of the JSON form, as "REG_SZ "text"".
std::string RegValueText(const json &v) {
  uint64_t type = v.value("type", 1u);
  std::string t = RegTypeName(type);
  if (v.contains("string")) return t + " " + Q(v["string"].get<std::string>());
  if (v.contains("strings")) {
    std::vector<std::string> items;
    for (auto &s : v["strings"]) items.push_back(Q(s.get<std::string>()));
    return t + " [" + Join(items) + "]";
  }
  if (v.contains("dword")) {
    uint64_t d = v["dword"].get<uint64_t>();
    return t + " " + HexNum(d, 8) + " (" + std::to_string(d) + ")";
  }
  std::string hex = Str(v, "hex");
  bool textual = type == 1 || type == 2 || type == 7 || type == 4;
  return t + (textual ? " (malformed) hex " : " hex ") + (hex.empty() ? "(empty)" : SpacedHex(hex));
}

std::string ValueName(const std::string &name) {
  return name.empty() ? "(default)" : name;
}

// Printer data of the JSON form ("ansi" or "hex").
std::string DataText(const json &v) {
  uint64_t type = v.value("type", 1u);
  std::string prefix = type == 1 ? "" : RegTypeName(type) + " ";
  if (v.contains("ansi")) return prefix + Q(v["ansi"].get<std::string>());
  return prefix + "hex " + SpacedHex(Str(v, "hex"));
}

std::string DataLabel(const std::string &key, const std::string &name) {
  if (key.empty()) return name;
  return (key == "dsuser" ? std::string("DsUser") : key) + "\\" + name;
}

// A printer's data as (label, text) pairs, the plain values first
// ("SubKey", then "DsUser\SubKey", ...).
std::vector<std::pair<std::string, std::string>> PrinterData(const json &p) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!p.contains("data")) return out;
  for (auto &[key, vals] : p["data"].items())
    for (auto &v : vals) out.push_back({DataLabel(key, Str(v, "name")), DataText(v)});
  return out;
}

// A printer's settings name, plain and under "DsUser", as one phrase.
std::string SettingsText(const json &p) {
  auto data = PrinterData(p);
  auto find = [&](const std::string &label) {
    for (auto &[l, t] : data)
      if (winsim::IEquals(l, label)) return t;
    return std::string();
  };
  std::string plain = find("SubKey"), ds = find("DsUser\\SubKey");
  if (plain.empty() && ds.empty()) return "none";
  if (plain == ds) return plain + " (plain and DsUser)";
  return (plain.empty() ? "none" : plain) + " (plain), " + (ds.empty() ? "none" : ds) + " (DsUser)";
}

std::string AttributesText(uint64_t a) {
  static const std::pair<uint64_t, const char *> bits[] = {
      {0x1, "queued"},         {0x2, "direct"},
      {0x4, "default"},        {0x8, "shared"},
      {0x10, "network"},       {0x20, "hidden"},
      {0x40, "local"},         {0x80, "enable-devq"},
      {0x100, "keep-jobs"},    {0x200, "do-complete-first"},
      {0x400, "work-offline"}, {0x800, "enable-bidi"},
      {0x1000, "raw-only"},    {0x2000, "published"}};
  std::vector<std::string> names;
  for (auto &b : bits)
    if (a & b.first) names.push_back(b.second);
  return HexNum(a, 8) + (names.empty() ? "" : " (" + Join(names) + ")");
}

// One field value for diff lines.
std::string FieldText(const std::string &key, const json &v) {
  if (v.is_null()) return "(none)";
  if (v.is_string()) return v.get<std::string>().empty() ? "(none)" : Q(v.get<std::string>());
  if (v.is_boolean()) return v.get<bool>() ? "yes" : "no";
  if (key == "attributes" && v.is_number()) return AttributesText(v.get<uint64_t>());
  if (v.is_array()) {
    std::vector<std::string> items;
    for (auto &x : v) items.push_back(x.is_string() ? x.get<std::string>() : x.dump());
    return "[" + Join(items) + "]";
  }
  return v.dump();
}

std::string ShareText(uint64_t share) {
  std::vector<std::string> s;
  if (share & FILE_SHARE_READ) s.push_back("read");
  if (share & FILE_SHARE_WRITE) s.push_back("write");
  if (share & FILE_SHARE_DELETE) s.push_back("delete");
  return s.empty() ? "no sharing" : "sharing " + Join(s, "+");
}

std::string HoldText(const json &h) {
  std::string t = Str(h, "path") + " by " + Str(h, "holder") + ", " + ShareText(h.value("share", 0u));
  int64_t at = h.value("releaseAtMs", static_cast<int64_t>(-1));
  return t + (at < 0 ? ", never let go" : ", let go at clock " + std::to_string(at) + " ms");
}

std::string FaultText(const json &f) {
  uint64_t nth = f.value("nth", 1u), times = f.value("times", 1u);
  std::string which;
  if (f.value("always", false))
    which = nth <= 1 ? "every call fails" : "every call from call " + std::to_string(nth) + " on fails";
  else if (times <= 1)
    which = "call " + std::to_string(nth) + " fails";
  else
    which = "calls " + std::to_string(nth) + " to " + std::to_string(nth + times - 1) + " fail";
  return Str(f, "call") + ": " + which + " with error " + ErrorName(f.value("error", 0u));
}

std::string BuildOf(const json &f) {
  if (!f.contains("build")) return "";
  int build = f["build"].get<int>();
  return build < 0 ? "no version resource" : "build " + std::to_string(build);
}

std::string FileText(const json &f) {
  std::string t = std::to_string(f.value("size", 0u)) + " bytes";
  if (f.contains("build")) t += ", " + BuildOf(f);
  return t;
}

const json *FindFile(const json &state, const std::string &path) {
  if (!state.contains("files")) return nullptr;
  for (auto &[p, f] : state["files"].items())
    if (winsim::IEquals(p, path)) return &f;
  return nullptr;
}

std::string PresenceText(const json &state, const std::string &path) {
  const json *f = FindFile(state, path);
  return f == nullptr ? "missing" : FileText(*f);
}

std::string SystemFile(const json &state, const std::string &name) {
  return Str(state, "systemDir") + "\\" + name;
}

const json *FindRegKey(const json &state, const std::string &lowerPath) {
  if (!state.contains("registry")) return nullptr;
  for (auto &k : state["registry"])
    if (winsim::Lower(Str(k, "path")) == lowerPath) return &k;
  return nullptr;
}

const json *FindRegValue(const json &state, const std::string &lowerKey, const std::string &lowerName) {
  const json *k = FindRegKey(state, lowerKey);
  if (k == nullptr || !k->contains("values")) return nullptr;
  for (auto &v : (*k)["values"])
    if (winsim::Lower(Str(v, "name")) == lowerName) return &v;
  return nullptr;
}

// The pending file operations, one text per pair ("delete X", "rename X -> Y");
// a value that is no well-formed list of strings gives one line saying so.
std::vector<std::string> PendingOperations(const json &state) {
  std::vector<std::string> out;
  const json *v = FindRegValue(state, kSessionManager, kPendingValue);
  if (v == nullptr) return out;
  if (!v->contains("strings")) {
    out.push_back("malformed value: " + RegValueText(*v));
    return out;
  }
  std::vector<std::string> s = (*v)["strings"].get<std::vector<std::string>>();
  for (size_t i = 0; i < s.size(); i += 2) {
    if (i + 1 >= s.size()) {
      out.push_back("incomplete pair: " + s[i]);
    } else if (s[i + 1].empty()) {
      out.push_back("delete " + s[i]);
    } else {
      out.push_back("rename " + s[i] + " -> " + s[i + 1]);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// show: one part as text
// ---------------------------------------------------------------------------

void Line(std::ostream &o, const std::string &label, const std::string &text) {
  std::string l = label;
  if (l.size() < 10) l.resize(10, ' ');
  o << "    " << l << " " << text << "\n";
}

void ShowPrinters(const json &s, std::ostream &o) {
  const json &ps = s["spooler"]["printers"];
  std::string def = Str(s["spooler"], "defaultPrinter");
  o << ps.size() << (ps.size() == 1 ? " printer" : " printers")
    << "; default printer: " << (def.empty() ? "none" : Q(def)) << "\n";
  for (auto &p : ps) {
    std::string name = Str(p, "name");
    bool isDefault = winsim::IEquals(name, def);
    o << (isDefault ? "* " : "  ") << name << (isDefault ? "  (default printer)" : "") << "\n";
    Line(o, "port", Str(p, "port"));
    Line(o, "driver", Str(p, "driver"));
    Line(o, "comment", FieldText("comment", p.value("comment", "")));
    Line(o, "location", FieldText("location", p.value("location", "")));
    Line(o, "settings", "SubKey " + SettingsText(p));
    Line(o, "attributes", AttributesText(p.value("attributes", 0u)));
    if (p.value("connection", false)) Line(o, "connection", "yes (a connected network printer)");
    for (const char *k : {"share", "server", "sepFile", "parameters", "status", "jobs"})
      if (p.contains(k)) Line(o, k, FieldText(k, p[k]));
    for (auto &[label, text] : PrinterData(p))
      if (!winsim::IEquals(label, "SubKey") && !winsim::IEquals(label, "DsUser\\SubKey"))
        Line(o, "data", label + " = " + text);
  }
}

void ShowMonitors(const json &s, std::ostream &o) {
  const json &ms = s["spooler"]["monitors"];
  o << ms.size() << (ms.size() == 1 ? " port monitor" : " port monitors") << "\n";
  for (auto &m : ms) {
    o << "  " << Str(m, "name") << "  (" << Str(m, "environment") << ")\n";
    std::string dll = Str(m, "dll");
    Line(o, "dll", dll + "  [" + SystemFile(s, dll) + ": " + PresenceText(s, SystemFile(s, dll)) + "]");
    Line(o, "loaded", m.value("loaded", false) ? "yes, by the running spooler (the file is in use)" : "no");
    if (m.value("removed", false)) Line(o, "removed", "yes, its DLL stays loaded until the spooler stops");
    std::vector<std::string> ports = m.value("ports", std::vector<std::string>{});
    Line(o, "ports", ports.empty() ? "none" : Join(ports));
  }
  std::vector<std::string> std_ = s["spooler"].value("standardPorts", std::vector<std::string>{});
  o << "standard ports: " << Join(std_) << "\n";
}

void ShowDrivers(const json &s, std::ostream &o) {
  const json &ds = s["spooler"]["drivers"];
  o << ds.size() << (ds.size() == 1 ? " printer driver" : " printer drivers") << "\n";
  for (auto &d : ds) {
    o << "  " << Str(d, "name") << "  (" << Str(d, "environment") << ", version " << d.value("version", 3u)
      << ")\n";
    for (auto [key, label] : std::vector<std::pair<const char *, const char *>>{{"driverPath", "driver"},
                                                                                {"dataFile", "data"},
                                                                                {"configFile", "config"},
                                                                                {"helpFile", "help"}}) {
      std::string path = Str(d, key);
      if (!path.empty()) Line(o, label, path + "  [" + PresenceText(s, path) + "]");
    }
    for (auto &f : d.value("dependentFiles", std::vector<std::string>{}))
      Line(o, "dependent", f + "  [" + PresenceText(s, f) + "]");
    for (const char *k : {"monitorName", "defaultDataType", "mfgName", "provider"})
      if (!Str(d, k).empty()) Line(o, k, Str(d, k));
  }
  o << "driver directory: " << Str(s["spooler"], "driverRoot") << "\n";
}

std::string NormaliseKey(std::string key) {
  std::string lower = winsim::Lower(key);
  for (auto [longName, shortName] : std::vector<std::pair<std::string, std::string>>{
           {"hkey_local_machine", "HKLM"}, {"hkey_current_user", "HKCU"}})
    if (lower.rfind(longName, 0) == 0) key = shortName + key.substr(longName.size());
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

// Registry keys at or below `key` (all keys when empty).
json RegistryBelow(const json &s, const std::string &key) {
  json out = json::array();
  std::string want = winsim::Lower(NormaliseKey(key));
  for (auto &k : s["registry"]) {
    std::string p = winsim::Lower(Str(k, "path"));
    if (want.empty() || p == want || p.rfind(want + "\\", 0) == 0) out.push_back(k);
  }
  return out;
}

void ShowRegistry(const json &keys, std::ostream &o) {
  for (auto &k : keys) {
    o << Str(k, "path") << "\n";
    for (auto &v : k["values"]) o << "    " << ValueName(Str(v, "name")) << " = " << RegValueText(v) << "\n";
  }
}

json FilesBelow(const json &s, const std::string &prefix) {
  json out = json::object();
  std::string want = winsim::Lower(prefix);
  for (auto &[p, f] : s["files"].items())
    if (want.empty() || winsim::Lower(p).rfind(want, 0) == 0) out[p] = f;
  return out;
}

void ShowFiles(const json &s, const json &files, std::ostream &o) {
  size_t width = 0;
  for (auto &[p, f] : files.items()) width = std::max(width, p.size());
  for (auto &[p, f] : files.items()) {
    std::string path = p;
    path.resize(width, ' ');
    o << path << "  " << FileText(f) << "\n";
  }
  std::vector<std::string> holds;
  for (auto &h : s["holds"])
    if (FindFile(json{{"files", files}}, Str(h, "path")) != nullptr) holds.push_back(HoldText(h));
  o << "held open by other processes: " << (holds.empty() ? "none" : "") << "\n";
  for (auto &h : holds) o << "  " << h << "\n";
}

void ShowServices(const json &s, std::ostream &o) {
  for (auto &sv : s["services"]) {
    o << Str(sv, "name") << "  " << Str(sv, "state") << "\n";
    uint64_t target = sv.value("pendingTarget", 0u);
    if (target != 0)
      Line(o, "pending",
           std::string(target == 4 ? "running" : "stopped") + " at clock " +
               std::to_string(sv.value("pendingUntil", 0u)) + " ms");
    Line(o, "start",
         "takes " + std::to_string(sv.value("startDelayMs", 0u)) + " ms" +
             (sv.value("neverStarts", false) ? ", never gets there (stays start pending)" : ""));
    Line(o, "stop",
         "takes " + std::to_string(sv.value("stopDelayMs", 0u)) + " ms" +
             (sv.value("ignoresStop", false) ? ", ignored (it keeps running)" : "") +
             (sv.value("stopError", 0u) != 0 ? ", refused with error " + ErrorName(sv.value("stopError", 0u))
                                             : ""));
    Line(o, "open",
         sv.value("unopenable", false) ? "refused (OpenServiceW: error 5 ERROR_ACCESS_DENIED)" : "yes");
  }
  o << "service manager: "
    << (s.value("scmUnopenable", false) ? "cannot be opened (OpenSCManagerW: error 5 ERROR_ACCESS_DENIED)"
                                        : "can be opened")
    << "\n";
}

std::string BehaviourText(const json &t) {
  std::string b = Str(t, "behaviour");
  if (b == "exit") return "exit (exits at once when asked)";
  if (b == "delay")
    return "delay (closes its window when asked, exits " + std::to_string(t.value("exitDelayMs", 0u)) +
           " ms later)";
  if (b == "ignore") return "ignore (does not react when asked)";
  if (b == "nowindow") return "nowindow (has no window to ask)";
  return b;
}

void ShowTray(const json &s, std::ostream &o) {
  const json &t = s["tray"];
  o << "tray program: " << (t.value("running", false) ? "running" : "not running") << "\n";
  Line(o, "path",
       Str(t, "path").empty() ? "(none)" : Str(t, "path") + "  [" + PresenceText(s, Str(t, "path")) + "]");
  Line(o, "behaviour", BehaviourText(t));
  Line(o, "mutex", t.value("mutexHeld", false) ? "held" : "not held");
  int64_t exitAt = t.value("exitAtMs", static_cast<int64_t>(-1));
  if (exitAt >= 0) Line(o, "exiting", "at clock " + std::to_string(exitAt) + " ms");
  const json *run = FindRegValue(s, kRunKey, kTrayRunValue);
  Line(o, "start-up",
       run == nullptr ? "not registered" : "HKLM\\...\\Run MorvalenteTray = " + RegValueText(*run));
  const json &hw = s["helpWindows"];
  o << "help viewer windows: " << (hw.empty() ? "none" : std::to_string(hw.size())) << "\n";
  for (auto &w : hw)
    o << "  " << Q(Str(w, "title")) << " (class " << Str(w, "class") << ")"
      << (w.value("closesOnRequest", true) ? "" : ", does not close when asked") << "\n";
}

void ShowFaults(const json &s, std::ostream &o) {
  const json &fs = s["faults"];
  if (fs.empty()) o << "no faults\n";
  for (auto &f : fs) o << FaultText(f) << "\n";
}

void ShowPending(const json &s, std::ostream &o) {
  auto ops = PendingOperations(s);
  o << "pending file operations (HKLM\\...\\Session Manager PendingFileRenameOperations): "
    << (ops.empty() ? "none" : std::to_string(ops.size())) << "\n";
  for (auto &op : ops) o << "  " << op << "\n";
}

std::string OsText(const json &os) {
  uint64_t platform = os.value("platform", 2u);
  return std::to_string(os.value("major", 0u)) + "." + std::to_string(os.value("minor", 0u)) + " build " +
         std::to_string(os.value("build", 0u)) +
         (platform == 2 ? "" : " platform " + std::to_string(platform));
}

std::string DiskText(const json &v) {
  return v.is_number() && v.get<int64_t>() >= 0 ? std::to_string(v.get<int64_t>()) + " bytes free"
                                                : "unlimited";
}

void ShowSystem(const json &s, std::ostream &o) {
  Line(o, "Windows", OsText(s["os"]));
  Line(o, "program", Str(s, "modulePath"));
  Line(o, "system", Str(s, "systemDir"));
  Line(o, "drivers", Str(s["spooler"], "driverRoot"));
  Line(o, "Shift key", s.value("shiftHeld", false) ? "held" : "up");
  Line(o, "disk", DiskText(s["diskFreeBytes"]));
  Line(o, "clock", std::to_string(s.value("clockMs", 0u)) + " ms");
  std::vector<std::string> ws;
  for (auto &w : s["windows"]) ws.push_back(std::to_string(w.get<uint64_t>()));
  Line(o, "windows", ws.empty() ? "none besides the tray program's and help viewers'" : Join(ws));
}

int Show(const std::string &dir, const std::vector<std::string> &args) {
  bool asJson = false;
  std::vector<std::string> rest;
  for (auto &a : args) {
    if (a == "--json")
      asJson = true;
    else
      rest.push_back(a);
  }
  json s;
  std::string error;
  if (!LoadEither(dir, &s, &error)) return Fail(error);
  if (rest.empty()) {
    std::cout << s.dump(2) << "\n";
    return 0;
  }
  const std::string &part = rest[0];
  std::string arg = rest.size() > 1 ? rest[1] : std::string();
  if (rest.size() > 2 || (rest.size() > 1 && part != "registry" && part != "files")) return Usage();
  json out;
  std::ostringstream text;
  if (part == "printers") {
    out = {{"defaultPrinter", s["spooler"]["defaultPrinter"]}, {"printers", s["spooler"]["printers"]}};
    ShowPrinters(s, text);
  } else if (part == "monitors") {
    out = {{"monitors", s["spooler"]["monitors"]}, {"standardPorts", s["spooler"]["standardPorts"]}};
    ShowMonitors(s, text);
  } else if (part == "drivers") {
    out = {{"drivers", s["spooler"]["drivers"]}, {"driverRoot", s["spooler"]["driverRoot"]}};
    ShowDrivers(s, text);
  } else if (part == "registry") {
    out = RegistryBelow(s, arg);
    if (out.empty() && !arg.empty()) return Fail("no registry key " + arg);
    ShowRegistry(out, text);
  } else if (part == "files") {
    out = {{"files", FilesBelow(s, arg)}, {"holds", s["holds"]}};
    ShowFiles(s, out["files"], text);
  } else if (part == "services") {
    out = {{"services", s["services"]}, {"scmUnopenable", s["scmUnopenable"]}};
    ShowServices(s, text);
  } else if (part == "tray") {
    out = {{"tray", s["tray"]}, {"helpWindows", s["helpWindows"]}};
    ShowTray(s, text);
  } else if (part == "faults") {
    out = s["faults"];
    ShowFaults(s, text);
  } else if (part == "pending") {
    const json *v = FindRegValue(s, kSessionManager, kPendingValue);
    out = {{"value", v == nullptr ? json(nullptr) : *v}, {"operations", PendingOperations(s)}};
    ShowPending(s, text);
  } else if (part == "system") {
    out = {{"os", s["os"]},
           {"modulePath", s["modulePath"]},
           {"systemDir", s["systemDir"]},
           {"shiftHeld", s["shiftHeld"]},
           {"diskFreeBytes", s["diskFreeBytes"]},
           {"clockMs", s["clockMs"]},
           {"windows", s["windows"]}};
    ShowSystem(s, text);
  } else if (part == "journal") {
    std::string journal;
    if (!IsDir(dir) || !ReadAll(dir + "/last-run.journal", &journal)) return Fail("no run journal in " + dir);
    out = json::array();
    std::istringstream lines(journal);
    for (std::string l; std::getline(lines, l);) out.push_back(l);
    text << journal;
  } else {
    return Fail("unknown part " + part +
                " (printers, monitors, drivers, registry, files, services, tray, "
                "faults, pending, system, journal)");
  }
  if (asJson)
    std::cout << out.dump(2) << "\n";
  else
    std::cout << text.str();
  return 0;
}

// ---------------------------------------------------------------------------
// diff
// ---------------------------------------------------------------------------

struct Group {
  std::string title;
  std::vector<std::string> lines;
};

struct Report {
  std::vector<Group> groups;
  std::vector<std::string> &In(const std::string &title) {
    for (auto &g : groups)
      if (g.title == title) return g.lines;
    groups.push_back({title, {}});
    return groups.back().lines;
  }
  bool Empty() const {
    for (auto &g : groups)
      if (!g.lines.empty()) return false;
    return true;
  }
};

// Field-by-field changes of two records: "~ LABEL field: old -> new".
void DiffFields(const json &a, const json &b, const std::string &label, const std::set<std::string> &skip,
                std::vector<std::string> &out) {
  std::set<std::string> keys;
  for (auto &[k, v] : a.items()) keys.insert(k);
  for (auto &[k, v] : b.items()) keys.insert(k);
  for (auto &k : keys) {
    if (skip.count(k)) continue;
    json va = a.contains(k) ? a[k] : json(nullptr), vb = b.contains(k) ? b[k] : json(nullptr);
    if (va != vb) out.push_back("~ " + label + k + ": " + FieldText(k, va) + " -> " + FieldText(k, vb));
  }
}

// Two lists compared as collections: what only the first has ("- "), then
// what only the second has ("+ "), each in its list's order.
void ListDiff(const std::vector<std::string> &a, const std::vector<std::string> &b, const std::string &prefix,
              std::vector<std::string> &out) {
  std::multiset<std::string> inB(b.begin(), b.end()), inA(a.begin(), a.end());
  for (auto &x : a) {
    auto it = inB.find(x);
    if (it != inB.end())
      inB.erase(it);
    else
      out.push_back("- " + prefix + x);
  }
  for (auto &y : b) {
    auto it = inA.find(y);
    if (it != inA.end())
      inA.erase(it);
    else
      out.push_back("+ " + prefix + y);
  }
}

// Records of two lists matched by a key: removed, added, changed.
template <typename Key, typename Summary, typename Changes>
void DiffRecords(const json &a, const json &b, Key key, Summary summary, Changes changes,
                 std::vector<std::string> &out) {
  auto find = [&](const json &list, const std::string &k) -> const json * {
    for (auto &x : list)
      if (key(x) == k) return &x;
    return nullptr;
  };
  for (auto &x : a) {
    const json *y = find(b, key(x));
    if (y == nullptr)
      out.push_back("- " + summary(x));
    else
      changes(x, *y, out);
  }
  for (auto &y : b)
    if (find(a, key(y)) == nullptr) out.push_back("+ " + summary(y));
}

std::string PrinterSummary(const json &p) {
  std::string t = Q(Str(p, "name")) + "  port " + Str(p, "port") + ", driver " + Q(Str(p, "driver"));
  if (!Str(p, "comment").empty()) t += ", comment " + Q(Str(p, "comment"));
  if (!Str(p, "location").empty()) t += ", location " + Q(Str(p, "location"));
  return t + ", settings name " + SettingsText(p);
}

void DiffPrinters(const json &a, const json &b, Report &r) {
  auto &out = r.In("printers");
  DiffRecords(
      a["spooler"]["printers"], b["spooler"]["printers"],
      [](const json &p) { return winsim::Lower(Str(p, "name")); }, PrinterSummary,
      [](const json &x, const json &y, std::vector<std::string> &o) {
        std::string label = Q(Str(x, "name")) + " ";
        DiffFields(x, y, label, {"name", "data"}, o);
        auto dx = PrinterData(x), dy = PrinterData(y);
        std::map<std::string, std::string> mx(dx.begin(), dx.end()), my(dy.begin(), dy.end());
        for (auto &[l, t] : dx)
          if (!my.count(l))
            o.push_back("~ " + label + l + ": " + t + " -> (none)");
          else if (my[l] != t)
            o.push_back("~ " + label + l + ": " + t + " -> " + my[l]);
        for (auto &[l, t] : dy)
          if (!mx.count(l)) o.push_back("~ " + label + l + ": (none) -> " + t);
      },
      out);
  std::string da = Str(a["spooler"], "defaultPrinter"), db = Str(b["spooler"], "defaultPrinter");
  if (da != db) out.push_back("~ default printer: " + FieldText("", da) + " -> " + FieldText("", db));
}

void DiffMonitors(const json &a, const json &b, Report &r) {
  auto key = [](const json &m) { return winsim::Lower(Str(m, "name") + "|" + Str(m, "environment")); };
  auto summary = [](const json &m) {
    std::vector<std::string> ports = m.value("ports", std::vector<std::string>{});
    return Q(Str(m, "name")) + " (" + Str(m, "environment") + ")  " + Str(m, "dll") + ", ports " +
           (ports.empty() ? "none" : Join(ports)) + (m.value("loaded", false) ? ", loaded" : ", not loaded");
  };
  DiffRecords(
      a["spooler"]["monitors"], b["spooler"]["monitors"], key, summary,
      [](const json &x, const json &y, std::vector<std::string> &o) {
        DiffFields(x, y, Q(Str(x, "name")) + " ", {"name", "environment"}, o);
      },
      r.In("port monitors"));
}

void DiffDrivers(const json &a, const json &b, Report &r) {
  auto key = [](const json &d) { return winsim::Lower(Str(d, "name") + "|" + Str(d, "environment")); };
  auto summary = [](const json &d) {
    return Q(Str(d, "name")) + " (" + Str(d, "environment") + ", version " +
           std::to_string(d.value("version", 3u)) + ")  " + Str(d, "driverPath");
  };
  DiffRecords(
      a["spooler"]["drivers"], b["spooler"]["drivers"], key, summary,
      [](const json &x, const json &y, std::vector<std::string> &o) {
        DiffFields(x, y, Q(Str(x, "name")) + " ", {"name", "environment"}, o);
      },
      r.In("printer drivers"));
}

void DiffFiles(const json &a, const json &b, Report &r) {
  auto &out = r.In("files");
  std::map<std::string, std::pair<std::string, json>> fa, fb;
  for (auto &[p, f] : a["files"].items()) fa[winsim::Lower(p)] = {p, f};
  for (auto &[p, f] : b["files"].items()) fb[winsim::Lower(p)] = {p, f};
  for (auto &[k, pf] : fa) {
    auto it = fb.find(k);
    if (it == fb.end()) {
      out.push_back("- " + pf.first + "  (" + FileText(pf.second) + ")");
      continue;
    }
    const json &x = pf.second, &y = it->second.second;
    std::vector<std::string> changes;
    if (x.value("size", 0u) != y.value("size", 0u))
      changes.push_back(std::to_string(x.value("size", 0u)) + " -> " + std::to_string(y.value("size", 0u)) +
                        " bytes");
    if (BuildOf(x) != BuildOf(y))
      changes.push_back((BuildOf(x).empty() ? "no program image" : BuildOf(x)) + " -> " +
                        (BuildOf(y).empty() ? "no program image" : BuildOf(y)));
    if (!changes.empty()) out.push_back("~ " + it->second.first + "  " + Join(changes));
  }
  for (auto &[k, pf] : fb)
    if (!fa.count(k)) out.push_back("+ " + pf.first + "  " + FileText(pf.second));
  std::vector<std::string> ha, hb;
  for (auto &h : a["holds"]) ha.push_back(HoldText(h));
  for (auto &h : b["holds"]) hb.push_back(HoldText(h));
  ListDiff(ha, hb, "held open: ", out);
}

void DiffRegistry(const json &a, const json &b, Report &r) {
  auto &out = r.In("registry");
  // key -> (path, name -> (name, text)); the pending file operations have their own part.
  using Values = std::map<std::string, std::pair<std::string, std::string>>;
  auto collect = [](const json &s) {
    std::map<std::string, std::pair<std::string, Values>> keys;
    for (auto &k : s["registry"]) {
      std::string path = Str(k, "path"), lower = winsim::Lower(path);
      Values vals;
      for (auto &v : k["values"]) {
        std::string name = Str(v, "name");
        if (lower == kSessionManager && winsim::Lower(name) == kPendingValue) continue;
        vals[winsim::Lower(name)] = {name, RegValueText(v)};
      }
      keys[lower] = {path, vals};
    }
    return keys;
  };
  auto ka = collect(a), kb = collect(b);
  for (auto &[k, pv] : ka) {
    auto it = kb.find(k);
    if (it == kb.end()) {
      out.push_back("- key " + pv.first);
      for (auto &[n, v] : pv.second)
        out.push_back("- " + pv.first + "  " + ValueName(v.first) + " = " + v.second);
      continue;
    }
    const Values &va = pv.second, &vb = it->second.second;
    for (auto &[n, v] : va) {
      auto w = vb.find(n);
      if (w == vb.end())
        out.push_back("- " + pv.first + "  " + ValueName(v.first) + " = " + v.second);
      else if (w->second.second != v.second)
        out.push_back("~ " + pv.first + "  " + ValueName(v.first) + ": " + v.second + " -> " +
                      w->second.second);
    }
    for (auto &[n, v] : vb)
      if (!va.count(n)) out.push_back("+ " + pv.first + "  " + ValueName(v.first) + " = " + v.second);
  }
  for (auto &[k, pv] : kb) {
    if (ka.count(k)) continue;
    out.push_back("+ key " + pv.first);
    for (auto &[n, v] : pv.second)
      out.push_back("+ " + pv.first + "  " + ValueName(v.first) + " = " + v.second);
  }
}

void DiffPending(const json &a, const json &b, Report &r) {
  ListDiff(PendingOperations(a), PendingOperations(b), "", r.In("pending file operations"));
}

void DiffServices(const json &a, const json &b, Report &r) {
  auto &out = r.In("services");
  DiffRecords(
      a["services"], b["services"], [](const json &s) { return winsim::Lower(Str(s, "name")); },
      [](const json &s) { return Q(Str(s, "name")) + " " + Str(s, "state"); },
      [](const json &x, const json &y, std::vector<std::string> &o) {
        DiffFields(x, y, Q(Str(x, "name")) + " ", {"name"}, o);
      },
      out);
  if (a.value("scmUnopenable", false) != b.value("scmUnopenable", false))
    out.push_back(std::string("~ service manager: ") + (a.value("scmUnopenable", false)
                                                            ? "cannot be opened -> can be opened"
                                                            : "can be opened -> cannot be opened"));
}

void DiffTray(const json &a, const json &b, Report &r) {
  auto &out = r.In("tray program and help viewer");
  DiffFields(a["tray"], b["tray"], "tray program ", {}, out);
  auto windows = [](const json &s) {
    std::vector<std::string> w;
    for (auto &x : s["helpWindows"]) w.push_back(Q(Str(x, "title")) + " (class " + Str(x, "class") + ")");
    return w;
  };
  ListDiff(windows(a), windows(b), "help viewer window ", out);
}

void DiffFaults(const json &a, const json &b, Report &r) {
  std::vector<std::string> fa, fb;
  for (auto &f : a["faults"]) fa.push_back(FaultText(f));
  for (auto &f : b["faults"]) fb.push_back(FaultText(f));
  ListDiff(fa, fb, "", r.In("faults"));
}

void DiffSystem(const json &a, const json &b, Report &r) {
  auto &out = r.In("system");
  auto change = [&](const std::string &label, const std::string &x, const std::string &y) {
    if (x != y) out.push_back("~ " + label + ": " + x + " -> " + y);
  };
  change("Windows", OsText(a["os"]), OsText(b["os"]));
  change("program", Str(a, "modulePath"), Str(b, "modulePath"));
  change("system directory", Str(a, "systemDir"), Str(b, "systemDir"));
  change("Shift key", a.value("shiftHeld", false) ? "held" : "up",
         b.value("shiftHeld", false) ? "held" : "up");
  change("disk", DiskText(a["diskFreeBytes"]), DiskText(b["diskFreeBytes"]));
  change("windows", a["windows"].dump(), b["windows"].dump());
}

// Whatever the parts above do not cover, by its place in the JSON form.
void DiffRest(const json &a, const json &b, const std::string &path, std::vector<std::string> &out) {
  if (a.is_object() && b.is_object()) {
    std::set<std::string> keys;
    for (auto &[k, v] : a.items()) keys.insert(k);
    for (auto &[k, v] : b.items()) keys.insert(k);
    for (auto &k : keys) {
      json va = a.contains(k) ? a[k] : json(nullptr), vb = b.contains(k) ? b[k] : json(nullptr);
      DiffRest(va, vb, path.empty() ? k : path + "/" + k, out);
    }
    return;
  }
  if (a != b) out.push_back("~ " + path + ": " + a.dump() + " -> " + b.dump());
}

Report Compare(json a, json b) {
  Report r;
  DiffPrinters(a, b, r);
  DiffMonitors(a, b, r);
  DiffDrivers(a, b, r);
  DiffFiles(a, b, r);
  DiffRegistry(a, b, r);
  DiffPending(a, b, r);
  DiffServices(a, b, r);
  DiffTray(a, b, r);
  DiffFaults(a, b, r);
  DiffSystem(a, b, r);
  for (json *s : {&a, &b}) {
    for (const char *k :
         {"clockMs", "registry", "holds", "services", "tray", "helpWindows", "faults", "files",
          "scmUnopenable", "modulePath", "systemDir", "os", "shiftHeld", "diskFreeBytes", "windows"})
      s->erase(k);
    for (const char *k : {"printers", "monitors", "drivers", "defaultPrinter"}) (*s)["spooler"].erase(k);
  }
  DiffRest(a, b, "", r.In("other"));
  return r;
}

void Print(const Report &r, std::ostream &o) {
  for (auto &g : r.groups) {
    if (g.lines.empty()) continue;
    o << g.title << "\n";
    for (auto &l : g.lines) o << "  " << l << "\n";
  }
}

std::string ClockText(const json &a, const json &b) {
  int64_t d = b.value("clockMs", static_cast<int64_t>(0)) - a.value("clockMs", static_cast<int64_t>(0));
  return "virtual clock " + std::string(d >= 0 ? "+" : "") + std::to_string(d) + " ms";
}

int Diff(const std::string &before, const std::string &after) {
  json a, b;
  std::string error;
  if (!LoadEither(before, &a, &error) || !LoadEither(after, &b, &error)) return Fail(error);
  Report r = Compare(a, b);
  if (r.Empty())
    std::cout << "no changes (" << ClockText(a, b) << ")\n";
  else {
    Print(r, std::cout);
    std::cout << "(" << ClockText(a, b) << ")\n";
  }
  return 0;
}

// ---------------------------------------------------------------------------
// new, apply, reboot
// ---------------------------------------------------------------------------

bool ParseBuild(const char *s, int *out) {
  char *end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != 0 || v < -1 || v > 65535) return false;
  *out = static_cast<int>(v);
  return true;
}

std::string BuildText(int build) {
  return build < 0 ? "no version" : "build " + std::to_string(build);
}

int New(const std::string &dir, int argc, char **argv) {
  winsim::NewMachineOptions opt;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto build = [&](int *out) {
      if (v == nullptr || !ParseBuild(v, out)) return false;
      ++i;
      return true;
    };
    if (a == "--no-components") {
      opt.componentFiles = false;
    } else if (a == "--no-tray") {
      opt.trayFile = false;
    } else if (a == "--installer-dir") {
      if (v == nullptr || std::string(v).size() < 4 || winsim::Lower(std::string(v).substr(0, 3)) != "c:\\")
        return Fail(
            "--installer-dir wants a directory on drive C:, e.g. \"C:\\Program Files\\Morvalente\\Drivers\"");
      opt.installerDir = v;
      while (opt.installerDir.size() > 3 && opt.installerDir.back() == '\\') opt.installerDir.pop_back();
      ++i;
    } else if (a == "--monitor-build") {
      if (!build(&opt.monitorBuild))
        return Fail(a + " wants a build 0 to 65535, or -1 for no version resource");
    } else if (a == "--driver-build") {
      if (!build(&opt.driverBuild))
        return Fail(a + " wants a build 0 to 65535, or -1 for no version resource");
    } else if (a == "--ui-build") {
      if (!build(&opt.uiBuild)) return Fail(a + " wants a build 0 to 65535, or -1 for no version resource");
    } else if (a == "--os") {
      unsigned major = 0, minor = 0, build = 0;
      char extra = 0;
      int n = v == nullptr ? 0 : std::sscanf(v, "%u.%u.%u%c", &major, &minor, &build, &extra);
      if (n != 2 && n != 3) return Fail("--os wants MAJOR.MINOR or MAJOR.MINOR.BUILD, e.g. 6.1");
      opt.osMajor = major;
      opt.osMinor = minor;
      opt.osBuild = n == 3 ? build : 0;
      ++i;
    } else {
      std::fprintf(stderr, "winsim: unknown option %s\n", a.c_str());
      return Usage();
    }
  }
  winsim::NewMachine(dir, opt);
  std::cout << "new machine in " << dir << ": Windows " << winsim::M().osMajor << "." << winsim::M().osMinor
            << " build " << winsim::M().osBuild << ", spooler running, no printers\n";
  if (opt.componentFiles)
    std::cout << "  component files in " << opt.installerDir << " (gwrmon64.dll "
              << BuildText(opt.monitorBuild) << ", gwrdrv64.dll " << BuildText(opt.driverBuild)
              << ", gwrui64.dll " << BuildText(opt.uiBuild) << ", gwrhelp.chm)\n";
  else
    std::cout << "  no component files in " << opt.installerDir << "\n";
  if (opt.trayFile) std::cout << "  tray program " << winsim::DefaultTrayPath(opt.installerDir) << "\n";
  return 0;
}

int Apply(const std::string &dir, const std::string &file) {
  if (!winsim::LoadMachine(dir)) return Fail("no machine in " + dir);
  std::string text, error;
  if (!ReadAll(file, &text)) return Fail("cannot read " + file);
  if (!winsim::ApplyJson(text, &error)) return Fail("cannot apply " + file + ": " + error);
  // What the next program finds at its start (the tray program's open file,
  // help window handles) is set up now, so that `show` sees it.
  winsim::BeginProcess(u"winsim.exe");
  winsim::SaveMachine();
  return 0;
}

int Reboot(const std::string &dir) {
  if (!winsim::LoadMachine(dir)) return Fail("no machine in " + dir);
  json before = FullState(dir);
  winsim::Reboot();
  winsim::BeginProcess(u"winsim.exe");
  winsim::SaveMachine();
  json after = FullState(dir);
  std::cout << "machine restarted\n";
  Print(Compare(before, after), std::cout);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && (std::string(argv[1]) == "help" || std::string(argv[1]) == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 3) return Usage();
  std::string cmd = argv[1];
  std::string dir = argv[2];
  if (cmd == "new") return New(dir, argc, argv);
  if (cmd == "show") return Show(dir, std::vector<std::string>(argv + 3, argv + argc));
  if (cmd == "apply") return argc == 4 ? Apply(dir, argv[3]) : Usage();
  if (cmd == "reboot") return argc == 3 ? Reboot(dir) : Usage();
  if (cmd == "diff") return argc == 4 ? Diff(dir, argv[3]) : Usage();
  return Usage();
}
