#pragma once
// Record conformance: a table per record type says what its category must take from the front end,
// field by field, and one harness runs every row through the link as the front end would.
//
// A table gives the type (through record<R>()), the body length of a whole record on the wire
// (texts empty), the addressing ("me 0..3", "channel 0..3" (of a per-ME record with channels: ME 0's),
// "me 0..3 channel 0..3" (or "me 0..3 panel 0..2": the word names the channel's field), "me 0..3 channels 16" (channel 0 of each ME) or "" for one record), witnesses
// ("name=value" words: good values of other fields, the first one that is not the row's own field is
// sent beside each refused value), and a row per field:
//
//   {"adjust.gain", "0..2000", "adjust.mask:1"}
//   {"group{1..3}.entries[0..7]", "0..6, 13..36", "group{}.mask:0..7", PLAIN, "refuse: 65535"}
//
//   field     the text-form name; "{a..b}" a run of numbered sub-records, "[a..b]" array elements.
//             The harness takes the first and the last of each run.
//   values    what is taken: "lo..hi" and single values, comma-separated; "1024+ ..." adds 1024 to
//             every listed value (bus codes by source). For a TEXT row: its capacity.
//   presence  "word:bit": the presence word (by its text-form name; "{}" stands for the sub-record's
//             number, "[]" for the element of the field's first array run) and its bit; "word:a..b" one bit per array element, from bit a; bit n of a row
//             of words is bit n % 32 of word n / 32.
//   kind      PLAIN, or: ANSWERED (a refused value is answered with the unchanged one, bit set),
//             NEVER (no request sets it; values are what is tried), NEW_ONLY (a value equal to the
//             live one is not taken), TRUTH (any value is taken as 0 or 1), TEXT (values is the
//             capacity), FIRST_KEPT (the first request after a start answers it unchanged, bit set;
//             a kept text adds its characters to the answer's wire size).
//   more      further clauses, "; " between them:
//     refuse: values refused besides the neighbours of `values` (same form), or texts ('|' between);
//     on:     the instances (MEs or channels; channels where both address) the row holds for, as "0" or "2..3"
//             (default: all);
//     with:   "name=value" words sent beside the field's highest value in step 1;
//     beside: "name=value" words sent beside each of its values in steps 1 and 2 (fields that are
//             taken only together with the row's);
//     then:   fields that this request (highest value, `with`) also changes: "name=value" (stored
//             and answered so) or "name" (answered);
//     image:  values that a restart takes from the backup image besides `values` (step 4 damages the
//             field with a refused value outside them, and skips it when there is none);
//     also:   fields answered (their presence bits set) beside every value taken in step 1, and
//             taken back to their fresh values with the row's field in step 4.
//
// Steps, for the first and the last instance of the addressing:
//   0. an empty request is answered with nothing carried (but FIRST_KEPT rows); the answer's body
//      and the front end's request body have the table's wire size; a request for the instance
//      after the last is dropped without an answer;
//   1. each bound of each run of values, sent alone (the highest with the row's `with`): stored,
//      and answered with its value and exactly its presence bit (and those of `with` and `then`);
//   2. each value just outside (where the field's width holds it) and each `refuse` value, sent
//      with a witness: the field keeps its value, the witness is taken, and the answer carries the
//      witness's bit alone (and, ANSWERED, the field's unchanged value with its bit);
//   3. every field of the instances in the backup image at its highest value, a warm restart:
//      every record of the image comes back, and nothing is reported broken;
//   4. half of the rows damaged in the image (a refused value written into the stored record), a
//      restart: each damaged field (and those under the same presence bit) takes its fresh value,
//      the others come back; then the other half.
#include <cstring>
#include <string>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/text.h"
#include "tests/Main/category_fixture.h"
#include "tests/support/frontend_peer.h"
#include "tests/support/live_records.h"

namespace conformance {

enum Kind : unsigned {
  PLAIN = 0,
  ANSWERED = 1u << 0,
  NEVER = 1u << 1,
  NEW_ONLY = 1u << 2,
  TRUTH = 1u << 3,
  TEXT = 1u << 4,
  FIRST_KEPT = 1u << 5,
};

struct Row {
  const char* field;
  const char* values;
  const char* presence;
  unsigned kind = PLAIN;
  const char* more = "";
};

// A field or presence word of a record type, where it lies in the record in memory.
struct Field {
  std::string name;  // the text-form name: "trans.rate", a text's count "name1", its bytes "name1.chars"
  size_t offset;
  codec::Kind kind;
  int count;
  long maskOffset;  // of the presence word(s) that govern it; -1 for none
  int bit;
  bool perElement;
  bool isMask;
};

// What the harness needs of the record type itself.
struct Access {
  int type;
  size_t size;
  // Channel ch of the ME me instance's live record.
  u8* (*live)(int me, int ch);
  // The wire body of a record in memory, and back (false when the body does not hold it).
  std::vector<u8> (*encode)(const u8* record);
  bool (*decode)(const std::vector<u8>& body, u8* record);
  // The record's fields in wire order.
  std::vector<Field> (*fields)();
};

struct Table {
  Access access;
  size_t wireSize;
  const char* addressing;
  const char* witnesses;
  std::vector<Row> rows;
};

template <class R>
Access record() {
  struct Sink : codec::LeafSink {
    const u8* base;
    std::vector<Field> out;
    void leaf(const codec::Leaf& f) override {
      const long mask = f.mask != nullptr ? reinterpret_cast<const u8*>(f.mask) - base : -1;
      out.push_back({std::string(f.prefix) + f.name, static_cast<size_t>(f.data - base), f.kind, f.count, mask, f.bit,
                     f.perElement, f.isMask});
    }
  };
  return {
      R::TYPE_INDEX,
      sizeof(R),
      [](int me, int ch) { return reinterpret_cast<u8*>(&testing_support::live<R>(me, ch)); },
      [](const u8* record) {
        R r;
        std::memcpy(static_cast<void*>(&r), record, sizeof r);
        return testing_support::textRecordBytes(r);  // texts, where the record has them, in their wire form
      },
      [](const std::vector<u8>& body, u8* record) {
        R r{};
        libmx::WireIn in(body.data(), body.size());
        const bool ok = libmx::readTextRecord(in, r);
        std::memcpy(record, static_cast<const void*>(&r), sizeof r);
        return ok;
      },
      [] {
        const R r{};
        Sink s;
        s.base = reinterpret_cast<const u8*>(&r);
        codec::walk(r, s);
        return s.out;
      },
  };
}

// Runs every step of a table on the categories of a freshly started system.
class ConformanceTest : public test_categories::SystemCategoriesTest {
 protected:
  void TearDown() override;
  void run(const Table& table);
};

}  // namespace conformance
