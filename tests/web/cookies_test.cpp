#include "web/cookies.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quorvel {
namespace {

struct MergeCase {
  const char* cookies;
  const char* updates;
  const char* merged;
  const char* updatesAfter;
};

TEST(MergeCookies, Table) {
  const MergeCase cases[] = {
      {"a=1; b=2; c=3", "b=9; c=deleted; d=4", "b=9; d=4; a=1", "b=9;c=deleted;d=4"},
      {"a=1; b=2", "a=deleted", "b=2", "a=deleted"},
      {"a=0 ; c=3", "", "a=0; c=3", ""},
      {"", "x=1; x=1; y=2", "x=1; y=2", "x=1;x=1;y=2"},
      {"", "x=1;x=2", "x=1; x=2", "x=1;x=2"},
      {"a=1;a=2", "", "a=1", ""},
      {"b=1", "b", "b", "b"},
      {"", "", "", ""},
      {"a=1;;b=2", "", "a=1; ; b=2", ""},
      // spaces inside names and values go too, the full-width one included
      {"s id=a b;\xA1\xA1k=v", "n = 1 ", "n=1; sid=ab; k=v", "n=1"},
      // a deletion removes the old entry even when no update is left
      {"a=1", "a=deleted; b=deleted", "", "a=deleted;b=deleted"},
      // an update replaces the old entry of its name even when both are equal
      {"a=1; b=2", "b=2", "b=2; a=1", "b=2"},
      {"\xD6\xD0=1", "\xD6\xD0=2", "\xD6\xD0=2", "\xD6\xD0=2"},
  };
  for (const auto& c : cases) {
    Text cookies(c.cookies);
    Text updates(c.updates);
    const Text result = MergeCookies(cookies, updates);
    EXPECT_EQ(result.str(), c.merged) << c.cookies << " + " << c.updates;
    EXPECT_EQ(cookies.str(), c.merged) << c.cookies << " + " << c.updates;
    EXPECT_EQ(updates.str(), c.updatesAfter) << c.cookies << " + " << c.updates;
  }
}

TEST(MergeCookies, ResultFeedsTheNextMerge) {
  Text kept;
  Text first("sid=1; lang=cn");
  MergeCookies(kept, first);
  Text second("sid=2; tmp=deleted");
  MergeCookies(kept, second);
  Text third("lang=deleted");
  EXPECT_EQ(MergeCookies(kept, third).str(), "sid=2");
  EXPECT_EQ(kept.str(), "sid=2");
}

TEST(CookieName, Table) {
  const char* cases[][2] = {
      {" sid =1", "sid"}, {"flag", "flag"}, {" flag ", "flag"},           {"=v", ""},
      {"a=b=c", "a"},     {"", ""},         {"\xA1\xA1k\xA1\xA1=v", "k"},
  };
  for (const auto& c : cases) EXPECT_EQ(CookieName(Text(c[0])).str(), c[1]) << c[0];
}

TEST(NameListed, MatchesByCookieName) {
  const TextArray entries{Text("a=1"), Text(" b =2"), Text("flag")};
  EXPECT_TRUE(NameListed(entries, Text("a")));
  EXPECT_TRUE(NameListed(entries, Text("b")));
  EXPECT_TRUE(NameListed(entries, Text("flag")));
  EXPECT_FALSE(NameListed(entries, Text("A")));
  EXPECT_FALSE(NameListed(entries, Text("a=1")));
  EXPECT_FALSE(NameListed(TextArray(), Text("")));
}

TEST(JoinUnique, Table) {
  const char* cases[][3] = {
      {"a; b; a", "; ", "a; b"}, {"a; b; a; ", "; ", "a; b"}, {"", "; ", ""},
      {"a", "; ", "a"},          {"; a; ; a", "; ", "; a"},   {"x,y,x,z,y", ",", "x,y,z"},
      {"A,a", ",", "A,a"},       {"a,b", "", "a,b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinUnique(Text(c[0]), Text(c[1])).str(), c[2]) << c[0] << " [" << c[1] << "]";
  }
}

TEST(IndexOfText, FirstEqualElement) {
  const TextArray a{Text("x"), Text(""), Text("y"), Text("x")};
  EXPECT_EQ(IndexOfText(a, Text("x")), 1);
  EXPECT_EQ(IndexOfText(a, Text("")), 2);
  EXPECT_EQ(IndexOfText(a, Text("y")), 3);
  EXPECT_EQ(IndexOfText(a, Text("X")), -1);
  EXPECT_EQ(IndexOfText(TextArray(), Text("")), -1);
}

// The merge step by step as the routine is described: a name test against the growing
// merged list for every old entry, then the joined text with its repeats dropped.
std::string MergeModel(const Text& cookies, const Text& updates) {
  const TextArray old = SplitText(RemoveSpaces(cookies), Text(";"));
  TextArray merged = SplitText(RemoveSpaces(updates), Text(";"));
  for (const Text& entry : old.items()) {
    if (!NameListed(merged, CookieName(entry))) AppendText(merged, entry);
  }
  Text k;
  for (const Text& entry : merged.items()) {
    if (TextRight(entry, 8).str() != "=deleted") k = ConcatText(k, entry, Text("; "));
  }
  k = TextLeft(k, TextLength(k) - 2);
  return JoinUnique(k, Text("; ")).str();
}

// Random texts whose entries share names and values, repeat exactly, lack "=", are empty or
// deleted: the merged text is exactly the step-by-step one.
TEST(MergeCookies, AgreesWithTheStepByStepMerge) {
  std::mt19937 rng(17);
  const std::vector<std::string> pieces = {"a", "b", "a", "=",        "=",        "1", "2",
                                           ";", ";", " ", "=deleted", "\xD6\xD0", "c", "\x81"};
  auto random_text = [&] {
    std::string s;
    for (int k = rng() % 16; k > 0; --k) s += pieces[rng() % pieces.size()];
    return Text(s);
  };
  for (int n = 0; n < 5000; ++n) {
    Text cookies = random_text();
    Text updates = random_text();
    const std::string want = MergeModel(cookies, updates);
    const std::string before = cookies.str() + " + " + updates.str();
    ASSERT_EQ(MergeCookies(cookies, updates).str(), want) << testing::PrintToString(before);
  }
}

// Random cookie texts of whole GBK characters: the merged text has no space but its
// separators, no entry that ends in "=deleted", no exact repeat, and every non-empty update that
// is not deleted. Lone lead bytes (which take the following byte, ";" included, with them) only
// have to leave the merge safe and consistent.
TEST(MergeCookies, AnyBytes) {
  std::mt19937 rng(5);
  auto random_text = [&](const std::vector<std::string>& pieces) {
    std::string s;
    for (int k = rng() % 12; k > 0; --k) s += pieces[rng() % pieces.size()];
    return Text(s);
  };
  const std::vector<std::string> whole = {"a", "b",        "=",        "1",       ";",
                                          " ", "\xA1\xA1", "=deleted", "\xD6\xD0"};
  for (int n = 0; n < 3000; ++n) {
    Text cookies = random_text(whole);
    Text updates = random_text(whole);
    const Text before = updates;
    const Text merged = MergeCookies(cookies, updates);
    ASSERT_EQ(merged, cookies);
    EXPECT_EQ(updates, RemoveSpaces(before));
    const TextArray entries = SplitText(merged, Text("; "));
    for (int i = 1; i <= ElementCount(entries); ++i) {
      EXPECT_EQ(FindText(entries[i], Text(" ")), -1) << merged.str();
      EXPECT_NE(TextRight(entries[i], 8).str(), "=deleted") << merged.str();
      EXPECT_EQ(IndexOfText(entries, entries[i]), i) << merged.str();
    }
    const TextArray updateEntries = SplitText(updates, Text(";"));
    for (const Text& u : updateEntries.items()) {
      if (!u.empty() && TextRight(u, 8).str() != "=deleted") {
        EXPECT_NE(IndexOfText(entries, u), -1) << merged.str() << " lacks " << u.str();
      }
    }
  }
  const std::vector<std::string> ragged = {"a", "=", ";", " ", "\x81", "\xA1", "=deleted"};
  for (int n = 0; n < 3000; ++n) {
    Text cookies = random_text(ragged);
    Text updates = random_text(ragged);
    const Text merged = MergeCookies(cookies, updates);
    ASSERT_EQ(merged, cookies);
  }
}

}  // namespace
}  // namespace quorvel
