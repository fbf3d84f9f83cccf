// Host implementation of the platform seam: memory map over board directory files, the FPGA
// register file with its trace, the virtual clock and the interrupt controller.
#include "Platform/board.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// Board files up to this size have every block allocated when they are mapped, so that no store
// into them (the backup image, the rings) can find the disk full. The shared window stays sparse.
constexpr u32 ALLOCATED_WHOLE = 0x100000;
// What a board directory takes at its peak: the small files whole, the flash's programmed blocks
// and the pages of the shared window that the system writes.
constexpr const char* BOARD_DISK_NEEDED = "3 MB";

// ---- board files mapped into memory ------------------------------------------------------------
// A store into a page of a mapped file that its file system cannot back (the disk is full, or the
// file was cut) raises SIGBUS. The handler turns one in a board file into a fault that names the
// file. It runs in a signal handler: the table is fixed, and the message is built by copies and
// digits of its own, whole whatever the path (no path longer than PATH_MAX can be opened).
struct MappedFile {
  uintptr_t begin = 0, end = 0;
  char path[PATH_MAX] = {};
};
std::array<MappedFile, 8> mappedFiles;
struct sigaction earlierBusAction;

// Text that a signal handler builds: nothing allocates, locks or formats through stdio.
struct SignalText {
  char text[PATH_MAX + 256] = {};
  size_t length = 0;

  SignalText& operator<<(const char* s) {
    while (*s != 0 && length + 1 < sizeof text) text[length++] = *s++;
    return *this;
  }
  // v in base 10 or 16 (lower-case digits, no prefix).
  SignalText& number(unsigned long v, unsigned base = 10) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[v % base];
      v /= base;
    } while (v != 0);
    while (n > 0 && length + 1 < sizeof text) text[length++] = digits[--n];
    return *this;
  }
};

[[noreturn]] void endWithFault(const char* message);
volatile sig_atomic_t inSignalFault = 0;  // the fault being handled came from the bus-error signal
bool mendNonVolatile();

void onBusError(int signal, siginfo_t* info, void* context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  // The non-volatile window's file cut while mapped: made whole again, the access then runs again.
  if (mendNonVolatile()) return;
  for (const MappedFile& m : mappedFiles) {
    if (at < m.begin || at >= m.end) continue;
    const unsigned long offset = (at - m.begin) & ~0xFFFul;
    struct stat st {};
    SignalText message;
    if (stat(m.path, &st) == 0 && static_cast<unsigned long>(st.st_size) <= offset) {
      message << "board: " << m.path << " was cut to ";
      message.number(static_cast<unsigned long>(st.st_size)) << " bytes while mapped: no page at offset 0x";
      message.number(offset, 16);
    } else {
      message << "board: no room on the file system of " << m.path << " for its page at offset 0x";
      message.number(offset, 16) << ": a board directory needs about " << BOARD_DISK_NEEDED
                                 << " of free disk at its peak";
    }
    inSignalFault = true;
    endWithFault(message.text);
  }
  // Not a board file: as before this handler, which the repeated access then meets.
  sigaction(SIGBUS, &earlierBusAction, nullptr);
  (void)signal, (void)context;
}

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

Region& nonVolatileRegion =
    *std::find_if(regions.begin(), regions.end(), [](const Region& r) { return r.base == NVRAM_BASE; });

// ---- the non-volatile window kept beside its file -------------------------------------------------
// What the window holds, kept in the board's memory as every store into it is made (writeMemory;
// boardStores for the blocks of a DMA burst that change), before the store itself. The file is
// written anew from it when it no longer holds it: at once when a store meets a cut (mendNonVolatile),
// else at the next look at the file, a few times a second (nonVolatileRestored). A file in the board
// directory only.
struct NonVolatileKept {
  u8 bytes[NVRAM_SIZE];
  // What a longer file held past the window when the board was opened: it stays in the file.
  const u8* tail = nullptr;
  size_t tailSize = 0;
  volatile sig_atomic_t cutTo = -1;  // the size a cut left the file at, not yet reported (-1: none)
  u64 nextLook = 0;                  // board tick of the next look at the file
  char path[PATH_MAX] = {};
  char line[PATH_MAX + 240];
};
NonVolatileKept nonVolatileKept;

// Notes stores into [adr, adr + size) of the non-volatile window, before they are made.
void keepNonVolatileStore(u32 adr, const void* data, u32 size) {
  const Region& r = nonVolatileRegion;
  if (r.fd < 0 || adr >= r.base + r.size || static_cast<u64>(adr) + size <= r.base) return;
  const u32 from = std::max(adr, r.base), to = static_cast<u32>(std::min<u64>(static_cast<u64>(adr) + size, r.base + r.size));
  std::memcpy(nonVolatileKept.bytes + (from - r.base), static_cast<const u8*>(data) + (from - adr), to - from);
}

