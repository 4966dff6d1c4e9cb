// The main window against simulated controllers on loopback (adapter lo): scan, status
// check with its lights and travelling marker, clock write, read and write of a tab,
// export and import, an allocation file that does not parse, and closing while a
// workflow waits.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QtTest>
#include <chrono>
#include <set>

#include "comm/uCommunication.h"
#include "sim/uSimAlc.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"
#include "ui/fEditValue.h"
#include "ui/uArtwork.h"
#include "ui/uCellDelegate.h"
#include "ui/uHeaderView.h"
#include "ui_test_support.h"
#include "window_fixture.h"

namespace {

class TSimWindow {
 public:
  explicit TSimWindow(std::function<void(sim::TSimHostOptions&)> adjust = {}) {
    std::string error;
    Host = testsupport::StartSimulators(3, error, [&](sim::TSimHostOptions& o) {
      o.Seed = 7;
      if (adjust) adjust(o);
    });
    Started = Host != nullptr;
    if (!Started) qWarning("%s", error.c_str());
    TSession& s = F.Window->Session();
    s.Settings.EthAdapterID = "lo";
    if (Started) F.Window->SetControllerPort(Host->Port());
    // Quick repeats, so that a silent controller is given up soon.
    s.TarvoComm().SetNoRetires(1);
    s.TarvoComm().SetWaitTime(250);
  }
  ~TSimWindow() { F.Close(); }

  TfmMain& W() { return *F.Window; }
  TSession& S() { return F.Window->Session(); }
  template <class T = QWidget>
  T* Control(const char* name) {
    return F.Window->findChild<T*>(name);
  }
  QVariant Data(int tab, int row, int column, int role) {
    QAbstractItemModel* model = F.Table(tab)->model();
    return model->data(model->index(row, column), role);
  }
  QString Text(int tab, int row, int column) {
    return Data(tab, row, column, Qt::DisplayRole).toString();
  }
  // Alt and a letter, as the user presses it: the button shows itself pressed for a moment,
  // then clicks. The workflow has run when this returns.
  void Mnemonic(Qt::Key key, const char* button) {
    auto* pressed = Control<QPushButton>(button);
    // A user presses the keys once the window has the keyboard again: after a dialog,
    // the activation comes back as a later event, and a key before it reaches no button.
    QTRY_VERIFY(QApplication::activeWindow() == F.Window.get());
    QTest::keyClick(F.Window.get(), key, Qt::AltModifier);
    QVERIFY2(pressed->isDown(), button);
    QTRY_VERIFY(!pressed->isDown());
    QTRY_VERIFY(S().Running() == TWorkflow::wfNone);
  }
  void Scan() { Mnemonic(Qt::Key_C, "btnAutodetect"); }

  // The red marker's position (row * 10 + step), -1 when none shows.
  int Marker() {
    for (int r = 0; r < F.Records(0).RowCount(); ++r) {
      for (int c = kColNetwork; c <= kColClock; ++c) {
        if (Data(0, r, c, crBackground).toInt() == int(TCellBackground::cbRed)) {
          return r * 10 + c - kColNetwork;
        }
      }
    }
    return -1;
  }

  uitest::TWindowFixture F;
  std::unique_ptr<sim::TSimHost> Host;
  bool Started = false;
};

// Calls `probe` every few milliseconds while it lives: the window's events run during
// every wait of a workflow, so a probe sees the window as the user sees it meanwhile.
class TProbe {
 public:
  explicit TProbe(std::function<void()> probe) {
    fTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&fTimer, &QTimer::timeout, probe);
    fTimer.start(3);
  }

 private:
  QTimer fTimer;
};

const QRegularExpression kClock("^\\d{4}-\\d\\d-\\d\\d  \\d\\d:\\d\\d:\\d\\d$");

}  // namespace

class fMainSimTest : public QObject {
  Q_OBJECT

  // Debug logs, should a test switch them on, go here and not beside the test program.
  QTemporaryDir fLogs;

