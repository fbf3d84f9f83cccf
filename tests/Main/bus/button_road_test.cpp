// A panel press from the request ring, resolved by the bus through the crosspoint assignment.
#include <gtest/gtest.h>

#include <tuple>

#include "Main/bus/bus.h"
#include "Main/bus/button.h"
#include "Main/memory/macro.h"
#include "Main/system/system.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "Main/bus/xpt.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryBus;
using Event = internal::MxifButtonEvent;

class ButtonRoadTest : public test_categories::StartedSystemTest {
 protected:
  static void frame() { runFrame(0); }
  void press(int code, int me, int panel, int index) {
    peer.send(test_categories::buttonEvent(code, me, 1, panel, index));
    frame();
  }
  void assignButton5(int source) {  // panel 0
    MxifXptAssign r{};
    r.source[5] = static_cast<s16>(source);
    r.buttonMask[0] = 1u << 5;
    peer.send(r);
    frame();
  }
};

TEST_F(ButtonRoadTest, CrosspointPressSelectsTheAssignedSourceAndKeepsItOnReassignment) {
  auto& bus = CategoryBus::instance()[1];
  assignButton5(20);
  press(1105, 1, 0, 1);  // panel 0, B bus of ME 1
  EXPECT_EQ(std::tuple(bus.busSource(1), int(bus.record(0).entries[1])), std::tuple(20, 5));  // held as panel 0, button 5
  assignButton5(21);  // the bus keeps the source it showed, as a direct source
  EXPECT_EQ(std::tuple(category::CategoryXpt::instance().sourceOf(0, 5), bus.busSource(1), int(bus.record(0).entries[1])),
            std::tuple(21, 20, CategoryBus::DIRECT + 20));
}

TEST_F(ButtonRoadTest, PanelOptionPressesToggleTheSystemDisplayOptions) {
  const MxifSystemDisplay& d = category::CategorySystem::instance().system().display;
  struct Step { int code, me, panel; u8 toggle1, toggle2; } steps[] = {  // toggles after the press
               {2006, 4, 0, 1, 0}, {2013, 9, 2, 1, 1}, {2006, 4, 0, 0, 1},
               {2006, 3, 0, 0, 1}, {2013, 4, 3, 0, 1}};  // a press naming an ME or from panel 3: nothing
  for (const auto& s : steps) {
    press(s.code, s.me, s.panel, 0);
    EXPECT_EQ(std::tuple(d.toggle1, d.toggle2), std::tuple(s.toggle1, s.toggle2)) << s.code << " ME " << s.me;
  }
}

}  // namespace
