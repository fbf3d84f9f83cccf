// Genlock: reference selection, detector set-up, output phase, and the per-frame lock loop (coarse
// frequency pull-in, fine phase lock) with the black-burst level detector and the averaging of the
// oscillator value into the non-volatile words.
#include "Driver/genlock/genlock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "Common/reg.h"
#include "Common/storage.h"
#include "Driver/calllog.h"
#include "Driver/genlock/regs.h"
#include "Driver/multiview/multiview.h"
#include "Driver/sdi/sdi.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Lib/Include/storage.h"

namespace {

enum Reference { INTERNAL = 0, BLACK_BURST = 1, BLACK_BURST_2 = 2, TRI_LEVEL = 3 };
// Words of the non-volatile storage area.
enum Stored { STORED_MARKER = 0, STORED_START = 1, STORED_AVERAGE = 2 };

constexpr int RING = 10;
constexpr float TARGET = -0.35f;
constexpr int LOG_EVERY = 120;
constexpr int COARSE_SETTLE = 9, FINE_REALIGN = 2, FINE_SETTLE = 5, INTERNAL_SETTLE = 10, CLOCK_AT = 3;
constexpr int SMALL_STEPS = 15, GOOD_STEPS = 30, AVERAGE_FRAMES = 64;
constexpr int LEVEL_CYCLE = 5, FREE_RUN_ANALYSES = 10, MAX_PEAKS = 6, LEVEL_MAX = 253;
constexpr float NS_PER_PHASE = 26.94f;

struct Genlock {
  bool built = false;
  int reference = BLACK_BURST;
  bool freeRun = false;
  int h = 0, v = 0;
  bool rephase = false;
  int dac = static_cast<int>(GENLOCK_DAC_CENTRE);
  float last = 0.0f;
  bool fine = false;
  bool locked = false;
  int goodSteps = 0;   // fine steps in the band, towards locked
  int smallSteps = 0;  // coarse steps below 0.3, towards fine
  bool settle = false;
  int settleCount = 0;
  int direction = 0;
  float target = TARGET;
  int logCount = 0;
  int levelFrame = 0;
  int levelAnalyses = 0;  // non-flat analyses while running free
  int period = 0;         // P
  int samples = 63;       // N
  float ring[RING] = {};
  int ringIndex = 0;
  s64 dacSum = 0;
  int dacCount = 0;
};

int clampDac(s64 dac) { return static_cast<int>(std::clamp<s64>(dac, 0, GENLOCK_DAC_MAX)); }

u32 stored(int idx) {
  MX_CHECK(0 <= idx && idx < 3);
  return Storage::instance().readWord(STORAGE_GENLOCK + 4 * idx);
}

void store(int idx, u32 value) {
  MX_CHECK(0 <= idx && idx < 3);
  Storage::instance().writeWord(STORAGE_GENLOCK + 4 * idx, value);
}

// The oscillator value to start from: the one kept from an earlier lock, else the centre.
int startDac() {
  if (stored(STORED_MARKER) != STORAGE_GENLOCK_MARKER) return static_cast<int>(GENLOCK_DAC_CENTRE);
  return clampDac(stored(STORED_START));
}

Genlock& stateRecord() {
  static Genlock g;
  return g;
}

Genlock& state() {
  Genlock& g = stateRecord();
  if (!g.built) {
    g = Genlock{};
    g.built = true;
    g.dac = startDac();
  }
  return g;
}

void writeDac(Genlock& g) { mxWriteReg(ME1_GENLOCK_DAC, static_cast<u32>(g.dac)); }

bool isSd(int format) { return format == 4 || format == 5; }
bool is50(int format) { return format == 1 || format == 3 || format == 5 || format == 7; }
// The second black-burst reference lies 150 lines earlier in these formats, 180 in the others.
bool secondReference150(int format) { return format == 1 || format == 3 || format == 7; }

void initDetector(Genlock& g) {
  g.fine = g.freeRun = g.settle = g.locked = false;
  std::fill(std::begin(g.ring), std::end(g.ring), 0.0f);
  g.ringIndex = 0;
  g.last = 0.0f;
  g.target = TARGET;
  g.goodSteps = g.smallSteps = g.settleCount = g.logCount = g.levelFrame = g.levelAnalyses = g.dacCount = 0;
  g.direction = 0;
  g.dacSum = 0;

  const int format = mxVideoFormat();
  g.samples = isSd(format) ? 87 : 63;
  const u32 slice = isSd(format) ? 28 : 20;
  u32 mode = 0, select = 0;
  g.period = 0;
  if (g.reference == INTERNAL) {
    mode = format == 6 ? 17 : 0;
  } else if (g.reference == TRI_LEVEL) {
    static const int periods[] = {4400, 5280, 3300, 3960};
    g.period = format < 4 ? periods[format] : format == 6 || format == 7 ? 5500 : 0;
    mxWriteReg(GENLOCK_MODE, 0);
  } else if (format == 0 || format == 2 || format == 6) {
    g.period = 66000;
    g.samples = 63;
    select = 6;
    mode = format == 6 ? 18 : 0;
  } else {
    g.period = format == 4 ? 6864 : format == 5 ? 6912 : 9504;
  }
  mxWriteReg(GENLOCK_CONTROL, GENLOCK_SETUP);
  mxWriteReg(GENLOCK_MODE, mode);
  mxWriteReg(GENLOCK_COUNT, static_cast<u32>(g.period - 1));
  mxWriteReg(GENLOCK_SELECT, select);
  mxWriteReg(GENLOCK_SAMPLES, static_cast<u32>(g.samples));
  mxWriteReg(GENLOCK_SLICE, slice);
  mxWriteReg(GENLOCK_CONTROL, GENLOCK_START);
  mxWriteReg(GENLOCK_CONTROL, 0);
  mxWriteReg(GENLOCK_LEVEL_CONTROL, GENLOCK_LEVEL_ON);
  mxWriteReg(GENLOCK_OSCILLATOR, GENLOCK_OSCILLATOR_ON);
  g.dac = clampDac(g.dac);
  writeDac(g);
  mxWriteReg(GENLOCK_PHASE, 0);
  mxMvBlank();
  g.rephase = true;
}

void setReferenceOutput(bool setup) {
  const int format = mxVideoFormat();
  if (format > 7) return;
  u32 a = 0, b = 0, c = 0;
  if (is50(format)) {
    a = 1;
  } else {
    b = setup ? 1 : 0;
    c = format == 6 ? 1 : 0;
  }
  mxWriteReg(GENLOCK_REF_OUT_A, a);
  mxWriteReg(GENLOCK_REF_OUT_B, b);
  mxWriteReg(GENLOCK_REF_OUT_C, c);
}

s64 modulo(s64 x, s64 m) { return ((x % m) + m) % m; }

// The output timing phase from the horizontal and vertical phase, by format and reference.
void applyPhase(const Genlock& g) {
  struct Timing {
    s64 frame, line, base[3];  // base: internal, black burst, tri-level
  };
  static const Timing timings[] = {
      {4950000, 2200, {6, 4817482, 4909258}},      {5940000, 2640, {190, 5861764, 5891340}},
      {4950000, 1650, {-228, 2331618, 2427794}},   {5940000, 1980, {-116, 2878692, 2913548}},
      {900900, 858, {-459, 877621, 877621}},       {1080000, 864, {-463, 1061765, 1061765}},
      {6187500, 2750, {3712708, 1102770, 6136854}},
  };
  const int format = mxVideoFormat();
  const Timing& t = timings[std::min(format, 6)];
  const int kind = g.reference == INTERNAL ? 0 : g.reference == TRI_LEVEL ? 2 : 1;
  const s64 offset = mxGetLineOffset() + 2 * mxSdiGetDelay();
  const s64 x = modulo(t.base[kind] + 2 * s64{g.h} - offset + 2 * t.line * g.v, t.frame);
  const s64 second = g.reference == BLACK_BURST_2 ? (secondReference150(format) ? 150 : 180) * t.line : 0;
  mxWriteReg(GENLOCK_PHASE, static_cast<u32>(modulo(x + t.frame - second, t.frame)));
  mxMvBlank();
}

bool hasSync(const Genlock& g) {
  if (s64{mxReadReg(GENLOCK_PULSES)} < g.samples - 1) return false;
  const int format = mxVideoFormat();
  int expected;
  if (g.reference == TRI_LEVEL) {
    static const int periods[] = {1481, 1778, 1111, 1333};
    if (format < 4) expected = periods[format];
    else if (format == 6 || format == 7) expected = 1852;
    else return false;
  } else {
    expected = is50(format) ? 3200 : 3178;
  }
  // The period word is a count: a word with its top bit set is far off, not negative.
  return std::abs(expected - s64{mxReadReg(GENLOCK_PERIOD)}) <= 9;
}

// The reference phase: the mean of N samples, each a count (folded into -P/2 .. P/2) and a fraction
// of eighths, in quarter counts.
float measurePhase(const Genlock& g) {
  s64 sum = 0;
  const s64 half = g.period / 2;
  for (int i = 0; i < g.samples; ++i) {
    mxWriteReg(GENLOCK_SAMPLE_INDEX, static_cast<u32>(i));
    const u32 w = mxReadReg(GENLOCK_SAMPLE);
    const s64 count = w >> GENLOCK_SAMPLE_SHIFT;
    sum += (w & GENLOCK_SAMPLE_FRACTION) + 8 * (count - (count >= half ? g.period : 0));
  }
  return static_cast<float>(sum) / 32.0f / static_cast<float>(g.samples);
}

// Every fifth frame the level histogram of the black burst sets the slice level between its first
// two peaks; a flat one means the signal has no sync levels and the clock runs free.
void levelDetector(Genlock& g) {
  ++g.levelFrame;
  if (g.levelFrame < LEVEL_CYCLE) {
    mxWriteReg(GENLOCK_CAPTURE, g.levelFrame == 1 ? 1 : 0);
    return;
  }
  g.levelFrame = 0;
  u32 bins[GENLOCK_BINS];
  u64 total = 0;
  int first = -1, last = -1;
  for (int b = 0; b < GENLOCK_BINS; ++b) {
    mxWriteReg(GENLOCK_BIN, static_cast<u32>(b));
    bins[b] = mxReadReg(GENLOCK_BIN_COUNT);
    total += bins[b];
    if (bins[b] != 0) {
      if (first < 0) first = b;
      last = b;
    }
  }
  if (first < 0 || last - first <= 3) {
    if (!g.freeRun) {
      MX_LOG(libmx::INFO, "Free run");
      g.fine = false;
      g.settle = true;
      g.freeRun = true;
    }
    return;
  }
  if (g.freeRun && ++g.levelAnalyses >= FREE_RUN_ANALYSES) {
    MX_LOG(libmx::INFO, "Lock to B.B.");
    g.freeRun = false;
    g.levelAnalyses = 0;
  }
  int peaks[MAX_PEAKS];
  int n = 0;
  for (int b = 1; b < GENLOCK_BINS - 1 && n < MAX_PEAKS; ++b) {
    if (200 * u64{bins[b]} > total && bins[b] > bins[b - 1] && bins[b] > bins[b + 1]) peaks[n++] = b;
  }
  if (n < 2) return;
  int q = peaks[1];
  for (int k = 2; k < n; ++k) {
    if (bins[peaks[k]] > bins[q]) q = peaks[k];
  }
  mxWriteReg(GENLOCK_LEVEL, static_cast<u32>(std::min(2 * q - (3 * peaks[0] + 2 * q) / 5, LEVEL_MAX)));
}

// The phase step since the last measurement, wrapped into (-Q/2, Q/2) for Q = P / 4.
float phaseStep(Genlock& g, float p) {
  const float q = static_cast<float>(g.period) / 4.0f;
  float d = p - g.last;
  if (q > 0.0f) {
    while (d >= q / 2) d -= q;
    while (d <= -q / 2) d += q;
  }
  g.last = p;
  return d;
}

void unlock(Genlock& g) {
  g.fine = false;
  g.settle = true;
  g.settleCount = 0;
}

void coarseStep(Genlock& g) {
  const float p = measurePhase(g);
  float d = phaseStep(g, p);
  float c;
  if (d < -10.0f) {
    d = -10.0f;
    c = -16000.0f;
  } else if (d > 10.0f) {
    d = 10.0f;
    c = 16000.0f;
  } else {
    c = 1600.0f * d;
  }
  g.ring[g.ringIndex] = d;
  g.ringIndex = (g.ringIndex + 1) % RING;
  float s = 0.0f;
  for (float r : g.ring) s += r;
  const float i = s * std::fabs(s) / 4.0f;
  g.dac = clampDac(g.dac - static_cast<s64>(std::trunc(c + i)));
  writeDac(g);
  if (++g.logCount >= LOG_EVERY) {
    MX_LOG(libmx::INFO, "locking: %5.2f %06x %5.3f %5.2f", static_cast<double>(p), g.dac, static_cast<double>(i),
           static_cast<double>(d));
    g.logCount = 0;
  }
  if (!(-0.3f < d && d < 0.3f)) {
    g.smallSteps = 0;
    return;
  }
  if (++g.smallSteps < SMALL_STEPS) return;
  MX_LOG(libmx::INFO, "Goto fine tuning: %5.2f %06x %5.2f %5.2f", static_cast<double>(p), g.dac,
         static_cast<double>(i), static_cast<double>(d));
  g.fine = true;
  g.locked = false;
  g.smallSteps = g.goodSteps = g.logCount = g.direction = 0;
  mxWriteReg(GENLOCK_CONTROL, GENLOCK_ALIGN);
  mxWriteReg(GENLOCK_CONTROL, 0);
  g.settle = true;
}

void fineStep(Genlock& g) {
  const float p = measurePhase(g);
  const float d = std::clamp(phaseStep(g, p), -10.0f, 10.0f);
  if (d < 0.0f) g.direction = -1;
  else if (d > 0.0f) g.direction = 1;
  const float e = p - g.target;
  if (std::fabs(e) > 30.0f) {
    MX_LOG(libmx::INFO, "Unlocked: %5.2f %06x %5.2f", static_cast<double>(p), g.dac, static_cast<double>(e));
    unlock(g);
    return;
  }
  if (!g.locked) {
    if (-0.2f < e && e < 0.2f) {
      if (++g.goodSteps >= GOOD_STEPS) {
        g.locked = true;
        g.goodSteps = 0;
        MX_LOG(libmx::INFO, "Locked: %5.2f %04x %6.3f", static_cast<double>(p), g.dac, static_cast<double>(e));
      }
    } else {
      g.goodSteps = 0;
    }
  }
  // Push towards the target unless the phase is moving there already; near it by single steps.
  float k = -256.0f * e;
  if (e == 0.0f || (e < 0.0f && g.direction == 1) || (e > 0.0f && g.direction == -1)) k = 0.0f;
  if (std::fabs(e) <= 0.3f && k != 0.0f) k = k > 0.0f ? 1.0f : -1.0f;
  const float correction = std::clamp(k * (1.0f + 400.0f * std::fabs(d)), -100.0f, 100.0f);
  g.dac = clampDac(g.dac + static_cast<s64>(std::trunc(correction)));
  writeDac(g);
  if (!g.locked && ++g.logCount >= LOG_EVERY) {
    MX_LOG(libmx::INFO, "fine: %5.2f %04x %6.3f %4.1fns", static_cast<double>(p), g.dac, static_cast<double>(e),
           static_cast<double>(e * NS_PER_PHASE));
    g.logCount = 0;
  }
}

// While locked, the oscillator value is averaged over 64 frames into the non-volatile words; the
// first average is also the start value of later runs.
void averageDac(Genlock& g) {
  if (!g.fine || !g.locked) {
    g.dacSum = 0;
    g.dacCount = 0;
    return;
  }
  g.dacSum += g.dac;
  if (++g.dacCount < AVERAGE_FRAMES) return;
  const u32 average = static_cast<u32>(g.dacSum / AVERAGE_FRAMES);
  const bool first = stored(STORED_MARKER) != STORAGE_GENLOCK_MARKER;
  store(STORED_MARKER, STORAGE_GENLOCK_MARKER);
  if (first) store(STORED_START, average);
  store(STORED_AVERAGE, average);
  g.dacSum = 0;
  g.dacCount = 0;
}

}  // namespace

