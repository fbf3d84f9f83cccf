#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/storage.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/panel/operate.h"
#include "Main/system/system.h"
#include "Platform/platform.h"
#include "tests/Main/category_fixture.h"

namespace {

using Record = MxifOperate;
using category::CategoryFaderEvent;
using category::CategoryOperate;
using testing_support::AckPacket;
using testing_support::consoleCount;

// One request field: how it is set, and the presence word that tells whether it was taken.
struct FieldCase {
  const char* what;
  std::function<void(Record&)> set;
  std::function<u32(const Record&)> word;
  u32 taken;
  bool fromImage = false;
};

TEST(OperateRanges, EachFieldIsTakenOrDroppedOnItsOwn) {
  auto perMe = [](const Record& r) { return r.faderModePerMe.mask; };
  auto level = [](int v) { return [v](Record& r) { r.optionLevel = {1, static_cast<u16>(v)}; }; };
  auto optionLevel = [](const Record& r) { return r.optionLevel.mask; };
  auto setting = [](const Record& r) { return r.busSettings[3][4].codeMask << 4 | r.busSettings[3][4].mask; };
  auto main = [](const Record& r) { return r.meChangeMain.mask; };
  const FieldCase cases[] = {
      {"fader mode of ME 5 and of ME 1 = 3, ME 2 = 2",
       [](Record& r) { r.faderModePerMe = {0x26, {0, 3, 2, 0, 0, 1, 0, 0}}; }, perMe, 0x4},
      {"option level 49", level(49), optionLevel, 0},
      {"option level 50", level(50), optionLevel, 1},
      {"option level 101", level(101), optionLevel, 0},
      {"bus setting codes {3, 0} with its flag",
       [](Record& r) { r.busSettings[3][4] = {1, 3, {3, 0, 0, 0}, 1}; }, setting, 0},
      {"bus setting codes {3, 19} with flag 2",
       [](Record& r) { r.busSettings[3][4] = {1, 3, {3, 19, 0, 0}, 2}; }, setting, 0x10},
      {"saved bus setting code 5 beside codes never set",
       [](Record& r) { r.busSettings[3][4] = {1, 0xF, {0, 0, 0, 5}, 1}; }, setting, 0xF1, true},
      {"fade rate 1000, source 12, target 1", [](Record& r) { r.ftb = {7, 1, 12, 1000, 0, 0}; },
       [](const Record& r) { return r.ftb.mask; }, Record::FadeToBlack::TARGET},
      {"AUX rate -1 and 999", [](Record& r) { r.auxTransRate = {3, {0xFFFF, 999}}; },
       [](const Record& r) { return r.auxTransRate.mask; }, 2},
      {"main rows 0..3 = 1, 2, 0, 0", [](Record& r) { r.meChangeMain = {0xF, {1, 2, 0, 0}}; }, main, 1},
      {"saved main rows 3, 2, 1, 0", [](Record& r) { r.meChangeMain = {0xF, {3, 2, 1, 0}}; }, main, 0xF, true},
      {"key memory enable 2, share 1", [](Record& r) { r.keyMemory = {3, 2, 1}; },
       [](const Record& r) { return r.keyMemory.mask; }, 2},
      {"sub 2 selects entries 5 and 6", [](Record& r) { r.busSelectSub2 = {3, {5, 6}}; },
       [](const Record& r) { return r.busSelectSub2.mask; }, 1},
  };
  for (const auto& c : cases) {
    Record request{};
    c.set(request);
    Record accepted;
    libmx::checkOperateRanges(request, accepted, c.fromImage);
    EXPECT_EQ(c.word(accepted), c.taken) << c.what;
  }
}

TEST(OperateAccessors, BusStatusValuesAndSlots) {
  struct {
    int code, slot, mode, value;
  } values[] = {{5, 2, 1, 255}, {9, 0, 1, 12}, {14, 1, 0, 1}, {6, 0, 1, 0}, {19, 0, 0, 255},
                {1, 0, 1, 3},   {1, 0, 0, 2},  {18, 3, 1, 109}, {0, 1, 0, 255}, {-1, 0, 0, 255}};
  for (auto v : values) EXPECT_EQ(CategoryOperate::busStatusValue(v.code, v.slot, v.mode), v.value) << v.code;
  const int slots[][2] = {{0, 2}, {1, 3}, {2, 0}, {3, 1}, {4, 0}, {-1, 0}};
  for (auto s : slots) EXPECT_EQ(CategoryOperate::busStatusSlot(s[0]), s[1]) << s[0];
}

class OperateTest : public test_categories::SystemCategoriesTest {
 protected:
  CategoryOperate& op = CategoryOperate::instance();
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
  Record& live() { return op.record(0); }
  std::vector<AckPacket> sendPass() { return SystemCategoriesTest::sendPass(op); }
  std::vector<AckPacket> roundTrip(const Record& r) {
    peer.send(r);
    reg().receiveAll();
    return sendPass();
  }
  void setFormat(int format) { category::CategorySystem::instance().record(0).format = static_cast<u8>(format); }
  void ownAll(int owner) {
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) faders.fader(k).ownerFader = owner;
  }
  // The trackers that no lever owns.
  std::vector<int> released() {
    std::vector<int> out;
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) {
      if (faders.fader(k).ownerFader == -1) out.push_back(k);
    }
    return out;
  }
  static Record fade(int target, int rate) {
    Record r{};
    r.ftb.mask = Record::FadeToBlack::TARGET | Record::FadeToBlack::RATE;
    r.ftb.target = static_cast<u8>(target);
    r.ftb.rate = static_cast<s16>(rate);
    return r;
  }
};

