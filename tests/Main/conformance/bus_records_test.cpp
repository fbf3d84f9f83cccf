// Conformance tables of the bus records.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// Bus entries hold crosspoint codes; a direct source is code 1024 + source. A refused code is
// answered with the entry's unchanged one. Entries 0..11 refuse the outputs of their own ME
// (150..153 on ME 0). Panel button codes (0..767) follow the crosspoint assignment: their default
// source is listed for entry 12 only.
// The lists in ascending order, around the ME outputs (150..165) and the DSK outputs (170..178).
#define BELOW_ME_OUTPUTS "1024+ 10..41, 140..141, "
#define ABOVE_ME_OUTPUTS "181..182, 184..185, 187..188, 190..191, 201..202, 204..205, 207..208, 210..211, 220..223"
constexpr const char* LIST_A = BELOW_ME_OUTPUTS "150..152, 154..156, " ABOVE_ME_OUTPUTS;
constexpr const char* LIST_A_ON_ME0 = BELOW_ME_OUTPUTS "154..156, " ABOVE_ME_OUTPUTS;
constexpr const char* LIST_B = BELOW_ME_OUTPUTS "150, 152, 154, 156, " ABOVE_ME_OUTPUTS;
constexpr const char* LIST_C = BELOW_ME_OUTPUTS ABOVE_ME_OUTPUTS;
constexpr const char* LIST_D = BELOW_ME_OUTPUTS "150..157, 170..178, " ABOVE_ME_OUTPUTS ", 230..233";
#undef BELOW_ME_OUTPUTS
#undef ABOVE_ME_OUTPUTS

const Table BUS = {record<MxifBus>(), 196, "me 0..3", "programBus=1 entries[12]=1100", {
    {"entries[0..11]", LIST_A_ON_ME0, "entryMask:0..88", ANSWERED, "on: 0; refuse: 1024+ 150..152"},
    {"entries[0..11]", LIST_A, "entryMask:0..88", ANSWERED, "on: 3"},
    {"entries[12]", "0..191, 256..447, 512..703, 1034..1326, 1338..1353", "entryMask:0..88", ANSWERED},
    {"entries[13..15]", LIST_D, "entryMask:0..88", ANSWERED},
    {"entries[16..23]", LIST_B, "entryMask:0..88", ANSWERED},
    {"entries[24..71]", LIST_D, "entryMask:0..88", ANSWERED},
    {"entries[72..79]", LIST_C, "entryMask:0..88", ANSWERED},
    {"entries[80..88]", LIST_D, "entryMask:0..88", ANSWERED}, {"programBus", "0..1", "mask:0"}}};

TEST_F(ConformanceTest, MxifBus) { run(BUS); }

// The background of an ME. Colours are taken only whole; the pattern pair travels under one bit (a
// number sent alone is a number of group 0). A moved edge pulls its opposite along (edge 0 edge 3,
// edge 2 edge 1; a free pattern's edges[0], [3], [2], [1] in that role). A link byte of 1 copies
// selectA to selectB. nrMode 2 toggles, so no row holds it (the value list would refuse 2).
// A free pattern's request is answered with its four edges: the edge rule writes them back.
#define BKGD_FREE_EDGES(P) "also: " P ".edges[0] " P ".edges[1] " P ".edges[2] " P ".edges[3]"
#define BKGD_FREE_PATTERN(P)                                                                                   \
  {P ".size", "0..4294967295", P ".mask:0", PLAIN, BKGD_FREE_EDGES(P)},                                          \
      {P ".positionX", "-32768..32767", P ".mask:1", PLAIN, BKGD_FREE_EDGES(P)},                                  \
      {P ".rotation3", "-32768..32767", P ".mask:5", PLAIN, BKGD_FREE_EDGES(P)},                                  \
      {P ".edges[0]", "-5000..5000", P ".mask:6..9", PLAIN, BKGD_FREE_EDGES(P) "; then: " P ".edges[1]=5000"},    \
      {P ".edges[1..3]", "-5000..5000", P ".mask:6..9", PLAIN, BKGD_FREE_EDGES(P)},                               \
      {P ".edgeSymmetry", "0..255", P ".mask:10", PLAIN, BKGD_FREE_EDGES(P)}
