// The host: loopback addresses, one shared port, broadcasts answered by every controller
// from its own address, refused configurations, and a crowd of 250 controllers.
#include "sim/uSimHost.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <map>
#include <set>

#include "uSimClient.h"

using namespace simtest;
using sim::TSimHost;
using sim::TSimHostOptions;

namespace {

constexpr uint8_t cmdPing = 0x10;
constexpr uint8_t cmdReadStatus = 0x11;

// Collects answers to one broadcast until `expected` distinct NADs answered or the bound
// passes. NAD -> (address the answer came from, how many answers).
std::map<uint32_t, std::pair<std::string, int>> CollectAnswers(TClient& client, size_t expected) {
  std::map<uint32_t, std::pair<std::string, int>> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (seen.size() < expected && std::chrono::steady_clock::now() < deadline) {
    auto d = client.Receive();
    if (!d) break;
    for (const TAnswer& a : DecodeAll(d->Bytes)) {
      EXPECT_EQ(a.Direction, md_ACK);
      EXPECT_EQ(a.ToNAD, 1u);
      auto& entry = seen[a.FromNAD];
      entry.first = d->PeerIP;
      ++entry.second;
    }
  }
  return seen;
}

std::unique_ptr<TSimHost> Started(TSimHostOptions o) {
  auto host = std::make_unique<TSimHost>(o);
  std::string error;
  EXPECT_TRUE(host->Start(&error)) << error;
  return host;
}

TEST(SimHost, BroadcastPingIsAnsweredByEveryControllerFromItsOwnAddress) {
  TSimHostOptions o;
  o.Controllers = 3;
  o.BaseNAD = 20;
  auto host = Started(o);
  TClient client;
  ASSERT_TRUE(client.Send("127.255.255.255", host->Port(), Request(0, cmdPing)));
  const auto seen = CollectAnswers(client, 3);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen.at(20).first, "127.0.0.10");
  EXPECT_EQ(seen.at(21).first, "127.0.0.11");
  EXPECT_EQ(seen.at(22).first, "127.0.0.12");
  for (int i = 0; i < 3; ++i) {
    const auto r = host->Controller(i).Requests();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].Broadcast);
    EXPECT_EQ(r[0].ToNAD, 0u);
  }
}

TEST(SimHost, OnlyTheAddressedControllerTakesARequest) {
  TSimHostOptions o;
  o.Controllers = 3;
  auto host = Started(o);
  TClient client;
  struct Case {
    const char* what;
    std::string ip;
    uint32_t toNAD;
    uint32_t answering;
  } cases[] = {
      {"broadcast to one NAD", "127.255.255.255", 11, 11},
      {"unicast with NAD 0", "127.0.0.12", 0, 12},
      {"unicast to its NAD", "127.0.0.10", 10, 10},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 3; ++i) host->Controller(i).ClearRequests();
    auto a = client.Call(c.ip, host->Port(), c.toNAD, cmdReadStatus);
    ASSERT_TRUE(a) << c.what;
    EXPECT_EQ(a->FromNAD, c.answering) << c.what;
    EXPECT_EQ(a->PeerIP, host->FindByNAD(c.answering)->IP()) << c.what;
    for (int i = 0; i < 3; ++i) {
      const auto& ctl = host->Controller(i);
      EXPECT_EQ(ctl.Requests().size(), ctl.NAD() == c.answering ? 1u : 0u) << c.what;
    }
  }
  // A unicast to a loopback address where no controller lives reaches the broadcast
  // socket and goes unanswered; the next request's answer is the first to come.
  ASSERT_TRUE(client.Send("127.0.0.200", host->Port(), Request(0, cmdPing)));
  auto a = client.Call("127.0.0.11", host->Port(), 11, cmdReadStatus);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->FromNAD, 11u);
  EXPECT_EQ(a->Body.size(), 2u);
}

