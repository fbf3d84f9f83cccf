// FPGA configuration loading: images from NAND flash to RAM, then through the configuration ports.
#include "Amp/config.h"
#include "Amp/regs.h"

#include <algorithm>
#include <cstring>

#include "Driver/core/core.h"
#include "Driver/nand/nandflash.h"
#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/storage.h"
#include "Platform/platform.h"

namespace {

struct FpgaData {
  const char* name;
  u32 port;       // configuration port
  u32 p0, p1;     // mode word p0 + (p1 << 8)
  const char* image;
  u32 maxSize;
  u32 enableReg;  // 0: none
  u32 enableBit;
  u32 size;       // loaded length
  int bufAddr;    // offset in the image area; -1 until loaded
};

FpgaData fpgaData[MX_FPGA_COUNT] = {
    {"glue", GLUE_CONFIG_PORT, 0, 1, "glue", 0x40000, FPGA_ENABLE, 0, 0, -1},
    {"lan1", LAN1_CONFIG_PORT, 0, 0, "lan1", 0x60000, 0, 0, 0, -1},
    {"lan2", LAN2_CONFIG_PORT, 0, 0, "lan2", 0x60000, 0, 0, 0, -1},
    {"me1", ME1_CONFIG_PORT, 0, 0, "me1", 0xB00000, FPGA_ENABLE, 1, 0, -1},
    {"me2", ME2_CONFIG_PORT, 0, 0, "me2", 0xB00000, FPGA_ENABLE, 2, 0, -1},
    {"sdi1", SDI1_CONFIG_PORT, 0, 0, "sdi", 0x300000, BOARD_ENABLE, 1, 0, -1},
    {"sdi2", SDI2_CONFIG_PORT, 0, 0, "sdi", 0x300000, SDI2_ENABLE, 1, 0, -1},
};

// NAND addresses of each image: the first bank's address and the variant 1 and 2 addresses
// (0: that variant has none).
struct ImageAddress {
  const char* name;
  u32 adr[3];
};
const ImageAddress IMAGE_TABLE[] = {
    {"glue", {0x000C0000, 0, 0}},          {"lan1", {0x00000000, 0, 0}},
    {"lan2", {0x00060000, 0, 0}},          {"me1", {0x00100000, 0, 0x0E400000}},
    {"me2", {0x00C00000, 0x0D600000, 0x0EF00000}}, {"sdi", {0x01700000, 0, 0x0FA00000}},
};

constexpr u32 SECOND_BANK = 0x8000000;
constexpr u32 NAND_IMAGE_ADR = 0x4A00000;
constexpr int NAND_IMAGE_MAX = 0x400000;
constexpr int NAND_IMAGE_MIN = 4097;

constexpr u32 INIT_B_TIMEOUT_US = 100000;
constexpr int DONE_TRIES = 256;
constexpr u32 SETTLE_US = 120000;
constexpr int FIRST_JOINT = 3;  // me1, me2, sdi1, sdi2

u32 areaOffset = 0;

// The boot mode bit that keeps no backup also selects the first bank.
u32 bankOffset() { return (platform::readMem32(OCM_BOOT_MODE) & BOOT_MODE_NO_BACKUP) != 0 ? 0 : SECOND_BANK; }

// The board mode stored in the non-volatile window selects image variants (0 without a marker).
int boardVariant() {
  return boardModeOf(platform::readMem32(NON_VOLATILE_BASE + STORAGE_BOARD_MODE_MARKER),
                     platform::readMem32(NON_VOLATILE_BASE + STORAGE_BOARD_MODE));
}

u8* imageRam(const FpgaData& f) { return platform::memory(MX_FPGA_IMAGE_AREA + static_cast<u32>(f.bufAddr), f.maxSize); }

void loadImage(int index, u32 bank, int variant) {
  FpgaData& f = fpgaData[index];
  for (int j = 0; j < index; ++j) {
    if (std::strcmp(fpgaData[j].image, f.image) == 0 && fpgaData[j].bufAddr >= 0) {
      f.bufAddr = fpgaData[j].bufAddr;
      f.size = fpgaData[j].size;
      return;
    }
  }
  const ImageAddress* entry = nullptr;
  for (const ImageAddress& a : IMAGE_TABLE) {
    if (std::strcmp(a.name, f.image) == 0) entry = &a;
  }
  if (entry == nullptr) {
    MX_FAIL("NeverReachHere");
    return;
  }
  // A variant address is used as it stands; the first address lies in the selected bank.
  u32 adr = (variant == 1 || variant == 2) && entry->adr[variant] != 0 ? entry->adr[variant] : entry->adr[0] + bank;
  f.bufAddr = static_cast<int>(areaOffset);
  areaOffset += f.maxSize;
  {
    // The images must fit the area in front of the DMA buffers.
    const u32 bufAddr = areaOffset;
    MX_CHECK(bufAddr <= 0x04000000);
  }
  int len = mxNandRead(adr, reinterpret_cast<u32*>(imageRam(f)), static_cast<int>(f.maxSize));
  if (len > 0) {
    f.size = static_cast<u32>(len);
    return;
  }
  MX_LOG(libmx::ERR, "cannot load %s FPGA config data", f.name);
  MX_FAIL("NeverReachHere");
}

// Header of an image (behind its length word): a bitstream header whose bytes are stored in reversed
// bit order; the design name's text starts at byte 20, each field being a key byte, a 16-bit
// big-endian length and the text. The design name, date and time are logged.
void logImageHeader(const FpgaData& f) {
  const u8* bytes = imageRam(f);
  const u32 size = std::min(f.size, f.maxSize);
  auto at = [bytes, size](u32 i) -> u8 {
    if (i >= size) return 0;
    u8 b = bytes[i];
    b = static_cast<u8>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<u8>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<u8>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  };
  char text[100];
  u32 n = 0;
  u32 pos = 17;  // key byte of the design name field
  for (int field = 0; field < 4 && pos + 3 <= size; ++field) {
    const u8 key = at(pos);
    const u32 len = static_cast<u32>(at(pos + 1)) << 8 | at(pos + 2);
    if (key != 'a' + field) break;
    if (key != 'b') {
      for (u32 i = 0; i < len && at(pos + 3 + i) != 0 && n < sizeof text - 2; ++i) text[n++] = static_cast<char>(at(pos + 3 + i));
      if (n < sizeof text - 1) text[n++] = ' ';
    }
    pos += 3 + len;
  }
  text[n] = 0;
  MX_LOG(libmx::INFO, "%s", text);
}

bool progAndWaitInit(const FpgaData& f) {
  mxWriteReg(f.port + CONFIG_PROG, 1);
  mxWaitUs(2);
  mxWriteReg(f.port + CONFIG_PROG, 0);
  const u32 start = mxGetTicks();
  for (;;) {
    u32 now = mxGetTicks();
    if ((mxReadReg(f.port + CONFIG_STATUS) & CONFIG_INIT_B) != 0) {
      MX_LOG(libmx::INFO, "%s: INIT_B time %d us\n", f.name, static_cast<int>(mxElapsedUs(start, now)));
      return true;
    }
    if (mxElapsedUs(start, now) >= INIT_B_TIMEOUT_US) {
      MX_LOG(libmx::ERR, "%s: wait timeout for INIT_B", f.name);
      return false;
    }
  }
}

bool waitDone(const FpgaData& f) {
  if ((mxReadReg(f.port + CONFIG_STATUS) & CONFIG_INIT_B) == 0) {
    MX_LOG(libmx::ERR, "%s: Maybe CRC error", f.name);
    return false;
  }
  for (int i = 0; i < DONE_TRIES; ++i) {
    mxWaitUs(1000);
    mxWriteReg(f.port + CONFIG_DATA, 0);  // clocks the FPGA's start-up sequence
    if ((mxReadReg(f.port + CONFIG_STATUS) & (CONFIG_INIT_B | CONFIG_DONE)) == (CONFIG_INIT_B | CONFIG_DONE)) return true;
  }
  MX_LOG(libmx::ERR, "%s: no DONE", f.name);
  return false;
}

const u32* imageWords(const FpgaData& f) { return reinterpret_cast<const u32*>(imageRam(f)); }

int configureSerial(int fpga, int doLoad) {
  MX_CHECK(fpgaData[fpga].bufAddr >= 0);
  const FpgaData& f = fpgaData[fpga];
  enableFpga(fpga, 1);
  if (doLoad != 0) {
    logImageHeader(f);
    mxWriteReg(f.port + CONFIG_MODE, f.p0 + (f.p1 << 8));
    if (!progAndWaitInit(f)) return 1;
    mxWriteRegFifo(f.port + CONFIG_DATA, imageWords(f), f.size / 4);
  }
  if (!waitDone(f)) return 1;
  enableFpga(fpga, 0);
  mxWaitUs(SETTLE_US);
  if (fpga == 0) mxWriteReg(BOARD_ENABLE, mxReadReg(BOARD_ENABLE) & ~BOARD_ENABLE_GLUE);
  return 0;
}

int configureJoint(int doLoad) {
  for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) enableFpga(i, 1);
  for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) MX_CHECK(fpgaData[i].bufAddr >= 0);
  if (doLoad != 0) {
    for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) logImageHeader(fpgaData[i]);
    u32 longest = 0;
    for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) {
      const FpgaData& f = fpgaData[i];
      mxWriteReg(f.port + CONFIG_MODE, f.p0 + (f.p1 << 8));
      if (!progAndWaitInit(f)) return 1;
      longest = std::max(longest, f.size / 4);
    }
    // The four streams interleave word by word; a shorter image stops at its own length.
    for (u32 w = 0; w < longest; ++w) {
      for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) {
        const FpgaData& f = fpgaData[i];
        if (w < f.size / 4) mxWriteReg(f.port + CONFIG_DATA, imageWords(f)[w]);
      }
    }
  }
  for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) {
    if (!waitDone(fpgaData[i])) return 1;
  }
  mxWaitUs(SETTLE_US);
  for (int i = FIRST_JOINT; i < MX_FPGA_COUNT; ++i) enableFpga(i, 0);
  mxWaitUs(SETTLE_US);
  return 0;
}

}  // namespace

