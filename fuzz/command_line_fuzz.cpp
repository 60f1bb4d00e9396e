// The process command line as arbitrary UTF-16 text: its split into
// arguments, the parent-window argument, and the dispatch of every command
// that is not an install or uninstall run (the queries, "removetray", words
// the program does not know).
//
// Input: the command line's UTF-16 units, little-endian.
#include <cstdint>
#include <string>

#include "app/dispatch.h"
#include "fuzz/fuzz_machine.h"

namespace {

using fuzzsupport::Expect;

std::string g_dir;

bool IsRunWord(const std::u16string &word) {
  static const char16_t *const runs[] = {u"in",        u"install", u"serverinstall",
                                         u"in_notray", u"un",      u"uninstall"};
  auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  for (const char16_t *run : runs) {
    std::u16string r(run);
    if (r.size() != word.size()) continue;
    bool same = true;
    for (size_t i = 0; i < r.size() && same; ++i) same = lower(word[i]) == r[i];
    if (same) return true;
  }
  return false;
}

// The parent window's value as the command line gives it: blanks, a sign,
// digits, clamped to 32 bits and widened with its sign.
uint64_t ExpectedParent(const std::u16string &text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(value)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_dir = fuzzsupport::NewFuzzMachine();
  // An installed product with its tray program running, and a few windows
  // the parent-window argument can name.
  winsim::BeginProcess(u"install.exe in");
  DispatchCommand(GetModuleHandleW(nullptr));
  winsim::M().windows = {1234, 2147483647, 0xFFFFFFFF80000000ull, 0xFFFFFFFFFFFFFFFFull};
  winsim::SaveMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::u16string commandLine = fuzzsupport::Utf16FromBytes(data, size);
  winsim::BeginProcess(commandLine);

  int argc = -1;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Expect(argv != nullptr, "the split failed");
  Expect(argc >= 1, "argument 0 is always there");
  Expect(argv[argc] == nullptr, "the array ends in a null");
  HWND parent = ParentWindowArgument(argc, argv);
  if (argc == 3) {
    uint64_t want = ExpectedParent(std::u16string(argv[2]));
    Expect(winsim::CallCount("IsWindow") == 1, "IsWindow asked once");
    Expect(winsim::P().journal.back().args == std::to_string(want),
           "parent value " + winsim::P().journal.back().args + ", expected " + std::to_string(want));
    bool known = false;
    for (uint64_t w : winsim::M().windows) known = known || w == want;
    Expect(reinterpret_cast<uint64_t>(parent) == (known ? want : 0), "parent kept only when it is a window");
  } else {
    Expect(parent == nullptr && winsim::CallCount("IsWindow") == 0, "no parent without exactly 3 arguments");
  }
  bool run = argc >= 2 && IsRunWord(std::u16string(argv[1]));
  LocalFree(argv);
  fuzzsupport::ExpectNoLeaks("CommandLineToArgvW");
  if (run) return 0;

  // The queries and "removetray" on the installed machine, afresh each time.
  winsim::LoadMachine(g_dir);
  const char kTray[] = "C:\\Program Files\\Morvalente\\mrvtray.exe";
  if (!winsim::FileExists(kTray)) winsim::WriteHostFile(kTray, "MZ tray");
  winsim::BeginProcess(commandLine);
  DWORD code = DispatchCommand(GetModuleHandleW(nullptr));
  Expect(code == 3 || code == 4 || code == 6 || code == 102 || code == 103 || code == 200,
         "exit code " + std::to_string(code) + " of a query");
  Expect(winsim::P().dialogs.empty(), "a query shows no dialog");
  fuzzsupport::ExpectNoLeaks("DispatchCommand");
  return 0;
}
