// NAND flash model: the glue FPGA's command port over the flash contents, with injectable ECC faults.
#include "Platform/nand_device.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "Platform/board.h"
#include "Platform/bringup_models.h"

namespace platform {
namespace {

constexpr u32 PORT_STATUS = 0x40000200;
constexpr u32 PORT_LATCH = 0x40000204;
constexpr u32 PORT_DATA = 0x40000208;
constexpr u32 PORT_TRANSFER = 0x40000210;
constexpr u32 PORT_ECC = 0x40000280;
constexpr u32 PAGE_BUFFERS = 0x40002000;
constexpr u32 PAGE_WORDS = NAND_PAGE / 4;
constexpr int UNITS = 32;  // 64-byte ECC units per page

struct Fault {
  u32 page;
  int unit;
  u16 ecc;
  int word;  // word of the page whose bit is flipped, or -1
  u32 mask;
};
constexpr int MAX_FAULTS = 64;

struct Nand {
  u8* flash = nullptr;
  bool fileBacked = false;
  int latch = 0;
  u8 address[5] = {};
  int addressCount = 0;
  u32 loadedPage = 0;
  bool ready = true;
  bool eccFlag = false;
  std::array<std::array<u32, PAGE_WORDS>, 2> buffers{};
  std::array<u32, UNITS> ecc{};
  std::array<Fault, MAX_FAULTS> faults{};
  int nfaults = 0;
  u32 transfers = 0;
  // Until the port is used, its registers read as stored (other models' tests poke them).
  bool used = false;
  bool transferred = false;

  void command(u32 c) {
    if (c == 0xFF) {
      addressCount = 0;
      ready = true;
    } else if (c == 0x00) {
      addressCount = 0;
      eccFlag = false;
    } else if (c == 0x30) {
      // Row cycles 2 to 4 give the page; the column is always 0 for whole-page reads.
      u32 row = address[2] | (address[3] << 8) | (address[4] << 16);
      loadedPage = row % (NAND_BYTES / NAND_PAGE);
      ready = true;
    }
  }

