// Crosspoint selections, their codes in the crosspoint image and the frame writer's registers.

#include <cmath>

#include "Driver/xpt/regs.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

// Route n of the 4K output group.
constexpr u32 route(u32 n) { return XPT_4K_ROUTES + XPT_4K_ROUTE_STRIDE * n; }

enum Mode { NORMAL = 0, PAIRED = 1, FOUR_K = 2 };

// A selection: a setter with its destination and source.
struct Set { void (*set)(int, int); int dst, src; };

class XptTest : public DriverTest {
 protected:
  static int byteAt(int offset) { return mxXptImage()[offset]; }
  static std::vector<u8> image() { return {mxXptImage(), mxXptImage() + xpt::SIZE}; }
  static size_t writes(u32 adr) { return writesTo(adr).size(); }
  static void apply(std::initializer_list<Set> sets) {
    for (auto s : sets) s.set(s.dst, s.src);
  }
};

TEST_F(XptTest, InputMappingByBoardMode) {
  struct Case { Mode mode; int src, mapped; } cases[] = {
      {NORMAL, MX_IN_20, MX_IN_20},  {NORMAL, MX_STILL_3, MX_STILL_3}, {PAIRED, MX_IN_16, MX_IN_16},
      {PAIRED, MX_IN_17, MX_BLACK},  {PAIRED, MX_DVI_IN_1, MX_DVI_IN_1}, {PAIRED, MX_STILL_2 + 1, MX_STILL_2 + 1},
      {PAIRED, MX_STILL_3, MX_BLACK}, {PAIRED, MX_CLIP_3, MX_BLACK},   {PAIRED, MX_CLIP_2, MX_CLIP_2},
      {FOUR_K, MX_IN_5, MX_IN_2},    {FOUR_K, MX_IN_6, MX_BLACK},      {FOUR_K, MX_IN_29, MX_IN_8},
      {FOUR_K, MX_CLIP_4, MX_BLACK}};
  for (auto c : cases) {
    boardMode(c.mode);
    EXPECT_EQ(mxMapSource(c.src), c.mapped) << c.mode << " " << c.src;
  }
}

TEST_F(XptTest, BusSourceCodesMarkersAndFlag) {
  // flag: the ME2 flag after ME1's utility bus 2 first took an ME2 output; it stays while an ME1 bus shows one.
  struct Case { Mode mode; int context, dst, src, offset, value; u32 flag; } cases[] = {
      {NORMAL, MX_CONTEXT_ME1, MX_ABUS, MX_IN_20, 4, 19, 1}, {PAIRED, MX_CONTEXT_ME1, MX_ABUS, MX_IN_20, 4, 147, 1},
      {FOUR_K, MX_CONTEXT_ME1, MX_ABUS, MX_IN_5, 4, 1, 1},   {NORMAL, MX_CONTEXT_ME2, MX_KEY4_S, MX_IN_3,
      4 + 16 + 11, 2, 1}, {NORMAL, MX_CONTEXT_ME3B, MX_KEY1_F, MX_IN_8, 84 + 32 + 4, 7, 1},
      {NORMAL, MX_CONTEXT_ME1, MX_UTIL2, MX_IN_4, 4 + 3, 3, 0},
      // ME outputs set only the marker.
      {NORMAL, MX_CONTEXT_ME1, MX_ABUS, MX_ME2_PGM + 1, 312, 17, 1},
      {NORMAL, MX_CONTEXT_ME3, MX_BBUS, 4512, 312 + 32 + 1, 16, 1},
      {NORMAL, MX_CONTEXT_ME2B, MX_ABUS, 4520, 312 + 16, 24, 1},  // second halves mark the first half
      {NORMAL, MX_CONTEXT_ME1B, MX_UTIL2, 4520, 312 + 3, 24, 0}};
  for (auto c : cases) {
    boardMode(c.mode);
    mxSetBusSource(MX_UTIL2, MX_ME2_PGM);
    mxSetContext(c.context);
    mxSetBusSource(c.dst, c.src);
    EXPECT_EQ(byteAt(c.offset), c.value) << c.context << " " << c.dst << " " << c.src;
    EXPECT_EQ(mxXptWord(xpt::ME2_FLAG), c.flag) << c.context << " " << c.dst << " " << c.src;
  }
  mxSetContext(MX_CONTEXT_ME2);  // an input selection clears the marker of its bus
  mxSetBusSource(MX_KEY1, 4520);
  EXPECT_EQ(byteAt(312 + 16 + 5), 24);
  mxSetBusSource(MX_KEY1, MX_IN_9);
  EXPECT_EQ(std::make_tuple(byteAt(312 + 16 + 5), byteAt(4 + 16 + 5)), std::make_tuple(0, 8));
}

