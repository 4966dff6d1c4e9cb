#include "workflows/uFrontEnd.h"

#include <chrono>
#include <ctime>
#include <thread>

const char* WorkflowName(TWorkflow workflow) {
  switch (workflow) {
    case TWorkflow::wfNone:
      return "";
    case TWorkflow::wfScan:
      return "Scan";
    case TWorkflow::wfStatus:
      return "Status check";
    case TWorkflow::wfWriteRTC:
      return "Clock write";
    case TWorkflow::wfRead:
      return "Read";
    case TWorkflow::wfWrite:
      return "Write";
    case TWorkflow::wfExport:
      return "Export";
    case TWorkflow::wfImport:
      return "Import";
  }
  return "";
}

void TWorkflowFrontEnd::Pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t TWorkflowClock::Ticks() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TLocalTime TWorkflowClock::Now() const {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  TLocalTime t;
  t.Year = local.tm_year + 1900;
  t.Month = local.tm_mon + 1;
  t.Day = local.tm_mday;
  t.Hour = local.tm_hour;
  t.Minute = local.tm_min;
  t.Second = local.tm_sec;
  t.Millisecond =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  t.Weekday = local.tm_wday;
  return t;
}
