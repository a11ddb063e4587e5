// The query window on real widgets (offscreen platform): its controls, the read operations
// the query uses, the busy state and the message box.
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <climits>
#include <cstdlib>
#include <string>

#include "app/query_window.h"
#include "tests/platform/ui/ui_test_support.h"
#include "text/convert.h"

namespace quorvel {
namespace {

const char* const kItemsUtf8[QueryWindow::kRegionCount] = {
    "艾欧尼亚 电信一",   "比尔吉沃特 网通一", "祖安 电信二",       "诺克萨斯 电信三",
    "德玛西亚 网通二",   "班德尔城 电信四",   "皮尔特沃夫 电信五", "战争学院 电信六",
    "费雷尔卓德 网通三", "巨神峰 电信七",     "雷瑟守备 电信八",   "无畏先锋 网通四",
    "裁决之地 电信九",   "黑色玫瑰 电信十",   "暗影岛 电信十一",   "钢铁烈阳 电信十二",
    "恕瑞玛 网通五",     "均衡教派 电信十三", "水晶之痕 电信十四", "教育网 专区",
    "影流 电信十五",     "守望之海 电信十六", "扭曲丛林 网通六",   "征服之海 电信十七",
    "卡拉曼达 电信十八", "皮城警备 电信十九",
};

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Types text the way a user does: ASCII on the keyboard, anything else committed by an
// input method (as Chinese is typed).
void Type(QWidget* w, const QString& text) {
  for (QChar c : text) {
    if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
      QTest::keyClick(w, static_cast<char>(c.unicode()));
    } else {
      QInputMethodEvent commit;
      commit.setCommitString(QString(c));
      QApplication::sendEvent(w, &commit);
    }
  }
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.Show();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == QLatin1String("QueryWindow")) top_ = w;
    }
    ASSERT_NE(top_, nullptr);
    combo_ = top_->findChild<QComboBox*>(U("组合框_"));
    edit_ = top_->findChild<QLineEdit*>(U("编辑框_游戏ID"));
    button_ = top_->findChild<QPushButton*>(U("按钮_rank"));
    ASSERT_NE(combo_, nullptr);
    ASSERT_NE(edit_, nullptr);
    ASSERT_NE(button_, nullptr);
  }

  QueryWindow window_;
  QWidget* top_ = nullptr;
  QComboBox* combo_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QPushButton* button_ = nullptr;
};

