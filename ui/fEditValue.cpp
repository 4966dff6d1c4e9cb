#include "ui/fEditValue.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/uCommon.h"

namespace {

bool IsDigit(QChar c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool IsNumberText(const QString& text) {
  int i = 0;
  const int n = static_cast<int>(text.size());
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == n) return false;
  while (i < n && IsDigit(text[i])) ++i;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const int digits = i;
    while (i < n && IsDigit(text[i])) ++i;
    if (i == digits) return false;
  }
  return i == n;
}

TfmEditValue::TfmEditValue(QWidget* parent) : QDialog(parent) {
  setObjectName("fmEditValue");
  setWindowTitle("Edit Value");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  fLabel1 = new QLabel("Variable value:", this);
  fLabel1->setObjectName("Label1");
  fEdValue = new QLineEdit(this);
  fEdValue->setObjectName("edValue");
  fLabel1->setBuddy(fEdValue);
  fBtnOK = new QPushButton("&OK", this);
  fBtnOK->setObjectName("btnOK");
  fBtnOK->setDefault(true);
  fBtnCancel = new QPushButton("&Cancel", this);
  fBtnCancel->setObjectName("btnCancel");

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(fBtnOK);
  buttons->addWidget(fBtnCancel);
  auto* layout = new QGridLayout(this);
  layout->addWidget(fLabel1, 0, 0);
  layout->addWidget(fEdValue, 1, 0);
  layout->setRowStretch(2, 1);
  layout->addLayout(buttons, 3, 0);

  connect(fEdValue, &QLineEdit::textChanged, this, [this] { Guarded([this] { UpdateOK(); }); });
  connect(fBtnOK, &QPushButton::clicked, this, &TfmEditValue::accept);
  connect(fBtnCancel, &QPushButton::clicked, this, &TfmEditValue::reject);
  setFixedSize(sizeHint().expandedTo(QSize(243, 108)));
}

void TfmEditValue::showEvent(QShowEvent* event) {
  fEdValue->setText(Value);
  UpdateOK();
  fEdValue->setFocus(Qt::OtherFocusReason);
  fEdValue->selectAll();
  QDialog::showEvent(event);
}

void TfmEditValue::UpdateOK() {
  fBtnOK->setEnabled(IsNumberText(fEdValue->text()));
}

void TfmEditValue::accept() {
  // Enter reaches the default button's dialog even while OK is disabled.
  if (!IsNumberText(fEdValue->text())) return;
  Value = fEdValue->text();
  QDialog::accept();
}
