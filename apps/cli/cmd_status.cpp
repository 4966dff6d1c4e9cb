// varnel-cli status: for each chosen controller the five checks (network endpoint, ping,
// program, allocation file, PLC running), the four scan figures and the clock.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_fleet.h"
#include "apps/cli/cli_outcomes.h"
#include "data/uErrors.h"
#include "data/uNumText.h"
#include "workflows/uSession.h"  // SystemVarNames
#include "workflows/uSteps.h"

namespace {

using cli::Json;

struct StatusRow {
  int32_t nad = 0;
  std::string ip;
  bool checks[5] = {};
  std::vector<std::string> figures;  // one per scan variable, "?" when unknown
  std::string rtc;
};

const char* const kCheckKeys[5] = {"network", "ping", "program", "alc", "run"};
const char* const kCheckTitles[5] = {"NETWORK", "PING", "PROGRAM", "ALC", "RUN"};

StatusRow CheckOne(TTarvo& T, const cli::NetOptions& o, bool pinned,
                   std::vector<cli::Problem>& problems) {
  cli::ApplySettings(T, o, pinned);
  T.SetStatusTested(true);
  StatusRow row;
  row.nad = T.NAD();
  T.SetRTCString("");
  for (size_t i = 0; i < kStatusChecks.size(); ++i) row.checks[i] = (T.*kStatusChecks[i])();
  // Before the exchange below tries again, and answers for itself.
  const std::string pingFailure = row.checks[1] ? std::string() : cli::PingFailureText(T);
  // The figures and the clock in one exchange, going on from where the checks left the link.
  row.figures = ReadFiguresAndClock(T, SystemVarNames);
  row.rtc = T.RTCString();
  row.ip = T.IP();
  T.Disconnect();
  if (!row.checks[1]) problems.push_back({row.nad, "", pingFailure});
  return row;
}

void PrintTable(const std::vector<StatusRow>& rows) {
  std::cout << "NAD   IP               ";
  for (const char* title : kCheckTitles) std::cout << title << "  ";
  for (const std::string& name : SystemVarNames) std::cout << name << "  ";
  std::cout << "RTC\n";
  for (const StatusRow& row : rows) {
    std::string line = NADText(row.nad);
    line.resize(6, ' ');
    std::string ip = row.ip;
    if (ip.size() < 17) ip.resize(17, ' ');
    std::cout << line << ip;
    for (int i = 0; i < 5; ++i) {
      std::string mark = row.checks[i] ? "yes" : "no";
      mark.resize(std::string(kCheckTitles[i]).size() + 2, ' ');
      std::cout << mark;
    }
    for (size_t i = 0; i < row.figures.size(); ++i) {
      std::string figure = row.figures[i];
      if (figure.size() < SystemVarNames[i].size() + 2) {
        figure.resize(SystemVarNames[i].size() + 2, ' ');
      }
      std::cout << figure;
    }
    std::cout << row.rtc << "\n";
  }
}

int RunStatus(const cli::NetOptions& o) {
  cli::Chosen chosen;
  std::vector<cli::Problem> problems;
  const std::vector<StatusRow> rows = cli::ChooseAndCollect<StatusRow>(
      o, chosen, "status of NAD",
      [&](TTarvo& T, bool pinned, std::vector<cli::Problem>& own) -> std::optional<StatusRow> {
        try {
          return CheckOne(T, o, pinned, own);
        } catch (const EVarnelError& e) {
          own.push_back({T.NAD(), "", e.what()});
          return std::nullopt;
        }
      },
      problems);
  if (chosen.list->Count() == 0 && problems.empty()) {
    problems.push_back({0, "", "no controller answered"});
  }
  if (o.json) {
    Json list = Json::array();
    for (const StatusRow& row : rows) {
      Json item = {{"nad", NADValue(row.nad)}, {"ip", row.ip}};
      for (int i = 0; i < 5; ++i) item[kCheckKeys[i]] = row.checks[i];
      for (size_t i = 0; i < row.figures.size(); ++i) {
        item[SystemVarNames[i]] = row.figures[i];
      }
      item["rtc"] = row.rtc;
      list.push_back(std::move(item));
    }
    Json doc = {{"controllers", list}};
    if (!problems.empty()) doc["errors"] = cli::ProblemsJson(problems);
    cli::AddWarnings(doc, chosen.warnings);
    cli::PrintJson(doc);
  } else {
    if (!rows.empty()) PrintTable(rows);
    cli::PrintWarnings(chosen.warnings);
    cli::PrintProblems(problems);
  }
  return problems.empty() ? cli::kExitOk : cli::kExitFailed;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<cli::NetOptions>();
  auto* sub = root.add_subcommand(
      "status",
      "Check each controller: network, ping, program, ALC file, run, scan figures, clock");
  cli::AddNetOptions(sub, *opts, true);
  cli::AddCommand(root, sub, [opts] { return RunStatus(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
