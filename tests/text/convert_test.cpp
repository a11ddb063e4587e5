// Conversions between GBK, UTF-8 and UTF-16LE Text/Bytes values.
#include "text/convert.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

Text T(std::string_view bytes) { return Text(bytes); }
Bytes B(std::string_view bytes) { return Bytes(bytes); }
// UTF-16LE bytes of a UTF-16 string.
Bytes Le(std::u16string_view units) {
  std::string b;
  for (char16_t u : units) {
    b += static_cast<char>(u & 0xFF);
    b += static_cast<char>(u >> 8);
  }
  return Bytes(std::move(b));
}

TEST(Convert, GbkAndUtf8BothWays) {
  struct Case {
    std::string_view gbk, utf8;
  };
  const Case cases[] = {
      {"", ""},
      {"plain ASCII 123 <td>", "plain ASCII 123 <td>"},
      {"\xD6\xD0", "\xE4\xB8\xAD"},  // U+4E2D
      {"\x80", "\xE2\x82\xAC"},      // euro sign at 0x80
      {"\xA1\xA1", "\xE3\x80\x80"},  // full-width space
      {"\xCE\xDE\xB6\xCE\xCE\xBB 50%", "\xE6\x97\xA0\xE6\xAE\xB5\xE4\xBD\x8D 50%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.gbk)));
    EXPECT_EQ(AnsiToUtf8(T(c.gbk)), T(c.utf8));
    EXPECT_EQ(Utf8ToAnsi(T(c.utf8)), T(c.gbk));
  }
}

TEST(Convert, Utf8ToAnsiReplacesWhatGbkCannotHold) {
  struct Case {
    std::string_view utf8, gbk;
  };
  const Case cases[] = {
      {"\xDE"
       "a",
       "?a"},  // malformed: one '?' for the bad sequence
      {"50\xDE"
       "%",
       "50?%"},
      {"x\xE4\xB8", "x?"},  // cut off at the end
      {"\xC0\xAF", "??"},
      {"\xED\x95\x9C", "?"},  // Korean syllable U+D55C
      {"a\xF0\x9F\x98\x80"
       "b",
       "a?b"},  // U+1F600, outside the BMP
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.utf8)));
    EXPECT_EQ(Utf8ToAnsi(T(c.utf8)), T(c.gbk));
  }
}

