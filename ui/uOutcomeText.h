// How the window words what the workflows report of writes: the status line and the hint
// of a cell whose write did not simply take. One place, so that a cell's hint and the
// status line say the same.
#pragma once

#include <string>

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
