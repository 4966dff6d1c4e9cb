// The fleet runner: one workflow step over many controllers at once. Each controller owns
// its communicator, socket and listener, so nothing but the order of a walk keeps them
// apart in time; the runner walks them with at most N in flight and hands each result back
// in the controllers' order, whichever finished first. With N = 1 it is the walk one
// controller after the other.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "controller/uTarvo.h"

// How many controllers are worked on at once unless told otherwise.
inline constexpr int kDefaultParallel = 64;

// Descriptors a step needs besides its controller's socket (the log file, say) and those
// the process keeps for itself.
inline constexpr int kDescriptorsBesideSockets = 32;

class TFleetRunner {
 public:
  using TStep = std::function<void(TTarvo&, size_t)>;

  explicit TFleetRunner(int parallel = kDefaultParallel);
  // Cancels and waits for whatever still runs.
  ~TFleetRunner();
  TFleetRunner(const TFleetRunner&) = delete;
  TFleetRunner& operator=(const TFleetRunner&) = delete;

  // Runs `step` for each controller of `targets`, at most Parallel() at a time, taken in
  // the order given, each on a thread of the runner's. A controller's socket is released
  // when its step returns, so that no more than Parallel() are open at once. `done` runs on
  // the caller's thread for each index in order, as soon as that step and every one before
  // it has returned: a front-end prints or counts there. `interrupted` is asked on the
  // caller's thread every few milliseconds; when it says yes, the runner stops as Cancel
  // does. Returns how many steps ran to their end. A step must touch only its own
  // controller and what belongs to its index; an exception it lets escape stops the run
  // and is raised here.
  size_t Run(const std::vector<TTarvo*>& targets, const TStep& step,
             const std::function<void(size_t)>& done = {},
             const std::function<bool()>& interrupted = {});

  // The same in three parts, for targets that become known one by one (the answers of a
  // scan, as they come): Begin, then Add from any thread as each target is known (it is
  // worked on at once when a thread is free; the result is its index), then Finish, which
  // takes no more and waits for the rest as Run does.
  void Begin(const TStep& step);
  size_t Add(TTarvo* target);
  size_t Finish(const std::function<void(size_t)>& done = {},
                const std::function<bool()>& interrupted = {});

  // From any thread (no signal handler): the exchanges in flight end now, their steps see
  // every further request fail, and no further step begins.
  void Cancel();
  bool Cancelled() const { return fCancelled.load(); }
  // Whether the step of that index of the last run ran to its end (not cut short by a
  // cancel, not left out because of one).
  bool Finished(size_t index) const;

  int Parallel() const { return fParallel; }
  // The controller added with that index.
  TTarvo* Target(size_t index) const;

 private:
  void Work();

  int fParallel;
  std::atomic<bool> fCancelled{false};
  TStep fStep;
  std::vector<std::thread> fThreads;
  mutable std::mutex fMutex;  // guards everything below
  std::condition_variable fChanged;
  std::vector<TTarvo*> fTargets;
  bool fClosed = true;             // no more targets come
  size_t fNext = 0;                // the next index to start
  int fWorking = 0;                // threads still taking steps
  std::vector<TTarvo*> fInFlight;  // controllers whose step runs
  std::vector<char> fState;        // per index: pending, running, done, cut short, left out
  std::exception_ptr fError;       // the first error a step let escape
};

// The open-files limit a run of `parallel` controllers at once needs, raised to that where
// the system allows; the number of controllers the limit allows at once (`parallel`, or
// fewer when the system will not raise it that far).
int FitParallelToDescriptorLimit(int parallel);
