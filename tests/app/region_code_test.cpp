// DeriveRegionCode over every item of the region list, and over the texts no list holds.
#include <gtest/gtest.h>

#include "app/query.h"
#include "text/convert.h"

namespace quorvel {
namespace {

struct RegionCase {
  const char* item;  // UTF-8
  const char* code;  // UTF-8
};

// The 26 items of the window's region list, in list order, with the code each one posts.
constexpr RegionCase kRegionList[] = {
    {"艾欧尼亚 电信一", "电信一"},     {"比尔吉沃特 网通一", "网通一"},
    {"祖安 电信二", "电信二"},         {"诺克萨斯 电信三", "电信三"},
    {"德玛西亚 网通二", "网通二"},     {"班德尔城 电信四", "电信四"},
    {"皮尔特沃夫 电信五", "电信五"},   {"战争学院 电信六", "电信六"},
    {"费雷尔卓德 网通三", "网通三"},   {"巨神峰 电信七", "电信七"},
    {"雷瑟守备 电信八", "电信八"},     {"无畏先锋 网通四", "网通四"},
    {"裁决之地 电信九", "电信九"},     {"黑色玫瑰 电信十", "电信十"},
    {"暗影岛 电信十一", "电信十一"},   {"钢铁烈阳 电信十二", "电信十二"},
    {"恕瑞玛 网通五", "网通五"},       {"均衡教派 电信十三", "电信十三"},
    {"水晶之痕 电信十四", "电信十四"}, {"教育网 专区", "教育一"},
    {"影流 电信十五", "电信十五"},     {"守望之海 电信十六", "电信十六"},
    {"扭曲丛林 网通六", "网通六"},     {"征服之海 电信十七", "电信十七"},
    {"卡拉曼达 电信十八", "电信十八"}, {"皮城警备 电信十九", "电信十九"},
};

TEST(DeriveRegionCode, EveryItemOfTheRegionList) {
  ASSERT_EQ(std::size(kRegionList), 26u);
  for (const RegionCase& c : kRegionList) {
    EXPECT_EQ(DeriveRegionCode(Gbk(c.item)).str(), Gbk(c.code).str()) << c.item;
  }
}

// Texts outside the list: the three rules in order, counted in GBK bytes, on any bytes.
TEST(DeriveRegionCode, TextsOutsideTheList) {
  constexpr RegionCase kCases[] = {
      {"", ""},                         // no selection
      {"abc", "abc"},                   // shorter than 6 bytes: taken whole
      {"电信十", "电信十"},             // nothing follows "电信十": rule 3 does not apply
      {"x电信十", "电信十"},            //   (last 6 bytes)
      {"教育网", "教育一"},             // rule 2 alone
      {"教育网 电信十一", "电信十一"},  // rules 2 and 3: rule 3 wins
      {"电信十 abc", "信十 abc"},       // rule 3 takes 8 bytes, whatever they are
      {"ab电信十X", "b电信十X"},
  };
  for (const RegionCase& c : kCases) {
    EXPECT_EQ(DeriveRegionCode(Gbk(c.item)).str(), Gbk(c.code).str()) << c.item;
  }
  // Bytes that are no valid GBK: still the last 6 bytes, nothing read past the end.
  EXPECT_EQ(DeriveRegionCode(Text("\x81\xFF\x80\x41\xB5\xE7\xD0\xC5\xB5")).str(),
            "A\xB5\xE7\xD0\xC5\xB5");
}

}  // namespace
}  // namespace quorvel
