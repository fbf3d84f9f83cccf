// Transition driver: a shadow state per ME context and target, the wipe pattern tables, and the
// writer of the early update that turns the states of the two hardware MEs into register images.
#include "Driver/transition/transition.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "Common/memory.h"
#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/transition/regs.h"
#include "Lib/Include/check.h"

namespace {

constexpr int N_TARGETS = 5;  // MX_BKGD and the four keys
constexpr int N_BANKS = 2;
constexpr int N_WRITTEN_CONTEXTS = 2;  // contexts of the ME1 and ME2 FPGAs

// Transition types by group.
constexpr int TYPE_MIX2 = 5377;                      // two-position mix
constexpr int TYPE_SPLIT = 5378;                     // centre-split wipe
constexpr int TYPE_EDGE_FIRST = 5379, TYPE_EDGE_LAST = 5386;  // from an edge or a corner
constexpr int TYPE_FREE_FIRST = 5387, TYPE_FREE_LAST = 5389;  // pattern with a free centre
constexpr int TYPE_REVERSED = 5390;
constexpr int TYPE_SHAPE_FIRST = 5391;               // each shape has its own table from 8 on
constexpr int SHAPE_TABLE_FIRST = 8;

constexpr int SLOPE_UNIT = 32768, SLOPE_MAX = 65535;
constexpr int EDGE_MIN = 16;
constexpr int EDGE_AT_ZERO = -48;    // offset of an axis at position 0 without border or softness
constexpr int BORDER_UTIL1 = 1, BORDER_UTIL2 = 3;
constexpr float NEAR_ZERO = 0.0001f;
constexpr u32 MIX_THIRD_TWO_POSITIONS = static_cast<u32>(-64);

// Aspect sections of the pattern tables: the width factor of each.
constexpr double SECTION_ASPECT[N_ASPECTS] = {1.0, 0.5, 1.125, 0.9375, 0.84375, 0.703125};

constexpr bool inRange(int v, int first, int last) { return first <= v && v <= last; }

// One 28-word register image; words are set by their register offset.
struct Image {
  static constexpr int N_REGS = trans::N_REGS;
  u32 w[N_REGS];
  void set(u32 reg, u32 value) {
    const int offset = static_cast<int>(reg);
    MX_CHECK(0 <= offset && offset < N_REGS * 4);
    w[offset / 4] = value;
  }
  void set(u32 reg, int value) { set(reg, static_cast<u32>(value)); }
};

struct TransState {
  bool built;
  u32 base;          // register block
  int context;       // 0..7
  int key;           // 0 background, 1..4
  float scale;       // aspect scale of mxInitialize
  int pgmPvw;        // 1 - pvw
  int type;
  int table;         // pattern table 0..13
  bool borderOn;
  int invert;
  int borderY, borderCb, borderCr;
  int bkgdDve;
  int level;
  float position, second, vertical;
  float centerX, centerY;
  float border, softness;
  float m[6];
  float patternWidth, patternHeight;
  int shiftX, shiftY;
  int borderSource;
  int modPattern[2];  // X, Y: 0 sine, 1 delta
  float modAmp[2], modFreq[2], modPhase[2];
  int borderWidth;    // 1/8 lines
  int slope;
  int latency;
  bool latencyActive;
  int counter;        // frames written with latency, up to 2
  int bank;
  int bankTable[N_BANKS];
  Image image[N_BANKS];
};

struct PatternTable {
  int kind;
  int aspect;
};

struct Driver {
  TransState states[N_CONTEXT][N_TARGETS];
  PatternTable tables[N_TRANSTABLES];
  int aspect = 0;
  float scale = 1.0f;
  Driver() : states() {
    for (int n = 0; n < N_TRANSTABLES; ++n) tables[n] = {n, 0};
  }
};

Driver& driver() {
  static Driver d;
  return d;
}

// 10-bit level: round(x x 1023) within 0..1023.
int level10(float x) {
  float v = std::round(x * 1023.0f);
  if (!(v > 0.0f)) return 0;
  return v >= 1023.0f ? 1023 : static_cast<int>(v);
}

u32 blockBase(int context, int key) {
  u32 offset = key == 0 ? trans::BKGD_BLOCK : trans::KEY_BLOCK + trans::KEY_STRIDE * static_cast<u32>(key - 1);
  if (context == 1 && key == 0 && mxPairedFpga()) return trans::ME2_PAIRED_BKGD_BLOCK;
  return (context < N_WRITTEN_CONTEXTS ? mxMeBase(context) : MX_ME2_PAIRED_BASE) + offset;
}

void pickTable(TransState& s) {
  if (s.type >= TYPE_SHAPE_FIRST) {
    s.table = s.type - TYPE_SHAPE_FIRST + SHAPE_TABLE_FIRST;
    return;
  }
  static constexpr int LIMITS[] = {4096, 2896, 2048, 1448, 1024, 724, 512};
  int n = 0;
  while (n < static_cast<int>(std::size(LIMITS)) && s.slope <= LIMITS[n]) ++n;
  s.table = n;
}

void resetState(TransState& s, float scale) {
  s.base = blockBase(s.context, s.key);
  s.scale = scale;
  s.type = MX_TRANS_MIX;
  s.borderOn = false;
  s.border = 0.0f;
  s.borderWidth = 0;
  s.softness = 0.0f;
  s.slope = SLOPE_UNIT;
  s.position = s.second = s.vertical = 0.0f;
  s.invert = 0;
  s.centerX = s.centerY = 0.0f;
  static constexpr float IDENTITY[] = {1, 0, 0, 0, 1, 0};
  std::copy_n(IDENTITY, 6, s.m);
  s.patternWidth = s.patternHeight = 1.0f;
  s.shiftX = s.shiftY = 0;
  s.latencyActive = false;
  s.counter = 0;
  s.bank = 0;
  pickTable(s);
}

TransState& stateAt(int context, int key) {
  TransState& s = driver().states[context][key];
  if (!s.built) {
    s = TransState{};
    s.built = true;
    s.context = context;
    s.key = key;
    s.pgmPvw = 1;  // program
    resetState(s, driver().scale);
  }
  return s;
}

TransState& state(int target) { return stateAt(mxContextIndex(), mxTargetKeyIndex(target)); }

void checkTarget(int target) { MX_CHECK(target == MX_BKGD || (MX_KEY1 <= target && target <= MX_KEY4)); }
void checkKey(int channel) { MX_CHECK(MX_KEY1 <= channel && channel <= MX_KEY4); }
void checkDirection(int dir) { MX_CHECK(dir == MX_TRANS_MOD_X || dir == MX_TRANS_MOD_Y); }

void checkColor(int y, int cb, int cr) {
  MX_CHECK(0 <= y && y <= 1023);
  MX_CHECK(0 <= cb && cb <= 1023);
  MX_CHECK(0 <= cr && cr <= 1023);
}

void setBorderColor(TransState& s, int y, int cb, int cr) {
  s.borderY = y;
  s.borderCb = cb;
  s.borderCr = cr;
}

// ---- pattern tables ---------------------------------------------------------------------------------

double frac(double x) { return x - std::floor(x); }

// Fraction of n x u, mirrored (1 - f) on odd segments (or on even ones).
double segment(double u, int n, bool mirrorEven) {
  double s = n * u;
  double f = frac(s);
  bool odd = static_cast<long>(std::floor(s)) % 2 != 0;
  return odd != mirrorEven ? 1.0 - f : f;
}

// The corner function of the polygon shapes; sines as the root of 1 - cos^2.
double corner(double f, double angle, double p, double c) {
  double cosA = std::cos(angle), sinA = std::sqrt(1.0 - cosA * cosA);
  double cosF = std::cos(f * angle), sinF = std::sqrt(std::max(0.0, 1.0 - cosF * cosF));
  return p / (cosF - (cosA / sinA) * sinF + sinF / ((c / p) * sinA));
}

// Shape factor of table kind k at the angle fraction u (0..1 around the centre).
double shapeFactor(int k, double u) {
  constexpr double PI = 3.14159265358979323846;
  constexpr double QUARTER = 0.7853981;
  if (k < 8) {
    double f = segment(u, 4, false);
    double limit = 0.99 - 0.005 * k;
    if (limit > f) return corner(f, QUARTER, 1.0, 1.4141);
    // Rounded corner.
    double t = std::tan(limit * QUARTER);
    double s = -t * (std::cos(f * QUARTER) + std::sin(f * QUARTER));
    return std::sqrt(std::max(0.0, (1 - t) * (1 - t) - 2 * t * t + s * s)) - s;
  }
  switch (k) {
    case 8:
      return 1.0;
    case 9: {
      double v = std::tan((u - 0.25) * PI);
      return std::sqrt((v * v + 1) / (1 + 0.4 * v * v));
    }
    case 10: {
      double f = segment(u, 5, false);
      return f < 0.75 ? 2 * (0.5 + 0.5 * f) : 2 * (0.875 - 0.25 * (f - 0.75));
    }
    case 11:
      return corner(segment(u, 5, true), 0.6283185, 2.0, 0.8);
    case 12:
      return corner(frac(2 * u), 1.5707963, 2.0, 2.0);
    default:
      return corner(frac(3 * u), 1.0471975, 1.0, 1.0);
  }
}

// Radius of table kind k in quadrant q at step t (0..1) for the aspect factor a.
int patternRadius(int k, int q, double t, double a) {
  constexpr double PI = 3.14159265358979323846;
  bool odd = (q & 1) != 0;
  double r = odd ? t / a : t * a;
  double length = std::sqrt(1 + r * r);
  if (!odd && a > 1) length /= a;
  if (odd && a <= 1) length *= a;
  double u = std::atan(r) / PI;
  static constexpr double SIGN[] = {-1, 1, 1, -1}, START[] = {0.5, 0, 0.5, 1};
  u = START[q] + SIGN[q] * u;
  double radius = length * 32768.0 / shapeFactor(k, u);
  return static_cast<int>(std::clamp(radius, -1e9, 1e9));
}

// The 256 words of one table section: four quadrants of 64 segments, each the radius at its start
// (low half) and the rise to the next (high half).
void buildSection(int kind, double aspect, u32* words) {
  constexpr int STEPS = 64;
  for (int q = 0; q < 4; ++q) {
    int next = patternRadius(kind, q, 0.0, aspect);
    for (int i = 0; i < STEPS; ++i) {
      int r = next;
      next = patternRadius(kind, q, static_cast<double>(i + 1) / STEPS, aspect);
      words[q * STEPS + i] = (static_cast<u32>(r) & 0xFFFF) | (static_cast<u32>(next - r) << 16);
    }
  }
}

// ---- writer -------------------------------------------------------------------------------------------

int frameWidth() { return static_cast<int>(mxFrameWidth()); }
int frameHeight() { return static_cast<int>(mxFrameHeight()); }

int edgeWidth(const TransState& s) {
  int edge = static_cast<int>((s.border + 4 * s.softness) * 8 * static_cast<float>(frameWidth() / 2));
  return std::max(edge, EDGE_MIN);
}

struct Offsets {
  int x, y;
};

// Edge offsets of a pattern with extents (xe, ye) at horizontal position h and vertical v.
Offsets edgeOffsets(const TransState& s, float xe, float ye, float h, float v, int edge) {
  float e = static_cast<float>(edge);
  Offsets o;
  if (s.scale <= 1.0f) {
    o = {static_cast<int>(8 * xe * h - e), static_cast<int>(8 * ye * v - e / s.scale)};
  } else {
    o = {static_cast<int>(8 * xe * h - s.scale * e), static_cast<int>(8 * ye * v - e)};
  }
  if (!s.borderOn && s.softness < NEAR_ZERO) {
    if (h < NEAR_ZERO) o.x = EDGE_AT_ZERO;
    if (v < NEAR_ZERO) o.y = EDGE_AT_ZERO;
  }
  return o;
}

// Origin, offsets, matrix and modulation of a pattern with extents (xe, ye).
void patternWords(const TransState& s, Image& im, float xe, float ye, Offsets o) {
  float w = static_cast<float>(frameWidth()), h2 = 2.0f * static_cast<float>(frameHeight());
  im.set(trans::ORIGIN_X, static_cast<int>(-8 * (xe + s.m[2]) + 4));
  im.set(trans::ORIGIN_Y, static_cast<int>(-8 * (ye + s.m[5]) + 4));
  im.set(trans::OFFSET_X, o.x);
  im.set(trans::OFFSET_Y, o.y);
  const float matrix[] = {s.m[0], s.m[1], s.m[3], s.m[4]};
  for (u32 i = 0; i < 4; ++i) im.set(trans::MATRIX + 4 * i, static_cast<int>(matrix[i] * 1048576.0f));
  im.set(trans::MODULATION_FREQUENCY, static_cast<u32>(s.modFreq[0] * 65536.0f / w) |
                                   (static_cast<u32>(s.modFreq[1] * 65536.0f / h2) << 16));
  im.set(trans::MODULATION_PHASE,
         static_cast<u32>(s.modPhase[0] * 4096.0f) | (static_cast<u32>(s.modPhase[1] * 4096.0f) << 16));
  im.set(trans::MODULATION_AMPLITUDE,
         static_cast<u32>(h2 * s.modAmp[0] * 64.0f) | (static_cast<u32>(w * s.modAmp[1] * 64.0f) << 16));
}

void buildMix(const TransState& s, Image& im) {
  im.set(trans::CONTROL, s.borderOn ? trans::CONTROL_BORDER : 0u);
  int v = level10(s.position);
  if (s.key != 0) {
    im.set(trans::MIX_LEVEL, v);
    return;
  }
  int v2 = level10(s.second);
  bool ends = (v2 == 0 && v == 1023) || (v2 == 1023 && v == 0);
  if (s.second >= -0.1f && !ends) {
    im.set(trans::CONTROL, trans::CONTROL_TWO_POSITIONS);
    im.set(trans::MIX_FIRST, v2);
    im.set(trans::MIX_SECOND, v);
    im.set(trans::MIX_THIRD, MIX_THIRD_TWO_POSITIONS);
  } else {
    im.set(trans::MIX_LEVEL, 1023 - v);
  }
}

void buildTwoPositionMix(const TransState& s, Image& im) {
  auto code = [](float p) {
    float x = p / 0.45f;
    if (!(x > 0.0f)) return 0;
    return x >= 1.0f ? 0x4000 : static_cast<int>(x * 1024 * 16);
  };
  float p2 = s.second < -0.1f ? 1.0f - s.position : s.second;
  im.set(trans::CONTROL, trans::CONTROL_FIVE_SEVEN);
  im.set(trans::MIX_FIRST, code(p2));
  im.set(trans::MIX_SECOND, code(s.position));
}

void buildWipe(const TransState& s, Image& im) {
  const float w = static_cast<float>(frameWidth()), h = static_cast<float>(frameHeight());
  u32 source = s.bkgdDve != 0 ? 0u : static_cast<u32>(s.borderSource) << 2;
  im.set(trans::CONTROL, source | (s.borderOn ? trans::CONTROL_WIPE | trans::CONTROL_BORDER : 0u));
  im.set(trans::SLOPE, s.slope);
  im.set(trans::BORDER_WIDTH, s.borderWidth);
  const float cx = w * s.centerX, cy = 2 * h * s.centerY;
  if (s.type == TYPE_SPLIT) {
    im.set(trans::CONTROL, (static_cast<u32>(s.borderSource) << 2) | trans::CONTROL_WIPE);
    im.set(trans::EDGE, static_cast<int>((0.5f - s.position) * 2048));
    im.set(trans::SLOPE, 0x100);
    im.set(trans::BORDER_WIDTH, 0x800);
  } else if (inRange(s.type, TYPE_EDGE_FIRST, TYPE_EDGE_LAST)) {
    // Extents of the pattern by type: from an edge, its middle or a corner.
    static constexpr float EXTENT[][2] = {{0, 1}, {2, 1}, {1, 0}, {1, 2}, {0, 0}, {2, 0}, {0, 2}, {2, 2}};
    const int i = s.type - TYPE_EDGE_FIRST;
    const float xe = EXTENT[i][0] * w / 2, ye = EXTENT[i][1] * h;
    int edge = edgeWidth(s);
    Offsets o = edgeOffsets(s, w, 2 * h, s.position, s.position, edge);
    if (i < 2) o.y = static_cast<int>(h) * 16;
    if (i == 2 || i == 3) o.x = static_cast<int>(w) * 8;
    patternWords(s, im, xe, ye, {-o.x, -o.y});
    im.set(trans::EDGE, -edge);
  } else if (inRange(s.type, TYPE_FREE_FIRST, TYPE_FREE_LAST)) {
    int edge = edgeWidth(s);
    Offsets o = edgeOffsets(s, w / 2, h, s.position, s.vertical, edge);
    if (s.type == TYPE_FREE_FIRST + 1) o.y = static_cast<int>(h) * 16;
    if (s.type == TYPE_FREE_LAST) o.x = static_cast<int>(w) * 8;
    patternWords(s, im, cx, cy, {-o.x, -o.y});
    im.set(trans::EDGE, -edge);
  } else if (s.type == TYPE_REVERSED) {
    int edge = -edgeWidth(s);
    im.set(trans::REVERSED, 1);
    patternWords(s, im, cx, cy, edgeOffsets(s, w / 2, h, 1 - s.position, 1 - s.vertical, edge));
    im.set(trans::EDGE, edge);
  } else {
    bool none = s.borderWidth == 0 && s.softness < NEAR_ZERO && s.position < NEAR_ZERO;
    im.set(trans::EDGE, none ? EDGE_MIN : -static_cast<int>(8 * static_cast<float>(frameWidth() / 2) * s.position));
    patternWords(s, im, cx, cy, {0, 0});
  }
}

void buildImage(const TransState& s, Image& im) {
  im = Image{};
  const int w = frameWidth(), h = frameHeight();
  im.set(trans::INVERT, s.invert | (s.modPattern[0] << 2) | (s.modPattern[1] << 3));
  im.set(trans::BORDER_Y, s.borderY);
  im.set(trans::BORDER_CB, s.borderCb);
  im.set(trans::BORDER_CR, s.borderCr);
  im.set(trans::LEVEL, s.level);
  im.set(trans::PATTERN_SIZE, static_cast<u32>(std::lround(static_cast<float>(w) * s.patternWidth) - 1) +
                                  (static_cast<u32>(std::lround(2.0f * static_cast<float>(h) * s.patternHeight) - 1) << 16) +
                                  (static_cast<u32>(s.shiftX) << 12) + (static_cast<u32>(s.shiftY) << 28));
  if (s.type == MX_TRANS_MIX) {
    buildMix(s, im);
  } else if (s.type == TYPE_MIX2) {
    buildTwoPositionMix(s, im);
  } else {
    buildWipe(s, im);
  }
}

void writeImage(const TransState& s, int bank) {
  for (u32 i = 0; i < trans::N_REGS; ++i) mxWriteReg(s.base + 4 * i, s.image[bank].w[i]);
}

// The table address pair of a written context's target; 0 for the ME2 keys in paired-FPGA mode.
u32 tablePair(const TransState& s) {
  if (s.context == 1 && mxPairedFpga()) return s.key == 0 ? trans::ME2_PAIRED_BKGD_TABLE_PAIR : 0;
  return mxMeBase(s.context) + trans::TABLE_PAIRS + trans::TABLE_PAIR_STRIDE * static_cast<u32>(s.key);
}

void writeTableAddress(const TransState& s, int n) {
  MX_CHECK(0 <= n && n < N_TRANSTABLES);
  u32 pair = tablePair(s);
  if (pair == 0) return;
  const PatternTable& t = driver().tables[n];
  mxWriteReg(pair, (static_cast<u32>(t.aspect + N_ASPECTS * n) << trans::SECTION_SHIFT) + trans::PATTERN_MEMORY +
                       trans::TABLE_ADDRESS_FLAGS);
  mxWriteReg(pair + 4, s.base + trans::TABLE_PORT);
}

void writeState(TransState& s) {
  s.latencyActive = s.latency == 1;
  const bool waiting = s.latencyActive && s.counter < 2;
  if (s.latencyActive && !waiting) {
    writeImage(s, s.bank);
    writeTableAddress(s, s.bankTable[s.bank]);
  }
  s.bankTable[s.bank] = s.table;
  if (s.key == 0 && !waiting) {
    u32 me = mxMeBase(s.context);
    mxWriteReg(me + trans::PGM_PVW, static_cast<u32>(s.pgmPvw));
    if (s.context == 1 && mxPairedFpga()) mxWriteReg(trans::ME2_PAIRED_PGM_PVW, static_cast<u32>(s.pgmPvw));
    mxWriteReg(me + trans::MIX_FLAG, s.type == MX_TRANS_MIX ? 1u : 0u);
  }
  buildImage(s, s.image[s.bank]);
  if (!s.latencyActive) {
    writeImage(s, s.bank);
    writeTableAddress(s, s.table);
  } else if (s.key != 0 && waiting && mxKeyParamsChanged(MX_CONTEXT_ME1 + s.context, mxKeyTarget(s.key)) != 0) {
    for (u32 offset : trans::KEY_CLEAR) mxWriteReg(s.base + offset, 0);
  }
  mxWriteReg(s.base + trans::BANK, s.bank == 1 ? trans::BANK_ONE : 0u);
  mxWriteReg(s.base + trans::STROBE, 0);
  s.bank = 1 - s.bank;
  s.counter = s.latencyActive ? std::min(s.counter + 1, 2) : 0;
}

// Reciprocal table of the blocks: for n 256..511 the value 0x800000 / n with the step to the next.
struct Reciprocals {
  u32 words[256];
  constexpr Reciprocals() : words() {
    for (u32 n = 256; n < 512; ++n) {
      u32 a = 0x800000 / n, b = 0x800000 / (n + 1);
      words[n - 256] = a | ((b - a) << 16);
    }
  }
};
constexpr Reciprocals RECIPROCALS;

}  // namespace

