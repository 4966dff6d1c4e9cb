// The operator's session: the controllers of the last scan, the tabs with their tables,
// the communication settings, and the workflows over them (scan, status check, clock
// write, read and write of a tab, export and import). It is the main window's state and
// logic without a widget: the desktop window shows it and turns its buttons into calls;
// everything runs on the caller's thread, and every wait runs the front-end's events.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controller/uTarvo.h"
#include "workflows/uCellSelection.h"
#include "workflows/uFrontEnd.h"
#include "workflows/uSettings.h"
#include "workflows/uSteps.h"
#include "workflows/uTemplateFile.h"
#include "workflows/uVSTTab.h"

// The four scan figures the status check reads, in the System table's column order.
extern const std::vector<std::string> SystemVarNames;

// System table columns.
inline constexpr int kColNo = 0, kColNAD = 1, kColIP = 2, kColNetwork = 3, kColRun = 7;
inline constexpr int kColFirstScanVar = 8, kColClock = 12;
// Variables tables: the first variable column.
inline constexpr int kColFirstVar = 2;

enum class TWorkflowResult : uint8_t {
  wrDone,
  wrRefused,    // another workflow runs (or the tab does not exist)
  wrCancelled,  // RequestCancel ended it early, or the user kept what it would discard
  wrFailed,     // an error ended it; the front-end was shown its message
};

class TSession {
 public:
  // The scanning communicator is made here unless one is handed in.
  explicit TSession(TWorkflowFrontEnd& frontEnd, std::unique_ptr<TCommunicator> scanComm = nullptr);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // ---- tabs -----------------------------------------------------------------------------
  // Appends a variables tab; returns its index in the tab list.
  int AddVSTTab(const std::string& Name, const std::string& Description,
                const std::vector<std::string>& Names);
  void AddTemplateTabs(const std::vector<TTemplateTab>& tabs);
  TVSTTabList& VSTTabList() { return fVSTTabList; }
  TVSTTab& SystemTab() { return *fVSTTabList.Items(0); }
  TVSTTable& SystemTable() { return SystemTab().vstTable(); }
  const TVSTTable& SystemTable() const { return fVSTTabList.Items(0)->vstTable(); }
  bool IsSystemTable(const TVSTTable& table) const { return table.Tag == 0; }

  TTarvoList& TarvoList() { return *fTarvoList; }
  // A controller known otherwise than by a scan (given by its address): a checked row at
  // the end of every table. Returns its position, or -1 while a workflow runs or for NAD 0.
  int AddController(std::unique_ptr<TTarvo> tarvo);
  TCommunicator& TarvoComm() { return *fTarvoComm; }

  // ---- the workflows --------------------------------------------------------------------
  // Each is refused while another runs. An error that ends one (an allocation file that
  // does not parse) is shown through the front-end and gives wrFailed.
  // A scan replaces every row: with values awaiting writing it first asks the front-end
  // (ConfirmDiscard), and does nothing when told to keep them. Every controller that
  // answers gets its row, one that refused included (ScanAnswer tells), and each odd
  // answer goes to the front-end as a ScanRemark.
  TWorkflowResult Scan();
  TWorkflowResult CheckStatus();
  TWorkflowResult WriteRTC();
  TWorkflowResult ReadTab(int tabIndex);
  TWorkflowResult WriteTab(int tabIndex);
  TWorkflowResult ExportToXML(const std::string& FileName, int tabIndex);
  TWorkflowResult ImportFromXML(const std::string& FileName, int tabIndex);

  // The values on the variables tabs that a Write would send and has not (cells that
  // await writing and hold a text), and on how many tabs.
  TUnwrittenCells UnwrittenCells() const;
  // How a controller answered the last scan: md_ACK, or the code it refused with. A
  // controller added otherwise counts as md_ACK.
  TMessageDirection ScanAnswer(const TTarvo& T) const;

  // The workflow under way, wfNone when idle.
  TWorkflow Running() const { return fRunning; }
  // Ends the running workflow at its next step: the communicator wait under way ends now,
  // and the rest of the controller's exchange fails without waiting. Closing the window
  // while a workflow runs: call this, and close once the workflow's call has returned.
  void RequestCancel();
  bool CancelRequested() const { return fCancel; }

  // The settings step before a controller's first request in a workflow.
  void ApplySettings(TTarvo& T);
  TCommSettings CommSettings() const;

