// The key update: what it hands the key driver and the colour setter, the position and engine of
// each key, and the front end's on-air requests.
#include <gtest/gtest.h>

#include <algorithm>

#include "Driver/key/key.h"
#include "Main/fader/faderevent.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/key/keysettings.h"
#include "Main/system/system.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryKey;
using category::CategorySystem;
using key_test::bit;
using key_test::callsFor;
using key_test::expectCall;
using transition_test::expectArgs;
using K = MxifKey;

// Key k of ME me: its auto transition and the tracker beside it.
AutoTransition& autoOf(int me, int k) {
  return category::CategoryFaderEvent::instance().transition(AutoTransition::keySlot(me, k));
}
TransitionFader& trackerOf(int me, int k) {
  return category::CategoryFaderEvent::instance().fader(AutoTransition::keySlot(me, k));
}

class KeySettingsTest : public key_test::LoggedTest<> {
 protected:
  static CategoryKey& key(int me) { return CategoryKey::instance()[me]; }
  // One key update of ME me, its calls alone in the log.
  static void update(int me = 0) {
    calllog::clear();
    key(me).update();
  }
};

TEST_F(KeySettingsTest, ColoursByFormatAndTheDveBorderPath) {
  const s16 red[3] = {0, 1000, 1000};
  K &plain = key(0).record(0), &border = key(0).record(1);
  for (s16* c : {plain.matteColor, plain.edgeColor, plain.thirdColor, border.dveBorderColor}) std::copy(red, red + 3, c);
  border.dveTransOn = border.dveShapeOn = 1, border.style.keySource = 1;
  for (int format = 0; format < 12; ++format) {
    SCOPED_TRACE(format);
    CategorySystem::instance().record(0).format = static_cast<u8>(format);
    update();
    const std::vector<float> want = format == 6 || format == 7 ? std::vector<float>{326, 361, 960}
                                                               : std::vector<float>{250, 409, 960};
    for (int target : {+MX_COLOR_KEY1_MATTE, +MX_COLOR_KEY1_SECOND, +MX_COLOR_KEY1_THIRD, MX_COLOR_KEY1_BORDER + 1}) {
      expectCall("mxSetColor", target, want);
    }
  }
  // The border path writes no matte or edge of key 2 (its parameters come from the key DVE), but
  // its third colour and window, and corrects its key-source flag.
  EXPECT_EQ(std::tuple(callsFor("mxKeySetEdge", MX_KEY2).size(), callsFor("mxSetColor", MX_COLOR_KEY1_MATTE + 1).size(),
                       callsFor("mxKeySetSoftMask", MX_KEY2).size()), std::tuple(0u, 0u, 1u));
  EXPECT_EQ(std::vector<u32>({border.style.keySource, border.style.mask}), std::vector<u32>({0, bit(3)}));
}