 private slots:
  void initTestCase() { TCommunicator::SetLogFilePath(fLogs.filePath("q-link.log").toStdString()); }

  void ScanFillsEveryTableSortedAndChecked() {
    TSimWindow t;
    QVERIFY(t.Started);
    // The answers arrive as 12, 10, 11.
    sim::TSimFaults late;
    late.DelayMs = 100;
    t.Host->Controller(0).SetFaults(late);
    late.DelayMs = 200;
    t.Host->Controller(1).SetFaults(late);
    bool scanDisabled = true;
    {
      TProbe probe([&] {
        if (t.S().Running() != TWorkflow::wfNone)
          scanDisabled = scanDisabled && !t.Control("btnAutodetect")->isEnabled();
      });
      t.Scan();
    }
    QVERIFY2(scanDisabled, "Scan stays disabled while it runs");
    QVERIFY(t.Control("btnAutodetect")->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(t.S().TarvoList().Count(), 3);
    QCOMPARE(t.S().TarvoList().Items(0)->NAD(), 12);
    for (int tab : {0, 1}) {
      QCOMPARE(t.F.NADs(tab), (std::vector<int32_t>{10, 11, 12}));
      for (int r = 0; r < 3; ++r) {
        QCOMPARE(t.Data(tab, r, kColNo, Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(t.Text(tab, r, kColNo), QString("%1.").arg(r + 1));
      }
      QCOMPARE(t.F.Table(tab)->Header()->CheckState(), Qt::Checked);
      QCOMPARE(t.F.Table(tab)->Header()->sortIndicatorSection(), kColNAD);
    }
    for (int r = 0; r < 3; ++r) {
      QCOMPARE(t.Text(0, r, kColIP), ToQ(t.Host->Controller(r).IP()));
      QCOMPARE(t.Data(0, r, kColNetwork, crLed).toInt(), int(TLed::ldNone));
    }
    for (const char* name : {"btnCheck", "btnWriteRTC", "btnRead1", "btnWrite1", "cbReadEE1",
                             "Button21", "Button31"}) {
      QVERIFY2(t.Control(name)->isEnabled(), name);
    }
    for (const char* name : {"acEditVars", "acSaveToXML", "acLoadFromXML"}) {
      QVERIFY2(t.W().findChild<QAction*>(name)->isEnabled(), name);
    }
  }

  void AScanThatFindsNothingDisablesTheTabs() {
    TSimWindow t([](sim::TSimHostOptions& o) { o.Faults.DropProbability = 1; });
    QVERIFY(t.Started);
    t.Scan();
    QCOMPARE(t.F.Records(0).RowCount(), 0);
    for (const char* name : {"btnCheck", "btnWriteRTC", "btnRead1", "Button21"}) {
      QVERIFY2(!t.Control(name)->isEnabled(), name);
    }
    QVERIFY(!t.W().findChild<QAction*>("acSaveToXML")->isEnabled());
  }

  void StatusCheckShowsLightsFiguresAndClocks() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Scan();
    t.S().SetRowChecked(t.F.Records(0), 1, false);
    std::vector<int> markers;
    bool othersDisabled = true;
    TWorkflowResult refused = TWorkflowResult::wrDone;
    {
      TProbe probe([&] {
        const int m = t.Marker();
        if (m >= 0 && (markers.empty() || markers.back() != m)) markers.push_back(m);
        if (t.S().Running() == TWorkflow::wfNone) return;
        othersDisabled = othersDisabled && !t.Control("btnAutodetect")->isEnabled() &&
                         !t.Control("btnWriteRTC")->isEnabled() &&
                         !t.Control("btnSetup")->isEnabled();
        if (refused == TWorkflowResult::wrDone) refused = t.S().Scan();
      });
      t.Mnemonic(Qt::Key_R, "btnCheck");
    }
    QVERIFY(othersDisabled);
    QCOMPARE(refused, TWorkflowResult::wrRefused);
    QCOMPARE(t.Marker(), -1);
    // The marker travels forward over the checked rows only.
    QVERIFY(std::is_sorted(markers.begin(), markers.end()));
    QVERIFY2(markers.size() >= 12, qPrintable(QString::number(markers.size())));
    for (int m : markers) QVERIFY2(m / 10 != 1, "the unchecked row is skipped");
    for (int r : {0, 2}) {
      for (int c = kColNetwork; c <= kColRun; ++c) {
        QCOMPARE(t.Data(0, r, c, crLed).toInt(), int(TLed::ldGreen));
      }
      for (int c = kColFirstScanVar; c < kColClock; ++c) {
        bool number = false;
        t.Text(0, r, c).toInt(&number);
        QVERIFY2(number, qPrintable(t.Text(0, r, c)));
      }
      QVERIFY(t.Data(0, r, kColFirstScanVar, Qt::ToolTipRole).toString() == "Scans per second");
      QVERIFY2(kClock.match(t.Text(0, r, kColClock)).hasMatch(),
               qPrintable(t.Text(0, r, kColClock)));
    }
    QCOMPARE(t.Data(0, 1, kColNetwork, crLed).toInt(), int(TLed::ldNone));
    QCOMPARE(t.Text(0, 1, kColClock), QString());
    // The lights are painted where they belong.
    TVSTView* system = t.F.Table(0);
    const QRect cell = system->visualRect(system->model()->index(0, kColNetwork));
    const QImage shot = system->viewport()->grab().toImage();
    const QPoint centre = TCellDelegate::LedPosition(cell) + QPoint(8, 8);
    QCOMPARE(QColor(shot.pixel(centre * shot.devicePixelRatio())),
             QColor(LedImage(liGreen).toImage().pixel(8, 8)));
  }

  void WriteRTCSetsTheClocks() {
    TSimWindow t;
    QVERIFY(t.Started);
    for (int i = 0; i < 3; ++i) t.Host->Controller(i).SetClockOffset(std::chrono::hours(-24 * 400));
    t.Scan();
    t.Mnemonic(Qt::Key_R, "btnCheck");
    const QString before = t.Text(0, 0, kColClock);
    t.Mnemonic(Qt::Key_W, "btnWriteRTC");
    for (int i = 0; i < 3; ++i) {
      QVERIFY(std::abs(t.Host->Controller(i).ClockOffset().count()) <= 5);
    }
    QVERIFY(kClock.match(t.Text(0, 0, kColClock)).hasMatch());
    QVERIFY(t.Text(0, 0, kColClock).left(4) != before.left(4) ||
            before.mid(5, 5) != t.Text(0, 0, kColClock).mid(5, 5));
  }

  void ReadAndWriteOnATab() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Scan();
    t.F.ShowTab(1);
    QWidget* viewport = t.F.Table(1)->viewport();
    // temp of the second controller, edited as a user does.
    uitest::Click(viewport, t.F.CellPoint(1, 1, 2));
    uitest::WhenModal<TfmEditValue>([](TfmEditValue* d) {
      QTest::keyClicks(d->edValue(), "215");
      d->btnOK()->click();
    });
    QTest::keyClick(t.F.Table(1), Qt::Key_Return);
    QCOMPARE(t.Data(1, 1, 2, crTextColour).toInt(), int(TTextColour::tcRed));
    t.Control<QPushButton>("btnWrite1")->click();
    QCOMPARE(t.Host->Controller(1).ReadVar("temp").value_or(0), 215u);
    QCOMPARE(t.Text(1, 1, 2), QString("215"));
    QVERIFY(!t.F.Records(1).RowByPosition(1)->Cell(0)->AwaitWrite);
    QCOMPARE(t.Data(1, 1, 2, crTextColour).toInt(), int(TTextColour::tcHighlight));
    // Only the cell awaiting its write was written.
    QCOMPARE(t.Text(1, 0, 2), QString());

    t.Host->Controller(2).WriteVar("levels", 3, 4321);
    t.Mnemonic(Qt::Key_R, "btnRead1");
    for (int r = 0; r < 3; ++r) {
      for (int c = 2; c <= 4; ++c)
        QVERIFY2(!t.Text(1, r, c).isEmpty(), qPrintable(QString("%1 %2").arg(r).arg(c)));
    }
    QCOMPARE(t.Text(1, 2, 4), QString("4321"));
    QCOMPARE(t.Text(1, 1, 2), QString("215"));
    QCOMPARE(t.Data(1, 0, 2, Qt::ToolTipRole).toString(), QString("Tank temperature in 0.1 degC"));
  }

  void AValueTheControllerCannotTakeIsNamedInTheStatusLine() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Scan();
    t.F.ShowTab(1);
    const uint32_t before = t.Host->Controller(0).ReadVar("temp").value_or(0);
    // A lone point passes the value dialog, but is no value for an integer.
    uitest::Click(t.F.Table(1)->viewport(), t.F.CellPoint(1, 0, 2));
    uitest::WhenModal<TfmEditValue>([](TfmEditValue* d) {
      QTest::keyClicks(d->edValue(), ".");
      QVERIFY(d->btnOK()->isEnabled());
      d->btnOK()->click();
    });
    QTest::keyClick(t.F.Table(1), Qt::Key_Return);
    t.Control<QPushButton>("btnWrite1")->click();
    QCOMPARE(t.Host->Controller(0).ReadVar("temp").value_or(0), before);
    QCOMPARE(t.W().StatusText(), QString("NAD 10: \".\" is not a valid int value for temp"));
    // The next workflow starts with a clean line.
    t.Control<QPushButton>("btnRead1")->click();
    QCOMPARE(t.W().StatusText(), QString());
  }

