#include "ui/fMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <optional>

#include "comm/uLogFile.h"
#include "ui/fAbout.h"
#include "ui/fEditValue.h"
#include "ui/fOptions.h"
#include "ui/uArtwork.h"
#include "ui/uCommon.h"
#include "ui/uHeaderView.h"
#include "ui/uOutcomeText.h"
#include "ui/uQtSettingsStore.h"
#include "ui/uTableModels.h"
#include "ui/uVSTView.h"

namespace {

constexpr int kDesignWidth = 869;
constexpr int kDesignHeight = 548;
constexpr int kButtonWidth = 75;
// The dynamic properties the page controls carry.
constexpr const char* kTag = "Tag";
constexpr const char* kStartsWorkflow = "StartsWorkflow";
constexpr const char* kFollowsAction = "FollowsAction";

const int kSystemColumnWidths[] = {55, 60, 100, 60, 64, 74, 60, 60};
constexpr int kClockColumnWidth = 120;
constexpr int kNoColumnWidth = 55;
constexpr int kNADColumnWidth = 60;

template <class T>
T* Named(T* widget, const QString& name) {
  widget->setObjectName(name);
  return widget;
}

QPushButton* Button(QWidget* parent, const QString& caption, const QString& name,
                    const QString& hint = QString()) {
  auto* button = Named(new QPushButton(caption, parent), name);
  button->setToolTip(hint);
  button->setMinimumWidth(kButtonWidth);
  button->setAutoDefault(false);
  return button;
}

QCheckBox* CheckBox(QWidget* parent, const QString& caption, const QString& name,
                    const QString& hint) {
  auto* box = Named(new QCheckBox(caption, parent), name);
  box->setToolTip(hint);
  return box;
}

}  // namespace

TfmMain::TfmMain(const QString& templateFile, std::unique_ptr<TSettingsStore> store,
                 QWidget* parent)
    : QWidget(parent), fStore(store ? std::move(store) : std::make_unique<TQtSettingsStore>()) {
  setObjectName("fmMain");
  setWindowIcon(ApplicationIcon());
  UseDotDecimalSeparator();
  fSession = std::make_unique<TSession>(*this);
  // Every wait of a communicator keeps the window alive: the tables repaint and show the
  // progress while a workflow runs.
  SetProcessEventsHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
  setWindowTitle(QString::fromLatin1(kApplicationTitle) + " v" + GetFileVersionText(3));
  CreateLayout();
  LoadTemplates(templateFile);
  // Hidden, and disabled as well: Ctrl+Tab would otherwise still land on it.
  fPageControl->setTabVisible(1, false);
  fPageControl->setTabEnabled(1, false);
  LoadSettings();
  fPageControl->setCurrentIndex(0);
  UpdateActions();
}

TfmMain::~TfmMain() {
  Guarded([this] { SaveSettings(); });
  SetProcessEventsHook({});
  // The tables go with the session; their views must not ask for them any more.
  for (TVSTView* view : fViews) view->Detach();
  fSession.reset();
}

void TfmMain::CreateDialogs() {
  fEditValue = new TfmEditValue(this);
  fOptions = new TfmOptions(this);
  fAbout = new TfmAbout(this);
}

void TfmMain::SetControllerPort(int port) {
  fSession->SetControllerPort(port);
}

// ---- layout ----------------------------------------------------------------------------

