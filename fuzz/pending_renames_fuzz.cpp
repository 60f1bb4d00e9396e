// The system's pending file operations ("PendingFileRenameOperations") as
// arbitrary bytes of any registry type: reading and sweeping them, the
// "onInit" check over them, and withdrawing deletions from them.
//
// Input: one byte that picks the value's type and the path to withdraw,
// then the value's data.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "sys/pending_renames.h"

namespace {

using fuzzsupport::Expect;

const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kValue[] = "PendingFileRenameOperations";
const char *const kFiles[] = {"C:\\Windows\\System32\\gwrmon64.dll",
                              "C:\\Program Files\\Morvalente\\Drivers\\gwrdrv64.dll",
                              "C:\\Windows\\Temp\\old.tmp"};
const DWORD kTypes[] = {REG_MULTI_SZ,  REG_SZ,    REG_BINARY, REG_NONE,
                        REG_EXPAND_SZ, REG_DWORD, 12345,      REG_MULTI_SZ};

std::u16string Strip(const std::u16string &s) {
  return s.rfind(u"\\??\\", 0) == 0 ? s.substr(4) : s;
}

bool EqualsIgnoringAsciiCase(const std::u16string &a, const std::u16string &b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// The strings the reader takes: each starts before the data's last unit and
// ends at a zero inside the data.
std::vector<std::u16string> ReaderStrings(const std::u16string &text) {
  std::vector<std::u16string> out;
  size_t limit = text.empty() ? 0 : text.size() - 1;
  for (size_t pos = 0; pos < limit;) {
    size_t zero = text.find(u'\0', pos);
    if (zero == std::u16string::npos) break;
    out.push_back(text.substr(pos, zero - pos));
    pos = zero + 1;
  }
  return out;
}

struct Withdrawal {
  DWORD withdrawn = 0;
  bool unchanged = true;
  bool deleted = false;
  std::u16string data;  // the new data when written
};

// What withdrawing `path` must do to the value: the pairs the reader takes
// (an empty existing name included); deletions of the path go, every other
// pair stays in its order, and whatever follows the last pair stays as it
// stands; data with an odd byte count or a string without its zero stays
// as it is.
Withdrawal ExpectedWithdrawal(const std::vector<uint8_t> &bytes, const std::u16string &path) {
  Withdrawal w;
  if (path.empty() || bytes.size() < 2 || bytes.size() % 2 != 0) return w;
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(&text[0], bytes.data(), bytes.size());
  size_t limit = text.size() - 1;
  std::u16string kept;
  DWORD withdrawn = 0;
  size_t pos = 0;
  while (pos < limit) {
    size_t fromEnd = text.find(u'\0', pos);
    if (fromEnd == std::u16string::npos) return w;
    if (fromEnd + 1 >= limit) break;
    size_t toEnd = text.find(u'\0', fromEnd + 1);
    if (toEnd == std::u16string::npos) return w;
    std::u16string from = text.substr(pos, fromEnd - pos);
    bool deletion = toEnd == fromEnd + 1;
    if (deletion && EqualsIgnoringAsciiCase(Strip(from), path))
      ++withdrawn;
    else
      kept += text.substr(pos, toEnd + 1 - pos);
    pos = toEnd + 1;
  }
  if (withdrawn == 0) return w;
  std::u16string rest = text.substr(pos);
  w.withdrawn = withdrawn;
  w.unchanged = false;
  w.deleted = kept.empty() && rest.find_first_not_of(u'\0') == std::u16string::npos;
  w.data = kept + (rest.empty() ? std::u16string(1, u'\0') : rest);
  return w;
}

// Every file the run deleted was named by a full path: nothing is taken
// from the current directory.
void ExpectFullPaths(const char *where) {
  for (const auto &e : winsim::P().journal) {
    if (e.call != "DeleteFileW") continue;
    const std::string &p = e.args;
    bool full = p.size() >= 3 && ((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z') && p[1] == ':' &&
                (p[2] == '\\' || p[2] == '/');
    Expect(full, std::string(where) + ": " + e.call + "(" + p + ")");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::NewFuzzMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  winsim::BeginProcess(u"install.exe onInit");
  for (const char *f : kFiles)
    if (!winsim::FileExists(f)) winsim::WriteHostFile(f, "MZ");
  uint8_t selector = size > 0 ? data[0] : 0;
  std::vector<uint8_t> bytes(size > 0 ? data + 1 : data, data + size);
  winsim::SetRegRaw(kSessionManager, kValue, kTypes[selector & 7], bytes);

  std::u16string text(bytes.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(&text[0], bytes.data(), text.size() * 2);
  std::vector<std::u16string> strings = ReaderStrings(text);
  size_t pairs = strings.size() / 2;

  {
    PendingRenameList list = ReadPendingRenames();
    Expect(list.PairCount == static_cast<LONG>(pairs),
           "pair count " + std::to_string(list.PairCount) + ", the data holds " + std::to_string(pairs));
    std::vector<bool> existed(2 * pairs);
    for (size_t i = 0; i < 2 * pairs; ++i) {
      const WCHAR *name = list.Names[i];
      Expect((name == nullptr) == strings[i].empty(), "name " + std::to_string(i) + " present or not");
      if (name != nullptr)
        Expect(std::u16string(name) == strings[i], "name " + std::to_string(i) + " copied");
      Expect(list.Exists[i] == 0 || (list.Exists[i] == 1 && name != nullptr), "exists flag");
      existed[i] = list.Exists[i] == 1;
    }
    SweepPendingDeletes(&list);
    for (size_t k = 0; k < pairs; ++k) {
      bool deletion = list.Names[2 * k + 1] == nullptr;
      if (!deletion || !existed[2 * k]) {
        Expect(list.Exists[2 * k] == (existed[2 * k] ? 1 : 0), "a flag the sweep must not touch");
      } else if (list.Exists[2 * k] == 0) {
        std::string path = winsim::ToUtf8(Strip(strings[2 * k]));
        Expect(!winsim::FileExists(path), "a flag cleared for a file that is still there: " + path);
      }
    }
    FreePendingRenames(&list);
    Expect(list.PairCount == 0 && list.Names == nullptr && list.Exists == nullptr, "freed list is empty");
  }
  fuzzsupport::ExpectNoLeaks("ReadPendingRenames and SweepPendingDeletes");
  ExpectFullPaths("ReadPendingRenames and SweepPendingDeletes");

  // The sweep may have deleted files: put them back, and the value as it was.
  for (const char *f : kFiles)
    if (!winsim::FileExists(f)) winsim::WriteHostFile(f, "MZ");
  winsim::SetRegRaw(kSessionManager, kValue, kTypes[selector & 7], bytes);
  CheckPendingComponentFiles();
  fuzzsupport::ExpectNoLeaks("CheckPendingComponentFiles");
  ExpectFullPaths("CheckPendingComponentFiles");

  // Withdraw either a path named in the data or the monitor file's.
  winsim::SetRegRaw(kSessionManager, kValue, kTypes[selector & 7], bytes);
  std::u16string path =
      (selector & 0x80) != 0 && !strings.empty() ? Strip(strings[0]) : u"C:\\Windows\\System32\\gwrmon64.dll";
  Withdrawal want = ExpectedWithdrawal(bytes, path);
  DWORD got = WithdrawPendingDeletes(path.c_str());
  Expect(got == want.withdrawn,
         "withdrew " + std::to_string(got) + ", expected " + std::to_string(want.withdrawn));
  const winsim::RegValue *after = winsim::GetRegValue(kSessionManager, kValue);
  if (want.unchanged) {
    Expect(after != nullptr && after->data == bytes && after->type == kTypes[selector & 7],
           "the value must stay as it was");
  } else if (want.deleted) {
    Expect(after == nullptr, "a value without pairs left is deleted");
  } else {
    std::vector<uint8_t> expected(want.data.size() * 2);
    std::memcpy(expected.data(), want.data.data(), expected.size());
    Expect(after != nullptr && after->data == expected && after->type == REG_MULTI_SZ,
           "the other pairs stay, in their order");
  }
  fuzzsupport::ExpectNoLeaks("WithdrawPendingDeletes");
  return 0;
}
