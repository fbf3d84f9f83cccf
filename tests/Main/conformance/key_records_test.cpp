// Conformance tables of the keyer records.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// The rows a downstream key, a key channel and an up-stream key share: the style (key types TYPES),
// adjustment and matte colour; the mask set and its box under BOX; the edge (fill codes FILLS) and
// its colour; the in and out transitions (modes MODES) and their link under LINK.
#define KEY_STYLE_ADJUST_MATTE_ROWS(TYPES)                                                             \
  {"style.keyType", TYPES, "style.mask:0"}, {"style.secondLevel", "0..1", "style.mask:1"},             \
      {"style.option", "0..1", "style.mask:2"}, {"style.keySource", "0..1", "style.mask:3"},           \
      {"style.secondMode", "0..1", "style.mask:4"}, {"adjust.clip", "0..1080", "adjust.mask:0"},       \
      {"adjust.gain", "0..2000", "adjust.mask:1"}, {"adjust.density", "0..1000", "adjust.mask:2"},     \
      {"adjust.modeFlag", "0..1", "adjust.mask:3"}, COLOR_ROWS("matteColor", "mask:0")
#define KEY_MASK_ROWS(BOX)                                                                             \
  {"maskSet.mode", "0..2", "maskSet.mask:0"}, {"maskSet.sense", "0..1", "maskSet.mask:1"},             \
      {"maskSet.enable", "0..1", "maskSet.mask:2"},                                                    \
      {"maskBox[0]", "-5000..5000", BOX, PLAIN, "then: maskBox[3]=5000"}, {"maskBox[1..3]", "-5000..5000", BOX}
#define KEY_EDGE_ROWS(FILLS)                                                                           \
  {"edge.type", "0..4", "edge.mask:0"}, {"edge.width", "0..4", "edge.mask:1"},                         \
      {"edge.direction", "0..7", "edge.mask:2"}, {"edge.level", "0..3", "edge.mask:3"},                \
      {"edge.fill", FILLS, "edge.mask:4"}, COLOR_ROWS("edgeColor", "mask:1")
#define KEY_TRANS_ROWS(MODES, LINK)                                                                    \
  {"transIn.on", "0..1", "transIn.mask:0"}, {"transIn.mode", MODES, "transIn.mask:1"},                 \
      {"transIn.value", "0..999", "transIn.mask:2"}, {"transOut.on", "0..1", "transOut.mask:0"},       \
      {"transOut.mode", MODES, "transOut.mask:1"}, {"transOut.value", "0..999", "transOut.mask:2"},    \
      {"inOutLink", "0..1", LINK, PLAIN, "with: transIn.value=5; then: transOut.on transOut.mode transOut.value=5"}

// Downstream keys. A colour and the mask box are taken only whole; the box edges are clamped
// against the live box (a left edge moved past the right one pulls it along). The link byte set
// to 1 copies the in-transition into the out-transition. Reverse and in-transition are the
// system's own.
const Table DSK = {record<MxifDsk>(), 102, "channel 0..3", "adjust.gain=1500 edge.width=2", {
    KEY_STYLE_ADJUST_MATTE_ROWS("0..1"), KEY_EDGE_ROWS("0..12"), KEY_MASK_ROWS("mask:2"), KEY_TRANS_ROWS("0", "mask:3"),
    {"reverse", "1", "mask:4", NEVER, "declared: 0..1"}, {"priority", "0..3", "mask:5"}, {"group", "0..1", "mask:6"},
    {"flags.flag[0..2]", "0..1", "flags.mask:0..2"},
    {"onAir", "0..1", "mask:7"}, {"stopping", "0..1", "mask:8"}, {"inTransition", "1", "mask:9", NEVER, "declared: 0..1"},
    {"names.name1", "12", "names.mask:0", TEXT}, {"names.name2", "12", "names.mask:1", TEXT}}};

TEST_F(ConformanceTest, MxifDsk) { run(DSK); }

