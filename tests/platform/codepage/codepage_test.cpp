// The code-page layer: size queries and conversions, refused input, replacement of
// malformed and unrepresentable characters, the composite check, per-thread state.
#include "platform/codepage/codepage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::platform {
namespace {

// On Windows the system converts, and codepage.h names where its answers are its own.
#ifdef _WIN32
constexpr bool kSystemConverts = true;
#else
constexpr bool kSystemConverts = false;
#endif

// True when `got` is one or more U+FFFD and at most `most`.
bool ReplacementsOnly(std::u16string_view got, std::size_t most) {
  return !got.empty() && got.size() <= most && got.find_first_not_of(u'\uFFFD') == got.npos;
}

// Size query, then conversion into a buffer of exactly that size; checks the two agree.
std::u16string ToWide(unsigned cp, std::string_view in, int len) {
  int n = MultiByteToWide(cp, 0, in.data(), len, nullptr, 0);
  if (n == 0) return u"<refused>";
  std::u16string out(static_cast<std::size_t>(n), u'#');
  EXPECT_EQ(MultiByteToWide(cp, 0, in.data(), len, out.data(), n), n);
  return out;
}
std::u16string ToWide(unsigned cp, std::string_view in) {
  return ToWide(cp, in, static_cast<int>(in.size()));
}

std::string FromWide(unsigned cp, unsigned flags, std::u16string_view in, int len) {
  int n = WideToMultiByte(cp, flags, in.data(), len, nullptr, 0);
  if (n == 0) return "<refused>";
  std::string out(static_cast<std::size_t>(n), '#');
  EXPECT_EQ(WideToMultiByte(cp, flags, in.data(), len, out.data(), n), n);
  return out;
}
std::string FromWide(unsigned cp, unsigned flags, std::u16string_view in) {
  return FromWide(cp, flags, in, static_cast<int>(in.size()));
}

TEST(CodePage, MinusOneCountsAndConvertsTheTerminatingZero) {
  const char* utf8 =
      "\xE4\xB8\xAD"
      "A";  // 中A
  EXPECT_EQ(MultiByteToWide(kCodePageUtf8, 0, utf8, -1, nullptr, 0), 3);
  EXPECT_EQ(ToWide(kCodePageUtf8, utf8, -1), std::u16string(u"\u4E2DA\0", 3));
  EXPECT_EQ(ToWide(kCodePageUtf8, utf8), u"\u4E2DA");  // explicit length: no terminator

  const char16_t* wide = u"\u4E2DA";
  EXPECT_EQ(FromWide(kCodePageGbk, 0, wide, -1), std::string("\xD6\xD0"
                                                             "A\0",
                                                             4));
  EXPECT_EQ(FromWide(kCodePageUtf8, 0, wide, -1), std::string("\xE4\xB8\xAD"
                                                              "A\0",
                                                              5));
  EXPECT_EQ(FromWide(kCodePageGbk, 0, wide, 2),
            "\xD6\xD0"
            "A");
}

TEST(CodePage, ExplicitLengthConvertsZerosInside) {
  EXPECT_EQ(ToWide(kCodePageGbk, std::string_view("A\0B", 3)), std::u16string(u"A\0B", 3));
  EXPECT_EQ(FromWide(kCodePageGbk, 0, std::u16string_view(u"A\0B", 3)), std::string("A\0B", 3));
}

TEST(CodePage, CapacityZeroWithABufferIsASizeQuery) {
  char16_t w[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWide(kCodePageGbk, 0, "AB", 2, w, 0), 2);
  EXPECT_EQ(w[0], u'#');
  char b[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(WideToMultiByte(kCodePageGbk, 0, u"\u4E2D", 1, b, 0), 2);
  EXPECT_EQ(b[0], '#');
}

TEST(CodePage, TooSmallBufferGivesZeroAndStaysInsideIt) {
  // Capacity one short of the need; the guard element just past the capacity must survive.
  // "A中" in GBK ends in a two-byte character that cannot be split.
  char16_t w[3] = {u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWide(kCodePageUtf8, 0, "AB\0", 3, w, 2), 0);
  EXPECT_EQ(w[2], u'#');
  char b[3] = {'#', '#', '#'};
  EXPECT_EQ(WideToMultiByte(kCodePageGbk, 0, u"A\u4E2D", 2, b, 2), 0);
  EXPECT_EQ(b[2], '#');
  char u[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(WideToMultiByte(kCodePageUtf8, 0, u"\u4E2D", -1, u, 3), 0);
  EXPECT_EQ(u[3], '#');
  // Exactly the size needed is enough.
  EXPECT_EQ(WideToMultiByte(kCodePageGbk, 0, u"A\u4E2D", 2, b, 3), 3);
  EXPECT_EQ(std::string(b, 3), "A\xD6\xD0");
}

TEST(CodePage, RefusedInputGivesZero) {
  char16_t w[8];
  char b[8];
  struct M {
    unsigned cp, flags;
    const char* in;
    int len, cap;
  };
  for (const M& m : {M{kCodePageGbk, 0, "A", 0, 8}, M{kCodePageGbk, 0, nullptr, -1, 8},
                     M{kCodePageGbk, 0, "A", -2, 8}, M{kCodePageGbk, 0, "A", 1, -1},
                     M{0, 0, "A", 1, 8}, M{1252, 0, "A", 1, 8}, M{937, 0, "A", 1, 8},
                     M{kCodePageUtf8, 1, "A", 1, 8}, M{kCodePageGbk, kCompositeCheck, "A", 1, 8}}) {
    SCOPED_TRACE(testing::Message() << m.cp << " flags " << m.flags << " len " << m.len);
    EXPECT_EQ(MultiByteToWide(m.cp, m.flags, m.in, m.len, nullptr, m.cap < 0 ? m.cap : 0), 0);
    EXPECT_EQ(MultiByteToWide(m.cp, m.flags, m.in, m.len, w, m.cap), 0);
  }
  struct W {
    unsigned cp, flags;
    const char16_t* in;
    int len, cap;
  };
  for (const W& m :
       {W{kCodePageGbk, 0, u"A", 0, 8}, W{kCodePageGbk, 0, nullptr, -1, 8},
        W{kCodePageGbk, 0, u"A", -5, 8}, W{kCodePageGbk, 0, u"A", 1, -3}, W{1200, 0, u"A", 1, 8},
        W{kCodePageUtf8, 0x400, u"A", 1, 8}, W{kCodePageGbk, kCompositeCheck | 1, u"A", 1, 8}}) {
    SCOPED_TRACE(testing::Message() << m.cp << " flags " << m.flags << " len " << m.len);
    EXPECT_EQ(WideToMultiByte(m.cp, m.flags, m.in, m.len, nullptr, m.cap < 0 ? m.cap : 0), 0);
    EXPECT_EQ(WideToMultiByte(m.cp, m.flags, m.in, m.len, b, m.cap), 0);
  }
}

TEST(CodePage, MalformedUtf8BecomesOneReplacementPerMaximalInvalidSequence) {
  struct Case {
    std::string_view in;
    std::u16string_view want;
    bool countIsTheSystems = false;  // on Windows: one or more U+FFFD
  };
  const Case cases[] = {
      {"\xDE"
       "a",
       u"\uFFFDa"},             // lead byte without its trail byte
      {"\xE4\xB8", u"\uFFFD"},  // truncated at the end
      {"\xE4\xB8"
       "A\xE4\xB8\xAD",
       u"\uFFFDA\u4E2D"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                            // overlong form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", true},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", true},  // above U+10FFFF
      {"\x80\xBF", u"\uFFFD\uFFFD"},                            // stray trail bytes
      {"\xFF"
       "b",
       u"\uFFFDb"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},  // valid four-byte form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    if (kSystemConverts && c.countIsTheSystems) {
      EXPECT_TRUE(ReplacementsOnly(ToWide(kCodePageUtf8, c.in), c.in.size()));
    } else {
      EXPECT_EQ(ToWide(kCodePageUtf8, c.in), c.want);
    }
  }
}

TEST(CodePage, GbkIsCodePage936) {
  struct Case {
    std::string_view gbk;
    std::u16string_view wide;
  };
  const Case roundTrip[] = {
      {"\x80", u"\u20AC"},      // euro sign
      {"\xA1\xA1", u"\u3000"},  // ideographic space
      {"\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {"\xA3\xA1", u"\uFF01"},
      {"\xA8\xA6", u"\u00E9"},
      {"\xFD\x9C", u"\uF92C"},  // compatibility ideograph, a character of its own here
  };
  for (const Case& c : roundTrip) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.gbk)));
    EXPECT_EQ(ToWide(kCodePageGbk, c.gbk), c.wide);
    EXPECT_EQ(FromWide(kCodePageGbk, 0, c.wide), c.gbk);
  }
}

