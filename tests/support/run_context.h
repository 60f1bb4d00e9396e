// A fresh machine with a run context of the installer: the context is empty
// at the start of a test and freed before the machine's blocks and handles
// are checked.
#pragma once

#include <string>

#include "app/context.h"
#include "app/dispatch.h"
#include "common/counted_string.h"
#include "support/fixture.h"

namespace mrvtest {

class ContextTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ctx_ = InstallContext{};
  }
  void TearDown() override {
    FreeContext(&ctx_);
    MachineTest::TearDown();
  }

  // The run log so far.
  std::string Log() const { return U8(CountedStringText(ctx_.Log)); }

  // A run's context on the machine as prepared (64-bit), its opening lines
  // and their errors dropped.
  void MakeContext() {
    ProgramInstance = GetModuleHandleW(nullptr);
    InitContext(&ctx_, RunFlag64Bit);
    FreeCountedString(&ctx_.Log);
    ctx_.ErrorCount = 0;
  }

  // The machine's own text for a code, without its line end, as an error
  // line shows it; "" for a code the machine has no text for. Asked of the
  // machine directly, not through the installer's own lookup.
  static std::string MachineText(DWORD code) {
    LPWSTR text = nullptr;
    DWORD n = FormatMessageW(0x1300, nullptr, code, 1033, (LPWSTR)&text, 0, nullptr);
    std::string s = n ? U8(text) : std::string();
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
  }

  InstallContext ctx_{};
};

}  // namespace mrvtest
