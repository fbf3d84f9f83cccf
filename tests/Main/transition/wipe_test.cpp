#include <gtest/gtest.h>

#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

// Format 0, no border, raw softness 0 (softness 0.002, half 0.001).
class WipeTest : public LayerTest {
 protected:
  // The background's wipe at p, through load and the wipe alone.
  void wipe(u8 pattern, float p, u8 reverse = 0, unsigned ab = 0) {
    rec.setPattern(pattern, 0);
    calllog::clear();
    bkgd.load(rec, sys, p, 1, reverse, ab, 0);
    bkgd.applyWipe(p);
  }
  void keyWipe(u8 pattern, float p) {
    keyRec.transIn.mode = 1, keyRec.effectA[0] = pattern;
    keyFrame(p);
  }
};

TEST_F(WipeTest, PatternTypes) {
  const int types[32] = {5383, 5384, 5386, 5385, 5379, 5381, 5380, 5382, 5388, 5389, 5387,
                         5391, 5392, 5394, 5393, 0,    5390, 0,    0,    0,    0,    0,
                         0,    5387, 0,    0,    0,    0,    0,    0,    0,    0};
  for (u8 n = 0; n < 32; ++n) {
    wipe(n, 0.5f);
    if (types[n] == 0) {
      EXPECT_EQ(calllog::size(), 0u) << int(n);  // the drivers keep the previous frame's state
    } else {
      EXPECT_EQ(last("mxTransSetType").args[0], static_cast<float>(types[n])) << int(n);
    }
  }
}

TEST_F(WipeTest, WipePositionsByFamily) {
  // wide: the 16:9 flag of formats 6 and 7.
  struct Case { u8 pattern, reverse; float p, w; u8 format = 0, wide = 0; s16 softness = 0; } cases[] = {
      {4, 0, 0.0f, -0.00811108f},  // span 0.004 / 0.5625 + 1.002
      {4, 1, 0.0f, 1.00455553f},   {0, 0, 0.5f, 0.50108333f}, {0, 1, 0.5f, 0.49869444f},
      {9, 0, 0.5f, 0.49857778f},   {10, 0, 0.3f, 0.2991f},    {13, 0, 0.5f, 0.654f},
      {13, 1, 0.5f, 0.654f},
      // Softness 0.004 + 0.01: format 6 widens its half softness by 1.25 and its border by 1.11
      // over a 4:3 picture (ratio 0.75); with the 16:9 flag its reversed W1 divides by 0.5625 x 1.1.
      {0, 0, 0.5f, 0.49852083f, 6, 0, 100}, {0, 1, 0.5f, 0.49622917f, 6, 0, 100},
      {9, 0, 0.5f, 0.48478333f, 6, 0, 100}, {0, 1, 0.5f, 0.4957298f, 6, 1, 100},
      {4, 0, 0.5f, 0.48133333f, 7, 0, 100},
  };
  for (const Case& c : cases) {
    sys.format = c.format, sys.sdScale = c.wide, rec.softness = c.softness;
    wipe(c.pattern, c.p, c.reverse);
    expectArgs(last("mxTransSetBkgdPosition"), {c.w, c.reverse != 0 ? 0.0f : 1.0f, -1.0f}, 2e-6f);
  }
  sys.sdScale = 0;
  // Keys: D13 and D14 by their types at half way (format 6 without the 16:9 flag), W4 past the end.
  sys.format = 6;
  struct KeyCase { u8 pattern; float p, w; };
  KeyCase keys[] = {{13, 0.5f, 0.5855f}, {14, 0.5f, 0.46f}, {11, 1.0f, 1.5f}, {8, 0.5f, 0.501f}};
  for (const KeyCase& k : keys) {
    keyWipe(k.pattern, k.p);
    expectArgs(last("mxTransSetKeyPosition"), {k.w, 0}, 2e-6f);
  }
}

