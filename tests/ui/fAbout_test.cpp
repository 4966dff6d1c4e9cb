// The about box: name, version and the two links.
#include "ui/fAbout.h"

#include <QLabel>
#include <QtTest>

#include "ui_test_support.h"

class fAboutTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheProgramAndItsVersion() {
    TfmAbout about;
    QCOMPARE(about.windowTitle(), QString("About"));
    QCOMPARE(about.lblProgramName()->text(), QString("Varnel"));
    QCOMPARE(about.lblVersionNum()->text(), QString("1.3.3"));
    QCOMPARE(about.findChild<QLabel*>("Label3")->text(), QString("version"));
    QCOMPARE(about.lblProgramName()->font().pixelSize(), 24);
    QVERIFY(about.lblProgramName()->font().bold());
    QCOMPARE(about.lblVersionNum()->font().pixelSize(), 19);
    QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(about.findChild<QLabel*>("Image1")->size(), QSize(96, 96));
    QVERIFY(!about.findChild<QLabel*>("Image1")->pixmap().isNull());
  }

  void LinkUrl_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("url");
    QTest::newRow("mail") << "support@morvane.example"
                          << "mailto:support@morvane.example";
    QTest::newRow("web") << "https://www.morvane.example"
                         << "https://www.morvane.example";
  }
  void LinkUrl() {
    QFETCH(QString, text);
    QFETCH(QString, url);
    QCOMPARE(TfmAbout::LinkUrl(text).toString(), url);
  }

  void AClickOnALinkOpensIt() {
    TfmAbout about;
    QList<QUrl> opened;
    about.OpenUrl = [&](const QUrl& url) { opened << url; };
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.Label5()->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(about.Label5(), Qt::LeftButton);
    QTest::mouseClick(about.Label6(), Qt::LeftButton);
    QCOMPARE(opened, (QList<QUrl>{TfmAbout::LinkUrl(about.Label5()->text()),
                                  TfmAbout::LinkUrl(about.Label6()->text())}));
    QCOMPARE(opened.back().scheme(), QString("mailto"));
  }

  void EscCloses() {
    TfmAbout about;
    uitest::WhenModal<TfmAbout>([](TfmAbout* d) { QTest::keyClick(d, Qt::Key_Escape); });
    QCOMPARE(about.exec(), int(QDialog::Rejected));
  }
};

VARNEL_QTEST_MAIN(fAboutTest)
#include "fAbout_test.moc"