off_t keptFileSize() { return static_cast<off_t>(NVRAM_SIZE + nonVolatileKept.tailSize); }

// Writes the file's bytes from offset `from` on as the board keeps them: the window, then the tail.
// Safe in a signal handler.
bool writeKept(int fd, off_t from) {
  const NonVolatileKept& k = nonVolatileKept;
  while (from < keptFileSize()) {
    const bool window = from < static_cast<off_t>(NVRAM_SIZE);
    const u8* at = window ? k.bytes + from : k.tail + (from - NVRAM_SIZE);
    const ssize_t n = pwrite(fd, at, static_cast<size_t>((window ? NVRAM_SIZE : keptFileSize()) - from), from);
    if (n <= 0) return false;
    from += n;
  }
  return true;
}

// Whether the non-volatile window's file was found cut short: it is then given back what it held
// past the cut, written behind it, so that a reader finds it shorter but never reads the zeroes of
// a file lengthened before it is filled. Safe in a signal handler (the bus-error signal of a store
// past the cut runs it; it may come again inside, when the file is cut again meanwhile).
bool mendNonVolatile() {
  Region& r = nonVolatileRegion;
  struct stat st {};
  if (r.fd < 0 || r.host == nullptr || fstat(r.fd, &st) != 0 || st.st_size >= keptFileSize()) return false;
  const off_t cut = st.st_size;
  if (!writeKept(r.fd, cut)) return false;  // no room: the bus error's fault says so
  if (nonVolatileKept.cutTo < 0 || cut < nonVolatileKept.cutTo) nonVolatileKept.cutTo = static_cast<sig_atomic_t>(cut);
  return true;
}

BoardOptions options;
bool open = false;
std::vector<std::string> notices;  // boardNote's lines since the board was opened

// The non-volatile window's file as the board found it when it was opened.
struct StoredWindow {
  u32 storedBytes = NVRAM_SIZE;  // of the window that held stored contents (all without a directory)
  std::string file;              // its name in the board directory (empty: none)
  std::vector<u8> found;         // its contents then (empty: a new board, or no directory)
  std::string kept;              // name of the last copy keepNonVolatile wrote
};
StoredWindow storedWindow;

struct WriteLog {
  bool on = false;
  u32 base = 0;
  u32 size = 0;
  std::vector<MemoryWrite> writes;
};
WriteLog writeLog;
int traceFd = -1;  // the trace file, written with write(2) alone: a fault in a signal handler flushes it
bool debugEcho = true;
DebugSink debugSink = nullptr;

// Safe in a signal handler, as endWithFault is.
void defaultFault(const char* message) {
  (void)!::write(STDERR_FILENO, message, std::strlen(message));
  (void)!::write(STDERR_FILENO, "\n", 1);
  std::abort();
}
FaultHandler faultHandler = defaultFault;

void defaultEnd(EndReason reason, u32 arg) {
  static const char* names[] = {"restart", "halt", "hand-off"};
  std::fprintf(stderr, "board: %s (0x%08x)\n", names[static_cast<int>(reason)], arg);
  std::exit(reason == EndReason::Restart ? 3 : reason == EndReason::Halt ? 4 : 5);
}
EndHandler endHandler = defaultEnd;

