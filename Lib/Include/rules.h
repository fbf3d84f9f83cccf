#pragma once
// The rules by which the back end holds a request's value otherwise than it was sent: a rule that
// refuses a value whose own range check takes it (a value paired with one out of range, a bus source
// that would close a loop), moves it (an edge pushed by its opposite), or takes it in another form
// (0 standing for the full scale). Each rule is declared once, beside the code that applies it, and
// noted there each time it decides a field of a record. The front-end tools run a request through
// the categories in their own program and read the notes, so what they say of a value is the rule
// that the back end's own code applied.
//
// Noting costs a few stores into a small ring; nothing allocates.
#include <cstddef>

#include "Lib/Include/types.h"

namespace rules {

enum class Effect : u8 {
  REFUSES,  // the field keeps its value, though its range check takes the one sent
  MOVES,    // the field is set otherwise than sent, or from other values
  SAME,     // the value is taken in another form that means the same
};

struct Rule {
  Effect effect;
  const char* text;  // what the rule does, in the words of the fields it reads
};

// A rule that decided bytes [at, at + size) of a record of type `type`, in its memory form; or,
// with no rule, a value that the rule noted last read to decide so: bytes of the record of ME me
// and channel `channel` (-1 and -1: the instance that the rule decided).
struct Note {
  const Rule* rule;
  int type;
  u16 at;
  u16 size;
  s8 me = -1;
  s8 channel = -1;
};

// Notes the rule for the bytes of `field`, which lies within `record`.
void note(const Rule& rule, int type, const void* record, const void* field, size_t size);
template <class R, class F>
void note(const Rule& rule, const R& record, const F& field) {
  note(rule, R::TYPE_INDEX, &record, &field, sizeof field);
}

// Notes that the rule noted last read `field` of the record of the instance to decide.
void input(int type, const void* record, const void* field, size_t size, int me, int channel);
template <class R, class F>
void input(const R& record, const F& field, int me = -1, int channel = -1) {
  input(R::TYPE_INDEX, &record, &field, sizeof field, me, channel);
}

// The notes since the last clear, oldest first (the last RING of them: enough for a request that
// offers a value to every element of any record at once).
constexpr int RING = 256;
int count();
const Note& noteAt(int i);
void clear();

}  // namespace rules
