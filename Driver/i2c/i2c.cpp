// I2C channels and the board device bring-up.
#include "Driver/i2c/i2c.h"

#include <initializer_list>

#include "Driver/core/core.h"
#include "Driver/core/format.h"
#include "Driver/core/regs.h"
#include "Driver/i2c/regs.h"
#include "Driver/serdes/regs.h"
#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

struct ChannelInfo {
  u32 controller;
  u32 command;
  u8 address;
};
constexpr u32 SDI1_I2C = MX_SDI1_BASE + SDI_I2C, SDI2_I2C = MX_SDI2_BASE + SDI_I2C;
constexpr ChannelInfo CHANNELS[I2C_ID_MAX] = {
    {SDI1_I2C, SDI1_I2C + I2C_COMMAND_1, 0x4C}, {SDI1_I2C, SDI1_I2C + I2C_COMMAND_1, 0x34},
    {SDI1_I2C, SDI1_I2C + I2C_COMMAND_0, 0x50}, {SDI2_I2C, SDI2_I2C + I2C_COMMAND_1, 0x4C},
    {SDI2_I2C, SDI2_I2C + I2C_COMMAND_1, 0x34}, {SDI2_I2C, SDI2_I2C + I2C_COMMAND_0, 0x50},
    {SDI1_I2C, SDI1_I2C + I2C_COMMAND_2, 0x7F}, {SDI2_I2C, SDI2_I2C + I2C_COMMAND_2, 0x7F},
    {GLUE_I2C, GLUE_I2C + I2C_COMMAND_0, 0x69},
};

// Writes one command word and waits for the controller. The wait is bounded: a controller that
// stays busy fails the transfer.
bool command(const I2cChannel& ch, u32 word, u32* result = nullptr) {
  mxWriteReg(ch.command, word);
  u32 start = mxGetTicks();
  u32 v;
  while ((v = mxReadReg(ch.command)) & I2C_BUSY) {
    if (mxElapsedUs(start, mxGetTicks()) >= I2C_TIMEOUT_US) {
      MX_LOG(libmx::ERR, "I2C(%d) timeout: cmd:%03x", ch.channel, word);
      return false;
    }
  }
  if (result != nullptr) *result = v;
  return true;
}

u32 startWrite(const I2cChannel& ch) { return I2C_SEND | (static_cast<u32>(ch.address) << 1); }

}  // namespace

I2cChannel i2cOpen(int channel) {
  MX_CHECK(0 <= channel && channel < I2C_ID_MAX);
  const ChannelInfo& info = CHANNELS[channel];
  mxWriteReg(info.controller, I2C_SETUP);
  return I2cChannel{channel, info.command, info.address};
}

int i2cRead(const I2cChannel& ch, u8 reg) {
  u32 v = 0;
  if (!command(ch, startWrite(ch)) || !command(ch, I2C_RESTART | reg) || !command(ch, startWrite(ch) | 1) ||
      !command(ch, I2C_READ, &v)) {
    return -1;
  }
  return static_cast<int>(v & 0xFF);
}

bool i2cWrite(const I2cChannel& ch, u8 reg, u8 value) {
  return command(ch, startWrite(ch)) && command(ch, I2C_SEND | reg) && command(ch, I2C_LAST | value);
}

bool i2cWriteVerify(const I2cChannel& ch, u8 reg, u8 value, u8 mask) {
  i2cWrite(ch, reg, value);
  if (mask == 0) return true;
  auto matches = [&](int read) { return read >= 0 && ((read ^ value) & mask) == 0; };
  for (int round = 0; round < 5; ++round) {
    if (matches(i2cRead(ch, reg))) return true;
    int read = i2cRead(ch, reg);
    if (matches(read)) return true;
    MX_LOG(libmx::ERR, "I2C(%d) write error retry(%d): adr:%02x data:%02x must be %02x", ch.channel, round, reg,
           static_cast<unsigned>(read & 0xFF & mask), static_cast<unsigned>(value & mask));
    i2cWrite(ch, reg, value);
  }
  return false;
}

