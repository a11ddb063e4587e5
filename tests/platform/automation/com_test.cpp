// The automation layer over COM: the apartment counted per thread beside the system's own
// count, objects of the system made by ProgID, late-bound access through IDispatch with
// strings, byte arrays, numbers, booleans and objects, and silent failure. The system's
// "VBScript.RegExp" is the object driven.
#include <windows.h>

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <thread>

#include "platform/automation/automation.h"
#include "tests/platform/wine.h"

namespace quorvel::platform {
namespace {

constexpr std::string_view kRegExp = "VBScript.RegExp";

std::string Utf16Bytes(std::u16string_view s) {
  std::string b;
  for (char16_t c : s) {
    b.push_back(static_cast<char>(c & 0xFF));
    b.push_back(static_cast<char>(c >> 8));
  }
  return b;
}

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Initialize(), 0); }
  void TearDown() override {
    Uninitialize();
    EXPECT_FALSE(IsInitialized());
  }

  // A new engine with a pattern, global and case-insensitive.
  ComObject Engine(std::u16string pattern) {
    ComObject e;
    EXPECT_TRUE(CreateObject(kRegExp, e));
    EXPECT_TRUE(SetProperty(e, "Pattern", Variant(std::move(pattern))));
    EXPECT_TRUE(SetProperty(e, "Global", Variant(true)));
    EXPECT_TRUE(SetProperty(e, "IgnoreCase", Variant(true)));
    return e;
  }
};

TEST_F(ComTest, InitialisationIsCountedBesideTheSystemsApartment) {
  EXPECT_TRUE(IsInitialized());
  EXPECT_EQ(Initialize(), 1);  // nested
  // The thread is in a single-threaded apartment: the system says it was already there.
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  Uninitialize();
  EXPECT_TRUE(IsInitialized());
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  // A thread that never initialised makes nothing.
  bool created = true;
  std::thread([&] {
    ComObject e;
    created = CreateObject(kRegExp, e);
    Uninitialize();  // unmatched: ignored
  }).join();
  EXPECT_FALSE(created);
}

TEST_F(ComTest, TheLastUninitializeLeavesTheApartment) {
  std::thread([] {
    EXPECT_EQ(Initialize(), 0);
    Uninitialize();
    // The apartment is gone: joining another kind of apartment is allowed again.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr)) CoUninitialize();
  }).join();
}

TEST_F(ComTest, CreateByProgIdAndUnknownNamesLeaveTheHandle) {
  ComObject kept;
  ASSERT_TRUE(CreateObject(kRegExp, kept));
  ComObject out = kept;
  for (std::string_view name : {"No.Such.Class", "", "VBScript.RegExp\x81", "{00000000-0000"}) {
    EXPECT_FALSE(CreateObject(name, out)) << name;
    EXPECT_EQ(out, kept);
  }
}

