// Chroma keyers of the ME keys: mode, hue range, two reference colours converted from R, G, B to
// 10-bit Y, Cb, Cr, and the lookup table that is streamed into the keyer at once.
#include "Driver/key/chroma.h"

#include <cmath>

#include "Common/reg.h"
#include "Driver/calllog.h"
#include "Driver/key/key.h"
#include "Driver/key/regs.h"
#include "Lib/Include/check.h"

namespace {

constexpr int N_KEYS = 4, N_HW_CONTEXTS = 2;
constexpr u32 BANK_TOGGLE = 3;
constexpr u32 MODE_A1 = 4, MODE_B1 = 32, MODE_B2 = 16;

struct ChromaBlock {
  u32 base = 0;
  u32 bank = 1;
  u32 mode = 0;
  u32 range = 0;
  s32 rawA[3] = {};
  u32 colorA[3] = {};
  u32 colorB[3] = {};
  u8 loaded = 0;
};

ChromaBlock* blocks() {
  static ChromaBlock all[N_CHROMA_BLOCKS];
  return all;
}

ChromaBlock& block(int target) {
  MX_CHECK(MX_KEY1 <= target && target <= MX_KEY4);
  return blocks()[keyIndex(target) + N_KEYS * mxContextIndex()];
}

// A component on the 10-bit scale: trunc(x) + offset within 0..1023.
u32 component(float x, int offset) {
  float v = std::trunc(x) + static_cast<float>(offset);
  return v <= 0.0f ? 0u : v >= 1023.0f ? 1023u : static_cast<u32>(v);
}

// R, G, B on the 12-bit scale to 10-bit Y, Cb, Cr with the coefficients of the current format.
void convert(int r, int g, int b, u32 out[3]) {
  const bool sd = mxVideoFormat() == 4 || mxVideoFormat() == 5;
  const float R = static_cast<float>(r), G = static_cast<float>(g), B = static_cast<float>(b);
  float y, cb, cr;
  if (sd) {
    y = 0.299f * R + 0.587f * G + 0.114f * B;
    cb = (B - y) * 0.4935f;
    cr = (R - y) * 0.6239f;
  } else {
    y = 0.2126f * R + 0.7152f * G + 0.0722f * B;
    cb = (B - y) * 0.4715f;
    cr = (R - y) * 0.5556f;
  }
  out[0] = component(y * 0.213875f, 64);
  out[1] = component(cb * 0.25f, 512);
  out[2] = component(cr * 0.25f, 512);
}

}  // namespace

void chromaSetBases() {
  for (int c = 0; c < N_CONTEXT; ++c) {
    u32 bank = c < N_HW_CONTEXTS ? mxMeBase(c) : keyreg::SPARE_BANK;
    for (int k = 0; k < N_KEYS; ++k) {
      blocks()[k + N_KEYS * c].base = bank + keyreg::CHROMA_BLOCK + keyreg::KEY_STRIDE * static_cast<u32>(k);
    }
  }
}

void chromaWriteBlock(int n) {
  using namespace keyreg;
  ChromaBlock& c = blocks()[n];
  mxWriteReg(c.base + CHROMA_MODE, c.mode | c.range << CHROMA_RANGE_SHIFT);
  for (u32 k = 0; k < 3; ++k) mxWriteReg(c.base + CHROMA_RAW_A + 4 * k, static_cast<u32>(c.rawA[k]));
  for (u32 k = 0; k < 3; ++k) mxWriteReg(c.base + CHROMA_COLOR_A + 4 * k, c.colorA[k]);
  for (u32 k = 0; k < 3; ++k) mxWriteReg(c.base + CHROMA_COLOR_B + 4 * k, c.colorB[k]);
  if (c.loaded != 0) {
    c.bank ^= BANK_TOGGLE;
    c.loaded = 0;
  }
  mxWriteReg(c.base + CHROMA_BANK, c.bank);
}

void chromaReset() {
  for (int n = 0; n < N_CHROMA_BLOCKS; ++n) blocks()[n] = ChromaBlock{};
  chromaSetBases();
}

void mxChromaKeySetMode(int target, int enable, int spill, int modeA, int modeB) {
  MX_NOTE_CALL(target, static_cast<float>(enable), static_cast<float>(spill), static_cast<float>(modeA), static_cast<float>(modeB));
  ChromaBlock& c = block(target);
  MX_CHECK(0 <= enable && enable <= 1);
  MX_CHECK(0 <= spill && spill <= 1);
  c.mode = static_cast<u32>(enable) | static_cast<u32>(spill) << 1 | (modeA == MX_CHROMA_MODE_A1 ? MODE_A1 : 0) |
           (modeB == MX_CHROMA_MODE_B2 ? MODE_B2 : 0) | (modeB == MX_CHROMA_MODE_B1 ? MODE_B1 : 0);
}

void mxChromaKeySetRange(int target, int base, int width) {
  MX_NOTE_CALL(target, static_cast<float>(base), static_cast<float>(width));
  // The base is added, not or-ed: its low bits overlap the shifted end (base 10, width 20: 162).
  block(target).range = static_cast<u32>(base) + (static_cast<u32>(base + width + 8) << 2);
}

void mxChromaKeySetColorA(int target, int r, int g, int b) {
  MX_NOTE_CALL(target, static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
  ChromaBlock& c = block(target);
  c.rawA[0] = r, c.rawA[1] = g, c.rawA[2] = b;
  convert(r, g, b, c.colorA);
}

void mxChromaKeySetColorB(int target, int r, int g, int b) {
  MX_NOTE_CALL(target, static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
  convert(r, g, b, block(target).colorB);
}

void mxChromaKeyWriteTable(int target, const u16* table) {
  MX_NOTE_CALL(target);
  ChromaBlock& c = block(target);
  // The contexts without hardware keep their bank state only: their blocks share the ME2 bank.
  if (mxContextIndex() < N_HW_CONTEXTS) {
    mxWriteReg(c.base + keyreg::CHROMA_TABLE_ADDRESS, 0);
    for (int k = 0; k < N_CHROMA_TABLE; ++k) mxWriteReg(c.base + keyreg::CHROMA_TABLE_DATA, table[k]);
  }
  c.loaded = 1;
}
