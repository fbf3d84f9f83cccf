// SD down-converters: unit records, aspect geometry, the polyphase filters and the transmitter re-lock.
#include "Driver/outconv/outconv.h"

#include <cmath>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/core/format.h"
#include "Driver/outconv/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"
#include "Lib/Include/lanczos.h"
#include "Lib/Include/log.h"

namespace {

using namespace outconv_regs;

constexpr int N_UNITS = 2;
constexpr int OUTPUTS[N_UNITS] = {MX_OUT_14, MX_OUT_16};

struct Unit {
  u32 fpga = 0;
  int enable = 0;
  double h = 0.0, v = 0.0;  // ratios of the last geometry; 0 before the first
  int level = 1;
  double verticalFactor = 1.0;
};

struct Units {
  Unit unit[N_UNITS];
};

Units fresh() {
  Units u;
  for (int k = 0; k < N_UNITS; ++k) u.unit[k].fpga = FPGA[k];
  return u;
}

Units& units() {
  static Units u = fresh();
  return u;
}

Unit& unitOf(int id) {
  MX_CHECK(id == MX_OUT_14 || id == MX_OUT_16);
  return units().unit[id == MX_OUT_14 ? 0 : 1];
}

void converter(const Unit& u, u32 word, u32 value) { mxWriteReg(u.fpga + CONVERTER + word, value); }
void transmitter(const Unit& u, u32 word, u32 value) { mxWriteReg(u.fpga + TRANSMITTER + word, value); }

// ---- kernels --------------------------------------------------------------------------------------
constexpr int KERNEL_STEPS = 512;  // samples per unit of x; the table starts at x = -6

struct Kernels {
  float lowPass[OUTCONV_KERNEL_SAMPLES];
  float detail[OUTCONV_KERNEL_SAMPLES];
};

// Our own kernels, not the hardware's (which are not known to us). The detail kernel sums to about
// minus half the low-pass one, so low-pass + f x detail keeps a positive sum for every level factor
// up to 0.8.
const Kernels& kernels() {
  static const Kernels k = [] {
    Kernels t;
    for (int i = 0; i < OUTCONV_KERNEL_SAMPLES; ++i) {
      const double x = -6.0 + static_cast<double>(i) / KERNEL_STEPS;
      t.lowPass[i] = static_cast<float>(lanczos(3.0, x));
      t.detail[i] = static_cast<float>((lanczos(3.0, x) - lanczos(3.0, x / 2.0)) / 2.0);
    }
    return t;
  }();
  return k;
}

// The kernel at sample index i for level factor f; 0 outside the table.
double kernel(double i, double f) {
  const int n = static_cast<int>(std::trunc(i));
  if (n < 0 || n >= OUTCONV_KERNEL_SAMPLES) return 0.0;
  return kernels().lowPass[n] + f * kernels().detail[n];
}

double levelFactor(int level) { return 0.2 * (level - 1); }

// ---- filters --------------------------------------------------------------------------------------
constexpr int TABLE_WORDS = 2048, PHASES = 64;

void loadTable(const Unit& u, u32 select, const u32* words) {
  converter(u, TABLE_SELECT, select);
  mxWriteRegFifo(u.fpga + CONVERTER + TABLE_DATA, words, TABLE_WORDS);
}

// Entry row + 64 (t + 15) of 32 taps t = -15..16 per row. The first table has 64 phases; the second
// 64 rows of variant v (v = 1 shifted by 1 - 1 / h), tap parity p and 16 phases, row 32 v + 16 p + n,
// and the kernel at half the ratio.
void horizontalFilters(const Unit& u) {
  const double h = u.h, f = levelFactor(u.level);
  u32 first[TABLE_WORDS], second[TABLE_WORDS];
  double taps[32];
  for (int n = 0; n < PHASES; ++n) {
    for (int t = -15; t <= 16; ++t) taps[t + 15] = kernel((6.0 + (t - n / 64.0 / h) * h) * KERNEL_STEPS, f);
    storeNormalisedTaps(taps, 32, true, &first[n], PHASES);
  }
  for (int v = 0; v < 2; ++v) {
    for (int p = 0; p < 2; ++p) {
      for (int n = 0; n < 16; ++n) {
        for (int t = -15; t <= 16; ++t) {
          const double x = t - n / 16.0 / h - (v == 1 ? 1.0 / h - 1.0 : 0.0);
          taps[t + 15] = (t + 15) % 2 != p ? 0.0 : kernel((6.0 + 0.5 * x * h) * KERNEL_STEPS, f);
        }
        storeNormalisedTaps(taps, 32, true, &second[32 * v + 16 * p + n], PHASES);
      }
    }
  }
  loadTable(u, SELECT_HORIZONTAL_1, first);
  loadTable(u, SELECT_HORIZONTAL_2, second);
}

// Entry n + 64 (t + 7) + 1024 field of 16 taps t = -7..8 per phase. The second field lies half an
// output line lower, and half a source line lower again where the source is interlaced.
void verticalFilter(const Unit& u) {
  const double v = u.v, g = u.verticalFactor, f = levelFactor(u.level);
  const bool interlaced = !mxIs720Line(mxVideoFormat());
  u32 table[TABLE_WORDS];
  double taps[16];
  for (int field = 0; field < 2; ++field) {
    const double shift = field == 0 ? 0.0 : 0.5 / v - (interlaced ? 0.5 : 0.0);
    for (int n = 0; n < PHASES; ++n) {
      for (int t = -7; t <= 8; ++t) taps[t + 7] = kernel(((t - n / 64.0 / v + shift) * v * g + 6.0) * KERNEL_STEPS, f);
      storeNormalisedTaps(taps, 16, true, &table[n + 1024 * field], PHASES);
    }
  }
  loadTable(u, SELECT_VERTICAL, table);
}

void filters(const Unit& u) {
  if (u.h <= 0.0 || u.v <= 0.0) return;  // no geometry yet
  horizontalFilters(u);
  verticalFilter(u);
}

// ---- aspect geometry --------------------------------------------------------------------------------
struct Aspect {
  double x, y, width, height;
  u32 first, last;  // vertical window
};

// [mode - MX_OUTCONV_SQUEEZE][format 0..3]
constexpr Aspect ASPECTS[3][4] = {
    {{0, 0.18, 720, 486.2, 0, 245}, {0, 0.1, 720, 576, 0, 290}, {0, 0.12, 720, 486, 0, 244}, {0, 0, 720, 576, 0, 290}},
    {{-120, 0.18, 960, 486.2, 0, 245},
     {-120, 0.1, 960, 576, 0, 290},
     {-120, 0.12, 960, 486.2, 0, 244},
     {-120, 0, 960, 576, 0, 290}},
    {{0, -1.5, 720, 364, 31, 213},
     {0, 0, 720, 432.03, 36, 252},
     {0, 0.12, 720, 364, 31, 213},
     {0, 0, 720, 432, 36, 253}},
};

void geometry(Unit& u, const Aspect& a) {
  double W = mxFrameWidth(), H = mxFrameHeight();
  double width = a.width, start = 0.0;
  converter(u, PROGRESSIVE, mxIs720Line(mxVideoFormat()) ? 1 : 0);
  if (a.x < 0) {  // crop the left side: whole pixel pairs, and a phase
    const double c = -a.x / (width / W);
    const double k = 2.0 * std::trunc(c / 2.0);
    converter(u, H_CROP, truncateToWord(k - 1));
    converter(u, H_PHASE, truncateToWord((c - k) * 16384.0));
    width += a.x;
    start += k;
    W -= k;
  } else {
    converter(u, H_CROP, 0xFFFFFFFF);
    converter(u, H_PHASE, 32768);
  }
  if (a.x + width > 722.0) {  // keep inside the SD line
    W *= (720.0 - a.x) / width;
    width = 720.0 - a.x;
  }
  converter(u, V_OFFSET, a.y < 0 ? truncateToWord(-std::trunc(-a.y)) : 0);
  converter(u, V_PHASE, truncateToWord((a.y - std::trunc(a.y)) * 32768.0));  // keeps the offset's sign
  converter(u, LINE_END, truncateToWord(start + W + 6.0));
  converter(u, LINES, truncateToWord(H + 7.0));
  u.h = width / W;
  u.v = a.height / H / 2.0;
  converter(u, H_RATIO, truncateToWord(32768.0 * u.h));
  converter(u, V_RATIO, truncateToWord(32768.0 * u.v));
  filters(u);
}

// ---- transmitter re-lock ------------------------------------------------------------------------------
bool locked(const Unit& u) {
  const u32 converterBits = mxReadReg(u.fpga + CONVERTER + LOCK) & LOCKED_BITS;
  const u32 transmitterBits = (mxReadReg(u.fpga + TRANSMITTER + TX_LOCK) * 2) & LOCKED_BITS;
  return (converterBits | transmitterBits) == LOCKED_BITS;
}

void relock(const Unit& u) {
  if (mx4kMode()) return;
  transmitter(u, TX_MODE, u.enable != 0 ? TX_MODE_ON : TX_MODE_OFF);
  for (int attempt = 0; attempt < 5; ++attempt) {
    transmitter(u, TX_RESET, 15);
    converter(u, RESET_A, 1);
    converter(u, RESET_B, 1);
    mxWaitUs(1000);
    transmitter(u, TX_RESET, 7);
    mxWaitUs(1000);
    transmitter(u, TX_RESET, 3);
    mxWaitUs(1000);
    converter(u, RESET_A, 0);
    mxWaitUs(1000);
    converter(u, RESET_B, 0);
    transmitter(u, TX_RESET, 1);
    mxWaitUs(1000);
    transmitter(u, TX_RESET, 0);
    if (locked(u)) return;
  }
  consolePrintf("after change D/C mode, SDI_TX is not locked\n");
}

}  // namespace

