#include "apps/cli/cli_controllers.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "apps/cli/cli_outcomes.h"
#include "comm/uCommunication.h"
#include "comm/uEthernetUtils.h"
#include "data/uNumText.h"
#include "data/uTagVars.h"

namespace cli {

namespace {

void LoadFromEeprom(TTarvo& T, std::vector<Problem>& problems) {
  // Nothing to show while the controller loads: the polls just sleep.
  TWorkflowFrontEnd quiet;
  switch (EepromLoad(T, quiet, TWorkflowClock())) {
    case TEepromLoad::elLoaded:
    case TEepromLoad::elCancelled:
      return;
    case TEepromLoad::elUnbound:
      problems.push_back({T.NAD(), "ee_read_req",
                          Exchanged(T) ? "EEPROM load not possible: " + NotAVariable("ee_read_req")
                                       : "EEPROM load failed: " + T.ErrorS});
      return;
    case TEepromLoad::elTimedOut:
      problems.push_back({T.NAD(), "ee_read_req",
                          "EEPROM load did not finish within 5000 ms; values read anyway"});
      return;
  }
}

}  // namespace

std::pair<std::string, std::string> SplitAssignment(const std::string& Text) {
  const size_t eq = Text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == Text.size()) {
    throw UsageError("expected NAME=VALUE, got '" + Text + "'");
  }
  return {Text.substr(0, eq), Text.substr(eq + 1)};
}

std::string RefusalText(const TFoundController& answer) {
  const std::string who = "NAD " + NADText(answer.NAD) + " at " + answer.IP;
  if (answer.Code == md_BADPASS) return who + " refuses the password";
  return who + " answered the scan with " + MessageDirectionName(answer.Code) + " (" +
         std::to_string(static_cast<int>(answer.Code)) + ")";
}

std::vector<TFoundController> ScanAnswers(const std::vector<std::string>& nads,
                                          const std::vector<std::string>& ips,
                                          const std::vector<TMessageDirection>& codes,
                                          std::vector<Problem>& warnings) {
  std::vector<TScanRemark> remarks;
  std::vector<TFoundController> answers = ::ScanAnswers(nads, ips, remarks, codes);
  for (const TScanRemark& r : remarks) {
    if (r.Kind == TScanRemarkKind::srRefused) {
      warnings.push_back({r.NAD, "", RefusalText({r.NAD, r.IP, r.Code}), true});
      continue;
    }
    if (r.Kind != TScanRemarkKind::srNoNAD) continue;
    warnings.push_back(
        {0, "",
         "the answer from " + r.IP + " gave '" + r.Text + "' as its NAD, which is no NAD; left out",
         true});
  }
  // Each NAD that answered from more than one address, once, in the order of arrival.
  for (size_t i = 0; i < answers.size(); ++i) {
    const int32_t nad = answers[i].NAD;
    if (!SharedNAD(answers, nad)) continue;
    bool first = true;
    for (size_t k = 0; k < i && first; ++k) first = answers[k].NAD != nad;
    if (!first) continue;
    std::vector<std::string> addresses;
    for (const TFoundController& a : answers)
      if (a.NAD == nad) addresses.push_back(a.IP);
    std::stable_sort(addresses.begin(), addresses.end(),
                     [](const auto& x, const auto& y) { return IPToInt(x) < IPToInt(y); });
    std::string text = "answered from " + addresses[0];
    for (size_t k = 1; k < addresses.size(); ++k) {
      text += (k + 1 == addresses.size() ? " and from " : ", from ") + addresses[k];
    }
    warnings.push_back({nad, "", text + ": more than one controller has this NAD"});
  }
  return answers;
}