// The file of the non-volatile window is taken as it stands, never cut or zeroed: a shorter one is
// lengthened to the window with its bytes kept (the rest reads zero and counts as not stored); of
// a longer one the window maps the start, and the rest stays in the file. The board says so, and
// keeps what it found for keepNonVolatile. A new board (the file empty or missing, the flash not
// yet programmed) has stored nothing and lost nothing: its whole window counts as stored, zero.
void takeStoredWindow(const Region& r, const std::string& dir, const std::string& path, off_t size) {
  StoredWindow& w = storedWindow;
  w.file = r.file;
  w.found.resize(static_cast<size_t>(size));
  for (off_t at = 0; at < size;) {
    const ssize_t n = pread(r.fd, w.found.data() + at, static_cast<size_t>(size - at), at);
    if (n <= 0) fault("board: cannot read %s: %s", path.c_str(), n < 0 ? std::strerror(errno) : "shorter than it was");
    at += n;
  }
  const bool newBoard = size == 0 && access((dir + "/" + FLASH_FILE).c_str(), F_OK) != 0;
  w.storedBytes = newBoard ? r.size : static_cast<u32>(std::min<off_t>(size, r.size));
  if (newBoard || size == static_cast<off_t>(r.size)) {
    // A new board's file, or one of the window's size.
  } else if (size < static_cast<off_t>(r.size)) {
    boardNote(std::string(r.file) + " holds " + std::to_string(size) + " bytes, not " + std::to_string(r.size) +
              ": taken as far as it goes, the rest of the window holds nothing stored");
  } else {
    boardNote(std::string(r.file) + " holds " + std::to_string(size) + " bytes, not " + std::to_string(r.size) +
              ": its first " + std::to_string(r.size) + " taken, the rest left in the file as it is");
  }
  if (size < static_cast<off_t>(r.size) && ftruncate(r.fd, r.size) != 0) {
    fault("board: cannot make %s %u bytes long: %s", path.c_str(), r.size, std::strerror(errno));
  }
}

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
    // What opens for writing and is no regular file (a directory or a socket does not open).
    if (!S_ISREG(st.st_mode)) {
      fault("board: %s is %s, not a regular file: left as it is", path.c_str(),
            S_ISFIFO(st.st_mode) ? "a FIFO" : S_ISCHR(st.st_mode) ? "a character device" : "a block device");
    }
    if (r.base == NVRAM_BASE) {
      takeStoredWindow(r, dir, path, st.st_size);
    } else if (clear || st.st_size != static_cast<off_t>(r.size)) {
      // A volatile region's new or resized file, or a power cycle: start from zeroes (a sparse
      // file, no disk used).
      if (ftruncate(r.fd, 0) != 0 || ftruncate(r.fd, r.size) != 0) {
        fault("board: cannot make %s %u bytes long: %s", path.c_str(), r.size, std::strerror(errno));
      }
    }
    if (r.size <= ALLOCATED_WHOLE) {
      const int error = posix_fallocate(r.fd, 0, r.size);
      if (error != 0) {
        fault("board: no room for %s (%u bytes): %s; a board directory needs about %s of free disk at its peak", path.c_str(),
              r.size, std::strerror(error), BOARD_DISK_NEEDED);
      }
    }
    p = mmap(nullptr, r.size, PROT_READ | PROT_WRITE, MAP_SHARED, r.fd, 0);
    if (p != MAP_FAILED) boardFileMapped(p, r.size, path);
    if (p != MAP_FAILED && r.base == NVRAM_BASE) {
      NonVolatileKept& k = nonVolatileKept;
      const std::vector<u8>& found = storedWindow.found;
      std::memcpy(k.bytes, p, r.size);
      k.tailSize = found.size() > r.size ? found.size() - r.size : 0;
      k.tail = found.data() + (found.size() - k.tailSize);
      k.cutTo = -1, k.nextLook = 0;
      std::snprintf(k.path, sizeof k.path, "%s", path.c_str());
    }
  }
  if (p == MAP_FAILED) fault("board: cannot map 0x%08x: %s", r.base, std::strerror(errno));
  r.host = static_cast<u8*>(p);
}

// Zeroes [p, p + size): its whole pages are given back (a board file's blocks to its file system,
// anonymous memory to the host), and read zero; the bytes of a page it holds in part are stored.
void zeroBytes(u8* p, size_t size) {
  constexpr uintptr_t PAGE = 4096;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(p), end = begin + size;
  const uintptr_t first = (begin + PAGE - 1) & ~(PAGE - 1), last = end & ~(PAGE - 1);
  if (first < last && madvise(reinterpret_cast<void*>(first), last - first, MADV_REMOVE) == 0) {
    std::memset(p, 0, first - begin);
    std::memset(reinterpret_cast<void*>(last), 0, end - last);
  } else {
    std::memset(p, 0, size);
  }
}

Region* findRegion(u32 adr, u32 size) {
  for (auto& r : regions) {
    if (r.host != nullptr && adr >= r.base && static_cast<u64>(adr) + size <= static_cast<u64>(r.base) + r.size) return &r;
  }
  return nullptr;
}

// ---- register file --------------------------------------------------------------------------------
// A table of 4 KiB pages over the register spaces, each allocated on first use.
constexpr u32 PAGE_SHIFT = 12;
constexpr u32 PAGE_MASK = (1u << PAGE_SHIFT) - 1;
constexpr u32 PAGE_WORDS = 1u << (PAGE_SHIFT - 2);
// Board models answer address ranges; several may share one page (the glue FPGA's first page holds
// the interrupt, NAND and DMA registers).
struct DeviceRange {
  u32 base = 0;
  u32 end = 0;  // last address of the range
  RegisterDevice* device = nullptr;
};
constexpr int PAGE_DEVICES = 12;

bool isRegisterSpace(u32 adr) {
  u32 top = adr >> 28;
  return top == 0x4 || top == 0x8 || (adr >> 20) == 0xF8F;
}

// Whether [base, base + size) meets the address range of a memory region (mapped or not).
bool meetsRegion(u32 base, u32 size) {
  for (const auto& r : regions) {
    if (base < static_cast<u64>(r.base) + r.size && r.base < static_cast<u64>(base) + size) return true;
  }
  return false;
}

