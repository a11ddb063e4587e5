// Tests of the "VBScript.RegExp" class, driven as its users drive it: created by class name
// and reached by member name through the automation layer.
#include "platform/regexp/regexp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation/automation.h"

namespace quorvel::platform {
namespace {

struct Options {
  bool ignoreCase = false;
  bool multiline = false;
  bool global = false;
};
constexpr Options kPlain{};
constexpr Options kGlobal{false, false, true};
constexpr Options kCase{true, false, false};
constexpr Options kMulti{false, true, true};

// A sub-match: its text, or nullopt for the Empty of a group that took no part.
using Sub = std::optional<std::u16string>;
constexpr std::nullopt_t kEmpty = std::nullopt;

struct Found {
  std::u16string value;
  int firstIndex;
  std::vector<Sub> subs = {};
  bool operator==(const Found&) const = default;
};

void PrintTo(const Found& f, std::ostream* os) {
  auto text = [](const std::u16string& s) {
    std::string out = "\"";
    for (char16_t c : s) {
      if (c >= 0x20 && c < 0x7f) {
        out += static_cast<char>(c);
      } else {
        char buf[12];
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        out += buf;
      }
    }
    return out + "\"";
  };
  *os << "{" << text(f.value) << " at " << f.firstIndex;
  for (const Sub& s : f.subs) *os << ", " << (s ? text(*s) : std::string("Empty"));
  *os << "}";
}

class RegExpTest : public ::testing::Test {
 protected:
  void SetUp() override { Initialize(); }
  void TearDown() override { Uninitialize(); }

  static ComObject Engine(const std::u16string& pattern, Options o) {
    ComObject engine;
    EXPECT_TRUE(CreateObject("VBScript.RegExp", engine));
    EXPECT_TRUE(SetProperty(engine, "Pattern", Variant(pattern)));
    EXPECT_TRUE(SetProperty(engine, "IgnoreCase", Variant(o.ignoreCase)));
    EXPECT_TRUE(SetProperty(engine, "Multiline", Variant(o.multiline)));
    EXPECT_TRUE(SetProperty(engine, "Global", Variant(o.global)));
    return engine;
  }

  static int Int(const Variant& v) {
    EXPECT_EQ(v.kind(), Variant::Kind::kInt);
    return v.AsInt() ? *v.AsInt() : -1;
  }

  // Every match of Execute, or nullopt when Execute failed.
  static std::optional<std::vector<Found>> Matches(const std::u16string& pattern,
                                                   const std::u16string& subject, Options o) {
    ComObject engine = Engine(pattern, o);
    ComObject list = VariantToObject(CallMethod(engine, "Execute", Variant(subject)));
    if (list.IsEmpty()) return std::nullopt;
    std::vector<Found> out;
    int count = Int(GetProperty(list, "Count"));
    for (int i = 0; i < count; ++i) {
      ComObject m = VariantToObject(GetProperty(list, "Item", Variant(i)));
      const Variant value = GetProperty(m, "Value");
      EXPECT_NE(value.AsString(), nullptr);
      Found f{value.AsString() ? *value.AsString() : u"?", Int(GetProperty(m, "FirstIndex"))};
      EXPECT_EQ(Int(GetProperty(m, "Length")), static_cast<int>(f.value.size()));
      ComObject groups = VariantToObject(GetProperty(m, "SubMatches"));
      const int subs = Int(GetProperty(groups, "Count"));
      for (int g = 0; g < subs; ++g) {
        const Variant sub = GetProperty(groups, "Item", Variant(g));
        EXPECT_TRUE(sub.IsEmpty() || sub.AsString()) << "sub-match " << g;
        f.subs.push_back(sub.AsString() ? Sub(*sub.AsString()) : kEmpty);
      }
      out.push_back(f);
    }
    return out;
  }

