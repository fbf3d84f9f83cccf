// DVE effects of kind 2 (slides, pushes, paused pushes), kind 1 (zooms, squeezes, timed moves), the
// kind-3 placements 22 and 23, then the wipes; format 0 (1920 x 1080), no border and the loaded
// softness 2.0 unless a case says otherwise.
#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Main/transition/updater.h"
#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

class EffectsTest : public LayerTest {
 protected:
  static void applyEffect(u8 kind, TransitionUpdater& u, float p) {
    kind == 2 ? BkgdTransition::applyEffect(u, p) : KeyTransition::applyEffect(u, p);
  }
  // The effect alone on the background at p after its load (reverse: the direction byte).
  void effect(u8 kind, u8 number, float p, u8 reverse = 0) {
    rec.setPattern(number, kind);
    bkgd.load(rec, sys, p, 1, reverse, 0, 0);
    calllog::clear();
    applyEffect(kind, bkgd, p);
  }
  void keyEffect(u8 kind, u8 number, float p) {
    keyRec.transIn.mode = 1, keyRec.effectA[0] = number, keyRec.effectA[1] = kind;
    key.load(keyRec, sys, p);
    calllog::clear();
    applyEffect(kind, key, p);
  }
  static std::vector<float> argsOf(const calllog::Call& c) { return {c.args, c.args + c.count}; }
};

const std::vector<float> UNIT = {1, 0, 0, 0, 1, 0};