struct Page {
  std::array<u32, PAGE_WORDS> words{};
  std::array<DeviceRange, PAGE_DEVICES> devices{};
  // Per word, 1 + the slot of the device that answers it (the first slot whose range holds it), or 0.
  std::array<u8, PAGE_WORDS> deviceOf{};
  u32 base = 0;
  // Register space that no memory region meets: register accesses need no other lookup.
  bool direct = false;

  void mapDevices() {
    for (u32 w = 0; w < PAGE_WORDS; ++w) {
      const u32 adr = base + 4 * w;
      deviceOf[w] = 0;
      for (int s = 0; s < PAGE_DEVICES; ++s) {
        const DeviceRange& d = devices[s];
        if (d.device != nullptr && adr >= d.base && adr <= d.end) {
          deviceOf[w] = static_cast<u8>(s + 1);
          break;
        }
      }
    }
  }
  RegisterDevice* deviceAt(u32 w) const { return deviceOf[w] != 0 ? devices[deviceOf[w] - 1].device : nullptr; }
};
Page* pageTable[1u << (32 - PAGE_SHIFT)];  // indexed by adr >> 12
std::vector<Page*> pageList;               // every page allocated

Page* page(u32 adr, bool create) {
  Page*& p = pageTable[adr >> PAGE_SHIFT];
  if (p == nullptr && create) {
    p = new Page;
    p->base = adr & ~PAGE_MASK;
    p->direct = isRegisterSpace(p->base) && !meetsRegion(p->base, PAGE_MASK + 1);
    pageList.push_back(p);
  }
  return p;
}

// The page of a register access that the page table does not settle at once: null for mapped
// memory (which comes first); a fault outside every register space. Kept out of the accessors'
// fast path.
[[gnu::noinline]] Page* slowPage(u32 adr, bool write, u32 value) {
  if (findRegion(adr, 4) != nullptr) return nullptr;
  if (!isRegisterSpace(adr)) {
    if (write) fault("unmapped register write at 0x%08x (value 0x%08x)", adr, value);
    fault("unmapped register read at 0x%08x", adr);
  }
  return page(adr, true);
}

constexpr size_t TRACE_KEEP = 1u << 16;
std::array<TraceEntry, TRACE_KEEP> traceRing;
u64 traceCount = 0;
u32 traceFrame = 0;
int traceStageNo = 0;

// The trace file's lines ("frame stage address value", hex address and value) are formatted here
// and written in large blocks, and at the end of every interrupt; the "frame stage " prefix is kept
// from traceStage.
char traceBuffer[1 << 16];
size_t traceUsed = 0;
char tracePrefix[32] = "0 0 ";
size_t tracePrefixLength = 4;

// Writes the lines held. A write that fails (a full disk) ends the run as a board file's does, naming
// the file; on the way out of a fault, that fault's message stands.
void traceFlush(bool faulting = false) {
  for (size_t done = 0; traceFd >= 0 && done < traceUsed;) {
    const ssize_t n = ::write(traceFd, traceBuffer + done, traceUsed - done);
    if (n > 0 || (n < 0 && errno == EINTR)) {
      done += static_cast<size_t>(std::max<ssize_t>(n, 0));
      continue;
    }
    const int error = n < 0 ? errno : ENOSPC;
    ::close(traceFd);
    traceFd = -1;
    traceUsed = 0;
    if (!faulting) fault("board: cannot write %s: %s", options.traceFile.c_str(), std::strerror(error));
  }
  traceUsed = 0;
}

void setTracePrefix() {
  const int n = std::snprintf(tracePrefix, sizeof tracePrefix, "%u %d ", traceFrame, traceStageNo);
  tracePrefixLength = static_cast<size_t>(n);
}

// Two hex digits of every byte value.
constexpr std::array<char, 512> HEX_PAIRS = [] {
  std::array<char, 512> t{};
  const char* digits = "0123456789abcdef";
  for (int b = 0; b < 256; ++b) t[2 * b] = digits[b >> 4], t[2 * b + 1] = digits[b & 15];
  return t;
}();

char* hex8(char* out, u32 v) {
  for (int shift = 24, i = 0; shift >= 0; shift -= 8, i += 2) std::memcpy(out + i, &HEX_PAIRS[2 * ((v >> shift) & 0xFF)], 2);
  return out + 8;
}

[[gnu::noinline]] void traceLine(u32 adr, u32 value) {
  if (traceUsed + sizeof tracePrefix + 18 > sizeof traceBuffer) traceFlush();
  char* out = traceBuffer + traceUsed;
  std::memcpy(out, tracePrefix, sizeof tracePrefix);  // whole: a fixed size copies cheaply
  out = hex8(out + tracePrefixLength, adr);
  *out++ = ' ';
  out = hex8(out, value);
  *out++ = '\n';
  traceUsed = static_cast<size_t>(out - traceBuffer);
}

