// Tests of the text, bytes and array operations: the contracts the other layers lean on
// (1-based positions, -1, defaults, clamping, walking by GBK characters), checked on tables
// of cases and against a plain character-by-character model of the walking operations.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace quorvel {
namespace {

using std::nullopt;
using std::optional;

Text T(std::string_view bytes) { return Text(bytes); }
Bytes B(std::string_view bytes) { return Bytes(bytes); }

std::vector<std::string> Items(const TextArray& a) {
  std::vector<std::string> out;
  for (const Text& t : a.items()) out.push_back(t.str());
  return out;
}

// ---- A plain model of the walking operations -------------------------------------------
// One step at a time, exactly as the operations are described; slow but obviously right.

std::size_t ModelCharSize(std::string_view s, std::size_t i) {
  return (static_cast<unsigned char>(s[i]) >= 0x80 && i + 1 < s.size()) ? 2 : 1;
}

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Does n occur at byte i of s, where i starts a character? Bytes of two-byte characters
// compare exactly; one-byte characters fold when ignoring case.
bool ModelMatchAt(std::string_view s, std::size_t i, std::string_view n, bool ignoreCase) {
  if (s.size() - i < n.size()) return false;
  for (std::size_t j = 0; j < n.size();) {
    const unsigned char t = static_cast<unsigned char>(s[i + j]);
    const unsigned char u = static_cast<unsigned char>(n[j]);
    if (t >= 0x80) {
      if (t != u) return false;
      if (j + 1 < n.size() && s[i + j + 1] != n[j + 1]) return false;
      j += 2;
    } else {
      if (ignoreCase ? Fold(t) != Fold(u) : t != u) return false;
      ++j;
    }
  }
  return true;
}

int ModelFind(std::string_view s, std::string_view n, optional<int> start, bool ic) {
  const std::size_t skip = (start && *start > 1) ? static_cast<std::size_t>(*start) - 1 : 0;
  if (skip >= s.size()) return -1;
  if (n.empty()) return 1;
  for (std::size_t i = skip; i < s.size(); i += ModelCharSize(s, i)) {
    if (ModelMatchAt(s, i, n, ic)) return static_cast<int>(i) + 1;
  }
  return -1;
}

int ModelFindReverse(std::string_view s, std::string_view n, optional<int> start, bool ic) {
  std::size_t limit = s.size();
  if (start) limit = *start > 1 ? static_cast<std::size_t>(*start) - 1 : 0;
  if (limit > s.size()) limit = s.size();
  if (limit == 0) return -1;
  if (n.empty()) return 1;
  const std::string_view stretch = s.substr(0, limit);
  int last = -1;
  for (std::size_t i = 0; i < stretch.size(); i += ModelCharSize(stretch, i)) {
    if (ModelMatchAt(stretch, i, n, ic)) last = static_cast<int>(i) + 1;
  }
  return last;
}

std::string ModelReplace(std::string_view s, std::string_view n, std::string_view r,
                         optional<int> start, optional<int> count, bool ic) {
  const std::size_t skip = (start && *start > 1) ? static_cast<std::size_t>(*start) - 1 : 0;
  if (s.empty() || n.empty() || skip >= s.size() || (count && *count == 0)) {
    return std::string(s);
  }
  std::string out(s.substr(0, skip));
  std::size_t i = skip;
  int done = 0;
  while (s.size() - i >= n.size()) {
    if (ModelMatchAt(s, i, n, ic)) {
      out += r;
      i += n.size();
      ++done;
      if (count && *count > 0 && done == *count) break;
    } else {
      const std::size_t k = ModelCharSize(s, i);
      out += s.substr(i, k);
      i += k;
    }
  }
  out += s.substr(i);
  return out;
}

std::vector<std::string> ModelSplit(std::string_view s, std::string_view d, optional<int> count) {
  std::vector<std::string> out;
  if (s.empty() || (count && *count <= 0)) return out;
  if (d.empty()) return {std::string(s)};
  std::size_t i = 0;
  std::size_t cut = 0;
  while (s.size() - i >= d.size()) {
    if (count && out.size() == static_cast<std::size_t>(*count)) return out;
    if (ModelMatchAt(s, i, d, false)) {
      out.emplace_back(s.substr(cut, i - cut));
      i += d.size();
      cut = i;
    } else {
      i += ModelCharSize(s, i);
    }
  }
  if (count && out.size() == static_cast<std::size_t>(*count)) return out;
  if (cut < s.size()) out.emplace_back(s.substr(cut));
  return out;
}

// ---- Values ------------------------------------------------------------------------------

TEST(TextValue, AbsentIsEmptyAndZeroBytesEndTheText) {
  EXPECT_TRUE(TextEquals(Text(nullptr), Text()));
  EXPECT_TRUE(TextEquals(Text(""), Text()));
  EXPECT_FALSE(TextEquals(T("a"), T("A")));
  EXPECT_EQ(TextLength(Text()), 0);
  EXPECT_EQ(TextLength(T("\xB0\xA1z")), 3);
  EXPECT_EQ(T(std::string_view("ab\0cd", 5)).str(), "ab");
  EXPECT_EQ(Text(std::string("x\0y", 3)).str(), "x");
}

TEST(TextValue, ConcatText) {
  EXPECT_TRUE(TextEquals(ConcatText(Text(), Text()), Text()));
  EXPECT_EQ(ConcatText(T("ab"), Text(), T("\xB0\xA1"), T("c")).str(),
            "ab\xB0\xA1"
            "c");
  EXPECT_EQ(ConcatText({"x", "", "yz"}).str(), "xyz");
}

TEST(TextValue, LeftRightMidClampAndNeverMoveTheStart) {
  const Text t = T("abcde");
  struct Case {
    Text got;
    const char* want;
  };
  const Case cases[] = {
      {TextLeft(t, 2), "ab"},
      {TextLeft(t, 5), "abcde"},
      {TextLeft(t, 99), "abcde"},
      {TextLeft(t, 0), ""},
      {TextLeft(t, -3), ""},
      {TextRight(t, 2), "de"},
      {TextRight(t, 99), "abcde"},
      {TextRight(t, 0), ""},
      {TextRight(t, INT_MIN), ""},
      {TextMid(t, 2, 3), "bcd"},
      {TextMid(t, 4, 10), "de"},
      {TextMid(t, 5, 1), "e"},
      {TextMid(t, 6, 1), ""},
      {TextMid(t, 0, 3), ""},
      {TextMid(t, -1, 3), ""},
      {TextMid(t, 1, 0), ""},
      {TextMid(t, 1, -1), ""},
      {TextMid(t, INT_MAX, 1), ""},
      {TextMid(t, 1, INT_MAX), "abcde"},
      // Byte counts: a two-byte character can be cut in half.
      {TextLeft(T("\xB0\xA1"
                  "a"),
                1),
       "\xB0"},
      {TextRight(T("a\xB0\xA1"), 1), "\xA1"},
      {TextLeft(Text(), 3), ""},
      {TextMid(Text(), 1, 1), ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].got.str(), cases[i].want) << "case " << i;
  }
}

