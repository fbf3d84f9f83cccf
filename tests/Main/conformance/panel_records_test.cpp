// Conformance tables of the panel records that the system checks, keeps and reports.
#include "tests/Main/conformance/conformance.h"

namespace conformance {
namespace {

// GPI port settings: 136 ports; groups 1..5 (ports 0..57) take the basic codes, groups 6..9 the
// extended set. The record's own presence word names no field.
const Table GPI_IN_OUT = {
    record<MxifGpiInOut>(), 956, "", "entry3.mode=2 entry4.code=7",
    {
        {"entry{0..57}.code", "0..245", "entry{}.mask:0"},
        {"entry{58..135}.code",
         "0..315, 400..615, 700..915, 1000..1215, 1300..1319, 1400..1479, 1500..1511, 1600..1611, 1700..1711, "
         "1800..1811",
         "entry{}.mask:0"},
        {"entry{0..135}.mode", "0..3", "entry{}.mask:1"},
    }};

// Tally groups: group 0 refuses the preview outputs (codes 2, 5, 15, 16) that groups 1..3 take; a
// negative code (65535 on the wire) is never taken.
const Table PERIPHERAL = {
    record<MxifPeripheral>(), 100, "", "group2.color=3 option=1",
    {
        {"option", "0..1", "maskB:0"},
        {"flagA0", "1", "maskA:0", NEVER},
        {"reportForm", "0..1", "maskA:1"},
        {"tallyMode", "0..1", "maskA:2"},
        {"group0.entries[0..7]", "0..1, 3..4, 6, 13..14, 17..36", "group0.mask:0..7", PLAIN, "refuse: 65535"},
        {"group{1..3}.entries[0..7]", "0..6, 13..36", "group{}.mask:0..7", PLAIN, "refuse: 65535"},
        {"group{0..3}.color", "0..3", "group{}.mask:8"},
        {"group{0..3}.exclusion", "0..1", "group{}.mask:9", TRUTH},
    }};

// Button inhibit tables, one per control panel.
const Table BUTTON_INHIBIT = {
    record<MxifButtonInhibit>(), 1638, "channel 0..2", "entry5.select=7 flag=1",
    {
        {"flag", "0..1", "mask:0"},
        {"entry{0..232}.code", "0..224", "entry{}.mask:0"},
        {"entry{0..232}.select", "0..10", "entry{}.mask:1"},
        {"entry{0..232}.mode", "0..3", "entry{}.mask:2"},
    }};

TEST_F(ConformanceTest, MxifGpiInOut) { run(GPI_IN_OUT); }
TEST_F(ConformanceTest, MxifPeripheral) { run(PERIPHERAL); }
TEST_F(ConformanceTest, MxifButtonInhibit) { run(BUTTON_INHIBIT); }

}  // namespace
}  // namespace conformance
