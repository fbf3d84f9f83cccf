#pragma once
// Command lists of the FPGA's DMA engine. A list is built in one of two command buffers of a
// channel while the list of the other buffer runs; it writes registers, writes data blocks, polls
// registers and reads registers into a read buffer.
//
// Channels: 0 NAND flash, 1 the per-frame register update, 2 unused, 3 the backup copy.
#include "Driver/dma/regs.h"
#include "Lib/Include/types.h"

constexpr int MX_DMA_CHANNELS = 4;
constexpr int MX_DMA_NAND = 0;
constexpr int MX_DMA_UPDATE = 1;
constexpr int MX_DMA_BACKUP = 3;

// Command and read buffers in working memory (from MX_DMA_CMD_BASE and MX_DMA_READ_BASE), two of
// each per channel.
constexpr u32 MX_DMA_CMD_CHANNEL_STRIDE = 0x80000;
constexpr u32 MX_DMA_CMD_BUFFER_STRIDE = 0x40000;
constexpr u32 MX_DMA_READ_CHANNEL_STRIDE = 0x200000;
constexpr u32 MX_DMA_READ_BUFFER_STRIDE = 0x100000;

struct MxDmaChannel {
  int fillIndex = 0;     // command buffer being filled (0 or 1)
  int readIndex = 1;     // read buffer holding the result of the last completed run
  int cmdPtr = 0;        // words written into the current command buffer
  int readCnt = 0;       // words that the current list will read
  u32 regs = 0;          // control block
  u32 cmdBase = 0;       // command buffer 0 (buffer 1 follows at MX_DMA_CMD_BUFFER_STRIDE)
  u32 readBase = 0;      // read buffer 0 (buffer 1 follows at MX_DMA_READ_BUFFER_STRIDE)
  bool exec = false;     // a run was started and not yet waited for
  int readBytes[2] = {0, 0};  // bytes read by the run of each buffer
};

// The channel object of ch (0 to 3), created on first use.
MxDmaChannel* mxDmaChannel(int ch);

// Every channel idle with empty lists, as at program start; channel objects stay where they are.
void mxDmaReset();

// Writes the channel control word.
void mxDmaControl(MxDmaChannel* dma, u32 value);

// Append one command to the list being built. Register addresses lie in 0x4xxxxxxx or 0x8xxxxxxx
// and are word aligned; blocks are 1 byte to 1 MiB.
void mxDmaWrite(MxDmaChannel* dma, u32 adr, u32 value);
void mxDmaWriteBlock(MxDmaChannel* dma, const u32* data, int nbyte);  // data words only
void mxDmaWriteBurst(MxDmaChannel* dma, u32 adr, const u32* data, int nbyte);
// Polls adr until the engine's comparison with value holds: flag set waits for any bit of value to
// be set, flag clear for every bit of value to be clear. interval 1 to 300.
void mxDmaPoll(MxDmaChannel* dma, u32 adr, int flag, u32 value, int interval);
void mxDmaRead(MxDmaChannel* dma, u32 adr, int nbyte);       // a block from adr upwards
void mxDmaReadFixed(MxDmaChannel* dma, u32 adr, int nbyte);  // nbyte / 4 reads of one register

// Starts the list built so far (an empty list starts nothing) and switches to the other buffer.
void mxDmaExecute(MxDmaChannel* dma);
// Waits for the started run to end, polling every intervalUs, for at most one second. Returns 1
// when it ended, 0 after the timeout ("DMA timeout" on the console; the run is given up).
int mxDmaWait(MxDmaChannel* dma, int intervalUs);
// mxDmaWait(100) when a run is outstanding; 1 otherwise.
int mxDmaSync(MxDmaChannel* dma);
// mxDmaExecute, then mxDmaWait(50).
int mxDmaExecuteAndWait(MxDmaChannel* dma);
// Stops the channel.
void mxDmaStop(MxDmaChannel* dma);
// 1 while the command or read side is busy.
int mxDmaIsBusy(MxDmaChannel* dma);
// The read buffer of the last completed run.
const u32* mxDmaReadBuffer(MxDmaChannel* dma);
