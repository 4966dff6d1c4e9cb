// The simulated controller over loopback: commands, memories, variables, clock, EEPROM,
// program replacement and faults, spoken to with plain sockets and the frame codec.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numeric>
#include <random>
#include <thread>

#include "sim/uSimAlc.h"
#include "sim/uSimHost.h"
#include "sim/uSimZip.h"
#include "uSimClient.h"

using namespace simtest;
using sim::TSimController;
using sim::TSimHost;
using sim::TSimHostOptions;

namespace {

constexpr uint32_t kNAD = 10;

std::vector<uint8_t> Params16(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> p;
  for (uint32_t v : values) AppendLE16(p, v);
  return p;
}

// One value of a random access: its address and width (1, 2 or 4 bytes).
struct TSlot {
  uint16_t Address;
  int Width;
  uint32_t Value = 0;
};

// Counts and addresses grouped by width, as the tool lays them out.
std::vector<uint8_t> RandomParams(const std::vector<TSlot>& slots, bool withValues) {
  std::vector<uint8_t> p;
  for (int w : {1, 2, 4}) {
    uint32_t n = 0;
    for (const TSlot& s : slots) n += s.Width == w;
    AppendLE16(p, n);
  }
  for (int w : {1, 2, 4})
    for (const TSlot& s : slots)
      if (s.Width == w) AppendLE16(p, s.Address);
  if (withValues)
    for (int w : {1, 2, 4})
      for (const TSlot& s : slots)
        if (s.Width == w)
          for (int b = 0; b < w; ++b) p.push_back((s.Value >> (8 * b)) & 0xFF);
  return p;
}

class SimControllerTest : public ::testing::Test {
 protected:
  void StartHost(TSimHostOptions options = {}) {
    options.BaseNAD = kNAD;
    fHost = std::make_unique<TSimHost>(options);
    std::string error;
    ASSERT_TRUE(fHost->Start(&error)) << error;
  }
  void SetUp() override { StartHost(); }

  TSimController& Ctl() { return fHost->Controller(0); }
  std::string IP() { return Ctl().IP(); }

  std::optional<TAnswer> Call(uint8_t command, const std::vector<uint8_t>& params = {},
                              uint16_t hash = 0) {
    return fClient.Call(IP(), fHost->Port(), kNAD, command, params, hash);
  }
  // The answer's direction, or -1 when none came.
  int Code(uint8_t command, const std::vector<uint8_t>& params = {}) {
    auto a = Call(command, params);
    return a ? a->Direction : -1;
  }

  uint16_t Addr(const std::string& name, int index = 0) {
    auto a = Ctl().VarAddress(name, index);
    EXPECT_TRUE(a.has_value()) << name;
    return a.value_or(0);
  }

  std::vector<uint8_t> ReadCode(uint32_t address, uint32_t count) {
    std::vector<uint8_t> out;
    while (out.size() < count) {
      const uint32_t at = address + static_cast<uint32_t>(out.size());
      const uint32_t n = std::min<uint32_t>(256 - at % 256, count - out.size());
      auto a = Call(cmdReadCode, Params16({at / 256, at % 256 + n}));
      if (!a || a->Direction != md_ACK || a->Body.size() != at % 256 + n) return {};
      out.insert(out.end(), a->Body.begin() + at % 256, a->Body.end());
    }
    return out;
  }

  // Values read back in the order of `slots`.
  std::vector<uint32_t> ReadRandom(const std::vector<TSlot>& slots) {
    auto a = Call(cmdReadRandom, RandomParams(slots, false));
    if (!a || a->Direction != md_ACK) return {};
    std::vector<uint32_t> values(slots.size());
    size_t at = 0;
    for (int w : {1, 2, 4})
      for (size_t i = 0; i < slots.size(); ++i)
        if (slots[i].Width == w) {
          for (int b = 0; b < w; ++b) values[i] |= uint32_t{a->Body.at(at + b)} << (8 * b);
          at += w;
        }
    EXPECT_EQ(at, a->Body.size());
    return values;
  }
  bool WriteRandom(const std::vector<TSlot>& slots) {
    auto a = Call(cmdWriteRandom, RandomParams(slots, true));
    return a && a->Direction == md_ACK;
  }
  uint32_t ReadVar(const std::string& name, int width, int index = 0) {
    auto v = ReadRandom({{Addr(name, index), width}});
    return v.empty() ? 0xDEADBEEF : v[0];
  }

  // Faults are looked at when a request is handled: change them only after that.
  void AwaitRequests(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitMs / 1000);
    while (Ctl().Requests().size() < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(Ctl().Requests().size(), count);
  }

  std::unique_ptr<TSimHost> fHost;
  TClient fClient;
};

// ---- commands -----------------------------------------------------------------------

TEST_F(SimControllerTest, PingAnswersWithPasswordHashAndMirrorsTheNADs) {
  Ctl().SetPassword("abc");
  const uint16_t hash = PasswordHashUtf8("abc");
  ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdPing, {}, hash, 77)));
  auto d = fClient.Receive();
  ASSERT_TRUE(d);
  auto frames = DecodeAll(d->Bytes);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Direction, md_ACK);
  EXPECT_EQ(frames[0].Type, mt_COMMAND);
  EXPECT_EQ(frames[0].FromNAD, kNAD);
  EXPECT_EQ(frames[0].ToNAD, 77u);
  EXPECT_EQ(frames[0].Body, (std::vector<uint8_t>{0x00, 0x7F}));  // hash of "abc": 0x7F00
  EXPECT_EQ(d->PeerIP, "127.0.0.10");
  EXPECT_EQ(d->PeerPort, fHost->Port());
}

TEST_F(SimControllerTest, EveryCommandChecksThePassword) {
  struct Case {
    const char* controller;
    const char* request;
    uint8_t command;
    uint8_t expected;
  } cases[] = {
      {"", "", cmdPing, md_ACK},
      {"secret", "secret", cmdPing, md_ACK},
      {"secret", "", cmdPing, md_BADPASS},
      {"", "secret", cmdPing, md_BADPASS},
      {"secret", "Secret", cmdReadStatus, md_BADPASS},
      {"secret", "", cmdReadRandom, md_BADPASS},
      {"secret", "secret", cmdReadStatus, md_ACK},
  };
  for (const Case& c : cases) {
    Ctl().SetPassword(c.controller);
    const auto params = c.command == cmdReadRandom ? Params16({0, 0, 0}) : std::vector<uint8_t>{};
    auto a = Call(c.command, params, PasswordHashUtf8(c.request));
    ASSERT_TRUE(a) << c.controller << "/" << c.request;
    EXPECT_EQ(a->Direction, c.expected) << c.controller << "/" << c.request;
    if (c.expected != md_ACK) {
      EXPECT_TRUE(a->Body.empty());
    }
  }
}

