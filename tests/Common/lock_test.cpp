#include "Common/lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Common/memory.h"
#include "Common/shared.h"
#include "Common/storage.h"
#include "Driver/reg.h"
#include "board_fixture.h"
#include "hw_semaphore.h"
#include "shared.h"

using namespace platform;
using testing_support::consoleCount;

namespace {

class LockTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    hardwareSemaphores().reset();
    memoryPorts();
    ResourceLock::flushPending();
    traceClear();
    testing_support::consoleClear();
  }
  static u32 countWord(int r) { return readMem32(0x33000000 + 0x600 + 8 * r); }
  static u32 secondWord(int r) { return readMem32(0x33000000 + 0x604 + 8 * r); }
};

void expectCheck(const std::function<void()>& f, const std::string& file, const std::string& text) {
  testing_support::consoleClear();
  EXPECT_THROW(f(), assert::AssertException) << text;
  EXPECT_EQ(consoleCount("Assertion failed: " + file + "("), 1) << testing_support::consoleText();
  EXPECT_EQ(consoleCount(") " + text), 1) << testing_support::consoleText();
}

TEST_F(LockTest, SemaphoreIsRequestedUpTo30Times) {
  EXPECT_EQ(mxHardLock(MX_HARD_LOCK_2), 1);
  EXPECT_EQ(mxReadReg(0x40001908), 1u);
  EXPECT_EQ(hardwareSemaphores().requests(2), 1);
  mxHardUnlock(MX_HARD_LOCK_2);
  EXPECT_FALSE(hardwareSemaphores().heldHere(2));

  struct Case {
    int refusals;
    int result;
    int requests;
  } cases[] = {{-1, 0, 30}, {30, 0, 30}, {29, 1, 30}, {3, 1, 4}};
  for (auto c : cases) {
    hardwareSemaphores().reset();
    hardwareSemaphores().otherHold(0, c.refusals);
    EXPECT_EQ(mxHardLock(MX_HARD_LOCK_0), c.result) << c.refusals;
    EXPECT_EQ(hardwareSemaphores().requests(0), c.requests) << c.refusals;
  }
  // Releasing a semaphore that the other side holds leaves it with the other side.
  hardwareSemaphores().reset();
  hardwareSemaphores().otherHold(0);
  traceClear();
  mxHardUnlock(MX_HARD_LOCK_0);
  EXPECT_EQ(traceWriteCount(), 0u);

  expectCheck([] { mxHardLock(0x4007); }, "Common/memory.cpp", "MX_HARD_LOCK_0 <= lock && lock < MX_HARD_LOCK_7");
  expectCheck([] { mxHardUnlock(0x3FFF); }, "Common/memory.cpp", "MX_HARD_LOCK_0 <= lock && lock < MX_HARD_LOCK_7");
}

TEST_F(LockTest, LockWordsAtTheirOffsets) {
  writeMem32(0x33000000 + 0x604 + 8 * 95, 0xDEAD);
  ResourceLock start;
  start.lock(LOCK_STARTUP, ResourceLock::WRITE);
  ASSERT_TRUE(start.isValid());
  EXPECT_EQ(countWord(95), 64u);
  EXPECT_EQ(secondWord(95), 0u);
  ResourceLock shot;
  shot.lock(LOCK_SHOT_MEMORY, ResourceLock::READ);
  EXPECT_EQ(countWord(11), 1u);
  EXPECT_EQ(countWord(10), 0u);
  EXPECT_EQ(countWord(12), 0u);
  start.unlock();
  EXPECT_EQ(countWord(95), 0u);
  EXPECT_FALSE(start.isValid());
  EXPECT_FALSE(hardwareSemaphores().heldHere(0));  // every guard let go
}

TEST_F(LockTest, ThirtyTwoReadersAtMost) {
  ResourceLock readers[33];
  for (int i = 0; i < 32; ++i) {
    readers[i].lock(12, ResourceLock::READ);
    ASSERT_TRUE(readers[i].isValid()) << i;
  }
  EXPECT_EQ(countWord(12), 32u);
  const int requests = hardwareSemaphores().requests(0);
  readers[32].lock(12, ResourceLock::READ);
  EXPECT_FALSE(readers[32].isValid());
  EXPECT_EQ(hardwareSemaphores().requests(0), requests);  // refused on the cheap test
  ResourceLock writer;
  writer.lock(12, ResourceLock::WRITE);
  EXPECT_FALSE(writer.isValid());
  for (auto& r : readers) r.unlock();
  EXPECT_EQ(countWord(12), 0u);
  writer.lock(12, ResourceLock::WRITE);
  EXPECT_TRUE(writer.isValid());
}

