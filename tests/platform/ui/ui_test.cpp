// The toolkit layer on real widgets (offscreen platform): GBK at the boundary, the window's
// frame and size, the controls, the busy-state helpers and the message box.
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/ui.h"
#include "tests/platform/ui/ui_test_support.h"

namespace quorvel::platform {
namespace {

QWidget* WindowNamed(const QString& name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == name) return w;
  }
  return nullptr;
}

struct GbkCase {
  const char* what;
  std::string gbk;
  const char* utf8;  // what the widget must hold
};

// GBK bytes of a few texts, written out so the table does not lean on the converter
// under test.
const std::vector<GbkCase>& GbkCases() {
  static const std::vector<GbkCase> cases = {
      {"ascii", "Abc 123_", "Abc 123_"},
      {"chinese", "\xD3\xCE\xCF\xB7\xB4\xF3\xC7\xF8", "游戏大区"},
      {"mixed", "ID:\xB2\xE9\xD1\xAF rank", "ID:查询 rank"},
      {"full-width colon", "\xD0\xC5\xCF\xA2\xA3\xBA", "信息："},
      {"euro at 0x80", "\x80", "€"},
      {"ideographic space", "\xA1\xA1", "\u3000"},
  };
  return cases;
}

TEST(UiTextTest, GbkGoesInAndComesBackExactly) {
  UiWindow window("w", "t", 100, 50);
  UiLabel label = window.AddLabel("label", UiRect{0, 0, 50, 20}, "");
  UiEditBox edit = window.AddEditBox("edit", UiRect{0, 20, 50, 20});
  auto* qlabel = WindowNamed("w")->findChild<QLabel*>(QStringLiteral("label"));
  auto* qedit = WindowNamed("w")->findChild<QLineEdit*>(QStringLiteral("edit"));
  ASSERT_NE(qlabel, nullptr);
  ASSERT_NE(qedit, nullptr);
  for (const GbkCase& c : GbkCases()) {
    SCOPED_TRACE(c.what);
    label.SetText(c.gbk);
    edit.SetText(c.gbk);
    EXPECT_EQ(qlabel->text(), QString::fromUtf8(c.utf8));
    EXPECT_EQ(qedit->text(), QString::fromUtf8(c.utf8));
    EXPECT_EQ(label.Text(), c.gbk);
    EXPECT_EQ(edit.Text(), c.gbk);
  }
}

TEST(UiTextTest, TypedCharactersOutsideGbkComeBackAsQuestionMarks) {
  UiWindow window("w", "t", 100, 50);
  UiEditBox edit = window.AddEditBox("edit", UiRect{0, 0, 100, 20});
  auto* qedit = WindowNamed("w")->findChild<QLineEdit*>(QStringLiteral("edit"));
  ASSERT_NE(qedit, nullptr);
  qedit->setText(
      QString::fromUtf8("a\xED\x95\x9C"
                        "b"));  // a, Hangul HAN, b
  EXPECT_EQ(edit.Text(), "a?b");
  // A letter with a combining accent is read as the precomposed GBK character.
  qedit->setText(QString::fromUtf8("e\xCC\x81"));
  EXPECT_EQ(edit.Text(), "\xA8\xA6");  // é
}

TEST(UiTextTest, MalformedGbkNeverBreaksAControl) {
  UiWindow window("w", "t", 100, 50);
  UiLabel label = window.AddLabel("label", UiRect{0, 0, 100, 20}, "");
  const std::string inputs[] = {
      std::string("\x81"),  // lead byte at the end
      std::string("ab\xFF\xFF"
                  "cd"),  // bytes no GBK character has
      std::string("x\x81\x7F"
                  "y"),            // lead byte with an invalid trail
      std::string("a\0b", 3),      // a zero byte inside
      std::string(70000, '\xB0'),  // a long run of lead bytes
  };
  for (const std::string& in : inputs) {
    label.SetText(in);
    const std::string back = label.Text();
    // Whatever was shown reads back as stable GBK text.
    label.SetText(back);
    EXPECT_EQ(label.Text(), back);
  }
}