TEST(TextValue, CharFromCodeTakesTheLowEightBitsAndNeverMakesAZeroByte) {
  EXPECT_EQ(CharFromCode(65).str(), "A");
  EXPECT_EQ(CharFromCode(-34).str(), "\xDE");
  EXPECT_EQ(CharFromCode(256 + 65).str(), "A");
  EXPECT_TRUE(CharFromCode(0).empty());
  EXPECT_TRUE(CharFromCode(256).empty());
  EXPECT_TRUE(CharFromCode(INT_MIN).empty());
  EXPECT_EQ(CharFromCode(-1).str(), "\xFF");
}

TEST(TextValue, ToHexTextIsUnsigned32BitUpperCaseWithoutPadding) {
  const std::pair<int, const char*> cases[] = {
      {0, "0"},
      {10, "A"},
      {15, "F"},
      {16, "10"},
      {255, "FF"},
      {-1, "FFFFFFFF"},
      {-16, "FFFFFFF0"},
      {INT_MIN, "80000000"},
      {INT_MAX, "7FFFFFFF"},
      {0x1234abcd, "1234ABCD"},
  };
  for (const auto& [value, want] : cases) EXPECT_EQ(ToHexText(value).str(), want) << value;
}

TEST(TextValue, BlankTextBitOr) {
  EXPECT_EQ(BlankText(3).str(), "   ");
  EXPECT_TRUE(BlankText(0).empty());
  EXPECT_TRUE(BlankText(-5).empty());
  EXPECT_EQ(BitOr(1, 2), 3);
  EXPECT_EQ(BitOr(1, 4, 8, 0x100), 0x10D);
  EXPECT_EQ(BitOr(INT_MIN, 1), INT_MIN | 1);
}

// ---- Searching -----------------------------------------------------------------------

struct FindCase {
  std::string_view text;
  std::string_view sought;
  optional<int> start;
  bool ignoreCase;
  int want;
};

