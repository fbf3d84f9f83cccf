#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "Common/reg.h"
#include "Platform/dma_engine.h"
#include "Platform/nand_device.h"
#include "tests/support/board_fixture.h"
#include "Platform/vsync.h"
#include "Platform/watchdog.h"

using namespace platform;
using testing_support::BoardFault;
using testing_support::BoardTest;
using Dir = testing_support::BoardDirectory;
namespace fs = std::filesystem;

namespace {

using MemoryMapTest = BoardTest;

TEST_F(MemoryMapTest, UnmappedAccessNamesTheAddress) {
  for (u32 adr : {0x00001000u, 0x32FFFFFCu, 0x90000000u, 0xFFFEFFFCu}) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", adr);
    try {
      readReg(adr);
      ADD_FAILURE() << "no fault for " << hex;
    } catch (const BoardFault& f) {
      EXPECT_NE(std::string(f.what()).find(hex), std::string::npos) << f.what();
    }
  }
  EXPECT_THROW(memory(SHARED_BASE + SHARED_SIZE - 2, 4), BoardFault);  // straddles the end
  EXPECT_NO_THROW(memory(SHARED_BASE + SHARED_SIZE - 4, 4));
}

TEST_F(MemoryMapTest, RegisterWritesAreTracedWithFrameAndStage) {
  traceClear(), traceStage(7, 3);
  mxWriteReg(0x40001234, 0xABCD), mxWriteReg(0x80000010, 5);
  auto t = traceRecent();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_TRUE(t[0].frame == 7 && t[0].stage == 3 && t[0].adr == 0x40001234 && t[0].value == 0xABCD);
  EXPECT_EQ(std::tuple(t[1].adr, mxReadReg(0x80000010)), std::tuple(0x80000010u, 5u));
  regPoke(0x80000010, 9);  // a status set by a test: read back, not traced
  EXPECT_EQ(mxReadReg(0x80000010), 9u);
  regPoke(NVRAM_BASE + 0x10, 5);  // a register page over the non-volatile window: its memory comes first
  mxWriteReg(NVRAM_BASE + 0x10, 6);
  EXPECT_EQ(std::tuple(readMem32(NVRAM_BASE + 0x10), traceRecent().size()), std::tuple(6u, 2u));
  EXPECT_EQ(readReg(0xFFFFFFF8), readMem32(0xFFFFFFF8));  // on-chip words reachable as registers
}

struct Device : RegisterDevice {
  u32 lastWrite = 0;
  bool read(u32 adr, u32& value) override { return value = adr ^ 0xFFFF, true; }
  void write(u32, u32 value) override { lastWrite = value; }
};

TEST_F(MemoryMapTest, BoardModelsAnswerTheirRange) {
  Device d, e;
  attachDevice(0x40200000, 0x1000, &d);
  attachDevice(0x40200100, 8, &e);  // inside d's range: d, attached first, answers
  EXPECT_EQ(mxReadReg(0x40200010), 0x40200010u ^ 0xFFFF);
  mxWriteReg(0x40200104, 77);
  EXPECT_TRUE(d.lastWrite == 77u && e.lastWrite == 0u);
  EXPECT_EQ(mxReadReg(0x40201000), 0u);  // outside the device
  detachDevice(&d);
  EXPECT_EQ(mxReadReg(0x40200108), 0u);  // just past e
  mxWriteReg(0x40200104, 78);
  EXPECT_EQ(e.lastWrite, 78u);
  detachDevice(&e);
  EXPECT_EQ(mxReadReg(0x40200104), 78u);
}

TEST_F(MemoryMapTest, DmaBurstIntoMemoryStoresEveryBlockThatDiffers) {
  constexpr u32 LIST = DRAM_BASE, TO = DRAM_BASE + 0x100000, WORDS = 2500;  // two 4 KiB blocks and a part
  std::vector<u32> list = {TO | 1, 0x80000000u | (4 * WORDS - 1)};
  for (u32 i = 0; i < WORDS; ++i) list.push_back(i * 2654435761u);
  list.push_back(0);
  writeMemory(LIST, list.data(), 4 * static_cast<u32>(list.size()));
  writeMemory(TO, list.data() + 2, 4 * WORDS);  // the first block holds the burst already
  for (u32 word : {1500u, WORDS - 1}) writeMem32(TO + 4 * word, 0);
  dmaEngine();
  writeReg(DmaEngine::REGS + 8, 4 * static_cast<u32>(list.size()) - 1);
  writeReg(DmaEngine::REGS, LIST | 0x80000000u);
  EXPECT_EQ(std::memcmp(memory(TO, 4 * WORDS), list.data() + 2, 4 * WORDS), 0);
  dmaEngine().detach();
}

