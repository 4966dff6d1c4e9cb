#include "ui/uOutcomeText.h"

#include "data/uNumText.h"
#include "ui/uCommon.h"

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
