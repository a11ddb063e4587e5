// The window toolkit over Qt Widgets. GBK bytes are converted to and from UTF-16 here,
// through the codepage layer, so nothing above this file sees a Qt type.
#include "platform/ui/ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QWidget>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#if defined(__linux__)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "platform/codepage/codepage.h"

namespace quorvel::platform {

struct UiWidgetRef {
  QPointer<QWidget> widget;
};

namespace {

// Larger texts are refused (shown empty): the conversion counts in int, and the longest
// text a line edit or label could sensibly hold is far below this.
constexpr std::size_t kMaxBytes = INT_MAX / 2;

QString FromGbk(std::string_view gbk) {
  if (gbk.empty() || gbk.size() > kMaxBytes) return QString();
  const int inBytes = static_cast<int>(gbk.size());
  const int units = MultiByteToWide(kAnsiCodePage, 0, gbk.data(), inBytes, nullptr, 0);
  if (units <= 0) return QString();
  QString out(units, Qt::Uninitialized);
  const int written = MultiByteToWide(kAnsiCodePage, 0, gbk.data(), inBytes,
                                      reinterpret_cast<char16_t*>(out.data()), units);
  if (written <= 0) return QString();
  out.resize(written);
  return out;
}

std::string ToGbk(const QString& s) {
  if (s.isEmpty() || static_cast<std::size_t>(s.size()) > kMaxBytes / 2) return std::string();
  const auto* in = reinterpret_cast<const char16_t*>(s.utf16());
  const int inUnits = static_cast<int>(s.size());
  const int bytes = WideToMultiByte(kAnsiCodePage, kCompositeCheck, in, inUnits, nullptr, 0);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<std::size_t>(bytes), '\0');
  const int written =
      WideToMultiByte(kAnsiCodePage, kCompositeCheck, in, inUnits, out.data(), bytes);
  if (written <= 0) return std::string();
  out.resize(static_cast<std::size_t>(written));
  return out;
}

// CR LF and a lone CR become LF, the line break Qt's plain text knows.
QString WithLineBreaks(QString s) {
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

// Qt reads "[*]" in a window title as the place of the modified marker; doubled it is
// shown as itself, so every title keeps its text exactly.
QString LiteralTitle(std::string_view gbk) {
  return FromGbk(gbk).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QString LiteralTitleBack(QString shown) {
  return shown.replace(QStringLiteral("[*][*]"), QStringLiteral("[*]"));
}

bool HaveApp() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

QRect ToQRect(const UiRect& r) { return QRect(r.left, r.top, r.width, r.height); }

// A label whose text wraps at word boundaries and after a colon ("ID:" / "name"), and
// inside a word that does not fit on a line by itself, so no text is cut off at the right
// edge. The text block is centred vertically.
class WrappingLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QString shown = WithLineBreaks(text());
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    shown.replace(QLatin1Char(':'), QStringLiteral(":\u200b"));  // zero-width break chance
    const QRect area = contentsRect();
    QTextLayout layout(shown, font());
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(area.width());
      line.setPosition(QPointF(0, height));
      height += line.height();
    }
    layout.endLayout();
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, QPointF(area.left(), area.top() + (area.height() - height) / 2));
  }
};

QWidget* WidgetOf(const std::shared_ptr<UiWidgetRef>& ref) {
  return ref ? ref->widget.data() : nullptr;
}

template <class W>
W* As(const std::shared_ptr<UiWidgetRef>& ref) {
  return qobject_cast<W*>(WidgetOf(ref));
}

}  // namespace

// ---- Application ----------------------------------------------------------------------

#if defined(__linux__)
namespace {

// True when a local stream socket accepts a connection: the abstract name first (as the X
// client library tries it), then the file.
bool LocalSocketAccepts(const std::string& path) {
  for (bool abstract : {true, false}) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path + offset, path.data(), path.size());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() +
                                            (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
    ::close(fd);
    if (ok) return true;
  }
  return false;
}

// Whether the X display named by a DISPLAY value ("[host]:number[.screen]") can be reached.
// A local display (no host, or "unix") is probed at its socket, so a stale DISPLAY is told
// apart from a live one before the toolkit would abort on it; a display on another host is
// left to the toolkit.
bool X11DisplayReachable(std::string_view display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;
  std::string_view number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  return LocalSocketAccepts("/tmp/.X11-unix/X" + std::string(number));
}

}  // namespace
#endif

