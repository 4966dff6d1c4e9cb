// The command layer against answers no well-behaved controller gives: bodies too short
// or too long, values out of range, odd NADs, hostile file directories and archives.
// A scripted controller answers through the in-memory endpoint, so nothing reaches a
// network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "comm/uMemoryUdpEndpoint.h"
#include "data/uTarvoVars.h"
#include "protocol/uQLink.h"
#include "sim/uSimController.h"
#include "sim/uSimZip.h"

namespace {

constexpr uint32_t kNAD = 10;

// One request as the scripted controller saw it.
struct TSeen {
  std::string Host;
  uint32_t ToNAD = 0;
  uint8_t Command = 0;
  std::vector<uint8_t> Params;
};

// A controller made of scripts: a body (or several answers) per command code, and a
// code memory image that ReadCode serves. A command without a script gets md_BADCMD;
// one scripted as silent gets no answer at all.
class ScriptedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto endpoint = std::make_unique<TMemoryUdpEndpoint>();
    fEndpoint = endpoint.get();
    comm = std::make_unique<TCommunicator>(std::move(endpoint));
    fEndpoint->SetResponder([this](const TMemoryDatagram& d) { return Answer(d); });
    ASSERT_TRUE(comm->Open("lo"));
    comm->SetTarvoNAD(static_cast<int32_t>(kNAD));
    comm->SetTarvoIP("127.0.0.10");
    comm->SetWaitTime(2000);
    comm->SetNoRetires(0);
  }

  void TearDown() override { comm->Disconnect(); }

  static TMemoryReply Reply(uint32_t from, uint8_t direction, const std::vector<uint8_t>& body,
                            const std::string& ip = "127.0.0.10") {
    return {BuildFrame(from, 1, direction, mt_COMMAND, body.data(), body.size()), ip, 8442};
  }

  // Runs on the caller's thread, inside the send.
  std::vector<TMemoryReply> Answer(const TMemoryDatagram& d) {
    std::string text = BytesToHex(d.Bytes), frame, bodyText;
    uint32_t from = 0, to = 0;
    uint8_t dir = 0, type = 0;
    if (!DecodeFrame(text, frame, from, to, dir, type, bodyText)) return {};
    uint8_t body[kFrameBufferSize];
    int n = 0;
    if (!HexToBytes(bodyText, body, sizeof body, n) || n < 3) return {};
    TSeen seen{d.Host, to, body[0], std::vector<uint8_t>(body + 1, body + n - 2)};
    requests.push_back(seen);

    if (const auto it = replies.find(seen.Command); it != replies.end()) return it->second;
    if (silent.count(seen.Command) != 0) return {};
    if (const auto it = bodies.find(seen.Command); it != bodies.end()) {
      return {Reply(kNAD, md_ACK, it->second)};
    }
    if (seen.Command == 0x21 && seen.Params.size() == 4) {
      const size_t start = GetLE16(seen.Params.data()) * size_t{kCodeBlockSize};
      const size_t count = GetLE16(seen.Params.data() + 2);
      if (start + count > code.size()) return {Reply(kNAD, md_BADPARA, {})};
      return {Reply(kNAD, md_ACK,
                    std::vector<uint8_t>(code.begin() + start, code.begin() + start + count))};
    }
    return {Reply(kNAD, md_BADCMD, {})};
  }

  // An answer that does not fit its request is passed over and the wait runs out: such
  // cases wait briefly, the others as long as a loaded machine may need.
  void WaitFor(bool answerFits) { comm->SetWaitTime(answerFits ? 2000 : 20); }

  size_t Count(uint8_t command) const {
    size_t n = 0;
    for (const TSeen& s : requests) n += s.Command == command;
    return n;
  }

  std::unique_ptr<TCommunicator> comm;
  TMemoryUdpEndpoint* fEndpoint = nullptr;
  std::map<uint8_t, std::vector<uint8_t>> bodies;
  std::map<uint8_t, std::vector<TMemoryReply>> replies;
  std::set<uint8_t> silent;
  std::vector<uint8_t> code;
  std::vector<TSeen> requests;
};

// ---- status, headers, password hash, IEX messages ------------------------------------

