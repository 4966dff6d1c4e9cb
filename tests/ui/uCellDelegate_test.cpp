// The cell painting: filled areas leave the rightmost pixel column, lights sit centred,
// and the colours come from the palette (red excepted).
#include "ui/uCellDelegate.h"

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include "ui/uArtwork.h"
#include "ui/uTableModels.h"
#include "ui_test_support.h"

namespace {

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

// Paints one cell of the given roles into a white image of the cell's size.
QImage PaintCell(const QMap<int, QVariant>& roles, QSize size = QSize(60, 20),
                 QPalette palette = QApplication::palette()) {
  QStandardItemModel model(1, 1);
  for (auto it = roles.begin(); it != roles.end(); ++it)
    model.setData(model.index(0, 0), it.value(), it.key());
  TCellDelegate delegate(false, nullptr);
  QImage image(size, QImage::Format_ARGB32);
  image.fill(kWhite);
  QPainter painter(&image);
  QStyleOptionViewItem option;
  option.rect = QRect(QPoint(0, 0), size);
  option.palette = palette;
  option.state = QStyle::State_Enabled;
  delegate.paint(&painter, option, model.index(0, 0));
  painter.end();
  return image;
}

int CountColour(const QImage& image, const QColor& colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += QColor(image.pixel(x, y)) == colour;
  return n;
}

}  // namespace

class uCellDelegateTest : public QObject {
  Q_OBJECT

 private slots:
  void FilledAreasLeaveTheRightmostColumn_data() {
    QTest::addColumn<int>("background");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("updating") << int(TCellBackground::cbRed) << kRed;
    QTest::newRow("selected") << int(TCellBackground::cbHighlight)
                              << QApplication::palette().color(QPalette::Active,
                                                               QPalette::Highlight);
  }
  void FilledAreasLeaveTheRightmostColumn() {
    QFETCH(int, background);
    QFETCH(QColor, colour);
    const QImage cell = PaintCell({{crBackground, background}});
    for (int y = 0; y < cell.height(); ++y) {
      QCOMPARE(QColor(cell.pixel(0, y)), colour);
      QCOMPARE(QColor(cell.pixel(cell.width() - 2, y)), colour);
      QCOMPARE(QColor(cell.pixel(cell.width() - 1, y)), kWhite);
    }
  }

  void NoBackgroundFillsNothing() {
    const QImage cell = PaintCell({{crBackground, int(TCellBackground::cbNone)}});
    QCOMPARE(CountColour(cell, kWhite), cell.width() * cell.height());
  }

  void TextTakesItsColour_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QColor>("colour");
    const QPalette p = QApplication::palette();
    QTest::newRow("red") << int(TTextColour::tcRed) << kRed;
    QTest::newRow("grey") << int(TTextColour::tcGrey)
                          << p.color(QPalette::Disabled, QPalette::Text);
    QTest::newRow("normal") << int(TTextColour::tcNormal)
                            << p.color(QPalette::Active, QPalette::Text);
  }
  void TextTakesItsColour() {
    QFETCH(int, kind);
    QFETCH(QColor, colour);
    // Text drawn in one flat colour shows that colour in its darkest pixels.
    const QFont before = QApplication::font();
    QFont flat = before;
    flat.setStyleStrategy(QFont::NoAntialias);
    QApplication::setFont(flat);
    const QImage cell = PaintCell({{Qt::DisplayRole, "8888"}, {crTextColour, kind}});
    QApplication::setFont(before);
    QVERIFY2(CountColour(cell, colour) > 10, qPrintable(colour.name()));
  }

  void ThePaletteDecidesTheHighlight() {
    QPalette dark = QApplication::palette();
    dark.setColor(QPalette::Active, QPalette::Highlight, QColor(10, 80, 30));
    const QImage cell =
        PaintCell({{crBackground, int(TCellBackground::cbHighlight)}}, QSize(30, 18), dark);
    QCOMPARE(QColor(cell.pixel(5, 5)), QColor(10, 80, 30));
  }

  void LightsAreCentred_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("at");
    // x = (left + right - 16) div 2, y = (top + bottom - 16) div 2 + 1, right and bottom
    // exclusive.
    QTest::newRow("60 x 20") << QSize(60, 20) << QPoint(22, 3);
    QTest::newRow("64 x 21") << QSize(64, 21) << QPoint(24, 3);
    QTest::newRow("odd") << QSize(75, 19) << QPoint(29, 2);
  }
  void LightsAreCentred() {
    QFETCH(QSize, size);
    QFETCH(QPoint, at);
    QCOMPARE(TCellDelegate::LedPosition(QRect(QPoint(0, 0), size)), at);
    QCOMPARE(TCellDelegate::LedPosition(QRect(QPoint(100, 40), size)), at + QPoint(100, 40));
    const QImage cell = PaintCell({{crLed, int(TLed::ldGreen)}}, size);
    const QImage led = LedImage(liGreen).toImage();
    // The light's centre pixel lands where the image's centre is.
    QCOMPARE(QColor(cell.pixel(at + QPoint(8, 8))), QColor(led.pixel(8, 8)));
  }

  void LightColours() {
    const QImage green = PaintCell({{crLed, int(TLed::ldGreen)}});
    const QImage red = PaintCell({{crLed, int(TLed::ldRed)}});
    const QImage none = PaintCell({{crLed, int(TLed::ldNone)}});
    const QColor g(green.pixel(30, 11)), r(red.pixel(30, 11));
    QVERIFY(g.green() > 2 * g.red());
    QVERIFY(r.red() > 2 * r.green());
    QCOMPARE(CountColour(none, kWhite), none.width() * none.height());
    for (int i : {liGrey, liRed, liGreen}) {
      QCOMPARE(LedImage(i).size(), QSize(16, 16));
      QVERIFY(LedImage(i).hasAlphaChannel());
    }
  }
};

VARNEL_QTEST_MAIN(uCellDelegateTest)
#include "uCellDelegate_test.moc"