TEST(FindText, Table) {
  const FindCase cases[] = {
      {"abcabc", "c", nullopt, false, 3},
      {"abcabc", "c", 3, false, 3},
      {"abcabc", "c", 4, false, 6},
      {"abcabc", "bc", 5, false, 5},
      {"abcabc", "c", 7, false, -1},  // beyond the end
      {"abcabc", "c", 0, false, 3},   // below 1 counts as 1
      {"abcabc", "c", -7, false, 3},
      {"abcabc", "c", INT_MIN, false, 3},
      {"abcabc", "c", INT_MAX, false, -1},
      {"abcabc", "x", nullopt, false, -1},
      {"abc", "abcd", nullopt, false, -1},  // longer than the text
      {"abc", "abc", nullopt, false, 1},
      // An empty sought text: 1 whenever the stretch is non-empty, never the start.
      {"abc", "", nullopt, false, 1},
      {"abc", "", 3, false, 1},
      {"abc", "", 4, false, -1},
      {"", "", nullopt, false, -1},
      {"", "a", nullopt, false, -1},
      // Never found on the second byte of a two-byte character.
      {"\x81@", "@", nullopt, false, -1},
      {"\x81@@", "@", nullopt, false, 3},
      {"\xB0\xA1\xB0\xA1", "\xA1\xB0", nullopt, false, -1},
      {"\xB0\xA1\xA1\xB0", "\xA1\xB0", nullopt, false, 3},
      {"\xB0\xA1\xA1\xB0", "\xA1\xA1", nullopt, false, -1},
      {"a\xB0\xA1", "\xB0\xA1", nullopt, false, 2},
      // The walk begins at the start byte, whatever it is.
      {"\x81@", "@", 2, false, 2},
      {"\x81\x81@", "@", 2, false, -1},
      {"\x81\x81@", "@", 3, false, 3},
      // Case.
      {"xABC", "abc", nullopt, false, -1},
      {"xABC", "abc", nullopt, true, 2},
      {"xAbC", "aBc", nullopt, true, 2},
      {"\x81"
       "a",
       "A", nullopt, true, -1},  // a second byte never folds
      {"\x81"
       "A",
       "\x81"
       "a",
       nullopt, true, -1},
      {"\x81"
       "a"
       "A",
       "a", nullopt, true, 3},
      {"\xC1\xC1", "\xE1\xE1", nullopt, true, -1},  // only ASCII letters fold
      // A lead byte at the very end stands alone.
      {"ab\x81", "\x81", nullopt, false, 3},
      {"a\x81", "\x81@", nullopt, false, -1},
      {"\x81", "\x81", nullopt, true, 1},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindText(T(c.text), T(c.sought), c.start, c.ignoreCase), c.want)
        << "text \"" << c.text << "\" sought \"" << c.sought << "\" start "
        << (c.start ? std::to_string(*c.start) : "omitted") << " ignoreCase " << c.ignoreCase;
  }
}

TEST(FindTextReverse, Table) {
  const FindCase cases[] = {
      // The five-byte text with dots at bytes 2 and 4.
      {"a.b.c", ".", nullopt, false, 4},
      {"a.b.c", ".", 5, false, 4},
      {"a.b.c", ".", 4, false, 2},  // start at the last occurrence finds the one before
      {"a.b.c", ".", 3, false, 2},
      {"a.b.c", ".", 2, false, -1},
      {"a.b.c", ".", 1, false, -1},
      {"a.b.c", ".", 0, false, -1},
      {"a.b.c", ".", -9, false, -1},
      {"a.b.c", ".", 99, false, 4},  // beyond the end searches the whole text
      {"a.b.c", ".", INT_MAX, false, 4},
      // An occurrence that reaches the start position is not found.
      {"abab", "ab", 4, false, 1},
      {"abab", "ab", 5, false, 3},
      {"aaaa", "aa", nullopt, false, 3},
      {"abc", "", nullopt, false, 1},
      {"abc", "", 2, false, 1},
      {"abc", "", 1, false, -1},
      {"", "", nullopt, false, -1},
      {"", "a", nullopt, false, -1},
      {"@\x81@", "@", nullopt, false, 1},
      {"@\x81@@", "@", nullopt, false, 4},
      {"abcABC", "abc", nullopt, true, 4},
      {"abcABC", "abc", nullopt, false, 1},
      {"\x81"
       "A",
       "a", nullopt, true, -1},
      {"a\x81", "\x81", nullopt, false, 2},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindTextReverse(T(c.text), T(c.sought), c.start, c.ignoreCase), c.want)
        << "text \"" << c.text << "\" sought \"" << c.sought << "\" start "
        << (c.start ? std::to_string(*c.start) : "omitted") << " ignoreCase " << c.ignoreCase;
  }
}

// ---- Replace and split -------------------------------------------------------------------

