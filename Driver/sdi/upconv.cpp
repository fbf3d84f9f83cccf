// SDI up-converters of inputs 27, 28, 31 and 32: a standard-definition picture (720 pixels, 486 or
// 576 lines) scaled to the output format through a window. Polyphase tables are sampled from
// windowed-sinc kernels with an enhancement term, computed once per filter mode; a recompute
// writes the scaler's step and phase words and the three coefficient tables at once.
#include <cmath>
#include <numbers>

#include "Common/reg.h"
#include "Driver/sdi/regs.h"
#include "Driver/sdi/sdi.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"

namespace {

using namespace sdi_regs;

constexpr int N_CONVERTERS = 4;
constexpr int N_MODES = 5;
constexpr float SHARPNESS[N_MODES] = {-0.5f, -0.25f, 0.0f, 0.4f, 0.8f};

// A kernel sampled at perUnit points per unit of x, x = 0 at sample `centre`.
template <int N, int PER_UNIT>
struct Sampled {
  static constexpr int CENTRE = N / 2;
  float v[N];
  // The sample nearest x; 0 outside the table.
  float at(float x) const {
    const long i = CENTRE + std::lround(x * PER_UNIT);
    return i >= 0 && i < N ? v[i] : 0.0f;
  }
};

struct ModeKernels {
  Sampled<2560, 128> h8;  // horizontal luma: k(x, 1.0, 8, p)
  Sampled<640, 32> s5;    // horizontal chroma: k(x, 0.5, 5, p)
  Sampled<2560, 128> v3;  // vertical: k(x, 2.0, 3, p)
  Sampled<2560, 128> p3;  // enhancement: k(x, 1.0, 3, p)
};

struct Kernels {
  bool built = false;
  ModeKernels mode[N_MODES];
};

Kernels& kernels() {
  static Kernels k;
  return k;
}

struct Converter {
  float x = 0.0f, y = 0.0f;
  float width = 1.0f, height = 1.0f;
  int mode = 3;
  bool enhanceOff = false;
};

Converter (&converters())[N_CONVERTERS] {
  static Converter c[N_CONVERTERS];
  return c;
}

constexpr int DEFAULT_OPTION = 3;

// Table sizes in entries and the staging buffer for the longest.
constexpr int H_ENTRIES = 4096, V_ENTRIES = 2048, P_ENTRIES = 2048;
constexpr int TAP_STRIDE = 256;  // entries between two taps of a phase
constexpr float ONE = 16384.0f;  // coefficient 1.0
constexpr float PHASE_UNIT = 32768.0f;

int converterOf(int ch) {
  MX_CHECK(ch==MX_IN_27 || ch==MX_IN_28 || ch==MX_IN_31 || ch==MX_IN_32);
  return ch == MX_IN_27 ? 0 : ch == MX_IN_28 ? 1 : ch == MX_IN_31 ? 2 : 3;
}

// k(x, s, a, p): a sinc windowed by a wider sinc, with an enhancement term weighted by p.
float kernel(float x, float s, float a, float p) {
  if (x == 0.0f) return 1.0f;
  if (std::fabs(x * s) > a) return 0.0f;
  const float v = std::numbers::pi_v<float> * x * s;
  const float w = v / a;
  const float e = 0.2f * v;
  return (std::sin(w) / w) * (std::sin(v) / v + 0.2f * p * (std::sin(e) / e) * std::cos(0.55f * v));
}

template <int N, int PER_UNIT>
void sample(Sampled<N, PER_UNIT>& t, float s, float a, float p) {
  for (int i = 0; i < N; ++i) t.v[i] = kernel(static_cast<float>(i - t.CENTRE) / PER_UNIT, s, a, p);
}

// Divides the taps by their sum (a zero sum leaves zeros).
template <int N>
void normalise(float (&taps)[N]) {
  float sum = 0.0f;
  for (float t : taps) sum += t;
  for (float& t : taps) t = sum != 0.0f ? t / sum : 0.0f;
}

u32 coefficient(float c, float round) { return static_cast<u16>(truncateToInt(round + c * ONE)); }

// The horizontal table: a 128-phase, 8-tap luma set, then four 32-phase, 16-tap chroma sets with
// every other tap zero by the parity of the first pixel. Tap t of a phase n lies at t - 7 - n /
// phases, so the last tap of phase 0 is the centre.
void horizontalTable(const ModeKernels& k, float rh, int xi, u32* out) {
  for (int i = 0; i < H_ENTRIES; ++i) out[i] = 0;
  for (int n = 0; n < 128; ++n) {
    float taps[8];
    for (int t = 0; t < 8; ++t) taps[t] = k.h8.v[384 - n + 128 * t];
    normalise(taps);
    for (int t = 0; t < 8; ++t) out[n + TAP_STRIDE * t] = coefficient(taps[t], 0.0f);
  }
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 2; ++b) {
      const float shift = a == 0 ? -(1.0f - rh) : 0.0f;
      for (int n = 0; n < 32; ++n) {
        float taps[16];
        for (int t = 0; t < 16; ++t) {
          const bool zero = ((t ^ b) & 1) == (xi & 1);
          taps[t] = zero ? 0.0f : k.s5.at(static_cast<float>(t - 7) - static_cast<float>(n) / 32.0f + shift);
        }
        normalise(taps);
        for (int t = 0; t < 16; ++t) out[128 + 64 * a + 32 * b + n + TAP_STRIDE * t] = coefficient(taps[t], 0.5f);
      }
    }
  }
}

