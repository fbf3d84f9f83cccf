// Conformance tables of the keyer records.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// Downstream keys. A colour and the mask box are taken only whole; the box edges are clamped
// against the live box (a left edge moved past the right one pulls it along). The link byte set
// to 1 copies the in-transition into the out-transition. Reverse and in-transition are the
// system's own.
const Table DSK = {
    record<MxifDsk>(), 102, "channel 0..3", "adjust.gain=1500 edge.width=2",
    {
        {"style.keyType", "0..1", "style.mask:0"}, {"style.secondLevel", "0..1", "style.mask:1"},
        {"style.option", "0..1", "style.mask:2"}, {"style.keySource", "0..1", "style.mask:3"},
        {"style.secondMode", "0..1", "style.mask:4"},
        {"adjust.clip", "0..1080", "adjust.mask:0"}, {"adjust.gain", "0..2000", "adjust.mask:1"},
        {"adjust.density", "0..1000", "adjust.mask:2"}, {"adjust.modeFlag", "0..1", "adjust.mask:3"},
        {"matteColor[0]", "0..3599", "mask:0"}, {"matteColor[1]", "0..1000", "mask:0"},
        {"matteColor[2]", "0..1080", "mask:0"},
        {"edge.type", "0..4", "edge.mask:0"}, {"edge.width", "0..4", "edge.mask:1"},
        {"edge.direction", "0..7", "edge.mask:2"}, {"edge.level", "0..3", "edge.mask:3"},
        {"edge.fill", "0..12", "edge.mask:4"},
        {"edgeColor[0]", "0..3599", "mask:1"}, {"edgeColor[1]", "0..1000", "mask:1"},
        {"edgeColor[2]", "0..1080", "mask:1"},
        {"maskSet.mode", "0..2", "maskSet.mask:0"}, {"maskSet.sense", "0..1", "maskSet.mask:1"},
        {"maskSet.enable", "0..1", "maskSet.mask:2"},
        {"maskBox[0]", "-5000..5000", "mask:2", PLAIN, "then: maskBox[3]=5000"},
        {"maskBox[1..3]", "-5000..5000", "mask:2"},
        {"transIn.on", "0..1", "transIn.mask:0"}, {"transIn.mode", "0", "transIn.mask:1"},
        {"transIn.value", "0..999", "transIn.mask:2"},
        {"transOut.on", "0..1", "transOut.mask:0"}, {"transOut.mode", "0", "transOut.mask:1"},
        {"transOut.value", "0..999", "transOut.mask:2"},
        {"inOutLink", "0..1", "mask:3", PLAIN, "with: transIn.value=5; then: transOut.on transOut.mode transOut.value=5"},
        {"reverse", "1", "mask:4", NEVER}, {"priority", "0..3", "mask:5"}, {"group", "0..1", "mask:6"},
        {"flags.flag[0..2]", "0..1", "flags.mask:0..2"},
        {"onAir", "0..1", "mask:7"}, {"stopping", "0..1", "mask:8"}, {"inTransition", "1", "mask:9", NEVER},
        {"names.name1", "12", "names.mask:0", TEXT}, {"names.name2", "12", "names.mask:1", TEXT},
    }};

TEST_F(ConformanceTest, MxifDsk) { run(DSK); }

// The key style, adjustment and matte colour, which a key channel and an up-stream key share.
#define KEY_STYLE_ADJUST_MATTE_ROWS                                                                    \
  {"style.keyType", "0..3", "style.mask:0"}, {"style.secondLevel", "0..1", "style.mask:1"},            \
      {"style.option", "0..1", "style.mask:2"}, {"style.keySource", "0..1", "style.mask:3"},           \
      {"style.secondMode", "0..1", "style.mask:4"}, {"adjust.clip", "0..1080", "adjust.mask:0"},       \
      {"adjust.gain", "0..2000", "adjust.mask:1"}, {"adjust.density", "0..1000", "adjust.mask:2"},     \
      {"adjust.modeFlag", "0..1", "adjust.mask:3"}, {"matteColor[0]", "0..3599", "mask:0"},            \
      {"matteColor[1]", "0..1000", "mask:0"}, {"matteColor[2]", "0..1080", "mask:0"}