TEST_F(OperateTest, RequestIsEchoedWithExactlyTheAcceptedBitsAndTheBadModesLogged) {
  EXPECT_EQ(codec::wireSize<Record>(), 774u);
  EXPECT_EQ(reg().at(36, 0), &op);
  EXPECT_EQ(reg().boundBytes(36, 0), 936);
  Record req{};
  req.mask = Record::FADER_MODE | Record::FADER_MODE_SELECT | Record::WIPE_FLAG | Record::FADER_FLAG;
  req.faderMode = 3, req.faderModeSelect = 2, req.wipeFlag = 1, req.faderFlag = 1;
  req.faderModePerMe = {0x23, {2, 3, 0, 0, 0, 1, 0, 0}};
  req.busSettings[7][5] = {1, 0x9, {18, 0, 0, 1}, 1};
  req.keyFaderButton = {2, 9, 7};
  req.busSelectSub1 = {0x80, {0, 0, 0, 0, 0, 0, 0, 4}};
  const auto packets = roundTrip(req);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, 36);
  ASSERT_EQ(packets[0].body.size(), 774u);
  Record echo = packets[0].as<Record>();
  EXPECT_EQ(echo.busSettings[7][5].code[3], 1);
  u32* words[] = {&echo.mask, &echo.faderModePerMe.mask, &echo.busSettings[7][5].mask, &echo.busSettings[7][5].codeMask,
                  &echo.keyFaderButton.mask, &echo.busSelectSub1.mask};
  const u32 want[] = {Record::WIPE_FLAG | Record::FADER_FLAG, 1, 1, 0x9, 2, 0x80};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(*words[i], want[i]) << i;
    *words[i] = 0;
  }
  EXPECT_FALSE(codec::hasAny(echo));
  EXPECT_EQ(consoleCount("[ERR] ../Main/operate(552)BAD Param.[0x03]"), 1);
  EXPECT_EQ(consoleCount("[ERR] ../Main/operate(533)BAD Param.[0x02]"), 1);
  EXPECT_EQ(consoleCount("[ERR] ../Main/operate(573)(ME:1)BAD Param.[0x03]"), 1);
  EXPECT_EQ(consoleCount("BAD Param"), 3);

  EXPECT_EQ(roundTrip(Record{}).size(), 1u);  // nothing present: echoed all the same
  EXPECT_TRUE(sendPass().empty());
}

TEST_F(OperateTest, KeyMemorySwitchesHoldOrEmptyTheMemory) {
  struct {
    u8 busy, enable;
    u8 busyAfter, storedEnable;
    bool emptied;
  } cases[] = {{0, 2, 1, 0, false}, {1, 3, 0, 0, false}, {0, 1, 0, 1, true}, {1, 1, 1, 1, false}, {0, 0, 0, 0, false}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << "busy " << int(c.busy) << ", enable " << int(c.enable));
    live().keyMemory.enable = 0;
    op.keyMemory().busy = c.busy;
    op.keyMemory().keys[3][2].changed = 1;
    Record req{};
    req.keyMemory = {Record::KeyMemorySwitches::ENABLE, c.enable, 0};
    op.assign(req, 0);
    EXPECT_EQ(op.keyMemory().busy, c.busyAfter);
    EXPECT_EQ(live().keyMemory.enable, c.storedEnable);
    EXPECT_EQ(op.keyMemory().keys[3][2].changed, c.emptied ? 0 : 1);
  }
}

TEST_F(OperateTest, KeyFaderKindChangeFreesTheKeyTransitions) {
  ownAll(1);
  Record req{};
  req.mask = Record::KEY_FADER_KIND;
  req.keyFaderKind = 1;
  op.assign(req, 0);
  EXPECT_EQ(released(), std::vector<int>({1, 2, 3, 4, 6, 7, 8, 9, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22, 23}));
  ownAll(1);
  op.assign(req, 0);  // unchanged
  EXPECT_TRUE(released().empty());
  EXPECT_EQ(live().keyFaderKind, 1);
}

