// The colour backgrounds through the request ring down to the generator registers.
#include <gtest/gtest.h>

#include <vector>

#include "Main/bkgd/cbgd.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryCbgd;

constexpr u32 G1 = 0x83001440, G2 = 0x83001480;

u32 bit(int b) { return 1u << b; }

using CbgdCategoryTest = test_categories::StartedSystemTest;

TEST_F(CbgdCategoryTest, GeneratorRegistersAfterTheNextDriverUpdate) {
  MxifCbgd r{};
  r.mask = bit(MxifCbgd::BIT_COLOR1) | bit(MxifCbgd::BIT_COLOR2) | bit(MxifCbgd::BIT_WASH) |
           bit(MxifCbgd::BIT_FORM) | bit(MxifCbgd::BIT_RATE) | bit(MxifCbgd::BIT_DIRECTION);
  r.color1[1] = 1000, r.color1[2] = 1000;                       // red
  r.color2[0] = 2400, r.color2[1] = 1000, r.color2[2] = 1000;  // green
  r.wash = 1, r.form = 1, r.rate = 25, r.direction = 900;       // rate 1.0 at 90 degrees
  peer.send(r);
  runFrame(0);
  auto words = [] {
    std::vector<u32> w;
    for (u32 off : {0, 32, 36, 40, 48, 52, 56}) w.push_back(platform::regPeek(G1 + off));
    return w;
  };
  runFrame(0);
  EXPECT_EQ(words(), (std::vector<u32>{1, 250, 409, 960, 442, u32(166 - 409), u32(104 - 960)}));
  EXPECT_EQ(std::vector<u32>({platform::regPeek(G1 + 4), platform::regPeek(G1 + 8), platform::regPeek(G1 + 12)}),
            (std::vector<u32>{0, 2184, 14336}));  // horizontal step, vertical step, phase
  // The second generator shows its default: flat red.
  EXPECT_EQ(platform::regPeek(G2 + 32), 250u);
  // Standard-definition system formats take the BT.601 set: the colours are applied again in the
  // frame that applies the format.
  MxifSystem sd{};
  sd.videoMask = MxifSystem::FORMAT, sd.format = 6;
  category::CategorySystem::instance().assign(sd, 0);
  runFrame(0), runFrame(0);
  EXPECT_EQ(words(), (std::vector<u32>{1, 326, 361, 960, 579 - 326, u32(215 - 361), u32(136 - 960)}));
}

// The wash's steps and phase (registers 4, 8, 12) after n frames of motion: rate 0 and 1000 give
// 0.5 and 20.5; a scroll of 45 a frame reaches 1800 in the fortieth and wraps to -1800; a rotation
// of -25 a frame wraps below 0 by adding 359, one of 25 above 360 by taking 359 off.
TEST_F(CbgdCategoryTest, MotionRateWrapsAndTurns) {
  struct Case { s16 rate; u8 motion; s16 speed; int frames; std::vector<u32> words; } cases[] = {
      {0, MxifCbgd::STILL, 0, 1, {1092, 0, 0}}, {1000, MxifCbgd::STILL, 0, 1, {44782, 0, 0}},
      {25, MxifCbgd::SCROLL, 180, 39, {2184, 0, u32(-319488)}}, {25, MxifCbgd::SCROLL, 180, 40, {2184, 0, 327680}},
      {25, MxifCbgd::ROTATE, -500, 1, {1963, u32(-957), 11396}}, {25, MxifCbgd::ROTATE, 500, 15, {2099, 602, u32(-3811)}}};
  for (const Case& c : cases) {
    SetUp();
    MxifCbgd r{};
    r.mask = bit(MxifCbgd::BIT_RATE) | bit(MxifCbgd::BIT_MOTION) | bit(MxifCbgd::BIT_SPEED);
    r.rate = c.rate, r.motion = c.motion, r.speed = c.speed;
    peer.send(r);
    for (int f = 0; f <= c.frames; ++f) runFrame(0);  // the registers show the frame before
    EXPECT_EQ(std::vector<u32>({platform::regPeek(G1 + 4), platform::regPeek(G1 + 8), platform::regPeek(G1 + 12)}), c.words)
        << c.rate << " " << int(c.motion) << " " << c.speed << " " << c.frames;
  }
}

}  // namespace
