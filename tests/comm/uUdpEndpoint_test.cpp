// The UDP endpoints: the POSIX socket on loopback (addresses reported with each
// datagram, activation on demand, the 2048-byte cut, broadcasts on lo, stopping) and the
// in-memory endpoint the communicator tests are built on.
#include "comm/uUdpEndpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comm/uMemoryUdpEndpoint.h"

namespace {

// Datagrams a handler received, for the test thread to wait on.
class TInbox {
 public:
  struct TItem {
    std::vector<uint8_t> Bytes;
    TDatagramInfo Info;
    std::thread::id Thread;
  };

  TUdpEndpoint::THandler Handler() {
    return [this](const uint8_t* data, size_t size, const TDatagramInfo& info) {
      std::lock_guard lock(fMutex);
      fItems.push_back({std::vector<uint8_t>(data, data + size), info, std::this_thread::get_id()});
      fCv.notify_all();
    };
  }

  // The first n datagrams; fails the test when they do not come within a generous bound
  // (a lost datagram, not a slow one).
  std::vector<TItem> Await(size_t n) {
    std::unique_lock lock(fMutex);
    const bool arrived =
        fCv.wait_for(lock, std::chrono::seconds(20), [&] { return fItems.size() >= n; });
    EXPECT_TRUE(arrived) << "only " << fItems.size() << " of " << n << " datagrams arrived";
    return fItems;
  }

 private:
  std::mutex fMutex;
  std::condition_variable fCv;
  std::vector<TItem> fItems;
};

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

TEST(LoopbackOnly, RefusesEveryDestinationOutsideLoopback) {
  ASSERT_TRUE(UdpLoopbackOnly());  // the test executable switched it on
  struct Case {
    const char* ip;
    bool allowed;
  };
  for (const Case& c :
       {Case{"127.0.0.1", true}, Case{"127.255.255.255", true}, Case{"127.0.0.50", true},
        Case{"255.255.255.255", false}, Case{"192.168.1.255", false}, Case{"0.0.0.0", false},
        Case{"126.255.255.255", false}, Case{"128.0.0.1", false}}) {
    uint32_t address = 0;
    for (int i = 0, part = 0; c.ip[i] != '\0' || part >= 0; ++i) {
      if (c.ip[i] == '.' || c.ip[i] == '\0') {
        address = (address << 8) | static_cast<uint32_t>(part);
        if (c.ip[i] == '\0') break;
        part = 0;
      } else {
        part = part * 10 + (c.ip[i] - '0');
      }
    }
    EXPECT_EQ(UdpDestinationAllowed(address), c.allowed) << c.ip;
  }
}

TEST(PosixUdpEndpoint, ReportsBothEndsOfEveryDatagram) {
  TInbox inbox;
  auto receiver = CreatePosixUdpEndpoint();
  receiver->SetHandler(inbox.Handler());
  receiver->SetBinding("127.0.0.51", 0);
  ASSERT_TRUE(receiver->Activate());
  EXPECT_EQ(receiver->LocalIP(), "127.0.0.51");
  ASSERT_GT(receiver->LocalPort(), 0);

  auto sender = CreatePosixUdpEndpoint();
  sender->SetBinding("127.0.0.1", 0);
  ASSERT_FALSE(sender->Active());
  const auto payload = Bytes(40);
  // Sending activates the socket on demand.
  ASSERT_TRUE(sender->Send("127.0.0.51", receiver->LocalPort(), payload.data(), payload.size()));
  EXPECT_TRUE(sender->Active());

  const auto items = inbox.Await(1);
  ASSERT_GE(items.size(), 1u);
  EXPECT_EQ(items[0].Bytes, payload);
  EXPECT_EQ(items[0].Info.PeerIP, "127.0.0.1");
  EXPECT_EQ(items[0].Info.PeerPort, sender->LocalPort());
  EXPECT_EQ(items[0].Info.LocalIP, "127.0.0.51");
  EXPECT_EQ(items[0].Info.LocalPort, receiver->LocalPort());
  EXPECT_NE(items[0].Thread, std::this_thread::get_id());
}

TEST(PosixUdpEndpoint, WithoutBindingUsesAnyAddressAndTheDefaultPort) {
  auto endpoint = CreatePosixUdpEndpoint();
  endpoint->SetDefaultPort(0);
  const uint8_t byte = 1;
  // 127.0.0.52 has no listener: the datagram is simply lost, as on a LAN.
  ASSERT_TRUE(endpoint->Send("127.0.0.52", 9, &byte, 1));
  EXPECT_EQ(endpoint->LocalIP(), "0.0.0.0");
  EXPECT_GT(endpoint->LocalPort(), 0);
}

TEST(PosixUdpEndpoint, PortsTheSystemChoosesAreNeverShared) {
  // Many controllers at once each have an endpoint of their own; two on one port would
  // each see half of the other's answers.
  std::vector<std::unique_ptr<TUdpEndpoint>> endpoints;
  std::set<int> ports;
  for (int i = 0; i < 400; ++i) {
    auto endpoint = CreatePosixUdpEndpoint();
    endpoint->SetBinding("127.0.0.1", 0);
    ASSERT_TRUE(endpoint->Activate());
    EXPECT_TRUE(ports.insert(endpoint->LocalPort()).second)
        << "port " << endpoint->LocalPort() << " handed out twice";
    endpoints.push_back(std::move(endpoint));
  }
}

TEST(PosixUdpEndpoint, CutsLongDatagramsToTheReceiveLimit) {
  TInbox inbox;
  auto receiver = CreatePosixUdpEndpoint();
  receiver->SetHandler(inbox.Handler());
  receiver->SetBinding("127.0.0.1", 0);
  ASSERT_TRUE(receiver->Activate());
  auto sender = CreatePosixUdpEndpoint();
  const auto big = Bytes(3000);
  const auto exact = Bytes(kMaxDatagramSize);
  ASSERT_TRUE(sender->Send("127.0.0.1", receiver->LocalPort(), big.data(), big.size()));
  // A name is resolved before sending.
  ASSERT_TRUE(sender->Send("localhost", receiver->LocalPort(), exact.data(), exact.size()));
  const auto items = inbox.Await(2);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Bytes, std::vector<uint8_t>(big.begin(), big.begin() + kMaxDatagramSize));
  EXPECT_EQ(items[1].Bytes, exact);
}

