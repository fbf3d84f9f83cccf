// The display encoder: the reduced picture and JPEG pipelines, their budgets and the cleared memory.
#include "Driver/display/display.h"

#include <bit>

#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

struct FilterCall { int target; float a, b, c, d; bool operator==(const FilterCall&) const = default; };
std::vector<FilterCall> filterCalls;

class DisplayTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxDisplaySetFilterSetter([](int t, float a, float b, float c, float d) { filterCalls.push_back({t, a, b, c, d}); });
    filterCalls.clear();
    mxInitialize(0, 1.0f);
  }
  // One frame with the glue field bit and the JPEG toggle bit given.
  static void frame(int field = 0, int toggle = 0) {
    regPoke(0x40004510, static_cast<u32>(field | toggle << 1));
    mxUpdate();
  }
  static DisplayStatus status() {
    DisplayStatus s;
    std::memcpy(&s, memory(0x33000200, sizeof s), sizeof s);
    return s;
  }
  static void encoded(u32 size) {
    regPoke(0x40005104, 0x20);
    regPoke(0x40005108, size);
  }
};

TEST_F(DisplayTest, PipelineOfEachModeAndFormat) {
  // window, encoder: 0x40005150..5C and 0x40005014, 18, 24, 28; me: 0x82002104, 08, 0x82002410, 18, 0x82002100.
  struct Case { int format, mode; Words window, encoder; Words me; std::vector<FilterCall> filters; } cases[] = {
      {4, MX_DISPLAY_PICTURE, {96, 32, 416, 288}, {4, 236, 1151, 287}, {1704, 1695, 719, 245, 0},
       {{4754, 96 / 720.f, 32 / 244.f, 320 / 720.f, 1}}},
      {2, MX_DISPLAY_PICTURE, {0, 0, 512, 288}, {4, 284, 1151, 287}, {3288, 3279, 1279, 362, 0},
       {{4754, 1 / 1280.f, 0, 507 / 1280.f, 287 / 720.f}}},
      {0, MX_DISPLAY_JPEG, {0, 0, 1920, 928}, {0, 0, 1919, 911}, {4388, 4379, 1279, 362, 1},
       {{4754, 0, 0, 1, 1}, {13315, 3 / 1920.f, 0, 640 / 1920.f, 360 / 540.f}}},
      {5, MX_DISPLAY_JPEG, {0, 0, 768, 928}, {0, 0, 767, 911}, {1716, 1707, 719, 290, 1},
       {{4754, 0, 0, 1, 1}, {13315, 0, 0, 320 / 720.f, 1}}}};
  for (const auto& c : cases) {
    SetUp();
    mxInitialize(c.format, 1.0f);
    const bool jpeg = c.mode == MX_DISPLAY_JPEG;
    mxDisplaySetMode(c.mode, 1, 0);
    filterCalls.clear();
    traceClear();
    if (jpeg) frame();  // a change of mode sets the pipeline up again
    else mxDisplayInit();  // the reduced picture is the mode at start
    SCOPED_TRACE(c.format);
    Words shared;  // registers other blocks also write
    for (u32 adr : {0x40004800u, 0x83001794u, 0x83001798u}) for (u32 w : writesTo(adr)) shared.push_back(w);
    EXPECT_EQ(std::make_tuple(shared, peek(0x40005150, {0, 4, 8, 12}), peek(0x40005000, {0x14, 0x18, 0x24, 0x28})),
              std::make_tuple(jpeg ? (Words{0x3E000440, c.format == 5 ? 1u : 544u}) : Words(), c.window, c.encoder));
    EXPECT_EQ(peek(0x82002000, {0x104, 0x108, 0x410, 0x418, 0x100}), c.me);
    EXPECT_EQ(regPeek(0x40004000), jpeg ? 1u : 0u);
    EXPECT_TRUE(filterCalls == c.filters);
  }
}

// Sizes wait 30 frames after a set-up; the scale follows size x 480e-6 / 30, at least 0.8 of itself.
TEST_F(DisplayTest, ReducedPictureAdaptsItsScale) {
  mxDisplaySetMode(MX_DISPLAY_PICTURE, 1, 5);
  EXPECT_EQ(mxDisplayState(), 1);
  encoded(78125);  // 1.25 times
  frame(0);
  traceClear();
  frame(1);
  DisplayStatus s = status();
  EXPECT_EQ(Words({s.ready, s.size, s.width, s.height}), Words({0, 0, 1152, 288}));
  EXPECT_FLOAT_EQ(s.scale, 2.5f);
  EXPECT_FLOAT_EQ(s.chromaOffset, 0.5f);  // of the picture reported, begun on field 0
  EXPECT_EQ(regPeek(0x4000502C), static_cast<u32>(1048576 / (3.125f * 8)));  // the last entry of the port
  EXPECT_EQ(writesTo(0x40005100), (Words{0, 1}));
  EXPECT_EQ(writesTo(0x40005180), (Words{std::bit_cast<u32>(0.5625f), std::bit_cast<u32>(-0.5625f)}));
  for (int f = 2; f < 30; ++f) frame(f & 1);
  EXPECT_EQ(status().size, 0u);
  frame();
  EXPECT_EQ(status().size, 78125u);
  EXPECT_FLOAT_EQ(status().scale, 15.5f);
  encoded(1000);  // 0.016: the floor of 0.8
  frame();
  frame();
  EXPECT_FLOAT_EQ(status().scale, 15.5f * 0.8f);
  mxDisplaySetMode(MX_DISPLAY_NONE, 1, 0);
  frame();
  EXPECT_EQ((Words{status().size, regPeek(0x40005100)}), (Words{0, 0}));  // nothing reported or started
}

// JPEG budget trunc(interval x 4166.6665) bytes; a picture above 110 % of it does not count.
TEST_F(DisplayTest, JpegPicturesWithinTheirBudget) {
  // scale: after the first picture.
  struct Case { int interval; u32 size, reported; float scale; } cases[] = {{0, 4582, 4582, 4582 / 4166.0f}, {1, 4583, 0, 1.0f}, {2, 4583, 4583, 0.8f}};
  for (const auto& c : cases) {
    SetUp();
    encoded(c.size);
    mxDisplaySetMode(MX_DISPLAY_JPEG, c.interval, 100);
    frame();
    mxDisplaySetMode(MX_DISPLAY_JPEG, c.interval, 101);
    frame();
    EXPECT_FLOAT_EQ(status().scale, c.scale) << c.interval;
    for (int f = 2; f < 31; ++f) {
      mxDisplaySetMode(MX_DISPLAY_JPEG, c.interval, 100 + f);
      frame(0, f & 1);
    }
    EXPECT_EQ(status().parameter, 128u);
    EXPECT_EQ(status().size, c.reported) << c.interval;
    EXPECT_EQ(Words({status().width, status().height}), Words({1920, 912}));
    EXPECT_FLOAT_EQ(status().chromaOffset, 0.5625f);  // of the picture begun with the toggle set
    EXPECT_EQ(regPeek(0x40005100), 3u);
    frame(1);  // the other field reports no size and starts nothing
    EXPECT_EQ(std::make_tuple(status().size, status().parameter), std::make_tuple(0u, 129u));
  }
  EXPECT_EQ(mxDisplayState(), 2);
}

}  // namespace