int mxTargetKeyIndex(int target) {
  for (int k = 1; k <= 4; ++k) {
    if (target == MX_KEY1 + 2 * (k - 1)) return k;
  }
  MX_CHECK_VALUE(target, MX_BKGD);
  return 0;
}

// ---- setters ----------------------------------------------------------------------------------------
void mxTransSetType(int target, int type, float border, float softness) {
  MX_NOTE_CALL(target, static_cast<float>(type), border, softness);
  checkTarget(target);
  MX_CHECK(MX_TRANS_MIX <= type && type <= MX_TRANS_HEXAGON);
  TransState& s = state(target);
  const float h = static_cast<float>(frameHeight());
  s.type = type;
  // A negative border or softness counts as none.
  s.border = std::max(border, 0.0f);
  s.softness = std::max(softness, 0.0f);
  s.borderOn = s.border > 0.0f;
  s.borderWidth = s.borderOn ? static_cast<int>(h * 8 * border) : 0;
  if (s.softness > 0.0f) {
    float slope = 32768.0f / (softness * h);
    s.slope = slope > SLOPE_MAX ? SLOPE_MAX : static_cast<int>(slope);
  } else {
    s.slope = SLOPE_UNIT;
  }
  pickTable(s);
}

void mxTransSetBkgdPosition(float position, int invert, float second) {
  MX_NOTE_CALL(MX_BKGD, position, static_cast<float>(invert), second);
  TransState& s = state(MX_BKGD);
  s.position = position;
  s.invert = invert != 0 ? 1 : 0;
  s.second = second;
  s.vertical = position;
}

