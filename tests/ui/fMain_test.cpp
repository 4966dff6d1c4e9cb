// The main window without controllers on the network: its caption, the tabs a template
// gives, the enabled states, the row check boxes shared by all tables, sorting with its
// marks, every gesture of the cell selection, and the settings with the Setup dialog.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QtTest>

#include "comm/uLogFile.h"
#include "ui/fEditValue.h"
#include "ui/fOptions.h"
#include "ui/uHeaderView.h"
#include "ui_test_support.h"
#include "window_fixture.h"

using uitest::TWindowFixture;

namespace {

QStringList Titles(const TVSTView* view) {
  QStringList titles;
  for (int c = 0; c < view->model()->columnCount(); ++c) {
    titles << view->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  }
  return titles;
}

// "r,c" for every selected cell of a table, in row and column order.
QStringList Selected(TVSTTable& table) {
  QStringList cells;
  for (int r = 0; r < table.RowCount(); ++r) {
    for (int i = 0; i < table.RowByPosition(r)->CellCount(); ++i) {
      if (table.RowByPosition(r)->Cell(i)->Selected) {
        cells << QString("%1,%2").arg(r).arg(i + table.FirstCellColumn());
      }
    }
  }
  return cells;
}

QAction* Action(TfmMain& window, const char* name) {
  return window.findChild<QAction*>(name);
}

template <class T = QWidget>
T* Control(TfmMain& window, const char* name) {
  return window.findChild<T*>(name);
}

}  // namespace

class fMainTest : public QObject {
  Q_OBJECT

  // Debug logs, should a test switch them on, go here and not beside the test program.
  QTemporaryDir fLogs;

 private slots:
  void initTestCase() { SetLogFilePath(fLogs.filePath("q-link.log").toStdString()); }
  // ---- the window itself ---------------------------------------------------------------

  void CaptionAndControls() {
    TWindowFixture f;
    TfmMain& w = *f.Window;
    QCOMPARE(w.windowTitle(), QString("Varnel v1.3.3"));
    for (const char* name :
         {"btnAutodetect",  "btnCheck",  "btnWriteRTC",  "btnSetup",  "Button1",
          "btnClose",       "vstSystem", "PageControl1", "pgSystem",  "pgVariablesTemplate",
          "vstVariables",   "btnRead",   "btnWrite",     "cbReadEE",  "cbWriteEE",
          "cbWriteAllVars", "Button2",   "Button3",      "imgBanner", "imgLogo",
          "Bevel1"}) {
      QVERIFY2(Control(w, name) != nullptr, name);
    }
    QCOMPARE(Control<QPushButton>(w, "btnAutodetect")->text(), QString("S&can"));
    QCOMPARE(Control<QPushButton>(w, "btnCheck")->text(), QString("&Read"));
    QCOMPARE(Control<QPushButton>(w, "btnWriteRTC")->text(), QString("&Write RTC"));
    QCOMPARE(Control<QPushButton>(w, "btnSetup")->text(), QString("&Setup"));
    QCOMPARE(Control<QPushButton>(w, "btnAutodetect")->toolTip(),
             QString("Find Tarvo controllers"));
    QCOMPARE(Control<QPushButton>(w, "btnCheck")->toolTip(), QString("Read controller status"));
    QCOMPARE(Control(w, "imgBanner")->height(), 27);
    QCOMPARE(Control(w, "imgLogo")->size(), QSize(111, 26));
    QCOMPARE(Control(w, "Bevel1")->height(), 1);
    QCOMPARE(Control(w, "Panel1")->height(), 41);
    QCOMPARE(Control(w, "imgLogo")->geometry().right(), w.width() - 1);
    const struct {
      const char* name;
      QList<QKeySequence> keys;
    } actions[] = {
        {"acSelectAll", {QKeySequence("Ctrl+A")}},
        {"acEditVars", {QKeySequence("Alt+Return"), QKeySequence("Return"), QKeySequence("Enter")}},
        {"acSaveToXML", {QKeySequence("Ctrl+S")}},
        {"acLoadFromXML", {QKeySequence("Ctrl+L")}},
        {"acDeleteSelectedVars", {QKeySequence("Del")}},
    };
    for (const auto& a : actions) {
      QVERIFY2(Action(w, a.name) != nullptr, a.name);
      QCOMPARE(Action(w, a.name)->shortcuts(), a.keys);
    }
    QCOMPARE(Action(w, "acEditVars")->text(), QString("Edit"));
    QCOMPARE(Action(w, "acEditVars")->toolTip(), QString("Edit selected variables"));
    QCOMPARE(Control<QPushButton>(w, "Button2")->toolTip(),
             QString("Export values from current table to xml file"));
  }

