// Feeds arbitrary bytes through the request ring into the whole system: every category that start-up
// creates, with its own reader, runs its frames as the VSYNC callback does (driver update, then the
// registry's frame work, inside the callback's catch-all).
//
// Input: byte 0 sets the run (bits 0..2: frames over which the rest is spread, 1..8; bit 7: the
// front end does not read the acknowledgement ring); the remaining bytes are the request stream.
#include <cstdint>

#include "Driver/core.h"
#include "Main/bp.h"
#include "Main/link.h"
#include "Main/startup.h"
#include "Main/vsync.h"
#include "Tools/lib/link_ring.h"
#include "board.h"
#include "board_models.h"
#include "vsync.h"

namespace {

u8* ring(u32 adr) { return platform::memory(adr, 8 + LINK_RING_DATA); }

category::CategoryRegistry& setUp() {
  static bool ready = [] {
    platform::BoardOptions options;
    options.clock = platform::ClockMode::Stepped;
    platform::boardOpen(options);
    platform::setDebugEcho(false);
    platform::attachBoardModels();
    platform::vsyncSetAuto(false);  // frames run here, not from the board's interrupt
    mxBoardInit();
    category::CategoryRegistry::instance().reset();
    createCategories();
    category::CategoryRegistry::instance().initialize();
    return true;
  }();
  (void)ready;
  return category::CategoryRegistry::instance();
}

void frame(bool frontEndReads, int field) {
  onVsync(field);
  if (frontEndReads) {
    u8* ack = ring(LINK_ACK_RING);
    linkpeer::ringConsume(ack, linkpeer::ringUsed(ack));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& reg = setUp();
  // Every input starts from a fresh link and fresh records.
  mxFifoReset();
  linkInit();
  reg.waitFrames = 0;
  reg.sendEnabled = 1;
  reg.phase = 0;
  reg.initializeAll();
  if (size == 0) return 0;

  int frames = 1 + (data[0] & 7);
  bool frontEndReads = (data[0] & 0x80) == 0;
  const u8* p = data + 1;
  size_t left = size - 1;
  size_t chunk = (left + frames - 1) / frames;
  for (int f = 0; f < frames; ++f) {
    size_t n = left < chunk ? left : chunk;
    size_t written = linkpeer::ringWrite(ring(LINK_REQUEST_RING), p, n);
    p += written;
    left -= written;
    frame(frontEndReads, f & 1);
  }
  for (int f = 0; f < 4; ++f) frame(frontEndReads, f & 1);
  return 0;
}
