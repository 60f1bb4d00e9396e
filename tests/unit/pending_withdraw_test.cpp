// Withdrawing the pending deletions of files an install has placed again.
#include <cstring>
#include <string>
#include <vector>

#include "support/fixture.h"
#include "sys/pending_renames.h"

namespace {

using mrvtest::MachineTest;

const char kKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kValue[] = "PendingFileRenameOperations";

std::vector<uint8_t> Bytes(const std::u16string &units) {
  std::vector<uint8_t> d(units.size() * 2);
  std::memcpy(d.data(), units.data(), d.size());
  return d;
}

// Strings joined with their zeros, then the list's end.
std::u16string List(const std::vector<std::u16string> &strings) {
  std::u16string all;
  for (auto &s : strings) all += s + u'\0';
  return all + u'\0';
}

struct Row {
  const char *name;
  bool present;
  std::vector<uint8_t> before;
  DWORD withdrawn;
  bool valueRemains;
  std::vector<uint8_t> after;  // when the value remains
};

class WithdrawTest : public MachineTest {};

TEST_F(WithdrawTest, TakesBackExactlyTheDeletionsOfThePath) {
  const std::u16string mon = u"C:\\Windows\\System32\\gwrmon64.dll";
  const std::u16string other = u"\\??\\C:\\Temp\\old.dll";
  const std::vector<Row> rows = {
      {"no value", false, {}, 0, false, {}},
      {"one deletion, prefix and other case",
       true,
       Bytes(List({u"\\??\\c:\\WINDOWS\\system32\\GWRMON64.DLL", u""})),
       1,
       false,
       {}},
      {"deletion of another file stays", true, Bytes(List({other, u""})), 0, true, Bytes(List({other, u""}))},
      {"a rename of the file stays", true, Bytes(List({u"\\??\\" + mon, u"\\??\\C:\\x.dll"})), 0, true,
       Bytes(List({u"\\??\\" + mon, u"\\??\\C:\\x.dll"}))},
      {"two deletions among others, order kept", true,
       Bytes(List({other, u"", u"\\??\\" + mon, u"", u"\\??\\C:\\a", u"\\??\\C:\\b", mon, u""})), 2, true,
       Bytes(List({other, u"", u"\\??\\C:\\a", u"\\??\\C:\\b"}))},
      {"a last string without its zero: untouched", true,
       Bytes(u"\\??\\" + mon + u'\0' + u'\0' + u"\\??\\C:\\x"), 0, true,
       Bytes(u"\\??\\" + mon + u'\0' + u'\0' + u"\\??\\C:\\x")},
      {"an odd byte count: untouched", true, {'a', 0, 0}, 0, true, {'a', 0, 0}},
      {"pairs after an empty existing name stay, deletions among them withdrawn", true,
       Bytes(List({u"\\??\\" + mon, u"", u"", u"\\??\\C:\\y", other, u"", mon, u""})), 2, true,
       Bytes(List({u"", u"\\??\\C:\\y", other, u""}))},
      {"a string without a partner after the pairs stays", true, Bytes(List({mon, u"", other})), 1, true,
       Bytes(List({other}))},
      {"the only pair withdrawn, an extra zero at the end: value deleted",
       true,
       Bytes(List({mon, u""}) + u'\0'),
       1,
       false,
       {}},
      {"a longer name that ends in the path stays", true, Bytes(List({u"\\??\\D:\\" + mon, u""})), 0, true,
       Bytes(List({u"\\??\\D:\\" + mon, u""}))},
  };
  for (const Row &row : rows) {
    if (winsim::RegKey *k = winsim::FindKey(kKey)) k->values.clear();
    if (row.present) winsim::SetRegRaw(kKey, kValue, REG_MULTI_SZ, row.before);
    EXPECT_EQ(WithdrawPendingDeletes(mon.c_str()), row.withdrawn) << row.name;
    const winsim::RegValue *v = winsim::GetRegValue(kKey, kValue);
    ASSERT_EQ(v != nullptr, row.valueRemains) << row.name;
    if (v != nullptr) {
      EXPECT_EQ(v->data, row.after) << row.name;
    }
    EXPECT_TRUE(winsim::Leaks().empty()) << row.name;
  }
}

}  // namespace
