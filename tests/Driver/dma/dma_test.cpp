// DMA command lists: their encodings, the engine running them, and the limits of a list.

#include "Platform/dma_engine.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

// Targets of the commands: registers of the glue FPGA (one written, one polled, a block and a
// single register read), the non-volatile window and a register space outside the glue FPGA.
constexpr u32 WRITTEN = MX_GLUE_BASE + 0x1230;
constexpr u32 POLLED = MX_GLUE_BASE + 0x200;
constexpr u32 BLOCK = MX_GLUE_BASE + 0x2000;
constexpr u32 SINGLE = MX_GLUE_BASE + 0x208;
constexpr u32 NV_TARGET = NON_VOLATILE_BASE + 0x100;
constexpr u32 OTHER_SPACE = 0x80000100;

class DmaTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    dmaEngine().reset();
    traceClear();
    testing_support::consoleClear();
  }
  void TearDown() override {
    dmaEngine().detach();
    BoardTest::TearDown();
  }
  // The words of the command buffer that the next execute starts.
  Words listWords(int buffer, int n) {
    const u32* w = reinterpret_cast<const u32*>(memory(dma->cmdBase + MX_DMA_CMD_BUFFER_STRIDE * buffer, 4 * n));
    return Words(w, w + n);
  }
  MxDmaChannel* dma = mxDmaChannel(2);
};

