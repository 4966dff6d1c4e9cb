#include "workflows/uSteps.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdio>

#include "data/uNumText.h"
#include "workflows/uValueCheck.h"

void ApplySettings(TTarvo& T, const TCommSettings& S) {
  T.Disconnect();
  T.SetDirectConnection(S.DirectConnection);
  T.SetEthAdapterID(S.EthAdapterID);
  T.SetPassword(S.Password);
  T.Comm()->SetNoRetires(S.NoRetires);
  T.Comm()->SetWaitTime(S.WaitTime);
  T.Comm()->SetLogToFile(S.LogToFile);
  T.SetPort(S.Port);
}

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

std::unique_ptr<TTagVar> MakeTag(const TTarvo& T, const std::string& Text,
                                 const std::string& WriteValue) {
  std::string name;
  int32_t index = -1;
  SplitIndexedName(Text, name, index);
  auto tag =
      std::make_unique<TTagVar>(NADText(T.NAD()) + "." + Text, name, T.NAD(), index, WriteValue);
  tag->SetWriteRule(&CheckedWriteValue);
  return tag;
}

std::string ValueText(const TTarvoVar& V) {
  return FormatValueText(V.ValueFloat());
}

bool Exchanged(const TTarvo& T) {
  return T.ProgramState() == TProgramState::psCheckCode;
}

TEepromLoad EepromLoad(TTarvo& T, TWorkflowFrontEnd& frontEnd, const TWorkflowClock& clock,
                       const std::function<bool()>& cancelled) {
  TTagVarList tags;
  TTagVar* request = tags.Items(tags.Add(MakeTag(T, "ee_read_req", "1")));
  T.Read(tags);
  const int64_t start = clock.Ticks();
  for (;;) {
    if (request->TarvoVar() == nullptr) return TEepromLoad::elUnbound;
    if (request->TarvoVar()->ValueFloat() == 0) return TEepromLoad::elLoaded;
    if (cancelled && cancelled()) return TEepromLoad::elCancelled;
    frontEnd.Pause(kEepromPollMs);
    if (cancelled && cancelled()) return TEepromLoad::elCancelled;
    T.Read(tags);  // the write request went with the first call: this only reads
    if (clock.Ticks() - start > kEepromLoadLimitMs) {
      const TTarvoVar* V = request->TarvoVar();
      return V != nullptr && V->ValueFloat() == 0 ? TEepromLoad::elLoaded : TEepromLoad::elTimedOut;
    }
  }
}

std::array<std::string, 8> RTCWriteTexts(const TLocalTime& now) {
  return {std::to_string(now.Year),    std::to_string(now.Month),
          std::to_string(now.Day),     std::to_string(now.Hour),
          std::to_string(now.Minute),  std::to_string(now.Second),
          std::to_string(now.Weekday), "1"};
}

std::string RTCText(int year, int month, int day, int hour, int minute, int second) {
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2d  %.2d:%.2d:%.2d", year, month, day, hour,
                minute, second);
  return buffer;
}

namespace {

// The eight clock tags, with `now` to write when given.
void AddRTCTags(const TTarvo& T, TTagVarList& tags, const TLocalTime* now) {
  static const char* const kNames[8] = {"rtc_year", "rtc_month", "rtc_date",    "rtc_hour",
                                        "rtc_min",  "rtc_sec",   "rtc_weekday", "rtc_write_req"};
  std::array<std::string, 8> texts;
  if (now != nullptr) texts = RTCWriteTexts(*now);
  for (int i = 0; i < 8; ++i) {
    auto tag = std::make_unique<TTagVar>(NADText(T.NAD()) + "." + kNames[i], kNames[i], T.NAD(), -1,
                                         texts[i]);
    tag->SetWriteRule(&CheckedWriteValue);
    tags.Add(std::move(tag));
  }
}

// The clock text from the eight tags AddRTCTags put at `first`, after the Read; empty
// when the clock was not read.
std::string RTCTextOfTags(const TTarvo& T, const TTagVarList& tags, int first) {
  // Values from an earlier exchange are no clock reading.
  if (!Exchanged(T) || first < 0 || first + 8 > tags.Count()) return "";
  for (int i = 0; i < 7; ++i) {
    if (tags.Items(first + i)->TarvoVar() == nullptr) return "";
  }
  int v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = static_cast<int>(tags.Items(first + i)->TarvoVar()->ValueFloat());
  }
  return RTCText(v[0], v[1], v[2], v[3], v[4], v[5]);
}

}  // namespace

void UpdateRTC(TTarvo& T, const TLocalTime* now) {
  TTagVarList tags;
  AddRTCTags(T, tags, now);
  T.Read(tags);
  T.SetRTCString(RTCTextOfTags(T, tags, 0));
}

std::vector<std::string> ReadFiguresAndClock(TTarvo& T, const std::vector<std::string>& names) {
  // The checks have opened the link and read the variable list: the exchange need not walk
  // those steps again.
  T.ResumeAfterChecks();
  TTagVarList tags;
  for (const std::string& name : names) tags.Add(MakeTag(T, name + "[0]"));
  const int clock = tags.Count();
  AddRTCTags(T, tags, nullptr);
  T.Read(tags);
  const bool exchanged = Exchanged(T);
  std::vector<std::string> figures;
  for (int i = 0; i < clock; ++i) {
    const TTarvoVar* V = tags.Items(i)->TarvoVar();
    figures.push_back(exchanged && V != nullptr ? ValueText(*V) : "?");
  }
  T.SetRTCString(RTCTextOfTags(T, tags, clock));
  return figures;
}

