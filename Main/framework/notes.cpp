#include "Main/framework/notes.h"

#include <cstring>

#include "Lib/Include/link_rings.h"
#include "Lib/Include/link_window.h"
#include "Lib/Include/rules.h"
#include "Main/framework/bp.h"
#include "Platform/platform.h"

namespace linknotes {
namespace {

// What this back end keeps of the header: the window's copies are only stored, as the front end can
// write there.
struct Kept {
  u32 frameStart = 0;  // where the frame's reading of the request ring began
  u32 slots = 0;       // slots written since the start
  u32 frames = 0;      // frames since the start
  u32 flags = 0;       // the header's flags as this back end set them
  u32 drops = 0;       // drops of request bytes since the start
  u32 overwrites = 0;  // frames that found a ring's index word written over, since the start
};

Kept& kept() {
  static Kept k;
  return k;
}

rules::NotesHeader& header() {
  return *reinterpret_cast<rules::NotesHeader*>(platform::memory(LINK_NOTES, rules::NOTES_BYTES));
}

// Stores a word of the header, after what was written before it.
void setHeader(u32 rules::NotesHeader::*word, u32 v) { linkring::store(reinterpret_cast<u8*>(&(header().*word)), v); }

rules::NoteSlot& slot(u32 n) {
  u8* base = platform::memory(LINK_NOTES, rules::NOTES_BYTES) + sizeof(rules::NotesHeader);
  return reinterpret_cast<rules::NoteSlot*>(base)[n % rules::NOTE_SLOTS];
}

// What the slot being written holds so far, kept here: the slot in the window is only written.
struct Filling {
  u16 count = 0;
  u16 lost = 0;
  u16 textBytes = 0;
  int texts = 0;                              // rule texts copied into the slot,
  const char* text[rules::NOTES_PER_SLOT];  // each,
  u16 textAt[rules::NOTES_PER_SLOT];        // and where it lies among the slot's text bytes
};
Filling filling;

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

// Adds the note to the slot (a rule's text once a slot); one that finds no room is counted as lost.
void add(rules::NoteSlot& s, const rules::Note& n) {
  Filling& f = filling;
  if (f.count == rules::NOTES_PER_SLOT) {
    ++f.lost;
    return;
  }
  rules::PublishedNote& p = s.notes[f.count];
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
    const size_t length = std::strlen(n.rule->text) + 1;
    int same = -1;
    for (int i = 0; i < f.texts && same < 0; ++i) {
      if (std::strcmp(f.text[i], n.rule->text) == 0) same = f.textAt[i];
    }
    if (same >= 0) {
      p.text = static_cast<u16>(same);
    } else if (f.textBytes + length <= sizeof s.text) {
      std::memcpy(s.text + f.textBytes, n.rule->text, length);
      p.text = f.textBytes;
      f.text[f.texts] = n.rule->text;
      f.textAt[f.texts++] = f.textBytes;
      f.textBytes = static_cast<u16>(f.textBytes + length);
    } else {
      ++f.lost;
      return;
    }
  }
  ++f.count;
}

// Publishes a slot for the request that ended at ring index `request`: the notes [from, to), and
// where `type` is a type, only the rules and ranges noted on records of that type with the inputs
// that follow them.
void publishSlot(u32 request, int type, u32 from, u32 to) {
  const u32 n = kept().slots;
  rules::NoteSlot& s = slot(n);
  linkring::beginSlot(reinterpret_cast<u8*>(&s.sequence));
  s.request = request;
  s.type = static_cast<u16>(type);
  filling.count = filling.lost = filling.textBytes = 0;
  filling.texts = 0;
  bool keep = false;  // the inputs follow the rule they belong to
  for (u32 k = from; k < to; ++k) {
    const rules::Note* note = numbered(k);
    if (note == nullptr) continue;
    if (rules::leads(*note)) keep = note->type == type;
    if (keep) add(s, *note);
  }
  s.count = filling.count;
  s.lost = filling.lost;
  s.textBytes = filling.textBytes;
  linkring::endSlot(reinterpret_cast<u8*>(&s.sequence), n + 1);
  setHeader(&rules::NotesHeader::written, kept().slots = n + 1);
}

}  // namespace

void reset() {
  kept().slots = kept().flags = kept().frames = kept().drops = kept().overwrites = 0;
  header() = {};
  setHeader(&rules::NotesHeader::build, rules::buildMark());
  setHeader(&rules::NotesHeader::magic, rules::NOTES_MAGIC);
  for (int n = 0; n < rules::NOTE_SLOTS; ++n) linkring::store(reinterpret_cast<u8*>(&slot(static_cast<u32>(n)).sequence), 0);
}

void beginFrame() {
  rules::clear();
  kept().frameStart = RequestReceiver::instance().position();
}

void taken(u32 request, int type, u32 from) { publishSlot(request, type, from, rules::written()); }

void publish(u32 updateFrom) {
  const u32 end = RequestReceiver::instance().position(), to = rules::written();
  // Only a frame that read requests: later frames' rules are no answer to them.
  if (end == kept().frameStart || to == updateFrom) return;
  // Each type whose records a rule of the update decided, once.
  for (u32 k = updateFrom; k < to; ++k) {
    const rules::Note* note = numbered(k);
    if (note == nullptr || !rules::leads(*note) || note->type < 0) continue;  // type -1: a range withdrawn
    bool first = true;
    for (u32 j = updateFrom; j < k && first; ++j) {
      const rules::Note* earlier = numbered(j);
      first = earlier == nullptr || !rules::leads(*earlier) || earlier->type != note->type;
    }
    if (first) publishSlot(end, note->type, updateFrom, to);
  }
}

void backedUp(u32 through) {
  setHeader(&rules::NotesHeader::backedUp, through);
  setHeader(&rules::NotesHeader::flags, kept().flags |= rules::BACKED_UP);
}

// ANSWERED is set only in a frame whose whole pass went out, beside the index it makes true; any other
// frame clears it: an index of an earlier frame may lie past a ring that started again, and in turns
// an answer waits for its turn.
void answered(u32 through, bool out, bool inTurns, int waitLeft) {
  setHeader(&rules::NotesHeader::frames, ++kept().frames);
  setHeader(&rules::NotesHeader::waitLeft, static_cast<u32>(waitLeft));
  const bool whole = out && !inTurns;
  kept().flags = (kept().flags & rules::BACKED_UP) | (inTurns ? rules::IN_TURNS : 0);
  if (whole) setHeader(&rules::NotesHeader::answered, through), kept().flags |= rules::ANSWERED;
  setHeader(&rules::NotesHeader::flags, kept().flags);
}

void overwritten() { setHeader(&rules::NotesHeader::overwritten, ++kept().overwrites); }

void dropped(u32 to) {
  setHeader(&rules::NotesHeader::droppedTo, to);
  setHeader(&rules::NotesHeader::dropped, ++kept().drops);
}

}  // namespace linknotes
