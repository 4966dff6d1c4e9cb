#include "apps/cli/cli_fleet.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <iostream>

#include "data/uNumText.h"
#include "workflows/uFleet.h"

namespace cli {
namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int signal) {
  // The second one ends the program, as it would have without the first being caught.
  if (gInterrupted.exchange(true)) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  }
}

// Ctrl+C and SIGTERM end the run instead of the program while it lasts.
class TInterruptScope {
 public:
  TInterruptScope() {
    gInterrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &fInt);
    sigaction(SIGTERM, &action, &fTerm);
  }
  ~TInterruptScope() {
    sigaction(SIGINT, &fInt, nullptr);
    sigaction(SIGTERM, &fTerm, nullptr);
  }
  TInterruptScope(const TInterruptScope&) = delete;
  TInterruptScope& operator=(const TInterruptScope&) = delete;

 private:
  struct sigaction fInt {};
  struct sigaction fTerm {};
};

}  // namespace

namespace {

int ParallelFor(const NetOptions& o, size_t count) {
  const int wanted = std::min<int>(o.parallel, std::max<int>(static_cast<int>(count), 1));
  const int parallel = FitParallelToDescriptorLimit(wanted);
  if (parallel < wanted) {
    std::cerr << "warning: --parallel " << o.parallel << " needs "
              << wanted + kDescriptorsBesideSockets
              << " open files and the system allows fewer; working on " << parallel
              << " controllers at once\n";
  }
  return parallel;
}

std::optional<Problem> Interruption(const TFleetRunner& runner, size_t finished, size_t count) {
  if (!runner.Cancelled()) return std::nullopt;
  return Problem{0, "",
                 "interrupted: " + std::to_string(finished) + " of " + std::to_string(count) +
                     " controllers done",
                 true};
}

}  // namespace

std::vector<bool> RunOverScan(const NetOptions& o, const std::vector<int32_t>& onlyNads,
                              Chosen& chosen, const std::string& doing,
                              const std::function<void(TTarvo&, bool)>& step,
                              std::optional<Problem>& interrupted) {
  // Before anything is known of the fleet, room for as many at once as asked.
  TFleetRunner runner(ParallelFor(o, static_cast<size_t>(o.parallel)));
  // Per runner index, whether the controller is pinned, and each controller's index; kept
  // under the lock that adds the target, so that a step finds its own entry.
  std::mutex addMutex;
  std::vector<char> pinnedAt;
  std::map<const TTarvo*, size_t> indexOf;
  const auto add = [&](TTarvo* T, bool pinned) {
    std::lock_guard lock(addMutex);
    pinnedAt.push_back(pinned);
    indexOf[T] = runner.Add(T);
  };
  runner.Begin([&](TTarvo& T, size_t i) {
    bool pinned = false;
    {
      std::lock_guard lock(addMutex);
      pinned = pinnedAt[i] != 0;
    }
    step(T, pinned);
  });
  TInterruptScope interrupts;
  // One at a time, the controllers are taken in the list's order, as always. Begun before
  // the window ends, work reaches each controller at the address it answered from, since
  // another may yet turn out to share its NAD.
  std::function<void(TTarvo*)> startEarly;
  if (runner.Parallel() > 1) startEarly = [&](TTarvo* T) { add(T, true); };
  chosen = ChooseControllers(o, onlyNads, startEarly);
  const std::vector<TTarvo*>& targets = chosen.list->List();
  for (TTarvo* T : targets) {
    if (chosen.startedEarly.count(T) == 0) add(T, chosen.Pinned(*T));
  }
  Progress progress(static_cast<int>(targets.size()));
  size_t shown = 0;
  runner.Finish(
      [&](size_t i) {
        progress.Step(static_cast<int>(std::min(shown++, targets.size() - 1)),
                      doing + " " + NADText(runner.Target(i)->NAD()));
      },
      [] { return gInterrupted.load(); });
  std::vector<bool> done(targets.size());
  size_t finished = 0;
  for (size_t k = 0; k < targets.size(); ++k) {
    done[k] = runner.Finished(indexOf.at(targets[k]));
    finished += done[k];
  }
  interrupted = Interruption(runner, finished, targets.size());
  return done;
}

std::vector<bool> ForEachController(const NetOptions& o, const std::vector<TTarvo*>& targets,
                                    const std::string& doing,
                                    const std::function<void(TTarvo&, size_t)>& step,
                                    std::optional<Problem>& interrupted) {
  TFleetRunner runner(ParallelFor(o, targets.size()));
  std::vector<bool> done(targets.size(), false);
  size_t finished = 0;
  {
    TInterruptScope interrupts;
    Progress progress(static_cast<int>(targets.size()));
    runner.Run(
        targets, step,
        [&](size_t i) {
          done[i] = true;
          progress.Step(static_cast<int>(finished++), doing + " " + NADText(targets[i]->NAD()));
        },
        [] { return gInterrupted.load(); });
  }
  interrupted = Interruption(runner, finished, targets.size());
  return done;
}

}  // namespace cli