void mxGenlockSetMode(int mode, int sync, int setup) {
  MX_NOTE_CALL(mode, static_cast<float>(sync), static_cast<float>(setup));
  MX_CHECK(mode == MX_GENLOCK_EXTERNAL || mode == MX_GENLOCK_INTERNAL);
  MX_CHECK(MX_GENLOCK_BBST <= sync && sync <= MX_GENLOCK_TRI);
  MX_CHECK(setup == MX_GENLOCK_NO_SETUP || setup == MX_GENLOCK_SETUP);
  Genlock& g = state();
  const bool internal = mode == MX_GENLOCK_INTERNAL;
  mxWriteReg(GENLOCK_INTERNAL_SELECT, internal ? 1 : 0);
  const int reference = internal ? INTERNAL : sync - MX_GENLOCK_BBST + BLACK_BURST;
  if (reference != g.reference) {
    // The two black-burst kinds share the detector's set-up; only the phase differs.
    const bool blackBursts = (reference == BLACK_BURST || reference == BLACK_BURST_2) &&
                             (g.reference == BLACK_BURST || g.reference == BLACK_BURST_2);
    g.reference = reference;
    g.rephase = true;
    if (!blackBursts) initDetector(g);
  }
  setReferenceOutput(setup == MX_GENLOCK_SETUP);
}

