// Work on every chosen controller, --parallel of them at once (workflows' fleet runner),
// with the progress line and Ctrl+C: the front-end's part of a run over many controllers.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli/cli_controllers.h"

namespace cli {

// Runs `step` for each controller of `targets`, in any order, at most o.parallel at a time;
// `step` fills what belongs to its index only. The progress line (when stderr is a
// terminal) counts the controllers done and names the last one with `doing` ("status of
// NAD"). Ctrl+C or SIGTERM ends the exchanges in flight, and a second one the program.
// Returns which controllers were done; when some were not, `interrupted` says how many.
std::vector<bool> ForEachController(const NetOptions& o, const std::vector<TTarvo*>& targets,
                                    const std::string& doing,
                                    const std::function<void(TTarvo&, size_t)>& step,
                                    std::optional<Problem>& interrupted);

// The same for a step that gives each controller's result, or nothing, and its problems:
// the results of the controllers done, and their problems after `problems`, both in the
// controllers' order whatever order they finished in, as one after the other would give
// them; then the interruption, if any.
template <typename TResult>
std::vector<TResult> CollectFrom(
    const NetOptions& o, const std::vector<TTarvo*>& targets, const std::string& doing,
    const std::function<std::optional<TResult>(TTarvo&, size_t, std::vector<Problem>&)>& step,
    std::vector<Problem>& problems) {
  const size_t count = targets.size();
  std::vector<std::optional<TResult>> results(count);
  std::vector<std::vector<Problem>> own(count);
  std::optional<Problem> interrupted;
  const std::vector<bool> done = ForEachController(
      o, targets, doing, [&](TTarvo& T, size_t i) { results[i] = step(T, i, own[i]); },
      interrupted);
  std::vector<TResult> collected;
  for (size_t i = 0; i < count; ++i) {
    if (!done[i]) continue;
    if (results[i]) collected.push_back(std::move(*results[i]));
    problems.insert(problems.end(), own[i].begin(), own[i].end());
  }
  if (interrupted) problems.push_back(*interrupted);
  return collected;
}

// Chooses the controllers (ChooseControllers, with `onlyNads`) and runs `step` on each,
// o.parallel at once. With more than one at once, work on a controller begins as soon as
// its answer to the scan comes in, so that the scan's window is not waited out first, and
// goes to the address it answered from; the step is told whether the controller is so
// pinned to its address (ApplySettings). Returns
// which of chosen.list's controllers were done, in its order.
std::vector<bool> RunOverScan(const NetOptions& o, const std::vector<int32_t>& onlyNads,
                              Chosen& chosen, const std::string& doing,
                              const std::function<void(TTarvo&, bool)>& step,
                              std::optional<Problem>& interrupted);

// RunOverScan for a step that gives each controller's result, or nothing, and its
// problems: the results of the controllers done, and after chosen.problems their
// problems, both in chosen.list's order (by NAD) whatever order they finished in; then the
// interruption, if any. `problems` is replaced.
template <typename TResult>
std::vector<TResult> ChooseAndCollect(
    const NetOptions& o, Chosen& chosen, const std::string& doing,
    const std::function<std::optional<TResult>(TTarvo&, bool, std::vector<Problem>&)>& step,
    std::vector<Problem>& problems) {
  struct TSlot {
    std::optional<TResult> Result;
    std::vector<Problem> Problems;
  };
  std::mutex mutex;
  std::map<const TTarvo*, TSlot> slots;
  std::optional<Problem> interrupted;
  const std::vector<bool> done = RunOverScan(
      o, {}, chosen, doing,
      [&](TTarvo& T, bool pinned) {
        TSlot slot;
        slot.Result = step(T, pinned, slot.Problems);
        std::lock_guard lock(mutex);
        slots[&T] = std::move(slot);
      },
      interrupted);
  problems = chosen.problems;
  std::vector<TResult> collected;
  for (size_t i = 0; i < done.size(); ++i) {
    if (!done[i]) continue;
    TSlot& slot = slots[chosen.list->Items(static_cast<int>(i))];
    if (slot.Result) collected.push_back(std::move(*slot.Result));
    problems.insert(problems.end(), slot.Problems.begin(), slot.Problems.end());
  }
  if (interrupted) problems.push_back(*interrupted);
  return collected;
}

}  // namespace cli
