// The OSD renderer: rectangle commands, flushes between targets, blits into ME2 memory.
#include "Driver/osd/osd.h"

#include "Main/framework/vsync.h"
#include "Platform/hw_semaphore.h"
#include "Platform/osd_engine.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 ME2 = 0x83000000, OSD = 0xB8000000;

class OsdTest : public testing_support::BoardTest {
 protected:
  void TearDown() override {
    attachDevice(0x83000300, 12, &memoryPorts());
    vsyncReset();
    BoardTest::TearDown();
  }
  static Words lastCommand() {
    const Words& c = osdEngine().commands();
    return c.size() < 4 ? c : Words(c.end() - 4, c.end());
  }
};

TEST_F(OsdTest, RectangleCommandsFromTheDrawingState) {
  struct Case { std::function<void()> attributes; int x1, y1, x2, y2; Words words; } cases[] = {
      // Fill colour of (940, 512, 512); alpha 0 at the left to 255 at the right: dx 256.
      {[] { mxOsdSetColor(940, 512, 512), mxOsdSetAlphaGradient(0, 1, 0); }, 0, 0, 255, 0,
       {0x20000000, 255, 0xEB808000, 256}},
      // A falling ramp each way: dx -256, dy -327 as 16-bit fields.
      {[] { mxOsdSetAlphaGradient(1, 0, 0.5f), mxOsdSetFunction(MX_OSD_MAX); }, 0, 10, 255, 110,
       {0x200A2000, 255 | 110u << 16, 0xEB8080FF, 0xFEB9FF00}},
      // A copy from OSD memory in the copy colour of level 0.5, alpha 1.
      {[] { mxOsdSetSourcePosition(128, 64), mxOsdSetLevel(0.5f, 1.0f); }, 16, 32, 47, 63,
       {0x10202010, 47 | 63u << 16, 0x7F8080FF, 128 | 64u << 16}}};
  for (const Case& c : cases) {
    c.attributes();
    mxOsdFillRect(MX_MULTI1, c.x1, c.y1, c.x2, c.y2);
    EXPECT_EQ(lastCommand(), c.words) << c.x1;
  }
}

TEST_F(OsdTest, ANewTargetIsFlushedToAndItsPlanesSelected) {
  mxOsdFillRect(MX_MULTI1, 0, 0, 10, 10);
  EXPECT_EQ(writesTo(0x83001500), Words{0x38003000});
  EXPECT_EQ(peek(0x83001510, {0, 4}), (Words{448, 192}));
  mxOsdFillRect(MX_MULTI1, 20, 0, 30, 10);
  EXPECT_TRUE(osdEngine().flushes().empty());
  traceClear();
  mxOsdFillRect(MX_MULTI2, 0, 0, 10, 10);
  Words order;
  for (const TraceEntry& e : traceRecent()) if (e.adr == 0x83001504 || e.adr == 0x83001500) order.push_back(e.value);
  EXPECT_EQ(order, (Words{2, 0, 0x38003200}));  // flushed before the switch
  EXPECT_EQ(osdEngine().flushes(), std::vector<size_t>{8});
}

TEST_F(OsdTest, AnEngineThatStaysBusyIsResetAfterFourSecondsAndTheRectangleDropped) {
  mxOsdFillRect(MX_MULTI1, 0, 0, 10, 10);
  osdEngine().setStuck(true);
  const u64 start = clockNow();
  mxOsdFillRect(MX_MULTI1, 0, 20, 10, 30);
  const u64 us = (clockNow() - start) / TICKS_PER_US;
  EXPECT_TRUE(us > 4000000u && us < 4000300u) << us;
  // Busy, FIFO full, one pending; the engine reset once and the rectangle dropped.
  EXPECT_EQ(std::make_tuple(consoleCount("[ERR] OSD rendering timeout : 1c!!!"), osdEngine().resets(),
                            osdEngine().commands().size()), std::make_tuple(1, 1, size_t{4}));
}

TEST_F(OsdTest, BlitLinesLandInMe2MemoryInWholeBlocks) {
  std::vector<u16> pixels(2 * 130);
  for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<u16>(0x100 + k);
  mxOsdBlit(128, 3, 130, 2, pixels.data());
  const MemoryPorts& mem = memoryPorts();
  const u32 line3 = OSD + 8192 * 3 + 256, line4 = line3 + 8192;
  // Pixels 128 and 129 at line3 + 256; the second line starts at pixel 130; 260 bytes go as 512.
  EXPECT_EQ((Words{mem.word(ME2, line3), mem.word(ME2, line3 + 256), mem.word(ME2, line4), mem.word(ME2, line3 + 260)}),
            (Words{0x01010100, 0x01810180, 0x01830182, 0}));
  EXPECT_EQ(writesTo(0x83000308).size(), 2u * 128);
}

// A frame that comes while a line goes out waits for the line: the category work runs after it, and
// the wipe pattern load due in that frame (through the same port) follows in the next one.
TEST_F(OsdTest, AFrameDuringALineWaitsForIt) {
  struct FrameAtWord : RegisterDevice {
    int words = 0;
    bool read(u32 adr, u32& value) override { return memoryPorts().read(adr, value); }
    void write(u32 adr, u32 value) override {
      memoryPorts().write(adr, value);
      if (adr == 0x83000308 && ++words == 10) onVsyncFrame(vsyncGuard(), 1);
    }
  } device;
  static int frameWork = 0;
  frameWork = 0;
  vsyncSetFrameWork([] { ++frameWork; });
  mxInitialize(0, 1.0f);
  for (int frame = 0; frame < 12; ++frame) mxUpdate();  // the next frame loads the pattern tables
  attachDevice(0x83000300, 12, &device);
  std::vector<u16> line(4096);
  for (size_t k = 0; k < line.size(); ++k) line[k] = static_cast<u16>(k);
  mxOsdBlit(0, 5, 4096, 1, line.data());

  const MemoryPorts& mem = memoryPorts();
  EXPECT_EQ(mem.word(ME2, OSD + 8192 * 5 + 40), 0x00150014u);  // the words after the frame
  EXPECT_EQ(std::make_tuple(mem.word(ME2, OSD + 8192 * 5 + 8188), frameWork, mem.word(ME2, 0x80000000)),
            std::make_tuple(0x0FFF0FFEu, 1, 0u));
  mxUpdate();
  EXPECT_NE(mem.word(ME2, 0x80000000), 0u);
}

}  // namespace
