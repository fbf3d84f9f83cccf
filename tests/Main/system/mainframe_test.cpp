// Mainframe configuration: the wiring its update puts into the drivers, the fader selection; the
// system initialise command; the maintenance record over frames and across a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Common/shared.h"
#include "Driver/core/core.h"
#include "Driver/core/regs.h"
#include "Lib/Include/text.h"
#include "Main/bkgd/bkgd.h"
#include "Main/fader/faderevent.h"
#include "Main/key/chrkey.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/key/keypreset.h"
#include "Main/memory/eventmem.h"
#include "Main/panel/operate.h"
#include "Main/panel/panelconfig.h"
#include "Main/system/maintenance.h"
#include "Main/system/mfconfig.h"
#include "tests/Main/category_fixture.h"
#include "tests/Main/transition/engine_fixture.h"

namespace {

using category::CategoryMainframeConfig;
using R = MxifMainframeConfig;
using Cmd = internal::SystemInitialCmd;
using Calls = std::vector<std::vector<int>>;
using transition_test::calls;

class MainframeConfigTest : public test_categories::SystemCategoriesTest {
 protected:
  transition_test::CallLog log;
  CategoryMainframeConfig& cat = CategoryMainframeConfig::instance();
  R& live() { return cat.record(0); }
  static MxifKey& key(int me, int k) { return category::CategoryKey::instance()[me].record(k); }
  static MxifChromaKey& chroma(int me, int ch) { return category::CategoryChromaKey::instance()[me].record(ch); }

  // The category's update alone, with the log cleared first.
  void apply() { calllog::clear(), cat.update(); }
  // Each call of a setter as {ME context index (with context), target, arguments...}.
  static Calls made(const char* name, bool context = false) {
    Calls out;
    for (const auto& c : calls(name)) {
      std::vector<int> row;
      if (context) row.push_back(c.context - MX_CONTEXT_ME1);
      row.push_back(c.target);
      for (int i = 0; i < c.count; ++i) row.push_back(static_cast<int>(c.args[i]));
      out.push_back(row);
    }
    return out;
  }
};

TEST_F(MainframeConfigTest, AllZeroWiringAndTheForcedTopOptionOnTheFirstFrame) {
  auto sent = framePackets()[R::TYPE_INDEX];
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tuple(sent[0].as<R>().dskConfig.mask, sent[0].as<R>().dskConfig.dskTopOption), std::tuple(MainframeDskConfig::TOP_OPTION, 1));
  apply();
  EXPECT_EQ(made("mxKeySetCleanTap", true), (Calls{{0, MX_KEY1}, {1, MX_KEY1}, {2, MX_KEY1}, {3, MX_KEY1}}));
  EXPECT_EQ(made("mxDskSetOutput"), (Calls{{4625, 4544}, {4627, 4544}, {4629, 4544}, {4631, 4544}}));
  EXPECT_EQ(made("mxSetDskSource"), (Calls{{4632, 4512}, {4633, 4512}, {4633, 4512}}));
  EXPECT_EQ(made("mxDskSetCleanSource"), (Calls{{4548, 4625}, {4549, 4627}, {4550, 4629}, {4551, 4631}}));
}

TEST_F(MainframeConfigTest, CompanionOutputBackgroundsAndCleanPoints) {
  const int companion[] = {4547, 5136, 5137, 5138, 5139, 5141};
  for (int v = 0; v <= 5; ++v) {
    live().dskConfig.dskOutput2Source = static_cast<u8>(v), apply();
    EXPECT_EQ(made("mxDskSetOutputSource"), (Calls{{4547, companion[v]}})) << v;
  }
  MainframeDskConfig& d = live().dskConfig;
  d.dskBackground1 = 9, d.dskBackground2 = 7, d.dskBackground2Own = 1, d.dskCleanAlt[2] = 1;
  live().meConfig[1].cleanTapMode = 1, live().meConfig[1].cleanKey = 2, live().meConfig[2].cleanTapMode = 2, apply();
  EXPECT_EQ(made("mxSetDskSource"), (Calls{{4632, 4518}, {4633, 4540}}));
  EXPECT_EQ(made("mxDskSetCleanSource")[2], (std::vector<int>{4550, 5138}));
  EXPECT_EQ(made("mxKeySetCleanTap", true), (Calls{{0, MX_KEY1}, {1, 5124}, {2, 5126}, {3, MX_KEY1}}));
}

