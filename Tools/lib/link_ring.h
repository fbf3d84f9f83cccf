#pragma once
// The front end's side of the link, over host pointers to the rings: writing the request ring,
// reading the acknowledgement ring, the packet form, and the console ring. Header only, so that the
// front-end tool and the in-process test peer share it without a library between them.
//
// A ring is u32 write index, u32 read index (little-endian words), then LINK_RING_DATA bytes. The
// front end writes the request ring's write index and the acknowledgement ring's read index only.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Main/framework/link.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"

namespace linkpeer {

using Bytes = std::vector<u8>;

// Console ring: u32 write index (the system's), u32 read index (the front end's), then the data;
// the system's index wraps to 0 after CONSOLE_LAST_INDEX.
constexpr u32 CONSOLE_OFFSET = LINK_CONSOLE_RING - LINK_WINDOW_BASE;  // in the link window
constexpr u32 CONSOLE_DATA = 0x7FFE0;
constexpr u32 ACK_RING_OFFSET = LINK_ACK_RING - LINK_WINDOW_BASE;
constexpr u32 REQUEST_RING_OFFSET = LINK_REQUEST_RING - LINK_WINDOW_BASE;

// Index words are little-endian whatever the host; loads acquire and stores release, so the data
// written before an index store is seen by the other side once it sees the index.
inline u32 loadIndex(const u8* word) {
  u32 v = std::atomic_ref<u32>(*reinterpret_cast<u32*>(const_cast<u8*>(word))).load(std::memory_order_acquire);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}
inline void storeIndex(u8* word, u32 v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::atomic_ref<u32>(*reinterpret_cast<u32*>(word)).store(v, std::memory_order_release);
}

// Bytes written and not yet read. Indexes out of range (a damaged ring) are taken modulo the size.
inline u32 ringUsed(const u8* ring) {
  u32 w = loadIndex(ring) % LINK_RING_DATA;
  u32 r = loadIndex(ring + 4) % LINK_RING_DATA;
  return (w + LINK_RING_DATA - r) % LINK_RING_DATA;
}

// Bytes the writer may still add: it stops LINK_RING_RESERVE bytes short of the read index.
inline u32 ringRoom(const u8* ring) {
  u32 used = ringUsed(ring);
  return used >= LINK_RING_DATA - LINK_RING_RESERVE ? 0 : LINK_RING_DATA - LINK_RING_RESERVE - used;
}

// Appends as many of the n bytes as fit; returns the count written.
inline size_t ringWrite(u8* ring, const u8* p, size_t n) {
  u32 room = ringRoom(ring);
  if (n > room) n = room;
  u32 w = loadIndex(ring) % LINK_RING_DATA;
  u8* data = ring + 8;
  // In at most two runs: up to the end of the data, then from its start.
  const size_t first = std::min<size_t>(n, LINK_RING_DATA - w);
  std::memcpy(data + w, p, first);
  std::memcpy(data, p + first, n - first);
  storeIndex(ring, static_cast<u32>((w + n) % LINK_RING_DATA));
  return n;
}

// The bytes from index `from` up to index `to`, in at most two runs across the wrap.
inline Bytes ringBytes(const u8* ring, u32 from, u32 to) {
  const u8* data = ring + 8;
  if (to >= from) return Bytes(data + from, data + to);
  Bytes out(data + from, data + LINK_RING_DATA);
  out.insert(out.end(), data, data + to);
  return out;
}

// The bytes from index `from` on to index `to`, going round the ring.
inline u32 ringAhead(u32 from, u32 to) { return (to + LINK_RING_DATA - from) % LINK_RING_DATA; }

// The unread bytes, without taking them.
inline Bytes ringPeek(const u8* ring) {
  return ringBytes(ring, loadIndex(ring + 4) % LINK_RING_DATA, loadIndex(ring) % LINK_RING_DATA);
}

// Takes n bytes (at most what is unread) by advancing the read index.
inline void ringConsume(u8* ring, size_t n) {
  size_t used = ringUsed(ring);
  if (n > used) n = used;
  u32 r = loadIndex(ring + 4) % LINK_RING_DATA;
  storeIndex(ring + 4, static_cast<u32>((r + n) % LINK_RING_DATA));
}

// ---- Packets ----------------------------------------------------------------------------------------
// 0x5A 0x81, u32 body length, u16 type, body (big-endian).
inline Bytes packetBytes(int type, const u8* body, size_t n) {
  const u32 len = static_cast<u32>(n);
  const u8 head[8] = {LINK_SYNC0, LINK_SYNC1, static_cast<u8>(len >> 24), static_cast<u8>(len >> 16),
                      static_cast<u8>(len >> 8), static_cast<u8>(len), static_cast<u8>(type >> 8), static_cast<u8>(type)};
  Bytes out(8 + n);
  std::copy(head, head + 8, out.begin());
  if (n > 0) std::copy(body, body + n, out.begin() + 8);
  return out;
}
inline Bytes packetBytes(int type, const Bytes& body) { return packetBytes(type, body.data(), body.size()); }

struct Packet {
  int type = -1;
  Bytes body;
};

// The first complete packet from byte pos of buf on: bytes before a sync pair are skipped one at a
// time and counted in garbage; *start gets where the packet begins, and pos moves past it. False
// when no complete packet follows (pos then stays past the bytes skipped).
inline bool nextPacket(const Bytes& buf, size_t& pos, Packet& p, size_t& garbage, size_t* start = nullptr) {
  while (buf.size() - pos >= static_cast<size_t>(LINK_HEADER_BYTES)) {
    if (buf[pos] != LINK_SYNC0 || buf[pos + 1] != LINK_SYNC1) {
      ++garbage;
      ++pos;
      continue;
    }
    const u32 n = (u32{buf[pos + 2]} << 24) | (u32{buf[pos + 3]} << 16) | (u32{buf[pos + 4]} << 8) | buf[pos + 5];
    if (buf.size() - pos - LINK_HEADER_BYTES < n) return false;
    p.type = (buf[pos + 6] << 8) | buf[pos + 7];
    const auto first = buf.begin() + static_cast<std::ptrdiff_t>(pos + LINK_HEADER_BYTES);
    p.body.assign(first, first + static_cast<std::ptrdiff_t>(n));
    if (start != nullptr) *start = pos;
    pos += LINK_HEADER_BYTES + n;
    return true;
  }
  return false;
}

// What the back end's receiver makes of bytes added to the request stream, as the framing it splits
// the stream with (which holds what came before) takes them: the bytes it skips, the headers it drops
// (the first one's type and length, and whether no body that long could be held at all), the headers
// whose body it takes (the last one's type and length), and whether the first byte added begins a
// header.
struct StreamSeen {
  size_t stray = 0, dropped = 0, taken = 0;
  size_t lines = 0;  // of the receiver's console: one for the bytes skipped before a header, one a header dropped
  int droppedType = -1;
  u32 droppedLength = 0;
  bool unheld = false;
  int type = -1;
  u32 length = 0;
  bool headerAtStart = false;
};

template <class Largest>
StreamSeen follow(RequestFraming& framing, const u8* p, size_t n, Largest&& largest) {
  using Step = RequestFraming::Step;
  StreamSeen s;
  const u32 skipped = framing.skipped();
  u32 reported = skipped;
  for (size_t i = 0; i < n; ++i) {
    if (framing.owed() > 0) {  // a body's bytes, a run at a time
      const u32 run = static_cast<u32>(std::min<size_t>(framing.owed(), n - i));
      framing.takeBody(run);
      i += run - 1;
      continue;
    }
    const Step step = framing.add(p[i], largest);
    if (step == Step::Taken) continue;
    if (i + 1 == static_cast<size_t>(LINK_HEADER_BYTES)) s.headerAtStart = true;
    s.lines += (framing.skipped() > reported ? 1 : 0) + (step == Step::Header ? 0 : 1);
    reported = framing.skipped();
    if (step == Step::Header) {
      ++s.taken, s.type = framing.type(), s.length = framing.length();
    } else if (s.dropped++ == 0) {
      s.droppedType = framing.type(), s.droppedLength = framing.length(), s.unheld = step == Step::Unheld;
    }
  }
  s.stray = framing.skipped() - skipped;
  return s;
}

// Splits the complete packets at the front of buf (up to max of them) into out, as nextPacket
// finds them. Returns the bytes used up: the packets and the garbage before them; a partial packet
// at the end is left.
inline size_t parsePackets(const Bytes& buf, std::vector<Packet>& out, size_t& garbage, size_t max = SIZE_MAX) {
  size_t pos = 0;
  Packet p;
  for (size_t taken = 0; taken < max && nextPacket(buf, pos, p, garbage); ++taken) out.push_back(std::move(p));
  return pos;
}

// ---- Console ring -------------------------------------------------------------------------------------
inline u32 consoleWriteIndex(const u8* console) { return loadIndex(console) % CONSOLE_DATA; }

// What the system wrote from index `from` on, without moving the front end's read index.
inline std::string consoleSince(const u8* console, u32 from) {
  const u32 w = consoleWriteIndex(console);
  const u8* data = console + 8;
  std::string text;
  for (u32 i = from % CONSOLE_DATA; i != w; i = (i + 1) % CONSOLE_DATA) text.push_back(static_cast<char>(data[i]));
  return text;
}

// The complete lines written since index `from`, which moves past them; a line still being written
// stays for the next call.
inline std::string consoleLines(const u8* console, u32& from) {
  std::string text = consoleSince(console, from);
  const size_t end = text.rfind('\n');
  if (end == std::string::npos) return {};
  text.resize(end + 1);
  from = static_cast<u32>((from + text.size()) % CONSOLE_DATA);
  return text;
}

// The complete lines written since the front end's read index, which moves past them.
inline std::string consoleTake(u8* console) {
  u32 r = loadIndex(console + 4) % CONSOLE_DATA;
  std::string text = consoleLines(console, r);
  if (!text.empty()) storeIndex(console + 4, r);
  return text;
}


// ---- The back end's notes of the requests it took (Lib/Include/rules.h) ---------------------------

constexpr u32 NOTES_OFFSET = LINK_NOTES - LINK_WINDOW_BASE;  // in the link window

inline const rules::NotesHeader& notesHeader(const u8* notes) { return *reinterpret_cast<const rules::NotesHeader*>(notes); }

// Whether the notes are those of this build's back end: published (their magic) and of the same mark.
enum class NotesFrom { ThisBuild, OtherBuild, None };
inline NotesFrom notesFrom(const u8* notes) {
  if (loadIndex(notes) != rules::NOTES_MAGIC) return NotesFrom::None;
  return loadIndex(notes + offsetof(rules::NotesHeader, build)) == rules::buildMark() ? NotesFrom::ThisBuild : NotesFrom::OtherBuild;
}

// Slots written since the back end started.
inline u32 notesWritten(const u8* notes) { return loadIndex(notes + offsetof(rules::NotesHeader, written)); }

// Whether the backup image holds every request before ring index `at` (as far as the back end says).
inline bool backedUpTo(const u8* notes, u32 at) {
  return notesFrom(notes) != NotesFrom::None && (loadIndex(notes + offsetof(rules::NotesHeader, flags)) & rules::BACKED_UP) != 0 &&
         loadIndex(notes + offsetof(rules::NotesHeader, backedUp)) == at;
}

// The notes of the request that ended at ring index `request`, among the slots written since
// `writtenBefore` (notesWritten before it was written): those of its own, and those of the update of
// the frame that took it, published under `frameEnd`, where the wait written after it ended the
// frame's reading.
struct RequestNotes {
  enum class Found {
    Notes,       // its slot
    None,        // the back end noted nothing for it
    Lost,        // later requests' notes took the slots before they were read
    OtherBuild,  // the back end is of another build: its notes are not read
    Unpublished, // the back end publishes none
  } found = Found::Unpublished;
  u32 build = 0;  // the back end's mark
  std::vector<rules::PublishedNote> notes;
  std::vector<std::string> texts;  // a rule's text, by the note's index
};

inline RequestNotes notesOf(const u8* notes, u32 request, u32 frameEnd, u32 writtenBefore) {
  RequestNotes out;
  const NotesFrom from = notesFrom(notes);
  out.build = loadIndex(notes + offsetof(rules::NotesHeader, build));
  if (from != NotesFrom::ThisBuild) {
    out.found = from == NotesFrom::None ? RequestNotes::Found::Unpublished : RequestNotes::Found::OtherBuild;
    return out;
  }
  const u32 written = notesWritten(notes);
  // A start since, which resets the slots, counts as lost.
  if (written < writtenBefore || written - writtenBefore > static_cast<u32>(rules::NOTE_SLOTS)) {
    out.found = RequestNotes::Found::Lost;
    return out;
  }
  out.found = RequestNotes::Found::None;
  const u8* slots = notes + sizeof(rules::NotesHeader);
  auto slot = std::make_unique<rules::NoteSlot>();
  for (u32 n = writtenBefore + 1; n <= written; ++n) {
    const u8* at = slots + ((n - 1) % rules::NOTE_SLOTS) * sizeof(rules::NoteSlot);
    const u32 sequence = loadIndex(at);
    std::memcpy(slot.get(), at, sizeof *slot);
    if (sequence != n || loadIndex(at) != sequence) {
      out.found = RequestNotes::Found::Lost;  // written again while read
      return out;
    }
    if (slot->request != request && slot->request != frameEnd) continue;
    out.found = RequestNotes::Found::Notes;
    for (int i = 0; i < std::min<int>(slot->count, rules::NOTES_PER_SLOT); ++i) {
      const rules::PublishedNote& p = slot->notes[i];
      out.notes.push_back(p);
      const bool rule = p.from == static_cast<u8>(rules::From::RULE) && p.text < rules::NOTE_TEXT_BYTES;
      out.texts.push_back(rule ? std::string(slot->text + p.text, strnlen(slot->text + p.text, rules::NOTE_TEXT_BYTES - p.text)) : "");
    }
  }
  return out;
}

}  // namespace linkpeer