TEST(ReplaceText, Table) {
  struct Case {
    std::string_view text, sought, replacement;
    optional<int> start, count;
    bool ignoreCase;
    std::string_view want;
  };
  const Case cases[] = {
      {"aaa", "a", "b", nullopt, nullopt, false, "bbb"},
      {"aaa", "a", "", nullopt, nullopt, false, ""},
      {"aaa", "a", "b", 2, nullopt, false, "abb"},
      {"aaa", "a", "b", 1, 1, false, "baa"},
      {"aaa", "a", "b", 2, 1, false, "aba"},
      {"aaa", "a", "b", nullopt, 2, false, "bba"},
      {"aaa", "a", "b", nullopt, 0, false, "aaa"},
      {"aaa", "a", "b", nullopt, -1, false, "bbb"},  // negative: every one
      {"aaa", "a", "b", 0, nullopt, false, "bbb"},
      {"aaa", "a", "b", 4, nullopt, false, "aaa"},  // start beyond the end
      {"aaa", "", "b", nullopt, nullopt, false, "aaa"},
      {"", "a", "b", nullopt, nullopt, false, ""},
      // Occurrences never overlap; the replacement is never searched again.
      {"aaaa", "aa", "b", nullopt, nullopt, false, "bb"},
      {"aaa", "aa", "b", nullopt, nullopt, false, "ba"},
      {"ab", "a", "aa", nullopt, nullopt, false, "aab"},
      {"abab", "ab", "ba", nullopt, nullopt, false, "baba"},
      // Case: any mix matches, the replacement goes in unchanged.
      {"abcABCaBc", "abc", "Xy", nullopt, nullopt, true, "XyXyXy"},
      {"abcABCaBc", "abc", "Xy", nullopt, nullopt, false, "XyABCaBc"},
      {"abcABCaBc", "ABC", "-", 2, 1, true, "abc-aBc"},
      // By characters: second bytes are neither matched nor folded.
      {"\x81@@", "@", "#", nullopt, nullopt, false, "\x81@#"},
      {"\x81"
       "a"
       "A",
       "a", "-", nullopt, nullopt, true,
       "\x81"
       "a-"},
      {"\xB0\xA1\xB0\xA1", "\xA1\xB0", "-", nullopt, nullopt, false, "\xB0\xA1\xB0\xA1"},
      // The start byte begins the walk, whatever it is.
      {"\x81@@", "@", "#", 2, nullopt, false, "\x81##"},
      // After a match the walk restarts right after the matched bytes, even when the
      // sought text ends with a lead byte: the "A" there is then a character of its own.
      {"a\x81"
       "A\x81",
       "a\x81", "-", nullopt, nullopt, true, "--"},
      {"a\x81"
       "A\x81",
       "a\x81", "-", nullopt, nullopt, false, "-A\x81"},
      {"\x81\x81@", "\x81", "", nullopt, nullopt, false, "@"},
      // A lead byte at the very end.
      {"ab\x81", "\x81", "c", nullopt, nullopt, false, "abc"},
      {"ab\x81", "b\x81x", "c", nullopt, nullopt, false, "ab\x81"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        ReplaceText(T(c.text), T(c.sought), T(c.replacement), c.start, c.count, c.ignoreCase).str(),
        c.want)
        << "text \"" << c.text << "\" sought \"" << c.sought << "\"";
  }
  EXPECT_EQ(ReplaceText(T("a,b"), T(",")).str(), "ab");  // the default replacement is empty
}