void mxTransSetKeyPosition(int key, float position, int kinv) {
  MX_NOTE_CALL(key, position, static_cast<float>(kinv));
  checkKey(key);
  MX_CHECK(kinv == 0 || kinv == 1);
  TransState& s = state(key);
  s.position = s.second = s.vertical = position;
  s.invert = kinv;
}

void mxTransSetKeyPositionXY(int key, float x, float y) {
  MX_NOTE_CALL(key, x, y);
  checkKey(key);
  TransState& s = state(key);
  s.position = s.second = x;
  s.vertical = y;
  s.invert = 0;
}

void mxTransSetLevel(int target, float level) {
  MX_NOTE_CALL(target, level);
  checkTarget(target);
  state(target).level = level10(level);
}

void mxTransSetBkgdPreview(int pvw) {
  MX_NOTE_CALL(MX_BKGD, static_cast<float>(pvw));
  MX_CHECK(pvw == 0 || pvw == 1);
  state(MX_BKGD).pgmPvw = 1 - pvw;
}

void mxTransSetPatternPosition(int target, float x, float y) {
  MX_NOTE_CALL(target, x, y);
  checkTarget(target);
  TransState& s = state(target);
  s.centerX = x;
  s.centerY = y;
}

void mxTransSetPatternMatrix(int target, const float* m) {
  MX_NOTE_ARRAY(target, m, 6);
  checkTarget(target);
  std::copy_n(m, 6, state(target).m);
}

