// Tests of RegexObject: options and their defaults, the quote marker, match and sub-match
// texts with their GBK byte positions, counts, Replace, repeated Create, reads before
// Create and out-of-range indexes, copies, and the result-page pattern on a page shaped like
// the real one.
#include "regex/regex_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "platform/automation/automation.h"
#include "tests/platform/wine.h"
#include "text/convert.h"

namespace quorvel {
namespace {

class RegexObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(platform::IsInitialized()); }
  void TearDown() override { EXPECT_FALSE(platform::IsInitialized()); }
};

TEST_F(RegexObjectTest, DefaultsIgnoreCaseAndCaseSensitiveDoesNot) {
  RegexObject r;
  EXPECT_TRUE(r.Create(Text("ABC"), Text("abc")));
  EXPECT_EQ(r.MatchCount(), 1);
  EXPECT_EQ(r.MatchText(1), Text("abc"));
  EXPECT_TRUE(r.Create(Text("ABC"), Text("abc"), /*caseSensitive=*/true));
  EXPECT_EQ(r.MatchCount(), 0);
}

TEST_F(RegexObjectTest, DefaultsAreMultilineAndGlobal) {
  RegexObject r;
  ASSERT_TRUE(r.Create(Text("^b$"), Text("a\nb\nb")));
  EXPECT_EQ(r.MatchCount(), 2);
  ASSERT_TRUE(r.Create(Text("^b$"), Text("a\nb\nb"), false, /*multiLine=*/false));
  EXPECT_EQ(r.MatchCount(), 0);
  ASSERT_TRUE(r.Create(Text("b$"), Text("a\nb\nb"), false, /*multiLine=*/false));
  EXPECT_EQ(r.MatchCount(), 1);  // only at the very end
  ASSERT_TRUE(r.Create(Text("b"), Text("bbb"), false, true, /*global=*/false));
  EXPECT_EQ(r.MatchCount(), 1);
}

TEST_F(RegexObjectTest, NoMatchAndBadPattern) {
  RegexObject r;
  EXPECT_TRUE(r.Create(Text("z"), Text("abc")));
  EXPECT_EQ(r.MatchCount(), 0);
  EXPECT_EQ(r.MatchText(1), Text());
  EXPECT_FALSE(r.Create(Text("a("), Text("a(")));
  EXPECT_TRUE(r.matches.IsEmpty());
  EXPECT_EQ(r.MatchCount(), 0);
  EXPECT_EQ(r.SubmatchCount(), 0);
  EXPECT_EQ(r.GetPattern(), Text("a("));  // the engine exists and keeps its pattern
}

TEST_F(RegexObjectTest, QuoteMarker) {
  const Text pattern = ConcatText(Text("a"), Gbk("#引号"), Text("b"));
  ASSERT_EQ(pattern.size(), 7u);
  RegexObject r;
  ASSERT_TRUE(r.Create(pattern, Text("xa\"b"), false, true, true, /*quoteMarker=*/true));
  EXPECT_EQ(r.GetPattern(), Text("a\"b"));
  EXPECT_EQ(r.MatchText(1), Text("a\"b"));
  ASSERT_TRUE(r.Create(pattern, Text("xa\"b")));
  EXPECT_EQ(r.GetPattern(), pattern);
  EXPECT_EQ(r.MatchCount(), 0);
}

struct PositionCase {
  const char* subject;  // UTF-8, turned into GBK
  const char* pattern;
  int match;
  int position;  // zero-based GBK byte offset
};

void CheckPositions(const std::vector<PositionCase>& cases) {
  for (const PositionCase& c : cases) {
    RegexObject r;
    ASSERT_TRUE(r.Create(Gbk(c.pattern), Gbk(c.subject)));
    int position = 99;
    Text text = r.MatchText(c.match, &position);
    EXPECT_EQ(position, c.position) << c.subject << " / " << c.pattern << " #" << c.match;
    // The position points at the match's own bytes.
    EXPECT_EQ(TextMid(Gbk(c.subject), position + 1, TextLength(text)), text) << c.subject;
  }
}

TEST_F(RegexObjectTest, MatchPositionsAreGbkByteOffsets) {
  CheckPositions({
      {"xxabc", "abc", 1, 2},
      {"中ab", "ab", 1, 2},
      {"中中ab", "ab", 1, 4},
      {"中中ab中ab", "ab", 2, 8},
      {"ab", "ab", 1, 0},
      {"中x中", "中", 2, 3},
  });
}

TEST_F(RegexObjectTest, EmptyMatchesStandWhereTheyAreFound) {
  if (test::UnderWine()) {
    GTEST_SKIP() << "Wine's VBScript.RegExp never ends a global search whose match is empty";
  }
  // Also at the very end.
  CheckPositions({
      {"中ab", "x*", 1, 0},
      {"中ab", "x*", 2, 2},
      {"中ab", "x*", 4, 4},
      {"", "x*", 1, 0},
  });
}