TEST_F(XptTest, AuxExternalAndProgramOutputCodes) {
  // aux: mxSetAuxSource, else mxSetOutputSource; offset -1: the image does not change.
  struct Case { bool aux; Mode mode; int dst, src, offset, value; } cases[] = {
      {true, NORMAL, MX_AUX1 + 1, MX_ME2_PGM, 245, 152}, {true, NORMAL, 4670, 4556, 274, 192},
      {true, NORMAL, MX_EXT_OUT_1, MX_DSK_PGM1, 308, 180}, {true, NORMAL, MX_EXT_OUT_1 + 1, MX_MULTI3, 309, 190},
      {true, NORMAL, MX_EXT_OUT_3, MX_AUX4 + 1, 310, 227}, {true, PAIRED, MX_AUX2, MX_IN_20, 246, 147},
      {true, PAIRED, MX_AUX2, MX_MULTI3, 246, 147},      {true, PAIRED, MX_AUX2, MX_MULTI2, 246, 189},
      {true, FOUR_K, MX_AUX3, MX_IN_9, 248, 2},          {false, NORMAL, MX_OUT_16, MX_DSK_PGM1, 179, 32},
      {false, NORMAL, MX_OUT_2, MX_AUX2, 165, 46},       {false, NORMAL, MX_OUT_2, 4670, 165, 60},
      {false, NORMAL, MX_OUT_3, MX_MULTI4, 166, 43},     {false, PAIRED, MX_OUT_3, MX_MULTI4, 166, 77},
      {false, FOUR_K, MX_OUT_5, 4517, 165, 5},           {false, FOUR_K, MX_OUT_15, 4517, 168, 5},
      {false, FOUR_K, MX_OUT_2, 4517, -1, 0}};
  for (auto c : cases) {
    boardMode(c.mode);
    std::vector<u8> before = image();
    (c.aux ? mxSetAuxSource : mxSetOutputSource)(c.dst, c.src);
    EXPECT_TRUE(c.offset < 0 ? image() == before : byteAt(c.offset) == c.value) << c.dst << " " << c.src;
  }
  // An AUX bus beyond the fourth given to the third external output copies that bus's code.
  boardMode(NORMAL);
  mxSetAuxSource(4648, MX_IN_12);
  mxSetAuxSource(MX_EXT_OUT_3, 4649);
  EXPECT_EQ(byteAt(310), 11);
}

TEST_F(XptTest, MeOutputTapCodes) {
  struct Case { int context, dst, src, word; u32 code; } cases[] = {
      {MX_CONTEXT_ME1, MX_ME_OUT_2, MX_BBUS, 159, 3},    {MX_CONTEXT_ME2, MX_ME_OUT_1, MX_KEY1_F, 160, 18},
      {MX_CONTEXT_ME3, MX_ME_OUT_1, MX_BLACK, 162, 0},   {MX_CONTEXT_ME4B, MX_ME_OUT_2, MX_KEY4_F, 173, 30}};
  for (auto c : cases) {
    mxXptReset();
    mxSetContext(c.context);
    if (c.code == 0) mxSetMeOutputSource(c.dst, MX_ABUS);
    mxSetMeOutputSource(c.dst, c.src);
    EXPECT_EQ(mxXptWord(4 * c.word), c.code) << c.context << " " << c.src;
  }
}

