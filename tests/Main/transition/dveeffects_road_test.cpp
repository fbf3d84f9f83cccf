// DVE effects among the categories that start-up creates: a background push that ME 1's auto button
// starts runs through the background's frame work, marked in the source tally, and mixes after its
// end; key 1 of ME 0 zooms in through the key update.
#include <gtest/gtest.h>

#include <string>

#include "Driver/core/core.h"
#include "Main/bkgd/bkgd.h"
#include "Main/fader/faderevent.h"
#include "Main/tally/tally.h"
#include "Main/key/key.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"
#include "tests/Main/transition/engine_fixture.h"

namespace {

using transition_test::expectArgs;

class DveEffectsRoadTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override {
    StartedSystemTest::SetUp();
    calllog::enable(true);
  }
  void TearDown() override {
    calllog::enable(false);
    StartedSystemTest::TearDown();
  }
  // One frame; the calls of a setter for a target in ME me's context.
  static std::vector<calllog::Call> of(const char* name, int target, int me) {
    std::vector<calllog::Call> out;
    for (const calllog::Call& c : transition_test::calls(name)) {
      if (c.target == target && c.context == MX_CONTEXT_ME1 + me) out.push_back(c);
    }
    return out;
  }
};

// ME 1's auto button (type 94) starts its selected background at rate 2, a quarter a frame in
// format 0: three frames of the push in the DVE's two windows on ME 1, each marked in the source
// tally, its end drawn at 1 and once more as the position returns to 0, then the mix; ME 0's
// background mixes throughout.
TEST_F(DveEffectsRoadTest, BackgroundPushOfMeOneRunsEveryFrameThenMixes) {
  MxifBkgd r;
  r.me = 1, r.mixMask = 1, r.type = 1;
  r.setPattern(8, 2);
  r.nextMask = 1, r.nextBkgd = 1;
  r.trans.mask = 1u << 2, r.trans.rate = 2;
  peer.send(r);
  runFrame(0);
  category::CategorySystem::instance().record(0).bkgdLatency = 1;
  internal::MxifButtonEvent press{};
  press.code = 1616, press.me = 1, press.state = internal::MxifButtonEvent::PRESSED;
  peer.send(press);  // taken at once in the next frame: the switching gate is open in format 0
  const auto& tally = category::CategorySourceTally::instance();
  const std::string drawn[] = {"push", "push", "push", "end", "end", "mix"};
  for (int frame = 0; frame < 6; ++frame) {
    const std::string& expected = drawn[frame];
    calllog::clear();
    runFrame(0);
    SCOPED_TRACE(testing::Message() << "frame " << frame);
    const std::string what = !of("mxDveSetDualWindow", MX_BKGD, 1).empty() ? "push"
                             : !of("mxDveSetMatrix", MX_BKGD, 1).empty()    ? "end"
                             : !of("mxDveReset", MX_BKGD, 1).empty()        ? "mix"
                                                                             : "nothing";
    EXPECT_EQ(what, expected);
    EXPECT_TRUE(of("mxDveSetWindow", MX_BKGD, 0).empty());
    const u8 marked = what == "push" ? 1 : 0;
    EXPECT_EQ(std::pair(tally.bkgdDveMark(1), tally.bkgdDveMark(0)), std::pair(marked, u8{0}));
  }
}

// Kind 1 effect 0: a key without softness grows from the top-left corner with its position, p of
// its size, ten frames a half in format 0.
TEST_F(DveEffectsRoadTest, KeyZoomsInThroughTheKeyUpdate) {
  MxifKey& k = category::CategoryKey::instance()[0].record(0);
  k.transIn.mode = 1, k.effectA[0] = 0, k.effectA[1] = 1;
  AutoTransition& t = category::CategoryFaderEvent::instance().transition(AutoTransition::keySlot(0, 0));
  t.start(10, 1);
  for (int frame = 0; frame < 20; ++frame) {
    calllog::clear();
    runFrame(frame % 2);
    const float g = std::min(1.0f, static_cast<float>(frame + 1) / 20);
    const auto filters = of("mxFilterSetParameters", MX_KEY1, 0);
    ASSERT_EQ(filters.size(), 1u) << frame;
    expectArgs(filters[0], {0, 0, g, g}, 1e-4f);
    // Through its DVE while it runs; at its end the key, now reversed, stands fully on in setting B's
    // mix.
    const bool running = frame < 19;
    expectArgs(of("mxDveSetEnable", MX_KEY1, 0).back(), {running ? 1.0f : 0.0f, running ? 0.0f : 1.0f});
    expectArgs(of("mxTransSetKeyPosition", MX_KEY1, 0).back(), {1, 0});
  }
}

}  // namespace