// Key channels. Colours and boxes are taken only whole; the mask box and the crop edges are clamped
// against the live edges. The DVE size of keys 3 and 4 stops at 10000. The two values under bits 18
// and 19 are taken only beside the triple of bit 17. Linking the shift selectors copies A into B.
// The effect pairs go through the key targets' pattern table (transition tests). Reverse is the
// system's own.
const Table KEY = {record<MxifKey>(), 342, "me 0..3 channel 0..3", "adjust.gain=1500 edge.width=2", {
    KEY_STYLE_ADJUST_MATTE_ROWS("0..3"), KEY_EDGE_ROWS("0..2"), KEY_MASK_ROWS("mask:2"),
    {"softOn", "0..1", "mask:3"}, {"softness", "0..1000", "mask:4"},
    COLOR_ROWS("thirdColor", "mask:5"), {"window[0..1]", "-5000..5000", "mask:6"},
    {"window[2..3]", "0..10000", "mask:6"}, {"dveTransOn", "0..1", "mask:7"}, {"dveShapeOn", "0..1", "mask:8"},
    {"dveShapeType", "0..4", "mask:9"},
    {"dveBorder.on", "0..1", "dveBorder.mask:0"}, {"dveBorder.width", "1..1000", "dveBorder.mask:1"},
    {"dveBorder.softness", "0..1000", "dveBorder.mask:2"},
    {"dveBorderScale", "0..1", "mask:10"}, COLOR_ROWS("dveBorderColor", "mask:11"),
    {"dvePosition[0..2]", "-10000..10000", "mask:12"}, {"dveSize", "0..40000", "mask:13", PLAIN, "on: 0..1"},
    {"dveSize", "0..10000", "mask:13", PLAIN, "on: 2..3"}, {"dveTriple1[0..2]", "-5000..5000", "mask:14"},
    {"dveValue1", "0..10000", "mask:15"},
    // The scale pair is taken only whole (0 counts as 10000): one row between its two, so that a
    // damaged image has both damaged at once.
    {"dveScale.first", "5000..10000", "dveScale.mask:0", PLAIN, "declared: 0, 5000..10000"},
    {"dveRotation[0..2]", "-28800..28800", "mask:16"},
    {"dveScale.second", "5000..10000", "dveScale.mask:1", PLAIN, "declared: 0, 5000..10000"},
    // dveTriple2 (bit 17) brings the values of bits 18 and 19 along, taken or not: beyond a row.
    {"dveValue2", "-100..100", "mask:18", NEVER}, {"dveValue3", "0..65", "mask:19", NEVER},
    {"dveCrop[0]", "-5000..5000", "mask:21", PLAIN, "then: dveCrop[3]=5000"},  // while cropMode is 0
    {"dveCrop[1..3]", "-5000..5000", "mask:21"},
    {"dveShape.mode", "0..2", "dveShape.mask:0"}, {"dveShape.cropMode", "0..1", "dveShape.mask:1"},
    {"dvePerspective", "-5000..5000", "mask:20"}, {"follower", "0..4", "mask:22"},
    {"mirrorMode", "0..3", "mask:23"},
    {"dveSettings.flag[0..1]", "0..1", "dveSettings.mask:0..1"},
    {"dveSettings.flag[2]", "0..4", "dveSettings.mask:2"},
    {"effectParams[0..2]", "-10000..10000", "mask:24"}, {"effectSize", "0..40000", "mask:25"},
    {"dveAngles[0..2]", "-720..720", "mask:26"},
    {"dvePair.first", "-999..999", "dvePair.mask:0"}, {"dvePair.second", "-999..999", "dvePair.mask:1"},
    {"dveTriple3[0..2]", "-5000..5000", "mask:27"},
    KEY_TRANS_ROWS("0..1", "mask:28"),
    {"reverse", "1", "mask:29", NEVER, "declared: 0..1"}, {"effectBoth", "0..1", "mask1:0"}, {"travelOn", "0..2", "mask1:1"},
    {"travel34[0..1]", "-10000..10000", "mask1:2"}, {"travel34Rev[0..1]", "-10000..10000", "mask1:3"},
    {"travel34Both", "0..1", "mask1:4"}, {"travel12[0..1]", "-10000..10000", "mask1:5"},
    {"travel12Rev[0..1]", "-10000..10000", "mask1:6"}, {"travel12Both", "0..1", "mask1:7"},
    {"transTriple1[0..2]", "-40..40", "mask1:8"},
    {"pageTurn.on", "0..1", "pageTurn.mask:0"}, {"pageTurn.value1", "0..1000", "pageTurn.mask:1"},
    {"pageTurn.value2", "0..1000", "pageTurn.mask:2"}, {"pageTurn.value3", "-45..45", "pageTurn.mask:3"},
    {"spin[0..2]", "-40..40", "mask1:9"}, {"spinRev[0..2]", "-40..40", "mask1:10"},
    {"spinBoth", "0..1", "mask1:11"}, {"transTriple2[0..2]", "-500..500", "mask1:12"},
    {"transSettings.setting1", "0..255", "transSettings.mask:0"},
    {"transSettings.setting2", "-32768..32767", "transSettings.mask:1"},
    {"transSettings.setting3", "0..255", "transSettings.mask:2"},
    {"transSettings.setting4", "0..255", "transSettings.mask:3"},
    {"shift.selectA", "0..3", "shift.mask:0"}, {"shift.selectB", "0..3", "shift.mask:1"},
    {"shift.selectLink", "0..1", "shift.mask:2", PLAIN, "then: shift.selectB"},
    MODULATION_ROWS("modulationX"), MODULATION_ROWS("modulationY"),
    {"priority", "0..3", "mask1:13"}, {"group", "0..1", "mask1:14"}, {"keySetting", "0..32", "mask1:15"},
    {"flags.flag[0..2]", "0..1", "flags.mask:0..2"},
    {"onAir", "0..1", "mask1:16"}, {"statusFlag", "0..1", "mask1:17"}, {"stopping", "0..1", "mask1:18"},
    // inTransition (bit 19): a status the system keeps; whether a request may set it is open.
    {"names.name1", "12", "names.mask:0", TEXT}, {"names.name2", "12", "names.mask:1", TEXT}}};

