#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "board_fixture.h"
#include "Driver/reg.h"

using namespace platform;
using testing_support::BoardFault;
using testing_support::BoardTest;

namespace {

class MemoryMapTest : public BoardTest {};

TEST_F(MemoryMapTest, UnmappedAccessNamesTheAddress) {
  struct Case {
    u32 adr;
  } cases[] = {{0x00001000}, {0x32FFFFFC}, {0x90000000}, {0xFFFEFFFC}};
  for (auto c : cases) {
    try {
      readReg(c.adr);
      FAIL() << "no fault for " << std::hex << c.adr;
    } catch (const BoardFault& f) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08x", c.adr);
      EXPECT_NE(std::string(f.what()).find(hex), std::string::npos) << f.what();
    }
  }
  EXPECT_THROW(memory(SHARED_BASE + SHARED_SIZE - 2, 4), BoardFault);  // straddles the end
  EXPECT_NO_THROW(memory(SHARED_BASE + SHARED_SIZE - 4, 4));
}

TEST_F(MemoryMapTest, RegisterWritesAreTracedWithFrameAndStage) {
  traceClear();
  traceStage(7, 3);
  mxWriteReg(0x40001234 & ~3u, 0xABCD);
  mxWriteReg(0x80000010, 5);
  auto t = traceRecent();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].frame, 7u);
  EXPECT_EQ(t[0].stage, 3);
  EXPECT_EQ(t[0].adr, 0x40001234u & ~3u);
  EXPECT_EQ(t[0].value, 0xABCDu);
  EXPECT_EQ(t[1].adr, 0x80000010u);
  EXPECT_EQ(mxReadReg(0x80000010), 5u);
  regPoke(0x80000010, 9);  // a status set by a test: read back, not traced
  EXPECT_EQ(mxReadReg(0x80000010), 9u);
  EXPECT_EQ(traceRecent().size(), 2u);
}

TEST_F(MemoryMapTest, WordsInMemoryAreLittleEndian) {
  writeMem32(OCM_BASE, 0x11223344);
  EXPECT_EQ(memory(OCM_BASE, 4)[0], 0x44);
  EXPECT_EQ(memory(OCM_BASE, 4)[3], 0x11);
  EXPECT_EQ(readReg(0xFFFFFFF8), readMem32(0xFFFFFFF8));  // on-chip words reachable as registers
}

struct Device : RegisterDevice {
  u32 lastWrite = 0;
  bool read(u32 adr, u32& value) override {
    value = adr ^ 0xFFFF;
    return true;
  }
  void write(u32, u32 value) override { lastWrite = value; }
};

TEST_F(MemoryMapTest, BoardModelsAnswerTheirRange) {
  Device d;
  attachDevice(0x40200000, 0x1000, &d);
  EXPECT_EQ(mxReadReg(0x40200010), 0x40200010u ^ 0xFFFF);
  mxWriteReg(0x40200020, 77);
  EXPECT_EQ(d.lastWrite, 77u);
  EXPECT_EQ(mxReadReg(0x40201000), 0u);  // outside the device
  detachDevice(&d);
  EXPECT_EQ(mxReadReg(0x40200020), 77u);
}

TEST(VirtualClock, BusyWaitAdvancesExactlyInSteppedMode) {
  clockSetMode(ClockMode::Stepped);
  u32 before = static_cast<u32>(clockNow());
  mxWaitUs(30000);
  u32 after = static_cast<u32>(clockNow());
  // The start read and the final read each take one step; the wait ends on the first read at or
  // past 30000 microseconds.
  EXPECT_EQ(after - before, 30001u * 333u);
}

u64 hookSeen = 0;
void hook(u64 now) { hookSeen = now; }

TEST(VirtualClock, TimerHooksRunOnReadsAndAdvances) {
  addTimerHook(hook);
  u32 t = timerTicks();
  EXPECT_EQ(static_cast<u32>(hookSeen), t);
  clockAdvance(1000);
  EXPECT_EQ(hookSeen, clockNow());
  removeTimerHook(hook);
}

int irqCalls = 0;
void handler(void* ctx) {
  ++irqCalls;
  // A nested raise while the handler runs is not delivered.
  EXPECT_FALSE(irqRaise(*static_cast<int*>(ctx)));
}