void TfmMain::CreateLayout() {
  auto* banner = new QWidget(this);
  banner->setFixedHeight(27);
  auto* imgBanner = Named(new QLabel(banner), "imgBanner");
  imgBanner->setPixmap(BannerPicture());
  imgBanner->setScaledContents(true);
  imgBanner->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  imgBanner->setFixedHeight(27);
  auto* imgLogo = Named(new QLabel(banner), "imgLogo");
  imgLogo->setPixmap(LogoPicture());
  imgLogo->setFixedSize(111, 26);
  auto* bannerLayout = new QGridLayout(banner);
  bannerLayout->setContentsMargins(0, 0, 0, 0);
  bannerLayout->addWidget(imgBanner, 0, 0);
  bannerLayout->addWidget(imgLogo, 0, 0, Qt::AlignRight | Qt::AlignTop);
  auto* bevel = Named(new QFrame(this), "Bevel1");
  bevel->setFixedHeight(1);
  bevel->setAutoFillBackground(true);
  QPalette grey = bevel->palette();
  grey.setColor(QPalette::Window, grey.color(QPalette::Mid));
  bevel->setPalette(grey);

  fPageControl = Named(new QTabWidget(this), "PageControl1");
  fPageControl->addTab(CreateSystemPage(), "System");
  fPageControl->setTabToolTip(0, ToQ(fSession->SystemTab().Description()));
  auto* templatePage = Named(new QWidget, "pgVariablesTemplate");
  fTemplatePage = BuildVariablesPage(templatePage, 0, QString());
  fPageControl->addTab(templatePage, "Variables");
  connect(fPageControl, &QTabWidget::currentChanged, this,
          [this](int page) { Guarded([&] { PageChanged(page); }); });

  auto* panel = Named(new QWidget(this), "Panel1");
  panel->setFixedHeight(41);
  fBtnAutodetect = Button(panel, "S&can", "btnAutodetect", "Find Tarvo controllers");
  fLblStatus = Named(new QLabel(panel), "lblStatus");
  fLblStatus->setTextFormat(Qt::PlainText);
  fLblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  fBtnSetup = Button(panel, "&Setup", "btnSetup", "Communication settings");
  fButton1 = Button(panel, "About", "Button1");
  fBtnClose = Button(panel, "Close", "btnClose");
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->setContentsMargins(8, 0, 8, 0);
  panelLayout->addWidget(fBtnAutodetect);
  panelLayout->addSpacing(8);
  panelLayout->addWidget(fLblStatus, 1);
  panelLayout->addSpacing(8);
  panelLayout->addWidget(fBtnSetup);
  panelLayout->addWidget(fButton1);
  panelLayout->addWidget(fBtnClose);

  auto* middle = new QVBoxLayout;
  middle->setContentsMargins(4, 4, 4, 0);
  middle->addWidget(fPageControl);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addWidget(banner);
  root->addWidget(bevel);
  root->addLayout(middle, 1);
  root->addWidget(panel);

  connect(fBtnAutodetect, &QPushButton::clicked, this,
          [this] { Guarded([this] { btnAutodetectClick(); }); });
  connect(fBtnSetup, &QPushButton::clicked, this, [this] { Guarded([this] { btnSetupClick(); }); });
  connect(fButton1, &QPushButton::clicked, this, [this] {
    Guarded([this] {
      if (fAbout) ExecDialog(fAbout);
    });
  });
  connect(fBtnClose, &QPushButton::clicked, this, [this] { Guarded([this] { close(); }); });
  CreateActions();

  resize(kDesignWidth, kDesignHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

QWidget* TfmMain::CreateSystemPage() {
  auto* page = Named(new QWidget, "pgSystem");
  auto* model = new TSystemTableModel(fSession.get(), this);
  fSystemView = Named(new TVSTView(fSession.get(), model, false, page), "vstSystem");
  fSystemView->setProperty(kTag, 0);
  fViews.push_back(fSystemView);
  fPages.emplace_back();
  SetColumnWidths(fSystemView, SystemVarNames, kColFirstScanVar);
  fBtnCheck = Button(page, "&Read", "btnCheck", "Read controller status");
  fBtnWriteRTC =
      Button(page, "&Write RTC", "btnWriteRTC", "Synchronize controller real-time clock to PC");
  for (QPushButton* button : {fBtnCheck, fBtnWriteRTC}) {
    button->setProperty(kStartsWorkflow, true);
    button->setEnabled(false);
  }
  auto* layout = new QGridLayout(page);
  layout->addWidget(fSystemView, 0, 0, 3, 1);
  layout->addWidget(fBtnCheck, 0, 1);
  layout->addWidget(fBtnWriteRTC, 1, 1);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(0, 1);
  connect(fBtnCheck, &QPushButton::clicked, this, [this] { Guarded([this] { btnCheckClick(); }); });
  connect(fBtnWriteRTC, &QPushButton::clicked, this,
          [this] { Guarded([this] { btnWriteRTCClick(); }); });
  return page;
}

TVariablesPage TfmMain::BuildVariablesPage(QWidget* page, int tabIndex, const QString& suffix) {
  TVariablesPage controls;
  controls.Page = page;
  TVSTTab* tab = tabIndex > 0 ? fSession->VSTTabList().Items(tabIndex) : nullptr;
  auto* model = new TVariablesTableModel(fSession.get(), tab, this);
  controls.Table = Named(new TVSTView(fSession.get(), model, true, page), "vstVariables" + suffix);
  controls.Table->setContextMenuPolicy(Qt::ActionsContextMenu);
  controls.btnWrite = Button(page, "&Write", "btnWrite" + suffix, "Write values to controller(s)");
  controls.btnRead = Button(page, "&Read", "btnRead" + suffix, "Read values from controller(s)");
  controls.cbWriteEE = CheckBox(page, "Write EE", "cbWriteEE" + suffix, "Write values to EEPROM");
  controls.cbReadEE = CheckBox(page, "Read EE", "cbReadEE" + suffix, "Read values from EEPROM");
  controls.cbWriteAllVars = CheckBox(page, "Write all", "cbWriteAllVars" + suffix,
                                     "Write all variables, deselect to write changed only");
  controls.Button2 = Button(page, "Export", "Button2" + suffix);
  controls.Button3 = Button(page, "Import", "Button3" + suffix);
  controls.btnWrite->setProperty(kStartsWorkflow, true);
  controls.btnRead->setProperty(kStartsWorkflow, true);
  controls.Button2->setProperty(kFollowsAction, true);
  controls.Button3->setProperty(kFollowsAction, true);
  for (QWidget* control : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    control->setProperty(kTag, tabIndex);
    if (control != controls.Table) control->setEnabled(false);
  }
  for (QCheckBox* box : {controls.cbReadEE, controls.cbWriteEE, controls.cbWriteAllVars}) {
    box->setChecked(fSession->TabOption(box == controls.cbReadEE    ? TTabOption::toReadEE
                                        : box == controls.cbWriteEE ? TTabOption::toWriteEE
                                                                    : TTabOption::toWriteAll));
  }

  auto* layout = new QGridLayout(page);
  layout->addWidget(controls.Table, 0, 0, 9, 1);
  layout->addWidget(controls.btnRead, 0, 1);
  layout->addWidget(controls.btnWrite, 1, 1);
  layout->setRowMinimumHeight(2, 8);
  layout->addWidget(controls.cbReadEE, 3, 1);
  layout->addWidget(controls.cbWriteEE, 4, 1);
  layout->addWidget(controls.cbWriteAllVars, 5, 1);
  layout->setRowStretch(6, 1);
  layout->addWidget(controls.Button2, 7, 1);
  layout->addWidget(controls.Button3, 8, 1);
  layout->setColumnStretch(0, 1);

  connect(controls.btnRead, &QPushButton::clicked, this,
          [this, button = controls.btnRead] { Guarded([&] { btnReadClick(button); }); });
  connect(controls.btnWrite, &QPushButton::clicked, this,
          [this, button = controls.btnWrite] { Guarded([&] { btnWriteClick(button); }); });
  const std::pair<QCheckBox*, TTabOption> options[] = {
      {controls.cbReadEE, TTabOption::toReadEE},
      {controls.cbWriteEE, TTabOption::toWriteEE},
      {controls.cbWriteAllVars, TTabOption::toWriteAll}};
  for (const auto& [box, option] : options) {
    connect(box, &QCheckBox::clicked, this,
            [this, box = box, option = option] { Guarded([&] { cbReadEEClick(box, option); }); });
  }
  connect(controls.Button2, &QPushButton::clicked, this, [this] { fAcSaveToXML->trigger(); });
  connect(controls.Button3, &QPushButton::clicked, this, [this] { fAcLoadFromXML->trigger(); });
  if (fAcEditVars) controls.Table->addAction(fAcEditVars);
  return controls;
}

void TfmMain::CreateActions() {
  const auto make = [this](const QString& name, const QString& caption, const QString& hint,
                           const QList<QKeySequence>& keys, void (TfmMain::*handler)()) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setToolTip(hint.isEmpty() ? caption : hint);
    action->setStatusTip(hint);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this,
            [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return action;
  };
  fAcSelectAll = make("acSelectAll", "Select All", QString(), {QKeySequence(Qt::CTRL | Qt::Key_A)},
                      &TfmMain::acSelectAllExecute);
  fAcEditVars = make("acEditVars", "Edit", "Edit selected variables",
                     {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::Key_Return),
                      QKeySequence(Qt::Key_Enter)},
                     &TfmMain::acEditVarsExecute);
  fAcSaveToXML = make("acSaveToXML", "Export", "Export values from current table to xml file",
                      {QKeySequence(Qt::CTRL | Qt::Key_S)}, &TfmMain::acSaveToXMLExecute);
  fAcLoadFromXML = make("acLoadFromXML", "Import", "Import values from xml file to current table",
                        {QKeySequence(Qt::CTRL | Qt::Key_L)}, &TfmMain::acLoadFromXMLExecute);
  fAcDeleteSelectedVars =
      make("acDeleteSelectedVars", QString(), QString(), {QKeySequence(Qt::Key_Delete)},
           &TfmMain::acDeleteSelectedVarsExecute);
  fTemplatePage.Table->addAction(fAcEditVars);
  fTemplatePage.Button2->setToolTip(fAcSaveToXML->toolTip());
  fTemplatePage.Button3->setToolTip(fAcLoadFromXML->toolTip());
}

void TfmMain::SetColumnWidths(TVSTView* view, const std::vector<std::string>& varNames,
                              int firstVar) {
  QHeaderView* header = view->horizontalHeader();
  header->setMinimumSectionSize(10);
  // The fixed widths suit a small font; a wider one must not cut the titles.
  const QFontMetrics metrics(font());
  const auto fit = [&](int column, int width, const QString& sample = QString()) {
    const QString title = view->model()->headerData(column, Qt::Horizontal).toString();
    const int text = std::max(metrics.horizontalAdvance(title), metrics.horizontalAdvance(sample));
    header->resizeSection(column, std::max(width, text + 15));
  };
  if (view == fSystemView) {
    for (int c = 0; c < static_cast<int>(std::size(kSystemColumnWidths)); ++c) {
      fit(c, kSystemColumnWidths[c], c == kColIP ? "255.255.255.255" : QString());
    }
    fit(kColClock, kClockColumnWidth, "0000-00-00  00:00:00");
  } else {
    fit(kColNo, kNoColumnWidth);
    fit(kColNAD, kNADColumnWidth);
  }
  for (size_t i = 0; i < varNames.size(); ++i) {
    header->resizeSection(firstVar + static_cast<int>(i),
                          std::max(metrics.horizontalAdvance(ToQ(varNames[i])) + 15, 30));
  }
}

void TfmMain::AddVSTTabPage(int tabIndex) {
  TVSTTab* tab = fSession->VSTTabList().Items(tabIndex);
  const QString suffix = QString::number(tabIndex);
  auto* page = Named(new QWidget, "pgVariablesTemplate" + suffix);
  TVariablesPage controls = BuildVariablesPage(page, tabIndex, suffix);
  SetColumnWidths(controls.Table, tab->VarNames(), kColFirstVar);
  fViews.push_back(controls.Table);
  fPages.push_back(controls);
  // The name as it stands: an "&" in it is no mnemonic that could take Alt+C or Alt+R.
  const int pageIndex = fPageControl->addTab(page, ToQ(tab->Name()).replace('&', "&&"));
  fPageControl->setTabToolTip(pageIndex, ToQ(tab->Description()));
  controls.Button2->setToolTip(fAcSaveToXML->toolTip());
  controls.Button3->setToolTip(fAcLoadFromXML->toolTip());
}

void TfmMain::LoadTemplates(const QString& templateFile) {
  if (templateFile.isEmpty()) return;
  std::vector<std::string> warnings;
  const std::vector<TTemplateTab> tabs = ::LoadTemplates(FromQ(templateFile), &warnings);
  for (const std::string& warning : warnings) qWarning("%s", warning.c_str());
  for (const TTemplateTab& tab : tabs) {
    AddVSTTabPage(fSession->AddVSTTab(tab.Name, tab.Description, tab.VarNames));
  }
}

// ---- lookups ---------------------------------------------------------------------------

TVSTView* TfmMain::TableOf(int tabIndex) const {
  return tabIndex >= 0 && tabIndex < static_cast<int>(fViews.size())
             ? fViews[static_cast<size_t>(tabIndex)]
             : nullptr;
}

const TVariablesPage* TfmMain::VariablesPage(int tabIndex) const {
  return tabIndex > 0 && tabIndex < static_cast<int>(fPages.size())
             ? &fPages[static_cast<size_t>(tabIndex)]
             : nullptr;
}

int TfmMain::CurrentTabIndex() const {
  // Page 1 is the hidden template: page p >= 2 belongs to entry p - 1.
  const int page = fPageControl->currentIndex();
  return page <= 0 ? 0 : (page == 1 ? -1 : page - 1);
}

bool TfmMain::TemplateTabShown() const {
  return fPageControl->currentIndex() >= 2;
}

TVSTTable* TfmMain::ShownVariablesTable() const {
  if (!TemplateTabShown()) return nullptr;
  TVSTView* view = TableOf(CurrentTabIndex());
  return view ? view->Table() : nullptr;
}

QString TfmMain::StatusText() const {
  return fLblStatus->text();
}

// ---- enabled states --------------------------------------------------------------------

void TfmMain::UpdateActions() {
  const bool idle = fSession->Running() == TWorkflow::wfNone;
  const bool known = fSession->TarvoList().Count() > 0;
  fBtnAutodetect->setEnabled(idle);
  fBtnSetup->setEnabled(idle);
  fAcSaveToXML->setEnabled(idle && known);
  fAcLoadFromXML->setEnabled(idle && known);
  // Rows a scan is replacing are not to be edited.
  fAcEditVars->setEnabled(known && fSession->Running() != TWorkflow::wfScan);
  for (int p = 0; p < fPageControl->count(); ++p) {
    for (QWidget* control :
         fPageControl->widget(p)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (qobject_cast<TVSTView*>(control)) continue;
      bool enabled = fTabControlsEnabled;
      if (control->property(kStartsWorkflow).toBool()) enabled = enabled && idle;
      if (control->property(kFollowsAction).toBool()) enabled = enabled && idle && known;
      control->setEnabled(enabled);
    }
  }
}

void TfmMain::EnableTabControls(bool enabled) {
  fTabControlsEnabled = enabled;
  UpdateActions();
}

void TfmMain::WorkflowChanged(TWorkflow running) {
  if (running != TWorkflow::wfNone) {
    fWarnings.clear();
    fWarningDetails.clear();
    fProgressText = QString::fromLatin1(WorkflowName(running)) + "...";
  } else {
    fProgressText.clear();
  }
  fLblStatus->setText(fProgressText);
  fLblStatus->setToolTip(QString());
  UpdateActions();
  if (running == TWorkflow::wfNone) {
    TakeDebugLogFailure();
    ShowWarnings();
  }
}

void TfmMain::ShowWarnings() {
  if (fWarnings.isEmpty()) return;
  QString text = fWarnings.last();
  if (fWarnings.size() > 1) text += QString(" (and %1 more)").arg(fWarnings.size() - 1);
  fLblStatus->setText(text);
  fLblStatus->setToolTip((fWarnings + fWarningDetails).join('\n'));
}

bool TfmMain::TakeDebugLogFailure() {
  // Taken once: a log that fails on every frame is still one line.
  const std::optional<TLogFileFailure> failure = ::TakeLogFileFailure();
  if (!failure) return false;
  fWarnings << QString("Cannot write the debug log %1: %2")
                   .arg(ToQ(failure->Path), QString::fromLocal8Bit(std::strerror(failure->Error)));
  return true;
}

// ---- the window's side of the workflows ------------------------------------------------

void TfmMain::Repaint(const TVSTTable& table) {
  if (TVSTView* view = TableOf(table.Tag)) view->Refresh();
}

void TfmMain::RepaintCell(const TVSTTable& table, int position, int column) {
  if (TVSTView* view = TableOf(table.Tag)) view->RefreshCell(position, column);
}

void TfmMain::RowsAboutToChange(const TVSTTable& table) {
  if (TVSTView* view = TableOf(table.Tag)) view->BeginRowsChange();
}

void TfmMain::RowsChanged(const TVSTTable& table) {
  if (TVSTView* view = TableOf(table.Tag)) view->EndRowsChange();
}

void TfmMain::Pause(int ms) {
  if (ms <= 0) return;
  QEventLoop wait;
  QTimer::singleShot(ms, &wait, &QEventLoop::quit);
  wait.exec();
}

void TfmMain::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++fBusyDepth;
  } else if (fBusyDepth > 0) {
    QApplication::restoreOverrideCursor();
    --fBusyDepth;
  }
}