// ---- clock ----------------------------------------------------------------------------------------
ClockMode mode = ClockMode::Stepped;
u64 ticks = 0;
std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();
u64 realOffset = 0;
std::vector<TimerHook> hooks;
constexpr size_t MAX_HOOKS = 16;  // hooks that run
bool inHooks = false;
const TimerHook* passHooks = nullptr;  // the hooks of the running pass
size_t passCount = 0;
TimerHook passCopy[MAX_HOOKS];

// Real-time mode lets the host sleep in a busy wait: a run of timer reads with no other access
// between them (an interrupt handler that runs inside one of the reads does not end it). After
// IDLE_SPIN_US of such reads, each further read first sleeps for as long as the run has lasted, at
// most IDLE_SLEEP_MAX_US and never past the next event a board model announced (clockWakeBy). The
// clock still follows the host clock, so waits end and interrupts come at the same ticks; a wait
// only ends up to one sleep later. A wait whose end the code announced (timerWaitHint, the main
// loop's wait between its passes) sleeps at once until that end or the next event, whichever
// comes first: frames come at their events and the wait ends on time.
constexpr u64 IDLE_SPIN_US = 50;
constexpr u64 IDLE_SLEEP_MAX_US = 4000;
bool timerRun = false;  // the last accesses were timer reads only
u64 timerRunStart = 0;  // tick of the first read of the run
u64 wakeTick = ~0ull;   // earliest event announced by the hooks at their last run
bool waitHinted = false;  // the run is a wait that ends at waitEnd
u64 waitEnd = 0;

inline void noteAccess() { timerRun = waitHinted = false; }

void idleSleep() {
  if (mode != ClockMode::RealTime || inHooks) return;
  if (!timerRun) {
    timerRun = true;
    timerRunStart = ticks;
    if (!waitHinted) return;
  }
  u64 until = waitEnd;
  if (!waitHinted) {
    const u64 run = ticks - timerRunStart;
    if (run < IDLE_SPIN_US * TICKS_PER_US) return;
    until = ticks + std::min(run, IDLE_SLEEP_MAX_US * TICKS_PER_US);
  }
  if (wakeTick < until) until = wakeTick;
  if (until <= ticks) return;
  const auto at = realStart + std::chrono::microseconds((until - realOffset) / TICKS_PER_US);
  std::this_thread::sleep_until(at);
}

// Stepped and fast mode: in a wait whose end the code announced, with nothing but timer reads since,
// the clock moves straight to the last step before that end or before the next event a board model
// announced, so the next read lands on the very tick that stepping a microsecond a read would have
// reached first: the same ticks and events, without the reads between.
void skipHintedWait() {
  if (mode == ClockMode::RealTime || !waitHinted || inHooks) return;
  const u64 until = std::min(waitEnd, wakeTick);
  if (until <= ticks + TICKS_PER_US) return;
  const u64 steps = (until - ticks + TICKS_PER_US - 1) / TICKS_PER_US;
  ticks += (steps - 1) * TICKS_PER_US;
}

void runHooks() {
  if (inHooks) return;
  inHooks = true;
  // A hook may end the run by throwing (tests) or not return at all; clear the flag either way.
  // The accesses of an interrupt handler that a hook runs do not end the busy wait it came in.
  struct Leave {
    bool run = timerRun;
    u64 runStart = timerRunStart;
    bool hinted = waitHinted;
    u64 end = waitEnd;
    ~Leave() {
      inHooks = false;
      timerRun = run;
      timerRunStart = runStart;
      waitHinted = hinted;
      waitEnd = end;
    }
  } leave;
  passHooks = hooks.data();
  passCount = std::min<size_t>(hooks.size(), MAX_HOOKS);
  wakeTick = ~0ull;
  for (size_t i = 0; i < passCount; ++i) passHooks[i](ticks);
}

