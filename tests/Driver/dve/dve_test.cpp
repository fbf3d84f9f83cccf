// DVE blocks: set-up by format, window, transform and image words, the enable path and the tables.
#include "Driver/dve/dve.h"

#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 ME1_BKGD = 0x82005C00, ME1_CONTROL = 0x82005800, ME1_KEY2 = 0x82006D00;

// Image word k (53..94) of a DVE block as last written.
u32 image(u32 block, int k) { return regPeek(block + 0x20 + 4 * static_cast<u32>(k - 53)); }
Words images(u32 block, std::initializer_list<int> list) {
  Words out;
  for (int k : list) out.push_back(image(block, k));
  return out;
}
Words slot(u32 block, int first) { return images(block, {first, first + 1, first + 2, first + 3, first + 4, first + 5}); }
// Two frames: the image built in the first is written in the second.
void frames() {
  mxDveUpdate();
  mxDveUpdate();
}

class DveTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxDveInitialize(1.0f);
    mxSetContext(MX_CONTEXT_ME1);
  }
  // A fresh board in a format; codes 8 and 9 in paired-FPGA mode.
  void format(int code) {
    DveTest::SetUp();
    if (code >= 8) startBoard(1);
    mxInitialize(code, 1.0f);
    mxSetContext(MX_CONTEXT_ME1);
  }
};

TEST_F(DveTest, InitialisationAndResetDefaultsByFormat) {
  // + 8, + 12, + 16 of the ME1 background and ME2 key 4 blocks (the frame rounded up to 64 pixels
  // and 32 lines); a reset brings the full window back, and the transform word of the format.
  struct Case { int format; u32 me1, me2; Words setup; u32 word80; } cases[] = {
      {0, 0x82000000, 0x83000000, {1919, 543, 5}, 0xFFFFFFC0},
      {2, 0x82000000, 0x83000000, {1279, 735, 0}, 0x10000000}, {5, 0x82000000, 0x83000000, {767, 287, 5}, 0xFFFFFFC0},
      {8, 0x86000000, 0x87000000, {1919, 543, 5}, 0xFFFFFFC0}};
  for (const auto& c : cases) {
    format(c.format);
    const u32 bkgd = c.me1 + 0x5C00, key4 = c.me2 + 0x7D00;
    for (u32 block : {bkgd, key4}) EXPECT_EQ(peek(block, {8, 12, 16}), c.setup) << c.format;
    mxDveSetWindow(MX_BKGD, 0, 0, 100, 100, 1, 0);
    mxDveReset(MX_BKGD);
    frames();
    EXPECT_EQ(images(bkgd, {57, 58, 80}), (Words{0x7FFF7FFF, 0x7FFF7FFF, c.word80})) << c.format;
  }
}

TEST_F(DveTest, WindowWords) {
  // Words 57, 58, 59, 60 (window 0 in the low half), 65 and 73.
  struct Case { int format; float aspect, x, y, width, height, scale, softness; Words w; } cases[] = {
      {0, 1, -1200, 100, 2000, 400, 1, 0, {28800, 3200, 8192, 16384, 0xFCF03E80, 0}},
      {0, 0.25f, 0, 0, 1920, 1080, 0.5f, 0.01f, {30720, 8640, 16384, 8192, 0x00100000, 522}},
      {0, 1, 100, -1500, 3000, 2000, 2, 0, {46400, 12000, 8192, 16384, 0x1F50F9C0, 0}},
      {2, 1, 0, 10, 1280, 720, 0.5f, 0.5f, {20480, 11520, 16384, 16384, 0xFF700000, 1024}}};
  for (const auto& c : cases) {
    format(c.format);
    mxDveSetAspect(MX_BKGD, c.aspect);
    mxDveSetWindow(MX_BKGD, c.x, c.y, c.width, c.height, c.scale, c.softness);
    mxDveUpdate();
    EXPECT_NE(image(ME1_BKGD, 65), c.w[4]);  // built this frame, written in the next
    mxDveUpdate();
    Words got = images(ME1_BKGD, {57, 58, 59, 60, 65, 73});
    for (int i = 0; i < 4; ++i) got[i] &= 0xFFFF;
    EXPECT_EQ(got, c.w) << c.format << " " << c.x;
  }
  // A second window of its own, then a position only: window 1 takes window 0's size again.
  mxDveSetAspect(MX_BKGD, 1);
  mxDveSetDualWindow(MX_BKGD, 0, 0, 640, 360, 1, 0);
  frames();
  EXPECT_EQ(images(ME1_BKGD, {57, 58, 63, 74}), (Words{20480 | (10240u << 16), 11520 | (5760u << 16), 1, 0}));
  mxDveSetWindowOffset(MX_BKGD, 100, 0);
  frames();
  EXPECT_EQ(images(ME1_BKGD, {57, 63, 66, 74}), (Words{20480 | (20480u << 16), 0, 0x0010F9C0, 1024}));
}