// Keys listed for point A count when the next transition takes them on air: selected while running
// backwards, deselected while running forwards.
TEST_F(MainframeConfigTest, OutputPointAFollowsTheNextTransition) {
  MainframeMeConfig& c = live().meConfig[0];
  c.tapAKeys[0] = c.tapAKeys[1] = c.tapAKeys[2] = 1;
  MxifBkgd& bkgd = category::CategoryBkgd::instance()[0].record(0);
  bkgd.nextKey[1] = bkgd.nextKey[3] = 1, bkgd.nextBkgd = 1;
  key(0, 0).reverse = 1, key(0, 3).reverse = 0, apply();
  EXPECT_EQ(made("mxKeySetOutputTapA", true)[0], (std::vector<int>{0, 5121, 0x3}));
  bkgd.nextBkgd = 0, bkgd.nextKey[1] = 2, apply();  // a selection of 2 leaves the key out
  EXPECT_EQ(made("mxKeySetOutputTapA", true)[0], (std::vector<int>{0, 5120, 0x1}));
}

// The chroma record of ME 1 names key c (1..4); while that key is a chroma key and the point does not
// ignore chroma, both points carry it alone, at its layer point while its output-point flag is set.
TEST_F(MainframeConfigTest, ChromaKeyTakesTheOutputPoints) {
  // source and mask: of both points. Key 5 does not exist: the lists, not a read past the four keys.
  struct Case { int assigned, keyType, ignore, flag, source, mask; } cases[] = {
      {2, 2, 0, 1, 5123, 0x2}, {2, 2, 0, 0, 5120, 0x2}, {2, 0, 0, 1, 5120, 0x9},
      {2, 2, 1, 1, 5120, 0x9}, {0, 2, 0, 1, 5120, 0x9}, {5, 2, 0, 1, 5120, 0x9}};
  MainframeMeConfig& c = live().meConfig[1];
  c.tapAKeys[0] = c.tapAKeys[3] = c.tapBKeys[0] = c.tapBKeys[3] = 1;
  category::CategoryBkgd::instance()[1].record(0).nextKey[3] = 1, key(1, 0).reverse = 1;
  for (const Case& k : cases) {
    chroma(1, 0).sampleKey = static_cast<u8>(k.assigned), key(1, 1).style.keyType = static_cast<u8>(k.keyType);
    chroma(1, 1).outputPoint = static_cast<u8>(k.flag), c.tapAIgnoreChroma = c.tapBIgnoreChroma = static_cast<u8>(k.ignore), apply();
    const std::vector<int> expected{1, k.source, k.mask};
    EXPECT_EQ(Calls({made("mxKeySetOutputTapA", true)[1], made("mxKeySetOutputTapB", true)[1]}), Calls({expected, expected}))
        << k.assigned << k.keyType << k.ignore << k.flag;
  }
}

// The top DSKs of each program output by their ordering bytes (ties all top) take the top option.
TEST_F(MainframeConfigTest, DskOptionsByOrderOnEachProgramOutput) {
  struct Case { u8 program[4]; std::vector<int> options; } cases[] = {
      {{0, 0, 0, 0}, {1, 0, 0, 1}}, {{0, 1, 1, 0}, {1, 0, 0, 0}}};
  const u8 order[] = {1, 3, 3, 2};
  for (int n = 0; n < 4; ++n) category::CategoryDsk::instance().record(n).priority = order[n];
  MainframeDskConfig& d = live().dskConfig;
  d.dskOption = 1, d.dskTopOption = 1, d.dskFlag[0] = d.dskFlag[2] = 1;
  for (const Case& c : cases) {
    std::copy(c.program, c.program + 4, d.dskProgram), apply();
    std::vector<int> options;
    for (const auto& call : made("mxDskSetOutputOption")) options.push_back(call[1]);
    EXPECT_EQ(options, c.options);
    EXPECT_EQ(made("mxDskSetFlags"), (Calls{{0, 5}}));
  }
}