// ---- board devices --------------------------------------------------------------------------------
namespace {

constexpr u32 FPGA_BASES[4] = {MX_ME1_BASE, MX_ME2_BASE, MX_SDI1_BASE, MX_SDI2_BASE};

// A clock part started by writing 1, then 3, to its control register; locked when bits 0 and 1 of
// its status register are set. Five starts, each polled polls times pollUs apart.
struct ClockPartStart {
  const char* name;
  u32 control;
  u32 status;
  u32 pollUs;
  int polls;
  bool kickWatchdog;  // on a failed start
};

bool startClockPart(const ClockPartStart& p) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    mxWriteReg(p.control, 1);
    mxWaitUs(1000);
    mxWriteReg(p.control, 3);
    for (int i = 0; i < p.polls; ++i) {
      if ((mxReadReg(p.status) & CLOCK_PART_LOCKED) == CLOCK_PART_LOCKED) return true;
      mxWaitUs(p.pollUs);
    }
    MX_LOG(libmx::WARN, "Retry(%d): %s Initialize retry", attempt, p.name);
    if (p.kickWatchdog) mxWatchdogKick();
  }
  MX_LOG(libmx::ERR, "ERROR: %s Initialize", p.name);
  return false;
}

constexpr ClockPartStart GS4915_START = {"GS4915", GS4915 + CLOCK_PART_CONTROL, GS4915 + CLOCK_PART_STATUS, 1000,
                                         5000, true};
constexpr ClockPartStart ISP_CLOCK_START = {"ispClock", ISP_CLOCK + CLOCK_PART_CONTROL, ISP_CLOCK + CLOCK_PART_STATUS,
                                            100, 50, false};

void writeEach(u32 offset, u32 value) {
  for (u32 base : FPGA_BASES) mxWriteReg(base + offset, value);
}

void writeRun(u32 adr, std::initializer_list<u32> values) {
  for (u32 v : values) {
    mxWriteReg(adr, v);
    adr += 4;
  }
}

}  // namespace

int initDevices() {
  const u32 format = static_cast<u32>(mxVideoFormat());
  const u32 flagA = mxPairedFpga() ? 1 : 0;
  mxWriteReg(GLUE_FORMAT, format);
  writeEach(FPGA_FORMAT, format);
  writeEach(FPGA_MODE, flagA);
  mxWriteReg(GLUE_MODE, (mx4kMode() ? 2 : 0) + flagA);

  for (int port = 0; port < 4; ++port) mxPllInitialize(ME1_PLL, port);
  mxPllInitialize(MX_ME2_BASE + FPGA_PLL, 0);
  mxPllInitialize(GLUE_PLL, 0);
  mxPllInitialize(MX_SDI1_BASE + FPGA_PLL, 0);
  mxPllInitialize(MX_SDI2_BASE + FPGA_PLL, 0);

  for (u32 base : FPGA_BASES) {
    mxWriteReg(base + XCVR_RX_CONTROL, 15);
    mxWriteReg(base + XCVR_TX_CONTROL, 15);
  }
  return startClockPart(GS4915_START) ? 1000 : -1;
}

void initSyncTiming() {
  const bool b = mx4kMode();
  const u32 lines = static_cast<u32>((mxIsSdLine(mxVideoFormat()) ? 458 : 454) + mxGetLineOffset());
  writeRun(MX_ME1_BASE + FPGA_SYNC_TIMING, {27, b ? 450u : 455u, b ? 854u : 212u, 488, 470, 466});
  writeRun(MX_ME2_BASE + FPGA_SYNC_TIMING,
           {20, lines + 512, b ? 474u : 479u, b ? 878u : 236u, 512, 488, 861, 861, 852, 867});
  for (u32 base : {MX_SDI1_BASE, MX_SDI2_BASE}) {
    struct {
      u32 word, value;  // word of the run
    } const rows[] = {{0, 20},   {1, lines + 553}, {2, b ? 443u : 418u}, {3, b ? 847u : 175u},
                      {4, 457},  {6, 268},         {7, 25},              {11, 268},
                      {12, 332}, {14, 426},        {15, 955}};
    for (auto r : rows) mxWriteReg(base + FPGA_SYNC_TIMING + 4 * r.word, r.value);
  }
  writeRun(GLUE_SYNC_TIMING, {20, 512});
}

