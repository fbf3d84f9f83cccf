// Conformance tables of the memory records: the system keeps each field sent under its presence bit
// and reports it back, whatever its value.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// Event memory: byte 4 enables the link to an ME, byte 12 names it.
const Table EVENT_MEMORY = {record<MxifEventMemory>(), 16, "", "", {
    {"enable", "0..255", "mask:0"}, {"body[0..6]", "0..255", "mask:1"},
    {"linkedMe", "0..255", "mask:2"}, {"tail[0..2]", "0..255", "mask:1"}}};

// Macros: the attach flags of panel group g lie at bytes 36 + 12 g.
const Table MACRO = {record<MxifMacro>(), 68, "", "", {
    {"body[0..26]", "0..255", "mask:0"},
    {"attach{0..2}.flag[0..7]", "0..255", "attach{}.mask:0..7"}}};

const Table EVENT_MEMORY_STATUS = {record<MxifEventMemoryStatus>(), 16, "", "", {{"data[0..10]", "0..255", "mask:0"}}};
const Table SHOT_MEMORY = {record<MxifShotMemory>(), 16, "", "", {{"data[0..10]", "0..255", "mask:0"}}};
const Table SHOT_MEMORY_STATUS = {record<MxifShotMemoryStatus>(), 16, "", "", {{"data[0..10]", "0..255", "mask:0"}}};

TEST_F(ConformanceTest, MxifEventMemory) { run(EVENT_MEMORY); }
TEST_F(ConformanceTest, MxifEventMemoryStatus) { run(EVENT_MEMORY_STATUS); }
TEST_F(ConformanceTest, MxifMacro) { run(MACRO); }
TEST_F(ConformanceTest, MxifShotMemory) { run(SHOT_MEMORY); }
TEST_F(ConformanceTest, MxifShotMemoryStatus) { run(SHOT_MEMORY_STATUS); }

}  // namespace
}  // namespace conformance
