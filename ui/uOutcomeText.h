// The window's words for what the workflows hand back as data: odd scan answers, a
// controller that refused, values that would be thrown away, what an import left out.
#pragma once

#include <QString>
#include <QStringList>

#include "workflows/uSteps.h"

// One line per remark: "NAD 10 answered from 127.0.0.10 and from 127.0.0.11",
// "NAD 11 at 127.0.0.11 refuses the password", ...
QString ScanRemarkText(const TScanRemark& remark);

// The hint of a refusing controller's NAD and IP cells: what it said and what to do.
QString ScanRefusalHint(TMessageDirection code);

// "3 values on 2 tabs are not written. Discard them?"
QString DiscardQuestion(const TUnwrittenCells& unwritten);

// One line per entry left out: "line 4: c99.temp: no controller with NAD 99 in the table".
QString ImportSkipText(const TImportSkip& skip);
// The status line's summary: the counts and the first `shown` entries left out.
QString ImportReportSummary(const TImportReport& report, int shown = 3);
