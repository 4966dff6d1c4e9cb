// How varnel-cli words what the workflows report of writes: the value results of write and
// import --write, and the problems of an EEPROM store. One place, so that every command
// says the same of the same outcome.
#pragma once

#include <string>
#include <vector>

#include "apps/cli/cli_output.h"
#include "workflows/uWrites.h"

namespace cli {

// Why a controller did not answer its ping: "PLC not responding!", or, when it answered
// with a refusal of the password, "PLC refuses the password!".
std::string PingFailureText(const TTarvo& T);

// "'temp2' is not a variable of the controller's program".
std::string NotAVariable(const std::string& name);

// Why a value check refused a text for the variable `name`, naming the value and the range
// or the reason: "70000 does not fit setpoint (word, 0 to 65535)".
std::string ValueRefusalText(const std::string& name, const std::string& text,
                             const TValueCheck& check);

// One write's outcome as a value result: the value read back, or the value sent when the
// read-back was lost; whether it was written and verified; the error when it was not both.
ValueResult WriteResult(const TWriteOutcome& outcome);

// An EEPROM store that was not confirmed, as problems (none when it was).
void AddStoreProblems(const TEepromStoreOutcome& outcome, std::vector<Problem>& problems);

}  // namespace cli
