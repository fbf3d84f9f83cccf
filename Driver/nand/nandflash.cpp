// NAND flash driver: command lists on DMA channel 0, ECC correction, the logical sector table.
#include "Driver/nand/nandflash.h"

#include <algorithm>
#include <cstring>

#include "Driver/dma/dma.h"
#include "Driver/nand/regs.h"
#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

constexpr u32 BLOCK_SIZE = MX_NAND_BLOCK_SIZE;
constexpr u32 N_BLOCKS = MX_NAND_BLOCKS;
constexpr u32 N_SECTORS = MX_NAND_SECTORS;
constexpr u32 PAGE_BYTES = 2048;
constexpr u32 PAGE_WORDS = PAGE_BYTES / 4;
constexpr int ECC_UNITS = 32;
constexpr u32 UNIT_WORDS = 16;
constexpr u32 LOGICAL_LIMIT = 0x1E000000;  // N_SECTORS * BLOCK_SIZE

struct SectorTable {
  u32 magic;
  u32 version;
  u32 count;
  u32 block[N_SECTORS];
};
static_assert(sizeof(SectorTable) == 15372);

struct Nand {
  SectorTable table;
  bool tableValid;
  bool tableLoaded;
  int eccCount;
  MxDmaChannel* dma;
};

int errorWord = MX_NAND_OK;
bool eccMessages = false;

Nand& nand() {
  static Nand n = [] {
    Nand x{};
    x.dma = mxDmaChannel(MX_DMA_NAND);
    return x;
  }();
  return n;
}

// ---- command-list builders -------------------------------------------------------------------------
void command(MxDmaChannel* d, u32 c) {
  mxDmaWrite(d, NAND_PORT_LATCH, NAND_LATCH_COMMAND);
  mxDmaWrite(d, NAND_PORT_DATA, c);
  mxDmaWrite(d, NAND_PORT_LATCH, NAND_LATCH_IDLE);
}

void pageAddress(MxDmaChannel* d, u32 a) {
  mxDmaWrite(d, NAND_PORT_LATCH, NAND_LATCH_ADDRESS);
  mxDmaWrite(d, NAND_PORT_DATA, a & 0xFF);
  mxDmaWrite(d, NAND_PORT_DATA, (a >> 8) & 7);
  mxDmaWrite(d, NAND_PORT_DATA, (a >> 11) & 0xFF);
  mxDmaWrite(d, NAND_PORT_DATA, (a >> 19) & 0xFF);
  mxDmaWrite(d, NAND_PORT_DATA, (a >> 27) & 0xFF);
  mxDmaWrite(d, NAND_PORT_LATCH, NAND_LATCH_IDLE);
}

void waitReady(MxDmaChannel* d) { mxDmaPoll(d, NAND_PORT_STATUS, 1, NAND_READY, 10); }
void waitIdle(MxDmaChannel* d) { mxDmaPoll(d, NAND_PORT_STATUS, 0, NAND_BUSY, 10); }

bool resetFlash(MxDmaChannel* d) {
  bool ok = mxDmaExecuteAndWait(d) != 0;
  command(d, 0xFF);
  waitReady(d);
  return mxDmaExecuteAndWait(d) != 0 && ok;
}

u32 wordsOf(u32 nbytes) { return (nbytes + 3) / 4; }
u32 pagesOf(u32 nbytes) { return (wordsOf(nbytes) - 1) / PAGE_WORDS + 1; }

// Appends the reads of nbyte from start (a logical address mapped page by page through the table,
// or a physical one). Page i's transfer into page buffer i & 1 overlaps the read-out of page i - 1.
bool buildPageRead(MxDmaChannel* d, u32 start, u32 nbyte, bool mapped) {
  MX_CHECK(nbyte <= BLOCK_SIZE);
  const u32 pages = pagesOf(nbyte);
  for (u32 i = 0; i < pages; ++i) {
    u32 a = start + PAGE_BYTES * i;
    if ((a & (PAGE_BYTES - 1)) != 0 || (mapped && a >= LOGICAL_LIMIT)) {
      MX_LOG(libmx::ERR, "NAND Flash: page address error: %08x\n", a);
      errorWord = MX_NAND_ADDRESS_ERROR;
      return false;
    }
  }
  u32 remaining = wordsOf(nbyte);
  waitIdle(d);
  for (u32 i = 0; i <= pages; ++i) {
    if (i < pages) {
      u32 a = start + PAGE_BYTES * i;
      command(d, 0x00);
      pageAddress(d, mapped ? mxNandPhysicalAddress(a) : a);
      command(d, 0x30);
      waitReady(d);
      mxDmaWrite(d, NAND_PORT_TRANSFER, (i & 1) * 4 + 3);
    }
    if (i >= 1) {
      u32 n = std::min(remaining, PAGE_WORDS);
      mxDmaRead(d, NAND_PAGE_BUFFER + PAGE_BYTES * ((i - 1) & 1), static_cast<int>(n * 4));
      remaining -= n;
    }
    if (i < pages) {
      waitIdle(d);
      mxDmaRead(d, NAND_PORT_STATUS, 4);
      mxDmaRead(d, NAND_PORT_ECC, ECC_UNITS * 4);
    }
  }
  return true;
}

