// The communicator's commands, discovery, memory transfers and variable access against
// simulated controllers on loopback: what each operation hands back, and exactly which
// requests reached the controller.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "comm/uCommunication.h"
#include "data/uTarvoVars.h"
#include "protocol/uQLink.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

namespace {

constexpr uint32_t kNAD = 10;
// Long enough that a loaded machine does not turn an answer into a time-out; a refusal
// by the controller ends a wait at once, so failing cases stay quick.
constexpr int kWaitTime = 1000;

uint16_t U16(const std::vector<uint8_t>& p, size_t at) {
  (void)p.at(at + 1);  // within the parameters
  return GetLE16(p.data() + at);
}

// (block or address, count) of a memory request.
using TLocation = std::pair<uint16_t, uint16_t>;

TLocation LocationOf(const sim::TSimRequest& r) {
  return {U16(r.Params, 0), U16(r.Params, 2)};
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + 7 * i + (i >> 8));
  return bytes;
}

std::unique_ptr<TTarvoVar> MakeVar(const std::string& name, int32_t address, TTarvoVarTyp typ) {
  return std::make_unique<TTarvoVar>(name, address, std::max(TypWidth(typ), 1), 1, 0, 0, vsGlobal,
                                     typ, vvUser, vaReadWrite, "", TVarValue{});
}

// A simulator host with its controllers, and a communicator on adapter "lo" addressed to
// the first controller.
class SimTest : public ::testing::Test {
 protected:
  virtual void Configure(sim::TSimHostOptions& o) {}

  void SetUp() override {
    std::string error;
    fHost = testsupport::StartSimulators(1, error, [this](sim::TSimHostOptions& o) {
      o.BaseNAD = kNAD;
      Configure(o);
    });
    ASSERT_NE(fHost, nullptr) << error;
    comm.SetTarvoPort(fHost->Port());
    comm.SetWaitTime(kWaitTime);
    comm.SetNoRetires(1);
    ASSERT_TRUE(comm.Open("lo"));
    comm.SetTarvoNAD(static_cast<int32_t>(kNAD));
    ASSERT_TRUE(comm.Connect());
    ASSERT_EQ(comm.TarvoIP(), "127.0.0.10");
    for (int i = 0; i < fHost->Count(); ++i) fHost->Controller(i).ClearRequests();
  }

  void TearDown() override {
    comm.Disconnect();
    if (fHost) fHost->Stop();
  }

  sim::TSimController& Ctl(int i = 0) { return fHost->Controller(i); }

  // The requests controller i received with this command code, in order.
  std::vector<sim::TSimRequest> Sent(uint8_t command, int i = 0) {
    std::vector<sim::TSimRequest> out;
    for (const sim::TSimRequest& r : Ctl(i).Requests()) {
      if (r.Command == command) out.push_back(r);
    }
    return out;
  }

  std::vector<TLocation> Locations(uint8_t command) {
    std::vector<TLocation> out;
    for (const sim::TSimRequest& r : Sent(command)) out.push_back(LocationOf(r));
    return out;
  }

  // Records the progress the transfers report; a wait reports its own progress with the
  // time-out as maximum, which kWaitTime keeps apart from the byte counts used here.
  void RecordProgress(int cancelAfter = -1) {
    comm.SetOnProgress([this, cancelAfter](uint32_t p, uint32_t max, bool& cancel) {
      if (max == static_cast<uint32_t>(kWaitTime)) return;
      progress.emplace_back(p, max);
      if (cancelAfter >= 0 && static_cast<int>(progress.size()) >= cancelAfter) cancel = true;
    });
  }

  TCommunicator comm;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  std::unique_ptr<sim::TSimHost> fHost;
};

// ---- commands ------------------------------------------------------------------------

TEST_F(SimTest, RunControlCommandsSendTheirCodeAndParameters) {
  struct Case {
    const char* name;
    bool (*run)(TCommunicator&);
    uint8_t code;
    std::vector<uint8_t> params;
  };
  // StartLoader leaves the kernel, so it goes last, and StartKernel brings it back.
  const Case cases[] = {
      {"StopPLC", [](TCommunicator& c) { return c.StopPLC(); }, 0x41, {}},
      {"StartPLC", [](TCommunicator& c) { return c.StartPLC(); }, 0x40, {}},
      {"DataInit", [](TCommunicator& c) { return c.DataInit(); }, 0x30, {}},
      {"FlashInit", [](TCommunicator& c) { return c.FlashInit(0x0F, 0x01); }, 0x20, {0x0F, 0x01}},
      {"StartLoader", [](TCommunicator& c) { return c.StartLoader(); }, 0x00, {}},
      {"StartKernel", [](TCommunicator& c) { return c.StartKernel(); }, 0x01, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ctl().ClearRequests();
    EXPECT_TRUE(c.run(comm));
    const std::vector<sim::TSimRequest> sent = Ctl().Requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Command, c.code);
    EXPECT_EQ(sent[0].Params, c.params);
    EXPECT_EQ(sent[0].FromNAD, 1u);
    EXPECT_EQ(sent[0].ToNAD, kNAD);
    EXPECT_FALSE(sent[0].Broadcast);
  }
  EXPECT_EQ(comm.WaitTime(), kWaitTime);
}