TEST_F(ScriptedTest, ReadStatusJudgesEachByteOnItsOwn) {
  struct Case {
    const char* name;
    std::vector<uint8_t> body;
    bool result;
    TSysStatus sys;
    TPLCStatus plc;
  };
  // Both out parameters start as ssNone / psPause; what is not stored stays so.
  const Case cases[] = {
      {"kernel, run", {0x01, 0x02}, true, ssKernel, psRun},
      {"plc out of range", {0x01, 0x07}, false, ssKernel, psPause},
      {"system out of range", {0x03, 0x02}, false, ssNone, psRun},
      {"both out of range", {0xFF, 0xFF}, false, ssNone, psPause},
      {"longest values", {0x00, 0x05}, true, ssLoader, psNone},
      // The status answer is two bytes; any other length belongs to another request.
      {"extra byte", {0x01, 0x02, 0x99}, false, ssNone, psPause},
      {"one byte", {0x01}, false, ssNone, psPause},
      {"empty", {}, false, ssNone, psPause},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bodies[0x11] = c.body;
    WaitFor(c.body.size() == 2);
    TSysStatus sys = ssNone;
    TPLCStatus plc = psPause;
    EXPECT_EQ(comm->ReadStatus(sys, plc), c.result);
    EXPECT_EQ(sys, c.sys);
    EXPECT_EQ(plc, c.plc);
  }
}

TEST_F(ScriptedTest, CheckIfTarvoIsRunningRetriesOnlyUntilAStatusArrives) {
  comm->SetNoRetires(3);
  bodies[0x11] = {0x01, 0x07};  // refused every time
  EXPECT_FALSE(comm->CheckIfTarvoIsRunning());
  EXPECT_EQ(Count(0x11), 4u);

  requests.clear();
  bodies[0x11] = {0x01, 0x00};  // a valid answer, but stopped: one call is enough
  EXPECT_FALSE(comm->CheckIfTarvoIsRunning());
  EXPECT_EQ(Count(0x11), 1u);

  bodies[0x11] = {0x01, 0x02};
  EXPECT_TRUE(comm->CheckIfTarvoIsRunning());
}

TEST_F(ScriptedTest, HeadersNeedTheirFullLength) {
  struct Case {
    const char* name;
    uint8_t command;
    size_t bodySize;
    bool accepted;
  };
  const Case cases[] = {
      // A header answer has the record's exact length; a longer one belongs to another
      // request (a code read, say) and is not taken.
      {"loader 15", 0x12, 15, false}, {"loader 16", 0x12, 16, true}, {"loader 20", 0x12, 20, false},
      {"kernel 45", 0x13, 45, false}, {"kernel 46", 0x13, 46, true}, {"kernel 50", 0x13, 50, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> body(c.bodySize);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i + 1);
    bodies[c.command] = body;
    WaitFor(c.accepted);
    TLoaderHeader loader;
    TKernelHeader kernel;
    std::memset(&loader, 0xA5, sizeof loader);
    std::memset(&kernel, 0xA5, sizeof kernel);
    const bool isLoader = c.command == 0x12;
    const bool ok = isLoader ? comm->ReadLoaderHeader(loader) : comm->ReadKernelHeader(kernel);
    EXPECT_EQ(ok, c.accepted);
    const uint8_t* record = isLoader ? reinterpret_cast<const uint8_t*>(&loader)
                                     : reinterpret_cast<const uint8_t*>(&kernel);
    const size_t size = isLoader ? sizeof loader : sizeof kernel;
    const std::vector<uint8_t> got(record, record + size);
    EXPECT_EQ(got, c.accepted ? std::vector<uint8_t>(body.begin(), body.begin() + size)
                              : std::vector<uint8_t>(size, 0xA5));
  }
}

TEST_F(ScriptedTest, PasswordHashFromThePingBody) {
  struct Case {
    std::vector<uint8_t> body;
    bool result;
    uint16_t crc;
  };
  const Case cases[] = {
      {{0x34, 0x12}, true, 0x1234},
      {{}, true, 0},
      {{0x01, 0x02, 0x03}, false, 0xBEEF},
      {{0x01}, false, 0xBEEF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.size());
    bodies[0x10] = c.body;
    WaitFor(c.result);
    uint16_t crc = 0xBEEF;
    EXPECT_EQ(comm->GetTarvoPasswordCRC(crc), c.result);
    EXPECT_EQ(crc, c.crc);
  }
}

