// The window's words for the workflows' outcomes: writes and EEPROM stores that did not
// simply take (each says what happened, and a refusal by the controller names its response
// code), each scan remark, a refusing controller's hint, the question before values are
// thrown away, and what an import left out.
#include "ui/uOutcomeText.h"

#include <QtTest>

#include "ui_test_support.h"

Q_DECLARE_METATYPE(TScanRemark)
Q_DECLARE_METATYPE(TImportSkip)

namespace {

TWriteOutcome Write(TWriteKind kind, TMessageDirection code = md_REQ,
                    const std::string& reason = "") {
  TWriteOutcome o;
  o.Kind = kind;
  o.NAD = 10;
  o.Name = "setpoint";
  o.Text = "0.1";
  o.Sent = "0.100000001490116";
  o.Held = "21.5";
  o.ResponseCode = code;
  o.Reason = reason;
  return o;
}

TEepromStoreOutcome Store(TEepromStoreKind kind, TMessageDirection code = md_REQ,
                          const std::string& reason = "") {
  TEepromStoreOutcome o;
  o.Kind = kind;
  o.NAD = 10;
  o.ResponseCode = code;
  o.Reason = reason;
  return o;
}

}  // namespace

Q_DECLARE_METATYPE(TWriteOutcome)
Q_DECLARE_METATYPE(TEepromStoreOutcome)

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

  void Writes_data() {
    QTest::addColumn<TWriteOutcome>("outcome");
    QTest::addColumn<QString>("text");
    QTest::newRow("verified") << Write(TWriteKind::wkVerified) << "";
    QTest::newRow("not held") << Write(TWriteKind::wkNotHeld)
                              << "setpoint: wrote 0.1, the controller holds 21.5";
    QTest::newRow("read-back lost")
        << Write(TWriteKind::wkUnverified, md_REQ, "Error reading vars")
        << "setpoint: 0.100000001490116 was written but is unverified: its read-back failed "
           "(Error reading vars)";
    QTest::newRow("no answer") << Write(TWriteKind::wkUnanswered)
                               << "setpoint: the write of 0.1 got no answer; whether the "
                                  "controller took it is unknown";
    QTest::newRow("password refused")
        << Write(TWriteKind::wkRejected, md_BADPASS, "PLC refuses the password!")
        << "setpoint: 0.1 was not written: the controller refuses the password (response code "
           "12)";
    QTest::newRow("not ready") << Write(TWriteKind::wkRejected, md_NOTREADY)
                               << "setpoint: 0.1 was not written: the controller refused it: not "
                                  "ready (response code 5)";
    QTest::newRow("silent") << Write(TWriteKind::wkNotReached, md_REQ, "PLC not responding!")
                            << "setpoint: 0.1 was not written: PLC not responding!";
    QTest::newRow("no such variable") << Write(TWriteKind::wkNoVariable)
                                      << "setpoint is not a variable of the controller's program";
  }
  void Writes() {
    QFETCH(TWriteOutcome, outcome);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(WriteOutcomeText(outcome)), text);
  }

  void Refusals_data() {
    QTest::addColumn<int>("typ");
    QTest::addColumn<int>("access");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("word") << int(vtWord) << int(vaReadWrite) << "70000"
                          << "70000 does not fit setpoint (word, 0 to 65535)";
    QTest::newRow("real") << int(vtReal) << int(vaReadWrite) << "1E39"
                          << "1E39 does not fit setpoint (real, -3.4E38 to 3.4E38)";
    QTest::newRow("tiny real") << int(vtReal) << int(vaReadWrite) << "1E-45"
                               << "1E-45 does not fit setpoint (real: 0, or a magnitude from "
                                  "1.5E-45 to 3.4E38)";
    QTest::newRow("fraction") << int(vtInt) << int(vaReadWrite) << "1.5"
                              << "\"1.5\" is not a valid int value for setpoint: it takes whole "
                                 "numbers from -32768 to 32767";
    QTest::newRow("no number") << int(vtInt) << int(vaReadWrite) << "."
                               << "\".\" is not a valid int value for setpoint";
    QTest::newRow("read-only") << int(vtLong) << int(vaReadOnly) << "5"
                               << "setpoint is read-only: 5 was not written";
    QTest::newRow("no value") << int(vtTimer) << int(vaReadWrite) << "5"
                              << "setpoint is of type timer, which carries no value: 5 was not "
                                 "written";
  }
  void Refusals() {
    QFETCH(int, typ);
    QFETCH(int, access);
    QFETCH(QString, value);
    QFETCH(QString, text);
    const std::string given = value.toStdString();
    const TValueCheck check =
        CheckValue(static_cast<TTarvoVarTyp>(typ), static_cast<TTarvoVarAccessType>(access), given);
    QCOMPARE(QString::fromStdString(ValueRefusalText("setpoint", given, check)), text);
  }

  void EepromStores_data() {
    QTest::addColumn<TEepromStoreOutcome>("outcome");
    QTest::addColumn<QString>("text");
    QTest::newRow("stored") << Store(TEepromStoreKind::esStored) << "";
    QTest::newRow("read-back lost")
        << Store(TEepromStoreKind::esUnconfirmed, md_REQ, "Error reading vars")
        << "the EEPROM store was acknowledged but not confirmed: its read-back failed (Error "
           "reading vars)";
    QTest::newRow("bad password") << Store(TEepromStoreKind::esRejected, md_BADPASS)
                                  << "the controller refused the EEPROM store: bad password "
                                     "(response code 12)";
    QTest::newRow("no answer") << Store(TEepromStoreKind::esUnanswered)
                               << "the EEPROM store got no answer; whether the controller "
                                  "stored is unknown";
    QTest::newRow("silent") << Store(TEepromStoreKind::esNotReached, md_REQ, "PLC not responding!")
                            << "the EEPROM store failed: PLC not responding!";
    QTest::newRow("password at the ping")
        << Store(TEepromStoreKind::esNotReached, md_BADPASS, "PLC refuses the password!")
        << "the EEPROM store failed: the controller refuses the password (response code 12)";
    TEepromStoreOutcome missing = Store(TEepromStoreKind::esNotRequested);
    missing.Faults.push_back(Write(TWriteKind::wkNoVariable));
    missing.Faults.back().Name = "ee_write_magic";
    QTest::newRow("missing variable")
        << missing << "the EEPROM store was not requested: the program has no ee_write_magic";
  }
  void EepromStores() {
    QFETCH(TEepromStoreOutcome, outcome);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(EepromStoreText(outcome)), text);
  }

  void AStatusLineEntryNamesTheControllerUnsigned() {
    QCOMPARE(QString::fromStdString(WithNAD(static_cast<int32_t>(3000000000u), "x")),
             QString("NAD 3000000000: x"));
  }
};

VARNEL_QTEST_MAIN(uOutcomeTextTest)
#include "uOutcomeText_test.moc"
