#include <atomic>
#include <cstdlib>
#include <new>

#include "alloc_probe.h"

namespace {

std::atomic<int> gActiveProbes{0};
std::atomic<size_t> gLargest{0};

void* Allocate(size_t size) {
  if (gActiveProbes.load(std::memory_order_relaxed) > 0) {
    size_t seen = gLargest.load(std::memory_order_relaxed);
    while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

TAllocationProbe::TAllocationProbe() {
  gLargest = 0;
  ++gActiveProbes;
}

TAllocationProbe::~TAllocationProbe() {
  --gActiveProbes;
}

size_t TAllocationProbe::Largest() const {
  return gLargest.load();
}

void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
