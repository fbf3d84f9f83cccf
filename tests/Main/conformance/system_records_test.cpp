// Conformance tables of the system settings records.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// The system record. Its presence words: main (mask), video, phase, genlock, second, the ancillary
// sub-record's three, multiview sources, address texts, display. A mode equal to the live one is no
// change; the first request after a start keeps the two display toggles.
const Table SYSTEM = {record<MxifSystem>(), 106, "", "display.timingSelect=2 recallPhaseMode=1", {
    {"format", "0..11", "videoMask:0"}, {"mode", "0..255", "videoMask:1", NEW_ONLY},
    {"sdScale", "0..1", "videoMask:2"}, {"verticalOffset", "0..1", "phaseMask:0"},
    {"horizontalPhase", "-50..49", "phaseMask:1"}, {"verticalPhase", "-100..100", "phaseMask:2"},
    {"genlockReference", "0..3", "genlockMask:0"}, {"genlockSetup", "0..1", "genlockMask:1"},
    {"genlockStatus", "9", "genlockMask:2", TEXT | NEVER}, {"bkgdLatency", "0..1", "secondMask:0"},
    {"keyLatency", "0..1", "secondMask:1"}, {"secondText", "7", "secondMask:2", TEXT},
    {"sdiDelay", "0..1", "secondMask:3"},
    {"ancillary.aux1Follows", "0..1", "ancillary.mask:0"}, {"ancillary.meOutput1Mode", "0..2", "ancillary.mask:1"},
    {"ancillary.meOutput2Mode", "0..2", "ancillary.mask:2"}, {"ancillary.keySelect", "0..4", "ancillary.mask:3"},
    {"ancillary.perMeKeySelect", "0..1", "ancillary.mask:4"},
    {"ancillary.dskStageMode", "0..2", "ancillary.mask:5"},
    {"ancillary.dskStageSource[0..1]", "0..4", "ancillary.dskMask:0..1"},
    {"ancillary.meKeySelect[0..7]", "0..4", "ancillary.meKeySelectMask:0..7"},
    {"multiviewSource[0..7]", "0..10", "multiviewMask:0..7"}, {"recallPhaseMode", "0..2", "mask:0"},
    {"addressTexts.text1", "15", "addressTexts.mask:0", TEXT, R"(refuse: x"y|\|a\n)"},
    {"addressTexts.text2", "15", "addressTexts.mask:1", TEXT, R"(refuse: x"y|\|a\n)"},
    {"addressTexts.text3", "15", "addressTexts.mask:2", TEXT, R"(refuse: x"y|\|a\n)"},
    {"addressTexts.text4", "17", "addressTexts.mask:3", TEXT, R"(refuse: x"y|\|a\n)"},
    {"display.timingFlag", "0..1", "display.mask:0"}, {"display.timingSelect", "0..2", "display.mask:1"},
    {"display.option", "0..1", "display.mask:2"}, {"display.toggle1", "0..1", "display.mask:3", FIRST_KEPT},
    {"display.toggle2", "0..1", "display.mask:4", FIRST_KEPT},
    {"busRefresh", "0..1", "mask:1"}}};

TEST_F(ConformanceTest, MxifSystem) { run(SYSTEM); }

