// Format timing, clock PLLs and board monitoring.
#include "Driver/core/format.h"

#include <cmath>
#include <initializer_list>

#include "Driver/calllog.h"
#include "Driver/core/core.h"
#include "Driver/core/regs.h"
#include "Driver/ddr3/regs.h"
#include "Driver/still/still.h"
#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

// Polls a port register every 10 us until bit is clear; a port that stays busy for 100 polls fails
// the check instead of hanging the caller.
void waitPortReady(u32 adr, u32 bit) {
  int cnt = 0;
  while (mxReadReg(adr) & bit) {
    ++cnt;
    MX_CHECK(cnt < 100);
    mxWaitUs(10);
  }
}

}  // namespace

// ---- board monitoring -----------------------------------------------------------------------------
u32 mxTemperatureCode(double celsius) { return static_cast<u32>((celsius + 273.15) * 8.127387 * 16); }

void mxSetTemperatureAlarm(u32 port, int celsius) {
  mxWriteReg(port + XADC_ADDRESS, XADC_UPPER_THRESHOLD);  // over-temperature upper threshold
  mxWriteReg(port + XADC_DATA, mxTemperatureCode(celsius + 2));
  waitPortReady(port + XADC_ADDRESS, XADC_BUSY);
  mxWriteReg(port + XADC_ADDRESS, XADC_LOWER_THRESHOLD);  // lower threshold, where the alarm clears
  mxWriteReg(port + XADC_DATA, mxTemperatureCode(celsius - 10));
  waitPortReady(port + XADC_ADDRESS, XADC_BUSY);
}

u32 mxReadPowerUnitFlags(int* unitA, int* unitB) {
  u32 r = mxReadReg(BOARD_STRAPS);
  *unitA = (r & (1u << 5)) ? 0 : 1;
  *unitB = (r & (1u << 6)) ? 0 : 1;
  return r;
}

u32 mxGetAlarmStatus() {
  int a = 0, b = 0;
  mxReadPowerUnitFlags(&a, &b);
  const u32 s = mxReadReg(BOARD_POWER_STATUS);
  if ((s & 1) == 0) {
    MX_LOG(libmx::ERR, "Detecting power down");
    mxRestart();
  }
  auto bit = [s](int n) { return (s >> n) & 1; };
  u32 w = 0;
  if (!bit(2)) w |= 1u << 0;
  if (a && !bit(5)) w |= 1u << 1;
  if (b && !bit(6)) w |= 1u << 2;
  if (a && bit(3)) w |= 1u << 3;
  if (b && bit(4)) w |= 1u << 4;
  if (!bit(1)) w |= 1u << 6;
  constexpr u32 PORTS[5] = {GLUE_XADC, MX_ME1_BASE + FPGA_XADC, MX_ME2_BASE + FPGA_XADC, MX_SDI1_BASE + FPGA_XADC,
                            MX_SDI2_BASE + FPGA_XADC};
  for (int i = 0; i < 5; ++i) {
    if (mxReadReg(PORTS[i] + XADC_ALARM) & 1) w |= 1u << (7 + i);
  }
  if (w & 0xF80) w |= 1u << 5;
  return w;
}

