#include "Driver/dma/dma.h"

#include <cstring>

#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Platform/platform.h"

namespace {

constexpr int CMD_BYTE = 256 * 1024;  // one command buffer
constexpr int MARGIN = 64;            // words kept free for the padding read and the terminator
constexpr int READ_BYTE = 1024 * 1024;  // one read buffer
constexpr u32 TIMEOUT_US = 1000000;

MxDmaChannel channels[MX_DMA_CHANNELS];
bool created[MX_DMA_CHANNELS];

u32 cmdBuffer(const MxDmaChannel* dma, int index) { return dma->cmdBase + MX_DMA_CMD_BUFFER_STRIDE * index; }
u32 readBuffer(const MxDmaChannel* dma, int index) { return dma->readBase + MX_DMA_READ_BUFFER_STRIDE * index; }

// Room for len more words in the current command buffer; returns where they go.
u32* reserve(MxDmaChannel* dma, int len) {
  const int cmdPtr = dma->cmdPtr;
  if (len <= 3) {
    MX_CHECK(cmdPtr < CMD_BYTE / 4 - MARGIN);
  } else {
    MX_CHECK(cmdPtr + len < CMD_BYTE / 4 - MARGIN);
  }
  u8* p = platform::memory(cmdBuffer(dma, dma->fillIndex) + 4 * static_cast<u32>(cmdPtr), 4 * static_cast<u32>(len));
  dma->cmdPtr += len;
  return reinterpret_cast<u32*>(p);
}

// The first word of a command: the register address with the opcode in its low two bits.
u32 commandWord(u32 adr, u32 opcode) {
  const u32 msb = adr >> 28;
  MX_CHECK(msb == 4 || msb == 8);
  MX_CHECK((adr & 3) == 0);
  return adr | opcode;
}

void checkBlock(int nbyte) { MX_CHECK(0 < nbyte && nbyte <= 1024 * 1024); }

void appendRead(MxDmaChannel* dma, u32 adr, int nbyte, u32 advancing) {
  checkBlock(nbyte);
  u32 first = commandWord(adr, MX_DMA_OP_READ);
  u32* w = reserve(dma, 2);
  w[0] = first;
  w[1] = advancing | static_cast<u32>(nbyte - 1);
  dma->readCnt += nbyte / 4;
}

void finishRun(MxDmaChannel* dma) {
  dma->exec = false;
  dma->readIndex ^= 1;
}

}  // namespace

MxDmaChannel* mxDmaChannel(int ch) {
  MX_CHECK(0 <= ch && ch < 4);
  MxDmaChannel* dma = &channels[ch];
  if (!created[ch]) {
    *dma = MxDmaChannel{};
    dma->regs = MX_DMA_REGS + MX_DMA_REG_STRIDE * static_cast<u32>(ch);
    dma->cmdBase = MX_DMA_CMD_BASE + MX_DMA_CMD_CHANNEL_STRIDE * static_cast<u32>(ch);
    dma->readBase = MX_DMA_READ_BASE + MX_DMA_READ_CHANNEL_STRIDE * static_cast<u32>(ch);
    created[ch] = true;
  }
  return dma;
}

void mxDmaReset() {
  for (int ch = 0; ch < MX_DMA_CHANNELS; ++ch) {
    created[ch] = false;
    mxDmaChannel(ch);
  }
}

void mxDmaControl(MxDmaChannel* dma, u32 value) { mxWriteReg(dma->regs + MX_DMA_CONTROL, value); }

void mxDmaWrite(MxDmaChannel* dma, u32 adr, u32 value) {
  u32 first = commandWord(adr, MX_DMA_OP_WRITE);
  u32* w = reserve(dma, 2);
  w[0] = first;
  w[1] = value;
}

void mxDmaWriteBlock(MxDmaChannel* dma, const u32* data, int nbyte) {
  checkBlock(nbyte);
  const int len = nbyte / 4;
  if (len == 0) return;
  // The backup image, some 54 KB, goes through here every frame: copied 64 bytes a step, which
  // compiles to a few vector moves a step (and to one range check a step under the sanitizers).
  u8* to = reinterpret_cast<u8*>(reserve(dma, len));
  const u8* from = reinterpret_cast<const u8*>(data);
  const size_t bytes = 4 * static_cast<size_t>(len);
  size_t i = 0;
  for (; i + 64 <= bytes; i += 64) std::memcpy(to + i, from + i, 64);
  std::memcpy(to + i, from + i, bytes - i);
}