TEST(Convert, AnsiToUtf8OfSingleHighBytesAndInvalidGbk) {
  // Bytes of 0x80 or above that do not start a two-byte character grow to three bytes.
  struct Case {
    std::string_view gbk, utf8;
  };
  const Case cases[] = {
      {"\x81", "\xEF\xBF\xBD"},        // lead byte at the end
      {"A\x81 B", "A\xEF\xBF\xBD B"},  // lead byte before a space
      {"\xFF", "\xEF\xA3\xB5"},        // 0xFF reads as U+F8F5
      {"\x80\x80\x80", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
      {"\xD6\xD0"
       "A\x80",
       "\xE4\xB8\xAD"
       "A\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.gbk)));
    EXPECT_EQ(AnsiToUtf8(T(c.gbk)), T(c.utf8));
  }
  std::string euros(5000, '\x80'), want;
  for (int i = 0; i < 5000; ++i) want += "\xE2\x82\xAC";
  EXPECT_EQ(AnsiToUtf8(T(euros)), T(want));
  EXPECT_EQ(Utf8ToAnsi(T(want)), T(euros));
}

TEST(Convert, AnsiToUtf8IsTheTwoStepsThroughUtf16WhateverTheMix) {
  // The output buffer is sized by a guess that holds unless one-byte characters of 0x80 and
  // above outnumber two-byte characters; texts on both sides of that line, short and long,
  // must give exactly the two steps through UTF-16.
  struct Case {
    const char* piece;  // repeated
    int times;
  };
  const Case cases[] = {
      {"\xD6\xD0", 1},
      {"\xD6\xD0\x80", 1000},
      {"\x80\xD6\xD0\x80", 1000},
      {"\x81\x40", 1},
      {"\x81\x40\x80", 3000},
      {"\xFF\x81 ", 2000},
      {"ab\xD6\xD0\x80\xFF", 1},
      {"ab\xD6\xD0\x80\xFF", 40},
      {"<td>\xD6\xD0\xCE\xC4</td>", 50000},
      {"\x81", 1},
      {"x\x81", 100},
      {"\xA1\xA1\x81\x7F", 777},
  };
  for (const Case& c : cases) {
    std::string in;
    for (int i = 0; i < c.times; ++i) in += c.piece;
    SCOPED_TRACE(testing::Message()
                 << testing::PrintToString(std::string(c.piece)) << " x" << c.times);
    const Text gbk = T(in);
    EXPECT_EQ(AnsiToUtf8(gbk), WideToText(TextToWide(gbk, kCodePageGbk), kCodePageUtf8));
  }
}

TEST(Convert, TextToWideEndsWithOneZeroUnit) {
  EXPECT_EQ(TextToWide(Text()), B(std::string_view("\0\0", 2)));
  EXPECT_EQ(GbkToWide(Text()), B(std::string_view("\0\0", 2)));
  EXPECT_EQ(TextToWide(T("\xE4\xB8\xAD"
                         "A")),
            B(std::string_view("\x2D\x4E"
                               "A\0\0\0",
                               6)));
  EXPECT_EQ(GbkToWide(T("\xD6\xD0"
                        "A")),
            B(std::string_view("\x2D\x4E"
                               "A\0\0\0",
                               6)));
  EXPECT_EQ(TextToWide(T("\xD6\xD0"), kCodePageGbk), GbkToWide(T("\xD6\xD0")));
  EXPECT_EQ(TextToWide(T("A"), 1252), Bytes());  // unknown code page: refused
}

TEST(Convert, WideToTextStopsAtTheFirstZeroUnit) {
  EXPECT_EQ(WideToText(Le(u"\u4E2DA"), kCodePageUtf8), T("\xE4\xB8\xAD"
                                                         "A"));
  EXPECT_EQ(WideToText(Le(std::u16string_view(u"AB\0CD", 5)), kCodePageGbk), T("AB"));
  EXPECT_EQ(WideToText(Le(std::u16string_view(u"\0A", 2)), kCodePageGbk), Text());
  // No zero unit at all, and an odd last byte: only the whole units are read.
  EXPECT_EQ(WideToText(B(std::string_view("A\0B\0C", 5)), kCodePageGbk), T("AB"));
  EXPECT_EQ(WideToText(Bytes(), kCodePageUtf8), Text());
  EXPECT_EQ(WideToText(Le(u"\xD800"), kCodePageUtf8), T("\xEF\xBF\xBD"));
  EXPECT_EQ(WideToText(Le(u"A"), 0), Text());
}

TEST(Convert, WideToGbk) {
  struct Case {
    Bytes wide;
    std::string_view gbk;
  };
  const Case cases[] = {
      {Bytes(), ""},
      {B("A"), ""},                                   // one byte: no whole unit
      {B(std::string_view("A\0B\0C", 5)), "AB"},      // odd length: last byte ignored
      {Le(std::u16string_view(u"AB\0CD", 5)), "AB"},  // zero unit: the text before it
      {Le(u"\u4E2D\u20AC\u3000"), "\xD6\xD0\x80\xA1\xA1"},
      {Le(u"Cafe\u0301"), "Caf\xA8\xA6"},  // composite check
      {Le(u"\uD55C\U0001F600"), "??"},     // characters GBK lacks
      {Le(u"\xDC00"
          "a\xD800"),
       "?a?"},  // lone surrogates
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.wide.str()));
    EXPECT_EQ(WideToGbk(c.wide), T(c.gbk));
  }
}

TEST(Convert, GbkLiteralHelper) {
  EXPECT_EQ(Gbk("请输入游戏ID！"), T("\xC7\xEB\xCA\xE4\xC8\xEB\xD3\xCE\xCF\xB7ID\xA3\xA1"));
  EXPECT_EQ(Gbk("无段位"), T("\xCE\xDE\xB6\xCE\xCE\xBB"));
  EXPECT_EQ(Gbk(""), Text());
  EXPECT_EQ(Gbk(std::string_view("A\0B", 3)), T("A"));
}

TEST(Convert, EveryGbkDoubleByteCharacterRoundTrips) {
  // Each two-byte code that reads as a character comes back unchanged through UTF-8 and
  // through UTF-16; one Text holds them all, so chunking inside the layer is covered too.
  std::string all;
  int characters = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      std::string one{static_cast<char>(lead), static_cast<char>(trail)};
      Bytes wide = GbkToWide(T(one));
      ASSERT_EQ(wide.size(), 4u);
      if (wide[0] == 0xFD && wide[1] == 0xFF) continue;  // U+FFFD: not a character
      all += one;
      ++characters;
    }
  }
  EXPECT_GT(characters, 21000);
  Text gbk = T(all);
  Text utf8 = AnsiToUtf8(gbk);
  EXPECT_EQ(Utf8ToAnsi(utf8), gbk);
  EXPECT_EQ(WideToGbk(GbkToWide(gbk)), gbk);
  EXPECT_EQ(WideToText(TextToWide(utf8), kCodePageGbk), gbk);
}

}  // namespace
}  // namespace quorvel
