// Key presets: selections through the shot memory's register decoder, the
// lamp window, the panels' key-select buttons, the entries and clearAll.
#include <gtest/gtest.h>

#include <vector>

#include "Main/io/io.h"
#include "Main/key/keypreset.h"
#include "Main/memory/shotmem.h"
#include "Main/panel/led.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryKeyPreset;
using category::CategoryShotMemory;
using P = MxifKeyPreset;

class KeyPresetTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override {
    StartedSystemTest::SetUp();
    peer.readPackets();
  }
  static CategoryKeyPreset& presets() { return CategoryKeyPreset::instance(); }
  static CategoryShotMemory& shots() { return CategoryShotMemory::instance(); }
  static P& live() { return presets().record(0); }
  static int panelLamp(int panel, int code) { return category::CategoryLed::instance().ledRequest(panel, code); }
  static int meLamp(int me, int panel, int code) { return category::CategoryMeLed::instance()[me].ledRequest(panel, code); }
  static std::vector<s32> row(int r) {
    std::vector<s32> out;
    for (int c = 0; c < 8; ++c) out.push_back(presets().selection(r, c));
    return out;
  }
  // The key preset records one frame reports.
  std::vector<P> frameReports() { return decoded(framePackets()[P::TYPE_INDEX]); }
  static std::vector<P> decoded(const std::vector<testing_support::AckPacket>& packets) {
    std::vector<P> out;
    for (const auto& p : packets) out.push_back(p.as<P>());
    return out;
  }
  static bool wholeRecord(const P& r) {
    return r.mask0 == 3 && r.mask1 == 3 && r.recallMask == 7 && r.entryMask[2] == 0xFFFF &&
           r.panel[2].targetMask == 0x1F && r.panel[2].extraMask == 0xF && r.panel[2].group9Mask == 1;
  }
  static void pressOn(int panel, int me, int code) {
    internal::MxifButtonEvent ev;
    ev.panel = static_cast<u8>(panel), ev.me = static_cast<u8>(me), ev.code = static_cast<u16>(code), ev.state = 1;
    presets().onButton(ev);
  }
};

TEST_F(KeyPresetTest, RecallOfRegister118AndItsLampWindow) {
  category::CategoryShotMemoryStatus::instance().setStored(118, 1);
  for (auto& panel : live().panel) panel.target[2] = panel.group9 = 1;
  live().panel[1].target[2] = 0;  // panel 1 shows key 0 of group 2
  live().panel[2].group9 = 3;     // panel 2 shows key 3 in group 9
  shots().keyPresetRecalled(118);
  EXPECT_EQ(row(2), (std::vector<s32>{-1, 1, -1, -1, -1, -1, -1, -1}));
  EXPECT_EQ(row(9), row(2));
  EXPECT_EQ(presets().sharedSelection(1), 1);
  for (int frame = 1; frame <= 6; ++frame) {
    SCOPED_TRACE(frame);
    const int want = frame <= 4 ? 1 : 2;
    runFrame(0);
    // Group 2 on ME 2's bank A (preset 2's lamp is 359), group 9 (3133), the shared bank (3308, 3336).
    EXPECT_EQ(std::vector<int>({meLamp(2, 0, 359), meLamp(2, 1, 359), meLamp(2, 2, 359), panelLamp(0, 3133),
                                panelLamp(1, 3133), panelLamp(2, 3133), panelLamp(0, 3308), panelLamp(0, 3336)}),
              std::vector<int>({want, 0, want, want, want, 0, want, want}));
  }
  // Title lamps always on; the key-select lamps follow the targets.
  EXPECT_EQ(std::vector<int>({panelLamp(0, 3300), panelLamp(0, 3346), meLamp(2, 1, 350), meLamp(2, 1, 351),
                              panelLamp(2, 3131)}),
            std::vector<int>({2, 2, 2, 0, 2}));
}

TEST_F(KeyPresetTest, StoresRecallsAndTheClearForm) {
  shots().keyPresetRecalled(114);  // group 2, key 0, preset 1
  shots().keyPresetStored(116);    // preset 3 into key 0 of group 2
  EXPECT_EQ(row(2)[0], 3);
  EXPECT_EQ(presets().sharedSelection(0), 1);  // presets 1..3 only go to the shared selection
  EXPECT_EQ(std::vector<s32>({presets().lastGroup(), presets().countdown()}), std::vector<s32>({-1, -1}));

  const auto last = CategoryShotMemory::decodeKeyPreset(160);
  EXPECT_EQ(std::vector<int>({last.group, last.key, last.preset}), std::vector<int>({4, 3, 3}));
  shots().keyPresetRecalled(81);  // group 0, key 0, preset 0
  shots().keyPresetStored(91);    // key 2 of group 0, preset 2
  EXPECT_EQ(row(0), (std::vector<s32>{-1, -1, 2, -1, -1, -1, -1, -1}));

  // Group 2 key 1 holds preset 1; a command on preset 2 of that key clears nothing but starts the
  // window: the cleared preset's lamp shows 1 for four frames, then 0; the selected one shows 2.
  shots().keyPresetRecalled(118);
  live().panel[0].target[2] = 1;
  shots().keyPresetCommandDone(3, 119);  // a command that tells nothing
  EXPECT_EQ(presets().clearMode(), 0);
  shots().keyPresetCommandDone(2, 119);
  EXPECT_EQ(std::vector<s32>({row(2)[1], presets().sharedSelection(1), presets().clearMode(), presets().lastCleared(),
                              presets().countdown()}),
            std::vector<s32>({1, 1, 1, 2, 5}));
  for (int frame = 1; frame <= 5; ++frame) {
    runFrame(0);
    EXPECT_EQ(std::vector<int>({meLamp(2, 0, 360), meLamp(2, 0, 359), panelLamp(0, 3309)}),
              std::vector<int>({frame <= 4 ? 1 : 0, 2, frame <= 4 ? 1 : 0}))
        << frame;
  }
  // The clear form of the selected preset empties it.
  shots().keyPresetCommandDone(12, 118);
  EXPECT_EQ(std::vector<s32>({row(2)[1], row(9)[1], presets().sharedSelection(1)}), std::vector<s32>({-1, -1, -1}));
}

