// The simulator's sparse memory against a plain array of bytes: whatever is written,
// filled, resized or copied, every byte must read what the array holds.
#include "sim/uSimMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using sim::TSimMemory;

// The same operations on a flat array.
struct TFlat {
  std::vector<uint8_t> Bytes;
  uint8_t Blank;

  void Resize(uint32_t size) { Bytes.resize(size, Blank); }
  void Write(uint32_t address, const std::vector<uint8_t>& data) {
    for (size_t i = 0; i < data.size() && address + i < Bytes.size(); ++i)
      Bytes[address + i] = data[i];
  }
  void Fill(uint32_t from, uint32_t to, uint8_t value) {
    for (uint32_t a = from; a < to && a < Bytes.size(); ++a) Bytes[a] = value;
  }
  std::vector<uint8_t> Read(uint32_t address, uint32_t count) const {
    std::vector<uint8_t> out(count, Blank);
    for (uint32_t i = 0; i < count; ++i)
      if (address + i < Bytes.size()) out[i] = Bytes[address + i];
    return out;
  }
};

void ExpectSame(const TSimMemory& memory, const TFlat& flat) {
  ASSERT_EQ(memory.Size(), flat.Bytes.size());
  // One read across the whole memory and a little beyond it, and single bytes.
  const std::vector<uint8_t> got = memory.Read(0, memory.Size() + 300);
  const std::vector<uint8_t> want = flat.Read(0, memory.Size() + 300);
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
  ASSERT_TRUE(diff.first == got.end()) << "first difference at " << (diff.first - got.begin());
  for (uint32_t a = 0; a < memory.Size() + 20; a += 37)
    ASSERT_EQ(memory.Get(a), flat.Read(a, 1)[0]) << "address " << a;
}

TEST(SimMemory, ReadsLikeAnArrayWhateverIsDoneToIt) {
  std::mt19937 random(7);
  const auto pick = [&](uint32_t n) {
    return std::uniform_int_distribution<uint32_t>(0, n)(random);
  };
  for (const uint8_t blank : {uint8_t{0}, uint8_t{0xFF}}) {
    SCOPED_TRACE("blank " + std::to_string(blank));
    TSimMemory memory(5000, blank, 256);
    TFlat flat{std::vector<uint8_t>(5000, blank), blank};
    // A copy taken on the way must keep reading what it held when it was taken.
    TSimMemory copy = memory;
    TFlat copyFlat = flat;
    for (int step = 0; step < 400; ++step) {
      const uint32_t size = memory.Size();
      switch (pick(7)) {
        case 0:
        case 1: {
          std::vector<uint8_t> data(pick(700));
          for (uint8_t& b : data) b = static_cast<uint8_t>(pick(3) == 0 ? blank : pick(255));
          const uint32_t at = pick(size + 100);
          memory.Write(at, data.data(), static_cast<uint32_t>(data.size()));
          flat.Write(at, data);
          break;
        }
        case 2: {
          const uint32_t at = pick(size + 10);
          const uint8_t value = static_cast<uint8_t>(pick(2) == 0 ? 0 : pick(255));
          memory.Set(at, value);
          flat.Write(at, {value});
          break;
        }
        case 3: {
          const uint32_t from = pick(size), to = from + pick(2000);
          const uint8_t value = static_cast<uint8_t>(pick(2) == 0 ? pick(1) * 0xFF : pick(255));
          memory.Fill(from, to, value);
          flat.Fill(from, to, value);
          break;
        }
        case 4: {
          const uint32_t newSize = 1 + pick(9000);
          memory.Resize(newSize);
          flat.Resize(newSize);
          break;
        }
        case 5:
          if (pick(10) == 0) {
            memory.Clear();
            std::fill(flat.Bytes.begin(), flat.Bytes.end(), blank);
          }
          break;
        default:
          copy = memory;
          copyFlat = flat;
          break;
      }
      SCOPED_TRACE("step " + std::to_string(step));
      ExpectSame(memory, flat);
      ExpectSame(copy, copyFlat);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(SimMemory, HoldsOnlyWhatDiffersFromBlankAndSharesCopies) {
  TSimMemory memory(0x40000, 0xFF, 4096);
  EXPECT_EQ(memory.OwnBytes(), 0u);
  memory.Set(10, 0xFF);  // what it reads already
  EXPECT_EQ(memory.OwnBytes(), 0u);
  memory.Write(0x20000, std::vector<uint8_t>(100, 1).data(), 100);
  EXPECT_EQ(memory.OwnBytes(), 4096u);

  TSimMemory copy = memory;
  EXPECT_EQ(memory.OwnBytes(), 0u) << "the page is shared now";
  copy.Set(0x20001, 7);
  EXPECT_EQ(copy.OwnBytes(), 4096u);
  EXPECT_EQ(memory.Get(0x20001), 1) << "the original is untouched";

  // Zeros over whole pages take the shared zero page; blank gives the pages back.
  memory.Fill(0x20000, 0x40000, 0);
  EXPECT_EQ(memory.Get(0x3FFFF), 0);
  EXPECT_EQ(memory.OwnBytes(), 0u);
  memory.Set(0x30000, 5);
  EXPECT_EQ(memory.OwnBytes(), 4096u);
  EXPECT_EQ(memory.Get(0x30001), 0);
  memory.Fill(0, 0x40000, 0xFF);
  EXPECT_EQ(memory.OwnBytes(), 0u);
  EXPECT_EQ(memory.Get(0x30000), 0xFF);
}

}  // namespace