TEST_F(KeySettingsTest, KeyProcessingByKeyType) {
  // Style: mask, type, second level, option, key source, second mode; adjust: mask, clip, gain, density,
  // mode flag; clip gain: flags, clip, gain, second level, density; the option flag.
  struct Case { KeyStyle style; KeyAdjust adjust; std::vector<float> clipGain; float option; };
  const Case cases[] = {
      {{0, 0, 0, 1, 0, 0}, {0, 1000, 1000, 0, 0}, {0, 940, 1.16895f, 0, 0}, 1},
      {{0, 1, 0, 0, 0, 0}, {0, 0, 2000, 1000, 0}, {0, 64, 248.06f, 0, 1}, 0},
      {{0, 0, 1, 0, 0, 1}, {0, 500, 1500, 250, 1}, {3, 502, 2.8034f, 1.5f, 0.25f}, 0},
      {{0, 1, 1, 1, 0, 0}, {0, 0, 500, 0, 0}, {0, 64, 0.58447f, 0, 0}, 1},
      {{0, 2, 1, 1, 0, 0}, {0, 700, 700, 700, 1}, {1, 0, 1, 0, 0.7f}, 0},
      {{0, 3, 0, 1, 0, 1}, {0, 700, 700, 700, 0}, {6, -1023, 1, 0, 0.7f}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    key(0).record(2).style = c.style, key(0).record(2).adjust = c.adjust;
    update();
    expectCall("mxKeySetClipGain", MX_KEY3, c.clipGain, 0.005f);
    expectCall("mxKeySetOptionFlag", MX_KEY3, {c.option});
  }
}

TEST_F(KeySettingsTest, BoxMaskAndSoftWindow) {
  // Format, mask set (mask, mode, sense, enable), box; mask x, y, width, height, enable, sense flag.
  const std::tuple<u8, K::MaskSet, std::vector<s16>, std::vector<float>> masks[] = {
      {6, {0, 0, 1, 1}, {-100, 100, -100, 100}, {0, 0, 1, 1, 0, 0}},
      {6, {0, 1, 1, 1}, {}, {0.02049f, 0.02243f, 0.95777f, 0.95524f, 1, 0}},
      {0, {0, 2, 0, 1}, {2000, -1000, 3000, -2000}, {0.3f, 0.2f, 0.4f, 0.4f, 1, 1}},  // edges swapped
  };
  for (const auto& [format, set, box, mask] : masks) {
    CategorySystem::instance().record(0).format = format;
    key(1).record(0).maskSet = set;
    std::copy(box.begin(), box.end(), key(1).record(0).maskBox);
    update(1);
    expectCall("mxKeySetMask", MX_KEY1, mask);
  }
  // Window x, y, width, height, softness, soft on; the soft mask.
  const std::tuple<std::vector<s16>, s16, u8, std::vector<float>> windows[] = {
      {{2500, 0, 10000, 5000}, 500, 1, {0.25f, 0.25f, 0.75f, 0.5f, 0.5f}},
      {{0, 0, 20000, 12000}, 500, 0, {0, 0, 1, 1, 0}},  // wider and taller than the frame
      {{-4000, 4000, 4000, 4000}, 1000, 1, {0, 0, 0.3f, 0.3f, 1}},
  };
  for (const auto& [window, softness, softOn, soft] : windows) {
    K& r = key(1).record(3);
    std::copy(window.begin(), window.end(), r.window);
    r.softness = softness, r.softOn = softOn;
    update(1);
    expectCall("mxKeySetSoftMask", MX_KEY4, soft);
  }
}

TEST_F(KeySettingsTest, EdgeKindsFillsAndWhenTheEdgeIsWritten) {
  // Edge: mask, type, width, direction, level, fill; the edge call: kind, width, direction, level; the fill
  // written (0: none).
  struct Case { KeyEdge edge; int target; std::vector<float> edgeArgs; int fill; };
  const Case cases[] = {
      {{1, 1, 3, 2, 3, 0}, MX_KEY2, {MX_KEY_EDGE_1, 3, 90, 1.0f}, MX_COLOR_KEY1_SECOND + 1},
      {{1, 4, 9, 7, 0, 1}, MX_KEY2, {MX_KEY_EDGE_4, 4, 315, 0.25f}, MX_UTIL1},
      {{1, 5, 2, 1, 1, 2}, MX_KEY2, {MX_KEY_EDGE_NONE, 0, 45, 0.5f}, MX_UTIL2},
      {{1, 2, 1, 0, 2, 3}, MX_KEY2, {MX_KEY_EDGE_1 + 1, 1, 0, 0.75f}, 0},
      {{1, 3, 1, 0, 2, 10}, MX_DSK2, {MX_KEY_EDGE_1 + 2, 1, 0, 0.75f}, MX_CLIP_2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    calllog::clear();
    libmx::writeKeyEdgeIfChanged(c.edge, c.target);
    expectCall("mxKeySetEdge", c.target, c.edgeArgs);
    const auto fills = callsFor("mxKeySetEdgeFill", c.target);
    ASSERT_EQ(fills.size(), c.fill != 0 ? 1u : 0u);
    if (c.fill != 0) expectArgs(fills[0], {static_cast<float>(c.fill)});
  }
  // With the change flag clear the edge waits for edge changes; matte, parameters and mask do not.
  CategorySystem::instance().setFormatChangedForTest(0);
  update();
  EXPECT_TRUE(transition_test::calls("mxKeySetEdge").empty());
  for (const char* name : {"mxKeySetClipGain", "mxKeySetMask"}) EXPECT_EQ(transition_test::calls(name).size(), 4u);
  EXPECT_EQ(callsFor("mxSetColor", MX_COLOR_KEY1_MATTE + 2).size(), 1u);
  key(0).record(2).edge.mask = bit(3);
  update();
  EXPECT_EQ(std::tuple(transition_test::calls("mxKeySetEdge").size(), callsFor("mxKeySetEdge", MX_KEY3).size()),
            std::tuple(1u, 1u));
}

TEST_F(KeySettingsTest, StackingOrder) {
  const std::pair<std::vector<u8>, std::vector<float>> cases[] = {
      {{0, 0, 0, 0}, {MX_KEY4, MX_KEY2, MX_KEY3}}, {{1, 0, 1, 2}, {MX_KEY2, MX_KEY3, MX_KEY4}},
      {{3, 2, 1, 0}, {MX_KEY4, MX_KEY3, MX_KEY2}}};
  for (const auto& [ranks, priority] : cases) {
    for (int k = 0; k < 4; ++k) key(3).record(k).priority = ranks[k];
    update(3);
    expectArgs(transition_test::last("mxKeySetPriority"), priority);
  }
}

TEST_F(KeySettingsTest, GeometryFollowerByMirrorMode) {
  const std::vector<int> positions[] = {{100, -200, 7}, {-100, 200, 7}, {-100, -200, 7}, {100, 200, 300}};
  const std::vector<int> rotations[] = {{10, -20, -30}, {-10, 20, -30}, {-10, -20, -30}, {10, 20, 30}};
  for (int mode = 0; mode < 4; ++mode) {
    SCOPED_TRACE(mode);
    key(1).initialize();
    K& t = key(1).record(3);
    t.dvePosition[2] = 7;
    K& s = key(1).record(1);
    s.dveTransOn = 1, s.follower = 4, s.mirrorMode = static_cast<u8>(mode), s.dveSize = 5000;
    s.dveRotation[0] = 10, s.dveRotation[1] = 20, s.dveRotation[2] = 30;
    K in;
    in.mask = bit(K::W0_DVE_POSITION), in.dvePosition[0] = 100, in.dvePosition[1] = 200, in.dvePosition[2] = 300;
    key(1).assign(in, 1);  // the geometry changed
    sendPass(key(1));
    update(1);
    EXPECT_EQ(std::vector<int>(t.dvePosition, t.dvePosition + 3), positions[mode]);
    EXPECT_EQ(std::vector<int>(t.dveRotation, t.dveRotation + 3), rotations[mode]);
    EXPECT_EQ(std::vector<u32>({static_cast<u32>(t.dveSize), t.mask, key(1).geometryChanged(1)}),
              std::vector<u32>({5000, bit(K::W0_DVE_POSITION) | bit(K::W0_DVE_SIZE) | bit(K::W0_DVE_ROTATION), 0}));
    EXPECT_EQ(sendPass(key(1)).size(), 1u);  // the follower
  }
  // A chain 1 -> 2 -> 3 -> 4 -> 1 of ME 0, mirroring y but for key 4: it stops at the visited key 1.
  for (int k = 0; k < 4; ++k) {
    K& r = key(0).record(k);
    r.dveTransOn = 1, r.follower = static_cast<u8>((k + 1) % 4 + 1), r.mirrorMode = k < 3 ? 0 : 3;
  }
  K in;
  in.mask = bit(K::W0_DVE_POSITION), in.dvePosition[1] = 300;
  key(0).assign(in, 0);
  update();
  std::vector<int> y;
  for (int k = 0; k < 4; ++k) y.push_back(key(0).record(k).dvePosition[1]);
  EXPECT_EQ(y, std::vector<int>({300, -300, 300, -300}));
}

TEST_F(KeySettingsTest, PositionAndReverseFollowTheDirection) {
  // Flip, position A; the key position, the reverse byte (bit 29 reports a change only).
  const std::tuple<int, float, float, u8> cases[] = {
      {1, 0.25f, 0.25f, 0}, {-1, 0.25f, 0.75f, 1}, {-1, 1.0f, 0.0f, 1}, {1, 0.6f, 0.6f, 0}};
  K& r = key(1).record(2);
  for (const auto& [flip, a, p, reverse] : cases) {
    autoOf(1, 2).flip = flip, autoOf(1, 2).positionA = a;
    const u8 before = r.reverse;
    r.mask = 0;
    update(1);
    expectCall("mxTransSetKeyPosition", MX_KEY1 + 4, {p, 0});
    EXPECT_EQ(std::pair(r.reverse, (r.mask >> K::W0_REVERSE) & 1), std::pair(reverse, before != reverse ? 1u : 0u));
  }
  // Half-way, after the fader pass: the key and downstream key 1 on air and in transition, at 0.5.
  category::CategoryFaderEvent& faders = category::CategoryFaderEvent::instance();
  AutoTransition& dskAuto = faders.transition(AutoTransition::dskSlot(1));
  autoOf(1, 2).flip = dskAuto.flip = 1, autoOf(1, 2).positionA = dskAuto.positionA = 0.5f;
  faders.update();
  update(1);
  category::CategoryDsk::instance().update();
  expectCall("mxTransSetKeyPosition", MX_KEY1 + 4, {0.5f, 0});
  expectCall("mxKeySetLevel", MX_DSK1 + 2, {0.5f});
  const MxifDsk& d = category::CategoryDsk::instance().record(1);
  EXPECT_EQ(std::tuple(r.onAir, r.inTransition, r.stopping, d.onAir, d.inTransition, d.stopping),
            std::tuple(1, 1, 0, 1, 1, 0));
}

TEST_F(KeySettingsTest, OnAirRequestsStopGroupedKeysInTheSameState) {
  struct Case { int request; u8 onAir[4], group[4]; bool stopped[4]; } cases[] = {
      {0, {1, 1, 1, 0}, {1, 0, 1, 1}, {true, false, true, false}},   // key 4 grouped but off air
      {1, {1, 1, 1, 0}, {1, 0, 1, 1}, {false, false, false, false}},  // equal to the on-air byte
      {1, {0, 1, 1, 0}, {0, 0, 0, 1}, {true, false, false, false}},   // not grouped: itself only
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 4; ++k) {
      key(2).record(k).onAir = c.onAir[k], key(2).record(k).group = c.group[k];
      autoOf(2, k).state = AutoTransition::RUNNING;
      trackerOf(2, k).ownerFader = 1;
    }
    K in;
    in.mask1 = 1u << K::W1_ON_AIR, in.onAir = static_cast<u8>(c.request);
    key(2).assign(in, 0);
    EXPECT_EQ(key(2).record(0).onAir, c.request);  // taken, and kept as the request
    key(2).record(0).onAir = c.onAir[0];           // as the fader pass sets it back before the update
    update(2);
    EXPECT_EQ(key(2).onAirRequest(0), -1);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(std::pair(int{autoOf(2, k).state}, trackerOf(2, k).ownerFader),
                std::pair(int{c.stopped[k] ? AutoTransition::STOP_REQUEST : AutoTransition::RUNNING}, c.stopped[k] ? -1 : 1));
    }
  }
}

}  // namespace
