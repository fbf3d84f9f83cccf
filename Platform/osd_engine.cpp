#include "Platform/osd_engine.h"

namespace platform {
namespace {
constexpr u32 FIFO_FULL = 1u << 2, BUSY = 1u << 3, FLUSH_PENDING = 1u << 4;
constexpr u32 RESET = 1, FLUSH = 2;
}  // namespace

void OsdEngine::reset() {
  stuck_ = pending_ = false;
  commands_.clear();
  flushes_.clear();
  resets_ = 0;
}

void OsdEngine::setStuck(bool on) { stuck_ = on; }

bool OsdEngine::read(u32 adr, u32& value) {
  if (adr != STATUS) return false;
  value = (stuck_ ? FIFO_FULL | BUSY : 0u) | (pending_ ? FLUSH_PENDING : 0u);
  return true;
}

void OsdEngine::write(u32 adr, u32 value) {
  if (adr == FIFO) {
    commands_.push_back(value);
    pending_ = true;
  } else if (value == RESET) {
    ++resets_;
    pending_ = false;
  } else if (value == FLUSH && pending_) {
    flushes_.push_back(commands_.size());
    pending_ = false;
  }
}

OsdEngine& osdEngine() {
  static OsdEngine* engine = [] {
    static OsdEngine e;
    attachDevice(OsdEngine::STATUS, 8, &e);
    return &e;
  }();
  return *engine;
}

}  // namespace platform
