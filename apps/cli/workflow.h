// The technician's workflows shared by the networked varnel-cli commands: choosing the
// controllers (scan, or one --nad at --ip), handing them the settings, and exchanging
// named values with them through TTarvo.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "apps/cli/cli.h"
#include "apps/cli/cli_net.h"
#include "controller/uTarvo.h"

namespace cli {

// One problem with one controller (and, where it concerns one, one variable name). NADs
// are kept as the bit pattern of the unsigned number and shown unsigned.
struct Problem {
  int32_t nad = 0;
  std::string name;
  std::string message;
  bool noNad = false;  // concerns no controller (a file, say): shown without a NAD
};

// The controllers a command works on. Not every requested NAD need have been found.
struct Chosen {
  std::unique_ptr<TTarvoList> list;
  std::vector<Problem> problems;  // requested NADs that did not answer the scan
  std::vector<Problem> warnings;  // answers that were odd but did not stop the command
  // Controllers whose NAD answered from more than one address: a broadcast to that NAD
  // could reach either, so each is kept to the address it answered from.
  std::set<const TTarvo*> pinned;

  bool Pinned(const TTarvo& T) const { return pinned.count(&T) > 0; }
};

// One answer to a scan.
struct ScanAnswer {
  int32_t nad = 0;
  std::string ip;
};

// The discovery lists as answers, in the order they arrived. The same NAD from the same
// address is one controller answering twice and is kept once. A NAD that answered from
// more than one address stays once per address, with a warning naming the NAD and every
// address, in address order. A NAD that does not read is left out with a warning; it is never taken as 0.
std::vector<ScanAnswer> ScanAnswers(const std::vector<std::string>& nads,
                                    const std::vector<std::string>& ips,
                                    std::vector<Problem>& warnings);

// The four scan figures read by the status check, in column order.
extern const std::vector<std::string> kSystemVarNames;

// --ip with exactly one --nad: that controller, no scan. Otherwise a scan on the adapter,
// narrowed to the --nad list (and to `onlyNads` when not empty), sorted by NAD. A
// controller that answers as NAD 0, the discovery address, is left out with a warning,
// and a NAD 0 asked for is a problem: no request ever targets it. Raises UsageError for
// --ip without exactly one --nad.
Chosen ChooseControllers(const NetOptions& o, const std::vector<int32_t>& onlyNads = {});

// The desktop's settings step before a controller's first request: release the socket,
// connection mode, adapter, password, repeats, time-out, debug log, controller port; with
// --ip the address (and the port written there) again, since releasing forgets it. A
// pinned controller gets the address it answered the scan from again.
void ApplySettings(TTarvo& T, const NetOptions& o, bool pinned = false);

// "levels[3]" gives ("levels", 3); a bracket that holds no index of 0 or more stays part
// of the name, with index -1.
void SplitIndexedName(const std::string& Text, std::string& Name, int32_t& Index);

// Splits NAME=VALUE at the first "="; raises UsageError without one or with an empty name.
std::pair<std::string, std::string> SplitAssignment(const std::string& Text);

// The outcome of one name on one controller.
struct ValueResult {
  int32_t nad = 0;
  std::string name;         // as given
  bool known = false;       // bound to a variable and read in this exchange
  std::string value = "?";  // the value text read (back), "?" when not known
  std::string description;
  bool written = false;   // a write of this value went out
  bool verified = false;  // the value read back is the one written
  std::string error;      // why the name gave no value, or why the value was refused
};

// Reads the names in one exchange. With ee, the EEPROM load runs first (ee_read_req set
// to 1, then polled every 50 ms for up to 5000 ms until it reads 0); a load that cannot
// run or does not finish is added to `problems`.
std::vector<ValueResult> ReadValues(TTarvo& T, const std::vector<std::string>& names, bool ee,
                                    std::vector<Problem>& problems);

// Writes the values in one exchange and reads them back in the same one. A text that does
// not convert for its variable's type is refused and not written. With ee, the EEPROM store
// (ee_write_magic 52917 and ee_write_req 1 in one write request) follows.
std::vector<ValueResult> WriteValues(TTarvo& T,
                                     const std::vector<std::pair<std::string, std::string>>& values,
                                     bool ee, std::vector<Problem>& problems);

// Reads the controller's clock, or with write first sets it to the PC's local time, and
// leaves the clock text (empty when unknown) in T.RTCString().
void UpdateRTC(TTarvo& T, bool write);

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

// Values as JSON [{"nad","name","value","description"(,"verified")}] and as a table.
Json ValuesJson(const std::vector<ValueResult>& values, bool withVerified);
void PrintValues(const std::vector<ValueResult>& values, bool withVerified);

// Adds the values' own errors (refusals, unknown names) to `problems`.
void CollectValueProblems(const std::vector<ValueResult>& values, std::vector<Problem>& problems);

}  // namespace cli
