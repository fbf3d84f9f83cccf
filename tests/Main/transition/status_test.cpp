// Transition status: what a frame's scan reports, byte by byte.
#include <gtest/gtest.h>

#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/transition/status.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryTransitionStatus;
using Bytes = std::vector<u8>;
using category::SEND_PENDING_LIMIT;

class TransitionStatusTest : public test_categories::SystemCategoriesTest {
 protected:
  static CategoryTransitionStatus& status() { return CategoryTransitionStatus::instance(); }
  static AutoTransition& slot(int s) { return category::CategoryFaderEvent::instance().transition(s); }
  // The body of the one packet a scan sends; empty when it sends none.
  Bytes scan() {
    status().update();
    const auto packets = sendPass(status());
    if (packets.empty()) return {};
    EXPECT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].type, 56);
    return packets[0].body;
  }
};

// Each change is reported once under its group's bit for the entry; the values stay in the record.
// An aux mix reports 1 running (even when held), 2 held, else 0.
TEST_F(TransitionStatusTest, ChangesAreReportedOnceByGroupAndEntry) {
  EXPECT_EQ(status().bindStorage(nullptr), 0);  // nothing in the backup image
  EXPECT_TRUE(scan().empty());                  // every transition idle after start-up
  auto& aux = dynamic_cast<category::CategoryBus&>(*reg().get(category::TYPE_BUS, 0)).auxTransition().channels[0];
  struct Case {
    int slot;  // -1: aux mix 0 running, held
    s32 state;
    int group, entry;
  } cases[] = {
      {AutoTransition::bkgdSlot(2), AutoTransition::RUNNING, 0, 2}, {AutoTransition::bkgdSlot(2), AutoTransition::IDLE, 0, 2},
      {AutoTransition::keySlot(1, 2), AutoTransition::RUNNING, 3, 1},
      {AutoTransition::dskSlot(3), AutoTransition::STOP_REQUEST, 5, 3},
      {-1, 2, 6, 0}, {-1, 1, 6, 0}, {-1, 0, 6, 0},
  };
  Bytes want(60, 0);
  for (const Case& c : cases) {
    if (c.slot >= 0) slot(c.slot).state = c.state;
    if (c.slot < 0) aux.running = c.state == 1, aux.held = c.state != 0;
    for (int g = 0; g < 7; ++g) want[4 + 8 * g + 3] = 0;
    want[4 + 8 * c.group + 3] = static_cast<u8>(1u << c.entry);
    want[4 + 8 * c.group + 4 + c.entry] = static_cast<u8>(c.state);
    EXPECT_EQ(scan(), want) << c.slot << " " << c.state;
    EXPECT_TRUE(scan().empty());  // no change, nothing sent
  }
  // Over half the output stream pending: nothing goes, the mark waits for the next pass.
  auto& tx = AcknowledgeSender::instance();
  for (int i = 0; i <= SEND_PENDING_LIMIT; ++i) tx.stream().write(0);
  slot(AutoTransition::bkgdSlot(0)).state = AutoTransition::RAMP;
  status().update();
  status().sendStatus(tx);
  EXPECT_EQ(tx.pending(), SEND_PENDING_LIMIT + 1);
  tx.reset();
  const auto later = sendPass(status());
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(Bytes(later[0].body.begin() + 4, later[0].body.begin() + 12), (Bytes{0, 0, 0, 1, 4, 0, 0, 0}));
}

}  // namespace