// ---- ECC ------------------------------------------------------------------------------------------
// Corrections are counted per read; the first three are reported, the fourth once at ERR, later
// ones not at all.
void reportCorrection(u32 a, u32 x, u32 y, u32 z, bool ecc) {
  Nand& nd = nand();
  ++nd.eccCount;
  if (!eccMessages) return;
  if (nd.eccCount <= 3) {
    if (ecc) {
      MX_LOG(libmx::WARN, "NAND Flash: ECC corrected %08x ECC %04x -> %04x\n", a, x, y);
    } else {
      MX_LOG(libmx::WARN, "NAND Flash: ECC corrected %08x(%03x) %08x -> %08x\n", a, x, y, z);
    }
  } else if (nd.eccCount == 4) {
    // A flash that keeps needing corrections would flood the console: say so once per read.
    MX_LOG(libmx::ERR, "NAND Flash: ECC corrected more than 3 times\n");
  }
}

// Checks and corrects one page (words of data at address padr); false on an uncorrectable word.
bool correctPage(u32 status, const u32* ecc, u32* data, u32 words, u32 padr) {
  if ((status & 0xFF00) == 0) return true;
  for (int u = 0; u < ECC_UNITS && static_cast<u32>(u) * UNIT_WORDS < words; ++u) {
    u32 e = ecc[u] & 0xFFFF;
    u32 p = 0;
    MxNandEcc r = mxNandCheckEcc(e, &p);
    u32 unitAdr = padr + 64 * static_cast<u32>(u);
    u32 logical = mxNandLogicalAddress(unitAdr);
    switch (r) {
      case MxNandEcc::None:
        break;
      case MxNandEcc::EccOnly:
        reportCorrection(logical, e, e & ~0xFFFu, 0, true);
        break;
      case MxNandEcc::Corrected: {
        u32 w = static_cast<u32>(u) * UNIT_WORDS + ((p >> 5) & 15);
        if (w >= words) break;  // the unit's tail was not read
        u32 old = data[w];
        data[w] ^= 1u << (p & 31);
        reportCorrection(logical + 4 * ((p >> 5) & 15), p, old, data[w], false);
        break;
      }
      case MxNandEcc::Uncorrectable1:
      case MxNandEcc::Uncorrectable2:
      case MxNandEcc::Uncorrectable3: {
        int n = r == MxNandEcc::Uncorrectable1 ? 1 : r == MxNandEcc::Uncorrectable2 ? 2 : 3;
        MX_LOG(libmx::ERR, "NAND Flash: uncorrectable error(%d) %08x %04x\n", n, logical, e);
        errorWord = MX_NAND_ECC_ERROR;
        return false;
      }
    }
  }
  return true;
}

// Copies nbytes out of a run's read buffer into dst, page by page with correction.
bool copyOut(const u32* rb, u8* dst, u32 nbytes, u32 start, bool mapped) {
  static u32 page[PAGE_WORDS];
  u32 remaining = nbytes;
  for (u32 i = 0; remaining > 0; ++i) {
    u32 status = rb[0];
    const u32* ecc = rb + 1;
    u32 words = std::min(wordsOf(remaining), PAGE_WORDS);
    std::memcpy(page, rb + 1 + ECC_UNITS, words * 4);
    rb += 1 + ECC_UNITS + words;
    u32 a = start + PAGE_BYTES * i;
    u32 padr = mapped ? mxNandPhysicalAddress(a) : a;
    if (!correctPage(status, ecc, page, words, padr)) return false;
    u32 n = std::min(remaining, PAGE_BYTES);
    std::memcpy(dst, page, n);
    dst += n;
    remaining -= n;
  }
  return true;
}

void loadTable() {
  Nand& nd = nand();
  nd.tableLoaded = true;
  nd.tableValid = false;
  resetFlash(nd.dma);
  bool found = false;
  for (u32 b = 0; b < 4 && !found; ++b) {
    errorWord = MX_NAND_OK;
    u32 start = b * BLOCK_SIZE;
    buildPageRead(nd.dma, start, sizeof(SectorTable), false);
    bool ran = mxDmaExecuteAndWait(nd.dma) != 0;
    found = ran && copyOut(mxDmaReadBuffer(nd.dma), reinterpret_cast<u8*>(&nd.table), sizeof(SectorTable), start, false) &&
            nd.table.magic == MX_NAND_TABLE_MAGIC && nd.table.version == 1;
  }
  errorWord = MX_NAND_OK;
  if (!found) {
    MX_LOG(libmx::ERR, "NAND Flash: Invalid sector table\n");
    return;
  }
  if (nd.table.count <= 3843) {
    MX_LOG(libmx::ERR, "NAND Flash: Incorrect sector table\n");
    return;
  }
  nd.tableValid = true;
}