TEST_F(MainframeConfigTest, KeyFaderLayerFollowsTheFaderSelection) {
  live().faderKeys[0].entries[2] = 1, live().faderDsks.entries[1] = 1;
  struct Case { int select, keyType, flag; std::vector<int> layer; } cases[] = {
      {2, 0, 1, {MX_CONTEXT_ME1, 4617, 1}}, {2, 2, 1, {MX_CONTEXT_ME1, 5124, 1}},  // a chroma key, its flag set
      {17, 0, 0, {0, 4627, 1}}, {3, 0, 0, {0, MX_DSK1, 0}}};  // key 3 is not listed
  for (const Case& c : cases) {
    live().faderSelect = static_cast<u8>(c.select), key(0, 2).style.keyType = static_cast<u8>(c.keyType);
    chroma(0, 2).outputPoint = static_cast<u8>(c.flag), apply();
    EXPECT_EQ(made("mxKeySetLayerSource"), Calls{c.layer}) << c.select;
  }
  framePackets(), cat.setFaderSelect(7);
  auto sent = frameSends(R::TYPE_INDEX);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tuple(sent[0].as<R>().mask, sent[0].as<R>().faderSelect), std::tuple(R::FADER_SELECT, 7));
}

class InitializeTest : public MainframeConfigTest {
 protected:
  void SetUp() override { MainframeConfigTest::SetUp(), runFrame(0), peer.readPackets(); }
  category::CategoryFaderEvent& faders = category::CategoryFaderEvent::instance();
  category::CategoryEventMemory& events = category::CategoryEventMemory::instance();

  static Cmd command(int mode) { return Cmd{0x11, 0x22, static_cast<u16>(mode), 77, {2024, 2, 29, 23, 59, 58}, 0x33}; }
  // Sends the command, dispatches it and returns the answer's body.
  testing_support::Bytes initialise(int mode) {
    peer.send(command(mode)), reg().receiveAll(), AcknowledgeSender::instance().flush();
    auto packets = peer.readPackets();
    return packets.size() == 1 && packets[0].type == Cmd::TYPE_INDEX ? packets[0].body : testing_support::Bytes{};
  }
  // Moves every tracked transition away from rest, owned by lever 2.
  void disturb() {
    for (int k = 0; k < 25; ++k) {
      AutoTransition& t = faders.transition(k);
      t.state = AutoTransition::RUNNING, t.positionA = 0.7f, t.positionB = 0.3f, t.flip = -1;
      faders.fader(k).ownerFader = 2;
    }
  }
};

TEST_F(InitializeTest, RefusedWhileAnEventMemoryPlaysOrForAModeAbove2) {
  using P = category::EventPlayer;
  struct Case { int mode, registerStatus, workStatus, result; } cases[] = {
      {3, P::STATUS_IDLE, P::STATUS_IDLE, -2}, {3, P::STATUS_RUNNING, P::STATUS_IDLE, -16},
      {0, P::STATUS_IDLE, P::STATUS_RUNNING, -16}, {2, P::STATUS_PAUSE, P::STATUS_PAUSE, 0}, {1, P::STATUS_IDLE, P::STATUS_IDLE, 0}};
  for (const Case& c : cases) {
    disturb(), events.registerPlayer(8).status = c.registerStatus, events.workPlayer().status = c.workStatus;
    const auto body = initialise(c.mode);
    Cmd expected = command(c.mode);
    expected.result = static_cast<s16>(c.result);
    EXPECT_EQ(std::pair(body, faders.fader(3).ownerFader), std::pair(testing_support::recordBytes(expected), c.result == 0 ? -1 : 2))
        << c.mode << " " << c.registerStatus;
  }
}