TEST_F(XptTest, MultiviewAndMemorySourceCodes) {
  struct Code { int src, code; } mv[] = {
      {MX_BLACK, 18}, {4513, 1}, {4516, 2}, {4537, 13}, {4541, 15}, {MX_DSK_PGM2, 17}},
    mem[] = {{MX_STILL_4, 3}, {MX_CLIP_1, 4}, {MX_CBGD_2, 9}, {MX_BLACK, 10}, {MX_MEM_BLACK_FADE, 11}};
  for (auto c : mv) {
    mxSetMultiviewSource(MX_MULTI3, c.src);
    EXPECT_EQ(byteAt(610), c.code) << c.src;
  }
  mxSetMultiviewSource(MX_MULTI2, MX_BLACK);
  EXPECT_THROW(mxSetMultiviewSource(MX_MULTI2, 4514), assert::AssertException);
  EXPECT_EQ(byteAt(609), 0);  // the fallback
  for (auto c : mem) {
    EXPECT_EQ(mxSelectMemorySource(c.src), c.code) << c.src;
    EXPECT_EQ(byteAt(xpt::MEMORY), c.code) << c.src;
  }
  EXPECT_THROW(mxSelectMemorySource(4501), assert::AssertException);
  EXPECT_EQ(byteAt(xpt::MEMORY), 0);
}

TEST_F(XptTest, DskAndKeyLayerCrosspoints) {
  boardMode(PAIRED);
  apply({{mxSetDskSource, MX_DSK1_F, MX_IN_4}, {mxSetDskSource, MX_DSK2, MX_IN_17},  // input 17 maps to black
         {mxSetDskSource, MX_DSK3_F, 4520}, {mxSetDskSource, MX_DSK_BKGD_PGM1, 4520},
         {mxSetDskSource, MX_DSK_BKGD_PGM2, 4527}, {mxSetDskFillSource, MX_DSK1, MX_CLIP_4},
         {mxSetDskFillSource, MX_DSK3, MX_STILL_2}, {mxSetDskFillSource, MX_DSK4, MX_CBGD_2},
         {mxSetUskSource, MX_USK2_S, MX_IN_9}, {mxSetUskSource, MX_USK4_S, MX_IN_30}});
  mxSetInputKeyAssign(MX_IN_3, 1, MX_USK3_S);
  mxSetInputKeyAssign(MX_BLACK, 1, MX_USK4_F);
  const int bytes[][2] = {{68, 3},   {440, 32}, {71, 147}, {443, 32}, {444, 8}, {448, 4}, {449, 7}, {76, 7},
                          {78, 1},   {79, 9},   {455, 8},  {459, 147}, {462, 2}, {607, 3}};
  for (auto b : bytes) EXPECT_EQ(byteAt(b[0]), b[1]) << b[0];
  mxSetInputKeyAssign(MX_IN_3, 0, MX_USK3_S);
  EXPECT_EQ(byteAt(462), 4);

  apply({{mxSetDskOutputSource, MX_DSK_PGM1, MX_BKGD}, {mxSetDskOutputSource, MX_DSK_PGM1 + 1, MX_DSK2},
         {mxSetDskOutputSource, MX_DSK_PGM2, MX_DSK4}, {mxSetDskOutputSource, MX_DSK_PGM2 + 1, MX_BLACK}});
  const u32 words[] = {0, 5, 7, 8};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(mxXptWord(696 + 4 * k), words[k]) << k;
  mxSetLayerContext(MX_CONTEXT_ME3B);
  EXPECT_EQ(byteAt(311), 6);
}

