// The session's table logic that needs no controller: row check boxes across tables, the
// header check boxes, sorting, what the cells show, the tab options, the value files and
// the settings with the Setup dialog's OK.
#include "workflows/uSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "workflow_support.h"
#include "workflows/uTableDisplay.h"

namespace {

using wftest::TRecorder;

class TablesTest : public ::testing::Test {
 protected:
  TablesTest() : session_(recorder_) {
    tab_ = session_.AddVSTTab("Pumps", "Pump values", {"temp_set", "levels[3]"});
    // Added in the order 30, 10, 20; their addresses sort 20, 30, 10.
    Add(30, "127.0.0.3");
    Add(10, "127.0.0.20");
    Add(20, "127.0.0.1");
  }

  TTarvo* Add(uint32_t nad, const std::string& ip) {
    auto tarvo = std::make_unique<TTarvo>(static_cast<int32_t>(nad));
    tarvo->SetIP(ip);
    TTarvo* added = tarvo.get();
    session_.AddController(std::move(tarvo));
    return added;
  }

  TVSTTable& System() { return session_.SystemTable(); }
  TVSTTable& Vars() { return session_.VSTTabList().Items(tab_)->vstTable(); }
  std::vector<uint32_t> NADs(TVSTTable& table) {
    std::vector<uint32_t> nads;
    for (const auto& row : table.Rows()) nads.push_back(static_cast<uint32_t>(row->Tarvo->NAD()));
    return nads;
  }
  std::vector<bool> Checks(TVSTTable& table) {
    std::vector<bool> checks;
    for (const auto& row : table.Rows()) checks.push_back(row->Checked);
    return checks;
  }

