#include <gtest/gtest.h>

#include "Main/bus/faderevent.h"
#include "Main/panel/panelconfig.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryFaderEvent;

class FaderEventTest : public test_categories::SystemCategoriesTest {
 protected:
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
};

TEST_F(FaderEventTest, RegisteredAsTheOwnerOfItsCommandWithTrackerKOnSlotK) {
  EXPECT_EQ(reg().at(95, 0), &faders);
  EXPECT_EQ(reg().commandOwnerOf(95), 95);
  EXPECT_EQ(reg().updatePriorityOf(95), 3);
  EXPECT_STREQ(faders.typeName(), "MxifFaderEvent");
  for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) EXPECT_EQ(faders.fader(k).transition, &faders.transition(k)) << k;
  EXPECT_THROW(faders.transition(84), assert::AssertException);
}

TEST_F(FaderEventTest, FrameLoopRunsATransitionToItsEnd) {
  category::CategorySystem::instance().record(0).format = 4;
  AutoTransition& t = faders.transition(6);
  faders.fader(6).ownerFader = 2;
  t.start(10, 1);
  for (int frame = 1; frame <= 10; ++frame) {
    reg().process();
    EXPECT_EQ(t.state, frame < 10 ? AutoTransition::RUNNING : AutoTransition::IDLE) << frame;
  }
  EXPECT_EQ(t.flip, -1);
  EXPECT_EQ(t.positionA, 0.0f);
  EXPECT_EQ(faders.fader(6).ownerFader, -1);  // a running transition is no lever's
  EXPECT_EQ(faders.transition(0).state, AutoTransition::IDLE);
}

TEST_F(FaderEventTest, LeverCommandIsSkippedAndTheNextPacketTaken) {
  internal::MxifFaderEvent lever{};
  lever.lever = 3;
  lever.value = 4095;
  peer.send(lever);
  peer.sendPacket(MxifControlPanelConfig::TYPE_INDEX, std::vector<u8>(1239, 0));
  reg().receiveAll();
  EXPECT_EQ(peer.requestPending(), 0u);
  EXPECT_EQ(testing_support::consoleCount("[ERR]"), 0);
  const auto packets = sendPass(category::CategoryControlPanelConfig::instance());
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, 25);
}

}  // namespace