void TfmMain::ShowMessage(TMessageKind kind, const std::string& text) {
  ShowMessageBox(this, kind == TMessageKind::mkError ? TBoxKind::bkError : TBoxKind::bkInformation,
                 ToQ(text));
}

void TfmMain::Warning(const std::string& text) {
  fWarnings << ToQ(text);
}

void TfmMain::WriteReported(const TWriteOutcome& outcome) {
  Warning(WithNAD(outcome.NAD, WriteOutcomeText(outcome)));
}

void TfmMain::EepromStoreReported(const TEepromStoreOutcome& outcome) {
  Warning(WithNAD(outcome.NAD, EepromStoreText(outcome)));
}

void TfmMain::Progress(int index, int count, const std::string& text) {
  fProgressText = QString("%1: %2 (%3 of %4)")
                      .arg(QString::fromLatin1(WorkflowName(fSession->Running())), ToQ(text))
                      .arg(index + 1)
                      .arg(count);
  fLblStatus->setText(fProgressText);
}

void TfmMain::TabOptionChanged(TTabOption option, bool checked) {
  std::vector<const TVariablesPage*> pages = {&fTemplatePage};
  for (const TVariablesPage& page : fPages) {
    if (page.Page != nullptr) pages.push_back(&page);
  }
  for (const TVariablesPage* page : pages) {
    QCheckBox* box = option == TTabOption::toReadEE    ? page->cbReadEE
                     : option == TTabOption::toWriteEE ? page->cbWriteEE
                                                       : page->cbWriteAllVars;
    const QSignalBlocker quiet(box);
    box->setChecked(checked);
  }
}

