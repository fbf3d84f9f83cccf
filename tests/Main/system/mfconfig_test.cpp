// Mainframe configuration (type 26): the wiring its update puts into the key and DSK drivers, the
// fader selection, the restart report; the system initialise command (type 73).
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "Common/shared.h"
#include "Lib/Include/text.h"
#include "Driver/core/core.h"
#include "Main/bkgd/bkgd.h"
#include "Main/fader/faderevent.h"
#include "Main/key/chrkey.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/key/keypreset.h"
#include "Main/memory/eventmem.h"
#include "Main/panel/operate.h"
#include "Main/panel/panelconfig.h"
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
  struct CallLog {
    CallLog() { calllog::enable(true); }
    ~CallLog() { calllog::enable(false); }
  } log;
  CategoryMainframeConfig& cat = CategoryMainframeConfig::instance();
  R& live() { return cat.record(0); }
  static MxifKey& key(int me, int k) { return category::CategoryKey::instance()[me].record(k); }
  static MxifChromaKey& chroma(int me, int ch) { return category::CategoryChromaKey::instance()[me].record(ch); }

  // The category's update alone, with the log cleared first.
  void apply() {
    calllog::clear();
    cat.update();
  }
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
  const R first = sent[0].as<R>();
  EXPECT_EQ(std::tuple(first.dskConfig.mask, first.dskConfig.dskTopOption), std::tuple(MainframeDskConfig::TOP_OPTION, 1));
  apply();
  EXPECT_EQ(made("mxKeySetCleanTap", true), (Calls{{0, MX_KEY1}, {1, MX_KEY1}, {2, MX_KEY1}, {3, MX_KEY1}}));
  EXPECT_EQ(made("mxKeySetOutputTapB", true), (Calls{{0, 5120, 0}, {1, 5120, 0}, {2, 5120, 0}, {3, 5120, 0}}));
  EXPECT_EQ(made("mxDskSetOutput"), (Calls{{4625, 4544}, {4627, 4544}, {4629, 4544}, {4631, 4544}}));
  EXPECT_EQ(made("mxSetDskSource"), (Calls{{4632, 4512}, {4633, 4512}, {4633, 4512}}));
  EXPECT_EQ(made("mxDskSetCleanSource"), (Calls{{4548, 4625}, {4549, 4627}, {4550, 4629}, {4551, 4631}}));
  EXPECT_EQ(made("mxKeySetLayerSource"), (Calls{{0, MX_DSK1, 0}}));
}

TEST_F(MainframeConfigTest, CompanionOutputBackgroundsAndCleanPoints) {
  const int companion[] = {4547, 5136, 5137, 5138, 5139, 5141};
  for (int v = 0; v <= 5; ++v) {
    live().dskConfig.dskOutput2Source = static_cast<u8>(v);
    apply();
    EXPECT_EQ(made("mxDskSetOutputSource"), (Calls{{4547, companion[v]}})) << v;
  }
  MainframeDskConfig& d = live().dskConfig;
  d.dskBackground1 = 9, d.dskBackground2 = 7, d.dskBackground2Own = 1, d.dskCleanAlt[2] = 1;
  live().meConfig[1].cleanTapMode = 1, live().meConfig[1].cleanKey = 2;
  live().meConfig[2].cleanTapMode = 2;
  apply();
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
  bkgd.nextKey[1] = bkgd.nextKey[3] = 1;
  bkgd.nextBkgd = 1;
  key(0, 0).reverse = 1, key(0, 3).reverse = 0;
  apply();
  EXPECT_EQ(made("mxKeySetOutputTapA", true)[0], (std::vector<int>{0, 5121, 0x3}));
  bkgd.nextBkgd = 0, bkgd.nextKey[1] = 2;  // a selection of 2 leaves the key out
  apply();
  EXPECT_EQ(made("mxKeySetOutputTapA", true)[0], (std::vector<int>{0, 5120, 0x1}));
}

