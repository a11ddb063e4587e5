// The window toolkit over Win32 controls: a top-level window of our own class holding
// STATIC, EDIT, COMBOBOX and BUTTON children, and MessageBoxW. GBK bytes are converted to
// and from UTF-16 here, through the codepage layer, so nothing above this file sees a
// Windows type. Every control carries its name as the window property kNameProperty (an
// atom), so tests and tools find the controls of a window by name.
#include "platform/ui/ui.h"

// windows.h first: the other system headers build on it.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage/codepage.h"

namespace quorvel::platform {

struct UiWidgetRef {
  HWND hwnd = nullptr;  // null once the control is gone
  std::string name;
  // A window's controls, so that their handles empty when the window goes.
  std::vector<std::shared_ptr<UiWidgetRef>> children;
};

namespace {

constexpr wchar_t kWindowClass[] = L"QuorvelWindow";
constexpr wchar_t kNameProperty[] = L"QuorvelName";
// Room below a drop-down list's selection field for its opened list.
constexpr int kDropDownHeight = 360;
// Larger texts are refused (shown empty): the conversion counts in int.
constexpr std::size_t kMaxBytes = INT_MAX / 2;

std::wstring FromGbk(std::string_view gbk) {
  if (gbk.empty() || gbk.size() > kMaxBytes) return std::wstring();
  const int inBytes = static_cast<int>(gbk.size());
  const int units = MultiByteToWide(kAnsiCodePage, 0, gbk.data(), inBytes, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  const int written = MultiByteToWide(kAnsiCodePage, 0, gbk.data(), inBytes,
                                      reinterpret_cast<char16_t*>(out.data()), units);
  if (written <= 0) return std::wstring();
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::string ToGbk(std::wstring_view s) {
  if (s.empty() || s.size() > kMaxBytes / 2) return std::string();
  const auto* in = reinterpret_cast<const char16_t*>(s.data());
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

std::wstring WindowText(HWND w) {
  if (!w) return std::wstring();
  const int n = GetWindowTextLengthW(w);
  if (n <= 0) return std::wstring();
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(w, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(got, 0)));
  return s;
}

// ---- Process-wide state of the toolkit --------------------------------------------------

struct Toolkit {
  int apps = 0;               // live UiApplication objects
  bool classReady = false;    // the window class is registered
  int waitCursor = 0;         // nesting depth of UiSetWaitCursor(true)
  std::vector<HWND> windows;  // the top-level windows of live UiWindow objects
};

Toolkit& Kit() {
  static Toolkit kit;
  return kit;
}

bool HaveApp() { return Kit().apps > 0; }

// Logical (96 DPI) pixels to the system's, and back.
int Dpi() {
  static const int dpi = [] {
    HDC dc = GetDC(nullptr);
    int d = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return d > 0 ? d : 96;
  }();
  return dpi;
}
int Scale(int v) { return MulDiv(v, Dpi(), 96); }
int Unscale(int v) { return MulDiv(v, 96, Dpi()); }

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

// Button ids start above the system's dialog ids, so that Enter and Escape (IDOK, IDCANCEL)
// never stand for a click of one of our buttons.
constexpr std::size_t kFirstButtonId = 100;

// Per top-level window: the click handlers of its buttons, by control id.
struct WindowState {
  std::vector<std::function<void()>> clicks;  // index = control id - kFirstButtonId
};

void QuitWhenNoWindowShows() {
  for (HWND w : Kit().windows) {
    if (IsWindowVisible(w)) return;
  }
  PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && lp != 0 && state) {
        const std::size_t id = LOWORD(wp);
        if (id >= kFirstButtonId && id - kFirstButtonId < state->clicks.size() &&
            state->clicks[id - kFirstButtonId]) {
          // A copy: the handler may change the window's handlers while it runs.
          std::function<void()> fn = state->clicks[id - kFirstButtonId];
          // Nothing may unwind through the system's message dispatch.
          try {
            fn();
          } catch (...) {
          }
        }
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (Kit().waitCursor > 0) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // Closing by the user hides the window; the loop ends when none is left showing.
      ShowWindow(hwnd, SW_HIDE);
      QuitWhenNoWindowShows();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool EnsureClass() {
  Toolkit& kit = Kit();
  if (kit.classReady) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  // The application's icon, when the executable carries one (resource id 1).
  wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  kit.classReady = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return kit.classReady;
}

void SetName(HWND w, std::string_view name) {
  const std::wstring wide = FromGbk(name);
  if (wide.empty() || wide.size() > 255) return;
  if (ATOM atom = AddAtomW(wide.c_str())) {
    SetPropW(w, kNameProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(atom)));
  }
}

HWND Hwnd(const std::shared_ptr<UiWidgetRef>& ref) {
  return ref && ref->hwnd && IsWindow(ref->hwnd) ? ref->hwnd : nullptr;
}

// The window's place in its parent's client area (a top-level window: its client area on
// the screen), in logical pixels.
UiRect PlaceOf(HWND w) {
  RECT r{};
  if (GetParent(w) == nullptr && !(GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) {
    GetClientRect(w, &r);
    POINT origin{0, 0};
    ClientToScreen(w, &origin);
    return UiRect{Unscale(origin.x), Unscale(origin.y), Unscale(r.right), Unscale(r.bottom)};
  }
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
  return UiRect{Unscale(r.left), Unscale(r.top), Unscale(r.right - r.left),
                Unscale(r.bottom - r.top)};
}

}  // namespace

// ---- Application ----------------------------------------------------------------------

bool UiDisplayAvailable() { return true; }

struct UiApplication::Impl {
  bool counted = false;
};

UiApplication::UiApplication() : impl_(std::make_unique<Impl>()) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  if (!EnsureClass()) return;
  impl_->counted = true;
  ++Kit().apps;
}

UiApplication::~UiApplication() {
  if (impl_->counted) --Kit().apps;
}

bool UiApplication::ok() const noexcept { return impl_->counted; }

void UiApplication::Run() {
  if (!HaveApp()) return;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Tab and the arrow keys move between the controls of our windows.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    auto& windows = Kit().windows;
    if (root && std::find(windows.begin(), windows.end(), root) != windows.end() &&
        IsDialogMessageW(root, &msg)) {
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void UiSetWaitCursor(bool on) {
  if (!HaveApp()) return;
  Toolkit& kit = Kit();
  if (on) {
    ++kit.waitCursor;
  } else if (kit.waitCursor > 0) {
    --kit.waitCursor;
  }
  SetCursor(LoadCursorW(nullptr, kit.waitCursor > 0 ? IDC_WAIT : IDC_ARROW));
}

void UiFlush() {
  if (!HaveApp()) return;
  for (HWND w : Kit().windows) UpdateWindow(w);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void UiShowMessage(std::string_view text, std::string_view title) {
  if (!HaveApp()) return;
  const std::wstring wideText = FromGbk(text);
  const std::wstring wideTitle = FromGbk(title);
  MessageBoxW(nullptr, wideText.c_str(), wideTitle.c_str(), MB_OK | MB_TASKMODAL);
}

// ---- Controls -------------------------------------------------------------------------

UiControl::UiControl() = default;
UiControl::~UiControl() = default;
UiControl::UiControl(const UiControl&) = default;
UiControl& UiControl::operator=(const UiControl&) = default;
UiControl::UiControl(std::shared_ptr<UiWidgetRef> ref) : ref_(std::move(ref)) {}

bool UiControl::IsValid() const { return Hwnd(ref_) != nullptr; }

std::string UiControl::Name() const { return Hwnd(ref_) ? ref_->name : std::string(); }

UiRect UiControl::Geometry() const {
  HWND w = Hwnd(ref_);
  return w ? PlaceOf(w) : UiRect{};
}

bool UiControl::IsEnabled() const {
  HWND w = Hwnd(ref_);
  return w && IsWindowEnabled(w);
}

void UiControl::SetEnabled(bool on) {
  if (HWND w = Hwnd(ref_)) EnableWindow(w, on ? TRUE : FALSE);
}

std::string UiLabel::Text() const { return ToGbk(WindowText(Hwnd(ref_))); }

void UiLabel::SetText(std::string_view text) {
  if (HWND w = Hwnd(ref_)) SetWindowTextW(w, FromGbk(text).c_str());
}

std::string UiEditBox::Text() const { return ToGbk(WindowText(Hwnd(ref_))); }

void UiEditBox::SetText(std::string_view text) {
  if (HWND w = Hwnd(ref_)) SetWindowTextW(w, FromGbk(text).c_str());
}

void UiComboBox::AddItem(std::string_view text) {
  if (HWND w = Hwnd(ref_)) {
    SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(FromGbk(text).c_str()));
  }
}

int UiComboBox::Count() const {
  HWND w = Hwnd(ref_);
  const LRESULT n = w ? SendMessageW(w, CB_GETCOUNT, 0, 0) : 0;
  return n > 0 ? static_cast<int>(n) : 0;
}

int UiComboBox::CurrentIndex() const {
  HWND w = Hwnd(ref_);
  const LRESULT i = w ? SendMessageW(w, CB_GETCURSEL, 0, 0) : CB_ERR;
  return i >= 0 ? static_cast<int>(i) : -1;
}

void UiComboBox::SetCurrentIndex(int index) {
  HWND w = Hwnd(ref_);
  if (!w) return;
  const int count = Count();
  SendMessageW(w, CB_SETCURSEL, index >= 0 && index < count ? index : -1, 0);
}

std::string UiComboBox::ItemText(int index) const {
  HWND w = Hwnd(ref_);
  if (!w || index < 0 || index >= Count()) return std::string();
  const LRESULT n = SendMessageW(w, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (n <= 0) return std::string();
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  const LRESULT got =
      SendMessageW(w, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
  if (got <= 0) return std::string();
  s.resize(static_cast<std::size_t>(got));
  return ToGbk(s);
}

std::string UiButton::Text() const { return ToGbk(WindowText(Hwnd(ref_))); }

// ---- Window ---------------------------------------------------------------------------

namespace {

// The frame the window definition was drawn with, at 96 DPI: 8 px on the left, right and
// bottom and a 31 px caption band, so the defined outer size is the client size plus these.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 39;

constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

}  // namespace

UiWindow::UiWindow(std::string_view name, std::string_view caption, int clientWidth,
                   int clientHeight)
    : ref_(std::make_shared<UiWidgetRef>()) {
  if (!HaveApp()) return;
  const int width = Scale((clientWidth > 0 ? clientWidth : 1) + kFrameWidth);
  const int height = Scale((clientHeight > 0 ? clientHeight : 1) + kFrameHeight);
  HWND w = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, FromGbk(caption).c_str(),
                           kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, width, height, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!w) return;
  SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new WindowState));
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
  SetName(w, name);
  ref_->hwnd = w;
  ref_->name = std::string(name);
  Kit().windows.push_back(w);
}

UiWindow::~UiWindow() {
  HWND w = ref_->hwnd;
  if (!w) return;
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(w, GWLP_USERDATA));
  auto& windows = Kit().windows;
  windows.erase(std::remove(windows.begin(), windows.end(), w), windows.end());
  // Children first lose their handles, then the window and its children go.
  EnumChildWindows(
      w,
      [](HWND child, LPARAM) -> BOOL {
        RemovePropW(child, kNameProperty);
        return TRUE;
      },
      0);
  RemovePropW(w, kNameProperty);
  DestroyWindow(w);
  delete state;
  ref_->hwnd = nullptr;
  for (const auto& c : ref_->children) c->hwnd = nullptr;
}

UiControl UiWindow::Handle() const { return UiControl(ref_); }

std::string UiWindow::Caption() const { return ToGbk(WindowText(Hwnd(ref_))); }

namespace {

HWND MakeControl(HWND parent, const wchar_t* cls, DWORD style, DWORD exStyle,
                 const std::wstring& text, const UiRect& rect, int extraHeight, int id) {
  HWND c = CreateWindowExW(
      exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, Scale(rect.left), Scale(rect.top),
      Scale(rect.width), Scale(rect.height) + extraHeight, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (c) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
  return c;
}

std::shared_ptr<UiWidgetRef> Adopt(UiWidgetRef& window, HWND control, std::string_view name) {
  auto ref = std::make_shared<UiWidgetRef>();
  if (!control) return ref;
  SetName(control, name);
  ref->hwnd = control;
  ref->name = std::string(name);
  window.children.push_back(ref);
  return ref;
}

}  // namespace

UiLabel UiWindow::AddLabel(std::string_view name, UiRect rect, std::string_view text) {
  HWND parent = Hwnd(ref_);
  if (!parent) return UiLabel();
  // SS_EDITCONTROL breaks a word that does not fit on a line by itself.
  HWND c = MakeControl(parent, L"STATIC", SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 0, FromGbk(text),
                       rect, 0, 0);
  return UiLabel(Adopt(*ref_, c, name));
}

UiEditBox UiWindow::AddEditBox(std::string_view name, UiRect rect) {
  HWND parent = Hwnd(ref_);
  if (!parent) return UiEditBox();
  HWND c = MakeControl(parent, L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE,
                       std::wstring(), rect, 0, 0);
  if (c) SendMessageW(c, EM_SETLIMITTEXT, 0, 0);  // no limit (the default is 32767)
  return UiEditBox(Adopt(*ref_, c, name));
}

UiComboBox UiWindow::AddComboBox(std::string_view name, UiRect rect) {
  HWND parent = Hwnd(ref_);
  if (!parent) return UiComboBox();
  HWND c = MakeControl(parent, L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0,
                       std::wstring(), rect, kDropDownHeight, 0);
  if (c) {
    // The closed box takes the given height: its selection field is sized to fit. The
    // system may add to the height it is given, so the request is corrected step by step.
    LRESULT request = SendMessageW(c, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    for (int attempt = 0; attempt < 4 && request != CB_ERR; ++attempt) {
      RECT r{};
      GetWindowRect(c, &r);
      const int off = Scale(rect.height) - (r.bottom - r.top);
      if (off == 0 || request + off < 1) break;
      request += off;
      SendMessageW(c, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
    }
  }
  return UiComboBox(Adopt(*ref_, c, name));
}

UiButton UiWindow::AddButton(std::string_view name, UiRect rect, std::string_view text,
                             std::function<void()> onClick) {
  HWND parent = Hwnd(ref_);
  if (!parent) return UiButton();
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(parent, GWLP_USERDATA));
  if (!state) return UiButton();
  state->clicks.push_back(std::move(onClick));
  const int id = static_cast<int>(kFirstButtonId + state->clicks.size() - 1);
  HWND c =
      MakeControl(parent, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, FromGbk(text), rect, 0, id);
  return UiButton(Adopt(*ref_, c, name));
}

void UiWindow::CentreOnScreen() {
  HWND w = Hwnd(ref_);
  if (!w) return;
  RECT area{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return;
  RECT r{};
  GetWindowRect(w, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  const int x = area.left + ((area.right - area.left) - width) / 2;
  const int y = area.top + ((area.bottom - area.top) - height) / 2;
  SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void UiWindow::Show() {
  if (HWND w = Hwnd(ref_)) {
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
  }
}

void UiWindow::ShowCentred() {
  CentreOnScreen();
  Show();
}

bool UiWindow::IsVisible() const {
  HWND w = Hwnd(ref_);
  return w && IsWindowVisible(w);
}

void UiWindow::SetInputEnabled(bool on) {
  if (HWND w = Hwnd(ref_)) EnableWindow(w, on ? TRUE : FALSE);
}

bool UiWindow::IsInputEnabled() const {
  HWND w = Hwnd(ref_);
  return w && IsWindowEnabled(w);
}

}  // namespace quorvel::platform
