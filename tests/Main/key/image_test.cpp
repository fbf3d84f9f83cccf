// Image effects: the filter calls of MEs 0 and 1, the image buttons with swapAB, and the lamps.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Main/bus/bus.h"
#include "Main/key/image.h"
#include "Main/panel/led.h"
#include "Main/panel/operate.h"
#include "Main/system/system.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryImage;
using I = MxifImage;
using transition_test::expectArgs;

class ImageTest : public key_test::LoggedTest<test_categories::StartedSystemTest> {
 protected:
  void SetUp() override {
    LoggedTest::SetUp();
    peer.readPackets();
  }
  static CategoryImage& image(int me) { return CategoryImage::instance()[me]; }
  // Sends a record for ME me; returns what that ME's next status pass reports.
  std::vector<I> request(int me, const std::function<void(I&)>& set) {
    I r{};
    r.me = static_cast<u8>(me);
    set(r);
    peer.send(r), reg().receiveAll();
    std::vector<I> out;
    for (const auto& p : sendPass(image(me))) out.push_back(p.as<I>());
    return out;
  }
  void press(int code, int me = 0) {
    peer.send(test_categories::buttonEvent(code, me)), reg().receiveAll();
  }
};

TEST_F(ImageTest, TargetsOfMesZeroAndOneReachTheFilter) {
  request(0, [](I& r) {
    r.imageA.mask = 0x601, r.imageA.enable = 1, r.imageA.effectType = 2, r.imageA.level = 500;
    r.imageB.mask = 0x600, r.imageB.effectType = 1, r.imageB.level = 300;  // not enabled
    I::Target& k1 = r.imageKey[0];
    k1.mask = 0x1CF, k1.enable = 1, k1.posterize = 1, k1.posterizeY = 3, k1.posterizeC = 5, k1.colorize = 1;
    k1.hue = 0, k1.saturation = 1000;
    r.imageKey[2].mask = 1, r.imageKey[2].enable = 1;  // stored, never applied
  });
  calllog::clear();
  image(0).update();
  const auto modes = transition_test::calls("mxFilterSetImageMode");
  ASSERT_EQ(modes.size(), 4u);
  const int targets[] = {MX_ABUS, MX_BBUS, MX_KEY1, MX_KEY2};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(std::pair(modes[i].target, modes[i].context), std::pair(targets[i], +MX_CONTEXT_ME1));
  expectArgs(modes[0], {5888, 50.0f});
  expectArgs(modes[1], {0, 0});
  expectArgs(key_test::callsFor("mxFilterSetPosterize", MX_BBUS).at(0), {0, 0, 0});
  expectArgs(key_test::callsFor("mxFilterSetColorize", MX_BBUS).at(0), {0, 512, 512});
  expectArgs(key_test::callsFor("mxFilterSetPosterize", MX_KEY1).at(0), {1, 3, 5});
  expectArgs(key_test::callsFor("mxFilterSetColorize", MX_KEY1).at(0), {1, 409, 960});  // BT.709 red
  EXPECT_EQ(key_test::callsFor("mxFilterSetImageMode", MX_KEY3).size() + key_test::callsFor("mxFilterSetColorize", MX_KEY3).size(), 0u);

  category::CategorySystem::instance().record(0).format = 6;
  calllog::clear();
  image(0).update();
  expectArgs(key_test::callsFor("mxFilterSetColorize", MX_KEY1).at(0), {1, 361, 960});  // BT.601 red

  // ME 2 keeps and reports its record but writes nothing.
  EXPECT_EQ(request(2, [](I& r) { r.imageA.mask = 1, r.imageA.enable = 1; }).size(), 1u);
  calllog::clear();
  image(2).update();
  EXPECT_EQ(calllog::size(), 0u);
  EXPECT_EQ(image(2).imageFlag(category::ImageFlags::BUS_A_ON), 1);
}

TEST_F(ImageTest, SwapABByTheOperateModeAndTheProgramBus) {
  struct Case { u8 select, mode, perMe, program; bool swap; };
  const Case cases[] = {{0, 0, 0, 1, false}, {0, 1, 0, 0, false}, {0, 1, 0, 1, true}, {0, 2, 0, 0, true},
                        {0, 2, 0, 1, false}, {1, 0, 1, 1, true},  {1, 2, 0, 1, false}, {2, 0, 0, 0, true}};
  MxifOperate& op = category::CategoryOperate::instance().record(0);
  for (const auto& c : cases) {
    op.faderModeSelect = c.select, op.faderMode = c.mode, op.faderModePerMe.value[1] = c.perMe;
    category::CategoryBus::instance()[1].record(0).programBus = c.program;
    EXPECT_EQ(image(1).swapAB(), c.swap) << int(c.select) << int(c.mode) << int(c.perMe) << int(c.program);
  }
}

TEST_F(ImageTest, ImageButtonsToggleTheirTargetAndLightTheLamps) {
  MxifOperate& op = category::CategoryOperate::instance().record(0);
  press(1296);  // mode 0: no swap
  auto echo = sendPass(image(0));
  ASSERT_EQ(echo.size(), 1u);
  const I r = echo[0].as<I>();
  EXPECT_EQ(std::vector<u32>({r.imageB.mask, r.imageB.enable, r.imageA.mask, r.mask}), std::vector<u32>({1, 1, 0, 0}));

  op.faderMode = 2;  // A on program: swapped
  press(1296);
  press(1295, 1);    // ME 1's own record
  EXPECT_EQ(std::vector<int>({image(0).record(0).imageA.enable, image(0).record(0).imageB.enable,
                              image(1).record(0).imageB.enable}),
            std::vector<int>({1, 1, 1}));

  image(0).record(0).imageB.enable = 0;
  runFrame(0);
  for (int panel = 0; panel < 3; ++panel) {
    auto& leds = category::CategoryMeLed::instance()[0];
    EXPECT_EQ(std::pair(leds.ledRequest(panel, 227), leds.ledRequest(panel, 228)), std::pair(0, 2)) << panel;
  }
}

}  // namespace
