#include "support/fixture.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace mrvtest {

std::string MakeTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "mrvtest-XXXXXX").string();
  char *made = mkdtemp(tmpl.data());
  if (made == nullptr) std::abort();
  return tmpl;
}

void RemoveTree(const std::string &dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

std::string U8(const char16_t *s) {
  return winsim::ToUtf8(s);
}

std::vector<uint8_t> WideBytes(const std::u16string &s) {
  std::vector<uint8_t> d(s.size() * 2);
  if (!d.empty()) std::memcpy(d.data(), s.data(), d.size());
  return d;
}

void MachineTest::SetUp() {
  dir_ = MakeTempDir();
  winsim::NewMachine(dir_, options_);
  Begin();
}

void MachineTest::Begin(const std::u16string &commandLine) {
  winsim::BeginProcess(commandLine);
}

void MachineTest::TearDown() {
  std::vector<std::string> leaks = winsim::Leaks();
  std::string all;
  for (auto &l : leaks) all += l + "\n";
  EXPECT_TRUE(leaks.empty()) << "left behind by the run:\n" << all;
  RemoveTree(dir_);
}

}  // namespace mrvtest
