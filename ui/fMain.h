// The main window: the System tab with its table, one variables tab per template section,
// the buttons and actions that start the workflows, and the window's side of the session:
// repaints, waits that keep the window alive, message boxes, the value dialog.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "workflows/uSession.h"

class QAction;
class QCheckBox;
class QDialog;
class QFrame;
class QLabel;
class QPushButton;
class QTabWidget;
class TfmAbout;
class TfmEditValue;
class TfmOptions;
class TVSTView;

// The controls of one variables page, made by the page factory; every one carries the
// page's tab index as its "Tag" property.
struct TVariablesPage {
  QWidget* Page = nullptr;
  TVSTView* Table = nullptr;
  QPushButton* btnWrite = nullptr;
  QPushButton* btnRead = nullptr;
  QCheckBox* cbWriteEE = nullptr;
  QCheckBox* cbReadEE = nullptr;
  QCheckBox* cbWriteAllVars = nullptr;
  QPushButton* Button2 = nullptr;  // Export
  QPushButton* Button3 = nullptr;  // Import
};

class TfmMain : public QWidget, public TWorkflowFrontEnd {
  Q_OBJECT

 public:
  // templateFile: the template to make the variables tabs from (none when empty or
  // missing). store: the settings store, the user's own when none is given.
  explicit TfmMain(const QString& templateFile, std::unique_ptr<TSettingsStore> store = nullptr,
                   QWidget* parent = nullptr);
  ~TfmMain() override;

  // The value dialog, the Setup dialog and the about box, made after the window.
  void CreateDialogs();
  // The controllers' UDP port (8442 unless told otherwise).
  void SetControllerPort(int port);
  // Closes the window for a signal (SIGTERM, SIGINT): a workflow under way is ended
  // first, open dialogs are closed, and nothing is asked, since nobody may be there to
  // answer; values that await writing are dropped. The Close button and the window's own
  // close ask first.
  void RequestClose();

  TSession& Session() { return *fSession; }
  TfmEditValue* fmEditValue() const { return fEditValue; }
  TfmOptions* fmOptions() const { return fOptions; }
  TfmAbout* fmAbout() const { return fAbout; }
  QTabWidget* PageControl1() const { return fPageControl; }
  TVSTView* vstSystem() const { return fSystemView; }
  // The table of a tab list entry (0 the System table); nullptr outside the list.
  TVSTView* TableOf(int tabIndex) const;
  const TVariablesPage* VariablesPage(int tabIndex) const;
  // The tab list entry the shown page belongs to.
  int CurrentTabIndex() const;
  // The status line of the bottom panel: progress and the last warning.
  QString StatusText() const;

  // Asks for a file to export to (save) or import from; an empty text cancels. Tests
  // answer here instead of a file dialog.
  std::function<QString(bool save, const QString& suggestedName)> ChooseFile;

  // ---- the window's side of the workflows ----------------------------------------------
  void Repaint(const TVSTTable& table) override;
  void RepaintCell(const TVSTTable& table, int position, int column) override;
  void RowsAboutToChange(const TVSTTable& table) override;
  void RowsChanged(const TVSTTable& table) override;
  void Pause(int ms) override;
  void SetBusy(bool busy) override;
  void ShowMessage(TMessageKind kind, const std::string& text) override;
  void Warning(const std::string& text) override;
  void WriteReported(const TWriteOutcome& outcome) override;
  void EepromStoreReported(const TEepromStoreOutcome& outcome) override;
  void Progress(int index, int count, const std::string& text) override;
  void EnableTabControls(bool enabled) override;
  void WorkflowChanged(TWorkflow running) override;
  void TabOptionChanged(TTabOption option, bool checked) override;
  bool EditValue(std::string& value) override;
  void ScanRemark(const TScanRemark& remark) override;
  // A message box with Discard and Cancel (Cancel the default).
  bool ConfirmDiscard(const TUnwrittenCells& unwritten) override;
  void ImportReport(const TImportReport& report) override;

  // Settings: read at start-up, written after the Setup dialog and at exit.
  void LoadSettings();
  void SaveSettings();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateLayout();
  // The warnings of the last workflow in the status line, the last one shown.
  void ShowWarnings();
  // A debug log that could not be written, added to the warnings once; whether there was one.
  bool TakeDebugLogFailure();
  QWidget* CreateSystemPage();
  void CreateActions();
  // The page factory: the controls of a variables page, named with the suffix.
  TVariablesPage BuildVariablesPage(QWidget* page, int tabIndex, const QString& suffix);
  void AddVSTTabPage(int tabIndex);
  void LoadTemplates(const QString& templateFile);
  void SetColumnWidths(TVSTView* view, const std::vector<std::string>& varNames, int firstVar);

  // Runs a workflow from a button or action; a close asked for meanwhile happens after it.
  void RunWorkflow(const std::function<TWorkflowResult()>& workflow);
  // The enabled state of every button and action, from the session's state.
  void UpdateActions();
  bool TemplateTabShown() const;
  TVSTTable* ShownVariablesTable() const;
  QString SuggestedFileName() const;
  QString AskFile(bool save);
  // A modal dialog over the window; the window is active again afterwards.
  int ExecDialog(QDialog* dialog);

  void btnAutodetectClick();
  void btnCheckClick();
  void btnWriteRTCClick();
  void btnReadClick(QObject* sender);
  void btnWriteClick(QObject* sender);
  void cbReadEEClick(QCheckBox* box, TTabOption option);
  void btnSetupClick();
  void acSelectAllExecute();
  void acEditVarsExecute();
  void acDeleteSelectedVarsExecute();
  void acSaveToXMLExecute();
  void acLoadFromXMLExecute();
  void PageChanged(int pageIndex);

  std::unique_ptr<TSettingsStore> fStore;
  std::unique_ptr<TSession> fSession;
  QTabWidget* fPageControl = nullptr;
  TVSTView* fSystemView = nullptr;
  QPushButton* fBtnCheck = nullptr;
  QPushButton* fBtnWriteRTC = nullptr;
  QPushButton* fBtnAutodetect = nullptr;
  QPushButton* fBtnSetup = nullptr;
  QPushButton* fButton1 = nullptr;
  QPushButton* fBtnClose = nullptr;
  QLabel* fLblStatus = nullptr;
  QAction* fAcSelectAll = nullptr;
  QAction* fAcEditVars = nullptr;
  QAction* fAcSaveToXML = nullptr;
  QAction* fAcLoadFromXML = nullptr;
  QAction* fAcDeleteSelectedVars = nullptr;
  TVariablesPage fTemplatePage;
  // By tab list entry; entry 0 (the System tab) has no variables page.
  std::vector<TVSTView*> fViews;
  std::vector<TVariablesPage> fPages;
  TfmEditValue* fEditValue = nullptr;  // the dialogs are the window's children
  TfmOptions* fOptions = nullptr;
  TfmAbout* fAbout = nullptr;
  bool fTabControlsEnabled = false;
  bool fCloseRequested = false;
  bool fCloseWithoutAsking = false;  // a signal asked to close
  int fBusyDepth = 0;
  QString fProgressText;
  QStringList fWarnings;
  // Lines the status line's hint lists after the warnings (what an import left out).
  QStringList fWarningDetails;
};
