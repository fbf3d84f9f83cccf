// Writes arbitrary bytes into the link window between the frames of the whole system while requests
// go in, as a front end that writes over the window might: the rings' index words and data, the
// console ring, the notes' header and slots. The system must keep running, write nothing in the window
// outside its regions, and, once the writing stops and the front end starts its ring again, take a
// request. Else the run aborts.
//
// The input form is fuzz_input.h's; besides, bits 3..6 of byte 0 give the writes before each frame
// (4 x (1 + n)), each taken from the input's end backwards: 3 bytes of place, 4 of value. A place below
// 0x100 picks one of the window's index and count words; any other lies in a region, written as far
// as the region goes.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Lib/Include/link_window.h"
#include "Lib/Include/records/system.h"
#include "Main/framework/vsync.h"
#include "Tools/lib/link/ring.h"
#include "Tools/lib/records/types.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/whole_system.h"

namespace {

// The words whose values the back end could act on: the rings' indexes, the console's count, the
// notes' header, and the counts of the first slots.
constexpr auto INDEX_WORDS = [] {
  std::array<u32, 28> at{};
  size_t n = 0;
  for (u32 ring : {LINK_CONSOLE_OFFSET, LINK_ACK_OFFSET, LINK_REQUEST_OFFSET}) at[n++] = ring, at[n++] = ring + 4;
  at[n++] = LINK_CONSOLE_OFFSET + LINK_CONSOLE_WRITTEN;
  for (u32 w = 0; w < 5; ++w) at[n++] = LINK_NOTES_OFFSET + 4 * w;
  for (u32 slot = 0; slot < 4; ++slot) {
    for (u32 w = 0; w < 4; ++w) at[n++] = LINK_NOTES_OFFSET + sizeof(rules::NotesHeader) + slot * sizeof(rules::NoteSlot) + 4 * w;
  }
  return at;
}();

// The writes of the input's end, taken backwards.
class Writer {
 public:
  Writer(const uint8_t* data, size_t size) : data_(data), left_(size > 1 ? size - 1 : 0) {}

  void writeSome(int n) {
    u8* window = platform::memory(LINK_WINDOW_BASE, LINK_WINDOW_SIZE);
    for (int i = 0; i < n && left_ >= 7; ++i) {
      const uint8_t* w = data_ + 1 + (left_ -= 7);
      const u32 place = u32{w[0]} << 16 | u32{w[1]} << 8 | w[2];
      u32 offset = 0, room = 4;
      if (place < 0x100) {
        offset = INDEX_WORDS[place % INDEX_WORDS.size()];
      } else {
        u32 at = place % regionBytes();
        for (const LinkRegion& r : LINK_REGIONS) {
          if (at < r.bytes) {
            offset = r.offset + at, room = std::min<u32>(4, r.bytes - at);
            break;
          }
          at -= r.bytes;
        }
      }
      std::memcpy(window + offset, w + 3, room);
    }
  }

 private:
  static u32 regionBytes() {
    u32 n = 0;
    for (const LinkRegion& r : LINK_REGIONS) n += r.bytes;
    return n;
  }
  const uint8_t* data_;
  size_t left_;
};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "link window: %s\n", what);
  std::abort();
}

// No byte of the window outside its regions was written (they start zero and the writes keep out).
void checkOutsideRegions() {
  const u8* window = platform::memory(LINK_WINDOW_BASE, LINK_WINDOW_SIZE);
  u32 from = 0;
  for (size_t i = 0; i <= std::size(LINK_REGIONS); ++i) {
    const u32 to = i < std::size(LINK_REGIONS) ? LINK_REGIONS[i].offset : LINK_WINDOW_SIZE;
    for (u32 at = from; at < to; ++at) {
      if (window[at] != 0) fail("a byte outside the regions was written");
    }
    if (i < std::size(LINK_REGIONS)) from = LINK_REGIONS[i].offset + LINK_REGIONS[i].bytes;
  }
}

// The front end starts its request ring again (a write index outside it), then sends a horizontal
// phase other than the one held: the system takes it within a few frames.
void checkTakesARequest(category::CategoryRegistry& reg) {
  u8* requests = platform::memory(LINK_REQUEST_RING, LINK_RING_HEAD + LINK_RING_DATA);
  linkpeer::storeIndex(requests + LINK_RING_WRITE_INDEX, ~0u);
  onVsync(0);
  const auto* held = reinterpret_cast<const MxifSystem*>(reg.storageOf(category::TYPE_SYSTEM, 0));
  const s16 want = held->horizontalPhase == 7 ? 8 : 7;
  linkpeer::Bytes body;
  std::string error;
  if (!frontend::buildBody(category::TYPE_SYSTEM, {{"horizontalPhase", std::to_string(want)}}, body, error)) fail(error.c_str());
  const linkpeer::Bytes packet = linkpeer::packetBytes(category::TYPE_SYSTEM, body);
  if (linkpeer::ringWrite(requests, packet.data(), packet.size()) != packet.size()) fail("no room in a ring started again");
  for (int f = 0; f < 4 && held->horizontalPhase != want; ++f) onVsync(f & 1);
  if (held->horizontalPhase != want) fail("a request after the writing stopped was not taken");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  category::CategoryRegistry& reg = fuzzing::wholeSystem();
  Writer writer(data, size);
  const int writes = size > 0 ? 4 * (1 + ((data[0] >> 3) & 15)) : 0;
  fuzzing::runInput(reg, data, size, [&](int field) {
    writer.writeSome(writes);
    onVsync(field);
  });
  checkOutsideRegions();
  checkTakesARequest(reg);
  return 0;
}
