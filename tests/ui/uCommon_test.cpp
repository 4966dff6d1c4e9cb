// The version texts and the top-level error handler.
#include "ui/uCommon.h"

#include <QtTest>
#include <stdexcept>

#include "ui_test_support.h"

namespace {

// An object whose event handler fails the way a workflow's error would.
class TThrower : public QObject {
 public:
  int Handled = 0;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    ++Handled;
    if (Handled == 1) throw std::runtime_error("Error parsing ALC data on line 3");
    return true;
  }
};

}  // namespace

class uCommonTest : public QObject {
  Q_OBJECT

 private slots:
  void VersionComponents_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::newRow("none asked") << "1.3.3.0" << 0 << "";
    QTest::newRow("negative") << "1.3.3.0" << -1 << "";
    QTest::newRow("major") << "1.3.3.0" << 1 << "1";
    QTest::newRow("minor") << "1.3.3.0" << 2 << "1.3";
    QTest::newRow("release") << "1.3.3.0" << 3 << "1.3.3";
    QTest::newRow("all") << "1.3.3.0" << 4 << "1.3.3.0";
    QTest::newRow("more than there are") << "1.3.3.0" << 9 << "1.3.3.0";
    QTest::newRow("no version resource") << "" << 3 << "";
  }
  void VersionComponents() {
    QFETCH(QString, version);
    QFETCH(int, n);
    QFETCH(QString, text);
    QCOMPARE(::VersionComponents(version, n), text);
  }

  void TheProgramCarriesItsBuildVersion() {
    QCOMPARE(GetFileVersionText(4), QString("1.3.3.0"));
    QCOMPARE(GetFileVersionText(3), QString("1.3.3"));
  }

  void AnErrorInAnEventHandlerIsShownAndTheProgramGoesOn() {
    uitest::TMessageRecorder boxes;
    TThrower target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    QCOMPARE(target.Handled, 2);
    QCOMPARE(boxes.Texts, QStringList{"Error parsing ALC data on line 3"});
    QCOMPARE(boxes.Kinds.front(), TBoxKind::bkError);
  }

  void GuardedStopsTheErrorAndSaysSo() {
    uitest::TMessageRecorder boxes;
    QVERIFY(!Guarded([] { throw std::logic_error("broken"); }));
    QVERIFY(!Guarded([] { throw 42; }));
    QVERIFY(Guarded([] {}));
    QCOMPARE(boxes.Texts, (QStringList{"broken", "Unexpected error"}));
  }
};

VARNEL_QTEST_MAIN(uCommonTest)
#include "uCommon_test.moc"