TEST(CodePage, InvalidGbkIsReplacedNotRejected) {
  struct Case {
    std::string_view in;
    std::u16string_view want;
  };
  const Case cases[] = {
      {"\x81", u"\uFFFD"},      // lead byte at the end
      {"A\x81 ", u"A\uFFFD "},  // lead byte before a one-byte character
      {"\x81\x7F"
       "B",
       u"\uFFFD\x7F"
       "B"},
      {"\xFE\xFE\x81", u"\uE4C5\uFFFD"},  // a pair, then a lead byte at the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    EXPECT_EQ(ToWide(kCodePageGbk, c.in), c.want);
  }
  // The terminating zero is never taken for a trail byte.
  EXPECT_EQ(ToWide(kCodePageGbk, "A\x81", -1), std::u16string(u"A\uFFFD\0", 3));
}

TEST(CodePage, CharacterTheTargetLacksBecomesQuestionMark) {
  struct Case {
    unsigned cp;
    std::u16string_view in;
    std::string_view want;
  };
  const Case cases[] = {
      {kCodePageGbk, u"\uD55C\uAD6D", "??"},   // Korean syllables
      {kCodePageGbk, u"a\U0001F600b", "a?b"},  // outside the BMP: one '?'
      {kCodePageGbk, u"\u00F1", "?"},
      {kCodePageGbk, u"a\u180E\u200Bb", "a??b"},    // default-ignorable: replaced, not dropped
      {kCodePageGbk, u"x\xD83D", "x?"},             // high surrogate at the very end
      {kCodePageGbk, u"\xDE00y", "?y"},             // low surrogate alone
      {kCodePageGbk, u"\xD83D\xD83D\xDE00", "??"},  // lone high, then a pair
      {kCodePageUtf8, u"\xD800z", "\xEF\xBF\xBDz"},
      {kCodePageUtf8, u"\U0001F600", "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.in)));
    EXPECT_EQ(FromWide(c.cp, 0, c.in), c.want);
  }
}

TEST(CodePage, CompositeCheckComposesWhereGbkHasTheCharacter) {
  struct Case {
    std::u16string_view in;
    std::string_view composed;  // with kCompositeCheck
    std::string_view separate;  // without
  };
  const Case cases[] = {
      {u"e\u0301", "\xA8\xA6", "e?"},
      {u"Caf"
       u"e\u0301!",
       "Caf\xA8\xA6!", "Cafe?!"},
      // u + diaeresis + acute: U+01D8 (on Windows one mark composes: U+00FC, then '?')
      {u"u\u0308\u0301", kSystemConverts ? "\xA8\xB9?" : "\xA8\xB6", "u??"},
      {u"a\u0323", "a?", "a?"},  // GBK lacks U+1EA1: stays apart
      {u"\u0301e", "?e", "?e"},  // a mark with nothing before it
      {u"e\u0301\u0301", "\xA8\xA6?", "e??"},
      {u"\uF92C", "\xFD\x9C", "\xFD\x9C"},  // no singleton rewriting (not U+90CE)
      {u"\u2126", "?", "?"},                // ohm sign is not turned into omega
      {u"\xD800\u0301", "??", "??"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.in)));
    EXPECT_EQ(FromWide(kCodePageGbk, kCompositeCheck, c.in), c.composed);
    EXPECT_EQ(FromWide(kCodePageGbk, 0, c.in), c.separate);
  }
  EXPECT_EQ(FromWide(kCodePageGbk, kCompositeCheck, u"e\u0301", -1), std::string("\xA8\xA6\0", 3));
  // UTF-8 has every character; only the ICU backend composes it (codepage.h).
  EXPECT_EQ(FromWide(kCodePageUtf8, kCompositeCheck, u"e\u0301"),
            kSystemConverts ? "e\xCC\x81" : "\xC3\xA9");
}

