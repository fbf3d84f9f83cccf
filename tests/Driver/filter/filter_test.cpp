// Bus, key and output filters: resize, image effects, test effects and the tables they load.
#include "Driver/filter/filter.h"

#include "Driver/dve/dve.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

using Reg = std::pair<u32, u32>;

constexpr u32 ME1 = 0x82000000, ME2 = 0x83000000;
constexpr u32 FILTER_A = ME1 + 0x5A20, FILTER_B = ME1 + 0x5A40, SCALER_A = ME1 + 0x4100;

class FilterTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxCoreReset();  // format 0: 1920 x 540
    mxSetContext(MX_CONTEXT_ME1);
  }
};

TEST_F(FilterTest, ResizeOfEachKindOfSlot) {
  struct Case { int context, target; float a, b, c, d; std::vector<Reg> regs; } cases[] = {
      // X = 476.5, Y = 134.5: columns 963, rows 270, half-pixel phases, steps of 0.5.
      {MX_CONTEXT_ME1, MX_BKGD, 0.25f, 0.25f, 0.5f, 0.5f,
       {{FILTER_A, 16384}, {FILTER_A + 4, 16384}, {FILTER_A + 8, 8192}, {FILTER_A + 12, 8192},
        {FILTER_A + 16, 24576}, {FILTER_A + 20, 16384}, {FILTER_A + 24, 0x101}, {FILTER_A + 28, 0},
        {SCALER_A + 4, 476}, {SCALER_A + 8, 133}, {SCALER_A + 24, 967}, {SCALER_A + 28, 274}, {ME1 + 0x5810, 0},
        // the background's parameters put the B bus back to the whole picture
        {FILTER_B, 32768}, {FILTER_B + 4, 32768}, {FILTER_B + 24, 0}}},
      // c above 1.0 is stored as 1.0
      {MX_CONTEXT_ME2, MX_KEY1, 0.0f, 0.0f, 1.5f, 1.0f, {{ME2 + 0x6320, 32768}, {ME2 + 0x4300 + 24, 1930}}},
      {MX_CONTEXT_ME1, MX_KEY4, 0.0f, 0.0f, 0.0f, 0.25f, {{ME1 + 0x7B20, 0}, {ME1 + 0x7B20 + 24, 0x20F}}},
      // X = 477.75 starts at the even pixel 476: the phase holds the odd pixel and the fraction
      {MX_CONTEXT_ME1, MX_KEY2, 0.25f, 0.0f, 0.25f, 1.0f,
       {{ME1 + 0x6B20 + 8, 28672}, {ME1 + 0x6B20 + 12, 28672}, {ME1 + 0x4320 + 4, 476}}},
      {MX_CONTEXT_ME1, MX_EXT_OUT_3, 0.0f, 0.0f, 1.0f, 1.0f,
       {{0x40004200 + 28, 545}, {0x40004200 + 40, 542}, {0x40004200 + 60, 361}, {0x40004200 + 56, 1930}}},
      {MX_CONTEXT_ME1, MX_DISPLAY_FILTER, 0.0f, 0.0f, 1.0f, 0.5f,
       {{0x82002324, 640}, {0x82002300 + 40, 0xFFFFFFFE}, {0x82002300 + 60, 274}, {0x82002220 + 4, 16384}}}};
  for (const auto& c : cases) {
    SetUp();
    mxSetContext(c.context);
    mxFilterSetParameters(MX_BKGD_B, 0.25f, 0.25f, 0.5f, 0.5f);
    mxFilterSetParameters(c.target, c.a, c.b, c.c, c.d);
    mxFilterUpdate();
    for (auto [adr, value] : c.regs) EXPECT_EQ(regPeek(adr), value) << c.target << std::hex << " at " << adr;
  }
}

TEST_F(FilterTest, DefocusScalesTheBusFilterAndBoostsFromLevel205) {
  struct Case { float level; u32 hstep, vstep, boost; int format = 0; } cases[] = {
      {2.0f, 6570, 13167, 0}, {2.05f, 8581, 17189, 1},  // s = 0.2 and 0.2 x 1.333 / 1.02
      {2.0f, 6579, 6599, 0, 2}};                         // 720 lines: d = 1 / 720 + 0.2
  for (auto c : cases) {
    if (c.format != 0) mxInitialize(c.format, 1.0f);
    mxFilterSetImageMode(MX_ABUS, MX_IMAGE_DEFOCUS, c.level);
    mxFilterUpdate();
    expectRegs({{FILTER_A, c.hstep}, {FILTER_A + 4, c.vstep}, {FILTER_A + 28, 1}, {ME1 + 0x5810, c.boost}});
  }
}

TEST_F(FilterTest, BusImageEffectReachesTheBBlockOneFrameLate) {
  mxFilterSetImageMode(MX_BBUS, MX_IMAGE_DEFOCUS, 1.0f);  // s = 1/3
  mxFilterSetPosterize(MX_BBUS, 1, 3, 5);
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4700, 0}, {ME1 + 0x4720, 0}});
  mxFilterSetImageMode(MX_BBUS, MX_IMAGE_MOSAIC, 0.5f);  // s = 1/2: the level word is capped
  mxFilterSetColorize(MX_BBUS, 1, 100, 200);
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4700, 1}, {ME1 + 0x4710, 21845}, {ME1 + 0x4714, 43690}, {ME1 + 0x4718, 21845},
              {ME1 + 0x471C, 21845}, {ME1 + 0x4720, 0x53}});
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4700, 3}, {ME1 + 0x4710, 32768}, {ME1 + 0x4714, 65535}, {ME1 + 0x4718, 0},
              {ME1 + 0x4720, 200u << 20 | 100u << 10 | 128 | 0x53}});
}

