// What the window tests share: a main() that keeps every datagram on loopback, runs Qt
// offscreen with a fixed font and keeps the settings in a folder of the test's own, and
// small helpers to drive widgets as a user would.
#pragma once

#include <QApplication>
#include <QFont>
#include <QMouseEvent>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "comm/uUdpEndpoint.h"
#include "ui/uCommon.h"

namespace uitest {

// The messages shown in message boxes while it lives.
class TMessageRecorder {
 public:
  TMessageRecorder() {
    SetMessageBoxHook([this](TBoxKind kind, const QString& text) {
      Kinds.push_back(kind);
      Texts << text;
    });
  }
  ~TMessageRecorder() { SetMessageBoxHook({}); }
  TMessageRecorder(const TMessageRecorder&) = delete;
  TMessageRecorder& operator=(const TMessageRecorder&) = delete;

  QList<TBoxKind> Kinds;
  QStringList Texts;
};

// Sends a mouse event as the windowing system would: with the buttons held after it.
inline void Mouse(QWidget* target, QEvent::Type type, const QPoint& at, Qt::MouseButton button,
                  Qt::MouseButtons buttons, Qt::KeyboardModifiers keys = Qt::NoModifier) {
  QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons, keys);
  QApplication::sendEvent(target, &event);
}

inline void Click(QWidget* target, const QPoint& at, Qt::KeyboardModifiers keys = Qt::NoModifier) {
  Mouse(target, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, keys);
  Mouse(target, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, keys);
}

// Press, release, double click in place of the second press, release: Qt's sequence.
inline void DoubleClick(QWidget* target, const QPoint& at) {
  Click(target, at);
  Mouse(target, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
  Mouse(target, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

inline void Drag(QWidget* target, const QPoint& from, const QPoint& to,
                 Qt::KeyboardModifiers keys = Qt::NoModifier) {
  Mouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, keys);
  Mouse(target, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton, keys);
  Mouse(target, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, keys);
  Mouse(target, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, keys);
}

// Runs `act` on the modal dialog that opens next (from inside its own event loop), once
// it is on the screen and has the keyboard, as a user would.
template <class Dialog>
void WhenModal(const std::function<void(Dialog*)>& act) {
  QTimer::singleShot(0, [act] {
    for (int i = 0; i < 200; ++i) {
      if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
        (void)QTest::qWaitForWindowActive(dialog);
        act(dialog);
        return;
      }
      QTest::qWait(10);
    }
  });
}

template <class TestObject>
int RunTests(int argc, char** argv) {
  SetUdpLoopbackOnly(true);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Nothing here may touch the settings of the user who runs the tests.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  TApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QFont font("DejaVu Sans");
  font.setPixelSize(12);
  QApplication::setFont(font);
  TestObject test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace uitest

#define VARNEL_QTEST_MAIN(TestObject)                \
  int main(int argc, char** argv) {                  \
    return uitest::RunTests<TestObject>(argc, argv); \
  }
