// The toolkit layer on real Win32 controls: texts in GBK, the window's frame and place, the
// controls' names, places and kinds, input on and off, handles that outlive their window,
// the wait cursor and the message box.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <string>

#include "platform/ui/ui.h"
#include "tests/platform/ui/win32/win32_probe.h"

namespace quorvel::platform {
namespace {

using test::W;

// GBK bytes of a few texts.
const std::string kZhongWen = "\xD6\xD0\xCE\xC4";  // 中文
const std::string kTitle = "\xCC\xE1\xCA\xBE";     // 提示

TEST(UiTextTest, GbkGoesInAndComesBackExactly) {
  UiWindow window("W", kZhongWen, 200, 100);
  UiLabel label = window.AddLabel("label", UiRect{0, 0, 100, 20}, kZhongWen);
  UiEditBox edit = window.AddEditBox("edit", UiRect{0, 20, 100, 20});
  UiComboBox combo = window.AddComboBox("combo", UiRect{0, 40, 100, 20});
  UiButton button = window.AddButton("button", UiRect{0, 60, 100, 20}, kTitle, nullptr);
  const std::string texts[] = {"", "abc", kZhongWen, "a\xA1\xA1z", "\x80"};  // euro sign
  for (const std::string& t : texts) {
    SCOPED_TRACE(t);
    label.SetText(t);
    EXPECT_EQ(label.Text(), t);
    edit.SetText(t);
    EXPECT_EQ(edit.Text(), t);
  }
  combo.AddItem(kZhongWen);
  EXPECT_EQ(combo.ItemText(0), kZhongWen);
  EXPECT_EQ(button.Text(), kTitle);
  EXPECT_EQ(window.Caption(), kZhongWen);
  // The system shows them as the characters they are.
  EXPECT_EQ(test::TextOf(window.Handle().IsValid() ? test::FindTopLevel(L"W") : nullptr),
            W("中文"));
}

TEST(UiTextTest, TypedCharactersOutsideGbkComeBackAsQuestionMarks) {
  UiWindow window("W", "w", 200, 100);
  UiEditBox edit = window.AddEditBox("edit", UiRect{0, 0, 100, 20});
  HWND h = test::FindChild(test::FindTopLevel(L"W"), L"edit");
  ASSERT_NE(h, nullptr);
  test::Type(h, W("a한e\u0301"));  // a Korean syllable; e with a combining acute
  EXPECT_EQ(edit.Text(), "a?\xA8\xA6");
}

TEST(UiTextTest, MalformedGbkNeverBreaksAControl) {
  UiWindow window("W", "\x81", 200, 100);
  UiLabel label = window.AddLabel("label", UiRect{0, 0, 100, 20}, "\xFE");
  UiEditBox edit = window.AddEditBox("edit", UiRect{0, 20, 100, 20});
  edit.SetText(std::string("a\0b", 3));
  EXPECT_EQ(edit.Text(), "a");  // a control's text ends at its first zero
  label.SetText("\x81\x81\x81");
  EXPECT_FALSE(label.Text().empty());
  window.Show();
  test::Pump(20);
}

TEST(UiWindowTest, OuterSizeFixedBorderMinimiseAndCloseButNoMaximise) {
  UiWindow window("W", "w", 347, 97);
  window.Show();
  HWND h = test::FindTopLevel(L"W");
  ASSERT_NE(h, nullptr);
  RECT r{};
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 363);
  EXPECT_EQ(r.bottom - r.top, 136);
  const LONG style = GetWindowLongW(h, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  // The client area holds at least the size asked for.
  const UiRect client = window.Handle().Geometry();
  EXPECT_GE(client.width, 347);
  EXPECT_GE(client.height, 97);
}

TEST(UiWindowTest, CentredOnTheWorkArea) {
  UiWindow window("W", "w", 347, 97);
  window.ShowCentred();
  RECT area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  RECT r{};
  GetWindowRect(test::FindTopLevel(L"W"), &r);
  EXPECT_LE(std::abs((r.left + r.right) - (area.left + area.right)), 2);
  EXPECT_LE(std::abs((r.top + r.bottom) - (area.top + area.bottom)), 2);
  EXPECT_TRUE(window.IsVisible());
}

TEST(UiWindowTest, ControlsHaveTheirNamesPlacesKindsAndStyles) {
  UiWindow window("W", "w", 347, 97);
  UiLabel label = window.AddLabel("label", UiRect{65, 12, 48, 24}, "x");
  UiComboBox combo = window.AddComboBox("combo", UiRect{121, 16, 152, 20});
  UiEditBox edit = window.AddEditBox("edit", UiRect{120, 43, 152, 20});
  UiButton button = window.AddButton("button", UiRect{88, 72, 192, 24}, "b", nullptr);
  for (int i = 0; i < 26; ++i) combo.AddItem("item");
  window.Show();
  HWND top = test::FindTopLevel(L"W");
  ASSERT_NE(top, nullptr);
  struct Expected {
    UiControl control;
    const wchar_t* name;
    const wchar_t* kind;
    UiRect rect;
  };
  const Expected controls[] = {
      {label, L"label", L"Static", {65, 12, 48, 24}},
      {combo, L"combo", L"ComboBox", {121, 16, 152, 20}},
      {edit, L"edit", L"Edit", {120, 43, 152, 20}},
      {button, L"button", L"Button", {88, 72, 192, 24}},
  };
  const HFONT guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (const Expected& c : controls) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    HWND h = test::FindChild(top, c.name);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(test::ClassOf(h), c.kind);
    EXPECT_EQ(c.control.Geometry(), c.rect);
    const RECT r = test::PlaceInParent(h);
    EXPECT_EQ(r.left, c.rect.left);
    EXPECT_EQ(r.top, c.rect.top);
    EXPECT_EQ(r.right - r.left, c.rect.width);
    EXPECT_EQ(r.bottom - r.top, c.rect.height);
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), guiFont);
    EXPECT_EQ(c.control.Name(), std::string(c.name, c.name + wcslen(c.name)));
  }
  HWND comboWindow = test::FindChild(top, L"combo");
  EXPECT_EQ(GetWindowLongW(comboWindow, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
  HWND editWindow = test::FindChild(top, L"edit");
  EXPECT_TRUE(GetWindowLongW(editWindow, GWL_STYLE) & ES_AUTOHSCROLL);
  EXPECT_FALSE(GetWindowLongW(editWindow, GWL_STYLE) & (ES_READONLY | ES_PASSWORD | ES_MULTILINE));
  EXPECT_TRUE(GetWindowLongW(editWindow, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_GE(static_cast<unsigned long>(SendMessageW(editWindow, EM_GETLIMITTEXT, 0, 0)),
            0x7FFFFFFEul);
}

TEST(UiComboBoxTest, ItemsInOrderAndSelectionBounds) {
  UiWindow window("W", "w", 200, 100);
  UiComboBox combo = window.AddComboBox("combo", UiRect{0, 0, 100, 20});
  EXPECT_EQ(combo.CurrentIndex(), -1);
  for (const char* item : {"c", "a", "b"}) combo.AddItem(item);
  EXPECT_EQ(combo.Count(), 3);
  EXPECT_EQ(combo.ItemText(0), "c");  // not sorted
  EXPECT_EQ(combo.ItemText(2), "b");
  combo.SetCurrentIndex(2);
  EXPECT_EQ(combo.CurrentIndex(), 2);
  for (int outside : {-1, 3, INT_MIN, INT_MAX}) {
    EXPECT_EQ(combo.ItemText(outside), "") << outside;
    combo.SetCurrentIndex(1);
    combo.SetCurrentIndex(outside);
    EXPECT_EQ(combo.CurrentIndex(), -1) << outside;
  }
}

TEST(UiButtonTest, ClickRunsTheCallbackAndAnEscapingExceptionStopsThere) {
  UiWindow window("W", "w", 200, 100);
  int clicks = 0;
  window.AddButton("ok", UiRect{0, 0, 100, 24}, "ok", [&] { ++clicks; });
  window.AddButton("bad", UiRect{0, 30, 100, 24}, "bad", [] { throw 1; });
  window.ShowCentred();
  HWND top = test::FindTopLevel(L"W");
  SetForegroundWindow(top);
  test::Pump();
  test::ClickAsUser(test::FindChild(top, L"ok"));
  EXPECT_TRUE(test::PumpUntil([&] { return clicks == 1; }));
  SendMessageW(test::FindChild(top, L"bad"), BM_CLICK, 0, 0);
  test::Pump();
  SendMessageW(test::FindChild(top, L"ok"), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
}

TEST(UiWindowTest, InputOffMeansClicksAreRefused) {
  UiWindow window("W", "w", 200, 100);
  int clicks = 0;
  window.AddButton("ok", UiRect{0, 0, 100, 24}, "ok", [&] { ++clicks; });
  window.ShowCentred();
  HWND top = test::FindTopLevel(L"W");
  HWND ok = test::FindChild(top, L"ok");
  SetForegroundWindow(top);
  test::Pump();
  // With input on, the user's click lands.
  test::ClickAsUser(ok);
  ASSERT_TRUE(test::PumpUntil([&] { return clicks == 1; }));
  window.SetInputEnabled(false);
  EXPECT_FALSE(window.IsInputEnabled());
  EXPECT_FALSE(IsWindowEnabled(top));
  test::ClickAsUser(ok);
  test::Pump(300);
  EXPECT_EQ(clicks, 1);
  window.SetInputEnabled(true);
  EXPECT_TRUE(window.IsInputEnabled());
  EXPECT_TRUE(IsWindowEnabled(top));
}

TEST(UiWindowTest, HandlesOutliveTheirWindowSafely) {
  UiEditBox edit;
  UiControl handle;
  {
    UiWindow window("W", "w", 200, 100);
    edit = window.AddEditBox("edit", UiRect{0, 0, 100, 20});
    handle = window.Handle();
    edit.SetText("x");
    EXPECT_TRUE(edit.IsValid());
  }
  EXPECT_FALSE(edit.IsValid());
  EXPECT_FALSE(handle.IsValid());
  EXPECT_EQ(edit.Text(), "");
  edit.SetText("y");
  EXPECT_EQ(edit.Name(), "");
  EXPECT_EQ(edit.Geometry(), UiRect{});
  EXPECT_EQ(test::FindTopLevel(L"W"), nullptr);
}

TEST(UiWindowTest, ClosingByTheUserHidesTheWindowAndEndsTheLoop) {
  UiWindow window("W", "w", 200, 100);
  window.ShowCentred();
  HWND top = test::FindTopLevel(L"W");
  PostMessageW(top, WM_CLOSE, 0, 0);
  UiApplication app;  // shares the test's toolkit
  app.Run();          // returns once no window shows
  EXPECT_FALSE(window.IsVisible());
  EXPECT_TRUE(IsWindow(top));
}

TEST(UiWindowTest, EnterAndEscapeInTheLoopClickNoButton) {
  UiWindow window("W", "w", 200, 100);
  UiEditBox edit = window.AddEditBox("edit", UiRect{0, 0, 100, 20});
  int clicks = 0;
  window.AddButton("ok", UiRect{0, 30, 100, 24}, "ok", [&] { ++clicks; });
  window.AddButton("other", UiRect{0, 60, 100, 24}, "other", [&] { ++clicks; });
  window.ShowCentred();
  HWND top = test::FindTopLevel(L"W");
  HWND editWindow = test::FindChild(top, L"edit");
  SetForegroundWindow(top);
  SetFocus(editWindow);
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    PostMessageW(editWindow, WM_KEYDOWN, key, 1);
    PostMessageW(editWindow, WM_KEYUP, key, 0xC0000001);
  }
  PostMessageW(top, WM_CLOSE, 0, 0);
  UiApplication app;
  app.Run();
  EXPECT_EQ(clicks, 0);
}

TEST(UiCursorTest, WaitCursorNestsAndIsLiftedAgain) {
  UiWindow window("W", "w", 200, 100);
  window.Show();
  HWND top = test::FindTopLevel(L"W");
  const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  auto shown = [&] {
    SendMessageW(top, WM_SETCURSOR, reinterpret_cast<WPARAM>(top),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  UiSetWaitCursor(true);
  UiSetWaitCursor(true);
  EXPECT_EQ(shown(), wait);
  UiSetWaitCursor(false);
  EXPECT_EQ(shown(), wait);
  UiSetWaitCursor(false);
  EXPECT_NE(shown(), wait);
  UiSetWaitCursor(false);  // unmatched: ignored
  EXPECT_NE(shown(), wait);
}

TEST(UiMessageTest, PlainTextWithLineBreaksOneOkButtonNoIconNoOwnerModal) {
  UiWindow window("W", "w", 200, 100);
  window.Show();
  HWND top = test::FindTopLevel(L"W");
  const auto seen =
      test::CatchMessageBox([&] { UiShowMessage("a&b\r\n\xD6\xD0<b>", kTitle); }, nullptr, top);
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, W("提示"));
  EXPECT_EQ(seen.text, W("a&b\r\n中<b>"));
  EXPECT_FALSE(seen.hasIcon);
  EXPECT_EQ(seen.buttonCount, 1);
  EXPECT_TRUE(seen.okButton);
  EXPECT_FALSE(seen.hasOwner);
  EXPECT_TRUE(seen.othersDisabled);
  EXPECT_EQ(seen.extraBoxes, 0);
  EXPECT_TRUE(IsWindowEnabled(top));  // enabled again once the box is closed
}

TEST(UiMessageTest, BusyCallersWaitCursorIsNotTheBoxs) {
  UiSetWaitCursor(true);
  const auto seen = test::CatchMessageBox([&] { UiShowMessage("x", ""); });
  UiSetWaitCursor(false);
  ASSERT_TRUE(seen.seen);
  EXPECT_TRUE(seen.arrowCursor);
  EXPECT_EQ(seen.title, L"");
}

}  // namespace
}  // namespace quorvel::platform