TEST_F(DveTest, TransformWords) {
  const float unit[] = {1, 0, 0, 0, 1, 0}, affine[] = {0.5f, 0.25f, 10, -0.25f, 0.75f, 5};
  const float flat[] = {1, 0, 0, 0, 1, 0, 0, 0, 0};
  const float deep[] = {1, 0, 0, 0, 1, 0, 0, 0, 2}, wide[] = {8, 0, 0, 0, 1, 0, 0, 0, 1};
  const Words UNIT = {8192, 0, 0x10000000, 0xFFFFFFC0, 0, 0x20000};
  const Words AFFINE = {0x08001000, 1280, 0x0C00FC00, 320, 0, 0x20000};
  const Words CLEARED = {8192, 0x100000, 0x10000000, 0xFFFFFFC0, 0, 0x20000}, NONE(6, 0);
  struct Case { std::function<void()> set; u32 mode; Words slot0, slot1; } cases[] = {
      {[&] { mxDveSetMatrices(MX_BKGD, affine, unit, MX_DVE_EFFECT_DUAL); }, 17, AFFINE, UNIT},
      {[&] { mxDveSetMatrix(MX_BKGD, unit); }, 0, UNIT, NONE},
      // Rotation sets words 0..3 of each slot.
      {[] { mxDveSetRotation(MX_BKGD, 0, 0, 1, 1); }, 3, {8224, 0, 0x20200000, 0, 0, 0x20000},
       {16320, 0, 0x1FE00000, 0xFFFFFFF8, 0, 0}},
      {[] { mxDveSetRotation(MX_BKGD, 200, 0.5f, 0.9999f, 1); }, 3, {0xF504E1D0, 0x2612C, 0xE1D00AFC, 0, 0, 0x20000},
       {0x15CDC419, 0x4746, 0xE20DF51A, 0xCF0, 0, 0}},
      {[&] { mxDveSetMatrices(MX_BKGD, unit, affine, 5649); }, 1, UNIT, AFFINE},
      {[&] { mxDveClearTransform(MX_BKGD); }, 0, CLEARED, NONE},
      {[&] { mxDveSetMatrixFloat(MX_BKGD, flat); }, 0, {0x2000, 0x100000, 0x10000000, 0xFFFFFFC0, 0, 0x20000}, NONE},
      {[&] { mxDveSetMatricesFloat(MX_BKGD, deep, wide, MX_DVE_EFFECT_DUAL); }, 17,
       {7782, 0, 3891u << 16, 0, 0, 249037}, {32700, 0, 2044u << 16, 0, 0, 65400}}};
  for (const auto& c : cases) {
    c.set();
    frames();
    EXPECT_EQ(image(ME1_BKGD, 61), c.mode) << c.mode;
    EXPECT_EQ(slot(ME1_BKGD, 77), c.slot0) << c.mode;
    EXPECT_EQ(slot(ME1_BKGD, 85), c.slot1) << c.mode;
  }
  EXPECT_EQ(image(ME1_BKGD, 62), 1022u);  // rotation level 0.9999 x 1023, truncated
  for (auto [level, word] : {std::pair(1.5f, 1023u), {-0.5f, 0u}}) {  // clamped to 0..1023
    mxDveSetRotation(MX_BKGD, 0, 0, level, 1);
    frames();
    EXPECT_EQ(image(ME1_BKGD, 62), word) << level;
  }
  format(2);
  mxDveSetMatrix(MX_KEY2, unit);
  frames();
  EXPECT_EQ(slot(ME1_KEY2, 77), (Words{8192, 0, 0x10000000, 0x10000000, 0, 0x20000}));
}

