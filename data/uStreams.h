// A growable byte stream held in memory, with a read/write position.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : fData(std::move(bytes)) {}

  size_t Size() const { return fData.size(); }
  size_t Position() const { return fPosition; }
  void SetPosition(size_t pos) { fPosition = std::min(pos, fData.size()); }
  void Clear() {
    fData.clear();
    fPosition = 0;
  }

  // Reads up to count bytes from the position; returns how many were read.
  size_t Read(void* dest, size_t count) {
    const size_t n = std::min(count, fData.size() - fPosition);
    if (n > 0) std::memcpy(dest, fData.data() + fPosition, n);
    fPosition += n;
    return n;
  }

  // Writes at the position, growing the stream as needed.
  void Write(const void* src, size_t count) {
    if (count == 0) return;
    if (fPosition + count > fData.size()) fData.resize(fPosition + count);
    std::memcpy(fData.data() + fPosition, src, count);
    fPosition += count;
  }

  const std::vector<uint8_t>& Bytes() const { return fData; }
  std::vector<uint8_t>& Bytes() { return fData; }

 private:
  std::vector<uint8_t> fData;
  size_t fPosition = 0;
};
