#pragma once
// Record conformance: a table per record type says what its category takes from the front end,
// field by field; the harness runs each row through the link and the backup image.
//
// Table: record<R>(), wire body size (texts empty), addressing ("me 0..3", "channel 0..3",
// "me 0..3 channel 0..3" / "me 0..3 panel 0..2" (the word names the channel field), "me 0..3
// channels 16" (channel 0 of each ME), "" for one record), witnesses ("name=value": the first whose
// bit differs from the row's is sent beside each refused value), rows:
//   {"group{1..3}.entries[0..7]", "0..6, 13..36", "group{}.mask:0..7", PLAIN, "refuse: 65535"}
// field: "{a..b}" numbered sub-records, "[a..b]" elements (first and last of each run are tried).
// values: "lo..hi, v", "1024+ ..." offsets each; a TEXT row's capacity.
// presence: "word:bit" ("{}"/"[]" take the run's number); "word:a..b" a bit per element from a;
//   bit n of a word array is bit n % 32 of word n / 32.
// kind: ANSWERED (refused value answered unchanged, bit set), NEVER (never taken), NEW_ONLY (the
//   live value is not taken), TRUTH (taken as 0/1), TEXT, FIRST_KEPT (first request after a start
//   answers it unchanged, bit set; a kept text adds its characters to the wire size).
// more ("; " between): refuse: more refused values (texts '|'-separated); on: instances it holds
//   for; with: sent beside the highest value; beside: sent beside every value; then: fields the
//   highest value also changes ("name=value" stored, "name" answered); image: values a restart also
//   takes; also: fields answered beside every value and reset with the row's field on damage;
//   declared: what the record declares the field takes, where the values sent and stored cannot show
//   it (a value taken in another form, a status byte a restart alone takes, a value a rule moves later).
// Steps, first and last instance: 0 empty request (answer empty but FIRST_KEPT, sizes match; the
// instance after the last gets no answer); 1 each bound taken, stored and answered with exactly its
// bits; 2 each neighbour outside and `refuse` value with a witness: field kept, witness taken;
// 3 every field at its highest (every other instance: lowest; a single record both in turn), restart:
// all comes back, nothing broken; 4 half the rows damaged in the image, restart: damaged fields (and
// those under their bit) fresh, others kept; other half.
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

// The rows of a colour (hue, saturation, luminance), taken only whole under one presence bit.
#define COLOR_ROWS(FIELD, PRESENCE) \
  {FIELD "[0]", "0..3599", PRESENCE}, {FIELD "[1]", "0..1000", PRESENCE}, {FIELD "[2]", "0..1080", PRESENCE}

// The rows of a modulation axis.
#define MODULATION_ROWS(AXIS)                                                                          \
  {AXIS ".waveform", "0..1", AXIS ".mask:0"}, {AXIS ".amplitude", "0..10000", AXIS ".mask:1"},         \
      {AXIS ".frequency", "0..10000", AXIS ".mask:2"}, {AXIS ".phaseSpeed", "-50..50", AXIS ".mask:3"}

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
  void run(const Table& table);
};

}  // namespace conformance
