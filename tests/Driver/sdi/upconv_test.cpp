// SDI up-converters: enhancement options, the window of the format and the filter tables.
#include "Driver/sdi/regs.h"
#include "tests/Driver/driver_test.h"

using namespace sdi_regs;
using namespace driver_test;

namespace {

constexpr u32 B = 0x84001400;  // MX_IN_27

class UpConverterTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxSdiUpConverterInit();
    traceClear();
  }
  static Words words(std::initializer_list<u32> offsets) { return peek(B, offsets); }
};

TEST_F(UpConverterTest, EnhancementOptions) {
  EXPECT_EQ(regPeek(UPCONV[3] + UC_ENH_GAIN), 150u);  // option 3 from the start
  const u32 minus100 = static_cast<u32>(-100);
  // words: + 76, 80, 88, 92, 84.
  struct Case { int option; Words words; } cases[] = {
      {1, {0, 0, 0, 0, 0}}, {2, {300, 2560, 1280, minus100, 0}}, {4, {80, 2560, 1280, minus100, 0}},
      {0, {0, 0, 0, 0, 300}}};
  for (const auto& c : cases) {
    regPoke(B + UC_ENH_MODE, 0);
    mxSdiSetUpConverterOption(MX_IN_27, c.option);
    EXPECT_EQ(words({76, 80, 88, 92, 84}), c.words) << c.option;
    EXPECT_EQ(words({64, 72}), (Words{0, 3}));
  }
}

TEST_F(UpConverterTest, FullFrameWindowInFormat0) {
  mxSdiSetUpConverterWindow(MX_IN_27, 0.0f, 0.0f, 1.0f, 1.0f);
  const u32 minus = 0xFFFFFFFF;
  // rh = 720 / 1920, rv = 486 / 1080; x0 = -8 + (36 + 1920 x 0.00052) rh = 5.874,
  // y0 = -(19 - 5 / rv) rv + 0.0032 x 486 / 2 = -2.772, r = (1 - y0 - 2) / rv = 3.939.
  EXPECT_EQ(words({8, 12, 16, 20, 68}), (Words{0, minus - 4, 12288, 14745, 7}));
  EXPECT_EQ(words({24, 28, 32, 36, 40}), (Words{3, 558, 4116, 904, minus - 1}));
  EXPECT_EQ(words({48, 52, 56, 60}), (Words{99, 18, 2 * 1920 + 99, 540 + 18}));
  EXPECT_EQ(writesTo(B + UC_TABLE_ADDRESS), (Words{0, 4096, 6144}));

  const Words data = writesTo(B + UC_TABLE_DATA);
  ASSERT_EQ(data.size(), 4096u + 2048u + 2048u);
  // Phase 0 of the 8-tap luma set passes the last tap alone.
  for (int t = 0; t < 7; ++t) EXPECT_EQ(data[256 * t], 0u) << t;
  EXPECT_NEAR(static_cast<int>(data[256 * 7]), 16384, 1);
  // Chroma set (0, 0): xi = 5 is odd, so its odd taps are zero.
  for (int t = 1; t < 16; t += 2) EXPECT_EQ(data[128 + 256 * t], 0u) << t;
  // Vertical, field 0 (even blocks), phase 0 in mode 3: only the tap at 0 (tap 7, block 12) is not
  // zero; tap 0 wraps to block 14.
  const u32* v = &data[4096];
  for (int block = 0; block < 16; block += 2) EXPECT_EQ(v[128 * block], block == 12 ? 16384u : 0u) << block;
  // Enhancement, field 0, phase 0: taps -3..3 at -2.5 .. 3.5 give 0.0243, -0.1351, 0.6079 twice,
  // -0.1351, 0.0243, 0 before normalising; tap t at 256 t around the table.
  const u32* p = &data[6144];
  const Words taps = {p[1280], p[1536], p[1792], p[0], p[256], p[512], p[768]};
  const u32 minus2225 = static_cast<u16>(-2225);
  EXPECT_EQ(taps, (Words{401, minus2225, 10017, 10017, minus2225, 401, 0}));
}

}  // namespace