TEST(CodePage, NoStateCarriesOverFromOneCallToTheNext) {
  // A conversion that failed for lack of room leaves pending output in the converter.
  char b[1];
  EXPECT_EQ(WideToMultiByte(kCodePageGbk, 0, u"\u4E2D\u6587", 2, b, 1), 0);
  EXPECT_EQ(FromWide(kCodePageGbk, 0, u"A"), "A");
  char16_t w[1];
  EXPECT_EQ(MultiByteToWide(kCodePageUtf8, 0, "\xF0\x9F\x98\x80", 4, w, 1), 0);
  EXPECT_EQ(ToWide(kCodePageUtf8, "A"), u"A");
  // A call that ends inside a character does not finish it in the next call.
  EXPECT_EQ(ToWide(kCodePageUtf8, "\xE4\xB8"), u"\uFFFD");
  EXPECT_EQ(ToWide(kCodePageUtf8, "\xAD"), u"\uFFFD");
  EXPECT_EQ(FromWide(kCodePageUtf8, 0, u"\xD83D"), "\xEF\xBF\xBD");
  EXPECT_EQ(FromWide(kCodePageUtf8, 0, u"\xDE00"), "\xEF\xBF\xBD");
}

TEST(CodePage, LongInputCountsAcrossInternalPieces) {
  // Long enough to need many rounds of the size query's scratch space, with multi-byte
  // characters straddling every boundary for some prefix length.
  for (int prefix = 0; prefix < 3; ++prefix) {
    std::u16string wide(static_cast<std::size_t>(prefix), u'a');
    std::string utf8(static_cast<std::size_t>(prefix), 'a');
    std::string gbk = utf8;
    for (int i = 0; i < 30000; ++i) {
      wide += u"\u4E2Dx";
      utf8 +=
          "\xE4\xB8\xAD"
          "x";
      gbk += "\xD6\xD0x";
    }
    SCOPED_TRACE(prefix);
    EXPECT_EQ(FromWide(kCodePageUtf8, 0, wide), utf8);
    EXPECT_EQ(FromWide(kCodePageGbk, kCompositeCheck, wide), gbk);
    EXPECT_EQ(ToWide(kCodePageUtf8, utf8), wide);
    EXPECT_EQ(ToWide(kCodePageGbk, gbk), wide);
  }
}