TEST_F(ComTest, PropertiesTravelAndReadBack) {
  ComObject e;
  ASSERT_TRUE(CreateObject(kRegExp, e));
  struct Case {
    const char* name;
    Variant value;
  };
  const Case cases[] = {
      {"Pattern", Variant(std::u16string(u"a\u4E2D(b)"))},
      {"IgnoreCase", Variant(true)},
      {"Global", Variant(false)},
      {"Multiline", Variant(true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SetProperty(e, c.name, c.value));
    const Variant back = GetProperty(e, c.name);
    if (c.value.AsString()) {
      ASSERT_NE(back.AsString(), nullptr);
      EXPECT_EQ(*back.AsString(), *c.value.AsString());
    } else {
      ASSERT_NE(back.AsBool(), nullptr);
      EXPECT_EQ(*back.AsBool(), *c.value.AsBool());
    }
  }
  // Member names are the object's: VBScript's ignore letter case.
  EXPECT_EQ(VariantToAnsi(GetProperty(e, "PATTERN")), "a\xD6\xD0(b)");
  EXPECT_EQ(VariantToAnsi(GetProperty(e, "IgnoreCase")), "True");
}

TEST_F(ComTest, ExecuteReadsAByteArrayAsUtf16AndHandsOutObjects) {
  ComObject e = Engine(u"(\\w)b");
  const Variant subject = VariantFromBytes(Utf16Bytes(u"\u4E2Dab xB"));
  ComObject matches = VariantToObject(CallMethod(e, "Execute", subject));
  ASSERT_FALSE(matches.IsEmpty());
  EXPECT_EQ(VariantToNumber(GetProperty(matches, "Count")), 2);
  struct Expected {
    double index;
    std::u16string value;
    double firstIndex;  // in UTF-16 units
    std::u16string group;
  };
  for (const Expected& x : {Expected{0, u"ab", 1, u"a"}, Expected{1, u"xB", 4, u"x"}}) {
    SCOPED_TRACE(x.index);
    ComObject m = VariantToObject(GetProperty(matches, "Item", Variant(x.index)));
    ASSERT_FALSE(m.IsEmpty());
    const Variant value = GetProperty(m, "Value");
    ASSERT_NE(value.AsString(), nullptr);
    EXPECT_EQ(*value.AsString(), x.value);
    EXPECT_EQ(VariantToBytes(value), Utf16Bytes(x.value));
    EXPECT_EQ(VariantToNumber(GetProperty(m, "FirstIndex")), x.firstIndex);
    ComObject groups = VariantToObject(GetProperty(m, "SubMatches"));
    EXPECT_EQ(VariantToNumber(GetProperty(groups, "Count")), 1);
    // The index may come as an integer or as a double.
    EXPECT_EQ(VariantToAnsi(GetProperty(groups, "Item", Variant(std::int32_t{0}))),
              std::string(x.group.begin(), x.group.end()));
  }
}

TEST_F(ComTest, GroupThatTookNoPartIsEmpty) {
  ComObject e = Engine(u"(a)|(b)");
  ComObject matches = VariantToObject(CallMethod(e, "Execute", Variant(u"b")));
  ComObject m = VariantToObject(GetProperty(matches, "Item", Variant(0.0)));
  ComObject groups = VariantToObject(GetProperty(m, "SubMatches"));
  EXPECT_TRUE(GetProperty(groups, "Item", Variant(0.0)).IsEmpty());
  EXPECT_EQ(VariantToAnsi(GetProperty(groups, "Item", Variant(1.0))), "b");
}

TEST_F(ComTest, ReplaceWithTheSystemsSyntax) {
  struct Case {
    std::u16string pattern, subject, replacement, want;
  };
  const Case cases[] = {
      {u"(\\w+)@(\\w+)", u"\u7532 ab@cd", u"$2\u4E19$1", u"\u7532 cd\u4E19ab"},
      {u"b", u"abc", u"[$&]", u"a[b]c"},
      {u"b", u"abc", u"$$", u"a$c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.replacement));
    ComObject e = Engine(c.pattern);
    const Variant out = CallMethod(e, "Replace", Variant(c.subject), Variant(c.replacement));
    ASSERT_NE(out.AsString(), nullptr);
    EXPECT_EQ(*out.AsString(), c.want);
  }
}

TEST_F(ComTest, ReplacementDollarZeroZeroGivesAString) {
  if (test::UnderWine()) {
    GTEST_SKIP() << "Wine's VBScript.RegExp crashes on the replacement \"$00\"";
  }
  ComObject e = Engine(u"b");
  const Variant out = CallMethod(e, "Replace", Variant(u"abc"), Variant(u"$00"));
  ASSERT_NE(out.AsString(), nullptr);
  EXPECT_EQ(out.AsString()->substr(0, 1), u"a");
}

TEST_F(ComTest, FailuresAreSilent) {
  ComObject e = Engine(u"a(");  // does not compile
  Variant r = CallMethod(e, "Execute", Variant(u"a("));
  EXPECT_TRUE(r.IsEmpty());
  EXPECT_TRUE(CallMethod(e, "NoSuchMember").IsEmpty());
  EXPECT_FALSE(SetProperty(e, "Singleline", Variant(true)));  // the class has no such member
  EXPECT_TRUE(GetProperty(e, "Execute").IsEmpty());           // a method is no property
  EXPECT_TRUE(CallMethod(e, "Execute").IsEmpty());            // an argument is missing
  EXPECT_TRUE(CallMethod(ComObject(), "Execute", Variant(u"x")).IsEmpty());
  EXPECT_FALSE(SetProperty(e, "", Variant(true)));
  EXPECT_FALSE(SetProperty(e, std::string("Pat\0tern", 8), Variant(u"x")));
  // The engine still works after all that.
  ASSERT_TRUE(SetProperty(e, "Pattern", Variant(u"b")));
  ComObject m = VariantToObject(CallMethod(e, "Execute", Variant(u"abc")));
  EXPECT_EQ(VariantToNumber(GetProperty(m, "Count")), 1);
}

}  // namespace
}  // namespace quorvel::platform