bool TfmMain::EditValue(std::string& value) {
  if (!fEditValue) return false;
  fEditValue->Value = ToQ(value);
  if (ExecDialog(fEditValue) != QDialog::Accepted) return false;
  value = FromQ(fEditValue->Value);
  return true;
}

void TfmMain::ScanRemark(const TScanRemark& remark) {
  fWarnings << ScanRemarkText(remark);
}

bool TfmMain::ConfirmDiscard(const TUnwrittenCells& unwritten) {
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle),
                  DiscardQuestion(unwritten), QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setObjectName("mbDiscard");
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  ExecDialog(&box);
  // Closed any other way (a signal rejects open dialogs): nothing was agreed to.
  return box.clickedButton() == box.button(QMessageBox::Discard);
}

void TfmMain::ImportReport(const TImportReport& report) {
  fWarnings << ImportReportSummary(report);
  for (const TImportSkip& skip : report.Skipped) fWarningDetails << ImportSkipText(skip);
}

// ---- buttons and actions ---------------------------------------------------------------

int TfmMain::ExecDialog(QDialog* dialog) {
  const int result = dialog->exec();
  // Without a window manager nobody hands the keyboard back to the window.
  if (isVisible()) activateWindow();
  return result;
}

void TfmMain::RunWorkflow(const std::function<TWorkflowResult()>& workflow) {
  workflow();
  if (fCloseRequested && fSession->Running() == TWorkflow::wfNone) {
    QTimer::singleShot(0, this, [this] { close(); });
  }
}

