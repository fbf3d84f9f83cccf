// Test patterns through the request ring, in the categories that start-up creates: the driver calls
// of the two test modes, and the filter and key registers they reach.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Common/reg.h"
#include "Driver/calllog.h"
#include "Driver/core/core.h"
#include "Driver/filter/filter.h"
#include "Driver/filter/regs.h"
#include "Driver/key/regs.h"
#include "Lib/Include/data_internal.h"
#include "Main/system/testpattern.h"
#include "tests/Main/category_fixture.h"
#include "tests/support/board_fixture.h"

namespace {

using namespace category;

// The calls of the test patterns' setters that the driver call log holds, by short name, as
// "name context target arguments...".
std::vector<std::string> calls() {
  static const std::map<std::string, std::string> NAMES{
      {"mxTransSetPatternSize", "size"},  {"mxTransSetModulation", "mod"}, {"mxTransSetModulationPattern", "pattern"},
      {"mxKeySetSoftMask", "soft"},       {"mxFilterSetDust", "dust"},     {"mxFilterSetBusGain", "gain"},
      {"mxFilterSetBusMode", "busMode"}};
  std::vector<std::string> out;
  for (size_t i = 0; i < calllog::size(); ++i) {
    const calllog::Call& c = calllog::at(i);
    auto name = NAMES.find(c.function);
    if (name == NAMES.end()) continue;
    std::string s = name->second + " " + std::to_string(c.context) + " " + std::to_string(c.target);
    for (int a = 0; a < c.count; ++a) {
      char buf[24];
      std::snprintf(buf, sizeof buf, " %g", static_cast<double>(c.args[a]));
      s += buf;
    }
    out.push_back(s);
  }
  // The test patterns update after the backgrounds, which note their own dust calls every frame:
  // the test's calls start with its first setter on ME 1's context.
  auto first = std::find_if(out.begin(), out.end(), [](const std::string& s) {
    return s.rfind("size 12816 5632 ", 0) == 0 || s.rfind("pattern 12816 4613 ", 0) == 0;
  });
  out.erase(out.begin(), first);
  return out;
}

class TestPatternTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override {
    mxFilterReset();
    StartedSystemTest::SetUp();
    calllog::enable(true);  // empties the log
  }
  void TearDown() override {
    calllog::enable(false);
    StartedSystemTest::TearDown();
  }
  // Sends entries 0.. of a channel of an ME and runs a frame.
  void sendValues(int me, int channel, std::vector<int> values) {
    MxifTest r{};
    r.me = static_cast<u8>(me), r.channel = static_cast<u16>(channel);
    for (size_t n = 0; n < values.size(); ++n) r.values[n] = static_cast<s16>(values[n]), r.valueMask |= 1u << n;
    peer.send(r);
    runFrame(0);
  }
  // The noted calls of one setter on ME 1's context.
  static std::vector<std::string> callsOf(const std::string& fn) {
    std::vector<std::string> out;
    for (const auto& c : calls()) {
      if (c.rfind(fn + " 12816 ", 0) == 0) out.push_back(c.substr(fn.size() + 7));
    }
    return out;
  }
};

TEST_F(TestPatternTest, OnlyChannel0OfMe1SetsEveryMeWithValuesInTheDriversRanges) {
  for (int me : {0, 2, 3}) sendValues(me, 0, {1});
  sendValues(1, 5, {1});
  EXPECT_TRUE(calls().empty());
  sendValues(1, 0, {1});
  const auto all = calls();
  ASSERT_EQ(all.size(), 4u * 15);  // per ME: 5 sizes, 2 dusts, 2 gains, 4 soft masks, 2 bus modes
  for (int me = 0; me < 4; ++me) EXPECT_EQ(all[15 * me].substr(0, 10), "size " + std::to_string(12816 + me));
  struct Case {
    std::vector<int> values;
    const char* fn;
    std::vector<std::string> expected;  // target and arguments of the first calls on ME 1's context
    size_t count;
  } cases[] = {
      {{1, 3}, "size", {"5632 0.125 0.125 3 3", "4613 0.125 0.125 3 3"}, 5},
      {{1, 0}, "size", {"5632 1 1 0 0"}, 5},
      {{1, 7}, "size", {"5632 0.125 0.125 3 3"}, 5},
      {{1, -2}, "size", {"5632 1 1 0 0"}, 5},
      {{1, 0, 0, 9}, "dust", {"5632 0 0 9", "4613 0 0 9"}, 2},
      {{1, 0, 25, 3}, "dust", {"5632 1 0.25 3", "4613 1 0.25 3"}, 2},
      {{1, 0, 150, 20}, "dust", {"5632 1 1 15"}, 2},
      {{1, 0, 0, 0, 50}, "gain", {"4608 1 0.5", "4609 1 0.5"}, 2},
      {{1, 0, 0, 0, 0, 10, 20, 30, 40, 25}, "soft", {"4613 0.1 0.2 0.3 0.4 0.25", "4615 0.1 0.2 0.3 0.4 0.25"}, 4},
      {{1, 0, 0, 0, 0, 150, -5, 100, 0, 0}, "soft", {"4613 1 0 1 0 0"}, 4},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 2}, "busMode", {"4608 1 1", "4609 1 0"}, 2},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1}, "busMode", {"4608 0 0", "4609 1 1"}, 2},
      {{2, 20, 30, 50, 7, 0, 1, 25, 100}, "mod", {"4613 5408 0.2 50 0.25", "4613 5409 0.3 7 1"}, 10},
      {{2, 80, -10, 150, -3, 0, 0, 120, -1}, "mod", {"4613 5408 0.5 100 1", "4613 5409 0 0 0"}, 10},
      {{2, 0, 0, 0, 0, 5, 0}, "pattern", {"4613 5408 5411", "4613 5409 5410", "4615 5408 5411"}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << " " << c.values[1]);
    calllog::clear();
    sendValues(1, 0, c.values);
    const auto got = callsOf(c.fn);
    ASSERT_EQ(got.size(), c.count);
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + c.expected.size()), c.expected);
  }
  // The background comes last in the wipe-modulation mode; leaving a mode writes nothing.
  EXPECT_EQ(callsOf("pattern").back(), "5632 5409 5410");
  calllog::clear();
  sendValues(1, 0, {0});
  EXPECT_TRUE(calls().empty());
}

