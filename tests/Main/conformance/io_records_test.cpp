// Conformance tables of the video input, output and multiview records. Their categories store and
// report whatever they are sent, but for the ME slot words of the custom information.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

const Table EXTENDED_DISPLAY = {record<MxifExtendedDisplay>(), 16, "", "", {
    {"display", "0..255", "mask:0"}, {"aux", "0..255", "mask:1"}}};

// A slot word names no ME (0) or an ME by its number + 1.
const Table CUSTOM_INFO = {record<MxifCustomInfo>(), 88, "", "enable=1", {
    {"enable", "0..255", "mask:0"}, {"source[0..35]", "0..255", "sourceMask:0..35"},
    {"meSlot[0..7]", "0..4", "slotMask:0..7"}}};

const Table SOURCE_NAME = {record<MxifSourceName>(), 16, "", "", {{"data[0..10]", "0..255", "mask:0"}}};

const Table MULTI_VIEW = {record<MxifMultiView>(), 16, "channel 0..7", "", {
    {"format", "0..255", "mask:0"}, {"formatFlag", "0..255", "mask:0"},
    {"labels[0..7]", "0..255", "mask:7"}}};

const Table INPUT_DVI = {record<MxifInputDvi>(), 16, "channel 0..1", "", {{"data[0..10]", "0..255", "mask:0"}}};

const Table INPUT_VIDEO = {record<MxifInputVideo>(), 68, "channel 0..127", "", {
    {"tallyOff", "0..255", "mask:1"}, {"state", "0..4294967295", "mask:2"},
    {"byte16", "0..255", "mask:3"}}};

const Table OUTPUT = {record<MxifOutput>(), 28, "", "", {{"source[0..15]", "0..255", "sourceMask:0..15"}}};

TEST_F(ConformanceTest, MxifExtendedDisplay) { run(EXTENDED_DISPLAY); }
TEST_F(ConformanceTest, MxifCustomInfo) { run(CUSTOM_INFO); }
TEST_F(ConformanceTest, MxifSourceName) { run(SOURCE_NAME); }
TEST_F(ConformanceTest, MxifMultiView) { run(MULTI_VIEW); }
TEST_F(ConformanceTest, MxifInputDvi) { run(INPUT_DVI); }
TEST_F(ConformanceTest, MxifInputVideo) { run(INPUT_VIDEO); }
TEST_F(ConformanceTest, MxifOutput) { run(OUTPUT); }

}  // namespace
}  // namespace conformance