TEST(PosixUdpEndpoint, ReceivesLoopbackBroadcastsOnAWildcardBinding) {
  TInbox inbox;
  auto receiver = CreatePosixUdpEndpoint();
  receiver->SetHandler(inbox.Handler());
  receiver->SetBinding("0.0.0.0", 0);
  ASSERT_TRUE(receiver->Activate());
  EXPECT_EQ(receiver->LocalIP(), "0.0.0.0");
  auto sender = CreatePosixUdpEndpoint();
  sender->SetBinding("127.0.0.1", 0);
  const auto payload = Bytes(19);
  ASSERT_TRUE(
      sender->Send("127.255.255.255", receiver->LocalPort(), payload.data(), payload.size()));
  const auto items = inbox.Await(1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Bytes, payload);
  // The local address comes from the packet, not from the wildcard binding.
  EXPECT_EQ(items[0].Info.LocalIP.rfind("127.", 0), 0u) << items[0].Info.LocalIP;
}

TEST(PosixUdpEndpoint, ActivationFailsOnAForeignAddress) {
  auto endpoint = CreatePosixUdpEndpoint();
  endpoint->SetBinding("203.0.113.7", 0);  // no adapter of this machine has it
  EXPECT_FALSE(endpoint->Activate());
  EXPECT_FALSE(endpoint->Active());
  const uint8_t byte = 1;
  EXPECT_FALSE(endpoint->Send("127.0.0.1", 9, &byte, 1));
  endpoint->SetBinding("not an address", 0);
  EXPECT_FALSE(endpoint->Activate());
  endpoint->SetBinding("127.0.0.1", 70000);
  EXPECT_FALSE(endpoint->Activate());
}

TEST(PosixUdpEndpoint, RefusesUnusableDestinations) {
  auto endpoint = CreatePosixUdpEndpoint();
  endpoint->SetBinding("127.0.0.1", 0);
  const uint8_t byte = 1;
  EXPECT_FALSE(endpoint->Send("", 9, &byte, 1));
  EXPECT_FALSE(endpoint->Send("127.0.0.1", 0, &byte, 1));
  EXPECT_FALSE(endpoint->Send("127.0.0.1", 65536, &byte, 1));
}