  void transfer(int buffer) {
    ++transfers;
    transferred = true;
    std::memcpy(buffers[buffer].data(), flash + static_cast<u64>(loadedPage) * NAND_PAGE, NAND_PAGE);
    ecc.fill(0);
    for (int i = 0; i < nfaults; ++i) {
      const Fault& f = faults[i];
      if (f.page != loadedPage) continue;
      ecc[f.unit] = f.ecc;
      if (f.word >= 0) buffers[buffer][f.word] ^= f.mask;
    }
    eccFlag = std::any_of(ecc.begin(), ecc.end(), [](u32 e) { return e != 0; });
  }
};

Nand nand;

}  // namespace

// The glue FPGA's first register page holds the NAND port and the glue configuration port; both are
// answered by one model attachment so that the page keeps room for the other models.
bool GluePortDevice::read(u32 adr, u32& value) {
  if (adr >= PORT_STATUS && adr < PORT_STATUS + 0x100) {
    if (!nand.used) return false;
    if (adr == PORT_STATUS) {
      value = (nand.ready ? 1u : 0u) | (nand.eccFlag ? 0x100u : 0u);
      return true;
    }
    if (adr >= PORT_ECC) {
      value = nand.ecc[(adr - PORT_ECC) / 4];
      return true;
    }
    return false;
  }
  return configPortRead(adr, value);
}

void GluePortDevice::write(u32 adr, u32 value) {
  if (adr == PORT_LATCH || adr == PORT_DATA || adr == PORT_TRANSFER) nand.used = true;
  if (adr == PORT_LATCH) {
    nand.latch = static_cast<int>(value);
  } else if (adr == PORT_DATA) {
    if (nand.latch == 2) {
      nand.command(value & 0xFF);
    } else if (nand.latch == 1 && nand.addressCount < 5) {
      nand.address[nand.addressCount++] = static_cast<u8>(value);
    }
  } else if (adr == PORT_TRANSFER) {
    nand.transfer((value >> 2) & 1);
  } else {
    configPortWrite(adr, value);
  }
}

namespace {

struct PageBufferDevice : RegisterDevice {
  bool read(u32 adr, u32& value) override {
    if (!nand.transferred) return false;
    u32 offset = adr - PAGE_BUFFERS;
    value = nand.buffers[(offset / NAND_PAGE) & 1][(offset % NAND_PAGE) / 4];
    return true;
  }
};
PageBufferDevice pageBuffers;
GluePortDevice gluePorts;
bool attached = false;

u8 reverseBits(u8 b) {
  b = static_cast<u8>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<u8>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<u8>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

void put32(u8* p, u32 v) { std::memcpy(p, &v, 4); }
u32 get32(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}

// Header fields behind the 13-byte preamble: key, 16-bit big-endian length, text with its NUL.
u32 putField(u8* out, char key, const char* text) {
  u32 n = static_cast<u32>(std::strlen(text)) + 1;
  out[0] = static_cast<u8>(key);
  out[1] = static_cast<u8>(n >> 8);
  out[2] = static_cast<u8>(n);
  std::memcpy(out + 3, text, n);
  return n + 3;
}

const u8 PREAMBLE[13] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
const char* PART = "board-fpga";
const char* DATE = "2026/12/06";
const char* TIME = "12:00:00";

u32 headerBytes(const char* design) {
  return 13 + 3 * 4 + static_cast<u32>(std::strlen(design) + std::strlen(PART) + std::strlen(DATE) + std::strlen(TIME)) + 4 +
         5;
}

// Factory image placement: name, first-bank address, variant 1 and 2 addresses (0: none).
struct FactoryImage {
  const char* name;
  u32 adr;
  u32 variant1;
  u32 variant2;
  u32 payload;
};
const FactoryImage FACTORY[] = {
    {"glue", 0x000C0000, 0, 0, 0x3000},           {"lan1", 0x00000000, 0, 0, 0x3000},
    {"lan2", 0x00060000, 0, 0, 0x3000},           {"me1", 0x00100000, 0, 0x0E400000, 0x6000},
    {"me2", 0x00C00000, 0x0D600000, 0x0EF00000, 0x5000}, {"sdi", 0x01700000, 0, 0x0FA00000, 0x4000},
    {"boot", 0x04A00000, 0, 0, 0x2000},
};
constexpr u32 SECOND_BANK = 0x8000000;

// Renames a flash file of the wrong size, or what else has its name (a directory), to a free name
// that says what it was and notes it.
void keepAside(const std::string& path, const struct stat& st) {
  const std::string size = std::to_string(st.st_size), file = path.substr(path.rfind('/') + 1);
  const bool regular = S_ISREG(st.st_mode), dir = S_ISDIR(st.st_mode);
  const std::string aside = boardFreeName(path + "." + (regular ? size + "-bytes" : dir ? "directory" : "not-a-file"));
  if (rename(path.c_str(), aside.c_str()) != 0) fault("nand: cannot keep %s aside: %s", path.c_str(), std::strerror(errno));
  std::string note = "NAND flash: " + file;
  if (regular) note += " had " + size + " bytes, not " + std::to_string(NAND_BYTES);
  note += regular ? "" : dir ? " is a directory, not a flash file" : " is not a regular file";
  boardNote(note + ": kept as " + aside.substr(aside.rfind('/') + 1) + ", factory contents written anew");
}

}  // namespace

void nandAttach() {
  if (attached) nandDetach();
  const std::string& dir = boardOptions().dir;
  void* p = MAP_FAILED;
  if (dir.empty()) {
    p = mmap(nullptr, NAND_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) nandProgramFactory(static_cast<u8*>(p));
  } else {
    // A new board's flash comes programmed from the factory; a file of another size (or a directory)
    // is no flash of this board and is kept, not overwritten.
    const std::string path = dir + "/" + FLASH_FILE;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(NAND_BYTES))) {
      keepAside(path, st);
    }
    std::string error;
    if (access(path.c_str(), F_OK) != 0 && !nandWriteFactoryFile(path, error)) fault("nand: %s", error.c_str());
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) fault("nand: cannot open %s: %s", path.c_str(), std::strerror(errno));
    p = mmap(nullptr, NAND_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, fd, 0);
    ::close(fd);
    if (p != MAP_FAILED) boardFileMapped(p, NAND_BYTES, path);
  }
  if (p == MAP_FAILED) fault("nand: cannot map the flash");
  nand = Nand{};
  nand.flash = static_cast<u8*>(p);
  nand.fileBacked = !dir.empty();
  attachDevice(PORT_STATUS - 0x100, 0x200, &gluePorts);
  attachDevice(PAGE_BUFFERS, 2 * NAND_PAGE, &pageBuffers);
  attached = true;
}

