#include "ui/uOutcomeText.h"

#include "data/uNumText.h"

namespace {

std::string RangeText(const TValueRange& range) {
  return FormatValueText(range.Min) + " to " + FormatValueText(range.Max);
}

std::string RefusedText(TMessageDirection code) {
  return code == md_BADPASS
             ? "the controller refuses the password (response code " + std::to_string(code) + ")"
             : "the controller refused it: " + ResponseCodeText(code);
}

// Why nothing reached the controller or came back from it: its refusal when it refused,
// otherwise the controller object's own account.
std::string FailureText(TMessageDirection code, const std::string& reason) {
  return code != md_REQ ? RefusedText(code) : reason;
}

}  // namespace

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
      return name + " is read-only: " + text + " was not written";
    case TValueVerdict::vvNoValue:
      return name + " is of type " + typ + ", which carries no value: " + text + " was not written";
  }
  return {};
}

std::string ResponseCodeText(TMessageDirection code) {
  const char* what = "";
  switch (code) {
    case md_INTERNAL:
      what = "internal error";
      break;
    case md_BADCMD:
      what = "unknown command";
      break;
    case md_BADPARA:
      what = "bad parameters";
      break;
    case md_NOTREADY:
      what = "not ready";
      break;
    case md_NOPRG:
      what = "no program";
      break;
    case md_NOKERN:
      what = "no kernel";
      break;
    case md_NOSOCKET:
      what = "no socket";
      break;
    case md_NOMASTER:
      what = "no master";
      break;
    case md_BADRAM:
      what = "RAM error";
      break;
    case md_BADFLASH:
      what = "flash error";
      break;
    case md_BADPASS:
      what = "bad password";
      break;
    default:
      return "response code " + std::to_string(code);
  }
  return std::string(what) + " (response code " + std::to_string(code) + ")";
}

std::string WriteOutcomeText(const TWriteOutcome& o) {
  switch (o.Kind) {
    case TWriteKind::wkVerified:
      return {};
    case TWriteKind::wkNotHeld:
      return o.Name + ": wrote " + o.Text + ", the controller holds " + o.Held;
    case TWriteKind::wkUnverified:
      return o.Name + ": " + o.Sent + " was written but is unverified: its read-back failed (" +
             FailureText(o.ResponseCode, o.Reason) + ")";
    case TWriteKind::wkUnanswered:
      return o.Name + ": the write of " + o.Text +
             " got no answer; whether the controller took it is unknown";
    case TWriteKind::wkRejected:
      return o.Name + ": " + o.Text + " was not written: " + RefusedText(o.ResponseCode);
    case TWriteKind::wkRefused:
      return ValueRefusalText(o.Name, o.Text, o.Check);
    case TWriteKind::wkNoVariable:
      return o.Name + " is not a variable of the controller's program";
    case TWriteKind::wkNotReached:
      return o.Name + ": " + o.Text + " was not written: " + FailureText(o.ResponseCode, o.Reason);
  }
  return {};
}

std::string EepromStoreText(const TEepromStoreOutcome& o) {
  switch (o.Kind) {
    case TEepromStoreKind::esStored:
      return {};
    case TEepromStoreKind::esUnconfirmed:
      return "the EEPROM store was acknowledged but not confirmed: its read-back failed (" +
             FailureText(o.ResponseCode, o.Reason) + ")";
    case TEepromStoreKind::esRejected:
      return "the controller refused the EEPROM store: " + ResponseCodeText(o.ResponseCode);
    case TEepromStoreKind::esUnanswered:
      return "the EEPROM store got no answer; whether the controller stored is unknown";
    case TEepromStoreKind::esNotReached:
      return "the EEPROM store failed: " + FailureText(o.ResponseCode, o.Reason);
    case TEepromStoreKind::esNotRequested: {
      const TWriteOutcome& fault = o.Faults.front();
      return "the EEPROM store was not requested: " + (fault.Kind == TWriteKind::wkNoVariable
                                                           ? "the program has no " + fault.Name
                                                           : WriteOutcomeText(fault));
    }
  }
  return {};
}

std::string WithNAD(int32_t NAD, const std::string& text) {
  return "NAD " + NADText(NAD) + ": " + text;
}
