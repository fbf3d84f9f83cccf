#include "Platform/dma_engine.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

constexpr u32 BUSY = 0x80000000u;

// Memory regions that a burst can fill with one copy.
bool isMemory(u32 adr, u32 bytes) {
  struct Range {
    u32 base, size;
  };
  static constexpr Range ranges[] = {{LINK_BASE, LINK_SIZE},       {SHARED_BASE, SHARED_SIZE},   {NVRAM_BASE, NVRAM_SIZE},
                                     {OCM_BASE, OCM_SIZE},         {DRAM_BASE, DRAM_SIZE},       {DISPLAY_BASE, DISPLAY_SIZE},
                                     {BUFFER_BASE, BUFFER_SIZE},   {PROGRAM_BASE, PROGRAM_SIZE}};
  for (const auto& r : ranges) {
    if (adr >= r.base && static_cast<u64>(adr) + bytes <= static_cast<u64>(r.base) + r.size) return true;
  }
  return false;
}

void timerHook(u64) { dmaEngine().service(); }

// Stores a burst into memory at adr block by block, leaving blocks that hold the data already
// untouched: a burst that repeats the same bytes every frame (the backup image) then costs a
// comparison, and the pages of a board file stay clean. The board hears of each block stored.
void storeBurst(u32 adr, const u32* data, u32 bytes) {
  constexpr u32 BLOCK = 4096;
  u8* to = memory(adr, bytes);
  const u8* from = reinterpret_cast<const u8*>(data);
  for (u32 at = 0; at < bytes; at += BLOCK) {
    const u32 n = std::min(BLOCK, bytes - at);
    if (std::memcmp(to + at, from + at, n) == 0) continue;
    boardStores(adr + at, from + at, n);
    std::memcpy(to + at, from + at, n);
  }
}

}  // namespace

DmaEngine& dmaEngine() {
  static DmaEngine engine;
  if (!engine.attached_) {
    attachDevice(DmaEngine::REGS, DmaEngine::STRIDE * DmaEngine::CHANNELS, &engine);
    engine.attached_ = true;
  }
  return engine;
}

void DmaEngine::detach() {
  reset();
  detachDevice(this);
  attached_ = false;
}

int DmaEngine::channelOf(u32 adr) { return static_cast<int>((adr - REGS) / STRIDE); }

void DmaEngine::reset() {
  for (auto& c : channels_) c = Channel{};
  removeTimerHook(timerHook);
}

void DmaEngine::setLatencyUs(int ch, u32 us) { channels_[ch].latencyUs = us; }
void DmaEngine::setStuck(int ch, bool stuck) { channels_[ch].stuck = stuck; }
int DmaEngine::completedRuns(int ch) const { return channels_[ch].completed; }
int DmaEngine::failedRuns(int ch) const { return channels_[ch].failed; }
bool DmaEngine::busy(int ch) const { return channels_[ch].cmdBusy || channels_[ch].readBusy; }

bool DmaEngine::read(u32 adr, u32& value) {
  Channel& c = channels_[channelOf(adr)];
  switch ((adr - REGS) % STRIDE) {
    case 0x04:
      progress(c);
      value = c.cmdBusy ? BUSY : 0;
      return true;
    case 0x14:
      progress(c);
      value = c.readBusy ? BUSY : 0;
      return true;
    default:
      return false;
  }
}

void DmaEngine::write(u32 adr, u32 value) {
  Channel& c = channels_[channelOf(adr)];
  const u32 base = REGS + STRIDE * static_cast<u32>(channelOf(adr));
  switch (adr - base) {
    case 0x00:
      if (value == 0) {
        c.running = c.cmdBusy = c.readBusy = false;
      } else if (value & BUSY) {
        start(c, value & ~BUSY, regPeek(base + 0x08));
      }
      break;
    case 0x10:
      if (value & BUSY) {
        c.readAdr = value & ~BUSY;
        c.readWords = 0;
        c.readBusy = true;
      }
      break;
    default:
      break;
  }
}

void DmaEngine::start(Channel& c, u32 listAdr, u32 lengthReg) {
  c.running = true;
  c.cmdBusy = true;
  c.listAdr = listAdr;
  c.listWords = (lengthReg + 1) / 4;
  c.pos = 0;
  c.startTick = clockNow();
  addTimerHook(timerHook);
  progress(c);
}

void DmaEngine::service() {
  bool any = false;
  for (auto& c : channels_) {
    progress(c);
    any = any || c.running;
    // The clock may skip ahead in a wait, but not past the start of a run or a poll that goes on.
    if (c.running && !c.stuck) clockWakeBy(std::max(c.startTick + static_cast<u64>(c.latencyUs) * TICKS_PER_US, clockNow()));
  }
  if (!any) removeTimerHook(timerHook);
}

void DmaEngine::finish(Channel& c, bool ok) {
  c.running = c.cmdBusy = c.readBusy = false;
  ++(ok ? c.completed : c.failed);
}

void DmaEngine::store(Channel& c, u32 value) {
  if (!c.readBusy || c.readWords >= READ_BUFFER_BYTES / 4) return;  // no read side, or full
  writeMem32(c.readAdr + 4 * c.readWords, value);
  ++c.readWords;
}

// Runs commands until the list ends or a poll is not yet satisfied.
void DmaEngine::progress(Channel& c) {
  if (!c.running || c.stuck || inProgress_) return;
  if (clockNow() < c.startTick + static_cast<u64>(c.latencyUs) * TICKS_PER_US) return;
  inProgress_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{inProgress_};
  const u32* list = reinterpret_cast<const u32*>(memory(c.listAdr, c.listWords * 4));
  while (c.running) {
    if (c.pos >= c.listWords) return finish(c, false);  // ran off the list without a terminator
    const u32 first = list[c.pos];
    if (first == 0) return finish(c, true);
    const u32 adr = first & ~3u;
    const u32 op = first & 3u;
    const u32 words = op == 2 ? 3 : 2;
    if (c.pos + words > c.listWords) return finish(c, false);
    const u32 arg = list[c.pos + 1];
    switch (op) {
      case 0:
        writeReg(adr, arg);
        c.pos += 2;
        break;
      case 1: {
        const u32 n = ((arg & ~BUSY) + 1) / 4;
        if (!(arg & BUSY) || c.pos + 2 + n > c.listWords) return finish(c, false);
        const u32* data = list + c.pos + 2;
        if (isMemory(adr, 4 * n)) {
          storeBurst(adr, data, 4 * n);
        } else {
          for (u32 i = 0; i < n; ++i) writeReg(adr + 4 * i, data[i]);
        }
        c.pos += 2 + n;
        break;
      }
      case 2: {
        const u32 mask = list[c.pos + 2];
        const u32 value = readReg(adr);
        const bool done = (arg & BUSY) ? (value & mask) != 0 : (value & mask) == 0;
        if (!done) return;  // tried again as time passes
        c.pos += 3;
        break;
      }
      default: {
        const u32 n = ((arg & ~BUSY) + 1) / 4;
        const bool advancing = (arg & BUSY) != 0;
        for (u32 i = 0; i < n; ++i) store(c, readReg(advancing ? adr + 4 * i : adr));
        c.pos += 2;
        break;
      }
    }
  }
}

}  // namespace platform
