// Which DVE effects mark the source tally: the background's pushes, paused pushes, shaped zooms,
// squeeze pushes, timed moves and its two-picture placement, strictly between the ends, on the ME
// whose context is selected; never a key's.
#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Main/tally/tally.h"
#include "Main/transition/updater.h"
#include "tests/Main/category_fixture.h"

namespace {

class DveTallyTest : public test_categories::SystemCategoriesTest {
 protected:
  void SetUp() override {
    SystemCategoriesTest::SetUp();
    sys.bkgdLatency = sys.keyLatency = 1;
    mxSetContext(MX_CONTEXT_ME1 + 1);
  }
  static category::CategorySourceTally& tally() { return category::CategorySourceTally::instance(); }
  // Whether an effect of kind 2 or 1 at p marks ME 1, on the background or on a key, from a fresh
  // ring slot.
  bool marks(u8 number, u8 kind, float p, bool onKey) {
    tally().update();
    rec.setPattern(number, kind);
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    keyRec.transIn.mode = 1, keyRec.effectA[0] = number, keyRec.effectA[1] = kind;
    key.load(keyRec, sys, p);
    TransitionUpdater& u = onKey ? static_cast<TransitionUpdater&>(key) : bkgd;
    if (kind == 2) {
      BkgdTransition::applyEffect(u, p);
    } else {
      KeyTransition::applyEffect(u, p);
    }
    EXPECT_EQ(tally().bkgdDveMark(0), 0);
    return tally().bkgdDveMark(1) != 0;
  }
  // A kind-3 frame through the background's load and apply.
  bool placementMarks(u8 number, float p) {
    tally().update();
    rec.setPattern(number, 3);
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    bkgd.apply(1, p, -1.0f);
    return tally().bkgdDveMark(1) != 0;
  }
  MxifBkgd rec;
  MxifSystem sys{};
  MxifKey keyRec;
  BkgdTransition bkgd;
  KeyTransition key;
};

TEST_F(DveTallyTest, BackgroundEffectsMarkTheSelectedMeKeysNever) {
  for (int n = 0; n <= 16; ++n) {
    EXPECT_EQ(marks(static_cast<u8>(n), 2, 0.5f, false), 8 <= n && n <= 15) << "kind 2 effect " << n;
    EXPECT_FALSE(marks(static_cast<u8>(n), 2, 0.5f, true)) << "kind 2 effect " << n << " on a key";
  }
  for (int n = 0; n <= 23; ++n) {
    EXPECT_EQ(marks(static_cast<u8>(n), 1, 0.5f, false), (11 <= n && n <= 14) || n >= 16) << "kind 1 effect " << n;
    EXPECT_FALSE(marks(static_cast<u8>(n), 1, 0.5f, true)) << "kind 1 effect " << n << " on a key";
  }
  for (float p : {0.0001f, 0.9999f}) {
    EXPECT_FALSE(marks(8, 2, p, false)) << p;
    EXPECT_FALSE(marks(16, 1, p, false)) << p;
  }
}

TEST_F(DveTallyTest, TwoPicturePlacementMarksBetweenTheEnds) {
  EXPECT_TRUE(placementMarks(23, 0.5f));
  EXPECT_TRUE(placementMarks(23, 0.00011f));
  EXPECT_FALSE(placementMarks(23, 0.0001f));
  EXPECT_FALSE(placementMarks(23, 0.9999f));
  EXPECT_FALSE(placementMarks(22, 0.5f));
}

}  // namespace