void mxDmaWriteBurst(MxDmaChannel* dma, u32 adr, const u32* data, int nbyte) {
  checkBlock(nbyte);
  u32 first = commandWord(adr, MX_DMA_OP_BURST);
  // Header and data must fit together, so the header is not left without its block.
  const int len = 2 + nbyte / 4;
  const int cmdPtr = dma->cmdPtr;
  MX_CHECK(cmdPtr + len < CMD_BYTE / 4 - MARGIN);
  u32* w = reserve(dma, 2);
  w[0] = first;
  w[1] = MX_DMA_START | static_cast<u32>(nbyte - 1);
  mxDmaWriteBlock(dma, data, nbyte);
}

void mxDmaPoll(MxDmaChannel* dma, u32 adr, int flag, u32 value, int interval) {
  MX_CHECK(0 < interval && interval <= 300);
  u32 first = commandWord(adr, MX_DMA_OP_POLL);
  u32* w = reserve(dma, 3);
  w[0] = first;
  w[1] = (flag ? MX_DMA_START : 0u) + 50u * static_cast<u32>(interval);
  w[2] = value;
}

void mxDmaRead(MxDmaChannel* dma, u32 adr, int nbyte) { appendRead(dma, adr, nbyte, MX_DMA_START); }

void mxDmaReadFixed(MxDmaChannel* dma, u32 adr, int nbyte) { appendRead(dma, adr, nbyte, 0); }

void mxDmaExecute(MxDmaChannel* dma) {
  {
    const bool exec = dma->exec;
    MX_CHECK(exec == false);
    // The reads of one list fill at most one read buffer.
    const int readCnt = dma->readCnt * 4;
    MX_CHECK(0 <= readCnt && readCnt <= READ_BYTE);
  }
  dma->exec = true;
  if (dma->cmdPtr > 0) {
    if (dma->readCnt % 64 != 0) mxDmaReadFixed(dma, MX_DMA_PAD_REG, (64 - dma->readCnt % 64) * 4);
    u32* end = reinterpret_cast<u32*>(platform::memory(cmdBuffer(dma, dma->fillIndex) + 4 * static_cast<u32>(dma->cmdPtr), 16));
    for (int i = 0; i < 4; ++i) end[i] = 0;
    dma->cmdPtr += 4;
    const u32 cmd = cmdBuffer(dma, dma->fillIndex);
    const u32 read = readBuffer(dma, dma->fillIndex);
    mxWriteReg(dma->regs + MX_DMA_CMD_ADR, cmd);
    mxWriteReg(dma->regs + MX_DMA_READ_ADR, read);
    mxWriteReg(dma->regs + MX_DMA_CMD_LENGTH, static_cast<u32>(dma->cmdPtr) * 4 - 1);
    mxWriteReg(dma->regs + MX_DMA_READ_ADR, read | MX_DMA_START);
    mxWriteReg(dma->regs + MX_DMA_CMD_ADR, cmd | MX_DMA_START);
  }
  dma->readBytes[dma->fillIndex] = dma->readCnt * 4;
  dma->cmdPtr = 0;
  dma->readCnt = 0;
  dma->fillIndex ^= 1;
}

int mxDmaWait(MxDmaChannel* dma, int intervalUs) {
  {
    const bool exec = dma->exec;
    MX_CHECK(exec);
  }
  const u32 start = mxGetTicks();
  for (;;) {
    if (!mxDmaIsBusy(dma)) {
      finishRun(dma);
      return 1;
    }
    if (mxElapsedUs(start, mxGetTicks()) >= TIMEOUT_US) break;
    mxWaitUs(static_cast<u32>(intervalUs));
  }
  consolePrintf("DMA timeout\n");
  finishRun(dma);
  return 0;
}

int mxDmaSync(MxDmaChannel* dma) { return dma->exec ? mxDmaWait(dma, 100) : 1; }

int mxDmaExecuteAndWait(MxDmaChannel* dma) {
  mxDmaExecute(dma);
  return mxDmaWait(dma, 50);
}

void mxDmaStop(MxDmaChannel* dma) { mxWriteReg(dma->regs + MX_DMA_CMD_ADR, 0); }

int mxDmaIsBusy(MxDmaChannel* dma) {
  const u32 busy = (mxReadReg(dma->regs + MX_DMA_CMD_STATUS) | mxReadReg(dma->regs + MX_DMA_READ_STATUS)) & MX_DMA_START;
  return busy != 0 ? 1 : 0;
}

const u32* mxDmaReadBuffer(MxDmaChannel* dma) {
  const int bytes = dma->readBytes[dma->readIndex];
  return reinterpret_cast<const u32*>(
      platform::memory(readBuffer(dma, dma->readIndex), bytes > 0 ? static_cast<u32>(bytes) : 4u));
}
