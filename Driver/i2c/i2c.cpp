// I2C channels and the board device bring-up.
#include "Driver/i2c/i2c.h"

#include <initializer_list>

#include "Driver/core/core.h"
#include "Driver/core/format.h"
#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

struct ChannelInfo {
  u32 controller;
  u32 command;
  u8 address;
};
constexpr ChannelInfo CHANNELS[I2C_ID_MAX] = {
    {0x84001000, 0x84001024, 0x4C}, {0x84001000, 0x84001024, 0x34}, {0x84001000, 0x84001020, 0x50},
    {0x85001000, 0x85001024, 0x4C}, {0x85001000, 0x85001024, 0x34}, {0x85001000, 0x85001020, 0x50},
    {0x84001000, 0x84001028, 0x7F}, {0x85001000, 0x85001028, 0x7F}, {0x40000400, 0x40000420, 0x69},
};

// Command words.
constexpr u32 I2C_SEND = 0x100;      // | byte; the first after a stop is the address byte
constexpr u32 I2C_LAST = 0x300;      // | byte, then stop
constexpr u32 I2C_RESTART = 0x500;   // | register, then a repeated start
constexpr u32 I2C_READ = 0x3FF;      // read a byte into bits 0..7, then stop
constexpr u32 I2C_BUSY = 1u << 9;

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
  mxWriteReg(info.controller, 125);
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

constexpr u32 FPGA_BASES[4] = {0x82000000, 0x83000000, 0x84000000, 0x85000000};  // ME1, ME2, SDI1, SDI2
constexpr u32 GLUE = 0x40000000;

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
      if ((mxReadReg(p.status) & 3) == 3) return true;
      mxWaitUs(p.pollUs);
    }
    MX_LOG(libmx::WARN, "Retry(%d): %s Initialize retry", attempt, p.name);
    if (p.kickWatchdog) mxWatchdogKick();
  }
  MX_LOG(libmx::ERR, "ERROR: %s Initialize", p.name);
  return false;
}

constexpr ClockPartStart GS4915 = {"GS4915", 0x84000010, 0x84000014, 1000, 5000, true};
constexpr ClockPartStart ISP_CLOCK = {"ispClock", 0x85000010, 0x85000014, 100, 50, false};

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
  mxWriteReg(GLUE + 0x4500, format);
  writeEach(0x500, format);
  writeEach(0x504, flagA);
  mxWriteReg(GLUE + 0x4504, (mx4kMode() ? 2 : 0) + flagA);

  for (int port = 0; port < 4; ++port) mxPllInitialize(0x82000400, port);
  mxPllInitialize(0x83000400, 0);
  mxPllInitialize(0x40004400, 0);
  mxPllInitialize(0x84000400, 0);
  mxPllInitialize(0x85000400, 0);

  for (u32 base : FPGA_BASES) {
    mxWriteReg(base + 0xB00, 15);
    mxWriteReg(base + 0xB40, 15);
  }
  return startClockPart(GS4915) ? 1000 : -1;
}

void initSyncTiming() {
  const bool b = mx4kMode();
  const u32 lines = static_cast<u32>((mxIsSdLine(mxVideoFormat()) ? 458 : 454) + mxGetLineOffset());
  writeRun(0x82000580, {27, b ? 450u : 455u, b ? 854u : 212u, 488, 470, 466});
  writeRun(0x83000580, {20, lines + 512, b ? 474u : 479u, b ? 878u : 236u, 512, 488, 861, 861, 852, 867});
  for (u32 base : {0x84000500u, 0x85000500u}) {
    struct {
      u32 offset, value;
    } const rows[] = {{0x80, 20},  {0x84, lines + 553}, {0x88, b ? 443u : 418u}, {0x8C, b ? 847u : 175u},
                      {0x90, 457}, {0x98, 268},         {0x9C, 25},              {0xAC, 268},
                      {0xB0, 332}, {0xB8, 426},         {0xBC, 955}};
    for (auto r : rows) mxWriteReg(base + r.offset, r.value);
  }
  writeRun(0x40004580, {20, 512});
}

void initSyncTiming2() {
  const u32 lines = mxFrameHeight();
  u32 v = 0;
  if (mx4kMode()) v = 23;
  else if (lines == 540) v = 15;
  else if (lines == 720) v = 7;
  else if (lines == 244) v = 18;
  else if (lines == 288) v = 13;
  writeRun(0x820005C0, {v, 36, 34, 36, 34, 34, 37, 57, 34});
  writeRun(0x830005C0, {v, 36, 34, 36, 34, 34, 34, 34, 37, 57, 34});
  for (u32 base : {0x84000000u, 0x85000000u}) {
    writeRun(base + 0x5C0, {v, 36, 32});
    writeRun(base + 0x5D4, {19, 19, 19});
  }
  writeRun(0x400045C0, {34, 34, 34});
}

