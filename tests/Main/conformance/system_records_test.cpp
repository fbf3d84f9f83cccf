// Conformance tables of the system settings records.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// The system record. Its presence words: main (mask), video, phase, genlock, second, the ancillary
// sub-record's three, multiview sources, address texts, display. A mode equal to the live one is no
// change; the first request after a start keeps the two display toggles.
const Table SYSTEM = {
    record<MxifSystem>(), 106, "", "display.timingSelect=2 recallPhaseMode=1",
    {
        {"format", "0..11", "videoMask:0"},
        {"mode", "0..255", "videoMask:1", NEW_ONLY},
        {"sdScale", "0..1", "videoMask:2"},
        {"verticalOffset", "0..1", "phaseMask:0"},
        {"horizontalPhase", "-50..49", "phaseMask:1"},
        {"verticalPhase", "-100..100", "phaseMask:2"},
        {"genlockReference", "0..3", "genlockMask:0"},
        {"genlockSetup", "0..1", "genlockMask:1"},
        {"genlockStatus", "9", "genlockMask:2", TEXT | NEVER},
        {"bkgdLatency", "0..1", "secondMask:0"},
        {"keyLatency", "0..1", "secondMask:1"},
        {"secondText", "7", "secondMask:2", TEXT},
        {"sdiDelay", "0..1", "secondMask:3"},
        {"ancillary.aux1Follows", "0..1", "ancillary.mask:0"},
        {"ancillary.meOutput1Mode", "0..2", "ancillary.mask:1"},
        {"ancillary.meOutput2Mode", "0..2", "ancillary.mask:2"},
        {"ancillary.keySelect", "0..4", "ancillary.mask:3"},
        {"ancillary.perMeKeySelect", "0..1", "ancillary.mask:4"},
        {"ancillary.dskStageMode", "0..2", "ancillary.mask:5"},
        {"ancillary.dskStageSource[0..1]", "0..4", "ancillary.dskMask:0..1"},
        {"ancillary.meKeySelect[0..7]", "0..4", "ancillary.meKeySelectMask:0..7"},
        {"multiviewSource[0..7]", "0..10", "multiviewMask:0..7"},
        {"recallPhaseMode", "0..2", "mask:0"},
        {"addressTexts.text1", "15", "addressTexts.mask:0", TEXT, R"(refuse: x"y|\|a\n)"},
        {"addressTexts.text2", "15", "addressTexts.mask:1", TEXT, R"(refuse: x"y|\|a\n)"},
        {"addressTexts.text3", "15", "addressTexts.mask:2", TEXT, R"(refuse: x"y|\|a\n)"},
        {"addressTexts.text4", "17", "addressTexts.mask:3", TEXT, R"(refuse: x"y|\|a\n)"},
        {"display.timingFlag", "0..1", "display.mask:0"},
        {"display.timingSelect", "0..2", "display.mask:1"},
        {"display.option", "0..1", "display.mask:2"},
        {"display.toggle1", "0..1", "display.mask:3", FIRST_KEPT},
        {"display.toggle2", "0..1", "display.mask:4", FIRST_KEPT},
        {"busRefresh", "0..1", "mask:1"},
    }};

TEST_F(ConformanceTest, MxifSystem) { run(SYSTEM); }

}  // namespace
}  // namespace conformance