TEST_F(ScriptedTest, IexMessagesTakesOnlyWhatTheAnswerHoldsAndTheBufferTakes) {
  struct Case {
    const char* name;
    std::vector<uint8_t> body;
    bool result;
    int length;                   // afterwards
    std::vector<uint8_t> buffer;  // the first four bytes afterwards
  };
  const std::vector<uint8_t> untouched = {0xEE, 0xEE, 0xEE, 0xEE};
  const Case cases[] = {
      {"three bytes", {3, 0, 7, 8, 9}, true, 3, {7, 8, 9, 0xEE}},
      {"empty message", {0, 0, 0x55}, true, 0, untouched},
      {"no room for a length", {3, 0}, false, 1, untouched},
      // The length field claims more than follows it: nothing is made up.
      {"message cut short", {4, 0, 7, 8, 9}, false, 4, untouched},
      // More than the caller's buffer of four bytes holds.
      {"longer than the buffer", {5, 0, 1, 2, 3, 4, 5}, false, 5, untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bodies[0x80] = c.body;
    uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int length = 1;
    buffer[0] = 0x42;  // the one byte sent
    EXPECT_EQ(comm->IEX_Messages(length, buffer, sizeof buffer), c.result);
    EXPECT_EQ(requests.back().Params, (std::vector<uint8_t>{1, 0, 0x42}));
    EXPECT_EQ(length, c.length);
    if (c.buffer == untouched) {
      EXPECT_EQ(std::vector<uint8_t>(buffer + 1, buffer + 4), std::vector<uint8_t>(3, 0xEE));
    } else {
      EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), c.buffer);
    }
  }
}

TEST_F(ScriptedTest, LongTransactionsRestoreWaitTime) {
  struct Case {
    const char* name;
    uint8_t command;
    bool (*run)(TCommunicator&);
    uint32_t waitTime;
  };
  const Case cases[] = {
      {"StartKernel", 0x01, [](TCommunicator& c) { return c.StartKernel(); }, 3000},
      {"FlashInit", 0x20, [](TCommunicator& c) { return c.FlashInit(1, 0); }, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    silent.insert(c.command);
    std::set<uint32_t> waitedFor;
    // A wait reports its time-out as the progress maximum; cancelling ends it at once.
    comm->SetOnProgress([&](uint32_t, uint32_t max, bool& cancel) {
      waitedFor.insert(max);
      cancel = true;
    });
    comm->SetWaitTime(250);
    EXPECT_FALSE(c.run(*comm));
    EXPECT_EQ(waitedFor, std::set<uint32_t>{c.waitTime});
    EXPECT_EQ(comm->WaitTime(), 250);
    // The unanswered request could still be answered; a new socket starts afresh.
    comm->Disconnect();
  }
}

// ---- discovery -----------------------------------------------------------------------

TEST_F(ScriptedTest, DiscoveryListsNADsAsUnsignedNumbersInArrivalOrder) {
  replies[0x10] = {
      Reply(0x80000001u, md_ACK, {}, "127.0.0.20"), Reply(12, md_ACK, {}, "127.0.0.12"),
      Reply(0xFFFFFFFFu, md_ACK, {}, "127.0.0.21"), Reply(12, md_ACK, {}, "127.0.0.12")};
  comm->SetNoRetires(5);
  std::vector<std::string> nads, ips;
  ASSERT_TRUE(comm->DetectTarvos(&nads, &ips, 200));
  EXPECT_EQ(nads, (std::vector<std::string>{"2147483649", "12", "4294967295", "12"}));
  EXPECT_EQ(ips,
            (std::vector<std::string>{"127.0.0.20", "127.0.0.12", "127.0.0.21", "127.0.0.12"}));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Command, 0x10);
  EXPECT_EQ(requests[0].ToNAD, 0u);
  EXPECT_EQ(requests[0].Host, "127.255.255.255");
  EXPECT_EQ(comm->TarvoIP(), "127.0.0.10");
  EXPECT_EQ(comm->NoRetires(), 5);
}

TEST_F(ScriptedTest, DiscoveryListsARefusalWithItsCodeAndCollectsOn) {
  // The refusal comes between two acknowledgements, and again as a network's copy: the
  // controller after it is not lost, and the refusal is no acknowledgement.
  replies[0x10] = {Reply(20, md_ACK, {}, "127.0.0.20"), Reply(21, md_BADPASS, {}, "127.0.0.21"),
                   Reply(22, md_ACK, {}, "127.0.0.22"), Reply(23, md_NOTREADY, {}, "127.0.0.23"),
                   Reply(21, md_BADPASS, {}, "127.0.0.21")};
  std::vector<std::string> nads, ips;
  std::vector<TMessageDirection> codes{md_INTERNAL};
  EXPECT_TRUE(comm->DetectTarvos(&nads, &ips, 200, &codes));
  EXPECT_EQ(nads, (std::vector<std::string>{"20", "21", "22", "23", "21"}));
  EXPECT_EQ(ips, (std::vector<std::string>{"127.0.0.20", "127.0.0.21", "127.0.0.22", "127.0.0.23",
                                           "127.0.0.21"}));
  EXPECT_EQ(codes,
            (std::vector<TMessageDirection>{md_ACK, md_BADPASS, md_ACK, md_NOTREADY, md_BADPASS}));

  // A caller that asks for no codes cannot tell a refusal: it gets the acknowledgements.
  EXPECT_TRUE(comm->DetectTarvos(&nads, &ips, 200));
  EXPECT_EQ(nads, (std::vector<std::string>{"20", "22"}));
  EXPECT_EQ(ips, (std::vector<std::string>{"127.0.0.20", "127.0.0.22"}));
}

