#pragma once
// The rules by which the back end holds a request's value otherwise than it was sent: a rule that
// refuses a value whose own range check takes it (a value paired with one out of range, a bus source
// that would close a loop), moves it (an edge pushed by its opposite), or takes it in another form
// (0 standing for the full scale). Each rule is declared once, beside the code that applies it, and
// noted there each time it decides a field of a record, followed by the values it read to decide
// (`sent` for a value of the request being taken, `input` for one the back end holds): exactly those
// whose values decided, so that another value of any of them would have changed the outcome.
//
// The framework publishes the notes of each request in the link window (Lib/Include/link_window.h),
// so that the front end's tools say of a request what the running back end decided, and why.
//
// The range checks note the range by which they refused a value in the same ring (From::RANGE), where
// they check it: within() and its kin below are the checks, and the records' helpers that hold each
// field's limits call them.
//
// Noting costs a few stores into a small ring, made only when a value is refused; nothing allocates.
#include <cstddef>
#include <initializer_list>
#include <type_traits>

#include "Lib/Include/types.h"

namespace rules {

enum class Effect : u8 {
  REFUSES,  // the field keeps its value, though its range check takes the one sent
  MOVES,    // the field is set otherwise than sent, or from other values
  SAME,     // the value is taken in another form that means the same
  NOT_RUN,  // the record keeps the value, but the hardware does not run it
};

struct Rule {
  Effect effect;
  const char* text;  // what the rule does, in the words of the fields it reads
};

// A rule's text made at compile time of words and the constants whose values it names, so that each
// number is stated once: compose("takes ", LEAST, "..", MOST).chars.
template <size_t N>
struct Text {
  char chars[N + 1] = {};
};
namespace internal {
template <class A>
constexpr size_t capacityOf() {
  if constexpr (std::is_array_v<A>) {
    return std::extent_v<A> - 1;
  } else {
    return 20;  // the digits of any s64, and its sign
  }
}
constexpr void put(char* out, size_t& at, const char* s) {
  while (*s != 0) out[at++] = *s++;
}
constexpr void put(char* out, size_t& at, s64 v) {
  if (v < 0) out[at++] = '-';
  char digits[20] = {};
  int n = 0;
  do {
    const s64 d = v % 10;
    digits[n++] = static_cast<char>('0' + (d < 0 ? -d : d));
    v /= 10;
  } while (v != 0);
  while (n > 0) out[at++] = digits[--n];
}
}  // namespace internal
template <class... A>
constexpr auto compose(const A&... pieces) {
  Text<(internal::capacityOf<A>() + ... + 0)> text;
  size_t at = 0;
  (internal::put(text.chars, at, pieces), ...);
  return text;
}

// What a note is.
enum class From : u8 {
  RULE,  // a rule that decided bytes of a record
  SENT,  // a value of the request being taken, which the rule noted last read to decide
  HELD,  // a value the back end held, which the rule noted last read to decide
  RANGE,  // a range check that refused the value of the bytes: their least and greatest value in the
          // value bytes (two s32 in memory order); a set of ranges is a note each
};

// The value bytes an input keeps (its memory form): enough for any element.
constexpr int VALUE_BYTES = 8;

// A rule that decided bytes [at, at + size) of a record of type `type`, in its memory form; or an
// input of the rule noted last: bytes of the record of ME me and channel `channel` (-1 and -1: the
// instance that the request addresses), with their value as the rule read it.
struct Note {
  const Rule* rule = nullptr;  // the rule (From::RULE); null for an input
  int type = -1;
  u16 at = 0;
  u16 size = 0;
  s8 me = -1;
  s8 channel = -1;
  From from = From::RULE;
  u8 value[VALUE_BYTES] = {};
  const void* record = nullptr;  // a rule's record as noted: the framework finds its instance by it
};

// Notes the rule for the bytes of `field`, which lies within `record`.
void note(const Rule& rule, int type, const void* record, const void* field, size_t size);
template <class R, class F>
void note(const Rule& rule, const R& record, const F& field) {
  note(rule, R::TYPE_INDEX, &record, &field, sizeof field);
}

// Whether the notes after n, up to the next such, are its inputs: n is a rule's or a range's.
inline bool leads(const Note& n) { return n.rule != nullptr || n.from == From::RANGE; }

// The rule of a truth value, which a record's reader applies: a value other than 0 is taken as 1
// (noted for one other than 0 and 1).
extern const Rule TRUTH_VALUE;
template <class R, class F>
void takeAsTruth(const R& record, F& field) {
  if (field > 1) note(TRUTH_VALUE, record, field);
  field = static_cast<F>(field != 0 ? 1 : 0);
}

// Notes that the rule noted last read `field` of the record of the instance (me, channel; -1: the
// request's own) as the back end holds it.
void input(int type, const void* record, const void* field, size_t size, int me, int channel);
template <class R, class F>
void input(const R& record, const F& field, int me = -1, int channel = -1) {
  input(R::TYPE_INDEX, &record, &field, sizeof field, me, channel);
}

// Notes that the rule noted last read `field` of the request being taken (`record`, its copy as
// read from the packet).
void sent(int type, const void* record, const void* field, size_t size);
template <class R, class F>
void sent(const R& record, const F& field) {
  sent(R::TYPE_INDEX, &record, &field, sizeof field);
}

// ---- Range checks ------------------------------------------------------------------------------------
//
// A range check notes the range by which it refused a value: the note covers the bytes of the element
// refused in the record being checked (Checking); the values its limits depend on follow it, as a
// rule's inputs do (sent, input). A check of bytes that lie in no record being checked notes nothing.

// The record whose values range checks judge, while this lives: a merge of a whole record sets it for
// the checks it offers fields to (codec::merge), and a category around the checks it makes by hand.
// Where several are set, the first holds: they check one request.
class Checking {
 public:
  Checking(int type, const void* record, size_t size);
  template <class R>
  explicit Checking(const R& record) : Checking(R::TYPE_INDEX, &record, sizeof record) {}
  ~Checking();
  Checking(const Checking&) = delete;
  Checking& operator=(const Checking&) = delete;