// The chroma record of ME 1 names key c (1..4); while that key is a chroma key and the point does not
// ignore chroma, both points carry it alone, at its layer point while its output-point flag is set.
TEST_F(MainframeConfigTest, ChromaKeyTakesTheOutputPoints) {
  struct Case {
    int assigned, keyType, ignore, flag;
    int source, mask;  // of both points
  } cases[] = {
      {2, 2, 0, 1, 5123, 0x2}, {2, 2, 0, 0, 5120, 0x2}, {2, 0, 0, 1, 5120, 0x9},
      {2, 2, 1, 1, 5120, 0x9}, {0, 2, 0, 1, 5120, 0x9},
      {5, 2, 0, 1, 5120, 0x9},  // no key 5: the lists, not a read past the four keys
  };
  MainframeMeConfig& c = live().meConfig[1];
  c.tapAKeys[0] = c.tapAKeys[3] = c.tapBKeys[0] = c.tapBKeys[3] = 1;
  category::CategoryBkgd::instance()[1].record(0).nextKey[3] = 1;
  key(1, 0).reverse = 1;
  for (const Case& k : cases) {
    chroma(1, 0).sampleKey = static_cast<u8>(k.assigned);
    key(1, 1).style.keyType = static_cast<u8>(k.keyType);
    chroma(1, 1).outputPoint = static_cast<u8>(k.flag);
    c.tapAIgnoreChroma = c.tapBIgnoreChroma = static_cast<u8>(k.ignore);
    apply();
    const std::vector<int> expected{1, k.source, k.mask};
    EXPECT_EQ(made("mxKeySetOutputTapA", true)[1], expected) << k.assigned << k.keyType << k.ignore << k.flag;
    EXPECT_EQ(made("mxKeySetOutputTapB", true)[1], expected) << k.assigned << k.keyType << k.ignore << k.flag;
  }
}

// The top DSKs of each program output by their ordering bytes (ties all top) take the top option.
TEST_F(MainframeConfigTest, DskOptionsByOrderOnEachProgramOutput) {
  struct Case {
    u8 program[4];
    std::vector<int> options;
  } cases[] = {{{0, 0, 0, 0}, {1, 0, 0, 1}}, {{0, 1, 1, 0}, {1, 0, 0, 0}}};
  const u8 order[] = {1, 3, 3, 2};
  for (int n = 0; n < 4; ++n) category::CategoryDsk::instance().record(n).priority = order[n];
  MainframeDskConfig& d = live().dskConfig;
  d.dskOption = 1, d.dskTopOption = 1, d.dskFlag[0] = d.dskFlag[2] = 1;
  for (const Case& c : cases) {
    std::copy(c.program, c.program + 4, d.dskProgram);
    apply();
    std::vector<int> options;
    for (const auto& call : made("mxDskSetOutputOption")) options.push_back(call[1]);
    EXPECT_EQ(options, c.options);
    EXPECT_EQ(made("mxDskSetFlags"), (Calls{{0, 5}}));
  }
}

TEST_F(MainframeConfigTest, KeyFaderLayerFollowsTheFaderSelection) {
  live().faderKeys[0].entries[2] = 1, live().faderDsks.entries[1] = 1;
  struct Case {
    int select, keyType, flag;
    std::vector<int> layer;
  } cases[] = {{2, 0, 1, {MX_CONTEXT_ME1, 4617, 1}},
               {2, 2, 1, {MX_CONTEXT_ME1, 5124, 1}},  // a chroma key with its output-point flag
               {17, 0, 0, {0, 4627, 1}},
               {3, 0, 0, {0, MX_DSK1, 0}}};  // key 3 is not listed
  for (const Case& c : cases) {
    live().faderSelect = static_cast<u8>(c.select);
    key(0, 2).style.keyType = static_cast<u8>(c.keyType);
    chroma(0, 2).outputPoint = static_cast<u8>(c.flag);
    apply();
    EXPECT_EQ(made("mxKeySetLayerSource"), Calls{c.layer}) << c.select;
  }
  runFrame(0);
  peer.readPackets();
  cat.setFaderSelect(7);
  auto sent = frameSends(R::TYPE_INDEX);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::tuple(sent[0].as<R>().mask, sent[0].as<R>().faderSelect), std::tuple(R::FADER_SELECT, 7));
}

// A restart reports the whole record: every presence and mask bit.
TEST_F(MainframeConfigTest, RestartReportsEveryBit) {
  runFrame(0);
  restart();
  EXPECT_EQ(std::tuple(live().mask, live().meConfig[7].mask, live().meConfig[7].tapAKeysMask, live().dskConfig.mask,
                       live().faderKeys[7].entryMask, live().faderDsks.entryMask),
            std::tuple(0x3u, 0x1Fu, 0xFu, 0x3Fu, 0xFu, 0xFu));
}

// ---- System initialise ------------------------------------------------------------------------------

class InitializeTest : public MainframeConfigTest {
 protected:
  void SetUp() override {
    MainframeConfigTest::SetUp();
    runFrame(0);
    peer.readPackets();
  }
  category::CategoryFaderEvent& faders = category::CategoryFaderEvent::instance();
  category::CategoryEventMemory& events = category::CategoryEventMemory::instance();