TEST_F(SimControllerTest, StatusFollowsRunStateAndProgram) {
  auto status = [&] {
    auto a = Call(cmdReadStatus);
    return a && a->Body.size() == 2 ? a->Body[0] * 256 + a->Body[1] : -1;
  };
  EXPECT_EQ(status(), sim::ssKernel * 256 + sim::psRun);
  EXPECT_EQ(Code(cmdStopPLC), md_ACK);
  EXPECT_EQ(status(), sim::ssKernel * 256 + sim::psStop);
  // A stopped PLC still serves its memories and variables.
  EXPECT_EQ(Code(cmdReadRandom, RandomParams({{Addr("counter_w"), 2}}, false)), md_ACK);
  EXPECT_EQ(Code(cmdReadCode, Params16({512, 16})), md_ACK);
  EXPECT_EQ(Code(cmdStartPLC), md_ACK);
  EXPECT_EQ(status(), sim::ssKernel * 256 + sim::psRun);

  Ctl().ClearProgram();
  EXPECT_EQ(status(), sim::ssKernel * 256 + sim::psNoValidProgram);
  EXPECT_EQ(Code(cmdStartPLC), md_NOPRG);

  EXPECT_EQ(Code(cmdStartLoader), md_ACK);
  EXPECT_EQ(status(), sim::ssLoader * 256 + sim::psNoValidProgram);
  EXPECT_EQ(Code(cmdReadRandom, Params16({0, 0, 0})), md_NOKERN);
  EXPECT_EQ(Code(cmdStartKernel), md_ACK);
  EXPECT_EQ(Code(cmdReadRandom, Params16({0, 0, 0})), md_ACK);
}

TEST_F(SimControllerTest, HeadersHaveTheirSizesAndDescribeTheController) {
  auto loader = Call(cmdReadLoaderHeader);
  ASSERT_TRUE(loader);
  EXPECT_EQ(loader->Body.size(), 16u);

  auto kernel = Call(cmdReadKernelHeader);
  ASSERT_TRUE(kernel);
  ASSERT_EQ(kernel->Body.size(), 46u);
  EXPECT_EQ(static_cast<int32_t>(Get32(kernel->Body, 12)), Ctl().TransferDate());
  EXPECT_EQ(Get32(kernel->Body, 26), kNAD);
  EXPECT_EQ(std::vector<uint8_t>(kernel->Body.begin() + 30, kernel->Body.begin() + 34),
            (std::vector<uint8_t>{127, 0, 0, 10}));
}

TEST_F(SimControllerTest, IexMessagesAreEchoed) {
  std::vector<uint8_t> params;
  AppendLE16(params, 5);
  for (uint8_t b : {1, 2, 3, 4, 5}) params.push_back(b);
  auto a = Call(cmdIEXMessages, params);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Direction, md_ACK);
  EXPECT_EQ(a->Body, params);
}

// Requests a controller must refuse with an answer, never with silence or a crash.
TEST_F(SimControllerTest, MalformedParametersAreRefused) {
  struct Case {
    const char* what;
    uint8_t command;
    std::vector<uint8_t> params;
    uint8_t expected;
  };
  std::vector<uint8_t> iexShort = Params16({5});
  iexShort.push_back(1);
  std::vector<uint8_t> writeCodeShort = Params16({512, 4});
  writeCodeShort.push_back(0);
  std::vector<uint8_t> writeDataLong = Params16({0x100, 1});
  writeDataLong.insert(writeDataLong.end(), {1, 2});
  std::vector<uint8_t> bigRead = Params16({0, 0, 256});
  for (int i = 0; i < 256; ++i) AppendLE16(bigRead, 0x100);
  const Case cases[] = {
      {"unknown command", 0x55, {}, md_BADCMD},
      {"unknown command 0x7F", 0x7F, {}, md_BADCMD},
      {"ReadCode without count", cmdReadCode, Params16({512}), md_BADPARA},
      {"ReadCode past the end", cmdReadCode, Params16({0xFFFF, 256}), md_BADPARA},
      {"ReadCode longer than a frame", cmdReadCode, Params16({512, 1023}), md_BADPARA},
      {"WriteCode count and bytes differ", cmdWriteCode, writeCodeShort, md_BADPARA},
      {"WriteCode without header", cmdWriteCode, {1, 2}, md_BADPARA},
      {"ReadData past 64 KiB", cmdReadData, Params16({0xFFFF, 2}), md_BADPARA},
      {"ReadData longer than a frame", cmdReadData, Params16({0, 1023}), md_BADPARA},
      {"WriteData count and bytes differ", cmdWriteData, writeDataLong, md_BADPARA},
      {"ReadRandom without counts", cmdReadRandom, Params16({1}), md_BADPARA},
      {"ReadRandom fewer addresses than counted", cmdReadRandom, Params16({0, 2, 0, 0x100}),
       md_BADPARA},
      {"ReadRandom more addresses than counted", cmdReadRandom, Params16({1, 0, 0, 0x100, 0x102}),
       md_BADPARA},
      {"ReadRandom word at the last byte", cmdReadRandom, Params16({0, 1, 0, 0xFFFF}), md_BADPARA},
      {"ReadRandom answer beyond a frame", cmdReadRandom, bigRead, md_BADPARA},
      {"WriteRandom without values", cmdWriteRandom, Params16({0, 1, 0, 0x100}), md_BADPARA},
      {"WriteRandom long at 0xFFFE", cmdWriteRandom, Params16({0, 0, 1, 0xFFFE, 0, 0}), md_BADPARA},
      {"FlashInit with one byte", cmdFlashInit, {1}, md_BADPARA},
      {"IEX length beyond the bytes", cmdIEXMessages, iexShort, md_BADPARA},
      {"IEX without length", cmdIEXMessages, {7}, md_BADPARA},
  };
  const auto before = Ctl().ReadDataMemory(0, kDataMemorySize);
  for (const Case& c : cases) {
    auto a = Call(c.command, c.params);
    ASSERT_TRUE(a) << c.what;
    EXPECT_EQ(a->Direction, c.expected) << c.what;
    EXPECT_TRUE(a->Body.empty()) << c.what;
  }
  // Refused writes leave data memory alone (the clock and scan figures move on their own).
  auto after = Ctl().ReadDataMemory(0, kDataMemorySize);
  for (uint32_t a = 0x100; a < 0x200; ++a) EXPECT_EQ(after[a], before[a]) << a;
  EXPECT_TRUE(Ctl().HasProgram());
}

