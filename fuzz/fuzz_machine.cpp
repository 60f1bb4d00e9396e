#include "fuzz/fuzz_machine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzzsupport {

namespace {

std::string g_dir;

void RemoveDir() {
  std::error_code ec;
  if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ec);
}

}  // namespace

std::string NewFuzzMachine(const winsim::NewMachineOptions &options) {
  if (g_dir.empty()) {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec)
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
    std::string tmpl = base + "/mrvfuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    g_dir = tmpl;
    std::atexit(RemoveDir);
  }
  winsim::NewMachine(g_dir, options);
  return g_dir;
}

void Expect(bool ok, const std::string &what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz: broken: %s\n", what.c_str());
  std::abort();
}

void ExpectNoLeaks(const char *where) {
  std::vector<std::string> leaks = winsim::Leaks();
  if (leaks.empty()) return;
  std::string all;
  for (auto &l : leaks) all += "\n  " + l;
  Expect(false, std::string(where) + " left behind:" + all);
}

std::u16string Utf16FromBytes(const uint8_t *data, size_t size) {
  std::u16string out;
  for (size_t i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    out += c;
  }
  return out;
}

}  // namespace fuzzsupport