// The mainframe configuration. ME rows 4..7 are carried but never taken; the fader-select enable
// takes any byte as 0 or 1.
const Table MAINFRAME_CONFIG = {record<MxifMainframeConfig>(), 348, "", "faderSelect=3 dskConfig.dskOption=1", {
    {"meConfig{0..3}.cleanKey", "0..3", "meConfig{}.mask:0"},
    {"meConfig{0..3}.cleanTapMode", "0..2", "meConfig{}.mask:1"},
    {"meConfig{0..3}.meOption", "0..1", "meConfig{}.mask:2"},
    {"meConfig{0..3}.tapBKeys[0..3]", "0..1", "meConfig{}.tapBKeysMask:0..3"},
    {"meConfig{0..3}.tapBIgnoreChroma", "0..1", "meConfig{}.mask:3"},
    {"meConfig{0..3}.tapAKeys[0..3]", "0..1", "meConfig{}.tapAKeysMask:0..3"},
    {"meConfig{0..3}.tapAIgnoreChroma", "0..1", "meConfig{}.mask:4"},
    {"meConfig{4..7}.cleanKey", "0..3", "meConfig{}.mask:0", NEVER},
    {"meConfig{4..7}.tapAKeys[0..3]", "1", "meConfig{}.tapAKeysMask:0..3", NEVER},
    {"dskConfig.dskBackground1", "0..15", "dskConfig.mask:0"},
    {"dskConfig.dskBackground2", "0..15", "dskConfig.mask:1"},
    {"dskConfig.dskBackground2Own", "0..1", "dskConfig.mask:2"},
    {"dskConfig.dskProgram[0..3]", "0..1", "dskConfig.dskProgramMask:0..3"},
    {"dskConfig.dskOption", "0..1", "dskConfig.mask:3"},
    {"dskConfig.dskFlag[0..3]", "0..1", "dskConfig.dskFlagMask:0..3"},
    {"dskConfig.dskTopOption", "0..1", "dskConfig.mask:4"},
    {"dskConfig.dskCleanAlt[0..3]", "0..1", "dskConfig.dskCleanAltMask:0..3"},
    {"dskConfig.dskOutput2Source", "0..5", "dskConfig.mask:5"},
    {"faderKeys{0..3}.entries[0..3]", "0..1", "faderKeys{}.entryMask:0..3"},
    {"faderKeys{4..7}.entries[0..3]", "1", "faderKeys{}.entryMask:0..3", NEVER},
    {"faderDsks.entries[0..3]", "0..1", "faderDsks.entryMask:0..3"},
    {"faderSelect", "0..19, 72..87", "mask:0"}, {"faderSelectEnable", "0..1", "mask:1", TRUTH}}};

// The maintenance record. Every start stamps the back end's version text; an alarm text k is rebuilt
// from its flag k at a restart (so a damaged flag leaves "-"). The pairing entries are never taken while every custom-information item
// has mode 1. The time stamps mvTime and mvLtc are stored but never reported, which a row cannot
// say (the maintenance tests hold them). A date triple is taken only whole.
const Table MAINTENANCE = {record<MxifMaintenance>(), 494, "", "choice1=1 choice2=2", {
    {"label1", "12", "mask:0", TEXT},
    {"mainframeVersion.text0", "12", "mainframeVersion.mask:0", TEXT | FIRST_KEPT},
    {"mainframeVersion.text1", "12", "mainframeVersion.mask:1", TEXT},
    {"controlPanelVersion.text0", "12", "controlPanelVersion.mask:0", TEXT},
    {"subControlPanel1Version.text8", "12", "subControlPanel1Version.mask:8", TEXT},
    {"subControlPanel2Version.text16", "12", "subControlPanel2Version.mask:16", TEXT},
    {"label2", "12", "mask:1", TEXT},
    {"mainframeAlarm.text3", "10", "mainframeAlarm.mask:3", TEXT},
    {"controlPanelAlarm.text3", "10", "controlPanelAlarm.mask:3", TEXT},
    {"mainframeAlarm.flag[0..3]", "0..1", "mainframeAlarm.mask:4..7"},
    {"controlPanelAlarm.flag[0..3]", "0..1", "controlPanelAlarm.mask:4..7"},
    {"subControlPanel1Alarm.flag[0..3]", "0..1", "subControlPanel1Alarm.mask:4..7"},
    {"subControlPanel2Alarm.flag[0..3]", "0..1", "subControlPanel2Alarm.mask:4..7"},
    {"flagOnly.flag", "0..1", "flagOnly.mask:0"},
    {"pairTable.partner[0..7]", "0..8", "pairTable.mask:0..7", NEVER},
    {"optionText.flag", "0..1", "optionText.mask:0"}, {"optionText.value", "0..255", "optionText.mask:1"},
    {"optionText.text", "32", "optionText.mask:2", TEXT},
    {"textSet4.text3", "10", "textSet4.mask:3", TEXT},
    {"label3", "10", "mask:2", TEXT},
    {"textSet3.text2", "10", "textSet3.mask:2", TEXT},
    {"choice1", "0..2", "mask:3"}, {"choice2", "0..2", "mask:4"},
    {"date[0]", "2000..2037", "mask:5", PLAIN, "beside: date[1]=2 date[2]=30"},
    {"date[1]", "1..12", "mask:5", PLAIN, "beside: date[0]=2024 date[2]=31"},
    {"date[2]", "1..31", "mask:5", PLAIN, "beside: date[0]=2023 date[1]=2"}, {"time1[0]", "0..23", "mask:6"},
    {"time1[1]", "0..59", "mask:6"}, {"time2[2]", "0..59", "mask:7"},
    {"flaggedTexts.flag", "0..1", "flaggedTexts.mask:0"}, {"flaggedTexts.text2", "15", "flaggedTexts.mask:3", TEXT},
    {"modeText.flag", "0..1", "modeText.mask:0"}, {"modeText.mode", "0..5", "modeText.mask:1"},
    {"modeText.text", "15", "modeText.mask:2", TEXT},
    {"hourMeter.text9", "8", "hourMeter.mask:9", TEXT},
    {"hourMeter.status[0..16]", "0..255", "hourMeter.mask:10..26"},
    {"leverParam1", "0..2000", "mask:10"}, {"leverParam2", "0..2000", "mask:11"},
    {"leverParam3", "0..2000", "mask:12"}, {"leverParam4", "0..2000", "mask:13"}}};