// ---- variables ----------------------------------------------------------------------

TEST_F(SimControllerTest, RandomAccessReadsTheProgramsInitialValues) {
  const std::vector<TSlot> slots = {
      {Addr("setpoint"), 4}, {Addr("flag"), 1},      {Addr("counter_w"), 2}, {Addr("temp"), 2},
      {Addr("total"), 4},    {Addr("levels", 3), 2}, {Addr("recipe_no"), 2}};
  float setpoint = 21.5f;
  uint32_t setpointBits;
  std::memcpy(&setpointBits, &setpoint, 4);
  EXPECT_EQ(ReadRandom(slots),
            (std::vector<uint32_t>{setpointBits, 1, 1234, 0xFF83, 123456789, 0xFFFB, 3}));
  // The offset column moves a variable: recipe_no is listed at 0x0150 with offset 4.
  EXPECT_EQ(Addr("recipe_no"), 0x0154);
  EXPECT_EQ(Addr("levels", 3), Addr("levels") + 6);
  EXPECT_FALSE(Ctl().VarAddress("levels", 10));
  EXPECT_FALSE(Ctl().VarAddress("tmp_local")) << "local variables are not reachable";
  EXPECT_FALSE(Ctl().VarAddress("MAX_LEVEL")) << "constants do not live in data memory";
  EXPECT_FALSE(Ctl().VarAddress("t_fill")) << "timers do not carry values";
}

TEST_F(SimControllerTest, RandomWriteThenReadRoundTrip) {
  const std::vector<TSlot> written = {
      {Addr("total"), 4, 0x80000001}, {Addr("flag"), 1, 0},
      {Addr("levels", 9), 2, 0xFFF6}, {Addr("setpoint"), 4, 0x3FC00000},
      {Addr("counter_w"), 2, 65535},  {Addr("levels", 0), 2, 4242}};
  ASSERT_TRUE(WriteRandom(written));
  std::vector<TSlot> reversed(written.rbegin(), written.rend());
  std::vector<uint32_t> expected;
  for (const TSlot& s : reversed) expected.push_back(s.Value);
  EXPECT_EQ(ReadRandom(reversed), expected);
  EXPECT_EQ(Ctl().ReadVar("levels", 9), 0xFFF6u);
  EXPECT_EQ(Ctl().ReadVar("levels", 1), 250u) << "neighbours stay";

  // Data memory commands see the same bytes.
  auto a = Call(cmdReadData, Params16({Addr("levels"), 4}));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Body, (std::vector<uint8_t>{0x92, 0x10, 250, 0}));
  std::vector<uint8_t> write = Params16({Addr("temp"), 2});
  write.insert(write.end(), {0x34, 0x12});
  EXPECT_EQ(Code(cmdWriteData, write), md_ACK);
  EXPECT_EQ(ReadVar("temp", 2), 0x1234u);
}

TEST_F(SimControllerTest, ScanFiguresMoveOnlyWhileRunning) {
  const std::vector<TSlot> scan = {{Addr("scan_frequency"), 2},
                                   {Addr("scan_time"), 2},
                                   {Addr("scan_time_max"), 2},
                                   {Addr("scan_overrun"), 2}};
  auto v = ReadRandom(scan);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_GT(v[0], 0u);
  EXPECT_GT(v[1], 0u);
  EXPECT_LE(v[1], v[2]);
  Ctl().SetRunning(false);
  EXPECT_EQ(ReadVar("scan_frequency", 2), 0u);
}

TEST_F(SimControllerTest, ClockShowsLocalTimeAndTakesAWrittenTime) {
  const time_t before = std::time(nullptr);
  const uint32_t year = ReadVar("rtc_year", 2);
  const time_t after = std::time(nullptr);
  tm b{}, a{};
  localtime_r(&before, &b);
  localtime_r(&after, &a);
  EXPECT_TRUE(year == static_cast<uint32_t>(b.tm_year + 1900) ||
              year == static_cast<uint32_t>(a.tm_year + 1900));

  // The tool writes the request bit in the same request as the values, and a bit comes
  // first in a random write: the controller must look at it only after all values.
  const std::vector<TSlot> set = {{Addr("rtc_write_req"), 1, 1}, {Addr("rtc_year"), 2, 2012},
                                  {Addr("rtc_month"), 2, 3},     {Addr("rtc_date"), 2, 3},
                                  {Addr("rtc_hour"), 2, 19},     {Addr("rtc_min"), 2, 0},
                                  {Addr("rtc_sec"), 2, 4},       {Addr("rtc_weekday"), 2, 1}};
  ASSERT_TRUE(WriteRandom(set));
  const std::vector<TSlot> clock = {{Addr("rtc_year"), 2},    {Addr("rtc_month"), 2},
                                    {Addr("rtc_date"), 2},    {Addr("rtc_hour"), 2},
                                    {Addr("rtc_min"), 2},     {Addr("rtc_sec"), 2},
                                    {Addr("rtc_weekday"), 2}, {Addr("rtc_write_req"), 1}};
  auto v = ReadRandom(clock);
  ASSERT_EQ(v.size(), 8u);
  EXPECT_EQ(v[0], 2012u);
  EXPECT_EQ(v[1], 3u);
  EXPECT_EQ(v[2], 3u);
  EXPECT_EQ(v[3], 19u);
  EXPECT_EQ(v[4], 0u);
  EXPECT_GE(v[5], 4u);
  EXPECT_EQ(v[6], 6u) << "3 March 2012 was a Saturday, whatever weekday was written";
  EXPECT_EQ(v[7], 0u) << "the request falls back once taken";

  // An impossible date is not taken; the request still falls back.
  const auto offset = Ctl().ClockOffset();
  ASSERT_TRUE(WriteRandom(
      {{Addr("rtc_month"), 2, 4}, {Addr("rtc_date"), 2, 31}, {Addr("rtc_write_req"), 1, 1}}));
  EXPECT_EQ(Ctl().ClockOffset(), offset);
  EXPECT_EQ(ReadVar("rtc_write_req", 1), 0u);
  EXPECT_EQ(ReadVar("rtc_year", 2), 2012u);
}