void TfmMain::btnAutodetectClick() {
  RunWorkflow([this] { return fSession->Scan(); });
}

void TfmMain::btnCheckClick() {
  RunWorkflow([this] { return fSession->CheckStatus(); });
}

void TfmMain::btnWriteRTCClick() {
  RunWorkflow([this] { return fSession->WriteRTC(); });
}

void TfmMain::btnReadClick(QObject* sender) {
  const int tab = sender->property(kTag).toInt();
  RunWorkflow([this, tab] { return fSession->ReadTab(tab); });
}

void TfmMain::btnWriteClick(QObject* sender) {
  const int tab = sender->property(kTag).toInt();
  RunWorkflow([this, tab] { return fSession->WriteTab(tab); });
}

void TfmMain::cbReadEEClick(QCheckBox* box, TTabOption option) {
  fSession->CheckBoxClicked(option, box->isChecked());
}

void TfmMain::btnSetupClick() {
  if (!fOptions) return;
  const TSettings current = fSession->SetupValues();
  fOptions->DirectConnection = current.DirectConnection;
  fOptions->EthernetAdapterID = current.EthAdapterID;
  fOptions->ExtraRetries = current.ExtraRetries;
  fOptions->ExtraTimeout = current.ExtraTimeout;
  fOptions->Password = current.Password;
  if (ExecDialog(fOptions) == QDialog::Accepted) {
    TSettings values = current;
    values.Password = fOptions->Password;
    values.EthAdapterID = fOptions->EthernetAdapterID;
    values.DirectConnection = fOptions->DirectConnection;
    values.ExtraRetries = fOptions->ExtraRetries;
    values.ExtraTimeout = fOptions->ExtraTimeout;
    values.CreateDebugLogs = fOptions->CreateDebugLogs;
    fSession->AcceptSetup(values);
    // Switching the log on tells at once whether it can be written, not after the next
    // workflow.
    if (values.CreateDebugLogs) CheckLogFile();
    if (TakeDebugLogFailure()) ShowWarnings();
  }
  SaveSettings();
}