  void AValueThatDoesNotFitStaysRedWithItsReason() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Scan();
    t.F.ShowTab(1);
    t.Control<QPushButton>("btnRead1")->click();
    const uint32_t before = t.Host->Controller(0).ReadVar("temp").value_or(0);
    uitest::Click(t.F.Table(1)->viewport(), t.F.CellPoint(1, 0, 2));
    uitest::WhenModal<TfmEditValue>([](TfmEditValue* d) {
      d->edValue()->clear();
      QTest::keyClicks(d->edValue(), "70000");
      d->btnOK()->click();
    });
    QTest::keyClick(t.F.Table(1), Qt::Key_Return);
    t.Control<QPushButton>("btnWrite1")->click();
    QTRY_VERIFY(t.S().Running() == TWorkflow::wfNone);

    const QString reason("70000 does not fit temp (int, -32768 to 32767)");
    QCOMPARE(t.Host->Controller(0).ReadVar("temp").value_or(0), before);
    QCOMPARE(t.W().StatusText(), "NAD 10: " + reason);
    QCOMPARE(t.Text(1, 0, 2), QString("70000"));
    QCOMPARE(t.Data(1, 0, 2, crTextColour).toInt(), int(TTextColour::tcRed));
    QCOMPARE(t.Data(1, 0, 2, Qt::ToolTipRole).toString(),
             reason + "\nTank temperature in 0.1 degC");
    // Written again unchanged, it is refused again.
    t.Control<QPushButton>("btnWrite1")->click();
    QCOMPARE(t.Data(1, 0, 2, crTextColour).toInt(), int(TTextColour::tcRed));
    QCOMPARE(t.Host->Controller(0).ReadVar("temp").value_or(0), before);