TEST_F(LockTest, AWriterRefusesEveryone) {
  ResourceLock writer;
  writer.lock(7, ResourceLock::WRITE);
  ASSERT_TRUE(writer.isValid());
  const int requests = hardwareSemaphores().requests(0);
  ResourceLock reader, second;
  reader.lock(7, ResourceLock::READ);
  second.lock(7, ResourceLock::WRITE);
  EXPECT_FALSE(reader.isValid());
  EXPECT_FALSE(second.isValid());
  EXPECT_EQ(hardwareSemaphores().requests(0), requests);
  EXPECT_EQ(countWord(7), 64u);
}

TEST_F(LockTest, ObjectChecksAndReleases) {
  ResourceLock lock;
  traceClear();
  lock.unlock();  // holds nothing: nothing happens
  EXPECT_EQ(traceWriteCount(), 0u);
  EXPECT_EQ(countWord(3), 0u);

  lock.lock(3, ResourceLock::WRITE);
  expectCheck([&] { lock.lock(3, ResourceLock::WRITE); }, "Common/lock.cpp", "isValid() is 1 must be false");
  EXPECT_EQ(countWord(3), 64u);
  lock.unlock();
  expectCheck([&] { lock.lock(128, ResourceLock::READ); }, "Common/lock.cpp", "0 <= resource && resource < 128");
  expectCheck([&] { lock.lock(-1, ResourceLock::READ); }, "Common/lock.cpp", "0 <= resource && resource < 128");
  expectCheck([&] { lock.lock(3, 2); }, "Common/lock.cpp", "NeverReachHere");
  EXPECT_FALSE(lock.isValid());

  {
    ResourceLock scoped;
    scoped.lock(4, ResourceLock::READ);
    EXPECT_EQ(countWord(4), 1u);
  }
  EXPECT_EQ(countWord(4), 0u);  // released by the destructor

  // A write lock whose count was overwritten fails its check but leaves the object free.
  lock.lock(5, ResourceLock::WRITE);
  writeMem32(0x33000000 + 0x600 + 8 * 5, 3);
  expectCheck([&] { lock.unlock(); }, "Common/lock.cpp", "count is 3 must be WRITE_LOCK_VALUE");
  EXPECT_FALSE(lock.isValid());
}

TEST_F(LockTest, DowngradeTurnsTheWriterIntoAReader) {
  ResourceLock lock;
  lock.lock(20, ResourceLock::WRITE);
  lock.downgrade();
  EXPECT_EQ(countWord(20), 1u);
  ResourceLock other;
  other.lock(20, ResourceLock::READ);
  EXPECT_EQ(countWord(20), 2u);
  lock.unlock();
  other.unlock();
  EXPECT_EQ(countWord(20), 0u);
  ResourceLock reader;
  reader.lock(21, ResourceLock::READ);
  expectCheck([&] { reader.downgrade(); }, "Common/lock.cpp", "isWrite");
}

TEST_F(LockTest, SemaphoreHeldByTheOtherSide) {
  hardwareSemaphores().otherHold(0);
  ResourceLock lock;
  lock.lock(30, ResourceLock::WRITE);
  EXPECT_FALSE(lock.isValid());
  EXPECT_EQ(consoleCount("[WARN] Hardware lock failed"), 1);
  EXPECT_EQ(countWord(30), 0u);
  lock.lock(30, ResourceLock::READ);
  EXPECT_FALSE(lock.isValid());
  EXPECT_EQ(countWord(30), 0u);
}

TEST_F(LockTest, ReadReleaseIsNotLostWhileTheSemaphoreIsAway) {
  ResourceLock a, b;
  a.lock(40, ResourceLock::READ);
  b.lock(40, ResourceLock::READ);
  ASSERT_EQ(countWord(40), 2u);
  hardwareSemaphores().otherHold(0);
  a.unlock();
  EXPECT_FALSE(a.isValid());
  EXPECT_EQ(consoleCount("Hardware lock failed"), 1);
  EXPECT_EQ(countWord(40), 2u);  // still under the other side's semaphore
  EXPECT_EQ(ResourceLock::pendingReleases(), 1);
  hardwareSemaphores().otherRelease(0);
  b.unlock();  // takes the semaphore and settles the owed release too
  EXPECT_EQ(countWord(40), 0u);
  EXPECT_EQ(ResourceLock::pendingReleases(), 0);

  // A writer that finds the count raised only by an owed release still gets the resource.
  a.lock(41, ResourceLock::READ);
  hardwareSemaphores().otherHold(0);
  a.unlock();
  hardwareSemaphores().otherRelease(0);
  ResourceLock writer;
  writer.lock(41, ResourceLock::WRITE);
  EXPECT_TRUE(writer.isValid());
  EXPECT_EQ(countWord(41), 64u);
}