TEST(Interrupts, OnlyConnectedAndEnabledHandlersRunAndNeverNest) {
  int id = 31;
  irqCalls = 0;
  EXPECT_FALSE(irqRaise(id));
  ASSERT_TRUE(irqConnect(id, handler, &id));
  EXPECT_FALSE(irqRaise(id));  // not enabled yet
  irqEnable(id);
  EXPECT_TRUE(irqRaise(id));
  EXPECT_EQ(irqCalls, 1);
  irqDisconnect(id);
  EXPECT_FALSE(irqRaise(id));
}

}  // namespace

// A board directory written by one mapping is seen by a second mapping of the same files, as a
// front-end process attached to the board would see it; --power-on clears all but nvram.
// A front-end process maps the same files while the board runs: each side sees the other's writes
// at once, without any reopening.
TEST(BoardDirectory, ASecondMappingOfTheFilesSeesWritesBothWays) {
  auto dir = std::filesystem::temp_directory_path() / ("board-peer-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  BoardOptions saved = boardOptions();
  BoardOptions o;
  o.dir = dir.string();
  boardOpen(o);

  struct Mapping {
    u8* p = nullptr;
    size_t size = 0;
    Mapping(const std::filesystem::path& file, size_t n) : size(n) {
      int fd = ::open(file.c_str(), O_RDWR);
      if (fd < 0) return;
      void* m = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      ::close(fd);
      if (m != MAP_FAILED) p = static_cast<u8*>(m);
    }
    ~Mapping() {
      if (p != nullptr) ::munmap(p, size);
    }
    u32 word(u32 offset) const {
      u32 v;
      std::memcpy(&v, p + offset, 4);
      return v;
    }
    void setWord(u32 offset, u32 v) { std::memcpy(p + offset, &v, 4); }
  };
  Mapping link(dir / "link.mem", LINK_SIZE);
  Mapping nvram(dir / "nvram.mem", NVRAM_SIZE);
  ASSERT_NE(link.p, nullptr);
  ASSERT_NE(nvram.p, nullptr);

  writeMem32(0x3FF80008, 0xA1B2C3D4);  // acknowledgement ring data
  writeMem32(NVRAM_BASE + 0x14028, 0x54AA1234);
  EXPECT_EQ(link.word(0x80008), 0xA1B2C3D4u);
  EXPECT_EQ(nvram.word(0x14028), 0x54AA1234u);
  link.setWord(0xA0000, 17);  // the peer advances the request ring's write index
  EXPECT_EQ(readMem32(0x3FFA0000), 17u);

  boardOpen(saved);
  std::filesystem::remove_all(dir);
}

TEST(BoardDirectory, SharedFilesSurviveAndPowerOnClearsVolatileOnes) {
  auto dir = std::filesystem::temp_directory_path() / ("board-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  BoardOptions saved = boardOptions();
  BoardOptions o;
  o.dir = dir.string();
  boardOpen(o);
  writeMem32(0x3FFA0000, 0x1234);
  writeMem32(NVRAM_BASE + 0x100, 0xBEEF);
  writeMem32(OCM_BASE + 0xFFF8, 1);
  for (const char* f : {"link.mem", "shared.mem", "nvram.mem", "ocm.mem"}) EXPECT_TRUE(std::filesystem::exists(dir / f)) << f;
  EXPECT_EQ(std::filesystem::file_size(dir / "link.mem"), LINK_SIZE);

  boardOpen(o);  // a restart: the files are mapped again
  EXPECT_EQ(readMem32(0x3FFA0000), 0x1234u);
  EXPECT_EQ(readMem32(NVRAM_BASE + 0x100), 0xBEEFu);
  EXPECT_EQ(readMem32(0xFFFFFFF8), 1u);

  o.powerOn = true;
  boardOpen(o);
  EXPECT_EQ(readMem32(0x3FFA0000), 0u);
  EXPECT_EQ(readMem32(0xFFFFFFF8), 0u);
  EXPECT_EQ(readMem32(NVRAM_BASE + 0x100), 0xBEEFu);

  boardOpen(saved);
  std::filesystem::remove_all(dir);
}
