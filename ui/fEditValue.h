// The value dialog: one number for all selected cells of a variables table.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// Whether a text reads as a number: leading blanks, an optional sign, then at least one
// more character, all of them digits with an optional "." and digits and an optional
// exponent ("E" or "e", an optional sign, at least one digit). Digits may be missing on
// either side of the point: "5.", ".5" and a lone "." pass, as does "e5".
bool IsNumberText(const QString& text);

class TfmEditValue : public QDialog {
  Q_OBJECT

 public:
  explicit TfmEditValue(QWidget* parent = nullptr);

  // The text in (shown when the dialog opens) and out (as typed, when it closes with OK).
  QString Value;

  QLineEdit* edValue() const { return fEdValue; }
  QPushButton* btnOK() const { return fBtnOK; }
  QPushButton* btnCancel() const { return fBtnCancel; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateOK();

  QLabel* fLabel1;
  QLineEdit* fEdValue;
  QPushButton* fBtnOK;
  QPushButton* fBtnCancel;
};
