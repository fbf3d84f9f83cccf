// Crosspoint frame writer (stage 1 of mxUpdate): copies the crosspoint image to the crosspoint
// registers of the ME2 FPGA, writes the fixed routing and timing constants and the tally
// selectors, and in 4K mode classifies the sources of the 4K output group and fades it through
// black when it switches between black and a picture.
//
// Byte-to-register packing: a block of the image starting at byte b goes to consecutive registers
// from address a, register a + 4k = byte b + 4k | byte b + 4k + 1 << 8 | byte b + 4k + 2 << 16 |
// byte b + 4k + 3 << 24, i.e. the first byte of every group of four lands in bits 0-7.
#include "Driver/blocks.h"
#include "Driver/xpt/dskmix.h"
#include "Common/reg.h"
#include "Driver/xpt/xptimage.h"

namespace {

constexpr u32 ME2 = MX_ME2_BASE;

struct Block {
  int first;  // image byte
  int bytes;
  u32 reg;    // first register
};
// In write order.
constexpr Block BLOCKS[] = {
    {xpt::BUS, 80, ME2 + 0x1100},        // buses of contexts 0..3, DSK inputs and fills, memory source
    {xpt::OUTPUT, 148, ME2 + 0x1300},    // outputs, AUX buses, external outputs, layer context
    {xpt::MULTIVIEW, 4, ME2 + 0x1398},   // multiview inputs
    {xpt::BUS_ME, 64, ME2 + 0x1200},     // ME-output markers of the buses
    {xpt::DSK_ME, 12, ME2 + 0x2000},     // DSK crosspoint markers
    {xpt::USK, 8, ME2 + 0x2500},         // key-layer sources
    {xpt::INPUT_KEY, 148, ME2 + 0x2540}, // up-stream key of every input
};

constexpr int HOLD_LIMIT = 5, HOLD_LIMIT_SDI = 9;
constexpr int CLASS_ME = 6;
constexpr int RAMP_FRAMES = 20;
constexpr int MEM_BLACK_FADE_INDEX = 11;

// What the 4K classification keeps from frame to frame, per bus A and B of the second context.
struct BusHold {
  int lastCode = 0;
  int source = 0;
  int sub = 0;
  int hold = 0;
};
struct FourKState {
  BusHold bus[2];
  u32 allBlack = 0;  // last written all-black flag (the register's reset value)
  int ramp = 0;
};

FourKState& fourK() {
  static FourKState state;
  return state;
}

void writeBlocks(const XptImage& x) {
  for (const Block& b : BLOCKS) {
    for (int k = 0; k < b.bytes / 4; ++k) mxWriteReg(b.reg + 4 * static_cast<u32>(k), x.word(b.first + 4 * k));
  }
}

// One half of 0x8300201C from the stages (p, q) of a program output and its companion.
u32 stagePair(u32 p, u32 q) {
  u32 v = p == 8 ? ((q & 7) | 8) : (p & 7);
  return v + (q == 8 ? 0x10 : 0);
}

void writeTiming(const XptImage& x) {
  bool paired = mxPairedFpga();
  bool w = x.word(xpt::ME2_FLAG) != 0;
  static const u32 table[2][2][4] = {
      {{0, 0xB7, 0x82, 7}, {0x79, 0, 7, 0xC0}},
      {{0, 0x121, 0x9A, 0xF}, {9, 0, 0x11, 0x132}},
  };
  const u32* t = table[paired ? 1 : 0][w ? 1 : 0];
  mxWriteReg(ME2 + 0x1240, t[0]);
  mxWriteReg(ME2 + 0x1244, t[1]);
  mxWriteReg(ME2 + 0x1260, t[2]);
  mxWriteReg(ME2 + 0x1264, t[3]);
  if (paired) mxWriteReg(ME2 + 0x1258, 0xA50067);
  mxWriteReg(ME2 + 0x1254, 0x43);
  mxWriteReg(ME2 + 0x2010, 0x13F);
  mxWriteReg(ME2 + 0x13A4, 0x186);
}

// Class and sub-source of bus A (0) or B (1) of the second context, with the hold after a change.
int busClass(const XptImage& x, int bus) {
  BusHold& h = fourK().bus[bus];
  int c = x.bytes[xpt::BUS + 16 + bus];
  int me = x.bytes[xpt::BUS_ME + 16 + bus];
  int cls = CLASS_ME;
  int sub = 0;
  if (me == 0 && mxSdiGetStatusBit(c) == 0) {
    if (c <= 1) {
      cls = 0;
      sub = c;
    } else if (c == 2) {
      cls = 4;
    } else if (c <= 5) {
      cls = 1;
      sub = c - 2;
    } else if (c == 6) {
      cls = 2;
    } else if (c == 7) {
      cls = 3;
    }
  }
  if (c != h.lastCode && (cls != h.source || sub != h.sub)) h.hold = 0;
  h.lastCode = c;
  h.source = cls;
  h.sub = sub;
  int limit = HOLD_LIMIT;
  if (c < 8) {
    for (int k = 0; k < 4; ++k) {
      int format = mxSdiGetFormat(MX_IN_1 + 4 * c + k);
      if (format >= 0 && format < 8) limit = HOLD_LIMIT_SDI;
    }
  }
  if (h.hold < limit) {
    ++h.hold;
    cls = CLASS_ME;
  }
  return cls;
}

void writeFourK(const XptImage& x) {
  FourKState& s = fourK();
  const MxDskMixer& dsk = mxDskMixer();
  int cls[3] = {0, 0, 0};
  int lock[2] = {-1, -1};
  u32 allBlack = 1;
  u32 fade[3] = {0, 0, 0};
  int e0 = x.bytes[xpt::DSK_ME + 8] > 1 ? 1 : 0;
  int e1 = x.bytes[xpt::DSK_ME + 9] > 1 ? 1 : 0;
  for (int k = 0; k < 3; ++k) {
    int u = x.bytes[xpt::OUTPUT + k];
    if (4 <= u && u <= 7) {
      cls[k] = u == 5 ? 3 : 2;
      allBlack = 0;
    } else if (32 <= u && u <= 39) {
      cls[k] = dskStageCode(u + 4512, e0, e1);
      if (u == 32 || u == 34) fade[k] = dsk.fadeLevel;
      if (cls[k] != 0) allBlack = 0;
    }
    if (cls[k] != 0) continue;
    if (k < 2) {
      cls[k] = k;
      lock[k] = 0;
    } else if (lock[0] == -1) {
      lock[0] = 1;
      cls[2] = 0;
    } else {
      lock[1] = 1;
      cls[2] = 1;
    }
  }

  mxWriteReg(ME2 + 0x3010, allBlack);
  if (allBlack != s.allBlack) s.ramp = RAMP_FRAMES;
  s.allBlack = allBlack;

  int classA = 0, classB = 0;
  if (allBlack == 0) {
    mxWriteReg(ME2 + 0x3018, static_cast<u32>(cls[0] | cls[1] << 8 | cls[2] << 16));
    mxWriteReg(ME2 + 0x301C, static_cast<u32>(lock[0] & 1) | static_cast<u32>(lock[1]) << 8);
    classA = busClass(x, 0);
    classB = busClass(x, 1);
    mxWriteReg(MX_ME1_BASE + 0xC28, static_cast<u32>(s.bus[0].source | s.bus[0].sub << 8));
    mxWriteReg(ME2 + 0xC28, static_cast<u32>(s.bus[1].source | s.bus[1].sub << 8));
    mxWriteReg(ME2 + 0x3014, static_cast<u32>(classA | classB << 8));
  } else {
    mxWriteReg(ME2 + 0x3018, 0x100);
  }

  if (s.ramp > 0) {
    u32 v = static_cast<u32>(s.ramp) * 1023 / RAMP_FRAMES;
    mxWriteReg(ME2 + 0x3024, 0);
    mxWriteReg(ME2 + 0x3028, v | v << 16);
    mxWriteReg(ME2 + 0x302C, v);
    --s.ramp;
  } else {
    mxWriteReg(ME2 + 0x3024, x.bytes[xpt::MEMORY] == MEM_BLACK_FADE_INDEX ? 1 : 0);
    mxWriteReg(ME2 + 0x3028, fade[0] | fade[1] << 16);
    mxWriteReg(ME2 + 0x302C, fade[2]);
  }

  bool dsk1First = x.bytes[xpt::DSK1_FIRST] != 0;
  bool blackA = allBlack != 0 || classA == CLASS_ME;
  bool pictureB = allBlack == 0 && classB == CLASS_ME;
  mxWriteReg(ME2 + 0x2A40, 0x8200);
  mxWriteReg(ME2 + 0x2A44, 0x8280);
  mxWriteReg(ME2 + 0x2A60, dsk1First ? 0x8280 : 0x8200);
  mxWriteReg(ME2 + 0x2A64, dsk1First ? 0x8200 : 0x8280);
  mxWriteReg(ME2 + 0x2A68, 1);
  mxWriteReg(ME2 + 0x2A80, 0x8300);
  mxWriteReg(ME2 + 0x2AA0, 0x8300);
  mxWriteReg(ME2 + 0x2A84, 0x8380);
  mxWriteReg(ME2 + 0x2AA4, 0x8380);
  mxWriteReg(ME2 + 0x2AA8, 1);
  mxWriteReg(ME2 + 0x2AC0, 0x8300);
  mxWriteReg(ME2 + 0x2AC4, 0x8380);
  mxWriteReg(ME2 + 0x2AE8, 1);
  mxWriteReg(ME2 + 0x2AE0, blackA ? 0x8300 : 0x300);
  mxWriteReg(ME2 + 0x2AE4, pictureB ? 0x8380 : 0x380);
  mxWriteReg(ME2 + 0xC14, (blackA ? 12u : 13u) + (pictureB ? 0u : 2u));
}

// Tally selector of one ME from its two output tap codes.
void writeTally(const XptImage& x, int me) {
  u32 out0 = x.word(xpt::ME_OUTPUT + 8 * me);
  u32 out1 = x.word(xpt::ME_OUTPUT + 8 * me + 4);
  mxWriteReg(mxMeBase(me) + 0x4500, out0 | out1 << 8);
  mxWriteReg(ME2 + 0x1270 + 4 * static_cast<u32>(me), ((out0 & 3) != 0 ? out0 : out1) >> 2);
  if (me == 1 && mxPairedFpga()) mxWriteReg(ME2 + 0x3000, out0 | out1 << 8);
}

}  // namespace

XptImage& xptImage() {
  static XptImage image;
  return image;
}

void mxCrosspointUpdate() {
  const XptImage& x = xptImage();
  writeBlocks(x);
  mxWriteReg(ME2 + 0x201C, stagePair(x.word(xpt::DSK_STAGE), x.word(xpt::DSK_STAGE + 4)) |
                               stagePair(x.word(xpt::DSK_STAGE + 8), x.word(xpt::DSK_STAGE + 12)) << 16);
  mxWriteReg(ME2 + 0x13A0, x.word(xpt::AUX_FLAG));
  for (int a = 0; a < N_AUX_TRANS; ++a) mxWriteReg(ME2 + 0x13B0 + 4 * static_cast<u32>(a), x.word(xpt::AUX_TRANS + 4 * a));
  writeTiming(x);
  if (mx4kMode()) writeFourK(x);
  writeTally(x, 0);
  writeTally(x, 1);
}

void mxXptReset() {
  xptImage() = XptImage{};
  fourK() = FourKState{};
}
