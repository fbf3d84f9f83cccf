#include "Main/transition/updater.h"

#include <gtest/gtest.h>

#include "Main/framework/bp.h"
#include "tests/Main/test_categories.h"
#include "tests/Main/transition/engine_fixture.h"
#include "tests/support/board_fixture.h"

using namespace transition_test;

namespace {

using UpdaterTest = LayerTest;

TEST_F(UpdaterTest, BackgroundMixPositionsPreviewAndRouting) {
  struct Case { unsigned ab; u8 next; float p, q, position, second, preview; } cases[] = {
      {0, 0, 0.5f, -1.0f, 0.5f, -1.0f, 1}, {1, 0, 0.3f, 0.6f, 0.3f, 0.6f, 0}, {0, 1, 0.3f, 0.6f, 0.7f, 0.4f, 0},
      {2, 0, 0.25f, -1.0f, 0.75f, -1.0f, 0}, {2, 1, 0.25f, -1.0f, 0.75f, -1.0f, 1},
  };
  for (const Case& c : cases) {
    rec.nextBkgd = c.next;
    frame(c.p, 0, 0, c.ab, c.q);
    SCOPED_TRACE(c.ab * 10 + c.next);
    expectLast({{"mxTransSetType", {MX_TRANS_MIX, 0, 0}}, {"mxTransSetBkgdPosition", {c.position, 0, c.second}},
                {"mxTransSetBkgdPreview", {c.preview}}});
  }
  // Latency, or an image effect on a bus, routes the mix through the DVE with one frame of delay.
  struct Route { u8 latencyOption, imageA, imageB; float e; } routes[] = {{0, 0, 0, 1}, {1, 0, 0, 0}, {1, 1, 0, 1}, {1, 0, 1, 1}};
  for (const Route& r : routes) {
    sys.bkgdLatency = r.latencyOption, calllog::clear(), bkgd.load(rec, sys, 0.5f, 0, 0, 0, 0);
    bkgd.imageOnA = r.imageA, bkgd.imageOnB = r.imageB, bkgd.apply(0, 0.5f, -1.0f);
    expectLast({{"mxTransSetLatency", {r.e}}, {"mxDveSetEnable", {0, r.e}}, {"mxDveSetBkgdBuses", {0, 1, 0}}});
  }
}

TEST_F(UpdaterTest, NamAndCmixFollowTheLiveRecordWhileRunning) {
  test_categories::TestCategory<MxifBkgd> owner;
  MxifBkgd live[1];
  category::CategoryRegistry::instance().bindInstance(0, category::TYPE_BKGD, reinterpret_cast<u8*>(live));
  struct Case { float p, q; u8 namCmix; int type; u8 namAfter; } cases[] = {  // type 0: no type call
      {0.0f, -1.0f, 1, 5376, 0}, {0.5f, -1.0f, 1, 5378, 1}, {0.5f, -1.0f, 0, 5377, 1}, {0.5f, -1.0f, 2, 0, 1},
      {0.0f, 1.0f, 0, 5376, 0},  {0.0f, 0.5f, 0, 5377, 1}};
  rec.nam = 1;
  for (const Case& c : cases) {
    live[0].namCmix = c.namCmix;
    frame(c.p, 0, 0, 0, c.q);
    EXPECT_EQ(std::pair(calls("mxTransSetType").empty() ? 0 : int(last("mxTransSetType").args[0]), int{bkgd.nam}), std::pair(c.type, int{c.namAfter}))
        << c.p << " " << c.q << " " << int(c.namCmix);
  }
}

TEST_F(UpdaterTest, DveEffectKeepsTheEffectPathTwoFramesAfterReturningToZero) {
  rec.setPattern(0, 2);
  // effect: the slide, or at 0 the end state of the effect, is drawn (else a mix); one position each frame.
  struct Step { float p; int pending; size_t effect; } steps[] = {{0.3f, 0, 1}, {0.0f, 2, 1}, {0.0f, 1, 1}, {0.0f, 0, 0}};
  for (const Step& s : steps) {
    frame(s.p);
    EXPECT_EQ(std::tuple(bkgd.pendingFrames, calls("mxDveSetMatrix").size(), calls("mxTransSetBkgdPosition").size()),
              std::tuple(s.pending, s.effect, 1ul)) << s.p;
  }
  sys.bkgdLatency = 0, frame(0.3f), frame(0.0f);  // latency 1 mixes at once
  EXPECT_EQ(std::pair(bkgd.pendingFrames, calls("mxDveSetMatrix").size()), std::pair(0, 0ul));
  expectArgs(last("mxTransSetBkgdPosition"), {1, 0, -1});

  // A wipe at 0.00005 mixes, unless the alternation holds it at 0.
  rec.setPattern(4, 0), frame(0.00005f);
  expectArgs(last("mxTransSetType"), {MX_TRANS_MIX, 0, 0});
  rec.nrMode = 1, frame(0.00005f);
  EXPECT_EQ(last("mxTransSetType").args[0], 5379);
}

// At the ends the picture of a zoom from the top edge finishes the DVE kinds: whole at 1, a
// zero-height window at 0 (reversed, 1 is drawn as 0). Format 0, no border, softness 2.
TEST_F(UpdaterTest, EndCheckDrawsTheZoomEndStates) {
  rec.setPattern(3, 2), rec.option145 = 2;
  struct Case { u8 reverse; float scaleY; std::vector<float> window; std::vector<float> buses; } cases[] = {
      {0, 1, {-959, -540, 3838, 2162, 2, 0}, {1, 0, 2}}, {1, 0, {-959, 1, 3838, 0, 2, 0}, {0, 1, 2}}};
  for (const Case& c : cases) {
    frame(1.0f, 1, c.reverse);
    SCOPED_TRACE(int(c.reverse));
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(bkgd.window[i], i % 2 == 0 ? -0.5f : 1.5f);
    expectLast({{"mxFilterSetParameters", {0, 0, 1, c.scaleY}}, {"mxDveSetWindow", c.window, 1e-3f},
                {"mxDveSetMatrix", {1, 0, 0, 0, 1, 0}}, {"mxDveSetBkgdBuses", c.buses}, {"mxDveSetEnable", {1, 0}},
                {"mxTransSetBkgdPosition", {1, 0, -1}}});
  }
  // A wipe at its end is the wipe's.
  rec.setPattern(3, 0), frame(1.0f);
  EXPECT_EQ(std::pair(calls("mxDveSetMatrix").size(), last("mxTransSetType").args[0]), std::pair(0ul, 5385.0f));
}

TEST_F(UpdaterTest, EdgeParametersByKind) {
  struct Case { u8 format, mode, kind, effect, borderOn; s16 b, s; float border, soft, halfSoft, span; } cases[] = {
      {6, 0, 0, 0, 0, 0, 0, 0, 0.004f, 0.002f, 0},         {7, 0, 0, 0, 0, 0, 0, 0, 0.004f, 0.002f, 0},
      {0, 2, 0, 0, 0, 0, 0, 0, 0.001f, 0.0005f, 0},        {0, 0, 0, 0, 0, 0, 0, 0, 0.002f, 0.001f, 0},
      {0, 0, 0, 0, 1, 70, 50, 0.024f, 0.007f, 0, 0},       {0, 0, 1, 12, 0, 0, 50, 0, 0.005f, 0.0025f, 0},
      {0, 0, 2, 0, 0, 0, 500, 0, 66, 0, 66},               {0, 0, 2, 0, 1, 10, 500, 1.28f, 2.64f, 0, 5.2f},
      {7, 0, 2, 0, 0, 0, 500, 0, 62, 0, 62},               {0, 0, 1, 21, 0, 0, 500, 0, 34, 0, 34},
      {0, 0, 3, 0, 0, 0, 500, 0, 64, 0, 64},               {0, 0, 3, 22, 0, 0, 500, 0, 34, 0, 34},
      {0, 0, 3, 1, 1, 10, 500, 1.28f, 2.64f, 0, 5.2f}};
  for (const Case& c : cases) {
    sys.format = c.format, sys.mode = c.mode, rec.setPattern(c.effect, c.kind);
    rec.borderOn = c.borderOn, rec.borderWidth = c.b, rec.softness = c.s, bkgd = BkgdTransition{};
    bkgd.load(rec, sys, 0.5f, 1, 0, 0, 0);
    SCOPED_TRACE(testing::Message() << int(c.format) << "/" << int(c.kind) << "/" << int(c.effect));
    const float got[4] = {bkgd.border, bkgd.soft, bkgd.halfSoft, bkgd.edgeSpan};
    const float want[4] = {c.border, c.soft, c.halfSoft, c.span};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], i == 2 ? 1e-6f : 1e-5f) << i;
  }
  // Kind 3 effects 0..3 and 8..11 run against the direction byte; kind 2 follows it.
  for (u8 kind : {2, 3})
    for (u8 effect = 0; effect < 24; ++effect) {
      rec.setPattern(effect, kind), bkgd.load(rec, sys, 0.5f, 1, 0, 0, 0);
      const bool turned = kind == 3 && (effect < 4 || (effect >= 8 && effect <= 11));
      EXPECT_EQ(bkgd.reverse, turned ? 1 : 0) << int(kind) << "/" << int(effect);
    }
}