TEST_F(ConformanceTest, MxifKey) { run(KEY); }

// Chroma key settings of each key channel. The sample key, mode, sample box and size are one value
// per ME (the frame copies them to the other channels); the box centre is taken only whole.
const Table CHROMA_KEY = {record<MxifChromaKey>(), 25, "me 0..3 channel 0..3", "rangeBase=2 rangeWidth=5", {
    {"rangeBase", "0..3", "mask:0"}, {"rangeWidth", "-40..40", "mask:1"}, {"sampleKey", "0..4", "mask:2"},
    {"modeSelect", "0..3", "mask:3"}, {"outputPoint", "0..14", "mask:4"}, {"sampleX", "-10000..10000", "mask:5"},
    {"sampleY", "-10000..10000", "mask:5"}, {"sampleSize", "100..10000", "mask:6"},
    {"extra[0..2]", "-1000..1000", "mask:7..9"}}};

TEST_F(ConformanceTest, MxifChromaKey) { run(CHROMA_KEY); }

// Image effects of one ME: four key targets, the A and B buses, the background DVE pair.
#define IMAGE_ROWS(F, M)                                                                                \
  {F ".enable", "0..1", M ":0"}, {F ".posterize", "0..1", M ":1"}, {F ".posterizeY", "0..7", M ":2"},     \
      {F ".posterizeC", "0..7", M ":3"}, {F ".option1", "0..1", M ":4"}, {F ".option2", "0..1", M ":5"},  \
      {F ".colorize", "0..1", M ":6"}, {F ".hue", "0..3599", M ":7"}, {F ".saturation", "0..1000", M ":8"}, \
      {F ".effectType", "0..2", M ":9"}, {F ".level", "0..1000", M ":10"}
#define BKGD_DVE_ROWS(F)                                                                                \
  {F ".flagA", "0..1", F ".mask:0"}, {F ".flagB", "0..1", F ".mask:1"}, {F ".steps", "0..60", F ".mask:2"}, \
      {F ".flagC", "0..1", F ".mask:3"}, {F ".amount", "0..1000", F ".mask:4"}
const Table IMAGE = {record<MxifImage>(), 148, "me 0..3", "imageA.hue=100 imageB.level=5", {
    IMAGE_ROWS("imageKey[0..3]", "imageKey[].mask"), IMAGE_ROWS("imageA", "imageA.mask"),
    IMAGE_ROWS("imageB", "imageB.mask"), {"recordFlag", "0..1", "mask:0"}, BKGD_DVE_ROWS("bkgdDveA"),
    BKGD_DVE_ROWS("bkgdDveB")}};
#undef IMAGE_ROWS
#undef BKGD_DVE_ROWS

