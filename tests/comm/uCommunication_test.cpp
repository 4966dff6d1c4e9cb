// The communicator's transport: where requests go, how many, what ends a wait, how the
// receive side reassembles and bounds answers, and the debug log. Most cases script a
// controller on the in-memory endpoint; the last group runs the real UDP path against
// simulated controllers on loopback.
#include "comm/uCommunication.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/uAdapterTable.h"
#include "comm/uLogFile.h"
#include "comm/uMemoryUdpEndpoint.h"
#include "data/uTarvoVars.h"
#include "protocol/uQLink.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

// Reaches the private transaction engine (declared a friend by TCommunicator).
class TCommunicatorTestAccess {
 public:
  static bool SendAndWait(TCommunicator& c, const std::vector<uint8_t>& frame) {
    return c.SendAndWait(frame.data(), static_cast<int>(frame.size()));
  }
  static void SetDiscovery(TCommunicator& c, bool on) { c.fListTarvosReq = on; }
  static std::vector<std::string> NADList(TCommunicator& c) {
    std::lock_guard lock(c.fMutex);
    return c.fNADList;
  }
  static std::vector<std::string> IPList(TCommunicator& c) {
    std::lock_guard lock(c.fMutex);
    return c.fIPList;
  }
  static std::vector<TMessageDirection> CodeList(TCommunicator& c) {
    std::lock_guard lock(c.fMutex);
    return c.fCodeList;
  }
  static std::string ReceiveBuffer(TCommunicator& c) {
    std::lock_guard lock(c.fMutex);
    return c.RecMessage;
  }
  static void DoProgress(TCommunicator& c, uint32_t progress, uint32_t max, uint32_t scale,
                         bool& cancel) {
    c.DoProgress(progress, max, scale, cancel);
  }
};

namespace {

using Access = TCommunicatorTestAccess;

// Waits that must end on an answer get this long: far beyond what an answer on loopback
// takes even under a sanitizer, yet short enough that a wait that runs out instead fails
// the test within seconds.
constexpr int kAnswerWait = 10000;
// Waits that are meant to run out.
constexpr int kShortWait = 5;
constexpr const char* kController = "127.0.0.10";
constexpr int32_t kControllerNAD = 10;

std::vector<uint8_t> Answer(uint8_t direction, std::vector<uint8_t> body = {},
                            uint32_t fromNAD = 10, uint32_t toNAD = 1, uint8_t type = mt_COMMAND) {
  return BuildFrame(fromNAD, toNAD, direction, type, body.data(), body.size());
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the log ends in the middle of a line";
  return lines;
}

bool FileExists(const std::string& path) {
  return std::ifstream(path).good();
}

// Resets the process-events hook whatever the test does.
struct TScopedHook {
  explicit TScopedHook(std::function<void()> hook) { SetProcessEventsHook(std::move(hook)); }
  ~TScopedHook() { SetProcessEventsHook(nullptr); }
};

// A communicator on the in-memory endpoint, opened on adapter "lo", its log going to a
// file of the test's own.
class MemoryComm : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& ch : name) {
      if (ch == '/') ch = '_';
    }
    logPath = ::testing::TempDir() + "comm_" + name + ".log";
    std::remove(logPath.c_str());
    TCommunicator::SetLogFilePath(logPath);
    auto endpoint = std::make_unique<TMemoryUdpEndpoint>();
    udp = endpoint.get();
    comm = std::make_unique<TCommunicator>(std::move(endpoint));
    ASSERT_TRUE(comm->Open("lo"));
    comm->SetTarvoNAD(kControllerNAD);
    comm->SetWaitTime(kAnswerWait);
    comm->SetNoRetires(0);
  }

  void TearDown() override {
    comm.reset();
    std::remove(logPath.c_str());
  }

  // A scripted controller that answers every request with these datagrams.
  void AnswerEveryRequestWith(std::vector<std::vector<uint8_t>> datagrams,
                              const std::string& from = kController) {
    udp->SetResponder([datagrams, from](const TMemoryDatagram&) {
      std::vector<TMemoryReply> replies;
      for (const auto& d : datagrams) replies.push_back({d, from, 8442});
      return replies;
    });
  }

  // A ping as a bare transaction, whose answer may have any body: the transport's and
  // the receive side's cases need no particular command.
  bool Ping() { return Access::SendAndWait(*comm, PingFrame()); }
  std::vector<uint8_t> PingFrame() const {
    const uint8_t body[3] = {0x10, static_cast<uint8_t>(comm->PasswordCRC() & 0xFF),
                             static_cast<uint8_t>(comm->PasswordCRC() >> 8)};
    return BuildFrame(1, static_cast<uint32_t>(comm->TarvoNAD()), md_REQ, mt_COMMAND, body, 3);
  }

  std::string logPath;
  TMemoryUdpEndpoint* udp = nullptr;  // owned by comm
  std::unique_ptr<TCommunicator> comm;
};

// --- Creation, opening and binding ----------------------------------------------------

TEST(CommunicatorCreate, StartsInactiveWithItsDefaults) {
  auto endpoint = std::make_unique<TMemoryUdpEndpoint>();
  TMemoryUdpEndpoint* udp = endpoint.get();
  TCommunicator comm(std::move(endpoint));
  EXPECT_FALSE(udp->Active());
  EXPECT_EQ(comm.TarvoNAD(), -1);
  EXPECT_EQ(comm.TarvoIP(), "");
  EXPECT_EQ(comm.TarvoPort(), 8442);
  EXPECT_EQ(comm.TarvoStaticIP(), "");
  EXPECT_EQ(comm.Port(), 0);
  EXPECT_FALSE(comm.DirectConnection());
  EXPECT_FALSE(comm.AutoChangeEthAdapter());
  EXPECT_EQ(comm.WaitTime(), 500);
  EXPECT_EQ(comm.NoRetires(), 3);
  EXPECT_EQ(comm.PasswordCRC(), 0);
  EXPECT_FALSE(comm.LogToFile());
  EXPECT_EQ(comm.CommState(), csREADY);
  EXPECT_EQ(comm.ResponseErrorCode(), md_REQ);
  EXPECT_EQ(comm.TransferDate(), 0);
  EXPECT_EQ(comm.HostIP(), comm.EthAdapter().IPAddress());
  EXPECT_EQ(comm.HostPort(), 0);
}