TEST_F(TestPatternTest, RecordsAreRoutedByChannel) {
  sendValues(3, 15, {0, 9999});
  sendValues(0, 16, {0, 7});  // no channel 16: dropped
  EXPECT_EQ(std::tuple(CategoryTest::instance()[3].record(15).values[1], CategoryTest::instance()[0].record(15).values[1]),
            std::tuple(9999, 0));
}

// Over the real drivers: the filter and key registers of ME 2 after the next driver
// updates, and values far outside the drivers' ranges keep the frame, its status and its backup
// copy going.
TEST_F(TestPatternTest, Me2RegistersAndOutOfRangeValues) {
  using namespace filter_regs;
  const u32 me2 = mxMeBase(1);
  sendValues(1, 0, {1, 7, 50, 3, 0, 10, 20, 30, 40, 25, 3});
  for (int f = 0; f < 5; ++f) runFrame(0);
  mxUpdateEarly();  // the early interrupt writes the transition and key registers
  // Key 2's soft box: pixels 192 to 768, lines 216 to 648; softness sqrt(0.25) x 1023, rounded.
  const u32 key2 = me2 + keyreg::KEY_BLOCK + keyreg::KEY_STRIDE;
  std::vector<u32> soft;
  for (u32 k = 0; k < 4; ++k) soft.push_back(platform::regPeek(key2 + keyreg::SOFT_BOX + 4 * k));
  soft.push_back(platform::regPeek(key2 + keyreg::SOFTNESS));
  EXPECT_EQ(soft, (std::vector<u32>{192, 216, 768, 648, 512}));
  // Key 1's dust: the background's own update switches the background's dust off every frame.
  EXPECT_EQ(platform::regPeek(me2 + DUST_VALUE[1]), GAIN_BASE + 511 + (3u << DUST_SHIFT));
  EXPECT_EQ(platform::regPeek(me2 + DUST_CONTROL1[1]), ACTIVE + DUST_CODE + 1);
  EXPECT_EQ(platform::regPeek(me2 + BUS_VALUE), BUS_RUN);
  EXPECT_EQ(platform::regPeek(me2 + BUS_CONTROL2), ACTIVE + BUS_MODE_CODE - BUS_MODE1_CLEAR);

  const std::vector<int> wild[] = {{1, 7, 150, 20, 150, 150, 150, 150, 150, 150, 1},
                                   {2, 80, 80, 500, -5, 1, 1, 300, -300}};
  for (int i = 0; i < 2; ++i) {
    sendValues(1, 0, wild[i]);
    MxifPluginStatus slot{};
    slot.slot = 3, slot.mask = MxifPluginStatus::STATE, slot.state = static_cast<u8>(i);
    peer.sendPacket(MxifPluginStatus::TYPE_INDEX, testing_support::textRecordBytes(slot));
    EXPECT_EQ(frameSends(MxifPluginStatus::TYPE_INDEX).size(), 1u) << i;                // status goes on
    EXPECT_EQ(CategoryRegistry::instance().storageOf(TYPE_PLUGIN_STATUS, 0)[3], i) << i;  // and the backup
    if (i == 0) {
      EXPECT_EQ(platform::regPeek(me2 + DUST_VALUE[1]), GAIN_BASE + 1023 + (15u << DUST_SHIFT));
    }
  }
  EXPECT_EQ(testing_support::consoleCount("Assertion failed"), 0) << testing_support::consoleText();
  EXPECT_EQ(CategoryTest::instance()[1].record(0).values[3], 500);  // kept as received
}

}  // namespace
