// A controller's memory as the simulator keeps it: only the pages that hold something.
// A page that was never written reads as the memory's blank byte (0xFF for erased flash,
// 0 for RAM) and takes no room; a page that reads all zeros is shared; a copy of a memory
// shares every page with it until one of them is written (the EEPROM image of the data
// memory costs nothing until it differs).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

class TSimMemory {
 public:
  TSimMemory(uint32_t size, uint8_t blank, uint32_t pageSize);

  uint32_t Size() const { return fSize; }
  uint8_t Blank() const { return fBlank; }
  // Grows or shrinks the memory; bytes beyond the old size read blank.
  void Resize(uint32_t size);
  // Every byte reads blank again and every page is given back.
  void Clear();

  uint8_t Get(uint32_t address) const;
  void Set(uint32_t address, uint8_t value);
  // Bytes outside the memory read blank and are not written.
  void Read(uint32_t address, uint32_t count, uint8_t* out) const;
  std::vector<uint8_t> Read(uint32_t address, uint32_t count) const;
  void Write(uint32_t address, const uint8_t* bytes, uint32_t count);
  void Fill(uint32_t from, uint32_t to, uint8_t value);

  // Pages this memory holds alone (shared and blank pages not counted), and their bytes.
  size_t OwnBytes() const;

 private:
  using TPage = std::vector<uint8_t>;
  // The page at index i, made writable: allocated, or copied when it is shared.
  uint8_t* Writable(size_t i);

  uint32_t fSize;
  uint8_t fBlank;
  uint32_t fPageSize;
  std::vector<std::shared_ptr<TPage>> fPages;  // nullptr: blank
};

}  // namespace sim
