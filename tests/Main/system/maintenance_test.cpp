// Maintenance record and behaviour: through the request ring, over frames on the simulated board,
// and across a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Driver/core/format.h"
#include "Driver/core/regs.h"
#include "Main/system/maintenance.h"
#include "Main/system/mfconfig.h"
#include "Platform/i2c_devices.h"
#include "Platform/watchdog.h"
#include "tests/Main/category_fixture.h"

namespace {

using namespace category;
using testing_support::AckPacket;
using testing_support::Bytes;
using platform::regPoke;
using testing_support::consoleCount;
using R = MxifMaintenance;
using Cmd = MxifMaintenanceCmd;
using Texts = std::vector<std::string>;

template <int C>
std::string str(const TextField<C>& t) {
  return std::string(reinterpret_cast<const char*>(t.chars), static_cast<size_t>(t.count));
}
Texts texts(const MaintenanceAlarm& a) { return {str(a.text[0]), str(a.text[1]), str(a.text[2]), str(a.text[3])}; }

R decode(const AckPacket& p) {
  R r;
  libmx::WireIn in(p.body.data(), p.body.size());
  EXPECT_TRUE(libmx::readTextRecord(in, r));
  EXPECT_EQ(in.position(), p.body.size());
  return r;
}

class MaintenanceTest : public test_categories::SystemCategoriesTest {
 protected:
  void send(const R& r) { peer.sendPacket(R::TYPE_INDEX, testing_support::textRecordBytes(r)); }
  void receive(const R& r) {
    send(r);
    reg().receiveAll();
  }
  // A record carrying the four flags of the mainframe alarm.
  static R mainframeFlags(u8 f0, u8 f1, u8 f2, u8 f3) {
    R r{};
    r.mainframeAlarm.mask = 0xF0;
    r.mainframeAlarm.flag[0] = f0, r.mainframeAlarm.flag[1] = f1, r.mainframeAlarm.flag[2] = f2;
    r.mainframeAlarm.flag[3] = f3;
    return r;
  }
  std::vector<R> reports() {
    std::vector<R> out;
    for (const AckPacket& p : sendPass(cat)) out.push_back(decode(p));
    return out;
  }
  // Sends the command and returns the raw reply packet.
  Bytes command(s16 code, Cmd c = {}) {
    c.code = code;
    c.result = 77;
    peer.send(c);
    reg().receiveAll();
    AcknowledgeSender::instance().flush();
    return peer.readBytes();
  }
  // Polls after the grace period, the updates run directly (frames would cost far more).
  void pastGracePeriod() {
    for (int f = 0; f < CategoryMaintenance::GRACE_FRAMES; ++f) cat.update();
  }