 private:
  bool set_;
};

// Notes that a range check refused the value of the bytes [field, field + size) by lo..hi.
void refusedBy(const void* field, size_t size, s32 lo, s32 hi);

// Notes that the range noted last depends on the bytes [field, field + size) of the record being
// checked, as the request sent them (for a value the back end holds: input).
void dependsOn(const void* field, size_t size);
template <class F>
void dependsOn(const F& field) {
  dependsOn(&field, sizeof field);
}

// Withdraws the ranges noted since mark (a count of written()), with their inputs: the value they
// refused was taken after all (the merge that offered it took it). A range withdrawn is of type -1.
void withdrawSince(u32 mark);

// The value of a field as a number (an enum's, as its underlying type).
template <class F>
constexpr s64 valueOf(const F& field) {
  if constexpr (std::is_enum_v<F>) {
    return static_cast<s64>(static_cast<std::underlying_type_t<F>>(field));
  } else {
    return static_cast<s64>(field);
  }
}

// The check of a field (an element) of the record being checked: whether its value lies in lo..hi;
// one that does not is noted (refusedBy).
template <class F>
bool within(const F& field, s32 lo, s32 hi) {
  const s64 v = valueOf(field);
  if (lo <= v && v <= hi) [[likely]] return true;
  refusedBy(&field, sizeof field, lo, hi);
  return false;
}

// A value that is no field's is no check's: its note would cover no record's bytes.
template <class F>
bool within(const F&& value, s32 lo, s32 hi) = delete;

// The check of an array taken only whole: whether every element lies in lo..hi; each one that does not
// is noted.
template <class F, size_t N>
bool allWithin(const F (&field)[N], s32 lo, s32 hi) {
  bool all = true;
  for (const F& e : field) all = within(e, lo, hi) && all;
  return all;
}

// A field's limits, for a table of the checks of a record's fields.
struct Range {
  s32 lo, hi;
};

// The check of a field that takes a set of values: whether its value lies in one of the ranges; one
// that lies in none notes each of them.
template <class F>
bool withinAny(const F& field, const Range* set, size_t count) {
  const s64 v = valueOf(field);
  for (size_t i = 0; i < count; ++i) {
    if (set[i].lo <= v && v <= set[i].hi) return true;
  }
  for (size_t i = 0; i < count; ++i) refusedBy(&field, sizeof field, set[i].lo, set[i].hi);
  return false;
}
template <class F, size_t N>
bool withinAny(const F& field, const Range (&set)[N]) {
  return withinAny(field, set, N);
}
template <class F>
bool withinAny(const F& field, std::initializer_list<Range> set) {
  return withinAny(field, set.begin(), set.size());
}
template <class F>
bool withinAny(const F&& value, std::initializer_list<Range> set) = delete;

// The check of a field by a test of its value (takes(v)) that takes values of lo..hi only: one it
// refuses is noted with each run of values the test takes.
template <class F, class Takes>
bool withinWhere(const F& field, s32 lo, s32 hi, Takes takes) {
  const s64 v = valueOf(field);
  if (lo <= v && v <= hi && takes(static_cast<s32>(v))) return true;
  for (s32 first = lo; first <= hi; ++first) {
    if (!takes(first)) continue;
    s32 last = first;
    while (last < hi && takes(last + 1)) ++last;
    refusedBy(&field, sizeof field, first, last);
    first = last;
  }
  return false;
}
template <class F, class Takes>
bool withinWhere(const F&& value, s32 lo, s32 hi, Takes takes) = delete;

// The check of a field under presence bit `bit` of word `in`: sets the bit in `out` when the field is
// present and its value lies in lo..hi.
template <class F>
void acceptWithin(u32 in, u32& out, u32 bit, const F& field, s32 lo, s32 hi) {
  if ((in & bit) != 0 && within(field, lo, hi)) out |= bit;
}

// A field with its limits, as a table of a record's checks holds them.
struct Limit {
  template <class F>
  constexpr Limit(const F& f, s32 lo, s32 hi) : field(&f), size(sizeof f), value(valueOf(f)), range{lo, hi} {}
  template <class F>
  Limit(const F&& value, s32 lo, s32 hi) = delete;
  const void* field;
  size_t size;
  s64 value;
  Range range;
};

// The check of the field at `field` by a table's limits: 1 its value lies in them, 0 it does not
// (noted), -1 the table holds no limits of it.
template <size_t N>
int checkBy(const void* field, const Limit (&table)[N]) {
  for (const Limit& l : table) {
    if (l.field != field) continue;
    if (l.range.lo <= l.value && l.value <= l.range.hi) return 1;
    refusedBy(l.field, l.size, l.range.lo, l.range.hi);
    return 0;
  }
  return -1;
}

// The notes since the last clear, oldest first (the last RING of them: enough for a frame of
// requests that offer a value to every element of a record at once).
constexpr int RING = 1024;
int count();
const Note& noteAt(int i);
void clear();
// Notes made since the last clear, counting those the ring no longer holds (read once or twice for
// every request a frame takes: inline).
namespace internal {
extern u32 written;
}
inline u32 written() { return internal::written; }

// The mark of this build, the same in every program built from the same source.
u32 buildMark();

}  // namespace rules