// Kind 2: effect 0 enters from the top-left corner (x1 = 2 x 3844 / 1084, DX = 1922 + x1, DY =
// 1084), the filter taking the share left of and above the frame; effect 6 from the right edge
// (x = -2 + 1924 (1 - p)). Effect 8 at 0.5 pushes by D = 1915.1872 - 2: picture 0 enters from the
// left hard-edged, picture 1 leaves with the softness in the second window. Effect 12 moves at half
// speed to 0.4, holds half way to 0.6, then goes on: crop margins (0.125, 0.1875) at 0.2, (0.25,
// 0.25) in the pause, (0.125, 0) at 1.0.
// Kind 1 zooms grow at 0.5 by (1080 + 2) / 1080 for corners and the top edge, (1920 + 2) / 1920 for
// the left edge, (1920 + 4) / 1920 for the vertical centre line; effect 1 in double precision.
// Effect 11, shape 5391, travels 16/9 / 0.5 frame heights: at 0.5 the pattern has outgrown the
// frame (0.8888889 sent as the mix position) and the picture grows about the centre by 1.7777778.
// Effects 16 and 18 squeeze sideways: the entering picture (0 of 16, 1 of 18) widens from the left
// edge in its own window.
TEST_F(EffectsTest, WorkedFrames) {
  struct Case { u8 kind, effect; float p; std::vector<Last> calls; } cases[] = {
      {2, 0, 0.0f, {{"mxFilterSetParameters", {-1.0010417f, -1.0018519f, 1, 1}},
                    {"mxDveSetWindow", {-2881.0f, -1621.0f, 0.00001f, 0, 2, 0}, 2e-3f}, {"mxDveSetMatrix", UNIT}}},
      {2, 0, 0.5f, {{"mxFilterSetParameters", {-0.4995964f, -0.5f, 1, 1}},
                    {"mxDveSetWindow", {-1918.2251f, -1079.0f, 2875.1423f, 1616.0627f, 2, 0}, 2e-3f}}},
      {2, 6, 0.5f, {{"mxFilterSetParameters", {0, 0, 1, 1}},
                    {"mxDveSetWindow", {962.95523f, -539.0f, 2876.0447f, 2158.0f, 2, 0}, 2e-3f}}},
      {2, 8, 0.5f, {{"mxFilterSetParameters", {0.49822584f, 0, 1, 1}},
                    {"mxDveSetWindow", {-1916.5936f, -540, 2877.1423f, 2160, 0, 0}, 2e-3f},
                    {"mxDveSetDualWindow", {959.5488f, -539, 2876.0447f, 2158, 2, 0}, 2e-3f},
                    {"mxDveSetEnable", {2, 0}}}},
      {2, 12, 0.2f, {{"mxDveSetWindow", {-2039, -540, 2520.5f, 2160, 0, 0}, 1e-3f},
                     {"mxDveSetDualWindow", {480.5f, -539, 2638.5f, 2158, 2, 0}, 1e-3f}}},
      {2, 12, 0.5f, {{"mxDveSetWindow", {-1440, -540, 2401, 2160, 0, 0}, 1e-3f},
                     {"mxDveSetDualWindow", {960, -539, 2399, 2158, 2, 0}, 1e-3f}}},
      {2, 12, 1.0f, {{"mxDveSetWindow", {-960, -540, 2880, 2160, 0, 0}, 1e-3f},
                     {"mxDveSetDualWindow", {1919, -539, 2638, 2158, 2, 0}, 1e-3f}}},
      {1, 0, 0.5f, {{"mxFilterSetParameters", {0, 0, 0.50092593f, 0.50092593f}, 1e-7f}, {"mxDveSetMatrix", UNIT}}},
      {1, 4, 0.5f, {{"mxFilterSetParameters", {0, 0, 0.50052083f, 1}, 1e-7f}}},
      {1, 6, 0.5f, {{"mxFilterSetParameters", {0.49907407f, 0, 0.50092593f, 1}, 1e-7f}}},
      {1, 8, 0.5f, {{"mxFilterSetParameters", {0.24947917f, 0, 0.50104167f, 1}, 1e-7f}}},
      {1, 1, 0.003f, {{"mxFilterSetParameters", {0.99699444f, 0, 0.0030055556f, 0.0030055556f}, 1e-7f}}},
      {1, 11, 0.5f, {{"mxTransSetType", {5391, 0, 0.002f}}, {"mxTransSetBkgdPosition", {0.8888889f, 0, -1}},
                     {"mxTransSetPatternMatrix", {1, 0, 960, 0, 1, 540}, 1e-4f}, {"mxFilterSetParameters", {0, 0, 1, 1}},
                     {"mxDveSetWindow", {-743.1897f, -414.7407f, 3404.775f, 1911.296f, 0.002f, 0}, 2e-3f}}},
      {1, 16, 0.5f, {{"mxDveSetWindow", {0, -540, 961.0465f, 2160, 0, 0}, 1e-3f}}},
      {1, 18, 0.5f, {{"mxDveSetDualWindow", {1, -539, 959.0465f, 2158, 2, 0}, 1e-3f}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << " effect " << int(c.effect) << " at " << c.p);
    effect(c.kind, c.effect, c.p);
    expectLast(c.calls);
  }
  effect(1, 1, 0.003f);
  EXPECT_EQ(last("mxFilterSetParameters").args[2], 0.0030055556f);  // not the float 0.0030055554
  effect(2, 8, 0.5f);
  EXPECT_EQ(last("mxFilterSetParameters").target, MX_BKGD_B);
  // Effect 10 flies the background in 3-D; a key zooms about its pattern position (0.6, 0.45 at 0.5
  // for a travel of (2000, 1000)), half size there.
  effect(1, 10, 0.5f);
  EXPECT_EQ(calls("mxDveSetMatrixFloat").size(), 1u);
  keyRec.travel12[0] = 2000, keyRec.travel12[1] = 1000;
  keyEffect(1, 10, 0.5f);
  expectArgs(last("mxFilterSetParameters"), {0.35f, 0.2f, 0.5f, 0.5f});
  EXPECT_EQ(last("mxFilterSetParameters").target, MX_KEY1);
  EXPECT_TRUE(calls("mxDveSetMatrixFloat").empty());
}

// Reversed, 0.3 is drawn as 0.7 is forwards; only the two bus flags of the set-up change places.
TEST_F(EffectsTest, ReverseRunsThePositionBackwardsWithTheBusesSwapped) {
  for (u8 number : {2, 9, 13}) {
    effect(2, number, 0.7f);
    auto forwards = calls();
    for (auto& c : forwards)
      if (std::string(c.function) == "mxDveSetBkgdBuses") std::swap(c.args[0], c.args[1]);
    effect(2, number, 0.3f, 1);
    expectSameCalls(forwards, calls(), 1e-6f);
  }
}

// Both pictures of a push take the frame's loaded border; without a border only picture 0 is
// hard-edged and picture 1 has the record's softness.
TEST_F(EffectsTest, PushesTakeTheLoadedEdgesAndThePausedPushHolds) {
  rec.borderOn = 1, rec.borderWidth = 20;
  for (u8 number : {10, 15}) {
    effect(2, number, 0.3f);
    EXPECT_NEAR(last("mxDveSetWindow").args[5], 5.12f, 1e-5f) << int(number);
    EXPECT_NEAR(last("mxDveSetDualWindow").args[5], 5.12f, 1e-5f) << int(number);
  }
  rec.borderOn = 0, rec.softness = 500;
  effect(2, 14, 0.3f);
  EXPECT_EQ(last("mxDveSetWindow").args[4], 0.0f);
  EXPECT_NEAR(last("mxDveSetDualWindow").args[4], 66.0f, 1e-4f);
  // The paused push draws the same from 0.4 to 0.6.
  effect(2, 12, 0.4f);
  const auto held = calls();
  for (float p : {0.45f, 0.55f, 0.6f}) {
    effect(2, 12, p);
    expectSameCalls(held, calls());
  }
  // Kind 2 has no effect past 15, and a key's DVE takes no timed move: nothing is written.
  const std::pair<u8, u8> none[] = {{2, 16}, {2, 23}, {2, 255}, {1, 20}, {1, 21}, {1, 22}};
  for (auto [kind, number] : none) {
    kind == 2 ? effect(kind, number, 0.5f) : keyEffect(kind, number, 0.5f);
    EXPECT_EQ(calllog::size(), 0u) << int(number);
  }
}

// Effects 16..19 run without border and with softness 2.0 whatever the record says: picture 0
// hard-edged, picture 1 with the 2.0. Effect 17 squeezes vertically: at 0.5 picture 1 is 0.5 + 0.5 k
// of its height, anchored at the bottom, k = 0.0017937 / 0.9972613 + 3 / 1080.
TEST_F(EffectsTest, SqueezePushesRunWithoutBorderAndWithSoftnessTwo) {
  rec.borderOn = 1, rec.borderWidth = 50, rec.softness = 300;
  for (u8 number = 16; number <= 19; ++number) {
    effect(1, number, 0.5f);
    SCOPED_TRACE(int(number));
    expectArgs(last("mxTransSetType"), {MX_TRANS_MIX, 0, 2});
    const calllog::Call w = last("mxDveSetWindow"), d = last("mxDveSetDualWindow");
    EXPECT_EQ(std::tuple(w.args[4], w.args[5], d.args[4], d.args[5]), std::tuple(0.0f, 0.0f, 2.0f, 0.0f));
  }
  effect(1, 17, 0.5f);
  EXPECT_NEAR(last("mxFilterSetParameters").args[3], 0.5022882f, 1e-6f);
  EXPECT_NEAR(last("mxFilterSetParameters").args[1], 0.4977118f, 1e-6f);
}

// The timed move: a first stage to 0.4, held to 0.6, at rest at 1.0. The two-picture moves write
// both pictures for the background (their places and bus flags swapped from 0.4 on), each with the
// frame's loaded border.
TEST_F(EffectsTest, TimedMovesStageHoldAndRest) {
  rec.center[0] = 2000, rec.center[1] = 1000, rec.size1 = 5000;
  effect(1, 23, 0.2f);
  const auto early = calls("mxDveSetWindow");
  effect(1, 23, 0.45f);
  const auto held = calls("mxDveSetWindow");
  ASSERT_EQ(held.size(), 1u);
  EXPECT_NE(argsOf(early.back()), argsOf(held.back()));
  effect(1, 23, 0.6f);
  expectArgs(last("mxDveSetWindow"), argsOf(held.back()), 0);
  effect(1, 23, 1.0f);
  expectLast({{"mxFilterSetParameters", {0, 0, 1, 1}}, {"mxDveSetMatrixFloat", {1, 0, 0, 0, 1, 0, 0, 0, 1}}});

  rec.borderOn = 1, rec.option145 = 2, rec.borderWidth = 30;  // border 3.84, scaled by each picture's size
  for (float p : {0.2f, 0.5f}) {
    effect(1, 20, p);
    SCOPED_TRACE(p);
    EXPECT_NEAR(last("mxDveSetWindow").args[5], 3.84f * calls("mxFilterSetParameters").end()[-2].args[2], 1e-4f);
    EXPECT_NEAR(last("mxDveSetDualWindow").args[5], 3.84f * last("mxFilterSetParameters").args[2], 1e-4f);
    EXPECT_EQ(last("mxFilterSetParameters").target, MX_BKGD_B);
    EXPECT_EQ(last("mxDveSetMatricesFloat").args[18], MX_DVE_EFFECT_PAIR);
    expectArgs(last("mxDveSetBkgdBuses"), {p < 0.4f ? 1.0f : 0.0f, p < 0.4f ? 0.0f : 1.0f, 2});
  }
}

// Kind 3: effect 22 places one picture, effect 23 two (in the DVE's two windows), at 0.5 whatever
// the position; the ends keep their end states, and through apply the end check finishes both.
TEST_F(EffectsTest, KindThreePlacementsOfOneAndTwoPictures) {
  rec.patFree1.size = 5000, rec.patFree2.size = 7000, rec.patFree2.positionX = 2000;
  for (float p : {0.3f, 0.7f}) {
    rec.setPattern(22, 3), frame(p);
    EXPECT_TRUE(calls("mxDveSetDualWindow").empty());
    const auto single = argsOf(last("mxDveSetWindow"));
    rec.setPattern(22, 3), frame(0.5f);
    expectArgs(last("mxDveSetWindow"), single, 0);
    rec.setPattern(23, 3), frame(p);
    EXPECT_EQ(std::pair(calls("mxDveSetWindow").size(), calls("mxDveSetDualWindow").size()), std::pair(1ul, 1ul));
    EXPECT_EQ(last("mxDveSetMatricesFloat").args[18], MX_DVE_EFFECT_PAIR);
  }
  // The second picture (size 0.7) comes first unless the ordering byte is set.
  EXPECT_NEAR(last("mxFilterSetParameters").args[2], 0.5f, 1e-3f);
  rec.option144 = 1;
  rec.setPattern(23, 3), frame(0.5f);
  EXPECT_NEAR(last("mxFilterSetParameters").args[2], 0.7f, 1e-3f);
  for (u8 number : {22, 23}) {
    rec.setPattern(number, 3), frame(1.0f);
    expectArgs(last("mxDveSetMatrix"), UNIT);
    EXPECT_TRUE(calls("mxDveSetMatricesFloat").empty());
  }
}

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
};