// ---- clock PLLs -------------------------------------------------------------------------------------
namespace {

struct PllRow {
  u8 reg;
  u16 keep;     // bits kept from the register
  u16 value;
  u16 valueSd;  // for the 480/576-line formats
};

constexpr PllRow ME1_PORT1[] = {
    {0x28, 0, 0xFFFF, 0xFFFF}, {0x08, 0x1000, 0x1208, 0x1596}, {0x09, 0xFC00, 0, 0},
    {0x4E, 0x66FF, 0x808, 0x808}, {0x4F, 0x666F, 0x1090, 0x1090},
};
constexpr PllRow ME1_PORT2[] = {
    {0x28, 0, 0xFFFF, 0xFFFF},    {0x08, 0x1000, 0x130C, 0x1B2C}, {0x09, 0xFC00, 0, 0},
    {0x0A, 0x1000, 0x1186, 0x1596}, {0x0B, 0xFC00, 0, 0},         {0x0C, 0x1000, 0x10C3, 0x12CB},
    {0x0D, 0xFC00, 0, 0},         {0x0E, 0x1000, 0x1042, 0x1146}, {0x0F, 0xFC00, 0x80, 0x80},
    {0x14, 0x1000, 0x130C, 0x1596}, {0x15, 0xFC00, 0, 0},         {0x18, 0xFC00, 0x190, 0xFA},
    {0x19, 0x8000, 0x7C01, 0x7C01}, {0x1A, 0x8000, 0x7FE9, 0x7FE9}, {0x4E, 0x66FF, 0x108, 0x808},
    {0x4F, 0x666F, 0x8090, 0x1090},
};
constexpr PllRow ME1_PORT3[] = {
    {0x28, 0, 0xFFFF, 0xFFFF},    {0x08, 0x1000, 0x1041, 0x1042}, {0x09, 0x8000, 0, 0x80},
    {0x0A, 0x1000, 0x1104, 0x1186}, {0x0B, 0xFC00, 0, 0},         {0x14, 0x1000, 0x1104, 0x1618},
    {0x15, 0x8000, 0, 0},         {0x18, 0xFC00, 0x3E8, 0xFA},    {0x19, 0x8000, 0x5801, 0x7C01},
    {0x1A, 0x8000, 0x5BE9, 0x7FE9}, {0x4E, 0x66FF, 0x9908, 0x908}, {0x4F, 0x666F, 0x1800, 0x8000},
};
constexpr PllRow GLUE_ROWS[] = {
    {0x0A, 0x1000, 0x1082, 0x1208}, {0x0B, 0xFC00, 0, 0},          {0x14, 0x1000, 0x1208, 0x1820},
    {0x15, 0x8000, 0, 0},          {0x18, 0xFC00, 0x271, 0xFA},    {0x19, 0x8000, 0x7C01, 0x7C01},
    {0x1A, 0x8000, 0x7FE9, 0x7FE9}, {0x4E, 0x66FF, 0x9908, 0x908}, {0x4F, 0x666F, 0x9000, 0x8000},
};
constexpr PllRow FPGA_ROWS[] = {
    {0x28, 0, 0xFFFF, 0xFFFF},    {0x08, 0x1000, 0x1104, 0x1410}, {0x09, 0x8000, 0, 0},
    {0x0A, 0x1000, 0x1041, 0x1104}, {0x0B, 0xFC00, 0, 0},         {0x14, 0x1000, 0x1208, 0x1820},
    {0x15, 0x8000, 0, 0},         {0x18, 0xFC00, 0x271, 0xFA},    {0x19, 0x8000, 0x7C01, 0x7C01},
    {0x1A, 0x8000, 0x7FE9, 0x7FE9}, {0x4E, 0x66FF, 0x9908, 0x908}, {0x4F, 0x666F, 0x9000, 0x8000},
};

struct PllTable {
  const PllRow* rows;
  int n;
};

template <int N>
constexpr PllTable table(const PllRow (&rows)[N]) {
  return {rows, N};
}

PllTable pllRows(u32 base, int port) {
  if (base == ME1_PLL) {
    if (port == 1) return table(ME1_PORT1);
    if (port == 2) return table(ME1_PORT2);
    if (port == 3) return table(ME1_PORT3);
    return {nullptr, 0};
  }
  if (base == GLUE_PLL) return table(GLUE_ROWS);
  if (base == MX_ME2_BASE + FPGA_PLL || base == MX_SDI1_BASE + FPGA_PLL || base == MX_SDI2_BASE + FPGA_PLL) {
    return table(FPGA_ROWS);
  }
  return {nullptr, 0};
}

void programPll(u32 base, int port, bool sd) {
  const u32 ready = base == ME1_PLL ? 1u << (port + PLL_LOCK_SHIFT) : PLL_BUSY;
  const PllTable t = pllRows(base, port);
  for (int i = 0; i < t.n; ++i) {
    const PllRow& r = t.rows[i];
    const u32 adr = r.reg + (static_cast<u32>(port) << 8);
    mxWriteReg(base + PLL_ADDRESS, adr);
    mxReadReg(base + PLL_WRITE);
    waitPortReady(base + PLL_ADDRESS, ready);
    const u32 v = mxReadReg(base + PLL_READ);
    mxWriteReg(base + PLL_ADDRESS, adr);
    mxWriteReg(base + PLL_WRITE, ((sd ? r.valueSd : r.value) & ~r.keep) | (v & r.keep));
    waitPortReady(base + PLL_ADDRESS, ready);
  }
}

}  // namespace