  CategoryMaintenance& cat = CategoryMaintenance::instance();
  R& stored() { return cat.record(0); }
};

// A time stamp is a calendar time; taken, it is stored without a report.
TEST_F(MaintenanceTest, TimeStampsAreCalendarTimesStoredWithoutReport) {
  struct Case {
    u32 bit;
    std::vector<s16> values;
    bool taken;
  } const cases[] = {
      {R::MV_TIME, {2024, 2, 30, 0, 0, 0}, false}, {R::MV_TIME, {2023, 2, 29, 0, 0, 0}, false},
      {R::MV_LTC, {2100, 2, 29, 0, 0, 0}, false},  {R::MV_LTC, {2024, 1, 1, 0, 0, 60}, false},
      {R::MV_LTC, {2024, 4, 31, 0, 0, 0}, false},  {R::MV_TIME, {2000, 2, 29, 0, 0, 0}, true},
      {R::MV_LTC, {2024, 2, 29, 23, 59, 59}, true},
  };
  for (const Case& c : cases) {
    reports();
    R r{};
    r.mask = c.bit;
    s16* field = c.bit == R::MV_TIME ? r.mvTime : r.mvLtc;
    std::copy(c.values.begin(), c.values.end(), field);
    const R before = stored();
    receive(r);
    EXPECT_EQ(std::memcmp(&before, &stored(), sizeof(R)) != 0, c.taken) << c.values[0] << "-" << c.values[1];
    EXPECT_EQ(reports().size(), c.taken ? 0u : 1u) << c.values[0];
  }
  EXPECT_EQ(std::tuple(stored().mvTime[0], stored().mvLtc[3], stored().mask), std::tuple(2000, 23, 0u));
}

TEST_F(MaintenanceTest, GracePeriodShowsNoAlarmsThenTheFirstPollReportsThem) {
  regPoke(BOARD_STRAPS, 0x40);         // unit A fitted, unit B not
  regPoke(BOARD_POWER_STATUS, 0x6F);   // unit A: status bit 3 set
  receive(mainframeFlags(1, 1, 1, 0));
  for (int frame = 1; frame < CategoryMaintenance::GRACE_FRAMES; ++frame) cat.update();
  EXPECT_EQ(stored().mainframeAlarm.flag[1], 0);  // unit B not fitted
  framePackets();                                  // frame 3600
  EXPECT_EQ(texts(stored().mainframeAlarm), Texts({"No Alarm", "-", "No Alarm", "-"}));

  const auto packets = frameSends(R::TYPE_INDEX);  // frame 3601: the first poll
  ASSERT_EQ(packets.size(), 1u);
  const R got = decode(packets[0]);
  EXPECT_EQ(texts(got.mainframeAlarm), Texts({"Alarm", "-", "No Alarm", "-"}));
  EXPECT_EQ(got.mainframeAlarm.mask, 0x7u);
  const u32 statusBits = 0x3u << 10 | 0x7u << 18;  // status bytes 0, 1, 8, 9, 10
  EXPECT_EQ(got.hourMeter.mask, statusBits);
  EXPECT_EQ(std::vector<int>({got.hourMeter.status[0], got.hourMeter.status[1], got.hourMeter.status[8],
                              got.hourMeter.status[9], got.hourMeter.status[10]}),
            std::vector<int>({1, 0, 1, 0, 0}));
  EXPECT_EQ(frameSends(R::TYPE_INDEX).size(), 0u);  // nothing changed since
}

TEST_F(MaintenanceTest, OnlyTheFlagOfAnAbsentUnitAOrOfBBesideAFittedAIsCleared) {
  // Board word, then flags 0 and 1 after a frame that started from 1, 1.
  const std::pair<u32, std::vector<int>> cases[] = {
      {0x60, {0, 1}}, {0x20, {0, 1}}, {0x40, {1, 0}}, {0x00, {1, 1}}};
  for (const auto& [word, flags] : cases) {
    SCOPED_TRACE(word);
    regPoke(BOARD_STRAPS, word);
    receive(mainframeFlags(1, 1, 0, 0));
    runFrame(0);
    EXPECT_EQ(std::vector<int>({stored().mainframeAlarm.flag[0], stored().mainframeAlarm.flag[1]}), flags);
  }
}

TEST_F(MaintenanceTest, TemperatureAlarmIsLoggedOnTheFirstPollThenEvery3601Polls) {
  mxSetTemperatureAlarm(GLUE_XADC, 90);
  platform::setFpgaTemperature(GLUE_XADC, 95.0);
  pastGracePeriod();
  EXPECT_EQ(consoleCount("Temperature alarm"), 0);
  cat.update();
  EXPECT_EQ(consoleCount("[ERR] Temperature alarm: 1 times, 0xa0"), 1);
  for (int poll = 2; poll <= 3601; ++poll) cat.update();
  EXPECT_EQ(consoleCount("Temperature alarm"), 1);
  cat.update();
  EXPECT_EQ(consoleCount("[ERR] Temperature alarm: 3602 times, 0xa0"), 1);
  EXPECT_EQ(texts(stored().mainframeAlarm), Texts({"-", "-", "-", "-"}));  // no item monitored
}

TEST_F(MaintenanceTest, CommandAnswersAndResetsTheAlarmTexts) {
  Cmd c{};
  c.byte1 = 1, c.byte2 = 2, c.byte3 = 3, c.byte4 = 4, c.time[2] = 59;
  for (s16 code : {7, -1, 3, 0}) {
    SCOPED_TRACE(code);
    const Bytes reply = command(code, c);
    ASSERT_EQ(reply.size(), 28u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8), Bytes({0x5A, 0x81, 0, 0, 0, 20, 0, 70}));
    Cmd expected = c;
    expected.code = code;
    expected.result = code < 0 || code > 6 ? -2 : 0;
    EXPECT_EQ(Bytes(reply.begin() + 8, reply.end()), testing_support::recordBytes(expected));
  }
  // Code 0 right after start: every text "No Alarm", then the poll put "-" on the mainframe's.
  EXPECT_EQ(texts(stored().mainframeAlarm), Texts({"-", "-", "-", "-"}));
  for (int p = 0; p < R::N_PANELS; ++p) {
    EXPECT_EQ(texts(stored().panelAlarm(p)), Texts(4, "No Alarm"));
  }
  // The panel step puts back the held texts ("Fan" for a monitored item) or "-".
  R r{};
  r.subControlPanel1Alarm.mask = 0x11;
  r.subControlPanel1Alarm.flag[0] = 1;
  std::memcpy(r.subControlPanel1Alarm.text[0].chars, "Fan", 3);
  r.subControlPanel1Alarm.text[0].count = 3;
  receive(r);
  command(0);
  runFrame(0);
  EXPECT_EQ(texts(stored().subControlPanel1Alarm), Texts({"Fan", "-", "-", "-"}));
}

// A command handed to the wrong handler fails the type check that names both sides.
TEST_F(MaintenanceTest, CommandHandlersCheckTheirType) {
  struct Case { CategoryInterface& handler; int type; const char* text; } cases[] = {
      {cat, 73, "id is 73 must be IndexOf<MxifMaintenanceCmd>::value"},
      {CategoryInitialize::instance(), 70, "id is 70 must be IndexOf<SystemInitialCmd>::value"},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(c.handler.receiveCommand(c.type, RequestReceiver::instance()), assert::AssertException);
    EXPECT_EQ(consoleCount(c.text), 1) << c.text;
  }
}