TEST(SplitText, Table) {
  using V = std::vector<std::string>;
  struct Case {
    std::string_view text, delimiter;
    optional<int> count;
    V want;
  };
  const Case cases[] = {
      {"a,b,c", ",", nullopt, V{"a", "b", "c"}},
      {",", ",", nullopt, V{""}},
      {",,", ",", nullopt, V{"", ""}},
      {",a", ",", nullopt, V{"", "a"}},
      {"a,,b", ",", nullopt, V{"a", "", "b"}},
      {"a,", ",", nullopt, V{"a"}},  // no empty last element
      {"abc", ",", nullopt, V{"abc"}},
      {"", ",", nullopt, V{}},
      {"a,b,c", ",", 2, V{"a", "b"}},  // the rest is dropped
      {"a,b,c", ",", 3, V{"a", "b", "c"}},
      {"a,b,", ",", 3, V{"a", "b"}},
      {"a,b,c", ",", 0, V{}},
      {"a,b,c", ",", -1, V{}},
      {"a,b", "", nullopt, V{"a,b"}},
      {"a::b:::c", "::", nullopt, V{"a", "b", ":c"}},
      {"aXbxc", "x", nullopt, V{"aXb", "c"}},   // case matters
      {"a\x81,b", ",", nullopt, V{"a\x81,b"}},  // a second byte is no delimiter
      {"\xB0\xA1,\xB0\xA1", ",", nullopt, V{"\xB0\xA1", "\xB0\xA1"}},
      {"a,\x81", ",", nullopt, V{"a", "\x81"}},
      {"a\x81", "\x81", nullopt, V{"a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Items(SplitText(T(c.text), T(c.delimiter), c.count)), c.want)
        << "text \"" << c.text << "\" delimiter \"" << c.delimiter << "\"";
  }
  EXPECT_EQ(Items(SplitText(T("a,b"))), (V{"a", "b"}));  // the default delimiter is ","
  EXPECT_EQ(Items(SplitText(T("a;b"))), (V{"a;b"}));
}

// ---- Case, spaces, numbers -------------------------------------------------------------

TEST(CaseMapping, OnlyOneByteCharactersChange) {
  EXPECT_EQ(ToUpper(T("abcXYZ09\x81"
                      "a\xB0\xA1z"))
                .str(),
            "ABCXYZ09\x81"
            "a\xB0\xA1Z");
  EXPECT_EQ(ToLower(T("ABCxyz\x81"
                      "AZ"))
                .str(),
            "abcxyz\x81"
            "Az");
  EXPECT_EQ(ToUpper(T("a\x81")).str(), "A\x81");  // a lead byte at the end
  EXPECT_EQ(ToLower(T("\x81")).str(), "\x81");
  EXPECT_TRUE(ToUpper(Text()).empty());
  EXPECT_EQ(ToUpper(T("[`{@]")).str(), "[`{@]");
}

TEST(TrimText, Table) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"  a b  ", "a b"},
      {"\xA1\xA1"
       "a\xA1\xA1",
       "a"},
      {" \xA1\xA1 a \xA1\xA1 ", "a"},
      {"\t a \r\n", "\t a \r\n"},  // tab, CR and LF are kept
      {" \ta\n ", "\ta\n"},
      {"   ", ""},
      {"\xA1\xA1 \xA1\xA1", ""},
      {"", ""},
      // A1 A1 made of the second byte of one character and the first of the next.
      {"x\xB0\xA1\xA1\xB0", "x\xB0\xA1\xA1\xB0"},
      {"a\xB0\xA1\xA1\xA1", "a\xB0\xA1"},
      {"\xB0\xA1\xA1\xA1 ", "\xB0\xA1"},
      // A lead byte at the end stands alone and is no space.
      {"\xA1", "\xA1"},
      {" a \xA1", "a \xA1"},
      {"a\xA1\xA1", "a"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(TrimText(T(in)).str(), want) << in;
}

TEST(RemoveSpaces, ByCharacters) {
  EXPECT_EQ(RemoveSpaces(T(" a b\xA1\xA1"
                           "c "))
                .str(),
            "abc");
  EXPECT_EQ(RemoveSpaces(T("\xB0\xA1\xA1\xB0")).str(), "\xB0\xA1\xA1\xB0");
  EXPECT_EQ(RemoveSpaces(T("\t\r\n")).str(), "\t\r\n");
  EXPECT_EQ(RemoveSpaces(T("   ")).str(), "");
  EXPECT_EQ(RemoveSpaces(T("a \xA1")).str(), "a\xA1");
}

TEST(TextToInt, Table) {
  const std::pair<std::string_view, int> cases[] = {
      {"123", 123},
      {"123abc", 123},
      {"  -42", -42},
      {"+7", 7},
      {"\t\n\v\f\r 5", 5},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"- 5", 0},
      {"--5", 0},
      {"0x1F", 0},
      {"007", 7},
      // Full-width digits, signs and space.
      {"\xA3\xB1\xA3\xB2\xA3\xB3", 123},
      {"\xA3\xAD\xA3\xB4\xA3\xB2", -42},
      {"\xA3\xAB\xA3\xB9", 9},
      {"\xA1\xA1\xA1\xA1\xA3\xB8", 8},
      {"1\xA3\xB2"
       "3",
       123},
      {"\xA3\xB1\xA3\xA9", 1},  // A3 A9 is ")"
      {"\xA1\xAB"
       "5",
       0},  // the tilde is no sign
      {"\xA1\xEE"
       "5",
       0},
      // Second bytes are never digits; a lead byte at the end stands alone.
      {"\x81"
       "5",
       0},
      {"5\xA3", 5},
      {"\xA3", 0},
      {"\xA1", 0},
      // Out of range: held at the ends of the int range.
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", INT_MAX},
      {"99999999999999999999999", INT_MAX},
      {"-99999999999999999999999", INT_MIN},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(TextToInt(T(in)), want) << in;
}

// ---- Bytes and arrays --------------------------------------------------------------------

TEST(BytesOps, KeepZeroBytesAndClamp) {
  const Bytes z = B(std::string_view("a\0b", 3));
  EXPECT_EQ(BytesLength(z), 3);
  EXPECT_TRUE(BytesEquals(Bytes(), B("")));
  EXPECT_FALSE(BytesEquals(z, B("a")));
  EXPECT_EQ(ConcatBytes(z, Bytes(), z).str(), std::string("a\0ba\0b", 6));
  EXPECT_TRUE(ConcatBytes(Bytes(), Bytes()).empty());
  EXPECT_EQ(BytesToText(z).str(), "a");
  EXPECT_TRUE(BytesToText(B(std::string_view("\0abc", 4))).empty());
  EXPECT_EQ(BytesToText(B("\xB0\xA1")).str(), "\xB0\xA1");
  EXPECT_EQ(TextToBytes(T("ab")).str(), "ab");
  EXPECT_TRUE(TextToBytes(Text()).empty());
  EXPECT_EQ(BytesLeft(z, 2).str(), std::string("a\0", 2));
  EXPECT_EQ(BytesLeft(z, 9).str(), z.str());
  EXPECT_TRUE(BytesLeft(z, 0).empty());
  EXPECT_TRUE(BytesLeft(z, -1).empty());
  EXPECT_EQ(BlankBytes(3).str(), std::string(3, '\0'));
  EXPECT_TRUE(BlankBytes(0).empty());
  EXPECT_TRUE(BlankBytes(-2).empty());
}

TEST(TextArrayOps, IndexedFromOneEmptyOutside) {
  TextArray a;
  EXPECT_EQ(ElementCount(a), 0);
  EXPECT_TRUE(a[1].empty());
  Text t = T("x");
  AppendText(a, t);
  AppendText(a, Text());
  AppendText(a, T("z"));
  t = T("changed");  // the array holds its own copy
  EXPECT_EQ(ElementCount(a), 3);
  EXPECT_EQ(a[1].str(), "x");
  EXPECT_TRUE(a[2].empty());
  EXPECT_EQ(a[3].str(), "z");
  for (int i : {0, -1, 4, INT_MAX, INT_MIN}) EXPECT_TRUE(a[i].empty()) << i;
}

// ---- Walking operations against the model -------------------------------------------

// Random texts over an alphabet rich in lead bytes, letters of both cases and delimiters,
// so that hits on second bytes, folded letters after lead bytes and open lead bytes at the
// ends come up often.
TEST(WalkingOps, AgreeWithTheModelOnRandomTexts) {
  const unsigned char alphabet[] = {'a', 'A', 'b', 'B', '@', ',', ' ', 0x81, 0xA1, 0xA3, 0xB0};
  std::mt19937 rng(20240611);
  auto pick = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(alphabet[rng() % sizeof alphabet]);
    return s;
  };
  auto opt = [&](int lo, int hi) -> optional<int> {
    if (rng() % 3 == 0) return nullopt;
    return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
  };
  // Short texts for the edges, longer ones so that the block-wise candidate scan runs.
  for (int round = 0; round < 26000; ++round) {
    const std::string s = pick(round < 20000 ? rng() % 14 : rng() % 160);
    std::string n;
    if (!s.empty() && rng() % 2 == 0) {
      const std::size_t from = rng() % s.size();
      n = s.substr(from, 1 + rng() % 5);  // often present, sometimes on a second byte
    } else {
      n = pick(rng() % 4);
    }
    const std::string r = pick(rng() % 3);
    const bool ic = rng() % 2 == 0;
    const int len = static_cast<int>(s.size());
    const optional<int> start = opt(-1, len + 2);
    const optional<int> count = opt(-1, 4);
    SCOPED_TRACE(testing::Message()
                 << "text " << testing::PrintToString(s) << " sought " << testing::PrintToString(n)
                 << " start " << (start ? *start : 999) << " count " << (count ? *count : 999)
                 << " ignoreCase " << ic);
    ASSERT_EQ(FindText(T(s), T(n), start, ic), ModelFind(s, n, start, ic));
    ASSERT_EQ(FindTextReverse(T(s), T(n), start, ic), ModelFindReverse(s, n, start, ic));
    ASSERT_EQ(ReplaceText(T(s), T(n), T(r), start, count, ic).str(),
              ModelReplace(s, n, r, start, count, ic));
    ASSERT_EQ(Items(SplitText(T(s), T(n), count)), ModelSplit(s, n, count));
  }
}