  // ---- check boxes ----------------------------------------------------------------------
  // A user's change of a row's check box: unchecking forgets the controller's status, the
  // same position of every other table follows, and so do the header check boxes.
  void SetRowChecked(TVSTTable& table, int position, bool checked);
  // Every row of every table, without the per-row effects.
  void SetAllRowsChecked(bool checked);
  // Every header shows whether the changed table has all, some or none of its rows checked.
  void SyncHeaderCheckBoxes(const TVSTTable& changed);
  // A click on a header: column 0 toggles all rows (a mixed header checks them all), the
  // NAD column of any table and the IP column of the System table sort every table.
  void HeaderClicked(TVSTTable& table, int column);

  // Sorts every table by NAD (column 1) or IP (column 2) in the System table's direction,
  // then turns every direction round for the next click. Refused (false) while a workflow
  // runs, since the workflows walk the rows by position.
  bool SortTables(int column);
  // -1, 0 or 1 by the System table's sort column.
  int CompareRows(const TTableRow& a, const TTableRow& b) const;

  // "Read EE", "Write EE" and "Write all": one state for all tabs.
  bool TabOption(TTabOption option) const { return fTabOptions[static_cast<int>(option)]; }
  // A click on any tab's box of that option; the front-end is told to set every other box.
  void CheckBoxClicked(TTabOption option, bool checked);

  // ---- settings -------------------------------------------------------------------------
  // Reads the store (when it has the key) into the settings; the placement gets the window
  // values it holds.
  void LoadSettings(const TSettingsStore& store, TWindowPlacement& placement);
  // Writes the settings; an empty adapter ID first takes the scanning communicator's.
  void SaveSettings(TSettingsStore& store, const TWindowPlacement& placement);
  // What the Setup dialog starts with: the settings as they are, the stored adapter
  // among them, also one the PC does not have at present; only without a stored adapter
  // the one the scanning communicator has now.
  TSettings SetupValues() const;
  // The dialog closed with OK. Refused (false) while a workflow runs. Cancel changes
  // nothing; the front-end saves the settings after either.
  bool AcceptSetup(const TSettings& values);

  // The controllers' UDP port (8442 unless a front-end was told otherwise).
  void SetControllerPort(int port);
  int ControllerPort() const { return fControllerPort; }
  // Borrowed; nullptr restores the PC's clock.
  void SetClock(const TWorkflowClock* clock) { fClock = clock ? clock : &fDefaultClock; }

  // ---- state the tables are painted from ------------------------------------------------
  TSettings Settings;
  bool ShowSystemStatus = false;
  bool ShowRTCUpdate = false;
  int CurrentTarvo = 0;
  int CurrentTest = 0;  // row position * 10 + step of a status check or clock write
  bool AutoDetecting = false;
  bool UpdatingCheckBoxes = false;
  TCellSelection Selection;

 private:
  class TRun;
  friend class TRun;

  void ClearTables();
  void BuildRows();
  void DoSortTables(int column);
  // The communicator the next wait belongs to, so that a cancel can reach it.
  void Use(TCommunicator* comm) { fActiveComm = comm; }
  // Runs a workflow's body under the overlap guard and turns an error into a message.
  TWorkflowResult Perform(TWorkflow workflow, const std::function<void()>& body);
  // One exchange for one cell: its value text and description, or "?" without a value.
  void FillCell(TTarvo& T, std::unique_ptr<TTagVar> tag, TTreeVar& cell);
  void StatusRow(TTableRow& row, int position);
  // Runs `step` on every checked row of a tab, in table order, until cancelled.
  TWorkflowResult EachCheckedRow(TWorkflow workflow, int tabIndex,
                                 void (TSession::*step)(TVSTTab&, TTableRow&, int));
  void ReadRow(TVSTTab& tab, TTableRow& row, int position);
  void WriteRow(TVSTTab& tab, TTableRow& row, int position);
  bool Cancelled() const { return fCancel; }
  void Warn(const TTarvo& T, const std::string& text);

  TWorkflowFrontEnd& fFrontEnd;
  TWorkflowClock fDefaultClock;
  const TWorkflowClock* fClock = &fDefaultClock;
  TVSTTabList fVSTTabList;
  std::unique_ptr<TCommunicator> fTarvoComm;
  std::unique_ptr<TTarvoList> fTarvoList;
  // The controllers of the last scan that refused it, with their codes.
  std::map<const TTarvo*, TMessageDirection> fScanRefusals;
  std::array<bool, 3> fTabOptions{};
  int fControllerPort = kDefaultTarvoPort;
  TWorkflow fRunning = TWorkflow::wfNone;
  bool fCancel = false;
  TCommunicator* fActiveComm = nullptr;
};