  TRecorder recorder_;
  TSession session_;
  int tab_ = 0;
};

TEST_F(TablesTest, ARowCheckBoxReachesTheSamePositionInEveryTable) {
  for (TTarvo* t : session_.TarvoList().List()) t->SetStatusTested(true);

  session_.SetRowChecked(Vars(), 1, false);
  EXPECT_EQ(Checks(System()), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(Checks(Vars()), (std::vector<bool>{true, false, true}));
  EXPECT_FALSE(System().RowByPosition(1)->Tarvo->StatusTested()) << "unchecking forgets status";
  EXPECT_TRUE(System().RowByPosition(0)->Tarvo->StatusTested());
  EXPECT_EQ(System().HeaderCheckState, TCheckState::csMixed);
  EXPECT_EQ(Vars().HeaderCheckState, TCheckState::csMixed);

  session_.SetRowChecked(System(), 1, true);
  EXPECT_EQ(Checks(Vars()), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(Vars().HeaderCheckState, TCheckState::csChecked);
  EXPECT_FALSE(System().RowByPosition(1)->Tarvo->StatusTested()) << "checking does not restore it";
}

TEST_F(TablesTest, TheHeaderCheckBoxChecksAllRowsFromMixedAndClearsThemFromChecked) {
  for (TTarvo* t : session_.TarvoList().List()) t->SetStatusTested(true);
  session_.SetRowChecked(System(), 0, false);
  System().RowByPosition(0)->Tarvo->SetStatusTested(true);

  session_.HeaderClicked(Vars(), kColNo);
  EXPECT_EQ(Checks(System()), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(System().HeaderCheckState, TCheckState::csChecked);

  session_.HeaderClicked(System(), kColNo);
  EXPECT_EQ(Checks(Vars()), (std::vector<bool>{false, false, false}));
  EXPECT_EQ(Vars().HeaderCheckState, TCheckState::csUnchecked);
  for (TTarvo* t : session_.TarvoList().List()) {
    EXPECT_TRUE(t->StatusTested()) << "the header leaves the status shown";
  }
}

TEST_F(TablesTest, SortingByNADOrIPKeepsEveryTableInOneOrder) {
  session_.SetRowChecked(System(), 0, false);  // NAD 30 travels with its check box

  session_.HeaderClicked(Vars(), kColNAD);
  EXPECT_EQ(NADs(System()), (std::vector<uint32_t>{10, 20, 30}));
  EXPECT_EQ(NADs(Vars()), (std::vector<uint32_t>{10, 20, 30}));
  EXPECT_EQ(Checks(Vars()), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(Vars().SortColumn, kColNAD);
  EXPECT_EQ(Vars().SortDirection, TSortDirection::sdDescending) << "the mark shows the next sort";

  session_.HeaderClicked(System(), kColNAD);
  EXPECT_EQ(NADs(Vars()), (std::vector<uint32_t>{30, 20, 10}));
  EXPECT_EQ(System().SortDirection, TSortDirection::sdAscending);

  session_.HeaderClicked(Vars(), kColIP);  // a variable column there: no sort
  EXPECT_EQ(NADs(Vars()), (std::vector<uint32_t>{30, 20, 10}));

  session_.HeaderClicked(System(), kColIP);  // a new column starts ascending
  EXPECT_EQ(NADs(System()), (std::vector<uint32_t>{20, 30, 10}));
  EXPECT_EQ(NADs(Vars()), (std::vector<uint32_t>{20, 30, 10}));
  EXPECT_EQ(Vars().SortColumn, -1);
  EXPECT_EQ(Checks(System()), (std::vector<bool>{true, false, true}));
}

TEST_F(TablesTest, TheDiscoveryAddressNeverBecomesARow) {
  EXPECT_EQ(session_.AddController(std::make_unique<TTarvo>(0)), -1);
  EXPECT_EQ(System().RowCount(), 3);
  EXPECT_EQ(session_.AddController(std::make_unique<TTarvo>(40)), 3);
  EXPECT_EQ(Vars().RowCount(), 4);
}

TEST_F(TablesTest, NADsSortAsUnsignedNumbersAndABadAddressAsZero) {
  Add(3000000000u, "not an address");
  Add(5, "127.0.0.9");
  session_.SortTables(kColNAD);
  EXPECT_EQ(NADs(Vars()), (std::vector<uint32_t>{5, 10, 20, 30, 3000000000u}));
  EXPECT_EQ(SystemCellLook(session_, 4, kColNAD).Text, "3000000000");
  EXPECT_EQ(VariablesCellLook(Vars(), 4, kColNAD).Text, "3000000000");
  session_.SortTables(kColIP);
  EXPECT_EQ(NADs(Vars()).front(), 3000000000u);
}

TEST_F(TablesTest, TheSystemTableShowsEachStepOnceTheCheckHasPassedIt) {
  TTarvo& first = *System().RowByPosition(0)->Tarvo;  // position 0
  // Lights of a controller that answers but has no program.
  session_.ShowSystemStatus = true;
  first.SetStatusTested(true);
  first.SetRTCString("2012-03-03  19:00:04");
  System().RowByPosition(0)->Cell(0)->SetCaption("1000");

  struct Case {
    const char* what;
    int currentTest;
    bool rtcUpdate;
    int column;
    TLed led;
    const char* text;
    bool marker;
  } cases[] = {
      {"the step under way is red, not yet lit", 0, false, kColNetwork, TLed::ldNone, "", true},
      {"a passed step is lit", 1, false, kColNetwork, TLed::ldRed, "", false},
      {"a later step is not", 1, false, kColNetwork + 1, TLed::ldNone, "", true},
      {"scan value under way", 5, false, kColFirstScanVar, TLed::ldNone, "", true},
      {"scan value passed", 6, false, kColFirstScanVar, TLed::ldNone, "1000", false},
      {"the clock shows while its step runs", 9, false, kColClock, TLed::ldNone,
       "2012-03-03  19:00:04", true},
      {"after the run everything", -1, false, kColNetwork + 4, TLed::ldRed, "", false},
      {"a clock write shows everything", 19, true, kColFirstScanVar, TLed::ldNone, "1000", false},
      {"position and NAD always", 0, false, kColNAD, TLed::ldNone, "30", false},
      {"", 0, false, kColNo, TLed::ldNone, "1.", false},
      {"", 0, false, kColIP, TLed::ldNone, "127.0.0.3", false},
  };
  for (const Case& c : cases) {
    session_.CurrentTest = c.currentTest;
    session_.ShowRTCUpdate = c.rtcUpdate;
    const TCellLook look = SystemCellLook(session_, 0, c.column);
    EXPECT_EQ(look.Led, c.led) << c.what;
    EXPECT_EQ(look.Text, c.text) << c.what;
    EXPECT_EQ(look.Background == TCellBackground::cbRed, c.marker) << c.what;
  }

  session_.CurrentTest = -1;
  session_.ShowRTCUpdate = false;
  session_.SetRowChecked(System(), 0, false);
  EXPECT_EQ(SystemCellLook(session_, 0, kColNetwork).Led, TLed::ldNone) << "unchecked: blank";
  // The check reaches an unchecked row's first position between the rows around it.
  session_.CurrentTest = 0;
  EXPECT_EQ(SystemCellLook(session_, 0, kColNetwork).Background, TCellBackground::cbNone)
      << "no marker on an unchecked row";
  EXPECT_EQ(SystemCellLook(session_, 0, kColClock).Text, "");
  EXPECT_EQ(SystemCellLook(session_, 0, kColNAD).TextColour, TTextColour::tcGrey);
  session_.ShowSystemStatus = false;
  first.SetStatusTested(true);
  EXPECT_EQ(SystemCellLook(session_, 0, kColClock).Text, "") << "status display off";
}

TEST_F(TablesTest, VariablesCellsShowTheirFlags) {
  TTreeVar& cell = *Vars().RowByPosition(0)->Cell(1);
  cell.SetCaption("5");
  cell.Description = "Tank level";
  struct Case {
    bool selected, awaitWrite, updating, checked;
    TTextColour colour;
    TCellBackground background;
  } cases[] = {
      {false, false, false, true, TTextColour::tcNormal, TCellBackground::cbNone},
      {true, false, false, true, TTextColour::tcHighlight, TCellBackground::cbHighlight},
      {true, true, false, true, TTextColour::tcRed, TCellBackground::cbHighlight},
      {true, true, true, true, TTextColour::tcRed, TCellBackground::cbRed},
      {true, true, true, false, TTextColour::tcGrey, TCellBackground::cbRed},
  };
  for (const Case& c : cases) {
    cell.Selected = c.selected;
    cell.AwaitWrite = c.awaitWrite;
    cell.Updating = c.updating;
    Vars().RowByPosition(0)->Checked = c.checked;
    const TCellLook look = VariablesCellLook(Vars(), 0, kColFirstVar + 1);
    EXPECT_EQ(look.Text, "5");
    EXPECT_EQ(look.Hint, "Tank level");
    EXPECT_EQ(look.TextColour, c.colour);
    EXPECT_EQ(look.Background, c.background);
  }
  EXPECT_EQ(VariablesCellLook(Vars(), 2, kColNo).Text, "3.");
}

TEST_F(TablesTest, ATabOptionClickedAnywhereReachesEveryTabOnce) {
  struct OptionRecorder : TRecorder {
    TSession* session = nullptr;
    std::vector<std::pair<TTabOption, bool>> changes;
    void TabOptionChanged(TTabOption option, bool checked) override {
      changes.push_back({option, checked});
      // Setting the other boxes fires the same handler: it must end at once.
      session->CheckBoxClicked(option, checked);
      session->CheckBoxClicked(TTabOption::toReadEE, !checked);
    }
  } recorder;
  TSession session(recorder);
  recorder.session = &session;
  session.CheckBoxClicked(TTabOption::toWriteAll, true);
  EXPECT_TRUE(session.TabOption(TTabOption::toWriteAll));
  EXPECT_FALSE(session.TabOption(TTabOption::toReadEE));
  EXPECT_FALSE(session.UpdatingCheckBoxes);
  ASSERT_EQ(recorder.changes.size(), 1u);
  session.CheckBoxClicked(TTabOption::toReadEE, true);
  EXPECT_TRUE(session.TabOption(TTabOption::toReadEE));
  EXPECT_TRUE(session.TabOption(TTabOption::toWriteAll));
}

// ---- value files -------------------------------------------------------------------------

class ValueFileTest : public TablesTest {
 protected:
  ~ValueFileTest() override { std::filesystem::remove(path_); }
  std::string ReadFile() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  TTreeVar& Cell(int position, int index) { return *Vars().RowByPosition(position)->Cell(index); }

  std::string path_ = (std::filesystem::temp_directory_path() /
                       ("workflows_values_" + std::to_string(::getpid()) + ".xml"))
                          .string();
};

TEST_F(ValueFileTest, ExportWritesEveryKnownValueInTableOrderAndImportBringsThemBack) {
  session_.SortTables(kColNAD);  // 10, 20, 30
  Cell(0, 0).SetCaption("5");
  Cell(0, 1).SetCaption("?");
  Cell(1, 1).SetCaption("-3.5");
  Cell(2, 0).SetCaption("7");
  session_.SetRowChecked(Vars(), 2, false);  // unchecked rows are exported too
  ASSERT_EQ(session_.ExportToXML(path_, tab_), TWorkflowResult::wrDone);
  EXPECT_EQ(ReadFile(),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n"
            "<var><name>c10.temp_set</name><value>5</value></var>\r\n"
            "<var><name>c20.levels[3]</name><value>-3.5</value></var>\r\n"
            "<var><name>c30.temp_set</name><value>7</value></var>\r\n</data>\r\n");

  for (const auto& row : Vars().Rows()) {
    for (const auto& cell : row->Cells) cell->SetCaption("");
  }
  ASSERT_EQ(session_.ImportFromXML(path_, tab_), TWorkflowResult::wrDone);
  EXPECT_EQ(Cell(0, 0).Caption(), "5");
  EXPECT_TRUE(Cell(0, 0).AwaitWrite);
  EXPECT_EQ(Cell(1, 1).Caption(), "-3.5");
  EXPECT_EQ(Cell(2, 0).Caption(), "7");
  EXPECT_EQ(Cell(0, 1).Caption(), "");
  EXPECT_FALSE(Cell(0, 1).AwaitWrite);
}

TEST_F(ValueFileTest, ImportMatchesColumnsWithoutRegardToCaseAndIndexesAsNumbers) {
  session_.SortTables(kColNAD);
  session_.AddVSTTab("Upper", "", {"TEMP_SET", "levels[03]"});
  const int upper = session_.VSTTabList().Count() - 1;
  WriteFile(
      "<?xml version=\"1.0\"?>\n<data>\n"
      "<var><name>c10.temp_set</name><value>5</value></var>\n"
      "<var><name> c20.levels[03] </name><value> 8 </value></var>\n"
      "<var><name>c99.temp_set</name><value>1</value></var>\n"
      "<var><name>c30.nosuch</name><value>1</value></var>\n"
      "<var><name>c30.temp_set</name><value></value></var>\n"
      "<!-- ignored --><other/>\n</data>\n");
  ASSERT_EQ(session_.ImportFromXML(path_, tab_), TWorkflowResult::wrDone);
  EXPECT_EQ(Cell(0, 0).Caption(), "5");
  EXPECT_EQ(Cell(1, 1).Caption(), "8") << "levels[03] fills levels[3]";
  EXPECT_TRUE(Cell(1, 1).AwaitWrite);
  EXPECT_EQ(Cell(2, 0).Caption(), "");
  EXPECT_FALSE(Cell(2, 0).AwaitWrite);

  ASSERT_EQ(session_.ImportFromXML(path_, upper), TWorkflowResult::wrDone);
  TVSTTable& other = session_.VSTTabList().Items(upper)->vstTable();
  EXPECT_EQ(other.RowByPosition(0)->Cell(0)->Caption(), "5") << "temp_set fills TEMP_SET";
  EXPECT_EQ(other.RowByPosition(1)->Cell(1)->Caption(), "")
      << "a template name written levels[03] is not found again";
}

TEST_F(ValueFileTest, ImportNamesWhatItLeftOutAndGoesOnPastAnEntryItCannotRead) {
  session_.SortTables(kColNAD);  // 10, 20, 30
  WriteFile(
      "<?xml version=\"1.0\"?>\n<data>\n"
      "<var><name>c10.temp_set</name><value>5</value></var>\n"    // 3: taken
      "<var><name>c99.temp_set</name><value>1</value></var>\n"    // 4: no row of NAD 99
      "<var><name>c20.<b>x</b></name><value>2</value></var>\n"    // 5: markup
      "<var><name>c30.nosuch[02]</name><value>1</value></var>\n"  // 6: no such column
      "<var><name>c30.temp_set</name><value> </value></var>\n"    // 7: no value
      "<var><value>3</value></var>\n"                             // 8: no name
      "<var><name>temp_set</name><value>3</value></var>\n"        // 9: no full name
      "<var><name>c20.levels[3]</name><value>8</value></var>\n"   // 10: taken after them all
      "</data>\n");
  ASSERT_EQ(session_.ImportFromXML(path_, tab_), TWorkflowResult::wrDone);
  EXPECT_EQ(Cell(0, 0).Caption(), "5");
  EXPECT_EQ(Cell(1, 1).Caption(), "8");
  ASSERT_EQ(recorder_.ImportReports.size(), 1u);
  const TImportReport& report = recorder_.ImportReports[0];
  EXPECT_EQ(report.Taken, 2);
  struct Expect {
    TImportSkipKind kind;
    int line;
    uint32_t nad;
    const char* name;
  } expected[] = {
      {TImportSkipKind::isNoRow, 4, 99, "temp_set"},
      {TImportSkipKind::isMarkup, 5, 0, ""},
      {TImportSkipKind::isNoColumn, 6, 30, "nosuch[2]"},
      {TImportSkipKind::isEmptyValue, 7, 0, "c30.temp_set"},
      {TImportSkipKind::isEmptyName, 8, 0, ""},
      {TImportSkipKind::isNoFullName, 9, 0, "temp_set"},
  };
  ASSERT_EQ(report.Skipped.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(report.Skipped[i].Kind, expected[i].kind);
    EXPECT_EQ(report.Skipped[i].Line, expected[i].line);
    EXPECT_EQ(static_cast<uint32_t>(report.Skipped[i].NAD), expected[i].nad);
    EXPECT_EQ(report.Skipped[i].Name, expected[i].name);
  }

  // A file the tab takes whole says nothing.
  WriteFile("<data><var><name>c30.temp_set</name><value>4</value></var></data>");
  ASSERT_EQ(session_.ImportFromXML(path_, tab_), TWorkflowResult::wrDone);
  EXPECT_EQ(recorder_.ImportReports.size(), 1u);
}

TEST_F(TablesTest, UnwrittenCellsCountValuesAWriteWouldSendAndTheirTabs) {
  const int second = session_.AddVSTTab("Alarms", "", {"flag", "limit"});
  TVSTTable& alarms = session_.VSTTabList().Items(second)->vstTable();
  EXPECT_EQ(session_.UnwrittenCells().Values, 0);
  const auto set = [](TTreeVar& cell, const char* text, bool await) {
    cell.SetCaption(text);
    cell.AwaitWrite = await;
  };
  set(*Vars().RowByPosition(0)->Cell(0), "1", true);
  set(*Vars().RowByPosition(2)->Cell(1), "2", true);
  set(*Vars().RowByPosition(1)->Cell(0), "3", false);  // read, not edited
  set(*alarms.RowByPosition(1)->Cell(1), "4", true);
  set(*alarms.RowByPosition(2)->Cell(0), "", true);  // cleared: nothing to write
  const TUnwrittenCells unwritten = session_.UnwrittenCells();
  EXPECT_EQ(unwritten.Values, 3);
  EXPECT_EQ(unwritten.Tabs, 2);
  alarms.RowByPosition(1)->Cell(1)->AwaitWrite = false;
  EXPECT_EQ(session_.UnwrittenCells().Tabs, 1);
}

TEST_F(ValueFileTest, OnlyTheFirstRowOfANADIsFilled) {
  Add(10, "127.0.0.21");  // position 3: NAD 10 again
  WriteFile("<data><var><name>c10.temp_set</name><value>4</value></var></data>");
  ASSERT_EQ(session_.ImportFromXML(path_, tab_), TWorkflowResult::wrDone);
  EXPECT_EQ(Cell(1, 0).Caption(), "4");
  EXPECT_EQ(Cell(3, 0).Caption(), "");
}

TEST_F(ValueFileTest, AFileThatIsNoXmlChangesNothingAndSaysSo) {
  Cell(0, 0).SetCaption("1");
  struct Case {
    const char* what;
    const char* text;
    const char* message;
  } cases[] = {
      {"not well-formed", "<data><var><name>c30.temp_set</name><value>5</value></var>",
       "Error parsing XML file."},
      {"another root", "<Data><var><name>c30.temp_set</name><value>5</value></var></Data>",
       nullptr},
  };
  for (const Case& c : cases) {
    recorder_.Messages.clear();
    WriteFile(c.text);
    const TWorkflowResult result = session_.ImportFromXML(path_, tab_);
    EXPECT_EQ(result, c.message ? TWorkflowResult::wrFailed : TWorkflowResult::wrDone) << c.what;
    EXPECT_EQ(Cell(0, 0).Caption(), "1") << c.what;
    EXPECT_FALSE(Cell(0, 0).AwaitWrite) << c.what;
    if (c.message) {
      EXPECT_EQ(recorder_.Messages, std::vector<std::string>{c.message}) << c.what;
    } else {
      EXPECT_TRUE(recorder_.Messages.empty()) << c.what;
    }
  }
  EXPECT_EQ(session_.ImportFromXML("/nonexistent/values.xml", tab_), TWorkflowResult::wrFailed);
  EXPECT_EQ(session_.ExportToXML("/nonexistent/values.xml", tab_), TWorkflowResult::wrFailed);
  EXPECT_EQ(recorder_.Messages.size(), 2u);
  EXPECT_EQ(session_.ExportToXML(path_, 0), TWorkflowResult::wrRefused) << "not the System tab";
}

// ---- settings ----------------------------------------------------------------------------

TEST(Settings, FirstStartKeepsTheDefaultsAndTheFirstSaveStoresAllTenValues) {
  TRecorder recorder;
  TSession session(recorder);
  TMemorySettingsStore store;
  TWindowPlacement placement;
  session.LoadSettings(store, placement);
  EXPECT_EQ(session.Settings.EthAdapterID, "");
  EXPECT_FALSE(session.Settings.DirectConnection);
  EXPECT_EQ(session.TarvoComm().NoRetires(), 3);
  EXPECT_EQ(session.TarvoComm().WaitTime(), 200);
  EXPECT_FALSE(placement.Top.has_value());

  placement = {100, 50, 869, 548, true};
  session.SaveSettings(store, placement);
  EXPECT_EQ(store.Strings.size() + store.Integers.size(), 10u);
  EXPECT_EQ(store.Strings.at("EthernetAdapterID"), session.TarvoComm().EthAdapter().ID());
  EXPECT_EQ(store.Integers.at("Maximized"), 1);
  EXPECT_EQ(store.Integers.at("Width"), 869);
}

TEST(Settings, RoundTripAndTheDerivedCommunicatorValues) {
  TRecorder recorder;
  TSession saved(recorder);
  saved.Settings = {"lo", true, true, true, "secret", true};
  TMemorySettingsStore store;
  saved.SaveSettings(store, {10, 20, 300, 400, false});

  TSession loaded(recorder);
  TWindowPlacement placement;
  loaded.LoadSettings(store, placement);
  EXPECT_EQ(loaded.Settings.EthAdapterID, "lo");
  EXPECT_TRUE(loaded.Settings.DirectConnection);
  EXPECT_TRUE(loaded.Settings.ExtraRetries);
  EXPECT_TRUE(loaded.Settings.ExtraTimeout);
  EXPECT_EQ(loaded.Settings.Password, "secret");
  EXPECT_FALSE(loaded.Settings.CreateDebugLogs) << "the debug log is never stored";
  EXPECT_EQ(loaded.TarvoComm().NoRetires(), 10);
  EXPECT_EQ(loaded.TarvoComm().WaitTime(), 1000);
  EXPECT_EQ(loaded.Settings.ScanTimeout(), 4000);
  EXPECT_EQ(placement.Top, 10);
  EXPECT_EQ(placement.Left, 20);
  EXPECT_EQ(placement.Width, 300);
  EXPECT_EQ(placement.Height, 400);
  EXPECT_FALSE(placement.Maximized);

  // A Boolean is true when not 0; "Maximized" only when exactly 1.
  store.Integers["ExtraRetries"] = 2;
  store.Integers["Maximized"] = 2;
  loaded.LoadSettings(store, placement);
  EXPECT_TRUE(loaded.Settings.ExtraRetries);
  EXPECT_FALSE(placement.Maximized);
}

TEST(Settings, SetupOKReachesTheScanningCommunicatorAndEveryController) {
  TRecorder recorder;
  TSession session(recorder);
  for (int32_t nad : {10, 11}) session.AddController(std::make_unique<TTarvo>(nad));

  TSettings values = session.SetupValues();
  EXPECT_EQ(values.EthAdapterID, session.TarvoComm().EthAdapter().ID());
  values.EthAdapterID = "lo";
  values.DirectConnection = true;
  values.ExtraRetries = true;
  values.CreateDebugLogs = true;
  values.Password = "pw";
  ASSERT_TRUE(session.AcceptSetup(values));

  EXPECT_EQ(session.TarvoComm().EthAdapter().ID(), "lo");
  EXPECT_TRUE(session.TarvoComm().DirectConnection());
  EXPECT_TRUE(session.TarvoComm().LogToFile());
  EXPECT_EQ(session.TarvoComm().NoRetires(), 10);
  EXPECT_EQ(session.TarvoComm().WaitTime(), 200);
  for (TTarvo* t : session.TarvoList().List()) {
    EXPECT_TRUE(t->DirectConnection());
    EXPECT_EQ(t->EthAdapterID(), "lo");
    EXPECT_TRUE(t->Comm()->LogToFile());
  }
  const TCommSettings handed = session.CommSettings();
  EXPECT_EQ(handed.Password, "pw");
  EXPECT_TRUE(handed.LogToFile);
  EXPECT_EQ(handed.NoRetires, 10);

  // An adapter that is not there: the communicator keeps its own; the ID is stored as given.
  values.EthAdapterID = "no-such-adapter";
  session.AcceptSetup(values);
  EXPECT_EQ(session.TarvoComm().EthAdapter().ID(), "lo");
  TMemorySettingsStore store;
  session.SaveSettings(store, {});
  EXPECT_EQ(store.Strings.at("EthernetAdapterID"), "no-such-adapter");
}

TEST(Settings, SetupStartsFromTheStoredAdapterAlsoWhenItIsNotThere) {
  TRecorder recorder;
  TSession session(recorder);
  TMemorySettingsStore store;
  store.WriteString("EthernetAdapterID", "eth7");
  TWindowPlacement placement;
  session.LoadSettings(store, placement);
  const std::string current = session.TarvoComm().EthAdapter().ID();
  ASSERT_NE(current, "eth7");

  TSettings values = session.SetupValues();
  EXPECT_EQ(values.EthAdapterID, "eth7");
  values.Password = "only this changes";
  ASSERT_TRUE(session.AcceptSetup(values));
  EXPECT_EQ(session.TarvoComm().EthAdapter().ID(), current);
  session.SaveSettings(store, {});
  EXPECT_EQ(store.Strings.at("EthernetAdapterID"), "eth7");
  EXPECT_EQ(store.Strings.at("Password"), "only this changes");

  // Nothing stored: the dialog starts from the adapter the communicator has.
  TSession fresh(recorder);
  EXPECT_EQ(fresh.SetupValues().EthAdapterID, fresh.TarvoComm().EthAdapter().ID());
}

TEST(Settings, SetupCancelChangesNothing) {
  TRecorder recorder;
  TSession session(recorder);
  session.AddController(std::make_unique<TTarvo>(10));
  // The dialog was shown and cancelled with the debug log box ticked: nothing is accepted,
  // so no controller a later workflow prepares logs either.
  const TSettings before = session.Settings;
  TMemorySettingsStore store;
  session.SaveSettings(store, {});
  EXPECT_FALSE(session.CommSettings().LogToFile);
  EXPECT_FALSE(session.TarvoComm().LogToFile());
  EXPECT_EQ(session.Settings.DirectConnection, before.DirectConnection);
  EXPECT_EQ(store.Strings.size() + store.Integers.size(), 10u);
}

}  // namespace