// Entries of the vertical and enhancement tables wrap around the table: the taps before the centre
// take its last blocks.
int wrapped(int entry, int size) { return entry & (size - 1); }

// The vertical table: both fields, 128 phases, 8 taps at half-line spacing.
void verticalTable(const ModeKernels& k, const float (&field)[2], u32* out) {
  for (int f = 0; f < 2; ++f) {
    for (int phase = 0; phase < 128; ++phase) {
      float taps[8];
      for (int t = 0; t < 8; ++t) {
        const float x = static_cast<float>((t >> 1) - 3) + static_cast<float>(phase & ~3) / 128.0f +
                        (t % 2 == 0 ? 0.5f : 0.0f) + field[f];
        taps[t] = k.v3.at(x);
      }
      normalise(taps);
      for (int t = 0; t < 8; ++t) {
        out[wrapped(phase + 128 * (f + 8 * (t & 1) + (t & ~1) - 2), V_ENTRIES)] = coefficient(taps[t], 0.5f);
      }
    }
  }
}

// The enhancement table: both fields, 128 phases, 7 taps -3..3.
void enhancementTable(const ModeKernels& k, const float (&field)[2], u32* out) {
  for (int f = 0; f < 2; ++f) {
    for (int phase = 0; phase < 128; ++phase) {
      float taps[7];
      for (int t = -3; t <= 3; ++t) taps[t + 3] = k.p3.at(static_cast<float>(t) + phase / 128.0f + field[f] + 0.5f);
      normalise(taps);
      for (int t = -3; t <= 3; ++t) {
        out[wrapped(phase + TAP_STRIDE * t + 128 * f, P_ENTRIES)] = coefficient(taps[t + 3], 0.5f);
      }
    }
  }
}

void loadTable(u32 B, const u32* entries, int n) {
  mxWriteRegFifo(B + UC_TABLE_DATA, entries, static_cast<u32>(n));
}

// The enhancement words of an option: 1 none, 2..4 strong to weak; others clear them.
void writeOption(u32 B, int value) {
  struct Enhancement {
    u32 gain, limit, core, clip;
  };
  constexpr u32 MINUS_100 = static_cast<u32>(-100);
  constexpr Enhancement OPTIONS[4] = {{0, 0, 0, 0}, {300, 2560, 1280, MINUS_100}, {150, 2560, 1280, MINUS_100},
                                      {80, 2560, 1280, MINUS_100}};
  const bool known = value >= 1 && value <= 4;
  const Enhancement e = known ? OPTIONS[value - 1] : Enhancement{0, 0, 0, 0};
  mxWriteReg(B + UC_ENH_RESET, 0);
  mxWriteReg(B + UC_ENH_MODE, 3);
  mxWriteReg(B + UC_ENH_GAIN, e.gain);
  mxWriteReg(B + UC_ENH_LIMIT, e.limit);
  mxWriteReg(B + UC_ENH_CORE, e.core);
  mxWriteReg(B + UC_ENH_CLIP, e.clip);
  mxWriteReg(B + UC_ENH_OFF, known ? 0 : 300);
}

}  // namespace

void mxSdiBuildKernels() {
  Kernels& k = kernels();
  if (k.built) return;
  for (int m = 0; m < N_MODES; ++m) {
    const float p = SHARPNESS[m];
    sample(k.mode[m].h8, 1.0f, 8.0f, p);
    sample(k.mode[m].s5, 0.5f, 5.0f, p);
    sample(k.mode[m].v3, 2.0f, 3.0f, p);
    sample(k.mode[m].p3, 1.0f, 3.0f, p);
  }
  k.built = true;
}

