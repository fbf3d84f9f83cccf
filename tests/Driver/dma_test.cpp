#include "Driver/dma.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Driver/reg.h"
#include "board_fixture.h"
#include "check.h"
#include "dma_engine.h"

using namespace platform;
using testing_support::consoleCount;

namespace {

class DmaTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    dmaEngine().reset();
    // Leave every channel idle and empty whatever an earlier test left behind.
    for (int ch = 0; ch < MX_DMA_CHANNELS; ++ch) {
      MxDmaChannel* d = mxDmaChannel(ch);
      if (d->exec) mxDmaSync(d);
      if (d->cmdPtr > 0 || d->readCnt > 0) {
        d->cmdPtr = d->readCnt = 0;
      }
    }
    traceClear();
    testing_support::consoleClear();
    dma = mxDmaChannel(2);
  }
  void TearDown() override {
    dmaEngine().detach();
    BoardTest::TearDown();
  }

  // The words of the command buffer that the next execute starts.
  std::vector<u32> listWords(int buffer, int n) {
    const u32* w = reinterpret_cast<const u32*>(memory(dma->cmdBase + MX_DMA_CMD_BUFFER_STRIDE * buffer, 4 * n));
    return std::vector<u32>(w, w + n);
  }

  MxDmaChannel* dma = nullptr;
};

// Runs f, which must fail the check whose condition text is given.
void expectCheck(const std::function<void()>& f, const std::string& text) {
  testing_support::consoleClear();
  EXPECT_THROW(f(), assert::AssertException) << text;
  EXPECT_EQ(consoleCount("Assertion failed: Driver/dma.cpp("), 1) << testing_support::consoleText();
  EXPECT_EQ(consoleCount(") " + text), 1) << testing_support::consoleText();
}

TEST_F(DmaTest, CommandEncodingsPaddingAndTerminator) {
  const int buffer = dma->fillIndex;
  const u32 data[3] = {0x11, 0x22, 0x33};
  mxDmaWrite(dma, 0x40001230, 0xCAFE);
  mxDmaWriteBurst(dma, 0x81800100, data, 12);
  mxDmaPoll(dma, 0x40000200, 1, 1, 10);
  mxDmaPoll(dma, 0x40000200, 0, 2, 300);
  mxDmaRead(dma, 0x40002000, 32);       // 8 words
  mxDmaReadFixed(dma, 0x40000208, 8);   // 2 words: 10 read in all
  EXPECT_EQ(dma->readCnt, 10);
  mxDmaExecute(dma);
  const std::vector<u32> expected = {
      0x40001230, 0xCAFE,                        // write
      0x81800101, 0x8000000B, 0x11, 0x22, 0x33,  // burst of 12 bytes
      0x40000202, 0x80000000 + 500, 1,           // poll, flag set, interval 10
      0x40000202, 15000, 2,                      // poll, flag clear, interval 300
      0x40002003, 0x8000001F,                    // read of 32 bytes
      0x4000020B, 7,                             // one-register read of 8 bytes
      0x40000007, 54 * 4 - 1,                    // padding: 54 words from 0x40000004
      0, 0, 0, 0};
  EXPECT_EQ(listWords(buffer, static_cast<int>(expected.size())), expected);
  EXPECT_EQ(dma->readBytes[buffer], 64 * 4);
  EXPECT_EQ(dma->fillIndex, buffer ^ 1);
  EXPECT_EQ(dma->cmdPtr, 0);
  EXPECT_EQ(dma->readCnt, 0);

  // The channel is started read side first, with the list length in bytes minus 1.
  const u32 regs = MX_DMA_REGS + 2 * 32;
  const u32 cmd = 0x3F400000 + 2 * 0x80000 + 0x40000 * buffer;
  const u32 read = 0x3F600000 + 2 * 0x200000 + 0x100000 * buffer;
  std::vector<std::pair<u32, u32>> writes;
  for (const auto& t : traceRecent()) {
    if (t.adr >= regs && t.adr < regs + 32) writes.push_back({t.adr - regs, t.value});
  }
  const std::vector<std::pair<u32, u32>> start = {
      {0x00, cmd}, {0x10, read}, {0x08, expected.size() * 4 - 1}, {0x10, read | 0x80000000}, {0x00, cmd | 0x80000000}};
  EXPECT_EQ(writes, start);
  regPoke(0x40000200, 1);  // ready, not busy: both polls pass
  EXPECT_EQ(mxDmaWait(dma, 10), 1);
  EXPECT_EQ(mxReadReg(0x40001230), 0xCAFEu);
}

TEST_F(DmaTest, ReadCountsOnAMultipleOf64NeedNoPadding) {
  const int buffer = dma->fillIndex;
  mxDmaRead(dma, 0x40002000, 256);
  mxDmaExecute(dma);
  EXPECT_EQ(listWords(buffer, 6), (std::vector<u32>{0x40002003, 0x800000FF, 0, 0, 0, 0}));
  mxDmaSync(dma);
}

