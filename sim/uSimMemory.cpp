#include "sim/uSimMemory.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace sim {

namespace {

// One page of zeros per page size, shared by every memory of the process. It is never
// written: a memory copies a shared page before it writes to it.
std::shared_ptr<std::vector<uint8_t>> ZeroPage(uint32_t pageSize) {
  static std::mutex mutex;
  static std::map<uint32_t, std::shared_ptr<std::vector<uint8_t>>> pages;
  std::lock_guard lock(mutex);
  auto& page = pages[pageSize];
  if (!page) page = std::make_shared<std::vector<uint8_t>>(pageSize, 0);
  return page;
}

}  // namespace

TSimMemory::TSimMemory(uint32_t size, uint8_t blank, uint32_t pageSize)
    : fSize(0), fBlank(blank), fPageSize(std::max<uint32_t>(pageSize, 1)) {
  Resize(size);
}

void TSimMemory::Resize(uint32_t size) {
  const uint32_t old = fSize;
  fSize = size;
  fPages.resize((static_cast<size_t>(size) + fPageSize - 1) / fPageSize);
  // A page cut by the old end may hold bytes beyond it that must read blank now.
  if (size > old && old % fPageSize != 0) {
    Fill(old, std::min(size, old - old % fPageSize + fPageSize), fBlank);
  }
}

void TSimMemory::Clear() {
  for (auto& page : fPages) page.reset();
}

uint8_t TSimMemory::Get(uint32_t address) const {
  if (address >= fSize) return fBlank;
  const auto& page = fPages[address / fPageSize];
  return page ? (*page)[address % fPageSize] : fBlank;
}

uint8_t* TSimMemory::Writable(size_t i) {
  std::shared_ptr<TPage>& page = fPages[i];
  if (!page) {
    page = std::make_shared<TPage>(fPageSize, fBlank);
  } else if (page.use_count() > 1) {
    page = std::make_shared<TPage>(*page);
  }
  return page->data();
}

void TSimMemory::Set(uint32_t address, uint8_t value) {
  if (address >= fSize) return;
  const auto& page = fPages[address / fPageSize];
  // Writing what a byte already reads changes nothing and allocates nothing.
  if ((page ? (*page)[address % fPageSize] : fBlank) == value) return;
  Writable(address / fPageSize)[address % fPageSize] = value;
}

void TSimMemory::Read(uint32_t address, uint32_t count, uint8_t* out) const {
  for (uint32_t done = 0; done < count;) {
    const uint64_t at = static_cast<uint64_t>(address) + done;
    const uint32_t offset = static_cast<uint32_t>(at % fPageSize);
    uint32_t n = std::min(count - done, fPageSize - offset);
    const TPage* page = nullptr;
    if (at < fSize) {
      // A page cut by the end may still hold bytes beyond it.
      n = std::min(n, static_cast<uint32_t>(fSize - at));
      page = fPages[static_cast<size_t>(at / fPageSize)].get();
    }
    if (page != nullptr) {
      std::memcpy(out + done, page->data() + offset, n);
    } else {
      std::memset(out + done, fBlank, n);
    }
    done += n;
  }
}

std::vector<uint8_t> TSimMemory::Read(uint32_t address, uint32_t count) const {
  std::vector<uint8_t> bytes(count);
  Read(address, count, bytes.data());
  return bytes;
}

void TSimMemory::Write(uint32_t address, const uint8_t* bytes, uint32_t count) {
  for (uint32_t done = 0; done < count;) {
    const uint64_t at = static_cast<uint64_t>(address) + done;
    if (at >= fSize) return;
    const uint32_t offset = static_cast<uint32_t>(at % fPageSize);
    const uint32_t n =
        std::min({count - done, fPageSize - offset, static_cast<uint32_t>(fSize - at)});
    std::memcpy(Writable(static_cast<size_t>(at / fPageSize)) + offset, bytes + done, n);
    done += n;
  }
}

void TSimMemory::Fill(uint32_t from, uint32_t to, uint8_t value) {
  to = std::min(to, fSize);
  for (uint32_t at = from; at < to;) {
    const size_t i = at / fPageSize;
    const uint32_t offset = at % fPageSize;
    const uint32_t n = std::min(to - at, fPageSize - offset);
    if (n == fPageSize && value == fBlank) {
      fPages[i].reset();
    } else if (!fPages[i] && value == fBlank) {
      // Blank already.
    } else if (n == fPageSize && value == 0) {
      fPages[i] = ZeroPage(fPageSize);
    } else {
      std::memset(Writable(i) + offset, value, n);
    }
    at += n;
  }
}

size_t TSimMemory::OwnBytes() const {
  size_t bytes = 0;
  for (const auto& page : fPages)
    if (page && page.use_count() == 1) bytes += page->size();
  return bytes;
}

}  // namespace sim
