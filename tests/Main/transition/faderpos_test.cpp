#include <gtest/gtest.h>

#include <tuple>

#include "Main/bkgd/autotrans.h"
#include "Main/transition/faderpos.h"
#include "tests/support/board_fixture.h"

using testing_support::BoardTest;

namespace {

// What an update returned, whether it took the transition, the owner and position A after it.
using Took = std::tuple<bool, bool, s32, float>;

class FaderPosTest : public BoardTest {
 protected:
  // A fresh transition in pick-up mode, seen by the tracker at `last` and then at `now`.
  void restAt(float now, float last = -1.0f) {
    t = AutoTransition{}, f = TransitionFader{}, f.bind(&t);
    t.positionA = last < 0 ? now : last, f.advance();
    t.positionA = now, f.advance(), taken = true;
  }
  // The flag starts true and keeps its last value, so both its clearing and its setting show.
  Took update(int fader, float previous, float current, int direction = 0) {
    const bool result = f.update(fader, previous, current, direction, &taken);
    return {result, taken, f.ownerFader, t.positionA};
  }
  AutoTransition t;
  TransitionFader f;
  bool taken = true;
};

TEST_F(FaderPosTest, PickUpCases) {
  // last: the transition's position one frame earlier; position: after the call.
  struct Case { float transition, last, previous, current; bool result, taken; float position; } cases[] = {
      {0.0f, 0.0f, 0.0f, 0.0f, true, false, 0.0f},     // both rest at the start: status only
      {0.0f, 0.0f, 0.0f, 0.1f, true, true, 0.1f},      // leaving the start takes it
      {0.0f, 0.0f, 0.05f, 0.1f, false, false, 0.0f},   // lever already away from the start
      {1.0f, 1.0f, 1.0f, 0.9f, true, true, 0.9f},      // leaving the end takes it
      {1.0f, 1.0f, 0.95f, 0.9f, false, false, 1.0f},
      {0.4f, 0.4f, 0.35f, 0.45f, true, true, 0.45f},   // crossing upwards
      {0.4f, 0.4f, 0.45f, 0.35f, true, true, 0.35f},   // crossing downwards
      {0.4f, 0.4f, 0.4f, 0.5f, true, true, 0.5f},      // starting at the position
      {0.4f, 0.4f, 0.3f, 0.4f, false, false, 0.4f},    // reaching it is not crossing it
      {0.5f, 0.3f, 0.2f, 0.4f, true, true, 0.4f},      // the transition moved past the lever
      {0.4f, 0.4f, 0.4f, 0.400005f, false, false, 0.4f},  // not moved
  };
  for (const Case& c : cases) {
    restAt(c.transition, c.last);
    EXPECT_EQ(update(2, c.previous, c.current), Took(c.result, c.taken, c.taken ? 2 : -1, c.position))
        << c.transition << " " << c.previous << "->" << c.current;
  }
}

TEST_F(FaderPosTest, MatchModeRightAfterARamp) {
  // Within 0.0005 of the position (and not beyond 0.001) the lever takes it without crossing.
  for (float lever : {0.5004f, 0.5009f, 0.4991f, 0.502f, 0.4985f}) {
    restAt(0.5f), t.rampFrames = 0, f.advance();
    const bool taken = lever > 0.499f && lever < 0.501f;
    EXPECT_EQ(update(0, lever, lever), Took(taken, taken, taken ? 0 : -1, taken ? lever : 0.5f)) << lever;
  }
}

TEST_F(FaderPosTest, AnotherOwnerAndRampsKeepTheLeverOff) {
  restAt(0.4f);
  EXPECT_EQ(update(1, 0.2f, 0.35f), Took(false, false, -1, 0.4f));
  ASSERT_TRUE(std::get<0>(update(1, 0.3f, 0.5f)));
  EXPECT_EQ(update(1, 0.5f, 0.9f), Took(true, true, 1, 0.9f));  // once owned, whatever the distance
  EXPECT_EQ(update(1, 0.9f, 0.5f), Took(true, true, 1, 0.5f));
  EXPECT_EQ(update(2, 0.7f, 0.8f), Took(false, false, 1, 0.5f));
  // A ramp under way: even the owner does not move it.
  t.state = AutoTransition::RAMP;
  EXPECT_EQ(std::tuple(update(1, 0.5f, 0.6f), t.state), std::tuple(Took(false, false, 1, 0.5f), AutoTransition::RAMP));
  // A take stops whatever ran.
  t.state = AutoTransition::RUNNING;
  EXPECT_EQ(std::tuple(std::get<0>(update(1, 0.5f, 0.6f)), t.state), std::tuple(true, AutoTransition::IDLE));
}

TEST_F(FaderPosTest, LeverValuesAreInvertedToMatchTheDirection) {
  // Held transition on its way back (mirror -1), no direction passed: lever 0.7 means 0.3.
  restAt(0.25f), t.hold = 1, t.directionMirror = -1;
  EXPECT_EQ(update(0, 0.9f, 0.7f), Took(true, true, 0, 0.3f));
  // A lever direction equal to the transition's flip inverts; a differing one does not, whatever
  // the run's direction.
  restAt(0.4f), t.direction = -1;
  EXPECT_EQ(update(0, 0.7f, 0.5f, 1), Took(true, true, 0, 0.5f));
  EXPECT_EQ(update(0, 0.5f, 0.7f, -1), Took(true, true, 0, 0.7f));
  // The stroke at -1 ends (the lever's direction turned to +1): it completes the transition.
  EXPECT_TRUE(std::get<0>(update(0, 1.0f, 1.0f, 1)));
  EXPECT_EQ(std::tuple(t.positionA, t.flip), std::tuple(0.0f, -1));
}

TEST_F(FaderPosTest, ReleaseIfMovedThresholds) {
  struct Case { int fader; float previous, current; int owner; } cases[] = {
      {0, 0.5f, 0.500005f, 0}, {0, 0.5f, 0.51f, -1}, {0, 0.5f, 0.49f, -1}, {0, 0.0f, 0.000005f, -1},
      {0, 0.999995f, 0.999995f, -1}, {1, 0.5f, 0.9f, 0}};
  for (const Case& c : cases) {
    f.ownerFader = 0, f.releaseIfMoved(c.fader, c.previous, c.current);
    EXPECT_EQ(f.ownerFader, c.owner) << c.previous << "->" << c.current;
  }
}

// A lever set to the end goes back to 0 in the other A/B sense, idle and without owner.
TEST_F(FaderPosTest, SetPositionSnapsTheEnd) {
  restAt(0.5f), f.ownerFader = 3, t.state = AutoTransition::RUNNING, t.flip = 1;
  f.setPosition(1, 1.0f, 0.7f);
  EXPECT_EQ(std::tuple(t.positionA, t.positionB, t.flip, t.state, f.ownerFader),
            std::tuple(0.0f, 0.0f, -1, AutoTransition::IDLE, -1));
}

}  // namespace