TEST_F(DmaTest, TheEngineRunsTheListAgainstRegistersAndMemory) {
  const u32 block[4] = {1, 2, 3, 4};
  regPoke(0x40002000, 0xA0);
  regPoke(0x40002004, 0xA1);
  regPoke(0x40000208, 0xF0);
  regPoke(MX_DMA_PAD_REG, 0xEE);
  mxDmaWrite(dma, 0x40001230, 0xCAFE);
  mxDmaWriteBurst(dma, 0x81800100, block, 16);  // into the non-volatile window
  mxDmaWriteBurst(dma, 0x80000100, block, 8);   // into a register range
  mxDmaRead(dma, 0x40002000, 8);
  mxDmaReadFixed(dma, 0x40000208, 12);
  mxDmaExecute(dma);
  ASSERT_EQ(mxDmaWait(dma, 10), 1);
  EXPECT_EQ(mxReadReg(0x40001230), 0xCAFEu);
  for (u32 i = 0; i < 4; ++i) EXPECT_EQ(readMem32(0x81800100 + 4 * i), i + 1);
  EXPECT_EQ(regPeek(0x80000104), 2u);
  const u32* r = mxDmaReadBuffer(dma);
  const std::vector<u32> got(r, r + 7);
  EXPECT_EQ(got, (std::vector<u32>{0xA0, 0xA1, 0xF0, 0xF0, 0xF0, 0xEE, 0xEE}));
  EXPECT_EQ(r[63], 0xEEu);  // padded to 64 words
  EXPECT_EQ(dmaEngine().completedRuns(2), 1);
}

TEST_F(DmaTest, SecondListIsBuiltAndReadInTheOtherBuffer) {
  regPoke(0x40002000, 5);
  mxDmaRead(dma, 0x40002000, 4);
  mxDmaExecuteAndWait(dma);
  const u32* first = mxDmaReadBuffer(dma);
  regPoke(0x40002000, 6);
  mxDmaRead(dma, 0x40002000, 4);
  mxDmaExecuteAndWait(dma);
  const u32* second = mxDmaReadBuffer(dma);
  EXPECT_EQ(reinterpret_cast<const u8*>(second) - reinterpret_cast<const u8*>(first) == 0x100000 ||
                reinterpret_cast<const u8*>(first) - reinterpret_cast<const u8*>(second) == 0x100000,
            true);
  EXPECT_EQ(first[0], 5u);
  EXPECT_EQ(second[0], 6u);
}

TEST_F(DmaTest, ExecuteTwiceWithoutWaitFails) {
  mxDmaWrite(dma, 0x40001230, 1);
  mxDmaExecute(dma);
  expectCheck([&] { mxDmaExecute(dma); }, "exec == false");
  EXPECT_EQ(mxDmaWait(dma, 10), 1);
  expectCheck([&] { mxDmaWait(dma, 10); }, "exec");
}

TEST_F(DmaTest, EmptyListStartsNothingButTogglesAndSyncsAtOnce) {
  const int buffer = dma->fillIndex;
  mxDmaExecute(dma);
  EXPECT_TRUE(dma->exec);
  EXPECT_EQ(dma->fillIndex, buffer ^ 1);
  EXPECT_EQ(traceWriteCount(), 0u);
  const u64 before = clockNow();
  EXPECT_EQ(mxDmaSync(dma), 1);
  EXPECT_FALSE(dma->exec);
  EXPECT_LE(clockNow() - before, 2u * TICKS_PER_US);  // one poll, no wait
  EXPECT_EQ(mxDmaSync(dma), 1);                       // nothing outstanding
}

TEST_F(DmaTest, BoundsAreChecked) {
  struct Case {
    const char* text;
    std::function<void()> f;
  } cases[] = {
      {"0 < interval && interval <= 300", [&] { mxDmaPoll(dma, 0x40000200, 1, 1, 0); }},
      {"0 < interval && interval <= 300", [&] { mxDmaPoll(dma, 0x40000200, 1, 1, 301); }},
      {"msb == 4 || msb == 8", [&] { mxDmaWrite(dma, 0x3F000000, 1); }},
      {"msb == 4 || msb == 8", [&] { mxDmaRead(dma, 0x90000000, 4); }},
      {"(adr & 3) == 0", [&] { mxDmaWrite(dma, 0x40000002, 1); }},
      {"0 < nbyte && nbyte <= 1024 * 1024", [&] { mxDmaRead(dma, 0x40002000, 0); }},
      {"0 < nbyte && nbyte <= 1024 * 1024", [&] { mxDmaReadFixed(dma, 0x40002000, 1024 * 1024 + 4); }},
      {"0 <= ch && ch < 4", [&] { mxDmaChannel(4); }},
      {"0 <= ch && ch < 4", [&] { mxDmaChannel(-1); }},
  };
  for (const auto& c : cases) expectCheck(c.f, c.text);
  EXPECT_EQ(dma->cmdPtr, 0);  // nothing was appended
  mxDmaPoll(dma, 0x40000200, 1, 1, 1);
  mxDmaPoll(dma, 0x40000200, 1, 1, 300);
  EXPECT_EQ(dma->cmdPtr, 6);
  dma->cmdPtr = 0;
}

