#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "Main/bkgd/autotrans.h"
#include "Main/bkgd/auxtrans.h"
#include "tests/support/board_fixture.h"

using testing_support::BoardTest;

namespace {

// With `alternate`, field 1 comes only on odd calls (the interrupt alternates).
FrameStep frameAt(int format, int call, bool alternate) { return FrameStep{format, alternate ? (call % 2 == 1) : true}; }

// State, position A, direction and flip, compared as one.
using Ends = std::tuple<s32, float, s32, s32>;
Ends ends(const AutoTransition& t) { return {t.state, t.positionA, t.direction, t.flip}; }

void step(AutoTransition& t, bool dual, const FrameStep& f) { dual ? t.advanceDual(f) : t.advanceSingle(f); }

// Calls until the state is back to idle; -1 when it does not end in 10000.
int runLength(AutoTransition& t, bool dual, int format, bool alternate) {
  for (int call = 0; call < 10000; ++call) {
    step(t, dual, frameAt(format, call, alternate));
    if (t.state == AutoTransition::IDLE) return call + 1;
  }
  return -1;
}

// Rate 10 takes 20 calls in format 0 (rate 999 takes 1998), 10 in format 4, and 10 allowed frames of
// 20 interrupts in field-gated format 2. Single precision sums must neither end a run a call early nor
// late (rate 7 in format 0: 14 calls): formats 0, 4 and 2 run every rate from 1 to 30.
TEST(AutoTransitionTest, RunLengthsPerFormat) {
  struct Case { int format, rate; bool alternate; int calls; };
  std::vector<Case> cases = {
      {1, 10, false, 20},   {6, 10, false, 20},    {7, 10, false, 20},   {12, 10, false, 20}, {5, 10, false, 10},
      {10, 10, false, 10},  {11, 10, false, 10},   {3, 10, true, 20},    {8, 10, true, 20},   {9, 10, true, 20},
      {2, 10, false, 10},   {0, 0, false, 1},      {4, 0, false, 1},     {8, 0, true, 2},     {0, 999, false, 1998},
      {4, 100, false, 100}, {5, 500, false, 500},  {4, -5, false, 1},
      {4, 25, true, 25},  // a frame-rate format ignores the field phase
  };
  for (int rate = 1; rate <= 30; ++rate) cases.insert(cases.end(), {{0, rate, false, 2 * rate}, {4, rate, false, rate}, {2, rate, true, 2 * rate}});
  for (const Case& c : cases) {
    for (bool dual : {false, true}) {
      AutoTransition t;
      t.start(c.rate, 1);
      EXPECT_EQ(runLength(t, dual, c.format, c.alternate), c.calls)
          << "format " << c.format << " rate " << c.rate << (dual ? " dual" : " single");
      // An un-held run returns to 0 and flips the A/B sense.
      EXPECT_EQ(std::tuple(t.positionA, t.flip), std::tuple(0.0f, -1));
    }
  }
}

TEST(AutoTransitionTest, StopAndPause) {
  struct Case { u8 hold; int direction; float endA; int endDirection, endFlip; } cases[] = {
      // Un-held it completes: back to 0, flipped; held, it turns round at the end it ran to.
      {0, 1, 0.0f, 1, -1}, {0, -1, 0.0f, -1, -1}, {1, 1, 1.0f, -1, 1}, {1, -1, 0.0f, 1, 1},
  };
  for (const Case& c : cases) {
    for (bool dual : {false, true}) {
      AutoTransition t;
      t.hold = c.hold;
      t.positionA = t.positionB = 0.5f;
      t.start(10, c.direction);
      const FrameStep f{4, true};
      step(t, dual, f);
      t.state = AutoTransition::PAUSED;
      const float paused = t.positionA;
      step(t, dual, f);
      EXPECT_EQ(t.positionA, paused);
      t.stop();
      step(t, dual, f);
      EXPECT_EQ(std::tuple(ends(t), t.positionB), std::tuple(Ends(AutoTransition::IDLE, c.endA, c.endDirection, c.endFlip), dual ? c.endA : 0.5f))
          << int(c.hold) << " " << dual;
    }
  }
}

TEST(AutoTransitionTest, EndSnapping) {
  // Mode -1: setPosition (A alone).
  struct Case { int mode; u8 hold; float a, b, endA, endB; int direction, flip; } cases[] = {
      {-1, 0, 0.99999f, 0, 0.99999f, 0, -1, 1}, {-1, 0, 0.999995f, 0, 0.0f, 0, -1, -1}, {-1, 1, 0.999995f, 0, 1.0f, 0, -1, 1},
      {-1, 0, 0.00001f, 0, 0.00001f, 0, -1, 1}, {-1, 0, 0.000009f, 0, 0.0f, 0, -1, 1},   {-1, 1, 0.000009f, 0, 0.0f, 0, 1, 1},
      {-1, 0, 0.5f, 0, 0.5f, 0, -1, 1},
      // Mode 1: mixed ends stay as they are; both at the end go back to 0, flipped.
      {1, 0, 1.0f, 0.5f, 1.0f, 0.5f, -1, 1},   {1, 0, 0.999995f, 1.0f, 0.0f, 0.0f, -1, -1}, {1, 1, 1.0f, 1.0f, 1.0f, 1.0f, -1, 1},
      {1, 1, 0.000001f, 0.0f, 0.0f, 0.0f, 1, 1}, {1, 1, 0.0f, 0.3f, 0.0f, 0.3f, -1, 1},
      // Any other mode: only A decides.
      {0, 0, 1.0f, 0.5f, 0.0f, 0.0f, -1, -1},  {0, 1, 0.0f, 0.5f, 0.0f, 0.5f, 1, 1},      {2, 1, 0.0f, 0.2f, 0.0f, 0.2f, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << int(c.hold) << " " << c.a << " " << c.b);
    AutoTransition t;
    t.hold = c.hold;
    t.direction = t.directionMirror = -1;
    if (c.mode < 0) {
      t.setPosition(c.a);
    } else {
      t.setMode(static_cast<u8>(c.mode));
      t.setPositions(c.a, c.b);
      EXPECT_EQ(t.positionB, c.endB);
    }
    EXPECT_EQ(ends(t), Ends(AutoTransition::IDLE, c.endA, c.direction, c.flip));
    EXPECT_EQ(t.directionMirror, c.direction);
  }
}

TEST(AutoTransitionTest, DualModeDecidesTheEndOfARun) {
  // Mode 1 runs until both positions reach the end; mode 0 ends with position A.
  for (u8 mode : {0, 1}) {
    AutoTransition t;
    t.setMode(mode);
    t.hold = 1;
    t.positionA = 0.5f;
    t.start(4, 1);
    EXPECT_EQ(runLength(t, true, 4, false), mode ? 4 : 2);
    EXPECT_EQ(std::tuple(t.positionA, t.positionB), std::tuple(1.0f, mode ? 1.0f : 0.5f));
  }
}

TEST(AutoTransitionTest, LimitWindow) {
  AutoTransition t;
  for (auto [in, start, end] : {std::tuple(0.0f, 1.1920929e-7f, 0.99999988f), {1.0f, 0.99999988f, 1.1920929e-7f}}) {
    t.setLimits(in, in);
    EXPECT_EQ(std::tuple(t.limitStart, t.limitEnd), std::tuple(start, end)) << in;
  }

  struct Case { float a, b, v, readOut; } cases[] = {
      {0.25f, 0.25f, 0.5f, 0.5f},   {0.25f, 0.25f, 0.375f, 0.25f}, {0.25f, 0.25f, 0.2f, 0.0f},
      {0.25f, 0.25f, 0.75f, 1.0f},  {0.25f, 0.25f, 0.25f, 0.0f},   {0.5f, 0.5f, 0.4999f, 0.0f},
      {0.5f, 0.5f, 0.5f, 1.0f},     {0.6f, 0.6f, 0.39f, 0.0f},     {0.6f, 0.6f, 0.7f, 1.0f},
      {0.0f, 0.0f, 0.5f, 0.5f},     {0.1f, 0.0f, 0.55f, 0.5f},
  };
  for (const Case& c : cases) {
    t.setLimits(c.a, c.b);
    t.positionA = t.positionB = c.v;
    for (int ch : {0, 1}) EXPECT_NEAR(t.position(ch), c.readOut, 1e-6f) << c.a << " " << c.b << " " << c.v;
  }
  // The scale applies only while held; a ramp reads raw.
  t.setLimits(0.25f, 0.25f);
  t.positionA = 0.5f, t.scale = 0.5f;
  const float plain = t.position(0);
  t.hold = 1;
  const float held = t.position(0);
  t.state = AutoTransition::RAMP;
  for (auto [got, want] : {std::pair(plain, 0.5f), {held, 0.25f}, {t.position(0), 0.5f}}) EXPECT_FLOAT_EQ(got, want);
}

TEST(AutoTransitionTest, PartialEndRampsInAndOut) {
  AutoTransition t;
  t.positionA = t.positionB = 0.6f;
  t.direction = -1;
  t.setPartialEnd(0.5f, 10, 4);
  EXPECT_EQ(std::tuple(t.state, t.hold, t.direction), std::tuple(AutoTransition::RAMP, u8{1}, 1));
  float shown = t.position(0);
  for (int i = 0; i < 10; ++i) {
    t.advanceDual(FrameStep{4, true});
    EXPECT_LT(t.position(0), shown) << "frame " << i;
    shown = t.position(0);
  }
  EXPECT_EQ(std::tuple(t.state, t.positionA), std::tuple(AutoTransition::IDLE, 0.6f));
  EXPECT_NEAR(t.position(0), 0.3f, 1e-6f);
  t.advanceDual(FrameStep{4, true});
  EXPECT_EQ(t.rampFrames, -1);

  // A new end while partial only rescales.
  t.setPartialEnd(0.8f, 10, 4);
  EXPECT_EQ(t.state, AutoTransition::IDLE);
  EXPECT_NEAR(t.position(0), 0.48f, 1e-6f);

  // Leaving partial mode ramps back to the full read-out.
  t.setPartialEnd(1.0f, 4, 0);
  EXPECT_EQ(std::tuple(t.hold, t.rampFrames), std::tuple(u8{0}, 8));
  EXPECT_NEAR(t.position(0), 0.48f, 1e-6f);
  for (int i = 0; i < 8; ++i) t.advanceDual(FrameStep{0, true});
  EXPECT_EQ(std::tuple(t.state, t.scale), std::tuple(AutoTransition::IDLE, 1.0f));
  EXPECT_NEAR(t.position(0), 0.6f, 1e-6f);

  // Full transitions already: nothing moves.
  t.setPartialEnd(0.99999f, 4, 0);
  EXPECT_EQ(std::tuple(t.state, t.scale), std::tuple(AutoTransition::IDLE, 1.0f));
}

class AutoTransitionSlots : public BoardTest {};

TEST_F(AutoTransitionSlots, SlotTable) {
  using A = AutoTransition;
  std::set<int> used, dual;
  for (int me = 0; me < 8; ++me) {
    for (int c = 0; c < 4; ++c) {
      used.insert(A::clipSlot(me, c));
      if (me < 4) used.insert({A::bkgdSlot(me), A::keySlot(me, c), A::dskSlot(c), A::eventMemorySlot(me)});
    }
  }
  EXPECT_EQ(used.size(), 4u + 16u + 4u + 4u + 32u);  // all distinct
  EXPECT_EQ(*used.rbegin(), 79);
  const int slots[][2] = {{A::bkgdSlot(1), 5},    {A::bkgdSlot(2), 10},    {A::bkgdSlot(3), 15},
                          {A::keySlot(3, 3), 19},  {A::dskSlot(0), 20},     {A::clipSlot(1, 2), 30},
                          {A::clipSlot(4, 0), 64}, {A::clipSlot(7, 3), 79}, {A::eventMemorySlot(2), 42}};
  for (const auto& s : slots) EXPECT_EQ(s[0], s[1]);
  for (int s = 0; s < A::N_SLOTS; ++s)
    if (A::isDualSlot(s)) dual.insert(s);
  EXPECT_EQ(dual, (std::set<int>{0, 5, 10, 15, 44, 49, 54, 59}));
}

// Previous source, source and position of a channel as getState gives them.
std::tuple<int, int, float> auxState(const AuxTransition& aux, int ch, int prev = 0, int cur = 0, float pos = 0) {
  aux.getState(ch, prev, cur, pos);
  return {prev, cur, pos};
}

TEST(AuxTransitionTest, MixLengthsAndEvents) {
  // Frames: steps after the change until the mix ends; 0: no mix.
  struct Case { int format, rate; bool alternate; int frames; } cases[] = {
      {0, 10, false, 20}, {4, 10, false, 10}, {11, 10, false, 10}, {2, 10, true, 20}, {9, 10, false, 10},
      {6, 10, false, 20}, {0, 999, false, 1998}, {4, 100, false, 100}, {0, 1, false, 0}, {4, 0, false, 0},
      {13, 4, false, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " rate " << c.rate);
    AuxTransition aux;
    aux.setRate(3, c.rate);
    // The first selection shows at once, without a mix.
    aux.stepChannel(3, 1, FrameStep{c.format, true});
    EXPECT_EQ(std::tuple_cat(auxState(aux, 3), std::tuple(aux.events[3])), std::tuple(1, 1, 1.0f, 0));
    int frames = 0;
    for (int call = 0; call < 5000 && frames == 0; ++call) {
      aux.stepChannel(3, 2, frameAt(c.format, call, c.alternate));
      if (call == 0 && c.frames > 0) {
        EXPECT_EQ(std::tuple(aux.events[3], aux.channels[3].previousSource), std::tuple(AuxTransition::MIX_STARTED, 1));
        aux.events[3] = 0;
      }
      if (!aux.isRunning(3)) frames = call + 1;
    }
    const auto state = auxState(aux, 3);
    EXPECT_EQ(std::tuple(std::get<1>(state), std::get<2>(state), frames, aux.events[3]),
              std::tuple(2, 1.0f, c.frames ? c.frames : 1, c.frames ? AuxTransition::MIX_ENDED : 0));
  }
}

TEST(AuxTransitionTest, HoldFreezesAndTargetChangesDuringAMix) {
  AuxTransition aux;
  auto stepTo = [&](int source) { aux.stepChannel(1, source, FrameStep{4, true}); };
  aux.setRate(1, 4);
  stepTo(10);
  stepTo(11);
  EXPECT_FLOAT_EQ(aux.channels[1].position, 0.25f);
  aux.channels[1].held = 1;
  stepTo(11);
  EXPECT_EQ(std::tuple(aux.channels[1].position, aux.isHeld(1)), std::tuple(0.25f, 1));
  // A further change during the mix only replaces the target.
  stepTo(12);
  EXPECT_EQ(std::tuple(aux.channels[1].previousSource, aux.channels[1].source), std::tuple(10, 12));
  aux.channels[1].held = 0;
  stepTo(12);
  EXPECT_FLOAT_EQ(aux.channels[1].position, 0.5f);
  // Stopped part-way (not running), a new change continues from where it stands.
  aux.channels[1].running = 0;
  stepTo(13);
  EXPECT_EQ(std::tuple(aux.channels[1].previousSource, aux.channels[1].position), std::tuple(12, 0.75f));
  for (int rate : {5000, -4}) {
    aux.setRate(0, rate);
    EXPECT_EQ(aux.channels[0].rate, rate > 0 ? 999 : 0);
  }
}

}  // namespace
