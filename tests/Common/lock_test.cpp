#include "Common/lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Common/memory.h"
#include "Common/shared.h"
#include "Common/storage.h"
#include "Common/reg.h"
#include "tests/support/board_fixture.h"
#include "Platform/hw_semaphore.h"
#include "Lib/Include/shared.h"

using namespace platform;
using testing_support::consoleCount;

namespace {

constexpr int RD = ResourceLock::READ, WR = ResourceLock::WRITE;

class LockTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    hardwareSemaphores().reset();
    memoryPorts();
    ResourceLock::flushPending();
    traceClear();
  }
  static u32 countWord(int r) { return readMem32(0x33000600 + 8 * r); }
  static bool take(ResourceLock& l, int r, int mode) {
    l.lock(r, mode);
    return l.isValid();
  }
};

TEST_F(LockTest, SemaphoreIsRequestedUpTo30Times) {
  struct { int refusals, result, requests; } cases[] = {{-1, 0, 30}, {30, 0, 30}, {29, 1, 30}, {3, 1, 4}};
  for (auto c : cases) {
    hardwareSemaphores().reset();
    hardwareSemaphores().otherHold(0, c.refusals);
    EXPECT_EQ(mxHardLock(MX_HARD_LOCK_0), c.result) << c.refusals;
    EXPECT_EQ(hardwareSemaphores().requests(0), c.requests) << c.refusals;
  }
  hardwareSemaphores().reset();
  hardwareSemaphores().otherHold(0);
  traceClear();
  mxHardUnlock(MX_HARD_LOCK_0);  // held by the other side: left with it
  EXPECT_EQ(traceWriteCount(), 0u);
}

TEST_F(LockTest, LockWordsThirtyTwoReadersAtMostAndAWriterRefusesEveryone) {
  writeMem32(0x33000604 + 8 * 95, 0xDEAD);
  ResourceLock start, shot;
  ASSERT_TRUE(take(start, LOCK_STARTUP, WR));
  EXPECT_EQ(std::tuple(countWord(95), readMem32(0x33000604 + 8 * 95)), std::tuple(64u, 0u));
  take(shot, LOCK_SHOT_MEMORY, RD);
  EXPECT_EQ((std::vector<u32>{countWord(10), countWord(11), countWord(12)}), (std::vector<u32>{0, 1, 0}));
  start.unlock();
  EXPECT_EQ(std::tuple(countWord(95), start.isValid()), std::tuple(0u, false));
  EXPECT_FALSE(hardwareSemaphores().heldHere(0));  // every guard let go

  ResourceLock readers[33], writer, reader;
  for (int i = 0; i < 32; ++i) ASSERT_TRUE(take(readers[i], 12, RD)) << i;
  EXPECT_EQ(countWord(12), 32u);
  int requests = hardwareSemaphores().requests(0);
  EXPECT_FALSE(take(readers[32], 12, RD) || take(writer, 12, WR));
  EXPECT_EQ(hardwareSemaphores().requests(0), requests);  // refused on the cheap test
  for (auto& r : readers) r.unlock();
  EXPECT_EQ(countWord(12), 0u);
  ASSERT_TRUE(take(writer, 12, WR));
  requests = hardwareSemaphores().requests(0);
  EXPECT_FALSE(take(reader, 12, RD) || take(readers[0], 12, WR));
  EXPECT_EQ(std::tuple(hardwareSemaphores().requests(0), countWord(12)), std::tuple(requests, 64u));
}

TEST_F(LockTest, ReleasesAndDowngrade) {
  ResourceLock lock, other;
  {
    ResourceLock scoped;
    scoped.lock(4, RD);
    EXPECT_EQ(countWord(4), 1u);
  }
  EXPECT_EQ(countWord(4), 0u);  // released by the destructor

  lock.lock(5, WR);
  writeMem32(0x33000600 + 8 * 5, 3);  // count overwritten: the check fails, the object is free
  EXPECT_THROW(lock.unlock(), assert::AssertException);
  EXPECT_FALSE(lock.isValid());

  lock.lock(20, WR);
  lock.downgrade();  // the writer becomes a reader, beside another one
  other.lock(20, RD);
  EXPECT_EQ(countWord(20), 2u);
  lock.unlock();
  other.unlock();
  EXPECT_EQ(countWord(20), 0u);
}