void initSyncTiming2() {
  const u32 lines = mxFrameHeight();
  u32 v = 0;
  if (mx4kMode()) v = 23;
  else if (lines == 540) v = 15;
  else if (lines == 720) v = 7;
  else if (lines == 244) v = 18;
  else if (lines == 288) v = 13;
  writeRun(MX_ME1_BASE + FPGA_SYNC_TIMING_2, {v, 36, 34, 36, 34, 34, 37, 57, 34});
  writeRun(MX_ME2_BASE + FPGA_SYNC_TIMING_2, {v, 36, 34, 36, 34, 34, 34, 34, 37, 57, 34});
  for (u32 base : {MX_SDI1_BASE, MX_SDI2_BASE}) {
    writeRun(base + FPGA_SYNC_TIMING_2, {v, 36, 32});
    writeRun(base + SDI_SYNC_DELAYS, {19, 19, 19});
  }
  writeRun(GLUE_SYNC_TIMING_2, {34, 34, 34});
}

u32 sdiStatus() {
  auto rx = [](u32 base) { return mxReadReg(base + XCVR_RX_CONTROL) >> 16; };
  auto tx = [](u32 base) { return mxReadReg(base + XCVR_TX_STATUS); };
  // Each SDI FPGA reports in its own positions: SDI1 at bits 20..23, SDI2 at bits 24..27.
  return rx(MX_ME1_BASE) | (tx(MX_ME2_BASE) << 8) | (rx(MX_ME2_BASE) << 4) | (tx(MX_SDI1_BASE) << 21) |
         (rx(MX_SDI1_BASE) << 20) | (tx(MX_SDI2_BASE) << 25) | (rx(MX_SDI2_BASE) << 24);
}

void initSdiTransceivers() {
  const int format = mxVideoFormat();
  const bool a = mxPairedFpga(), b = mx4kMode();
  const u32 c = mxIs720Line(format) ? 0x1B : 0x16;
  for (int k = 0; k < 4; ++k) {
    const u32 base = FPGA_BASES[k];
    mxWriteReg(base + XCVR_MODE, a ? 7 : 3);
    mxWriteReg(base + XCVR_ENABLE, 0xFFFF);
    mxWriteReg(base + XCVR_CLOCK, c + (a ? 0x70000 : 0));
    if (k >= 2) continue;
    const u32 link = base + XCVR_LINK_WORDS;
    if (b) {
      mxWriteReg(link, 0x23C000A);
      mxWriteReg(link + 4, format == 0 ? 0x204A8A : 0x20498A);
      mxWriteReg(link + 8, 0x01010101);
      mxWriteReg(link + 12, 0x41414141);
    } else {
      mxWriteReg(link + 8, format == 0 ? 0x1204A8A : 0x120498A);
      mxWriteReg(link + 12, 0x41000000);
      mxWriteReg(link + 4, 0x23C000A);
    }
  }
  mxWriteReg(MX_SDI1_BASE + XCVR_TX_SETUP, 85);
  mxWriteReg(MX_SDI2_BASE + XCVR_TX_SETUP, 85);

  if (!startClockPart(ISP_CLOCK_START)) return;
  mxWaitUs(100000);

  u32 status = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + XCVR_RX_CONTROL, 15);
      mxWriteReg(base + XCVR_TX_CONTROL, 15);
    }
    mxWaitUs(1000);
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + XCVR_RX_CONTROL, 13);
      mxWriteReg(base + XCVR_TX_CONTROL, 7);
      mxWaitUs(1000);
    }
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + XCVR_RX_CONTROL, 8);
      mxWriteReg(base + XCVR_TX_CONTROL, 3);
    }
    mxWaitUs(1000);
    writeEach(XCVR_TX_CONTROL, 1);
    mxWaitUs(1000);
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + XCVR_RX_CONTROL, 0);
      mxWriteReg(base + XCVR_TX_CONTROL, 0);
    }
    status = sdiStatus();
    if (status == SDI_STATUS_OK) break;
    MX_LOG(libmx::WARN, "Retry(%d) : SDI RX/TX Initialize %x", attempt, status);
  }
  if (status != SDI_STATUS_OK) MX_LOG(libmx::ERR, "ERROR : SDI RX/TX Initialize %x", status);

  mxOutConvStart();

  const int d = mxGetLineOffset() - (b ? 1 : 0);
  mxWriteReg(MX_ME2_BASE + XCVR_DELAY, static_cast<u32>(d + 41));
  const u32 sdiDelay = static_cast<u32>((b ? d + 41 : d) + 10);
  mxWriteReg(MX_SDI1_BASE + XCVR_DELAY, sdiDelay);
  mxWriteReg(MX_SDI2_BASE + XCVR_DELAY, sdiDelay);
}