TEST_F(UpdaterTest, BackgroundWindowByAreaMode) {
  struct Case { u8 format, area, presetCheck, presetOk, kind, effect; float window[4]; u8 areaMode; } cases[] = {
      {0, 1, 0, 0, 0, 4, {0.01039332f, 0.98913667f, 0.01107204f, 0.98987296f}, 1},
      {0, 2, 0, 0, 0, 4, {0.1354f, 0.8646f, 0.01107204f, 0.98987296f}, 2},
      {0, 3, 1, 1, 0, 4, {0.01039332f, 0.98913667f, 0.01107204f, 0.98987296f}, 1},
      {7, 2, 0, 0, 0, 4, {0.00286055f, 0.99588946f, 0.00511444f, 0.99666557f}, 2},
      {0, 4, 0, 0, 1, 10, {0.30208333f, 0.74791667f, 0.2037037f, 0.5962963f}, 4},
      {0, 4, 0, 0, 0, 4, {0.00101835f, 0.99851167f, 0.0027387f, 0.9982063f}, 0}};
  const s16 edges[4] = {-2000, 3000, -1000, 2500};  // left, top, bottom, right
  rec.setEdges(edges);
  for (const Case& c : cases) {
    sys.format = c.format, rec.option146 = c.area, rec.presetCheck = c.presetCheck, rec.setPattern(c.effect, c.kind);
    bkgd.load(rec, sys, 0.5f, 1, 0, 0, c.presetOk);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(bkgd.window[i], c.window[i], 1e-6f) << int(c.format) << "/" << int(c.area);
    EXPECT_EQ(bkgd.areaMode, c.areaMode);
  }

  rec.nrMode = 1, bkgd.load(rec, sys, 0.0f, 1, 0, 0, 0);  // held at 0: the whole picture with a margin
  EXPECT_EQ(bkgd.holdAtZero, 1);
  EXPECT_NEAR(bkgd.window[0], -0.1f, 1e-7f);
  EXPECT_NEAR(bkgd.window[3], 1.1f, 1e-7f);
}