TEST_F(MemoryComm, OpenBindsTheAdapterAndRefusesAnUnknownOne) {
  EXPECT_TRUE(udp->Active());
  EXPECT_EQ(udp->BindIP(), "127.0.0.1");
  EXPECT_EQ(udp->BindPort(), 0);
  EXPECT_EQ(comm->EthAdapter().ID(), "lo");

  EXPECT_FALSE(comm->Open("no-such-adapter"));
  EXPECT_FALSE(udp->Active());
  EXPECT_EQ(comm->EthAdapter().ID(), "lo");  // the previous adapter stays

  comm->SetPort(47000);
  ASSERT_TRUE(comm->Open("lo"));
  EXPECT_EQ(udp->BindPort(), 47000);
  EXPECT_EQ(udp->DefaultPort(), 47000);
}

TEST_F(MemoryComm, OpenFailsWhenTheSocketCannotBeBound) {
  udp->SetActivateFails(true);
  EXPECT_FALSE(comm->Open("lo"));
  EXPECT_FALSE(udp->Active());
}

TEST_F(MemoryComm, BindingKeepsTheSocketsStateAndCloseKeepsTheBinding) {
  comm->Close();
  EXPECT_FALSE(udp->Active());
  comm->BindEthernetAdapter();
  EXPECT_FALSE(udp->Active());
  EXPECT_EQ(udp->BindIP(), "127.0.0.1");
  ASSERT_TRUE(udp->Activate());
  comm->BindEthernetAdapter();
  EXPECT_TRUE(udp->Active());
}

// --- Where requests go -----------------------------------------------------------------

struct DestinationCase {
  const char* name;
  const char* tarvoIP;
  bool emptyAdapter;  // an adapter whose broadcast address is empty
  bool direct;
  const char* expected;
};

class Destinations : public MemoryComm, public ::testing::WithParamInterface<DestinationCase> {};