// Hooks may add and remove hooks: a pass runs the hooks there were at its start, from a copy taken
// when the list first changes.
void keepPass() {
  if (!inHooks || passHooks == passCopy) return;
  std::copy_n(passHooks, passCount, passCopy);
  passHooks = passCopy;
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
  notices.clear();
  storedWindow = StoredWindow{};
  if (!opts.dir.empty()) mkdir(opts.dir.c_str(), 0755);
  for (auto& r : regions) mapRegion(r, opts.dir, opts.powerOn && r.volatileOnPowerOn);
  if (!opts.traceFile.empty()) {
    traceFd = ::open(opts.traceFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (traceFd < 0) fault("board: cannot write %s: %s", opts.traceFile.c_str(), std::strerror(errno));
    // A program that ends without closing the board still writes its last lines.
    static const bool flushAtExit = [] { return std::atexit([] { traceFlush(); }) == 0; }();
    (void)flushAtExit;
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
    if (r.host != nullptr) boardFileUnmapped(r.host), munmap(r.host, r.size);
    if (r.fd >= 0) ::close(r.fd);
    r.host = nullptr;
    r.fd = -1;
  }
  if (traceFd >= 0) {
    traceFlush();
    ::close(traceFd);
  }
  traceFd = -1;
  keepPass();
  hooks.clear();
  open = false;
}

bool boardIsOpen() { return open; }
void boardNote(const std::string& line) { notices.push_back(line); }

std::string boardFreeName(const std::string& path) {
  std::string name = path;
  for (int n = 2; access(name.c_str(), F_OK) == 0; ++n) name = path + "." + std::to_string(n);
  return name;
}

std::string boardKeepAside(const std::string& file, const std::string& reason, const std::vector<u8>& bytes) {
  if (options.dir.empty()) return {};
  for (;;) {
    const std::string path = boardFreeName(options.dir + "/" + file + "." + reason);
    const std::string name = path.substr(options.dir.size() + 1);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;  // taken meanwhile
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
      const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (w <= 0) break;
      done += static_cast<size_t>(w);
    }
    const bool written = fd >= 0 && done == bytes.size() && fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (written) return name;
    if (fd >= 0) unlink(path.c_str());
    std::fprintf(stderr, "board: cannot keep %s as %s: %s\n", file.c_str(), name.c_str(), std::strerror(error));
    return {};
  }
}

const BoardOptions& boardOptions() { return options; }

void boardClearVolatile() {
  for (auto& r : regions) {
    if (r.host == nullptr || !r.volatileOnPowerOn) continue;
    zeroBytes(r.host, r.size);
    // The small files keep every block (mapRegion).
    if (r.fd >= 0 && r.size <= ALLOCATED_WHOLE) (void)posix_fallocate(r.fd, 0, r.size);
  }
}

void boardReleaseZeroPages() {
  constexpr off_t PAGE = 4096;
  static const u8 zero[PAGE] = {};
  for (auto& r : regions) {
    if (r.fd < 0 || r.base != SHARED_BASE) continue;
    // Only the pages that hold data are read: on some file systems (tmpfs) reading a hole through
    // the mapping would take a page for it.
    const off_t size = r.size;
    for (off_t data = lseek(r.fd, 0, SEEK_DATA); data >= 0 && data < size; data = lseek(r.fd, data, SEEK_DATA)) {
      const off_t hole = std::min(lseek(r.fd, data, SEEK_HOLE), size);
      for (off_t at = data & ~(PAGE - 1); at < hole; at += PAGE) {
        if (std::memcmp(r.host + at, zero, PAGE) != 0) continue;
        off_t end = at + PAGE;
        while (end < hole && std::memcmp(r.host + end, zero, PAGE) == 0) end += PAGE;
        // Best effort: a file system without holes keeps the pages.
        (void)fallocate(r.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, end - at);
        at = end;
      }
      data = hole;
    }
  }
}

void boardFileMapped(const void* at, size_t size, const std::string& path) {
  static const bool handled = [] {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;  // a store past a file cut again while it is mended
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &earlierBusAction) == 0;
  }();
  (void)handled;
  for (MappedFile& m : mappedFiles) {
    if (m.begin != 0) continue;
    if (path.size() >= sizeof m.path) fault("board: %s: path too long", path.c_str());
    std::memcpy(m.path, path.c_str(), path.size() + 1);
    m.end = reinterpret_cast<uintptr_t>(at) + size;
    m.begin = reinterpret_cast<uintptr_t>(at);
    return;
  }
  fault("board: too many files mapped at once (%s)", path.c_str());
}

void boardFileUnmapped(const void* at) {
  for (MappedFile& m : mappedFiles) {
    if (m.begin == reinterpret_cast<uintptr_t>(at)) m = MappedFile{};
  }
}

void clearMemory(u32 adr, u32 size) { zeroBytes(memory(adr, size), size); }

void setFaultHandler(FaultHandler handler) { faultHandler = handler ? handler : defaultFault; }

bool faultInSignalHandler() { return inSignalFault != 0; }

void fault(const char* format, ...) {
  char message[PATH_MAX + 256];  // room for a board path whole
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(message, sizeof message, format, ap);
  va_end(ap);
  endWithFault(message);
}

namespace {

void endWithFault(const char* message) {
  traceFlush(true);  // the writes up to the fault
  faultHandler(message);
  std::abort();  // a fault handler must not return
}

}  // namespace

void setEndHandler(EndHandler handler) { endHandler = handler ? handler : defaultEnd; }

