// Support for tests that drive real Win32 windows: the toolkit for the whole test binary,
// finding controls by the name the toolkit layer gives them, input as the user makes it, and
// a catcher that reads and closes the next message box.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/ui.h"

namespace quorvel::test {

class UiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    app_ = std::make_unique<platform::UiApplication>();
    ASSERT_TRUE(app_->ok());
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<platform::UiApplication> app_;
};

inline ::testing::Environment* const kUiEnvironment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment);

inline std::wstring W(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring s(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, s.data(), n);
  s.resize(s.size() - 1);
  return s;
}

inline std::wstring TextOf(HWND w) {
  const int n = GetWindowTextLengthW(w);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(w, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return s;
}

inline std::wstring ClassOf(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return name;
}

// The name the toolkit gave a window or control (its "QuorvelName" property).
inline std::wstring NameOf(HWND w) {
  const auto atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(w, L"QuorvelName")));
  if (!atom) return std::wstring();
  wchar_t name[256] = {};
  const UINT n = GetAtomNameW(atom, name, 256);
  return std::wstring(name, n);
}

// The top-level window of this thread with that name, or null.
inline HWND FindTopLevel(const std::wstring& name) {
  struct Search {
    std::wstring name;
    HWND found = nullptr;
  } search{name};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (NameOf(w) != s->name) return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline HWND FindChild(HWND parent, const std::wstring& name) {
  struct Search {
    std::wstring name;
    HWND found = nullptr;
  } search{name};
  EnumChildWindows(
      parent,
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (NameOf(w) != s->name) return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A control's rectangle in its parent's client area.
inline RECT PlaceInParent(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Handles what is queued for this thread, user input included, for a while.
inline void Pump(int ms = 50) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (std::chrono::steady_clock::now() < end);
}

// Handles what is queued until `done` holds or the time is up; returns `done`'s last answer.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 2000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < end) Pump(10);
  return done();
}

// Clicks the middle of a control the way the user does, through the system's input queue,
// so that a disabled or blocked window stops the click as it would stop the user's.
inline void ClickAsUser(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  const int x = (r.left + r.right) / 2;
  const int y = (r.top + r.bottom) / 2;
  const int sx = GetSystemMetrics(SM_CXSCREEN) - 1;
  const int sy = GetSystemMetrics(SM_CYSCREEN) - 1;
  INPUT in[3] = {};
  for (INPUT& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = MulDiv(x, 65535, sx);
    i.mi.dy = MulDiv(y, 65535, sy);
  }
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  SendInput(3, in, sizeof(INPUT));
}

// Types text into a control as the characters a keyboard or an input method delivers.
inline void Type(HWND control, const std::wstring& text) {
  for (wchar_t c : text) SendMessageW(control, WM_CHAR, c, 1);
}

// What a message box looked like while it was open.
struct SeenBox {
  bool seen = false;
  std::wstring title;
  std::wstring text;
  bool hasIcon = true;
  int buttonCount = 0;
  bool okButton = false;
  bool hasOwner = true;
  // The windows of the thread were disabled while the box was open: the box was modal.
  bool othersDisabled = false;
  // The cursor the box's window class shows.
  bool arrowCursor = false;
  int extraBoxes = 0;  // further boxes that opened after the first and had to be closed
};

// Runs `show`, which must open a message box on this thread and return once it is closed.
// A watcher thread finds the box, records it, calls `whileOpen` (on the watcher thread) and
// presses OK. A further box is counted and closed; if none shows within the deadline `seen`
// stays false and any dialog of the thread is closed: a failing test fails, it never hangs.
inline SeenBox CatchMessageBox(const std::function<void()>& show,
                               const std::function<void(HWND box)>& whileOpen = nullptr,
                               HWND window = nullptr, int deadlineMs = 30000) {
  SeenBox seen;
  const DWORD thread = GetCurrentThreadId();
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    HWND first = nullptr;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done) {
      const bool late = !first && std::chrono::steady_clock::now() >= end;
      struct Found {
        HWND box = nullptr;
        HWND skip;
        bool anyState;  // past the deadline: a box that never showed counts too
      } found{nullptr, first, late};
      EnumThreadWindows(
          thread,
          [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Found*>(p);
            if (w == f->skip || ClassOf(w) != L"#32770") return TRUE;
            if (!f->anyState && !IsWindowVisible(w)) return TRUE;
            f->box = w;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&found));
      if (late) {
        // No box showed in time: close whatever dialog is there, so the test fails
        // instead of hanging.
        if (found.box) PostMessageW(found.box, WM_COMMAND, IDOK, 0);
      } else if (found.box && first && IsWindow(first)) {
        // The first box is still closing; anything else is a further box.
        ++seen.extraBoxes;
        PostMessageW(found.box, WM_COMMAND, IDOK, 0);
      } else if (found.box && !first) {
        HWND box = found.box;
        first = box;
        seen.seen = true;
        seen.title = TextOf(box);
        seen.text = TextOf(GetDlgItem(box, 0xFFFF));
        seen.hasOwner = GetWindow(box, GW_OWNER) != nullptr;
        seen.hasIcon = false;
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
          if (!IsWindowVisible(c)) continue;
          const std::wstring cls = ClassOf(c);
          if (cls == L"Button") ++seen.buttonCount;
          if (cls == L"Static" && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
              SendMessageW(c, STM_GETICON, 0, 0) != 0) {
            seen.hasIcon = true;
          }
        }
        seen.okButton = GetDlgItem(box, IDOK) != nullptr;
        seen.othersDisabled = window ? !IsWindowEnabled(window) : true;
        seen.arrowCursor = reinterpret_cast<HCURSOR>(GetClassLongPtrW(box, GCLP_HCURSOR)) ==
                           LoadCursorW(nullptr, IDC_ARROW);
        if (whileOpen) whileOpen(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
      Sleep(10);
    }
  });
  show();
  // Boxes that a click opens after the first one are counted too.
  Pump(100);
  done = true;
  watcher.join();
  return seen;
}

}  // namespace quorvel::test