TEST_F(ScriptedTest, DirectConnectionDiscoveryGoesToTheLimitedBroadcast) {
  comm->SetDirectConnection(true);
  replies[0x10] = {Reply(20, md_ACK, {}, "127.0.0.20")};
  std::vector<std::string> nads, ips;
  EXPECT_TRUE(comm->DetectTarvos(&nads, &ips, 200));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Host, "255.255.255.255");
  EXPECT_EQ(nads, std::vector<std::string>{"20"});
}

// ---- short answers -------------------------------------------------------------------

TEST_F(ScriptedTest, ReadVarsTakesNothingFromAShortAnswer) {
  struct Case {
    const char* name;
    std::vector<uint8_t> body;
    bool result;
    int32_t bit, real, integer;
  };
  const Case cases[] = {
      {"exact", {0x05, 0x34, 0x12, 0x00, 0x00, 0xC0, 0x3F}, true, 5, 0x3FC00000, 0x1234},
      {"one byte more", {0x05, 0x34, 0x12, 0x00, 0x00, 0xC0, 0x3F, 0x77}, false, 9, 0, 9},
      {"one byte short", {0x05, 0x34, 0x12, 0x00, 0x00, 0xC0}, false, 9, 0, 9},
      {"empty", {}, false, 9, 0, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bodies[0x33] = c.body;
    WaitFor(c.result);
    // Each case starts afresh: an unanswered read would make the next one read more.
    comm->Disconnect();
    comm->SetTarvoIP("127.0.0.10");
    TTarvoVarList list;
    const std::pair<const char*, TTarvoVarTyp> vars[] = {{"b", vtBit}, {"r", vtReal}, {"i", vtInt}};
    int32_t address = 0x10;
    for (const auto& [name, typ] : vars) {
      auto v = std::make_unique<TTarvoVar>(name, address, TypWidth(typ), 1, 0, 0, vsGlobal, typ,
                                           vvUser, vaReadWrite, "", TVarValue{});
      v->SetTarvoValue(typ == vtReal ? 0 : 9);
      list.Add(std::move(v));
      address += 0x10;
    }
    EXPECT_EQ(comm->ReadVars(&list), c.result);
    EXPECT_EQ(list.FindByName("b")->TarvoValue(), c.bit);
    EXPECT_EQ(list.FindByName("r")->TarvoValue(), c.real);
    EXPECT_EQ(list.FindByName("i")->TarvoValue(), c.integer);
  }
}

TEST_F(ScriptedTest, MemoryReadsNeedTheCountTheyAskedFor) {
  bodies[0x31] = {1, 2, 3};
  uint8_t dest[8];
  std::memset(dest, 0xEE, sizeof dest);
  EXPECT_TRUE(comm->ReadData(0x100, 3, dest, sizeof dest));
  EXPECT_EQ(std::vector<uint8_t>(dest, dest + 8), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0}));
  WaitFor(false);
  EXPECT_FALSE(comm->ReadData(0x100, 4, dest, sizeof dest));

  // A destination too small for the count is refused before anything is sent.
  requests.clear();
  EXPECT_FALSE(comm->ReadData(0x100, 9, dest, sizeof dest));
  EXPECT_FALSE(comm->ReadCode(0x200, 9, dest, sizeof dest));
  uint8_t values[2];
  EXPECT_FALSE(comm->ReadRandom(0, 1, 0, {0x10}, values, 1));
  // So is an address list that does not match its counts.
  EXPECT_FALSE(comm->ReadRandom(1, 1, 0, {0x10}, values, sizeof values));
  EXPECT_FALSE(comm->WriteRandom(1, 0, 0, {0x10, 0x11}, {0}));
  EXPECT_FALSE(comm->WriteRandom(1, 0, 0, {0x10}, {0, 0}));
  EXPECT_TRUE(requests.empty());
}

