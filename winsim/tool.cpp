// winsim: create, show, change, restart and compare simulated machines.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "winsim/winsim.h"

using nlohmann::json;

namespace {

const char kUsage[] =
    "usage:\n"
    "  winsim new DIR [--installer-dir PATH] [--monitor-build N] [--driver-build N] [--ui-build N]\n"
    "                 [--os MAJOR.MINOR] [--no-components] [--no-tray]\n"
    "  winsim show DIR [printers|monitors|drivers|services|tray|faults|files|registry [KEY]]\n"
    "  winsim apply DIR FILE        (FILE may be - for standard input)\n"
    "  winsim reboot DIR\n"
    "  winsim diff BEFORE AFTER     (each a machine directory or a saved `show` output)\n";

int Fail(const std::string &msg) {
  std::fprintf(stderr, "winsim: %s\n", msg.c_str());
  return 2;
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

// Files of drive C: as Windows paths with their sizes.
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
    if (S_ISDIR(st.st_mode))
      ListFiles(h, w, out);
    else
      out[w] = static_cast<uint64_t>(st.st_size);
  }
}

json FullState(const std::string &dir) {
  json j = json::parse(winsim::ToJson(winsim::M()));
  json files = json::object();
  ListFiles(dir + "/c", "C:", files);
  j["files"] = files;
  return j;
}

// Loads a machine directory or a JSON file saved from `show`.
bool LoadEither(const std::string &path, json *out) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    if (!winsim::LoadMachine(path)) return false;
    *out = FullState(path);
    return true;
  }
  std::string text;
  if (!ReadAll(path, &text)) return false;
  *out = json::parse(text, nullptr, false);
  return !out->is_discarded();
}

void Diff(const json &a, const json &b, const std::string &path, int *changes) {
  if (a.is_object() && b.is_object()) {
    for (auto &[k, v] : a.items()) {
      if (!b.contains(k))
        std::cout << "- " << path << "/" << k << ": " << v.dump() << "\n", ++*changes;
      else
        Diff(v, b[k], path + "/" + k, changes);
    }
    for (auto &[k, v] : b.items())
      if (!a.contains(k)) std::cout << "+ " << path << "/" << k << ": " << v.dump() << "\n", ++*changes;
    return;
  }
  if (a.is_array() && b.is_array()) {
    // Arrays of named records are compared by name; others by position.
    auto named = [](const json &arr) {
      for (auto &x : arr)
        if (!x.is_object() || !(x.contains("name") || x.contains("path"))) return false;
      return true;
    };
    if (named(a) && named(b)) {
      auto key = [](const json &x) { return x.contains("name") ? x["name"].dump() : x["path"].dump(); };
      for (auto &x : a) {
        const json *match = nullptr;
        for (auto &y : b)
          if (key(y) == key(x)) match = &y;
        if (match == nullptr)
          std::cout << "- " << path << "[" << key(x) << "]: " << x.dump() << "\n", ++*changes;
        else
          Diff(x, *match, path + "[" + key(x) + "]", changes);
      }
      for (auto &y : b) {
        bool found = false;
        for (auto &x : a) found = found || key(x) == key(y);
        if (!found) std::cout << "+ " << path << "[" << key(y) << "]: " << y.dump() << "\n", ++*changes;
      }
      return;
    }
  }
  if (a != b) {
    std::cout << "~ " << path << ": " << a.dump() << " -> " << b.dump() << "\n";
    ++*changes;
  }
}

int ParseInt(const char *s, int *out) {
  char *end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != 0) return 0;
  *out = static_cast<int>(v);
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string cmd = argv[1];
  std::string dir = argv[2];

  if (cmd == "new") {
    winsim::NewMachineOptions opt;
    for (int i = 3; i < argc; ++i) {
      std::string a = argv[i];
      auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
      const char *v = nullptr;
      if (a == "--no-components") {
        opt.componentFiles = false;
      } else if (a == "--no-tray") {
        opt.trayFile = false;
      } else if (a == "--installer-dir" && (v = next())) {
        opt.installerDir = v;
      } else if (a == "--monitor-build" && (v = next()) && ParseInt(v, &opt.monitorBuild)) {
      } else if (a == "--driver-build" && (v = next()) && ParseInt(v, &opt.driverBuild)) {
      } else if (a == "--ui-build" && (v = next()) && ParseInt(v, &opt.uiBuild)) {
      } else if (a == "--os" && (v = next())) {
        unsigned maj = 0, min = 0;
        if (std::sscanf(v, "%u.%u", &maj, &min) < 1) return Fail("--os wants MAJOR.MINOR");
        opt.osMajor = maj;
        opt.osMinor = min;
      } else {
        return Fail("unknown or incomplete option " + a);
      }
    }
    winsim::NewMachine(dir, opt);
    std::cout << "new machine in " << dir << "\n";
    return 0;
  }

  if (cmd == "diff") {
    if (argc != 4) return Fail("diff wants BEFORE and AFTER");
    json a, b;
    if (!LoadEither(dir, &a)) return Fail("cannot read " + dir);
    if (!LoadEither(argv[3], &b)) return Fail(std::string("cannot read ") + argv[3]);
    a.erase("clockMs");
    b.erase("clockMs");
    int changes = 0;
    Diff(a, b, "", &changes);
    if (changes == 0) std::cout << "no changes\n";
    return 0;
  }

  if (!winsim::LoadMachine(dir)) return Fail("no machine in " + dir);

  if (cmd == "show") {
    json j = FullState(dir);
    if (argc >= 4) {
      std::string part = argv[3];
      json out;
      if (part == "printers" || part == "monitors" || part == "drivers")
        out = j["spooler"][part];
      else if (part == "services" || part == "tray" || part == "faults" || part == "files")
        out = j[part];
      else if (part == "registry" && argc >= 5) {
        out = json::array();
        std::string want = winsim::Lower(argv[4]);
        for (auto &k : j["registry"])
          if (winsim::Lower(k["path"].get<std::string>()).rfind(want, 0) == 0) out.push_back(k);
      } else if (part == "registry")
        out = j["registry"];
      else
        return Fail("unknown part " + part);
      if (part == "printers")
        std::cout << "default printer: \"" << j["spooler"]["defaultPrinter"].get<std::string>() << "\"\n";
      std::cout << out.dump(2) << "\n";
      return 0;
    }
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  if (cmd == "apply") {
    if (argc != 4) return Fail("apply wants a FILE");
    std::string text;
    if (!ReadAll(argv[3], &text)) return Fail(std::string("cannot read ") + argv[3]);
    std::string error;
    if (!winsim::ApplyJson(text, &error)) return Fail("cannot apply: " + error);
    winsim::SaveMachine();
    return 0;
  }
  if (cmd == "reboot") {
    winsim::Reboot();
    winsim::SaveMachine();
    std::cout << "machine restarted\n";
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}