TEST_F(SimTest, ReadStatusFollowsTheController) {
  struct Case {
    const char* name;
    void (*prepare)(sim::TSimController&);
    TSysStatus sys;
    TPLCStatus plc;
    bool running;
  };
  const Case cases[] = {
      {"running", [](sim::TSimController&) {}, ssKernel, psRun, true},
      {"stopped", [](sim::TSimController& c) { c.SetRunning(false); }, ssKernel, psStop, false},
      {"no program", [](sim::TSimController& c) { c.ClearProgram(); }, ssKernel, psNoValidProgram,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare(Ctl());
    TSysStatus sys = ssNone;
    TPLCStatus plc = psNone;
    EXPECT_TRUE(comm.ReadStatus(sys, plc));
    EXPECT_EQ(sys, c.sys);
    EXPECT_EQ(plc, c.plc);
    EXPECT_EQ(comm.CheckIfTarvoIsRunning(), c.running);
  }
}

TEST_F(SimTest, CheckIfTarvoIsRunningCallsReadStatusUpToNoRetiresPlusOneTimes) {
  sim::TSimFaults refuse;
  refuse.NegativeCode = md_NOTREADY;
  Ctl().SetFaults(refuse);
  comm.SetNoRetires(2);
  EXPECT_FALSE(comm.CheckIfTarvoIsRunning());
  // Three calls, each a transaction of three attempts.
  EXPECT_EQ(Sent(0x11).size(), 9u);
  EXPECT_EQ(comm.ResponseErrorCode(), md_NOTREADY);
}

TEST_F(SimTest, HeadersComeOverByteForByte) {
  TLoaderHeader loader{};
  ASSERT_TRUE(comm.ReadLoaderHeader(loader));
  EXPECT_EQ(+loader.serial, static_cast<int32_t>(100000 + kNAD));

  TKernelHeader kernel{};
  ASSERT_TRUE(comm.ReadKernelHeader(kernel));
  EXPECT_EQ(+kernel.magic, kCodeHeaderMagic);
  EXPECT_EQ(+kernel.NAD_Alias, kNAD);
  EXPECT_EQ(+kernel.transfer_date, Ctl().TransferDate());
}

TEST_F(SimTest, RefusedKernelHeaderLeavesTheRecordAlone) {
  ASSERT_TRUE(comm.StartLoader());
  TKernelHeader kernel;
  std::memset(&kernel, 0xA5, sizeof kernel);
  EXPECT_FALSE(comm.ReadKernelHeader(kernel));
  EXPECT_EQ(comm.ResponseErrorCode(), md_NOKERN);
  EXPECT_EQ(+kernel.magic, 0xA5A5);
}

TEST_F(SimTest, PasswordHashComesFromThePing) {
  Ctl().SetPassword("secret");
  comm.SetPasswordCRC(PasswordHashUtf8("secret"));
  uint16_t crc = 0;
  ASSERT_TRUE(comm.GetTarvoPasswordCRC(crc));
  EXPECT_EQ(crc, PasswordHashUtf8("secret"));

  comm.SetPasswordCRC(PasswordHashUtf8("wrong"));
  crc = 7;
  EXPECT_FALSE(comm.GetTarvoPasswordCRC(crc));
  EXPECT_EQ(comm.ResponseErrorCode(), md_BADPASS);
  EXPECT_EQ(crc, 7);
}

TEST_F(SimTest, IexMessagesRoundTrip) {
  // The simulated controller echoes the request's length field and message.
  uint8_t buffer[16] = {1, 2, 3, 4, 5};
  int length = 5;
  ASSERT_TRUE(comm.IEX_Messages(length, buffer, sizeof buffer));
  const std::vector<sim::TSimRequest> sent = Sent(0x80);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Params, (std::vector<uint8_t>{5, 0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(length, 5);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(SimTest, IexMessagesRefusesALengthBeyondTheBuffer) {
  uint8_t buffer[4] = {};
  int length = 5;
  EXPECT_FALSE(comm.IEX_Messages(length, buffer, sizeof buffer));
  length = -1;
  EXPECT_FALSE(comm.IEX_Messages(length, buffer, sizeof buffer));
  EXPECT_TRUE(Ctl().Requests().empty());
}

// ---- controller address ----------------------------------------------------------------

TEST(CommunicatorAddress, SetTarvoNADForgetsTheAddressOnlyForANewController) {
  TCommunicator comm;
  comm.SetTarvoNAD(10);
  comm.SetTarvoIP("127.0.0.10");
  comm.SetTarvoNAD(10);
  EXPECT_EQ(comm.TarvoIP(), "127.0.0.10");
  comm.SetTarvoNAD(11);
  EXPECT_EQ(comm.TarvoNAD(), 11);
  EXPECT_EQ(comm.TarvoIP(), "");
}

TEST(CommunicatorAddress, SetTarvoStaticIPSplitsHostAndPort) {
  struct Case {
    const char* text;
    const char* ip;
    int port;
  };
  const Case cases[] = {
      {"127.0.0.10:9000", "127.0.0.10", 9000},
      {"127.0.0.10", "127.0.0.10", 8442},
      {"127.0.0.10:abc", "127.0.0.10:abc", 8442},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TCommunicator comm;
    comm.SetTarvoStaticIP(c.text);
    EXPECT_EQ(comm.TarvoStaticIP(), c.text);
    EXPECT_EQ(comm.TarvoIP(), c.ip);
    EXPECT_EQ(comm.TarvoPort(), c.port);
  }
}

// ---- discovery -----------------------------------------------------------------------

class DiscoveryTest : public SimTest {
 protected:
  void Configure(sim::TSimHostOptions& o) override { o.Controllers = 3; }
  static constexpr int kWindow = 300;
};

TEST_F(DiscoveryTest, ListsEveryControllerWithItsOwnAddress) {
  std::vector<std::string> nads{"stale"}, ips{"stale", "too"};
  ASSERT_TRUE(comm.DetectTarvos(&nads, &ips, kWindow));
  ASSERT_EQ(nads.size(), 3u);
  ASSERT_EQ(ips.size(), 3u);
  std::set<std::pair<std::string, std::string>> found;
  for (size_t i = 0; i < nads.size(); ++i) found.emplace(nads[i], ips[i]);
  const std::set<std::pair<std::string, std::string>> expected = {
      {"10", "127.0.0.10"}, {"11", "127.0.0.11"}, {"12", "127.0.0.12"}};
  EXPECT_EQ(found, expected);
}

TEST_F(DiscoveryTest, SendsExactlyOneBroadcastPingWhateverNoRetires) {
  for (int retries : {0, 3, 10}) {
    SCOPED_TRACE(retries);
    for (int i = 0; i < 3; ++i) Ctl(i).ClearRequests();
    comm.SetNoRetires(retries);
    std::vector<std::string> nads, ips;
    ASSERT_TRUE(comm.DetectTarvos(&nads, &ips, kWindow));
    for (int i = 0; i < 3; ++i) {
      const std::vector<sim::TSimRequest> sent = Ctl(i).Requests();
      ASSERT_EQ(sent.size(), 1u) << "controller " << i;
      EXPECT_EQ(sent[0].Command, 0x10);
      EXPECT_EQ(sent[0].ToNAD, 0u);
      EXPECT_TRUE(sent[0].Broadcast);
    }
  }
}

TEST_F(DiscoveryTest, RestoresTheCommunicatorAndWaitsTheWindow) {
  comm.SetTarvoNAD(11);
  comm.SetTarvoIP("127.0.0.11");
  comm.SetWaitTime(321);
  comm.SetNoRetires(7);
  std::set<uint32_t> waitedFor;
  comm.SetOnProgress([&](uint32_t, uint32_t max, bool&) { waitedFor.insert(max); });
  std::vector<std::string> nads, ips;
  ASSERT_TRUE(comm.DetectTarvos(&nads, &ips, kWindow));
  EXPECT_EQ(waitedFor, std::set<uint32_t>{kWindow});
  EXPECT_EQ(nads.size(), 3u);
  EXPECT_EQ(comm.TarvoNAD(), 11);
  EXPECT_EQ(comm.TarvoIP(), "127.0.0.11");
  EXPECT_EQ(comm.WaitTime(), 321);
  EXPECT_EQ(comm.NoRetires(), 7);
}

TEST_F(DiscoveryTest, MissingListSendsNothing) {
  std::vector<std::string> nads{"kept"}, ips;
  EXPECT_FALSE(comm.DetectTarvos(&nads, nullptr, kWindow));
  EXPECT_FALSE(comm.DetectTarvos(nullptr, &ips, kWindow));
  EXPECT_EQ(nads, std::vector<std::string>{"kept"});
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Ctl(i).Requests().empty());
  EXPECT_EQ(comm.TarvoNAD(), static_cast<int32_t>(kNAD));
}

TEST_F(DiscoveryTest, AControllerThatRefusesThePasswordIsListedWithItsCodeAndTheRestToo) {
  // Controller 11 keeps a password the tool does not know; whichever answer comes first,
  // the window runs out and every controller is there.
  Ctl(1).SetPassword("secret");
  std::set<uint32_t> waitedFor;
  comm.SetOnProgress([&](uint32_t, uint32_t max, bool&) { waitedFor.insert(max); });
  std::vector<std::string> nads, ips;
  std::vector<TMessageDirection> codes;
  EXPECT_TRUE(comm.DetectTarvos(&nads, &ips, kWindow, &codes));
  ASSERT_EQ(nads.size(), 3u);
  ASSERT_EQ(codes.size(), 3u);
  std::map<std::string, std::pair<std::string, TMessageDirection>> found;
  for (size_t i = 0; i < nads.size(); ++i) found[nads[i]] = {ips[i], codes[i]};
  const std::map<std::string, std::pair<std::string, TMessageDirection>> expected = {
      {"10", {"127.0.0.10", md_ACK}},
      {"11", {"127.0.0.11", md_BADPASS}},
      {"12", {"127.0.0.12", md_ACK}}};
  EXPECT_EQ(found, expected);
  EXPECT_EQ(waitedFor, std::set<uint32_t>{kWindow});
}

// ---- memory transfers ------------------------------------------------------------------

TEST_F(SimTest, ReadCodeToStreamCutsAtBlockBoundaries) {
  struct Case {
    const char* name;
    int32_t address;
    int32_t size;
    std::vector<TLocation> requests;
    uint32_t chunks;
  };
  const Case cases[] = {
      {"header", kCodeHeaderAddress, kCodeHeaderSize, {{512, 114}}, 1},
      {"across two blocks", 0x20010, 300, {{512, 256}, {513, 60}}, 2},
      {"ends on a block boundary", kCodeHeaderAddress, 256, {{512, 256}}, 2},
      {"inside one block", 0x20020, 16, {{512, 48}}, 1},
      {"three blocks", 0x200F0, 300, {{512, 256}, {513, 256}, {514, 28}}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ctl().ClearRequests();
    progress.clear();
    RecordProgress();
    TMemoryStream stream(std::vector<uint8_t>(5, 0xEE));
    ASSERT_TRUE(comm.ReadCodeToStream(c.address, c.size, &stream));
    EXPECT_EQ(Locations(0x21), c.requests);
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_EQ(stream.Bytes(), Ctl().ReadCodeMemory(c.address, c.size));
    ASSERT_EQ(progress.size(), c.chunks);
    EXPECT_EQ(progress.back(),
              std::make_pair(static_cast<uint32_t>(c.size), static_cast<uint32_t>(c.size)));
  }
}

TEST_F(SimTest, ReadDataToStreamReadsHundredByteChunks) {
  struct Case {
    int32_t size;
    std::vector<TLocation> requests;
  };
  const Case cases[] = {
      {200, {{0x1000, 100}, {0x1064, 100}}},
      {250, {{0x1000, 100}, {0x1064, 100}, {0x10C8, 50}}},
      {0, {}},
  };
  Ctl().WriteDataMemory(0x1000, Pattern(300, 3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Ctl().ClearRequests();
    TMemoryStream stream;
    ASSERT_TRUE(comm.ReadDataToStream(0x1000, c.size, &stream));
    EXPECT_EQ(Locations(0x31), c.requests);
    EXPECT_EQ(stream.Bytes(), Ctl().ReadDataMemory(0x1000, c.size));
    EXPECT_EQ(stream.Position(), 0u);
  }
}

TEST_F(SimTest, StreamWritesSendTheWholeStreamIn256ByteChunks) {
  const std::vector<uint8_t> bytes = Pattern(300, 9);
  TMemoryStream stream(bytes);
  stream.SetPosition(120);  // the position does not matter to a write

  ASSERT_TRUE(comm.SendDataStream(0x2000, &stream));
  EXPECT_EQ(Locations(0x32), (std::vector<TLocation>{{0x2000, 256}, {0x2100, 44}}));
  EXPECT_EQ(Ctl().ReadDataMemory(0x2000, 300), bytes);

  ASSERT_TRUE(comm.SendCodeStream(0x30000, &stream));
  EXPECT_EQ(Locations(0x22), (std::vector<TLocation>{{0x300, 256}, {0x301, 44}}));
  EXPECT_EQ(Ctl().ReadCodeMemory(0x30000, 300), bytes);
}

TEST_F(SimTest, EmptyStreamIsSentWithoutARequest) {
  TMemoryStream empty;
  EXPECT_TRUE(comm.SendDataStream(0x2000, &empty));
  EXPECT_TRUE(comm.SendCodeStream(0x30000, &empty));
  EXPECT_TRUE(Ctl().Requests().empty());
  EXPECT_FALSE(comm.SendDataStream(0x2000, nullptr));
  EXPECT_FALSE(comm.ReadDataToStream(0x2000, 10, nullptr));
  EXPECT_FALSE(comm.ReadCodeToStream(kCodeHeaderAddress, 10, nullptr));
}

TEST_F(SimTest, CancelEndsATransferAfterTheCurrentChunk) {
  RecordProgress(1);
  TMemoryStream stream;
  EXPECT_FALSE(comm.ReadDataToStream(0x1000, 250, &stream));
  EXPECT_EQ(Sent(0x31).size(), 1u);

  progress.clear();
  TMemoryStream source(Pattern(600, 1));
  EXPECT_FALSE(comm.SendDataStream(0x2000, &source));
  EXPECT_EQ(Sent(0x32).size(), 1u);
}

TEST_F(SimTest, AFailedChunkEndsTheReadAndKeepsWhatCameBefore) {
  // Code memory ends with block 1023: the second block is refused.
  comm.SetNoRetires(0);
  TMemoryStream stream;
  EXPECT_FALSE(comm.ReadCodeToStream(0x3FF00, 300, &stream));
  EXPECT_EQ(Locations(0x21), (std::vector<TLocation>{{1023, 256}, {1024, 44}}));
  EXPECT_EQ(stream.Bytes(), Ctl().ReadCodeMemory(0x3FF00, 256));
  EXPECT_EQ(comm.ResponseErrorCode(), md_BADPARA);
}

TEST_F(SimTest, AFailedWriteChunkIsReportedWithTheChunksDoneSoFar) {
  comm.SetNoRetires(0);
  RecordProgress();
  // The first chunk fits code memory, the second does not.
  TMemoryStream stream(Pattern(300, 2));
  EXPECT_FALSE(comm.SendCodeStream(0x3FF00, &stream));
  EXPECT_EQ(Sent(0x22).size(), 2u);
  // DoProgress scales chunks done to bytes: 1 of 2 chunks, then still 1 of 2.
  EXPECT_EQ(progress, (std::vector<std::pair<uint32_t, uint32_t>>{{150, 300}, {150, 300}}));
}

// ---- code header, directory, allocation archive --------------------------------------

TEST_F(SimTest, CodeHeaderIsReadFromBlock512) {
  std::unique_ptr<TCodeHeader> head;
  ASSERT_TRUE(comm.ReadCodeHeader(head));
  ASSERT_TRUE(head);
  EXPECT_EQ(Locations(0x21), (std::vector<TLocation>{{512, 114}}));
  EXPECT_EQ(
      0, std::memcmp(head.get(), Ctl().ReadCodeMemory(kCodeHeaderAddress, kCodeHeaderSize).data(),
                     kCodeHeaderSize));
  EXPECT_TRUE(IsValidCodeHeader(head->empty, head->magic));
  EXPECT_EQ(+head->transfer_date, Ctl().TransferDate());

  std::unique_ptr<TCodeHeaderShort> shortHead;
  ASSERT_TRUE(comm.ReadCodeHeaderShort(shortHead));
  EXPECT_EQ(Locations(0x21).back(), TLocation(512, 16));
  EXPECT_EQ(0, std::memcmp(shortHead.get(), head.get(), sizeof(TCodeHeaderShort)));
}

TEST_F(SimTest, CheckCodeNeedsAValidHeader) {
  EXPECT_TRUE(comm.CheckCode());
  Ctl().ClearProgram();
  EXPECT_FALSE(comm.CheckCode());
}

TEST_F(SimTest, CheckDateNotChangedFollowsTheTransferDate) {
  ASSERT_EQ(comm.TransferDate(), 0);
  EXPECT_FALSE(comm.CheckDateNotChanged());
  EXPECT_EQ(comm.TransferDate(), Ctl().TransferDate());
  EXPECT_TRUE(comm.CheckDateNotChanged());

  Ctl().ReplaceProgram(sim::TSimController::DefaultVars());
  EXPECT_FALSE(comm.CheckDateNotChanged());
  EXPECT_EQ(comm.TransferDate(), Ctl().TransferDate());
  EXPECT_TRUE(comm.CheckDateNotChanged());

  const int32_t seen = comm.TransferDate();
  Ctl().ClearProgram();
  EXPECT_FALSE(comm.CheckDateNotChanged());
  EXPECT_EQ(comm.TransferDate(), seen);
}

TEST_F(SimTest, ReadAlcReadsTheArchiveNamedInTheDirectory) {
  std::vector<std::string> names;
  std::vector<int32_t> addresses, sizes;
  ASSERT_TRUE(comm.ReadFileDirectory(names, addresses, sizes));
  ASSERT_EQ(names, (std::vector<std::string>{"program.bin", "alc.zip"}));

  auto alc = std::make_unique<TMemoryStream>();
  ASSERT_TRUE(comm.ReadAlc(alc));
  ASSERT_TRUE(alc);
  EXPECT_EQ(alc->Bytes(), Ctl().ReadCodeMemory(addresses[1], sizes[1]));
  EXPECT_EQ(comm.TransferDate(), Ctl().TransferDate());
}

TEST_F(SimTest, ReadAlcWithoutArchiveOrProgramHandsBackNothing) {
  Ctl().SetWithoutAlc(true);
  auto alc = std::make_unique<TMemoryStream>();
  EXPECT_FALSE(comm.ReadAlc(alc));
  EXPECT_FALSE(alc);
  EXPECT_EQ(comm.GetAlcVarList(), nullptr);

  Ctl().ClearProgram();
  EXPECT_FALSE(comm.ReadAlc(alc));
  EXPECT_FALSE(alc);
  EXPECT_EQ(comm.GetAlcVarList(), nullptr);
}

// The variables the allocation file gives: global and not constant, one per element
// or one per array.
std::multiset<std::pair<std::string, int>> ExpectedVars(const std::vector<sim::TSimVar>& vars,
                                                        bool arraysAsSingleVar) {
  std::multiset<std::pair<std::string, int>> out;
  for (const sim::TSimVar& v : vars) {
    if (v.Scope != "global" || v.Type == "const") continue;
    const int elements = arraysAsSingleVar ? 1 : v.Count;
    for (int i = 0; i < elements; ++i) out.emplace(v.Name, i);
  }
  return out;
}

TEST_F(SimTest, GetAlcVarListGivesTheControllersVariables) {
  for (bool single : {false, true}) {
    SCOPED_TRACE(single ? "arrays as single variables" : "one per element");
    std::unique_ptr<TTarvoVarList> list =
        single ? comm.GetAlcVarListArraysAsSingleVar() : comm.GetAlcVarList();
    ASSERT_TRUE(list);
    std::multiset<std::pair<std::string, int>> got;
    for (int i = 0; i < list->Count(); ++i) {
      const TTarvoVar* v = list->Items(i);
      got.emplace(v->Name(), v->ArrayIndex());
      // Where the controller placed a variable, the list must address the same bytes.
      if (const auto where = Ctl().VarAddress(v->Name(), v->ArrayIndex())) {
        EXPECT_EQ(v->RealAddress(), *where) << v->Name() << "[" << v->ArrayIndex() << "]";
      }
    }
    EXPECT_EQ(got, ExpectedVars(Ctl().Vars(), single));
  }
}

TEST_F(SimTest, GetAlcVarListOfAProgramWithoutVariablesIsNothing) {
  Ctl().ReplaceProgram(std::vector<sim::TSimVar>{});
  EXPECT_EQ(comm.GetAlcVarList(), nullptr);
}

// ---- variables ------------------------------------------------------------------------

class VarsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    // A program without variables: nothing in data memory moves by itself.
    Ctl().ReplaceProgram(std::vector<sim::TSimVar>{});
    Ctl().ClearRequests();
  }

  // Counts (c1, c2, c4) of every random-access request with this code.
  std::vector<std::vector<uint16_t>> Counts(uint8_t command) {
    std::vector<std::vector<uint16_t>> out;
    for (const sim::TSimRequest& r : Sent(command)) {
      out.push_back({U16(r.Params, 0), U16(r.Params, 2), U16(r.Params, 4)});
    }
    return out;
  }
};

TEST_F(VarsTest, ReadVarsGroupsAddressesByWidth) {
  TTarvoVarList list;
  list.Add(MakeVar("b", 0x0010, vtBit));
  list.Add(MakeVar("r", 0x0020, vtReal));
  list.Add(MakeVar("i", 0x0030, vtInt));
  Ctl().WriteDataMemory(0x10, {0x05});
  Ctl().WriteDataMemory(0x30, {0x34, 0x12});
  Ctl().WriteDataMemory(0x20, {0x00, 0x00, 0xC0, 0x3F});

  ASSERT_TRUE(comm.ReadVars(&list));
  const std::vector<sim::TSimRequest> sent = Sent(0x33);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Params, (std::vector<uint8_t>{1, 0, 1, 0, 1, 0, 0x10, 0, 0x30, 0, 0x20, 0}));
  EXPECT_EQ(list.FindByName("b")->TarvoValue(), 5);
  EXPECT_EQ(list.FindByName("i")->TarvoValue(), 0x1234);
  EXPECT_EQ(list.FindByName("r")->TarvoValue(), 0x3FC00000);
  EXPECT_DOUBLE_EQ(list.FindByName("r")->ValueFloat(), 1.5);
}

TEST_F(VarsTest, SignedAndWideValuesComeBackWhole) {
  TTarvoVarList list;
  list.Add(MakeVar("i", 0x0100, vtInt));
  list.Add(MakeVar("w", 0x0102, vtWord));
  list.Add(MakeVar("l", 0x0104, vtLong));
  Ctl().WriteDataMemory(0x100, {0xFE, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x80});
  ASSERT_TRUE(comm.ReadVars(&list));
  EXPECT_EQ(list.FindByName("i")->Value().ToInteger(), -2);
  EXPECT_EQ(list.FindByName("w")->Value().ToInteger(), 0xFFFE);
  EXPECT_EQ(list.FindByName("l")->TarvoValue(), static_cast<int32_t>(0x80FFFFFF));
}

TEST_F(VarsTest, ListsAreCutIntoBatches) {
  struct Case {
    int variables;
    bool write;
    std::vector<int> batches;
  };
  const Case cases[] = {
      // The second batch's answer would have the first one's length: it reads one byte
      // more, so that a copy of the first answer cannot be taken for it.
      {450, false, {200, 201, 50}},
      {400, false, {200, 201}},
      {250, true, {100, 100, 50}},
  };
  // Reals are left to the case above: a random bit pattern may be a NaN, whose display
  // value does not give the same pattern back.
  const TTarvoVarTyp types[] = {vtWord, vtBit, vtLong, vtInt};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variables);
    Ctl().ClearRequests();
    const std::vector<uint8_t> memory = Pattern(4 * c.variables, 11);
    Ctl().WriteDataMemory(0x4000, memory);
    TTarvoVarList list;
    for (int i = 0; i < c.variables; ++i) {
      auto v = MakeVar("v" + std::to_string(i), 0x4000 + 4 * i, types[i % 4]);
      v->SetTarvoValue(static_cast<int32_t>(0x01020304u * static_cast<uint32_t>(i + 1)));
      v->SetWriteReq(true);
      list.Add(std::move(v));
    }
    const uint8_t command = c.write ? 0x34 : 0x33;
    ASSERT_TRUE(c.write ? comm.WriteVars(&list) : comm.ReadVars(&list));
    std::vector<int> batches;
    for (const auto& counts : Counts(command)) batches.push_back(counts[0] + counts[1] + counts[2]);
    EXPECT_EQ(batches, c.batches);

    // Every value went the right way, at its own width.
    for (int i = 0; i < c.variables; ++i) {
      const TTarvoVar* v = list.Items(i);
      const int width = TypWidth(v->Typ());
      const std::vector<uint8_t> at = Ctl().ReadDataMemory(0x4000 + 4 * i, width);
      uint32_t raw = 0;
      for (int b = width - 1; b >= 0; --b) raw = (raw << 8) | at[b];
      const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
      ASSERT_EQ(static_cast<uint32_t>(v->TarvoValue()) & mask, raw) << v->Name();
      if (c.write) {
        ASSERT_FALSE(v->WriteReq()) << v->Name();
      }
    }
  }
}