// Ignoring case on texts longer than the part a search prepares at first, with long runs
// of bytes of 0x80 and above: the replacement walk restarts inside such runs, so the two
// walks, before and after a restart, read the following letters differently.
TEST(WalkingOps, IgnoringCaseOnLongTextsAgreesWithTheModel) {
  for (int run = 990; run < 1004; ++run) {
    for (std::string_view tail : {"A\x81"
                                  "A",
                                  "a\x81"
                                  "b",
                                  "\x81"
                                  "A\x81"}) {
      const std::string s =
          "a" + std::string(static_cast<std::size_t>(run), '\x81') + std::string(tail) + "xA\x81";
      for (std::string_view n : {"a\x81",
                                 "\x81"
                                 "a",
                                 "A"}) {
        SCOPED_TRACE(testing::Message()
                     << "run " << run << " tail " << testing::PrintToString(std::string(tail))
                     << " sought " << testing::PrintToString(std::string(n)));
        ASSERT_EQ(ReplaceText(T(s), T(n), T("-"), nullopt, nullopt, true).str(),
                  ModelReplace(s, n, "-", nullopt, nullopt, true));
        ASSERT_EQ(FindText(T(s), T(n), 2, true), ModelFind(s, n, 2, true));
        ASSERT_EQ(FindTextReverse(T(s), T(n), nullopt, true),
                  ModelFindReverse(s, n, nullopt, true));
      }
    }
  }
  // One occurrence at every offset of a long text: the folded part grows as the search
  // goes, and an occurrence across its end must still be found.
  for (int at = 0; at < 2000; ++at) {
    std::string s(2100, 'x');
    const std::string_view written =
        "Ab\xB0\xA1"
        "Cd";
    const std::string_view sought =
        "aB\xB0\xA1"
        "cD";
    s.replace(static_cast<std::size_t>(at), written.size(), written);
    ASSERT_EQ(FindText(T(s), T(sought), nullopt, true), at + 1) << at;
    ASSERT_EQ(FindText(T(s), T(sought), nullopt, false), -1) << at;
  }
  const unsigned char alphabet[] = {'a', 'A', 'b', 0x81, 0x81, 0xB0, 0xB0};
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    std::string s;
    for (std::size_t i = 0, len = 200 + rng() % 3000; i < len; ++i) {
      s += static_cast<char>(alphabet[rng() % sizeof alphabet]);
    }
    const std::string n = s.substr(rng() % s.size(), 1 + rng() % 4);
    const optional<int> start = static_cast<int>(rng() % s.size());
    SCOPED_TRACE(testing::Message() << "round " << round << " sought " << testing::PrintToString(n)
                                    << " start " << *start);
    ASSERT_EQ(FindText(T(s), T(n), start, true), ModelFind(s, n, start, true));
    ASSERT_EQ(FindTextReverse(T(s), T(n), start, true), ModelFindReverse(s, n, start, true));
    ASSERT_EQ(ReplaceText(T(s), T(n), T("#"), start, nullopt, true).str(),
              ModelReplace(s, n, "#", start, nullopt, true));
  }
}

