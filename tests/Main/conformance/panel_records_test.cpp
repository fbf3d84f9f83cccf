// Conformance tables of the panel records that the system checks, keeps and reports.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// GPI port settings: 136 ports; groups 1..5 (ports 0..57) take the basic codes, groups 6..9 the
// extended set. The record's own presence word names no field.
const Table GPI_IN_OUT = {record<MxifGpiInOut>(), 956, "", "entry3.mode=2 entry4.code=7", {
    {"entry{0..57}.code", "0..245", "entry{}.mask:0"},
    {"entry{58..135}.code",
    "0..315, 400..615, 700..915, 1000..1215, 1300..1319, 1400..1479, 1500..1511, 1600..1611, 1700..1711, "
    "1800..1811",
    "entry{}.mask:0"},
    {"entry{0..135}.mode", "0..3", "entry{}.mask:1"}}};

// Tally groups: group 0 refuses the preview outputs (codes 2, 5, 15, 16) that groups 1..3 take; a
// negative code (65535 on the wire) is never taken.
const Table PERIPHERAL = {record<MxifPeripheral>(), 100, "", "group2.color=3 option=1", {
    {"option", "0..1", "maskB:0"}, {"flagA0", "1", "maskA:0", NEVER}, {"reportForm", "0..1", "maskA:1"},
    {"tallyMode", "0..1", "maskA:2"},
    {"group0.entries[0..7]", "0..1, 3..4, 6, 13..14, 17..36", "group0.mask:0..7", PLAIN, "refuse: 65535"},
    {"group{1..3}.entries[0..7]", "0..6, 13..36", "group{}.mask:0..7", PLAIN, "refuse: 65535"},
    {"group{0..3}.color", "0..3", "group{}.mask:8"}, {"group{0..3}.exclusion", "0..1", "group{}.mask:9", TRUTH}}};

// Button inhibit tables, one per control panel.
const Table BUTTON_INHIBIT = {record<MxifButtonInhibit>(), 1638, "channel 0..2", "entry5.select=7 flag=1", {
    {"flag", "0..1", "mask:0"},
    {"entry{0..232}.code", "0..224", "entry{}.mask:0"}, {"entry{0..232}.select", "0..10", "entry{}.mask:1"},
    {"entry{0..232}.mode", "0..3", "entry{}.mask:2"}}};

// Menu locks: each flag 0 or 1 under its own bit.
const Table SYSTEM_MENU_LOCK = {record<MxifSystemMenuLock>(), 10, "", "flags[5]=1 flags[0]=1",
                                {{"flags[0..5]", "0..1", "mask:0..5"}}};
const Table CONFIG_MENU_LOCK = {record<MxifConfigMenuLock>(), 9, "", "flags[4]=1 flags[0]=1",
                                {{"flags[0..4]", "0..1", "mask:0..4"}}};

// Recent colours: a record whose lowest clear colour bit is not 1 changes nothing. (A reported
// colour 0 moves the list down and reports all eight: a list rule, tested with the category.)
const Table RECENT_COLOR = {record<MxifRecentColor>(), 56, "", "", {
    {"color1[0..2]", "-32768..32767", "colorMask:1", NEVER},
    {"color7[0..2]", "-32768..32767", "colorMask:7", NEVER}}};

// Lamp images, one per panel: a received record only asks for the panel's image again.
const Table LED = {record<internal::MxifLed>(), 400, "channel 0..2", "", {{"lamps[0..349]", "255", "lampMask:0..349", NEVER}}};
const Table ME_LED = {
    record<internal::MxifMeLed>(), 356, "me 0..3 panel 0..2", "", {{"lamps[0..308]", "255", "lampMask:0..308", NEVER}}};