int hookRuns[3], irqCalls = 0;
u64 hookSeen = 0;
void firstHook(u64) { ++hookRuns[0], removeTimerHook(firstHook); }
void secondHook(u64 now) { ++hookRuns[1], hookSeen = now; }
void thirdHook(u64) { ++hookRuns[2]; }

// Every timer read and advance runs the hooks; a hook that removes itself leaves the others their pass.
TEST(VirtualClock, BusyWaitAdvancesExactlyInSteppedModeAndRunsHooks) {
  clockSetMode(ClockMode::Stepped);
  u32 before = static_cast<u32>(clockNow());
  mxWaitUs(30000);
  // The start and final reads take one step each; the wait ends on the first read past 30000 us.
  EXPECT_EQ(static_cast<u32>(clockNow()) - before, 30001u * 333u);
  for (TimerHook h : {firstHook, secondHook, thirdHook}) addTimerHook(h);
  const u32 t = timerTicks();
  EXPECT_EQ(static_cast<u32>(hookSeen), t);
  timerTicks();
  EXPECT_TRUE(hookRuns[0] == 1 && hookRuns[1] == 2 && hookRuns[2] == 2) << hookRuns[1] << hookRuns[2];
  clockAdvance(1000);
  EXPECT_EQ(hookSeen, clockNow());
  removeTimerHook(secondHook), removeTimerHook(thirdHook);
}

u64 eventTick = 0, eventSeen = 0;
void eventHook(u64 now) {
  if (eventSeen == 0 && now >= eventTick) eventSeen = now;
  if (eventSeen == 0) clockWakeBy(eventTick);
}

// A wait whose end is announced skips its reads, yet meets an announced event on the very step that
// reading every microsecond would have met it, and ends on the same tick.
TEST(VirtualClock, HintedWaitMeetsAnnouncedEventsOnTheirStep) {
  clockSetMode(ClockMode::Stepped);
  const u64 start = clockNow();
  eventTick = start + 5000 * 333 + 100;
  addTimerHook(eventHook);
  mxWaitUs(20000);
  removeTimerHook(eventHook);
  EXPECT_EQ(std::tuple(eventSeen - start, clockNow() - start), std::tuple(5001u * 333, 20001u * 333));
}

TEST(Interrupts, OnlyConnectedAndEnabledHandlersRunAndNeverNest) {
  int id = 31;
  irqCalls = 0;
  EXPECT_FALSE(irqRaise(id));
  auto handler = [](void* ctx) {
    ++irqCalls;
    EXPECT_FALSE(irqRaise(*static_cast<int*>(ctx)));
  };
  ASSERT_TRUE(irqConnect(id, handler, &id));
  EXPECT_FALSE(irqRaise(id));  // not enabled yet
  irqEnable(id);
  EXPECT_TRUE(irqRaise(id));
  EXPECT_EQ(irqCalls, 1);  // the nested raise inside the handler was refused
  irqDisconnect(id);
  EXPECT_FALSE(irqRaise(id));
}

// A board directory of its own with a trace file: a line per register write, none for memory.
TEST(BoardDirectory, TraceFileHoldsALinePerRegisterWrite) {
  Dir d("board-test");
  BoardOptions o = d.options;
  o.traceFile = (d.dir / "trace.txt").string();
  boardOpen(o);
  traceStage(4294967295u, -2);
  writeReg(0x8000000C, 0xFFFFFFFF);
  traceStage(12, 3);
  std::string wanted = "4294967295 -2 8000000c ffffffff\n";
  for (int i = 0; i < 3000; ++i, wanted += "12 3 40000abc 0012ab00\n") writeReg(0x40000ABC, 0x12AB00);
  writeMem32(OCM_BASE, 1);  // memory: no line
  traceStage(0, 0);
  boardOpen(d.saved);
  std::ifstream in(o.traceFile);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), wanted);
}