TEST_F(DveTest, EnableReachesTheControlWordsTwoFramesLater) {
  // (enable word, bus word) of the background, and key 3's control word, frame by frame.
  mxDveSetBkgdBuses(MX_BKGD, 1, 0, 1);
  struct Step { int mode, on; Words bkgd; u32 key3; } steps[] = {
      {0, 1, {0, 5}, 0}, {0, 1, {0, 5}, 0}, {0, 1, {7, 1}, 1}, {0, 1, {7, 1}, 1},
      {2, 1, {7, 1}, 1}, {2, 1, {7, 1}, 1}, {2, 1, {5, 9}, 1}, {0, 0, {0, 5}, 0}};
  for (const auto& s : steps) {
    mxDveSetEnable(MX_BKGD, s.mode, s.on);
    mxDveSetEnable(MX_KEY3, s.mode, s.on);
    mxDveUpdate();
    EXPECT_EQ(peek(ME1_CONTROL, {0, 8}), s.bkgd) << &s - steps;
    EXPECT_EQ(regPeek(0x82007004), s.key3) << &s - steps;
  }
  int a = -1, b = -1;
  mxDveGetBusFlags(MX_CONTEXT_ME1, &a, &b);
  EXPECT_EQ(a * 10 + b, 10);
}

TEST_F(DveTest, ImageEffectsOfBothBuses) {
  mxDveSetImageEffect(MX_CONTEXT_ME1, MX_BKGD, 1, 0.5f, 0x1234);
  mxDveSetImageEffect(MX_CONTEXT_ME1, MX_BKGD_B, 0, 0.4f, 0x55);
  EXPECT_EQ(peek(0x82004700, {0, 0x20}), (Words{0, 0}));  // the previous call: none
  frames();
  // A reduced picture starts at -24 with its height grown by as much.
  EXPECT_EQ(images(ME1_BKGD, {58, 65, 69, 70, 71, 72, 75, 76}),
            (Words{0x7FFF8017, 0xFFE80000, 0x80004000, 0x80004000, 1, 0, 0x1234, 0x55}));
  mxDveSetEnable(MX_BKGD, 2, 1);
  frames();
  EXPECT_EQ(image(ME1_BKGD, 70), 13107 | (13107u << 17));
  // Each call writes the B bus effect of the call before it.
  const Words regs[] = {{1, 26214, 52428, 13107, 13107, 0x55}, {1, 39321, 65535, 0, 0, 0x56}};
  for (const auto& expected : regs) {
    mxDveSetImageEffect(MX_CONTEXT_ME1, MX_BKGD_B, 0, 0.6f, 0x56);
    EXPECT_EQ(peek(0x82004700, {0, 0x10, 0x14, 0x18, 0x1C, 0x20}), expected);
  }
}

TEST_F(DveTest, SetColorReachesBothDrivers) {
  mxSetColor(MX_COLOR_BKGD_BORDER, 100, 200, 300);
  mxSetColor(MX_COLOR_KEY1_BORDER + 1, 940, 512, 512);
  mxTransUpdate();
  EXPECT_EQ((Words{regPeek(0x82005B10), regPeek(0x82005B14), regPeek(0x82005B18)}), (Words{100, 200, 300}));
  EXPECT_EQ((Words{regPeek(0x82006C10), regPeek(0x82006C14), regPeek(0x82006C18)}), (Words{940, 512, 512}));
  frames();
  EXPECT_EQ((Words{image(ME1_BKGD, 53), image(ME1_KEY2, 53)}), (Words{0x12C32064, 0x200803AC}));
}

}  // namespace