  static std::u16string Replace(const std::u16string& pattern, const std::u16string& subject,
                                const std::u16string& replacement, Options o) {
    ComObject engine = Engine(pattern, o);
    Variant r = CallMethod(engine, "Replace", Variant(subject), Variant(replacement));
    EXPECT_NE(r.AsString(), nullptr) << "Replace failed";
    return r.AsString() ? *r.AsString() : u"<failed>";
  }
};

struct DialectCase {
  const char* what;
  std::u16string pattern;
  std::u16string subject;
  Options options;
  std::optional<std::vector<Found>> expected;  // nullopt: Execute fails
};

// The dialect, row by row: the matches Execute finds (value, FirstIndex, sub-matches with
// Empty told apart from ""), or nullopt where the pattern is a syntax error.
TEST_F(RegExpTest, Dialect) {
  const std::optional<std::vector<Found>> kError = std::nullopt;
  const std::vector<Found> kNone = {};
  const std::vector<DialectCase> cases = {
      // Syntax that is not in the dialect.
      {"lookbehind", u"(?<=a)b", u"ab", kPlain, kError},
      {"negative lookbehind", u"(?<!a)b", u"cb", kPlain, kError},
      {"inline option", u"(?i)a", u"a", kPlain, kError},
      {"inline option group", u"(?i:a)", u"a", kPlain, kError},
      {"inline option off", u"(?-i)a", u"a", kPlain, kError},
      {"named group", u"(?<n>a)", u"a", kPlain, kError},
      {"named group, P form", u"(?P<n>a)", u"a", kPlain, kError},
      {"named group, quote form", u"(?'n'a)", u"a", kPlain, kError},
      {"named back-reference", u"(a)\\k<n>", u"aa", kPlain, kError},
      {"named back-reference, brace form", u"(a)\\k{n}", u"aa", kPlain, kError},
      {"atomic group", u"(?>a)", u"a", kPlain, kError},
      {"possessive +", u"a++", u"aa", kPlain, kError},
      {"possessive *", u"a*+", u"aa", kPlain, kError},
      {"possessive ?", u"a?+", u"aa", kPlain, kError},
      {"possessive braces", u"a{2}+", u"aa", kPlain, kError},
      {"double quantifier", u"a**", u"aa", kPlain, kError},
      {"quantifier after lazy", u"a*??", u"aa", kPlain, kError},
      {"braces after braces", u"a{2}{3}", u"aaaaaa", kPlain, kError},
      {"comment", u"(?#c)a", u"a", kPlain, kError},
      {"conditional", u"(a)(?(1)b|c)", u"ab", kPlain, kError},
      {"verb", u"(*FAIL)|a", u"a", kPlain, kError},
      {"UTF switch", u"(*UTF)a", u"a", kPlain, kError},
      {"recursion", u"a(?R)?b", u"aabb", kPlain, kError},
      {"subroutine", u"(a)(?1)", u"aa", kPlain, kError},
      {"named subroutine", u"(a)(?&n)", u"aa", kPlain, kError},
      {"branch reset", u"(?|a)", u"a", kPlain, kError},
      {"callout", u"(?C1)a", u"a", kPlain, kError},
      {"open (? at the end", u"a(?", u"a", kPlain, kError},
      {"quantifier first", u"*a", u"a", kPlain, kError},
      {"quantifier after |", u"a|+b", u"b", kPlain, kError},
      {"quantifier after (", u"(?:?a)", u"a", kPlain, kError},
      {"braces first", u"{2}a", u"aa", kPlain, kError},
      {"quantified ^", u"^*a", u"a", kPlain, kError},
      {"quantified $", u"a$?", u"a", kPlain, kError},
      {"quantified \\b", u"\\b+a", u"a", kPlain, kError},
      {"braces min above max", u"a{3,2}", u"aaa", kPlain, kError},
      {"count beyond the engine's", u"a{70000}", u"a", kPlain, kError},
      {"unbalanced group", u"a(", u"a(", kPlain, kError},
      {"unbalanced close", u"a)(?:b", u"ab", kPlain, kError},
      {"close without open", u"a)", u"a)", kPlain, kError},
      {"unclosed nested group", u"((a)", u"a", kPlain, kError},
      {"bad range", u"[z-a]", u"a", kPlain, kError},
      {"bad range by escapes", u"[\\x42-\\x41]", u"A", kPlain, kError},
      {"unclosed class", u"[ab", u"a", kPlain, kError},
      {"class of ] left open", u"[]", u"]", kPlain, kError},
      {"negated class of ] left open", u"[^]", u"a", kPlain, kError},
      {"trailing backslash", u"a\\", u"a\\", kPlain, kError},
      {"trailing backslash in a class", u"[a\\", u"a", kPlain, kError},
      // Lookahead and non-capturing groups stay.
      {"lookahead", u"a(?=b)", u"acab", kGlobal, {{{u"a", 2}}}},
      {"negative lookahead", u"a(?!b)", u"abac", kGlobal, {{{u"a", 2}}}},
      {"group captured by a lookahead past the match",
       u"a(?=(bc))",
       u"xabc",
       kPlain,
       {{{u"a", 1, {u"bc"}}}}},
      {"lookahead groups overlapping from match to match",
       u"(?=(\\w+))",
       u"abc",
       kGlobal,
       {{{u"", 0, {u"abc"}}, {u"", 1, {u"bc"}}, {u"", 2, {u"c"}}}}},
      {"non-capturing group", u"(?:ab)+(c)", u"ababc", kPlain, {{{u"ababc", 0, {u"c"}}}}},
      {"groups counted by their (",
       u"((a)(b))",
       u"ab",
       kPlain,
       {{{u"ab", 0, {u"ab", u"a", u"b"}}}}},
      // An escape the dialect does not define stands for its character.
      {"\\A \\z \\Z \\G", u"\\A\\z\\Z\\G", u"xAzZG", kPlain, {{{u"AzZG", 1}}}},
      {"\\Q \\E \\p \\P \\X \\R \\h \\H \\N \\K \\e \\g",
       u"\\Q\\E\\p\\P\\X\\R\\h\\H\\N\\K\\e\\g",
       u"QEpPXRhHNKeg",
       kPlain,
       {{{u"QEpPXRhHNKeg", 0}}}},
      {"\\p{L} is p{L then } repeated", u"\\p{L}+", u"ap{L}}", kPlain, {{{u"p{L}}", 1}}}},
      {"\\Q does not quote", u"\\Qa.b", u"Qaxb", kPlain, {{{u"Qaxb", 0}}}},
      {"\\k without a name", u"\\k", u"k", kPlain, {{{u"k", 0}}}},
      {"escaped punctuation",
       u"\\$\\(\\)\\*\\+\\.\\?\\[\\]\\^\\{\\}\\|\\\\\\/\\-\\#\\ ",
       u"$()*+.?[]^{}|\\/-# ",
       kPlain,
       {{{u"$()*+.?[]^{}|\\/-# ", 0}}}},
      {"PCRE2 syntax characters stand for themselves", u"#a b", u"#a b", kPlain, {{{u"#a b", 0}}}},
      {"[[:digit:]] is a class and a ]",
       u"[[:digit:]]",
       u"5:]d]",
       kGlobal,
       {{{u":]", 1}, {u"d]", 3}}}},
      // \xhh and \uhhhh.
      {"\\xhh and \\uhhhh", u"\\x41\\u4E2D", u"zA\u4e2d", kPlain, {{{u"A\u4e2d", 1}}}},
      {"\\x with one digit is x", u"\\x4", u"x4", kPlain, {{{u"x4", 0}}}},
      {"\\x with a non-hex digit", u"\\x4g", u"x4g", kPlain, {{{u"x4g", 0}}}},
      {"\\x takes two digits only",
       u"\\x041",
       u"\x04"
       u"1",
       kPlain,
       {{{u"\x04"
          u"1",
          0}}}},
      {"\\u with two digits is u", u"\\u41", u"u41", kPlain, {{{u"u41", 0}}}},
      {"\\u with three digits is u", u"\\u004", u"u004", kPlain, {{{u"u004", 0}}}},
      {"\\u takes four digits only", u"\\u00411", u"A1", kPlain, {{{u"A1", 0}}}},
      {"\\x at the end", u"a\\x", u"ax", kPlain, {{{u"ax", 0}}}},
      // \cX.
      {"\\cM", u"\\cM", u"a\r", kPlain, {{{u"\r", 1}}}},
      {"\\cj is lower case", u"\\cj", u"\n", kPlain, {{{u"\n", 0}}}},
      {"\\c before a digit is c", u"\\c1", u"c1", kPlain, {{{u"c1", 0}}}},
      {"\\c at the end is c", u"a\\c", u"ac", kPlain, {{{u"ac", 0}}}},
      {"\\c in a class", u"[\\cA]", u"a\x01", kPlain, {{{u"\x01", 1}}}},
      // \0, back-references and octal escapes.
      {"\\0", u"\\0", std::u16string(u"a\0b", 3), kPlain, {{{std::u16string(1, u'\0'), 1}}}},
      {"\\0 takes octal digits",
       u"\\0011",
       u"\x01"
       u"1",
       kPlain,
       {{{u"\x01"
          u"1",
          0}}}},
      {"back-reference", u"(a+)b\\1", u"aabaa", kPlain, {{{u"aabaa", 0, {u"aa"}}}}},
      {"\\2 with one group is octal", u"(a)\\2", u"a\x02", kPlain, {{{u"a\x02", 0, {u"a"}}}}},
      {"\\1 before its group is octal",
       u"\\1(a)",
       u"\x01"
       u"a",
       kPlain,
       {{{u"\x01"
          u"a",
          0,
          {u"a"}}}}},
      {"\\1 inside its group", u"(a\\1)", u"a", kPlain, {{{u"a", 0, {u"a"}}}}},
      {"\\18 with one group: group 1 then 8", u"(a)\\18", u"aa8", kPlain, {{{u"aa8", 0, {u"a"}}}}},
      {"\\18 with no group: octal 1 then 8",
       u"\\18",
       u"\x01"
       u"8",
       kPlain,
       {{{u"\x01"
          u"8",
          0}}}},
      {"\\11 with one group: group 1 then 1", u"(a)\\11", u"aa1", kPlain, {{{u"aa1", 0, {u"a"}}}}},
      {"\\11 with eleven groups",
       u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)\\11",
       u"abcdefghijkk",
       kPlain,
       {{{u"abcdefghijkk",
          0,
          {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i", u"j", u"k"}}}}},
      {"\\101 is octal A", u"\\101", u"A", kPlain, {{{u"A", 0}}}},
      {"\\377 is U+00FF", u"\\377", u"\u00ff", kPlain, {{{u"\u00ff", 0}}}},
      {"\\400 is space then 0", u"\\400", u"@ 0", kPlain, {{{u" 0", 1}}}},
      {"\\777 is ? then 7", u"\\777", u"?7", kPlain, {{{u"?7", 0}}}},
      {"\\8 without a group", u"\\8\\9", u"89", kPlain, {{{u"89", 0}}}},
      {"\\8 with one group", u"(a)\\8", u"a8", kPlain, {{{u"a8", 0, {u"a"}}}}},
      {"unset group's back-reference is empty", u"(a)?\\1b", u"b", kPlain, {{{u"b", 0, {kEmpty}}}}},
      {"octal in a class", u"[\\101\\60]+", u"xA0", kPlain, {{{u"A0", 1}}}},
      {"\\8 in a class", u"[\\8]", u"8", kPlain, {{{u"8", 0}}}},
      // ^ and $.
      {"multiline ^ $ at CR LF",
       u"^\\w+$",
       u"ab\r\ncd\r\nef",
       kMulti,
       {{{u"ab", 0}, {u"cd", 4}, {u"ef", 8}}}},
      {"multiline ^ after LF and CR",
       u"^\\w",
       u"a\rb\nc\r\nd",
       kMulti,
       {{{u"a", 0}, {u"b", 2}, {u"c", 4}, {u"d", 7}}}},
      {"multiline $ before LF and CR",
       u"\\w$",
       u"a\rb\nc",
       kMulti,
       {{{u"a", 0}, {u"b", 2}, {u"c", 4}}}},
      {"CR LF holds a line end and a line start",
       u"^$",
       u"\r\n",
       kMulti,
       {{{u"", 0}, {u"", 1}, {u"", 2}}}},
      {"multiline ^ $", u"^b$", u"a\nb\nc", kMulti, {{{u"b", 2}}}},
      {"no multiline ^ $", u"^b$", u"a\nb\nc", kGlobal, kNone},
      {"no multiline: ^ only at the start", u"^a", u"aa\na", kGlobal, {{{u"a", 0}}}},
      {"no multiline: $ not before CR", u"a$", u"a\r", kPlain, kNone},
      {"$ only at the very end", u"a$", u"a\n", kPlain, kNone},
      {"$ at the end", u"c$", u"a\nc", kPlain, {{{u"c", 2}}}},
      // ., \s, \w, \d, \b.
      {"dot takes CR", u"a.b", u"a\rb", kGlobal, {{{u"a\rb", 0}}}},
      {"dot stops at LF", u"a.b", u"a\nb", kGlobal, kNone},
      {"dot takes a line separator", u"a.b", u"a\u2028b", kPlain, {{{u"a\u2028b", 0}}}},
      {"dot takes any other unit", u"a.b", u"a\u4e2db", kPlain, {{{u"a\u4e2db", 0}}}},
      {"dot in a class is a dot", u"[.]", u"a.", kPlain, {{{u".", 1}}}},
      {"\\s is space FF LF CR TAB VT",
       u"\\s+",
       u"x \f\n\r\t\v\u00a0\u3000\u2028",
       kPlain,
       {{{u" \f\n\r\t\v", 1}}}},
      {"\\S takes other spaces", u"\\S+", u"\u00a0\u3000 ", kPlain, {{{u"\u00a0\u3000", 0}}}},
      {"\\s in a class", u"[\\s]+", u"x \f\n\r\t\v\u00a0", kPlain, {{{u" \f\n\r\t\v", 1}}}},
      {"\\v is VT alone", u"\\v", u"\n\r\v", kGlobal, {{{u"\v", 2}}}},
      {"\\w is ASCII", u"\\w+", u"ab\u4e2dcd", kGlobal, {{{u"ab", 0}, {u"cd", 3}}}},
      {"\\d is ASCII",
       u"\\d",
       u"\uff11"
       u"2",
       kGlobal,
       {{{u"2", 1}}}},
      {"\\s is ASCII", u"a\\s", u"a\u3000a\tb", kGlobal, {{{u"a\t", 2}}}},
      {"\\b beside a Chinese character", u"\\bx", u"\u4e2dx", kPlain, {{{u"x", 1}}}},
      {"\\B", u"\\Bb", u"b ab", kPlain, {{{u"b", 3}}}},
      {"[\\b] is backspace", u"[\\b]", u"b\b", kPlain, {{{u"\b", 1}}}},
      {"\\f \\n \\r \\t", u"\\f\\n\\r\\t", u"\f\n\r\t", kPlain, {{{u"\f\n\r\t", 0}}}},
      // Classes.
      {"] first is a member", u"[]a]+", u"a]b", kPlain, {{{u"a]", 0}}}},
      {"] first after ^ is a member", u"[^]a]", u"]ab", kPlain, {{{u"b", 2}}}},
      {"range", u"[a-c]+", u"xabcd", kPlain, {{{u"abc", 1}}}},
      {"range by escapes", u"[\\x41-\\u0043]+", u"ABCD", kPlain, {{{u"ABC", 0}}}},
      {"hyphen last", u"[a-]+", u"b-a-", kPlain, {{{u"-a-", 1}}}},
      {"hyphen first", u"[-a]+", u"b-a-", kPlain, {{{u"-a-", 1}}}},
      {"hyphen after a class escape", u"[\\d-z]+", u"a5-z", kPlain, {{{u"5-z", 1}}}},
      {"escaped hyphen", u"[a\\-z]+", u"b-az", kPlain, {{{u"-az", 1}}}},
      {"escaped ]", u"[\\]]", u"a]", kPlain, {{{u"]", 1}}}},
      {"^ not first", u"[a^]+", u"b^a", kPlain, {{{u"^a", 1}}}},
      {"negated class takes LF", u"[^a]", u"a\n", kPlain, {{{u"\n", 1}}}},
      {"\\D in a class", u"[\\Da]+", u"1ba2", kPlain, {{{u"ba", 1}}}},
      {"undefined escape in a class", u"[\\A\\z]+", u"xAz", kPlain, {{{u"Az", 1}}}},
      // Braces that are no quantifier are literals.
      {"lone {", u"a{", u"a{", kPlain, {{{u"a{", 0}}}},
      {"{x}", u"a{x}", u"a{x}", kPlain, {{{u"a{x}", 0}}}},
      {"unclosed count", u"a{2", u"a{2", kPlain, {{{u"a{2", 0}}}},
      {"count without a minimum", u"a{,2}", u"a{,2}", kPlain, {{{u"a{,2}", 0}}}},
      {"lone } and ]", u"a}]", u"a}]", kPlain, {{{u"a}]", 0}}}},
      {"{ first", u"{a", u"{a", kPlain, {{{u"{a", 0}}}},
      {"{n}", u"a{2}", u"aaa", kPlain, {{{u"aa", 0}}}},
      {"{n,}", u"a{2,}", u"aaa", kPlain, {{{u"aaa", 0}}}},
      {"{n,m} lazy", u"a{1,2}?", u"aa", kPlain, {{{u"a", 0}}}},
      {"{0}", u"xa{0}", u"xa", kPlain, {{{u"x", 0}}}},
      {"a quantifier takes the last unit only",
       u"abc+d{2}",
       u"abcccdd abcabcdd",
       kGlobal,
       {{{u"abcccdd", 0}, {u"abcdd", 11}}}},
      {"an escaped unit takes the quantifier", u"a\\x41{2}", u"aAA", kPlain, {{{u"aAA", 0}}}},
      // Repetition and captures.
      {"lazy", u"<.*?>", u"<a><b>", kGlobal, {{{u"<a>", 0}, {u"<b>", 3}}}},
      {"greedy", u"<.*>", u"<a><b>", kGlobal, {{{u"<a><b>", 0}}}},
      {"capture of the last iteration that took part",
       u"(?:(a)|(b))+",
       u"ab",
       kPlain,
       {{{u"ab", 0, {u"a", u"b"}}}}},
      {"empty iteration leaves no capture", u"(a*)*", u"b", kPlain, {{{u"", 0, {kEmpty}}}}},
      {"empty iteration under ?", u"(a*)?", u"b", kPlain, {{{u"", 0, {kEmpty}}}}},
      {"empty iteration under {0,3}", u"(a*){0,3}", u"b", kPlain, {{{u"", 0, {kEmpty}}}}},
      {"empty iteration after a real one", u"(a*)*", u"aab", kPlain, {{{u"aa", 0, {u"aa"}}}}},
      {"empty iterations, global",
       u"(a*)*",
       u"ab",
       kGlobal,
       {{{u"a", 0, {u"a"}}, {u"", 1, {kEmpty}}, {u"", 2, {kEmpty}}}}},
      {"the required iteration may be empty", u"(a*)+", u"b", kPlain, {{{u"", 0, {u""}}}}},
      {"an optional one may not", u"(a|)+", u"ab", kPlain, {{{u"a", 0, {u"a"}}}}},
      {"empty alternative first", u"(|a)*", u"a", kPlain, {{{u"a", 0, {u"a"}}}}},
      {"capture kept past an empty iteration",
       u"(?:(a)|b|)*",
       u"ab",
       kPlain,
       {{{u"ab", 0, {u"a"}}}}},
      {"groups numbered as written around a checked repetition",
       u"(x)(a*)*(y)",
       u"xy",
       kPlain,
       {{{u"xy", 0, {u"x", kEmpty, u"y"}}}}},
      {"back-reference past a checked repetition",
       u"(?:(a)|b|)*\\1",
       u"abba",
       kPlain,
       {{{u"abba", 0, {u"a"}}}}},
      {"inner capture kept from an earlier outer iteration",
       u"((a*)*b)*",
       u"abb",
       kPlain,
       {{{u"abb", 0, {u"b", u"a"}}}}},
      // Case, offsets, alternatives, empty matches.
      {"case respected", u"ABC", u"xabc", kPlain, kNone},
      {"case ignored", u"ABC", u"xabc", kCase, {{{u"abc", 1}}}},
      {"case ignored in a class", u"[A-C]+", u"xabc", kCase, {{{u"abc", 1}}}},
      {"case folds ASCII only", u"\u00e9", u"\u00c9", kCase, kNone},
      {"Kelvin sign is not k", u"k", u"\u212a", kCase, kNone},
      {"case ignored by a back-reference", u"(a)\\1", u"aA", kCase, {{{u"aA", 0, {u"a"}}}}},
      {"not global: first only", u"a", u"aaa", kPlain, {{{u"a", 0}}}},
      {"global: all", u"a", u"aaa", kGlobal, {{{u"a", 0}, {u"a", 1}, {u"a", 2}}}},
      {"empty matches advance one unit",
       u"x*",
       u"axxb",
       kGlobal,
       {{{u"", 0}, {u"xx", 1}, {u"", 3}, {u"", 4}}}},
      {"empty pattern", u"", u"ab", kGlobal, {{{u"", 0}, {u"", 1}, {u"", 2}}}},
      {"offsets count UTF-16 units", u"b", u"\u4e2d\u4e2db", kPlain, {{{u"b", 2}}}},
      {"alternatives", u"x|y", u"ayx", kGlobal, {{{u"y", 1}, {u"x", 2}}}},
      {"empty alternatives", u"a||b", u"b", kPlain, {{{u"", 0}}}},
      {"empty group", u"a()b", u"ab", kPlain, {{{u"ab", 0, {u""}}}}},
  };
  for (const DialectCase& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.subject, c.options), c.expected) << c.what;
  }
}

// Patterns made of the dialect's syntax characters, in any order: each one either fails
// cleanly or runs, and every match and sub-match it reports lies inside the subject.
TEST_F(RegExpTest, AnyPatternFailsOrRunsWithinTheSubject) {
  const std::u16string alphabet = u"()[]{}\\^$.*+?|-,:=!<>0123789abcxuk";
  const std::u16string subject = u"ab\r\nc{1}[x]-0\\a";
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  for (int round = 0; round < 20000; ++round) {
    std::u16string pattern;
    const std::size_t length = next() % 12;
    for (std::size_t i = 0; i < length; ++i) pattern += alphabet[next() % alphabet.size()];
    const Options options{(next() & 1) != 0, (next() & 1) != 0, true};
    ComObject engine = Engine(pattern, options);
    ComObject list = VariantToObject(CallMethod(engine, "Execute", Variant(subject)));
    if (list.IsEmpty()) continue;
    const int count = Int(GetProperty(list, "Count"));
    for (int m = 0; m < count; ++m) {
      ComObject match = VariantToObject(GetProperty(list, "Item", Variant(m)));
      const int first = Int(GetProperty(match, "FirstIndex"));
      const int matched = Int(GetProperty(match, "Length"));
      ASSERT_TRUE(first >= 0 && matched >= 0 && first + matched <= static_cast<int>(subject.size()))
          << std::string(pattern.begin(), pattern.end());
      ComObject groups = VariantToObject(GetProperty(match, "SubMatches"));
      const int subs = Int(GetProperty(groups, "Count"));
      for (int g = 0; g < subs; ++g) {
        const Variant sub = GetProperty(groups, "Item", Variant(g));
        ASSERT_TRUE(sub.IsEmpty() || (sub.AsString() && sub.AsString()->size() <= subject.size()))
            << std::string(pattern.begin(), pattern.end());
      }
    }
  }
}

TEST_F(RegExpTest, DeepNestingFailsCleanly) {
  auto nested = [](int depth, const std::u16string& inner) {
    std::u16string p;
    for (int i = 0; i < depth; ++i) p += u"(";
    p += inner;
    for (int i = 0; i < depth; ++i) p += u")*";
    return p;
  };
  // Nesting within the limit runs, with every group and its hidden markers mapped away.
  auto shallow = Matches(nested(100, u"a"), u"aa", kPlain);
  ASSERT_TRUE(shallow.has_value());
  ASSERT_EQ(shallow->size(), 1u);
  EXPECT_EQ((*shallow)[0].value, u"aa");
  EXPECT_EQ((*shallow)[0].subs.size(), 100u);
  // Far beyond it the pattern is refused, not a stack overflow.
  EXPECT_EQ(Matches(nested(100'000, u"a"), u"a", kPlain), std::nullopt);
  EXPECT_EQ(Matches(std::u16string(100'000, u'(') + u"a", u"a", kPlain), std::nullopt);
}

TEST_F(RegExpTest, GroupThatTakesNoPartIsEmpty) {
  ComObject engine = Engine(u"(a)|(b)", kPlain);
  ComObject list = VariantToObject(CallMethod(engine, "Execute", Variant(std::u16string(u"b"))));
  ComObject match = VariantToObject(GetProperty(list, "Item", Variant(0)));
  ComObject groups = VariantToObject(GetProperty(match, "SubMatches"));
  EXPECT_EQ(Int(GetProperty(groups, "Count")), 2);
  // A group that took no part: Item succeeds and gives the empty Variant.
  const Variant zero(0);
  const Variant* args[] = {&zero};
  Variant first(true);
  EXPECT_TRUE(Invoke(groups, "Item", InvokeKind::kGet, InvokeArgs(args, 1), first));
  EXPECT_TRUE(first.IsEmpty());
  const Variant second = GetProperty(groups, "Item", Variant(1.0));
  ASSERT_NE(second.AsString(), nullptr);
  EXPECT_EQ(*second.AsString(), u"b");
  // Outside the groups, and not a whole number: Item fails.
  for (const Variant& bad : {Variant(2), Variant(-1), Variant(0.5), Variant()}) {
    Variant out;
    const Variant* badArgs[] = {&bad};
    EXPECT_FALSE(Invoke(groups, "Item", InvokeKind::kGet, InvokeArgs(badArgs, 1), out));
  }
}

TEST_F(RegExpTest, MatchListOutlivesEngineAndIndexesAreChecked) {
  ComObject list;
  {
    ComObject engine = Engine(u"(\\d)(\\d)?", kGlobal);
    list = VariantToObject(CallMethod(engine, "Execute", Variant(std::u16string(u"a12b3"))));
  }
  ASSERT_FALSE(list.IsEmpty());
  EXPECT_EQ(Int(GetProperty(list, "Count")), 2);
  ComObject second = VariantToObject(GetProperty(list, "Item", Variant(1.0)));
  EXPECT_EQ(*GetProperty(second, "Value").AsString(), u"3");
  EXPECT_EQ(Int(GetProperty(second, "FirstIndex")), 4);
  ComObject groups = VariantToObject(GetProperty(second, "SubMatches"));
  EXPECT_EQ(*GetProperty(groups, "Item", Variant(0)).AsString(), u"3");
  EXPECT_TRUE(GetProperty(groups, "Item", Variant(1)).IsEmpty());
  EXPECT_TRUE(VariantToObject(GetProperty(list, "Item", Variant(2))).IsEmpty());
  EXPECT_TRUE(VariantToObject(GetProperty(list, "Item", Variant(-1.0))).IsEmpty());
}

TEST_F(RegExpTest, NoSinglelineMember) {
  ComObject engine = Engine(u"a.b", kGlobal);
  EXPECT_FALSE(SetProperty(engine, "Singleline", Variant(true)));
  EXPECT_TRUE(GetProperty(engine, "Singleline").IsEmpty());
  ComObject list = VariantToObject(CallMethod(engine, "Execute", Variant(std::u16string(u"a\nb"))));
  ASSERT_FALSE(list.IsEmpty());
  EXPECT_EQ(Int(GetProperty(list, "Count")), 0);
}

TEST_F(RegExpTest, PropertiesReadBackAndOptionsTakeEffectOnNextRun) {
  ComObject engine = Engine(u"ABC", kPlain);
  EXPECT_EQ(*GetProperty(engine, "pattern").AsString(), u"ABC");
  EXPECT_EQ(*GetProperty(engine, "IGNORECASE").AsBool(), false);
  EXPECT_EQ(*CallMethod(engine, "Test", Variant(std::u16string(u"abc"))).AsBool(), false);
  EXPECT_TRUE(SetProperty(engine, "IgnoreCase", Variant(true)));
  EXPECT_EQ(*CallMethod(engine, "Test", Variant(std::u16string(u"abc"))).AsBool(), true);
  EXPECT_FALSE(SetProperty(engine, "IgnoreCase", Variant(std::u16string(u"yes"))));
  EXPECT_FALSE(SetProperty(engine, "Pattern", Variant()));
  EXPECT_EQ(*GetProperty(engine, "Pattern").AsString(), u"ABC");
  // A pattern that does not compile fails every run, and a later good one works again.
  EXPECT_TRUE(SetProperty(engine, "Pattern", Variant(std::u16string(u"(("))));
  EXPECT_TRUE(CallMethod(engine, "Test", Variant(std::u16string(u"a"))).IsEmpty());
  EXPECT_TRUE(
      CallMethod(engine, "Replace", Variant(std::u16string(u"a")), Variant(std::u16string(u"b")))
          .IsEmpty());
  EXPECT_TRUE(SetProperty(engine, "Pattern", Variant(std::u16string(u"a"))));
  EXPECT_EQ(*CallMethod(engine, "Test", Variant(std::u16string(u"a"))).AsBool(), true);
}

TEST_F(RegExpTest, ReadsAByteArrayAsUtf16) {
  ComObject engine = Engine(u"\u4e2d(.)", kPlain);
  // U+4E2D 'x' and an odd trailing byte, which is ignored.
  std::string bytes(
      "\x2d\x4e"
      "x\x00"
      "\x7f",
      5);
  ComObject list = VariantToObject(CallMethod(engine, "Execute", VariantFromBytes(bytes)));
  ComObject match = VariantToObject(GetProperty(list, "Item", Variant(0)));
  EXPECT_EQ(*GetProperty(match, "Value").AsString(), u"\u4e2dx");
}

TEST_F(RegExpTest, Replace) {
  struct Case {
    std::u16string pattern, subject, replacement;
    Options options;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {u"(\\w+) (\\w+)", u"ab cd", u"$2 $1", kPlain, u"cd ab"},
      {u"b", u"abc", u"[$&$&]", kPlain, u"a[bb]c"},
      {u"b", u"abc", u"[$`|$']", kPlain, u"a[a|c]c"},
      {u"b", u"abc", u"$$", kPlain, u"a$c"},
      {u"b", u"abc", u"$0$x$", kPlain, u"a$0$x$c"},
      {u"(b)", u"abc", u"$10", kPlain, u"ab0c"},
      {u"(b)", u"abc", u"$2", kPlain, u"a$2c"},
      {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)", u"abcdefghijkl", u"$12$11$1", kPlain, u"lka"},
      {u"(x)?b", u"abc", u"[$1]", kPlain, u"a[]c"},
      {u"a", u"aaa", u"b", kPlain, u"baa"},
      {u"a", u"aaa", u"b", kGlobal, u"bbb"},
      {u"x*", u"abc", u"-", kGlobal, u"-a-b-c-"},
      {u"\\W", u"a b", u"-", kGlobal, u"a-b"},
      {u"z", u"abc", u"-", kGlobal, u"abc"},
      // Group numbers are the dialect's, also where the rewritten pattern has more groups.
      {u"(x*)*y", u"xxy", u"[$1]", kPlain, u"[xx]"},
      {u"(x*)*y", u"y", u"[$1]", kPlain, u"[]"},
      {u"(a|)+(b)", u"aab", u"$2$1", kPlain, u"ba"},
      {u"^\\w", u"ab\r\ncd", u"-", kMulti, u"-b\r\n-d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Replace(c.pattern, c.subject, c.replacement, c.options), c.expected)
        << std::string(c.replacement.begin(), c.replacement.end());
  }
}

TEST_F(RegExpTest, ReplaceThatWouldGrowPastItsCapFails) {
  // One match at the end of a long subject: each $` copies all of it. A few copies are a
  // fair result; hundreds would ask for gigabytes, and Replace fails instead of building them.
  const std::u16string subject = std::u16string(1'000'000, u'a') + u"b";
  ComObject engine = Engine(u"b$", kGlobal);
  const Variant few = CallMethod(engine, "Replace", Variant(subject), Variant(u"$`$`"));
  ASSERT_NE(few.AsString(), nullptr);
  EXPECT_EQ(few.AsString()->size(), 3'000'000u);
  std::u16string many;
  for (int i = 0; i < 300; ++i) many += u"$`$'";
  EXPECT_TRUE(CallMethod(engine, "Replace", Variant(subject), Variant(many)).IsEmpty());
}

TEST_F(RegExpTest, BacktrackingDeeperThanTheJitStackStillMatches) {
  // Every iteration of the group leaves a backtracking point: far more than the JIT stack
  // holds, so the interpreter takes over, with its frames on the heap.
  const std::u16string as(300'000, u'a');
  const std::u16string subject = as + u"c" + std::u16string(2'000'000, u'x') + u"bac";
  auto found = Matches(u"(?:(a)|b)*c", subject, kGlobal);
  ASSERT_TRUE(found.has_value());
  ASSERT_EQ(found->size(), 2u);
  EXPECT_EQ((*found)[0].value, as + u"c");
  EXPECT_EQ((*found)[0].subs, std::vector<Sub>{u"a"});
  EXPECT_EQ((*found)[1], (Found{u"bac", static_cast<int>(subject.size()) - 3, {u"a"}}));
}

TEST_F(RegExpTest, CatastrophicPatternFailsInsteadOfHanging) {
  // Exponential backtracking from the first start position: the match limit stops it.
  EXPECT_EQ(Matches(u"(a+)+[bc]", std::u16string(100'000, u'a'), kGlobal), std::nullopt);
  EXPECT_EQ(Matches(u"(a|aa)*[bc]", std::u16string(200, u'a'), kGlobal), std::nullopt);
}

TEST_F(RegExpTest, CostlyAtEveryStartPositionStopsAtTheTimeBudget) {
  // Each start position stays under the match limit, but there are very many of them: only
  // the time budget of the whole run ends it. The second subject first offers a long stretch
  // of start positions that cost nothing, so a search that widens its steps there must not
  // then take a wide step into the costly part.
  std::u16string costly;
  while (costly.size() < 4'000'000) costly += u"aaaaaaaaaaaaaaaaaaaaaaaax";
  const std::u16string subjects[] = {costly, std::u16string(8'000'000, u'x') + costly};
  const auto saved = regexp::TimeBudget();
  regexp::SetTimeBudget(std::chrono::milliseconds(300));
  for (const std::u16string& subject : subjects) {
    auto start = std::chrono::steady_clock::now();
    auto result = Matches(u"(a|aa)*[bc]", subject, kGlobal);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, std::nullopt);
    // Unbounded, this run takes hours; the bound here is generous for a loaded machine.
    EXPECT_LT(elapsed, std::chrono::seconds(60));
  }
  regexp::SetTimeBudget(saved);
}

TEST_F(RegExpTest, LongSubjectsGiveTheMatchesOfASearchInOrder) {
  // Subjects long enough that the first match is looked for from both halves at once: the
  // answer is still the leftmost match, whichever half holds it, also for a match that runs
  // across the middle and when both halves hold one.
  const std::size_t n = 1'200'000;
  const std::size_t mid = n / 2;
  auto with = [&](std::initializer_list<std::pair<std::size_t, std::u16string>> at) {
    std::u16string s(n, u'.');
    for (const auto& [pos, text] : at) s.replace(pos, text.size(), text);
    return s;
  };
  struct Case {
    const char* name;
    std::u16string subject;
    Options options;
    std::vector<Found> want;
  };
  const Case cases[] = {
      {"first half only", with({{1000, u"<a7>"}}), kPlain, {{u"<a7>", 1000, {u"7"}}}},
      {"second half only", with({{n - 10, u"<a8>"}}), kPlain, {{u"<a8>", int(n - 10), {u"8"}}}},
      {"both halves", with({{mid - 5000, u"<a1>"}, {mid + 5, u"<a2>"}}), kPlain,
       {{u"<a1>", int(mid - 5000), {u"1"}}}},
      {"across the middle", with({{mid - 2, u"<a12345>"}}), kPlain,
       {{u"<a12345>", int(mid - 2), {u"12345"}}}},
      {"starting right after the middle", with({{mid + 1, u"<a3>"}}), kPlain,
       {{u"<a3>", int(mid + 1), {u"3"}}}},
      {"global, in order", with({{7, u"<a1>"}, {mid, u"<a2>"}, {n - 4, u"<a3>"}}), kGlobal,
       {{u"<a1>", 7, {u"1"}}, {u"<a2>", int(mid), {u"2"}}, {u"<a3>", int(n - 4), {u"3"}}}},
      {"none", with({}), kGlobal, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Matches(u"<a(\\d+)>", c.subject, c.options), c.want) << c.name;
  }
}

TEST_F(RegExpTest, ALongSubjectFailsWhereASearchInOrderWould) {
  // Start positions in the first half that no limit lets through fail the run even though
  // the second half holds a match; a match in the first half before them is found.
  const std::size_t n = 1'200'000;
  std::u16string subject(n, u'x');
  const std::u16string costly = std::u16string(45, u'a') + u"!";
  subject.replace(1000, costly.size(), costly);
  subject.replace(n - 10, 1, u"b");
  const auto saved = regexp::TimeBudget();
  regexp::SetTimeBudget(std::chrono::milliseconds(300));
  EXPECT_EQ(Matches(u"(a|aa)*b", subject, kPlain), std::nullopt);
  subject.replace(10, 1, u"b");
  EXPECT_EQ(Matches(u"(a|aa)*b", subject, kPlain), (std::vector<Found>{{u"b", 10, {kEmpty}}}));
  regexp::SetTimeBudget(saved);
}

TEST_F(RegExpTest, ObjectsOnManyThreadsShareCompiledPatternsSafely) {
  // The same patterns with other options, on several threads at once, each object with its
  // own answer: a compiled pattern is shared between objects, never its options or state.
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      Initialize();
      for (int i = 0; i < 200; ++i) {
        const bool ignoreCase = (i + t) % 2 == 0;
        const auto found = Matches(u"a(b+)", u"xABBx abb", {ignoreCase, false, true});
        const std::vector<Found> want =
            ignoreCase ? std::vector<Found>{{u"ABB", 1, {u"BB"}}, {u"abb", 6, {u"bb"}}}
                       : std::vector<Found>{{u"abb", 6, {u"bb"}}};
        if (found != want) ++wrong[static_cast<std::size_t>(t)];
        const std::u16string pattern = u"p" + std::u16string(static_cast<std::size_t>(i % 12), u'q');
        if (Matches(pattern, pattern, kPlain) != std::vector<Found>{{pattern, 0}}) {
          ++wrong[static_cast<std::size_t>(t)];
        }
      }
      Uninitialize();
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quorvel::platform
