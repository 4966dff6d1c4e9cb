#include "ui/uArtwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <array>

namespace {

QPixmap MakeLed(QColor colour) {
  QPixmap led(kLedSize, kLedSize);
  led.fill(Qt::transparent);
  QPainter p(&led);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF body(1.5, 1.5, kLedSize - 3, kLedSize - 3);
  QRadialGradient shine(QPointF(6, 5.5), 8);
  shine.setColorAt(0, colour.lighter(170));
  shine.setColorAt(0.45, colour);
  shine.setColorAt(1, colour.darker(150));
  p.setPen(QPen(colour.darker(220), 1));
  p.setBrush(shine);
  p.drawEllipse(body);
  return led;
}

}  // namespace

// The pictures live in a static library, whose resources register only when asked to.
static void InitArtResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(art);
    return true;
  }();
  (void)done;
}

const QPixmap& LedImage(int index) {
  static const std::array<QPixmap, 3> leds = {
      MakeLed(QColor(150, 150, 150)), MakeLed(QColor(225, 20, 20)), MakeLed(QColor(20, 185, 40))};
  return leds[static_cast<size_t>(index >= 0 && index < 3 ? index : 0)];
}

QPixmap BannerPicture() {
  QPixmap banner(256, 27);
  QPainter p(&banner);
  QLinearGradient fade(0, 0, 256, 0);
  fade.setColorAt(0, QColor(0x3a, 0x7c, 0xa5));
  fade.setColorAt(1, QColor(0x1d, 0x44, 0x60));
  p.fillRect(banner.rect(), fade);
  p.fillRect(QRect(0, 25, 256, 2), QColor(0x14, 0x30, 0x45));
  return banner;
}

QPixmap LogoPicture() {
  InitArtResources();
  return QPixmap(":/art/logo.png");
}

QPixmap ProductLogo(int size) {
  return ApplicationIcon().pixmap(size, size);
}

QIcon ApplicationIcon() {
  InitArtResources();
  QIcon icon;
  for (int size : {16, 32, 48, 96, 256}) {
    icon.addFile(QString(":/art/varnel-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}