// Replace and split look for candidates 64 bytes a step and judge where characters start
// from the runs of bytes of 0x80 and above before each one. Long texts where ASCII runs of
// every length meet two-byte characters, so that every kind of byte falls on every offset
// of a step: whole characters, characters with an ASCII second byte, sought texts that
// start on a second byte, runs of lead bytes reaching over step edges, a lead byte at the
// very end.
TEST(WalkingOps, ReplaceAndSplitAgreeWithTheModelAcrossStepEdges) {
  struct Case {
    const char* sought;
    const char* between;  // written between the ASCII runs
  };
  const Case cases[] = {
      {"\r\n", "\xD6\xD0"},              // ASCII sought text among whole characters
      {"@", "\x81@"},                    // "@" also as the second byte of a character
      {"<td>", "\xB0\xA1\xB0<td>"},      // a lead byte takes the "<" of a hit
      {"\xD6\xD0", "\xD6\xD0\xD6"},      // a two-byte sought text in odd runs
      {"\xD0\xD6", "\xD6\xD0\xD6\xD0"},  // found only across two characters: never a hit
      {"a\x81", "a\x81\x81"},            // a sought text that ends in a lead byte
      {"\x81", "\x81\x81\x81"},          // every byte a lead byte
      {"x", "x\x81"},                    // hits close together
      {"aa", "aaaaa"},                   // hits that would overlap
      {"aba", "abababa\x81"},            // the same, with lead bytes after
  };
  for (const Case& c : cases) {
    for (int stride = 1; stride <= 3; ++stride) {
      std::string s;
      for (int i = 0; s.size() < 9000; ++i) {
        s.append(static_cast<std::size_t>(i * stride % 71), static_cast<char>('a' + i % 23));
        s += c.between;
      }
      for (const std::string& text : {s, s + "\x81", s + c.sought, s.substr(1)}) {
        SCOPED_TRACE(testing::Message() << "sought " << testing::PrintToString(c.sought)
                                        << " stride " << stride << " size " << text.size());
        ASSERT_EQ(ReplaceText(T(text), T(c.sought), T("[]")).str(),
                  ModelReplace(text, c.sought, "[]", nullopt, nullopt, false));
        ASSERT_EQ(ReplaceText(T(text), T(c.sought), T("[a long replacement, much longer]")).str(),
                  ModelReplace(text, c.sought, "[a long replacement, much longer]", nullopt,
                               nullopt, false));
        ASSERT_EQ(Items(SplitText(T(text), T(c.sought))), ModelSplit(text, c.sought, nullopt));
        for (int start : {2, 63, 64, 65, 1000}) {
          ASSERT_EQ(ReplaceText(T(text), T(c.sought), T("#"), start, 7).str(),
                    ModelReplace(text, c.sought, "#", start, 7, false))
              << start;
        }
        ASSERT_EQ(Items(SplitText(T(text), T(c.sought), 5)), ModelSplit(text, c.sought, 5));
      }
    }
  }
}