int mxPllInitialize(u32 base, int port) {
  const u32 c = mxReadReg(base + PLL_CONTROL) & 0xFFFF;
  const u32 reset = 1u << port;
  const bool sd = mxIsSdLine(mxVideoFormat());
  for (int attempt = 0; attempt < 5; ++attempt) {
    mxWriteReg(base + PLL_CONTROL, c | reset);
    programPll(base, port, sd);
    mxWriteReg(base + PLL_CONTROL, c & ~reset);
    for (int i = 0; i < 20; ++i) {
      if ((mxReadReg(base + PLL_CONTROL) >> (port + PLL_LOCK_SHIFT)) & 1) return 0;
      mxWaitUs(10);
    }
    MX_LOG(libmx::WARN, "Retry(%d): PLL(%08x:%d) Initialize", attempt, base, port);
  }
  MX_LOG(libmx::ERR, "PLL(%08x:%d) Initialize", base, port);
  return -1;
}

// ---- window and still timing --------------------------------------------------------------------
namespace {

struct WindowBlock {
  u32 base;
  int offset;
  u32 a, b, c, d;
};

void writeWindowBlock(const WindowBlock& w) {
  const u32 top = static_cast<u32>(w.offset + 2), bottom = top + mxFrameHeight();
  const u32 sources[4] = {w.a, w.b, w.c, w.d};
  for (u32 k = 0; k < 4; ++k) mxWriteReg(w.base + WINDOW_SOURCES + 4 * k, sources[k] | WINDOW_SOURCE_ON);
  mxWriteReg(w.base + WINDOW_LAST_PIXEL, mxFrameWidth() - 1);
  for (u32 off : WINDOW_TOPS) mxWriteReg(w.base + off, top);
  for (u32 off : WINDOW_BOTTOMS) mxWriteReg(w.base + off, bottom);
}

// The three mixer windows of one ME FPGA, then its field window.
void writeMeWindows(u32 fpga) {
  writeWindowBlock({fpga + ME_MIXER_WINDOW_1, 0, 0x0C00, 0x0A00, 0, 0});
  writeWindowBlock({fpga + ME_MIXER_WINDOW_2, 0, 0x1200, 0x1600, 0, 0});
  writeWindowBlock({fpga + ME_MIXER_WINDOW_3, 0, 0x1800, 0x1C00, 0, 0});
  mxWriteReg(fpga + ME_FIELD_TOP, 2);
  mxWriteReg(fpga + ME_FIELD_BOTTOM, mxFrameHeight() + 2);
}

}  // namespace