void mxTransSetPatternSize(int target, float width, float height, int shiftX, int shiftY) {
  MX_NOTE_CALL(target, width, height, static_cast<float>(shiftX), static_cast<float>(shiftY));
  checkTarget(target);
  MX_CHECK(0.0f <= width && width <= 1.0f);
  MX_CHECK(0.0f <= height && height <= 1.0f);
  MX_CHECK(0 <= shiftX && shiftX <= 3);
  MX_CHECK(0 <= shiftY && shiftY <= 3);
  TransState& s = state(target);
  s.patternWidth = width;
  s.patternHeight = height;
  s.shiftX = shiftX;
  s.shiftY = shiftY;
}

void mxTransSetModulation(int target, int dir, float amp, float freq, float phase) {
  MX_NOTE_CALL(target, static_cast<float>(dir), amp, freq, phase);
  checkTarget(target);
  checkDirection(dir);
  MX_CHECK(0.0f <= amp && amp <= 0.5f);
  MX_CHECK(0.0f <= freq && freq <= 100.0f);
  MX_CHECK(0.0f <= phase && phase <= 1.0f);
  TransState& s = state(target);
  const int d = dir - MX_TRANS_MOD_X;
  s.modAmp[d] = amp;
  s.modFreq[d] = freq;
  s.modPhase[d] = phase;
}

