// What a user of the window waits for: the workflows behind its buttons, end to end, on
// the real window (offscreen) against simulated controllers on loopback. Prints the
// median, fastest and slowest of several runs of each.
//   window_workflows [CONTROLLERS (3)] [RUNS (5)]
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "comm/uUdpEndpoint.h"
#include "sim/uSimHost.h"
#include "ui/fMain.h"
#include "ui/uCommon.h"

namespace {

struct TTiming {
  const char* name;
  std::function<void()> run;
  std::vector<qint64> ms;
};

}  // namespace

int main(int argc, char** argv) {
  SetUdpLoopbackOnly(true);  // nothing of this leaves the machine
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir dir;
  qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
  TApplication app(argc, argv);
  const int controllers = argc > 1 ? std::atoi(argv[1]) : 3;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;

  sim::TSimHostOptions options;
  options.Controllers = controllers;
  options.BaseNAD = 10;
  sim::TSimHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "window_workflows: the simulator did not start: %s\n", error.c_str());
    return 1;
  }
  const std::string templateFile = dir.filePath("varnel.ini").toStdString();
  std::ofstream(templateFile) << "[Process]\nVar0=temp\nVar1=setpoint\nVar2=levels[0]\n"
                                 "Var3=levels[1]\nVar4=levels[2]\nVar5=levels[3]\n";
  TfmMain window(QString::fromStdString(templateFile), std::make_unique<TMemorySettingsStore>());
  window.CreateDialogs();
  window.Session().Settings.EthAdapterID = "lo";
  window.SetControllerPort(host.Port());
  window.show();

  const auto click = [&](const char* name) {
    return [&window, name] { window.findChild<QPushButton*>(name)->click(); };
  };
  std::vector<TTiming> timings = {
      {"scan (S&can)", click("btnAutodetect"), {}},
      {"status check (&Read)", click("btnCheck"), {}},
      {"clock write (&Write RTC)", click("btnWriteRTC"), {}},
      {"tab read, 6 variables", click("btnRead1"), {}},
      {"tab write, 6 variables", click("btnWrite1"), {}},
  };
  window.Session().CheckBoxClicked(TTabOption::toWriteAll, true);
  for (int r = 0; r < runs; ++r) {
    for (TTiming& t : timings) {
      QElapsedTimer clock;
      clock.start();
      t.run();
      t.ms.push_back(clock.elapsed());
    }
    if (window.Session().TarvoList().Count() != controllers) {
      std::fprintf(stderr, "window_workflows: the scan found %d of %d controllers\n",
                   window.Session().TarvoList().Count(), controllers);
      return 1;
    }
  }
  std::printf("%d simulated controllers, %d runs each (ms)\n", controllers, runs);
  std::printf("%-28s %8s %8s %8s\n", "workflow", "median", "fastest", "slowest");
  for (TTiming& t : timings) {
    std::sort(t.ms.begin(), t.ms.end());
    std::printf("%-28s %8lld %8lld %8lld\n", t.name, static_cast<long long>(t.ms[t.ms.size() / 2]),
                static_cast<long long>(t.ms.front()), static_cast<long long>(t.ms.back()));
  }
  return 0;
}
