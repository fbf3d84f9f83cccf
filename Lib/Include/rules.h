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
// Noting costs a few stores into a small ring; nothing allocates.
#include <cstddef>

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

// What a note is.
enum class From : u8 {
  RULE,  // a rule that decided bytes of a record
  SENT,  // a value of the request being taken, which the rule noted last read to decide
  HELD,  // a value the back end held, which the rule noted last read to decide
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
