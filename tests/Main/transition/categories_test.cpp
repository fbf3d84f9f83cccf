// Over the categories start-up creates: the transition status scan, byte by byte, and the effects
// that mark the source tally.
#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/tally/tally.h"
#include "Main/transition/status.h"
#include "Main/transition/updater.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryTransitionStatus;
using Bytes = std::vector<u8>;

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
  EXPECT_TRUE(scan().empty());                  // every transition idle after start-up
  auto& aux = dynamic_cast<category::CategoryBus&>(*reg().get(category::TYPE_BUS, 0)).auxTransition().channels[0];
  struct Case { int slot; s32 state; int group, entry; } cases[] = {  // slot -1: aux mix 0 running, held
      {AutoTransition::bkgdSlot(2), AutoTransition::RUNNING, 0, 2}, {AutoTransition::bkgdSlot(2), AutoTransition::IDLE, 0, 2},
      {AutoTransition::keySlot(1, 2), AutoTransition::RUNNING, 3, 1}, {AutoTransition::dskSlot(3), AutoTransition::STOP_REQUEST, 5, 3},
      {-1, 2, 6, 0}, {-1, 1, 6, 0}, {-1, 0, 6, 0}};
  Bytes want(60, 0);
  for (const Case& c : cases) {
    if (c.slot >= 0) slot(c.slot).state = c.state;
    else aux.running = c.state == 1, aux.held = c.state != 0;
    for (int g = 0; g < 7; ++g) want[4 + 8 * g + 3] = 0;
    want[4 + 8 * c.group + 3] = static_cast<u8>(1u << c.entry);
    want[4 + 8 * c.group + 4 + c.entry] = static_cast<u8>(c.state);
    EXPECT_EQ(scan(), want) << c.slot << " " << c.state;
    EXPECT_TRUE(scan().empty());  // no change, nothing sent
  }
}

class DveSystemTest : public test_categories::StartedSystemTest {
 protected:
  static category::CategorySourceTally& tally() { return category::CategorySourceTally::instance(); }
  // Whether an effect of kind 2 or 1 (3: through the background's load and apply) at p marks ME 1,
  // on the background or on a key, from a fresh ring slot; ME 0 is never marked.
  bool marks(u8 number, u8 kind, float p, bool onKey = false) {
    mxSetContext(MX_CONTEXT_ME1 + 1);
    tally().update();
    sys.bkgdLatency = sys.keyLatency = 1;
    rec.setPattern(number, kind);
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    keyRec.transIn.mode = 1, keyRec.effectA[0] = number, keyRec.effectA[1] = kind;
    key.load(keyRec, sys, p);
    TransitionUpdater& u = onKey ? static_cast<TransitionUpdater&>(key) : bkgd;
    kind == 3 ? bkgd.apply(1, p, -1.0f) : kind == 2 ? BkgdTransition::applyEffect(u, p) : KeyTransition::applyEffect(u, p);
    EXPECT_EQ(tally().bkgdDveMark(0), 0);
    return tally().bkgdDveMark(1) != 0;
  }
  MxifBkgd rec;
  MxifSystem sys{};
  MxifKey keyRec;
  BkgdTransition bkgd;
  KeyTransition key;
};

// The background's pushes, paused pushes, shaped zooms, squeeze pushes, timed moves and its
// two-picture placement mark, strictly between the ends; a key's never.
TEST_F(DveSystemTest, BackgroundEffectsMarkTheSelectedMeKeysNever) {
  for (u8 n = 0; n <= 23; ++n) {  // kind 2, then kind 1; on the background, then on a key
    EXPECT_EQ(std::tuple(marks(n, 2, 0.5f), marks(n, 2, 0.5f, true), marks(n, 1, 0.5f), marks(n, 1, 0.5f, true)),
              std::tuple(8 <= n && n <= 15, false, (11 <= n && n <= 14) || n >= 16, false)) << int(n);
  }
  struct Case { u8 number, kind; float p; bool marked; } cases[] = {
      {8, 2, 0.0001f, false}, {16, 1, 0.0001f, false}, {23, 3, 0.0001f, false}, {8, 2, 0.9999f, false},
      {16, 1, 0.9999f, false}, {23, 3, 0.9999f, false}, {23, 3, 0.5f, true}, {23, 3, 0.00011f, true}, {22, 3, 0.5f, false}};
  for (const Case& c : cases) EXPECT_EQ(marks(c.number, c.kind, c.p), c.marked) << int(c.number) << " at " << c.p;
}

}  // namespace