TEST(PosixUdpEndpoint, DeactivateReleasesThePortAndMayComeFromTheHandler) {
  auto endpoint = CreatePosixUdpEndpoint();
  std::mutex mutex;
  std::condition_variable cv;
  bool handled = false;
  TUdpEndpoint* self = endpoint.get();
  endpoint->SetHandler([&](const uint8_t*, size_t, const TDatagramInfo&) {
    self->Deactivate();  // must neither deadlock nor close the socket under the loop
    std::lock_guard lock(mutex);
    handled = true;
    cv.notify_all();
  });
  endpoint->SetBinding("127.0.0.1", 0);
  ASSERT_TRUE(endpoint->Activate());
  const int port = endpoint->LocalPort();
  auto sender = CreatePosixUdpEndpoint();
  const uint8_t byte = 7;
  ASSERT_TRUE(sender->Send("127.0.0.1", port, &byte, 1));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return handled; }));
  }
  EXPECT_FALSE(endpoint->Active());

  // Activating again binds the same port afresh.
  endpoint->SetHandler(nullptr);
  endpoint->SetBinding("127.0.0.1", port);
  ASSERT_TRUE(endpoint->Activate());
  EXPECT_EQ(endpoint->LocalPort(), port);
  endpoint->Deactivate();
  EXPECT_FALSE(endpoint->Active());
  endpoint->Deactivate();  // twice is harmless
}

// --- In-memory endpoint ----------------------------------------------------------------

TEST(MemoryUdpEndpoint, RecordsSendsAndDeliversAnswersOnItsOwnThread) {
  TMemoryUdpEndpoint endpoint;
  TInbox inbox;
  endpoint.SetHandler(inbox.Handler());
  endpoint.SetBinding("127.0.0.1", 0);
  endpoint.SetResponder([](const TMemoryDatagram& sent) {
    std::vector<uint8_t> echo = sent.Bytes;
    echo.push_back(0xEE);
    return std::vector<TMemoryReply>{{echo, "127.0.0.20", 8442}, {{0x01}, "127.0.0.21", 9000}};
  });
  const auto payload = Bytes(5);
  ASSERT_TRUE(endpoint.Send("255.255.255.255", 8442, payload.data(), payload.size()));
  EXPECT_TRUE(endpoint.Active());
  endpoint.WaitUntilDelivered();
  const auto items = inbox.Await(2);
  ASSERT_EQ(items.size(), 2u);
  auto expected = payload;
  expected.push_back(0xEE);
  EXPECT_EQ(items[0].Bytes, expected);
  EXPECT_EQ(items[0].Info.PeerIP, "127.0.0.20");
  EXPECT_EQ(items[1].Info.PeerPort, 9000);
  EXPECT_EQ(items[0].Info.LocalIP, "127.0.0.1");
  EXPECT_EQ(items[0].Info.LocalPort, TMemoryUdpEndpoint::kChosenPort);
  EXPECT_NE(items[0].Thread, std::this_thread::get_id());

  const auto sent = endpoint.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Host, "255.255.255.255");
  EXPECT_EQ(sent[0].Port, 8442);
  EXPECT_EQ(sent[0].Bytes, payload);
}

TEST(MemoryUdpEndpoint, DropsWhatArrivesWhileInactive) {
  TMemoryUdpEndpoint endpoint;
  TInbox inbox;
  endpoint.SetHandler(inbox.Handler());
  endpoint.Deliver({0x01});
  EXPECT_EQ(endpoint.Dropped(), 1u);
  ASSERT_TRUE(endpoint.Activate());
  endpoint.Deliver({0x02});
  endpoint.WaitUntilDelivered();
  const auto items = inbox.Await(1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Bytes, std::vector<uint8_t>{0x02});
}

TEST(MemoryUdpEndpoint, SurvivesDeactivationFromItsHandler) {
  TMemoryUdpEndpoint endpoint;
  int calls = 0;
  endpoint.SetHandler([&](const uint8_t*, size_t, const TDatagramInfo&) {
    ++calls;
    endpoint.Deactivate();
    endpoint.Activate();  // the old loop must end, not compete with the new one
  });
  ASSERT_TRUE(endpoint.Activate());
  endpoint.Deliver({0x01});
  endpoint.WaitUntilDelivered();
  endpoint.Deliver({0x02});
  endpoint.WaitUntilDelivered();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(endpoint.Activations(), 3);
}

}  // namespace