namespace {

// Whether nothing or a regular file stands at path, its link not followed.
bool missingOrFile(const std::string& path, bool& exists) {
  struct stat st {};
  exists = lstat(path.c_str(), &st) == 0;
  return !exists || S_ISREG(st.st_mode);
}

// Moves the written file from partial onto path. fileOnly: only onto nothing (the move fails
// where something appeared) or a regular file (exchanged with it: what came out goes back unless it
// is a regular file); a file system that cannot move so takes a plain rename after a last check.
bool placeFile(const std::string& partial, const std::string& path, bool fileOnly, std::string& error) {
  bool exists = false;
  const std::string notFile = path + " changed while the flash was written and is no regular file: left as it is";
  if (fileOnly && !missingOrFile(path, exists)) return error = notFile, false;
  if (fileOnly && renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, path.c_str(), exists ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0) {
    if (!exists) return true;
    if (missingOrFile(partial, exists)) return unlink(partial.c_str()), true;
    renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);  // back where it stood
    return error = notFile, false;
  }
  if ((!fileOnly || errno == EINVAL || errno == ENOSYS) && rename(partial.c_str(), path.c_str()) == 0) return true;
  return error = "cannot rename " + partial + " to " + path + ": " + std::strerror(errno), false;
}

}  // namespace

bool nandWriteFactoryFile(const std::string& path, std::string& error, bool fileOnly) {
  const std::string partial = path + ".partial";
  auto failed = [&](const std::string& what) {
    if (!what.empty()) error = what + ": " + std::strerror(errno);
    if (bool exists = false; missingOrFile(partial, exists)) unlink(partial.c_str());
    return false;
  };
  if (bool exists = false; fileOnly && !missingOrFile(partial, exists)) return error = partial + " is no regular file: left as it is", false;
  unlink(partial.c_str());  // what an interrupted write left
  struct stat replaced {};
  const bool replaces = lstat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
  const int fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return failed("cannot create " + partial);
  void* p = MAP_FAILED;
  if (ftruncate(fd, NAND_BYTES) == 0) p = mmap(nullptr, NAND_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, fd, 0);
  if (p == MAP_FAILED) return ::close(fd), failed("cannot make " + partial + " " + std::to_string(NAND_BYTES) + " bytes long");
  boardFileMapped(p, NAND_BYTES, partial);
  nandProgramFactory(static_cast<u8*>(p));
  // The new file keeps the permissions of the one it replaces.
  const bool synced = (!replaces || fchmod(fd, replaced.st_mode & 07777) == 0) && msync(p, NAND_BYTES, MS_SYNC) == 0 &&
                      fsync(fd) == 0;
  boardFileUnmapped(p);
  munmap(p, NAND_BYTES);
  ::close(fd);
  if (!synced) return failed("cannot write " + partial);
  if (!placeFile(partial, path, fileOnly, error)) return failed("");
  // The rename itself reaches the disk with the directory.
  const size_t slash = path.rfind('/');
  const int dirFd = ::open(slash == std::string::npos ? "." : path.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) fsync(dirFd), ::close(dirFd);
  return true;
}

void nandDetach() {
  if (!attached) return;
  boardFileUnmapped(nand.flash);
  munmap(nand.flash, NAND_BYTES);
  nand = Nand{};
  detachDevice(&pageBuffers);
  detachDevice(&gluePorts);
  attached = false;
}

u8* nandFlash() { return nand.flash; }

void nandReset(bool factory) {
  if (nand.flash == nullptr) return;
  if (madvise(nand.flash, NAND_BYTES, MADV_REMOVE) != 0) std::memset(nand.flash, 0, NAND_BYTES);
  nandClearFaults();
  nand.used = nand.transferred = false;
  nand.eccFlag = false;
  nand.ready = true;
  if (factory) nandProgramFactory(nand.flash);
}