// ---- file directory and allocation archive -------------------------------------------

// A code memory with a valid header at 0x20000 and a directory of the given entries
// at 0x20200.
struct TEntry {
  std::string name;
  int nameLength;
  int32_t address;
  int32_t size;
};

constexpr uint32_t kDirAddress = 0x20200;

std::vector<uint8_t> CodeImage(const std::vector<TEntry>& entries, int fileCount = -1) {
  // No two blocks alike, as in a real program: two equal blocks in a row would cost a
  // repeat, since the second answer looks like a copy of the first.
  std::vector<uint8_t> code(0x30000);
  for (size_t a = 0; a < code.size(); ++a) code[a] = static_cast<uint8_t>(a ^ (a >> 8) ^ (a >> 16));
  uint8_t* header = code.data() + kCodeHeaderAddress;
  std::fill(header, header + kCodeHeaderSize, 0);
  PutLE16(header + kCodeHeaderMagicOffset, kCodeHeaderMagic);
  PutLE32(header + kCodeHeaderTransferDateOffset, 0x5A4C6000);
  PutLE32(header + kCodeHeaderFileAddressOffset, kDirAddress);
  PutLE16(header + kCodeHeaderFileCountOffset,
          static_cast<uint16_t>(fileCount < 0 ? entries.size() : fileCount));
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = kDirAddress + i * kFileEntrySize;
    std::fill(code.begin() + at, code.begin() + at + kFileEntrySize, 0);
    std::memcpy(code.data() + at, entries[i].name.data(),
                std::min<size_t>(entries[i].name.size(), kFileEntryNameSize));
    PutLE16(code.data() + at + kFileEntryNameLengthOffset,
            static_cast<uint16_t>(entries[i].nameLength));
    PutLE32(code.data() + at + kFileEntryAddressOffset, static_cast<uint32_t>(entries[i].address));
    PutLE32(code.data() + at + kFileEntrySizeOffset, static_cast<uint32_t>(entries[i].size));
  }
  // Distinct contents at each place a file may lie.
  for (uint32_t a = 0x24000; a < 0x2C000; ++a) code[a] = static_cast<uint8_t>(a * 13 + (a >> 8));
  return code;
}