int mxGenlockIsLocked() {
  const Genlock& g = state();
  if (g.reference == INTERNAL) return 1;
  return g.fine && g.locked ? 1 : 0;
}

void mxGenlockSetPhase(int h, int v) {
  MX_NOTE_CALL(0, static_cast<float>(h), static_cast<float>(v));
  Genlock& g = state();
  g.h = h;
  g.v = v;
  g.rephase = true;
}

void mxGenlockSetFormatClock() {
  MX_NOTE_CALL(0);
  static const u32 clocks[] = {897497, 2098, 448981, 4428, 5611, 5628, 1123159};
  const int format = mxVideoFormat();
  mxWriteReg(GENLOCK_CLOCK_24, format == 6 ? 1 : 0);
  mxWriteReg(GENLOCK_CLOCK_VALUE, format >= 0 && format <= 6 ? clocks[format] : 1);
  mxWriteReg(GENLOCK_CLOCK_LOAD, 0);
  mxWriteReg(GENLOCK_CLOCK_LOAD, 1);
}

void mxGenlockReset() { initDetector(state()); }

void mxGenlockUpdate(int) {
  Genlock& g = state();
  if (g.rephase) {
    g.rephase = false;
    applyPhase(g);
  }
  if (g.reference == INTERNAL) {
    g.dac = startDac();
    writeDac(g);
    if (g.settleCount < INTERNAL_SETTLE && ++g.settleCount == CLOCK_AT) mxGenlockSetFormatClock();
    return;
  }
  averageDac(g);
  if (!hasSync(g)) {
    if (g.fine) MX_LOG(libmx::INFO, "Unlocked: no sync");
    unlock(g);
    return;
  }
  if (g.reference != TRI_LEVEL) levelDetector(g);
  if (g.settle) {
    ++g.settleCount;
    if (!g.fine && g.settleCount <= COARSE_SETTLE) return;
    if (g.fine) {
      if (g.settleCount == FINE_REALIGN) {
        mxMvBlank();
        mxWriteReg(GENLOCK_CONTROL, GENLOCK_REALIGN);
        mxWriteReg(GENLOCK_CONTROL, 0);
      }
      if (g.settleCount < FINE_SETTLE) return;
    }
    g.settle = false;
    g.settleCount = 0;
  }
  if (g.fine) fineStep(g);
  else coarseStep(g);
}

void mxSetCustomOption(int) {}

void mxGenlockResetDriver() { stateRecord().built = false; }