std::vector<TFoundController> ScanAnswers(const std::vector<std::string>& NADList,
                                          const std::vector<std::string>& IPList,
                                          std::vector<TScanRemark>& remarks,
                                          const std::vector<TMessageDirection>& Codes) {
  std::vector<TFoundController> found;
  // Where each answer's refusal remark is, so that a later acknowledgement of the same
  // controller can take it back.
  std::vector<std::ptrdiff_t> refusalRemark;
  const size_t count = std::min(NADList.size(), IPList.size());
  for (size_t i = 0; i < count; ++i) {
    const std::string& ip = IPList[i];
    const TMessageDirection code = i < Codes.size() ? Codes[i] : md_ACK;
    int32_t nad = 0;
    if (!ParseNADText(NADList[i], nad)) {
      remarks.push_back({TScanRemarkKind::srNoNAD, 0, ip, "", NADList[i]});
      continue;
    }
    const auto same = std::find_if(found.begin(), found.end(), [&](const TFoundController& f) {
      return f.NAD == nad && f.IP == ip;
    });
    if (same != found.end()) {
      // A copy of an answer, or the controller answered twice. It is there and knows the
      // password when any of its answers says so.
      const auto at = static_cast<size_t>(same - found.begin());
      if (code == md_ACK && same->Refused()) {
        same->Code = md_ACK;
        if (refusalRemark[at] >= 0) {
          remarks.erase(remarks.begin() + refusalRemark[at]);
          for (std::ptrdiff_t& r : refusalRemark) {
            if (r > refusalRemark[at]) --r;
          }
          refusalRemark[at] = -1;
        }
      }
      continue;
    }
    if (nad == 0) {
      remarks.push_back({TScanRemarkKind::srNADZero, 0, ip, "", ""});
    } else {
      const auto first = std::find_if(found.begin(), found.end(),
                                      [nad](const TFoundController& f) { return f.NAD == nad; });
      if (first != found.end()) {
        remarks.push_back({TScanRemarkKind::srSharedNAD, nad, ip, first->IP, ""});
      }
    }
    refusalRemark.push_back(-1);
    if (code != md_ACK && nad != 0) {
      refusalRemark.back() = static_cast<std::ptrdiff_t>(remarks.size());
      remarks.push_back({TScanRemarkKind::srRefused, nad, ip, "", "", code});
    }
    found.push_back({nad, ip, code});
  }
  return found;
}

bool SharedNAD(const std::vector<TFoundController>& answers, int32_t NAD) {
  return std::count_if(answers.begin(), answers.end(),
                       [NAD](const TFoundController& f) { return f.NAD == NAD; }) > 1;
}

std::vector<TFoundController> FoundControllers(const std::vector<std::string>& NADList,
                                               const std::vector<std::string>& IPList,
                                               const std::vector<TMessageDirection>& Codes,
                                               std::vector<TScanRemark>& remarks) {
  std::vector<TFoundController> found = ScanAnswers(NADList, IPList, remarks, Codes);
  std::erase_if(found, [](const TFoundController& f) { return f.NAD == 0; });
  return found;
}

int FindVarName(const std::vector<std::string>& VarNames, const std::string& Key) {
  const auto same = [&Key](const std::string& name) {
    return name.size() == Key.size() &&
           std::equal(name.begin(), name.end(), Key.begin(), [](unsigned char x, unsigned char y) {
             return std::tolower(x) == std::tolower(y);
           });
  };
  const auto found = std::find_if(VarNames.begin(), VarNames.end(), same);
  return found == VarNames.end() ? -1 : static_cast<int>(found - VarNames.begin());
}

namespace {

TImportSkipKind ImportSkipKind(TValueFileSkipKind kind) {
  switch (kind) {
    case TValueFileSkipKind::vsEmptyName:
      return TImportSkipKind::isEmptyName;
    case TValueFileSkipKind::vsEmptyValue:
      return TImportSkipKind::isEmptyValue;
    case TValueFileSkipKind::vsNoFullName:
      return TImportSkipKind::isNoFullName;
    case TValueFileSkipKind::vsMarkup:
      break;
  }
  return TImportSkipKind::isMarkup;
}

}  // namespace

TImportReport ImportEntries(const std::vector<TValueFileEntry>& Entries,
                            const std::vector<std::string>& VarNames, TVSTTable& table,
                            const std::vector<TValueFileSkip>& FileSkips) {
  TImportReport report;
  for (const TValueFileSkip& skip : FileSkips) {
    report.Skipped.push_back({ImportSkipKind(skip.Kind), skip.Line, 0, skip.Name});
  }
  for (const TValueFileEntry& entry : Entries) {
    const auto row = std::find_if(table.Rows().begin(), table.Rows().end(), [&](const auto& r) {
      return r->Tarvo != nullptr && r->Tarvo->NAD() == entry.NAD;
    });
    const std::string key = ValueFileKey(entry);
    if (row == table.Rows().end()) {
      report.Skipped.push_back({TImportSkipKind::isNoRow, entry.Line, entry.NAD, key});
      continue;
    }
    TTreeVar* cell = (*row)->Cell(FindVarName(VarNames, key));
    if (cell == nullptr) {
      report.Skipped.push_back({TImportSkipKind::isNoColumn, entry.Line, entry.NAD, key});
      continue;
    }
    cell->SetCaption(entry.Value);
    cell->AwaitWrite = true;
    ++report.Taken;
  }
  std::stable_sort(report.Skipped.begin(), report.Skipped.end(),
                   [](const TImportSkip& a, const TImportSkip& b) { return a.Line < b.Line; });
  return report;
}
