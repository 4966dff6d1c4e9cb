#include "ui/fOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "comm/uLogFile.h"
#include "ui/uCommon.h"

namespace {

// The log's path lines up with the text of its check box.
constexpr int kDebugLogFileIndent = 20;

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace

TfmOptions::TfmOptions(QWidget* parent)
    : QDialog(parent), fEthAdapters(std::make_unique<TEthernetAdapterInfoList>()) {
  setObjectName("fmOptions");
  setWindowTitle("Setup");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* label1 = Named(new QLabel("&Ethernet adapter:", this), "Label1");
  fCbEthAdapter = Named(new QComboBox(this), "cbEthAdapter");
  fCbEthAdapter->setEditable(false);
  fCbEthAdapter->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  fCbEthAdapter->setMinimumContentsLength(32);
  label1->setBuddy(fCbEthAdapter);
  auto* label2 = Named(new QLabel("Connection:", this), "Label2");
  fRbLAN = Named(new QRadioButton("&Local area network (LAN)", this), "rbLAN");
  fRbDirect = Named(new QRadioButton("&Direct connection", this), "rbDirect");
  auto* label5 = Named(new QLabel("Password:", this), "Label5");
  fEdPassword = Named(new QLineEdit(this), "edPassword");
  label5->setBuddy(fEdPassword);
  fCbExtraTimeout =
      Named(new QCheckBox("Extra timeout for slow connection", this), "cbExtraTimeout");
  fCbExtraRetries =
      Named(new QCheckBox("Extra retries for unreliable connection", this), "cbExtraRetries");
  fCbCreateDebugLogs = Named(new QCheckBox("Create debug logs", this), "cbCreateDebugLogs");
  // Where the log goes depends on the installation, so the dialog says it; the path is
  // elided to the dialog's width and given whole in the hint.
  fLblDebugLogFile = Named(new QLabel(this), "lblDebugLogFile");
  fLblDebugLogFile->setTextFormat(Qt::PlainText);
  fLblDebugLogFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fLblDebugLogFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  fLblDebugLogFile->setContentsMargins(kDebugLogFileIndent, 0, 0, 0);
  fBtnOK = Named(new QPushButton("&OK", this), "btnOK");
  fBtnOK->setDefault(true);
  fBtnCancel = Named(new QPushButton("&Cancel", this), "btnCancel");

  auto* grid = new QGridLayout;
  grid->addWidget(label1, 0, 0);
  grid->addWidget(fCbEthAdapter, 0, 1);
  grid->addWidget(label2, 1, 0, Qt::AlignTop);
  auto* connection = new QVBoxLayout;
  connection->addWidget(fRbLAN);
  connection->addWidget(fRbDirect);
  grid->addLayout(connection, 1, 1);
  grid->addWidget(label5, 2, 0);
  grid->addWidget(fEdPassword, 2, 1);
  auto* boxes = new QVBoxLayout;
  boxes->addWidget(fCbExtraTimeout);
  boxes->addWidget(fCbExtraRetries);
  boxes->addWidget(fCbCreateDebugLogs);
  boxes->addWidget(fLblDebugLogFile);
  grid->addLayout(boxes, 3, 1);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(fBtnOK);
  buttons->addWidget(fBtnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);
  layout->addLayout(buttons);

  connect(fCbEthAdapter, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { Guarded([&] { fCbEthAdapter->setToolTip(text); }); });
  connect(fBtnOK, &QPushButton::clicked, this, &TfmOptions::accept);
  connect(fBtnCancel, &QPushButton::clicked, this, &TfmOptions::reject);
  setFixedSize(sizeHint().expandedTo(QSize(448, 223)));
}

TfmOptions::~TfmOptions() = default;

void TfmOptions::showEvent(QShowEvent* event) {
  fEthAdapters = std::make_unique<TEthernetAdapterInfoList>();
  FillControls();
  QDialog::showEvent(event);
}

void TfmOptions::FillControls() {
  fCbEthAdapter->clear();
  fEthAdapters->Refresh();
  std::vector<std::string> lines;
  fEthAdapters->WriteToCombo(lines);
  for (const std::string& line : lines) fCbEthAdapter->addItem(ToQ(line));
  int selected = fEthAdapters->IndexOf(EthernetAdapterID);
  fAbsentAdapterID.clear();
  if (selected < 0 && !EthernetAdapterID.empty()) {
    // Shown as it is, so that OK after a change of something else keeps it: selecting
    // nothing, or another adapter, would store another one in its place.
    fAbsentAdapterID = EthernetAdapterID;
    fCbEthAdapter->addItem(ToQ(EthernetAdapterID) + " (not present)");
    selected = fCbEthAdapter->count() - 1;
  }
  fCbEthAdapter->setCurrentIndex(selected);
  fCbEthAdapter->setToolTip(fCbEthAdapter->currentText());
  (DirectConnection ? fRbDirect : fRbLAN)->setChecked(true);
  fCbCreateDebugLogs->setChecked(CreateDebugLogs);
  ShowDebugLogFile();
  fCbExtraRetries->setChecked(ExtraRetries);
  fCbExtraTimeout->setChecked(ExtraTimeout);
  fEdPassword->setText(ToQ(Password));
}

void TfmOptions::ShowDebugLogFile() {
  const QString path = QString::fromStdString(LogFilePath());
  const int width = std::max(fEdPassword->width() - kDebugLogFileIndent, 120);
  fLblDebugLogFile->setText(
      fLblDebugLogFile->fontMetrics().elidedText("In " + path, Qt::ElideMiddle, width));
  fLblDebugLogFile->setToolTip(path);
  fCbCreateDebugLogs->setToolTip("Every frame sent and received is appended to " + path);
}

void TfmOptions::ReadControls() {
  const int index = fCbEthAdapter->currentIndex();
  const TEthernetAdapterInfo* adapter = fEthAdapters->Items(index);
  if (adapter != nullptr) {
    EthernetAdapterID = adapter->ID();
  } else if (index >= 0 && index == fEthAdapters->Count() && !fAbsentAdapterID.empty()) {
    EthernetAdapterID = fAbsentAdapterID;
  } else {
    EthernetAdapterID.clear();
  }
  DirectConnection = fRbDirect->isChecked();
  CreateDebugLogs = fCbCreateDebugLogs->isChecked();
  ExtraRetries = fCbExtraRetries->isChecked();
  ExtraTimeout = fCbExtraTimeout->isChecked();
  Password = FromQ(fEdPassword->text());
}

void TfmOptions::accept() {
  ReadControls();
  QDialog::accept();
}
