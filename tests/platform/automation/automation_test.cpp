// Tests of the automation layer: handles and their counts, Variant values and conversions,
// per-thread initialisation, creation by class name and silent failure of member access.
#include "platform/automation/automation.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace quorvel::platform {
namespace {

// A small class of the test's own: counts its live instances and echoes its arguments.
class Echo final : public AutomationObject {
 public:
  static inline int live = 0;
  Echo() { ++live; }
  ~Echo() override { --live; }
  bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args, Variant& result) override {
    if (member == "Value" && kind == InvokeKind::kGet && args.empty()) {
      result = value_;
      return true;
    }
    if (member == "Value" && kind == InvokeKind::kPut && args.size() == 1) {
      value_ = *args[0];
      return true;
    }
    if (member == "First" && kind == InvokeKind::kMethod && !args.empty()) {
      result = *args[0];
      return true;
    }
    return false;
  }

 private:
  Variant value_;
};

AutomationObject* NewEcho() { return new Echo; }

class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass("Test.Echo", &NewEcho);
    Initialize();
  }
  void TearDown() override { Uninitialize(); }
};

TEST_F(AutomationTest, HandlesCountReferences) {
  ASSERT_EQ(Echo::live, 0);
  ComObject a;
  ASSERT_TRUE(CreateObject("test.ECHO", a));  // class names ignore letter case
  EXPECT_EQ(Echo::live, 1);
  ComObject b = a;
  EXPECT_EQ(a, b);
  a.Clear();
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(Echo::live, 1);
  a.Clear();  // clearing an empty handle does nothing
  {
    Variant holder(b);
    Variant copy = holder;  // a copy of an object value shares the object
    b.Clear();
    EXPECT_EQ(Echo::live, 1);
    EXPECT_EQ(VariantToObject(copy), VariantToObject(holder));
  }
  EXPECT_EQ(Echo::live, 0);
}

TEST_F(AutomationTest, CreateNeedsAnInitialisedThreadAndAKnownClass) {
  ComObject kept;
  ASSERT_TRUE(CreateObject("Test.Echo", kept));
  ComObject out = kept;
  EXPECT_FALSE(CreateObject("No.Such.Class", out));
  EXPECT_EQ(out, kept);  // left as it was

  bool createdElsewhere = true;
  std::thread([&] { createdElsewhere = CreateObject("Test.Echo", out); }).join();
  EXPECT_FALSE(createdElsewhere);

  // Initialisation is counted: the thread stays initialised until every call is undone.
  EXPECT_EQ(Initialize(), 1);
  Uninitialize();
  EXPECT_TRUE(IsInitialized());
  Uninitialize();
  EXPECT_FALSE(IsInitialized());
  EXPECT_FALSE(CreateObject("VBScript.RegExp", out));
  Uninitialize();  // unmatched: ignored
  EXPECT_EQ(Initialize(), 0);
  EXPECT_TRUE(CreateObject("VBScript.RegExp", out));
}

TEST_F(AutomationTest, UnknownMembersAndEmptyHandlesFailSilently) {
  ComObject echo;
  ASSERT_TRUE(CreateObject("Test.Echo", echo));
  ComObject regexp;
  ASSERT_TRUE(CreateObject("VBScript.RegExp", regexp));
  for (const ComObject& object : {echo, regexp, ComObject()}) {
    EXPECT_FALSE(SetProperty(object, "NoSuchMember", Variant(1)));
    EXPECT_TRUE(GetProperty(object, "NoSuchMember").IsEmpty());
    EXPECT_TRUE(CallMethod(object, "NoSuchMember", Variant(1)).IsEmpty());
    EXPECT_EQ(VariantToNumber(GetProperty(object, "NoSuchMember")), 0.0);
    EXPECT_TRUE(VariantToAnsi(CallMethod(object, "NoSuchMember")).empty());
    EXPECT_TRUE(VariantToObject(GetProperty(object, "NoSuchMember")).IsEmpty());
  }
  // Right name, wrong arguments.
  EXPECT_TRUE(CallMethod(regexp, "Execute").IsEmpty());
  EXPECT_TRUE(VariantToObject(CallMethod(regexp, "Execute", Variant(1), Variant(2))).IsEmpty());
  // A set that works, read back.
  EXPECT_TRUE(SetProperty(echo, "Value", Variant(2.5)));
  EXPECT_EQ(VariantToNumber(GetProperty(echo, "Value")), 2.5);
}