// The flash file of a board directory. A missing one is written whole with the factory contents
// (what an interrupted write left is replaced); one of the right size is taken as it is (zeroes: a
// programmed but empty flash); one of another size is kept aside under a name that gives its size
// (a directory under one that says so), never over an earlier one, with a note for the start-up to
// log. Files as "name size first-byte" (0x34: the first byte of the sector table), directories by name.
TEST(BoardDirectory, FlashFileIsWrittenWholeAndOneOfAnotherSizeKeptAside) {
  const std::string kept = "NAND flash: nand.img had 4096 bytes, not 536870912: kept as nand.img.4096-bytes";
  const std::string anew = ", factory contents written anew", programmed = "nand.img 536870912 34";
  const std::string longer = std::to_string(NAND_BYTES + 4096);
  // Files as name and size, filled with 0xEE (the full size: zeroes); the files after; the note.
  struct Row { std::vector<std::pair<std::string, u32>> files; std::vector<std::string> after; std::string note; };
  const Row rows[] = {
      {{}, {programmed}, ""},
      {{{"nand.img.partial", 4096}}, {programmed}, ""},
      {{{"nand.img", NAND_BYTES}}, {"nand.img 536870912 0"}, ""},
      {{{"nand.img", 4096}}, {programmed, "nand.img.4096-bytes 4096 ee"}, kept + anew},
      {{{"nand.img", 4096}, {"nand.img.4096-bytes", 100}},
       {programmed, "nand.img.4096-bytes 100 ee", "nand.img.4096-bytes.2 4096 ee"},
       kept + ".2" + anew},
      {{{"nand.img", NAND_BYTES + 4096}},
       {programmed, "nand.img." + longer + "-bytes " + longer + " ee"},
       "NAND flash: nand.img had " + longer + " bytes, not 536870912: kept as nand.img." + longer + "-bytes" + anew},
      {{{"nand.img/", 0}}, {programmed, "nand.img.directory"},
       "NAND flash: nand.img is a directory, not a flash file: kept as nand.img.directory" + anew}};
  for (const Row& row : rows) {
    Dir d("board-test");
    const fs::path& dir = d.dir;
    for (const auto& [name, size] : row.files) {
      if (name.ends_with('/') && fs::create_directory(dir / name)) continue;
      std::ofstream(dir / name) << std::string(size == NAND_BYTES ? 0 : std::min<u32>(size, 4096), '\xEE');
      fs::resize_file(dir / name, size);
    }
    std::ofstream(dir / "nvram.mem"), fs::resize_file(dir / "nvram.mem", NVRAM_SIZE);  // a whole store: no note of it
    boardOpen(d.options);
    nandAttach();
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (!e.path().filename().string().starts_with("nand.img")) continue;
      files.push_back(e.path().filename().string());
      if (e.is_directory()) continue;
      char line[96];
      std::snprintf(line, sizeof line, "%s %ju %x", e.path().filename().c_str(), static_cast<uintmax_t>(e.file_size()),
                    static_cast<unsigned char>(std::ifstream(e.path()).get()));
      files.back() = line;
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(std::tuple(files, std::string(boardNotice(0) ? boardNotice(0) : "")), std::tuple(row.after, row.note));
  }
  nandAttach();  // the flash of the test program's board again
}

