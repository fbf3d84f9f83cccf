#include "Amp/config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "Amp/regs.h"
#include "Main/framework/startup.h"
#include "tests/support/bringup_fixture.h"
#include "Lib/Include/check.h"
#include "Lib/Include/storage.h"

using namespace platform;
using testing_support::BoardRestart;
using testing_support::BringUpTest;
using testing_support::consoleCount;
using testing_support::consoleText;

namespace {

constexpr u32 NV_MARKER = NON_VOLATILE_BASE + STORAGE_BOARD_MODE_MARKER;
constexpr u32 NV_MODE = NON_VOLATILE_BASE + STORAGE_BOARD_MODE;

const u32* imageWords(int fpga) { return reinterpret_cast<const u32*>(memory(MX_FPGA_IMAGE_AREA + mxFpgaImageOffset(fpga), 4)); }

bool nandReadLine(u32 adr) {
  char line[40];
  std::snprintf(line, sizeof line, "NAND Flash: Read %08x - ", adr);
  return consoleCount(line) == 1;
}

class ConfigTest : public BringUpTest {};

TEST_F(ConfigTest, ColdConfigurationOfAllSevenFpgas) {
  EXPECT_EQ(mxLoadFpgaImages(1), 1);
  EXPECT_EQ(mxConfigureFpgas(1), 0);
  // Second bank (boot mode bit 0x4000 clear), images placed by their maximum sizes.
  for (u32 a : {0x080C0000u, 0x08000000u, 0x08060000u, 0x08100000u, 0x08C00000u, 0x09700000u}) {
    EXPECT_TRUE(nandReadLine(a)) << std::hex << a << consoleText();
  }
  const int offsets[MX_FPGA_COUNT] = {0, 0x40000, 0xA0000, 0x100000, 0xC00000, 0x1700000, 0x1700000};
  for (int i = 0; i < MX_FPGA_COUNT; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(mxFpgaImageOffset(i), offsets[i]);
    EXPECT_TRUE(configPortDone(i));
    // Each port got exactly its image, in order, even where the streams interleave.
    const u32 words = static_cast<u32>(mxFpgaImageSize(i)) / 4;
    EXPECT_EQ(std::tuple(configPortWords(i), configPortChecksum(i), configPortReceived(i)),
              std::tuple(words, configChecksum(imageWords(i), words), words + 1));  // then one clock until DONE
  }
  EXPECT_EQ(std::tuple(mxFpgaImageSize(6), configPortMode(0)), std::tuple(mxFpgaImageSize(5), 0x100u));  // sdi2: sdi1's image
  EXPECT_EQ(std::tuple(consoleCount("me2 2026/12/06 12:00:00 "), consoleCount("sdi 2026/12/06 12:00:00 "),
                       consoleCount("[INFO] me1: INIT_B time "), consoleCount("[ERR]")),
            std::tuple(1, 2, 1, 0)) << consoleText();
  // Enable bits are off again after configuration.
  EXPECT_EQ(std::tuple(regPeek(FPGA_ENABLE) & 7, regPeek(SDI2_ENABLE) & 2), std::tuple(0u, 0u));
}

TEST_F(ConfigTest, BankAndVariantChooseTheAddresses) {
  const std::tuple<bool, int, u32, u32, u32> cases[] = {  // first bank, variant (-1: no marker), me1, me2, sdi
      {true, -1, 0x00100000, 0x00C00000, 0x01700000},
      {false, 1, 0x08100000, 0x0D600000, 0x09700000},  // only me2 has a variant 1
      {true, 2, 0x0E400000, 0x0EF00000, 0x0FA00000},
      {false, 3, 0x08100000, 0x08C00000, 0x09700000},
  };
  for (const auto& [firstBank, variant, me1, me2, sdi] : cases) {
    SCOPED_TRACE(variant);
    testing_support::consoleClear();
    writeMem32(OCM_BOOT_MODE, firstBank ? BOOT_MODE_NO_BACKUP : 0);
    writeMem32(NV_MARKER, variant < 0 ? 0 : BOARD_MODE_MARKER);
    writeMem32(NV_MODE, variant < 0 ? 2 : static_cast<u32>(variant) | 0x100);
    mxLoadFpgaImages(0);
    EXPECT_TRUE(nandReadLine(firstBank ? 0x000C0000 : 0x080C0000)) << consoleText();  // the glue image has no variant
    EXPECT_TRUE(nandReadLine(me1) && nandReadLine(me2) && nandReadLine(sdi));
    EXPECT_EQ(consoleCount("NAND Flash: Read "), 6);
  }
  writeMem32(NV_MARKER, 0);
}

TEST_F(ConfigTest, BoardVersionOneHasNoLanFpgas) {
  writeMem32(OCM_BOOT_MODE, BOOT_MODE_BOARD_V1);
  mxLoadFpgaImages(1);
  EXPECT_EQ(mxConfigureFpgas(1), 0);
  EXPECT_EQ(configPortWords(1), 0u);
  EXPECT_EQ(configPortWords(2), 0u);
  EXPECT_TRUE(configPortDone(3));
}

TEST_F(ConfigTest, ConfigurationFailuresAreLoggedAndStartUpGoesOn) {
  const std::tuple<int, ConfigFault, const char*, int> cases[] = {  // port, fault, line, mxConfigureFpgas
      {0, ConfigFault::NoInitB, "[ERR] glue: wait timeout for INIT_B", 0},
      {1, ConfigFault::NoDone, "[ERR] lan1: no DONE", 0},
      {2, ConfigFault::CrcError, "[ERR] lan2: Maybe CRC error", 0},
      {4, ConfigFault::NoInitB, "[ERR] me2: wait timeout for INIT_B", 1},
      {6, ConfigFault::NoDone, "[ERR] sdi2: no DONE", 1},
      {3, ConfigFault::CrcError, "[ERR] me1: Maybe CRC error", 1},
  };
  for (const auto& [port, fault, line, result] : cases) {
    SCOPED_TRACE(line);
    testing_support::consoleClear();
    configPortReset();
    configPortSetFault(port, fault);
    const u64 start = clockNow();
    EXPECT_EQ(mxLoadFpgaImages(1), 1);
    EXPECT_EQ(mxConfigureFpgas(1), result);
    EXPECT_EQ(std::tuple(consoleCount(line), consoleCount("[ERR]")), std::tuple(1, 1)) << consoleText();
    EXPECT_FALSE(configPortDone(port));
    EXPECT_TRUE(port >= 3 || configPortDone(5));  // the joint configuration still ran
    // Every wait is bounded: well within the 10 s watchdog.
    EXPECT_LT(clockNow() - start, 3000000ull * TICKS_PER_US);
  }
}

TEST_F(ConfigTest, MissingImageEndsStartUp) {
  std::vector<u8> zero(64, 0);
  nandWriteLogical(nandFlash(), 0x08C00000, zero.data(), 64);  // me2, second bank
  EXPECT_THROW(mxLoadFpgaImages(1), assert::AssertException);
  EXPECT_EQ(std::tuple(consoleCount("[ERR] cannot load me2 FPGA config data"), consoleCount("NeverReachHere")),
            std::tuple(1, 1)) << consoleText();
}

TEST_F(ConfigTest, NandImageIsLoadedBehindItsLengthWordAndAShortOneRestarts) {
  int len = mxLoadNandImage();
  EXPECT_GT(len, 4096);
  EXPECT_EQ(readMem32(NAND_IMAGE_RAM), static_cast<u32>(len));
  EXPECT_TRUE(nandReadLine(0x0CA00000)) << consoleText();
  for (u32 length : {4096u, 0u}) {
    SCOPED_TRACE(length);
    testing_support::consoleClear();
    watchdogAttach();  // a new run after the restart
    nandWriteLogical(nandFlash(), 0x0CA00000, &length, 4);
    EXPECT_THROW(mxLoadNandImage(), BoardRestart);
    EXPECT_EQ(consoleCount(length == 0 ? "[ERR] Bad NAND data -1 byte" : "[ERR] Bad NAND data 4096 byte"), 1) << consoleText();
  }
}

// A power-on sequence: the start-up lock that it takes is given back while its lock word is still there.
struct StartUpLock {
  StartUpLock() { bpReset(); }
  ~StartUpLock() { bpReset(); }
};

TEST_F(ConfigTest, FailedConfigurationIsLoggedAndThePowerOnSequenceGoesOn) {
  StartUpLock lock;
  configPortSetFault(6, ConfigFault::NoDone);
  powerOnSequence();
  const std::string text = consoleText();
  const size_t failed = text.find("[ERR] sdi2: no DONE");
  ASSERT_NE(failed, std::string::npos) << text;
  // DDR3 comes up after it and the board is marked as brought up.
  EXPECT_GT(text.find("DDR3(85000300) Test complete"), failed);
  EXPECT_EQ(readMem32(OCM_WARM_START), 1u);
  EXPECT_EQ(consoleCount("[ERR]"), 1);
}

TEST_F(ConfigTest, DdrThatNeverPassesItsTestRestartsTheBoard) {
  StartUpLock lock;
  ddr3CompareErrors(0, 1, 2, 100);
  EXPECT_THROW(powerOnSequence(), BoardRestart);
  EXPECT_EQ(consoleCount("[ERR] DDR3(82000300) error : 2 count"), 5) << consoleText();
  EXPECT_EQ(readMem32(OCM_WARM_START), 0u);  // the next start is cold again
}

}  // namespace
