// The window toolkit of the system: the application and its message loop, a fixed-size
// top-level window, labels, a single-line edit box, a drop-down-list combo box, a push
// button and a modal message box.
//
// Every text in and out is GBK bytes (the system's ANSI code page); the layer converts at
// its boundary. Bytes that are not valid GBK are shown as replacement characters and
// characters GBK lacks come back as '?'; nothing here fails loudly. Controls carry the
// names they are given as object names. All calls belong on the thread that made the
// UiApplication; without a live UiApplication every call is a harmless no-op.
//
// Backends: Qt Widgets on Linux, Win32 controls on Windows. On Windows:
// - Sizes and places are in pixels at 96 DPI; the window scales them to the system's DPI.
// - The window is made with the outer size of the client size given plus the frame the
//   window's layout was drawn for (16 x 39 at 96 DPI), whatever frame the system draws; its
//   client area is what that frame leaves, at least the size given.
// - Controls are STATIC, EDIT, COMBOBOX (drop-down list) and BUTTON windows in the default
//   GUI font; each carries its name as the window property "QuorvelName" (an atom), and a
//   text ends at its first zero.
// - The message box is MessageBoxW(no owner, MB_OK | MB_TASKMODAL): the system draws CR LF
//   as a line break and keeps its own arrow cursor over a waiting window.
// - UiDisplayAvailable is always true: the system has its desktop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::platform {

// A rectangle in client pixels of the parent window.
struct UiRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const UiRect&, const UiRect&) = default;
};

// True when a window can be shown: a platform was chosen explicitly (QT_QPA_PLATFORM, e.g.
// "offscreen"), a Wayland display is named, or DISPLAY names an X display that answers (a
// local one is probed at its socket; one on another host is taken on trust).
bool UiDisplayAvailable();

// The toolkit of the process. Make one before any window; a second one while the first
// lives shares it. ok() is false when no display is available (nothing else works then).
class UiApplication {
 public:
  UiApplication();
  ~UiApplication();
  UiApplication(const UiApplication&) = delete;
  UiApplication& operator=(const UiApplication&) = delete;

  bool ok() const noexcept;
  // Runs the message loop until the last window has been closed.
  void Run();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Turns the wait cursor of the whole application on or off. Calls nest: each "on" needs
// its "off".
void UiSetWaitCursor(bool on);

// Handles pending paint and window-system work (never user input), so that a state
// change shows before the caller blocks the thread.
void UiFlush();

// Shows a modal message box and returns when it is closed: the text (CR LF or a lone CR
// shown as a line break, never read as markup), the title, one OK button, no icon, no
// owner window, modal to the whole application.
void UiShowMessage(std::string_view text, std::string_view title);

// What a handle refers to (defined by the implementation).
struct UiWidgetRef;

// A non-owning handle to a control; the window owns the control. A handle outlives its
// control safely: once the control is gone every call is a no-op or gives an empty value.
class UiControl {
 public:
  UiControl();
  ~UiControl();
  UiControl(const UiControl&);
  UiControl& operator=(const UiControl&);

  bool IsValid() const;
  std::string Name() const;
  UiRect Geometry() const;
  bool IsEnabled() const;
  void SetEnabled(bool on);

 protected:
  explicit UiControl(std::shared_ptr<UiWidgetRef> ref);
  std::shared_ptr<UiWidgetRef> ref_;
  friend class UiWindow;
};

// A static text. Long text wraps onto further lines, at a word boundary where there is
// one and anywhere else otherwise.
class UiLabel : public UiControl {
 public:
  UiLabel() = default;
  std::string Text() const;
  void SetText(std::string_view text);

 private:
  using UiControl::UiControl;
  friend class UiWindow;
};

// A single-line edit box with a sunken border and no length limit.
class UiEditBox : public UiControl {
 public:
  UiEditBox() = default;
  std::string Text() const;
  void SetText(std::string_view text);

 private:
  using UiControl::UiControl;
  friend class UiWindow;
};

// A drop-down list: the user picks one of the items and cannot type. Items keep the order
// they were added in.
class UiComboBox : public UiControl {
 public:
  UiComboBox() = default;
  void AddItem(std::string_view text);
  int Count() const;
  // The selected item, -1 when none.
  int CurrentIndex() const;
  // Selects an item; any index outside the list clears the selection.
  void SetCurrentIndex(int index);
  // Empty for an index outside 0 .. Count() - 1.
  std::string ItemText(int index) const;

 private:
  using UiControl::UiControl;
  friend class UiWindow;
};

class UiButton : public UiControl {
 public:
  UiButton() = default;
  std::string Text() const;

 private:
  using UiControl::UiControl;
  friend class UiWindow;
};

// A top-level window with a fixed client size: caption bar with close and minimise
// buttons, no maximise button, not resizable. It owns its controls; destroying the
// UiWindow destroys them. Closing it by the user only hides it.
class UiWindow {
 public:
  UiWindow(std::string_view name, std::string_view caption, int clientWidth, int clientHeight);
  ~UiWindow();
  UiWindow(const UiWindow&) = delete;
  UiWindow& operator=(const UiWindow&) = delete;

  UiControl Handle() const;
  std::string Caption() const;

  UiLabel AddLabel(std::string_view name, UiRect rect, std::string_view text);
  UiEditBox AddEditBox(std::string_view name, UiRect rect);
  UiComboBox AddComboBox(std::string_view name, UiRect rect);
  // onClick runs on the user-interface thread each time the button is clicked.
  UiButton AddButton(std::string_view name, UiRect rect, std::string_view text,
                     std::function<void()> onClick);

  // Centres the window on the screen it is on.
  void CentreOnScreen();
  void Show();
  // Centres and shows the window, and centres it again once its frame is known.
  void ShowCentred();
  bool IsVisible() const;
  // Input on or off for the window and all its controls.
  void SetInputEnabled(bool on);
  bool IsInputEnabled() const;

 private:
  std::shared_ptr<UiWidgetRef> ref_;
};

}  // namespace quorvel::platform
