#include "apps/cli/workflow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <thread>

#include "comm/uCommunication.h"
#include "comm/uEthernetUtils.h"
#include "data/uNumText.h"
#include "data/uTagVars.h"

namespace cli {

const std::vector<std::string> kSystemVarNames = {"scan_frequency", "scan_time", "scan_time_max",
                                                  "scan_overrun"};

namespace {

constexpr int kEepromPollMs = 50;
constexpr int kEepromLoadLimitMs = 5000;
const char* const kEepromWriteMagic = "52917";

// A Read that reached its exchange leaves the link ready for the next program check;
// any failure sends it back to opening the socket.
bool Exchanged(const TTarvo& T) {
  return T.ProgramState() == TProgramState::psCheckCode;
}

std::string FullName(const TTarvo& T, const std::string& name) {
  return NADText(T.NAD()) + "." + name;
}

// A tag for a name as the user writes it, "levels[3]" included.
TTagVar* NewTag(const TTarvo& T, const std::string& text, const std::string& writeValue) {
  std::string name;
  int32_t index = -1;
  SplitIndexedName(text, name, index);
  return new TTagVar(FullName(T, text), name, T.NAD(), index, writeValue);
}

std::string NotAVariable(const std::string& name) {
  return "'" + name + "' is not a variable of the controller's program";
}

std::string ValueText(const TTarvoVar& V) {
  return FormatValueText(V.ValueFloat());
}

// The raw value a write text stands for with the variable's type, found the way the tag
// binding finds it: on a scratch copy of the variable.
bool ExpectedRaw(const TTarvoVar& V, const std::string& text, int32_t& raw) {
  TTarvoVar probe;
  probe.Assign(&V);
  TTagVar tag("", V.Name(), 0, -1, text);
  tag.SetTarvoVar(&probe);
  if (!tag.WriteError().empty()) return false;
  raw = probe.TarvoValue();
  return true;
}

void EepromLoad(TTarvo& T, std::vector<Problem>& problems) {
  TTagVarList tags;
  TTagVar* request = NewTag(T, "ee_read_req", "1");
  tags.Add(request);
  T.Read(tags);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (request->TarvoVar() == nullptr) {
      problems.push_back({T.NAD(), "ee_read_req",
                          Exchanged(T) ? "EEPROM load not possible: " + NotAVariable("ee_read_req")
                                       : "EEPROM load failed: " + T.ErrorS});
      return;
    }
    if (request->TarvoVar()->ValueFloat() == 0) return;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed > std::chrono::milliseconds(kEepromLoadLimitMs)) {
      problems.push_back({T.NAD(), "ee_read_req",
                          "EEPROM load did not finish within 5000 ms; values read anyway"});
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kEepromPollMs));
    T.Read(tags);  // the write request went with the first call: this only reads
  }
}

void EepromStore(TTarvo& T, std::vector<Problem>& problems) {
  TTagVarList tags;
  tags.Add(NewTag(T, "ee_write_magic", kEepromWriteMagic));
  tags.Add(NewTag(T, "ee_write_req", "1"));
  T.Read(tags);
  if (!Exchanged(T)) {
    problems.push_back({T.NAD(), "ee_write_req", "EEPROM store failed: " + T.ErrorS});
    return;
  }
  for (int i = 0; i < tags.Count(); ++i) {
    const TTagVar* tag = tags.Items(i);
    if (tag->TarvoVar() == nullptr) {
      problems.push_back(
          {T.NAD(), tag->Name(), "EEPROM store not possible: " + NotAVariable(tag->Name())});
    } else if (!tag->WriteError().empty()) {
      problems.push_back({T.NAD(), tag->Name(), tag->WriteError()});
    }
  }
}

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

void SplitIndexedName(const std::string& Text, std::string& Name, int32_t& Index) {
  Name = Text;
  Index = -1;
  const size_t p = Text.find('[');
  const size_t q = Text.find(']');
  if (p == std::string::npos || q == std::string::npos || q <= p + 1) return;
  int32_t value = 0;
  if (!ParseIntegerText(std::string_view(Text).substr(p + 1, q - p - 1), value) || value < 0) {
    return;
  }
  Index = value;
  Name = Text.substr(0, p) + Text.substr(q + 1);
}

std::pair<std::string, std::string> SplitAssignment(const std::string& Text) {
  const size_t eq = Text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == Text.size()) {
    throw UsageError("expected NAME=VALUE, got '" + Text + "'");
  }
  return {Text.substr(0, eq), Text.substr(eq + 1)};
}

