#pragma once
// The link window: the memory at LINK_WINDOW_BASE (Lib/Include/memory_map.h) that the back end
// shares with the front end. Its regions, in this order:
//
//   console ring          text the back end logs, read by the front end
//   acknowledgement ring  packets the back end sends, read by the front end
//   request ring          packets the front end sends, read by the back end
//   notes                 how far the requests are backed up and answered, and the rules' notes of
//                         the requests the back end took, read by the tools
//
// The back end, the front end's tools and the tests take the window's form from here alone. Words
// are little-endian, as every word in memory. The front end can write anything anywhere in the
// window: the back end keeps its own indexes and counts in its own memory and bounds every value
// it reads here before it acts on it.
#include "Lib/Include/memory_map.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"

// ---- Rings ------------------------------------------------------------------------------------------
// Each ring: u32 write index (its writer's), u32 read index (its reader's), then its data bytes.
constexpr u32 LINK_RING_WRITE_INDEX = 0;
constexpr u32 LINK_RING_READ_INDEX = 4;
constexpr u32 LINK_RING_HEAD = 8;

// Console ring: the text of the log; the write index wraps to 0 past the data's last byte, and the
// ring keeps the last LINK_CONSOLE_DATA bytes. Past the data, the writer counts the bytes it has
// written since the ring was emptied, modulo LINK_CONSOLE_COUNT_WRAP (a whole number of rings, so a
// count modulo the data's size is its index), twice: before it writes them (WRITING) and after
// (WRITTEN). A reader stores beside its read index the count it stands at (TAKEN), and so tells how
// many bytes were written over before it read them.
constexpr u32 LINK_CONSOLE_OFFSET = 0;
constexpr u32 LINK_CONSOLE_DATA = 0x7FFE0;
constexpr u32 LINK_CONSOLE_WRITTEN = LINK_RING_HEAD + LINK_CONSOLE_DATA;
constexpr u32 LINK_CONSOLE_WRITING = LINK_CONSOLE_WRITTEN + 4;
constexpr u32 LINK_CONSOLE_TAKEN = LINK_CONSOLE_WRITING + 4;
constexpr u32 LINK_CONSOLE_BYTES = LINK_CONSOLE_TAKEN + 4;  // the console ring's whole region
constexpr u32 LINK_CONSOLE_COUNT_WRAP = LINK_CONSOLE_DATA * (0xFFFFFFFFu / LINK_CONSOLE_DATA);

// The acknowledgement and request rings of packets: both indexes wrap at LINK_RING_DATA, and the
// writer stops LINK_RING_RESERVE bytes short of the read index.
constexpr u32 LINK_RING_DATA = 0x1FFF8;
constexpr u32 LINK_RING_RESERVE = 16;
constexpr u32 LINK_ACK_OFFSET = 0x80000;
constexpr u32 LINK_REQUEST_OFFSET = 0xA0000;

// ---- The rules' notes (Lib/Include/rules.h), as published to the front end ---------------------------
// A header, then NOTE_SLOTS slots written in turn. A slot holds the notes of one request, under the
// ring index just past it: those made while it was taken (a record request has a slot even with no
// notes: it says that the back end took the request there), or those that a frame's update pass made
// on records of one type (the alarm texts, which the back end sets every frame, among them),
// published under the index where that frame's reading of requests ended. Its notes
// (PublishedNote::from, a rules::From) are of these kinds, each of the last two following the rule or
// range it belongs to:
//   RULE   a rule that decided bytes of a record: its effect and the offset of its text
//   RANGE  a range check that refused the value of the bytes: value holds its least and greatest
//          value (two s32); a set of ranges is a note each
//   SENT   a value of the request that the rule or range read to decide
//   HELD   a value the back end held that the rule or range read to decide
// A slot is written with its sequence at 0 and the sequence set last, so a reader that finds the same
// sequence before and after its copy has a whole slot.
constexpr u32 LINK_NOTES_OFFSET = 0xC0000;