TEST_F(InitializeTest, ResetsTransitionsChromaKeysPresetsKeyMemoryAndKeyFaderButtons) {
  for (int me = 0; me < category::N_ME; ++me) {
    ChromaKeyBlock block{};
    block.colorA[0] = static_cast<s16>(100 + me);
    SharedMemory::instance().writeChromakey(4 * me, &block, sizeof block);
  }
  category::CategoryKeyPreset::instance().selectPreset(1, 2, 3, 1, 1);
  category::CategoryOperate::instance().keyMemory().busy = 1;
  KeySourceHeader header{};
  header.enabled.word[0] = 0xFF;
  SharedMemory::instance().writeKeySourceMemory(0, 0, &header, sizeof header);
  category::CategoryControlPanelConfig::instance().setKeyFaderButtonState(1, 3, 4, 1);
  framePackets(), disturb();

  ASSERT_EQ(initialise(0).size(), 19u);
  for (int k = 0; k < 24; ++k) {
    const AutoTransition& t = faders.transition(k);
    EXPECT_EQ(std::tuple(t.state, t.positionA, t.positionB, t.flip, faders.fader(k).ownerFader),
              std::tuple(AutoTransition::IDLE, 0.0f, -1.0f, 1, -1))
        << k;
  }
  EXPECT_EQ(faders.fader(24).ownerFader, 2);
  SharedMemory::instance().readKeySourceMemory(0, 0, &header, sizeof header);  // emptied although held
  auto chroma = [](int me) { return int{category::CategoryChromaKey::instance()[me].workingBlock(0).colorA[0]}; };
  EXPECT_EQ(std::tuple(chroma(0), chroma(1), chroma(2), category::CategoryKeyPreset::instance().selection(1, 2), header.enabled.word[0]),
            std::tuple(100, 101, 0, -1, 0u));
  auto sent = frameSends(MxifControlPanelConfig::TYPE_INDEX);
  ASSERT_EQ(sent.size(), 1u);
  const auto reported = sent[0].asText<MxifControlPanelConfig>();
  EXPECT_EQ(std::tuple(reported.keyFaderStates[1][3].mask, int{reported.keyFaderStates[1][3].state[4]}), std::tuple(0xFFFu, 0));
}