TEST_F(VarsTest, VariablesWithoutValueAreLeftOut) {
  TTarvoVarList list;
  const TTarvoVarTyp types[] = {vtTimer, vtCounter, vtConst, vtVoid, vtNone};
  for (TTarvoVarTyp t : types) list.Add(MakeVar(TypWord(t), 0x0200, t));
  ASSERT_TRUE(comm.ReadVars(&list));
  ASSERT_TRUE(comm.WriteVars(&list));
  for (uint8_t command : {0x33, 0x34}) {
    const std::vector<sim::TSimRequest> sent = Sent(command);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Params, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0}));
  }
}

TEST_F(VarsTest, EmptyListsSendNothing) {
  TTarvoVarList list;
  EXPECT_TRUE(comm.ReadVars(&list));
  EXPECT_FALSE(comm.WriteVars(&list));
  EXPECT_FALSE(comm.ReadVars(nullptr));
  EXPECT_FALSE(comm.WriteVars(nullptr));
  EXPECT_TRUE(Ctl().Requests().empty());
}

TEST_F(VarsTest, AFailedReadBatchKeepsItsValuesAndStops) {
  comm.SetNoRetires(0);
  TTarvoVarList list;
  for (int i = 0; i < 600; ++i) {
    // Variable 250 lies past the end of data memory: the controller refuses batch 2.
    auto v = MakeVar("v" + std::to_string(i), i == 250 ? 0xFFFF : 0x4000 + 2 * i, vtWord);
    v->SetTarvoValue(0x5555);
    list.Add(std::move(v));
  }
  Ctl().WriteDataMemory(0x4000, std::vector<uint8_t>(1200, 0x11));
  EXPECT_FALSE(comm.ReadVars(&list));
  EXPECT_EQ(Sent(0x33).size(), 2u);
  EXPECT_EQ(list.Items(199)->TarvoValue(), 0x1111);
  EXPECT_EQ(list.Items(200)->TarvoValue(), 0x5555);
  EXPECT_EQ(list.Items(599)->TarvoValue(), 0x5555);
}

