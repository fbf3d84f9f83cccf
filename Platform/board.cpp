// Host implementation of the platform seam: memory map over board directory files, the FPGA
// register file with its trace, the virtual clock and the interrupt controller.
#include "Platform/board.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace platform {
namespace {

// ---- memory regions -------------------------------------------------------------------------------
struct Region {
  const char* file;  // board directory file, or null for host-only memory
  u32 base;
  u32 size;
  bool volatileOnPowerOn;
  u8* host = nullptr;
  int fd = -1;  // the board directory file, kept open for releaseZeroPages
};

std::array<Region, 9> regions{{
    {"link.mem", LINK_BASE, LINK_SIZE, true},
    {"shared.mem", SHARED_BASE, SHARED_SIZE, true},
    {"nvram.mem", NVRAM_BASE, NVRAM_SIZE, false},
    {"ocm.mem", OCM_BASE, OCM_SIZE, true},
    {nullptr, DRAM_BASE, DRAM_SIZE, true},
    {nullptr, DISPLAY_BASE, DISPLAY_SIZE, true},
    {nullptr, BUFFER_BASE, BUFFER_SIZE, true},
    {nullptr, PROGRAM_BASE, PROGRAM_SIZE, true},
    {nullptr, IMAGE_RAM_BASE, IMAGE_RAM_SIZE, true},
}};

BoardOptions options;
bool open = false;

struct WriteLog {
  bool on = false;
  u32 base = 0;
  u32 size = 0;
  std::vector<MemoryWrite> writes;
};
WriteLog writeLog;
FILE* traceFile = nullptr;
bool debugEcho = true;
DebugSink debugSink = nullptr;

void defaultFault(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::fflush(stderr);
  std::abort();
}
FaultHandler faultHandler = defaultFault;

void defaultEnd(EndReason reason, u32 arg) {
  static const char* names[] = {"restart", "halt", "hand-off"};
  std::fprintf(stderr, "board: %s (0x%08x)\n", names[static_cast<int>(reason)], arg);
  std::exit(reason == EndReason::Restart ? 3 : reason == EndReason::Halt ? 4 : 5);
}
EndHandler endHandler = defaultEnd;

void mapRegion(Region& r, const std::string& dir, bool clear) {
  void* p = MAP_FAILED;
  if (r.file == nullptr || dir.empty()) {
    p = mmap(nullptr, r.size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  } else {
    std::string path = dir + "/" + r.file;
    r.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (r.fd < 0) fault("board: cannot open %s: %s", path.c_str(), std::strerror(errno));
    struct stat st {};
    fstat(r.fd, &st);
    if (clear || st.st_size != static_cast<off_t>(r.size)) {
      // A new or resized file, or a power cycle: start from zeroes (a sparse file, no disk used).
      if (ftruncate(r.fd, 0) != 0 || ftruncate(r.fd, r.size) != 0) {
        fault("board: cannot size %s: %s", path.c_str(), std::strerror(errno));
      }
    }
    p = mmap(nullptr, r.size, PROT_READ | PROT_WRITE, MAP_SHARED, r.fd, 0);
  }
  if (p == MAP_FAILED) fault("board: cannot map 0x%08x: %s", r.base, std::strerror(errno));
  r.host = static_cast<u8*>(p);
}

Region* findRegion(u32 adr, u32 size) {
  for (auto& r : regions) {
    if (r.host != nullptr && adr >= r.base && static_cast<u64>(adr) + size <= static_cast<u64>(r.base) + r.size) return &r;
  }
  return nullptr;
}

// ---- register file --------------------------------------------------------------------------------
// A two-level table of 4 KiB pages over the register spaces, allocated on first use.
constexpr u32 PAGE_SHIFT = 12;
constexpr u32 PAGE_WORDS = 1u << (PAGE_SHIFT - 2);
// Board models answer address ranges; several may share one page (the glue FPGA's first page holds
// the interrupt, NAND and DMA registers).
struct DeviceRange {
  u32 base = 0;
  u32 end = 0;  // last address of the range
  RegisterDevice* device = nullptr;
};
constexpr int PAGE_DEVICES = 12;
struct Page {
  std::array<u32, PAGE_WORDS> words{};
  std::array<DeviceRange, PAGE_DEVICES> devices{};
  RegisterDevice* deviceAt(u32 adr) const {
    for (const auto& d : devices) {
      if (d.device != nullptr && adr >= d.base && adr <= d.end) return d.device;
    }
    return nullptr;
  }
};
std::unique_ptr<std::unique_ptr<Page>[]> pages;  // indexed by adr >> 12

bool isRegisterSpace(u32 adr) {
  u32 top = adr >> 28;
  return top == 0x4 || top == 0x8 || (adr >> 20) == 0xF8F;
}

Page* page(u32 adr, bool create) {
  if (!pages) pages = std::make_unique<std::unique_ptr<Page>[]>(1u << (32 - PAGE_SHIFT));
  auto& p = pages[adr >> PAGE_SHIFT];
  if (!p && create) p = std::make_unique<Page>();
  return p.get();
}

constexpr size_t TRACE_KEEP = 1u << 16;
std::vector<TraceEntry> traceRing(TRACE_KEEP);
u64 traceCount = 0;
u32 traceFrame = 0;
int traceStageNo = 0;

// ---- clock ----------------------------------------------------------------------------------------
ClockMode mode = ClockMode::Stepped;
u64 ticks = 0;
std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();
u64 realOffset = 0;
std::vector<TimerHook> hooks;
bool inHooks = false;

// Real-time mode lets the host sleep in a busy wait: a run of timer reads with no other access
// between them. After IDLE_SPIN_US of such reads, each further read first sleeps for as long as
// the run has lasted, at most IDLE_SLEEP_MAX_US and never past the next event a board model
// announced (clockWakeBy). The clock still follows the host clock, so waits end and interrupts
// come at the same ticks; a wait only ends up to one sleep later.
constexpr u64 IDLE_SPIN_US = 50;
constexpr u64 IDLE_SLEEP_MAX_US = 1000;
bool timerRun = false;  // the last accesses were timer reads only
u64 timerRunStart = 0;  // tick of the first read of the run
u64 wakeTick = ~0ull;   // earliest event announced by the hooks at their last run

inline void noteAccess() { timerRun = false; }

void idleSleep() {
  if (mode != ClockMode::RealTime || inHooks) return;
  if (!timerRun) {
    timerRun = true;
    timerRunStart = ticks;
    return;
  }
  const u64 run = ticks - timerRunStart;
  if (run < IDLE_SPIN_US * TICKS_PER_US) return;
  u64 until = ticks + std::min(run, IDLE_SLEEP_MAX_US * TICKS_PER_US);
  if (wakeTick < until) until = wakeTick;
  if (until <= ticks) return;
  const auto at = realStart + std::chrono::microseconds((until - realOffset) / TICKS_PER_US);
  std::this_thread::sleep_until(at);
}

void runHooks() {
  if (inHooks) return;
  inHooks = true;
  // A hook may end the run by throwing (tests) or not return at all; clear the flag either way.
  struct Leave {
    ~Leave() { inHooks = false; }
  } leave;
  // Hooks may remove themselves; iterate over a copy of the small list.
  TimerHook local[16];
  size_t n = std::min<size_t>(hooks.size(), 16);
  std::copy_n(hooks.begin(), n, local);
  wakeTick = ~0ull;
  for (size_t i = 0; i < n; ++i) local[i](ticks);
}

u64 readClock() {
  if (mode == ClockMode::RealTime) {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - realStart).count();
    u64 now = realOffset + static_cast<u64>(us) * TICKS_PER_US;
    if (now > ticks) ticks = now;
  } else {
    ticks += TICKS_PER_US;
  }
  return ticks;
}

// ---- interrupts -----------------------------------------------------------------------------------
struct Irq {
  IrqHandler handler = nullptr;
  void* context = nullptr;
  bool enabled = false;
  bool running = false;
};
std::array<Irq, 96> irqs;

Irq* irq(int id) { return (id >= 0 && id < static_cast<int>(irqs.size())) ? &irqs[id] : nullptr; }

}  // namespace

