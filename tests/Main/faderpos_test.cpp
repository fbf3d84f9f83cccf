#include <gtest/gtest.h>

#include "Main/autotrans.h"
#include "Main/faderpos.h"
#include "board_fixture.h"
#include "check.h"

using testing_support::BoardTest;

namespace {

class FaderPosTest : public BoardTest {
 protected:
  // A transition resting at `position` in pick-up mode, seen by the tracker for two frames.
  void restAt(float position) {
    t.positionA = position;
    f.bind(&t);
    f.advance();
    f.advance();
  }
  AutoTransition t;
  TransitionFader f;
};

TEST_F(FaderPosTest, PickUpWhenTheLeverCrossesThePosition) {
  restAt(0.4f);
  bool taken = true;
  EXPECT_FALSE(f.update(0, 0.2f, 0.35f, 0, &taken));
  EXPECT_FALSE(taken);
  EXPECT_EQ(f.ownerFader, -1);
  EXPECT_EQ(t.positionA, 0.4f);
  EXPECT_TRUE(f.update(0, 0.35f, 0.45f, 0, &taken));
  EXPECT_TRUE(taken);
  EXPECT_EQ(f.ownerFader, 0);
  EXPECT_EQ(t.positionA, 0.45f);
  // Once owned, the lever positions the transition whatever its distance.
  EXPECT_TRUE(f.update(0, 0.45f, 0.9f, 0));
  EXPECT_EQ(t.positionA, 0.9f);
}

TEST_F(FaderPosTest, PickUpCases) {
  struct Case {
    float transition;
    float last;  // transition position one frame earlier
    float previous, current;
    bool result;
    bool taken;
    float position;  // transition position after the call
  } cases[] = {
      {0.0f, 0.0f, 0.0f, 0.0f, true, false, 0.0f},     // both rest at the start: status only
      {0.0f, 0.0f, 0.0f, 0.1f, true, true, 0.1f},      // leaving the start takes it
      {0.0f, 0.0f, 0.05f, 0.1f, false, false, 0.0f},   // lever already away from the start
      {1.0f, 1.0f, 1.0f, 0.9f, true, true, 0.9f},      // leaving the end takes it
      {1.0f, 1.0f, 1.0f, 1.0f, true, false, 1.0f},
      {1.0f, 1.0f, 0.95f, 0.9f, false, false, 1.0f},
      {0.4f, 0.4f, 0.45f, 0.35f, true, true, 0.35f},   // crossing downwards
      {0.4f, 0.4f, 0.4f, 0.5f, true, true, 0.5f},      // starting at the position
      {0.4f, 0.4f, 0.3f, 0.4f, false, false, 0.4f},    // reaching it is not crossing it
      {0.5f, 0.3f, 0.2f, 0.4f, true, true, 0.4f},      // the transition moved past the lever
      {0.3f, 0.5f, 0.7f, 0.4f, true, true, 0.4f},
      {0.4f, 0.4f, 0.4f, 0.400005f, false, false, 0.4f},  // not moved
  };
  for (const Case& c : cases) {
    AutoTransition tr;
    TransitionFader tf;
    tf.bind(&tr);
    tr.positionA = c.last;
    tf.advance();
    tr.positionA = c.transition;
    tf.advance();
    bool taken = !c.taken;
    EXPECT_EQ(tf.update(2, c.previous, c.current, 0, &taken), c.result)
        << c.transition << " " << c.previous << "->" << c.current;
    EXPECT_EQ(taken, c.taken) << c.transition << " " << c.previous << "->" << c.current;
    EXPECT_EQ(tf.ownerFader, c.taken ? 2 : -1);
    EXPECT_EQ(tr.positionA, c.position);
  }
}

TEST_F(FaderPosTest, MatchModeRightAfterARamp) {
  struct Case {
    float lever;
    bool taken;
  } cases[] = {{0.5004f, true}, {0.5009f, true}, {0.4991f, true}, {0.502f, false}, {0.4985f, false}};
  for (const Case& c : cases) {
    AutoTransition tr;
    TransitionFader tf;
    tf.bind(&tr);
    tr.positionA = 0.5f;
    tr.rampFrames = 0;
    tf.advance();
    bool taken = false;
    EXPECT_EQ(tf.update(0, c.lever, c.lever, 0, &taken), c.taken) << c.lever;
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(tr.positionA, c.taken ? c.lever : 0.5f);
  }
}

TEST_F(FaderPosTest, AnotherOwnerAndRampsKeepTheLeverOff) {
  restAt(0.4f);
  ASSERT_TRUE(f.update(1, 0.3f, 0.5f, 0));
  // Lever 2 neither crosses nor owns: the owner stays.
  EXPECT_FALSE(f.update(2, 0.7f, 0.8f, 0));
  EXPECT_EQ(f.ownerFader, 1);
  EXPECT_EQ(t.positionA, 0.5f);
  // A ramp under way: even the owner does not move it.
  t.state = AutoTransition::RAMP;
  EXPECT_FALSE(f.update(1, 0.5f, 0.6f, 0));
  EXPECT_EQ(t.positionA, 0.5f);
  EXPECT_EQ(t.state, AutoTransition::RAMP);
  // A take stops whatever ran.
  t.state = AutoTransition::RUNNING;
  EXPECT_TRUE(f.update(1, 0.5f, 0.6f, 0));
  EXPECT_EQ(t.state, AutoTransition::IDLE);
}

TEST_F(FaderPosTest, LeverValuesAreInvertedToMatchTheDirection) {
  // Held transition on its way back (mirror -1), no direction passed: lever 0.8 means 0.2.
  restAt(0.25f);
  t.hold = 1;
  t.directionMirror = -1;
  EXPECT_TRUE(f.update(0, 0.9f, 0.7f, 0));
  EXPECT_FLOAT_EQ(t.positionA, 0.3f);

  // A lever direction equal to the transition's direction inverts the values.
  AutoTransition u;
  TransitionFader g;
  g.bind(&u);
  u.positionA = 0.4f;
  g.advance();
  u.direction = 1;
  EXPECT_TRUE(g.update(0, 0.7f, 0.5f, 1));
  EXPECT_FLOAT_EQ(u.positionA, 0.5f);
  EXPECT_TRUE(g.update(0, 0.5f, 0.7f, -1));  // differing direction: taken as it stands
  EXPECT_FLOAT_EQ(u.positionA, 0.7f);
}

TEST_F(FaderPosTest, AdvanceReleasesWhenTheTransitionRuns) {
  restAt(0.4f);
  ASSERT_TRUE(f.update(0, 0.3f, 0.5f, 0));
  t.advanceSingle(FrameStep{4, true});
  f.advance();
  EXPECT_EQ(f.ownerFader, 0);
  EXPECT_EQ(f.lastPosition, 0.4f);
  EXPECT_EQ(f.currentPosition, 0.5f);
  t.start(10, 1);
  t.advanceSingle(FrameStep{4, true});
  f.advance();
  EXPECT_EQ(f.ownerFader, -1);
  EXPECT_FLOAT_EQ(f.currentPosition, 0.6f);
}

TEST_F(FaderPosTest, ReleaseIfMovedThresholds) {
  struct Case {
    int fader;
    float previous, current;
    int owner;
  } cases[] = {
      {0, 0.5f, 0.500005f, 0}, {0, 0.5f, 0.51f, -1},     {0, 0.5f, 0.49f, -1},
      {0, 0.0f, 0.000005f, -1}, {0, 0.999995f, 0.999995f, -1}, {1, 0.5f, 0.9f, 0},
  };
  for (const Case& c : cases) {
    f.ownerFader = 0;
    f.releaseIfMoved(c.fader, c.previous, c.current);
    EXPECT_EQ(f.ownerFader, c.owner) << c.previous << "->" << c.current;
  }
}

TEST_F(FaderPosTest, SetPositionAndState) {
  f.bind(&t);
  f.ownerFader = 3;
  t.state = AutoTransition::RUNNING;
  f.setPosition(1, 1.0f, 0.7f);
  EXPECT_EQ(t.positionA, 0.0f);
  EXPECT_EQ(t.positionB, 0.0f);
  EXPECT_EQ(t.direction, -1);
  EXPECT_EQ(t.state, AutoTransition::IDLE);
  EXPECT_EQ(f.ownerFader, -1);

  f.ownerFader = 3;
  f.setPosition(1, 0.0f, -1.0f);
  EXPECT_EQ(t.positionA, 0.0f);
  EXPECT_EQ(t.positionB, -1.0f);
  EXPECT_EQ(t.direction, 1);
  EXPECT_EQ(f.ownerFader, -1);

  f.ownerFader = 3;
  t.state = AutoTransition::RAMP;
  f.setState(-1, 1.0f, 0.25f);
  EXPECT_EQ(t.positionA, 1.0f);  // no end handling
  EXPECT_EQ(t.positionB, 0.25f);
  EXPECT_EQ(t.direction, -1);
  EXPECT_EQ(t.state, AutoTransition::IDLE);
  EXPECT_EQ(f.ownerFader, -1);
}

TEST_F(FaderPosTest, NegativeFaderFailsTheCheck) {
  restAt(0.4f);
  EXPECT_THROW(f.update(-1, 0.3f, 0.5f, 0), assert::AssertException);
  EXPECT_EQ(testing_support::consoleCount("fader >= 0"), 1);
  EXPECT_EQ(t.positionA, 0.4f);
}

}  // namespace