void endRun(EndReason reason, u32 arg) {
  traceFlush();
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
  u8* to = memory(adr, size);
  keepNonVolatileStore(adr, data, size);
  std::memcpy(to, data, size);
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
// The accessors' common path (a register page of the page table, no trace file) stays short: the
// rest is in functions of its own.
namespace {

u32 wordOf(u32 adr) { return (adr >> 2) & (PAGE_WORDS - 1); }

// Whether a write to adr goes to the trace file (the board options' ranges; all without any).
bool traceWanted(u32 adr) {
  const auto& ranges = options.traceRanges;
  if (ranges.empty()) return true;
  for (const auto& [first, last] : ranges) {
    if (first <= adr && adr <= last) return true;
  }
  return false;
}

[[gnu::noinline]] void traceAndNotify(Page* p, u32 adr, u32 value) {
  if (traceWanted(adr)) traceLine(adr, value);
  if (RegisterDevice* d = p->deviceAt(wordOf(adr))) d->write(adr, value);
}

// A register write once its page is known: the stored word, the trace, then the device that
// answers the word.
inline void commitWrite(Page* p, u32 adr, u32 value) {
  const u32 w = wordOf(adr);
  p->words[w] = value;
  traceRing[traceCount % TRACE_KEEP] = TraceEntry{traceFrame, traceStageNo, adr, value};
  ++traceCount;
  if (traceFd >= 0) [[unlikely]] return traceAndNotify(p, adr, value);
  if (RegisterDevice* d = p->deviceAt(w)) d->write(adr, value);
}

inline u32 commitRead(Page* p, u32 adr) {
  const u32 w = wordOf(adr);
  u32 value = p->words[w];
  if (RegisterDevice* d = p->deviceAt(w)) d->read(adr, value);
  return value;
}

[[gnu::noinline]] u32 readSlow(u32 adr) {
  Page* p = slowPage(adr, false, 0);
  return p != nullptr ? commitRead(p, adr) : readMem32(adr);
}

[[gnu::noinline]] void writeSlow(u32 adr, u32 value) {
  Page* p = slowPage(adr, true, value);
  if (p == nullptr) return writeMem32(adr, value);
  commitWrite(p, adr, value);
}

}  // namespace

u32 readReg(u32 adr) {
  if (adr == 0xF8F00200) return timerTicks();
  if (adr == 0xF8F00204) return static_cast<u32>(ticks >> 32);
  noteAccess();
  Page* p = pageTable[adr >> PAGE_SHIFT];
  if (p == nullptr || !p->direct) [[unlikely]] return readSlow(adr);
  return commitRead(p, adr);
}

void writeReg(u32 adr, u32 value) {
  noteAccess();
  Page* p = pageTable[adr >> PAGE_SHIFT];
  if (p == nullptr || !p->direct) [[unlikely]] return writeSlow(adr, value);
  commitWrite(p, adr, value);
}

void attachDevice(u32 base, u32 size, RegisterDevice* device) {
  if (size == 0) return;
  const u64 end = static_cast<u64>(base) + size - 1;
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
    p->mapDevices();
  }
}

void detachDevice(RegisterDevice* device) {
  for (Page* p : pageList) {
    bool held = false;
    for (auto& d : p->devices) {
      if (d.device == device) d = DeviceRange{}, held = true;
    }
    if (held) p->mapDevices();
  }
}

u32 regPeek(u32 adr) {
  Page* p = pageTable[adr >> PAGE_SHIFT];
  return p ? p->words[wordOf(adr)] : 0;
}

void regPoke(u32 adr, u32 value) { page(adr, true)->words[wordOf(adr)] = value; }

void regReset() {
  for (Page* p : pageList) p->words.fill(0);
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
  if (frame == traceFrame && stage == traceStageNo) return;
  traceFrame = frame;
  traceStageNo = stage;
  setTracePrefix();
}

// ---- clock ----------------------------------------------------------------------------------------
u32 timerTicks() {
  idleSleep();
  skipHintedWait();
  u64 now = readClock();
  runHooks();
  return static_cast<u32>(now);
}

void timerWaitHint(u32 untilTicks) {
  // The end as a tick of the 64-bit clock: the first at or after now whose low 32 bits match.
  waitEnd = ticks + static_cast<u32>(untilTicks - static_cast<u32>(ticks));
  waitHinted = true;
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
  if (std::find(hooks.begin(), hooks.end(), hook) != hooks.end()) return;
  keepPass();
  hooks.push_back(hook);
}

void removeTimerHook(TimerHook hook) {
  keepPass();
  hooks.erase(std::remove(hooks.begin(), hooks.end(), hook), hooks.end());
}

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
  // A frame's lines reach the trace file as its interrupt ends: a running back end's file can be read.
  traceFlush();
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

void boardStores(u32 adr, const void* data, u32 size) { keepNonVolatileStore(adr, data, size); }