    // Changed by the user, the reason goes; written, the cell is black again.
    uitest::Click(t.F.Table(1)->viewport(), t.F.CellPoint(1, 0, 2));
    uitest::WhenModal<TfmEditValue>([](TfmEditValue* d) {
      d->edValue()->clear();
      QTest::keyClicks(d->edValue(), "-300");
      d->btnOK()->click();
    });
    QTest::keyClick(t.F.Table(1), Qt::Key_Return);
    QCOMPARE(t.Data(1, 0, 2, Qt::ToolTipRole).toString(), QString("Tank temperature in 0.1 degC"));
    t.Control<QPushButton>("btnWrite1")->click();
    QCOMPARE(t.Text(1, 0, 2), QString("-300"));
    QVERIFY(t.Data(1, 0, 2, crTextColour).toInt() != int(TTextColour::tcRed));
    QCOMPARE(t.Host->Controller(0).ReadVar("temp").value_or(0), uint32_t(uint16_t(-300)));
    QCOMPARE(t.W().StatusText(), QString());
  }

  void ExportAndImport() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Scan();
    t.F.ShowTab(1);
    t.Control<QPushButton>("btnRead1")->click();
    const QString file = t.F.Path("values.xml");
    QString suggested;
    t.W().ChooseFile = [&](bool save, const QString& name) {
      suggested = name;
      return save ? file : file;
    };
    QTest::keyClick(t.F.Table(1), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(suggested, QString("Process.xml"));
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    QCOMPARE(lines.front(), QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r"));
    QVERIFY(lines.contains("<var><name>c11.levels[3]</name><value>" + t.Text(1, 1, 4).toLatin1() +
                           "</value></var>\r"));
    saved.close();

    // Cleared, then imported: the values come back, awaiting their write.
    QTest::keyClick(t.F.Table(1), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(t.F.Table(1), Qt::Key_Delete);
    QCOMPARE(t.Text(1, 1, 4), QString());
    t.Control<QPushButton>("Button31")->click();
    QVERIFY(!t.Text(1, 1, 4).isEmpty());
    for (int r = 0; r < 3; ++r)
      QCOMPARE(t.Data(1, r, 3, crTextColour).toInt(), int(TTextColour::tcRed));

    // A file that is no XML is said so, and changes nothing.
    QFile broken(t.F.Path("broken.xml"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("<data><var>");
    broken.close();
    t.W().ChooseFile = [&](bool, const QString&) { return t.F.Path("broken.xml"); };
    uitest::TMessageRecorder boxes;
    const QString kept = t.Text(1, 0, 2);
    QTest::keyClick(t.F.Table(1), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(boxes.Texts, QStringList{"Error parsing XML file."});
    QCOMPARE(t.Text(1, 0, 2), kept);
    // A cancelled file dialog does nothing.
    t.W().ChooseFile = [&](bool, const QString&) { return QString(); };
    QTest::keyClick(t.F.Table(1), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(boxes.Texts.size(), 1);
  }

  void AControllerThatRefusesThePasswordIsListedAndNamed() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Host->Controller(1).SetPassword("secret");
    t.Scan();
    QCOMPARE(t.F.NADs(0), (std::vector<int32_t>{10, 11, 12}));
    QCOMPARE(t.W().StatusText(), QString("NAD 11 at 127.0.0.11 refuses the password"));
    for (int column : {kColNAD, kColIP}) {
      QCOMPARE(t.Data(0, 1, column, Qt::ToolTipRole).toString(),
               QString("Refuses the password (md_BADPASS, code 12): set the controllers' password "
                       "in Setup"));
      QCOMPARE(t.Data(0, 1, column, crTextColour).toInt(), int(TTextColour::tcRed));
      QCOMPARE(t.Data(0, 0, column, crTextColour).toInt(), int(TTextColour::tcNormal));
    }
    QVERIFY(t.Control("btnCheck")->isEnabled());
  }

  void AScanAsksBeforeItDiscardsValuesAwaitingWriting() {
    TSimWindow t;
    QVERIFY(t.Started);
    t.Scan();
    for (int r : {0, 2}) {
      TTreeVar& cell = *t.F.Records(1).RowByPosition(r)->Cell(0);
      cell.SetCaption("33");
      cell.AwaitWrite = true;
    }
    for (int i = 0; i < 3; ++i) t.Host->Controller(i).ClearRequests();
    QString question;
    uitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
      question = box->text();
      QTest::keyClick(box, Qt::Key_Escape);
    });
    t.Control<QPushButton>("btnAutodetect")->click();
    QCOMPARE(question, QString("2 values on 1 tab are not written. Discard them?"));
    QCOMPARE(t.Text(1, 2, 2), QString("33"));
    QVERIFY2(t.Host->Controller(0).Requests().empty(), "no scan went out");

    uitest::WhenModal<QMessageBox>(
        [](QMessageBox* box) { box->button(QMessageBox::Discard)->click(); });
    t.Control<QPushButton>("btnAutodetect")->click();
    QCOMPARE(t.F.NADs(1), (std::vector<int32_t>{10, 11, 12}));
    QCOMPARE(t.Text(1, 2, 2), QString());
  }

  void AnAllocationFileThatDoesNotParseIsShownAndTheProgramGoesOn() {
    TSimWindow t;
    QVERIFY(t.Started);
    const std::string alc =
        sim::TSimController::MakeAlcText(sim::TSimController::DefaultVars(), 10);
    // The marker line, two good lines, then one that is no variable: line 3 counted from 0.
    QStringList lines = ToQ(alc).split("\r\n");
    const int marker =
        lines.indexOf(QRegularExpression("^" + QRegularExpression::escape(sim::kAlcMarker) + ".*"));
    QVERIFY(marker >= 0);
    lines = lines.mid(marker, 3);
    lines << "this line names no variable"
          << "";
    t.Host->Controller(0).ReplaceProgram(FromQ(lines.join("\r\n")));
    t.Scan();
    uitest::TMessageRecorder boxes;
    t.Control<QPushButton>("btnCheck")->click();
    QCOMPARE(boxes.Texts, QStringList{"Error parsing ALC data on line 3"});
    QCOMPARE(boxes.Kinds.front(), TBoxKind::bkError);
    QVERIFY(t.Control("btnCheck")->isEnabled());
    QCOMPARE(t.Marker(), 3);
    // The program goes on: the next workflow runs.
    t.S().SetRowChecked(t.F.Records(0), 0, false);
    t.Control<QPushButton>("btnCheck")->click();
    QCOMPARE(boxes.Texts.size(), 1);
    QCOMPARE(t.Data(0, 1, kColRun, crLed).toInt(), int(TLed::ldGreen));
  }

  void ClosingDuringAStatusCheckEndsItAndCloses() {
    TSimWindow t([](sim::TSimHostOptions& o) { o.Faults.DelayMs = 60; });
    QVERIFY(t.Started);
    t.Scan();
    for (int i = 0; i < 3; ++i) t.Host->Controller(i).ClearRequests();
    bool closedWhileRunning = false;
    QTimer::singleShot(300, t.F.Window.get(), [&] {
      closedWhileRunning = t.S().Running() == TWorkflow::wfStatus;
      t.W().close();
    });
    t.Control<QPushButton>("btnCheck")->click();
    QVERIFY(closedWhileRunning);
    QCOMPARE(t.S().Running(), TWorkflow::wfNone);
    QVERIFY2(t.Host->Controller(2).Requests().empty(), "the later rows are not examined");
    QTRY_VERIFY(!t.W().isVisible());
    t.F.Close();
    QVERIFY(QFile::exists(t.F.SettingsFile()));
  }

  void RequestCloseEndsDialogsAndTheWorkflow() {
    TSimWindow t([](sim::TSimHostOptions& o) { o.Faults.DelayMs = 60; });
    QVERIFY(t.Started);
    t.Scan();
    // The about box opened during a status check's wait, then the signal to end.
    QTimer::singleShot(200, t.F.Window.get(), [&] {
      uitest::WhenModal<QDialog>([&](QDialog*) { t.W().RequestClose(); });
      t.Control<QPushButton>("Button1")->click();
    });
    t.Control<QPushButton>("btnCheck")->click();
    QCOMPARE(t.S().Running(), TWorkflow::wfNone);
    QTRY_VERIFY(!t.W().isVisible());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }
};

VARNEL_QTEST_MAIN(fMainSimTest)
#include "fMainSim_test.moc"