TEST_F(ScriptedTest, ReadAlcTakesTheFirstUsableEntryNamedExactlyAlcZip) {
  struct Case {
    const char* name;
    std::vector<TEntry> entries;
    int chosen;  // index of the entry read, -1: none
  };
  const Case cases[] = {
      {"upper case first", {{"ALC.ZIP", 7, 0x24000, 100}, {"alc.zip", 7, 0x25000, 300}}, 1},
      {"size 0 skipped", {{"alc.zip", 7, 0x24000, 0}, {"alc.zip", 7, 0x25000, 300}}, 1},
      {"negative size skipped", {{"alc.zip", 7, 0x24000, -5}, {"alc.zip", 7, 0x25000, 30}}, 1},
      {"beyond code memory skipped",
       {{"alc.zip", 7, 0x24000, 0x7FFFFFFF}, {"alc.zip", 7, 0x25000, 30}},
       1},
      {"name length 0 skipped", {{"alc.zip", 0, 0x24000, 30}, {"alc.zip", 7, 0x25000, 30}}, 1},
      {"name length 33 skipped", {{"alc.zip", 33, 0x24000, 30}, {"alc.zip", 7, 0x25000, 30}}, 1},
      {"name counts only its length", {{"alc.zipXYZ", 7, 0x24000, 30}}, 0},
      {"longer name", {{"alc.zip2", 8, 0x24000, 30}}, -1},
      {"first of two", {{"alc.zip", 7, 0x24000, 30}, {"alc.zip", 7, 0x25000, 30}}, 0},
      {"only other files", {{"program.bin", 11, 0x24000, 30}}, -1},
      {"no entries", {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    code = CodeImage(c.entries);
    requests.clear();
    auto alc = std::make_unique<TMemoryStream>();
    const bool ok = comm->ReadAlc(alc);
    EXPECT_EQ(ok, c.chosen >= 0);
    if (c.chosen < 0) {
      EXPECT_FALSE(alc);
      continue;
    }
    ASSERT_TRUE(alc);
    const TEntry& e = c.entries[c.chosen];
    EXPECT_EQ(alc->Bytes(),
              std::vector<uint8_t>(code.begin() + e.address, code.begin() + e.address + e.size));
    EXPECT_EQ(comm->TransferDate(), 0x5A4C6000);
  }
}

TEST_F(ScriptedTest, ReadAlcReadsOnlyHeaderDirectoryAndArchive) {
  code = CodeImage({{"program.bin", 11, 0x24000, 1024}, {"alc.zip", 7, 0x250F0, 300}});
  auto alc = std::make_unique<TMemoryStream>();
  ASSERT_TRUE(comm->ReadAlc(alc));
  std::vector<std::pair<int, int>> reads;
  for (const TSeen& s : requests) {
    reads.emplace_back(s.Params[0] | (s.Params[1] << 8), s.Params[2] | (s.Params[3] << 8));
  }
  // Header (block 512), directory (2 x 46 bytes in block 514), archive (blocks 0x250..0x252).
  EXPECT_EQ(reads, (std::vector<std::pair<int, int>>{
                       {512, 114}, {514, 92}, {0x250, 256}, {0x251, 256}, {0x252, 28}}));
}

TEST_F(ScriptedTest, ReadFileDirectoryListsEveryEntry) {
  code = CodeImage({{"program.bin", 11, 0x24000, 1024}, {"ALC.ZIP", 7, 0x25000, 0}});
  std::vector<std::string> names{"stale"};
  std::vector<int32_t> addresses, sizes;
  ASSERT_TRUE(comm->ReadFileDirectory(names, addresses, sizes));
  EXPECT_EQ(names, (std::vector<std::string>{"program.bin", "ALC.ZIP"}));
  EXPECT_EQ(addresses, (std::vector<int32_t>{0x24000, 0x25000}));
  EXPECT_EQ(sizes, (std::vector<int32_t>{1024, 0}));

  code = CodeImage({});
  EXPECT_TRUE(comm->ReadFileDirectory(names, addresses, sizes));
  EXPECT_TRUE(names.empty());

  code[0x20002] = 0;  // magic gone: no program, no directory
  EXPECT_FALSE(comm->ReadFileDirectory(names, addresses, sizes));
}

TEST_F(ScriptedTest, ReadAlcRefusesAnInvalidHeaderOrADirectoryItCannotRead) {
  code = CodeImage({{"alc.zip", 7, 0x24000, 30}});
  code[0x20000] = 1;  // "empty" field set
  auto alc = std::make_unique<TMemoryStream>();
  EXPECT_FALSE(comm->ReadAlc(alc));
  EXPECT_FALSE(alc);
  EXPECT_EQ(Count(0x21), 1u);

  // A directory that runs past the end of code memory.
  code = CodeImage({{"alc.zip", 7, 0x24000, 30}}, 5000);
  EXPECT_FALSE(comm->ReadAlc(alc));
  EXPECT_FALSE(alc);
}

// An archive image in code memory at 0x24000, and its directory entry.
void PlaceArchive(std::vector<uint8_t>& code, const std::vector<uint8_t>& zip) {
  code = CodeImage({{"alc.zip", 7, 0x24000, static_cast<int32_t>(zip.size())}});
  std::copy(zip.begin(), zip.end(), code.begin() + 0x24000);
}

TEST_F(ScriptedTest, GetAlcVarListNeedsOneMemberThatExtracts) {
  const std::string alc =
      sim::TSimController::MakeAlcText(sim::TSimController::DefaultVars(), kNAD);
  const std::vector<uint8_t> good = sim::MakeZip("program.alc", alc, 0x5A4C6000);

  PlaceArchive(code, good);
  std::unique_ptr<TTarvoVarList> list = comm->GetAlcVarList();
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->FindByName("setpoint"));

  // A wrong CRC in the local header: the member does not extract.
  std::vector<uint8_t> badCrc = good;
  badCrc[14] ^= 0xFF;
  PlaceArchive(code, badCrc);
  EXPECT_EQ(comm->GetAlcVarList(), nullptr);
  EXPECT_EQ(comm->GetAlcVarListArraysAsSingleVar(), nullptr);

  // Two members: the first one's local header and data, then the whole second archive.
  const std::vector<uint8_t> other = sim::MakeZip("other.alc", alc, 0x5A4C6000);
  const uint8_t central[4] = {0x50, 0x4B, 0x01, 0x02};
  const auto cut = std::search(good.begin(), good.end(), central, central + 4);
  std::vector<uint8_t> two(good.begin(), cut);
  two.insert(two.end(), other.begin(), other.end());
  PlaceArchive(code, two);
  EXPECT_EQ(comm->GetAlcVarList(), nullptr);
}

}  // namespace