TEST_F(SimControllerTest, EepromStoresAndLoadsUserVariables) {
  const uint16_t counter = Addr("counter_w");
  auto loadAndWait = [&] {
    ASSERT_TRUE(WriteRandom({{Addr("ee_read_req"), 1, 1}}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadVar("ee_read_req", 1) != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(ReadVar("ee_read_req", 1), 0u) << "the load request never fell back";
  };

  // Stored values come back after a change; the magic must come with the request.
  ASSERT_TRUE(WriteRandom({{counter, 2, 111}}));
  ASSERT_TRUE(WriteRandom({{Addr("ee_write_req"), 1, 1}, {Addr("ee_write_magic"), 2, 52917}}));
  EXPECT_EQ(ReadVar("ee_write_req", 1), 0u);
  EXPECT_EQ(ReadVar("ee_write_magic", 2), 0u);
  ASSERT_TRUE(WriteRandom({{counter, 2, 222}}));
  ASSERT_TRUE(WriteRandom({{Addr("ee_write_req"), 1, 1}, {Addr("ee_write_magic"), 2, 1234}}));
  EXPECT_EQ(ReadVar("ee_write_req", 1), 0u);
  EXPECT_EQ(ReadVar("counter_w", 2), 222u);
  loadAndWait();
  EXPECT_EQ(ReadVar("counter_w", 2), 111u) << "a store without the unlock value is refused";

  // The load touches user variables only.
  ASSERT_TRUE(WriteRandom({{Addr("ee_write_magic"), 2, 77}}));
  loadAndWait();
  EXPECT_EQ(ReadVar("ee_write_magic", 2), 77u);
}

// ---- code memory ---------------------------------------------------------------------

struct TDirEntry {
  std::string Name;
  uint32_t Address;
  uint32_t Size;
};

std::vector<TDirEntry> ParseDirectory(const std::vector<uint8_t>& dir) {
  std::vector<TDirEntry> entries;
  for (size_t at = 0; at + kFileEntrySize <= dir.size(); at += kFileEntrySize) {
    const uint32_t length = Get16(dir, at + kFileEntryNameLengthOffset);
    entries.push_back({std::string(dir.begin() + at, dir.begin() + at + std::min(length, 32u)),
                       Get32(dir, at + kFileEntryAddressOffset),
                       Get32(dir, at + kFileEntrySizeOffset)});
  }
  return entries;
}

// The one member of an archive written without data descriptor, checked against its CRC.
std::string Unzip(const std::vector<uint8_t>& zip, std::string* name) {
  if (zip.size() < 30 || Get32(zip, 0) != 0x04034B50) return "<no local header>";
  if ((Get16(zip, 6) & 8) != 0) return "<data descriptor>";
  if (Get16(zip, 8) != 8) return "<not deflated>";
  const uint32_t crc = Get32(zip, 14), csize = Get32(zip, 18), usize = Get32(zip, 22);
  const uint32_t nameLength = Get16(zip, 26), extra = Get16(zip, 28);
  *name = std::string(zip.begin() + 30, zip.begin() + 30 + nameLength);
  const size_t data = 30 + nameLength + extra;
  if (data + csize > zip.size()) return "<truncated>";
  std::string out(usize, '\0');
  z_stream zs{};
  inflateInit2(&zs, -15);
  zs.next_in = const_cast<Bytef*>(zip.data() + data);
  zs.avail_in = csize;
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = usize;
  const int rc = inflate(&zs, Z_FINISH);
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return "<inflate failed>";
  if (crc32(0, reinterpret_cast<const Bytef*>(out.data()), usize) != crc) return "<crc>";
  // Central directory and end record follow the data.
  const size_t central = data + csize;
  if (Get32(zip, central) != 0x02014B50) return "<no central directory>";
  const size_t end = zip.size() - 22;
  if (Get32(zip, end) != 0x06054B50 || Get16(zip, end + 10) != 1 || Get32(zip, end + 16) != central)
    return "<bad end record>";
  return out;
}

TEST_F(SimControllerTest, CodeHeaderDirectoryAndAllocationArchive) {
  const std::vector<uint8_t> header = ReadCode(kCodeHeaderAddress, kCodeHeaderSize);
  ASSERT_EQ(header.size(), 114u);
  EXPECT_EQ(Get16(header, kCodeHeaderEmptyOffset), 0u);
  EXPECT_EQ(Get16(header, kCodeHeaderMagicOffset), kCodeHeaderMagic);
  const int32_t date = static_cast<int32_t>(Get32(header, kCodeHeaderTransferDateOffset));
  EXPECT_EQ(date, Ctl().TransferDate());
  const time_t now = std::time(nullptr);
  tm lt{};
  localtime_r(&now, &lt);
  EXPECT_EQ((static_cast<uint32_t>(date) >> 25) + 1980, static_cast<uint32_t>(lt.tm_year + 1900))
      << "the date is the MS-DOS form of the transfer time";

  const uint32_t fileCount = Get16(header, kCodeHeaderFileCountOffset);
  ASSERT_EQ(fileCount, 2u);
  const auto entries = ParseDirectory(
      ReadCode(Get32(header, kCodeHeaderFileAddressOffset), fileCount * kFileEntrySize));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "program.bin");
  EXPECT_EQ(entries[1].Name, "alc.zip");

  std::string member;
  const std::string text = Unzip(ReadCode(entries[1].Address, entries[1].Size), &member);
  EXPECT_EQ(member, "program.alc");
  EXPECT_EQ(text, Ctl().AlcText());
  EXPECT_NE(text.find("\r\n;CPU Tarvo-2 "), std::string::npos);
  EXPECT_NE(text.find("\r\n;Addr "), std::string::npos);
  EXPECT_NE(text.find("\r\n0110 2 10 0 2 global int levels Tank level in mm\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n0000 1 1 0 2 global word scan_frequency "), std::string::npos);
  EXPECT_NE(text.find("\r\n0150 2 1 4 2 global word recipe_no "), std::string::npos);
  EXPECT_NE(text.find(" local int tmp_local "), std::string::npos);
  EXPECT_NE(text.find(" global const MAX_LEVEL "), std::string::npos);
  // The text describes exactly the variables the controller holds.
  const auto parsed = sim::ParseAlcText(text);
  ASSERT_EQ(parsed.size(), Ctl().Vars().size());
  for (const auto& v : parsed)
    if (v.InDataMemory()) {
      EXPECT_EQ(Ctl().VarAddress(v.Name), v.Address + v.Offset) << v.Name;
    }
}

TEST(SimProgramStates, HeaderAndDirectoryFollowTheOptions) {
  struct Case {
    const char* what;
    bool noProgram, noAlc;
    uint16_t magic;
    uint32_t files;
  } cases[] = {
      {"default", false, false, kCodeHeaderMagic, 2},
      {"without alc", false, true, kCodeHeaderMagic, 1},
      {"without program", true, false, 0, 0},
  };
  for (const Case& c : cases) {
    TSimHostOptions o;
    o.NoProgram = c.noProgram;
    o.NoAlc = c.noAlc;
    TSimHost host(o);
    std::string error;
    ASSERT_TRUE(host.Start(&error)) << error;
    TClient client;
    auto a = client.Call("127.0.0.10", host.Port(), 10, cmdReadCode, Params16({512, 114}));
    ASSERT_TRUE(a) << c.what;
    ASSERT_EQ(a->Body.size(), 114u) << c.what;
    EXPECT_EQ(Get16(a->Body, kCodeHeaderMagicOffset), c.magic) << c.what;
    if (!c.noProgram) {
      EXPECT_EQ(Get16(a->Body, kCodeHeaderFileCountOffset), c.files) << c.what;
      auto dir = client.Call(
          "127.0.0.10", host.Port(), 10, cmdReadCode,
          Params16({Get32(a->Body, kCodeHeaderFileAddressOffset) / kCodeBlockSize, 256}));
      ASSERT_TRUE(dir);
      const auto entries = ParseDirectory(
          std::vector<uint8_t>(dir->Body.begin(), dir->Body.begin() + c.files * kFileEntrySize));
      bool hasAlc = false;
      for (const auto& e : entries) hasAlc |= e.Name == "alc.zip";
      EXPECT_EQ(hasAlc, !c.noAlc) << c.what;
    }
    EXPECT_EQ(host.Controller(0).TransferDate() != 0, !c.noProgram) << c.what;
  }
}

TEST_F(SimControllerTest, ReplacedProgramHasNewDateVariablesAndArchive) {
  const int32_t oldDate = Ctl().TransferDate();
  const std::string oldText = Ctl().AlcText();
  sim::TSimVar pressure;
  pressure.Address = 0x0400;
  pressure.Flags = 2;
  pressure.Size = 4;
  pressure.Scope = "global";
  pressure.Type = "real";
  pressure.Name = "pressure";
  pressure.Description = "Line pressure in bar";
  pressure.Initial = {0x40200000};  // 2.5
  auto vars = TSimController::DefaultVars();
  vars.push_back(pressure);
  Ctl().ReplaceProgram(vars);

  EXPECT_NE(Ctl().TransferDate(), oldDate);
  const auto header = ReadCode(kCodeHeaderAddress, kCodeHeaderSize);
  ASSERT_EQ(header.size(), 114u);
  EXPECT_EQ(static_cast<int32_t>(Get32(header, kCodeHeaderTransferDateOffset)),
            Ctl().TransferDate());
  const auto entries =
      ParseDirectory(ReadCode(Get32(header, kCodeHeaderFileAddressOffset), 2 * kFileEntrySize));
  std::string member;
  const std::string text = Unzip(ReadCode(entries.at(1).Address, entries.at(1).Size), &member);
  EXPECT_NE(text, oldText);
  EXPECT_NE(text.find("0400 2 1 0 4 global real pressure Line pressure in bar"), std::string::npos);
  EXPECT_EQ(ReadVar("pressure", 4), 0x40200000u);
  auto status = Call(cmdReadStatus);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Body.at(1), sim::psRun) << "the PLC keeps running";

  // Replaced twice within the same two seconds: the date still moves on.
  const int32_t second = Ctl().TransferDate();
  Ctl().ReplaceProgram(TSimController::DefaultVars());
  EXPECT_NE(Ctl().TransferDate(), second);
}