TEST_F(AutomationTest, AnsiTextConversions) {
  const std::string gbk =
      "a\xD6\xD0"
      "b";  // a, U+4E2D, b
  Variant v = VariantFromAnsi(gbk);
  ASSERT_NE(v.AsString(), nullptr);
  EXPECT_EQ(*v.AsString(), u"a\u4e2db");
  EXPECT_EQ(VariantToAnsi(v), gbk);
  // Text going in ends at its first zero byte; a string coming out at its first zero unit.
  EXPECT_EQ(*VariantFromAnsi(std::string("ab\0cd", 5)).AsString(), u"ab");
  EXPECT_EQ(VariantToAnsi(Variant(std::u16string(u"ab\0cd", 5))), "ab");
  EXPECT_EQ(VariantToAnsi(Variant(std::u16string(u"\0ab", 3))), "");
  // A character GBK lacks becomes a question mark.
  EXPECT_EQ(VariantToAnsi(Variant(u"x\u0e01")), "x?");
  // What is not a string: numbers in decimal, nothing for empty and objects.
  EXPECT_EQ(VariantToAnsi(Variant(-12)), "-12");
  EXPECT_EQ(VariantToAnsi(Variant(0.5)), "0.5");
  EXPECT_EQ(VariantToAnsi(Variant(true)), "True");
  EXPECT_EQ(VariantToAnsi(Variant()), "");
  ComObject echo;
  ASSERT_TRUE(CreateObject("Test.Echo", echo));
  EXPECT_EQ(VariantToAnsi(Variant(echo)), "");
}

TEST_F(AutomationTest, ByteArraysAndBytes) {
  // A byte array read as a string is UTF-16LE code units; an odd last byte is ignored.
  Variant bytes = VariantFromBytes(std::string("a\0\x2d\x4e\0\0z\0!", 9));
  EXPECT_EQ(VariantToAnsi(bytes), "a\xD6\xD0");  // ends at the zero unit
  std::u16string wide;
  ASSERT_TRUE(VariantToWide(bytes, wide));
  EXPECT_EQ(wide, std::u16string(u"a\u4e2d\0z", 4));
  // To Bytes: a byte array as it is, a string as UTF-16LE without terminator, else nothing.
  EXPECT_EQ(VariantToBytes(bytes), std::string("a\0\x2d\x4e\0\0z\0!", 9));
  EXPECT_EQ(VariantToBytes(Variant(u"a\u4e2d")), std::string("a\0\x2d\x4e", 4));
  EXPECT_EQ(VariantToBytes(Variant(7)), "");
  EXPECT_EQ(VariantToBytes(Variant()), "");
  // A copy is deep: changing the source's contents leaves the copy alone.
  Variant copy = bytes;
  bytes = VariantFromBytes("other");
  EXPECT_EQ(copy.AsByteArray()->bytes.size(), 9u);
  copy.Clear();
  EXPECT_TRUE(copy.IsEmpty());
}

TEST_F(AutomationTest, Numbers) {
  EXPECT_EQ(VariantToNumber(Variant(3)), 3.0);
  EXPECT_EQ(VariantToNumber(Variant(true)), -1.0);
  EXPECT_EQ(VariantToNumber(Variant(u" 42.5 ")), 42.5);
  EXPECT_EQ(VariantToNumber(Variant(u"42x")), 0.0);
  EXPECT_EQ(VariantToNumber(Variant(u"1e999")), 0.0);
  EXPECT_EQ(VariantToNumber(Variant()), 0.0);
}

}  // namespace
}  // namespace quorvel::platform