TEST(CodePage, AnyInputGivesConsistentSizesAndNeverOverruns) {
  // Random bytes and random units (surrogates and combining marks included): the size
  // query always matches the conversion, and one unit less never fits.
  std::mt19937 rng(20240601);
  const char16_t pool[] = {u'a',  u'e',      u'\u0301', u'\u0308', u'\u4E2D', u'\xD83D', u'\xDE00',
                           u'\0', u'\uFFFF', u'\u20AC', u'\uAC00', u'\u1161', u'\u180E', u'\u200B'};
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 40 + 1, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::u16string units(rng() % 40 + 1, u'\0');
    for (char16_t& u : units) u = rng() % 2 ? pool[rng() % std::size(pool)] : char16_t(rng());
    for (unsigned cp : {kCodePageGbk, kCodePageUtf8}) {
      SCOPED_TRACE(testing::Message() << cp << " " << testing::PrintToString(bytes) << " "
                                      << testing::PrintToString(units));
      const int nb = static_cast<int>(bytes.size());
      int n = MultiByteToWide(cp, 0, bytes.data(), nb, nullptr, 0);
      ASSERT_GT(n, 0);
      std::vector<char16_t> w(static_cast<std::size_t>(n));
      ASSERT_EQ(MultiByteToWide(cp, 0, bytes.data(), nb, w.data(), n), n);
      if (n > 1) {  // exactly n - 1 units, so ASan sees any write past them
        std::vector<char16_t> small(static_cast<std::size_t>(n - 1));
        EXPECT_EQ(MultiByteToWide(cp, 0, bytes.data(), nb, small.data(), n - 1), 0);
      }
      const int nu = static_cast<int>(units.size());
      for (unsigned flags : {0u, kCompositeCheck}) {
        int m = WideToMultiByte(cp, flags, units.data(), nu, nullptr, 0);
        ASSERT_GT(m, 0);
        std::vector<char> b(static_cast<std::size_t>(m));
        ASSERT_EQ(WideToMultiByte(cp, flags, units.data(), nu, b.data(), m), m) << flags;
        if (m > 1) {
          std::vector<char> small(static_cast<std::size_t>(m - 1));
          EXPECT_EQ(WideToMultiByte(cp, flags, units.data(), nu, small.data(), m - 1), 0);
        }
      }
    }
  }
}

// MultiByteToMultiByte must give exactly what the two steps through UTF-16 give.
std::string TwoSteps(unsigned from, unsigned to, std::string_view in) {
  std::u16string wide = ToWide(from, in);
  return FromWide(to, 0, wide);
}
std::string OneStep(unsigned from, unsigned to, std::string_view in) {
  const int len = static_cast<int>(in.size());
  int n = MultiByteToMultiByte(from, in.data(), len, to, nullptr, 0);
  if (n == 0) return "<refused>";
  std::string out(static_cast<std::size_t>(n), '#');
  EXPECT_EQ(MultiByteToMultiByte(from, in.data(), len, to, out.data(), n), n);
  if (n > 1) {  // exactly n - 1 bytes, so ASan sees any write past them
    std::vector<char> small(static_cast<std::size_t>(n - 1));
    EXPECT_EQ(MultiByteToMultiByte(from, in.data(), len, to, small.data(), n - 1), 0);
  }
  return out;
}

