// The query window on real Win32 controls: its controls, the read operations the query
// uses, the busy state and the message box, as the user meets them.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <string>

#include "app/query_window.h"
#include "tests/platform/ui/win32/win32_probe.h"
#include "text/convert.h"

namespace quorvel {
namespace {

using test::W;

const char* const kItemsUtf8[QueryWindow::kRegionCount] = {
    "艾欧尼亚 电信一",   "比尔吉沃特 网通一", "祖安 电信二",       "诺克萨斯 电信三",
    "德玛西亚 网通二",   "班德尔城 电信四",   "皮尔特沃夫 电信五", "战争学院 电信六",
    "费雷尔卓德 网通三", "巨神峰 电信七",     "雷瑟守备 电信八",   "无畏先锋 网通四",
    "裁决之地 电信九",   "黑色玫瑰 电信十",   "暗影岛 电信十一",   "钢铁烈阳 电信十二",
    "恕瑞玛 网通五",     "均衡教派 电信十三", "水晶之痕 电信十四", "教育网 专区",
    "影流 电信十五",     "守望之海 电信十六", "扭曲丛林 网通六",   "征服之海 电信十七",
    "卡拉曼达 电信十八", "皮城警备 电信十九",
};

class QueryWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.Show();
    top_ = test::FindTopLevel(L"QueryWindow");
    ASSERT_NE(top_, nullptr);
    combo_ = test::FindChild(top_, W("组合框_"));
    edit_ = test::FindChild(top_, W("编辑框_游戏ID"));
    button_ = test::FindChild(top_, W("按钮_rank"));
    ASSERT_NE(combo_, nullptr);
    ASSERT_NE(edit_, nullptr);
    ASSERT_NE(button_, nullptr);
    SetForegroundWindow(top_);
    test::Pump();
  }

  QueryWindow window_;
  HWND top_ = nullptr;
  HWND combo_ = nullptr;
  HWND edit_ = nullptr;
  HWND button_ = nullptr;
};

TEST_F(QueryWindowTest, EveryControlHasItsNamePlaceKindAndText) {
  struct Expected {
    const char* name;
    RECT place;  // left, top, right, bottom
    const wchar_t* kind;
    const char* text;  // nullptr: no text of its own
  };
  const Expected controls[] = {
      {"标签_大区", {65, 12, 113, 36}, L"Static", "游戏大区"},
      {"组合框_", {121, 16, 273, 36}, L"ComboBox", nullptr},
      {"标签_ID", {72, 40, 120, 64}, L"Static", "游戏ID"},
      {"编辑框_游戏ID", {120, 43, 272, 63}, L"Edit", ""},
      {"按钮_rank", {88, 72, 280, 96}, L"Button", "查询rank分"},
      {"标签1", {288, 24, 336, 56}, L"Static", "ID:Zerdan"},
  };
  RECT client{};
  GetClientRect(top_, &client);
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.name);
    HWND h = test::FindChild(top_, W(c.name));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(test::ClassOf(h), c.kind);
    const RECT r = test::PlaceInParent(h);
    EXPECT_EQ(r.left, c.place.left);
    EXPECT_EQ(r.top, c.place.top);
    EXPECT_EQ(r.right, c.place.right);
    EXPECT_EQ(r.bottom, c.place.bottom);
    EXPECT_TRUE(IsWindowVisible(h));
    // Every control lies inside the client area.
    EXPECT_LE(r.right, client.right);
    EXPECT_LE(r.bottom, client.bottom);
    if (c.text) EXPECT_EQ(test::TextOf(h), W(c.text));
  }
  RECT outer{};
  GetWindowRect(top_, &outer);
  EXPECT_EQ(outer.right - outer.left, 363);
  EXPECT_EQ(outer.bottom - outer.top, 136);
  EXPECT_EQ(test::TextOf(top_), L"Quorvel  https://quorvel.net");
  const LONG style = GetWindowLongW(top_, GWL_STYLE);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
}

