#include "Common/lock.h"

#include "Common/shared.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

// Read releases still owed to each resource's count (see ResourceLock::flushPending).
u8 pending[ResourceLock::N_RESOURCES];
int pendingTotal = 0;

int slot(int resource) { return static_cast<int>(SMEM_LOCK_SLOTS) + 8 * resource; }

int readCount(int resource) { return static_cast<int>(SharedMemory::instance().readWord(slot(resource))); }

void writeCount(int resource, int count) {
  const u32 words[2] = {static_cast<u32>(count), 0};
  SharedMemory::instance().write(slot(resource), words, 8);
}

// Lowers one reader from the count; the caller holds semaphore 0.
void releaseReader(int resource) {
  const int count = readCount(resource);
  if (count > 0 && count <= ResourceLock::READ_LOCK_MAX) writeCount(resource, count - 1);
}

// Applies the owed releases; the caller holds semaphore 0.
void applyPending() {
  for (int r = 0; pendingTotal > 0 && r < ResourceLock::N_RESOURCES; ++r) {
    for (; pending[r] > 0; --pending[r], --pendingTotal) releaseReader(r);
  }
}

}  // namespace

HardLockGuard::HardLockGuard() {
  held_ = static_cast<u8>(mxHardLock(MX_HARD_LOCK_0));
  if (!held_) MX_LOG(libmx::WARN, "Hardware lock failed");
}

HardLockGuard::~HardLockGuard() {
  if (held_) mxHardUnlock(MX_HARD_LOCK_0);
}

void ResourceLock::lock(int resource, int mode) {
  MX_CHECK_VALUE(isValid(), false);
  MX_CHECK(0 <= resource && resource < 128);
  flushPending();
  if (mode == WRITE) {
    isWrite_ = 1;
    if (readCount(resource) != 0) return;
    HardLockGuard guard;
    if (!guard.held()) return;
    if (readCount(resource) == 0) {
      writeCount(resource, WRITE_LOCK_VALUE);
      resource_ = resource;
    }
  } else if (mode == READ) {
    isWrite_ = 0;
    if (readCount(resource) > READ_LOCK_MAX - 1) return;
    HardLockGuard guard;
    if (!guard.held()) return;
    const int count = readCount(resource);
    if (count < READ_LOCK_MAX) {
      writeCount(resource, count + 1);
      resource_ = resource;
    }
  } else {
    MX_FAIL("NeverReachHere");
  }
}

void ResourceLock::unlock() {
  if (resource_ < 0) return;
  const int r = resource_;
  resource_ = -1;
  const int count = readCount(r);
  if (isWrite_) {
    MX_CHECK_VALUE(count, WRITE_LOCK_VALUE);
    writeCount(r, 0);
    return;
  }
  MX_CHECK(0 < count && count <= READ_LOCK_MAX);
  HardLockGuard guard;
  if (!guard.held()) {
    // The other processor keeps the semaphore: the release is owed, not lost.
    ++pending[r];
    ++pendingTotal;
    return;
  }
  releaseReader(r);
  applyPending();
}

void ResourceLock::downgrade() {
  const bool isWrite = isWrite_ != 0;
  MX_CHECK(isWrite);
  if (resource_ >= 0) {
    const int count = readCount(resource_);
    MX_CHECK_VALUE(count, WRITE_LOCK_VALUE);
    writeCount(resource_, 1);
  }
  isWrite_ = 0;
}

int ResourceLock::pendingReleases() { return pendingTotal; }

void ResourceLock::flushPending() {
  if (pendingTotal == 0) return;
  HardLockGuard guard;
  if (guard.held()) applyPending();
}
