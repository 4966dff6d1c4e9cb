// Records the largest single allocation made through operator new while a probe is
// alive, so that tests can show that untrusted lengths never size an allocation.
#pragma once

#include <cstddef>

class TAllocationProbe {
 public:
  TAllocationProbe();
  ~TAllocationProbe();
  TAllocationProbe(const TAllocationProbe&) = delete;
  TAllocationProbe& operator=(const TAllocationProbe&) = delete;

  size_t Largest() const;
};