TEST_F(VarsTest, AFailedWriteBatchIsClearedAndLaterOnesAreNot) {
  comm.SetNoRetires(0);
  TTarvoVarList list;
  for (int i = 0; i < 250; ++i) {
    auto v = MakeVar("v" + std::to_string(i), i == 150 ? 0xFFFF : 0x4000 + 2 * i, vtWord);
    v->SetTarvoValue(0x2222);
    v->SetWriteReq(true);
    list.Add(std::move(v));
  }
  EXPECT_FALSE(comm.WriteVars(&list));
  EXPECT_EQ(Sent(0x34).size(), 2u);
  EXPECT_EQ(Ctl().ReadDataMemory(0x4000 + 2 * 99, 2), (std::vector<uint8_t>{0x22, 0x22}));
  EXPECT_EQ(Ctl().ReadDataMemory(0x4000 + 2 * 100, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_FALSE(list.Items(0)->WriteReq());
  EXPECT_FALSE(list.Items(199)->WriteReq());
  EXPECT_TRUE(list.Items(200)->WriteReq());
}

TEST_F(VarsTest, WriteVarWritesTheRawValueAtItsWidth) {
  struct Case {
    TTarvoVarTyp typ;
    TVarValue value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {vtReal, TVarValue::Double(1.5), {0x00, 0x00, 0xC0, 0x3F}},
      {vtInt, TVarValue::I32(-2), {0xFE, 0xFF}},
      {vtBit, TVarValue::U8(1), {0x01}},
      {vtLong, TVarValue::I32(0x12345678), {0x78, 0x56, 0x34, 0x12}},
      {vtTimer, TVarValue::I32(5), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TypWord(c.typ));
    Ctl().ClearRequests();
    auto v = MakeVar("x", 0x0600, c.typ);
    v->SetWriteReq(true);
    ASSERT_TRUE(comm.WriteVar(v.get(), c.value));
    const std::vector<sim::TSimRequest> sent = Sent(0x32);
    ASSERT_EQ(sent.size(), 1u);
    std::vector<uint8_t> expected = {0x00, 0x06, static_cast<uint8_t>(c.bytes.size()), 0};
    expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(sent[0].Params, expected);
    EXPECT_FALSE(v->WriteReq());
  }
  EXPECT_FALSE(comm.WriteVar(nullptr, TVarValue::I32(1)));
}

}  // namespace