const Table BKGD = {record<MxifBkgd>(), 239, "me 0..3", "borderWidth=7 option150=2", {
    {"direction", "0..255", "mask:0"}, {"borderSource", "0..2", "mask:2"}, {"nextBkgd", "0..1", "nextMask:0"},
    {"nextKey[0..3]", "0..1", "nextKeyMask:0..3"}, {"type", "0..2", "mixMask:0"}, {"nam", "0..1", "mixMask:1"},
    {"namCmix", "0..1", "mixMask:2"}, COLOR_ROWS("mixColor", "mask:3"),
    {"trans.flag", "0..1", "trans.mask:0"}, {"trans.value", "1", "trans.mask:1", NEVER},
    {"trans.rate", "0..999", "trans.mask:2"}, {"trans.limitStart", "0..1000", "trans.mask:3"},
    {"trans.limitEnd", "0..1000", "trans.mask:4"},
    {"partialOn", "0..1", "positionMask:0"}, {"partialPosition", "0..10000", "positionMask:1"},
    {"partialRate", "0..999", "positionMask:2"}, {"patternNumber", "0..14, 16, 23", "mask:4"},
    {"patternKind", "0..3", "mask:4"}, {"borderOn", "0..1", "borderMask:0"},
    {"borderWidth", "1..1000", "borderMask:1"}, {"softness", "0..1000", "borderMask:2"},
    COLOR_ROWS("borderColor", "mask:5"), {"dustOn", "0..255", "dustMask:0"},
    {"dustGain", "-32768..32767", "dustMask:1"}, {"dustLevelOn", "0..255", "dustMask:2"},
    {"dustLevel", "0..255", "dustMask:3"},
    {"link.selectA", "0..3", "link.mask:0"}, {"link.selectB", "0..3", "link.mask:1"},
    {"link.selectLink", "0..1", "link.mask:2", PLAIN, "with: link.selectA=2; then: link.selectB=2"},
    MODULATION_ROWS("modulationX"), {"modulationY.waveform", "0..1", "modulationY.mask:0"},
    {"modulationY.phaseSpeed", "-50..50", "modulationY.mask:3"},
    {"edges[0]", "-5000..5000", "mask:6", PLAIN, "then: edges[3]=5000"}, {"edges[1..3]", "-5000..5000", "mask:6"},
    {"option144", "0..1", "mask:7"}, {"option145", "0..2", "mask:8"}, {"option146", "0..4", "mask:9"},
    {"edgeSymmetry", "0..1", "mask:10"}, {"option148", "0..1", "mask:11", TRUTH},
    {"presetCheck", "0..1", "mask:12"}, {"option150", "0..3", "mask:13"}, {"option152", "-5000..5000", "mask:14"},
    {"size1", "0..10000", "mask:15"}, {"size2", "0..10000", "mask:16"},
    {"point1[0..1]", "-10000..10000", "mask:17"}, {"center[0..1]", "-10000..10000", "mask:18"},
    {"point2[0..1]", "-10000..10000", "mask:19"}, {"offsets[0..2]", "-500..500", "mask:20"},
    {"spin.on", "0..1", "spin.mask:0"}, {"spin.value1", "-3600..3600", "spin.mask:1"},
    {"spin.value3", "-3600..3600", "spin.mask:3"},
    {"modify.on", "0..1", "modify.mask:0"}, {"modify.value1", "0..1000", "modify.mask:1"},
    {"modify.value2", "0..1000", "modify.mask:2"}, {"modify.value3", "-45..45", "modify.mask:3"},
    {"statusValue1", "1", "statusMask:0", NEVER}, {"statusFlag", "1", "statusMask:2", NEVER},
    BKGD_FREE_PATTERN("patFree1"),
    BKGD_FREE_PATTERN("patFree2"),
    {"status[0..3]", "0..1", "mask:21..24"}}};
#undef BKGD_FREE_PATTERN
#undef BKGD_FREE_EDGES

// The twelve stored wipes of an ME take what they are sent, unchecked (the background checks a
// recalled entry); a stored pattern {15, 1} becomes {0, 0}.
const Table BKGD_WIPE = {record<MxifBkgdWipe>(), 2875, "me 0..3", "selected=3 stepRequest=1", {
    {"selected", "0..255", "mask:0"}, {"stepRequest", "0..255", "mask:1"},
    {"bkgd[0].borderWidth", "-32768..32767", "bkgd[0].borderMask:1"},
    {"bkgd[11].type", "0..255", "bkgd[11].mixMask:0"}, {"bkgd[5].patternNumber", "0..255", "bkgd[5].mask:4"},
    {"bkgd[7].edges[0..3]", "-32768..32767", "bkgd[7].mask:6"},
    {"bkgd[11].patFree2.edgeSymmetry", "0..255", "bkgd[11].patFree2.mask:10"},
    {"bkgd[3].status[0..3]", "0..255", "bkgd[3].mask:21..24"}}};

