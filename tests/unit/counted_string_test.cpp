// CountedString: block layout, capacity steps, reallocation only when the
// capacity changes, and the operations built on the length change.
#include "common/counted_string.h"

#include <cstring>
#include <string>

#include "support/fixture.h"

namespace {

using mrvtest::MachineTest;

class CountedStringTest : public MachineTest {
 protected:
  void TearDown() override {
    FreeCountedString(&s_);
    FreeCountedString(&other_);
    MachineTest::TearDown();
  }

  // Size argument of the last journal entry of `call`, or -1.
  static long long LastSize(const std::string &call) {
    long long size = -1;
    for (auto &e : winsim::P().journal)
      if (e.call == call) size = std::stoll(e.args);
    return size;
  }

  static std::u16string Repeat(char16_t c, size_t n) { return std::u16string(n, c); }

  CountedString s_ = nullptr;
  CountedString other_ = nullptr;
};

struct CapacityRow {
  const char *name;
  uint64_t length;
  uint64_t capacity;  // characters; 0 = no block
};

TEST_F(CountedStringTest, BlockSizeFollowsTheCapacityOfTheLength) {
  const CapacityRow rows[] = {
      {"empty", 0, 0},        {"one", 1, 32},          {"thirty-one", 31, 32},
      {"thirty-two", 32, 64}, {"sixty-three", 63, 64}, {"sixty-four", 64, 96},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::BeginProcess(u"install.exe");
    CountedString s = nullptr;
    std::u16string text = Repeat(u'a', row.length);
    ASSERT_TRUE(AssignCountedString(&s, text.c_str()));
    EXPECT_EQ(CountedStringLength(s), row.length);
    if (row.capacity == 0) {
      EXPECT_EQ(s, nullptr);
      EXPECT_EQ(winsim::CallCount("HeapAlloc"), 0u);
    } else {
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(CountedStringCapacity(row.length), row.capacity);
      EXPECT_EQ(LastSize("HeapAlloc"), (long long)(row.capacity * 2 + 8));
      // The block: a 64-bit count, the characters, a zero.
      uint64_t count = 0;
      std::memcpy(&count, s, sizeof count);
      EXPECT_EQ(count, row.length);
      const char16_t *chars = reinterpret_cast<const char16_t *>(reinterpret_cast<const char *>(s) + 8);
      EXPECT_EQ(std::u16string(chars, row.length), text);
      EXPECT_EQ(chars[row.length], 0);
      EXPECT_EQ(CountedStringText(s), chars);
    }
    FreeCountedString(&s);
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

TEST_F(CountedStringTest, GrowingReallocatesOnlyAcrossACapacityStep) {
  ASSERT_TRUE(AppendCountedString(&s_, u"a"));
  for (int i = 2; i <= 31; ++i) ASSERT_TRUE(AppendCountedString(&s_, u"b"));
  EXPECT_EQ(winsim::CallCount("HeapAlloc"), 1u);
  EXPECT_EQ(winsim::CallCount("HeapReAlloc"), 0u);
  ASSERT_TRUE(AppendCountedString(&s_, u"c"));  // 32 characters need 33 units
  EXPECT_EQ(winsim::CallCount("HeapReAlloc"), 1u);
  EXPECT_EQ(LastSize("HeapReAlloc"), 64 * 2 + 8);
  // The characters in front survive the move.
  EXPECT_EQ(std::u16string(CountedStringText(s_)), u"a" + Repeat(u'b', 30) + u"c");
}

TEST_F(CountedStringTest, ShrinkingAcrossAStepReallocatesAndZeroFrees) {
  std::u16string text = Repeat(u'x', 64);
  ASSERT_TRUE(AssignCountedString(&s_, text.c_str()));
  ASSERT_TRUE(SetCountedStringLength(&s_, 63));
  EXPECT_EQ(winsim::CallCount("HeapReAlloc"), 1u);
  EXPECT_EQ(LastSize("HeapReAlloc"), 64 * 2 + 8);
  EXPECT_EQ(std::u16string(CountedStringText(s_)), Repeat(u'x', 63));
  ASSERT_TRUE(SetCountedStringLength(&s_, 40));  // same capacity: no call
  EXPECT_EQ(winsim::CallCount("HeapReAlloc"), 1u);
  EXPECT_EQ(std::u16string(CountedStringText(s_)), Repeat(u'x', 40));
  ASSERT_TRUE(SetCountedStringLength(&s_, 0));
  EXPECT_EQ(s_, nullptr);
  EXPECT_TRUE(winsim::Leaks().empty());
  EXPECT_EQ(std::u16string(CountedStringText(s_)), u"");
}

TEST_F(CountedStringTest, AssignAndAppendEdgeCases) {
  ASSERT_TRUE(AssignCountedString(&s_, u"C:\\Windows"));
  ASSERT_TRUE(AppendCountedString(&s_, u""));
  ASSERT_TRUE(AppendCountedString(&s_, nullptr));
  EXPECT_EQ(std::u16string(CountedStringText(s_)), u"C:\\Windows");
  ASSERT_TRUE(AppendCountedString(&s_, u"\\System32"));
  EXPECT_EQ(std::u16string(CountedStringText(s_)), u"C:\\Windows\\System32");

  // A tail of the string itself, assigned or appended.
  ASSERT_TRUE(AssignCountedString(&s_, CountedStringText(s_) + 3));
  EXPECT_EQ(std::u16string(CountedStringText(s_)), u"Windows\\System32");
  std::u16string longText = Repeat(u'q', 30);
  ASSERT_TRUE(AssignCountedString(&s_, longText.c_str()));
  ASSERT_TRUE(AppendCountedString(&s_, CountedStringText(s_)));  // grows across a step
  EXPECT_EQ(std::u16string(CountedStringText(s_)), Repeat(u'q', 60));

  ASSERT_TRUE(AssignCountedString(&s_, u""));
  EXPECT_EQ(s_, nullptr);
}

TEST_F(CountedStringTest, RefusedMemoryLeavesTheStringAsItWas) {
  ASSERT_TRUE(AssignCountedString(&s_, u"abc"));
  winsim::AddFault("HeapReAlloc", ERROR_NOT_ENOUGH_MEMORY);
  std::u16string tail = Repeat(u'z', 40);
  EXPECT_FALSE(AppendCountedString(&s_, tail.c_str()));
  EXPECT_EQ(std::u16string(CountedStringText(s_)), u"abc");
  EXPECT_EQ(CountedStringLength(s_), 3u);

  winsim::AddFault("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(AssignCountedString(&other_, u"def"));
  EXPECT_EQ(other_, nullptr);
}

TEST_F(CountedStringTest, FromAnsiUsesTheAnsiCodePage) {
  struct Row {
    const char *name;
    const char *ansi;
    std::u16string expected;  // empty: null handle
  } rows[] = {
      {"plain", "Morvalente", u"Morvalente"},
      {"accented", "caf\xe9", u"caf\u00e9"},
      {"euro sign", "\x80 5", u"\u20ac 5"},
      {"empty", "", u""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    CountedString s = CountedStringFromAnsi(row.ansi);
    if (row.expected.empty()) {
      EXPECT_EQ(s, nullptr);
    } else {
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(CountedStringLength(s), row.expected.size());
      EXPECT_EQ(std::u16string(CountedStringText(s)), row.expected);
    }
    FreeCountedString(&s);
  }
  winsim::AddFault("MultiByteToWideChar", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CountedStringFromAnsi("abc"), nullptr);
}

TEST_F(CountedStringTest, DirectoryPart) {
  struct Row {
    const char *name;
    const char16_t *path;
    std::u16string expected;  // empty: null handle
  } rows[] = {
      {"backslashes", u"C:\\Program Files\\Morvalente\\install.exe", u"C:\\Program Files\\Morvalente"},
      {"forward slashes", u"C:/tools/bin/install.exe", u"C:/tools/bin"},
      {"backslash wins over a later slash", u"a\\b/c", u"a"},
      {"trailing backslash", u"C:\\dir\\", u"C:\\dir"},
      {"drive root", u"C:\\install.exe", u"C:"},
      {"no separator", u"install.exe", u""},
      {"drive and name only", u"C:install.exe", u""},
      {"separator at position 0", u"\\install.exe", u""},
      {"slash at position 0", u"/install.exe", u""},
      {"empty", u"", u""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    CountedString dir = CountedStringDirectory(row.path);
    if (row.expected.empty()) {
      EXPECT_EQ(dir, nullptr);
    } else {
      ASSERT_NE(dir, nullptr);
      EXPECT_EQ(std::u16string(CountedStringText(dir)), row.expected);
    }
    FreeCountedString(&dir);
  }
}

}  // namespace