TEST_F(MaintenanceTest, PowerDownDuringAPollRestartsTheBoard) {
  struct Restarted {
    platform::EndReason reason;
  };
  platform::watchdogAttach();
  platform::setEndHandler([](platform::EndReason reason, u32) { throw Restarted{reason}; });
  regPoke(BOARD_POWER_STATUS, 0x66);
  try {
    cat.pollAlarms();
    ADD_FAILURE() << "returned";
  } catch (const Restarted& r) {
    EXPECT_EQ(r.reason, platform::EndReason::Restart);
  }
  platform::setEndHandler(nullptr);
  platform::watchdogDetach();
  EXPECT_EQ(consoleCount("[ERR] Detecting power down"), 1);
}

// A restart writes each alarm text from its flag and clears the flag of a unit not fitted.
TEST_F(MaintenanceTest, RestartRebuildsTheAlarmTextsFromTheFlags) {
  R r{};
  r.mask = R::LEVER_PARAM3 | R::LEVER_PARAM4, r.leverParam3 = 400, r.leverParam4 = 95;
  r.mainframeVersion.mask = 1, r.mainframeVersion.text[0] = {5, {'o', 't', 'h', 'e', 'r'}};
  r.mainframeAlarm.mask = 0xF0, r.mainframeAlarm.flag[0] = r.mainframeAlarm.flag[1] = r.mainframeAlarm.flag[2] = 1;
  r.controlPanelAlarm.mask = 0x21, r.controlPanelAlarm.flag[1] = 1, r.controlPanelAlarm.text[0] = {3, {'F', 'a', 'n'}};
  receive(r);
  runFrame(0);  // stored, then copied into the backup image
  regPoke(BOARD_STRAPS, 0x40);  // after the restart unit A is fitted, unit B not
  restart();
  EXPECT_EQ(str(stored().mainframeVersion.text[0]), "6.22-00-0.00");
  EXPECT_EQ(texts(stored().mainframeAlarm), Texts({"-", "No Alarm", "No Alarm", "-"}));
  EXPECT_EQ(texts(stored().controlPanelAlarm), Texts({"-", "No Alarm", "-", "-"}));
  EXPECT_EQ(stored().mainframeAlarm.flag[1], 0);
  for (int p = 0; p < R::N_PANELS; ++p) EXPECT_EQ(texts(cat.heldPanelAlarm(p)), Texts(4, "No Alarm"));
  const auto lever = CategoryMaintenance::leverLimits();  // what the key-fader lever input passes on
  EXPECT_EQ(std::vector<int>({lever.floor, lever.topMargin}), std::vector<int>({400, 95}));
}

// The maintenance category alone, with the fader events' calibration reset seen from outside.
std::vector<int>& resets() {
  static std::vector<int> panels;
  return panels;
}
struct FakeFaderEvent : test_categories::StubCategory, LeverCalibrationTarget {
  FakeFaderEvent() : StubCategory(TYPE_FADER_EVENT, "MxifFaderEvent") {}
  void resetCalibration(int panel, int) override { resets().push_back(panel); }
};
struct TestMaintenance : CategoryMaintenance {
  using CategoryMaintenance::temperatureAlarms_;
};

class MaintenanceLeverTest : public test_categories::RecordCategoryTest<TestMaintenance, R> {
 protected:
  void SetUp() override {
    RecordCategoryTest::SetUp();
    resets().clear();
  }
  FakeFaderEvent faders;
};

TEST_F(MaintenanceLeverTest, LeverParametersResetEveryPanelUntilReportedAndCommandsResetOne) {
  using V = std::vector<int>;
  R r{};
  r.mask = R::LEVER_PARAM1 | R::LEVER_PARAM3 | R::LEVER_PARAM4;
  r.leverParam3 = 400, r.leverParam4 = 95;
  peer.sendPacket(R::TYPE_INDEX, testing_support::textRecordBytes(r));
  CategoryRegistry::instance().receiveAll();
  cat.update();
  EXPECT_EQ(resets(), V({0, 1, 2, 0, 1, 2}));
  sendPass();
  resets().clear();
  cat.update();
  EXPECT_EQ(resets(), V{});

  Cmd c{};
  c.code = 5;
  peer.send(c);
  CategoryRegistry::instance().receiveAll();
  EXPECT_EQ(resets(), V{1});
  CategoryRegistry::instance().reset();  // no maintenance record: the lever input gets 0, 0
  const auto none = CategoryMaintenance::leverLimits();
  EXPECT_EQ(V({none.floor, none.topMargin}), V({0, 0}));
}

// A sensor stuck in alarm: its count stops at the largest count instead of overflowing.
TEST_F(MaintenanceLeverTest, StuckTemperatureAlarmCountStopsAtItsLimit) {
  mxSetTemperatureAlarm(GLUE_XADC, 90);
  platform::setFpgaTemperature(GLUE_XADC, 95.0);
  cat.temperatureAlarms_ = INT32_MAX;
  cat.pollAlarms();
  EXPECT_EQ(consoleCount("[ERR] Temperature alarm: 2147483647 times, 0xa0"), 1);
}

}  // namespace