TEST_F(LockTest, SemaphoreHeldByTheOtherSide) {
  ResourceLock a, b, writer;
  hardwareSemaphores().otherHold(0);
  for (int mode : {WR, RD}) EXPECT_FALSE(take(a, 30, mode)) << mode;
  EXPECT_EQ(std::tuple(consoleCount("[WARN] Hardware lock failed"), countWord(30)), std::tuple(2, 0u));
  hardwareSemaphores().otherRelease(0);

  // A read release that cannot take the semaphore is owed, not lost.
  take(a, 40, RD);
  take(b, 40, RD);
  hardwareSemaphores().otherHold(0);
  a.unlock();
  EXPECT_EQ(std::tuple(a.isValid(), consoleCount("Hardware lock failed"), countWord(40), ResourceLock::pendingReleases()),
            std::tuple(false, 3, 2u, 1));
  hardwareSemaphores().otherRelease(0);
  b.unlock();  // settles the owed release too
  EXPECT_EQ(std::tuple(countWord(40), ResourceLock::pendingReleases()), std::tuple(0u, 0));

  // A writer that finds the count raised only by an owed release still gets the resource.
  take(a, 41, RD);
  hardwareSemaphores().otherHold(0);
  a.unlock();
  hardwareSemaphores().otherRelease(0);
  EXPECT_TRUE(take(writer, 41, WR) && countWord(41) == 64u);
}

TEST_F(LockTest, SharedWindowAndStorageCopyWholeWords) {
  SharedMemory& shm = SharedMemory::instance();
  const u8 bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  writeMem32(0x33000104, 0xFFFFFFFF);
  shm.write(0x100, bytes, 6);  // one word
  EXPECT_EQ(std::tuple(readMem32(0x33000100), readMem32(0x33000104)), std::tuple(0x04030201u, 0xFFFFFFFFu));
  u32 words[4] = {10, 11, 12, 13}, back[4] = {};
  shm.write(0x7FFFFF8, words, 16);  // across the front end's part into the part behind it
  shm.read(0x7FFFFF8, back, 16);
  EXPECT_EQ(std::vector<u32>(back, back + 4), std::vector<u32>(words, words + 4));

  Storage& st = Storage::instance();  // a stored mode behind its marker: the system tests
  writeMem32(0x81814028, 0);
  writeMem32(0x8181402C, 0x102);
  st.write(0x1FFF8, words, 8);
  EXPECT_EQ(std::tuple(st.boardMode(), readMem32(0x8181FFFC)), std::tuple(0, 11u));  // no marker: the mode word does not count
}

TEST_F(LockTest, FpgaMemoryPortSendsWholeBlocksPaddingTheLast) {
  u32 data[75];
  for (u32 i = 0; i < 75; ++i) data[i] = 0x100 + i;
  mxWriteFpgaMemory(MX_SDI2_BASE, 0x4000, data, 300);
  auto t = traceRecent();
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ((std::vector<u32>{t[0].adr, t[0].value, t[1].adr, t[1].value}),
            (std::vector<u32>{0x85000300, 0x4000, 0x85000304, 0}));
  std::vector<u32> sent;
  for (const auto& e : t)
    if (e.adr == 0x85000308) sent.push_back(e.value);
  ASSERT_EQ(sent.size(), 128u);  // two blocks of 64 words
  EXPECT_EQ(std::vector<u32>({sent[74], sent[75], sent[127]}), std::vector<u32>({0x100 + 74, 0, 0}));
}

}  // namespace