TEST(CodePage, MultiByteToMultiByteEqualsTheTwoSteps) {
  struct Case {
    unsigned from, to;
    std::string_view in, want;
  };
  const Case cases[] = {
      {kCodePageUtf8, kCodePageGbk,
       "\xDE"
       "a",
       "?a"},
      {kCodePageUtf8, kCodePageGbk, "\xE4\xB8\xAD\xE2\x82\xAC", "\xD6\xD0\x80"},
      {kCodePageUtf8, kCodePageGbk, "\xF0\x9F\x98\x80\xED\x95\x9C\xE1\xA0\x8E", "???"},
      {kCodePageGbk, kCodePageUtf8, "\xD6\xD0\x80\xA1\xA1", "\xE4\xB8\xAD\xE2\x82\xAC\xE3\x80\x80"},
      {kCodePageGbk, kCodePageUtf8, "\x81 \xFF\x81", "\xEF\xBF\xBD \xEF\xA3\xB5\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    EXPECT_EQ(OneStep(c.from, c.to, c.in), c.want);
    EXPECT_EQ(TwoSteps(c.from, c.to, c.in), c.want);
  }
  // Random text built from fragments that stress both decoders, plus raw bytes; long
  // enough for the internal UTF-16 pivot to fill and drain many times.
  const std::string_view fragments[] = {
      "a",    "<td>",         "\xE4\xB8\xAD", "\xE4\xB8", "\xF0\x9F\x98\x80",
      "\xC0", "\x80",         "\xD6\xD0",     "\xA1\xA1", "\x81",
      "\xFF", "\xED\xA0\x80", "\xA8\xA6",     "\xFE\x7F"};
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string in;
    const std::size_t length = round % 10 == 0 ? 70000 : rng() % 60 + 1;
    while (in.size() < length) {
      if (rng() % 4) {
        in += fragments[rng() % std::size(fragments)];
      } else {
        in += static_cast<char>(rng() % 255 + 1);
      }
    }
    for (unsigned from : {kCodePageGbk, kCodePageUtf8}) {
      unsigned to = from == kCodePageGbk ? kCodePageUtf8 : kCodePageGbk;
      ASSERT_EQ(OneStep(from, to, in), TwoSteps(from, to, in))
          << from << " " << testing::PrintToString(in.substr(0, 200));
    }
  }
}

TEST(CodePage, MultiByteToMultiByteRefusals) {
  char b[8];
  EXPECT_EQ(MultiByteToMultiByte(kCodePageGbk, "A", 1, kCodePageGbk, b, 8), 0);
  EXPECT_EQ(MultiByteToMultiByte(kCodePageGbk, "A", 1, 1252, b, 8), 0);
  EXPECT_EQ(MultiByteToMultiByte(0, "A", 1, kCodePageUtf8, b, 8), 0);
  EXPECT_EQ(MultiByteToMultiByte(kCodePageGbk, "A", 0, kCodePageUtf8, b, 8), 0);
  EXPECT_EQ(MultiByteToMultiByte(kCodePageGbk, nullptr, -1, kCodePageUtf8, b, 8), 0);
  EXPECT_EQ(MultiByteToMultiByte(kCodePageGbk, "A", 1, kCodePageUtf8, b, -1), 0);
  EXPECT_EQ(MultiByteToMultiByte(kCodePageGbk, "\x80", -1, kCodePageUtf8, nullptr, 0), 4);
}

TEST(CodePage, ThreadsConvertAtTheSameTime) {
  std::vector<std::thread> threads;
  std::vector<int> faults(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &faults] {
      for (int i = 0; i < 3000; ++i) {
        char b[16];
        char16_t w[16];
        int n = t % 2 ? WideToMultiByte(kCodePageGbk, kCompositeCheck, u"e\u0301\u4E2D", 3, b, 16)
                      : WideToMultiByte(kCodePageUtf8, 0, u"\u4E2D\u20AC", 2, b, 16);
        std::string got(b, static_cast<std::size_t>(n));
        if (got != (t % 2 ? "\xA8\xA6\xD6\xD0" : "\xE4\xB8\xAD\xE2\x82\xAC")) ++faults[t];
        int k = MultiByteToWide(t % 2 ? kCodePageGbk : kCodePageUtf8, 0,
                                t % 2 ? "\x80\xD6\xD0" : "\xE2\x82\xAC\xE4\xB8\xAD", t % 2 ? 3 : 6,
                                w, 16);
        if (std::u16string(w, static_cast<std::size_t>(k)) != u"\u20AC\u4E2D") ++faults[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(faults, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quorvel::platform
