// The table models: what each cell shows, in which colour, with which light and hint, as
// the session's state stands; and the row check box as a user's change.
#include "ui/uTableModels.h"

#include <QtTest>

#include "controller/uTarvo.h"
#include "ui_test_support.h"

namespace {

// A session with controllers known by address: nothing is sent.
struct TTables {
  TWorkflowFrontEnd frontEnd;
  TSession session{frontEnd};
  int tab = session.AddVSTTab("Values", "Some values", {"temp", "levels[3]"});

  TTables() {
    for (auto [nad, ip] : {std::pair{20, "127.0.0.20"}, std::pair{10, "127.0.0.10"}}) {
      auto tarvo = std::make_unique<TTarvo>();
      tarvo->SetNAD(nad);
      tarvo->SetIP(ip);
      session.AddController(std::move(tarvo));
    }
  }
  TVSTTab& Tab() { return *session.VSTTabList().Items(tab); }
  TTreeVar& Cell(int position, int index) {
    return *Tab().vstTable().RowByPosition(position)->Cell(index);
  }
};

QVariant Data(const QAbstractItemModel& model, int row, int column, int role) {
  return model.data(model.index(row, column), role);
}

}  // namespace

class uTableModelsTest : public QObject {
  Q_OBJECT

 private slots:
  void TitlesAndShape() {
    TTables t;
    TSystemTableModel system(&t.session, nullptr);
    TVariablesTableModel variables(&t.session, &t.Tab(), nullptr);
    TVariablesTableModel empty(&t.session, nullptr, nullptr);
    QCOMPARE(TSystemTableModel::Titles(),
             (QStringList{"No.", "NAD", "IP", "Network", "Tarvo ping", "PLC program", "ALC file",
                          "PLC run", "scan_frequency", "scan_time", "scan_time_max", "scan_overrun",
                          "Realtime clock"}));
    QCOMPARE(system.columnCount(), 13);
    QCOMPARE(system.rowCount(), 2);
    QCOMPARE(variables.columnCount(), 4);
    QCOMPARE(variables.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("levels[3]"));
    QCOMPARE(empty.columnCount(), 2);
    QCOMPARE(empty.rowCount(), 0);
  }