// ---- serdes links -------------------------------------------------------------------------------
namespace {

// The sending side's block n and the receiving side's block n of an FPGA.
constexpr u32 tx(u32 fpga, u32 n) { return fpga + SERDES_TX + SERDES_BLOCK_STRIDE * n; }
constexpr u32 rx(u32 fpga, u32 n) { return fpga + SERDES_RX + SERDES_BLOCK_STRIDE * n; }

constexpr SerdesLink LINKS[N_SERDES_LINKS] = {
    {"ME1->ME2", tx(MX_ME1_BASE, 0), rx(MX_ME2_BASE, 2), 37, {0, 0, 0}},
    {"ME2->ME1", tx(MX_ME2_BASE, 2), rx(MX_ME1_BASE, 0), 20, {0, 0, 0}},
    {"SDI1->ME2", tx(MX_SDI1_BASE, 0), rx(MX_ME2_BASE, 0), 8, {0, 0, 0}},
    {"ME2->SDI1", tx(MX_ME2_BASE, 0), rx(MX_SDI1_BASE, 0), 3, {0, 0, 0}},
    {"SDI2->ME2", tx(MX_SDI2_BASE, 0), rx(MX_ME2_BASE, 1), 8, {0, 0, 0}},
    {"ME2->SDI2", tx(MX_ME2_BASE, 1), rx(MX_SDI2_BASE, 0), 3, {0, 0, 0}},
    {"ME1->CPU", tx(MX_ME1_BASE, 1), GLUE_SERDES_RX, 3, {0x255, 5, 15}},
};

}  // namespace

const SerdesLink& serdesLink(int link) {
  MX_CHECK(0 <= link && link < N_SERDES_LINKS);
  return LINKS[link];
}

int adjustSerdesDelay(int link, int delay) {
  // The link number comes from an on-chip word that the other core writes: refuse anything that is
  // not a link, negative numbers included.
  if (link < 0 || link >= N_SERDES_LINKS) return -1;
  const SerdesLink& l = LINKS[link];
  if (delay == 0) return mxSerdesTrainRetry(l);
  consolePrintf("Serdes delay adjust %s : %d\n", l.name, delay);
  mxSerdesShiftDelay(l, delay, -1);
  return 0;
}

void adjustAllSerdesDelays() {
  for (int link = 0; link < N_SERDES_LINKS; ++link) adjustSerdesDelay(link, 0);
}