void mxTransSetModulationPattern(int target, int dir, int pattern) {
  MX_NOTE_CALL(target, static_cast<float>(dir), static_cast<float>(pattern));
  checkTarget(target);
  checkDirection(dir);
  MX_CHECK(pattern == MX_TRANS_MOD_SINE || pattern == MX_TRANS_MOD_DELTA);
  state(target).modPattern[dir - MX_TRANS_MOD_X] = pattern == MX_TRANS_MOD_DELTA ? 1 : 0;
}

void mxTransSetBorderSource(int target, int src) {
  MX_CHECK(target == MX_BKGD);
  MX_CHECK(src == MX_UTIL1 || src == MX_UTIL2 || src == MX_COLOR_BKGD_BORDER);
  state(target).borderSource = src == MX_UTIL1 ? BORDER_UTIL1 : src == MX_UTIL2 ? BORDER_UTIL2 : 0;
}

void mxTransSetLatency(int channel, int latency) {
  MX_NOTE_CALL(channel, static_cast<float>(latency));
  MX_CHECK(channel == MX_BKGD || (MX_KEY1 <= channel && channel <= MX_KEY4));
  MX_CHECK(latency == 0 || latency == 1);
  TransState& s = state(channel);
  s.latency = latency;
  if (channel != MX_BKGD) mxKeySetDelayed(channel, latency);
}

