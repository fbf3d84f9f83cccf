#pragma once
// Resource locks and hardware semaphores as start-up uses them. The lock module provides them;
// until it is part of the build, a minimal stand-in keeps the write side of the same protocol on
// the same lock words (count 64 = one writer) and semaphore registers.
#if __has_include("Common/lock.h")
#include "Common/lock.h"
#else
#include "Driver/reg.h"

enum : int { MX_HARD_LOCK_0 = 0x4000, MX_HARD_LOCK_2 = 0x4002 };

inline int mxHardLock(int lock) {
  u32 adr = 0x40001900 + 4 * static_cast<u32>(lock - MX_HARD_LOCK_0);
  for (int i = 0; i < 30; ++i) {
    mxWriteReg(adr, 1);
    if (mxReadReg(adr) == 1) return 1;
  }
  return 0;
}

inline void mxHardUnlock(int lock) {
  u32 adr = 0x40001900 + 4 * static_cast<u32>(lock - MX_HARD_LOCK_0);
  if (mxReadReg(adr) == 1) mxWriteReg(adr, 0);
}

class ResourceLock {
 public:
  ~ResourceLock() { unlock(); }
  bool isValid() const { return resource_ >= 0; }
  void lock(int resource, int) {
    u32 adr = word(resource);
    if (mxReadReg(adr) != 0) return;
    mxWriteReg(adr, 64);
    mxWriteReg(adr + 4, 0);
    resource_ = resource;
  }
  void unlock() {
    if (resource_ < 0) return;
    mxWriteReg(word(resource_), 0);
    mxWriteReg(word(resource_) + 4, 0);
    resource_ = -1;
  }

 private:
  static u32 word(int resource) { return 0x33000600 + 8 * static_cast<u32>(resource); }
  int resource_ = -1;
};
#endif