TEST_P(Destinations, FollowTheModeTheAddressAndTheAdapter) {
  const auto& c = GetParam();
  if (c.emptyAdapter) comm->EthAdapter() = TEthernetAdapterInfo();
  comm->SetTarvoIP(c.tarvoIP);
  comm->SetDirectConnection(c.direct);
  comm->SetWaitTime(kShortWait);
  comm->SetTarvoPort(9123);
  EXPECT_FALSE(Ping());
  const auto sent = udp->Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Host, c.expected);
  EXPECT_EQ(sent[0].Port, 9123);
  if (c.direct) {
    EXPECT_EQ(udp->BindPort(), 65535);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Destinations,
    ::testing::Values(
        DestinationCase{"NoAddressBroadcastsOnTheAdapter", "", false, false, "127.255.255.255"},
        DestinationCase{"AnyAddressBroadcastsOnTheAdapter", "0.0.0.0", false, false,
                        "127.255.255.255"},
        DestinationCase{"KnownAddressIsUsed", "127.0.0.12", false, false, "127.0.0.12"},
        DestinationCase{"HostNameIsPassedOn", "localhost", false, false, "localhost"},
        DestinationCase{"AdapterWithoutBroadcastUsesTheLimitedOne", "", true, false,
                        "255.255.255.255"},
        DestinationCase{"DirectConnectionIgnoresTheAddress", "127.0.0.12", false, true,
                        "255.255.255.255"},
        DestinationCase{"DirectConnectionWithoutAddress", "", false, true, "255.255.255.255"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MemoryComm, AnAdapterBroadcastOfAllZeroesIsReplaced) {
  // Address 0.0.0.0 with a full mask makes the broadcast address 0.0.0.0.
  comm->EthAdapter() = TEthernetAdapterInfo("x", "x", "0.0.0.0", "255.255.255.255");
  ASSERT_EQ(comm->EthAdapter().BroadcastAddress(), "0.0.0.0");
  comm->SetWaitTime(kShortWait);
  Ping();
  ASSERT_EQ(udp->SentCount(), 1u);
  EXPECT_EQ(udp->Sent()[0].Host, "255.255.255.255");
}

TEST_F(MemoryComm, DirectConnectionBindsTheFixedPortAndBack) {
  comm->SetPort(4100);
  comm->SetDirectConnection(true);
  EXPECT_TRUE(comm->DirectConnection());
  EXPECT_EQ(udp->BindPort(), 65535);
  EXPECT_EQ(udp->DefaultPort(), 65535);
  EXPECT_TRUE(udp->Active());
  comm->SetDirectConnection(false);
  EXPECT_EQ(udp->BindPort(), 4100);
}

struct RequestCase {
  int32_t nad;
  uint16_t password;
  std::string frame;
};

class RequestFrames : public MemoryComm, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestFrames, CarryTheToolsNADTheAddressedNADAndThePasswordHash) {
  comm->SetTarvoNAD(GetParam().nad);
  comm->SetPasswordCRC(GetParam().password);
  comm->SetWaitTime(kShortWait);
  Ping();
  ASSERT_EQ(udp->SentCount(), 1u);
  EXPECT_EQ(BytesToHex(udp->Sent()[0].Bytes), GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Pings, RequestFrames,
    ::testing::Values(
        RequestCase{0, 0, "AA55050001000000000000000000100000CB0C"},
        RequestCase{-1, 0,
                    BytesToHex(BuildFrame(1, 0xFFFFFFFF, md_REQ, mt_COMMAND,
                                          std::vector<uint8_t>{0x10, 0, 0}.data(), 3))},
        RequestCase{10, 0x1234,
                    BytesToHex(BuildFrame(1, 10, md_REQ, mt_COMMAND,
                                          std::vector<uint8_t>{0x10, 0x34, 0x12}.data(), 3))}));

TEST_F(MemoryComm, AdapterRotationStepsThroughTheListOnEveryRepeat) {
  TScopedAdapterTable table(std::vector<TAdapterRecord>{{"a", "A", "127.0.0.1", "255.0.0.0", ""},
                                                        {"b", "B", "127.0.0.2", "255.0.0.0", ""},
                                                        {"c", "C", "127.0.0.3", "255.0.0.0", ""}});
  // The list is read when the communicator is made.
  auto endpoint = std::make_unique<TMemoryUdpEndpoint>();
  TMemoryUdpEndpoint* rotating = endpoint.get();
  TCommunicator rotator(std::move(endpoint));
  std::vector<std::string> boundAtSend;
  rotating->SetResponder([&](const TMemoryDatagram&) {
    boundAtSend.push_back(rotating->BindIP());
    return std::vector<TMemoryReply>{};
  });
  ASSERT_TRUE(rotator.Open("b"));
  rotator.SetAutoChangeEthAdapter(true);
  rotator.SetWaitTime(kShortWait);
  rotator.SetNoRetires(3);
  EXPECT_FALSE(rotator.Ping());
  EXPECT_EQ(boundAtSend,
            (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.1", "127.0.0.2"}));
  EXPECT_EQ(rotator.EthAdapter().ID(), "b");

  // An adapter that is not in the list moves on to the first entry.
  boundAtSend.clear();
  rotator.EthAdapter() = TEthernetAdapterInfo("gone", "gone", "127.0.0.9", "255.0.0.0");
  rotator.SetNoRetires(1);
  rotator.Ping();
  EXPECT_EQ(boundAtSend, (std::vector<std::string>{"127.0.0.2", "127.0.0.1"}));

  // Without rotation every attempt keeps the adapter.
  boundAtSend.clear();
  rotator.SetAutoChangeEthAdapter(false);
  rotator.Ping();
  EXPECT_EQ(boundAtSend, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
}

// --- Repeats and what ends a wait -----------------------------------------------------

TEST_F(MemoryComm, NoAnswerSendsTheRequestOncePlusEveryRepeat) {
  comm->SetLogToFile(true);
  comm->SetWaitTime(kShortWait);
  comm->SetNoRetires(3);
  int sends = 0;
  comm->SetOnSend([&] { ++sends; });
  EXPECT_FALSE(Ping());
  EXPECT_EQ(udp->SentCount(), 4u);
  EXPECT_EQ(sends, 4);
  const auto lines = ReadLines(logPath);
  ASSERT_EQ(lines.size(), 4u);
  const std::regex tx(
      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} Tx \(127\.0\.0\.1:49152->127\.255\.255\.255:8442\): AA55[0-9A-F]+)");
  for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, tx)) << line;
  EXPECT_EQ(comm->CommState(), csREADY);
}

TEST_F(MemoryComm, FailedSendsStillWaitLogAndRepeat) {
  comm->SetLogToFile(true);
  comm->SetWaitTime(kShortWait);
  comm->SetNoRetires(2);
  udp->SetSendFails(true);
  EXPECT_FALSE(Ping());
  EXPECT_EQ(udp->SentCount(), 3u);
  EXPECT_EQ(ReadLines(logPath).size(), 3u);
}

TEST_F(MemoryComm, AnAcknowledgementEndsTheTransactionWithItsAnswer) {
  comm->SetTarvoNAD(77);
  comm->SetNoRetires(3);
  AnswerEveryRequestWith({Answer(md_ACK, {0x01, 0x02}, 77)}, "127.0.0.33");
  ASSERT_TRUE(Ping());
  EXPECT_EQ(udp->SentCount(), 1u);
  EXPECT_EQ(comm->LastData(), "0102");
  EXPECT_EQ(comm->LastIP(), "127.0.0.33");
  EXPECT_EQ(comm->LastPort(), 8442);
  EXPECT_EQ(comm->SenderNAD(), 77);
  EXPECT_EQ(comm->ResponseErrorCode(), md_ACK);
  EXPECT_EQ(comm->CommState(), csREADY);
}

TEST_F(MemoryComm, ANegativeAnswerEndsEveryWaitAtOnce) {
  comm->SetNoRetires(3);
  AnswerEveryRequestWith({Answer(md_BADPASS)});
  EXPECT_FALSE(Ping());
  EXPECT_EQ(udp->SentCount(), 4u);
  EXPECT_EQ(comm->ResponseErrorCode(), md_BADPASS);
  // The negative answer that ended the last attempt stays readable.
  EXPECT_EQ(comm->LastIP(), kController);
}

TEST_F(MemoryComm, OnlyAnAnswerThatCanBeTheRequestsOwnEndsTheWait) {
  struct Case {
    const char* name;
    std::vector<uint8_t> frame;
    std::string from = kController;
  };
  const Case cases[] = {
      {"addressed to another NAD", Answer(md_ACK, {0x01, 0x02}, 10, 5)},
      {"addressed to NAD 0", Answer(md_ACK, {0x01, 0x02}, 10, 0)},
      {"of another message type", Answer(md_ACK, {0x01, 0x02}, 10, 1, mt_SOCKET)},
      {"a request", Answer(md_REQ, {0x01, 0x02})},
      {"from another controller", Answer(md_ACK, {0x01, 0x02}, 11)},
      {"a refusal from another controller", Answer(md_BADPASS, {}, 11)},
      {"from another address", Answer(md_ACK, {0x01, 0x02}), "127.0.0.11"},
      {"one byte short", Answer(md_ACK, {0x01})},
      {"one byte more", Answer(md_ACK, {0x01, 0x02, 0x03})},
  };
  comm->SetTarvoIP(kController);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The stray frame arrives first; the request's own answer right behind it.
    udp->SetResponder([&](const TMemoryDatagram&) {
      return std::vector<TMemoryReply>{{c.frame, c.from, 8442},
                                       {Answer(md_ACK, {0x01, 0x00}), kController, 8442}};
    });
    TSysStatus sys = ssNone;
    TPLCStatus plc = psNone;
    ASSERT_TRUE(comm->ReadStatus(sys, plc));
    EXPECT_EQ(sys, ssKernel);
    EXPECT_EQ(plc, psStop);
    udp->WaitUntilDelivered();
  }
}

TEST_F(MemoryComm, AnAnswerThatArrivesBeforeTheWaitStartsIsKept) {
  // The handler of OnSend runs between the send and the wait; by the time it returns
  // the answer has been received and published.
  AnswerEveryRequestWith({Answer(md_ACK, {0x42, 0x43})});
  comm->SetOnSend([this] { udp->WaitUntilDelivered(); });
  ASSERT_TRUE(comm->Ping());
  EXPECT_EQ(comm->LastData(), "4243");
}

TEST_F(MemoryComm, ACancelFromTheProgressHandlerEndsEachAttemptButNotTheRepeats) {
  comm->SetNoRetires(3);
  int polls = 0;
  comm->SetOnProgress([&](uint32_t progress, uint32_t max, bool& cancel) {
    EXPECT_EQ(max, static_cast<uint32_t>(kAnswerWait));
    EXPECT_LE(progress, max);
    ++polls;
    cancel = true;
  });
  EXPECT_FALSE(Ping());
  EXPECT_EQ(udp->SentCount(), 4u);
  EXPECT_EQ(polls, 4);
  EXPECT_EQ(comm->CommState(), csREADY);
}

TEST_F(MemoryComm, AnAnswerInThePollThatPassesTheTimeOutCountsAsTimeOut) {
  comm->SetWaitTime(1);
  int calls = 0;
  // The first poll receives the answer and outlasts the time-out.
  TScopedHook hook([&] {
    if (++calls > 1) return;
    udp->Deliver(Answer(md_ACK, {0x01}));
    udp->WaitUntilDelivered();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  EXPECT_FALSE(Ping());
  EXPECT_EQ(calls, 1);
}

TEST_F(MemoryComm, TheProcessEventsHookRunsDuringAWait) {
  comm->SetWaitTime(kShortWait);
  int calls = 0;
  TScopedHook hook([&] { ++calls; });
  EXPECT_FALSE(Ping());
  EXPECT_GE(calls, 1);
}

TEST_F(MemoryComm, CancelAllEndsAWaitWithFailureEvenAfterAnEarlierSuccess) {
  AnswerEveryRequestWith({Answer(md_ACK)});
  ASSERT_TRUE(Ping());
  ASSERT_EQ(comm->ResponseErrorCode(), md_ACK);
  udp->SetResponder(nullptr);
  TScopedHook hook([&] { comm->CancelAll(); });
  EXPECT_FALSE(Ping());
  EXPECT_EQ(udp->SentCount(), 2u);
}

TEST_F(MemoryComm, DisconnectDuringAWaitEndsIt) {
  comm->SetTarvoIP("127.0.0.10");
  TScopedHook hook([&] { comm->Disconnect(); });
  EXPECT_FALSE(Ping());
  EXPECT_EQ(comm->TarvoIP(), "");
  EXPECT_FALSE(udp->Active());
}

// --- Receive side ------------------------------------------------------------------------

TEST_F(MemoryComm, AnAnswerSplitOverTwoDatagramsIsReassembled) {
  const auto frame = Answer(md_ACK, {1, 2, 3, 4, 5, 6, 7, 8});
  // The first part has to hold the start mark: data without it is dropped while nothing
  // is being collected.
  for (size_t cut : {size_t{2}, size_t{3}, size_t{14}, frame.size() - 1}) {
    AnswerEveryRequestWith({std::vector<uint8_t>(frame.begin(), frame.begin() + cut),
                            std::vector<uint8_t>(frame.begin() + cut, frame.end())});
    EXPECT_TRUE(Ping()) << "cut after " << cut;
    EXPECT_EQ(comm->LastData(), "0102030405060708");
  }
}

struct SecondFrameCase {
  const char* name;
  // What arrives after the datagram that held two frames.
  std::vector<uint8_t> next;
  // The frame text OnQLinkRead reports for it, empty when it reports nothing.
  std::string reported;
};

class SecondFrame : public MemoryComm, public ::testing::WithParamInterface<SecondFrameCase> {};

TEST_P(SecondFrame, WaitsInTheBufferForTheNextDatagram) {
  const auto first = Answer(md_ACK, {0x11});
  const auto second = Answer(md_ACK, {0x22});
  std::vector<std::string> reported;
  comm->SetOnQLinkRead([&](const std::string&, int, int32_t, int32_t, TMessageDirection,
                           TMessageType, const std::string& frame,
                           const std::string&) { reported.push_back(frame); });
  AnswerEveryRequestWith({Concat(first, second)});
  ASSERT_TRUE(Ping());
  EXPECT_EQ(comm->LastData(), "11");
  udp->WaitUntilDelivered();
  EXPECT_EQ(Access::ReceiveBuffer(*comm), BytesToHex(second));

  udp->Deliver(GetParam().next);
  udp->WaitUntilDelivered();
  std::vector<std::string> expected = {BytesToHex(first)};
  if (!GetParam().reported.empty()) expected.push_back(GetParam().reported);
  EXPECT_EQ(reported, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SecondFrame,
    ::testing::Values(SecondFrameCase{"DecodesWhenMoreFramedDataArrives", Answer(md_ACK, {0x33}),
                                      BytesToHex(Answer(md_ACK, {0x22}))},
                      SecondFrameCase{"IsDiscardedByDataWithoutStartMark", {0x01, 0x02}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MemoryComm, TheStartOfTheNextWaitDiscardsALeftOverFrame) {
  AnswerEveryRequestWith({Concat(Answer(md_ACK, {0x11}), Answer(md_BADPASS))});
  ASSERT_TRUE(Ping());
  udp->WaitUntilDelivered();
  udp->SetResponder(nullptr);
  comm->SetWaitTime(kShortWait);
  EXPECT_FALSE(Ping());
  EXPECT_EQ(comm->ResponseErrorCode(), md_ACK);  // the left-over md_BADPASS never decoded
  EXPECT_EQ(Access::ReceiveBuffer(*comm), "");
}

TEST_F(MemoryComm, CollectedTextIsBoundedAndThenEmptied) {
  // Text with a start mark but never a valid frame: a length that promises more.
  std::vector<uint8_t> start = {0xAA, 0x55, 0x00, 0x04};
  start.resize(500, 0x99);
  const std::vector<uint8_t> more(500, 0x77);
  udp->Deliver(start);  // 1000 characters
  udp->WaitUntilDelivered();
  EXPECT_EQ(comm->CommState(), csRECEIVING);
  udp->Deliver(more);  // 2000
  udp->WaitUntilDelivered();
  EXPECT_EQ(comm->CommState(), csRECEIVING);
  EXPECT_EQ(Access::ReceiveBuffer(*comm).size(), 2000u);
  udp->Deliver(std::vector<uint8_t>(41, 0x77));  // 2082: past the bound
  udp->WaitUntilDelivered();
  EXPECT_EQ(comm->CommState(), csWAITING);
  EXPECT_EQ(Access::ReceiveBuffer(*comm), "");

  // With the buffer emptied the next answer decodes on its own.
  AnswerEveryRequestWith({Answer(md_ACK, {0x5A})});
  ASSERT_TRUE(Ping());
  EXPECT_EQ(comm->LastData(), "5A");
}

TEST_F(MemoryComm, DataWithoutStartMarkIsDroppedWhileNothingIsCollected) {
  udp->Deliver({0x01, 0x02, 0x03});
  udp->WaitUntilDelivered();
  EXPECT_EQ(comm->CommState(), csREADY);
  EXPECT_EQ(Access::ReceiveBuffer(*comm), "");
}

TEST_F(MemoryComm, TheStartMarkCountsOnlyOnAByteBoundary) {
  // 0A A5 50 reads "0AA550": the characters AA55 straddle two bytes there. The frame
  // that follows must still be found.
  AnswerEveryRequestWith({Concat({0x0A, 0xA5, 0x50}, Answer(md_ACK, {0x77}))});
  ASSERT_TRUE(Ping());
  EXPECT_EQ(comm->LastData(), "77");
}

TEST_F(MemoryComm, OnlyTheFirst2048BytesOfADatagramCount) {
  comm->SetLogToFile(true);
  auto datagram = Answer(md_ACK, {0x01});
  datagram.resize(3000, 0xEE);
  AnswerEveryRequestWith({datagram});
  ASSERT_TRUE(Ping());
  EXPECT_EQ(comm->LastData(), "01");
  udp->WaitUntilDelivered();
  const auto lines = ReadLines(logPath);
  ASSERT_EQ(lines.size(), 2u);
  const std::string rx = lines[1].substr(lines[1].find("): ") + 3);
  EXPECT_EQ(rx.size(), 2 * kMaxDatagramSize);
}

TEST_F(MemoryComm, DuplicatedAnswersDoNoHarm) {
  udp->SetResponder([](const TMemoryDatagram& sent) {
    // Echo the request's command code so that each transaction's answer differs.
    const auto answer = Answer(md_ACK, {sent.Bytes.at(14), 0x00});
    return std::vector<TMemoryReply>{{answer, kController, 8442}, {answer, kController, 8442}};
  });
  for (uint8_t command : {0x10, 0x11, 0x50}) {
    // Commands go through the same transaction as Ping.
    ASSERT_TRUE(Ping() && comm->SendCommand(command)) << int(command);
    const std::string expected = BytesToHex(&command, 1) + "00";
    EXPECT_EQ(comm->LastData(), expected);
    udp->WaitUntilDelivered();  // the copy arrives after the wait has ended
    EXPECT_EQ(comm->LastData(), expected);
  }
}

TEST_F(MemoryComm, ALateAnswerEndsTheRepeatAndItsOwnCopyIsHarmless) {
  int request = 0;
  udp->SetResponder([&](const TMemoryDatagram&) {
    // Nothing to the first request; the second brings the first one's late answer and
    // then its own.
    if (++request == 1) return std::vector<TMemoryReply>{};
    return std::vector<TMemoryReply>{{Answer(md_ACK, {0x01, 0x00}), kController, 8442},
                                     {Answer(md_ACK, {0x02, 0x00}), kController, 8442}};
  });
  comm->SetWaitTime(kShortWait);
  comm->SetNoRetires(1);
  comm->SetOnSend([&] {
    if (request == 2) comm->SetWaitTime(kAnswerWait);
  });
  ASSERT_TRUE(comm->Ping());
  EXPECT_EQ(comm->LastData(), "0100");
  udp->WaitUntilDelivered();
  EXPECT_EQ(comm->LastData(), "0100");

  udp->SetResponder(nullptr);
  AnswerEveryRequestWith({Answer(md_ACK, {0x03, 0x00})});
  ASSERT_TRUE(comm->Ping());
  EXPECT_EQ(comm->LastData(), "0300");
}

TEST_F(MemoryComm, AStrayFrameAfterTheTransactionLeavesItsResultAlone) {
  AnswerEveryRequestWith({Answer(md_ACK, {0x01, 0x02}, 10)});
  ASSERT_TRUE(Ping());
  udp->Deliver(Answer(md_BADPASS, {0x09}, 99), "127.0.0.99");
  udp->WaitUntilDelivered();
  EXPECT_EQ(comm->LastData(), "0102");
  EXPECT_EQ(comm->LastIP(), kController);
  EXPECT_EQ(comm->SenderNAD(), 10);
  EXPECT_EQ(comm->ResponseErrorCode(), md_ACK);
}

TEST_F(MemoryComm, EventsAndTheReceivingBinding) {
  int received = 0;
  std::vector<int32_t> readToNADs;
  comm->SetOnRecieve([&] { ++received; });
  comm->SetOnQLinkRead([&](const std::string& ip, int port, int32_t from, int32_t to,
                           TMessageDirection dir, TMessageType type, const std::string& frame,
                           const std::string& data) {
    EXPECT_EQ(ip, "127.0.0.44");
    EXPECT_EQ(port, 8442);
    EXPECT_EQ(from, 12);
    EXPECT_EQ(dir, md_ACK);
    EXPECT_EQ(type, mt_COMMAND);
    EXPECT_EQ(frame.substr(0, 4), "AA55");
    EXPECT_EQ(data, "C0");
    readToNADs.push_back(to);
  });
  for (uint32_t to : {1u, 0u, 7u}) udp->Deliver(Answer(md_ACK, {0xC0}, 12, to), "127.0.0.44");
  udp->Deliver({0x00});
  udp->WaitUntilDelivered();
  EXPECT_EQ(received, 4);
  EXPECT_EQ(readToNADs, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(comm->HostIP(), "127.0.0.1");
  EXPECT_EQ(comm->HostPort(), TMemoryUdpEndpoint::kChosenPort);
}

// --- Requests and answers in step ----------------------------------------------------

// A scripted controller whose answers a case can hold back, repeat and mix: each request
// is answered by the next entry of `script` (an empty entry: silence). Random reads are
// answered from a made-up data memory, for whatever addresses the request names.
class InStep : public MemoryComm {
 protected:
  void SetUp() override {
    MemoryComm::SetUp();
    comm->SetTarvoIP(kController);
    comm->SetWaitTime(kShortWait);
    udp->SetResponder([this](const TMemoryDatagram& d) {
      sent.push_back(d.Bytes);
      std::vector<TMemoryReply> replies;
      if (next < script.size()) {
        for (const auto& frame : script[next]) replies.push_back({frame, kController, 8442});
      }
      ++next;
      return replies;
    });
  }

  static uint8_t Memory(uint16_t address) { return static_cast<uint8_t>(address * 7 + 1); }

  // The answer a correct controller gives to a random read request.
  static std::vector<uint8_t> RandomReadAnswer(const std::vector<uint8_t>& request) {
    const uint8_t* p = request.data() + kRequestParamsOffset;
    const auto u16 = [&](int at) { return GetLE16(p + at); };
    const int counts[3] = {u16(0), u16(2), u16(4)};
    std::vector<uint8_t> body;
    int k = 0;
    for (int g = 0, width = 1; g < 3; ++g, width *= 2) {
      for (int i = 0; i < counts[g]; ++i, ++k) {
        const uint16_t address = u16(6 + 2 * k);
        for (int b = 0; b < width; ++b) body.push_back(Memory(static_cast<uint16_t>(address + b)));
      }
    }
    return Answer(md_ACK, body);
  }

  // Reads one int at 0x30 (two bytes, as a status answer has) and checks what it got.
  void ExpectIntRead(const std::vector<std::vector<uint8_t>>& before) {
    TTarvoVarList list;
    list.Add(std::make_unique<TTarvoVar>("i", 0x30, 2, 1, 0, 0, vsGlobal, vtInt, vvUser,
                                         vaReadWrite, "", TVarValue{}));
    udp->SetResponder([this, before](const TMemoryDatagram& d) {
      sent.push_back(d.Bytes);
      std::vector<TMemoryReply> replies;
      for (const auto& frame : before) replies.push_back({frame, kController, 8442});
      replies.push_back({RandomReadAnswer(d.Bytes), kController, 8442});
      return replies;
    });
    comm->SetWaitTime(kAnswerWait);
    ASSERT_TRUE(comm->ReadVars(&list));
    EXPECT_EQ(list.Items(0)->TarvoValue(), Memory(0x30) | (Memory(0x31) << 8));
  }

  bool ReadStatus() {
    TSysStatus sys = ssNone;
    TPLCStatus plc = psNone;
    return comm->ReadStatus(sys, plc);
  }

  std::vector<std::vector<std::vector<uint8_t>>> script;
  size_t next = 0;
  std::vector<std::vector<uint8_t>> sent;
};

const std::vector<uint8_t> kStatusAnswer = Answer(md_ACK, {0x01, 0x02});

TEST_F(InStep, ACopyOfTheLastAnswerIsNotTakenForTheNextRequest) {
  // A network copy of the status answer comes in while the next request waits, ahead of
  // that request's own answer. A random read of one int has an answer of that very
  // length (and the status bytes 01 02 would read 513): it asks for a byte more instead.
  comm->SetWaitTime(kAnswerWait);
  script = {{kStatusAnswer}, {kStatusAnswer}};
  ASSERT_TRUE(ReadStatus());
  ExpectIntRead({kStatusAnswer});
  EXPECT_EQ(sent.back().at(kRequestParamsOffset), 1) << "one one-byte read added";

  // A code read cannot choose its length; the copy is known by its bytes.
  AnswerEveryRequestWith({kStatusAnswer});
  ASSERT_TRUE(ReadStatus());
  AnswerEveryRequestWith({kStatusAnswer, Answer(md_ACK, {0xAB, 0xCD})});
  uint8_t code[2] = {};
  ASSERT_TRUE(comm->ReadCode(7, 2, code, sizeof code));
  EXPECT_EQ(code[0], 0xAB);
  EXPECT_EQ(code[1], 0xCD);
}

TEST_F(InStep, TheSameBytesForADifferentRequestAreTakenOnceNoCopyCanCome) {
  // Two code blocks that hold the same bytes: the second answer looks like a copy of the
  // first. The repeat goes out once no copy of the first can come any more, and its
  // answer is taken.
  const auto block = Answer(md_ACK, {0x11, 0x22});
  script = {{block}, {block}, {block}};
  comm->SetNoRetires(1);
  comm->SetWaitTime(200);
  uint8_t code[2] = {};
  ASSERT_TRUE(comm->ReadCode(1, 2, code, sizeof code));
  ASSERT_TRUE(comm->ReadCode(2, 2, code, sizeof code));
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_EQ(code[1], 0x22);
}

TEST_F(InStep, LateAnswersToAnUnansweredRequestAreCountedNotTaken) {
  comm->SetNoRetires(1);
  script = {{}, {}};  // the status request goes unanswered twice
  ASSERT_FALSE(ReadStatus());
  // Both answers arrive late, while the read waits; the read chose a length of its own.
  // (The PLC stopped in between: two equal answers would count as one and its copy.)
  ExpectIntRead({kStatusAnswer, Answer(md_ACK, {0x01, 0x00})});
  EXPECT_EQ(sent.back().at(kRequestParamsOffset), 1);

  // Counted, they may still be followed by copies: the next read keeps its length apart
  // from theirs, and goes out as the same request as the last read.
  const auto last = sent.back();
  ExpectIntRead({});
  EXPECT_EQ(sent.back(), last);
}

TEST_F(InStep, ARequestThatCannotChooseItsLengthWaitsForTheLateAnswers) {
  script = {{}};
  ASSERT_FALSE(ReadStatus());
  // The code read's answer could be the late status answer: it goes out only once that
  // has come.
  std::atomic<bool> lateDelivered{false};
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    lateDelivered = true;
    udp->Deliver(kStatusAnswer);
  });
  bool sentAfterLate = false;
  udp->SetResponder([&](const TMemoryDatagram&) {
    sentAfterLate = lateDelivered.load();
    return std::vector<TMemoryReply>{{Answer(md_ACK, {0xAB, 0xCD}), kController, 8442}};
  });
  comm->SetWaitTime(kAnswerWait);
  uint8_t code[2] = {};
  const bool read = comm->ReadCode(7, 2, code, sizeof code);
  late.join();
  ASSERT_TRUE(read);
  EXPECT_TRUE(sentAfterLate);
  EXPECT_EQ(code[0], 0xAB);
}

TEST_F(InStep, CancelAllEndsTheWaitForLateAnswers) {
  script = {{}};
  ASSERT_FALSE(ReadStatus());
  const size_t before = udp->SentCount();
  TScopedHook hook([&] { comm->CancelAll(); });
  uint8_t code[2] = {};
  EXPECT_FALSE(comm->ReadCode(7, 2, code, sizeof code));
  EXPECT_EQ(udp->SentCount(), before) << "nothing went out";
}

TEST_F(InStep, ARefusalIsCountedAgainstTheOldestOpenRequest) {
  script = {{}};
  ASSERT_FALSE(ReadStatus());
  // The late refusal may be the status request's; the read's own answer follows it.
  ExpectIntRead({Answer(md_NOTREADY)});
}

TEST_F(InStep, AnAnswerThatArrivedBeforeTheRequestWentOutIsNotItsAnswer) {
  // The listener is still busy with an earlier datagram when the request goes out, so a
  // status answer queued before the request is handled during its wait.
  std::atomic<int> received{0};
  comm->SetOnRecieve([&] {
    if (received++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  udp->Deliver({0x00});
  udp->Deliver(kStatusAnswer);
  script = {{}};
  comm->SetWaitTime(200);
  EXPECT_FALSE(ReadStatus());
  EXPECT_EQ(received.load(), 2);
}

TEST_F(InStep, AFrameThatFailsItsChecksumDoesNotCostTheAnswerBehindIt) {
  auto corrupt = kStatusAnswer;
  corrupt.back() ^= 0xFF;
  comm->SetWaitTime(kAnswerWait);
  script = {{corrupt, Answer(md_ACK, {0x01, 0x00})}};
  TSysStatus sys = ssNone;
  TPLCStatus plc = psRun;
  ASSERT_TRUE(comm->ReadStatus(sys, plc));
  EXPECT_EQ(plc, psStop);
}

TEST_F(InStep, NADZeroIsNeverTheTargetOfAReadOrAWrite) {
  // Every controller answers NAD 0, so any of them could take the request.
  comm->SetTarvoNAD(0);
  uint8_t bytes[2] = {1, 2};
  TTarvoVarList list;
  list.Add(std::make_unique<TTarvoVar>("i", 0x30, 2, 1, 0, 0, vsGlobal, vtInt, vvUser, vaReadWrite,
                                       "", TVarValue{}));
  EXPECT_FALSE(ReadStatus());
  EXPECT_FALSE(comm->ReadCode(1, 2, bytes, sizeof bytes));
  EXPECT_FALSE(comm->WriteData(0x30, 2, bytes));
  EXPECT_FALSE(comm->ReadVars(&list));
  EXPECT_FALSE(comm->WriteVars(&list));
  EXPECT_EQ(udp->SentCount(), 0u);
  // A ping asks only who is there.
  comm->Ping();
  EXPECT_EQ(udp->SentCount(), 1u);
}

// --- Discovery collection -------------------------------------------------------------

struct CollectionCase {
  const char* name;
  std::vector<std::vector<uint8_t>> answers;
  std::vector<std::string> nads;
  std::vector<std::string> ips;  // answer k comes from 127.0.0.(10 + k)
  std::vector<TMessageDirection> codes;
};

class Collection : public MemoryComm, public ::testing::WithParamInterface<CollectionCase> {};

TEST_P(Collection, ListsEveryAnswerToThePingWithItsCodeForTheWholeWindow) {
  std::vector<TMemoryReply> replies;
  int host = 10;
  for (const auto& a : GetParam().answers) {
    replies.push_back({a, "127.0.0." + std::to_string(host++), 8442});
  }
  udp->SetResponder([replies](const TMemoryDatagram&) { return replies; });
  // Every answer is in before the window starts, so a short window loses none.
  comm->SetOnSend([this] { udp->WaitUntilDelivered(); });
  comm->SetWaitTime(1);
  Access::SetDiscovery(*comm, true);
  Ping();
  Access::SetDiscovery(*comm, false);
  EXPECT_EQ(Access::NADList(*comm), GetParam().nads);
  EXPECT_EQ(Access::IPList(*comm), GetParam().ips);
  EXPECT_EQ(Access::CodeList(*comm), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Collection,
    ::testing::Values(CollectionCase{"EveryAnswerInOrder",
                                     {Answer(md_ACK, {}, 10), Answer(md_ACK, {}, 11),
                                      Answer(md_ACK, {}, 0x80000001u)},
                                     {"10", "11", "2147483649"},
                                     {"127.0.0.10", "127.0.0.11", "127.0.0.12"},
                                     {md_ACK, md_ACK, md_ACK}},
                      // A refusal is a controller that is there; the ones after it too.
                      CollectionCase{"ANegativeAnswerIsListedAndTheCollectionGoesOn",
                                     {Answer(md_ACK, {}, 10), Answer(md_BADPASS, {}, 11),
                                      Answer(md_ACK, {}, 12)},
                                     {"10", "11", "12"},
                                     {"127.0.0.10", "127.0.0.11", "127.0.0.12"},
                                     {md_ACK, md_BADPASS, md_ACK}},
                      // Frames that are no answer to the tool's ping cannot end the window.
                      CollectionCase{"AnotherTypeIsPassedOver",
                                     {Answer(md_ACK, {}, 10), Answer(md_ACK, {}, 11, 1, mt_SOCKET),
                                      Answer(md_ACK, {}, 12)},
                                     {"10", "12"},
                                     {"127.0.0.10", "127.0.0.12"},
                                     {md_ACK, md_ACK}},
                      CollectionCase{"AnotherTargetIsPassedOver",
                                     {Answer(md_ACK, {}, 10, 5), Answer(md_ACK, {}, 11)},
                                     {"11"},
                                     {"127.0.0.11"},
                                     {md_ACK}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MemoryComm, NothingIsCollectedOutsideAWait) {
  Access::SetDiscovery(*comm, true);
  udp->Deliver(Answer(md_ACK, {}, 10));
  udp->WaitUntilDelivered();
  Access::SetDiscovery(*comm, false);
  EXPECT_TRUE(Access::NADList(*comm).empty());
}

// --- Connect and Disconnect --------------------------------------------------------------

TEST_F(MemoryComm, ConnectLearnsTheAnsweringAddressOnlyOnSuccess) {
  comm->SetTarvoIP("");
  AnswerEveryRequestWith({Answer(md_NOTREADY)}, "127.0.0.61");
  EXPECT_FALSE(comm->Connect());
  EXPECT_EQ(comm->TarvoIP(), "");

  AnswerEveryRequestWith({Answer(md_ACK)}, "127.0.0.61");
  ASSERT_TRUE(comm->Connect());
  EXPECT_EQ(comm->TarvoIP(), "127.0.0.61");
  EXPECT_TRUE(Ping());
  EXPECT_EQ(udp->Sent().back().Host, "127.0.0.61");
}

TEST_F(MemoryComm, DisconnectForgetsTheControllerAndTheNextSendActivatesOnDemand) {
  AnswerEveryRequestWith({Answer(md_ACK, {0x01, 0x02})}, "127.0.0.61");
  ASSERT_TRUE(comm->Connect());
  EXPECT_TRUE(comm->Disconnect());
  EXPECT_EQ(comm->TarvoIP(), "");
  EXPECT_EQ(comm->LastData(), "");
  EXPECT_EQ(comm->LastIP(), "");
  EXPECT_EQ(comm->LastPort(), 0);
  EXPECT_EQ(comm->CommState(), csREADY);
  EXPECT_FALSE(udp->Active());
  EXPECT_FALSE(udp->HasBinding());
  EXPECT_EQ(udp->DefaultPort(), 0);

  ASSERT_TRUE(Ping());
  EXPECT_TRUE(udp->Active());
  EXPECT_FALSE(udp->HasBinding());
  EXPECT_EQ(udp->Sent().back().Host, "127.255.255.255");
}

// --- Debug log ----------------------------------------------------------------------------

TEST_F(MemoryComm, NothingIsLoggedWhileTheLogIsOff) {
  AnswerEveryRequestWith({Answer(md_ACK)});
  ASSERT_TRUE(Ping());
  udp->WaitUntilDelivered();
  EXPECT_FALSE(FileExists(logPath));
}

TEST_F(MemoryComm, EveryFrameSentAndDatagramReceivedIsOneAppendedLine) {
  {
    std::ofstream earlier(logPath, std::ios::binary);
    earlier << "earlier line\r\n";
  }
  comm->SetLogToFile(true);
  comm->SetTarvoPort(8442);
  const auto answer = Answer(md_ACK, {0x01});
  AnswerEveryRequestWith({answer}, "127.0.0.10");
  ASSERT_TRUE(Ping());
  udp->WaitUntilDelivered();
  const auto lines = ReadLines(logPath);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  const std::string stamp =
      R"(\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12]\d|3[01]) ([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3} )";
  const std::string request = BytesToHex(udp->Sent()[0].Bytes);
  EXPECT_TRUE(std::regex_match(
      lines[1],
      std::regex(stamp + R"(Tx \(127\.0\.0\.1:49152->127\.255\.255\.255:8442\): )" + request)))
      << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex(stamp + R"(Rx \(127\.0\.0\.10:8442->127\.0\.0\.1:49152\): )" +
                           BytesToHex(answer))))
      << lines[2];
}

TEST_F(MemoryComm, AnUnwritableLogDoesNotDisturbTheTransactionAndIsReportedOnce) {
  // Beneath a plain file no one can open the log, root included.
  { std::ofstream(logPath) << "a file, not a folder"; }
  const std::string unwritable = logPath + "/q-link.log";
  TCommunicator::SetLogFilePath(unwritable);
  comm->SetLogToFile(true);
  AnswerEveryRequestWith({Answer(md_ACK)});
  EXPECT_TRUE(Ping());
  EXPECT_TRUE(Ping());
  udp->WaitUntilDelivered();
  const auto failure = TakeLogFileFailure();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->Path, unwritable);
  EXPECT_FALSE(TakeLogFileFailure());
}

TEST(CommunicatorLog, DefaultsToTheExecutablesDirectory) {
  TCommunicator::SetLogFilePath("");
  const std::string path = TCommunicator::LogFilePath();
  EXPECT_EQ(path, std::string(VARNEL_BIN_DIR) + "/q-link.log");
}

TEST(CommunicatorProgress, ScalesProgressToTheScale) {
  TCommunicator comm(std::make_unique<TMemoryUdpEndpoint>());
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  comm.SetOnProgress([&](uint32_t value, uint32_t max, bool&) { calls.push_back({value, max}); });
  bool cancel = false;
  Access::DoProgress(comm, 3, 4, 1000, cancel);                   // 750
  Access::DoProgress(comm, 1, 3, 100, cancel);                    // 33.3 -> 33
  Access::DoProgress(comm, 2, 3, 100, cancel);                    // 66.7 -> 67
  Access::DoProgress(comm, 5, 0, 100, cancel);                    // no maximum: full scale
  Access::DoProgress(comm, 4000000000u, 1, 4000000000u, cancel);  // capped, not wrapped
  EXPECT_EQ(calls, (std::vector<std::pair<uint32_t, uint32_t>>{
                       {750, 1000}, {33, 100}, {67, 100}, {100, 100}, {0xFFFFFFFFu, 4000000000u}}));
}

// --- Real UDP on loopback against simulated controllers ----------------------------------

class LoopbackComm : public ::testing::Test {
 protected:
  void Start(sim::TSimFaults faults = {}, int controllers = 1) {
    std::string error;
    host = testsupport::StartSimulators(controllers, error,
                                        [&](sim::TSimHostOptions& o) { o.Faults = faults; });
    ASSERT_NE(host, nullptr) << error;
    comm.SetTarvoPort(host->Port());
    comm.SetWaitTime(kAnswerWait);
    comm.SetNoRetires(0);
    ASSERT_TRUE(comm.Open("lo"));
  }
  void TearDown() override {
    comm.Disconnect();
    if (host) host->Stop();
  }

  TCommunicator comm;
  std::unique_ptr<sim::TSimHost> host;
};

TEST_F(LoopbackComm, ConnectByBroadcastLearnsTheControllersOwnAddress) {
  Start({}, 3);
  comm.SetTarvoNAD(11);
  ASSERT_TRUE(comm.Connect());
  EXPECT_EQ(comm.TarvoIP(), "127.0.0.11");
  EXPECT_EQ(comm.SenderNAD(), 11);
  EXPECT_EQ(comm.HostIP(), "127.0.0.1");
  auto requests = host->Controller(1).Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].Broadcast);

  // From now on the controller is addressed directly.
  ASSERT_TRUE(comm.Ping());
  requests = host->Controller(1).Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[1].Broadcast);
  EXPECT_EQ(requests[1].PeerIP, "127.0.0.1");
  EXPECT_EQ(host->Controller(0).Requests().size(), 0u);
}

TEST_F(LoopbackComm, ARefusedPasswordEndsEveryAttempt) {
  sim::TSimFaults faults;
  faults.NegativeCode = md_BADPASS;
  Start(faults);
  comm.SetTarvoNAD(10);
  comm.SetNoRetires(3);
  EXPECT_FALSE(comm.Connect());
  EXPECT_EQ(comm.ResponseErrorCode(), md_BADPASS);
  EXPECT_EQ(comm.TarvoIP(), "");
  EXPECT_EQ(host->Controller(0).Requests().size(), 4u);
}

TEST_F(LoopbackComm, NoControllerMeansTimeOutsAfterEveryRepeat) {
  Start();
  comm.SetTarvoNAD(99);  // nobody has it
  comm.SetWaitTime(kShortWait);
  comm.SetNoRetires(2);
  EXPECT_FALSE(comm.Connect());
  EXPECT_EQ(comm.LastIP(), "");
}

struct FaultCase {
  const char* name;
  sim::TSimFaults faults;
};

class LoopbackFaults : public LoopbackComm, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LoopbackFaults, StillGiveEachTransactionItsOwnAnswer) {
  Start(GetParam().faults);
  comm.SetTarvoNAD(10);
  ASSERT_TRUE(comm.Connect());
  for (int i = 0; i < 5; ++i) {
    TSysStatus sys{};
    TPLCStatus plc{};
    ASSERT_TRUE(comm.ReadStatus(sys, plc)) << i;
    EXPECT_EQ(sys, ssKernel);
    EXPECT_EQ(plc, psRun);
    ASSERT_TRUE(comm.Ping()) << i;
    EXPECT_EQ(comm.LastData(), "0000");  // the simulator answers with its password hash
  }
}

// Copies and two frames in one datagram: the status answer (01 02) and the ping answer
// (the password hash, 00 00) have the same length, so each is what the other's copy
// would be taken for.
sim::TSimFaults Faults(bool duplicate, bool split, bool twoFrames) {
  sim::TSimFaults f;
  f.Duplicate = duplicate;
  f.Split = split;
  f.TwoFrames = twoFrames;
  return f;
}

INSTANTIATE_TEST_SUITE_P(Cases, LoopbackFaults,
                         ::testing::Values(FaultCase{"None", Faults(false, false, false)},
                                           FaultCase{"Split", Faults(false, true, false)},
                                           FaultCase{"TwoFrames", Faults(false, false, true)},
                                           FaultCase{"Duplicate", Faults(true, false, false)},
                                           FaultCase{"All", Faults(true, true, true)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
