// How varnel-cli shows what a command found: problems and warnings, values, progress; as
// text on stdout and stderr, or in the JSON document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/cli/cli.h"

namespace cli {

// One problem with one controller (and, where it concerns one, one variable name). NADs
// are kept as the bit pattern of the unsigned number and shown unsigned.
struct Problem {
  int32_t nad = 0;
  std::string name;
  std::string message;
  bool noNad = false;  // concerns no controller (a file, say): shown without a NAD
};

// The outcome of one name on one controller.
struct ValueResult {
  int32_t nad = 0;
  std::string name;         // as given
  bool known = false;       // bound to a variable and read in this exchange
  std::string value = "?";  // the value text read (back), "?" when not known
  std::string description;
  bool written = false;   // the controller took the value or acknowledged its write
  bool verified = false;  // the value read back is the one written
  std::string error;      // why the name gave no value, or why the value was refused
};

// Shows "[i/n] text" on stderr while work over several controllers runs, when stderr is a
// terminal; the line is removed when done.
class Progress {
 public:
  explicit Progress(int total);
  ~Progress();
  void Step(int index, const std::string& text);

 private:
  int fTotal;
  bool fShow;
};

// Problems as JSON [{"nad":..,"name":..,"message":..}] and as lines on stderr.
Json ProblemsJson(const std::vector<Problem>& problems);
void PrintProblems(const std::vector<Problem>& problems);

// Warnings as "warning: NAD n: message" lines on stderr, and in a document as
// "warnings" (shaped as "errors" are) when there are any.
void PrintWarnings(const std::vector<Problem>& warnings);
void AddWarnings(Json& doc, const std::vector<Problem>& warnings);

// The text followed by spaces up to the width: a column of a table printed as text.
std::string Pad(const std::string& text, size_t width);

// Values as JSON [{"nad","name","value","description"(,"written","verified")}] and as a
// table.
Json ValuesJson(const std::vector<ValueResult>& values, bool withVerified);
void PrintValues(const std::vector<ValueResult>& values, bool withVerified);

// Adds the values' own errors (refusals, unknown names) to `problems`.
void CollectValueProblems(const std::vector<ValueResult>& values, std::vector<Problem>& problems);

}  // namespace cli