// Control panel configuration. Sub panels take wider levels; code entries 4..7 and texts 2..4 are
// never taken. (An assignment of selMe 0 also switches the button off on the three panels, and the
// button states are all off after a restart: both are tested with the category.)
const Table CONTROL_PANEL_CONFIG = {
    record<MxifControlPanelConfig>(), 1239, "", "options.value[1]=5 codeGroup.code[1]=13", {
        {"controlPanel.switches[0..5]", "0..1", "controlPanel.mask:0..5"},
        {"controlPanel.selector", "0..4", "controlPanel.mask:6"},
        {"controlPanel.level[0]", "6..13", "controlPanel.mask:7"},
        {"controlPanel.level[1]", "7..13", "controlPanel.mask:8"},
        {"controlPanel.level[2]", "6..14", "controlPanel.mask:9"},
        {"controlPanel.level[3]", "0..10", "controlPanel.mask:10"},
        {"controlPanel.switch7", "0..1", "controlPanel.mask:11"},
        {"controlPanel.request", "0..1", "controlPanel.mask:12"},
        {"controlPanel.groupA[0..3]", "0..1", "controlPanel.groupAMask:0..3"},
        {"controlPanel.groupB[0..3]", "0..1", "controlPanel.groupBMask:0..3"},
        {"subControlPanel{1..2}.switches[0..5]", "0..1", "subControlPanel{}.mask:0..5"},
        {"subControlPanel{1..2}.selector", "0..4", "subControlPanel{}.mask:6"},
        {"subControlPanel{1..2}.level[0..2]", "1..50", "subControlPanel{}.mask:7..9"},
        {"subControlPanel{1..2}.level[3]", "0..100", "subControlPanel{}.mask:10"},
        {"subControlPanel{1..2}.switch7", "0..1", "subControlPanel{}.mask:11"},
        {"subControlPanel{1..2}.request", "0..1", "subControlPanel{}.mask:12"},
        {"subControlPanel{1..2}.groupA[0..3]", "0..1", "subControlPanel{}.groupAMask:0..3"},
        {"subControlPanel{1..2}.groupB[0..3]", "0..1", "subControlPanel{}.groupBMask:0..3"},
        {"textBlock{1..2}.text1", "15", "textBlock{}.mask:0", TEXT, R"(refuse: x"y|\|a\n)"},
        {"textBlock{1..2}.text2", "15", "textBlock{}.mask:1", TEXT | NEVER},
        {"textBlock{1..2}.text4", "17", "textBlock{}.mask:3", TEXT | NEVER},
        {"options.value[0..2]", "1..12", "options.mask:0..2"}, {"options.lampFlag", "0..1", "options.mask:3"},
        {"codeEntries[0].code[0]", "0, 5..12", "codeEntries[0].mask:0"},
        {"codeEntries[0].code[1..3]", "5..12", "codeEntries[0].mask:0..3"},
        {"codeEntries[3].code[0]", "0, 5..12", "codeEntries[3].mask:0"},
        {"codeEntries[3].code[1..3]", "5..12", "codeEntries[3].mask:0..3"},
        {"codeEntries[4].code[0..3]", "5..12", "codeEntries[4].mask:0..3", NEVER},
        {"codeEntries[7].code[0..3]", "5..12", "codeEntries[7].mask:0..3", NEVER},
        {"codeGroup.code[0]", "0, 5..12", "codeGroup.mask:0"}, {"codeGroup.code[1]", "5..13", "codeGroup.mask:1"},
        {"codeGroup.code[2..3]", "5..12", "codeGroup.mask:0..3"},
        {"triples[0][0..2]", "0..15", "tripleMask:0"}, {"triples[7][0..2]", "0..15", "tripleMask:7"},
        {"keyFaders[0][0].selKeyCh", "0..7", "keyFaders[0][0].mask:1"},
        {"keyFaders[7][11].selKeyCh", "0..7", "keyFaders[7][11].mask:1"}}};