// Key channels. Colours and boxes are taken only whole; the mask box and the crop edges are clamped
// against the live edges. The DVE size of keys 3 and 4 stops at 10000. The two values under bits 18
// and 19 are taken only beside the triple of bit 17. Linking the shift selectors copies A into B.
// The effect pairs go through the key targets' pattern table (transition tests). Reverse is the
// system's own.
const Table KEY = {
    record<MxifKey>(), 342, "me 0..3 channel 0..3", "adjust.gain=1500 edge.width=2",
    {
        KEY_STYLE_ADJUST_MATTE_ROWS,
        {"edge.type", "0..4", "edge.mask:0"}, {"edge.width", "0..4", "edge.mask:1"},
        {"edge.direction", "0..7", "edge.mask:2"}, {"edge.level", "0..3", "edge.mask:3"},
        {"edge.fill", "0..2", "edge.mask:4"},
        {"edgeColor[0]", "0..3599", "mask:1"}, {"edgeColor[1]", "0..1000", "mask:1"},
        {"edgeColor[2]", "0..1080", "mask:1"},
        {"maskSet.mode", "0..2", "maskSet.mask:0"}, {"maskSet.sense", "0..1", "maskSet.mask:1"},
        {"maskSet.enable", "0..1", "maskSet.mask:2"},
        {"maskBox[0]", "-5000..5000", "mask:2", PLAIN, "then: maskBox[3]=5000"},
        {"maskBox[1..3]", "-5000..5000", "mask:2"}, {"softOn", "0..1", "mask:3"}, {"softness", "0..1000", "mask:4"},
        {"thirdColor[0]", "0..3599", "mask:5"}, {"thirdColor[1]", "0..1000", "mask:5"},
        {"thirdColor[2]", "0..1080", "mask:5"}, {"window[0..1]", "-5000..5000", "mask:6"},
        {"window[2..3]", "0..10000", "mask:6"}, {"dveTransOn", "0..1", "mask:7"}, {"dveShapeOn", "0..1", "mask:8"},
        {"dveShapeType", "0..4", "mask:9"},
        {"dveBorder.on", "0..1", "dveBorder.mask:0"}, {"dveBorder.width", "1..1000", "dveBorder.mask:1"},
        {"dveBorder.softness", "0..1000", "dveBorder.mask:2"},
        {"dveBorderScale", "0..1", "mask:10"}, {"dveBorderColor[0]", "0..3599", "mask:11"},
        {"dveBorderColor[1]", "0..1000", "mask:11"}, {"dveBorderColor[2]", "0..1080", "mask:11"},
        {"dvePosition[0..2]", "-10000..10000", "mask:12"}, {"dveSize", "0..40000", "mask:13", PLAIN, "on: 0..1"},
        {"dveSize", "0..10000", "mask:13", PLAIN, "on: 2..3"}, {"dveTriple1[0..2]", "-5000..5000", "mask:14"},
        {"dveValue1", "0..10000", "mask:15"},
        // The scale pair is taken only whole (0 counts as 10000): one row between its two, so that a
        // damaged image has both damaged at once.
        {"dveScale.first", "5000..10000", "dveScale.mask:0"},
        {"dveRotation[0..2]", "-28800..28800", "mask:16"},
        {"dveScale.second", "5000..10000", "dveScale.mask:1"},
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
        {"transIn.on", "0..1", "transIn.mask:0"}, {"transIn.mode", "0..1", "transIn.mask:1"},
        {"transIn.value", "0..999", "transIn.mask:2"},
        {"transOut.on", "0..1", "transOut.mask:0"}, {"transOut.mode", "0..1", "transOut.mask:1"},
        {"transOut.value", "0..999", "transOut.mask:2"},
        {"inOutLink", "0..1", "mask:28", PLAIN, "with: transIn.value=5; then: transOut.on transOut.mode transOut.value=5"},
        {"reverse", "1", "mask:29", NEVER}, {"effectBoth", "0..1", "mask1:0"}, {"travelOn", "0..2", "mask1:1"},
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
        {"modulationX.waveform", "0..1", "modulationX.mask:0"},
        {"modulationX.amplitude", "0..10000", "modulationX.mask:1"},
        {"modulationX.frequency", "0..10000", "modulationX.mask:2"},
        {"modulationX.phaseSpeed", "-50..50", "modulationX.mask:3"},
        {"modulationY.waveform", "0..1", "modulationY.mask:0"},
        {"modulationY.amplitude", "0..10000", "modulationY.mask:1"},
        {"modulationY.frequency", "0..10000", "modulationY.mask:2"},
        {"modulationY.phaseSpeed", "-50..50", "modulationY.mask:3"},
        {"priority", "0..3", "mask1:13"}, {"group", "0..1", "mask1:14"}, {"keySetting", "0..32", "mask1:15"},
        {"flags.flag[0..2]", "0..1", "flags.mask:0..2"},
        {"onAir", "0..1", "mask1:16"}, {"statusFlag", "0..1", "mask1:17"}, {"stopping", "0..1", "mask1:18"},
        // inTransition (bit 19): a status the system keeps; whether a request may set it is open.
        {"names.name1", "12", "names.mask:0", TEXT}, {"names.name2", "12", "names.mask:1", TEXT},
    }};