// ---- board ----------------------------------------------------------------------------------------
void boardOpen(const BoardOptions& opts) {
  boardClose();
  options = opts;
  if (!opts.dir.empty()) mkdir(opts.dir.c_str(), 0755);
  for (auto& r : regions) mapRegion(r, opts.dir, opts.powerOn && r.volatileOnPowerOn);
  if (!opts.traceFile.empty()) {
    traceFile = std::fopen(opts.traceFile.c_str(), "w");
    if (traceFile == nullptr) fault("board: cannot write %s: %s", opts.traceFile.c_str(), std::strerror(errno));
  }
  regReset();
  clockSetMode(opts.clock);
  ticks = 0;
  realOffset = 0;
  realStart = std::chrono::steady_clock::now();
  for (auto& i : irqs) i = Irq{};
  open = true;
}

void boardClose() {
  for (auto& r : regions) {
    if (r.host != nullptr) munmap(r.host, r.size);
    if (r.fd >= 0) ::close(r.fd);
    r.host = nullptr;
    r.fd = -1;
  }
  if (traceFile != nullptr) std::fclose(traceFile);
  traceFile = nullptr;
  hooks.clear();
  open = false;
}

bool boardIsOpen() { return open; }
const BoardOptions& boardOptions() { return options; }

void boardClearVolatile() {
  for (auto& r : regions) {
    if (r.host != nullptr && r.volatileOnPowerOn) {
      // Give the pages back rather than touching every byte of the large windows.
      if (madvise(r.host, r.size, MADV_REMOVE) != 0) std::memset(r.host, 0, r.size);
    }
  }
}