// Colour background generators: a colour is taken only whole.
const Table CBGD = {record<MxifCbgd>(), 34, "channel 0..1", "wash=1 rate=500", {
    COLOR_ROWS("color1", "mask:0"),
    COLOR_ROWS("color2", "mask:1"),
    {"wash", "0..1", "mask:2"}, {"curve", "0..1", "mask:3"}, {"size", "0..1000", "mask:4"},
    {"centre", "0..1080", "mask:5"}, {"form", "0..1", "mask:6"}, {"rate", "0..1000", "mask:7"},
    {"position", "-1800..1800", "mask:8"}, {"direction", "0..3600", "mask:9"}, {"motion", "0..2", "mask:10"},
    {"speed", "-500..500", "mask:11"}}};

// How each panel's bus rows of an ME are set up (ME 0's three panels). Rows are taken as sent;
// with link mode 0 a repeated switchLamp 1 switches it off.
const Table BUS_STATUS = {record<MxifBusStatus>(), 32, "channel 0..2", "flag21=1 value37=5", {
    {"rows[0..4]", "0..255", "maskB:0..4"}, {"switchLamp", "0..1", "maskA:0"}, {"flag21", "0..1", "maskA:1"},
    {"flag22", "0..1", "maskA:2"}, {"pages[0..6]", "0..3", "maskC:0..6"}, {"flag36", "0..1", "maskA:3"},
    {"value37", "0..47", "maskA:4"}}};

// The source link table: an entry links to a source of the table. A link mode equal to the live
// one is no change.
#define SOURCE_TABLE                                                                                   \
  "10..137, 140..141, 150..165, 170..178, 181..182, 184..185, 187..188, 190..191, 201..202, 204..205, " \
  "207..208, 210..211, 220..223, 230..233, 314..329"
const Table SOURCE_LINK = {record<MxifSourceLink>(), 456, "", "auxBusLink.flags[3]=1 tableMode=1", {
    {"linked[0..194]", SOURCE_TABLE, "entryMask:0..194"}, {"linkMode", "0..1", "mask:0", NEW_ONLY},
    {"auxBusLink.flags[0..23]", "0..1", "auxBusLink.mask:0..23"},
    {"tableMode", "0..1", "mask:1"}}};
#undef SOURCE_TABLE

// Crosspoint button assignment, one channel per panel. Only the outputs of MEs 1 and 2 are taken.
const Table XPT_ASSIGN = {record<MxifXptAssign>(), 415, "channel 0..2", "panelFlag=1 source[100]=20", {
    {"source[0..191]", "10..41, 140..141, 150..157, 170..178, 180..191, 200..211, 220..223, 230..237, 240..255, "
    "290..291, 300..302", "buttonMask:0..191", FIRST_KEPT},
    {"panelFlag", "0..1", "mask:0"}}};

// Tally is computed, never taken: a received record is answered whole with the flags unchanged.
const Table BUS_TALLY = {
    record<MxifBusTally>(), 106, "me 0..3", "", {{"tally[0..88]", "1", "presence:0..88", NEVER}}};
const Table SOURCE_TALLY = {
    record<MxifSourceTally>(), 285, "channel 0..3", "", {{"tally[0..246]", "1", "presence:0..246", NEVER}}};

TEST_F(ConformanceTest, MxifBkgd) { run(BKGD); }
TEST_F(ConformanceTest, MxifBkgdWipe) { run(BKGD_WIPE); }
TEST_F(ConformanceTest, MxifCbgd) { run(CBGD); }
TEST_F(ConformanceTest, MxifBusStatus) { run(BUS_STATUS); }
TEST_F(ConformanceTest, MxifSourceLink) { run(SOURCE_LINK); }
TEST_F(ConformanceTest, MxifXptAssign) { run(XPT_ASSIGN); }
TEST_F(ConformanceTest, MxifBusTally) { run(BUS_TALLY); }
TEST_F(ConformanceTest, MxifSourceTally) { run(SOURCE_TALLY); }

}  // namespace
}  // namespace conformance
