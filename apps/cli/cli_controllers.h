// The controllers a varnel-cli command works on (a scan, or one --nad at --ip) and the
// exchange of named values with them: all of a controller's names in one exchange, made of
// the workflow steps of workflows/uSteps.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "apps/cli/cli_net.h"
#include "apps/cli/cli_output.h"
#include "controller/uTarvo.h"
#include "workflows/uSteps.h"

namespace cli {

// The controllers a command works on. Not every requested NAD need have been found.
struct Chosen {
  std::unique_ptr<TTarvoList> list;
  std::vector<Problem> problems;  // requested NADs that did not answer
  std::vector<Problem> warnings;  // answers that were odd but did not stop the command
  // Controllers whose NAD answered from more than one address: a broadcast to that NAD
  // could reach either, so each is kept to the address it answered from.
  std::set<const TTarvo*> pinned;
  // Controllers of `list` whose work began while the scan still collected (see
  // ChooseControllers), and those that began so but are not in the list: kept alive until
  // that work has ended.
  std::set<const TTarvo*> startedEarly;
  std::vector<std::unique_ptr<TTarvo>> spare;

  bool Pinned(const TTarvo& T) const { return pinned.count(&T) > 0; }
};

// The discovery lists as answers, in the order they arrived (workflows' ScanAnswers, NAD 0
// kept), with its remarks worded for the command line: a NAD that does not read is named
// with its address; a NAD that answered from more than one address is named once, with
// every address in address order, so that the same network gives the same words however
// the answers raced; a controller that refused (a wrong password) is named with its
// address and what it said.
std::vector<TFoundController> ScanAnswers(const std::vector<std::string>& nads,
                                          const std::vector<std::string>& ips,
                                          const std::vector<TMessageDirection>& codes,
                                          std::vector<Problem>& warnings);
// The warning for a controller that answered the scan with a negative code:
// "NAD 11 at 127.0.0.11 refuses the password", or for any other code
// "NAD 11 at 127.0.0.11 answered the scan with md_NOTREADY (5)".
std::string RefusalText(const TFoundController& answer);

// --ip with exactly one --nad: that controller, no scan. Otherwise a scan on the adapter,
// narrowed to the --nad list (and to `onlyNads` when not empty), sorted by NAD. A --nad
// the scan did not hear from (one lost answer on a lossy link) is then addressed by its
// NAD directly, with the usual repeats, and is a problem only when that finds nothing too.
// A controller that answers as NAD 0, the discovery address, is left out with a warning,
// and a NAD 0 asked for is a problem: no request ever targets it. A controller that
// refused the scan (a wrong password) stays, with a warning, so that the command reports
// its failure rather than leaving it out unsaid. Raises UsageError for --ip without
// exactly one --nad.
//
// With `startEarly`, each controller that answers the scan, as its answer comes in, is made
// and handed to it (on the scan's listener thread), so that work on it can begin while the
// window is still open; the list then holds those very objects, in `startedEarly`. Work
// begun so must reach each controller at the address it answered from (as pinned ones
// are): whether another controller shares its NAD is known only once the window ends.
Chosen ChooseControllers(const NetOptions& o, const std::vector<int32_t>& onlyNads = {},
                         const std::function<void(TTarvo*)>& startEarly = {});

// The settings a controller gets from the options.
TCommSettings CommSettings(const NetOptions& o);

// The workflows' settings step (ApplySettings of workflows/uSteps.h) with the options; with
// --ip the address (and the port written there) again, since releasing forgets it. A
// pinned controller gets the address it answered the scan from again.
void ApplySettings(TTarvo& T, const NetOptions& o, bool pinned = false);

// Splits NAME=VALUE at the first "="; raises UsageError without one or with an empty name.
std::pair<std::string, std::string> SplitAssignment(const std::string& Text);

// Reads the names in one exchange. With ee, the EEPROM load runs first (ee_read_req set
// to 1, then polled every 50 ms for up to 5000 ms until it reads 0); a load that cannot
// run or does not finish is added to `problems`.
std::vector<ValueResult> ReadValues(TTarvo& T, const std::vector<std::string>& names, bool ee,
                                    std::vector<Problem>& problems);

// Writes the values in one exchange and reads them back in the same one (workflows'
// WriteValues): a value the value check refuses is not written. With ee, the EEPROM store
// (ee_write_magic 52917 and ee_write_req 1 in one write request) follows.
std::vector<ValueResult> WriteValues(TTarvo& T,
                                     const std::vector<std::pair<std::string, std::string>>& values,
                                     bool ee, std::vector<Problem>& problems);

}  // namespace cli