namespace maintenance {

using namespace category;
using testing_support::AckPacket;
using testing_support::Bytes;
using platform::regPoke;
using R = MxifMaintenance;
using Cmd = MxifMaintenanceCmd;
using Texts = std::vector<std::string>;

template <int C>
std::string str(const TextField<C>& t) {
  return std::string(reinterpret_cast<const char*>(t.chars), static_cast<size_t>(t.count));
}
Texts texts(const MaintenanceAlarm& a) { return {str(a.text[0]), str(a.text[1]), str(a.text[2]), str(a.text[3])}; }

class MaintenanceTest : public test_categories::SystemCategoriesTest {
 protected:
  void receive(const R& r) { peer.sendText(r), reg().receiveAll(); }
  // A record carrying the four flags of the mainframe alarm.
  static R mainframeFlags(u8 f0, u8 f1, u8 f2) {
    R r{};
    r.mainframeAlarm.mask = 0xF0, r.mainframeAlarm.flag[0] = f0, r.mainframeAlarm.flag[1] = f1, r.mainframeAlarm.flag[2] = f2;
    return r;
  }
  std::vector<R> reports() {
    std::vector<R> out;
    for (const AckPacket& p : sendPass(cat)) out.push_back(p.asText<R>());
    return out;
  }
  // Sends the command and returns the raw reply packet.
  Bytes command(s16 code, Cmd c = {}) {
    c.code = code, c.result = 77, peer.send(c), reg().receiveAll(), AcknowledgeSender::instance().flush();
    return peer.readBytes();
  }
  CategoryMaintenance& cat = CategoryMaintenance::instance();
  R& stored() { return cat.record(0); }
};

// A time stamp is a calendar time; taken, it is stored without a report.
TEST_F(MaintenanceTest, TimeStampsAreCalendarTimesStoredWithoutReport) {
  struct Case { u32 bit; std::vector<s16> values; bool taken; } const cases[] = {
      {R::MV_TIME, {2024, 2, 30, 0, 0, 0}, false}, {R::MV_TIME, {2023, 2, 29, 0, 0, 0}, false},
      {R::MV_LTC, {2100, 2, 29, 0, 0, 0}, false},  {R::MV_LTC, {2024, 1, 1, 0, 0, 60}, false},
      {R::MV_LTC, {2024, 4, 31, 0, 0, 0}, false},  {R::MV_TIME, {2000, 2, 29, 0, 0, 0}, true},
      {R::MV_LTC, {2024, 2, 29, 23, 59, 59}, true}};
  for (const Case& c : cases) {
    reports();
    R r{};
    r.mask = c.bit, std::copy(c.values.begin(), c.values.end(), c.bit == R::MV_TIME ? r.mvTime : r.mvLtc);
    const R before = stored();
    receive(r);
    EXPECT_EQ(std::tuple(std::memcmp(&before, &stored(), sizeof(R)) != 0, reports().size()), std::tuple(c.taken, c.taken ? 0u : 1u))
        << c.values[0] << "-" << c.values[1];
  }
  EXPECT_EQ(std::tuple(stored().mvTime[0], stored().mvLtc[3], stored().mask), std::tuple(2000, 23, 0u));
}

TEST_F(MaintenanceTest, GracePeriodShowsNoAlarmsThenTheFirstPollReportsThem) {
  regPoke(BOARD_STRAPS, 0x40), regPoke(BOARD_POWER_STATUS, 0x6F);  // unit A fitted (status bit 3 set), unit B not
  receive(mainframeFlags(1, 1, 1));
  for (int frame = 1; frame < CategoryMaintenance::GRACE_FRAMES; ++frame) cat.update();
  framePackets();  // frame 3600
  EXPECT_EQ(texts(stored().mainframeAlarm), Texts({"No Alarm", "-", "No Alarm", "-"}));

  const auto packets = frameSends(R::TYPE_INDEX);  // frame 3601: the first poll
  ASSERT_EQ(packets.size(), 1u);
  const R got = packets[0].asText<R>();
  EXPECT_EQ(texts(got.mainframeAlarm), Texts({"Alarm", "-", "No Alarm", "-"}));
  EXPECT_EQ(std::tuple(got.mainframeAlarm.mask, got.hourMeter.mask, got.hourMeter.status[0], got.hourMeter.status[8]),
            std::tuple(0x7u, 0x3u << 10 | 0x7u << 18, 1, 1));  // status bytes 0, 1, 8, 9, 10
  EXPECT_EQ(frameSends(R::TYPE_INDEX).size(), 0u);  // nothing changed since
}

TEST_F(MaintenanceTest, OnlyTheFlagOfAnAbsentUnitAOrOfBBesideAFittedAIsCleared) {
  // Board word, then flags 0 and 1 after a frame that started from 1, 1.
  const std::pair<u32, std::vector<int>> cases[] = {
      {0x60, {0, 1}}, {0x20, {0, 1}}, {0x40, {1, 0}}, {0x00, {1, 1}}};
  for (const auto& [word, flags] : cases) {
    regPoke(BOARD_STRAPS, word), receive(mainframeFlags(1, 1, 0)), runFrame(0);
    EXPECT_EQ(std::vector<int>({stored().mainframeAlarm.flag[0], stored().mainframeAlarm.flag[1]}), flags) << word;
  }
}

TEST_F(MaintenanceTest, CommandAnswersAndResetsTheAlarmTexts) {
  Cmd c{};
  c.byte1 = 1, c.byte2 = 2, c.byte3 = 3, c.byte4 = 4, c.time[2] = 59;
  for (s16 code : {7, -1, 3, 0}) {
    SCOPED_TRACE(code);
    Cmd e = c;
    e.code = code, e.result = code < 0 || code > 6 ? -2 : 0;
    EXPECT_EQ(command(code, c), testing_support::packetBytes(70, testing_support::recordBytes(e)));
  }
  // Code 0 right after start: every text "No Alarm", then the poll put "-" on the mainframe's.
  EXPECT_EQ(texts(stored().mainframeAlarm), Texts({"-", "-", "-", "-"}));
  for (int p = 0; p < R::N_PANELS; ++p) EXPECT_EQ(texts(stored().panelAlarm(p)), Texts(4, "No Alarm"));
  // The panel step puts back the held texts ("Fan" for a monitored item) or "-".
  R r{};
  r.subControlPanel1Alarm.mask = 0x11, r.subControlPanel1Alarm.flag[0] = 1, r.subControlPanel1Alarm.text[0] = {3, {'F', 'a', 'n'}};
  receive(r), command(0), runFrame(0);
  EXPECT_EQ(texts(stored().subControlPanel1Alarm), Texts({"Fan", "-", "-", "-"}));
}

// A restart writes each alarm text from its flag and clears the flag of a unit not fitted.
TEST_F(MaintenanceTest, RestartRebuildsTheAlarmTextsFromTheFlags) {
  R r{};
  r.mask = R::LEVER_PARAM3 | R::LEVER_PARAM4, r.leverParam3 = 400, r.leverParam4 = 95;
  r.mainframeAlarm.mask = 0xF0, r.mainframeAlarm.flag[0] = r.mainframeAlarm.flag[1] = r.mainframeAlarm.flag[2] = 1;
  r.controlPanelAlarm.mask = 0x21, r.controlPanelAlarm.flag[1] = 1, r.controlPanelAlarm.text[0] = {3, {'F', 'a', 'n'}};
  receive(r), runFrame(0);  // stored, then copied into the backup image
  regPoke(BOARD_STRAPS, 0x40), restart();  // after the restart unit A is fitted, unit B not
  EXPECT_EQ(std::pair(texts(stored().mainframeAlarm), texts(stored().controlPanelAlarm)),
            std::pair(Texts({"-", "No Alarm", "No Alarm", "-"}), Texts({"-", "No Alarm", "-", "-"})));
  for (int p = 0; p < R::N_PANELS; ++p) EXPECT_EQ(texts(cat.heldPanelAlarm(p)), Texts(4, "No Alarm"));
  const auto lever = CategoryMaintenance::leverLimits();  // what the key-fader lever input passes on
  EXPECT_EQ(std::pair(lever.floor, lever.topMargin), std::pair(400, 95));
}

// The maintenance category alone, with the fader events' calibration reset seen from outside.
struct FakeFaderEvent : test_categories::StubCategory, LeverCalibrationTarget {
  FakeFaderEvent() : StubCategory(TYPE_FADER_EVENT, "MxifFaderEvent") {}
  void resetCalibration(int panel, int) override { resets.push_back(panel); }
  std::vector<int> resets;
};
struct TestMaintenance : CategoryMaintenance { using CategoryMaintenance::temperatureAlarms_; };
class MaintenanceLeverTest : public test_categories::RecordCategoryTest<TestMaintenance, R> {
 protected:
  FakeFaderEvent faders;
};

TEST_F(MaintenanceLeverTest, LeverParametersResetEveryPanelUntilReportedAndCommandsResetOne) {
  using V = std::vector<int>;
  R r{};
  r.mask = R::LEVER_PARAM1 | R::LEVER_PARAM3 | R::LEVER_PARAM4, r.leverParam3 = 400, r.leverParam4 = 95;
  peer.sendText(r), CategoryRegistry::instance().receiveAll(), cat.update();
  EXPECT_EQ(faders.resets, V({0, 1, 2, 0, 1, 2}));
  sendPass(), cat.update();  // reported: no more resets
  Cmd c{};
  c.code = 5, peer.send(c), CategoryRegistry::instance().receiveAll();  // resets panel 1
  EXPECT_EQ(faders.resets, V({0, 1, 2, 0, 1, 2, 1}));
  CategoryRegistry::instance().reset();  // no maintenance record: the lever input gets 0, 0
  EXPECT_EQ(std::pair(CategoryMaintenance::leverLimits().floor, CategoryMaintenance::leverLimits().topMargin), std::pair(0, 0));
}

}  // namespace maintenance
}  // namespace