std::vector<ScanAnswer> ScanAnswers(const std::vector<std::string>& nads,
                                    const std::vector<std::string>& ips,
                                    std::vector<Problem>& warnings) {
  std::vector<ScanAnswer> answers;
  for (size_t i = 0; i < nads.size() && i < ips.size(); ++i) {
    ScanAnswer a;
    a.ip = ips[i];
    if (!ParseNADText(nads[i], a.nad)) {
      warnings.push_back({0, "",
                          "the answer from " + a.ip + " gave '" + nads[i] +
                              "' as its NAD, which is no NAD; left out",
                          true});
      continue;
    }
    const bool repeated = std::any_of(answers.begin(), answers.end(), [&a](const ScanAnswer& b) {
      return b.nad == a.nad && b.ip == a.ip;
    });
    if (!repeated) answers.push_back(std::move(a));
  }
  // Each NAD that answered from more than one address, once, in the order of arrival.
  for (size_t i = 0; i < answers.size(); ++i) {
    const int32_t nad = answers[i].nad;
    bool first = true;
    for (size_t k = 0; k < i && first; ++k) first = answers[k].nad != nad;
    if (!first) continue;
    std::vector<std::string> addresses;
    for (const ScanAnswer& a : answers)
      if (a.nad == nad) addresses.push_back(a.ip);
    if (addresses.size() < 2) continue;
    // In address order, so that the same network gives the same words however the
    // answers raced.
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

Chosen ChooseControllers(const NetOptions& o, const std::vector<int32_t>& onlyNads) {
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
  scanner.Open(o.adapter);  // discovery goes out in any case; the answers tell
  std::vector<std::string> nads, ips;
  scanner.DetectTarvos(&nads, &ips, o.ScanWindow());
  scanner.Disconnect();

  std::vector<std::unique_ptr<TTarvo>> found;
  const std::vector<ScanAnswer> answers = ScanAnswers(nads, ips, chosen.warnings);
  for (const ScanAnswer& a : answers) {
    if (a.nad == 0) {
      chosen.warnings.push_back({0, "",
                                 "the controller at " + a.ip +
                                     " answered as NAD 0, the discovery address, which no "
                                     "request may target; left out",
                                 true});
      continue;
    }
    if (!wanted.empty() && !std::binary_search(wanted.begin(), wanted.end(), NADValue(a.nad))) {
      continue;
    }
    auto tarvo = std::make_unique<TTarvo>();
    tarvo->SetNAD(a.nad);
    tarvo->SetIP(a.ip);
    const bool shared = std::count_if(answers.begin(), answers.end(),
                                      [&a](const ScanAnswer& b) { return b.nad == a.nad; }) > 1;
    if (shared) chosen.pinned.insert(tarvo.get());
    found.push_back(std::move(tarvo));
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return NADValue(a->NAD()) < NADValue(b->NAD());
  });
  for (uint32_t nad : wanted) {
    const bool seen = std::any_of(found.begin(), found.end(),
                                  [nad](const auto& t) { return NADValue(t->NAD()) == nad; });
    if (!seen) {
      chosen.problems.push_back(
          {static_cast<int32_t>(nad), "", "no controller with this NAD answered"});
    }
  }
  for (auto& tarvo : found) chosen.list->Add(std::move(tarvo));
  return chosen;
}

void ApplySettings(TTarvo& T, const NetOptions& o, bool pinned) {
  T.Disconnect();
  T.SetDirectConnection(o.direct);
  T.SetEthAdapterID(o.adapter);
  T.SetPassword(o.password);
  T.Comm()->SetNoRetires(o.Retries());
  T.Comm()->SetWaitTime(o.WaitTime());
  T.Comm()->SetLogToFile(o.log);
  T.SetPort(o.port);
  const std::string ip = !o.ip.empty() ? o.ip : pinned ? T.IP() : std::string();
  if (!ip.empty()) {
    T.SetIP(ip);
    if (ip.find(':') == std::string::npos) T.SetPort(o.port);
  }
}

std::vector<ValueResult> ReadValues(TTarvo& T, const std::vector<std::string>& names, bool ee,
                                    std::vector<Problem>& problems) {
  if (ee) EepromLoad(T, problems);
  TTagVarList tags;
  for (const std::string& name : names) tags.Add(NewTag(T, name, ""));
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
  TTagVarList tags;
  for (const auto& [name, value] : values) tags.Add(NewTag(T, name, value));
  if (tags.Count() > 0) T.Read(tags);
  const bool exchanged = Exchanged(T);
  std::vector<ValueResult> results;
  for (size_t i = 0; i < values.size(); ++i) {
    const TTagVar* tag = tags.Items(static_cast<int>(i));
    const std::string& text = values[i].second;
    ValueResult r;
    r.nad = T.NAD();
    r.name = values[i].first;
    const TTarvoVar* V = tag->TarvoVar();
    if (!exchanged) {
      // Bound means the write went out before the read-back failed.
      r.written = V != nullptr && tag->WriteError().empty();
      r.error = T.ErrorS;
    } else if (V == nullptr) {
      r.error = NotAVariable(r.name);
    } else {
      r.known = true;
      r.value = ValueText(*V);
      r.description = V->Description();
      int32_t expected = 0;
      if (!tag->WriteError().empty()) {
        r.error = tag->WriteError();
      } else if (TypWidth(V->Typ()) == 0) {
        r.error = "'" + r.name + "' is of type " + TypWord(V->Typ()) + ", which carries no value";
      } else if (ExpectedRaw(*V, text, expected)) {
        r.written = true;
        r.verified = expected == V->TarvoValue();
        if (!r.verified) {
          r.error = "wrote " + text + " but the controller holds " + r.value;
        }
      }
    }
    results.push_back(std::move(r));
  }
  if (ee) EepromStore(T, problems);
  return results;
}

void UpdateRTC(TTarvo& T, bool write) {
  static const char* const kNames[] = {"rtc_year", "rtc_month", "rtc_date",    "rtc_hour",
                                       "rtc_min",  "rtc_sec",   "rtc_weekday", "rtc_write_req"};
  std::string texts[8];
  if (write) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int parts[7] = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min,         local.tm_sec,     local.tm_wday};
    for (int i = 0; i < 7; ++i) texts[i] = std::to_string(parts[i]);
    texts[7] = "1";
  }
  TTagVarList tags;
  for (int i = 0; i < 8; ++i) {
    tags.Add(new TTagVar(FullName(T, kNames[i]), kNames[i], T.NAD(), -1, texts[i]));
  }
  T.Read(tags);
  std::string text;
  bool known = Exchanged(T);
  for (int i = 0; i < 7 && known; ++i) known = tags.Items(i)->TarvoVar() != nullptr;
  if (known) {
    int v[6];
    for (int i = 0; i < 6; ++i) v[i] = static_cast<int>(tags.Items(i)->TarvoVar()->ValueFloat());
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2d  %.2d:%.2d:%.2d", v[0], v[1], v[2], v[3],
                  v[4], v[5]);
    text = buffer;
  }
  T.SetRTCString(text);
}

