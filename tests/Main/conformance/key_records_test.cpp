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
        {"style.keyType", "0..1", "style.mask:0"},
        {"style.secondLevel", "0..1", "style.mask:1"},
        {"style.option", "0..1", "style.mask:2"},
        {"style.keySource", "0..1", "style.mask:3"},
        {"style.secondMode", "0..1", "style.mask:4"},
        {"adjust.clip", "0..1080", "adjust.mask:0"},
        {"adjust.gain", "0..2000", "adjust.mask:1"},
        {"adjust.density", "0..1000", "adjust.mask:2"},
        {"adjust.modeFlag", "0..1", "adjust.mask:3"},
        {"matteColor[0]", "0..3599", "mask:0"},
        {"matteColor[1]", "0..1000", "mask:0"},
        {"matteColor[2]", "0..1080", "mask:0"},
        {"edge.type", "0..4", "edge.mask:0"},
        {"edge.width", "0..4", "edge.mask:1"},
        {"edge.direction", "0..7", "edge.mask:2"},
        {"edge.level", "0..3", "edge.mask:3"},
        {"edge.fill", "0..12", "edge.mask:4"},
        {"edgeColor[0]", "0..3599", "mask:1"},
        {"edgeColor[1]", "0..1000", "mask:1"},
        {"edgeColor[2]", "0..1080", "mask:1"},
        {"maskSet.mode", "0..2", "maskSet.mask:0"},
        {"maskSet.sense", "0..1", "maskSet.mask:1"},
        {"maskSet.enable", "0..1", "maskSet.mask:2"},
        {"maskBox[0]", "-5000..5000", "mask:2", PLAIN, "then: maskBox[3]=5000"},
        {"maskBox[1..3]", "-5000..5000", "mask:2"},
        {"transIn.on", "0..1", "transIn.mask:0"},
        {"transIn.mode", "0", "transIn.mask:1"},
        {"transIn.value", "0..999", "transIn.mask:2"},
        {"transOut.on", "0..1", "transOut.mask:0"},
        {"transOut.mode", "0", "transOut.mask:1"},
        {"transOut.value", "0..999", "transOut.mask:2"},
        {"inOutLink", "0..1", "mask:3", PLAIN, "with: transIn.value=5; then: transOut.on transOut.mode transOut.value=5"},
        {"reverse", "1", "mask:4", NEVER},
        {"priority", "0..3", "mask:5"},
        {"group", "0..1", "mask:6"},
        {"flags.flag[0..2]", "0..1", "flags.mask:0..2"},
        {"onAir", "0..1", "mask:7"},
        {"stopping", "0..1", "mask:8"},
        {"inTransition", "1", "mask:9", NEVER},
        {"names.name1", "12", "names.mask:0", TEXT},
        {"names.name2", "12", "names.mask:1", TEXT},
    }};

TEST_F(ConformanceTest, MxifDsk) { run(DSK); }

}  // namespace
}  // namespace conformance
