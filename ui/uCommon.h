// What the windows share: the program's title and version texts, conversions between the
// layer's UTF-8 strings and Qt's, the message boxes, and the top-level error handler that
// keeps an exception from leaving a Qt event handler.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>
#include <string>

class QWidget;

// The application title: captions, the about box and message boxes carry it.
inline constexpr const char* kApplicationTitle = "Varnel";

// The first n dot-separated components of the program's file version (1.3.3.0): n = 1
// gives "1", n = 3 "1.3.3", n >= 4 the whole text; empty for n < 1.
QString GetFileVersionText(int n);
// The same for a given version text (empty when there is none).
QString VersionComponents(const QString& fileVersion, int n);

inline QString ToQ(const std::string& text) {
  return QString::fromStdString(text);
}
inline std::string FromQ(const QString& text) {
  return text.toStdString();
}

enum class TBoxKind { bkInformation, bkWarning, bkError };

// Where message boxes go instead of the screen: tests record them.
using TMessageBoxHook = std::function<void(TBoxKind kind, const QString& text)>;
void SetMessageBoxHook(TMessageBoxHook hook);

// A modal message box with an OK button, titled with the application title.
void ShowMessageBox(QWidget* parent, TBoxKind kind, const QString& text);

// The top-level error handler: shows the error's message and lets the program go on.
void ShowException(const std::exception_ptr& error);

// Runs f; an exception it throws is shown and goes no further. Every slot and event
// handler of the windows runs through here, because Qt is not built to unwind.
template <class F>
bool Guarded(F&& f) {
  try {
    f();
    return true;
  } catch (...) {
    ShowException(std::current_exception());
    return false;
  }
}

// The application object: its notify is the last line of the error handler.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Numbers are formatted and read with "." whatever the user's locale.
void UseDotDecimalSeparator();
