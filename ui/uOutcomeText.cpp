#include "ui/uOutcomeText.h"

#include "data/uNumText.h"
#include "ui/uCommon.h"

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

// ---- scans, unwritten values and imports ------------------------------------------

namespace {

QString NADQ(int32_t nad) {
  return ToQ(NADText(nad));
}

QString CodeText(TMessageDirection code) {
  return QString("%1 (%2)").arg(ToQ(MessageDirectionName(code))).arg(static_cast<int>(code));
}

QString Plural(int count, const char* one, const char* many) {
  return QString("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

}  // namespace

QString ScanRemarkText(const TScanRemark& remark) {
  const QString ip = ToQ(remark.IP);
  switch (remark.Kind) {
    case TScanRemarkKind::srNoNAD:
      return QString("the answer from %1 gave NAD \"%2\", which is no NAD; it was left out")
          .arg(ip, ToQ(remark.Text));
    case TScanRemarkKind::srNADZero:
      return QString(
                 "the answer from %1 gave NAD 0, the discovery address, which no workflow "
                 "addresses; it was left out")
          .arg(ip);
    case TScanRemarkKind::srSharedNAD:
      return QString("NAD %1 answered from %2 and from %3")
          .arg(NADQ(remark.NAD), ToQ(remark.FirstIP), ip);
    case TScanRemarkKind::srRefused:
      break;
  }
  if (remark.Code == md_BADPASS) {
    return QString("NAD %1 at %2 refuses the password").arg(NADQ(remark.NAD), ip);
  }
  return QString("NAD %1 at %2 answered the scan with %3")
      .arg(NADQ(remark.NAD), ip, CodeText(remark.Code));
}

QString ScanRefusalHint(TMessageDirection code) {
  if (code == md_BADPASS) {
    return QString(
               "Refuses the password (md_BADPASS, code %1): set the controllers' password "
               "in Setup")
        .arg(static_cast<int>(code));
  }
  return QString("Answered the scan with %1").arg(CodeText(code));
}

QString DiscardQuestion(const TUnwrittenCells& unwritten) {
  const bool one = unwritten.Values == 1;
  return QString("%1 on %2 %3 not written. Discard %4?")
      .arg(Plural(unwritten.Values, "value", "values"), Plural(unwritten.Tabs, "tab", "tabs"),
           one ? "is" : "are", one ? "it" : "them");
}

QString ImportSkipText(const TImportSkip& skip) {
  const bool ofEntry =
      skip.Kind == TImportSkipKind::isNoRow || skip.Kind == TImportSkipKind::isNoColumn;
  const QString name =
      ofEntry ? QString("c%1.%2").arg(NADQ(skip.NAD), ToQ(skip.Name)) : ToQ(skip.Name);
  QString why;
  switch (skip.Kind) {
    case TImportSkipKind::isNoRow:
      why = QString("no controller with NAD %1 in the table").arg(NADQ(skip.NAD));
      break;
    case TImportSkipKind::isNoColumn:
      why = QString("the tab has no column %1").arg(ToQ(skip.Name));
      break;
    case TImportSkipKind::isEmptyName:
      why = "no name";
      break;
    case TImportSkipKind::isEmptyValue:
      why = "no value";
      break;
    case TImportSkipKind::isNoFullName:
      why = "not a full name such as c12.temp";
      break;
    case TImportSkipKind::isMarkup:
      why = "the name or value is not plain text";
      break;
  }
  QString text = QString("line %1: ").arg(skip.Line);
  if (!name.isEmpty()) text += name + ": ";
  return text + why;
}

QString ImportReportSummary(const TImportReport& report, int shown) {
  const int left = static_cast<int>(report.Skipped.size());
  QStringList first;
  for (int i = 0; i < left && i < shown; ++i) {
    first << ImportSkipText(report.Skipped[static_cast<size_t>(i)]);
  }
  QString text = QString("%1 imported, %2 left out: %3")
                     .arg(Plural(report.Taken, "value", "values"))
                     .arg(left)
                     .arg(first.join("; "));
  if (left > shown) text += QString("; and %1 more").arg(left - shown);
  return text;
}