  static Cmd command(int mode) {
    Cmd c;
    c.option1 = 0x11, c.option2 = 0x22, c.mode = static_cast<u16>(mode), c.result = 77, c.option3 = 0x33;
    const s16 date[] = {2024, 2, 29, 23, 59, 58};
    std::copy(date, date + 6, c.date);
    return c;
  }
  // Sends the command, dispatches it and returns the answer's body.
  testing_support::Bytes initialise(int mode) {
    peer.send(command(mode));
    reg().receiveAll();
    AcknowledgeSender::instance().flush();
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
  struct Case {
    int mode, registerStatus, workStatus, result;
  } cases[] = {{3, P::STATUS_IDLE, P::STATUS_IDLE, -2},    {3, P::STATUS_RUNNING, P::STATUS_IDLE, -16},
               {0, P::STATUS_IDLE, P::STATUS_RUNNING, -16}, {2, P::STATUS_PAUSE, P::STATUS_PAUSE, 0},
               {1, P::STATUS_IDLE, P::STATUS_IDLE, 0}};
  for (const Case& c : cases) {
    disturb();
    events.registerPlayer(8).status = c.registerStatus;
    events.workPlayer().status = c.workStatus;
    const auto body = initialise(c.mode);
    Cmd expected = command(c.mode);
    expected.result = static_cast<s16>(c.result);
    EXPECT_EQ(body, testing_support::recordBytes(expected)) << c.mode << " " << c.registerStatus;
    EXPECT_EQ(faders.fader(3).ownerFader, c.result == 0 ? -1 : 2) << c.mode;
  }
}

TEST_F(InitializeTest, ResetsTransitionsChromaKeysPresetsKeyMemoryAndKeyFaderButtons) {
  disturb();
  for (int me = 0; me < category::N_ME; ++me) {
    ChromaKeyBlock block{};
    block.colorA[0] = static_cast<s16>(100 + me);
    SharedMemory::instance().writeChromakey(4 * me, &block, sizeof block);
  }
  category::CategoryKeyPreset::instance().selectPreset(1, 2, 3, 1, 1);
  auto& operate = category::CategoryOperate::instance();
  operate.keyMemory().busy = 1;
  KeySourceHeader header{};
  header.enabled.word[0] = 0xFF;
  SharedMemory::instance().writeKeySourceMemory(0, 0, &header, sizeof header);
  auto& panel = category::CategoryControlPanelConfig::instance();
  panel.setKeyFaderButtonState(1, 3, 4, 1);
  runFrame(0);
  peer.readPackets();
  ASSERT_EQ(category::CategoryKeyPreset::instance().selection(1, 2), 3);
  disturb();

  ASSERT_EQ(initialise(0).size(), 19u);
  for (int k = 0; k < 24; ++k) {
    const AutoTransition& t = faders.transition(k);
    EXPECT_EQ(std::tuple(t.state, t.positionA, t.positionB, t.flip, faders.fader(k).ownerFader),
              std::tuple(AutoTransition::IDLE, 0.0f, -1.0f, 1, -1))
        << k;
  }
  EXPECT_EQ(faders.fader(24).ownerFader, 2);
  std::vector<int> reloaded;
  for (int me = 0; me < category::N_ME; ++me) reloaded.push_back(category::CategoryChromaKey::instance()[me].workingBlock(0).colorA[0]);
  EXPECT_EQ(reloaded, (std::vector<int>{100, 101, 0, 0}));
  EXPECT_EQ(category::CategoryKeyPreset::instance().selection(1, 2), -1);
  SharedMemory::instance().readKeySourceMemory(0, 0, &header, sizeof header);
  EXPECT_EQ(header.enabled.word[0], 0u);  // emptied although the front end holds the memory
  auto sent = frameSends(MxifControlPanelConfig::TYPE_INDEX);
  ASSERT_EQ(sent.size(), 1u);
  MxifControlPanelConfig reported{};
  libmx::WireIn in(sent[0].body.data(), sent[0].body.size());
  ASSERT_TRUE(libmx::readTextRecord(in, reported));
  EXPECT_EQ(std::tuple(reported.keyFaderStates[1][3].mask, int{reported.keyFaderStates[1][3].state[4]}), std::tuple(0xFFFu, 0));
}

TEST_F(InitializeTest, ResetsStandWhenTheAnswerIsLost) {
  AcknowledgeSender& tx = AcknowledgeSender::instance();
  testing_support::Bytes filler(LINK_RING_DATA - 16, 0);  // the front end does not read: its ring fills
  tx.writeBytes(filler.data(), static_cast<int>(filler.size()));
  tx.flush();
  while (tx.stream().freeCount() > 100) tx.writeU8(0);
  disturb();
  peer.send(command(0));
  reg().receiveAll();
  EXPECT_EQ(testing_support::consoleCount("send buffer full"), 1);
  EXPECT_EQ(std::tuple(faders.transition(7).state, faders.fader(7).ownerFader), std::tuple(AutoTransition::IDLE, -1));
}

}  // namespace
