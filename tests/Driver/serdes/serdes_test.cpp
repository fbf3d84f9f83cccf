// Serdes links: delay training, its failures and retries, and the shift of a trained link.
#include "Driver/serdes/serdes.h"

#include <climits>

#include "Driver/i2c/i2c.h"
#include "tests/Driver/driver_test.h"
#include "tests/support/bringup_fixture.h"

using namespace driver_test;
using testing_support::BringUpTest;

namespace {

constexpr int LINK = 1;  // "ME2->ME1": 20 channels

MxSerdesLink link(int offset = 0, int rate = 1000) {
  const SerdesLinkModel& m = SERDES_LINK[LINK];
  return MxSerdesLink{m.name, m.channels, m.control, m.port, offset, rate, SERDES_DEFAULT_PATTERN, 0x3FF};
}

class SerdesTest : public BringUpTest {};

TEST_F(SerdesTest, DelaysGoHalfABitBeyondTheWindow) {
  // Half a bit period in taps: 6.41 truncated at 1000 Mb/s.
  EXPECT_EQ((std::vector<int>{mxSerdesHalfBitTaps(1000), mxSerdesHalfBitTaps(500), mxSerdesHalfBitTaps(297)}),
            (std::vector<int>{6, 12, 21}));
  serdesSetWindow(LINK, 0, 0, 20);   // 20 + 6
  serdesSetWindow(LINK, 1, 5, 24);   // 24 + 6
  serdesSetWindow(LINK, 2, 3, 26);   // 26 + 6 = 32: still accepted
  ASSERT_EQ(mxSerdesTrain(link()), 0) << consoleText();
  // Taps and half widths of channels 0 and 1; channel 2's delay of 32 on a line of 32 taps.
  EXPECT_EQ((std::vector<int>{serdesTap(LINK, 0), mxSerdesHalfWidth(0), serdesTap(LINK, 1), mxSerdesHalfWidth(1),
                              mxSerdesDelay(2), serdesTap(LINK, 2)}), (std::vector<int>{26, 10, 30, 9, 32, 31}));
  for (int c = 0; c < SERDES_LINK[LINK].channels; ++c) EXPECT_EQ(serdesSlips(LINK, c), c % 8) << c;
  EXPECT_EQ(std::make_tuple(consoleCount("[ERR]"), regPeek(SERDES_LINK[LINK].control)), std::make_tuple(0, 0u));
  serdesSetWindow(LINK, 4, 0, 20);  // an offset moves every channel
  ASSERT_EQ(mxSerdesTrain(link(-3)), 0);
  EXPECT_EQ(serdesTap(LINK, 4), 23);
}

TEST_F(SerdesTest, TrainingFailures) {
  const char* const margin = "[ERR] ERROR: Serdes(ME2->ME1) trainer: delay margin";
  struct Case { const char* name; void (*fault)(); const char* line; } cases[] = {
      {"delay of 33", [] { serdesSetWindow(LINK, 7, 2, 27); }, margin},
      {"no edge", [] { serdesSetWindow(LINK, 3, 4, 40); }, margin},
      {"internal", [] { serdesSetDeadSync(LINK, 0); }, "[ERR] ERROR: internal HSYNC"},
      {"input", [] { serdesSetDeadSync(LINK, 1); }, "[ERR] ERROR: input HSYNC"},
      {"no lock", [] { serdesSetNoLock(LINK, 5, true); }, "[ERR] ERROR: Serdes(ME2->ME1) trainer: Bitslip cannot lock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serdesReset();
    testing_support::consoleClear();
    c.fault();
    EXPECT_EQ(mxSerdesTrain(link()), -1);
    EXPECT_EQ(consoleCount(c.line), 1) << consoleText();
  }
  // The last case: a bitslip failure lists every channel.
  EXPECT_EQ(consoleCounts({"[ERR] Bitslip 5:2", "[ERR] Bitslip 4:1", "[ERR] Bitslip "}), (std::vector<int>{1, 1, 20}));
}

TEST_F(SerdesTest, EveryBoardLinkTrainsAndShifts) {
  for (int l = 0; l < SERDES_LINKS; ++l) {
    SCOPED_TRACE(SERDES_LINK[l].name);
    EXPECT_EQ(adjustSerdesDelay(l, 0), 0) << consoleText();
    // Default window of channel 0 ends at tap 10; 1000 Mb/s adds 6, ME1->CPU its offset of 5.
    EXPECT_EQ(serdesTap(l, 0), l == 6 ? 21 : 16);
  }
  EXPECT_EQ(consoleCount("[ERR]"), 0);
  for (int bad : {-1, INT_MIN, 7, INT_MAX}) EXPECT_EQ(adjustSerdesDelay(bad, 3), -1) << bad;  // no link
  EXPECT_EQ(adjustSerdesDelay(6, -2), 0);
  EXPECT_EQ(consoleCount("Serdes delay adjust ME1->CPU : -2"), 1);
  EXPECT_EQ(serdesTap(6, 0), 19);
  EXPECT_EQ(serdesTap(6, 2), 23 - 2);  // window 4..12: 12 + 6 + 5
}

}  // namespace