TEST(UiWindowTest, FixedSizeWithMinimiseAndCloseButNoMaximise) {
  UiWindow window("Frame", "Caption", 347, 97);
  QWidget* w = WindowNamed("Frame");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isWindow());
  EXPECT_EQ(w->size(), QSize(347, 97));
  EXPECT_EQ(w->minimumSize(), QSize(347, 97));
  EXPECT_EQ(w->maximumSize(), QSize(347, 97));
  const Qt::WindowFlags f = w->windowFlags();
  EXPECT_TRUE(f & Qt::WindowTitleHint);
  EXPECT_TRUE(f & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(f & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(w->parentWidget(), nullptr);
  EXPECT_EQ(window.Caption(), "Caption");
}

TEST(UiWindowTest, CaptionIsShownExactlyEvenWithTheModifiedMarker) {
  UiWindow window("Frame", "a [*] b [*][*]", 100, 50);
  QWidget* w = WindowNamed("Frame");
  ASSERT_NE(w, nullptr);
  window.Show();
  ASSERT_NE(w->windowHandle(), nullptr);
  EXPECT_EQ(w->windowHandle()->title(), QStringLiteral("a [*] b [*][*]"));
  EXPECT_EQ(window.Caption(), "a [*] b [*][*]");
}

TEST(UiWindowTest, CentredOnTheScreen) {
  UiWindow window("Frame", "c", 347, 97);
  window.ShowCentred();
  QWidget* w = WindowNamed("Frame");
  ASSERT_NE(w, nullptr);
  const QRect area = w->screen()->availableGeometry();
  const QRect frame = w->frameGeometry();
  EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1);
  EXPECT_LE(std::abs(frame.center().y() - area.center().y()), 1);
}

TEST(UiWindowTest, ControlsHaveTheirNamesPlacesAndKinds) {
  UiWindow window("Frame", "c", 300, 100);
  UiLabel label = window.AddLabel(
      "\xB1\xEA\xC7\xA9"
      "1",
      UiRect{1, 2, 30, 40}, "L");  // 标签1
  UiEditBox edit = window.AddEditBox("edit", UiRect{5, 6, 70, 20});
  UiComboBox combo = window.AddComboBox("combo", UiRect{9, 10, 80, 20});
  UiButton button = window.AddButton("button", UiRect{13, 14, 90, 24}, "B", nullptr);
  QWidget* w = WindowNamed("Frame");
  ASSERT_NE(w, nullptr);

  auto* qlabel = w->findChild<QLabel*>(QString::fromUtf8("标签1"));
  ASSERT_NE(qlabel, nullptr);
  EXPECT_EQ(qlabel->geometry(), QRect(1, 2, 30, 40));
  EXPECT_EQ(label.Name(),
            "\xB1\xEA\xC7\xA9"
            "1");
  EXPECT_EQ(label.Geometry(), (UiRect{1, 2, 30, 40}));
  EXPECT_EQ(qlabel->textFormat(), Qt::PlainText);

  auto* qedit = w->findChild<QLineEdit*>(QStringLiteral("edit"));
  ASSERT_NE(qedit, nullptr);
  EXPECT_EQ(edit.Geometry(), (UiRect{5, 6, 70, 20}));
  EXPECT_TRUE(qedit->hasFrame());
  EXPECT_FALSE(qedit->isReadOnly());
  EXPECT_EQ(qedit->echoMode(), QLineEdit::Normal);
  EXPECT_GT(qedit->maxLength(), 100000);

  auto* qcombo = w->findChild<QComboBox*>(QStringLiteral("combo"));
  ASSERT_NE(qcombo, nullptr);
  EXPECT_FALSE(qcombo->isEditable());
  EXPECT_EQ(combo.Geometry(), (UiRect{9, 10, 80, 20}));

  auto* qbutton = w->findChild<QPushButton*>(QStringLiteral("button"));
  ASSERT_NE(qbutton, nullptr);
  EXPECT_EQ(button.Text(), "B");
  EXPECT_EQ(button.Geometry(), (UiRect{13, 14, 90, 24}));
}

TEST(UiComboBoxTest, ItemsInOrderAndSelectionBounds) {
  UiWindow window("Frame", "c", 300, 100);
  UiComboBox combo = window.AddComboBox("combo", UiRect{0, 0, 100, 20});
  EXPECT_EQ(combo.CurrentIndex(), -1);
  EXPECT_EQ(combo.ItemText(0), "");
  for (const char* item : {"c", "a", "b"}) combo.AddItem(item);
  EXPECT_EQ(combo.Count(), 3);
  EXPECT_EQ(combo.ItemText(0), "c");  // not sorted
  EXPECT_EQ(combo.ItemText(1), "a");
  EXPECT_EQ(combo.ItemText(2), "b");
  for (int outside : {-1, 3, INT_MIN, INT_MAX}) EXPECT_EQ(combo.ItemText(outside), "");
  combo.SetCurrentIndex(2);
  EXPECT_EQ(combo.CurrentIndex(), 2);
  combo.SetCurrentIndex(7);
  EXPECT_EQ(combo.CurrentIndex(), -1);
  combo.SetCurrentIndex(1);
  EXPECT_EQ(combo.CurrentIndex(), 1);
  combo.SetCurrentIndex(-5);
  EXPECT_EQ(combo.CurrentIndex(), -1);
}

