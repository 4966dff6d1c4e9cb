// The Setup dialog: its controls from the fields, the fields from its controls on OK, and
// nothing on Cancel.
#include "ui/fOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "comm/uLogFile.h"
#include "ui_test_support.h"

namespace {

int LoopbackEntry(const TfmOptions& dialog) {
  return dialog.EthAdapters().IndexOf("lo");
}

}  // namespace

class fOptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowingFillsTheControls() {
    TfmOptions dialog;
    dialog.EthernetAdapterID = "lo";
    dialog.DirectConnection = true;
    dialog.ExtraRetries = true;
    dialog.ExtraTimeout = false;
    dialog.Password = "s3cret";
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const int lo = LoopbackEntry(dialog);
    QVERIFY(lo >= 0);
    QCOMPARE(dialog.cbEthAdapter()->count(), dialog.EthAdapters().Count());
    QCOMPARE(dialog.cbEthAdapter()->currentIndex(), lo);
    const TEthernetAdapterInfo* adapter = dialog.EthAdapters().Items(lo);
    const QString line =
        QString::fromStdString(adapter->DescName() + " (" + adapter->IPAddress() + ")");
    QCOMPARE(dialog.cbEthAdapter()->currentText(), line);
    QCOMPARE(dialog.cbEthAdapter()->toolTip(), line);
    QVERIFY(dialog.rbDirect()->isChecked());
    QVERIFY(!dialog.rbLAN()->isChecked());
    QVERIFY(dialog.cbExtraRetries()->isChecked());
    QVERIFY(!dialog.cbExtraTimeout()->isChecked());
    QVERIFY(!dialog.cbCreateDebugLogs()->isChecked());
    QCOMPARE(dialog.edPassword()->text(), QString("s3cret"));
    QCOMPARE(dialog.edPassword()->echoMode(), QLineEdit::Normal);
  }

  void AnAdapterThatIsNotThereIsShownAsSuchAndOKKeepsIt() {
    TfmOptions dialog;
    dialog.EthernetAdapterID = "eth7";
    int count = 0;
    QString shown;
    uitest::WhenModal<TfmOptions>([&](TfmOptions* d) {
      count = d->cbEthAdapter()->count();
      shown = d->cbEthAdapter()->currentText();
      QCOMPARE(d->cbEthAdapter()->toolTip(), shown);
      d->edPassword()->setText("only this changes");
      d->btnOK()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(count, dialog.EthAdapters().Count() + 1);
    QCOMPARE(shown, QString("eth7 (not present)"));
    QCOMPARE(dialog.EthernetAdapterID, std::string("eth7"));
    QCOMPARE(dialog.Password, std::string("only this changes"));

    // Choosing an adapter that is there takes that one; the next showing has no entry for
    // the absent one any more.
    uitest::WhenModal<TfmOptions>([&](TfmOptions* d) {
      d->cbEthAdapter()->setCurrentIndex(LoopbackEntry(*d));
      d->btnOK()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.EthernetAdapterID, std::string("lo"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.cbEthAdapter()->count(), dialog.EthAdapters().Count());
    dialog.hide();

    // No adapter at all selects nothing and gives none.
    dialog.EthernetAdapterID.clear();
    uitest::WhenModal<TfmOptions>([](TfmOptions* d) {
      QCOMPARE(d->cbEthAdapter()->currentIndex(), -1);
      d->btnOK()->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.EthernetAdapterID, std::string());
  }

  void OKTakesTheControls() {
    TfmOptions dialog;
    uitest::WhenModal<TfmOptions>([](TfmOptions* d) {
      d->cbEthAdapter()->setCurrentIndex(LoopbackEntry(*d));
      QCOMPARE(d->cbEthAdapter()->toolTip(), d->cbEthAdapter()->currentText());
      d->rbDirect()->click();
      d->cbExtraTimeout()->click();
      d->cbCreateDebugLogs()->click();
      d->edPassword()->setText("pw, with; marks");
      QTest::keyClick(d, Qt::Key_Return);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.EthernetAdapterID, std::string("lo"));
    QVERIFY(dialog.DirectConnection);
    QVERIFY(dialog.ExtraTimeout);
    QVERIFY(!dialog.ExtraRetries);
    QVERIFY(dialog.CreateDebugLogs);
    QCOMPARE(dialog.Password, std::string("pw, with; marks"));
  }

  void CancelLeavesTheFieldsAndTheNextShowingShowsThem() {
    TfmOptions dialog;
    dialog.Password = "kept";
    uitest::WhenModal<TfmOptions>([](TfmOptions* d) {
      d->cbCreateDebugLogs()->click();
      d->rbDirect()->click();
      d->edPassword()->setText("changed");
      QTest::keyClick(d, Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(dialog.Password, std::string("kept"));
    QVERIFY(!dialog.CreateDebugLogs);
    QVERIFY(!dialog.DirectConnection);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.cbCreateDebugLogs()->isChecked());
    QVERIFY(dialog.rbLAN()->isChecked());
    QCOMPARE(dialog.edPassword()->text(), QString("kept"));
  }

  void TheDebugLogsPathIsShownUnderItsBox() {
    for (const QString& path : {QString("/home/tech/.local/state/varnel/q-link.log"),
                                "/srv/" + QString("plant-").repeated(40) + "/q-link.log"}) {
      SetLogFilePath(path.toStdString());
      TfmOptions dialog;
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      const QLabel* label = dialog.lblDebugLogFile();
      QCOMPARE(label->toolTip(), path);
      QVERIFY(dialog.cbCreateDebugLogs()->toolTip().endsWith(path));
      // A long path is shortened in its middle to the dialog's width, its file name kept.
      QVERIFY2(label->text().startsWith("In /") && label->text().endsWith("q-link.log"),
               qPrintable(label->text()));
      QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= dialog.width());
    }
    SetLogFilePath("");
  }

  void CaptionsAsTheUserKnowsThem() {
    TfmOptions dialog;
    QCOMPARE(dialog.windowTitle(), QString("Setup"));
    QCOMPARE(dialog.rbLAN()->text(), QString("&Local area network (LAN)"));
    QCOMPARE(dialog.rbDirect()->text(), QString("&Direct connection"));
    QCOMPARE(dialog.cbExtraTimeout()->text(), QString("Extra timeout for slow connection"));
    QCOMPARE(dialog.cbExtraRetries()->text(), QString("Extra retries for unreliable connection"));
    QCOMPARE(dialog.cbCreateDebugLogs()->text(), QString("Create debug logs"));
    QVERIFY(!dialog.cbEthAdapter()->isEditable());
    QVERIFY(dialog.btnOK()->isDefault());
    QVERIFY(dialog.width() >= 448 && dialog.height() >= 223);
  }
};

VARNEL_QTEST_MAIN(fOptionsTest)
#include "fOptions_test.moc"