TEST_F(ConformanceTest, MxifKey) { run(KEY); }

// Chroma key settings of each key channel. The sample key, mode, sample box and size are one value
// per ME (the frame copies them to the other channels); the box centre is taken only whole.
const Table CHROMA_KEY = {
    record<MxifChromaKey>(), 25, "me 0..3 channel 0..3", "rangeBase=2 rangeWidth=5",
    {
        {"rangeBase", "0..3", "mask:0"}, {"rangeWidth", "-40..40", "mask:1"}, {"sampleKey", "0..4", "mask:2"},
        {"modeSelect", "0..3", "mask:3"}, {"outputPoint", "0..14", "mask:4"}, {"sampleX", "-10000..10000", "mask:5"},
        {"sampleY", "-10000..10000", "mask:5"}, {"sampleSize", "100..10000", "mask:6"},
        {"extra[0..2]", "-1000..1000", "mask:7..9"},
    }};

TEST_F(ConformanceTest, MxifChromaKey) { run(CHROMA_KEY); }

// Image effects of one ME: four key targets, the A and B buses, the background DVE pair.
const Table IMAGE = {
    record<MxifImage>(), 148, "me 0..3", "imageA.hue=100 imageB.level=5",
    {
        {"imageKey[0..3].enable", "0..1", "imageKey[].mask:0"},
        {"imageKey[0..3].posterize", "0..1", "imageKey[].mask:1"},
        {"imageKey[0..3].posterizeY", "0..7", "imageKey[].mask:2"},
        {"imageKey[0..3].posterizeC", "0..7", "imageKey[].mask:3"},
        {"imageKey[0..3].option1", "0..1", "imageKey[].mask:4"},
        {"imageKey[0..3].option2", "0..1", "imageKey[].mask:5"},
        {"imageKey[0..3].colorize", "0..1", "imageKey[].mask:6"},
        {"imageKey[0..3].hue", "0..3599", "imageKey[].mask:7"},
        {"imageKey[0..3].saturation", "0..1000", "imageKey[].mask:8"},
        {"imageKey[0..3].effectType", "0..2", "imageKey[].mask:9"},
        {"imageKey[0..3].level", "0..1000", "imageKey[].mask:10"},
        {"imageA.enable", "0..1", "imageA.mask:0"}, {"imageA.posterize", "0..1", "imageA.mask:1"},
        {"imageA.posterizeY", "0..7", "imageA.mask:2"}, {"imageA.posterizeC", "0..7", "imageA.mask:3"},
        {"imageA.option1", "0..1", "imageA.mask:4"}, {"imageA.option2", "0..1", "imageA.mask:5"},
        {"imageA.colorize", "0..1", "imageA.mask:6"}, {"imageA.hue", "0..3599", "imageA.mask:7"},
        {"imageA.saturation", "0..1000", "imageA.mask:8"}, {"imageA.effectType", "0..2", "imageA.mask:9"},
        {"imageA.level", "0..1000", "imageA.mask:10"},
        {"imageB.enable", "0..1", "imageB.mask:0"}, {"imageB.posterize", "0..1", "imageB.mask:1"},
        {"imageB.posterizeY", "0..7", "imageB.mask:2"}, {"imageB.posterizeC", "0..7", "imageB.mask:3"},
        {"imageB.option1", "0..1", "imageB.mask:4"}, {"imageB.option2", "0..1", "imageB.mask:5"},
        {"imageB.colorize", "0..1", "imageB.mask:6"}, {"imageB.hue", "0..3599", "imageB.mask:7"},
        {"imageB.saturation", "0..1000", "imageB.mask:8"}, {"imageB.effectType", "0..2", "imageB.mask:9"},
        {"imageB.level", "0..1000", "imageB.mask:10"},
        {"recordFlag", "0..1", "mask:0"},
        {"bkgdDveA.flagA", "0..1", "bkgdDveA.mask:0"}, {"bkgdDveA.flagB", "0..1", "bkgdDveA.mask:1"},
        {"bkgdDveA.steps", "0..60", "bkgdDveA.mask:2"}, {"bkgdDveA.flagC", "0..1", "bkgdDveA.mask:3"},
        {"bkgdDveA.amount", "0..1000", "bkgdDveA.mask:4"},
        {"bkgdDveB.flagA", "0..1", "bkgdDveB.mask:0"}, {"bkgdDveB.flagB", "0..1", "bkgdDveB.mask:1"},
        {"bkgdDveB.steps", "0..60", "bkgdDveB.mask:2"}, {"bkgdDveB.flagC", "0..1", "bkgdDveB.mask:3"},
        {"bkgdDveB.amount", "0..1000", "bkgdDveB.mask:4"},
    }};

