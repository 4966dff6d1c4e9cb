#include "workflows/uFleet.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace {

// How often the caller's thread asks whether to stop.
constexpr auto kInterruptPoll = std::chrono::milliseconds(10);

enum TStepState : char { ssPending, ssRunning, ssDone, ssCut, ssSkipped };

}  // namespace

TFleetRunner::TFleetRunner(int parallel) : fParallel(std::max(parallel, 1)) {}

TFleetRunner::~TFleetRunner() {
  if (fThreads.empty()) return;
  Cancel();
  {
    std::lock_guard lock(fMutex);
    fClosed = true;
  }
  fChanged.notify_all();
  for (std::thread& t : fThreads) t.join();
}

void TFleetRunner::Cancel() {
  fCancelled.store(true);
  std::lock_guard lock(fMutex);
  for (TTarvo* T : fInFlight) T->Comm()->SetAborted(true);
  fChanged.notify_all();
}

void TFleetRunner::Begin(const TStep& step) {
  std::lock_guard lock(fMutex);
  fStep = step;
  fCancelled.store(false);
  fTargets.clear();
  fClosed = false;
  fNext = 0;
  fInFlight.clear();
  fState.clear();
  fError = nullptr;
  fWorking = 0;
}

size_t TFleetRunner::Add(TTarvo* target) {
  size_t index = 0;
  {
    std::lock_guard lock(fMutex);
    index = fTargets.size();
    fTargets.push_back(target);
    fState.push_back(ssPending);
    // A thread for each target until there are Parallel() of them; it takes its first step
    // once this lock is released.
    if (static_cast<int>(fThreads.size()) < fParallel) {
      ++fWorking;
      fThreads.emplace_back([this] { Work(); });
    }
  }
  fChanged.notify_all();
  return index;
}

void TFleetRunner::Work() {
  for (;;) {
    size_t i = 0;
    TTarvo* T = nullptr;
    {
      std::unique_lock lock(fMutex);
      fChanged.wait(lock, [this] {
        return fCancelled.load() || fError || fNext < fTargets.size() || fClosed;
      });
      if (fCancelled.load() || fError || fNext >= fTargets.size()) break;
      i = fNext++;
      T = fTargets[i];
      // Registered and cleared under the lock that Cancel takes: a cancel either finds the
      // controller here or stops it from starting.
      T->Comm()->SetAborted(false);
      fInFlight.push_back(T);
      fState[i] = ssRunning;
    }
    std::exception_ptr error;
    try {
      fStep(*T, i);
      // Released at once, so that no more sockets are open than steps run.
      T->Disconnect();
    } catch (...) {
      // Whatever a step let escape is the caller's to see, once every thread has stopped.
      error = std::current_exception();
    }
    {
      std::lock_guard lock(fMutex);
      std::erase(fInFlight, T);
      fState[i] = fCancelled.load() || error ? ssCut : ssDone;
      if (error && !fError) fError = error;
    }
    fChanged.notify_all();
  }
  {
    std::lock_guard lock(fMutex);
    --fWorking;
  }
  fChanged.notify_all();
}

size_t TFleetRunner::Finish(const std::function<void(size_t)>& done,
                            const std::function<bool()>& interrupted) {
  {
    std::lock_guard lock(fMutex);
    fClosed = true;
  }
  fChanged.notify_all();
  size_t reported = 0;  // every index below is done with: handed to `done`, or passed over
  size_t finished = 0;
  std::unique_lock lock(fMutex);
  for (;;) {
    const size_t count = fTargets.size();
    // Once nothing runs any more, what never started never will.
    if (fWorking == 0) {
      for (size_t i = reported; i < count; ++i)
        if (fState[i] == ssPending) fState[i] = ssSkipped;
    }
    while (reported < count && fState[reported] != ssPending && fState[reported] != ssRunning) {
      const bool ok = fState[reported] == ssDone;
      const size_t index = reported++;
      if (!ok) continue;
      ++finished;
      if (done) {
        lock.unlock();
        done(index);
        lock.lock();
      }
    }
    if (reported == count && fWorking == 0) break;
    fChanged.wait_for(lock, kInterruptPoll);
    if (interrupted && !fCancelled.load()) {
      lock.unlock();
      if (interrupted()) Cancel();
      lock.lock();
    }
  }
  lock.unlock();
  for (std::thread& t : fThreads) t.join();
  fThreads.clear();
  if (fError) std::rethrow_exception(fError);
  return finished;
}

size_t TFleetRunner::Run(const std::vector<TTarvo*>& targets, const TStep& step,
                         const std::function<void(size_t)>& done,
                         const std::function<bool()>& interrupted) {
  Begin(step);
  for (TTarvo* T : targets) Add(T);
  return Finish(done, interrupted);
}

TTarvo* TFleetRunner::Target(size_t index) const {
  std::lock_guard lock(fMutex);
  return index < fTargets.size() ? fTargets[index] : nullptr;
}

bool TFleetRunner::Finished(size_t index) const {
  std::lock_guard lock(fMutex);
  return index < fState.size() && fState[index] == ssDone;
}

int FitParallelToDescriptorLimit(int parallel) {
  const rlim_t need = static_cast<rlim_t>(std::max(parallel, 1)) + kDescriptorsBesideSockets;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return parallel;
  if (limit.rlim_cur < need) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? need : std::min(need, limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur >= need) return parallel;
  const rlim_t room =
      limit.rlim_cur > kDescriptorsBesideSockets ? limit.rlim_cur - kDescriptorsBesideSockets : 1;
  return static_cast<int>(std::max<rlim_t>(room, 1));
}
