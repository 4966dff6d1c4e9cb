// The fleet runner: every controller's step, at most N at once, results handed back in the
// controllers' order whatever order they finish in, and a cancel that ends the exchanges in
// flight. Controllers here stand on the in-memory transport; a silent one never answers.
#include "workflows/uFleet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "comm/uMemoryUdpEndpoint.h"

namespace {

using namespace std::chrono_literals;

struct TFleet {
  std::vector<std::unique_ptr<TTarvo>> Owned;
  std::vector<TTarvo*> Targets;

  explicit TFleet(int count) {
    for (int i = 0; i < count; ++i) {
      auto T = std::make_unique<TTarvo>(
          std::make_unique<TCommunicator>(std::make_unique<TMemoryUdpEndpoint>()));
      T->SetNAD(10 + i);
      Targets.push_back(T.get());
      Owned.push_back(std::move(T));
    }
  }
};

TEST(FleetRunner, EveryStepRunsAtMostNAtOnceAndIsHandedBackInOrder) {
  for (const int parallel : {1, 3, 16}) {
    SCOPED_TRACE("parallel " + std::to_string(parallel));
    TFleet fleet(40);
    std::atomic<int> running{0}, most{0};
    std::vector<int> ranAs(fleet.Targets.size(), -1);
    std::atomic<int> started{0};
    std::vector<size_t> handedBack;
    std::mt19937 random(7);
    std::vector<int> sleepUs;
    for (size_t i = 0; i < fleet.Targets.size(); ++i)
      sleepUs.push_back(std::uniform_int_distribution<int>(0, 3000)(random));

    TFleetRunner runner(parallel);
    const size_t finished = runner.Run(
        fleet.Targets,
        [&](TTarvo& T, size_t i) {
          const int now = ++running;
          int seen = most.load();
          while (now > seen && !most.compare_exchange_weak(seen, now)) {
          }
          ranAs[i] = started++;
          EXPECT_EQ(T.NAD(), static_cast<int32_t>(10 + i));
          std::this_thread::sleep_for(std::chrono::microseconds(sleepUs[i]));
          --running;
        },
        [&](size_t i) { handedBack.push_back(i); });

    EXPECT_EQ(finished, fleet.Targets.size());
    EXPECT_LE(most.load(), parallel);
    std::vector<size_t> inOrder(fleet.Targets.size());
    for (size_t i = 0; i < inOrder.size(); ++i) inOrder[i] = i;
    EXPECT_EQ(handedBack, inOrder);
    // One at a time is the walk in the list's order.
    if (parallel == 1) {
      for (size_t i = 0; i < ranAs.size(); ++i) EXPECT_EQ(ranAs[i], static_cast<int>(i));
    }
    for (size_t i = 0; i < fleet.Targets.size(); ++i) EXPECT_TRUE(runner.Finished(i));
  }
}

TEST(FleetRunner, ACancelEndsTheExchangesInFlightAndStartsNoMore) {
  // Silent controllers that would each take three repeats of ten seconds.
  TFleet fleet(12);
  for (TTarvo* T : fleet.Targets) {
    T->Comm()->SetWaitTime(10000);
    T->Comm()->SetNoRetires(3);
  }
  TFleetRunner runner(4);
  std::atomic<int> inFlight{0};
  std::vector<char> answered(fleet.Targets.size(), 0);
  const auto start = std::chrono::steady_clock::now();
  std::thread canceller([&] {
    while (inFlight.load() < 4) std::this_thread::sleep_for(1ms);
    runner.Cancel();
  });
  std::vector<size_t> handedBack;
  runner.Run(
      fleet.Targets,
      [&](TTarvo& T, size_t i) {
        ++inFlight;
        answered[i] = T.Comm()->Ping();
        // Whatever the step asks after the cancel fails at once.
        answered[i] = answered[i] || T.Comm()->Ping();
      },
      [&](size_t i) { handedBack.push_back(i); });
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(runner.Cancelled());
  EXPECT_TRUE(handedBack.empty()) << "the steps in flight were cut short, the rest never began";
  EXPECT_EQ(inFlight.load(), 4);
  for (size_t i = 0; i < fleet.Targets.size(); ++i) {
    EXPECT_FALSE(runner.Finished(i));
    EXPECT_FALSE(answered[i]);
  }
}

TEST(FleetRunner, AControllerCutShortWorksAgainInTheNextRun) {
  TFleet fleet(2);
  TFleetRunner runner(2);
  runner.Run(fleet.Targets, [&](TTarvo&, size_t) { runner.Cancel(); });
  EXPECT_TRUE(fleet.Targets[0]->Comm()->Aborted() || fleet.Targets[1]->Comm()->Aborted());
  size_t steps = 0;
  runner.Run(fleet.Targets, [&](TTarvo& T, size_t) {
    EXPECT_FALSE(T.Comm()->Aborted());
    ++steps;
  });
  EXPECT_EQ(steps, 2u);
}

TEST(FleetRunner, TargetsMayComeWhileOthersRun) {
  TFleet fleet(30);
  TFleetRunner runner(5);
  std::vector<char> ran(fleet.Targets.size(), 0);
  runner.Begin([&](TTarvo&, size_t i) {
    std::this_thread::sleep_for(200us);
    ran[i] = 1;
  });
  // The first ones come from another thread, as a scan's answers do.
  std::thread early([&] {
    for (size_t i = 0; i < 20; ++i) runner.Add(fleet.Targets[i]);
  });
  early.join();
  for (size_t i = 20; i < fleet.Targets.size(); ++i) runner.Add(fleet.Targets[i]);
  std::vector<size_t> handedBack;
  EXPECT_EQ(runner.Finish([&](size_t i) { handedBack.push_back(i); }), fleet.Targets.size());
  EXPECT_EQ(handedBack.size(), fleet.Targets.size());
  EXPECT_TRUE(std::is_sorted(handedBack.begin(), handedBack.end()));
  EXPECT_EQ(std::count(ran.begin(), ran.end(), 1), static_cast<long>(fleet.Targets.size()));
}

TEST(FleetRunner, AnErrorOfAStepReachesTheCallerOnceEveryThreadHasStopped) {
  TFleet fleet(20);
  TFleetRunner runner(4);
  std::atomic<int> steps{0}, running{0};
  EXPECT_THROW(runner.Run(fleet.Targets,
                          [&](TTarvo&, size_t i) {
                            ++steps;
                            if (i == 0) throw std::logic_error("a programming error");
                            ++running;
                            std::this_thread::sleep_for(20ms);
                            --running;
                          }),
               std::logic_error);
  EXPECT_EQ(running.load(), 0) << "the steps under way ended first";
  EXPECT_LE(steps.load(), 4) << "no step begins after the error";
}

TEST(FleetRunner, TheOpenFilesLimitIsRaisedOrTheFleetFitted) {
  EXPECT_EQ(FitParallelToDescriptorLimit(16), 16);
  const int huge = FitParallelToDescriptorLimit(100000000);
  EXPECT_GE(huge, 1);
  EXPECT_LE(huge, 100000000);
}

}  // namespace