void enableFpga(int index, int on) {
  MX_CHECK(0 <= index && index < MX_FPGA_COUNT);
  const FpgaData& f = fpgaData[index];
  if (f.enableReg == 0) return;
  u32 v = mxReadReg(f.enableReg);
  mxWriteReg(f.enableReg, on != 0 ? v | (1u << f.enableBit) : v & ~(1u << f.enableBit));
}

int mxLoadFpgaImages(int doLoad) {
  areaOffset = 0;
  for (FpgaData& f : fpgaData) {
    f.bufAddr = -1;
    f.size = 0;
  }
  const u32 bank = bankOffset();
  loadImage(0, bank, 0);
  configureSerial(0, doLoad);
  const int variant = boardVariant();
  for (int i = 1; i < MX_FPGA_COUNT; ++i) loadImage(i, bank, variant);
  return 1;
}

int mxConfigureFpgas(int doLoad) {
  if (mxGetBoardVersion() > 1) {
    configureSerial(1, doLoad);
    configureSerial(2, doLoad);
  }
  return configureJoint(doLoad);
}

int mxLoadNandImage() {
  const u32 adr = NAND_IMAGE_ADR + bankOffset();
  int len = mxNandRead(adr, reinterpret_cast<u32*>(platform::memory(NAND_IMAGE_RAM, NAND_IMAGE_MAX)), NAND_IMAGE_MAX);
  if (len < NAND_IMAGE_MIN) {
    MX_LOG(libmx::ERR, "Bad NAND data %d byte\n", len);
    mxRestart();
  }
  return len;
}

int mxFpgaImageOffset(int index) { return fpgaData[index].bufAddr; }
int mxFpgaImageSize(int index) { return static_cast<int>(fpgaData[index].size); }