void mxOutConvInit() {
  const int format = mxVideoFormat();
  const bool fifty = format == 1 || format == 3 || format == 5;
  for (u32 f : FPGA) {
    const struct {
      u32 adr, value;
    } words[] = {
        {SD_FORMAT, fifty ? 5u : 4u}, {SD_ENABLE, 1},         {SD_TX_DELAY, 36},       {SD_SYNC, 529},
        {SD_TIMING, 787},             {SD_TIMING + 4, 48},    {SD_TIMING + 8, 755},    {SD_OUTPUT_DELAY, 36},
        {SD_FRAME + 4, 0},            {SD_FRAME + 8, 0xFFFFFFFF}, {SD_FRAME + 16, 2048}, {SD_FRAME + 20, 0},
        {SD_FRAME + 24, 720},         {SD_TX_TIMING, format == 2 ? 40u : 42u},           {SD_TX_DELAY, 36},
        {SD_TX_LIMIT, 999},           {SD_FRAME + 28, fifty ? 290u : 245u},              {SD_FRAME, 39936},
        {SD_WINDOW + 16, 720},        {SD_WINDOW, 39936},
    };
    for (auto w : words) mxWriteReg(f + w.adr, w.value);
  }
}

void mxOutConvStart() {
  const int format = mxVideoFormat();
  for (int id : OUTPUTS) {
    unitOf(id).verticalFactor = (format == 0 || format == 2) ? 1.25 : 1.0;
    mxOutConvSetAspectMode(id, MX_OUTCONV_SQUEEZE);
  }
}