Progress::Progress(int total) : fTotal(total), fShow(total > 1 && StderrIsTerminal()) {}

Progress::~Progress() {
  if (fShow) std::cerr << "\r\033[K" << std::flush;
}

void Progress::Step(int index, const std::string& text) {
  if (!fShow) return;
  std::cerr << "\r\033[K[" << index + 1 << "/" << fTotal << "] " << text << std::flush;
}

Json ProblemsJson(const std::vector<Problem>& problems) {
  Json list = Json::array();
  for (const Problem& p : problems) {
    list.push_back({{"nad", NADValue(p.nad)}, {"name", p.name}, {"message", p.message}});
  }
  return list;
}

namespace {

void PrintLines(const char* kind, const std::vector<Problem>& problems) {
  for (const Problem& p : problems) {
    std::cerr << kind << ": ";
    if (!p.noNad) {
      std::cerr << "NAD " << NADText(p.nad);
      if (!p.name.empty()) std::cerr << " " << p.name;
      std::cerr << ": ";
    }
    std::cerr << p.message << "\n";
  }
}

}  // namespace

void PrintProblems(const std::vector<Problem>& problems) {
  PrintLines("error", problems);
}

void PrintWarnings(const std::vector<Problem>& warnings) {
  PrintLines("warning", warnings);
}

void AddWarnings(Json& doc, const std::vector<Problem>& warnings) {
  if (!warnings.empty()) doc["warnings"] = ProblemsJson(warnings);
}

Json ValuesJson(const std::vector<ValueResult>& values, bool withVerified) {
  Json list = Json::array();
  for (const ValueResult& v : values) {
    Json item = {{"nad", NADValue(v.nad)},
                 {"name", v.name},
                 {"value", v.value},
                 {"description", v.description}};
    if (withVerified) item["verified"] = v.verified;
    list.push_back(std::move(item));
  }
  return list;
}

void PrintValues(const std::vector<ValueResult>& values, bool withVerified) {
  size_t nameWidth = 4, valueWidth = 5;
  for (const ValueResult& v : values) {
    nameWidth = std::max(nameWidth, v.name.size());
    valueWidth = std::max(valueWidth, v.value.size());
  }
  std::cout << Pad("NAD", 6) << Pad("NAME", nameWidth + 2) << Pad("VALUE", valueWidth + 2)
            << (withVerified ? "VERIFIED  " : "") << "DESCRIPTION\n";
  for (const ValueResult& v : values) {
    std::cout << Pad(NADText(v.nad), 6) << Pad(v.name, nameWidth + 2)
              << Pad(v.value, valueWidth + 2)
              << (withVerified ? Pad(v.verified ? "yes" : "no", 10) : "") << v.description << "\n";
  }
}

void CollectValueProblems(const std::vector<ValueResult>& values, std::vector<Problem>& problems) {
  for (const ValueResult& v : values) {
    if (!v.error.empty()) problems.push_back({v.nad, v.name, v.error});
  }
}

}  // namespace cli