TEST_F(XptTest, DskPriorityStageCodesAndFade) {
  EXPECT_EQ(mxDskMixer().priority[0], 3);
  const int P1 = MX_DSK_PGM1, P2 = MX_DSK_PGM2, D1 = MX_DSK1, D2 = MX_DSK2;
  // The DSK on top, the outputs of DSK 1 and 2, the first two clean feeds; a stage id and its enables.
  struct Case { int first, out1, out2, clean1, clean2, output, e0, e1, code; } cases[] = {
      {MX_DSK4, P1, P1, D1, D2, P1, 1, 1, 10}, {MX_DSK4, P1, P1, D1, D2, P1, 0, 1, 0},  // b 6 (f 3), x 4
      {D1, P1, P1, D1, D2, P1, 1, 0, 14},      {D2, P2, P2, D1, D2, P1, 1, 0, 2},
      {D2, P1, P1, D1, D2, MX_DSK_CLN3, 1, 0, 14},  // ids from 4550 as 4544
      {D2, P2, P2, D1, D2, P2, 0, 1, 14},      {D1, P1, P1, D1, D2, P2, 0, 1, 2},  // b 6, x 8
      {D1, P1, P1, D1, D2, MX_DSK_CLN1, 1, 0, 6}, {D1, P1, P2, D1, D2, MX_DSK_CLN1, 1, 0, 2},
      {D1, P1, P1, 5136, D2, MX_DSK_CLN1, 1, 1, 0}, {D2, P2, P2, D1, D2, MX_DSK_CLN2, 0, 1, 6},
      {D2, P1, P1, D1, D2, P2 + 1, 1, 1, 0}};
  for (auto c : cases) {
    mxDskSetPriority(c.first, MX_DSK3, MX_DSK4);
    mxDskSetOutput(MX_DSK1, c.out1);
    mxDskSetOutput(MX_DSK2_F, c.out2);
    mxDskSetCleanSource(MX_DSK_CLN1, c.clean1);
    mxDskSetCleanSource(MX_DSK_CLN2, c.clean2);
    EXPECT_EQ(dskStageCode(c.output, c.e0, c.e1), c.code)
        << "first " << c.first << " outputs " << c.out1 << "/" << c.out2 << " id " << c.output;
    EXPECT_EQ(byteAt(xpt::DSK1_FIRST), c.first == MX_DSK1 ? 1 : 0);
  }
  mxDskSetCleanSource(MX_DSK_CLN4, 5139);
  EXPECT_EQ(mxDskMixer().cleanSource[3], 7u);
  struct Fade { float x; u32 level; } fades[] = {
      {0.5f, 512}, {1.5f, 1023}, {-0.2f, 0}, {0.25f, 256}, {std::nanf(""), 0}};
  for (auto f : fades) {
    mxDskSetFadeLevel(f.x);
    EXPECT_EQ(mxDskMixer().fadeLevel, f.level) << f.x;
  }
}

TEST_F(XptTest, SelectionOfFrameNReachesTheRegistersInFrameNPlusOne) {
  mxBoardInit();
  mxUpdate();  // frame n: the driver update runs before the categories
  mxSetContext(MX_CONTEXT_ME2);
  mxSetBusSource(MX_ABUS, MX_IN_7);
  mxSetAuxSource(MX_AUX3, MX_IN_2);
  expectRegs({{XPT_BUS + 0x10, 0}, {XPT_OUTPUT + 84, 0}});
  traceClear();
  mxUpdate();  // frame n + 1
  expectRegs({{XPT_BUS + 0x10, 6}, {XPT_OUTPUT + 84, 1}});
  for (const auto& e : traceRecent()) EXPECT_TRUE(e.adr != XPT_BUS + 0x10 || e.stage == 1);
  EXPECT_EQ(writes(XPT_BUS + 0x10), 1u);
}

TEST_F(XptTest, FourCodesPerRegisterFirstByteLowest) {
  mxSetContext(MX_CONTEXT_ME1);
  for (int k = 0; k < 4; ++k) mxSetBusSource(MX_ABUS + k, MX_IN_2 + k);  // A, B, UTIL1, UTIL2
  mxSetContext(MX_CONTEXT_ME4);
  mxSelectMemorySource(MX_CBGD_2);
  mxSetLayerContext(MX_CONTEXT_ME2);
  apply({{mxSetBusSource, MX_KEY4_S, MX_BLACK}, {mxSetBusSource, MX_KEY4_F, MX_IN_32}, {mxSetBusSource, MX_UTIL2, 4527},
         {mxSetOutputSource, MX_OUT_1, 4513}, {mxSetOutputSource, MX_OUT_4, 4544}, {mxSetAuxSource, MX_EXT_OUT_3, MX_IN_11},
         {mxSetMultiviewSource, MX_MULTI1, 4513}, {mxSetMultiviewSource, MX_MULTI4, MX_BLACK},
         {mxSetUskSource, MX_USK4_S, MX_IN_10}});
  mxSetInputKeyAssign(MX_BLACK, 1, MX_USK2_F);
  mxSetInputKeyAssign(MX_IN_1, 1, MX_USK4_S);
  mxCrosspointUpdate();
  // ME 1's buses A, B, UTIL1, UTIL2; ME 4's KEY4_F 31, KEY4_S 147 (bytes 62, 63); memory source 9 in byte
  // 80; outputs 1 and 4; external output 3 (input 11) with layer context 1; multiview 1 and 4; ME 4's
  // marker of UTIL2 (byte 363); key layer 4's key; input 1 keyed by key layer 4, black by key layer 2.
  expectRegs({{XPT_BUS, 0x04030201}, {XPT_BUS + 0x38, 0x931F0000}, {XPT_BUS + 0x4C, 0x00000009},
              {XPT_OUTPUT, 0x20000001}, {XPT_OUTPUT + 0x90, 0x010A0000}, {XPT_MULTIVIEW, 0x12000001},
              {XPT_BUS_ME + 0x30, 0x1F000000}, {XPT_USK + 0x4, 0x09000000}, {XPT_INPUT_KEY, 0x00000003},
              {XPT_INPUT_KEY + 0x90, 0x01000000}});
  // Every block register is written, and nothing between the blocks.
  for (u32 gap : {XPT_BUS + 0x50, XPT_OUTPUT + 0x94, XPT_INPUT_KEY + 0x94}) EXPECT_EQ(writes(gap), 0u) << gap;
  EXPECT_EQ(writes(XPT_INPUT_KEY + 0x80), 1u);
}