TEST_F(ConformanceTest, MxifImage) { run(IMAGE); }

// Key presets: the kept settings, the recall options, each panel's key targets, and the selection
// entries (which the next frame puts back to the system's own).
const Table KEY_PRESET = {record<MxifKeyPreset>(), 429, "", "setting8=3 setting120=1", {
    {"setting8", "0..4", "mask1:0"}, {"setting9", "0..3", "mask1:1"}, {"setting12", "0..3", "mask0:0"},
    {"recall[0..2]", "0..1", "recallMask:0..2"}, {"panel[0..2].target[0..4]", "0..4", "panel[].targetMask:0..4"},
    {"panel[0..2].extra[0..3]", "0..4", "panel[].extraMask:0..3"},
    {"panel[0..2].group9", "0..4", "panel[].group9Mask:0"}, {"setting120", "0..1", "mask0:1"},
    {"entry[0..79]", "-1..3", "entryMask:0..79"}}};

TEST_F(ConformanceTest, MxifKeyPreset) { run(KEY_PRESET); }

// The four up-stream keys. The box is clamped against the live one like a key's mask box.
const Table UP_STREAM_KEY = {record<MxifUpStreamKey>(), 57, "channel 0..3", "adjust.gain=1500 maskSet.mode=2", {
    KEY_STYLE_ADJUST_MATTE_ROWS("0..3"), KEY_MASK_ROWS("mask:1"),
    {"texts.name1", "12", "texts.mask:0", TEXT, R"(refuse: x"y|\|a\n)"},
    {"texts.name2", "12", "texts.mask:1", TEXT, R"(refuse: x"y|\|a\n)"}}};
#undef KEY_STYLE_ADJUST_MATTE_ROWS
#undef KEY_MASK_ROWS
#undef KEY_EDGE_ROWS
#undef KEY_TRANS_ROWS

TEST_F(ConformanceTest, MxifUpStreamKey) { run(UP_STREAM_KEY); }

// The up-stream keys' sources, the attachment of each source of the list, the on/off flags.
const Table UP_STREAM_KEY_ASSIGN = {record<MxifUpStreamKeyAssign>(), 774, "", "entry5.value=3 onOff[2]=1", {
    // A source that the slot's bus entry does not take goes back when the bus follows.
    {"source[0..7]", "10..223", "sourceMask:0..7", PLAIN,
     "declared: 10..41, 140..141, 181..182, 184..185, 187..188, 190..191, 201..202, 204..205, 207..208, 210..211, 220..223"},
    {"entry{0..149}.value", "0..8", "entry{}.mask:0"},
    {"onOff[0..3]", "0..1", "onOffMask:0..3"}}};

TEST_F(ConformanceTest, MxifUpStreamKeyAssign) { run(UP_STREAM_KEY_ASSIGN); }

// The twelve colour correction units. The option groups' values are taken unchecked and their group
// words are never set.
const Table COLOR_CORRECT = {record<MxifColorCorrect>(), 232, "channel 0..11", "lumaGain=1500 hue=100", {
    {"enable", "0..255", "mask:0"}, {"curveLimit", "0..3", "mask:1"}, {"lumaGain", "0..2000", "mask:2"},
    {"pedestal", "-200..200", "mask:3"}, {"chromaGain", "0..2000", "mask:4"}, {"hue", "0..3599", "mask:5"},
    {"fixedMatrixMode", "0..255", "mask:6"}, {"linkComponents", "0..1", "mask:7"},
    {"curvePoint{1..4}.value[0..2]", "-100..1080", "curvePoint{}.mask:0..2"},
    {"optionGroup{1..3}.a.value[0..3]", "0..255", "optionGroup{}.a.mask:0..3"},
    {"optionGroup{1..3}.b.value[0..3]", "0..255", "optionGroup{}.b.mask:0..3"},
    {"matrix6.value[0..5]", "-60..60", "matrix6.mask:0..5"},
    {"sector{1..12}.value[0..1]", "-300..300", "sector{}.mask:0..1"},
    {"resetTarget", "0..4", "mask:8"}, {"auxSelection", "0..27", "mask:9"}}};

TEST_F(ConformanceTest, MxifColorCorrect) { run(COLOR_CORRECT); }

}  // namespace
}  // namespace conformance