// Board files and their disk. Clearing memory gives a board file's whole pages back (the bytes of a
// page cleared in part are stored), so a window cleared takes no disk. A store into a page that the
// file system cannot back (the file cut under the board, before that page or at it) ends the program
// with the fault handler's message naming the file, however long its path, not SIGBUS. (A full disk:
// the whole-system small-disk test.)
TEST(BoardDirectory, ClearedPagesTakeNoDiskAndAStoreWithoutRoomFaultsNamingTheFile) {
  Dir top("board-disk");
  const fs::path dir = top.dir / std::string(240, 'd');
  BoardOptions o;
  o.dir = dir.string();
  fs::create_directories(dir), boardOpen(o);
  const auto blocks = [&] {
    struct stat st {};
    stat((dir / "shared.mem").c_str(), &st);
    return st.st_blocks;
  };
  for (u32 at = 0; at < 0x100000; at += 0x1000) writeMem32(SHARED_BASE + at, 0xA5A5A5A5);
  writeMem32(SHARED_BASE + 0x100000 - 4, 0xA5A5A5A5);
  const auto written = blocks();
  clearMemory(SHARED_BASE + 2, 0x100000 - 4);
  EXPECT_EQ(std::tuple(readMem32(SHARED_BASE), readMem32(SHARED_BASE + 0x80000), readMem32(SHARED_BASE + 0xFF000),
                       readMem32(SHARED_BASE + 0x100000 - 4)), std::tuple(0xA5A5u, 0u, 0u, 0xA5A50000u));
  EXPECT_LT(blocks(), written / 16);

  const std::string shared = (dir / "shared.mem").string();
  const auto storeIntoCutFile = [&](off_t cut) {
    setFaultHandler([](const char* message) { std::fprintf(stderr, "%s\n", message), std::_Exit(1); });
    boardOpen(o);
    if (truncate(shared.c_str(), cut) != 0) std::_Exit(2);
    writeMem32(SHARED_BASE + 0x200000, 1);
    std::_Exit(0);
  };
  for (off_t cut : {0x1000, 0x200000}) {
    EXPECT_EXIT(storeIntoCutFile(cut), testing::ExitedWithCode(1),
                shared + " was cut to " + std::to_string(cut) + " bytes while mapped: no page at offset 0x200000");
  }
}

std::vector<u8> fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
}

// nvram.mem is taken as it stands: never cut or zeroed; a shorter one is lengthened with its bytes
// kept (the rest holds nothing stored); another size is noted. A copy kept aside holds the file as
// found, under a name of its own each time. (A longer file, and a power-on: the whole-system
// damaged-image test.)
TEST(BoardDirectory, TheNonVolatileFileIsTakenAsItStands) {
  const struct { long size; bool flash; u32 stored; const char* note; } cases[] = {
      {-1, false, 0x20000, nullptr},  // no file, no flash: a new board, all zero
      {0, false, 0x20000, nullptr},
      {0, true, 0,  // on a board started before, an empty file lost what it held
       "nvram.mem holds 0 bytes, not 131072: taken as far as it goes, the rest of the window holds nothing stored"},
      {30000, false, 30000,
       "nvram.mem holds 30000 bytes, not 131072: taken as far as it goes, the rest of the window holds nothing stored"},
      {0x20000, false, 0x20000, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.flash ? " flash" : ""));
    Dir d("board-nvram");
    std::vector<u8> found(static_cast<size_t>(std::max(c.size, 0L)));
    for (size_t i = 0; i < found.size(); ++i) found[i] = static_cast<u8>(i * 7 + 1);
    if (c.size >= 0) {
      std::ofstream(d.dir / "nvram.mem", std::ios::binary).write(reinterpret_cast<const char*>(found.data()), c.size);
    }
    if (c.flash) std::ofstream(d.dir / FLASH_FILE).put('\0');
    boardOpen(d.options);
    std::vector<u8> window = found;
    window.resize(NVRAM_SIZE, 0);
    EXPECT_TRUE(std::equal(window.begin(), window.end(), memory(NVRAM_BASE, NVRAM_SIZE)));
    EXPECT_EQ(std::tuple(nonVolatileStoredBytes(), std::string(boardNotice(0) ? boardNotice(0) : ""), boardNotice(1)),
              std::tuple(c.stored, std::string(c.note ? c.note : ""), nullptr));
    writeMem32(NVRAM_BASE, 0x04030201);  // the window written before the copies are kept: they hold what was found
    const std::string first = keepNonVolatile("unreadable");
    EXPECT_EQ(std::tuple(first, std::string(keepNonVolatile("unreadable"))),
              std::tuple("nvram.mem.unreadable", "nvram.mem.unreadable.2"));
    boardOpen(d.saved);
    EXPECT_EQ(std::tuple(fileBytes(d.dir / "nvram.mem.unreadable"), fileBytes(d.dir / "nvram.mem.unreadable.2")),
              std::tuple(found, found));
    for (u8 i = 0; i < 4; ++i) window[i] = static_cast<u8>(i + 1);
    EXPECT_EQ(fileBytes(d.dir / "nvram.mem"), window);
  }
  EXPECT_EQ(keepNonVolatile("unreadable"), nullptr);  // no board directory: nowhere to keep one
}