TEST_F(DmaTest, ListAndReadLimits) {
  // 32735 writes take 65470 words: one more still fits below 65472, the next does not.
  for (int i = 0; i < 32736; ++i) mxDmaWrite(dma, 0x40001230, static_cast<u32>(i));
  EXPECT_EQ(dma->cmdPtr, 65472);
  expectCheck([&] { mxDmaWrite(dma, 0x40001230, 0); }, "cmdPtr < CMD_BYTE / 4 - MARGIN");
  dma->cmdPtr = 65400;
  static u32 block[100];
  expectCheck([&] { mxDmaWriteBurst(dma, 0x81800000, block, 400); }, "cmdPtr + len < CMD_BYTE / 4 - MARGIN");
  EXPECT_EQ(dma->cmdPtr, 65400);  // the header was not left without its block
  dma->cmdPtr = 0;

  // Reads of one list fill at most the 1 MiB read buffer.
  mxDmaRead(dma, 0x40002000, 1024 * 1024);
  mxDmaReadFixed(dma, 0x40002000, 4);
  expectCheck([&] { mxDmaExecute(dma); }, "0 <= readCnt && readCnt <= READ_BYTE");
  EXPECT_FALSE(dma->exec);
  dma->cmdPtr = dma->readCnt = 0;
}

TEST_F(DmaTest, PollHoldsTheListUntilTheRegisterAnswers) {
  regPoke(0x40000200, 0);
  mxDmaPoll(dma, 0x40000200, 1, 1, 10);  // wait for bit 0
  mxDmaWrite(dma, 0x40001230, 7);
  mxDmaExecute(dma);
  clockAdvance(1000 * TICKS_PER_US);
  EXPECT_TRUE(mxDmaIsBusy(dma));
  EXPECT_EQ(mxReadReg(0x40001230), 0u);
  regPoke(0x40000200, 3);
  EXPECT_EQ(mxDmaWait(dma, 10), 1);
  EXPECT_EQ(mxReadReg(0x40001230), 7u);

  regPoke(0x40000200, 2);
  mxDmaPoll(dma, 0x40000200, 0, 2, 10);  // wait for bit 1 to clear
  mxDmaExecute(dma);
  EXPECT_TRUE(mxDmaIsBusy(dma));
  regPoke(0x40000200, 1);
  EXPECT_EQ(mxDmaWait(dma, 10), 1);
}

TEST_F(DmaTest, WaitReportsFailureAfterOneSecond) {
  dmaEngine().setStuck(2, true);
  mxDmaWrite(dma, 0x40001230, 1);
  mxDmaExecute(dma);
  const u64 before = clockNow();
  EXPECT_EQ(mxDmaWait(dma, 100), 0);
  const u64 waited = (clockNow() - before) / TICKS_PER_US;
  EXPECT_GE(waited, 1000000u);
  EXPECT_LT(waited, 1000300u);
  EXPECT_EQ(consoleCount("DMA timeout"), 1);
  EXPECT_FALSE(dma->exec);
  EXPECT_TRUE(mxDmaIsBusy(dma));
  mxDmaStop(dma);
  EXPECT_FALSE(mxDmaIsBusy(dma));
  EXPECT_EQ(mxReadReg(0x40001230), 0u);  // the hung list never ran
}

TEST_F(DmaTest, SlowChannelEndsWithinTheWait) {
  dmaEngine().setLatencyUs(2, 5000);
  mxDmaWrite(dma, 0x40001230, 9);
  const u64 before = clockNow();
  EXPECT_EQ(mxDmaExecuteAndWait(dma), 1);
  EXPECT_GE((clockNow() - before) / TICKS_PER_US, 5000u);
  EXPECT_EQ(mxReadReg(0x40001230), 9u);
  EXPECT_EQ(consoleCount("DMA timeout"), 0);
}

TEST_F(DmaTest, ControlWordAndStop) {
  mxDmaControl(mxDmaChannel(1), 1);
  EXPECT_EQ(mxReadReg(MX_DMA_REGS + 32 + 0x1C), 1u);
  mxDmaStop(dma);
  EXPECT_EQ(regPeek(MX_DMA_REGS + 64), 0u);
}

}  // namespace