TEST_F(UpdaterTest, KeySettingsWindowAndPositionByChannel) {
  // Setting A: mode 1, effect 4, kind 0; setting B: mode 0, effect 9, kind 1.
  keyRec.transIn.mode = 1, keyRec.effectA[0] = 4, keyRec.effectA[1] = 0, keyRec.transOut.mode = 0, keyRec.effectB[0] = 9, keyRec.effectB[1] = 1;
  struct Select { u8 link, reverse, both; u32 mode; u8 effect, kind; } selects[] = {{1, 0, 0, 1, 4, 0},
      {1, 1, 0, 1, 9, 1}, {1, 1, 1, 1, 4, 0}, {0, 0, 0, 1, 4, 0}, {0, 1, 0, 0, 9, 1}, {0, 1, 1, 0, 4, 0}};
  for (const Select& s : selects) {
    keyRec.inOutLink = s.link, keyRec.reverse = s.reverse, keyRec.effectBoth = s.both, key.load(keyRec, sys, 0.5f);
    EXPECT_EQ(std::tuple(key.mode, key.effect, key.kind), std::tuple(s.mode, s.effect, s.kind))
        << int(s.link) << int(s.reverse) << int(s.both);
  }

  keyRec.inOutLink = 1, keyRec.reverse = 0;
  keyRec.travel12[0] = 100, keyRec.travel12[1] = 200, keyRec.travel12Rev[0] = 300, keyRec.travel12Rev[1] = 400;
  keyRec.travel34[0] = 500, keyRec.travel34[1] = 600, keyRec.travel34Rev[0] = 700, keyRec.travel34Rev[1] = 800;
  struct Position { u16 channel; u8 reverse, both; float x, y; } positions[] = {{0, 0, 0, 0.01f, -0.02f},
      {1, 1, 0, 0.03f, -0.04f}, {2, 0, 0, 0.05f, -0.06f}, {3, 1, 0, 0.07f, -0.08f}, {2, 1, 1, 0.05f, -0.06f}};
  for (const Position& c : positions) {
    keyRec.channel = c.channel, keyRec.reverse = c.reverse, keyRec.travel12Both = keyRec.travel34Both = c.both;
    keyRec.effectB[0] = 4, keyRec.effectB[1] = 0, key.load(keyRec, sys, 0.5f);
    EXPECT_EQ(std::pair(key.position[0], key.position[1]), std::pair(c.x, c.y)) << c.channel;
  }

  // Past the end the key's window takes in the whole picture with a margin.
  key.load(keyRec, sys, 1.0f);
  EXPECT_NEAR(key.window[0], -0.1f, 1e-7f);
  EXPECT_NEAR(key.window[3], 1.1f, 1e-7f);
}

