#pragma once
// Reader/writer locks of the resources shared with the front end. Each lock is a word pair in the
// shared window, updated by both processors under hardware semaphore 0. A lock is never waited
// for: a failed attempt leaves the object holding nothing, and the caller tries again later.
#include "Common/memory.h"
#include "Lib/Include/check.h"
#include "Lib/Include/types.h"

// Holds hardware semaphore 0 for its scope, when it can be had ("Hardware lock failed" otherwise).
class HardLockGuard {
 public:
  HardLockGuard();
  ~HardLockGuard();
  HardLockGuard(const HardLockGuard&) = delete;
  HardLockGuard& operator=(const HardLockGuard&) = delete;
  bool held() const { return held_ != 0; }

 private:
  u8 held_ = 0;
};

class ResourceLock {
 public:
  static constexpr int N_RESOURCES = 128;
  static constexpr int WRITE_LOCK_VALUE = 64;
  static constexpr int READ_LOCK_MAX = 32;
  enum Mode { READ = 0, WRITE = 1 };

  ResourceLock() = default;
  // Releases what it holds; a failed check on the way out is logged, not thrown.
  ~ResourceLock() {
    try {
      unlock();
    } catch (const assert::AssertException&) {
    }
  }
  ResourceLock(const ResourceLock&) = delete;
  ResourceLock& operator=(const ResourceLock&) = delete;

  // Tries to take the resource (mode 1 write, 0 read); success shows as isValid().
  void lock(int resource, int mode);
  // Releases what the object holds; nothing when it holds nothing.
  void unlock();
  // Turns the held write lock into a read lock.
  void downgrade();
  bool isValid() const { return resource_ >= 0; }
  int resource() const { return resource_; }

  // Read releases whose count could not be lowered because the other processor kept semaphore 0;
  // they are applied by the next lock operation that gets the semaphore, or by flushPending.
  static int pendingReleases();
  static void flushPending();

 private:
  u32 isWrite_ = 0;
  s32 resource_ = -1;
};