TEST(SimAllocationFile, OwnFileIsServedVerbatimAndItsGlobalsArePlaced) {
  const std::string text =
      "Project pump station\n"
      "0008 2 1 0 2 global word before_marker not parsed\n"
      ";CPU Tarvo-2 V2\n"
      ";Addr Flags Count Offset Size Scope Type Name Description\n"
      "0040 2 1 0 2 GLOBAL WORD speed Motor speed in rpm\n"
      "0044 3 4 0 4 global long  counts\n"
      "0060 2 1 0 2 local int hidden\n"
      "zz60 2 1 0 2 global int broken\n"
      "0070 2 1 0 2 global bool odd_type\n"
      "FFFF 2 1 0 2 global word past_the_end\n";
  TSimHostOptions o;
  o.AlcText = text;
  TSimHost host(o);
  std::string error;
  ASSERT_TRUE(host.Start(&error)) << error;
  TSimController& c = host.Controller(0);
  EXPECT_EQ(c.AlcText(), text);
  EXPECT_EQ(c.VarAddress("speed"), 0x40);
  EXPECT_EQ(c.VarAddress("counts", 3), 0x44 + 12);
  for (const char* absent : {"before_marker", "hidden", "broken", "odd_type", "past_the_end"})
    EXPECT_FALSE(c.VarAddress(absent)) << absent;
  EXPECT_FALSE(c.VarAddress("rtc_year"));

  ASSERT_TRUE(c.WriteVar("speed", 0, 1450));
  TClient client;
  auto a = client.Call("127.0.0.10", host.Port(), 10, cmdReadData, Params16({0x40, 2}));
  ASSERT_TRUE(a);
  EXPECT_EQ(Get16(a->Body, 0), 1450u);
}

