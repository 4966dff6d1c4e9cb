// The about box: the program's name and version, the maker's notice and two links.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;

class TfmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfmAbout(QWidget* parent = nullptr);

  // The address a link label opens: "mailto:" and the text when it holds an at sign,
  // else the text as a web address.
  static QUrl LinkUrl(const QString& text);
  // Opens a link with the desktop's handler; tests put a recorder here.
  std::function<void(const QUrl&)> OpenUrl;

  QLabel* lblProgramName() const { return fLblProgramName; }
  QLabel* lblVersionNum() const { return fLblVersionNum; }
  QLabel* Label5() const { return fLabel5; }
  QLabel* Label6() const { return fLabel6; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* fImage1;
  QLabel* fLblProgramName;
  QLabel* fLabel3;
  QLabel* fLblVersionNum;
  QLabel* fLabel2;
  QLabel* fLabel5;
  QLabel* fLabel6;
};
