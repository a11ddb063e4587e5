// Support for tests that drive real widgets: the toolkit for the whole test binary, and a
// catcher that reads and closes the next modal message box.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

#include "platform/ui/ui.h"

namespace quorvel::test {

class UiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    app_ = std::make_unique<platform::UiApplication>();
    ASSERT_TRUE(app_->ok()) << "no display: run with QT_QPA_PLATFORM=offscreen";
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<platform::UiApplication> app_;
};

inline ::testing::Environment* const kUiEnvironment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment);

// What a message box looked like while it was open.
struct SeenBox {
  bool seen = false;
  QString title;       // as set on the box
  QString shownTitle;  // as handed to the window system
  QString text;
  Qt::TextFormat textFormat = Qt::AutoText;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QAbstractButton*>::size_type buttonCount = 0;
  bool okButton = false;
  Qt::WindowModality modality = Qt::NonModal;
  bool hasParent = true;
  bool waitCursor = false;  // the application's override cursor was the wait cursor
  // Modal dialogs that opened after the box and had to be closed.
  int extraBoxes = 0;
};

// Runs `show`, which must open a modal message box and return once it is closed. A timer
// finds the box, records it, calls `whileOpen` and presses OK. Any further modal dialog
// that opens before `show` returns is counted in `extraBoxes` and closed, and if no box
// turns up within the deadline `seen` stays false and whatever is modal is closed: a
// failing test fails, it never hangs.
inline SeenBox CatchMessageBox(const std::function<void()>& show,
                               const std::function<void(QMessageBox*)>& whileOpen = nullptr,
                               int deadlineMs = 60000) {
  SeenBox seen;
  QPointer<QMessageBox> first;
  QElapsedTimer clock;
  clock.start();
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!modal || !modal->isVisible() || modal == first) {
      if (!seen.seen && clock.elapsed() > deadlineMs) poll.stop();
      return;
    }
    if (seen.seen) {
      ++seen.extraBoxes;
      modal->done(0);
      return;
    }
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) {
      modal->done(0);
      return;
    }
    first = box;
    seen.seen = true;
    seen.title = box->windowTitle();
    seen.shownTitle = box->windowHandle() ? box->windowHandle()->title() : QString();
    seen.text = box->text();
    seen.textFormat = box->textFormat();
    seen.icon = box->icon();
    seen.buttonCount = box->buttons().size();
    seen.okButton = box->button(QMessageBox::Ok) != nullptr;
    seen.modality = box->windowModality();
    seen.hasParent = box->parentWidget() != nullptr;
    const QCursor* cursor = QGuiApplication::overrideCursor();
    seen.waitCursor = cursor && cursor->shape() == Qt::WaitCursor;
    // Acted on from the event loop, not from inside this timer's slot, so that a dialog the
    // action opens is still seen (and closed) by the poll.
    QTimer::singleShot(0, box, [box, &whileOpen] {
      if (whileOpen) whileOpen(box);
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
      } else {
        box->done(0);
      }
    });
  });
  poll.start();
  show();
  poll.stop();
  return seen;
}

// Clicks a widget the way the user does, through the window system, so that a modal box
// or a disabled window stops the click as it would stop the user's.
inline void ClickAsUser(QWidget* w) {
  QWidget* top = w->window();
  if (!top->windowHandle()) return;
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                    w->mapTo(top, w->rect().center()));
}

}  // namespace quorvel::test