TEST_F(RegexObjectTest, SubmatchTextsAndPositions) {
  RegexObject r;
  // Sub-match "bb" stands at byte 3; an earlier "bb" before the match is not reported.
  ASSERT_TRUE(r.Create(Gbk("中(b+)(x)?(c*)"), Gbk("bb中bb中bbc")));
  ASSERT_EQ(r.MatchCount(), 2);
  EXPECT_EQ(r.SubmatchCount(), 3);
  int position = 99;
  EXPECT_EQ(r.SubmatchText(1, 1, &position), Text("bb"));
  EXPECT_EQ(position, 4);
  EXPECT_EQ(r.SubmatchText(2, 1, &position), Text("bb"));
  EXPECT_EQ(position, 8);
  EXPECT_EQ(r.SubmatchText(2, 3, &position), Text("c"));
  EXPECT_EQ(position, 10);
  // A group that took no part: empty text, no position.
  EXPECT_EQ(r.SubmatchText(1, 2, &position), Text());
  EXPECT_EQ(position, -2);
  // A group that took part with empty text stands at its match.
  EXPECT_EQ(r.SubmatchText(1, 3, &position), Text());
  EXPECT_EQ(position, 2);
  // Sub-match texts come back as GBK.
  ASSERT_TRUE(r.Create(Gbk("<td>(.*?)</td>"), Gbk("<td>黄金 I</td>")));
  EXPECT_EQ(r.SubmatchText(1, 1, &position), Gbk("黄金 I"));
  EXPECT_EQ(position, 4);
}

TEST_F(RegexObjectTest, IndexesOutsideTheMatchesGiveEmptyAndNoPosition) {
  RegexObject r;
  ASSERT_TRUE(r.Create(Text("(a)(b)"), Text("xab")));
  for (int match : {0, -1, 2, INT_MIN, INT_MAX}) {
    int position = 99;
    EXPECT_EQ(r.MatchText(match, &position), Text()) << match;
    EXPECT_EQ(position, -2) << match;
    EXPECT_EQ(r.SubmatchText(match, 1, &position), Text()) << match;
    EXPECT_EQ(position, -2) << match;
  }
  for (int sub : {0, -1, 3, INT_MIN, INT_MAX}) {
    int position = 99;
    EXPECT_EQ(r.SubmatchText(1, sub, &position), Text()) << sub;
    EXPECT_EQ(position, -2) << sub;
  }
  EXPECT_EQ(r.SubmatchText(1, 2), Text("b"));
}

TEST_F(RegexObjectTest, ReadingBeforeCreate) {
  RegexObject r;
  EXPECT_EQ(r.MatchCount(), 0);
  EXPECT_EQ(r.SubmatchCount(), 0);
  int position = 99;
  EXPECT_EQ(r.MatchText(1, &position), Text());
  EXPECT_EQ(position, -2);
  EXPECT_EQ(r.SubmatchText(1, 1, &position), Text());
  EXPECT_EQ(position, -2);
  EXPECT_EQ(r.GetPattern(), Text());
  EXPECT_EQ(r.Replace(Text("x")), Text());
  EXPECT_TRUE(r.engine.IsEmpty());
  EXPECT_TRUE(r.subject.IsEmpty());
}

TEST_F(RegexObjectTest, CreateTwiceKeepsOnlyTheLast) {
  RegexObject r;
  ASSERT_TRUE(r.Create(Text("(a)(b)"), Text("ab ab ab")));
  EXPECT_EQ(r.MatchCount(), 3);
  ASSERT_TRUE(r.Create(Gbk("中"), Gbk("x中")));
  EXPECT_EQ(r.MatchCount(), 1);
  EXPECT_EQ(r.SubmatchCount(), 0);
  EXPECT_EQ(r.GetPattern(), Gbk("中"));
  int position = 99;
  EXPECT_EQ(r.MatchText(1, &position), Gbk("中"));
  EXPECT_EQ(position, 1);
  EXPECT_EQ(r.Replace(Text("y")), Text("xy"));
}