TEST(UiButtonTest, ClickRunsTheCallbackAndAnEscapingExceptionStopsThere) {
  int clicks = 0;
  bool fail = false;
  UiWindow window("Frame", "c", 300, 100);
  window.AddButton("button", UiRect{0, 0, 100, 24}, "B", [&] {
    ++clicks;
    if (fail) throw std::runtime_error("from the handler");
  });
  window.Show();
  auto* qbutton = WindowNamed("Frame")->findChild<QPushButton*>(QStringLiteral("button"));
  ASSERT_NE(qbutton, nullptr);
  QTest::mouseClick(qbutton, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  fail = true;
  QTest::mouseClick(qbutton, Qt::LeftButton);
  EXPECT_EQ(clicks, 2);
}

TEST(UiWindowTest, InputOffMeansClicksAreRefused) {
  int clicks = 0;
  UiWindow window("Frame", "c", 300, 100);
  UiButton button = window.AddButton("button", UiRect{0, 0, 100, 24}, "B", [&] { ++clicks; });
  window.Show();
  auto* qbutton = WindowNamed("Frame")->findChild<QPushButton*>(QStringLiteral("button"));
  ASSERT_NE(qbutton, nullptr);
  window.SetInputEnabled(false);
  EXPECT_FALSE(window.IsInputEnabled());
  EXPECT_FALSE(button.IsEnabled());
  QTest::mouseClick(qbutton, Qt::LeftButton);
  QTest::keyClick(qbutton, Qt::Key_Space);
  EXPECT_EQ(clicks, 0);
  window.SetInputEnabled(true);
  QTest::mouseClick(qbutton, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
}

TEST(UiWindowTest, HandlesOutliveTheirWindowSafely) {
  UiLabel label;
  UiComboBox combo;
  {
    UiWindow window("Frame", "c", 300, 100);
    label = window.AddLabel("l", UiRect{0, 0, 10, 10}, "x");
    combo = window.AddComboBox("c", UiRect{0, 0, 10, 10});
    combo.AddItem("a");
    EXPECT_TRUE(label.IsValid());
  }
  EXPECT_EQ(WindowNamed("Frame"), nullptr);
  EXPECT_FALSE(label.IsValid());
  EXPECT_EQ(label.Text(), "");
  label.SetText("y");
  EXPECT_EQ(combo.Count(), 0);
  EXPECT_EQ(combo.CurrentIndex(), -1);
  EXPECT_EQ(combo.ItemText(0), "");
  EXPECT_EQ(label.Geometry(), UiRect{});
}

TEST(UiCursorTest, WaitCursorNestsAndIsLiftedAgain) {
  ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
  UiSetWaitCursor(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  UiSetWaitCursor(true);
  UiSetWaitCursor(false);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  UiSetWaitCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  UiSetWaitCursor(false);  // an extra "off" is harmless
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(UiMessageTest, PlainTextWithLineBreaksOneOkButtonNoIconAppModal) {
  const auto seen =
      test::CatchMessageBox([] { UiShowMessage("one\r\ntwo\rthree\nfour <b>&amp;</b>", "T [*]"); });
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.text, QStringLiteral("one\ntwo\nthree\nfour <b>&amp;</b>"));
  EXPECT_EQ(seen.textFormat, Qt::PlainText);
  EXPECT_EQ(seen.shownTitle, QStringLiteral("T [*]"));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttonCount, 1);
  EXPECT_TRUE(seen.okButton);
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
  EXPECT_FALSE(seen.hasParent);
}

TEST(UiMessageTest, BusyCallersWaitCursorIsLiftedWhileTheBoxIsOpen) {
  UiSetWaitCursor(true);
  const auto seen = test::CatchMessageBox([] { UiShowMessage("m", "t"); });
  ASSERT_TRUE(seen.seen);
  EXPECT_FALSE(seen.waitCursor);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  UiSetWaitCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace quorvel::platform
