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
#include "Driver/xpt/regs.h"
#include "Common/reg.h"
#include "Driver/xpt/xptimage.h"

namespace {

struct Block {
  int first;  // image byte
  int bytes;
  u32 reg;    // first register
};
// In write order.
constexpr Block BLOCKS[] = {
    {xpt::BUS, 80, XPT_BUS},
    {xpt::OUTPUT, 148, XPT_OUTPUT},
    {xpt::MULTIVIEW, 4, XPT_MULTIVIEW},
    {xpt::BUS_ME, 64, XPT_BUS_ME},
    {xpt::DSK_ME, 12, XPT_DSK_ME},
    {xpt::USK, 8, XPT_USK},
    {xpt::INPUT_KEY, 148, XPT_INPUT_KEY},
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

// Route n of the 4K output group.
constexpr u32 route(u32 n) { return XPT_4K_ROUTES + XPT_4K_ROUTE_STRIDE * n; }

FourKState& fourK() {
  static FourKState state;
  return state;
}

void writeBlocks(const XptImage& x) {
  for (const Block& b : BLOCKS) {
    for (int k = 0; k < b.bytes / 4; ++k) mxWriteReg(b.reg + 4 * static_cast<u32>(k), x.word(b.first + 4 * k));
  }
}

// One half of the DSK stage word from the stages (p, q) of a program output and its companion.
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
  mxWriteReg(XPT_TIMING_0, t[0]);
  mxWriteReg(XPT_TIMING_1, t[1]);
  mxWriteReg(XPT_TIMING_2, t[2]);
  mxWriteReg(XPT_TIMING_3, t[3]);
  if (paired) mxWriteReg(XPT_TIMING_PAIRED, 0xA50067);
  mxWriteReg(XPT_FIXED_0, 0x43);
  mxWriteReg(XPT_FIXED_1, 0x13F);
  mxWriteReg(XPT_FIXED_2, 0x186);
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

// The first three outputs of the 4K group: a class per output, two lock flags, whether all three
// are black, and the DSK fade level of the outputs that show a DSK program output.
struct OutputClasses {
  int cls[3] = {0, 0, 0};
  int lock[2] = {-1, -1};
  u32 allBlack = 1;
  u32 fade[3] = {0, 0, 0};
};

// Classes of the sources of bus A and B of the second context (0 while the group is all black).
struct BusClasses {
  int a = 0;
  int b = 0;
};

OutputClasses classifyOutputs(const XptImage& x) {
  OutputClasses c;
  const int e0 = x.bytes[xpt::DSK_ME + 8] > 1 ? 1 : 0;
  const int e1 = x.bytes[xpt::DSK_ME + 9] > 1 ? 1 : 0;
  for (int k = 0; k < 3; ++k) {
    int u = x.bytes[xpt::OUTPUT + k];
    if (4 <= u && u <= 7) {
      c.cls[k] = u == 5 ? 3 : 2;
      c.allBlack = 0;
    } else if (32 <= u && u <= 39) {
      c.cls[k] = dskStageCode(u + 4512, e0, e1);
      if (u == 32 || u == 34) c.fade[k] = mxDskMixer().fadeLevel;
      if (c.cls[k] != 0) c.allBlack = 0;
    }
    if (c.cls[k] != 0) continue;
    if (k < 2) {
      c.cls[k] = k;
      c.lock[k] = 0;
    } else if (c.lock[0] == -1) {
      c.lock[0] = 1;
      c.cls[2] = 0;
    } else {
      c.lock[1] = 1;
      c.cls[2] = 1;
    }
  }
  return c;
}

// The all-black flag; a change of it starts the ramp.
void writeAllBlack(u32 allBlack) {
  FourKState& s = fourK();
  mxWriteReg(XPT_4K_ALL_BLACK, allBlack);
  if (allBlack != s.allBlack) s.ramp = RAMP_FRAMES;
  s.allBlack = allBlack;
}

// The output classes and lock flags, then the classes and sources of bus A and B.
BusClasses writeClasses(const XptImage& x, const OutputClasses& c) {
  if (c.allBlack != 0) {
    mxWriteReg(XPT_4K_OUTPUT_CLASSES, 0x100);
    return {};
  }
  mxWriteReg(XPT_4K_OUTPUT_CLASSES, static_cast<u32>(c.cls[0] | c.cls[1] << 8 | c.cls[2] << 16));
  mxWriteReg(XPT_4K_LOCKS, static_cast<u32>(c.lock[0] & 1) | static_cast<u32>(c.lock[1]) << 8);
  const BusClasses bus{busClass(x, 0), busClass(x, 1)};
  const FourKState& s = fourK();
  mxWriteReg(MX_ME1_BASE + ME_4K_BUS_SOURCE, static_cast<u32>(s.bus[0].source | s.bus[0].sub << 8));
  mxWriteReg(MX_ME2_BASE + ME_4K_BUS_SOURCE, static_cast<u32>(s.bus[1].source | s.bus[1].sub << 8));
  mxWriteReg(XPT_4K_BUS_CLASSES, static_cast<u32>(bus.a | bus.b << 8));
  return bus;
}

// The fade levels: the ramp from full level while it runs, else the DSK fade levels of the outputs,
// with the memory source's fade through black.
void writeFade(const XptImage& x, const u32 (&fade)[3]) {
  FourKState& s = fourK();
  if (s.ramp > 0) {
    u32 v = static_cast<u32>(s.ramp) * 1023 / RAMP_FRAMES;
    mxWriteReg(XPT_4K_BLACK_FADE, 0);
    mxWriteReg(XPT_4K_FADE_01, v | v << 16);
    mxWriteReg(XPT_4K_FADE_2, v);
    --s.ramp;
  } else {
    mxWriteReg(XPT_4K_BLACK_FADE, x.bytes[xpt::MEMORY] == MEM_BLACK_FADE_INDEX ? 1 : 0);
    mxWriteReg(XPT_4K_FADE_01, fade[0] | fade[1] << 16);
    mxWriteReg(XPT_4K_FADE_2, fade[2]);
  }
}

// The fixed DSK routing of the group: the first DSK of the priority swaps route 1; route 5 and the
// mode word follow the bus classes.
void writeRouting(const XptImage& x, bool allBlack, BusClasses bus) {
  const bool dsk1First = x.bytes[xpt::DSK1_FIRST] != 0;
  const bool blackA = allBlack || bus.a == CLASS_ME;
  const bool pictureB = !allBlack && bus.b == CLASS_ME;
  mxWriteReg(route(0) + ROUTE_FIRST, 0x8200);
  mxWriteReg(route(0) + ROUTE_SECOND, 0x8280);
  mxWriteReg(route(1) + ROUTE_FIRST, dsk1First ? 0x8280 : 0x8200);
  mxWriteReg(route(1) + ROUTE_SECOND, dsk1First ? 0x8200 : 0x8280);
  mxWriteReg(route(1) + ROUTE_ENABLE, 1);
  mxWriteReg(route(2) + ROUTE_FIRST, 0x8300);
  mxWriteReg(route(3) + ROUTE_FIRST, 0x8300);
  mxWriteReg(route(2) + ROUTE_SECOND, 0x8380);
  mxWriteReg(route(3) + ROUTE_SECOND, 0x8380);
  mxWriteReg(route(3) + ROUTE_ENABLE, 1);
  mxWriteReg(route(4) + ROUTE_FIRST, 0x8300);
  mxWriteReg(route(4) + ROUTE_SECOND, 0x8380);
  mxWriteReg(route(5) + ROUTE_ENABLE, 1);
  mxWriteReg(route(5) + ROUTE_FIRST, blackA ? 0x8300 : 0x300);
  mxWriteReg(route(5) + ROUTE_SECOND, pictureB ? 0x8380 : 0x380);
  mxWriteReg(XPT_4K_MODE, (blackA ? 12u : 13u) + (pictureB ? 0u : 2u));
}

// The 4K output group: classification, class registers, fade ramp and routing.
void writeFourK(const XptImage& x) {
  const OutputClasses outputs = classifyOutputs(x);
  writeAllBlack(outputs.allBlack);
  const BusClasses bus = writeClasses(x, outputs);
  writeFade(x, outputs.fade);
  writeRouting(x, outputs.allBlack != 0, bus);
}

// Tally selector of one ME from its two output tap codes.
void writeTally(const XptImage& x, int me) {
  u32 out0 = x.word(xpt::ME_OUTPUT + 8 * me);
  u32 out1 = x.word(xpt::ME_OUTPUT + 8 * me + 4);
  mxWriteReg(mxMeBase(me) + ME_TALLY, out0 | out1 << 8);
  mxWriteReg(XPT_TALLY + 4 * static_cast<u32>(me), ((out0 & 3) != 0 ? out0 : out1) >> 2);
  if (me == 1 && mxPairedFpga()) mxWriteReg(XPT_TALLY_PAIRED, out0 | out1 << 8);
}

}  // namespace

XptImage& xptImage() {
  static XptImage image;
  return image;
}

void mxCrosspointUpdate() {
  const XptImage& x = xptImage();
  writeBlocks(x);
  mxWriteReg(XPT_DSK_STAGE, stagePair(x.word(xpt::DSK_STAGE), x.word(xpt::DSK_STAGE + 4)) |
                                stagePair(x.word(xpt::DSK_STAGE + 8), x.word(xpt::DSK_STAGE + 12)) << 16);
  mxWriteReg(XPT_AUX_FLAG, x.word(xpt::AUX_FLAG));
  for (int a = 0; a < N_AUX_TRANS; ++a) {
    mxWriteReg(XPT_AUX_TRANS + 4 * static_cast<u32>(a), x.word(xpt::AUX_TRANS + 4 * a));
  }
  writeTiming(x);
  if (mx4kMode()) writeFourK(x);
  writeTally(x, 0);
  writeTally(x, 1);
}

void mxXptReset() {
  xptImage() = XptImage{};
  fourK() = FourKState{};
}