TEST_F(DmaTest, CommandEncodingsPaddingAndStartOrder) {
  const int buffer = dma->fillIndex;
  const u32 data[3] = {0x11, 0x22, 0x33};
  mxDmaWrite(dma, WRITTEN, 0xCAFE);
  mxDmaWriteBurst(dma, NV_TARGET, data, 12);
  mxDmaPoll(dma, POLLED, 1, 1, 10);
  mxDmaPoll(dma, POLLED, 0, 2, 300);
  mxDmaRead(dma, BLOCK, 32);      // 8 words
  mxDmaReadFixed(dma, SINGLE, 8);  // 2 words: 10 read in all
  EXPECT_EQ(dma->readCnt, 10);
  mxDmaExecute(dma);
  const Words expected = {
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
  EXPECT_TRUE(dma->fillIndex == (buffer ^ 1) && dma->cmdPtr == 0 && dma->readCnt == 0);

  // The channel is started read side first, with the list length in bytes minus 1.
  const u32 regs = MX_DMA_REGS + 2 * MX_DMA_REG_STRIDE;
  const u32 cmd = 0x3F400000 + 2 * 0x80000 + 0x40000 * buffer;
  const u32 read = 0x3F600000 + 2 * 0x200000 + 0x100000 * buffer;
  std::vector<std::pair<u32, u32>> writes;
  for (const auto& t : traceRecent()) {
    if (t.adr >= regs && t.adr < regs + MX_DMA_REG_STRIDE) writes.push_back({t.adr - regs, t.value});
  }
  const std::vector<std::pair<u32, u32>> start = {
      {MX_DMA_CMD_ADR, cmd}, {MX_DMA_READ_ADR, read}, {MX_DMA_CMD_LENGTH, expected.size() * 4 - 1},
      {MX_DMA_READ_ADR, read | 0x80000000}, {MX_DMA_CMD_ADR, cmd | 0x80000000}};
  EXPECT_EQ(writes, start);
  regPoke(POLLED, 1);  // ready, not busy: both polls pass
  EXPECT_EQ(mxDmaWait(dma, 10), 1);

  mxDmaRead(dma, BLOCK, 256);  // a multiple of 64 words needs no padding
  mxDmaExecute(dma);
  EXPECT_EQ(listWords(buffer ^ 1, 6), (Words{0x40002003, 0x800000FF, 0, 0, 0, 0}));
}

TEST_F(DmaTest, TheEngineRunsTheListAgainstRegistersAndMemoryInAlternateBuffers) {
  const u32 block[4] = {1, 2, 3, 4};
  regPoke(BLOCK, 0xA0);
  regPoke(BLOCK + 4, 0xA1);
  regPoke(SINGLE, 0xF0);
  regPoke(MX_DMA_PAD_REG, 0xEE);
  mxDmaWrite(dma, WRITTEN, 0xCAFE);
  mxDmaWriteBurst(dma, NV_TARGET, block, 16);  // into the non-volatile window
  mxDmaWriteBurst(dma, OTHER_SPACE, block, 8);   // into a register range
  mxDmaRead(dma, BLOCK, 8);
  mxDmaReadFixed(dma, SINGLE, 12);
  mxDmaExecute(dma);
  ASSERT_EQ(mxDmaWait(dma, 10), 1);
  EXPECT_EQ(mxReadReg(WRITTEN), 0xCAFEu);
  for (u32 i = 0; i < 4; ++i) EXPECT_EQ(readMem32(NV_TARGET + 4 * i), i + 1);
  EXPECT_EQ(regPeek(OTHER_SPACE + 4), 2u);
  const u32* first = mxDmaReadBuffer(dma);
  EXPECT_EQ(Words(first, first + 7), (Words{0xA0, 0xA1, 0xF0, 0xF0, 0xF0, 0xEE, 0xEE}));
  EXPECT_EQ(first[63], 0xEEu);  // padded to 64 words
  EXPECT_EQ(dmaEngine().completedRuns(2), 1);

  regPoke(BLOCK, 6);
  mxDmaRead(dma, BLOCK, 4);
  mxDmaExecuteAndWait(dma);
  const u32* second = mxDmaReadBuffer(dma);
  EXPECT_EQ(std::abs(reinterpret_cast<const u8*>(second) - reinterpret_cast<const u8*>(first)), 0x100000);
  EXPECT_EQ(second[0], 6u);
}

TEST_F(DmaTest, DoubleExecuteAndEmptyList) {
  mxDmaWrite(dma, WRITTEN, 1);
  mxDmaExecute(dma);
  EXPECT_EQ(mxDmaWait(dma, 10), 1);

  // An empty list starts nothing but toggles the buffer and syncs at once.
  traceClear();
  const int buffer = dma->fillIndex;
  mxDmaExecute(dma);
  EXPECT_EQ(std::make_tuple(dma->exec, dma->fillIndex, traceWriteCount()), std::make_tuple(true, buffer ^ 1, u64{0}));
  const u64 before = clockNow();
  EXPECT_EQ(mxDmaSync(dma), 1);
  EXPECT_FALSE(dma->exec);
  EXPECT_LE(clockNow() - before, 2u * TICKS_PER_US);  // one poll, no wait
  EXPECT_EQ(mxDmaSync(dma), 1);                       // nothing outstanding
}

TEST_F(DmaTest, PollHoldsTheListUntilTheRegisterAnswers) {
  struct Case { u32 before, flag, mask, after; } cases[] = {
      {0, 1, 1, 3}, {2, 0, 2, 1}};  // wait for bit 0 set, then for bit 1 clear
  for (auto c : cases) {
    regPoke(POLLED, c.before);
    regPoke(WRITTEN, 0);
    mxDmaPoll(dma, POLLED, c.flag, c.mask, 10);
    mxDmaWrite(dma, WRITTEN, 7);
    mxDmaExecute(dma);
    clockAdvance(1000 * TICKS_PER_US);
    EXPECT_TRUE(mxDmaIsBusy(dma));
    EXPECT_EQ(mxReadReg(WRITTEN), 0u);
    regPoke(POLLED, c.after);
    EXPECT_EQ(mxDmaWait(dma, 10), 1);
    EXPECT_EQ(mxReadReg(WRITTEN), 7u);
  }
}

TEST_F(DmaTest, WaitFailsAfterOneSecondOnAStuckChannelAndWaitsOutASlowOne) {
  dmaEngine().setLatencyUs(2, 5000);
  mxDmaWrite(dma, WRITTEN, 9);
  u64 before = clockNow();
  EXPECT_EQ(mxDmaExecuteAndWait(dma), 1);
  EXPECT_GE((clockNow() - before) / TICKS_PER_US, 5000u);
  EXPECT_EQ(std::make_tuple(mxReadReg(WRITTEN), consoleCount("DMA timeout")), std::make_tuple(9u, 0));

  dmaEngine().setStuck(2, true);
  mxDmaWrite(dma, WRITTEN, 1);
  mxDmaExecute(dma);
  before = clockNow();
  EXPECT_EQ(mxDmaWait(dma, 100), 0);
  const u64 waited = (clockNow() - before) / TICKS_PER_US;
  EXPECT_TRUE(waited >= 1000000u && waited < 1000300u) << waited;
  EXPECT_EQ(std::make_tuple(consoleCount("DMA timeout"), dma->exec, mxDmaIsBusy(dma)), std::make_tuple(1, false, 1));
  mxDmaStop(dma);
  EXPECT_FALSE(mxDmaIsBusy(dma));
  EXPECT_EQ(mxReadReg(WRITTEN), 9u);  // the hung list never ran
}

}  // namespace