bool UiDisplayAvailable() {
#if defined(__linux__)
  auto set = [](const char* var) -> const char* {
    const char* v = std::getenv(var);
    return v && *v ? v : nullptr;
  };
  if (set("QT_QPA_PLATFORM") || set("WAYLAND_DISPLAY")) return true;
  const char* display = set("DISPLAY");
  return display && X11DisplayReachable(display);
#else
  return true;
#endif
}

struct UiApplication::Impl {
  std::unique_ptr<QApplication> owned;
};

UiApplication::UiApplication() : impl_(std::make_unique<Impl>()) {
  if (QCoreApplication::instance() || !UiDisplayAvailable()) return;
  // The toolkit keeps references to these for its whole life; the program reads its own
  // options before the toolkit starts, so only its name is passed.
  static int argc = 1;
  static char name[] = "quorvel";
  static char* argv[] = {name, nullptr};
  impl_->owned = std::make_unique<QApplication>(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  // The default GUI font: a CJK sans face at the size of the classic 9-point dialog font,
  // which every control of the query window is laid out for.
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
                    QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(12);
  QApplication::setFont(font);
}

UiApplication::~UiApplication() = default;

bool UiApplication::ok() const noexcept { return HaveApp(); }

void UiApplication::Run() {
  if (HaveApp()) QApplication::exec();
}

void UiSetWaitCursor(bool on) {
  if (!HaveApp()) return;
  if (on) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else if (QGuiApplication::overrideCursor()) {
    QGuiApplication::restoreOverrideCursor();
  }
}

void UiFlush() {
  if (HaveApp()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void UiShowMessage(std::string_view text, std::string_view title) {
  if (!HaveApp()) return;
  QMessageBox box;  // no owner window
  box.setObjectName(QStringLiteral("UiMessageBox"));
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(LiteralTitle(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(WithLineBreaks(FromGbk(text)));
  box.setStandardButtons(QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  // Some desktop themes decorate dialog buttons with pictures; this box has none at all.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setIcon(QIcon());
  box.setWindowModality(Qt::ApplicationModal);
  // A busy caller's wait cursor would otherwise hang over the box the user must answer.
  const bool waiting = QGuiApplication::overrideCursor() != nullptr;
  if (waiting) QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
  box.exec();
  if (waiting) QGuiApplication::restoreOverrideCursor();
}

// ---- Controls -------------------------------------------------------------------------

UiControl::UiControl() = default;
UiControl::~UiControl() = default;
UiControl::UiControl(const UiControl&) = default;
UiControl& UiControl::operator=(const UiControl&) = default;
UiControl::UiControl(std::shared_ptr<UiWidgetRef> ref) : ref_(std::move(ref)) {}

bool UiControl::IsValid() const { return WidgetOf(ref_) != nullptr; }

std::string UiControl::Name() const {
  QWidget* w = WidgetOf(ref_);
  return w ? ToGbk(w->objectName()) : std::string();
}

UiRect UiControl::Geometry() const {
  QWidget* w = WidgetOf(ref_);
  if (!w) return UiRect{};
  const QRect g = w->geometry();
  return UiRect{g.x(), g.y(), g.width(), g.height()};
}

bool UiControl::IsEnabled() const {
  QWidget* w = WidgetOf(ref_);
  return w && w->isEnabled();
}

void UiControl::SetEnabled(bool on) {
  if (QWidget* w = WidgetOf(ref_)) w->setEnabled(on);
}

std::string UiLabel::Text() const {
  auto* w = As<QLabel>(ref_);
  return w ? ToGbk(w->text()) : std::string();
}

void UiLabel::SetText(std::string_view text) {
  if (auto* w = As<QLabel>(ref_)) w->setText(FromGbk(text));
}

std::string UiEditBox::Text() const {
  auto* w = As<QLineEdit>(ref_);
  return w ? ToGbk(w->text()) : std::string();
}

void UiEditBox::SetText(std::string_view text) {
  if (auto* w = As<QLineEdit>(ref_)) w->setText(FromGbk(text));
}

void UiComboBox::AddItem(std::string_view text) {
  if (auto* w = As<QComboBox>(ref_)) w->addItem(FromGbk(text));
}

int UiComboBox::Count() const {
  auto* w = As<QComboBox>(ref_);
  return w ? w->count() : 0;
}

int UiComboBox::CurrentIndex() const {
  auto* w = As<QComboBox>(ref_);
  return w ? w->currentIndex() : -1;
}

void UiComboBox::SetCurrentIndex(int index) {
  auto* w = As<QComboBox>(ref_);
  if (!w) return;
  w->setCurrentIndex(index >= 0 && index < w->count() ? index : -1);
}

std::string UiComboBox::ItemText(int index) const {
  auto* w = As<QComboBox>(ref_);
  if (!w || index < 0 || index >= w->count()) return std::string();
  return ToGbk(w->itemText(index));
}

std::string UiButton::Text() const {
  auto* w = As<QPushButton>(ref_);
  return w ? ToGbk(w->text()) : std::string();
}

// ---- Window ---------------------------------------------------------------------------

UiWindow::UiWindow(std::string_view name, std::string_view caption, int clientWidth,
                   int clientHeight)
    : ref_(std::make_shared<UiWidgetRef>()) {
  if (!HaveApp()) return;
  auto* w = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                     Qt::WindowCloseButtonHint);
  w->setObjectName(FromGbk(name));
  w->setWindowTitle(LiteralTitle(caption));
  w->setFixedSize(clientWidth > 0 ? clientWidth : 1, clientHeight > 0 ? clientHeight : 1);
  ref_->widget = w;
}

UiWindow::~UiWindow() { delete ref_->widget.data(); }

UiControl UiWindow::Handle() const { return UiControl(ref_); }

std::string UiWindow::Caption() const {
  QWidget* w = WidgetOf(ref_);
  return w ? ToGbk(LiteralTitleBack(w->windowTitle())) : std::string();
}

namespace {

template <class W>
std::shared_ptr<UiWidgetRef> Place(QWidget* parent, W* control, std::string_view name,
                                   const UiRect& rect) {
  control->setObjectName(FromGbk(name));
  control->setGeometry(ToQRect(rect));
  auto ref = std::make_shared<UiWidgetRef>();
  ref->widget = control;
  return ref;
}

}  // namespace

UiLabel UiWindow::AddLabel(std::string_view name, UiRect rect, std::string_view text) {
  QWidget* parent = WidgetOf(ref_);
  if (!parent) return UiLabel();
  auto* label = new WrappingLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(FromGbk(text));
  return UiLabel(Place(parent, label, name, rect));
}

UiEditBox UiWindow::AddEditBox(std::string_view name, UiRect rect) {
  QWidget* parent = WidgetOf(ref_);
  if (!parent) return UiEditBox();
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(INT_MAX);  // no limit (the toolkit's default is 32767)
  edit->setFrame(true);
  return UiEditBox(Place(parent, edit, name, rect));
}

UiComboBox UiWindow::AddComboBox(std::string_view name, UiRect rect) {
  QWidget* parent = WidgetOf(ref_);
  if (!parent) return UiComboBox();
  auto* combo = new QComboBox(parent);
  combo->setEditable(false);
  combo->setInsertPolicy(QComboBox::NoInsert);
  return UiComboBox(Place(parent, combo, name, rect));
}

UiButton UiWindow::AddButton(std::string_view name, UiRect rect, std::string_view text,
                             std::function<void()> onClick) {
  QWidget* parent = WidgetOf(ref_);
  if (!parent) return UiButton();
  auto* button = new QPushButton(FromGbk(text), parent);
  button->setAutoDefault(false);
  if (onClick) {
    QObject::connect(button, &QPushButton::clicked, button, [fn = std::move(onClick)] {
      // Nothing may unwind through the toolkit's event dispatch.
      try {
        fn();
      } catch (...) {
      }
    });
  }
  return UiButton(Place(parent, button, name, rect));
}

void UiWindow::CentreOnScreen() {
  QWidget* w = WidgetOf(ref_);
  if (!w) return;
  QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // move() places the outer frame. Before the window is first shown its frame is not known
  // yet, so the client area is centred; the border added later moves it a few pixels.
  const QRect area = screen->availableGeometry();
  w->move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, w->frameGeometry().size(), area)
              .topLeft());
}

void UiWindow::Show() {
  if (QWidget* w = WidgetOf(ref_)) w->show();
}

void UiWindow::ShowCentred() {
  QWidget* w = WidgetOf(ref_);
  if (!w) return;
  CentreOnScreen();
  w->show();
  CentreOnScreen();
}

bool UiWindow::IsVisible() const {
  QWidget* w = WidgetOf(ref_);
  return w && w->isVisible();
}

void UiWindow::SetInputEnabled(bool on) {
  if (QWidget* w = WidgetOf(ref_)) w->setEnabled(on);
}

bool UiWindow::IsInputEnabled() const {
  QWidget* w = WidgetOf(ref_);
  return w && w->isEnabled();
}

}  // namespace quorvel::platform
