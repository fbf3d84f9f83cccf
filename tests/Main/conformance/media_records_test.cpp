// Conformance tables of the stills and clips records and of the transition status record.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// The stills and clips records are kept and answered as sent: this system reads only a few of
// their bytes and checks none of them (a clip channel or still store past 3 is kept and names no
// source). The bytes it reads are listed; the rest of each record rides under the same bits.
const Table CLIP_PLAY = {record<MxifClipPlay>(), 24, "channel 0..3", "", {
    {"body[0..14]", "0..255", "mask:0"}, {"mode", "0..255", "mask:1"}, {"linkedMe", "0..255", "mask:2"}}};

const Table CLIP_REC = {record<MxifClipRec>(), 16, "", "", {
    {"channel", "0..255", "mask:0"}, {"recording", "0..255", "mask:2"}}};

const Table CLIP_REGISTER = {record<MxifClipRegister>(), 16, "", "", {{"data[0..10]", "0..255", "mask:0"}}};

const Table CLIP_STATUS = {record<MxifClipStatus>(), 44, "channel 0..84", "", {
    {"body[0..36]", "0..255", "mask:0"}, {"ready", "0..255", "mask:1"}}};

const Table STILL_MEMORY = {record<MxifStillMemory>(), 16, "", "", {
    {"store", "0..255", "mask:0"}, {"capturing", "0..255", "mask:2"}}};

const Table STILL_STATUS = {record<MxifStillStatus>(), 16, "channel 0..3", "", {{"data[0..10]", "0..255", "mask:0"}}};

// Transition states, one group of four entries each with its own bit; a request copies the
// entries it marks. Kept outside the backup image.
const Table TRANSITION_STATUS = {record<MxifTransitionStatus>(), 60, "", "", {
    {"bkgd.state[0..3]", "0..255", "bkgd.mask:0..3"},
    {"key{1..4}.state[0..3]", "0..255", "key{}.mask:0..3"},
    {"dsk.state[0..3]", "0..255", "dsk.mask:0..3"},
    {"aux.state[0..3]", "0..255", "aux.mask:0..3"}}};

TEST_F(ConformanceTest, MxifClipPlay) { run(CLIP_PLAY); }
TEST_F(ConformanceTest, MxifClipRec) { run(CLIP_REC); }
TEST_F(ConformanceTest, MxifClipRegister) { run(CLIP_REGISTER); }
TEST_F(ConformanceTest, MxifClipStatus) { run(CLIP_STATUS); }
TEST_F(ConformanceTest, MxifStillMemory) { run(STILL_MEMORY); }
TEST_F(ConformanceTest, MxifStillStatus) { run(STILL_STATUS); }
TEST_F(ConformanceTest, MxifTransitionStatus) { run(TRANSITION_STATUS); }

}  // namespace
}  // namespace conformance
