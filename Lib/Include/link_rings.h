#pragma once
// Reading and writing the link window (Lib/Include/link_window.h) for both of its sides: the back end
// over the board's memory, the front end's tools over their mapping of link.mem. The rings' data and
// index words, the console ring, and the sequence of the notes' slots, each with the order in which
// the other side must see it: a store of an index releases the bytes written before it, a load of
// one acquires the bytes it covers, and a slot is read between two loads of its sequence, fenced on
// both sides. Header only, and free of the system's other code, so the tools need none of it.
#include <atomic>
#include <bit>
#include <cstring>

#include "Lib/Include/link_window.h"
#include "Lib/Include/types.h"

namespace linkring {

// ---- Order ------------------------------------------------------------------------------------------
// On the target processor (32-bit ARM), whose stores the front-end processor may see in another
// order, the order is its data memory barrier around a plain access (dmb: full system, as the front
// end shares the memory from outside this core); elsewhere the C++ acquire and release.
#if defined(__arm__)
inline void barrier() { __asm__ __volatile__("dmb" ::: "memory"); }
inline void acquireFence() { barrier(); }
inline void releaseFence() { barrier(); }
inline u32 loadWord(const u8* word) {
  const u32 v = *reinterpret_cast<const volatile u32*>(word);
  barrier();
  return v;
}
inline void storeWord(u8* word, u32 v) {
  barrier();
  *reinterpret_cast<volatile u32*>(word) = v;
}
#else
inline void acquireFence() { std::atomic_thread_fence(std::memory_order_acquire); }
inline void releaseFence() { std::atomic_thread_fence(std::memory_order_release); }
inline u32 loadWord(const u8* word) {
  return std::atomic_ref<u32>(*reinterpret_cast<u32*>(const_cast<u8*>(word))).load(std::memory_order_acquire);
}
inline void storeWord(u8* word, u32 v) { std::atomic_ref<u32>(*reinterpret_cast<u32*>(word)).store(v, std::memory_order_release); }
#endif

// A word of the window (little-endian whatever the host), loaded with acquire: what was written
// before its store is seen after it.
inline u32 load(const u8* word) {
  const u32 v = loadWord(word);
  if constexpr (std::endian::native == std::endian::big) return __builtin_bswap32(v);
  return v;
}
// Stores a word of the window with release: what was written before it is seen by a side that sees it.
inline void store(u8* word, u32 v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  storeWord(word, v);
}

// ---- Ring arithmetic --------------------------------------------------------------------------------
// Indexes inside a ring's data of `size` bytes (the packet rings' unless given): each side bounds the
// other's before it uses it.

// Bytes written and not yet read.
constexpr u32 used(u32 write, u32 read, u32 size = LINK_RING_DATA) {
  return static_cast<u32>((u64{write} + size - read) % size);
}
// Bytes the writer of a packet ring may still add: it stops LINK_RING_RESERVE bytes short of the read
// index.
constexpr u32 room(u32 write, u32 read) {
  const u32 u = used(write, read);
  return u + LINK_RING_RESERVE >= LINK_RING_DATA ? 0 : LINK_RING_DATA - LINK_RING_RESERVE - u;
}
// The index n bytes on from at.
constexpr u32 ahead(u32 at, u32 n, u32 size = LINK_RING_DATA) { return static_cast<u32>((u64{at} + n) % size); }

// Copies n bytes into the data from index at on, across the wrap; returns the index past them.
inline u32 put(u8* data, u32 at, const u8* p, u32 n, u32 size = LINK_RING_DATA) {
  if (n == 0) return at;
  const u32 first = n < size - at ? n : size - at;
  std::memcpy(data + at, p, first);
  std::memcpy(data, p + first, n - first);
  return ahead(at, n, size);
}
// Copies n bytes out of the data from index at on, across the wrap; returns the index past them.
inline u32 get(const u8* data, u32 at, u8* p, u32 n, u32 size = LINK_RING_DATA) {
  if (n == 0) return at;
  const u32 first = n < size - at ? n : size - at;
  std::memcpy(p, data + at, first);
  std::memcpy(p + first, data, n - first);
  return ahead(at, n, size);
}

// Sets n bytes of the data to zero from index at on, across the wrap.
inline void clear(u8* data, u32 at, u32 n, u32 size = LINK_RING_DATA) {
  const u32 first = n < size - at ? n : size - at;
  std::memset(data + at, 0, first);
  std::memset(data, 0, n - first);
}

// ---- A ring in the window: its index words, then its data -------------------------------------------
inline u32 writeIndex(const u8* ring) { return load(ring + LINK_RING_WRITE_INDEX); }
inline u32 readIndex(const u8* ring) { return load(ring + LINK_RING_READ_INDEX); }
inline void setWriteIndex(u8* ring, u32 v) { store(ring + LINK_RING_WRITE_INDEX, v); }
inline void setReadIndex(u8* ring, u32 v) { store(ring + LINK_RING_READ_INDEX, v); }
inline u8* data(u8* ring) { return ring + LINK_RING_HEAD; }
inline const u8* data(const u8* ring) { return ring + LINK_RING_HEAD; }

// ---- Console ring -----------------------------------------------------------------------------------
// At `console`: its index words, its data, then its counts (Lib/Include/link_window.h). A count goes
// round at LINK_CONSOLE_COUNT_WRAP: the distance from one to another is taken forwards.
constexpr u32 consoleAhead(u32 from, u32 to) { return used(to, from, LINK_CONSOLE_COUNT_WRAP); }
// The count n bytes before at.
constexpr u32 consoleBefore(u32 at, u32 n) { return used(at, n, LINK_CONSOLE_COUNT_WRAP); }

// The writer's count: WRITTEN, read back from the window where a warm restart finds it. One past the
// wrap (the front end can write anything there) goes on from the write index, or from 0 when that
// lies outside the data too.
inline u32 consoleWritten(const u8* console) {
  const u32 written = load(console + LINK_CONSOLE_WRITTEN);
  if (written < LINK_CONSOLE_COUNT_WRAP) return written;
  const u32 at = writeIndex(console);
  return at < LINK_CONSOLE_DATA ? at : 0;
}

// Appends n bytes where the count says (only the last ring's worth of them stays), and stores the
// write index and the count past them. The count goes before the bytes too (WRITING), so that a
// reader that copied them meanwhile knows which it may have got written over.
inline void consoleAppend(u8* console, const u8* p, u32 n) {
  const u32 from = consoleWritten(console), to = ahead(from, n, LINK_CONSOLE_COUNT_WRAP);
  const u32 skip = n > LINK_CONSOLE_DATA ? n - LINK_CONSOLE_DATA : 0;
  store(console + LINK_CONSOLE_WRITING, to);
  releaseFence();  // the count before the bytes
  put(data(console), ahead(from, skip, LINK_CONSOLE_DATA), p + skip, n - skip, LINK_CONSOLE_DATA);
  setWriteIndex(console, to % LINK_CONSOLE_DATA);
  store(console + LINK_CONSOLE_WRITTEN, to);
}

// Empties the console ring.
inline void consoleReset(u8* console) {
  for (u32 word : {LINK_CONSOLE_WRITING, LINK_CONSOLE_WRITTEN, LINK_CONSOLE_TAKEN}) store(console + word, 0);
  setWriteIndex(console, 0), setReadIndex(console, 0);
}

// What the text since a count is: `bytes` of it copied, after `lost` bytes written over before they
// could be; `end` is the count past them.
struct ConsoleText {
  u32 bytes = 0;
  u32 lost = 0;
  u32 end = 0;
};

// Copies the text written since count `from` into out (room for LINK_CONSOLE_DATA bytes): the last
// ring's worth of it, less what the writer began to write over while it was copied. A count ahead of
// the writer's (the ring emptied since, or the counts written over) reads from the ring's start, or
// from a ring's worth back.
inline ConsoleText consoleRead(const u8* console, u32 from, u8* out) {
  ConsoleText t;
  t.end = consoleWritten(console);
  u32 behind = consoleAhead(from, t.end);
  if (behind > LINK_CONSOLE_COUNT_WRAP / 2) behind = t.end < LINK_CONSOLE_DATA ? t.end : LINK_CONSOLE_DATA;
  u32 n = behind < LINK_CONSOLE_DATA ? behind : LINK_CONSOLE_DATA;
  const u32 start = consoleBefore(t.end, n);
  get(data(console), start % LINK_CONSOLE_DATA, out, n, LINK_CONSOLE_DATA);
  acquireFence();  // the copy before the look at where the writer has got to
  const u32 reach = consoleAhead(start, load(console + LINK_CONSOLE_WRITING));
  if (reach > LINK_CONSOLE_DATA) {
    const u32 over = reach - LINK_CONSOLE_DATA < n ? reach - LINK_CONSOLE_DATA : n;
    std::memmove(out, out + over, n - over);
    n -= over;
  }
  t.bytes = n;
  t.lost = behind - n;
  return t;
}

// The count a reader's read index stands at: TAKEN, where it goes with the index; else (a reader
// that keeps no count, or the words written over) the index's place in the last ring's worth, no
// further back than the ring's start.
inline u32 consoleTaken(const u8* console) {
  const u32 at = readIndex(console) % LINK_CONSOLE_DATA, taken = load(console + LINK_CONSOLE_TAKEN);
  if (taken < LINK_CONSOLE_COUNT_WRAP && taken % LINK_CONSOLE_DATA == at) return taken;
  const u32 end = consoleWritten(console), back = used(end % LINK_CONSOLE_DATA, at, LINK_CONSOLE_DATA);
  return back < end ? end - back : 0;
}
// Stores the reader's place: its count, then the read index that goes with it.
inline void consoleSetTaken(u8* console, u32 taken) {
  store(console + LINK_CONSOLE_TAKEN, taken);
  setReadIndex(console, taken % LINK_CONSOLE_DATA);
}

// ---- The notes' slots -------------------------------------------------------------------------------
// A slot is written with its sequence at 0 and the sequence set last (rules::NoteSlot).
inline void beginSlot(u8* slot) {
  store(slot, 0);
  releaseFence();  // the sequence at 0 before any of the slot's bytes
}
inline void endSlot(u8* slot, u32 sequence) { store(slot, sequence); }
// Copies `bytes` of the slot whose sequence is `sequence` into out; false when it is not that slot
// whole (another one, or being written while copied).
inline bool readSlot(const u8* slot, u32 sequence, void* out, size_t bytes) {
  if (load(slot) != sequence) return false;
  std::memcpy(out, slot, bytes);
  acquireFence();  // the copy before the second look at the sequence
  return load(slot) == sequence;
}

}  // namespace linkring
