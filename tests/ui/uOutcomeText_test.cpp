// What the window says of writes and EEPROM stores that did not simply take: each says
// what happened, and a refusal by the controller names its response code.
#include "ui/uOutcomeText.h"

#include <QtTest>

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

QTEST_GUILESS_MAIN(uOutcomeTextTest)
#include "uOutcomeText_test.moc"