TEST_F(LockTest, SharedWindowCopiesWholeWords) {
  SharedMemory& shm = SharedMemory::instance();
  const u8 bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  writeMem32(0x33000104, 0xFFFFFFFF);
  shm.write(0x100, bytes, 6);  // one word
  EXPECT_EQ(readMem32(0x33000100), 0x04030201u);
  EXPECT_EQ(readMem32(0x33000104), 0xFFFFFFFFu);
  shm.writeWord(0x200, 0x12345678);
  EXPECT_EQ(shm.readWord(0x200), 0x12345678u);
  EXPECT_EQ(memory(0x33000200, 1)[0], 0x78);  // little-endian

  // A copy may run from the front end's part of the window into the part behind it.
  u32 words[4] = {10, 11, 12, 13}, back[4] = {};
  shm.write(0x7FFFFF8, words, 16);
  shm.read(0x7FFFFF8, back, 16);
  EXPECT_EQ(std::vector<u32>(back, back + 4), std::vector<u32>(words, words + 4));

  expectCheck([&] { shm.write(0x102, bytes, 4); }, "Common/shared.cpp", "adr % 4 == 0");
  expectCheck([&] { shm.read(0x100, back, 6); }, "Common/shared.cpp", "nbyte % 4 == 0");
  expectCheck([&] { shm.read(SharedMemory::SMEM_SIZE - 4, back, 8); }, "Common/memory.cpp",
              "0 <= offset && offset + nbyte <= SharedMemory::SMEM_SIZE");
  expectCheck([&] { mxWriteSharedMemory(-4, words, 4); }, "Common/memory.cpp",
              "0 <= offset && offset + nbyte <= SharedMemory::SMEM_SIZE");
}

TEST_F(LockTest, StorageWordsAndBoardMode) {
  Storage& st = Storage::instance();
  writeMem32(0x81800000 + 0x14028, 0);
  writeMem32(0x81800000 + 0x1402C, 0x102);
  EXPECT_EQ(st.boardMode(), 0);  // no marker: the word does not count
  st.writeBoardMode(0x102);
  EXPECT_EQ(readMem32(0x81800000 + 0x14028), 0x54AA1234u);
  EXPECT_EQ(st.readWord(0x1402C), 0x102u);
  EXPECT_EQ(st.boardMode(), 2);
  st.writeWord(0x14010, 0x2A551234);
  EXPECT_EQ(readMem32(0x81814010), 0x2A551234u);
  const u32 two[2] = {1, 2};
  st.write(0x1FFF8, two, 8);
  EXPECT_EQ(readMem32(0x8181FFFC), 2u);
  expectCheck([&] { st.readWord(0x14029); }, "Common/storage.cpp", "adr % 4 == 0");
  expectCheck([&] { st.write(0x1FFFC, two, 8); }, "Common/memory.cpp",
              "0 <= offset && offset + nbyte <= NON_VOLATILE_SIZE");
}

TEST_F(LockTest, FpgaMemoryPortSendsWholeBlocksPaddingTheLast) {
  u32 data[75];
  for (u32 i = 0; i < 75; ++i) data[i] = 0x100 + i;
  mxWriteFpgaMemory(MX_FPGA_SDI2, 0x4000, data, 300);
  std::vector<u32> sent;
  auto t = traceRecent();
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t[0].adr, 0x85000300u);
  EXPECT_EQ(t[0].value, 0x4000u);
  EXPECT_EQ(t[1].adr, 0x85000304u);
  EXPECT_EQ(t[1].value, 0u);
  for (const auto& e : t) {
    if (e.adr == 0x85000308) sent.push_back(e.value);
  }
  ASSERT_EQ(sent.size(), 128u);  // two blocks of 64 words
  EXPECT_EQ(sent[74], 0x100u + 74);
  EXPECT_EQ(sent[75], 0u);
  EXPECT_EQ(sent[127], 0u);
  expectCheck([&] { mxWriteFpgaMemory(0x86000000, 0, data, 256); }, "Common/memory.cpp",
              "fpga == ME1 || fpga == ME2 || fpga == SDI1 || fpga == SDI2");
}

}  // namespace
