#include "Lib/Include/rules.h"

namespace rules {
namespace {

struct Ring {
  Note notes[RING];
  u32 written = 0;  // since the last clear (wraps harmlessly: RING divides 2^32)
};

Ring& ring() {
  static Ring r;
  return r;
}

}  // namespace

void note(const Rule& rule, int type, const void* record, const void* field, size_t size) {
  Ring& r = ring();
  const auto at = static_cast<const u8*>(field) - static_cast<const u8*>(record);
  r.notes[r.written % RING] = {&rule, type, static_cast<u16>(at), static_cast<u16>(size)};
  ++r.written;
}

void input(int type, const void* record, const void* field, size_t size, int me, int channel) {
  Ring& r = ring();
  const auto at = static_cast<const u8*>(field) - static_cast<const u8*>(record);
  r.notes[r.written % RING] = {nullptr, type, static_cast<u16>(at), static_cast<u16>(size), static_cast<s8>(me),
                               static_cast<s8>(channel)};
  ++r.written;
}

int count() { return ring().written < RING ? static_cast<int>(ring().written) : RING; }

const Note& noteAt(int i) {
  const Ring& r = ring();
  const u32 first = r.written < RING ? 0 : r.written % RING;
  return r.notes[(first + static_cast<u32>(i)) % RING];
}

void clear() { ring().written = 0; }

}  // namespace rules