TEST_F(FilterTest, DveBusFlagsSwapTheBackgroundEffects) {
  mxFilterSetImageMode(MX_ABUS, MX_IMAGE_MOSAIC, 0.5f);
  mxFilterUpdate();
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4700, 0}});  // A's effect stays on A
  mxDveSetBkgdBuses(MX_BKGD, 1, 0, 0);
  mxFilterUpdate();
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4700, 3}, {ME1 + 0x4710, 32768}});  // and reaches the B block once swapped
}

TEST_F(FilterTest, TestEffectsAndDustByFrame) {
  struct Frame { u32 value, first, second; };
  struct Case { const char* what; std::function<void()> set; u32 value, first, second; std::vector<Frame> frames; }
  cases[] = {{"gain A", [] { mxFilterSetBusGain(MX_ABUS, 1, 0.5f); }, ME1 + 0x4900, ME1 + 0x4980, ME1 + 0x4940,
       {{0, 36388, 36388}, {0, 36388, 36388}, {0x101FF, 36388, 36388}}},
      {"mode 1 A", [] { mxFilterSetBusMode(MX_ABUS, 1, 1); }, ME1 + 0x4900, ME1 + 0x4980, ME1 + 0x4940,
       {{0x20000, 36356, 3584}, {0x20000, 36356, 3584}, {0x40000, 3588, 36352}}},
      {"gain on another bus", [] { mxFilterSetBusGain(MX_UTIL1, 1, 0.5f); }, ME1 + 0x4900, ME1 + 0x4980,
       ME1 + 0x4940, {{0, 3588, 3588}}},
      {"dust", [] { mxFilterSetDust(MX_BKGD, 1, 0.5f, 3); }, ME1 + 0x4948, ME1 + 0x49C0, ME1 + 0x4A00,
       {{0x10000, 36484, 36484}, {0x10000, 36484, 36484}, {0x10000, 36484, 36484}, {0x10000, 36484, 36484},
        {0x10000 + 511 + (3 << 12), 36484, 36484}}},
      {"dust of key 1", [] { mxFilterSetDust(MX_KEY1, 1, 0.0f, 15); }, ME1 + 0x494C, ME1 + 0x49E0, ME1 + 0x4A04,
       {{0x10000, 36485, 36485}, {0x10000, 36485, 36485}, {0x10000, 36485, 36485}, {0x10000, 36485, 36485},
        {0x10000 + (15 << 12), 36485, 36485}}},
      // the background at rest turns it off, the test pattern on again, in every frame: it runs on
      {"dust off and on in each frame",
       [] { mxFilterSetDust(MX_BKGD, 0, 0.0f, 0), mxFilterSetDust(MX_BKGD, 1, 0.5f, 3); }, ME1 + 0x4948, ME1 + 0x49C0, ME1 + 0x4A00,
       {{0x10000, 36484, 36484}, {0x10000, 36484, 36484}, {0x10000, 36484, 36484}, {0x10000, 36484, 36484},
        {0x10000 + 511 + (3 << 12), 36484, 36484}, {0x10000 + 511 + (3 << 12), 36484, 36484}}}};
  for (const auto& c : cases) {
    SetUp();
    SCOPED_TRACE(c.what);
    for (size_t f = 0; f < c.frames.size(); ++f) {
      c.set();  // as the categories set them, every frame
      mxFilterUpdate();
      const Frame& e = c.frames[f];
      expectRegs({{c.value, e.value}, {c.first, e.first}, {c.second, e.second}});
    }
  }
  // Off for a frame and on again, the dust starts over.
  mxFilterSetDust(MX_BKGD, 0, 0.0f, 3);
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4948, 0}, {ME1 + 0x49C0, 3716}});
  mxFilterSetDust(MX_BKGD, 1, 0.5f, 3);
  mxFilterUpdate();
  expectRegs({{ME1 + 0x4948, 0x10000}});
}

TEST_F(FilterTest, InitialisationLoadsBanksAndLineWindows) {
  traceClear();
  mxFilterInitialize();
  const Words data = writesTo(ME1 + 0x5A04);
  ASSERT_EQ(data.size(), 2048u);
  EXPECT_EQ(writesTo(ME1 + 0x5A00), (Words{0, 1024}));
  // Bank 0, phase 32 of the first Lanczos-2 set: taps -1043, 9390, 9080, -1043 (16 bits); bank 1.
  EXPECT_EQ(Words(data.begin() + 128, data.begin() + 132), (Words{64493, 9390, 9080, 64493}));
  EXPECT_EQ(Words(data.begin() + 1024 + 256, data.begin() + 1024 + 260), (Words{8192, 8192, 0, 0}));
  EXPECT_EQ(Words(data.end() - 4, data.end()), (Words{4096, 4096, 4096, 4096}));
  for (u32 me : {ME1, ME2}) {  // the line windows of the frame
    expectRegs({{me + 0x5A08, 1927}, {me + 0x5A0C, 544}, {me + 0x4958, 542}, {me + 0x496C, 270}, {me + 0x4A24, 0x200008A},
                {me + 0x4B2C, 4096}});
  }
  mxInitialize(4, 1.0f);  // 480 lines: the height code, and the display scaler's output width
  mxFilterUpdate();
  expectRegs({{ME1 + 0x5A0C, ((244 - 1) | 0x8000) + 4}, {0x82002324, 384}});
}

}  // namespace
