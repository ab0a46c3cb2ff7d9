#include <gtest/gtest.h>

#include "base/Text.h"

using namespace tovik;

TEST(BaseText, RoundTripsThroughUtf8AndUtf16) {
  // ASCII, Cyrillic, CJK and a character outside the BMP (a surrogate pair in UTF-16).
  const std::string utf8 = "echo123 \xD0\x90\xD0\xBB\xD1\x91 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\xA4";
  bool ok = false;
  const std::u16string u16 = Utf8ToUtf16(utf8, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(u16.size(), 8u + 3 + 1 + 2 + 1 + 2);
  EXPECT_EQ(u16[u16.size() - 2], 0xD83C);
  EXPECT_EQ(u16.back(), 0xDFA4);
  EXPECT_EQ(Utf16ToUtf8(u16, &ok), utf8);
  EXPECT_TRUE(ok);

  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 17u : 16u);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(WideToUtf16(wide), u16);
  EXPECT_EQ(Utf16ToWide(u16), wide);
}

TEST(BaseText, InvalidUtf8BecomesReplacementCharacters) {
  struct Case { const char* name; std::string in; std::u16string out; };
  const Case cases[] = {
      {"stray continuation", "a\x80" "b", u"a\uFFFD" "b"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"truncated at end", "ab\xE6\x9D", u"ab\uFFFD"},
      {"truncated before ascii", "\xE6" "z", u"\uFFFDz"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"embedded zero kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(Utf8ToUtf16(c.in, &ok), c.out) << c.name;
    EXPECT_EQ(ok, c.name == std::string("embedded zero kept")) << c.name;
  }
}

TEST(BaseText, UnpairedSurrogatesAreReplaced) {
  bool ok = true;
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"x") + char16_t(0xD800) + u"y", &ok), "x\xEF\xBF\xBDy");
  EXPECT_FALSE(ok);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(BaseText, TrimCaseAndSplit) {
  EXPECT_EQ(TrimW(L"  a b \r\n"), L"a b");
  EXPECT_EQ(TrimW(L"   "), L"");
  EXPECT_TRUE(EqualsNoCase(L"PONG", L"pong"));
  EXPECT_FALSE(EqualsNoCase(L" pong", L"pong"));
  std::wstring head, rest;
  SplitFirst(L"CALL 12 STATUS INPROGRESS", L' ', head, rest);
  EXPECT_EQ(head, L"CALL");
  EXPECT_EQ(rest, L"12 STATUS INPROGRESS");
  SplitFirst(L"PONG", L' ', head, rest);
  EXPECT_EQ(head, L"PONG");
  EXPECT_EQ(rest, L"");
  EXPECT_EQ(Split(L"alice, bob, carol", L", "), (std::vector<std::wstring>{L"alice", L"bob", L"carol"}));
}
