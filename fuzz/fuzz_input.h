#pragma once
// The input form both fuzz targets share. Byte 0 sets the run (bits 0..2: frames over which the rest
// is spread, 1..8; bit 7: the front end does not read the acknowledgement ring); the remaining bytes
// are the request stream, written into the request ring a share per frame.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Tools/lib/link/ring.h"
#include "Platform/platform.h"

namespace fuzzing {

inline u8* ring(u32 adr) { return platform::memory(adr, LINK_RING_HEAD + LINK_RING_DATA); }

// With MX_FUZZ_ACKS set, every byte the system writes to the acknowledgement ring is also appended to
// that file, so two builds' answers can be compared input by input.
inline void keepAcks() {
  static std::FILE* file = [] {
    const char* path = std::getenv("MX_FUZZ_ACKS");
    return path != nullptr ? std::fopen(path, "wb") : nullptr;
  }();
  if (file == nullptr) return;
  const linkpeer::Bytes bytes = linkpeer::ringPeek(ring(LINK_ACK_RING));
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
}

// Starts from a fresh link and fresh records, then runs frame(field) once per share of the input
// and four times after it, draining the acknowledgement ring as the front end would.
template <class Frame>
void runInput(category::CategoryRegistry& reg, const uint8_t* data, size_t size, Frame frame) {
  mxFifoReset();
  linkInit();
  reg.resetLinkState();
  reg.initializeAll();
  if (size == 0) return;

  const int frames = 1 + (data[0] & 7);
  const bool frontEndReads = (data[0] & 0x80) == 0;
  const u8* p = data + 1;
  size_t left = size - 1;
  const size_t chunk = (left + frames - 1) / frames;
  auto step = [&](int f) {
    frame(f & 1);
    if (frontEndReads) {
      keepAcks();
      u8* ack = ring(LINK_ACK_RING);
      linkpeer::ringConsume(ack, linkpeer::ringUsed(ack));
    }
  };
  for (int f = 0; f < frames; ++f) {
    size_t written = linkpeer::ringWrite(ring(LINK_REQUEST_RING), p, left < chunk ? left : chunk);
    p += written;
    left -= written;
    step(f);
  }
  for (int f = 0; f < 4; ++f) step(f);
  if (!frontEndReads) keepAcks();
}

}  // namespace fuzzing
