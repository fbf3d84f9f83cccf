// Colour background generators: flat, wash and curve modes, the wash geometry and the tables.
#include "Driver/cbgd/cbgd.h"

#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 G1 = 0x83001440, G2 = 0x83001480;

// Control, then the words at + 32, 36, 40, 48, 52, 56.
using Levels = Words;
Levels levels(u32 g) { return peek(g, {0, 32, 36, 40, 48, 52, 56}); }

class CbgdTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxCoreReset();  // format 0: 1920 pixels
  }
};

TEST_F(CbgdTest, WriterByMode) {
  struct Case { int target, mode; float size, centre; u32 g; Levels expected; } cases[] = {
      {MX_CBGD_1, MX_CBGD_FLAT, 1.0f, 0.5f, G1, {0, 100, 200, 300, 0, 0, 0}},
      {MX_CBGD_2, MX_CBGD_WASH, 1.0f, 0.5f, G2, {0, 100, 200, 300, 300, 200, 100}},
      {MX_CBGD_1, MX_CBGD_WASH2, 1.0f, 0.5f, G1, {1, 100, 200, 300, 300, 200, 100}},
      // the centre is kept inside the frame: 0.8 -> 0.5 at size 1, 0.1 -> 0.25 at size 0.5
      {MX_CBGD_2, MX_CBGD_CURVE, 1.0f, 0.8f, G2, {2, 64, 64, 64, 876, 896, 896}},
      {MX_CBGD_1, MX_CBGD_CURVE, 0.5f, 0.1f, G1, {2, 64, 288, 288, 438, 448, 448}},
      {MX_CBGD_1, MX_CBGD_CURVE, 0.5f, 0.5f, G1, {2, 283, 288, 288, 438, 448, 448}}};
  for (const auto& c : cases) {
    mxCbgdSetColors(c.target, 100, 200, 300, 400, 400, 400);
    mxCbgdSetWashRange(c.target, c.size, c.centre);
    mxCbgdSetMode(c.target, c.mode);
    mxCbgdUpdate();
    EXPECT_EQ(levels(c.g), c.expected) << c.mode;
  }
  // The other generator keeps its defaults: black, flat.
  mxCbgdReset();
  mxCbgdSetColors(MX_CBGD_1, 100, 200, 300, 400, 400, 400);
  mxCbgdUpdate();
  EXPECT_EQ(levels(G2), (Levels{0, 64, 512, 512, 0, 0, 0}));
}

TEST_F(CbgdTest, WashGeometry) {
  // steps: horizontal, vertical, phase.
  struct Case { int format; float rate, position, direction; std::array<int, 3> steps; } cases[] = {
      {0, 1.0f, 0.0f, 0.0f, {2184, 0, 0}}, {0, 1.0f, 0.0f, 90.0f, {0, 2184, 14336}},
      {0, 0.0f, 90.0f, 90.0f, {0, 218, -14950}},  // rate raised to 0.1
      {0, 2.0f, -45.0f, 180.0f, {-4369, 0, 139264}},
      {4, 1.0f, 0.0f, 90.0f, {0, 6553, 8192}}};  // 720 pixels, F = 1.125, aspect 0.75
  for (const auto& c : cases) {
    mxInitialize(c.format, 1.0f);
    mxCbgdSetWash(MX_CBGD_2, c.rate, c.position, c.direction);
    mxCbgdUpdate();
    std::array<int, 3> got = {static_cast<int>(regPeek(G2 + 4)), static_cast<int>(regPeek(G2 + 8)),
                              static_cast<int>(regPeek(G2 + 12))};
    EXPECT_EQ(got, c.steps) << c.format << " " << c.direction;
  }
}

TEST_F(CbgdTest, TablesOfTheFormat) {
  for (int format : {0, 4}) {
    mxInitialize(format, 1.0f);
    traceClear();
    mxCbgdInit(format, 1.0f);
    const Words data = writesTo(0x83001414);
    ASSERT_EQ(writesTo(0x83001410), (Words{0, 1024, 1280, 1536, 1792}));
    ASSERT_EQ(data.size(), 512u + 4 * 256);
    // Bars: black ends; white, yellow, cyan, green, magenta, red, blue and black from entries 1, 33,
    // 65, 97, 128, 160, 192 and 224 at the luma of the format's set, each entry before the last bar's.
    EXPECT_EQ((Words{data[0], data[1], data[2 * 255], data[2 * 255 + 1]}), (Words{512, 64, 512, 64}));
    const int starts[] = {1, 33, 65, 97, 128, 160, 192, 224};
    const u32 luma[2][8] = {{940, 674, 581, 534, 251, 204, 111, 64}, {940, 646, 525, 450, 335, 260, 139, 64}};
    for (int k = 0; k < 8; ++k) {
      EXPECT_EQ(data[2 * starts[k] + 1], luma[format == 4][k]) << k;
      EXPECT_EQ(data[2 * starts[k] - 1], luma[format == 4][k > 0 ? k - 1 : 7]) << k;
    }
    const u32* cosine = &data[512];
    const u32* ramp = cosine + 256;
    const u32* hue = ramp + 512;
    EXPECT_EQ((Words{cosine[0], cosine[128]}), (Words{0, 1023}));
    EXPECT_EQ((Words{ramp[248], ramp[249]}), (Words{1023u | 128u << 10, 895u | 128u << 10}));  // v(249) = 895
    // 1023 x c(1.5): 162 on the high-definition curve, 291 on the standard-definition one
    EXPECT_EQ(hue[0] & 1023, format == 0 ? 162u : 291u);
  }
}

}  // namespace