void TfmMain::acSelectAllExecute() {
  if (TVSTTable* table = ShownVariablesTable()) fSession->Selection.SelectAll(*table);
}

void TfmMain::acEditVarsExecute() {
  if (TVSTTable* table = ShownVariablesTable()) fSession->Selection.EditSelectedValues(*table);
}

void TfmMain::acDeleteSelectedVarsExecute() {
  if (TVSTTable* table = ShownVariablesTable()) fSession->Selection.Delete(*table);
}

QString TfmMain::SuggestedFileName() const {
  const int index = CurrentTabIndex();
  const TVSTTab* tab = index >= 0 ? fSession->VSTTabList().Items(index) : nullptr;
  if (tab != nullptr) return ToQ(tab->Name()) + ".xml";
  return fPageControl->tabText(fPageControl->currentIndex()).remove('&') + ".xml";
}

QString TfmMain::AskFile(bool save) {
  if (ChooseFile) return ChooseFile(save, SuggestedFileName());
  QFileDialog dialog(this, save ? "Export" : "Import", QDir::currentPath(), "xml data (*.xml)");
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix("xml");
  dialog.selectFile(SuggestedFileName());
  if (ExecDialog(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void TfmMain::acSaveToXMLExecute() {
  if (!TemplateTabShown()) return;
  const int tab = CurrentTabIndex();
  const QString file = AskFile(true);
  if (file.isEmpty()) return;
  RunWorkflow([&] { return fSession->ExportToXML(FromQ(file), tab); });
}

void TfmMain::acLoadFromXMLExecute() {
  if (!TemplateTabShown()) return;
  const int tab = CurrentTabIndex();
  const QString file = AskFile(false);
  if (file.isEmpty()) return;
  RunWorkflow([&] { return fSession->ImportFromXML(FromQ(file), tab); });
}

void TfmMain::PageChanged(int pageIndex) {
  const int tab = pageIndex <= 0 ? 0 : (pageIndex == 1 ? -1 : pageIndex - 1);
  TVSTView* view = TableOf(tab);
  if (view != nullptr && view->Table() != nullptr) fSession->Selection.TableShown(*view->Table());
}

// ---- settings --------------------------------------------------------------------------

void TfmMain::LoadSettings() {
  TWindowPlacement placement;
  fSession->LoadSettings(*fStore, placement);
  QRect bounds = geometry();
  if (placement.Left) bounds.moveLeft(*placement.Left);
  if (placement.Top) bounds.moveTop(*placement.Top);
  if (placement.Width) bounds.setWidth(*placement.Width);
  if (placement.Height) bounds.setHeight(*placement.Height);
  // A stored size too small to use, or a place on a screen that is no longer there, would
  // leave the window out of reach.
  bounds.setSize(bounds.size().expandedTo(minimumSizeHint()));
  const QList<QScreen*> screens = QGuiApplication::screens();
  const bool reachable = std::any_of(screens.begin(), screens.end(), [&](const QScreen* s) {
    const QRect common = s->availableGeometry().intersected(bounds);
    return common.width() >= 100 && common.height() >= 50;
  });
  if (!reachable && QGuiApplication::primaryScreen()) {
    bounds.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
  }
  setGeometry(bounds);
  if (placement.Maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void TfmMain::SaveSettings() {
  const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
  TWindowPlacement placement;
  placement.Top = normal.top();
  placement.Left = normal.left();
  placement.Width = normal.width();
  placement.Height = normal.height();
  placement.Maximized = isMaximized();
  fSession->SaveSettings(*fStore, placement);
  fStore->Flush();
}

// ---- closing ---------------------------------------------------------------------------

void TfmMain::closeEvent(QCloseEvent* event) {
  if (fSession->Running() != TWorkflow::wfNone) {
    // The workflow's call is still on the stack: it ends first, and the window closes
    // once it has returned.
    fCloseRequested = true;
    fSession->RequestCancel();
    event->ignore();
    return;
  }
  // A signal closes without a question: nobody may be there to answer it, and a session
  // that is being ended must not hang on a dialog. A signal that comes while the question
  // is open closes too.
  const TUnwrittenCells unwritten = fSession->UnwrittenCells();
  if (unwritten.Values > 0 && !fCloseWithoutAsking && !ConfirmDiscard(unwritten) &&
      !fCloseWithoutAsking) {
    fCloseRequested = false;
    event->ignore();
    return;
  }
  event->accept();
}

void TfmMain::RequestClose() {
  fCloseRequested = true;
  fCloseWithoutAsking = true;
  // A dialog's own loop would outlive the window.
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    if (QApplication::activeModalWidget() == modal) break;
  }
  fSession->RequestCancel();
  if (fSession->Running() == TWorkflow::wfNone) close();
}