TEST_F(WipeTest, ShiftsAndInvertFlag) {
  rec.link.selectA = 2, rec.link.selectB = 1;
  wipe(4, 0.5f);
  expectArgs(last("mxTransSetPatternSize"), {0.25f, 0.5f, 2, 1});
  wipe(4, 0.9999f);  // the shift counts hold only between the ends
  expectArgs(last("mxTransSetPatternSize"), {1, 1, 0, 0});

  struct Case { u8 reverse; unsigned ab; float invert; };
  Case cases[] = {{0, 0, 1}, {0, 1, 0}, {0, 2, 0}, {1, 0, 0}, {1, 1, 1}};
  for (const Case& c : cases) {
    wipe(8, 0.5f, c.reverse, c.ab);
    EXPECT_EQ(last("mxTransSetBkgdPosition").args[1], c.invert) << int(c.reverse) << c.ab;
  }
}

TEST_F(WipeTest, FreePatternDrawsAtItsSizeAndAtTheEndsAsPatternTen) {
  rec.patFree1.size = 3000;
  rec.patFree1.positionX = 2000;
  const s16 centre[2] = {2000, 0};  // pattern 10 at the same place
  rec.setCenter(centre);
  for (float p : {0.0f, 1.0f}) {
    wipe(23, p);
    auto free = calls();
    wipe(10, p);
    auto circle = calls();
    ASSERT_EQ(free.size(), circle.size());
    for (size_t i = 0; i < free.size(); ++i) {
      EXPECT_STREQ(free[i].function, circle[i].function);
      for (int a = 0; a < free[i].count; ++a) EXPECT_EQ(free[i].args[a], circle[i].args[a]) << free[i].function;
    }
  }
  for (float p : {0.3f, 0.6f}) {
    wipe(23, p);
    expectArgs(last("mxTransSetBkgdPosition"), {0.2991f, 1, -1}, 2e-6f);  // the W3 position of the size 0.3
    // The pattern stands at the free pattern's position, (0.2 + 0.5) x 1920 from the left.
    expectArgs(last("mxTransSetPatternMatrix"), {1, 0, 1344, 0, 1, 540}, 1e-3f);
  }
}

// Pattern 10 at half way: centre (0.5 + t x) x W, (0.5 + t y) x H with t = 0.5; aspect; rotation
// mode 1 turns by the third spin value times t, draws the pattern 2.1 times larger and thins the
// border.
TEST_F(WipeTest, PatternTransform) {
  const s16 centre[2] = {2000, 1000};
  rec.setCenter(centre);
  rec.borderOn = 1, rec.borderWidth = 70;  // border 0.01 + 2 x 0.002
  struct Case { u8 rotationMode; s16 aspect, angle; std::vector<float> m; float border; u8 format = 0, wide = 0; };
  Case cases[] = {
      {0, 0, 250, {1, 0, 1152, 0, 1, 486}, 0.014f},
      {0, 1000, 0, {0.625f, 0, 720, 0, 1, 486}, 0.014f},
      {1, 0, 250, {0.336718f, 0.336718f, 551.5433f, -0.336718f, 0.336718f, -224.2539f}, 0.0066667f},
      // Format 6 (720 x 488) turned a quarter: pixel aspect 1.125, or 0.84375 with the 16:9 flag.
      {3, 0, 250, {0, 0.5357143f, 117.64286f, -0.4232804f, 0, -182.85714f}, 0.0104762f, 6, 0},
      {3, 0, 250, {0, 0.4017857f, 88.232143f, -0.5643739f, 0, -243.80952f}, 0.0104762f, 6, 1},
  };
  for (const Case& c : cases) {
    sys.format = c.format, sys.sdScale = c.wide;
    rec.option150 = c.rotationMode, rec.option152 = c.aspect, rec.spin.value3 = c.angle;
    wipe(10, 0.5f);
    expectLast({{"mxTransSetPatternMatrix", c.m, 2e-3f}, {"mxTransSetPatternPosition", {0, 0}}});
    EXPECT_NEAR(last("mxTransSetType").args[1], c.border, 1e-6f);
  }
}

}  // namespace
