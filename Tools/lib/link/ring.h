#pragma once
// The front end's side of the link, over host pointers to the rings: writing the request ring,
// reading the acknowledgement ring, the packet form, and the console ring. Header only, so that the
// front-end tool and the in-process test peer share it without a library between them. The window's
// form is Lib/Include/link_window.h's, its reading and writing Lib/Include/link_rings.h's and the
// packet's framing Lib/Include/link_framing.h's.
//
// The front end writes the request ring's write index and the acknowledgement ring's read index only.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Lib/Include/link_framing.h"
#include "Lib/Include/link_rings.h"
#include "Lib/Include/link_window.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"

namespace linkpeer {

using Bytes = std::vector<u8>;

// A word of the window, in the order of Lib/Include/link_rings.h.
inline u32 loadIndex(const u8* word) { return linkring::load(word); }
inline void storeIndex(u8* word, u32 v) { linkring::store(word, v); }

// A ring's indexes, taken modulo the data's size (a damaged ring is read so).
inline u32 writeIndex(const u8* ring) { return linkring::writeIndex(ring) % LINK_RING_DATA; }
inline u32 readIndex(const u8* ring) { return linkring::readIndex(ring) % LINK_RING_DATA; }

// Bytes written and not yet read.
inline u32 ringUsed(const u8* ring) { return linkring::used(writeIndex(ring), readIndex(ring)); }

// Bytes the writer may still add: none while an index lies outside the ring, until the back end's
// next frame starts the request ring again, or puts its read index back.
inline u32 ringRoom(const u8* ring) {
  const u32 w = linkring::writeIndex(ring), r = linkring::readIndex(ring);
  return w < LINK_RING_DATA && r < LINK_RING_DATA ? linkring::room(w, r) : 0;
}

// Appends as many of the n bytes as fit; returns the count written.
inline size_t ringWrite(u8* ring, const u8* p, size_t n) {
  const u32 take = static_cast<u32>(std::min<size_t>(n, ringRoom(ring)));
  linkring::setWriteIndex(ring, linkring::put(linkring::data(ring), writeIndex(ring), p, take));
  return take;
}

// The bytes from index `from` on to index `to`, going round the ring.
inline u32 ringAhead(u32 from, u32 to) { return linkring::used(to, from); }

// The bytes from index `from` up to index `to`, across the wrap.
inline Bytes ringBytes(const u8* ring, u32 from, u32 to) {
  Bytes out(ringAhead(from, to));
  linkring::get(linkring::data(ring), from, out.data(), static_cast<u32>(out.size()));
  return out;
}

// The unread bytes, without taking them.
inline Bytes ringPeek(const u8* ring) { return ringBytes(ring, readIndex(ring), writeIndex(ring)); }

// Takes n bytes (at most what is unread) by advancing the read index.
inline void ringConsume(u8* ring, size_t n) {
  const u32 take = static_cast<u32>(std::min<size_t>(n, ringUsed(ring)));
  linkring::setReadIndex(ring, linkring::ahead(readIndex(ring), take));
}

// ---- Packets ----------------------------------------------------------------------------------------
// 0x5A 0x81, u32 body length, u16 type, body (big-endian).
inline Bytes packetBytes(int type, const u8* body, size_t n) {
  Bytes out(LINK_HEADER_BYTES + n);
  writePacketHeader(out.data(), static_cast<u16>(type), static_cast<u32>(n));
  if (n > 0) std::copy(body, body + n, out.begin() + LINK_HEADER_BYTES);
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
    if (!isPacketSync(&buf[pos])) {
      ++garbage;
      ++pos;
      continue;
    }
    const u32 n = packetLength(&buf[pos]);
    if (buf.size() - pos - LINK_HEADER_BYTES < n) return false;
    p.type = packetType(&buf[pos]);
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
// What the system wrote since count `from` (Lib/Include/link_rings.h), as far as the ring still holds
// it.
inline std::string consoleSince(const u8* console, u32 from, linkring::ConsoleText* read = nullptr) {
  std::string text(LINK_CONSOLE_DATA, '\0');
  const linkring::ConsoleText t = linkring::consoleRead(console, from, reinterpret_cast<u8*>(text.data()));
  text.resize(t.bytes);
  if (read != nullptr) *read = t;
  return text;
}

// The complete lines written since count `from`, which moves past them; a line still being written
// stays for the next call. Where the writer went round the ring past `from`, they begin at the first
// line start of what it still holds, after a line that says how many bytes were lost.
inline std::string consoleLines(const u8* console, u32& from) {
  linkring::ConsoleText t;
  const std::string text = consoleSince(console, from, &t);
  const size_t first = t.lost > 0 ? text.find('\n') : std::string::npos;
  const size_t begin = t.lost == 0 ? 0 : first == std::string::npos ? text.size() : first + 1;
  const size_t last = text.rfind('\n');
  const size_t end = last == std::string::npos || last < begin ? begin : last + 1;
  from = linkring::consoleBefore(t.end, static_cast<u32>(text.size() - end));
  if (t.lost == 0) return text.substr(0, end);
  return "frontend: " + std::to_string(t.lost + begin) + " bytes of console text were written over before they were read " +
         "(the ring keeps the last " + std::to_string(LINK_CONSOLE_DATA) + ")\n" + text.substr(begin, end - begin);
}

// The complete lines written since the reader's place, handed to `write`: its own count where `own`
// is given, else the front end's read index. The place moves past them once `write` returns true.
template <typename Write>
bool consoleTake(u8* console, u32* own, const Write& write) {
  u32 at = own != nullptr ? *own : linkring::consoleTaken(console);
  const u32 before = at;
  if (!write(consoleLines(console, at))) return false;
  if (own != nullptr) *own = at;
  if (own == nullptr && at != before) linkring::consoleSetTaken(console, at);
  return true;
}
inline std::string consoleTake(u8* console) {
  std::string taken;
  consoleTake(console, nullptr, [&](const std::string& lines) { return taken = lines, true; });
  return taken;
}

// ---- The back end's notes of the requests it took -------------------------------------------------

inline const rules::NotesHeader& notesHeader(const u8* notes) { return *reinterpret_cast<const rules::NotesHeader*>(notes); }

// Whether the notes are those of this build's back end: published (their magic) and of the same mark.
enum class NotesFrom { ThisBuild, OtherBuild, None };
inline NotesFrom notesFrom(const u8* notes) {
  if (loadIndex(notes) != rules::NOTES_MAGIC) return NotesFrom::None;
  return loadIndex(notes + offsetof(rules::NotesHeader, build)) == rules::buildMark() ? NotesFrom::ThisBuild : NotesFrom::OtherBuild;
}

// Slots written since the back end started.
inline u32 notesWritten(const u8* notes) { return loadIndex(notes + offsetof(rules::NotesHeader, written)); }

// The flags of the notes' header (rules::BACKED_UP, ANSWERED, IN_TURNS) of this build's back end; 0
// for another's, or none.
inline u32 notesFlags(const u8* notes) {
  return notesFrom(notes) == NotesFrom::ThisBuild ? loadIndex(notes + offsetof(rules::NotesHeader, flags)) : 0;
}

// Whether every request before ring index `at` has its answer in the acknowledgement ring (as far as
// the back end says; never while its reports go out in turns).
inline bool answeredTo(const u8* notes, u32 at) {
  return (notesFlags(notes) & (rules::ANSWERED | rules::IN_TURNS)) == rules::ANSWERED &&
         loadIndex(notes + offsetof(rules::NotesHeader, answered)) == at;
}

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
  int takenType = -1;  // the type of the request that the back end took ending at `request` (-1: none seen)
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
    if (!linkring::readSlot(slots + ((n - 1) % rules::NOTE_SLOTS) * sizeof(rules::NoteSlot), n, slot.get(), sizeof *slot)) {
      out.found = RequestNotes::Found::Lost;  // written again while read
      return out;
    }
    if (slot->request == request) out.takenType = slot->type;
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
