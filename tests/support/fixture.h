// Test fixtures over winsim: every test gets a fresh simulated machine in a
// temporary directory and ends with the process's blocks and handles checked.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "winsim/winsim.h"

namespace mrvtest {

// A fresh machine per test (spooler running, the product's component files in
// the installer's directory, the tray program one directory up). TearDown
// fails the test when a block or a handle of the process is left.
class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts a new process with this command line (as the installer would see it).
  void Begin(const std::u16string &commandLine = u"install.exe");

  std::string dir_;
  winsim::NewMachineOptions options_;
};

// A fresh temporary directory, removed by the caller.
std::string MakeTempDir();
void RemoveTree(const std::string &dir);

// UTF-16 text of a wide literal or buffer as UTF-8, for assertions.
std::string U8(const char16_t *s);

// The bytes of UTF-16 text as the registry stores them (no zero added).
std::vector<uint8_t> WideBytes(const std::u16string &s);

}  // namespace mrvtest
