// A warm restart loses nothing: transitions caught running, a follower's copied size, a damaged
// plug-in state.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "Main/fader/faderevent.h"
#include "Main/key/key.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/link/ring.h"
#include "Tools/lib/records/types.h"
#include "tests/Main/category_fixture.h"
#include "tests/support/live_records.h"

namespace {

using category::CategoryFaderEvent;
using testing_support::consoleCount;
using testing_support::fieldsText;
using testing_support::put;

class RestartTest : public test_categories::SystemCategoriesTest {
 protected:
  void frames(int n) {
    for (int f = 0; f < n; ++f) runFrame(f & 1), peer.readPackets();
  }
  void sendBody(int type, const frontend::Assignments& fields) {
    frontend::Bytes body;
    std::string error;
    ASSERT_TRUE(frontend::buildBody(type, fields, body, error)) << error;
    const auto packet = linkpeer::packetBytes(type, body);
    while (peer.requestPending() != 0 && peer.requestPending() + packet.size() + LINK_RING_RESERVE >= LINK_RING_DATA) {
      frames(1);
    }
    ASSERT_EQ(peer.write(packet), packet.size());
  }
};

// Auto transitions of ME 0's background and of its key 1 at their highest rates, some frames into
// their run: the restart resumes every record of the image as it was, without a failed check. (Every
// field at the edges of its range through a restart: the conformance tables' step 3.)
TEST_F(RestartTest, RunningAutoTransitionsComeBackAsTheyWere) {
  sendBody(category::TYPE_BKGD, {{"me", "0"}, {"nextBkgd", "1"}, {"trans.rate", "999"}});
  sendBody(category::TYPE_KEY, {{"me", "0"}, {"channel", "0"}, {"transIn.on", "1"}, {"transIn.value", "999"}});
  frames(3);
  for (int code : {internal::MxifButtonEvent::BTN_BKGD_AUTO, internal::MxifButtonEvent::BTN_KEY_AUTO}) {
    sendBody(category::TYPE_BUTTON_EVENT, {{"code", std::to_string(code)}, {"state", "1"}});
  }
  frames(6);
  auto& faders = CategoryFaderEvent::instance();
  ASSERT_TRUE(faders.transition(AutoTransition::bkgdSlot(0)).state == AutoTransition::RUNNING &&
              faders.transition(AutoTransition::keySlot(0, 0)).state == AutoTransition::RUNNING);
  const auto before = testing_support::backedUp();
  testing_support::consoleClear();
  restart();
  EXPECT_EQ(frontend::restartChanges(before, testing_support::backedUp()), "");
  EXPECT_EQ(std::tuple(consoleCount("is broken"), consoleCount("Assertion failed"), consoleCount("out of range")),
            std::tuple(0, 0, 0))
      << testing_support::consoleText();
}

// Key 1 of ME 0 with the DVE transition on hands its size of 40000 on to its follower, key 3,
// whose range ends at 10000; key 2 has a softness. The restart brings every key back.
TEST_F(RestartTest, AFollowersCopiedSizeStaysInItsRange) {
  sendBody(category::TYPE_KEY, {{"me", "0"}, {"channel", "1"}, {"softness", "456"}});
  sendBody(category::TYPE_KEY,
           {{"me", "0"}, {"channel", "0"}, {"dveTransOn", "1"}, {"follower", "3"}, {"dveSize", "40000"}});
  frames(3);
  EXPECT_EQ(category::CategoryKey::instance()[0].record(2).dveSize, 10000);
  const auto before = testing_support::backedUp();
  restart();
  EXPECT_EQ(frontend::restartChanges(before, testing_support::backedUp()), "");
  EXPECT_EQ(consoleCount("is broken"), 0) << testing_support::consoleText();
}

// The plug-in states are saved as bytes beside the records: a damaged one resumes as no state, a
// good neighbour comes back, nothing is reported broken and one line counts what was reset. (A damaged
// field of a record in the image is each conformance table's damage step.)
TEST_F(RestartTest, ADamagedPluginStateAloneIsDropped) {
  put<MxifPluginStatus>(0, 1, "state=1");
  put<MxifPluginStatus>(0, 2, "state=5");
  reg().backup();  // the category stores the states it keeps outside the record
  testing_support::consoleClear();
  restart();
  EXPECT_EQ(std::tuple(fieldsText<MxifPluginStatus>(0, 1).find("\nstate=1\n") != std::string::npos,
                       fieldsText<MxifPluginStatus>(0, 2).find("\nstate=0\n") != std::string::npos,
                       consoleCount("[WARN] backup data"), consoleCount("is broken"),
                       consoleCount("\x1b[WARN] backup data of MxifPluginStatus: 1 fields out of range, reset")),
            std::tuple(true, true, 1, 0, 1))
      << testing_support::consoleText();
}

}  // namespace