TEST_F(UpdaterTest, ModulationPhaseRunsOverFrames) {
  rec.setPattern(4, 0), rec.modulationX = {0xF, 1, 10000, 200, 40}, rec.modulationY = {0xF, 0, 4000, 200, -40};
  const float yPhases[] = {0.9f, 0.8f, 0.7f};
  for (int n = 1; n <= 10; ++n) {
    frame(0.5f);
    auto mods = calls("mxTransSetModulation");
    ASSERT_EQ(mods.size(), 2u);
    if (n < 10) expectArgs(mods[0], {MX_TRANS_MOD_X, 0.25f, 1.0f, 0.1f * static_cast<float>(n)}, 1e-5f);
    if (n <= 3) expectArgs(mods[1], {MX_TRANS_MOD_Y, 0.1f, 1.0f, yPhases[n - 1]}, 1e-5f);
  }
  EXPECT_NEAR(bkgd.modPhase[0], 1.19e-7f, 1e-8f);  // ten steps of 0.1 wrap to just above 0
  expectArgs(last("mxTransSetModulationPattern"), {MX_TRANS_MOD_Y, MX_TRANS_MOD_SINE});
  EXPECT_EQ(bkgd.modPattern[0], static_cast<u32>(MX_TRANS_MOD_DELTA));
  for (float p : {0.0f, 1.0f}) {
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    EXPECT_EQ(bkgd.modAmp[0], 0.0f) << p;
  }
  rec.modulationX.phaseSpeed = 0, frame(0.5f);
  EXPECT_EQ(bkgd.modPhase[0], 0.0f);
}

TEST_F(UpdaterTest, KeyMixAndTheRefusedDveKindOfKeysWithoutDve) {
  keyRec.channel = 2;
  keyFrame(0.25f);
  EXPECT_EQ(std::pair(calls("mxDveReset").size(), last("mxTransSetKeyPosition").target), std::pair(1ul, int{MX_KEY3}));
  expectLast({{"mxTransSetKeyPosition", {0.25f, 0}}, {"mxKeySetPreview", {0}}});

  // Key 3 has no DVE: a DVE kind mixes, with one line per kind.
  keyRec.transIn.mode = 1, keyRec.effectA[1] = 2;
  for (float p : {0.5f, 0.6f, 1.0f}) keyFrame(p);
  expectArgs(last("mxTransSetType"), {MX_TRANS_MIX, 0, 0});
  EXPECT_TRUE(calls("mxDveSetWindow").empty());
  EXPECT_EQ(testing_support::consoleCount("key 3 has no DVE: transition kind 2 mixes"), 1);
  for (u8 kind : {1, 0, 1}) keyRec.effectA[1] = kind, keyFrame(0.5f);
  EXPECT_EQ(testing_support::consoleCount("key 3 has no DVE: transition kind 1 mixes"), 2);
}

}  // namespace