u32 sdiStatus() {
  auto b00 = [](u32 base) { return mxReadReg(base + 0xB00) >> 16; };
  auto b50 = [](u32 base) { return mxReadReg(base + 0xB50); };
  // Each SDI FPGA reports in its own positions: SDI1 at bits 20..23, SDI2 at bits 24..27.
  return b00(0x82000000) | (b50(0x83000000) << 8) | (b00(0x83000000) << 4) | (b50(0x84000000) << 21) |
         (b00(0x84000000) << 20) | (b50(0x85000000) << 25) | (b00(0x85000000) << 24);
}

void initSdiTransceivers() {
  const int format = mxVideoFormat();
  const bool a = mxPairedFpga(), b = mx4kMode();
  const u32 c = mxIs720Line(format) ? 0x1B : 0x16;
  for (int k = 0; k < 4; ++k) {
    const u32 base = FPGA_BASES[k];
    mxWriteReg(base + 0xB04, a ? 7 : 3);
    mxWriteReg(base + 0xB30, 0xFFFF);
    mxWriteReg(base + 0xB44, c + (a ? 0x70000 : 0));
    if (k >= 2) continue;
    if (b) {
      mxWriteReg(base + 0xB60, 0x23C000A);
      mxWriteReg(base + 0xB64, format == 0 ? 0x204A8A : 0x20498A);
      mxWriteReg(base + 0xB68, 0x01010101);
      mxWriteReg(base + 0xB6C, 0x41414141);
    } else {
      mxWriteReg(base + 0xB68, format == 0 ? 0x1204A8A : 0x120498A);
      mxWriteReg(base + 0xB6C, 0x41000000);
      mxWriteReg(base + 0xB64, 0x23C000A);
    }
  }
  mxWriteReg(0x84000B4C, 85);
  mxWriteReg(0x85000B4C, 85);

  if (!startClockPart(ISP_CLOCK)) return;
  mxWaitUs(100000);

  u32 status = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + 0xB00, 15);
      mxWriteReg(base + 0xB40, 15);
    }
    mxWaitUs(1000);
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + 0xB00, 13);
      mxWriteReg(base + 0xB40, 7);
      mxWaitUs(1000);
    }
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + 0xB00, 8);
      mxWriteReg(base + 0xB40, 3);
    }
    mxWaitUs(1000);
    writeEach(0xB40, 1);
    mxWaitUs(1000);
    for (u32 base : FPGA_BASES) {
      mxWriteReg(base + 0xB00, 0);
      mxWriteReg(base + 0xB40, 0);
    }
    status = sdiStatus();
    if (status == SDI_STATUS_OK) break;
    MX_LOG(libmx::WARN, "Retry(%d) : SDI RX/TX Initialize %x", attempt, status);
  }
  if (status != SDI_STATUS_OK) MX_LOG(libmx::ERR, "ERROR : SDI RX/TX Initialize %x", status);

  const int d = mxGetLineOffset() - (b ? 1 : 0);
  mxWriteReg(0x83000B48, static_cast<u32>(d + 41));
  const u32 sdiDelay = static_cast<u32>((b ? d + 41 : d) + 10);
  mxWriteReg(0x84000B48, sdiDelay);
  mxWriteReg(0x85000B48, sdiDelay);
}

// ---- serdes links -------------------------------------------------------------------------------
namespace {

constexpr SerdesLink LINKS[N_SERDES_LINKS] = {
    {"ME1->ME2", 0x82000700, 0x83000620, 37, {0, 0, 0}},
    {"ME2->ME1", 0x83000720, 0x82000600, 20, {0, 0, 0}},
    {"SDI1->ME2", 0x84000700, 0x83000600, 8, {0, 0, 0}},
    {"ME2->SDI1", 0x83000700, 0x84000600, 3, {0, 0, 0}},
    {"SDI2->ME2", 0x85000700, 0x83000610, 8, {0, 0, 0}},
    {"ME2->SDI2", 0x83000710, 0x85000600, 3, {0, 0, 0}},
    {"ME1->CPU", 0x82000710, 0x40004600, 3, {0x255, 5, 15}},
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
