#include "Main/framework/notes.h"

#include <atomic>
#include <cstring>

#include "Lib/Include/memory_map.h"
#include "Lib/Include/rules.h"
#include "Main/framework/bp.h"
#include "Platform/platform.h"

namespace linknotes {
namespace {

constexpr int MAX_TAKEN = 128;  // a frame takes at most 100 requests

struct Taken {
  u32 request;
  int type;
  u32 from, to;  // its notes, by rules::written()
};

struct Frame {
  Taken taken[MAX_TAKEN];
  int count = 0;
};

Frame& frame() {
  static Frame f;
  return f;
}

rules::NotesHeader& header() {
  return *reinterpret_cast<rules::NotesHeader*>(platform::memory(LINK_NOTES, rules::NOTES_BYTES));
}

rules::NoteSlot& slot(u32 n) {
  u8* base = platform::memory(LINK_NOTES, rules::NOTES_BYTES) + sizeof(rules::NotesHeader);
  return reinterpret_cast<rules::NoteSlot*>(base)[n % rules::NOTE_SLOTS];
}

// The note numbered n since the clear (by rules::written()); null when the ring no longer holds it.
const rules::Note* numbered(u32 n) {
  const u32 written = rules::written();
  const u32 first = written - static_cast<u32>(rules::count());
  return n >= first && n < written ? &rules::noteAt(static_cast<int>(n - first)) : nullptr;
}

// The ME whose stored record holds `record`, or -1 (a copy being taken, or a record kept elsewhere).
int meHolding(int type, const void* record) {
  const auto& registry = category::CategoryRegistry::instance();
  const u8* at = static_cast<const u8*>(record);
  for (int me = 0; me < category::N_ME; ++me) {
    const u8* area = registry.storageOf(type, me);
    if (area != nullptr && at >= area && at < area + registry.boundBytes(type, me)) return me;
  }
  return -1;
}

// Writes the request's notes into the slot, and of the update's [updateFrom, updateTo) the rules
// noted on a record of the request's type with the inputs that follow them.
void fill(rules::NoteSlot& s, const Taken& t, u32 updateFrom, u32 updateTo) {
  s.count = s.lost = s.textBytes = 0;
  bool keep = false;  // the inputs follow the rule they belong to
  const auto add = [&](const rules::Note& n) {
    if (s.count == rules::NOTES_PER_SLOT) {
      ++s.lost;
      return;
    }
    rules::PublishedNote& p = s.notes[s.count];
    p = {};
    p.from = static_cast<u8>(n.from);
    p.type = static_cast<u16>(n.type);
    p.me = n.me;
    p.channel = n.channel;
    p.at = n.at;
    p.size = n.size;
    std::memcpy(p.value, n.value, sizeof p.value);
    if (n.rule != nullptr) {
      p.effect = static_cast<u8>(n.rule->effect);
      if (n.record != nullptr) p.me = static_cast<s8>(meHolding(n.type, n.record));
      // A rule's text once a slot.
      const size_t length = std::strlen(n.rule->text) + 1;
      int same = -1;
      for (int i = 0; i < s.count && same < 0; ++i) {
        const rules::PublishedNote& q = s.notes[i];
        if (q.from == static_cast<u8>(rules::From::RULE) && std::strcmp(s.text + q.text, n.rule->text) == 0) same = q.text;
      }
      if (same >= 0) {
        p.text = static_cast<u16>(same);
      } else if (s.textBytes + length <= sizeof s.text) {
        std::memcpy(s.text + s.textBytes, n.rule->text, length);
        p.text = s.textBytes;
        s.textBytes = static_cast<u16>(s.textBytes + length);
      } else {
        ++s.lost;
        return;
      }
    }
    ++s.count;
  };
  for (u32 n = t.from; n < t.to; ++n) {
    if (const rules::Note* note = numbered(n)) add(*note);
  }
  for (u32 n = updateFrom; n < updateTo; ++n) {
    const rules::Note* note = numbered(n);
    if (note == nullptr) continue;
    if (note->rule != nullptr) keep = note->type == t.type;
    if (keep) add(*note);
  }
}

bool updateNotes(int type, u32 from, u32 to) {
  for (u32 n = from; n < to; ++n) {
    const rules::Note* note = numbered(n);
    if (note != nullptr && note->rule != nullptr && note->type == type) return true;
  }
  return false;
}

}  // namespace

void reset() {
  rules::NotesHeader& h = header();
  h = {};
  h.magic = rules::NOTES_MAGIC;
  h.build = rules::buildMark();
  for (int n = 0; n < rules::NOTE_SLOTS; ++n) slot(static_cast<u32>(n)).sequence = 0;
  frame().count = 0;
}

void beginFrame() {
  rules::clear();
  frame().count = 0;
}

void taken(u32 request, int type, u32 from) {
  Frame& f = frame();
  if (f.count < MAX_TAKEN) f.taken[f.count++] = {request, type, from, rules::written()};
}

void publish() {
  Frame& f = frame();
  if (f.count == 0) return;
  // The update's notes are those after the last request's.
  const u32 updateFrom = f.taken[f.count - 1].to, updateTo = rules::written();
  rules::NotesHeader& h = header();
  for (int k = 0; k < f.count; ++k) {
    const Taken& t = f.taken[k];
    if (t.to == t.from && !updateNotes(t.type, updateFrom, updateTo)) continue;
    const u32 n = h.written;
    rules::NoteSlot& s = slot(n);
    s.sequence = 0;
    std::atomic_thread_fence(std::memory_order_release);
    s.request = t.request;
    s.type = static_cast<u16>(t.type);
    fill(s, t, updateFrom, updateTo);
    std::atomic_thread_fence(std::memory_order_release);
    s.sequence = n + 1;
    h.written = n + 1;
  }
  f.count = 0;
}

void backedUp(u32 through) {
  rules::NotesHeader& h = header();
  h.backedUp = through;
  std::atomic_thread_fence(std::memory_order_release);
  h.flags = rules::BACKED_UP;
}

}  // namespace linknotes