// Replace projects its result's size from the first part of the text; hits that grow
// denser later, a replacement of any length and a multi-megabyte text must still come out
// byte for byte, and split must keep every part.
TEST(WalkingOps, ReplaceAndSplitOnLongTextsWithChangingDensity) {
  std::string s(300000, 'x');
  for (std::size_t i = 0; i < 4000; ++i) s += "\xB0\xA1,,\xD6\xD0,";
  for (std::size_t i = 0; s.size() < 3000000; ++i) {
    s += ",";
    s.append(i % 97, i % 2 ? 'y' : '\xC4');
  }
  s += "\x81";
  for (const char* r : {"", ";", "<-- a replacement far longer than what it replaces -->"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(r)));
    ASSERT_EQ(ReplaceText(T(s), T(","), T(r)).str(),
              ModelReplace(s, ",", r, nullopt, nullopt, false));
  }
  ASSERT_EQ(Items(SplitText(T(s), T(","))), ModelSplit(s, ",", nullopt));
}

// Inputs on which a sought text occurs at nearly every byte: on second bytes only, or
// overlapping itself. The searches must still give the walk's answers (these inputs drive
// the search past its fast path).
TEST(WalkingOps, DenseFalseAndOverlappingHits) {
  std::string pairs;
  for (int i = 0; i < 100000; ++i) pairs += "\x81@";
  std::string needle;
  for (int i = 0; i < 300; ++i) needle += "@\x81";
  needle += "@";
  // The needle occurs at every second byte of `pairs`, never where a character starts;
  // after "z" it starts a character.
  const std::string text = pairs + "z" + needle + "\x81@" + needle;
  const std::size_t z = pairs.size();
  for (bool ic : {false, true}) {
    SCOPED_TRACE(ic);
    EXPECT_EQ(FindText(T(text), T(needle), nullopt, ic), static_cast<int>(z) + 2);
    EXPECT_EQ(FindText(T(pairs), T(needle), nullopt, ic), -1);
    EXPECT_EQ(FindTextReverse(T(text), T(needle), nullopt, ic),
              ModelFindReverse(text, needle, nullopt, ic));
    EXPECT_EQ(ReplaceText(T(text), T(needle), T("#"), nullopt, nullopt, ic).str(),
              ModelReplace(text, needle, "#", nullopt, nullopt, ic));
  }
  EXPECT_EQ(Items(SplitText(T(text), T(needle))), ModelSplit(text, needle, nullopt));

  // The same with letters, so that case folding is in play: the sought text occurs (folded)
  // on every second byte "a" of the pairs, and ignoring case only where its first "a" is
  // a character of its own, written "A".
  std::string lower;
  for (int i = 0; i < 100000; ++i)
    lower +=
        "\x81"
        "a";
  std::string lneedle = "a";
  for (int i = 0; i < 300; ++i)
    lneedle +=
        "\x81"
        "a";
  const std::string ltext = lower + "Z" + "A" + lneedle.substr(1);
  EXPECT_EQ(FindText(T(ltext), T(lneedle), nullopt, true), static_cast<int>(lower.size()) + 2);
  EXPECT_EQ(FindText(T(ltext), T(lneedle), nullopt, false), -1);
  EXPECT_EQ(FindTextReverse(T(ltext), T(lneedle), nullopt, true),
            static_cast<int>(lower.size()) + 2);
  EXPECT_EQ(ReplaceText(T(ltext), T(lneedle), T("#"), nullopt, nullopt, true).str(), lower + "Z#");

  // A sought text that overlaps itself everywhere.
  const std::string as(100000, 'a');
  const std::string an(500, 'a');
  EXPECT_EQ(FindTextReverse(T(as), T(an)), 100000 - 500 + 1);
  EXPECT_EQ(FindTextReverse(T(as), T(an), 100000), 100000 - 500);
  EXPECT_EQ(FindText(T(as), T(an), 99502), -1);
  EXPECT_EQ(FindText(T(as), T(an), 99501), 99501);
  EXPECT_EQ(ReplaceText(T(as), T(an), T("b")).str(), std::string(200, 'b'));
  const TextArray parts = SplitText(T(as + "a"), T(an));
  ASSERT_EQ(ElementCount(parts), 201);
  EXPECT_TRUE(parts[200].empty());
  EXPECT_EQ(parts[201].str(), "a");
}

}  // namespace
}  // namespace quorvel