TEST(SimAllocationFile, IntegerColumns) {
  struct Case {
    const char* text;
    bool ok;
    long long value;
  } cases[] = {{"12", true, 12},   {"  -3", true, -3}, {"$1F", true, 31},
               {"0x10", true, 16}, {"X0a", true, 10},  {"", false, 0},
               {"1a", false, 0},   {"0x", false, 0},   {"12 ", false, 0}};
  for (const Case& c : cases) {
    long long v = 0;
    EXPECT_EQ(sim::ParseAlcInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

// ---- faults --------------------------------------------------------------------------

TEST_F(SimControllerTest, SplitAnswerNeedsBothDatagrams) {
  sim::TSimFaults f;
  f.Split = true;
  Ctl().SetFaults(f);
  ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdReadStatus)));
  auto first = fClient.Receive(), second = fClient.Receive();
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(DecodeAll(first->Bytes).empty());
  std::vector<uint8_t> whole = first->Bytes;
  whole.insert(whole.end(), second->Bytes.begin(), second->Bytes.end());
  auto frames = DecodeAll(whole);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Body, (std::vector<uint8_t>{sim::ssKernel, sim::psRun}));
}

TEST_F(SimControllerTest, TwoFramesAndDuplicateAndCorruptAnswers) {
  struct Case {
    const char* what;
    sim::TSimFaults faults;
    int datagrams;
    int framesEach;  // frames that decode in each datagram
  };
  sim::TSimFaults two, dup, corrupt, lateDupChance, corruptChance;
  two.TwoFrames = true;
  dup.Duplicate = true;
  corrupt.CorruptChecksum = true;
  lateDupChance.DuplicateProbability = 1;
  lateDupChance.DelayMs = 50;
  corruptChance.CorruptProbability = 1;
  const Case cases[] = {{"two frames", two, 1, 2},
                        {"duplicate", dup, 2, 1},
                        {"corrupt", corrupt, 1, 0},
                        {"late duplicate by chance 1", lateDupChance, 2, 1},
                        {"corrupt by chance 1", corruptChance, 1, 0}};
  for (const Case& c : cases) {
    Ctl().SetFaults(c.faults);
    ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdPing)));
    for (int i = 0; i < c.datagrams; ++i) {
      auto d = fClient.Receive();
      ASSERT_TRUE(d) << c.what;
      std::string rest;
      EXPECT_EQ(DecodeAll(d->Bytes, &rest).size(), static_cast<size_t>(c.framesEach)) << c.what;
      EXPECT_EQ(rest.empty(), c.framesEach > 0) << c.what;
      if (c.framesEach == 0) {
        d->Bytes.back() ^= 0xFF;  // the checksum alone was spoiled
        EXPECT_EQ(DecodeAll(d->Bytes).size(), 1u) << c.what;
      }
    }
  }
}

TEST_F(SimControllerTest, NegativeCodeAnswersEverything) {
  sim::TSimFaults f;
  f.NegativeCode = md_NOTREADY;
  Ctl().SetFaults(f);
  for (uint8_t command :
       {uint8_t{cmdPing}, uint8_t{cmdReadStatus}, uint8_t{cmdReadCode}, uint8_t{0x55}}) {
    auto a = Call(command, command == cmdReadCode ? Params16({512, 16}) : std::vector<uint8_t>{});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Direction, md_NOTREADY);
    EXPECT_TRUE(a->Body.empty());
  }
}

TEST_F(SimControllerTest, DroppedAnswerNeverComesAndFaultsChangeWhileRunning) {
  sim::TSimFaults f;
  f.DropProbability = 1;
  Ctl().SetFaults(f);
  ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdReadStatus)));
  AwaitRequests(1);
  Ctl().SetFaults({});
  std::vector<uint8_t> echo = Params16({2});
  echo.insert(echo.end(), {0xAB, 0xCD});
  // Requests are handled in order: if the first had been answered, its answer came first.
  auto a = Call(cmdIEXMessages, echo);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Body, echo);
  EXPECT_EQ(Ctl().Requests().size(), 2u);
}

TEST_F(SimControllerTest, DelayedAnswerDoesNotHoldUpOthers) {
  sim::TSimFaults slow;
  slow.DelayMs = 1500;
  Ctl().SetFaults(slow);
  ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdReadStatus)));
  AwaitRequests(1);
  Ctl().SetFaults({});
  ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdPing)));
  auto first = fClient.Receive(), second = fClient.Receive(5000);
  ASSERT_TRUE(first && second);
  auto a = DecodeAll(first->Bytes), b = DecodeAll(second->Bytes);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(a[0].Body.size(), 2u);  // the ping's hash
  EXPECT_EQ(b[0].Body, (std::vector<uint8_t>{sim::ssKernel, sim::psRun}));
}

// ---- chances of the faults ----------------------------------------------------------

// What a controller did with a run of pings, straight through HandleDatagram.
struct TFaultTally {
  int Requests = 0;
  int Dropped = 0;
  int Duplicated = 0;
  int Corrupt = 0;
  std::vector<int> Delays;   // of each answer sent
  std::vector<int> Pattern;  // per request: -1 dropped, else delay * 4 + duplicated * 2 + corrupt
};

TFaultTally Tally(TSimController& c, int requests) {
  TFaultTally t;
  const std::vector<uint8_t> ping = Request(kNAD, cmdPing);
  for (int i = 0; i < requests; ++i) {
    const sim::TSimReply reply = c.HandleDatagram(ping.data(), ping.size(), "127.0.0.1", 1, false);
    ++t.Requests;
    EXPECT_EQ(reply.DelaysMs.size(), reply.Datagrams.size());
    if (reply.Datagrams.empty() || reply.DelaysMs.empty()) {
      ++t.Dropped;
      t.Pattern.push_back(-1);
      continue;
    }
    const bool duplicated = reply.Datagrams.size() == 2;
    EXPECT_LE(reply.Datagrams.size(), 2u);
    if (duplicated) {
      // A network copy: the same bytes, leaving at the same moment.
      EXPECT_EQ(reply.Datagrams[0], reply.Datagrams[1]);
      EXPECT_EQ(reply.DelaysMs[0], reply.DelaysMs[1]);
    }
    const bool corrupt = DecodeAll(reply.Datagrams[0]).empty();
    t.Duplicated += duplicated;
    t.Corrupt += corrupt;
    t.Delays.push_back(reply.DelaysMs[0]);
    t.Pattern.push_back(reply.DelaysMs[0] * 4 + duplicated * 2 + corrupt);
  }
  return t;
}

