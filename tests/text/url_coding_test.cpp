#include "text/url_coding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/convert.h"

namespace quorvel {
namespace {

struct EncodeCase {
  const char* in;
  bool keep;
  bool utf8;
  const char* out;
};

TEST(UrlEncode, FlagCombinations) {
  const EncodeCase cases[] = {
      {"", false, false, ""},
      {"", false, true, ""},
      {"", true, true, ""},
      {"abc", false, false, "%61%62%63"},
      {"abc", true, false, "abc"},
      {"-./ ", true, false, "-.%2F%20"},
      // The kept set is exactly - . 0-9 A-Z a-z: its neighbours are all encoded.
      {"09AZaz", true, false, "09AZaz"},
      {",/:@[`{_~+", true, false, "%2C%2F%3A%40%5B%60%7B%5F%7E%2B"},
      {"\n", false, false, "%0A"},
      {"\x7F\xFF", true, false, "%7F%FF"},
      {"\xD6\xD0", false, false, "%D6%D0"},
      {"\xD6\xD0", false, true, "%E4%B8%AD"},
      {"\xD6\xD0", true, true, "%E4%B8%AD"},
      {"a \xD6\xD0-1", true, true, "a%20%E4%B8%AD-1"},
      {"a \xD6\xD0-1", false, true, "%61%20%E4%B8%AD%2D%31"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlEncode(Text(c.in), c.keep, c.utf8).str(), c.out)
        << "in=" << c.in << " keep=" << c.keep << " utf8=" << c.utf8;
  }
}

TEST(UrlEncode, EveryByteIsTwoUpperCaseDigits) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string enc = UrlEncode(Text(all)).str();
  ASSERT_EQ(enc.size(), 3u * 255u);
  for (int b = 1; b < 256; ++b) {
    static const char hex[] = "0123456789ABCDEF";
    const std::string want = {'%', hex[b >> 4], hex[b & 15]};
    EXPECT_EQ(enc.substr(3 * (b - 1), 3), want) << b;
  }
  EXPECT_EQ(UrlDecode(Text(enc)).str(), all);
}

struct DecodeCase {
  const char* in;
  const char* out;
};

// A "%" always takes the next two bytes: each is its hex value, -2 when it is no hex digit,
// 0 beyond the end; the low 8 bits of 16 * first + second are appended unless they are 0.
TEST(UrlDecode, MalformedPercentTable) {
  const DecodeCase cases[] = {
      // hex / hex
      {"%41", "A"},
      {"%4a%4A", "JJ"},
      {"%e4%b8%ad", "\xE4\xB8\xAD"},
      {"%00", ""},
      {"a%00b", "ab"},
      // hex / other: 16h - 2
      {"%0g", "\xFE"},
      {"%1g", "\x0E"},
      {"%Fz", "\xEE"},
      {"%0%41",
       "\xFE"
       "41"},
      // other / hex: 0xE0 + l
      {"%g1", "\xE1"},
      {"%zF", "\xEF"},
      {"%%41",
       "\xE4"
       "1"},
      // other / other: 0xDE, also for the halves of a GBK character and for percent signs
      {"%</td>",
       "\xDE"
       "td>"},
      {"%\xD6\xD0x",
       "\xDE"
       "x"},
      {"%%%", "\xDE"},
      // at the end
      {"%4", "@"},
      {"%0", ""},
      {"x%F", "x\xF0"},
      {"%g", "\xE0"},
      {"%", ""},
      {"ab%", "ab"},
      // no escapes
      {"", ""},
      {"a+b", "a+b"},
      {"\xD6\xD0+", "\xD6\xD0+"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlDecode(Text(c.in)).str(), c.out) << "in=" << c.in;
  }
}

TEST(UrlDecode, Utf8FlagConvertsToGbk) {
  EXPECT_EQ(UrlDecode(Text("%e4%b8%ad"), true).str(), "\xD6\xD0");
  EXPECT_EQ(UrlDecode(Text("%E4%B8%AD+x"), true).str(), "\xD6\xD0+x");
  EXPECT_EQ(UrlDecode(Text("%"), true).str(), "");
  // The result page's win-rate cell: "%</td>" becomes 0xDE "td>", and the invalid UTF-8 byte
  // arrives in GBK as a question mark.
  EXPECT_EQ(UrlDecode(Text("<td>52.3%</td>"), true).str(), "<td>52.3?td>");
  EXPECT_EQ(UrlDecode(Text("<td>52.3%</td>")).str(), "<td>52.3\xDEtd>");
}

TEST(UrlCoding, Utf8RoundTrip) {
  const Text player = Gbk("测试玩家 a-b_c/1%");
  for (bool keep : {false, true}) {
    const Text enc = UrlEncode(player, keep, true);
    EXPECT_EQ(UrlDecode(enc, true), player) << "keep=" << keep;
  }
}

// Random bytes rich in "%", hex digits and GBK lead bytes: nothing reads past the input (the
// sanitizer build checks), and encoding then decoding gives the input back.
TEST(UrlCoding, AnyBytes) {
  std::mt19937 rng(7);
  const std::string alphabet = "%%%0aF9g+ -./\x81\xA1\xD6\xD0\xFF";
  for (int n = 0; n < 3000; ++n) {
    std::string s(rng() % 24, 'x');
    for (char& ch : s) ch = alphabet[rng() % alphabet.size()];
    const Text t(s);
    for (bool keep : {false, true}) EXPECT_EQ(UrlDecode(UrlEncode(t, keep)), t) << s;
    EXPECT_LE(UrlDecode(t).size(), t.size()) << s;
    UrlDecode(t, true);
    UrlEncode(t, true, true);
  }
}

}  // namespace
}  // namespace quorvel