void nandWriteTable(u8* flash, u32 block, u32 count, u32 magic, const u32* bad, int nbad) {
  u8* t = flash + static_cast<u64>(block) * NAND_BLOCK;
  put32(t, magic);
  put32(t + 4, 1);
  put32(t + 8, count);
  u32 physical = NAND_FIRST_DATA_BLOCK;
  for (u32 s = 0; s < NAND_SECTORS; ++s, ++physical) {
    while (bad != nullptr && std::find(bad, bad + nbad, physical) != bad + nbad) ++physical;
    put32(t + 12 + 4 * s, physical);
  }
}

void nandWriteLogical(u8* flash, u32 adr, const void* data, u32 n, u32 tableBlock) {
  const u8* src = static_cast<const u8*>(data);
  const u8* table = flash + static_cast<u64>(tableBlock) * NAND_BLOCK + 12;
  while (n > 0) {
    u32 sector = adr / NAND_BLOCK, offset = adr % NAND_BLOCK;
    u32 chunk = std::min(n, NAND_BLOCK - offset);
    if (sector >= NAND_SECTORS) fault("nand: logical address 0x%08x beyond the table", adr);
    u32 block = get32(table + 4 * sector) % NAND_BLOCKS;
    std::memcpy(flash + static_cast<u64>(block) * NAND_BLOCK + offset, src, chunk);
    src += chunk;
    adr += chunk;
    n -= chunk;
  }
}

u32 nandImageBytes(const char* design, u32 payloadBytes) { return (4 + headerBytes(design) + payloadBytes + 3) & ~3u; }

u32 nandMakeImage(u8* out, const char* design, u32 payloadBytes, u32 seed) {
  u32 total = nandImageBytes(design, payloadBytes);
  std::memset(out, 0, total);
  put32(out, total);
  u8* h = out + 4;
  std::memcpy(h, PREAMBLE, sizeof PREAMBLE);
  u32 pos = sizeof PREAMBLE;
  pos += putField(h + pos, 'a', design);
  pos += putField(h + pos, 'b', PART);
  pos += putField(h + pos, 'c', DATE);
  pos += putField(h + pos, 'd', TIME);
  h[pos++] = 'e';
  for (int i = 3; i >= 0; --i) h[pos++] = static_cast<u8>(payloadBytes >> (8 * i));
  u32 x = seed * 2654435761u + 1;
  for (u32 i = 0; i < payloadBytes; ++i) {
    x = x * 1103515245u + 12345u;
    h[pos++] = static_cast<u8>(x >> 16);
  }
  for (u32 i = 0; i < pos; ++i) h[i] = reverseBits(h[i]);
  return total;
}

void nandProgramFactory(u8* flash) {
  nandWriteTable(flash, 0);
  static u8 image[0x8000];
  u32 seed = 1;
  for (const FactoryImage& f : FACTORY) {
    u32 n = nandMakeImage(image, f.name, f.payload, seed++);
    nandWriteLogical(flash, f.adr, image, n);
    nandWriteLogical(flash, f.adr + SECOND_BANK, image, n);
    if (f.variant1 != 0) nandWriteLogical(flash, f.variant1, image, n);
    if (f.variant2 != 0) nandWriteLogical(flash, f.variant2, image, n);
  }
}

void nandInjectBitError(u32 physAdr, int bit) {
  u32 offset = physAdr % NAND_PAGE;
  u32 p = ((offset % 64) / 4) * 32 + static_cast<u32>(bit & 31);  // position within the 64-byte unit
  u32 e = 1u | (p << 1);
  if (__builtin_popcount(e & 0x7FF) & 1) e |= 0x800;
  if (nand.nfaults < MAX_FAULTS) {
    nand.faults[nand.nfaults++] = Fault{physAdr / NAND_PAGE, static_cast<int>(offset / 64), static_cast<u16>(e),
                                        static_cast<int>(offset / 4), 1u << (bit & 31)};
  }
}

void nandInjectEcc(u32 physPage, int unit, u16 ecc) {
  if (nand.nfaults < MAX_FAULTS) nand.faults[nand.nfaults++] = Fault{physPage, unit & (UNITS - 1), ecc, -1, 0};
}

void nandClearFaults() { nand.nfaults = 0; }
u32 nandTransferCount() { return nand.transfers; }

}  // namespace platform