// Panel operation. Fader modes per ME only for MEs 0..3, ME map rows only 0..1; key memory enable 2
// and 3 are commands; a bus setting code 0 drops its entry; the key-fader button modes take anything.
// A restart keeps MEs 2 and 3 in map rows 0 and 1, where the map's repair may have put them.
const Table OPERATE = {record<MxifOperate>(), 774, "", "busSelectSub2.value[7]=4 wipeFlag=1", {
    {"busOptionA", "0..1", "mask2:0"}, {"busOptionB", "0..1", "mask2:1"}, {"faderMode", "0..2", "mask:0"},
    {"keyFaderKind", "0..1", "mask:1"}, {"faderModeSelect", "0..1", "mask:2"},
    {"faderModePerMe.value[0..3]", "0..2", "faderModePerMe.mask:0..3"},
    {"faderModePerMe.value[4..7]", "0..2", "faderModePerMe.mask:0..7", NEVER},
    {"optionLevel.value", "50..100", "optionLevel.mask:0"},
    {"optionFlag", "0..1", "mask:3"},
    {"ftb.target", "0..1", "ftb.mask:0"}, {"ftb.source", "0..11", "ftb.mask:1"},
    {"ftb.rate", "0..999", "ftb.mask:2"}, {"ftb.onAir", "0..1", "ftb.mask:3"},
    {"ftb.transitioning", "0..1", "ftb.mask:4"},
    {"auxTransEnable.value[0..7]", "0..1", "auxTransEnable.mask:0..7"},
    {"auxTransRate.value[0..7]", "0..999", "auxTransRate.mask:0..7"},
    {"wipeFlag", "0..1", "mask:4"}, {"faderEventFlag", "0..1", "mask:5"},
    {"meChangeMain.value[0..1]", "0..1", "meChangeMain.mask:0..1", PLAIN, "refuse: 4; image: 0..3"},
    {"meChangeSub1.value[0..1]", "0..1", "meChangeSub1.mask:0..1", PLAIN, "refuse: 4; image: 0..3"},
    {"meChangeSub2.value[0..1]", "0..1", "meChangeSub2.mask:0..1", PLAIN, "refuse: 4; image: 0..3"},
    {"meChangeMain.value[2..3]", "0..1", "meChangeMain.mask:0..3", NEVER},
    {"keyMemory.enable", "0..1", "keyMemory.mask:0", PLAIN, "refuse: 3..4"},
    {"keyMemory.share", "0..1", "keyMemory.mask:1"},
    {"keyFaderButton.mode", "0..255", "keyFaderButton.mask:0"},
    {"keyFaderButton.mode2", "0..255", "keyFaderButton.mask:1"},
    {"busSettings[0][0].code[0..3]", "1..18", "busSettings[0][0].codeMask:0..3"},
    {"busSettings[0][0].flag", "0..1", "busSettings[0][0].mask:0"},
    {"busSettings[7][5].code[0..3]", "1..18", "busSettings[7][5].codeMask:0..3"},
    {"busSettings[7][5].flag", "0..1", "busSettings[7][5].mask:0"},
    {"busSelectMain.value[0..7]", "0..5", "busSelectMain.mask:0..7"},
    {"busSelectSub1.value[0..7]", "0..5", "busSelectSub1.mask:0..7"},
    {"busSelectSub2.value[0..7]", "0..5", "busSelectSub2.mask:0..7"},
    {"faderFlag", "0..1", "mask:6"}, {"faderDirectionMode", "0..1", "mask:7"}}};

TEST_F(ConformanceTest, MxifGpiInOut) { run(GPI_IN_OUT); }
TEST_F(ConformanceTest, MxifPeripheral) { run(PERIPHERAL); }
TEST_F(ConformanceTest, MxifButtonInhibit) { run(BUTTON_INHIBIT); }
TEST_F(ConformanceTest, MxifSystemMenuLock) { run(SYSTEM_MENU_LOCK); }
TEST_F(ConformanceTest, MxifConfigMenuLock) { run(CONFIG_MENU_LOCK); }
TEST_F(ConformanceTest, MxifRecentColor) { run(RECENT_COLOR); }
TEST_F(ConformanceTest, MxifLed) { run(LED); }
TEST_F(ConformanceTest, MxifMeLed) { run(ME_LED); }
TEST_F(ConformanceTest, MxifControlPanelConfig) { run(CONTROL_PANEL_CONFIG); }
TEST_F(ConformanceTest, MxifOperate) { run(OPERATE); }

}  // namespace
}  // namespace conformance
