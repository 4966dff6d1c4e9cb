// Integer options read as every number of the tool is read from text: decimal, or
// hexadecimal after "$", "x", "X", "0x" or "0X", never octal, nothing after the digits,
// and the value within the option's range. CLI11 names the option in the message of a
// refusal and ends with the usage exit code.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>

namespace cli {

// Reads the text as an integer from min to max and leaves it in plain decimal for the
// option's own conversion ("0x1F" becomes "31", "010" becomes "10").
CLI::Validator IntegerText(int64_t min, int64_t max);

// A controller's NAD: 1 to 4294967295. NAD 0 is the discovery address, which every
// controller answers: no command may target it.
CLI::Validator NadText();

// HOST[:PORT], the port (when given) an integer text from 1 to 65535.
CLI::Validator HostAndPortText();

}  // namespace cli