void mxInitWindowTiming() {
  const bool paired = mxPairedFpga();
  writeMeWindows(mxMeBase(0));
  writeMeWindows(mxMeBase(1));
  constexpr WindowBlock FIXED[] = {
      {ME1_PLAYER_WINDOWS[0], -1, 0x8C00, 0x8E00, 0, 0},
      {ME1_PLAYER_WINDOWS[1], -1, 0x9000, 0x9200, 0, 0},
      {ME1_PLAYER_WINDOWS[2], -1, 0x9400, 0x9500, 0, 0},
      {ME1_PLAYER_WINDOWS[3], -1, 0x9600, 0x9700, 0, 0},
      {ME2_OUTPUT_WINDOW_1, 0, 0xB001, 0xB201, 0xB000, 0xB200},
  };
  for (const auto& w : FIXED) writeWindowBlock(w);
  if (paired) writeWindowBlock({ME2_OUTPUT_WINDOW_2, 0, 0xB401, 0xB601, 0xB000, 0xB200});
  else writeWindowBlock({ME2_OUTPUT_WINDOW_2, 0, 0xB401, 0xB601, 0xB400, 0xB600});
  writeWindowBlock({ME2_OUTPUT_WINDOW_3, 0, 0x2201, 0, 0, 0});
}

void mxStillInitialize() {
  mxStillReset();
  const u32 width = (mxFrameWidth() + 63) / 64 * 64 - 1;
  const u32 height = (mxFrameHeight() + 15) / 16 * 16 + 2;
  for (u32 player : ME1_STILL_WINDOWS) {
    mxWriteReg(player + STILL_STORE, 0);
    mxWriteReg(player + STILL_STORE_2, 0);
    mxWriteReg(player + STILL_MASK, 0xFFFFFFFF);
    mxWriteReg(player + STILL_STRIDE, 2048);
    mxWriteReg(player + STILL_TOP, 2);
    mxWriteReg(player + STILL_LAST_PIXEL, width);
    mxWriteReg(player + STILL_BOTTOM, height);
  }
}

// ---- glue FPGA format timing --------------------------------------------------------------------
namespace {

struct Timing {
  u32 mode;
  u32 v[4];
};

void writeTiming(const Timing& t) {
  mxWriteReg(GLUE_TIMING_MODE, t.mode);
  for (u32 i = 0; i < 4; ++i) mxWriteReg(GLUE_TIMING_VALUES + 4 * i, t.v[i]);
}

// [format class][preset 0..3, 4 = any other][flag]; classes: 720-line, 1080-line, 480/576-line.
constexpr Timing PRESETS[3][5][2] = {
    {{{0, {236, 479, 0, 91}}, {4, {824, 479, 0, 91}}},
     {{2, {236, 420, 0, 106}}, {3, {824, 420, 0, 106}}},
     {{1, {282, 544, 245, 213}}, {1, {282, 544, 245, 213}}},
     {{6, {824, 493, 0, 89}}, {6, {824, 493, 0, 89}}},
     {{0, {236, 479, 0, 91}}, {0, {236, 479, 0, 91}}}},
    {{{0, {149, 479, 0, 91}}, {4, {520, 479, 0, 91}}},
     {{2, {149, 420, 0, 106}}, {3, {520, 420, 0, 106}}},
     {{1, {282, 544, 245, 213}}, {1, {282, 544, 245, 213}}},
     {{6, {520, 493, 0, 90}}, {6, {520, 493, 0, 90}}},
     {{0, {149, 479, 0, 91}}, {0, {149, 479, 0, 91}}}},
    {{{0, {336, 479, 16, 91}}, {4, {928, 479, 80, 91}}},
     {{2, {336, 420, 16, 106}}, {3, {928, 420, 80, 106}}},
     {{1, {282, 544, 244, 213}}, {1, {282, 544, 244, 213}}},
     {{6, {928, 493, 80, 89}}, {6, {928, 493, 80, 89}}},
     {{0, {336, 479, 16, 91}}, {0, {336, 479, 16, 91}}}},
};

int formatClass(int format) { return mxIs720Line(format) ? 0 : mxIsSdLine(format) ? 2 : 1; }

}  // namespace

void mxSetDefaultFormatTiming() {
  constexpr Timing DEFAULTS[3] = {{0, {236, 479, 0, 91}}, {0, {149, 509, 0, 91}}, {0, {336, 479, 16, 91}}};
  mxWriteReg(GLUE_TIMING_CONTROL, TIMING_CONTROL_DEFAULT);
  writeTiming(DEFAULTS[formatClass(mxVideoFormat())]);
}