namespace rules {

constexpr u32 NOTES_MAGIC = 0x4E4F5445;  // "NOTE"
constexpr int NOTE_SLOTS = 48;
constexpr int NOTES_PER_SLOT = 160;
constexpr int NOTE_TEXT_BYTES = 2048;

struct NotesHeader {
  u32 magic;
  u32 build;      // the back end's build (buildMark): rules and records as this source states them
  u32 written;    // slots written since the start; slot n lies at n % NOTE_SLOTS
  u32 backedUp;   // request ring index: every request before it is in the backup image
  u32 flags;      // BACKED_UP, ANSWERED, IN_TURNS: each set only while what it says holds
  u32 answered;   // request ring index: every request before it has its answer in the acknowledgement ring
  u32 frames;     // frames run since the start
  u32 waitLeft;   // frames for which a wait still holds the requests back
  u32 dropped;    // times since the start that request bytes not read were dropped (the ring started again,
                  // or its indexes were found written over)
  u32 droppedTo;  // request ring index: where reading went on after the last drop
  u32 overwritten;  // frames since the start that found a packet ring's index word holding what no side
                    // stores there (a request write index outside the ring among them)
  u32 unused[5];
};
constexpr u32 BACKED_UP = 1;  // backedUp holds
constexpr u32 ANSWERED = 2;   // answered holds: the last frame sent a whole pass of reports (never in turns)
constexpr u32 IN_TURNS = 4;   // the status reports, answers among them, go out in turns (MxifEventMemory)

struct PublishedNote {
  u8 from;    // From
  u8 effect;  // the rule's Effect
  u16 type;
  s8 me;
  s8 channel;
  u16 at;
  u16 size;
  u16 text;  // a rule's text: its offset in the slot's text bytes
  u8 value[VALUE_BYTES];
};

struct NoteSlot {
  u32 sequence;  // 1 + the number of slots written before it since the start; 0 while written
  u32 request;   // the request ring index just past the request's packet
  u16 type;      // the request's type
  u16 count;     // notes kept
  u16 lost;      // notes not kept: the slot was full
  u16 textBytes;
  PublishedNote notes[NOTES_PER_SLOT];
  char text[NOTE_TEXT_BYTES];
};

static_assert(sizeof(NotesHeader) == 64 && sizeof(PublishedNote) == 20);
constexpr u32 NOTES_BYTES = sizeof(NotesHeader) + NOTE_SLOTS * sizeof(NoteSlot);

}  // namespace rules

// ---- The regions in the window ----------------------------------------------------------------------
constexpr u32 LINK_CONSOLE_RING = LINK_WINDOW_BASE + LINK_CONSOLE_OFFSET;
constexpr u32 LINK_ACK_RING = LINK_WINDOW_BASE + LINK_ACK_OFFSET;
constexpr u32 LINK_REQUEST_RING = LINK_WINDOW_BASE + LINK_REQUEST_OFFSET;
constexpr u32 LINK_NOTES = LINK_WINDOW_BASE + LINK_NOTES_OFFSET;

struct LinkRegion {
  u32 offset;  // in the window
  u32 bytes;
};
constexpr LinkRegion LINK_REGIONS[] = {{LINK_CONSOLE_OFFSET, LINK_CONSOLE_BYTES},
                                       {LINK_ACK_OFFSET, LINK_RING_HEAD + LINK_RING_DATA},
                                       {LINK_REQUEST_OFFSET, LINK_RING_HEAD + LINK_RING_DATA},
                                       {LINK_NOTES_OFFSET, rules::NOTES_BYTES}};

// Each region begins past the end of the one before it and the last ends inside the window.
constexpr bool linkRegionsInOrder() {
  u32 end = 0;
  for (const LinkRegion& r : LINK_REGIONS) {
    if (r.offset < end || r.bytes > LINK_WINDOW_SIZE - r.offset) return false;
    end = r.offset + r.bytes;
  }
  return true;
}
static_assert(linkRegionsInOrder(), "the link window's regions overlap or pass its end");