TEST_F(RegexObjectTest, Replace) {
  RegexObject r;
  ASSERT_TRUE(r.Create(Text("(\\w+)@(\\w+)"), Gbk("甲 ab@cd 乙 ef@gh")));
  EXPECT_EQ(r.Replace(Gbk("$2丙$1")), Gbk("甲 cd丙ab 乙 gh丙ef"));
  // The subject is unchanged by Replace.
  EXPECT_EQ(r.Replace(Text("$&")), Gbk("甲 ab@cd 乙 ef@gh"));
  // The engine sees the subject's characters only: nothing is matched past the last one.
  ASSERT_TRUE(r.Create(Text("\\W"), Text("a b")));
  EXPECT_EQ(r.Replace(Text("-")), Text("a-b"));
  ASSERT_TRUE(r.Create(Text("."), Text("ab")));
  EXPECT_EQ(r.MatchCount(), 2);
  ASSERT_TRUE(r.Create(Text("b$"), Text("ab"), false, false));
  EXPECT_EQ(r.MatchCount(), 1);
}

TEST_F(RegexObjectTest, ConstructionAndCopiesKeepInitialisationBalanced) {
  {
    RegexObject a;
    EXPECT_TRUE(platform::IsInitialized());
    ASSERT_TRUE(a.Create(Text("(b)"), Text("abc")));
    {
      RegexObject b(a);
      EXPECT_EQ(b.engine, a.engine);
      EXPECT_EQ(b.matches, a.matches);
      EXPECT_EQ(b.SubmatchText(1, 1), Text("b"));
      RegexObject c;
      c = b;
      EXPECT_EQ(c.MatchText(1), Text("b"));
    }
    EXPECT_TRUE(platform::IsInitialized());
    EXPECT_EQ(a.MatchText(1), Text("b"));
  }
  EXPECT_FALSE(platform::IsInitialized());
}

// Positions as they are defined: the GBK length of the subject's units before the match,
// and for a sub-match the first occurrence of its text from there on in the subject's whole
// GBK text; computed here the slow way, from the subject as it stands.
int DefinedMatchPosition(RegexObject& r, int match) {
  const platform::ComObject m = platform::VariantToObject(
      platform::GetProperty(r.matches, "Item", platform::Variant(static_cast<double>(match - 1))));
  const double first = platform::VariantToNumber(platform::GetProperty(m, "FirstIndex"));
  std::string bytes = platform::VariantToBytes(r.subject);
  bytes.resize(std::min(bytes.size(), 2 * static_cast<std::size_t>(first)));
  return TextLength(WideToGbk(Bytes(std::move(bytes))));
}

int DefinedSubmatchPosition(RegexObject& r, int match, const Text& text) {
  const int offset = DefinedMatchPosition(r, match);
  if (text.empty()) return offset;
  const Text whole = WideToGbk(Bytes(platform::VariantToBytes(r.subject)));
  const int found = FindText(whole, text, offset + 1);
  return found > 0 ? found - 1 : -2;
}

void ExpectDefinedPositions(RegexObject& r) {
  const int matches = r.MatchCount();
  ASSERT_GT(matches, 0);
  for (int k = 1; k <= matches; ++k) {
    int position = 99;
    r.MatchText(k, &position);
    ASSERT_EQ(position, DefinedMatchPosition(r, k)) << "match " << k;
    for (int g = 1; g <= 3; ++g) {
      const Text text = r.SubmatchText(k, g, &position);
      ASSERT_EQ(position, DefinedSubmatchPosition(r, k, text)) << "match " << k << " group " << g;
    }
  }
}

TEST_F(RegexObjectTest, PositionsOnLongSubjectsAreThoseOfTheWholeText) {
  // Pages many thousand units long, matches from the first byte to the last, in ASCII,
  // among CJK characters and among Greek and full-width letters (whose units are not
  // places where the conversion is known to split); a second group that equals the first
  // is reported where its text first occurs in the match.
  const char* fillers[] = {"<td>中文字</td>", "αβγδ ", "ＡＢＣ", "x", "段位：黄金 I\r\n"};
  for (int variant = 0; variant < 4; ++variant) {
    std::string page;
    for (int i = 0; page.size() < 40000; ++i) {
      if (i % 37 == variant) {
        page += "k" + std::to_string(i % 7) + "=" + std::to_string(i % 3) + "-" +
                std::to_string(i % 3 == 0 ? 0 : i % 5) + ";";
      }
      page += fillers[(i + variant) % 5];
    }
    if (variant % 2) page += "end=1-1;";
    SCOPED_TRACE(variant);
    RegexObject r;
    ASSERT_TRUE(r.Create(Text("(\\w+)=(\\d)-(\\d);"), Gbk(page)));
    ExpectDefinedPositions(r);
  }
}

