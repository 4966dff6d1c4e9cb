// The settings store behind QSettings: what is written reads back, what is missing or of
// the wrong kind does not, and the user's store sits where Qt's rules put it.
#include "ui/uQtSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include "ui_test_support.h"

namespace {

constexpr QFile::Permissions kEveryone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                         QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

QByteArray RawFile(const QString& name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A secret store in memory that answers, or that is not there.
class TFakeSecrets : public TSecretStore {
 public:
  bool Answers = true;
  bool Holds = false;
  std::string Secret;
  int Writes = 0;

  TSecretResult Read(std::string& secret) override {
    if (!Answers) return TSecretResult::srUnavailable;
    if (!Holds) return TSecretResult::srNotFound;
    secret = Secret;
    return TSecretResult::srDone;
  }
  TSecretResult Write(const std::string& secret) override {
    if (!Answers) return TSecretResult::srUnavailable;
    ++Writes;
    Secret = secret;
    Holds = !secret.empty();
    return TSecretResult::srDone;
  }
};

}  // namespace

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

  void OnlyTheOwnerCanReadTheFile_data() {
    QTest::addColumn<bool>("existing");
    QTest::newRow("made here, in folders made here") << false;
    QTest::newRow("left readable by an older version") << true;
  }
  void OnlyTheOwnerCanReadTheFile() {
    QFETCH(bool, existing);
    QTemporaryDir dir;
    const QString folder = dir.filePath("made/here");
    const QString file = folder + "/Kestrum.conf";
    if (existing) {
      QVERIFY(QDir().mkpath(folder));
      QFile old(file);
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write("[General]\nPassword=old\n");
      old.close();
      QVERIFY(old.setPermissions(old.permissions() | QFile::ReadOther | QFile::ReadGroup));
    }
    {
      TQtSettingsStore store(file, QSettings::IniFormat);
      store.WriteString("Password", "secret");
      store.Flush();
      store.WriteInteger("Top", 1);
    }  // written again on the way out, by QSettings itself
    QCOMPARE(QFile::permissions(file) & kEveryone, QFile::ReadOwner | QFile::WriteOwner);
    if (!existing) {
      for (const QString& made : {dir.filePath("made"), folder}) {
        QCOMPARE(QFile::permissions(made) & kEveryone,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      }
    }
    TQtSettingsStore store(file, QSettings::IniFormat);
    std::string read;
    QVERIFY(store.ReadString("Password", read));
    QCOMPARE(read, std::string("secret"));
  }

  void ThePasswordGoesToASecretStoreThatAnswersAndOtherwiseToTheFile() {
    QTemporaryDir dir;
    const QString file = dir.filePath("Kestrum.conf");
    auto secrets = std::make_unique<TFakeSecrets>();
    TFakeSecrets* held = secrets.get();
    {
      TQtSettingsStore store(file, QSettings::IniFormat, std::move(secrets));
      store.WriteString("Password", "s3cret");
      store.WriteString("EthernetAdapterID", "lo");
      store.Flush();
      QCOMPARE(held->Secret, std::string("s3cret"));
      QVERIFY(!RawFile(file).contains("s3cret"));
      // Unchanged, it is not handed over again.
      store.WriteString("Password", "s3cret");
      QCOMPARE(held->Writes, 1);
      std::string read;
      QVERIFY(store.ReadString("Password", read));
      QCOMPARE(read, std::string("s3cret"));
    }

    // No store answers (a bare virtual display): the file keeps it, for its owner only.
    auto silent = std::make_unique<TFakeSecrets>();
    silent->Answers = false;
    {
      TQtSettingsStore store(file, QSettings::IniFormat, std::move(silent));
      store.WriteString("Password", "plain");
      store.Flush();
    }
    QVERIFY(RawFile(file).contains("Password=plain"));

    // Once a store answers, the password moves out of the file into it.
    auto later = std::make_unique<TFakeSecrets>();
    TFakeSecrets* moved = later.get();
    {
      TQtSettingsStore store(file, QSettings::IniFormat, std::move(later));
      std::string read;
      QVERIFY(store.ReadString("Password", read));
      QCOMPARE(read, std::string("plain"));
      QCOMPARE(moved->Secret, std::string("plain"));
    }
    QVERIFY(!RawFile(file).contains("plain"));
    QVERIFY(RawFile(file).contains("EthernetAdapterID=lo"));

    // An empty password is no secret: the store lets go of it, and the file says so.
    auto emptied = std::make_unique<TFakeSecrets>();
    emptied->Secret = "plain";
    emptied->Holds = true;
    TFakeSecrets* cleared = emptied.get();
    {
      TQtSettingsStore store(file, QSettings::IniFormat, std::move(emptied));
      std::string read;
      QVERIFY(store.ReadString("Password", read));
      store.WriteString("Password", "");
      store.Flush();
      QVERIFY(!cleared->Holds);
    }
    TQtSettingsStore store(file, QSettings::IniFormat);
    std::string read = "x";
    QVERIFY(store.ReadString("Password", read));
    QCOMPARE(read, std::string());
  }

  void WithoutASessionBusTheDesktopsStoreIsNotAsked() {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir empty;
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", empty.path().toLocal8Bit());
    QVERIFY(!TKeychainSecretStore::SessionBusReachable());
    TKeychainSecretStore store("test");
    std::string secret = "kept";
    QCOMPARE(store.Read(secret), TSecretResult::srUnavailable);
    QCOMPARE(secret, std::string("kept"));
    QCOMPARE(store.Write("x"), TSecretResult::srUnavailable);
    if (!bus.isNull()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    if (runtime.isNull()) {
      qunsetenv("XDG_RUNTIME_DIR");
    } else {
      qputenv("XDG_RUNTIME_DIR", runtime);
    }
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