constexpr uint64_t kSeed = 20240611;

TEST(SimFaultChances, NoneAndCertainAreExact) {
  constexpr int kRequests = 500;
  struct Case {
    const char* what;
    sim::TSimFaults faults;
    int dropped, duplicated, corrupt;  // of kRequests
    int delay;                         // of every answer
  };
  auto faults = [](double drop, double dup, double corrupt, int delay = 0) {
    sim::TSimFaults f;
    f.DropProbability = drop;
    f.DuplicateProbability = dup;
    f.CorruptProbability = corrupt;
    f.DelayMs = delay;
    return f;
  };
  sim::TSimFaults everyDuplicate = faults(0, 0, 0);
  everyDuplicate.Duplicate = true;
  sim::TSimFaults everyCorrupt = faults(0, 0, 0);
  everyCorrupt.CorruptChecksum = true;
  const Case cases[] = {
      {"no faults", faults(0, 0, 0), 0, 0, 0, 0},
      {"every answer lost", faults(1, 1, 1), kRequests, 0, 0, 0},
      {"every answer duplicated", faults(0, 1, 0), 0, kRequests, 0, 0},
      {"every answer corrupt", faults(0, 0, 1), 0, 0, kRequests, 0},
      {"duplicated and corrupt, late", faults(0, 1, 1, 80), 0, kRequests, kRequests, 80},
      {"the duplicate flag still means every answer", everyDuplicate, 0, kRequests, 0, 0},
      {"the corrupt flag still means every answer", everyCorrupt, 0, 0, kRequests, 0},
      {"a delay without jitter is exact", faults(0, 0, 0, 250), 0, 0, 0, 250},
  };
  for (const Case& c : cases) {
    // Seeded from the system: a certain outcome may not depend on the draw.
    TSimController ctl(kNAD, "127.0.0.10");
    ctl.SetFaults(c.faults);
    const TFaultTally t = Tally(ctl, kRequests);
    EXPECT_EQ(t.Dropped, c.dropped) << c.what;
    EXPECT_EQ(t.Duplicated, c.duplicated) << c.what;
    EXPECT_EQ(t.Corrupt, c.corrupt) << c.what;
    for (int d : t.Delays) ASSERT_EQ(d, c.delay) << c.what;
  }
}

TEST(SimFaultChances, ShareOfAnswersFollowsTheChance) {
  constexpr int kRequests = 20000;
  struct Case {
    const char* what;
    double drop, dup, corrupt;
  };
  const Case cases[] = {
      {"drop 0.3", 0.3, 0, 0},           {"duplicate 0.3", 0, 0.3, 0},   {"corrupt 0.3", 0, 0, 0.3},
      {"a lossy link", 0.1, 0.05, 0.01}, {"mostly lost", 0.9, 0.5, 0.5},
  };
  // Within four standard deviations of the share expected among `of` draws.
  auto near = [](int count, int of, double p) {
    const double share = static_cast<double>(count) / of;
    const double sigma = std::sqrt(p * (1 - p) / of);
    return std::abs(share - p) <= 4 * sigma + 1e-9;
  };
  for (const Case& c : cases) {
    TSimController ctl(kNAD, "127.0.0.10");
    ctl.Seed(kSeed);
    sim::TSimFaults f;
    f.DropProbability = c.drop;
    f.DuplicateProbability = c.dup;
    f.CorruptProbability = c.corrupt;
    ctl.SetFaults(f);
    const TFaultTally t = Tally(ctl, kRequests);
    const int sent = t.Requests - t.Dropped;
    EXPECT_PRED3(near, t.Dropped, t.Requests, c.drop) << c.what;
    // Duplicates and corruption are drawn for the answers that are sent.
    EXPECT_PRED3(near, t.Duplicated, sent, c.dup) << c.what;
    EXPECT_PRED3(near, t.Corrupt, sent, c.corrupt) << c.what;
  }
}

TEST(SimFaultChances, JitterStaysWithinItsBoundsAndFillsThem) {
  constexpr int kRequests = 4000;
  struct Case {
    int delay, jitter;
    int low, high;
  } cases[] = {
      {200, 50, 150, 250},                    // around a 200 ms wait
      {550, 250, 300, 800}, {20, 50, 0, 70},  // never below 0
      {0, 10, 0, 10},       {30, 0, 30, 30},
  };
  for (const Case& c : cases) {
    TSimController ctl(kNAD, "127.0.0.10");
    ctl.Seed(kSeed);
    sim::TSimFaults f;
    f.DelayMs = c.delay;
    f.JitterMs = c.jitter;
    f.DuplicateProbability = 0.5;
    ctl.SetFaults(f);
    const TFaultTally t = Tally(ctl, kRequests);
    ASSERT_EQ(t.Delays.size(), static_cast<size_t>(kRequests));
    const auto [lo, hi] = std::minmax_element(t.Delays.begin(), t.Delays.end());
    EXPECT_EQ(*lo, c.low) << c.delay << "+-" << c.jitter;
    EXPECT_EQ(*hi, c.high) << c.delay << "+-" << c.jitter;
    // Uniform: the mean sits in the middle of the range.
    const double mean = std::accumulate(t.Delays.begin(), t.Delays.end(), 0.0) / kRequests;
    EXPECT_NEAR(mean, (c.low + c.high) / 2.0, (c.high - c.low) * 0.03 + 1e-9)
        << c.delay << "+-" << c.jitter;
  }
}

