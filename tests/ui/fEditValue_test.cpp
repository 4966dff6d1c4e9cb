// The value dialog: which texts are numbers, OK following the text, and the value handed
// back exactly as typed.
#include "ui/fEditValue.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "ui_test_support.h"

class fEditValueTest : public QObject {
  Q_OBJECT

 private slots:
  void NumberRule_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("number");
    QTest::newRow("integer") << "12" << true;
    QTest::newRow("negative fraction") << "-3.5" << true;
    QTest::newRow("signed exponent") << "+0.25e-3" << true;
    QTest::newRow("point after digits") << "5." << true;
    QTest::newRow("point before digits") << ".5" << true;
    QTest::newRow("lone point") << "." << true;
    QTest::newRow("bare exponent") << "e5" << true;
    QTest::newRow("capital exponent") << "1E+10" << true;
    QTest::newRow("leading blanks") << "   7" << true;
    QTest::newRow("blanks before the sign") << "  -7" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks only") << "   " << false;
    QTest::newRow("lone sign") << "-" << false;
    QTest::newRow("comma") << "1,5" << false;
    QTest::newRow("trailing blank") << "1.5 " << false;
    QTest::newRow("exponent without digits") << "1e" << false;
    QTest::newRow("exponent with sign only") << "1e-" << false;
    QTest::newRow("two points") << "1.2.3" << false;
    QTest::newRow("hexadecimal") << "0x1F" << false;
    QTest::newRow("dollar hexadecimal") << "$1F" << false;
    QTest::newRow("thousands separator") << "1 000" << false;
    QTest::newRow("blank after sign") << "- 1" << false;
    QTest::newRow("tab") << "\t1" << false;
  }
  void NumberRule() {
    QFETCH(QString, text);
    QFETCH(bool, number);
    QCOMPARE(IsNumberText(text), number);
  }

  void OKFollowsTheText_data() {
    QTest::addColumn<QString>("initial");
    QTest::addColumn<bool>("initialOK");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("typedOK");
    QTest::newRow("empty cell") << "" << false << "1,5" << false;
    QTest::newRow("comma corrected") << "1,5" << false << "1.5" << true;
    QTest::newRow("value spoiled") << "42" << true << "4x" << false;
  }
  void OKFollowsTheText() {
    QFETCH(QString, initial);
    QFETCH(bool, initialOK);
    QFETCH(QString, typed);
    QFETCH(bool, typedOK);
    TfmEditValue dialog;
    dialog.Value = initial;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.edValue()->text(), initial);
    QCOMPARE(dialog.btnOK()->isEnabled(), initialOK);
    QCOMPARE(dialog.edValue()->selectedText(), initial);
    // Typing replaces the whole pre-filled text.
    QTest::keyClicks(dialog.edValue(), typed);
    QCOMPARE(dialog.edValue()->text(), typed);
    QCOMPARE(dialog.btnOK()->isEnabled(), typedOK);
  }

  void OKHandsBackTheTextAsTyped() {
    TfmEditValue dialog;
    dialog.Value = "1";
    uitest::WhenModal<TfmEditValue>([](TfmEditValue* d) {
      d->edValue()->selectAll();
      QTest::keyClicks(d->edValue(), "  +2.50");
      QTest::keyClick(d->edValue(), Qt::Key_Return);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.Value, QString("  +2.50"));
  }

  void EnterDoesNothingWhileTheTextIsNoNumber() {
    TfmEditValue dialog;
    dialog.Value = "7";
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.edValue(), "x");
    QTest::keyClick(dialog.edValue(), Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.Value, QString("7"));
  }

  void CancelLeavesTheValue() {
    TfmEditValue dialog;
    dialog.Value = "3";
    uitest::WhenModal<TfmEditValue>([](TfmEditValue* d) {
      QTest::keyClicks(d->edValue(), "99");
      QTest::keyClick(d->edValue(), Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(dialog.Value, QString("3"));
  }

  void CaptionAndControls() {
    TfmEditValue dialog;
    QCOMPARE(dialog.windowTitle(), QString("Edit Value"));
    QCOMPARE(dialog.btnOK()->text(), QString("&OK"));
    QCOMPARE(dialog.btnCancel()->text(), QString("&Cancel"));
    QVERIFY(dialog.btnOK()->isDefault());
    QVERIFY(dialog.findChild<QWidget*>("Label1") != nullptr);
    QVERIFY(dialog.width() >= 243 && dialog.height() >= 108);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
  }
};

VARNEL_QTEST_MAIN(fEditValueTest)
#include "fEditValue_test.moc"
