// Conformance tables of the bus records.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// Bus entries hold crosspoint codes; a direct source is code 1024 + source. A refused code is
// answered with the entry's unchanged one. Entries 0..11 refuse the outputs of their own ME
// (150..153 on ME 0). Panel button codes (0..767) follow the crosspoint assignment: not listed.
#define LIST_A_BUT_ME_OUTPUTS \
  "10..41, 140..141, 181..182, 184..185, 187..188, 190..191, 201..202, 204..205, 207..208, 210..211, 220..223"
constexpr const char* LIST_A = "1024+ " LIST_A_BUT_ME_OUTPUTS ", 150..152, 154..156";
constexpr const char* LIST_A_ON_ME0 = "1024+ " LIST_A_BUT_ME_OUTPUTS ", 154..156";
constexpr const char* LIST_B = "1024+ " LIST_A_BUT_ME_OUTPUTS ", 150, 152, 154, 156";
constexpr const char* LIST_C = "1024+ " LIST_A_BUT_ME_OUTPUTS;
constexpr const char* LIST_D = "1024+ " LIST_A_BUT_ME_OUTPUTS ", 150..157, 170..178, 230..233";
#undef LIST_A_BUT_ME_OUTPUTS

const Table BUS = {
    record<MxifBus>(), 196, "me 0..3", "programBus=1 entries[12]=1100",
    {
        {"entries[0..11]", LIST_A_ON_ME0, "entryMask:0..88", ANSWERED, "on: 0; refuse: 1024+ 150..152"},
        {"entries[0..11]", LIST_A, "entryMask:0..88", ANSWERED, "on: 3"},
        {"entries[12]", "1024+ 10..302, 314..329", "entryMask:0..88", ANSWERED},
        {"entries[13..15]", LIST_D, "entryMask:0..88", ANSWERED},
        {"entries[16..23]", LIST_B, "entryMask:0..88", ANSWERED},
        {"entries[24..71]", LIST_D, "entryMask:0..88", ANSWERED},
        {"entries[72..79]", LIST_C, "entryMask:0..88", ANSWERED},
        {"entries[80..88]", LIST_D, "entryMask:0..88", ANSWERED},
        {"programBus", "0..1", "mask:0"},
    }};

TEST_F(ConformanceTest, MxifBus) { run(BUS); }

}  // namespace
}  // namespace conformance