void mxTransSetBkgdBorderColor(int y, int cb, int cr) {
  checkColor(y, cb, cr);
  setBorderColor(state(MX_BKGD), y, cb, cr);
}

void mxTransSetKeyBorderColor(int key, int y, int cb, int cr) {
  checkKey(key);
  checkColor(y, cb, cr);
  setBorderColor(state(key), y, cb, cr);
}

void mxTransSetBkgdDveFlag(int flag) { state(MX_BKGD).bkgdDve = flag != 0 ? 1 : 0; }

// ---- initialisation, pattern tables, writer ------------------------------------------------------------
void mxTransInitialize(float scale) {
  Driver& d = driver();
  const int format = mxVideoFormat();
  const bool full = scale >= 0.9f;
  d.aspect = (format == 2 || format == 3) ? 1 : format == 4 ? (full ? 2 : 4) : format == 5 ? (full ? 3 : 5) : 0;
  for (int n = 0; n < N_TRANSTABLES; ++n) d.tables[n] = {n, d.aspect};
  d.scale = scale;
  for (int context = 0; context < N_WRITTEN_CONTEXTS; ++context) {
    for (int key = 0; key < N_TARGETS; ++key) {
      TransState& s = stateAt(context, key);
      resetState(s, scale);
      for (u32 bank = 0; bank < N_BANKS; ++bank) {
        mxWriteReg(s.base + trans::BANK, bank);
        mxWriteReg(s.base + trans::STROBE, 0);
        mxWriteRegFifo(s.base + trans::RECIPROCAL, RECIPROCALS.words, std::size(RECIPROCALS.words));
      }
    }
  }
}

void mxTransLoadPatternTables() {
  static u32 section[trans::SECTION_WORDS];
  for (int n = 0; n < N_TRANSTABLES; ++n) {
    for (int j = 0; j < N_ASPECTS; ++j) {
      buildSection(driver().tables[n].kind, SECTION_ASPECT[j], section);
      const u32 address = trans::PATTERN_MEMORY + (static_cast<u32>(j + N_ASPECTS * n) << trans::SECTION_SHIFT);
      for (u32 fpga : {MX_ME1_BASE, MX_ME2_BASE}) mxWriteFpgaMemory(fpga, address, section, sizeof section);
    }
  }
}

void mxTransUpdate() {
  for (int context = 0; context < N_WRITTEN_CONTEXTS; ++context) {
    for (int key = 0; key < N_TARGETS; ++key) writeState(stateAt(context, key));
  }
  mxWriteReg(MX_ME1_BASE + trans::TABLE_COUNT, 4);
  mxWriteReg(MX_ME2_BASE + trans::TABLE_COUNT, mxPairedFpga() ? 5 : 4);
}

void mxTransReset() { driver() = Driver{}; }
