// The window's words for the workflows' outcomes: each scan remark, a refusing
// controller's hint, the question before values are thrown away, and what an import left
// out.
#include "ui/uOutcomeText.h"

#include <QtTest>

#include "ui_test_support.h"

Q_DECLARE_METATYPE(TScanRemark)
Q_DECLARE_METATYPE(TImportSkip)

class uOutcomeTextTest : public QObject {
  Q_OBJECT

 private slots:
  void ScanRemarks_data() {
    QTest::addColumn<TScanRemark>("remark");
    QTest::addColumn<QString>("text");
    using K = TScanRemarkKind;
    QTest::newRow("no NAD") << TScanRemark{K::srNoNAD, 0, "127.0.0.60", "", "1x"}
                            << "the answer from 127.0.0.60 gave NAD \"1x\", which is no NAD; it "
                               "was left out";
    QTest::newRow("NAD 0") << TScanRemark{K::srNADZero, 0, "127.0.0.50", "", ""}
                           << "the answer from 127.0.0.50 gave NAD 0, the discovery address, "
                              "which no workflow addresses; it was left out";
    QTest::newRow("shared NAD") << TScanRemark{K::srSharedNAD, 10, "127.0.0.11", "127.0.0.10", ""}
                                << "NAD 10 answered from 127.0.0.10 and from 127.0.0.11";
    QTest::newRow("wrong password")
        << TScanRemark{K::srRefused, 11, "127.0.0.11", "", "", md_BADPASS}
        << "NAD 11 at 127.0.0.11 refuses the password";
    QTest::newRow("another refusal, a NAD past 31 bits")
        << TScanRemark{K::srRefused, static_cast<int32_t>(3000000000u), "127.0.0.12", "", "",
                       md_NOTREADY}
        << "NAD 3000000000 at 127.0.0.12 answered the scan with md_NOTREADY (5)";
  }
  void ScanRemarks() {
    QFETCH(TScanRemark, remark);
    QFETCH(QString, text);
    QCOMPARE(ScanRemarkText(remark), text);
  }

  void ARefusingControllersHintSaysWhatToDo() {
    QCOMPARE(ScanRefusalHint(md_BADPASS),
             QString("Refuses the password (md_BADPASS, code 12): set the controllers' password in "
                     "Setup"));
    QCOMPARE(ScanRefusalHint(md_NOPRG), QString("Answered the scan with md_NOPRG (6)"));
  }

  void TheDiscardQuestionCountsValuesAndTabs_data() {
    QTest::addColumn<int>("values");
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("text");
    QTest::newRow("several") << 3 << 2 << "3 values on 2 tabs are not written. Discard them?";
    QTest::newRow("one") << 1 << 1 << "1 value on 1 tab is not written. Discard it?";
    QTest::newRow("one tab") << 2 << 1 << "2 values on 1 tab are not written. Discard them?";
  }
  void TheDiscardQuestionCountsValuesAndTabs() {
    QFETCH(int, values);
    QFETCH(int, tabs);
    QFETCH(QString, text);
    QCOMPARE(DiscardQuestion({values, tabs}), text);
  }

  void EachEntryLeftOut_data() {
    QTest::addColumn<TImportSkip>("skip");
    QTest::addColumn<QString>("text");
    using K = TImportSkipKind;
    QTest::newRow("no row") << TImportSkip{K::isNoRow, 4, 99, "temp"}
                            << "line 4: c99.temp: no controller with NAD 99 in the table";
    QTest::newRow("no column") << TImportSkip{K::isNoColumn, 6, 10, "levels[2]"}
                               << "line 6: c10.levels[2]: the tab has no column levels[2]";
    QTest::newRow("no name") << TImportSkip{K::isEmptyName, 8, 0, ""} << "line 8: no name";
    QTest::newRow("no value") << TImportSkip{K::isEmptyValue, 7, 0, "c30.temp"}
                              << "line 7: c30.temp: no value";
    QTest::newRow("no full name") << TImportSkip{K::isNoFullName, 9, 0, "temp"}
                                  << "line 9: temp: not a full name such as c12.temp";
    QTest::newRow("markup") << TImportSkip{K::isMarkup, 5, 0, ""}
                            << "line 5: the name or value is not plain text";
  }
  void EachEntryLeftOut() {
    QFETCH(TImportSkip, skip);
    QFETCH(QString, text);
    QCOMPARE(ImportSkipText(skip), text);
  }

  void TheSummaryNamesTheFirstFew() {
    TImportReport report;
    report.Taken = 1;
    for (int line = 3; line < 8; ++line) {
      report.Skipped.push_back({TImportSkipKind::isEmptyName, line, 0, ""});
    }
    QCOMPARE(ImportReportSummary(report, 2),
             QString("1 value imported, 5 left out: line 3: no name; line 4: no name; and 3 more"));
    report.Skipped.resize(1);
    QCOMPARE(ImportReportSummary(report), QString("1 value imported, 1 left out: line 3: no name"));
  }
};

VARNEL_QTEST_MAIN(uOutcomeTextTest)
#include "uOutcomeText_test.moc"
