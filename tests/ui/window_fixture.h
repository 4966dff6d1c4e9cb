// A main window for a test: its template and settings in a folder of the test's own.
#pragma once

#include <QFile>
#include <QHeaderView>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "controller/uTarvo.h"
#include "ui/fMain.h"
#include "ui/uQtSettingsStore.h"
#include "ui/uTableModels.h"
#include "ui/uVSTView.h"

namespace uitest {

inline constexpr const char* kTemplate =
    "[General]\n"
    "Description=never a tab\n"
    "[Process]\n"
    "Description=Process values\n"
    "Var0=temp\n"
    "Var1=setpoint\n"
    "Var2=levels[3]\n";

class TWindowFixture {
 public:
  // templateText: the template's contents; a null text means no template file at all.
  explicit TWindowFixture(const QString& templateText = kTemplate, bool show = true) {
    Open(templateText, show);
  }

  ~TWindowFixture() { Window.reset(); }  // it writes its settings into the folder
  TWindowFixture(const TWindowFixture&) = delete;
  TWindowFixture& operator=(const TWindowFixture&) = delete;

  void Open(const QString& templateText = kTemplate, bool show = true) {
    QString templateFile;
    if (!templateText.isNull()) {
      templateFile = fDir.filePath("varnel.ini");
      QFile file(templateFile);
      if (file.open(QIODevice::WriteOnly)) file.write(templateText.toUtf8());
    }
    Window = std::make_unique<TfmMain>(
        templateFile, std::make_unique<TQtSettingsStore>(SettingsFile(), QSettings::IniFormat));
    Window->CreateDialogs();
    if (show) {
      Window->show();
      Window->activateWindow();
      (void)QTest::qWaitForWindowActive(Window.get());
    }
  }
  // Closes and destroys the window, which writes the settings.
  void Close() { Window.reset(); }

  QString SettingsFile() const { return fDir.filePath("Kestrum.conf"); }
  QString Path(const QString& name) const { return fDir.filePath(name); }

  // A controller known by its address: a checked row at the end of every table. Nothing
  // is sent.
  void AddController(int32_t nad, const std::string& ip) {
    auto tarvo = std::make_unique<TTarvo>();
    tarvo->SetNAD(nad);
    tarvo->SetIP(ip);
    Window->Session().AddController(std::move(tarvo));
  }

  TVSTView* Table(int tab) const { return Window->TableOf(tab); }
  TVSTTable& Records(int tab) { return *Window->TableOf(tab)->Table(); }
  TQtSettingsStore Store() const { return TQtSettingsStore(SettingsFile(), QSettings::IniFormat); }

  // Shows the page of a tab list entry.
  void ShowTab(int tab) { Window->PageControl1()->setCurrentIndex(tab == 0 ? 0 : tab + 1); }

  // The centre of a cell, and of a header section, in their viewports.
  QPoint CellPoint(int tab, int position, int column) const {
    TVSTView* view = Table(tab);
    return view->visualRect(view->model()->index(position, column)).center();
  }
  QPoint HeaderPoint(int tab, int column) const {
    QHeaderView* header = Table(tab)->horizontalHeader();
    return QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                  header->height() / 2);
  }
  std::vector<int32_t> NADs(int tab) {
    std::vector<int32_t> nads;
    for (const auto& row : Records(tab).Rows()) nads.push_back(row->Tarvo->NAD());
    return nads;
  }

  std::unique_ptr<TfmMain> Window;

 private:
  QTemporaryDir fDir;
};

}  // namespace uitest