TEST_F(KeyPresetTest, NoTargetSwitchesTheGroupsLampsOff) {
  category::CategoryShotMemoryStatus::instance().setStored(145, 1);  // group 4, key 0, preset 0
  shots().keyPresetStored(145);
  runFrame(0);
  EXPECT_EQ(std::vector<int>({panelLamp(1, 2200), panelLamp(1, 2208)}), std::vector<int>({2, 2}));
  live().panel[1].target[4] = P::TARGET_NONE;
  runFrame(0);
  EXPECT_EQ(std::vector<int>({panelLamp(1, 2200), panelLamp(1, 2208), panelLamp(0, 2208)}), std::vector<int>({0, 0, 2}));
}

// An entry the front end sets goes back to the selection table's value at the next frame.
TEST_F(KeyPresetTest, EntriesFollowTheSelectionTable) {
  frameReports();  // the start-up report of every entry
  shots().keyPresetStored(82);  // row 0: preset 1 of key 0
  P in{};
  codec::setPresenceBit(in.entryMask, 5);
  in.entry[5] = 2;
  peer.send(in);
  const auto reports = frameReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].entryMask[0], 0x21u);
  EXPECT_EQ(std::vector<int>({reports[0].entry[0], reports[0].entry[5]}), std::vector<int>({1, -1}));
}

TEST_F(KeyPresetTest, KeySelectButtonsChooseTheTargets) {
  frameReports();
  internal::MxifButtonEvent ev;
  ev.panel = 1, ev.me = 2, ev.code = 1701, ev.state = 1;
  peer.send(ev);
  const auto reports = frameReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].panel[1].target[2], 1);
  EXPECT_TRUE(wholeRecord(reports[0]));
  EXPECT_EQ(presets().panelTarget(1, 2), 1);

  pressOn(0, 0, 1805);  // no key 6
  pressOn(3, 0, 1701);  // no panel 3
  pressOn(0, 4, 1702);  // no ME 4
  EXPECT_TRUE(frameReports().empty());
  pressOn(2, 3, 1803);
  pressOn(2, 3, 2102);
  runFrame(0);
  EXPECT_EQ(std::vector<int>({presets().panelTarget(2, 4), presets().panelTarget(2, 9), presets().panelTarget(2, 3)}),
            std::vector<int>({3, 2, 0}));
}

TEST_F(KeyPresetTest, CustomInformationSlotsChooseTheMeLampsOfAGroup) {
  auto& info = category::CategoryCustomInfo::instance().record(0);
  info.meSlot[1] = 3;  // group 1 on ME 2's bank B
  live().panel[0].target[1] = 2;
  live().panel[0].target[0] = 1;
  runFrame(0);
  EXPECT_EQ(std::vector<int>({meLamp(2, 0, 356), meLamp(2, 0, 352), meLamp(0, 0, 351)}), std::vector<int>({2, 0, 2}));
}

TEST_F(KeyPresetTest, ClearAllEmptiesTheSelectionsAndResetsTheTargets) {
  shots().keyPresetRecalled(118);
  for (auto& panel : live().panel) panel.target[3] = 2, panel.extra[1] = 3, panel.group9 = 1;
  runFrame(0);
  peer.readPackets();
  category::CategoryLed::instance().setLed(2, 2215, 2);
  category::CategoryLed::instance().setLed(1, 3134, 1);
  category::CategoryMeLed::instance()[3].setLed(1, 365, 2);
  presets().clearAll();
  EXPECT_EQ(std::vector<int>({panelLamp(2, 2215), panelLamp(1, 3134), meLamp(3, 1, 365), presets().sharedSelection(1),
                              presets().lastGroup()}),
            std::vector<int>({0, 0, 0, -1, -1}));
  const auto reports = frameReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(wholeRecord(reports[0]));
  for (const auto& panel : reports[0].panel) {
    EXPECT_EQ(std::vector<int>({panel.target[3], panel.extra[1], panel.group9}), std::vector<int>({0, 0, 0}));
  }
  EXPECT_EQ(std::vector<s32>(reports[0].entry, reports[0].entry + 80), std::vector<s32>(80, -1));
}

}  // namespace
