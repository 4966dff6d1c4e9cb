#include "apps/cli/cli_outcomes.h"

#include "data/uNumText.h"
#include "protocol/uQLink.h"

namespace cli {

namespace {

std::string RangeText(const TValueRange& range) {
  return FormatValueText(range.Min) + " to " + FormatValueText(range.Max);
}

std::string RefusedText(TMessageDirection code) {
  return code == md_BADPASS
             ? "the controller refuses the password (" + MessageDirectionName(code) + ")"
             : "the controller refused it (" + MessageDirectionName(code) + ")";
}

// Why nothing reached the controller or came back from it: its refusal when it refused,
// otherwise the controller object's own account.
std::string FailureText(const TWriteOutcome& o) {
  return o.ResponseCode != md_REQ ? RefusedText(o.ResponseCode) : o.Reason;
}

}  // namespace

std::string PingFailureText(const TTarvo& T) {
  return T.RefusalCode() == md_BADPASS ? "PLC refuses the password!" : "PLC not responding!";
}

std::string NotAVariable(const std::string& name) {
  return "'" + name + "' is not a variable of the controller's program";
}

std::string ValueRefusalText(const std::string& name, const std::string& text,
                             const TValueCheck& check) {
  const std::string typ = TypWord(check.Typ);
  switch (check.Verdict) {
    case TValueVerdict::vvAccepted:
      return {};
    case TValueVerdict::vvNotANumber:
      return "\"" + text + "\" is not a valid " + typ + " value for " + name;
    case TValueVerdict::vvNotWhole:
      return "\"" + text + "\" is not a valid " + typ + " value for " + name +
             ": it takes whole numbers from " + RangeText(check.Range);
    case TValueVerdict::vvOutOfRange:
      return text + " does not fit " + name + " (" + typ + ", " + RangeText(check.Range) + ")";
    case TValueVerdict::vvTooSmall:
      return text + " does not fit " + name + " (" + typ + ": 0, or a magnitude from " +
             FormatValueText(check.Range.Smallest) + " to " + FormatValueText(check.Range.Max) +
             ")";
    case TValueVerdict::vvReadOnly:
      return "'" + name + "' is read-only; " + text + " was not written";
    case TValueVerdict::vvNoValue:
      return "'" + name + "' is of type " + typ + ", which carries no value; " + text +
             " was not written";
  }
  return {};
}

ValueResult WriteResult(const TWriteOutcome& o) {
  ValueResult r;
  r.nad = o.NAD;
  r.name = o.Name;
  r.description = o.Description;
  r.written = o.Written();
  r.verified = o.Kind == TWriteKind::wkVerified;
  if (!o.Held.empty()) {
    r.known = true;
    r.value = o.Held;
  }
  switch (o.Kind) {
    case TWriteKind::wkVerified:
      break;
    case TWriteKind::wkNotHeld:
      r.error = "wrote " + o.Text + " but the controller holds " + o.Held;
      break;
    case TWriteKind::wkUnverified:
      // The value sent is all there is to show: the write went out and was acknowledged.
      r.value = o.Sent;
      r.error = "written, but not verified: its read-back failed (" + FailureText(o) + ")";
      break;
    case TWriteKind::wkUnanswered:
      r.error = "the write got no answer; whether the controller took " + o.Text + " is unknown";
      break;
    case TWriteKind::wkRejected:
      r.error = o.Text + " was not written: " + RefusedText(o.ResponseCode);
      break;
    case TWriteKind::wkRefused:
      r.error = ValueRefusalText(o.Name, o.Text, o.Check);
      break;
    case TWriteKind::wkNoVariable:
      r.error = NotAVariable(o.Name);
      break;
    case TWriteKind::wkNotReached:
      r.error = FailureText(o);
      break;
  }
  return r;
}

void AddStoreProblems(const TEepromStoreOutcome& o, std::vector<Problem>& problems) {
  switch (o.Kind) {
    case TEepromStoreKind::esStored:
      return;
    case TEepromStoreKind::esUnconfirmed:
      problems.push_back({o.NAD, "ee_write_req",
                          "EEPROM store acknowledged but not confirmed: its read-back failed (" +
                              (o.ResponseCode != md_REQ ? RefusedText(o.ResponseCode) : o.Reason) +
                              ")"});
      return;
    case TEepromStoreKind::esRejected:
      problems.push_back(
          {o.NAD, "ee_write_req", "EEPROM store refused: " + RefusedText(o.ResponseCode)});
      return;
    case TEepromStoreKind::esUnanswered:
      problems.push_back({o.NAD, "ee_write_req",
                          "EEPROM store got no answer; whether the controller stored is unknown"});
      return;
    case TEepromStoreKind::esNotReached:
      problems.push_back({o.NAD, "ee_write_req",
                          "EEPROM store failed: " +
                              (o.ResponseCode != md_REQ ? RefusedText(o.ResponseCode) : o.Reason)});
      return;
    case TEepromStoreKind::esNotRequested:
      for (const TWriteOutcome& f : o.Faults) {
        problems.push_back(
            {o.NAD, f.Name,
             "EEPROM store not possible: " + (f.Kind == TWriteKind::wkNoVariable
                                                  ? NotAVariable(f.Name)
                                                  : ValueRefusalText(f.Name, f.Text, f.Check))});
      }
      return;
  }
}

}  // namespace cli