TEST_F(OperateTest, MainRowTakingAnotherMeFreesBothMesForSixteenFrames) {
  ownAll(1);
  Record req{};
  req.meChangeMain = {1, {1}};
  op.assign(req, 0);
  EXPECT_EQ(released(), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(faders.meChangeCountdown(0, 1), 16);
  EXPECT_EQ(faders.meChangeCountdown(0, 0), 16);
  EXPECT_EQ(faders.meChangeCountdown(1, 0), 0);
  runFrame(1);
  EXPECT_EQ(faders.meChangeCountdown(0, 1), 15);
  EXPECT_EQ(std::vector<u8>(live().meChangeMain.value, live().meChangeMain.value + 4), std::vector<u8>({1, 0, 2, 3}));
  for (int f = 0; f < 15; ++f) runFrame(f & 1);
  EXPECT_EQ(faders.meChangeCountdown(0, 0), 0);
  EXPECT_THROW(faders.releaseMeFaders(0, 4), assert::AssertException);
}

TEST_F(OperateTest, MeMapsAreRepairedIntoPermutations) {
  struct {
    const char* what;
    Record::Bytes4 stored;
    int panel;
    std::vector<u8> map;
    u32 mask;
    const char* log;
  } cases[] = {
      {"row 0 requested on four rows of ME 0", {1, {0, 0, 0, 0}}, 0, {0, 1, 2, 3}, 0xF, nullptr},
      {"rows 0 and 1 both requesting ME 1", {3, {1, 1, 2, 3}}, 1, {0, 1, 2, 3}, 0xF, "[ERR] ME Change conflict"},
      {"rows 0 and 1 swapped", {3, {1, 0, 2, 3}}, 2, {1, 0, 2, 3}, 3, nullptr},
      {"row 0 requested, row 1 on its ME", {1, {1, 1, 2, 3}}, 0, {1, 0, 2, 3}, 3, nullptr},
      {"row 1 on ME 3 in a quiet map", {0, {0, 3, 2, 1}}, 2, {0, 1, 2, 3}, 0xA, "[ERR] ME Change Sub2 range over 1 3"},
      {"no row requested", {0, {0, 0, 2, 3}}, 1, {0, 0, 2, 3}, 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::consoleClear();
    Record::Bytes4& map = live().meChange(c.panel);
    map = c.stored;
    op.checkMeChangeRange();
    EXPECT_EQ(std::vector<u8>(map.value, map.value + 4), c.map);
    EXPECT_EQ(map.mask, c.mask);
    EXPECT_EQ(consoleCount("[ERR]"), c.log ? 1 : 0);
    if (c.log) {
      EXPECT_EQ(consoleCount(c.log), 1);
    }
    map = {0, {0, 1, 2, 3}};
  }
}

TEST_F(OperateTest, FadeToBlackRunsToTheDskFadeLevel) {
  struct Request {
    int frame, target;
  };
  struct {
    const char* what;
    int format, rate;
    std::vector<Request> requests;
    std::vector<u32> levels;  // DSK fade level in frames 1, 2, ...
  } cases[] = {
      {"fade at rate 10", 4, 10, {{1, 1}}, {0, 102, 205, 307, 409, 512, 614, 716, 818, 921, 1023, 1023}},
      {"reversed in frame 4", 4, 10, {{1, 1}, {4, 0}}, {0, 102, 205, 307, 205, 102, 0, 0}},
      {"target 1 then 0 in one frame, then 1 while faded", 4, 2, {{1, 1}, {1, 0}, {4, 1}}, {0, 512, 1023, 1023, 1023}},
      {"clear again", 4, 2, {{1, 1}, {4, 0}}, {0, 512, 1023, 1023, 512, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    reg().initializeAll();
    setFormat(c.format);
    std::vector<u32> levels;
    for (int f = 1; f <= static_cast<int>(c.levels.size()); ++f) {
      for (auto r : c.requests) {
        if (r.frame == f) peer.send(fade(r.target, c.rate));
      }
      runFrame(f & 1);
      levels.push_back(mxDskMixer().fadeLevel);
    }
    EXPECT_EQ(levels, c.levels);
    EXPECT_FALSE(op.fadeRequested() || op.clearRequested());
  }
  op.assign(fade(live().ftb.target, 5), 0);  // the stored target again
  EXPECT_FALSE(op.fadeRequested() || op.clearRequested());
}

TEST_F(OperateTest, FadeReportsOnAirAndTransitioningWhenTheyChange) {
  for (int format : {4, 0}) {
    SCOPED_TRACE(testing::Message() << "format " << format);
    reg().initializeAll();
    setFormat(format);
    peer.send(fade(1, 10));
    std::vector<std::vector<int>> reports;  // frame, presence, on air, transitioning
    for (int f = 1; f <= 22; ++f) {
      runFrame(f & 1);
      for (const auto& p : peer.readPackets()) {
        if (p.type != 36) continue;
        const Record r = p.as<Record>();
        reports.push_back({f, static_cast<int>(r.ftb.mask), r.ftb.onAir, r.ftb.transitioning});
      }
    }
    const int end = format == 4 ? 10 : 20;
    EXPECT_EQ(reports, std::vector<std::vector<int>>({{1, 0x1D, 1, 1}, {end, 0x10, 1, 0}}));
    EXPECT_EQ(mxDskMixer().fadeLevel, 1023u);
  }
}

TEST_F(OperateTest, BusFollowsTheAuxRatesAndFaderModes) {
  setFormat(4);
  Record req{};
  req.auxTransEnable = {1, {1}};
  req.auxTransRate = {1, {10}};
  req.mask = Record::FADER_MODE_SELECT;
  req.faderModeSelect = 1;
  req.faderModePerMe = {4, {0, 0, 1}};
  peer.send(req);
  MxifBus bus{};
  bus.setEntry(24, category::CategoryBus::DIRECT + 10);
  peer.send(bus);
  category::CategoryBus& me0 = category::CategoryBus::instance()[0];
  for (int f = 0; f < 11; ++f) runFrame(f & 1);  // whatever AUX 1 showed before has mixed to source 10
  ASSERT_FALSE(me0.isMixRunning(0));
  bus.setEntry(24, category::CategoryBus::DIRECT + 11);
  peer.send(bus);
  std::vector<int> running;
  for (int f = 0; f < 11; ++f) {
    runFrame(f & 1);
    running.push_back(me0.isMixRunning(0));
  }
  EXPECT_EQ(running, std::vector<int>({1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}));

  category::CategoryBus& me2 = category::CategoryBus::instance()[2];
  for (u8 program : {1, 0}) {  // the program bus follows ME 2's background transition
    category::CategoryFaderEvent::instance().transition(AutoTransition::bkgdSlot(2)).flip = program ? -1 : 1;
    runFrame(0);
    EXPECT_EQ(me2.abSwap(), program);
  }
}

TEST_F(OperateTest, FadeSourceAndBusSettingAccessor) {
  const int sources[][2] = {{10, 11}, {11, 10}, {0, 0}, {5, 5}, {9, 9}};  // source, memory source index
  for (auto c : sources) {
    live().ftb.source = static_cast<u8>(c[0]);
    op.update();
    EXPECT_EQ(mxXptImage()[xpt::MEMORY], c[1]) << c[0];
  }

  live().busSettings[2][0] = {1, 0xF, {1, 2, 3, 4}, 1};
  live().busSettings[0][0] = {1, 0, {9}, 0};
  live().busSettings[7][5] = {1, 0, {9}, 0};
  const std::pair<int, int> zero[] = {{8, 0}, {-1, 0}, {8, 3}};
  for (auto [g, e] : zero) {
    const Record::BusSetting s = op.busSetting(g, e);
    EXPECT_TRUE(s.mask == 0 && s.codeMask == 0 && s.flag == 0 && s.code[0] == 0 && s.code[3] == 0) << g;
  }
  for (int e : {6, -1, 0}) EXPECT_EQ(op.busSetting(2, e).code[3], 4) << e;
}

TEST_F(OperateTest, RestartReportsTheWholeRecordAndRestsTheFadeAtItsTarget) {
  Record& r = live();
  r.ftb.target = 1;
  r.ftb.rate = 30;
  r.meChangeSub1 = {0, {1, 0, 3, 2}};
  r.busSettings[4][1] = {1, 1, {7}, 1};
  r.optionLevel.value = 20;  // damaged
  const u8* buffer = platform::memory(BACKUP_BUFFER_ADR, BUF_SIZE * 4);
  std::vector<u8> saved(buffer, buffer + BUF_SIZE * 4);
  auto restart = [&] {
    testing_support::consoleClear();
    reg().initializeAll();
    reg().resumeAll(saved.data() + BACKUP_HEADER_BYTES);
    reg().initAfterResume();
  };
  restart();
  auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  const Record echo = packets[0].as<Record>();
  Record full = echo;
  codec::setAllPresence(full);
  EXPECT_EQ(std::memcmp(&full, &echo, sizeof echo), 0);
  EXPECT_EQ(echo.ftb.rate, 30);
  EXPECT_EQ(echo.meChangeSub1.value[2], 3);
  EXPECT_EQ(echo.busSettings[4][1].code[0], 7);
  EXPECT_EQ(echo.optionLevel.value, 0);
  EXPECT_TRUE(sendPass().empty());
  runFrame(0);
  EXPECT_EQ(mxDskMixer().fadeLevel, 1023u);
  EXPECT_EQ(consoleCount("[ERR]"), 0);
}

}  // namespace