TEST_F(XptTest, DskStageAuxAndTimingWords) {
  // p, q: the sources of 4544 / 4545, then of 4546 / 4547.
  struct Stage { int p, q; u32 half; } stages[] = {{MX_BKGD, MX_BKGD, 0}, {MX_BLACK, MX_DSK2, 13}, {MX_DSK1, MX_BLACK, 0x14}, {MX_DSK4, MX_DSK3, 7}};
  for (auto s : stages) {
    apply({{mxSetDskOutputSource, MX_DSK_PGM1, s.p}, {mxSetDskOutputSource, MX_DSK_PGM1 + 1, s.q},
           {mxSetDskOutputSource, MX_DSK_PGM2, MX_DSK2}, {mxSetDskOutputSource, MX_DSK_PGM2 + 1, MX_BKGD}});
    mxCrosspointUpdate();
    EXPECT_EQ(regPeek(XPT_DSK_STAGE), s.half | 5u << 16) << s.p << " " << s.q;
    apply({{mxSetDskOutputSource, MX_DSK_PGM2, s.p}, {mxSetDskOutputSource, MX_DSK_PGM2 + 1, s.q}});
    mxCrosspointUpdate();
    EXPECT_EQ(regPeek(XPT_DSK_STAGE) >> 16, s.half);
  }
  // The AUX transition word of a pair: 1023 at position 0 down to 0 at 1, clamped; the flag in bit 16.
  mxSetMeOutputSource(MX_AUX, MX_AUX);
  const struct { int ch; float position; int anc; u32 word; } aux[] = {
      {MX_AUX3, 0.0f, 1, 0x10000 | 1023}, {MX_AUX2, 0.25f, 0, 767}, {MX_AUX4, 1.5f, 1, 0x10000},
      {MX_AUX2, std::nanf(""), 0, 0}};
  for (auto a : aux) {
    mxSetAuxTransition(a.ch, a.position, a.anc);
    mxCrosspointUpdate();
    EXPECT_EQ(regPeek(XPT_AUX_TRANS + 4 * static_cast<u32>((a.ch - MX_AUX1) / 2)), a.word) << a.position;
  }
  EXPECT_EQ(regPeek(XPT_AUX_FLAG), 1u);

  // Timing words while ME1's key 1 shows an ME2 output, or went back to an input.
  struct Timing { Mode mode; bool me2; u32 t0, t1, t2, t3; } timings[] = {
      {NORMAL, true, 0x79, 0, 7, 0xC0}, {NORMAL, false, 0, 0xB7, 0x82, 7}, {PAIRED, true, 9, 0, 0x11, 0x132},
      {PAIRED, false, 0, 0x121, 0x9A, 0xF}};
  for (auto t : timings) {
    boardMode(t.mode);
    mxSetBusSource(MX_KEY1, MX_ME2_KEYPVW);
    if (!t.me2) mxSetBusSource(MX_KEY1, MX_IN_3);
    traceClear();
    mxCrosspointUpdate();
    EXPECT_EQ(mxXptWord(xpt::ME2_FLAG), t.me2 ? 1u : 0u);
    EXPECT_EQ(peek(0, {XPT_TIMING_0, XPT_TIMING_1, XPT_TIMING_2, XPT_TIMING_3, XPT_FIXED_0, XPT_FIXED_1, XPT_FIXED_2}),
              (Words{t.t0, t.t1, t.t2, t.t3, 0x43, 0x13F, 0x186}))
        << t.mode << t.me2;
    EXPECT_EQ(writesTo(XPT_TIMING_PAIRED), t.mode == PAIRED ? Words{0xA50067} : Words{});
    EXPECT_EQ(writes(XPT_4K_ALL_BLACK), 0u);  // no 4K block outside 4K mode
  }
}