void boardReleaseZeroPages() {
  constexpr size_t PAGE = 4096;
  static const u8 zero[PAGE] = {};
  for (auto& r : regions) {
    if (r.fd < 0 || r.base != SHARED_BASE) continue;
    for (size_t at = 0; at < r.size; at += PAGE) {
      if (std::memcmp(r.host + at, zero, PAGE) != 0) continue;
      size_t end = at + PAGE;
      while (end < r.size && std::memcmp(r.host + end, zero, PAGE) == 0) end += PAGE;
      // Best effort: a file system without holes keeps the pages.
      (void)fallocate(r.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(at),
                      static_cast<off_t>(end - at));
      at = end;
    }
  }
}

void setFaultHandler(FaultHandler handler) { faultHandler = handler ? handler : defaultFault; }

void fault(const char* format, ...) {
  char message[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(message, sizeof message, format, ap);
  va_end(ap);
  faultHandler(message);
  std::abort();  // a fault handler must not return
}

void setEndHandler(EndHandler handler) { endHandler = handler ? handler : defaultEnd; }

void endRun(EndReason reason, u32 arg) {
  if (traceFile != nullptr) std::fflush(traceFile);
  endHandler(reason, arg);
  std::abort();
}

u8* memory(u32 adr, u32 size) {
  noteAccess();
  Region* r = findRegion(adr, size);
  if (r == nullptr) fault("unmapped memory access at 0x%08x (%u bytes)", adr, size);
  return r->host + (adr - r->base);
}

u32 readMem32(u32 adr) {
  u32 v;
  std::memcpy(&v, memory(adr, 4), 4);
  return v;
}

void writeMem32(u32 adr, u32 value) { writeMemory(adr, &value, 4); }

void writeMemory(u32 adr, const void* data, u32 size) {
  std::memcpy(memory(adr, size), data, size);
  if (!writeLog.on || adr >= writeLog.base + writeLog.size || adr + size <= writeLog.base) return;
  for (u32 at = adr & ~3u; at < adr + size; at += 4) {
    if (at < writeLog.base || at >= writeLog.base + writeLog.size) continue;
    u32 word;
    std::memcpy(&word, memory(at, 4), 4);  // the whole word as it now stands
    writeLog.writes.push_back({at, word});
  }
}

void memoryLogStart(u32 base, u32 size) {
  writeLog.on = true;
  writeLog.base = base;
  writeLog.size = size;
  writeLog.writes.clear();
}

void memoryLogStop() { writeLog.on = false; }

const std::vector<MemoryWrite>& memoryLog() { return writeLog.writes; }

// ---- registers ------------------------------------------------------------------------------------
// Whether a write to adr goes to the trace file (the board options' ranges; all without any).
static bool traceWanted(u32 adr) {
  const auto& ranges = options.traceRanges;
  if (ranges.empty()) return true;
  for (const auto& [first, last] : ranges) {
    if (first <= adr && adr <= last) return true;
  }
  return false;
}

u32 readReg(u32 adr) {
  if (adr == 0xF8F00200) return timerTicks();
  if (adr == 0xF8F00204) return static_cast<u32>(ticks >> 32);
  noteAccess();
  if (findRegion(adr, 4) != nullptr) return readMem32(adr);
  if (!isRegisterSpace(adr)) fault("unmapped register read at 0x%08x", adr);
  Page* p = page(adr, true);
  u32 value = p->words[(adr >> 2) & (PAGE_WORDS - 1)];
  if (RegisterDevice* d = p->deviceAt(adr)) d->read(adr, value);
  return value;
}

void writeReg(u32 adr, u32 value) {
  noteAccess();
  if (findRegion(adr, 4) != nullptr) return writeMem32(adr, value);
  if (!isRegisterSpace(adr)) fault("unmapped register write at 0x%08x (value 0x%08x)", adr, value);
  Page* p = page(adr, true);
  p->words[(adr >> 2) & (PAGE_WORDS - 1)] = value;
  traceRing[traceCount % TRACE_KEEP] = TraceEntry{traceFrame, traceStageNo, adr, value};
  ++traceCount;
  if (traceFile != nullptr && traceWanted(adr)) std::fprintf(traceFile, "%u %d %08x %08x\n", traceFrame, traceStageNo, adr, value);
  if (RegisterDevice* d = p->deviceAt(adr)) d->write(adr, value);
}

void attachDevice(u32 base, u32 size, RegisterDevice* device) {
  if (size == 0) return;
  const u64 end = static_cast<u64>(base) + size - 1;
  constexpr u32 PAGE_MASK = (1u << PAGE_SHIFT) - 1;
  for (u64 a = base & ~PAGE_MASK; a <= end; a += 1u << PAGE_SHIFT) {
    Page* p = page(static_cast<u32>(a), true);
    DeviceRange range{std::max<u32>(base, static_cast<u32>(a)), static_cast<u32>(std::min<u64>(end, a + PAGE_MASK)), device};
    // A device attached to a range that one holds already replaces it; otherwise it takes a free slot.
    auto slot = std::find_if(p->devices.begin(), p->devices.end(), [&](const DeviceRange& d) {
      return d.device != nullptr && d.base == range.base && d.end == range.end;
    });
    if (slot == p->devices.end()) {
      slot = std::find_if(p->devices.begin(), p->devices.end(), [](const DeviceRange& d) { return d.device == nullptr; });
    }
    if (slot == p->devices.end()) fault("board: too many devices on the page at 0x%08x", static_cast<u32>(a));
    *slot = range;
  }
}

void detachDevice(RegisterDevice* device) {
  if (!pages) return;
  for (u32 i = 0; i < (1u << (32 - PAGE_SHIFT)); ++i) {
    if (!pages[i]) continue;
    for (auto& d : pages[i]->devices) {
      if (d.device == device) d = DeviceRange{};
    }
  }
}

u32 regPeek(u32 adr) {
  Page* p = page(adr, false);
  return p ? p->words[(adr >> 2) & (PAGE_WORDS - 1)] : 0;
}

void regPoke(u32 adr, u32 value) { page(adr, true)->words[(adr >> 2) & (PAGE_WORDS - 1)] = value; }

void regReset() {
  if (!pages) return;
  for (u32 i = 0; i < (1u << (32 - PAGE_SHIFT)); ++i) {
    if (pages[i]) pages[i]->words.fill(0);
  }
  traceClear();
}

std::vector<TraceEntry> traceRecent() {
  std::vector<TraceEntry> out;
  u64 n = std::min<u64>(traceCount, TRACE_KEEP);
  out.reserve(n);
  for (u64 i = traceCount - n; i < traceCount; ++i) out.push_back(traceRing[i % TRACE_KEEP]);
  return out;
}

void traceClear() { traceCount = 0; }
u64 traceWriteCount() { return traceCount; }

void traceStage(u32 frame, int stage) {
  traceFrame = frame;
  traceStageNo = stage;
}

// ---- clock ----------------------------------------------------------------------------------------
u32 timerTicks() {
  idleSleep();
  u64 now = readClock();
  runHooks();
  return static_cast<u32>(now);
}

void clockSetMode(ClockMode m) {
  if (m == ClockMode::RealTime && mode != ClockMode::RealTime) {
    realStart = std::chrono::steady_clock::now();
    realOffset = ticks;
  }
  mode = m;
}

ClockMode clockMode() { return mode; }
u64 clockNow() { return ticks; }

void clockAdvance(u64 n) {
  ticks += n;
  if (mode == ClockMode::RealTime) realOffset += n;
  runHooks();
}

void clockWakeBy(u64 tick) { wakeTick = std::min(wakeTick, tick); }

void addTimerHook(TimerHook hook) {
  if (std::find(hooks.begin(), hooks.end(), hook) == hooks.end()) hooks.push_back(hook);
}

void removeTimerHook(TimerHook hook) { hooks.erase(std::remove(hooks.begin(), hooks.end(), hook), hooks.end()); }

// ---- interrupts -----------------------------------------------------------------------------------
bool irqConnect(int id, IrqHandler handler, void* context) {
  Irq* i = irq(id);
  if (i == nullptr || handler == nullptr) return false;
  i->handler = handler;
  i->context = context;
  return true;
}

void irqDisconnect(int id) {
  if (Irq* i = irq(id)) i->handler = nullptr;
}

void irqEnable(int id) {
  if (Irq* i = irq(id)) i->enabled = true;
}

void irqDisable(int id) {
  if (Irq* i = irq(id)) i->enabled = false;
}

bool irqRaise(int id) {
  Irq* i = irq(id);
  if (i == nullptr || !i->enabled || i->handler == nullptr || i->running) return false;
  i->running = true;
  struct Done {
    Irq* i;
    ~Done() { i->running = false; }
  } done{i};
  i->handler(i->context);
  return true;
}

bool irqIsEnabled(int id) {
  Irq* i = irq(id);
  return i != nullptr && i->enabled;
}

bool irqIsConnected(int id) {
  Irq* i = irq(id);
  return i != nullptr && i->handler != nullptr;
}

// ---- caches, MMU, console ------------------------------------------------------------------------
void mmuSetSection(u32, u32) {}
void cacheInvalidateAll() {}

void setDebugEcho(bool on) { debugEcho = on; }
void setDebugSink(DebugSink sink) { debugSink = sink; }

void debugOut(const char* data, size_t n) {
  noteAccess();
  if (!debugEcho) return;
  if (debugSink != nullptr) return debugSink(data, n);
  // The log's ESC byte would start a terminal control sequence; the host mirror leaves it out.
  for (size_t i = 0; i < n; ++i) {
    if (data[i] != '\x1b') std::fputc(data[i], stdout);
  }
  if (n > 0 && data[n - 1] == '\n') std::fflush(stdout);
}

}  // namespace platform
