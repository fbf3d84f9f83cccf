// Key presets: selections through the shot memory's registers, the lamp window, the key-select buttons.
#include <gtest/gtest.h>

#include <vector>

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
  std::vector<P> frameReports() {
    std::vector<P> out;
    auto packets = framePackets();
    for (const auto& p : packets[P::TYPE_INDEX]) out.push_back(p.as<P>());
    return out;
  }
  static void pressOn(int panel, int me, int code) {
    presets().onButton(test_categories::buttonEvent(code, me, 1, panel));
  }
};

TEST_F(KeyPresetTest, RecallOfRegister118AndItsLampWindow) {
  category::CategoryShotMemoryStatus::instance().setStored(118, 1);
  for (auto& panel : live().panel) panel.target[2] = panel.group9 = 1;
  live().panel[1].target[2] = 0;  // panel 1 shows key 0 of group 2
  live().panel[2].group9 = 3;     // panel 2 shows key 3 in group 9
  shots().keyPresetRecalled(118);
  EXPECT_EQ(row(2), (std::vector<s32>{-1, 1, -1, -1, -1, -1, -1, -1}));
  EXPECT_EQ(std::tuple(row(9), presets().sharedSelection(1)), std::tuple(row(2), 1));
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
  EXPECT_EQ(std::tuple(row(2)[0], presets().sharedSelection(0)), std::tuple(3, 1));  // 1..3 only go to the shared one

  EXPECT_EQ(std::vector<s32>({presets().lastGroup(), presets().countdown()}), std::vector<s32>({-1, -1}));

  shots().keyPresetRecalled(81);  // group 0, key 0, preset 0
  shots().keyPresetStored(91);    // key 2 of group 0, preset 2
  EXPECT_EQ(row(0), (std::vector<s32>{-1, -1, 2, -1, -1, -1, -1, -1}));

  // Group 2 key 1 holds preset 1; a command on preset 2 of that key clears nothing but starts the
  // window: the cleared preset's lamp shows 1 for four frames, then 0; the selected one shows 2.
  shots().keyPresetRecalled(118);
  live().panel[0].target[2] = 1;
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

TEST_F(KeyPresetTest, KeySelectButtonsChooseTheTargets) {
  frameReports();
  peer.send(test_categories::buttonEvent(1701, 2, 1, 1));
  const auto reports = frameReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(std::tuple(reports[0].panel[1].target[2], presets().panelTarget(1, 2)), std::tuple(1, 1));

  pressOn(2, 3, 1803);
  pressOn(2, 3, 2102);
  runFrame(0);
  EXPECT_EQ(std::vector<int>({presets().panelTarget(2, 4), presets().panelTarget(2, 9), presets().panelTarget(2, 3)}),
            std::vector<int>({3, 2, 0}));
}

}  // namespace