TEST_F(XptTest, TallySelectorsFollowTheMeOutputTaps) {
  for (Mode mode : {NORMAL, PAIRED}) {
    boardMode(mode);
    mxSetMeOutputSource(MX_ME_OUT_1, MX_KEY2);  // 22
    mxSetMeOutputSource(MX_ME_OUT_2, MX_ABUS);  // 2
    mxSetContext(MX_CONTEXT_ME2);
    mxSetMeOutputSource(MX_ME_OUT_1, MX_BLACK);  // 0: the second tap counts
    mxSetMeOutputSource(MX_ME_OUT_2, MX_KEY4);   // 30
    traceClear();
    mxCrosspointUpdate();
    const bool paired = mode == PAIRED;
    expectRegs({{(paired ? MX_ME1_PAIRED_BASE : MX_ME1_BASE) + ME_TALLY, 22u | 2u << 8}, {XPT_TALLY, 5},
                {(paired ? MX_ME2_PAIRED_BASE : MX_ME2_BASE) + ME_TALLY, 30u << 8}, {XPT_TALLY + 4, 7}});
    EXPECT_EQ(writesTo(XPT_TALLY_PAIRED), paired ? Words{30u << 8} : Words{});
  }
}

// ---- 4K output group -----------------------------------------------------------------------------

class FourKTest : public XptTest {
 protected:
  void SetUp() override { boardMode(FOUR_K); }
};

TEST_F(FourKTest, AllBlackGroupRampsFromFullLevel) {
  // Nothing routed to the first three outputs: all black; the flag rises and the ramp runs.
  for (int frame = 0; frame < 22; ++frame) {
    mxCrosspointUpdate();
    u32 v = frame < 20 ? static_cast<u32>(20 - frame) * 1023 / 20 : 0;
    expectRegs({{XPT_4K_ALL_BLACK, 1}, {XPT_4K_OUTPUT_CLASSES, 0x100}});
    ASSERT_EQ(regPeek(XPT_4K_FADE_2), v) << frame;
    ASSERT_EQ(regPeek(XPT_4K_FADE_01), v | v << 16) << frame;
  }
  expectRegs({{route(5) + ROUTE_FIRST, 0x8300}, {route(5) + ROUTE_SECOND, 0x380}, {XPT_4K_MODE, 14}});
  mxSelectMemorySource(MX_MEM_BLACK_FADE);
  mxCrosspointUpdate();
  EXPECT_EQ(regPeek(XPT_4K_BLACK_FADE), 1u);
}

TEST_F(FourKTest, ClassesLocksFadeAndBusHold) {
  mxSetDskSource(MX_DSK_BKGD_PGM1, 4516);  // marker 2: output 4544 enabled
  mxDskSetFadeLevel(0.5f);
  mxSetOutputSource(MX_OUT_1, 4517);         // class 3
  mxSetOutputSource(MX_OUT_5, 4516);         // class 2
  mxSetOutputSource(MX_OUT_9, MX_DSK_PGM1);  // DSK stage code 10 with the default mixer
  mxSetContext(MX_CONTEXT_ME2);
  mxSetBusSource(MX_ABUS, MX_IN_13);  // routes as input 4: class 1, sub-source 1
  mxSetBusSource(MX_BBUS, 4520);      // an ME output: class 6
  for (int frame = 0; frame < 7; ++frame) {
    mxCrosspointUpdate();
    const bool held = frame < 5;  // a new source shows class 6 for five frames
    // Both lock flags still -1; no ramp, as the group was never black; the DSK fade on the third output.
    expectRegs({{XPT_4K_ALL_BLACK, 0}, {XPT_4K_OUTPUT_CLASSES, 3u | 2u << 8 | 10u << 16}, {XPT_4K_LOCKS, 0xFFFFFF01u},
                {MX_ME1_BASE + ME_4K_BUS_SOURCE, 0x101}, {MX_ME2_BASE + ME_4K_BUS_SOURCE, 6},
                {XPT_4K_BUS_CLASSES, (held ? 6u : 1u) | 6u << 8}, {route(5) + ROUTE_FIRST, held ? 0x8300u : 0x300u},
                {route(5) + ROUTE_SECOND, 0x8380}, {XPT_4K_MODE, held ? 12u : 13u}, {XPT_4K_BLACK_FADE, 0},
                {XPT_4K_FADE_01, 0}, {XPT_4K_FADE_2, 512}});
  }
  // Another input of the same class but another sub-source is held again.
  mxSetBusSource(MX_ABUS, MX_IN_17);
  mxCrosspointUpdate();
  EXPECT_EQ(regPeek(XPT_4K_BUS_CLASSES) & 0xFF, 6u);
  EXPECT_EQ(regPeek(MX_ME1_BASE + ME_4K_BUS_SOURCE), 0x201u);
}