  void SystemCellsShowWhatTheStatusCheckReached() {
    TTables t;
    TSystemTableModel system(&t.session, nullptr);
    QCOMPARE(Data(system, 0, kColNo, Qt::DisplayRole).toString(), QString("1."));
    QCOMPARE(Data(system, 1, kColNo, Qt::DisplayRole).toString(), QString("2."));
    QCOMPARE(Data(system, 0, kColNAD, Qt::DisplayRole).toString(), QString("20"));
    QCOMPARE(Data(system, 0, kColIP, Qt::DisplayRole).toString(), QString("127.0.0.20"));
    QCOMPARE(Data(system, 0, kColNo, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(Data(system, 0, kColNAD, Qt::CheckStateRole), QVariant());

    TTarvo& first = *t.session.SystemTable().RowByPosition(0)->Tarvo;
    first.SetStatusTested(true);
    first.SetRTCString("2012-03-05  14:07:09");
    t.session.SystemTable().RowByPosition(0)->Cell(0)->SetCaption("800");
    t.session.SystemTable().RowByPosition(0)->Cell(0)->Description = "Scans per second";
    // Before any status check nothing of it shows.
    QCOMPARE(Data(system, 0, kColNetwork, crLed).toInt(), int(TLed::ldNone));
    QCOMPARE(Data(system, 0, kColClock, Qt::DisplayRole).toString(), QString());

    t.session.ShowSystemStatus = true;
    t.session.CurrentTest = 4;  // row 0, step 4 ("PLC run") under way
    QCOMPARE(Data(system, 0, kColNetwork, crLed).toInt(), int(TLed::ldRed));
    QCOMPARE(Data(system, 0, kColRun, crLed).toInt(), int(TLed::ldNone));
    QCOMPARE(Data(system, 0, kColRun, crBackground).toInt(), int(TCellBackground::cbRed));
    QCOMPARE(Data(system, 0, kColFirstScanVar, Qt::DisplayRole).toString(), QString());
    QCOMPARE(Data(system, 0, kColClock, Qt::DisplayRole).toString(),
             QString("2012-03-05  14:07:09"));

    t.session.CurrentTest = -1;
    QCOMPARE(Data(system, 0, kColRun, crBackground).toInt(), int(TCellBackground::cbNone));
    QCOMPARE(Data(system, 0, kColFirstScanVar, Qt::DisplayRole).toString(), QString("800"));
    QCOMPARE(Data(system, 0, kColFirstScanVar, Qt::ToolTipRole).toString(),
             QString("Scans per second"));
    QCOMPARE(Data(system, 0, kColFirstScanVar + 1, Qt::ToolTipRole), QVariant());
    QCOMPARE(Data(system, 1, kColNetwork, crLed).toInt(), int(TLed::ldNone));
  }

  void VariablesCellColours_data() {
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("updating");
    QTest::addColumn<bool>("awaitWrite");
    QTest::addColumn<bool>("rowChecked");
    QTest::addColumn<int>("background");
    QTest::addColumn<int>("text");
    const int none = int(TCellBackground::cbNone), hi = int(TCellBackground::cbHighlight),
              red = int(TCellBackground::cbRed);
    const int normal = int(TTextColour::tcNormal), hiText = int(TTextColour::tcHighlight),
              redText = int(TTextColour::tcRed), grey = int(TTextColour::tcGrey);
    QTest::newRow("plain") << false << false << false << true << none << normal;
    QTest::newRow("selected") << true << false << false << true << hi << hiText;
    QTest::newRow("updating wins the background") << true << true << false << true << red << hiText;
    QTest::newRow("await write wins the text") << true << false << true << true << hi << redText;
    QTest::newRow("awaiting write") << false << false << true << true << none << redText;
    QTest::newRow("unchecked row is grey") << true << false << true << false << hi << grey;
  }
  void VariablesCellColours() {
    QFETCH(bool, selected);
    QFETCH(bool, updating);
    QFETCH(bool, awaitWrite);
    QFETCH(bool, rowChecked);
    QFETCH(int, background);
    QFETCH(int, text);
    TTables t;
    TVariablesTableModel model(&t.session, &t.Tab(), nullptr);
    TTreeVar& cell = t.Cell(1, 1);
    cell.SetCaption("12");
    cell.Selected = selected;
    cell.Updating = updating;
    cell.AwaitWrite = awaitWrite;
    t.Tab().vstTable().RowByPosition(1)->Checked = rowChecked;
    QCOMPARE(Data(model, 1, 3, Qt::DisplayRole).toString(), QString("12"));
    QCOMPARE(Data(model, 1, 3, crBackground).toInt(), background);
    QCOMPARE(Data(model, 1, 3, crTextColour).toInt(), text);
    QCOMPARE(Data(model, 1, kColNAD, Qt::DisplayRole).toString(), QString("10"));
  }

  void TheCheckBoxIsAUsersChangeForEveryTable() {
    TTables t;
    TSystemTableModel system(&t.session, nullptr);
    TVariablesTableModel variables(&t.session, &t.Tab(), nullptr);
    t.session.SystemTable().RowByPosition(1)->Tarvo->SetStatusTested(true);
    QVERIFY(variables.flags(variables.index(1, kColNo)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(variables.flags(variables.index(1, 2)) & Qt::ItemIsUserCheckable));
    QVERIFY(variables.setData(variables.index(1, kColNo), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(Data(system, 1, kColNo, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(!t.session.SystemTable().RowByPosition(1)->Tarvo->StatusTested());
    QCOMPARE(t.session.SystemTable().HeaderCheckState, TCheckState::csMixed);
    QCOMPARE(Data(system, 1, kColNAD, crTextColour).toInt(), int(TTextColour::tcGrey));
    QVERIFY(!variables.setData(variables.index(1, 2), Qt::Unchecked, Qt::CheckStateRole));
  }

  void ADetachedModelIsEmpty() {
    TTables t;
    TVariablesTableModel model(&t.session, &t.Tab(), nullptr);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.Detach();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole), QVariant());
  }

  void NothingIsReadWhileTheRowsChange() {
    TTables t;
    TVariablesTableModel model(&t.session, &t.Tab(), nullptr);
    model.BeginRowsChange();
    t.Tab().vstTable().Clear();
    QCOMPARE(model.rowCount(), 0);
    model.EndRowsChange();
    QCOMPARE(model.rowCount(), 0);
  }
};

VARNEL_QTEST_MAIN(uTableModelsTest)
#include "uTableModels_test.moc"