void mxOutConvSetEnable(int id, int on) {
  Unit& u = unitOf(id);
  MX_CHECK(on == 0 || on == 1);
  transmitter(u, TX_ENABLE, static_cast<u32>(on));
  transmitter(u, TX_MODE, on != 0 ? TX_MODE_ON : TX_MODE_OFF);
  u.enable = on;
  relock(u);
}

void mxOutConvSetAspectMode(int id, int mode) {
  Unit& u = unitOf(id);
  const int format = mxVideoFormat();
  if (format > 3) return;
  const int m = (mode == MX_OUTCONV_SIDE_CROP || mode == MX_OUTCONV_LETTERBOX) ? mode - MX_OUTCONV_SQUEEZE : 0;
  const Aspect& a = ASPECTS[m][format];
  geometry(u, a);
  mxWriteReg(u.fpga + COEFFS + V_WINDOW_FIRST, a.first);
  mxWriteReg(u.fpga + COEFFS + V_WINDOW_LAST, a.last);
  const bool narrow = format == 2 || (format == 3 && mode == MX_OUTCONV_LETTERBOX);
  mxWriteReg(u.fpga + SD_TX_TIMING, narrow ? 40 : 42);
}

void mxOutConvSetFilterLevel(int id, int level) {
  Unit& u = unitOf(id);
  u.level = (1 <= level && level <= 5) ? level : 1;
  filters(u);
}

void mxOutConvSetPhaseMode(int id, int mode) {
  const Unit& u = unitOf(id);
  MX_CHECK(MX_OUTCONV_PHASE_1 <= mode && mode <= MX_OUTCONV_PHASE_2);
  const bool first = mode == MX_OUTCONV_PHASE_1;
  u32 a = 2640, b = first ? 78 : 1113;
  switch (mxVideoFormat()) {
    case 1:
    case 5: a = first ? 5020 : 5220, b = first ? 70 : 1116; break;
    case 2: a = 3290, b = first ? 827 : 737; break;
    case 3: a = 620, b = first ? 823 : 748; break;
    default: break;
  }
  converter(u, PHASE_MODE, static_cast<u32>(mode - MX_OUTCONV_PHASE_1));
  converter(u, PHASE_A, a);
  converter(u, PHASE_B, b);
}

void mxOutConvSetScaleMode(int id, int on, float ratio) {
  const Unit& u = unitOf(id);
  u32 mode = 7;
  if (on != 0) {
    const int r = truncateToInt(ratio * 4096.0f);
    mode = r == 4259 ? 3 : r == 4423 ? 5 : 1;
  }
  converter(u, SCALE_MODE, mode);
}

const float* mxOutConvLowPass() { return kernels().lowPass; }
const float* mxOutConvDetail() { return kernels().detail; }

void mxOutConvReset() { units() = fresh(); }