void mxSetFormatTiming(int preset, int flag) {
  MX_NOTE_CALL(preset, static_cast<float>(flag));
  const int p = (preset >= 0 && preset <= 3) ? preset : 4;
  writeTiming(PRESETS[formatClass(mxVideoFormat())][p][flag == 1 ? 1 : 0]);
}

void mxLoadFormatTable() {
  MX_NOTE_CALL(0);
  const double gamma = mxIsSdLine(mxVideoFormat()) ? 0.3 : 0.4;
  mxWriteReg(GLUE_FORMAT_TABLE_CONTROL, FORMAT_TABLE_LOAD);
  for (int i = 0; i < 256; ++i) {
    mxWriteReg(GLUE_FORMAT_TABLE_DATA, static_cast<u32>(255.0 * std::pow(i / 255.0, gamma)));
  }
  mxWriteReg(GLUE_FORMAT_TABLE_CONTROL, 0);
}

// ---- debug reports --------------------------------------------------------------------------------
namespace {

// Frame counters of the bandwidth and block time reports.
int bandwidthFrames = 0;
int blockTimeFrames = 0;

// Counts frames 0..179; a report is due at 120.
bool reportDue(int& counter) {
  bool due = counter == 120;
  counter = (counter + 1) % 180;
  return due;
}

}  // namespace

void mxFormatReset() {
  bandwidthFrames = 0;
  blockTimeFrames = 0;
}

void mxReportBandwidth() {
  if (!reportDue(bandwidthFrames)) return;
  struct MemoryPort {
    const char* name;
    u32 port;
    double clock;  // Hz
  };
  constexpr MemoryPort PORTS[] = {
      {"ME1 HP", MX_ME1_BASE + DDR3_PORT_0, 200e6}, {"ME1 HR", MX_ME1_BASE + DDR3_PORT_1, 266.6e6},
      {"ME2 HP", MX_ME2_BASE + DDR3_PORT_0, 200e6}, {"ME2 HR", MX_ME2_BASE + DDR3_PORT_1, 266.6e6},
      {"SDI HR", MX_SDI1_BASE + DDR3_PORT_0, 200e6}, {"SDI HR", MX_SDI2_BASE + DDR3_PORT_0, 200e6},
  };
  for (const auto& p : PORTS) {
    const u32 idle = mxReadReg(p.port + DDR3_PORT_IDLE_COUNT), transfers = mxReadReg(p.port + DDR3_PORT_TRANSFER_COUNT);
    mxWriteReg(p.port + DDR3_PORT_COUNT_CONTROL, 1);
    mxWriteReg(p.port + DDR3_PORT_COUNT_CONTROL, 0);
    MX_LOG(libmx::INFO, "%s : %6.1f MB/s at %4.1f%%\n", p.name, transfers * 256.0 / 3 / 1000000,
           (1 - idle / (p.clock * 3)) * 100);
  }
  consolePrintf("\n");
}

void mxReportBlockTimes() {
  if (!reportDue(blockTimeFrames)) return;
  const u32 me1 = mxMeBase(0), me2 = mxMeBase(1);
  struct Block {
    const char* name;
    u32 adr;
  } const blocks[] = {
      {"ME1 BKGD", me1 + ME_BKGD_TIME}, {"ME1 KEY1", me1 + ME_KEY1_TIME}, {"ME1 KEY2", me1 + ME_KEY2_TIME},
      {"ME2 BKGD", me2 + ME_BKGD_TIME}, {"ME2 KEY1", me2 + ME_KEY1_TIME}, {"ME2 KEY2", me2 + ME_KEY2_TIME},
  };
  for (const auto& b : blocks) MX_LOG(libmx::INFO, "%s : %5.2f ms\n", b.name, mxReadReg(b.adr) * 0.00096);
}