// The plug-in settings take any value.
const Table PLUGIN = {record<MxifPlugin>(), 20, "", "", {
    {"setting1", "0..4294967295", "mask:0"}, {"setting2", "0..4294967295", "mask:1"},
    {"setting3", "0..4294967295", "mask:2"}, {"setting4", "0..4294967295", "mask:3"}}};

// A plug-in status slot per channel; its texts are cut, never refused.
const Table PLUGIN_STATUS = {record<MxifPluginStatus>(), 23, "channel 0..29", "state=1 value3=2", {
    {"text1", "32", "mask:0", TEXT}, {"text2", "32", "mask:1", TEXT},
    {"state", "0..1", "mask:2"}, {"value1", "0..65536", "mask:3"},
    {"value2", "0..32768", "mask:4"}, {"value3", "0..6", "mask:5"},
    {"value4", "0..1", "mask:6"}}};

// The test record: channel 0 of each ME's instance, every value taken as it comes.
const Table TEST = {record<MxifTest>(), 51, "me 0..3 channels 16", "", {
    {"values[0..19]", "-32768..32767", "valueMask:0..19"}}};

// The initial status takes any value. status1 lasts one status turn (cleared after it), so the
// row form, which reads the stored value after the answer, cannot hold it.
const Table INITIAL_STATUS = {record<internal::MxifInitialStatus>(), 19, "", "", {
    {"status2", "0..255", "mask:1"}, {"status3", "0..255", "mask:2"},
    {"status4Head", "0..255", "mask:3"}, {"status4Words[0..4]", "0..65535", "mask:3"},
    {"status5", "0..1", "mask:4", TRUTH}}};

TEST_F(ConformanceTest, MxifMainframeConfig) { run(MAINFRAME_CONFIG); }
TEST_F(ConformanceTest, MxifMaintenance) { run(MAINTENANCE); }
TEST_F(ConformanceTest, MxifPlugin) { run(PLUGIN); }
TEST_F(ConformanceTest, MxifPluginStatus) { run(PLUGIN_STATUS); }
TEST_F(ConformanceTest, MxifTest) { run(TEST); }
TEST_F(ConformanceTest, MxifInitialStatus) { run(INITIAL_STATUS); }

}  // namespace
}  // namespace conformance
