// DVE effects among the categories that start-up creates: which effects mark the source tally, and
// a key zoom through the key update.
#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Main/fader/faderevent.h"
#include "Main/key/key.h"
#include "Main/tally/tally.h"
#include "tests/Main/category_fixture.h"
#include "tests/Main/transition/engine_fixture.h"

namespace {

using transition_test::expectArgs;

class DveSystemTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override {
    StartedSystemTest::SetUp();
    sys.bkgdLatency = sys.keyLatency = 1;
    calllog::enable(true);
  }
  void TearDown() override {
    calllog::enable(false);
    StartedSystemTest::TearDown();
  }
  static category::CategorySourceTally& tally() { return category::CategorySourceTally::instance(); }
  // The calls of a setter for a target in ME me's context.
  static std::vector<calllog::Call> of(const char* name, int target, int me) {
    std::vector<calllog::Call> out;
    for (const calllog::Call& c : transition_test::calls(name)) {
      if (c.target == target && c.context == MX_CONTEXT_ME1 + me) out.push_back(c);
    }
    return out;
  }
  // Whether an effect of kind 2 or 1 (3: through the background's load and apply) at p marks ME 1,
  // on the background or on a key, from a fresh ring slot; ME 0 is never marked.
  bool marks(u8 number, u8 kind, float p, bool onKey = false) {
    mxSetContext(MX_CONTEXT_ME1 + 1);
    tally().update();
    rec.setPattern(number, kind);
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    keyRec.transIn.mode = 1, keyRec.effectA[0] = number, keyRec.effectA[1] = kind;
    key.load(keyRec, sys, p);
    TransitionUpdater& u = onKey ? static_cast<TransitionUpdater&>(key) : bkgd;
    if (kind == 3) {
      bkgd.apply(1, p, -1.0f);
    } else if (kind == 2) {
      BkgdTransition::applyEffect(u, p);
    } else {
      KeyTransition::applyEffect(u, p);
    }
    EXPECT_EQ(tally().bkgdDveMark(0), 0);
    return tally().bkgdDveMark(1) != 0;
  }
  MxifBkgd rec;
  MxifSystem sys{};
  MxifKey keyRec;
  BkgdTransition bkgd;
  KeyTransition key;
};

// The background's pushes, paused pushes, shaped zooms, squeeze pushes, timed moves and its
// two-picture placement mark, strictly between the ends; a key's never.
TEST_F(DveSystemTest, BackgroundEffectsMarkTheSelectedMeKeysNever) {
  for (u8 n = 0; n <= 16; ++n) {
    EXPECT_EQ(marks(n, 2, 0.5f), 8 <= n && n <= 15) << "kind 2 effect " << int(n);
    EXPECT_FALSE(marks(n, 2, 0.5f, true)) << "kind 2 effect " << int(n) << " on a key";
  }
  for (u8 n = 0; n <= 23; ++n) {
    EXPECT_EQ(marks(n, 1, 0.5f), (11 <= n && n <= 14) || n >= 16) << "kind 1 effect " << int(n);
    EXPECT_FALSE(marks(n, 1, 0.5f, true)) << "kind 1 effect " << int(n) << " on a key";
  }
  for (float p : {0.0001f, 0.9999f}) {
    EXPECT_FALSE(marks(8, 2, p)) << p;
    EXPECT_FALSE(marks(16, 1, p)) << p;
    EXPECT_FALSE(marks(23, 3, p)) << p;
  }
  EXPECT_TRUE(marks(23, 3, 0.5f));
  EXPECT_TRUE(marks(23, 3, 0.00011f));
  EXPECT_FALSE(marks(22, 3, 0.5f));
}

// Kind 1 effect 0: a key without softness grows from the top-left corner with its position, p of
// its size, ten frames a half in format 0; at its end the key, now reversed, stands fully on in
// setting B's mix.
TEST_F(DveSystemTest, KeyZoomsInThroughTheKeyUpdate) {
  MxifKey& k = category::CategoryKey::instance()[0].record(0);
  k.transIn.mode = 1, k.effectA[0] = 0, k.effectA[1] = 1;
  category::CategoryFaderEvent::instance().transition(AutoTransition::keySlot(0, 0)).start(10, 1);
  for (int frame = 0; frame < 20; ++frame) {
    calllog::clear();
    runFrame(frame % 2);
    const float g = std::min(1.0f, static_cast<float>(frame + 1) / 20);
    const auto filters = of("mxFilterSetParameters", MX_KEY1, 0);
    ASSERT_EQ(filters.size(), 1u) << frame;
    expectArgs(filters[0], {0, 0, g, g}, 1e-4f);
    const bool running = frame < 19;
    expectArgs(of("mxDveSetEnable", MX_KEY1, 0).back(), {running ? 1.0f : 0.0f, running ? 0.0f : 1.0f});
    expectArgs(of("mxTransSetKeyPosition", MX_KEY1, 0).back(), {1, 0});
  }
}

}  // namespace