TEST_F(FourKTest, ZeroClassesTakeTheirStepAndLock) {
  // Sources of the first three outputs (0: none).
  struct Case { int outs[3]; u32 classes, locks; } cases[] = {
      {{4517, 0, 0}, 3u | 1u << 8 | 0u << 16, 1u | 0u << 8},                   // L1 0; step 2 finds L0 -1: L0 1
      {{0, 4516, 0}, 0u | 2u << 8 | 1u << 16, 0u | 1u << 8},                   // L0 0 from step 0; L1 1 at step 2
      {{4517, 4516, 0}, 3u | 2u << 8 | 0u << 16, 1u | 0xFFFFFFu << 8},         // L0 -1 -> 1, class 2 0
      {{MX_DSK_PGM2, 4518, 4519}, 0u | 2u << 8 | 2u << 16, 0u | 0xFFFFFFu << 8}};  // stage 0 (disabled)
  for (auto c : cases) {
    SetUp();
    const int ids[3] = {MX_OUT_1, MX_OUT_5, MX_OUT_9};
    for (int k = 0; k < 3; ++k) if (c.outs[k] != 0) mxSetOutputSource(ids[k], c.outs[k]);
    mxCrosspointUpdate();
    SCOPED_TRACE(c.outs[0] * 10000 + c.outs[1]);
    expectRegs({{XPT_4K_ALL_BLACK, 0}, {XPT_4K_OUTPUT_CLASSES, c.classes}, {XPT_4K_LOCKS, c.locks}});
  }
}

TEST_F(FourKTest, SwitchToBlackRampsAndDsk1FirstSwapsRouting) {
  mxSetOutputSource(MX_OUT_1, 4517);
  mxCrosspointUpdate();
  expectRegs({{route(1) + ROUTE_FIRST, 0x8200}, {route(1) + ROUTE_SECOND, 0x8280}});
  mxSetOutputSource(MX_OUT_1, 4512);  // code 0: the group turns black
  mxDskSetPriority(MX_DSK1, MX_DSK2, MX_DSK3);
  mxCrosspointUpdate();
  expectRegs({{XPT_4K_ALL_BLACK, 1}, {XPT_4K_FADE_2, 1023}});
  mxCrosspointUpdate();
  expectRegs({{XPT_4K_FADE_2, 19u * 1023 / 20}, {route(1) + ROUTE_FIRST, 0x8280}, {route(1) + ROUTE_SECOND, 0x8200},
              {route(0) + ROUTE_FIRST, 0x8200}, {route(0) + ROUTE_SECOND, 0x8280}, {route(1) + ROUTE_ENABLE, 1},
              {route(2) + ROUTE_FIRST, 0x8300}, {route(3) + ROUTE_FIRST, 0x8300}, {route(2) + ROUTE_SECOND, 0x8380},
              {route(3) + ROUTE_SECOND, 0x8380}, {route(3) + ROUTE_ENABLE, 1}, {route(4) + ROUTE_FIRST, 0x8300},
              {route(4) + ROUTE_SECOND, 0x8380}, {route(5) + ROUTE_ENABLE, 1}});
}

}  // namespace