TEST_F(WipeTest, WipePositionsByFamily) {
  struct Case { u8 pattern, reverse; float p, w; u8 format = 0, wide = 0; s16 softness = 0; } cases[] = {  // wide: 16:9
      {4, 0, 0.0f, -0.00811108f},  // span 0.004 / 0.5625 + 1.002
      {4, 1, 0.0f, 1.00455553f}, {0, 0, 0.5f, 0.50108333f}, {0, 1, 0.5f, 0.49869444f}, {9, 0, 0.5f, 0.49857778f},
      {10, 0, 0.3f, 0.2991f}, {13, 0, 0.5f, 0.654f}, {13, 1, 0.5f, 0.654f},
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
  sys.sdScale = 0, sys.format = 6;  // keys: D13 and D14 by their types at half way, W4 past the end
  struct KeyCase { u8 pattern; float p, w; } keys[] = {{13, 0.5f, 0.5855f}, {14, 0.5f, 0.46f}, {11, 1.0f, 1.5f}, {8, 0.5f, 0.501f}};
  for (const KeyCase& k : keys) {
    keyRec.transIn.mode = 1, keyRec.effectA[0] = k.pattern;
    keyFrame(k.p);
    expectArgs(last("mxTransSetKeyPosition"), {k.w, 0}, 2e-6f);
  }
}

TEST_F(WipeTest, ShiftsAndInvertFlag) {
  rec.link.selectA = 2, rec.link.selectB = 1;
  wipe(4, 0.5f);
  expectArgs(last("mxTransSetPatternSize"), {0.25f, 0.5f, 2, 1});
  wipe(4, 0.9999f);  // the shift counts hold only between the ends
  expectArgs(last("mxTransSetPatternSize"), {1, 1, 0, 0});

  struct Case { u8 reverse; unsigned ab; float invert; } cases[] = {{0, 0, 1}, {0, 1, 0}, {0, 2, 0}, {1, 0, 0}, {1, 1, 1}};
  for (const Case& c : cases) {
    wipe(8, 0.5f, c.reverse, c.ab);
    EXPECT_EQ(last("mxTransSetBkgdPosition").args[1], c.invert) << int(c.reverse) << c.ab;
  }
}

TEST_F(WipeTest, FreePatternDrawsAtItsSizeAndAtTheEndsAsPatternTen) {
  rec.patFree1.size = 3000, rec.patFree1.positionX = 2000;
  const s16 centre[2] = {2000, 0};  // pattern 10 at the same place
  rec.setCenter(centre);
  for (float p : {0.0f, 1.0f}) {
    wipe(23, p);
    const auto free = calls();
    wipe(10, p);
    expectSameCalls(free, calls());
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
  struct Case { u8 rotationMode; s16 aspect, angle; std::vector<float> m; float border; u8 format = 0, wide = 0; } cases[] = {
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