std::vector<std::pair<u64, u32>> seen;  // tick and status of each handler call
struct RunEnded {};

// Takes every pending status bit, as the system's handler does.
void handler(void*) {
  u32 s = mxReadReg(IRQ_STATUS);
  seen.emplace_back(clockNow(), s);
  mxWriteReg(IRQ_STATUS, s & 7);
}

class InterruptModelTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp(), seen.clear(), vsyncAttach(), watchdogAttach();
    irqConnect(VSYNC_IRQ, handler, nullptr), irqEnable(VSYNC_IRQ);
    setEndHandler([](EndReason, u32) { throw RunEnded{}; });
  }
  void TearDown() override {
    irqDisable(VSYNC_IRQ), irqDisconnect(VSYNC_IRQ), vsyncDetach(), watchdogDetach(), setEndHandler(nullptr);
  }
};

TEST_F(InterruptModelTest, EarlyThenVsyncAtTheFramePeriodWithAlternatingField) {
  mxWriteReg(IRQ_PERIOD, 50 * 20000 - 50000);  // 50 Hz
  mxWriteReg(IRQ_ENABLE, 7);
  vsyncSetAuto(false);
  vsyncSetAuto(true);  // the next VSYNC one period from now
  u64 start = clockNow();
  mxWaitUs(3 * 20000 + 10);
  ASSERT_EQ(seen.size(), 6u);
  for (size_t i = 0; i < seen.size(); i += 2) {
    u64 frameEnd = start + (i / 2 + 1) * 20000ull * TICKS_PER_US;
    EXPECT_TRUE(seen[i].second == IRQ_EARLY && seen[i].first < frameEnd &&
                seen[i].first + EARLY_LEAD_US * TICKS_PER_US >= frameEnd) << i;
    EXPECT_TRUE((seen[i + 1].second & IRQ_VSYNC) && seen[i + 1].first >= frameEnd) << i;
  }
  EXPECT_NE(seen[1].second & IRQ_FIELD, seen[3].second & IRQ_FIELD);
  EXPECT_EQ(seen[1].second & IRQ_FIELD, seen[5].second & IRQ_FIELD);
  EXPECT_EQ(vsyncPeriodUs(), 20000u);
}

TEST_F(InterruptModelTest, StatusIsWriteOneToClearAndWaitsForTheEnable) {
  vsyncSetAuto(false);
  mxWriteReg(IRQ_ENABLE, 0);
  vsyncPost(IRQ_VSYNC | IRQ_FIELD);
  EXPECT_TRUE(seen.empty());
  mxWriteReg(IRQ_STATUS, IRQ_FIELD);
  EXPECT_EQ(mxReadReg(IRQ_STATUS), IRQ_VSYNC);
  mxWriteReg(IRQ_ENABLE, 7);
  mxGetTicks();  // delivered from the next timer read
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(std::tuple(seen[0].second, mxReadReg(IRQ_STATUS)), std::tuple(IRQ_VSYNC, 0u));
}

TEST_F(InterruptModelTest, WatchdogRestartsWhenNotKicked) {
  vsyncSetAuto(false);
  mxWriteReg(WDT_CONTROL, 0x5AF0 + 2);
  clockAdvance(1500000ull * TICKS_PER_US);
  mxWriteReg(WDT_KICK, 0xA5F0);
  clockAdvance(1500000ull * TICKS_PER_US);  // 1.5 s since the kick
  EXPECT_THROW(clockAdvance(600000ull * TICKS_PER_US), RunEnded);
  EXPECT_THROW(mxGetTicks(), RunEnded);  // it stays expired
  watchdogAttach();
  mxWriteReg(WDT_CONTROL, 0x5AF0);  // disarmed: nothing happens
  EXPECT_NO_THROW(clockAdvance(20000000ull * TICKS_PER_US));
}

}  // namespace