TEST_F(ConformanceTest, MxifImage) { run(IMAGE); }

// Key presets: the kept settings, the recall options, each panel's key targets, and the selection
// entries (which the next frame puts back to the system's own).
const Table KEY_PRESET = {
    record<MxifKeyPreset>(), 429, "", "setting8=3 setting120=1",
    {
        {"setting8", "0..4", "mask1:0"}, {"setting9", "0..3", "mask1:1"}, {"setting12", "0..3", "mask0:0"},
        {"recall[0..2]", "0..1", "recallMask:0..2"}, {"panel[0..2].target[0..4]", "0..4", "panel[].targetMask:0..4"},
        {"panel[0..2].extra[0..3]", "0..4", "panel[].extraMask:0..3"},
        {"panel[0..2].group9", "0..4", "panel[].group9Mask:0"}, {"setting120", "0..1", "mask0:1"},
        {"entry[0..79]", "-1..3", "entryMask:0..79"},
    }};

TEST_F(ConformanceTest, MxifKeyPreset) { run(KEY_PRESET); }

// The four up-stream keys. The box is clamped against the live one like a key's mask box.
const Table UP_STREAM_KEY = {
    record<MxifUpStreamKey>(), 57, "channel 0..3", "adjust.gain=1500 maskSet.mode=2",
    {
        KEY_STYLE_ADJUST_MATTE_ROWS,
        {"maskSet.mode", "0..2", "maskSet.mask:0"}, {"maskSet.sense", "0..1", "maskSet.mask:1"},
        {"maskSet.enable", "0..1", "maskSet.mask:2"},
        {"maskBox[0]", "-5000..5000", "mask:1", PLAIN, "then: maskBox[3]=5000"},
        {"maskBox[1..3]", "-5000..5000", "mask:1"},
        {"texts.name1", "12", "texts.mask:0", TEXT, R"(refuse: x"y|\|a\n)"},
        {"texts.name2", "12", "texts.mask:1", TEXT, R"(refuse: x"y|\|a\n)"},
    }};
#undef KEY_STYLE_ADJUST_MATTE_ROWS

TEST_F(ConformanceTest, MxifUpStreamKey) { run(UP_STREAM_KEY); }

// The up-stream keys' sources, the attachment of each source of the list, the on/off flags.
const Table UP_STREAM_KEY_ASSIGN = {
    record<MxifUpStreamKeyAssign>(), 774, "", "entry5.value=3 onOff[2]=1",
    {
        {"source[0..7]", "10..223", "sourceMask:0..7"},
        {"entry{0..149}.value", "0..8", "entry{}.mask:0"},
        {"onOff[0..3]", "0..1", "onOffMask:0..3"},
    }};

TEST_F(ConformanceTest, MxifUpStreamKeyAssign) { run(UP_STREAM_KEY_ASSIGN); }

// The twelve colour correction units. The option groups' values are taken unchecked and their group
// words are never set.
const Table COLOR_CORRECT = {
    record<MxifColorCorrect>(), 232, "channel 0..11", "lumaGain=1500 hue=100",
    {
        {"enable", "0..255", "mask:0"}, {"curveLimit", "0..3", "mask:1"}, {"lumaGain", "0..2000", "mask:2"},
        {"pedestal", "-200..200", "mask:3"}, {"chromaGain", "0..2000", "mask:4"}, {"hue", "0..3599", "mask:5"},
        {"fixedMatrixMode", "0..255", "mask:6"}, {"linkComponents", "0..1", "mask:7"},
        {"curvePoint{1..4}.value[0..2]", "-100..1080", "curvePoint{}.mask:0..2"},
        {"optionGroup{1..3}.a.value[0..3]", "0..255", "optionGroup{}.a.mask:0..3"},
        {"optionGroup{1..3}.b.value[0..3]", "0..255", "optionGroup{}.b.mask:0..3"},
        {"matrix6.value[0..5]", "-60..60", "matrix6.mask:0..5"},
        {"sector{1..12}.value[0..1]", "-300..300", "sector{}.mask:0..1"},
        {"resetTarget", "0..4", "mask:8"}, {"auxSelection", "0..27", "mask:9"},
    }};

TEST_F(ConformanceTest, MxifColorCorrect) { run(COLOR_CORRECT); }

}  // namespace
}  // namespace conformance
