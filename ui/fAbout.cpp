#include "ui/fAbout.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "ui/uArtwork.h"
#include "ui/uCommon.h"

namespace {

constexpr const char* kMakerNotice = "Copyright \u00A9 Morvane. All rights reserved.";
constexpr const char* kMakerWeb = "https://www.morvane.example";
constexpr const char* kMakerMail = "support@morvane.example";

QLabel* ArialLabel(QWidget* parent, const char* name, const QString& text, int pixelSize,
                   bool bold) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  QFont font("Arial");
  if (pixelSize > 0) font.setPixelSize(pixelSize);
  font.setBold(bold);
  label->setFont(font);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("fmAbout");
  setWindowTitle("About");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  setPalette(white);

  OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

  fImage1 = new QLabel(this);
  fImage1->setObjectName("Image1");
  fImage1->setFixedSize(96, 96);
  fImage1->setPixmap(ProductLogo(96));

  fLblProgramName = ArialLabel(this, "lblProgramName", kApplicationTitle, 24, true);
  fLabel3 = ArialLabel(this, "Label3", "version", 0, false);
  fLblVersionNum = ArialLabel(this, "lblVersionNum", GetFileVersionText(3), 19, false);
  fLabel2 = ArialLabel(this, "Label2", QString::fromUtf8(kMakerNotice), 0, false);
  fLabel5 = ArialLabel(this, "Label5", kMakerWeb, 0, false);
  fLabel6 = ArialLabel(this, "Label6", kMakerMail, 0, false);
  for (QLabel* link : {fLabel5, fLabel6}) {
    QPalette grey = link->palette();
    grey.setColor(QPalette::WindowText, Qt::gray);
    link->setPalette(grey);
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
  }

  auto* texts = new QVBoxLayout;
  texts->setSpacing(0);
  texts->addWidget(fLblProgramName);
  auto* version = new QHBoxLayout;
  version->addStretch(1);
  version->addWidget(fLabel3, 0, Qt::AlignBottom);
  version->addSpacing(6);
  version->addWidget(fLblVersionNum, 0, Qt::AlignBottom);
  texts->addLayout(version);
  texts->addStretch(1);
  texts->addWidget(fLabel2);
  texts->addWidget(fLabel5);
  texts->addWidget(fLabel6);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(fImage1, 0, Qt::AlignTop);
  layout->addSpacing(12);
  layout->addLayout(texts, 1);
  setFixedSize(sizeHint().expandedTo(QSize(347, 134)));
}

QUrl TfmAbout::LinkUrl(const QString& text) {
  // The address goes without the blank some mail handlers would take as part of it.
  if (text.contains('@')) return QUrl("mailto:" + text.trimmed());
  return QUrl(text.trimmed());
}

bool TfmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
      (watched == fLabel5 || watched == fLabel6)) {
    const QString text = static_cast<QLabel*>(watched)->text();
    Guarded([&] {
      if (OpenUrl) OpenUrl(LinkUrl(text));
    });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