void mxSdiSetUpConverterWindow(int ch, float x, float y, float width, float height) {
  const int i = converterOf(ch);
  MX_CHECK(std::isfinite(x) && std::isfinite(y));
  MX_CHECK(width > 0.0f && height > 0.0f && std::isfinite(width) && std::isfinite(height));
  // Where each HD format samples the SD picture.
  constexpr float OFFSET_X[4] = {0.00052f, 0.00052f, 0.00078f, 0.00078f};
  constexpr float OFFSET_Y[4] = {-0.0032f, -0.0016f, -0.0023f, -0.0028f};
  const int f = mxVideoFormat();
  Converter& c = converters()[i];
  c.x = x + (f < 4 ? OFFSET_X[f] : 0.0f);
  c.y = y + (f < 4 ? OFFSET_Y[f] : 0.0f);
  c.width = width;
  c.height = height;
  mxSdiRecomputeUpConverter(ch);
}

void mxSdiSetUpConverterMode(int ch, int mode) {
  const int i = converterOf(ch);
  MX_CHECK(1 <= mode && mode <= N_MODES);
  converters()[i].mode = mode;
  mxSdiRecomputeUpConverter(ch);
}

void mxSdiSetUpConverterOption(int ch, int value) {
  const int i = converterOf(ch);
  converters()[i].enhanceOff = value < 2 || value > 4;
  writeOption(UPCONV[i], value);
}

void mxSdiRecomputeUpConverter(int ch) {
  const int i = converterOf(ch);
  mxSdiBuildKernels();
  const Converter& c = converters()[i];
  const ModeKernels& k = kernels().mode[c.mode - 1];
  const u32 B = UPCONV[i];
  const int f = mxVideoFormat();
  const float W = static_cast<float>(mxFrameWidth()), H = static_cast<float>(mxFrameHeight());
  const bool progressive = f == 2 || f == 3;

  const float rh = 720.0f / (W * c.width);
  const float src = f % 2 != 0 ? 576.0f : 486.0f;
  const float rv = src / (2.0f * H * c.height);
  mxWriteReg(B + UC_WINDOW, 1);
  mxWriteReg(B + UC_WINDOW + 8, 2);

  const float x0 = -8.0f + (36.0f + W * c.x) * rh;
  const int xi = truncateToInt(x0);
  mxWriteReg(B + UC_H_START, static_cast<u32>(-xi));
  mxWriteReg(B + UC_H_END, static_cast<u32>(12 - xi));
  mxWriteReg(B + UC_PROGRESSIVE, progressive ? 1 : 0);
  mxWriteReg(B + UC_H_STEP, truncateToWord(rh * PHASE_UNIT));
  mxWriteReg(B + UC_V_STEP, truncateToWord(rv * PHASE_UNIT));

  const float y0 = -(19.0f - 5.0f / rv) * rv - (c.y * src / c.height) / 2.0f;
  const int y0i = truncateToInt(y0);
  mxWriteReg(B + UC_V_START, static_cast<u32>(y0i));
  const float r = (1.0f - y0 + static_cast<float>(y0i)) / rv;
  const int ri = truncateToInt(r);
  mxWriteReg(B + UC_V_FIRST, static_cast<u32>(ri));
  mxWriteReg(B + UC_V_LINES, static_cast<u32>(H) + 18);
  mxWriteReg(B + UC_H_PHASE, static_cast<u32>(32768 - truncateToInt((x0 - static_cast<float>(xi)) * PHASE_UNIT)));
  mxWriteReg(B + UC_V_PHASE, truncateToWord((1.0f - (r - static_cast<float>(ri))) * PHASE_UNIT * rv));

  static u32 entries[H_ENTRIES];
  horizontalTable(k, rh, xi, entries);
  mxWriteReg(B + UC_TABLE_ADDRESS, UC_TABLE_H);
  loadTable(B, entries, H_ENTRIES);

  const float field[2] = {0.0f, progressive ? -0.5f : -0.5f + rv / 2.0f};
  verticalTable(k, field, entries);
  mxWriteReg(B + UC_TABLE_ADDRESS, UC_TABLE_V);
  loadTable(B, entries, V_ENTRIES);

  if (c.enhanceOff) {
    // Zeros continue from the vertical table's end.
    for (int e = 0; e < P_ENTRIES; ++e) entries[e] = 0;
  } else {
    enhancementTable(k, field, entries);
    mxWriteReg(B + UC_TABLE_ADDRESS, UC_TABLE_P);
  }
  loadTable(B, entries, P_ENTRIES);

  mxWriteReg(B + UC_WINDOW, 99);
  mxWriteReg(B + UC_WINDOW + 4, 18);
  mxWriteReg(B + UC_WINDOW + 8, 2 * static_cast<u32>(W) + 99);
  mxWriteReg(B + UC_WINDOW + 12, static_cast<u32>(H) + 18);
}

void mxSdiUpConverterInit() {
  mxSdiBuildKernels();
  mxSdiUpConverterReset();
  for (u32 B : UPCONV) writeOption(B, DEFAULT_OPTION);
}

void mxSdiUpConverterReset() {
  for (Converter& c : converters()) c = Converter{};
}
