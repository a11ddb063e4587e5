// Tests of the "VBScript.RegExp" class, driven as its users drive it: created by class name
// and reached by member name through the automation layer.
#include "platform/regexp/regexp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
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

struct Found {
  std::u16string value;
  int firstIndex;
  bool operator==(const Found&) const = default;
};

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

TEST_F(RegExpTest, Dialect) {
  const std::vector<DialectCase> cases = {
      {"dot takes CR", u"a.b", u"a\rb", kGlobal, {{{u"a\rb", 0}}}},
      {"dot stops at LF", u"a.b", u"a\nb", kGlobal, {{}}},
      {"dot takes any other unit", u"a.b", u"a\u4e2db", kPlain, {{{u"a\u4e2db", 0}}}},
      {"\\w is ASCII", u"\\w+", u"ab\u4e2dcd", kGlobal, {{{u"ab", 0}, {u"cd", 3}}}},
      {"\\d is ASCII",
       u"\\d",
       u"\uff11"
       u"2",
       kGlobal,
       {{{u"2", 1}}}},
      {"\\s is ASCII", u"a\\s", u"a\u3000a\tb", kGlobal, {{{u"a\t", 2}}}},
      {"\\b beside a Chinese character", u"\\bx", u"\u4e2dx", kPlain, {{{u"x", 1}}}},
      {"lazy", u"<.*?>", u"<a><b>", kGlobal, {{{u"<a>", 0}, {u"<b>", 3}}}},
      {"greedy", u"<.*>", u"<a><b>", kGlobal, {{{u"<a><b>", 0}}}},
      {"multiline ^ $", u"^b$", u"a\nb\nc", kMulti, {{{u"b", 2}}}},
      {"no multiline ^ $", u"^b$", u"a\nb\nc", kGlobal, {{}}},
      {"$ only at the very end", u"a$", u"a\n", kPlain, {{}}},
      {"$ at the end", u"c$", u"a\nc", kPlain, {{{u"c", 2}}}},
      {"case respected", u"ABC", u"xabc", kPlain, {{}}},
      {"case ignored", u"ABC", u"xabc", kCase, {{{u"abc", 1}}}},
      {"not global: first only", u"a", u"aaa", kPlain, {{{u"a", 0}}}},
      {"global: all", u"a", u"aaa", kGlobal, {{{u"a", 0}, {u"a", 1}, {u"a", 2}}}},
      {"empty matches advance one unit",
       u"x*",
       u"axxb",
       kGlobal,
       {{{u"", 0}, {u"xx", 1}, {u"", 3}, {u"", 4}}}},
      {"empty pattern", u"", u"ab", kGlobal, {{{u"", 0}, {u"", 1}, {u"", 2}}}},
      {"back-reference", u"(a+)b\\1", u"aabaa", kPlain, {{{u"aabaa", 0}}}},
      {"unset group's back-reference is empty", u"(a)?\\1b", u"b", kPlain, {{{u"b", 0}}}},
      {"\\xhh and \\uhhhh", u"\\x41\\u4E2D", u"zA\u4e2d", kPlain, {{{u"A\u4e2d", 1}}}},
      {"offsets count UTF-16 units", u"b", u"\u4e2d\u4e2db", kPlain, {{{u"b", 2}}}},
      {"alternatives", u"x|y", u"ayx", kGlobal, {{{u"y", 1}, {u"x", 2}}}},
      {"quoted to the end", u"\\Qa.b", u"axb a.b", kGlobal, {{{u"a.b", 4}}}},
      {"unbalanced group", u"a(", u"a(", kPlain, std::nullopt},
      {"unbalanced close", u"a)(?:b", u"ab", kPlain, std::nullopt},
      {"bad range", u"[z-a]", u"a", kPlain, std::nullopt},
      {"UTF switch refused", u"(*UTF)a", u"a", kPlain, std::nullopt},
  };
  for (const DialectCase& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.subject, c.options), c.expected) << c.what;
  }
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

TEST_F(RegExpTest, CatastrophicPatternFailsInsteadOfHanging) {
  // Exponential backtracking from the first start position: the match limit stops it.
  EXPECT_EQ(Matches(u"(a+)+[bc]", std::u16string(100'000, u'a'), kGlobal), std::nullopt);
  EXPECT_EQ(Matches(u"(a|aa)*[bc]", std::u16string(200, u'a'), kGlobal), std::nullopt);
}

TEST_F(RegExpTest, CostlyAtEveryStartPositionStopsAtTheTimeBudget) {
  // Each start position stays under the match limit, but there are very many of them: only
  // the time budget of the whole run ends it.
  std::u16string subject;
  while (subject.size() < 4'000'000) subject += u"aaaaaaaaaaaaaaaaaaaaaaaax";
  const auto saved = regexp::TimeBudget();
  regexp::SetTimeBudget(std::chrono::milliseconds(300));
  auto start = std::chrono::steady_clock::now();
  auto result = Matches(u"(a|aa)*[bc]", subject, kGlobal);
  auto elapsed = std::chrono::steady_clock::now() - start;
  regexp::SetTimeBudget(saved);
  EXPECT_EQ(result, std::nullopt);
  // Unbounded, this run takes hours; the bound here is generous for a loaded machine.
  EXPECT_LT(elapsed, std::chrono::seconds(60));
}

}  // namespace
}  // namespace quorvel::platform
