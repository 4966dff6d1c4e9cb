// varnel-cli rtc [--sync]: the controllers' clocks; with --sync each is first set to the
// PC's local time, taken at its own turn, and read back.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_fleet.h"
#include "data/uErrors.h"
#include "data/uNumText.h"

namespace {

using cli::Json;

struct RtcOptions {
  cli::NetOptions net;
  bool sync = false;
};

int RunRtc(const RtcOptions& opts) {
  const cli::NetOptions& o = opts.net;
  cli::Chosen chosen;
  std::vector<cli::Problem> problems;
  using TClock = std::pair<int32_t, std::string>;
  const std::vector<TClock> clocks = cli::ChooseAndCollect<TClock>(
      o, chosen, opts.sync ? "setting the clock of NAD" : "reading the clock of NAD",
      [&](TTarvo& T, bool pinned, std::vector<cli::Problem>& own) -> std::optional<TClock> {
        cli::ApplySettings(T, o, pinned);
        T.SetRTCString("");
        try {
          // The PC's time is taken at each controller's own turn.
          const TLocalTime now = TWorkflowClock().Now();
          UpdateRTC(T, opts.sync ? &now : nullptr);
        } catch (const EVarnelError& e) {
          own.push_back({T.NAD(), "", e.what()});
        }
        T.Disconnect();
        if (T.RTCString().empty()) {
          own.push_back({T.NAD(), "",
                         T.ProgramState() == TProgramState::psCheckCode
                             ? "the controller's program lacks some of the clock variables"
                             : T.ErrorS});
        }
        return TClock{T.NAD(), T.RTCString()};
      },
      problems);
  if (chosen.list->Count() == 0 && problems.empty()) {
    problems.push_back({0, "", "no controller answered"});
  }
  if (o.json) {
    Json list = Json::array();
    for (const auto& [nad, rtc] : clocks) list.push_back({{"nad", NADValue(nad)}, {"rtc", rtc}});
    Json doc = {{"controllers", list}};
    if (!problems.empty()) doc["errors"] = cli::ProblemsJson(problems);
    cli::AddWarnings(doc, chosen.warnings);
    cli::PrintJson(doc);
  } else {
    for (const auto& [nad, rtc] : clocks) {
      std::cout << "NAD " << NADText(nad) << "  " << (rtc.empty() ? "?" : rtc) << "\n";
    }
    cli::PrintWarnings(chosen.warnings);
    cli::PrintProblems(problems);
  }
  return problems.empty() ? cli::kExitOk : cli::kExitFailed;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<RtcOptions>();
  auto* sub = root.add_subcommand("rtc", "Read the controllers' clocks, or set them (--sync)");
  sub->add_flag("--sync", opts->sync, "Set each clock to the PC's local time, then read it");
  cli::AddNetOptions(sub, opts->net, true);
  cli::AddCommand(root, sub, [opts] { return RunRtc(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