// Reads n bytes at logical address adr: the engine reads block i while block i - 1 is checked and
// copied. Returns false with the error word set.
bool readBlocks(u32 adr, u8* buf, u32 n) {
  Nand& nd = nand();
  MxDmaChannel* d = nd.dma;
  resetFlash(d);
  nd.eccCount = 0;
  errorWord = MX_NAND_OK;
  adr &= 0x1FFFFFFF;
  if (!nd.tableLoaded) loadTable();
  if (!nd.tableValid) {
    MX_LOG(libmx::ERR, "NAND Flash: unformat\n");
    errorWord = MX_NAND_UNFORMATTED;
    return false;
  }
  const u32 blocks = (n - 1) / BLOCK_SIZE + 1;
  for (u32 i = 0; i <= blocks; ++i) {
    bool built = i == blocks || buildPageRead(d, adr + i * BLOCK_SIZE, BLOCK_SIZE, true);
    if (i >= 1 && mxDmaWait(d, 10) == 0) {
      errorWord = MX_NAND_ECC_ERROR;  // the data never arrived
      return false;
    }
    if (!built) return false;
    if (i < blocks) mxDmaExecute(d);
    if (i >= 1) {
      u32 done = (i - 1) * BLOCK_SIZE;
      if (!copyOut(mxDmaReadBuffer(d), buf + done, std::min(n - done, BLOCK_SIZE), adr + done, true)) {
        mxDmaSync(d);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

MxNandEcc mxNandCheckEcc(u32 e, u32* position) {
  e &= 0xFFFF;
  if (e == 0 || (e & 0xF000) == 0xF000) return MxNandEcc::None;
  const u32 low = e & 0xFFF;
  if (__builtin_popcount(low) == 1) return MxNandEcc::EccOnly;
  if ((e & 1) == 0 && (e & 0x7FE) != 0) return MxNandEcc::Uncorrectable1;
  if (((e >> 11) & 1) != static_cast<u32>(__builtin_popcount(e & 0x7FF) & 1)) return MxNandEcc::Uncorrectable2;
  const u32 p = (e >> 1) & 0x3FF;
  // A unit has 512 bits: a position of 512 or more points outside it.
  if (p >= 512) return MxNandEcc::Uncorrectable3;
  if (p == 0) return MxNandEcc::None;
  if (position != nullptr) *position = p;
  return MxNandEcc::Corrected;
}

u32 mxNandPhysicalAddress(u32 adr) {
  MX_CHECK(adr < N_SECTORS * BLOCK_SIZE);
  // Shifted in 64 bits: a corrupt entry must not wrap onto a block that exists.
  const u64 padr = u64{nand().table.block[adr >> 17]} << 17 | (adr & 0x1FFFF);
  MX_CHECK(padr < N_BLOCKS * BLOCK_SIZE);
  return static_cast<u32>(padr);
}

u32 mxNandLogicalAddress(u32 padr) {
  if (padr < 4 * BLOCK_SIZE) return padr - 0x10000000;
  const Nand& nd = nand();
  if (!nd.tableValid) {
    MX_LOG(libmx::ERR, "NAND Flash: unformat\n");
    return 0;
  }
  for (u32 s = 0; s < N_SECTORS; ++s) {
    if (nd.table.block[s] == padr >> 17) return (s << 17) + (padr & 0x1FFFF);
  }
  MX_FAIL("NeverReachHere");
  return 0;
}

int mxNandError() { return errorWord; }

void mxNandForgetTable() {
  nand().tableLoaded = false;
  nand().tableValid = false;
}

void mxNandReset() {
  mxNandForgetTable();
  nand().eccCount = 0;
  errorWord = MX_NAND_OK;
  eccMessages = false;
}

int mxNandRead(u32 adr, u32* buf, int maxBytes) {
  if (!eccMessages) {
    nand();
    eccMessages = true;
  }
  const u32 start = mxGetTicks();
  if (maxBytes < 4) return -1;
  const u32 limit = static_cast<u32>(maxBytes);
  u8* out = reinterpret_cast<u8*>(buf);
  // Only as much as the caller holds: the length word says whether more follows.
  if (!readBlocks(adr, out, std::min(limit, BLOCK_SIZE))) return -1;
  const u32 len = buf[0];
  if (len < 4 || len > limit) return -1;
  if (len > BLOCK_SIZE && !readBlocks(adr + BLOCK_SIZE, out + BLOCK_SIZE, len - BLOCK_SIZE)) return -1;
  MX_LOG(libmx::INFO, "NAND Flash: Read %08x - %08x : %d us\n", adr, adr + len, static_cast<int>(mxElapsedUs(start, mxGetTicks())));
  return static_cast<int>(len);
}