TEST(SimHost, ControllerAddressesSkipNetworkAndBroadcastHostParts) {
  struct Case {
    const char* first;
    int i;
    const char* expected;
  } cases[] = {
      {"127.0.0.10", 0, "127.0.0.10"},
      {"127.0.0.10", 244, "127.0.0.254"},
      {"127.0.0.10", 245, "127.0.1.1"},
      {"127.0.0.10", 249, "127.0.1.5"},
      {"127.0.0.0", 0, "127.0.0.1"},
      {"127.0.0.255", 0, "127.0.1.1"},
      {"127.255.255.254", 0, "127.255.255.254"},
      {"127.255.255.254", 1, ""},
      {"10.0.0.1", 0, ""},
      {"localhost", 0, ""},
      {"127.0.0.10", -1, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TSimHost::NthAddress(c.first, c.i), c.expected) << c.first << " + " << c.i;
}

TEST(SimHost, RefusesWhatItMustNotServe) {
  struct Case {
    const char* what;
    TSimHostOptions options;
    const char* message;  // a part of the error text
  };
  TSimHostOptions lan, name, none, tooMany, nadZero, nadWraps;
  lan.FirstIP = "192.168.1.10";
  name.FirstIP = "plc.local";
  none.Controllers = 0;
  tooMany.FirstIP = "127.255.255.200";
  tooMany.Controllers = 100;
  nadZero.BaseNAD = 0;
  nadWraps.BaseNAD = 0xFFFFFFFF;
  nadWraps.Controllers = 2;
  const Case cases[] = {
      {"LAN address", lan, "127.0.0.0/8"},
      {"host name", name, "no IPv4 address"},
      {"no controllers", none, "number of controllers"},
      {"addresses run out", tooMany, "run out"},
      {"NAD 0 is discovery's", nadZero, "NADs"},
      {"NADs past 32 bits", nadWraps, "NADs"},
  };
  for (const Case& c : cases) {
    TSimHost host(c.options);
    std::string error;
    EXPECT_FALSE(host.Start(&error)) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    EXPECT_FALSE(host.Running()) << c.what;
    EXPECT_EQ(host.Count(), 0) << c.what;
  }
}

TEST(SimHost, PortInUseIsRefusedAndAHostRestarts) {
  auto first = Started({});
  TSimHostOptions o;
  o.Port = first->Port();
  o.FirstIP = "127.0.0.50";
  TSimHost second(o);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find(std::to_string(first->Port())), std::string::npos) << error;

  first->Stop();
  first->Stop();
  EXPECT_FALSE(first->Running());
  ASSERT_TRUE(second.Start(&error)) << error;
  TClient client;
  auto a = client.Call("127.0.0.50", second.Port(), 10, cmdPing);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Direction, md_ACK);
}

// A host of many controllers needs a descriptor for each: short of them it says so before
// binding anything, and RaiseDescriptorLimit lifts the limit as far as the system lets it.
TEST(SimHost, TooFewDescriptorsAreNamedAndTheLimitCanBeRaised) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 400) GTEST_SKIP() << "hard limit too low";
  rlimit low = saved;
  low.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  TSimHostOptions o;
  o.Controllers = 200;
  TSimHost host(o);
  std::string error;
  EXPECT_FALSE(host.Start(&error));
  EXPECT_NE(error.find("descriptors"), std::string::npos) << error;
  EXPECT_NE(error.find("100"), std::string::npos) << error;

  const long raised = sim::RaiseDescriptorLimit();
  EXPECT_TRUE(saved.rlim_max == RLIM_INFINITY || raised == static_cast<long>(saved.rlim_max));
  EXPECT_TRUE(host.Start(&error)) << error;
  host.Stop();
  setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(SimHost, ControllersCanBePreparedBeforeStartAndKeepTheirStateOverARestart) {
  TSimHost host({});
  ASSERT_EQ(host.Count(), 1);
  host.Controller(0).SetRunning(false);
  std::string error;
  ASSERT_TRUE(host.Start(&error)) << error;
  TClient client;
  auto a = client.Call("127.0.0.10", host.Port(), 10, cmdReadStatus);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Body, (std::vector<uint8_t>{sim::ssKernel, sim::psStop}));
  host.Stop();
  ASSERT_TRUE(host.Start(&error)) << error;
  a = client.Call("127.0.0.10", host.Port(), 10, cmdReadStatus);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Body, (std::vector<uint8_t>{sim::ssKernel, sim::psStop}));
  EXPECT_EQ(host.Controller(0).Requests().size(), 2u);
}

TEST(SimHost, PasswordAndStateOptionsReachEveryController) {
  TSimHostOptions o;
  o.Controllers = 2;
  o.Password = "open sesame";
  o.Stopped = true;
  auto host = Started(o);
  TClient client;
  const uint16_t hash = PasswordHashUtf8("open sesame");
  for (const char* ip : {"127.0.0.10", "127.0.0.11"}) {
    auto refused = client.Call(ip, host->Port(), 0, cmdReadStatus);
    ASSERT_TRUE(refused) << ip;
    EXPECT_EQ(refused->Direction, md_BADPASS) << ip;
    auto status = client.Call(ip, host->Port(), 0, cmdReadStatus, {}, hash);
    ASSERT_TRUE(status) << ip;
    EXPECT_EQ(status->Body, (std::vector<uint8_t>{sim::ssKernel, sim::psStop})) << ip;
  }
}

TEST(SimHost, TwoHundredFiftyControllersAllAnswerOneBroadcast) {
  TSimHostOptions o;
  o.Controllers = 250;
  o.BaseNAD = 1000;
  auto host = Started(o);
  TClient client;
  ASSERT_TRUE(client.Send("127.255.255.255", host->Port(), Request(0, cmdPing)));
  const auto seen = CollectAnswers(client, 250);
  EXPECT_EQ(seen.size(), 250u);
  for (int i = 0; i < 250; ++i) {
    const auto it = seen.find(1000 + i);
    ASSERT_NE(it, seen.end()) << "NAD " << 1000 + i << " did not answer";
    EXPECT_EQ(it->second.first, TSimHost::NthAddress("127.0.0.10", i));
    EXPECT_EQ(it->second.second, 1);
  }
}

}  // namespace