TEST_F(WindowTest, EveryControlHasItsNamePlaceAndText) {
  struct Expected {
    const char* name;
    QRect geometry;
    const char* text;  // nullptr: no text of its own
  };
  const Expected controls[] = {
      {"标签_大区", QRect(65, 12, 48, 24), "游戏大区"},
      {"组合框_", QRect(121, 16, 152, 20), nullptr},
      {"标签_ID", QRect(72, 40, 48, 24), "游戏ID"},
      {"编辑框_游戏ID", QRect(120, 43, 152, 20), ""},
      {"按钮_rank", QRect(88, 72, 192, 24), "查询rank分"},
      {"标签1", QRect(288, 24, 48, 32), "ID:Zerdan"},
  };
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* w = top_->findChild<QWidget*>(U(c.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), c.geometry);
    EXPECT_TRUE(w->isVisible());
    // Every control lies inside the client area.
    EXPECT_TRUE(top_->rect().contains(c.geometry));
    if (!c.text) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), U(c.text));
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_EQ(button->text(), U(c.text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(edit->text(), U(c.text));
    } else {
      ADD_FAILURE() << "unexpected kind of control";
    }
  }
  EXPECT_EQ(top_->size(), QSize(QueryWindow::kClientWidth, QueryWindow::kClientHeight));
  EXPECT_EQ(top_->minimumSize(), top_->maximumSize());
  EXPECT_FALSE(top_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(top_->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(top_->windowTitle(), QStringLiteral("Quorvel  https://quorvel.net"));
}

TEST_F(WindowTest, StartsCentredWithItemZeroSelectedAndAnEmptyId) {
  const QRect area = top_->screen()->availableGeometry();
  EXPECT_LE(std::abs(top_->frameGeometry().center().x() - area.center().x()), 1);
  EXPECT_LE(std::abs(top_->frameGeometry().center().y() - area.center().y()), 1);
  EXPECT_EQ(combo_->currentIndex(), 0);
  EXPECT_EQ(combo_->currentText(), U("艾欧尼亚 电信一"));
  EXPECT_EQ(window_.SelectedRegionIndex(), 0);
  EXPECT_TRUE(window_.PlayerId().empty());
}

TEST_F(WindowTest, TheListHoldsTheTwentySixRegionsInOrderAndCannotBeTypedInto) {
  EXPECT_FALSE(combo_->isEditable());
  ASSERT_EQ(combo_->count(), QueryWindow::kRegionCount);
  for (int i = 0; i < QueryWindow::kRegionCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(combo_->itemText(i), U(kItemsUtf8[i]));
    EXPECT_EQ(window_.RegionItemText(i), Gbk(kItemsUtf8[i]));
  }
  // Pinned GBK bytes of the first and the special item.
  EXPECT_EQ(window_.RegionItemText(0).str(),
            "\xB0\xAC\xC5\xB7\xC4\xE1\xD1\xC7 \xB5\xE7\xD0\xC5\xD2\xBB");
  EXPECT_EQ(window_.RegionItemText(19).str(), "\xBD\xCC\xD3\xFD\xCD\xF8 \xD7\xA8\xC7\xF8");
  for (int outside : {-1, QueryWindow::kRegionCount, INT_MIN, INT_MAX}) {
    EXPECT_TRUE(window_.RegionItemText(outside).empty()) << outside;
  }
  // Typing into the list moves the selection; it never adds or edits an item.
  combo_->setFocus();
  QTest::keyClicks(combo_, QStringLiteral("xyz"));
  QTest::keyClick(combo_, Qt::Key_Down);
  EXPECT_EQ(combo_->count(), QueryWindow::kRegionCount);
  EXPECT_EQ(window_.SelectedRegionIndex(), 1);
  EXPECT_EQ(window_.RegionItemText(window_.SelectedRegionIndex()), Gbk(kItemsUtf8[1]));
}

TEST_F(WindowTest, TypedIdIsReadBackAsGbk) {
  edit_->setFocus();
  Type(edit_, U(" 测试玩家 Abc_1 "));
  EXPECT_EQ(window_.PlayerId(), Gbk(" 测试玩家 Abc_1 "));  // blanks kept as typed
  EXPECT_EQ(window_.PlayerId().str(), " \xB2\xE2\xCA\xD4\xCD\xE6\xBC\xD2 Abc_1 ");
  edit_->clear();
  EXPECT_TRUE(window_.PlayerId().empty());
}

TEST_F(WindowTest, IdOfAHundredThousandCharactersIsKeptWhole) {
  edit_->setFocus();
  const QString chunk = U("玩家ab");  // 4 characters, 6 GBK bytes
  QString id;
  for (int i = 0; i < 25000; ++i) id += chunk;
  edit_->insert(id);
  QTest::keyClick(edit_, 'Z');  // typing still works past 32767
  EXPECT_EQ(edit_->text().size(), 100001);
  const Text read = window_.PlayerId();
  ASSERT_EQ(read.size(), 150001u);
  const std::string chunkGbk = Gbk("玩家ab").str();
  EXPECT_EQ(read.str().substr(0, 6), chunkGbk);
  EXPECT_EQ(read.str().substr(149994, 6), chunkGbk);
  EXPECT_EQ(read.str().back(), 'Z');
}

TEST_F(WindowTest, MessageBoxDefaultTitleTextAndModality) {
  int queryClicks = 0;
  QObject::connect(button_, &QPushButton::clicked, [&] { ++queryClicks; });
  const auto seen =
      test::CatchMessageBox([&] { window_.ShowMessageBox(Gbk("请输入游戏ID！\r\n第二行")); },
                            [&](QMessageBox*) {
                              // The box is modal to the application: a click on the window does not
                              // get through.
                              test::ClickAsUser(button_);
                            });
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, U("信息："));
  EXPECT_EQ(seen.text, U("请输入游戏ID！\n第二行"));
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttonCount, 1);
  EXPECT_TRUE(seen.okButton);
  EXPECT_FALSE(seen.hasParent);
  EXPECT_EQ(queryClicks, 0);
  EXPECT_EQ(seen.extraBoxes, 0);
}

TEST_F(WindowTest, MessageBoxWithAGivenTitle) {
  const Text text = Gbk("游戏ID： abc\r\n段位： 黄金 I\r\n最近登录 ： 2014-05-01");
  const auto seen = test::CatchMessageBox([&] { ShowMessageBox(text, Gbk("提示")); });
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, U("提示"));
  EXPECT_EQ(seen.text, U("游戏ID： abc\n段位： 黄金 I\n最近登录 ： 2014-05-01"));
  // An empty given title is a title: the box shows no default.
  const auto untitled = test::CatchMessageBox([&] { ShowMessageBox(Text("x"), Text()); });
  ASSERT_TRUE(untitled.seen);
  EXPECT_EQ(untitled.title, QString());
}

TEST_F(WindowTest, BusyWindowShowsTheWaitCursorAndRefusesClicks) {
  int queryClicks = 0;
  QObject::connect(button_, &QPushButton::clicked, [&] { ++queryClicks; });
  window_.SetBusy(true);
  window_.SetBusy(true);  // repeated: still one wait cursor to lift
  EXPECT_TRUE(window_.IsBusy());
  EXPECT_FALSE(top_->isEnabled());
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  const auto none = test::CatchMessageBox([&] {
    test::ClickAsUser(button_);
    QTest::keyClick(button_, Qt::Key_Space);
  });
  EXPECT_FALSE(none.seen);
  EXPECT_EQ(queryClicks, 0);
  window_.SetBusy(false);
  EXPECT_TRUE(top_->isEnabled());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  window_.SetBusy(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, ButtonRunsTheQuery) {
  // With an empty player ID the query only asks for one; no request is made.
  const auto seen = test::CatchMessageBox([&] { test::ClickAsUser(button_); });
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.text, U("请输入游戏ID！"));
  EXPECT_EQ(seen.title, U("信息："));
  EXPECT_EQ(seen.extraBoxes, 0);
  // The click has ended: the window takes input again and no wait cursor is left.
  EXPECT_TRUE(top_->isEnabled());
  EXPECT_FALSE(window_.IsBusy());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace quorvel