Chosen ChooseControllers(const NetOptions& o, const std::vector<int32_t>& onlyNads,
                         const std::function<void(TTarvo*)>& startEarly) {
  Chosen chosen;
  chosen.list = std::make_unique<TTarvoList>();
  if (!o.ip.empty()) {
    if (o.nads.size() != 1) throw UsageError("--ip needs exactly one --nad");
    auto tarvo = std::make_unique<TTarvo>(static_cast<int32_t>(static_cast<uint32_t>(o.nads[0])));
    tarvo->SetIP(o.ip);
    chosen.list->Add(std::move(tarvo));
    return chosen;
  }

  // The NADs asked for, unsigned: those of --nad, narrowed further by the caller's own list.
  std::vector<uint32_t> wanted;
  for (int64_t nad : o.nads) wanted.push_back(static_cast<uint32_t>(nad));
  if (!onlyNads.empty()) {
    const auto listed = [&](uint32_t nad) {
      return std::any_of(onlyNads.begin(), onlyNads.end(),
                         [nad](int32_t n) { return NADValue(n) == nad; });
    };
    if (wanted.empty()) {
      for (int32_t nad : onlyNads) wanted.push_back(NADValue(nad));
    } else {
      std::erase_if(wanted, [&](uint32_t nad) { return !listed(nad); });
      if (wanted.empty()) return chosen;
    }
  }
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  if (!wanted.empty() && wanted.front() == 0) {
    wanted.erase(wanted.begin());
    chosen.problems.push_back(
        {0, "", "NAD 0 is the discovery address, not the NAD of a controller", true});
    if (wanted.empty()) return chosen;
  }

  TCommunicator scanner;
  ApplyNetOptions(scanner, o);
  // Controllers made as their answers came, by NAD and address.
  std::mutex earlyMutex;
  std::map<std::pair<uint32_t, std::string>, std::unique_ptr<TTarvo>> early;
  if (startEarly) {
    scanner.SetOnDiscovered([&](uint32_t nad, const std::string& ip, TMessageDirection) {
      if (nad == 0) return;
      if (!wanted.empty() && !std::binary_search(wanted.begin(), wanted.end(), nad)) return;
      TTarvo* made = nullptr;
      {
        std::lock_guard lock(earlyMutex);
        std::unique_ptr<TTarvo>& slot = early[{nad, ip}];
        if (slot) return;  // answered before (a network's copy, or a refusal then an ack)
        slot = std::make_unique<TTarvo>(static_cast<int32_t>(nad));
        slot->SetIP(ip);
        made = slot.get();
      }
      startEarly(made);
    });
  }
  scanner.Open(o.adapter);  // discovery goes out in any case; the answers tell
  std::vector<std::string> nads, ips;
  std::vector<TMessageDirection> codes;
  scanner.DetectTarvos(&nads, &ips, o.ScanWindow(), &codes);
  scanner.Disconnect();
  scanner.SetOnDiscovered(nullptr);

  std::vector<std::unique_ptr<TTarvo>> found;
  const std::vector<TFoundController> answers = ScanAnswers(nads, ips, codes, chosen.warnings);
  for (const TFoundController& a : answers) {
    if (a.NAD == 0) {
      chosen.warnings.push_back({0, "",
                                 "the controller at " + a.IP +
                                     " answered as NAD 0, the discovery address, which no "
                                     "request may target; left out",
                                 true});
      continue;
    }
    if (!wanted.empty() && !std::binary_search(wanted.begin(), wanted.end(), NADValue(a.NAD))) {
      continue;
    }
    const bool pinned = SharedNAD(answers, a.NAD);
    std::unique_ptr<TTarvo> tarvo;
    const auto begun = early.find({NADValue(a.NAD), a.IP});
    if (begun != early.end()) {
      tarvo = std::move(begun->second);
      chosen.startedEarly.insert(tarvo.get());
      early.erase(begun);
    } else {
      tarvo = std::make_unique<TTarvo>();
      tarvo->SetNAD(a.NAD);
      tarvo->SetIP(a.IP);
    }
    if (pinned) chosen.pinned.insert(tarvo.get());
    found.push_back(std::move(tarvo));
  }
  for (uint32_t nad : wanted) {
    const bool seen = std::any_of(found.begin(), found.end(),
                                  [nad](const auto& t) { return NADValue(t->NAD()) == nad; });
    if (seen) continue;
    // A controller asked for by name whose scan answer was lost still answers a ping to
    // its NAD, which has the repeats a single broadcast answer lacks.
    auto tarvo = std::make_unique<TTarvo>(static_cast<int32_t>(nad));
    if (!o.nads.empty()) {
      ApplySettings(*tarvo, o);
      const bool answered = tarvo->CheckSocket() && tarvo->CheckTarvo();
      tarvo->Disconnect();
      if (answered) {
        found.push_back(std::move(tarvo));
        continue;
      }
    }
    chosen.problems.push_back(
        {static_cast<int32_t>(nad), "", "no controller with this NAD answered"});
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return NADValue(a->NAD()) < NADValue(b->NAD());
  });
  for (auto& tarvo : found) chosen.list->Add(std::move(tarvo));
  for (auto& [key, tarvo] : early) {
    if (tarvo) chosen.spare.push_back(std::move(tarvo));
  }
  return chosen;
}

TCommSettings CommSettings(const NetOptions& o) {
  TCommSettings s;
  s.EthAdapterID = o.adapter;
  s.DirectConnection = o.direct;
  s.Password = o.password;
  s.NoRetires = o.Retries();
  s.WaitTime = o.WaitTime();
  s.LogToFile = o.log;
  s.Port = o.port;
  return s;
}

void ApplySettings(TTarvo& T, const NetOptions& o, bool pinned) {
  ::ApplySettings(T, CommSettings(o));
  const std::string ip = !o.ip.empty() ? o.ip : pinned ? T.IP() : std::string();
  if (!ip.empty()) {
    T.SetIP(ip);
    if (ip.find(':') == std::string::npos) T.SetPort(o.port);
  }
}

std::vector<ValueResult> ReadValues(TTarvo& T, const std::vector<std::string>& names, bool ee,
                                    std::vector<Problem>& problems) {
  if (ee) LoadFromEeprom(T, problems);
  TTagVarList tags;
  for (const std::string& name : names) tags.Add(MakeTag(T, name));
  if (tags.Count() > 0) T.Read(tags);
  const bool exchanged = Exchanged(T);
  std::vector<ValueResult> results;
  for (size_t i = 0; i < names.size(); ++i) {
    const TTagVar* tag = tags.Items(static_cast<int>(i));
    ValueResult r;
    r.nad = T.NAD();
    r.name = names[i];
    if (!exchanged) {
      r.error = T.ErrorS;
    } else if (const TTarvoVar* V = tag->TarvoVar()) {
      r.known = true;
      r.value = ValueText(*V);
      r.description = V->Description();
    } else {
      r.error = NotAVariable(names[i]);
    }
    results.push_back(std::move(r));
  }
  return results;
}

std::vector<ValueResult> WriteValues(TTarvo& T,
                                     const std::vector<std::pair<std::string, std::string>>& values,
                                     bool ee, std::vector<Problem>& problems) {
  std::vector<ValueResult> results;
  for (const TWriteOutcome& outcome : ::WriteValues(T, values)) {
    results.push_back(WriteResult(outcome));
  }
  if (ee) AddStoreProblems(EepromStore(T), problems);
  return results;
}

}  // namespace cli
