// The installer's formatter: conversions, bounds and cutting.
#include "common/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "common/text.h"

namespace {

TEST(FormatText, Conversions) {
  struct Row {
    const char *name;
    std::u16string expected;
    std::u16string actual;
  };
  auto f = [](const char16_t *format, auto... args) {
    WCHAR buffer[128];
    FormatText(buffer, 128, format, args...);
    return std::u16string(buffer);
  };
  const Row rows[] = {
      {"decimal zero", u"0", f(u"%d", 0)},
      {"decimal negative", u"-42", f(u"%d", -42)},
      {"decimal minimum", u"-2147483648", f(u"%d", INT_MIN)},
      {"decimal maximum", u"2147483647", f(u"%d", INT_MAX)},
      {"DWORD as decimal", u"-1", f(u"%d", (DWORD)0xFFFFFFFF)},
      {"hex lower case without prefix or zeros", u"426", f(u"%x", 1062)},
      {"hex all bits", u"ffffffff", f(u"%x", (DWORD)0xFFFFFFFF)},
      {"hex zero", u"0", f(u"%x", 0)},
      {"error 5 format", u"ControlService failed with code 1062 (0x426)",
       f(u"ControlService failed with code %d (0x%x)", 1062, 1062)},
      {"string", u"[Morvalente:]", f(u"[%s]", u"Morvalente:")},
      {"null string is empty", u"<>", f(u"<%s>", (const char16_t *)nullptr)},
      {"percent sign", u"100%", f(u"100%%")},
      {"other sequences stay text", u"%q %", f(u"%q %")},
      {"build line", u"Morvalente 2563", f(u"Morvalente %d", 2563)},
  };
  for (const auto &row : rows) EXPECT_EQ(row.actual, row.expected) << row.name;
}

TEST(FormatText, NeverWritesPastTheBufferAndCutsAtTheLimit) {
  struct Row {
    const char *name;
    DWORD capacity;
    const char16_t *format;
    const char16_t *arg;
    std::u16string expected;
    bool cut;
  } rows[] = {
      {"fits exactly", 6, u"ab%s", u"cde", u"abcde", false},
      {"one unit too long", 6, u"ab%s", u"cdef", u"abcde", true},
      {"cut inside the format", 4, u"abcdef", u"", u"abc", true},
      {"capacity one", 1, u"abc", u"", u"", true},
      {"surrogate pair not split", 4, u"ab%s", u"\U0001F5A8", u"ab", true},
      {"surrogate pair that fits", 5, u"ab%s", u"\U0001F5A8", u"ab\U0001F5A8", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    WCHAR buffer[16];
    for (auto &c : buffer) c = u'#';
    FormatResult r = FormatText(buffer, row.capacity, row.format, row.arg);
    EXPECT_EQ(std::u16string(buffer), row.expected);
    EXPECT_EQ(r.Length, row.expected.size());
    EXPECT_EQ(r.Cut != 0, row.cut);
    for (DWORD i = row.capacity; i < 16; ++i) EXPECT_EQ(buffer[i], u'#') << "unit " << i;
  }
  WCHAR untouched = u'#';
  FormatResult none = FormatText(&untouched, 0, u"abc");
  EXPECT_EQ(untouched, u'#');
  EXPECT_EQ(none.Length, 0u);
  EXPECT_TRUE(none.Cut);
}

TEST(TextHelpers, Comparisons) {
  struct Row {
    const char *name;
    const char16_t *a;
    const char16_t *b;
    bool exact;
    bool ignoringCase;
  } rows[] = {
      {"same", u"Morvalente:", u"Morvalente:", true, true},
      {"case differs", u"InStAll", u"install", false, true},
      {"prefix", u"Morvalente", u"Morvalente:", false, false},
      {"longer", u"Morvalente printer 2", u"Morvalente printer", false, false},
      {"non-ASCII letters are not folded", u"\u00c9", u"\u00e9", false, false},
      {"null against empty", nullptr, u"", true, true},
      {"null against text", nullptr, u"a", false, false},
      {"underscore is not a letter", u"in_notray", u"IN_NOTRAY", false, true},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(TextEquals(row.a, row.b) != 0, row.exact) << row.name;
    EXPECT_EQ(TextEquals(row.b, row.a) != 0, row.exact) << row.name;
    EXPECT_EQ(TextEqualsIgnoreCase(row.a, row.b) != 0, row.ignoringCase) << row.name;
  }
}

TEST(TextHelpers, CopyFailsWhole) {
  WCHAR buffer[6];
  EXPECT_TRUE(CopyText(buffer, 6, u"abcde"));
  EXPECT_EQ(std::u16string(buffer), u"abcde");
  EXPECT_FALSE(CopyText(buffer, 6, u"abcdef"));
  EXPECT_EQ(std::u16string(buffer), u"");
  EXPECT_TRUE(CopyText(buffer, 6, nullptr));
  EXPECT_EQ(std::u16string(buffer), u"");
  EXPECT_EQ(TextLength(u"abc"), 3u);
  EXPECT_EQ(TextLength(nullptr), 0u);
}

TEST(TextHelpers, ParseDecimalInt32) {
  struct Row {
    const char *name;
    const char16_t *text;
    LONG expected;
  } rows[] = {
      {"plain", u"123", 123},
      {"leading blanks and minus", u" \t -45", -45},
      {"plus sign", u"+7", 7},
      {"stops at a non-digit", u"12abc", 12},
      {"no digits", u"abc", 0},
      {"empty", u"", 0},
      {"sign then blank", u"- 5", 0},
      {"hex is not read", u"0x10", 0},
      {"maximum", u"2147483647", 2147483647},
      {"minimum", u"-2147483648", INT_MIN},
      {"above the range", u"2147483648", 2147483647},
      {"far above the range", u"99999999999999999999999999", 2147483647},
      {"below the range", u"-2147483649", INT_MIN},
      {"far below the range", u"-99999999999999999999999999", INT_MIN},
      {"null", nullptr, 0},
  };
  for (const auto &row : rows) EXPECT_EQ(ParseDecimalInt32(row.text), row.expected) << row.name;
}

}  // namespace
