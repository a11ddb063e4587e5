// quorvel_screenshot: renders the real query window and the real message box to PNG files.
//
//   quorvel_screenshot OUTDIR
//       window.png       the window as it starts
//       window_typed.png the window with a Chinese player ID typed and the button pressed down
//       window_list.png  the opened region list
//       box_default.png  a two-line message box without a title
//       box_titled.png   a message box titled "提示"
//   quorvel_screenshot --box FILE TEXT [TITLE]
//       one message box (TEXT and TITLE in UTF-8; CR LF or LF breaks lines)
//
// Grabbed widgets have no window-manager frame, so each picture gets a plain title bar
// drawn above it with the window's real title.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "app/query_window.h"
#include "platform/ui/ui.h"
#include "text/convert.h"

namespace {

constexpr int kTitleBar = 26;
constexpr int kBorder = 1;

// The picture of a top-level widget inside a plain frame with its title and buttons.
QImage Framed(QWidget* w, bool minimiseButton) {
  const QPixmap content = w->grab();
  const QSize s = content.size() / content.devicePixelRatio();
  QImage out(s.width() + 2 * kBorder, s.height() + kTitleBar + kBorder, QImage::Format_RGB32);
  out.fill(QColor(0x70, 0x70, 0x70));
  QPainter p(&out);
  p.fillRect(QRect(kBorder, kBorder, s.width(), kTitleBar - kBorder), QColor(0xe8, 0xec, 0xf2));
  p.setPen(Qt::black);
  p.setFont(QApplication::font());
  const QRect titleArea(kBorder + 8, kBorder, s.width() - 60, kTitleBar - kBorder);
  // The title as handed to the window system (markers such as "[*]" resolved).
  const QString title = w->windowHandle() ? w->windowHandle()->title() : w->windowTitle();
  p.drawText(titleArea, Qt::AlignVCenter | Qt::AlignLeft, title);
  const int right = kBorder + s.width();
  p.drawText(QRect(right - 24, kBorder, 20, kTitleBar - kBorder), Qt::AlignCenter,
             QStringLiteral("\u00d7"));
  if (minimiseButton) {
    p.drawText(QRect(right - 48, kBorder, 20, kTitleBar - kBorder), Qt::AlignCenter,
               QStringLiteral("_"));
  }
  p.drawPixmap(QPoint(kBorder, kTitleBar), content);
  return out;
}

bool Save(const QImage& img, const QString& path) {
  if (!img.save(path, "PNG")) {
    std::fprintf(stderr, "quorvel_screenshot: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  std::printf("%s\n", path.toLocal8Bit().constData());
  return true;
}

// Shows a box through the product's own call and saves its picture before closing it.
bool ShootBox(const QString& path, const quorvel::Text& text, std::optional<quorvel::Text> title) {
  bool saved = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    saved = Save(Framed(box, false), path);
    box->button(QMessageBox::Ok)->click();
  });
  poll.start();
  quorvel::ShowMessageBox(text, std::move(title));
  return saved;
}

QWidget* FindWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String("QueryWindow")) return w;
  }
  return nullptr;
}

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

int ShootAll(const QString& dir) {
  QDir().mkpath(dir);
  bool ok = true;
  {
    quorvel::QueryWindow window;
    window.Show();
    Settle();
    QWidget* w = FindWindow();
    if (!w) return 1;
    ok &= Save(Framed(w, true), dir + "/window.png");

    auto* edit = w->findChild<QLineEdit*>(QString::fromUtf8("编辑框_游戏ID"));
    auto* button = w->findChild<QPushButton*>(QString::fromUtf8("按钮_rank"));
    auto* combo = w->findChild<QComboBox*>(QString::fromUtf8("组合框_"));
    if (!edit || !button || !combo) return 1;
    combo->setCurrentIndex(1);
    edit->setText(QString::fromUtf8("测试玩家 Abc_123"));
    edit->setFocus();
    button->setDown(true);
    Settle();
    ok &= Save(Framed(w, true), dir + "/window_typed.png");
    button->setDown(false);

    combo->showPopup();
    Settle();
    QWidget* popup = combo->view() ? combo->view()->window() : nullptr;
    if (popup && popup != w && popup->isVisible()) {
      ok &= Save(popup->grab().toImage(), dir + "/window_list.png");
    }
    combo->hidePopup();
  }
  ok &= ShootBox(dir + "/box_default.png", quorvel::Gbk("请输入游戏ID！\r\n第二行 Second line"),
                 std::nullopt);
  ok &= ShootBox(dir + "/box_titled.png",
                 quorvel::Gbk("游戏ID： abc\r\n段位： 黄金 I\r\n隐藏分： 1234\r\n胜场： 56\r\n"
                              "胜率： 52.3%\r\n最近登录 ： 2014-05-01"),
                 quorvel::Gbk("提示"));
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::platform::UiApplication app;
  if (!app.ok()) {
    std::fputs("quorvel_screenshot: no display; set QT_QPA_PLATFORM=offscreen\n", stderr);
    return 1;
  }
  if (argc >= 4 && std::strcmp(argv[1], "--box") == 0) {
    std::optional<quorvel::Text> title;
    if (argc >= 5) title = quorvel::Gbk(argv[4]);
    return ShootBox(QString::fromLocal8Bit(argv[2]), quorvel::Gbk(argv[3]), title) ? 0 : 1;
  }
  if (argc == 2 && argv[1][0] != '-') return ShootAll(QString::fromLocal8Bit(argv[1]));
  std::fputs("usage: quorvel_screenshot OUTDIR | --box FILE TEXT [TITLE]\n", stderr);
  return 2;
}