TEST(SimFaultChances, EachAnswerOfOneDatagramHasItsOwnDelay) {
  TSimController ctl(kNAD, "127.0.0.10");
  ctl.Seed(kSeed);
  sim::TSimFaults f;
  f.DelayMs = 200;
  f.JitterMs = 50;
  ctl.SetFaults(f);
  std::vector<uint8_t> two = Request(kNAD, cmdPing);
  const std::vector<uint8_t> status = Request(kNAD, cmdReadStatus);
  two.insert(two.end(), status.begin(), status.end());
  int differ = 0;
  for (int i = 0; i < 100; ++i) {
    const sim::TSimReply reply = ctl.HandleDatagram(two.data(), two.size(), "127.0.0.1", 1, false);
    ASSERT_EQ(reply.Datagrams.size(), 2u);
    ASSERT_EQ(reply.DelaysMs.size(), 2u);
    differ += reply.DelaysMs[0] != reply.DelaysMs[1];
  }
  EXPECT_GT(differ, 90);
}

TEST(SimFaultChances, ASeedMakesARunReproducible) {
  sim::TSimFaults lossyLate;
  lossyLate.DropProbability = 0.1;
  lossyLate.DuplicateProbability = 0.05;
  lossyLate.CorruptProbability = 0.01;
  lossyLate.DelayMs = 200;
  lossyLate.JitterMs = 50;
  auto pattern = [&](TSimController& c) {
    c.SetFaults(lossyLate);
    return Tally(c, 2000).Pattern;
  };
  TSimController a(kNAD, "127.0.0.10"), b(kNAD, "127.0.0.10"), other(kNAD, "127.0.0.10");
  a.Seed(kSeed);
  b.Seed(kSeed);
  other.Seed(kSeed + 1);
  const auto first = pattern(a);
  EXPECT_EQ(pattern(b), first);
  EXPECT_NE(pattern(other), first);

  // A host's seed gives each controller a sequence of its own, the same in every run.
  TSimHostOptions options;
  options.Controllers = 2;
  options.Seed = kSeed;
  TSimHost one(options), two(options);
  const auto c0 = pattern(one.Controller(0));
  EXPECT_NE(pattern(one.Controller(1)), c0);
  EXPECT_EQ(pattern(two.Controller(0)), c0);
}

// ---- robustness ----------------------------------------------------------------------

TEST_F(SimControllerTest, DatagramsThatAreNoRequestForItAreIgnored) {
  auto withByte = [](std::vector<uint8_t> f, size_t at, uint8_t v) {
    f.at(at) = v;
    // Re-seal, so that only the changed field is wrong.
    const uint16_t sum = FrameChecksum(f.data(), static_cast<int>(f.size()) - 2, 0);
    f[f.size() - 2] = sum & 0xFF;
    f[f.size() - 1] = sum >> 8;
    return f;
  };
  const std::vector<uint8_t> ping = Request(kNAD, cmdPing);
  std::vector<uint8_t> badSum = ping;
  badSum.back() ^= 1;
  std::vector<uint8_t> noBody = BuildFrame(1, kNAD, md_REQ, mt_COMMAND, nullptr, 0);
  const uint8_t twoBytes[] = {cmdPing, 0};
  struct Case {
    const char* what;
    std::vector<uint8_t> datagram;
  } cases[] = {
      {"empty", {}},
      {"garbage", {1, 2, 3, 4, 5}},
      {"start mark only", {0xAA, 0x55}},
      {"truncated", std::vector<uint8_t>(ping.begin(), ping.end() - 1)},
      {"bad checksum", badSum},
      {"no body", noBody},
      {"body too short for a password", BuildFrame(1, kNAD, md_REQ, mt_COMMAND, twoBytes, 2)},
      {"an answer, not a request", withByte(ping, 12, md_ACK)},
      {"socket traffic", withByte(ping, 13, mt_SOCKET)},
      {"for another NAD", Request(kNAD + 1, cmdPing)},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), c.datagram)) << c.what;
    // Answers leave in request order: the next one is the IEX echo's.
    std::vector<uint8_t> echo = Params16({1});
    echo.push_back(0x42);
    auto a = Call(cmdIEXMessages, echo);
    ASSERT_TRUE(a) << c.what;
    EXPECT_EQ(a->Body, echo) << c.what;
  }
  EXPECT_EQ(Ctl().Requests().size(), std::size(cases)) << "only the echoes were requests";
}

TEST_F(SimControllerTest, RequestsAreRecorded) {
  std::vector<uint8_t> params = Params16({512, 16});
  ASSERT_TRUE(fClient.Send(IP(), fHost->Port(), Request(kNAD, cmdReadCode, params, 0x1234, 5)));
  ASSERT_TRUE(fClient.Receive());
  auto r = Ctl().Requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].FromNAD, 5u);
  EXPECT_EQ(r[0].ToNAD, kNAD);
  EXPECT_EQ(r[0].Command, cmdReadCode);
  EXPECT_EQ(r[0].Params, params);
  EXPECT_EQ(r[0].PasswordHash, 0x1234);
  EXPECT_FALSE(r[0].Broadcast);
  EXPECT_EQ(r[0].PeerIP, "127.0.0.1");
  EXPECT_EQ(r[0].PeerPort, fClient.Port());
  Ctl().ClearRequests();
  EXPECT_TRUE(Ctl().Requests().empty());
}

// Random requests straight into the controller: every one is answered or ignored, and the
// sanitizer builds catch any read or write out of bounds.
TEST(SimRobustness, RandomRequestsNeverHurt) {
  TSimController c(10, "127.0.0.10");
  std::mt19937 rng(1234);
  const uint8_t commands[] = {0x00, 0x01, 0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22,
                              0x30, 0x31, 0x32, 0x33, 0x34, 0x40, 0x41, 0x80, 0xFF};
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> params(rng() % 64);
    for (auto& b : params) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
    if (params.size() >= 6 && rng() % 2) {  // plausible counts for the random access
      params[0] = rng() % 4, params[1] = 0, params[2] = rng() % 4, params[3] = 0;
      params[4] = rng() % 4, params[5] = 0;
    }
    const uint8_t command = commands[rng() % std::size(commands)];
    if (command == 0x20 || command == 0x00) continue;  // keep the program and kernel
    auto frame = Request(10, command, params);
    if (rng() % 8 == 0 && !frame.empty()) frame[rng() % frame.size()] ^= 1 << (rng() % 8);
    const sim::TSimReply reply =
        c.HandleDatagram(frame.data(), frame.size(), "127.0.0.1", 1, false);
    for (const auto& d : reply.Datagrams) EXPECT_EQ(DecodeAll(d).size(), 1u);
  }
  EXPECT_TRUE(c.HasProgram());
}

}  // namespace