TEST_F(QueryWindowTest, StartsCentredWithItemZeroSelectedAndAnEmptyId) {
  RECT area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  RECT r{};
  GetWindowRect(top_, &r);
  EXPECT_LE(std::abs((r.left + r.right) - (area.left + area.right)), 2);
  EXPECT_LE(std::abs((r.top + r.bottom) - (area.top + area.bottom)), 2);
  EXPECT_EQ(SendMessageW(combo_, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(test::TextOf(combo_), W("艾欧尼亚 电信一"));
  EXPECT_EQ(window_.SelectedRegionIndex(), 0);
  EXPECT_TRUE(window_.PlayerId().empty());
}

TEST_F(QueryWindowTest, TheListHoldsTheTwentySixRegionsInOrderAndCannotBeTypedInto) {
  EXPECT_EQ(GetWindowLongW(combo_, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
  ASSERT_EQ(SendMessageW(combo_, CB_GETCOUNT, 0, 0), QueryWindow::kRegionCount);
  for (int i = 0; i < QueryWindow::kRegionCount; ++i) {
    SCOPED_TRACE(i);
    wchar_t item[64] = {};
    SendMessageW(combo_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(std::wstring(item), W(kItemsUtf8[i]));
    EXPECT_EQ(window_.RegionItemText(i), Gbk(kItemsUtf8[i]));
  }
  EXPECT_EQ(window_.RegionItemText(0).str(),
            "\xB0\xAC\xC5\xB7\xC4\xE1\xD1\xC7 \xB5\xE7\xD0\xC5\xD2\xBB");
  for (int outside : {-1, QueryWindow::kRegionCount, INT_MIN, INT_MAX}) {
    EXPECT_TRUE(window_.RegionItemText(outside).empty()) << outside;
  }
  // Keys move the selection; they never add or edit an item.
  SetFocus(combo_);
  test::Type(combo_, L"xyz");
  SendMessageW(combo_, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(SendMessageW(combo_, CB_GETCOUNT, 0, 0), QueryWindow::kRegionCount);
  EXPECT_GE(window_.SelectedRegionIndex(), 0);
  EXPECT_EQ(window_.RegionItemText(window_.SelectedRegionIndex()),
            Gbk(kItemsUtf8[window_.SelectedRegionIndex()]));
}

TEST_F(QueryWindowTest, TypedIdIsReadBackAsGbk) {
  SetFocus(edit_);
  test::Type(edit_, W(" 测试玩家 Abc_1 "));
  EXPECT_EQ(window_.PlayerId(), Gbk(" 测试玩家 Abc_1 "));  // blanks kept as typed
  EXPECT_EQ(window_.PlayerId().str(), " \xB2\xE2\xCA\xD4\xCD\xE6\xBC\xD2 Abc_1 ");
  SetWindowTextW(edit_, L"");
  EXPECT_TRUE(window_.PlayerId().empty());
}

TEST_F(QueryWindowTest, IdOfAHundredThousandCharactersIsKeptWhole) {
  std::wstring id;
  const std::wstring chunk = W("玩家ab");  // 4 characters, 6 GBK bytes
  for (int i = 0; i < 25000; ++i) id += chunk;
  SetFocus(edit_);
  SendMessageW(edit_, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(id.c_str()));
  SendMessageW(edit_, EM_SETSEL, 100000, 100000);
  test::Type(edit_, L"Z");  // typing still works past 32767
  EXPECT_EQ(GetWindowTextLengthW(edit_), 100001);
  const Text read = window_.PlayerId();
  ASSERT_EQ(read.size(), 150001u);
  const std::string chunkGbk = Gbk("玩家ab").str();
  EXPECT_EQ(read.str().substr(0, 6), chunkGbk);
  EXPECT_EQ(read.str().substr(149994, 6), chunkGbk);
  EXPECT_EQ(read.str().back(), 'Z');
}

TEST_F(QueryWindowTest, MessageBoxDefaultTitleTextAndModality) {
  // The box is modal: the window takes no input while it is open (a disabled window
  // refusing a click is shown by the busy-window test).
  const auto seen = test::CatchMessageBox(
      [&] { window_.ShowMessageBox(Gbk("请输入游戏ID！\r\n第二行")); }, nullptr, top_);
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, W("信息："));
  EXPECT_EQ(seen.text, W("请输入游戏ID！\r\n第二行"));
  EXPECT_FALSE(seen.hasIcon);
  EXPECT_EQ(seen.buttonCount, 1);
  EXPECT_TRUE(seen.okButton);
  EXPECT_FALSE(seen.hasOwner);
  EXPECT_TRUE(seen.othersDisabled);
  EXPECT_EQ(seen.extraBoxes, 0);
}

TEST_F(QueryWindowTest, MessageBoxWithAGivenTitle) {
  const Text text = Gbk("游戏ID： abc\r\n段位： 黄金 I\r\n最近登录 ： 2014-05-01");
  const auto seen = test::CatchMessageBox([&] { ShowMessageBox(text, Gbk("提示")); });
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, W("提示"));
  EXPECT_EQ(seen.text, W("游戏ID： abc\r\n段位： 黄金 I\r\n最近登录 ： 2014-05-01"));
  // An empty given title is a title: the box shows no default.
  const auto untitled = test::CatchMessageBox([&] { ShowMessageBox(Text("x"), Text()); });
  ASSERT_TRUE(untitled.seen);
  EXPECT_EQ(untitled.title, L"");
}

TEST_F(QueryWindowTest, BusyWindowShowsTheWaitCursorAndRefusesClicks) {
  window_.SetBusy(true);
  window_.SetBusy(true);  // repeated: still one wait cursor to lift
  EXPECT_TRUE(window_.IsBusy());
  EXPECT_FALSE(IsWindowEnabled(top_));
  const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  SendMessageW(top_, WM_SETCURSOR, reinterpret_cast<WPARAM>(top_),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), wait);
  const auto none = test::CatchMessageBox(
      [&] {
        test::ClickAsUser(button_);
        test::Pump(300);
      },
      nullptr, nullptr, 1000);
  EXPECT_FALSE(none.seen);
  window_.SetBusy(false);
  EXPECT_TRUE(IsWindowEnabled(top_));
  SendMessageW(top_, WM_SETCURSOR, reinterpret_cast<WPARAM>(top_),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_NE(GetCursor(), wait);
}

TEST_F(QueryWindowTest, ButtonRunsTheQuery) {
  // With an empty player ID the query only asks for one; no request is made.
  const auto seen = test::CatchMessageBox([&] {
    test::ClickAsUser(button_);
    test::Pump(300);
  });
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.text, W("请输入游戏ID！"));
  EXPECT_EQ(seen.title, W("信息："));
  EXPECT_EQ(seen.extraBoxes, 0);
  // The click has ended: the window takes input again and no wait cursor is left.
  EXPECT_TRUE(IsWindowEnabled(top_));
  EXPECT_FALSE(window_.IsBusy());
}

}  // namespace
}  // namespace quorvel
