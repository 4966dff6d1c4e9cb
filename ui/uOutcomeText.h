// How the window words what the workflows hand back as data: what became of writes and
// EEPROM stores (the status line and the hint of a cell whose write did not simply take),
// odd scan answers and a controller that refused, values that would be thrown away, and
// what an import left out. One place, so that a hint and the status line say the same.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "workflows/uSteps.h"
#include "workflows/uWrites.h"

// Why a value check refused a text for the variable `name`, naming the value and the range
// or the reason: "70000 does not fit setpoint (word, 0 to 65535)".
std::string ValueRefusalText(const std::string& name, const std::string& text,
                             const TValueCheck& check);
// A refusal code of the controller: "bad password (response code 12)".
std::string ResponseCodeText(TMessageDirection code);

// What became of one write, without the NAD.
std::string WriteOutcomeText(const TWriteOutcome& outcome);
// What became of an EEPROM store, without the NAD.
std::string EepromStoreText(const TEepromStoreOutcome& outcome);
// A status line entry: "NAD 10: " and the text.
std::string WithNAD(int32_t NAD, const std::string& text);

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