  void TheSystemTableColumns() {
    TWindowFixture f;
    TVSTView* system = f.Table(0);
    QCOMPARE(Titles(system), TSystemTableModel::Titles());
    // The design widths, widened where the font would cut a title; a variable's column is
    // as wide as its title and 15 pixels, at least 30.
    const QFontMetrics metrics(f.Window->font());
    const auto fitted = [&](int column, int width, const QString& sample = QString()) {
      return std::max(width, std::max(metrics.horizontalAdvance(Titles(system)[column]),
                                      metrics.horizontalAdvance(sample)) +
                                 15);
    };
    const int design[] = {55, 60, 100, 60, 64, 74, 60, 60};
    for (int c = 0; c < 8; ++c) {
      if (c != kColIP) QCOMPARE(system->columnWidth(c), fitted(c, design[c]));
    }
    // The widest address and a clock text fit their columns.
    QCOMPARE(system->columnWidth(kColIP), fitted(kColIP, 100, "255.255.255.255"));
    QCOMPARE(system->columnWidth(kColClock), fitted(kColClock, 120, "0000-00-00  00:00:00"));
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(system->columnWidth(kColFirstScanVar + i), fitted(kColFirstScanVar + i, 30));
    }
    QCOMPARE(system->selectionMode(), QAbstractItemView::NoSelection);
    QCOMPARE(system->focusPolicy(), Qt::NoFocus);
  }

  void TheHeaderDrawsItsCheckBox() {
    TWindowFixture f;
    THeaderView* header = f.Table(0)->Header();
    const auto box = [&] {
      header->viewport()->repaint();
      return header->viewport()->grab().toImage().copy(header->CheckBoxRect());
    };
    const QImage unchecked = box();
    f.AddController(10, "127.0.0.10");
    const QImage checked = box();
    QVERIFY(!header->CheckBoxRect().isEmpty());
    QVERIFY2(checked != unchecked, "the check mark shows");
    QImage blank(unchecked.size(), unchecked.format());
    blank.fill(unchecked.pixel(0, 0));
    QVERIFY2(unchecked != blank, "the box itself shows");
  }

  // ---- tabs from a template ------------------------------------------------------------

  void TabsFromATemplate_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tabs");
    QTest::addColumn<QStringList>("hints");
    QTest::addColumn<QStringList>("firstTabColumns");
    QTest::newRow("no template") << QString() << QStringList{"System"}
                                 << QStringList{"System status"} << QStringList{};
    QTest::newRow("General makes none")
        << "[General]\nVar0=a\n"
        << QStringList{"System"} << QStringList{"System status"} << QStringList{};
    QTest::newRow("general does") << "[general]\nDescription=small g\nVar0=b\n"
                                  << QStringList{"System", "general"}
                                  << QStringList{"System status", "small g"}
                                  << QStringList{"No.", "NAD", "b"};
    QTest::newRow("a gap ends the list")
        << "[Tank]\nVar0=temp\nVar1=levels[3]\nVar3=lost\n"
        << QStringList{"System", "Tank"} << QStringList{"System status", ""}
        << QStringList{"No.", "NAD", "temp", "levels[3]"};
    QTest::newRow("no Var0: only No. and NAD")
        << "[Empty]\nDescription=nothing\nVar1=x\n[Second]\nVar0=y\n"
        << QStringList{"System", "Empty", "Second"} << QStringList{"System status", "nothing", ""}
        << QStringList{"No.", "NAD"};
  }
  void TabsFromATemplate() {
    QFETCH(QString, text);
    QFETCH(QStringList, tabs);
    QFETCH(QStringList, hints);
    QFETCH(QStringList, firstTabColumns);
    TWindowFixture f(text);
    QTabWidget* pages = f.Window->PageControl1();
    QStringList visible, tips;
    for (int p = 0; p < pages->count(); ++p) {
      if (!pages->isTabVisible(p)) continue;
      visible << pages->tabText(p);
      tips << pages->tabToolTip(p);
    }
    QCOMPARE(visible, tabs);
    QCOMPARE(tips, hints);
    QCOMPARE(pages->tabText(1), QString("Variables"));
    QVERIFY(!pages->isTabVisible(1));
    // Keyboard paging passes the hidden template by.
    for (int i = 0; i < pages->count(); ++i) {
      QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
      QVERIFY(pages->currentIndex() != 1);
    }
    pages->setCurrentIndex(0);
    QCOMPARE(pages->currentIndex(), 0);
    if (tabs.size() > 1) QCOMPARE(Titles(f.Table(1)), firstTabColumns);
  }

  void ATabsControlsCarryItsSuffixAndTag() {
    TWindowFixture f("[A]\nVar0=temp\n[B]\nVar0=setpoint\nVar1=a_much_longer_variable_name\n");
    TfmMain& w = *f.Window;
    for (int tab : {1, 2}) {
      for (const char* base : {"vstVariables", "btnRead", "btnWrite", "cbReadEE", "cbWriteEE",
                               "cbWriteAllVars", "Button2", "Button3"}) {
        const QString name = base + QString::number(tab);
        QWidget* control = w.findChild<QWidget*>(name);
        QVERIFY2(control != nullptr, qPrintable(name));
        QCOMPARE(control->property("Tag").toInt(), tab);
        QCOMPARE(control->parentWidget(), w.PageControl1()->widget(tab + 1));
      }
    }
    QCOMPARE(w.findChild<QWidget*>("pgVariablesTemplate2"), w.PageControl1()->widget(3));
    QCOMPARE(f.Records(2).Tag, 2);
    TVSTView* table = f.Table(2);
    QCOMPARE(table->columnWidth(0), 55);
    QCOMPARE(table->columnWidth(1), 60);
    const QFontMetrics metrics(w.font());
    QCOMPARE(table->columnWidth(3), metrics.horizontalAdvance("a_much_longer_variable_name") + 15);
    QCOMPARE(Control<QPushButton>(w, "btnRead2")->toolTip(),
             QString("Read values from controller(s)"));
    QCOMPARE(Control<QCheckBox>(w, "cbWriteAllVars1")->toolTip(),
             QString("Write all variables, deselect to write changed only"));
    QVERIFY(table->actions().contains(Action(w, "acEditVars")));
    QCOMPARE(table->contextMenuPolicy(), Qt::ActionsContextMenu);
  }

  // ---- enabled states ------------------------------------------------------------------

  void ButtonsFollowTheControllers() {
    TWindowFixture f;
    TfmMain& w = *f.Window;
    const char* tabControls[] = {"btnCheck",  "btnWriteRTC", "btnRead1",        "btnWrite1",
                                 "cbReadEE1", "cbWriteEE1",  "cbWriteAllVars1", "Button21",
                                 "Button31",  "btnRead",     "cbReadEE",        "Button2"};
    // The template page's own controls count too, though the page itself stays disabled.
    const auto enabled = [&](const char* name) {
      QWidget* control = Control(w, name);
      return control->isEnabledTo(control->parentWidget());
    };
    for (const char* name : tabControls) QVERIFY2(!enabled(name), name);
    for (const char* name : {"acEditVars", "acSaveToXML", "acLoadFromXML"})
      QVERIFY2(!Action(w, name)->isEnabled(), name);
    for (const char* name : {"acSelectAll", "acDeleteSelectedVars"})
      QVERIFY2(Action(w, name)->isEnabled(), name);
    QVERIFY(Control(w, "btnAutodetect")->isEnabled());
    QVERIFY(f.Table(1)->isEnabled());

    f.AddController(10, "127.0.0.10");
    for (const char* name : tabControls) QVERIFY2(enabled(name), name);
    for (const char* name : {"acEditVars", "acSaveToXML", "acLoadFromXML"})
      QVERIFY2(Action(w, name)->isEnabled(), name);
  }

  void ATabOptionIsTheSameOnEveryTab() {
    TWindowFixture f("[A]\nVar0=temp\n[B]\nVar0=setpoint\n");
    f.AddController(10, "127.0.0.10");
    f.ShowTab(1);
    Control<QCheckBox>(*f.Window, "cbWriteAllVars1")->click();
    for (const char* name : {"cbWriteAllVars", "cbWriteAllVars1", "cbWriteAllVars2"}) {
      QVERIFY2(Control<QCheckBox>(*f.Window, name)->isChecked(), name);
    }
    for (const char* name : {"cbReadEE2", "cbWriteEE2"}) {
      QVERIFY2(!Control<QCheckBox>(*f.Window, name)->isChecked(), name);
    }
    QVERIFY(f.Window->Session().TabOption(TTabOption::toWriteAll));
    f.ShowTab(2);
    Control<QCheckBox>(*f.Window, "cbWriteAllVars2")->click();
    QVERIFY(!Control<QCheckBox>(*f.Window, "cbWriteAllVars1")->isChecked());
    QVERIFY(!f.Window->Session().TabOption(TTabOption::toWriteAll));
  }

  void AnAmpersandInATabNameIsShownAndSuggestedAsItStands() {
    TWindowFixture f("[Tanks & Pumps]\nVar0=temp\n");
    f.AddController(10, "127.0.0.10");
    // Doubled, the "&" is shown as itself instead of underlining a letter.
    QCOMPARE(f.Window->PageControl1()->tabText(2), QString("Tanks && Pumps"));
    f.ShowTab(1);
    QString suggested;
    f.Window->ChooseFile = [&](bool, const QString& name) {
      suggested = name;
      return QString();
    };
    Action(*f.Window, "acSaveToXML")->trigger();
    QCOMPARE(suggested, QString("Tanks & Pumps.xml"));
  }

  // ---- row check boxes -----------------------------------------------------------------

  void ACheckBoxReachesEveryTableAndTheHeaders() {
    TWindowFixture f("[A]\nVar0=temp\n[B]\nVar0=setpoint\n");
    for (int nad : {10, 11, 12}) f.AddController(nad, "127.0.0." + std::to_string(nad));
    f.Records(0).RowByPosition(1)->Tarvo->SetStatusTested(true);
    f.ShowTab(1);
    TVSTView* table = f.Table(1);
    uitest::Click(table->viewport(), table->CheckBoxRect(1).center());
    for (int tab : {0, 1, 2}) {
      QVERIFY(!f.Records(tab).RowByPosition(1)->Checked);
      QVERIFY(f.Records(tab).RowByPosition(0)->Checked);
      QCOMPARE(f.Table(tab)->Header()->CheckState(), Qt::PartiallyChecked);
    }
    QVERIFY2(!f.Records(0).RowByPosition(1)->Tarvo->StatusTested(),
             "an unchecked controller's status disappears");
    // A click beside the box is no click on it.
    uitest::Click(table->viewport(), f.CellPoint(1, 1, kColNo) + QPoint(20, 0));
    QVERIFY(!f.Records(0).RowByPosition(1)->Checked);
    uitest::Click(table->viewport(), table->CheckBoxRect(1).center());
    for (int tab : {0, 1, 2}) QCOMPARE(f.Table(tab)->Header()->CheckState(), Qt::Checked);
  }

  void TheHeaderCheckBoxChecksOrClearsEveryRow() {
    TWindowFixture f;
    for (int nad : {10, 11}) f.AddController(nad, "127.0.0." + std::to_string(nad));
    TTarvo* first = f.Records(0).RowByPosition(0)->Tarvo;
    first->SetStatusTested(true);
    QHeaderView* header = f.Table(0)->horizontalHeader();
    uitest::Click(header->viewport(), f.HeaderPoint(0, kColNo));
    for (int tab : {0, 1}) {
      for (int r = 0; r < 2; ++r) QVERIFY(!f.Records(tab).RowByPosition(r)->Checked);
      QCOMPARE(f.Table(tab)->Header()->CheckState(), Qt::Unchecked);
    }
    QVERIFY2(first->StatusTested(), "the header clears the rows without their status");
    // A double click is two clicks.
    uitest::DoubleClick(header->viewport(), f.HeaderPoint(0, kColNo));
    QCOMPARE(f.Table(1)->Header()->CheckState(), Qt::Unchecked);
    f.ShowTab(1);
    uitest::Click(f.Table(1)->horizontalHeader()->viewport(), f.HeaderPoint(1, kColNo));
    for (int tab : {0, 1}) {
      for (int r = 0; r < 2; ++r) QVERIFY(f.Records(tab).RowByPosition(r)->Checked);
      QCOMPARE(f.Table(tab)->Header()->CheckState(), Qt::Checked);
    }
  }

  // ---- sorting -------------------------------------------------------------------------

  void SortingByNADAndIPWithTheMarks_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QList<int>>("nads");
    QTest::addColumn<int>("systemMark");
    QTest::addColumn<int>("variablesMark");
    // Marks: 0 none, 1 ascending next, 2 descending next.
    // NADs 30, 10, 20 at 127.0.0.5, 127.0.0.200, unreadable.
    QTest::newRow("NAD once") << 0 << kColNAD << 1 << QList<int>{10, 20, 30} << 2 << 2;
    QTest::newRow("NAD twice") << 0 << kColNAD << 2 << QList<int>{30, 20, 10} << 1 << 1;
    QTest::newRow("NAD on a variables tab")
        << 1 << kColNAD << 1 << QList<int>{10, 20, 30} << 2 << 2;
    QTest::newRow("IP once") << 0 << kColIP << 1 << QList<int>{20, 30, 10} << 2 << 0;
    QTest::newRow("IP twice") << 0 << kColIP << 2 << QList<int>{10, 30, 20} << 1 << 0;
    QTest::newRow("column 2 of a variables tab is a value")
        << 1 << kColIP << 1 << QList<int>{30, 10, 20} << 0 << 0;
    QTest::newRow("a light column does not sort")
        << 0 << kColNetwork << 1 << QList<int>{30, 10, 20} << 0 << 0;
  }
  void SortingByNADAndIPWithTheMarks() {
    QFETCH(int, tab);
    QFETCH(int, column);
    QFETCH(int, clicks);
    QFETCH(QList<int>, nads);
    QFETCH(int, systemMark);
    QFETCH(int, variablesMark);
    TWindowFixture f;
    f.AddController(30, "127.0.0.5");
    f.AddController(10, "127.0.0.200");
    f.AddController(20, "not an address");
    f.ShowTab(tab);
    for (int i = 0; i < clicks; ++i) {
      uitest::Click(f.Table(tab)->horizontalHeader()->viewport(), f.HeaderPoint(tab, column));
    }
    const std::vector<int32_t> expected(nads.begin(), nads.end());
    QCOMPARE(f.NADs(0), expected);
    QCOMPARE(f.NADs(1), expected);
    const auto mark = [](THeaderView* header) {
      if (header->sortIndicatorSection() < 0 || !header->isSortIndicatorShown()) return 0;
      return header->sortIndicatorOrder() == Qt::AscendingOrder ? 1 : 2;
    };
    QCOMPARE(mark(f.Table(0)->Header()), systemMark);
    QCOMPARE(mark(f.Table(1)->Header()), variablesMark);
    if (systemMark != 0) QCOMPARE(f.Table(0)->Header()->sortIndicatorSection(), column);
    // The row at each position is the same controller in every table.
    for (int r = 0; r < 3; ++r) {
      QCOMPARE(f.Records(0).RowByPosition(r)->Tarvo, f.Records(1).RowByPosition(r)->Tarvo);
    }
  }

  // ---- the cell selection --------------------------------------------------------------

  void SelectionGestures_data() {
    QTest::addColumn<QString>("gestures");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("current");  // "r,c" of the current cell, "-" for none
    // Gestures, separated by ";": press r c [ctrl] [shift] | drag r c r c [ctrl] |
    // key NAME [shift] | dblclick r c | right r c. Columns 2 to 4 hold cells; column 1 is
    // NAD, row 9 lies below the last row.
    QTest::newRow("press selects one cell") << "press 1 3" << QStringList{"1,3"} << "1,3";
    QTest::newRow("a second press moves it")
        << "press 1 3; press 0 2" << QStringList{"0,2"} << "0,2";
    QTest::newRow("press on NAD clears") << "press 1 3; press 1 1" << QStringList{} << "-";
    QTest::newRow("press below the rows clears") << "press 1 3; press 9 3" << QStringList{} << "-";
    QTest::newRow("ctrl inverts one and keeps others")
        << "press 0 2; press 1 3 ctrl; press 2 4 ctrl; press 1 3 ctrl" << QStringList{"0,2", "2,4"}
        << "1,3";
    QTest::newRow("ctrl on NAD keeps the selection")
        << "press 0 2; press 0 1 ctrl" << QStringList{"0,2"} << "-";
    QTest::newRow("shift selects the rectangle from the anchor")
        << "press 0 2; press 2 3 shift" << QStringList{"0,2", "0,3", "1,2", "1,3", "2,2", "2,3"}
        << "2,3";
    QTest::newRow("shift keeps the anchor") << "press 2 4; press 0 4 shift; press 1 3 shift"
                                            << QStringList{"1,3", "1,4", "2,3", "2,4"} << "1,3";
    QTest::newRow("ctrl shift is shift")
        << "press 0 2; press 1 4 ctrl shift"
        << QStringList{"0,2", "0,3", "0,4", "1,2", "1,3", "1,4"} << "1,4";
    QTest::newRow("drag spans a rectangle")
        << "drag 0 3 2 4" << QStringList{"0,3", "0,4", "1,3", "1,4", "2,3", "2,4"} << "0,3";
    QTest::newRow("drag back shrinks it")
        << "press 2 2; drag 0 2 1 3" << QStringList{"0,2", "0,3", "1,2", "1,3"} << "0,2";
    QTest::newRow("ctrl drag from a selected cell deselects")
        << "drag 0 2 2 4; drag 1 3 2 4 ctrl" << QStringList{"0,2", "0,3", "0,4", "1,2", "2,2"}
        << "1,3";
    QTest::newRow("double click selects the cell once")
        << "dblclick 1 3" << QStringList{"1,3"} << "1,3";
    QTest::newRow("right press keeps the selection")
        << "drag 0 2 1 3; right 2 4" << QStringList{"0,2", "0,3", "1,2", "1,3"} << "0,2";
    QTest::newRow("arrows move and select the cursor cell")
        << "press 0 2; key Right; key Down" << QStringList{"1,3"} << "1,3";
    QTest::newRow("shift arrows add the path") << "press 0 2; key Right shift; key Down shift"
                                               << QStringList{"0,2", "0,3", "1,3"} << "1,3";
    QTest::newRow("at the edge the cursor stays and is selected")
        << "press 0 2; press 1 3 ctrl; key Up; key Up; key Left; key Left" << QStringList{"0,2"}
        << "0,2";
    QTest::newRow("right edge and bottom edge")
        << "press 2 4; key Right; key Down" << QStringList{"2,4"} << "2,4";
    QTest::newRow("select all") << "press 1 3; key Ctrl+A"
                                << QStringList{"0,2", "0,3", "0,4", "1,2", "1,3",
                                               "1,4", "2,2", "2,3", "2,4"}
                                << "1,3";
  }
  void SelectionGestures() {
    QFETCH(QString, gestures);
    QFETCH(QStringList, selected);
    QFETCH(QString, current);
    TWindowFixture f;
    for (int nad : {10, 11, 12}) f.AddController(nad, "127.0.0." + std::to_string(nad));
    f.ShowTab(1);
    TVSTView* view = f.Table(1);
    QWidget* viewport = view->viewport();
    int editsAsked = 0;
    for (QString gesture : gestures.split(';')) {
      const QStringList words = gesture.trimmed().split(' ');
      Qt::KeyboardModifiers keys;
      if (words.contains("ctrl")) keys |= Qt::ControlModifier;
      if (words.contains("shift")) keys |= Qt::ShiftModifier;
      const auto at = [&](int i) {
        const int row = words[i].toInt(), column = words[i + 1].toInt();
        if (row == 9) return QPoint(f.CellPoint(1, 0, column).x(), viewport->height() - 2);
        return f.CellPoint(1, row, column);
      };
      if (words[0] == "press") {
        uitest::Click(viewport, at(1), keys);
      } else if (words[0] == "drag") {
        uitest::Drag(viewport, at(1), at(3), keys);
      } else if (words[0] == "right") {
        uitest::Mouse(viewport, QEvent::MouseButtonPress, at(1), Qt::RightButton, Qt::RightButton);
        uitest::Mouse(viewport, QEvent::MouseButtonRelease, at(1), Qt::RightButton, Qt::NoButton);
      } else if (words[0] == "dblclick") {
        uitest::WhenModal<TfmEditValue>([&](TfmEditValue* d) {
          ++editsAsked;
          d->reject();
        });
        uitest::DoubleClick(viewport, at(1));
      } else if (words[0] == "key") {
        const QKeySequence key(words[1]);
        QTest::keyClick(view, key[0].key(), key[0].keyboardModifiers() | keys);
      }
      // Qt's own current cell is never in column 0.
      QVERIFY(!view->currentIndex().isValid() || view->currentIndex().column() >= kColFirstVar);
    }
    QCOMPARE(Selected(f.Records(1)), selected);
    const TCellSelection& selection = f.Window->Session().Selection;
    const QString currentCell =
        selection.CurrTreeVar ? QString("%1,%2").arg(selection.CurrX).arg(selection.CurrY) : "-";
    if (!gestures.contains("key")) QCOMPARE(currentCell, current);
    if (gestures.startsWith("dblclick")) QCOMPARE(editsAsked, 1);
  }

  void EnterAndDoubleClickEditTheSelectionDelClearsIt() {
    TWindowFixture f;
    for (int nad : {10, 11}) f.AddController(nad, "127.0.0." + std::to_string(nad));
    f.ShowTab(1);
    TVSTView* view = f.Table(1);
    uitest::Drag(view->viewport(), f.CellPoint(1, 0, 2), f.CellPoint(1, 1, 3));
    QString offered;
    uitest::WhenModal<TfmEditValue>([&](TfmEditValue* d) {
      offered = d->edValue()->text();
      QTest::keyClicks(d->edValue(), "21.5");
      d->btnOK()->click();
    });
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(offered, QString());
    for (int r = 0; r < 2; ++r) {
      for (int i = 0; i < 2; ++i) {
        const TTreeVar& cell = *f.Records(1).RowByPosition(r)->Cell(i);
        QCOMPARE(cell.Caption(), std::string("21.5"));
        QVERIFY(cell.AwaitWrite);
      }
    }
    QVERIFY(f.Records(1).RowByPosition(0)->Cell(2)->Caption().empty());
    QCOMPARE(view->model()->data(view->model()->index(1, 3), crTextColour).toInt(),
             int(TTextColour::tcRed));

    // The dialog starts from the current cell's text; Cancel changes nothing.
    uitest::WhenModal<TfmEditValue>([&](TfmEditValue* d) {
      offered = d->edValue()->text();
      d->btnCancel()->click();
    });
    uitest::DoubleClick(view->viewport(), f.CellPoint(1, 1, 2));
    QCOMPARE(offered, QString("21.5"));

    // The window has the keyboard again once the dialog is gone.
    QTRY_COMPARE(QApplication::activeWindow(), f.Window.get());
    uitest::Click(view->viewport(), f.CellPoint(1, 0, 3));
    QTest::keyClick(view, Qt::Key_Delete);
    const TTreeVar& cleared = *f.Records(1).RowByPosition(0)->Cell(1);
    QVERIFY(cleared.Caption().empty());
    QVERIFY(cleared.AwaitWrite);
    QCOMPARE(f.Records(1).RowByPosition(1)->Cell(1)->Caption(), std::string("21.5"));

    // With no current cell Enter does nothing.
    uitest::Click(view->viewport(), f.CellPoint(1, 0, kColNAD));
    bool opened = false;
    uitest::WhenModal<TfmEditValue>([&](TfmEditValue* d) {
      opened = true;
      d->reject();
    });
    QTest::keyClick(view, Qt::Key_Return);
    QTest::qWait(50);
    QVERIFY(!opened);
  }

  void ShowingATabClearsItsSelection() {
    TWindowFixture f;
    f.AddController(10, "127.0.0.10");
    f.ShowTab(1);
    uitest::Click(f.Table(1)->viewport(), f.CellPoint(1, 0, 2));
    QCOMPARE(Selected(f.Records(1)).size(), 1);
    f.ShowTab(0);
    f.ShowTab(1);
    QCOMPARE(Selected(f.Records(1)).size(), 0);
  }

  void TheSystemTableSelectsNothing() {
    TWindowFixture f;
    f.AddController(10, "127.0.0.10");
    uitest::Click(f.Table(0)->viewport(), f.CellPoint(0, 0, kColIP));
    QVERIFY(!f.Table(0)->currentIndex().isValid());
    QVERIFY(f.Table(0)->selectionModel()->selectedIndexes().isEmpty());
  }

  // ---- settings ------------------------------------------------------------------------

  void AFirstStartStoresAllTenValues() {
    TWindowFixture f;
    QVERIFY(!QFile::exists(f.SettingsFile()));
    TSession& s = f.Window->Session();
    QCOMPARE(s.TarvoComm().NoRetires(), 3);
    QCOMPARE(s.TarvoComm().WaitTime(), 200);
    QCOMPARE(f.Window->size(), QSize(869, 548));
    const std::string defaultAdapter = s.TarvoComm().EthAdapter().ID();
    f.Close();
    QSettings stored(f.SettingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.allKeys().size(), 10);
    for (const char* name :
         {"EthernetAdapterID", "DirectConnection", "ExtraRetries", "ExtraTimeout", "Password",
          "Top", "Left", "Width", "Height", "Maximized"}) {
      QVERIFY2(stored.contains(name), name);
    }
    QCOMPARE(stored.value("EthernetAdapterID").toString(), ToQ(defaultAdapter));
    QCOMPARE(stored.value("Width").toInt(), 869);
    QCOMPARE(stored.value("Height").toInt(), 548);
    QCOMPARE(stored.value("Maximized").toInt(), 0);
    QCOMPARE(stored.value("Password").toString(), QString());
  }

  void StoredSettingsComeBack() {
    TWindowFixture f(uitest::kTemplate, false);
    f.Close();
    {
      QSettings stored(f.SettingsFile(), QSettings::IniFormat);
      stored.clear();
      stored.setValue("EthernetAdapterID", "lo");
      stored.setValue("DirectConnection", 1);
      stored.setValue("ExtraRetries", 1);
      stored.setValue("ExtraTimeout", 7);  // any integer but 0 is true
      stored.setValue("Password", "pass word");
      stored.setValue("Left", 40);
      stored.setValue("Top", 30);
      stored.setValue("Width", 700);
      stored.setValue("Height", 500);
      stored.setValue("Maximized", 2);  // only 1 maximizes
    }
    f.Open(uitest::kTemplate, false);
    TSession& s = f.Window->Session();
    QCOMPARE(s.Settings.EthAdapterID, std::string("lo"));
    QVERIFY(s.Settings.DirectConnection);
    QVERIFY(s.Settings.ExtraRetries);
    QVERIFY(s.Settings.ExtraTimeout);
    QCOMPARE(s.Settings.Password, std::string("pass word"));
    QCOMPARE(s.TarvoComm().NoRetires(), 10);
    QCOMPARE(s.TarvoComm().WaitTime(), 1000);
    QCOMPARE(f.Window->geometry(), QRect(40, 30, 700, 500));
    QVERIFY(!(f.Window->windowState() & Qt::WindowMaximized));
    QVERIFY2(!s.TarvoComm().DirectConnection(), "the scan applies the connection kind");
  }

  void MaximizedStoresTheNormalRectangle() {
    TWindowFixture f;
    f.Window->setGeometry(50, 60, 640, 480);
    f.Window->showMaximized();
    QTRY_VERIFY(f.Window->isMaximized());
    f.Close();
    {
      QSettings stored(f.SettingsFile(), QSettings::IniFormat);
      QCOMPARE(stored.value("Maximized").toInt(), 1);
      QCOMPARE(QRect(stored.value("Left").toInt(), stored.value("Top").toInt(),
                     stored.value("Width").toInt(), stored.value("Height").toInt()),
               QRect(50, 60, 640, 480));
    }
    f.Open();
    QTRY_VERIFY(f.Window->isMaximized());
    f.Window->showNormal();
    QTRY_COMPARE(f.Window->geometry(), QRect(50, 60, 640, 480));
  }

  void APlaceOutOfReachComesBackOnScreen() {
    TWindowFixture f(uitest::kTemplate, false);
    f.Close();
    {
      QSettings stored(f.SettingsFile(), QSettings::IniFormat);
      stored.setValue("Left", -30000);
      stored.setValue("Top", 20000);
      stored.setValue("Width", 0);
      stored.setValue("Height", 3);
    }
    f.Open(uitest::kTemplate, false);
    const QRect bounds = f.Window->geometry();
    QVERIFY(bounds.width() >= f.Window->minimumSizeHint().width());
    QVERIFY(bounds.height() >= f.Window->minimumSizeHint().height());
    QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().intersects(bounds));
  }

  void SetupOKAppliesAndStores() {
    TWindowFixture f;
    f.AddController(10, "127.0.0.10");
    TSession& s = f.Window->Session();
    QString offeredAdapter;
    uitest::WhenModal<TfmOptions>([&](TfmOptions* d) {
      offeredAdapter = d->cbEthAdapter()->currentText();
      d->cbEthAdapter()->setCurrentIndex(d->EthAdapters().IndexOf("lo"));
      d->cbExtraRetries()->click();
      d->cbCreateDebugLogs()->click();
      d->edPassword()->setText("open sesame");
      d->btnOK()->click();
    });
    Control<QPushButton>(*f.Window, "btnSetup")->click();
    QCOMPARE(s.Settings.EthAdapterID, std::string("lo"));
    QCOMPARE(s.Settings.Password, std::string("open sesame"));
    QVERIFY(s.Settings.ExtraRetries);
    QCOMPARE(s.TarvoComm().NoRetires(), 10);
    QCOMPARE(s.TarvoComm().WaitTime(), 200);
    QCOMPARE(s.TarvoComm().EthAdapter().ID(), std::string("lo"));
    QVERIFY(s.TarvoComm().LogToFile());
    TTarvo& tarvo = *s.TarvoList().Items(0);
    QCOMPARE(tarvo.EthAdapterID(), std::string("lo"));
    QVERIFY(tarvo.Comm()->LogToFile());
    // Written at once, not only at exit.
    QSettings stored(f.SettingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("Password").toString(), QString("open sesame"));
    QCOMPARE(stored.value("ExtraRetries").toInt(), 1);
    QCOMPARE(stored.value("EthernetAdapterID").toString(), QString("lo"));
  }

  void ADebugLogThatCannotBeWrittenIsInTheStatusLineOnce() {
    TWindowFixture f;
    // Beneath a plain file the log cannot be opened, whoever runs the test.
    const QString blocker = fLogs.filePath("plain-file");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString path = blocker + "/q-link.log";
    SetLogFilePath(path.toStdString());
    uitest::WhenModal<TfmOptions>([&](TfmOptions* d) {
      QCOMPARE(d->lblDebugLogFile()->toolTip(), path);
      d->cbCreateDebugLogs()->click();
      d->btnOK()->click();
    });
    Control<QPushButton>(*f.Window, "btnSetup")->click();
    QVERIFY2(f.Window->StatusText().startsWith("Cannot write the debug log " + path + ": "),
             qPrintable(f.Window->StatusText()));

    // The frames of the next workflow fail to be logged too; that is not news.
    f.Window->WorkflowChanged(TWorkflow::wfScan);
    QVERIFY(!AppendToLogFile("a frame\r\n"));
    f.Window->WorkflowChanged(TWorkflow::wfNone);
    QVERIFY2(!f.Window->StatusText().contains("debug log"), qPrintable(f.Window->StatusText()));
    SetLogFilePath(fLogs.filePath("q-link.log").toStdString());
  }

  void SetupCancelChangesNothingButStores() {
    TWindowFixture f;
    f.AddController(10, "127.0.0.10");
    TSession& s = f.Window->Session();
    uitest::WhenModal<TfmOptions>([&](TfmOptions* d) {
      d->cbCreateDebugLogs()->click();
      d->cbExtraTimeout()->click();
      d->edPassword()->setText("not taken");
      d->btnCancel()->click();
    });
    Control<QPushButton>(*f.Window, "btnSetup")->click();
    QCOMPARE(s.Settings.Password, std::string());
    QVERIFY(!s.Settings.ExtraTimeout);
    QCOMPARE(s.TarvoComm().WaitTime(), 200);
    QVERIFY(!s.TarvoComm().LogToFile());
    // The ticked box of a cancelled dialog turns no logging on later either.
    s.ApplySettings(*s.TarvoList().Items(0));
    QVERIFY(!s.TarvoList().Items(0)->Comm()->LogToFile());
    QSettings stored(f.SettingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.allKeys().size(), 10);
    QCOMPARE(stored.value("ExtraTimeout").toInt(), 0);
  }

  void SetupKeepsAStoredAdapterThatIsNotPresentWhenSomethingElseChanges() {
    TWindowFixture f;
    TSession& s = f.Window->Session();
    s.TarvoComm().EthAdapter().SetByID("lo");
    s.Settings.EthAdapterID = "eth7";
    QString shown;
    uitest::WhenModal<TfmOptions>([&](TfmOptions* d) {
      shown = d->cbEthAdapter()->currentText();
      d->edPassword()->setText("new password");
      d->btnOK()->click();
    });
    Control<QPushButton>(*f.Window, "btnSetup")->click();
    QCOMPARE(shown, QString("eth7 (not present)"));
    QCOMPARE(s.Settings.EthAdapterID, std::string("eth7"));
    QCOMPARE(s.Settings.Password, std::string("new password"));
    // Until it is there again, the communicator keeps the adapter it has.
    QCOMPARE(s.TarvoComm().EthAdapter().ID(), std::string("lo"));
    QSettings stored(f.SettingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("EthernetAdapterID").toString(), QString("eth7"));
  }

  // ---- nothing lost without asking -------------------------------------------------------

  void ClosingAsksBeforeValuesAwaitingWritingAreLost() {
    TWindowFixture f;
    for (int nad : {10, 11}) f.AddController(nad, "127.0.0." + std::to_string(nad));
    for (int r : {0, 1}) {
      TTreeVar& cell = *f.Records(1).RowByPosition(r)->Cell(1);
      cell.SetCaption("7");
      cell.AwaitWrite = true;
    }
    QString question;
    uitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
      question = box->text();
      QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
      box->button(QMessageBox::Cancel)->click();
    });
    Control<QPushButton>(*f.Window, "btnClose")->click();
    QCOMPARE(question, QString("2 values on 1 tab are not written. Discard them?"));
    QVERIFY(f.Window->isVisible());
    QCOMPARE(f.Records(1).RowByPosition(1)->Cell(1)->Caption(), std::string("7"));

    uitest::WhenModal<QMessageBox>(
        [&](QMessageBox* box) { box->button(QMessageBox::Discard)->click(); });
    Control<QPushButton>(*f.Window, "btnClose")->click();
    QTRY_VERIFY(!f.Window->isVisible());
  }

  void ASignalClosesWithoutAsking() {
    TWindowFixture f;
    f.AddController(10, "127.0.0.10");
    TTreeVar& cell = *f.Records(1).RowByPosition(0)->Cell(0);
    cell.SetCaption("7");
    cell.AwaitWrite = true;
    bool asked = false;
    uitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
      asked = true;
      box->button(QMessageBox::Cancel)->click();
    });
    f.Window->RequestClose();
    QTRY_VERIFY(!f.Window->isVisible());
    QTest::qWait(50);
    QVERIFY(!asked);

    // Nor does a signal wait for a question the user has not answered yet.
    f.Open();
    f.AddController(10, "127.0.0.10");
    f.Records(1).RowByPosition(0)->Cell(0)->SetCaption("8");
    f.Records(1).RowByPosition(0)->Cell(0)->AwaitWrite = true;
    uitest::WhenModal<QMessageBox>([&](QMessageBox*) { f.Window->RequestClose(); });
    Control<QPushButton>(*f.Window, "btnClose")->click();
    QTRY_VERIFY(!f.Window->isVisible());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  void ImportNamesWhatItLeftOutInTheStatusLine() {
    TWindowFixture f;
    f.AddController(10, "127.0.0.10");
    f.ShowTab(1);
    QFile file(f.Path("values.xml"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "<?xml version=\"1.0\"?>\n<data>\n"
        "<var><name>c10.temp</name><value>5</value></var>\n"
        "<var><name>c99.temp</name><value>1</value></var>\n"
        "<var><name>c10.<b>x</b></name><value>2</value></var>\n"
        "<var><name>c10.nosuch</name><value>1</value></var>\n"
        "<var><name>c10.setpoint</name><value></value></var>\n"
        "<var><name>c10.levels[3]</name><value>8</value></var>\n"
        "</data>\n");
    file.close();
    f.Window->ChooseFile = [&](bool, const QString&) { return file.fileName(); };
    QTest::keyClick(f.Table(1), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(f.Records(1).RowByPosition(0)->Cell(2)->Caption(), std::string("8"));
    QCOMPARE(f.Window->StatusText(),
             QString("2 values imported, 4 left out: line 4: c99.temp: no controller with NAD 99 "
                     "in the table; line 5: the name or value is not plain text; line 6: "
                     "c10.nosuch: the tab has no column nosuch; and 1 more"));
    const QString hint = Control<QLabel>(*f.Window, "lblStatus")->toolTip();
    QVERIFY2(hint.endsWith("\nline 7: c10.setpoint: no value"), qPrintable(hint));
  }

  void TheUsersOwnStoreLiesUnderXdgConfigHome() {
    const QString file =
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("Morvane/Kestrum.conf");
    QFile::remove(file);
    { TfmMain window{QString()}; }
    QSettings stored(file, QSettings::IniFormat);
    QCOMPARE(stored.allKeys().size(), 10);
  }
};

VARNEL_QTEST_MAIN(fMainTest)
#include "fMain_test.moc"
