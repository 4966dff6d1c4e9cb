#include "ui/uCommon.h"

#include <QMessageBox>
#include <QStringList>
#include <clocale>
#include <new>
#include <stdexcept>

#ifndef VARNEL_VERSION
#define VARNEL_VERSION ""
#endif

namespace {

TMessageBoxHook& Hook() {
  static TMessageBoxHook hook;
  return hook;
}

}  // namespace

QString VersionComponents(const QString& fileVersion, int n) {
  if (n < 1 || fileVersion.isEmpty()) return {};
  if (n >= 4) return fileVersion;
  const QStringList parts = fileVersion.split('.');
  QString text = parts.value(0);
  for (int i = 1; i < n; ++i) text += "." + parts.value(i);
  return text;
}

QString GetFileVersionText(int n) {
  return VersionComponents(QStringLiteral(VARNEL_VERSION), n);
}

void SetMessageBoxHook(TMessageBoxHook hook) {
  Hook() = std::move(hook);
}

void ShowMessageBox(QWidget* parent, TBoxKind kind, const QString& text) {
  if (Hook()) {
    Hook()(kind, text);
    return;
  }
  const QString title = QString::fromLatin1(kApplicationTitle);
  switch (kind) {
    case TBoxKind::bkInformation:
      QMessageBox::information(parent, title, text);
      break;
    case TBoxKind::bkWarning:
      QMessageBox::warning(parent, title, text);
      break;
    case TBoxKind::bkError:
      QMessageBox::critical(parent, title, text);
      break;
  }
}

void ShowException(const std::exception_ptr& error) {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    text = QStringLiteral("Out of memory");
  } catch (const std::exception& e) {
    text = QString::fromUtf8(e.what());
  } catch (...) {
    text = QStringLiteral("Unexpected error");
  }
  // Showing the box must not throw again: this is the end of the line.
  try {
    ShowMessageBox(QApplication::activeWindow(), TBoxKind::bkError, text);
  } catch (...) {
  }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  UseDotDecimalSeparator();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowException(std::current_exception());
    return false;
  }
}

void UseDotDecimalSeparator() {
  // QCoreApplication takes the user's locale for the C library; numbers must not.
  std::setlocale(LC_NUMERIC, "C");
}
