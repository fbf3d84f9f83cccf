// Key parameter blocks, chroma keyers and the key mixer against the register file.
#include "Driver/key/key.h"

#include "Driver/filter/regs.h"
#include "Driver/key/regs.h"
#include "Driver/transition/regs.h"
#include "tests/Driver/driver_test.h"

using namespace keyreg;
using namespace driver_test;

namespace {

// Set A of the parameter block of ME key k (0..3) in an ME bank, of DSK n and of key layer channel
// n; the chroma keyer of ME key k.
constexpr u32 meKey(u32 bank, u32 k) { return bank + KEY_BLOCK + KEY_STRIDE * k; }
constexpr u32 dsk(u32 n) { return DSK_BLOCK + LAYER_STRIDE * n; }
constexpr u32 usk(u32 n) { return USK_BLOCK + LAYER_STRIDE * n; }
constexpr u32 chroma(u32 bank, u32 k) { return bank + CHROMA_BLOCK + KEY_STRIDE * k; }
constexpr u32 me1Key(u32 k) { return meKey(MX_ME1_BASE, k); }
// Key mixer of ME1 (normal mode): set A, set B, and a word of key k in set A.
constexpr u32 MIX1 = MX_ME1_BASE + MIXER_A, MIX1_B = MX_ME1_BASE + MIXER_B;
constexpr u32 mixKey(u32 word, u32 k) { return MIX1 + word + MIX_KEY_STRIDE * k; }

using Reg = std::pair<u32, u32>;
using KeyTest = DriverTest;

TEST_F(KeyTest, EarlyUpdateWritesAnMeKeyItsChromaKeyerAndADsk) {
  for (int mode : {0, 1}) {
    boardMode(mode);
    mxSetContext(MX_CONTEXT_ME2);
    mxKeySetClipGain(MX_KEY2, 5, 100.7f, 1.5f, 0.25f, 0.5f);
    mxKeySetEdge(MX_KEY2, MX_KEY_EDGE_1 + 1, 2, 90, 0.5f);
    mxKeySetEdgeFill(MX_KEY2, MX_UTIL2);
    mxKeySetMask(MX_KEY2, 0.25f, 0.5f, 0.5f, 0.25f, 1, 0);
    mxKeySetFilterParameters(MX_KEY2, 0.1f, 0.2f, 0.5f, 0.25f);
    mxKeySetOptionFlag(MX_KEY2, 1);
    mxKeySetSoftMask(MX_KEY2, 0.1f, 0.2f, 0.5f, 0.5f, 0.25f);
    mxSetColor(MX_COLOR_KEY1_MATTE + 1, 100, 200, 300);
    mxSetColor(MX_COLOR_KEY1_SECOND + 1, 10, 20, 30);
    mxSetColor(MX_COLOR_KEY1_THIRD + 1, 1, 2, 3);
    mxChromaKeySetMode(MX_KEY2, 1, 1, MX_CHROMA_MODE_A1, MX_CHROMA_MODE_B2);
    mxChromaKeySetRange(MX_KEY2, 10, 20);
    mxChromaKeySetColorA(MX_KEY2, 4095, 4095, 4095);
    mxChromaKeySetColorB(MX_KEY2, 0, 0, 4095);
    mxKeySetClipGain(MX_DSK1_F, 2, 0.0f, 1.0f, 0.0f, 1.0f);
    mxKeySetMask(MX_DSK1, 0.0f, 0.0f, 1.0f, 1.0f, 1, 1);
    mxSetColor(MX_COLOR_DSK1_SECOND, 64, 512, 512);
    mxUpdateEarly();
    const u32 me2 = mode == 1 ? MX_ME2_PAIRED_BASE : MX_ME2_BASE, key2 = meKey(me2, 1);
    // Set A: mode, clip, gains, density, edge type, control and level, box mask, matte and second colour.
    EXPECT_EQ(peek(key2, {0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52}),
              (Words{0x15, static_cast<u32>(-100), 384, 64, 512, 28 | 3 << 6, 0x440, 512, 479, 540, 1439, 810,
                     0x12C32064, 0x1E0500A}));
    // Set B: option flag, filter box, soft mask and its softness, third colour.
    EXPECT_EQ(peek(key2, {0x80, 0x90, 0x94, 0x98, 0x9C, 0xC0, 0xC4, 0xC8, 0xCC, 0xD0, 0xD4}),
              (Words{1, 239, 135, 719, 202, 192, 216, 1152, 756, 512, 0x300801}));
    // Chroma keyer: mode 23 | range 162 << 6, bank, colour A raw and converted, colour B.
    EXPECT_EQ(peek(chroma(me2, 1), {0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40}),
              (Words{23 | 162 << 6, 1, 4095, 4095, 4095, 939, 512, 512, 127, 959, 471}));
    // DSK 1: a full-frame inverted mask.
    EXPECT_EQ(peek(dsk(0), {0, 8, 16, 20, 28, 32, 40, 44, 52}),
              (Words{2 | 1 << 2 | 1 << 3, 256, 1024, 8 << 6, 1024, static_cast<u32>(-1), 1919, 1080, 0x20080040}));
  }
  // The ME1 matte colour lands in key 1 of ME1 (paired bank) at the next early update.
  mxSetContext(MX_CONTEXT_ME1);
  mxSetColor(MX_COLOR_KEY1_MATTE, 100, 200, 300);
  mxUpdateEarly();
  EXPECT_EQ(regPeek(meKey(MX_ME1_PAIRED_BASE, 0) + MATTE), 0x12C32064u);
}

TEST_F(KeyTest, SetterValuesAsWritten) {
  struct Case { const char* what; std::function<void()> set; std::vector<Reg> regs; } cases[] = {
      {"level 1.0, then -1 keeps it", [] { mxKeySetLevel(MX_KEY1, 1.0f); mxKeySetLevel(MX_KEY1, -1.0f); },
       {{mixKey(MIX_KEY_LEVEL, 0), 1024 | 0x40000}}},  // key 1 is the default clean tap
      {"soft mask softness 1.0", [] { mxKeySetSoftMask(MX_KEY1, 0, 0, 1, 1, 1.0f); }, {{me1Key(0) + SOFTNESS, 1023}}},
      {"edge 8193 at 90 degrees, width 2", [] { mxKeySetEdge(MX_KEY1, 8193, 2, 90, 1.0f); },
       {{me1Key(0) + EDGE_TYPE, 28 | 8 << 6}, {me1Key(0) + EDGE_CONTROL, 0x440}, {me1Key(0) + EDGE_LEVEL, 1024}}},
      {"edge 8196 forces width 0", [] { mxKeySetEdge(MX_KEY3, 8196, 3, 0, 0.25f); },
       {{me1Key(2) + EDGE_TYPE, 8 << 6}, {me1Key(2) + EDGE_CONTROL, 0}, {me1Key(2) + EDGE_LEVEL, 256}}},
      {"edge 8194 at 315 degrees, width 4", [] { mxKeySetEdge(MX_DSK4, 8194, 4, 315, 0.0f); },
       {{dsk(3) + EDGE_TYPE, 48 | 8 << 6}, {dsk(3) + EDGE_CONTROL, 0x8}, {dsk(3) + EDGE_LEVEL, 0}}},
      {"clip and gains clamp", [] { mxKeySetClipGain(MX_USK2_S, 3, 1023.9f, 300.0f, -1.0f, 2.0f); },
       {{usk(1) + MODE, 3}, {usk(1) + CLIP, static_cast<u32>(-1023)}, {usk(1) + GAIN, 65535}, {usk(1) + GAIN2, 0},
        {usk(1) + DENSITY, 1024}}},
      {"box mask of 1080 lines rounds to even lines", [] { mxKeySetMask(MX_KEY1, 0.0f, 0.105f, 0.0f, 0.2f, 1, 0); },
       {{me1Key(0) + BOX + 4, 112}, {me1Key(0) + BOX + 12, 328}}},
      {"mixer constant and tap flags", [] { mxKeySetOutputTapA(MX_ME_OUT_2, 5); mxKeySetTapFlag(MX_ME_OUT_2, 1); },
       {{MIX1_B + MIX_CONSTANT, 0x3506CCCC}, {MIX1_B + TAP_A, 9}, {mixKey(MIX_KEY_SOURCE, 0), 1 << 9}}},
      {"sample width 1 at x 0, height 1", [] { mxChromaKeySetSampleArea(0, 10, 1, 1); },
       {{MIX1_B + SAMPLE_BOX, 2}, {MIX1_B + SAMPLE_BOX + 8, 2}, {MIX1_B + SAMPLE_BOX + 12, 12}}},
      {"sample width 0 at the right edge: 4 from 1916", [] { mxChromaKeySetSampleArea(1918, 10, 0, 2); },
       {{MIX1_B + SAMPLE_BOX, 1918}, {MIX1_B + SAMPLE_BOX + 8, 1918}}}};
  for (auto& c : cases) {
    SetUp();
    c.set();
    mxKeyWriteParams();
    mxKeyUpdateMixer();
    for (auto [adr, value] : c.regs) EXPECT_EQ(regPeek(adr), value) << c.what << " " << std::hex << adr;
  }
  // The 720-line formats keep odd lines.
  for (int format : {2, 3}) {
    mxInitialize(format, 1.0f);
    mxKeySetMask(MX_KEY1, 0.5f, 0.105f, 0.25f, 0.2f, 1, 0);
    mxKeyWriteParams();
    EXPECT_EQ(peek(me1Key(0) + BOX, {0, 4, 8, 12}), (Words{639, 151, 959, 439})) << format;
  }
}

TEST_F(KeyTest, MixerRanksSourcesAndTaps) {
  // rankWords: MIX_KEY_RANK of key p; sourceWords: MIX_KEY_SOURCE of key p, without preview.
  struct Case { int p1, p2, p3; Words rankWords, sourceWords; } cases[] = {
      {MX_KEY4, MX_KEY3, MX_KEY2, {0, 4, 8, 12}, {0, 0x201, 0x202, 0x203}},
      {MX_KEY2, MX_KEY3, MX_KEY2, {0, 4, 8, 0}, {0, 0x201, 0x202, 0}},   // key 2 takes the later rank 2
      {MX_KEY1, MX_KEY4, MX_KEY3, {12, 0, 4, 8}, {0x203, 0, 0x202, 0x203}}};
  for (auto c : cases) {
    SetUp();
    mxKeySetPriority(c.p1, c.p2, c.p3);
    mxKeyUpdateMixer();
    const u32 keys = MIX_KEY_STRIDE;
    EXPECT_EQ(peek(MIX1 + MIX_KEY_RANK, {0, keys, 2 * keys, 3 * keys}), c.rankWords) << c.p1;
    EXPECT_EQ(peek(MIX1 + MIX_KEY_SOURCE, {0, keys, 2 * keys, 3 * keys}), c.sourceWords) << c.p1;
    EXPECT_EQ(regPeek(MIX1 + MIX_TOP), static_cast<u32>((c.p1 - MX_KEY1) / 2));
  }
  // Clean tap key 3 (rank 1), layer point 3 (key 3, rank 1), key 3 on the air, key 1 on program.
  SetUp();
  mxSetLayerContext(0);
  mxKeySetCleanTap(MX_KEY3);
  mxKeySetLayerSource(MX_CONTEXT_ME1, MX_LAYER_POINT_1 + 2, 1);
  mxKeySetLevel(MX_KEY3, 0.25f);
  mxKeySetLevel(MX_KEY4, 0.5f);
  mxKeySetOutputTapB(MX_LAYER_POINT_4, 8);
  mxKeySetPreview(MX_KEY1, 0);
  mxKeyUpdateMixer();
  expectRegs({{MIX1 + MIX_CLEAN_RANK, 4}, {MIX1 + MIX_CLEAN_TAP, 2}, {MIX1 + MIX_LAYER_RANK, 2},
              {MIX1 + MIX_LAYER, 2}, {MIX1 + MIX_LAYER_FLAG, 0x10000}, {MIX1_B + TAP_LAYER, 6}, {MIX1_B + TAP_B, 7},
              {mixKey(MIX_KEY_SOURCE, 0), 1 << 8}, {mixKey(MIX_KEY_LEVEL, 2), 256 | 0x40000},
              {mixKey(MIX_KEY_LEVEL, 3), 512 | 1 << 17}});
  EXPECT_EQ(mxXptImage()[xpt::LAYER_CONTEXT], 0);
  // Clean point 12 marks every key on the air.
  mxKeySetCleanTap(MX_CLEAN_POINT);
  mxKeySetLayerSource(MX_CONTEXT_ME1, MX_KEY4, 0);
  mxKeyUpdateMixer();
  expectRegs({{mixKey(MIX_KEY_LEVEL, 3), 512 | 1 << 17 | 0x40000}, {mixKey(MIX_KEY_LEVEL, 1), 0},
              {MIX1 + MIX_CLEAN_RANK, 12}, {MIX1 + MIX_LAYER_RANK, 0}, {MIX1 + MIX_LAYER_FLAG, 0}});
}

TEST_F(KeyTest, LevelAndLayerRingsOfThree) {
  // Frame f sets level 100 + f on key 1 (no delay) and key 2 (delayed); the layer once, at frame 0.
  mxKeySetDelayed(MX_KEY2, 1);
  const u32 key1[] = {0, 100, 101, 102, 103, 104};
  const u32 key2[] = {0, 0, 0, 100, 101, 102};
  const u32 layer[] = {0, 0, 0, 0x10000, 0x10000, 0x10000};
  for (int f = 0; f < 6; ++f) {
    mxKeyUpdateMixer();
    EXPECT_EQ(regPeek(mixKey(MIX_KEY_LEVEL, 0)) & 0xFFFF, key1[f]) << f;
    EXPECT_EQ(regPeek(mixKey(MIX_KEY_LEVEL, 1)) & 0xFFFF, key2[f]) << f;
    EXPECT_EQ(regPeek(MIX1 + MIX_LAYER_FLAG), layer[f]) << f;
    mxKeySetLevel(MX_KEY1, (100.0f + static_cast<float>(f)) / 1024.5f);
    mxKeySetLevel(MX_KEY2, (100.0f + static_cast<float>(f)) / 1024.5f);
    if (f == 0) mxKeySetLayerSource(MX_CONTEXT_ME1, MX_KEY1, 1);
  }
  // Without a delayed key the layer is read from the current slot; a setting made once stays.
  mxKeySetDelayed(MX_KEY2, 0);
  mxKeySetLayerSource(MX_CONTEXT_ME1, MX_KEY1, 0);
  for (int f = 0; f < 4; ++f) {
    mxKeyUpdateMixer();
    EXPECT_EQ(regPeek(MIX1 + MIX_LAYER_FLAG), 0u) << f;
    EXPECT_EQ(regPeek(mixKey(MIX_KEY_LEVEL, 0)) & 0xFFFF, 105u) << f;
  }
}

TEST_F(KeyTest, TransitionAndFilterDriversReachTheKeys) {
  // Key 2 of ME1 wipes with latency 1 (image: control 0x11, edge -3840, slope 606, border 432,
  // mix 0). While the image waits, a frame whose key settings changed since the last latch clears
  // the five words; the delay flag holds key 2's level back two frames.
  const u32 block = MX_ME1_BASE + trans::KEY_BLOCK + trans::KEY_STRIDE;
  const u32 cleared[] = {0, 0x30, 0x34, 0x38, 0x3C};
  const u32 S = 0xA5A5A5A5, image[] = {0x11, static_cast<u32>(-3840), 606, 432, 0};
  enum Image { CLEARED, KEPT, IMAGE };
  struct Frame { int latency; bool change; Image words; u32 level; } frames[] = {
      {1, true, CLEARED, 0}, {1, false, KEPT, 0},     {1, true, IMAGE, 512},
      {0, true, IMAGE, 512}, {1, true, CLEARED, 512}, {1, false, KEPT, 512}};
  mxTransSetType(MX_KEY2, 5380, 0.1f, 0.1f);
  mxKeySetLevel(MX_KEY2, 0.5f);
  for (int f = 0; f < 6; ++f) {
    const Frame& fr = frames[f];
    mxTransSetLatency(MX_KEY2, fr.latency);
    if (fr.change) mxKeySetClipGain(MX_KEY2, f % 3, 0.0f, 1.0f, 1.0f, 1.0f);
    for (u32 w : cleared) regPoke(block + w, S);
    mxUpdateEarly();
    mxKeyUpdateMixer();
    mxKeyLatchParams();
    for (int k = 0; k < 5; ++k) {
      u32 want = fr.words == CLEARED ? 0 : fr.words == KEPT ? S : image[k];
      EXPECT_EQ(regPeek(block + cleared[k]), want) << "frame " << f << " word " << k;
    }
    EXPECT_EQ(regPeek(mixKey(MIX_KEY_LEVEL, 1)) & 0xFFFF, fr.level) << "frame " << f;
  }

  // Mode bit 2 with full density asks key 2's filter to pass the key (flag A), shown with the
  // full-frame mask (flag B) in the filter control.
  const u32 control = MX_ME1_BASE + filter_regs::KEY_FILTER + filter_regs::KEY_STRIDE + filter_regs::FILTER_CONTROL;
  mxKeySetMask(MX_KEY2, 0.0f, 0.0f, 1.0f, 1.0f, 1, 0);
  struct Pass { int flags; float density; u32 control; } passes[] = {
      {4, 1.0f, 2}, {3, 1.0f, 0}, {7, 1.0f, 2}, {4, 0.99f, 0}};
  for (auto p : passes) {
    mxKeySetClipGain(MX_KEY2, p.flags, 0.0f, 1.0f, 1.0f, p.density);
    mxKeySetClipGain(MX_DSK2, 4, 0.0f, 1.0f, 1.0f, 1.0f);  // DSKs have no key filter
    mxFilterUpdate();
    EXPECT_EQ(regPeek(control), p.control) << p.flags << " " << p.density;
  }
}

TEST_F(KeyTest, ChromaColoursAndTableBanks) {
  struct Case { int format, r, g, b; u32 y, cb, cr; } cases[] = {
      {0, 4095, 4095, 4095, 939, 512, 512}, {0, 4095, 0, 0, 250, 410, 959}, {4, 4095, 0, 0, 325, 361, 959},
      {1, 1000, 2000, 3000, 461, 646, 393}, {5, 1000, 2000, 3000, 452, 658, 385},
      {0, -4095, -4095, -4095, 0, 512, 512}, {0, 32767, 32767, 32767, 1023, 512, 512}};
  for (auto c : cases) {
    mxInitialize(c.format, 1.0f);
    mxChromaKeySetColorA(MX_KEY4, c.r, c.g, c.b);
    mxChromaKeySetColorB(MX_KEY4, c.r, c.g, c.b);
    mxKeyWriteParams();
    const u32 key4 = chroma(MX_ME1_BASE, 3);
    EXPECT_EQ(peek(key4, {CHROMA_COLOR_A, CHROMA_COLOR_A + 4, CHROMA_COLOR_A + 8, CHROMA_COLOR_B, CHROMA_COLOR_B + 4,
                          CHROMA_COLOR_B + 8}), (Words{c.y, c.cb, c.cr, c.y, c.cb, c.cr}))
        << c.format << " " << c.r;
  }
  static u16 table[N_CHROMA_TABLE];
  for (int k = 0; k < N_CHROMA_TABLE; ++k) table[k] = static_cast<u16>(3 * k + 1);
  const u32 key2 = chroma(MX_ME1_BASE, 1), bank = key2 + CHROMA_BANK;
  mxKeyWriteParams();
  EXPECT_EQ(regPeek(bank), 1u);
  traceClear();
  mxChromaKeyWriteTable(MX_KEY2, table);
  auto trace = traceRecent();
  ASSERT_EQ(trace.size(), 1u + N_CHROMA_TABLE);
  EXPECT_EQ((Words{trace[0].adr, trace[0].value, trace[1].adr, trace[1].value, trace.back().value}),
            (Words{key2 + CHROMA_TABLE_ADDRESS, 0, key2 + CHROMA_TABLE_DATA, 1, 3u * 1151 + 1}));
  mxChromaKeyWriteTable(MX_KEY2, table);  // a second load in the same frame
  mxKeyWriteParams();
  mxKeyWriteParams();
  EXPECT_EQ(regPeek(bank), 2u);
  mxChromaKeyWriteTable(MX_KEY2, table);
  mxKeyWriteParams();
  EXPECT_EQ(regPeek(bank), 1u);
}

TEST_F(KeyTest, TallyWordsReadAndWrittenAtOnce) {
  const int targets[] = {MX_DSK_PGM1, MX_DSK_CLN1, MX_CONTEXT_ME1, MX_CONTEXT_ME2, MX_CONTEXT_ME3, MX_DSK_PGM2};
  const u32 status[2][6] = {{0x11, 0x22, 0x33, 0x44, 0, 0}, {0x11, 0x22, 0x33, 0x341234, 0, 0}};
  const u32 control[2][3] = {{0x830020C8, 0x820045C4, 0x830045C4}, {0x830020C8, 0x860045C4, 0x870045C4}};
  for (int mode : {0, 1}) {
    boardMode(mode);
    for (Reg r : {Reg{DSK_TALLY_PGM1, 0x11}, {DSK_TALLY_CLN1, 0x22}, {MX_ME1_BASE + MIXER_A + TALLY_STATUS, 0x33},
                  {MX_ME2_BASE + MIXER_A + TALLY_STATUS, 0x44}, {ME2_PAIRED_TALLY, 0xABCD1234}}) {
      regPoke(r.first, r.second);
    }
    for (int k = 0; k < 6; ++k) EXPECT_EQ(mxGetTallyStatus(targets[k]), status[mode][k]) << mode << " " << targets[k];
    traceClear();
    for (int t : {MX_DSK_PGM1, MX_CONTEXT_ME1, MX_CONTEXT_ME2, MX_CONTEXT_ME3, MX_DSK_PGM2}) mxSetTallyControl(t, 1);
    auto trace = traceRecent();
    ASSERT_EQ(trace.size(), 3u) << mode;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(trace[k].adr, control[mode][k]) << mode;
  }
}

}  // namespace
