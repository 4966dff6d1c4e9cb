// The settings store behind QSettings: what is written reads back, what is missing or of
// the wrong kind does not, and the user's store sits where Qt's rules put it.
#include "ui/uQtSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include "ui_test_support.h"

class uQtSettingsStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void StringsAndIntegersReadBack_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "lo";
    QTest::newRow("empty") << "";
    QTest::newRow("comma") << "a,b";
    QTest::newRow("comment marks") << "#x;y";
    QTest::newRow("blanks around") << "  spaced  ";
    QTest::newRow("quotes and backslash") << "\"q\\\"";
    QTest::newRow("beyond ASCII") << QString::fromUtf8("p\u00e4ss\u20ac");
    QTest::newRow("looks like a number") << "0012";
  }
  void StringsAndIntegersReadBack() {
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString file = dir.filePath("Kestrum.conf");
    {
      TQtSettingsStore store(file, QSettings::IniFormat);
      QVERIFY(!store.KeyExists());
      store.WriteString("Password", FromQ(text));
      store.WriteInteger("Top", -40);
      store.Flush();
    }
    TQtSettingsStore store(file, QSettings::IniFormat);
    QVERIFY(store.KeyExists());
    std::string read;
    QVERIFY(store.ReadString("Password", read));
    QCOMPARE(ToQ(read), text);
    int32_t top = 0;
    QVERIFY(store.ReadInteger("Top", top));
    QCOMPARE(top, -40);
  }

  void MissingOrUnreadableValuesAreNotThere() {
    QTemporaryDir dir;
    const QString file = dir.filePath("Kestrum.conf");
    QFile raw(file);
    QVERIFY(raw.open(QIODevice::WriteOnly));
    raw.write("[General]\nWidth=wide\nHeight=99999999999\nPassword=a,b\n");
    raw.close();
    TQtSettingsStore store(file, QSettings::IniFormat);
    int32_t value = 7;
    QVERIFY(!store.ReadInteger("Width", value));
    QVERIFY(!store.ReadInteger("Height", value));
    QVERIFY(!store.ReadInteger("Left", value));
    QCOMPARE(value, 7);
    std::string text;
    QVERIFY(!store.ReadString("EthernetAdapterID", text));
    QVERIFY(store.ReadString("Password", text));
    QCOMPARE(text, std::string("a,b"));
  }

  void TheUsersStoreFollowsXdgConfigHome() {
    TQtSettingsStore store;
    const QString expected =
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("Morvane/Kestrum.conf");
    QCOMPARE(store.FileName(), expected);
  }
};

VARNEL_QTEST_MAIN(uQtSettingsStoreTest)
#include "uQtSettingsStore_test.moc"