namespace {

constexpr u64 LOOK_TICKS = 250000ull * TICKS_PER_US;  // between two looks at the non-volatile file

// Whether fd holds anything but zeroes from offset `from` on.
bool holdsData(int fd, off_t from) {
  std::vector<u8> block(1 << 16);
  for (off_t at = lseek(fd, from, SEEK_DATA); at >= 0; at = lseek(fd, at, SEEK_DATA)) {
    const ssize_t n = pread(fd, block.data(), block.size(), at);
    if (n <= 0) return false;
    if (std::any_of(block.begin(), block.begin() + n, [](u8 b) { return b != 0; })) return true;
    at += n;
  }
  return false;
}

// Writes the non-volatile file anew beside it, keeps what stands at its path as `aside` first (none
// when empty), renames the new file into place and maps the window onto it: a reader finds the old
// file or the new one, whole. Where it cannot be written (no room) the board faults naming the file.
void putBackNonVolatile(const char* path, const std::string& aside) {
  Region& r = nonVolatileRegion;
  const std::string partial = std::string(path) + ".partial";
  const int fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  // A second name keeps a file; a directory is renamed; what went meanwhile needs no keeping.
  const bool done = fd >= 0 && writeKept(fd, 0) && fsync(fd) == 0 &&
                    (aside.empty() || link(path, aside.c_str()) == 0 || rename(path, aside.c_str()) == 0 || errno == ENOENT) &&
                    rename(partial.c_str(), path) == 0 &&
                    mmap(r.host, r.size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED;
  if (!done) {
    const int error = errno;
    if (fd >= 0) ::close(fd), unlink(partial.c_str());
    fault("board: cannot write %s anew: %s", path, std::strerror(error));
  }
  ::close(r.fd);
  r.fd = fd;
}

// Looks at the non-volatile window's file: one cut short is mended (mendNonVolatile); one removed,
// replaced, lengthened, or no longer holding what the window holds (cut and grown back, written
// over) is written anew from what the board keeps. Returns the line that says what happened, or null.
const char* lookAtNonVolatile() {
  NonVolatileKept& k = nonVolatileKept;
  Region& r = nonVolatileRegion;
  const char* file = r.file;
  const long long size = keptFileSize();
  mendNonVolatile();
  if (k.cutTo >= 0) {
    std::snprintf(k.line, sizeof k.line,
                  "%s was cut to %d bytes while the back end ran: given back its %lld bytes and what they held", file,
                  static_cast<int>(k.cutTo), size);
    k.cutTo = -1;
    return k.line;
  }
  struct stat own {}, there {};
  if (fstat(r.fd, &own) != 0) return nullptr;
  const bool present = lstat(k.path, &there) == 0;
  const bool ours = present && stat(k.path, &there) == 0 && there.st_dev == own.st_dev && there.st_ino == own.st_ino;
  std::string aside;
  const auto asideName = [&] { return aside.c_str() + options.dir.size() + 1; };
  if (!present) {
    std::snprintf(k.line, sizeof k.line, "%s was removed while the back end ran: written anew with what it held", file);
  } else if (!ours) {
    aside = boardFreeName(std::string(k.path) + ".replaced");
    std::snprintf(k.line, sizeof k.line,
                  "%s was replaced while the back end ran: the file put in its place is kept as %s, %s written anew "
                  "with what it held", file, asideName(), file);
  } else if (own.st_size > size) {
    if (holdsData(r.fd, size)) aside = boardFreeName(std::string(k.path) + "." + std::to_string(own.st_size) + "-bytes");
    std::snprintf(k.line, sizeof k.line, "%s was lengthened to %lld bytes while the back end ran: given back its %lld bytes%s%s",
                  file, static_cast<long long>(own.st_size), size, aside.empty() ? "" : "; the longer file is kept as ",
                  aside.empty() ? "" : asideName());
  } else {
    if (std::memcmp(r.host, k.bytes, r.size) == 0) return nullptr;
    int lost = 0;
    for (u32 i = 0; i < r.size; ++i) lost += r.host[i] != k.bytes[i];
    std::snprintf(k.line, sizeof k.line,
                  "%s lost %d bytes of what it held while the back end ran (cut and grown back, or written over): "
                  "given back what they held", file, lost);
  }
  putBackNonVolatile(k.path, aside);
  return k.line;
}

}  // namespace

const char* nonVolatileRestored() {
  NonVolatileKept& k = nonVolatileKept;
  if (nonVolatileRegion.fd < 0 || (k.cutTo < 0 && ticks < k.nextLook)) return nullptr;
  k.nextLook = ticks + LOOK_TICKS;
  return lookAtNonVolatile();
}

u32 nonVolatileStoredBytes() { return storedWindow.storedBytes; }

const char* keepNonVolatile(const char* reason) {
  if (storedWindow.file.empty()) return nullptr;
  storedWindow.kept = boardKeepAside(storedWindow.file, reason, storedWindow.found);
  return storedWindow.kept.empty() ? nullptr : storedWindow.kept.c_str();
}

const char* boardNotice(int i) {
  return i >= 0 && static_cast<size_t>(i) < notices.size() ? notices[static_cast<size_t>(i)].c_str() : nullptr;
}

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