TEST_F(RegexObjectTest, PositionsFollowTheSubjectAsItStands) {
  // The subject member set anew after Create: units that the conversion joins (a base and
  // a combining mark become one GBK character), a surrogate pair, a lone surrogate and a zero
  // unit, at every distance from the matches; positions are read before and after.
  RegexObject r;
  std::string ascii;
  for (int i = 0; i < 3000; ++i) ascii += i % 50 == 7 ? "ab=1-1;" : "zzzzzzz";
  ASSERT_TRUE(r.Create(Text("(\\w+)=(\\d)-(\\d);"), Text(ascii)));
  ExpectDefinedPositions(r);
  const std::u16string pieces[] = {u"e\u0301", u"\U0001F600", u"\xD800z", u"\u4E2D\u0308"};
  for (int kind = 0; kind < 5; ++kind) {
    std::u16string units;
    for (std::size_t i = 0; i < ascii.size(); ++i) units += static_cast<char16_t>(ascii[i]);
    for (std::size_t at = 3; at + 2 < units.size(); at += 41 + kind) {
      if (kind == 4) {
        units[at] = u'\0';  // the GBK text ends at the first zero unit
        break;
      }
      units.replace(at, 2, pieces[kind]);
    }
    std::string bytes;
    for (char16_t u : units) {
      bytes += static_cast<char>(u & 0xFF);
      bytes += static_cast<char>(u >> 8);
    }
    SCOPED_TRACE(kind);
    r.subject = platform::VariantFromBytes(std::move(bytes));
    ExpectDefinedPositions(r);
  }
  // Matches that begin with a unit joined to the one before them and end with one joined to
  // the one after them: the GBK text at their ends differs from that of the units alone.
  std::string joined;
  for (int i = 0; i < 60; ++i) joined += std::string(i * 7 % 50, 'z') + "e?b=1-1e;";
  ASSERT_TRUE(r.Create(Text("(\\?)(\\w)=\\d-\\d(e)"), Text(joined)));
  std::string bytes;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    const bool mark = joined[i] == '?' || (joined[i] == ';' && i % 3 != 0);
    const char16_t u = mark ? u'\u0301' : static_cast<char16_t>(joined[i]);
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  r.subject = platform::VariantFromBytes(std::move(bytes));
  ExpectDefinedPositions(r);
}

// The result-page pattern and a page shaped like the real one, after its decoding: rows of
// two cells, each line ended by CR LF, the win-rate cell reading "?td>".
Text ResultPattern() {
  return Gbk(
      "\t\t\t\t<td>(.*?)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n\t\t\t\t<td>段位</td>\r\n"
      "\t\t\t\t<td>(.*?)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n\t\t\t\t<td>隐藏分</td>\r\n"
      "\t\t\t\t<td>(\\w+)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n\t\t\t\t<td>排位胜场</td>\r\n"
      "\t\t\t\t<td>(\\w+)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n\t\t\t\t<td>排位胜率</td>\r\n"
      "\t\t\t\t<td>(.*?)td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n\t\t\t\t<td>最近登录</td>\r\n"
      "\t\t\t\t<td>(.*?)</td>");
}

Text Row(const char* label, const char* value) {
  return Gbk(std::string("\t\t\t<tr>\r\n\t\t\t\t<td>") + label + "</td>\r\n\t\t\t\t<td>" + value +
             "</td>\r\n\t\t\t</tr>\r\n");
}

Text ResultPage(const char* hiddenScore) {
  return ConcatText(
      Gbk("<html>\r\n<body>\r\n\t\t<table>\r\n"), Row("大区", "电信一"), Row("查询时间", "2014"),
      Row("游戏ID", "abc"), Row("段位", "黄金 I"), Row("隐藏分", hiddenScore),
      Row("排位胜场", "56"),
      Gbk("\t\t\t<tr>\r\n\t\t\t\t<td>排位胜率</td>\r\n\t\t\t\t<td>52.3?td>\r\n\t\t\t</tr>\r\n"),
      Row("最近登录", "2014-05-01"), Gbk("\t\t</table>\r\n</body>\r\n</html>\r\n"));
}

TEST_F(RegexObjectTest, ResultPagePattern) {
  ASSERT_EQ(ResultPattern().size(), 320u);
  RegexObject r;
  ASSERT_TRUE(r.Create(ResultPattern(), ResultPage("1234")));
  ASSERT_EQ(r.MatchCount(), 1);
  EXPECT_EQ(r.SubmatchCount(), 6);
  // The player's row is one line: the rows before it never leak into the first value.
  const std::vector<Text> expected = {Text("abc"), Gbk("黄金 I"), Text("1234"),
                                      Text("56"),  Text("52.3?"), Text("2014-05-01")};
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(r.SubmatchText(1, i), expected[i - 1]) << i;
  // A hidden score with a character outside \w breaks the whole match.
  ASSERT_TRUE(r.Create(ResultPattern(), ResultPage("1,234")));
  EXPECT_EQ(r.MatchCount(), 0);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(r.SubmatchText(1, i), Text()) << i;
}

}  // namespace
}  // namespace quorvel
