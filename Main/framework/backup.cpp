// The backup image: start-up binding of every category's records, the choice between initialising
// and resuming them, and the per-frame copy of the image to the non-volatile window.
//
// Image: magic, version, then for type 0 to 103 the records of the ME 0 instance and of the ME 1
// instance, each block rounded up to 4 bytes. The ME 2 and ME 3 records lie in a volatile buffer
// laid out the same way and are not saved.
#include <algorithm>
#include <cstring>

#include "Common/memory.h"
#include "Common/storage.h"
#include "Driver/dma/dma.h"
#include "Main/framework/bp.h"
#include "Main/framework/notes.h"
#include "Lib/Include/log.h"
#include "Lib/Include/memory_map.h"
#include "Platform/platform.h"

namespace category {
namespace {

constexpr int DMA_SLOW_REPORT = 15;  // frames between "DMA too slow" lines
constexpr int DMA_GIVE_UP = 60;      // frames after which a copy still running is stopped

alignas(8) u8 volatileBuffer[BUF_SIZE * 4];
alignas(8) u8 resumeBuffer[BUF_SIZE * 4];

struct BackupState {
  int backupByte = 0;
  int volatileByte = 0;
  int backupByteExt = 0;
  u32 bootMode = 0;
  int dmaCount = 0;  // frames since the last copy was started; 0: none started yet
  u32 copying = 0;   // the request ring index before which the running copy holds every request
};
BackupState state;

// The backup buffer and the extended buffer behind it, in memory that the DMA engine reaches.
u8* backupBuffer() { return platform::memory(BACKUP_BUFFER_ADR, (BUF_SIZE + BUF_SIZE_EXT) * 4); }

}  // namespace

void CategoryRegistry::initialize() {
  u8* backup = backupBuffer();
  std::memset(backup, 0, (BUF_SIZE + BUF_SIZE_EXT) * 4);
  std::memset(volatileBuffer, 0, sizeof volatileBuffer);
  const u32 header[2] = {BACKUP_MAGIC, BACKUP_VERSION};
  std::memcpy(backup, header, sizeof header);
  int backupByte = BACKUP_HEADER_BYTES;
  int volatileByte = 0;
  const int backupByteExt = 0;  // nothing is bound in the extended buffer

  int types = 0;
  for (int id = 0; id < N_TYPES; ++id) {
    if (categories[0][id] != nullptr) ++types;
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] == nullptr) continue;
      const bool saved = m < 2;
      int& used = saved ? backupByte : volatileByte;
      used += bindInstance(m, id, (saved ? backup : volatileBuffer) + used);
    }
  }
  MX_LOG(libmx::INFO, "Number of registered categories: %d/%d %d\n", types, N_TYPES, FIRST_COMMAND_TYPE);
  MX_LOG(libmx::INFO, "Backup buffer size: %d bytes", backupByte + backupByteExt);
  MX_CHECK(backupByte < BUF_SIZE * 4);
  MX_CHECK(volatileByte < BUF_SIZE * 4);
  MX_CHECK(backupByteExt < BUF_SIZE_EXT * 4);
  state.backupByte = backupByte;
  state.volatileByte = volatileByte;
  state.backupByteExt = backupByteExt;

  // A copy still outstanding from an earlier start is finished before the image is rebuilt.
  MxDmaChannel* dma = mxDmaChannel(MX_DMA_BACKUP);
  mxDmaSync(dma);
  state.dmaCount = 0;

  state.bootMode = platform::readMem32(OCM_BOOT_MODE);
  MX_LOG(libmx::INFO, "bootMode = 0x%x", state.bootMode);
  if (state.bootMode & BOOT_MODE_NO_BACKUP) {
    MX_LOG(libmx::INFO, "initializeAll()");
    initializeAll();
    return;
  }
  Storage& nv = Storage::instance();
  // The part of the image that the window held stored (a shorter store holds the image's start).
  const int held = static_cast<int>(std::min<u32>(platform::nonVolatileStoredBytes(), static_cast<u32>(backupByte)));
  const u32 magic = nv.readWord(0);
  const u32 version = nv.readWord(4);
  mxReadNonVolatile(0, resumeBuffer, backupByte);
  if (held >= BACKUP_HEADER_BYTES && magic == BACKUP_MAGIC && version == BACKUP_VERSION) {
    MX_LOG(libmx::INFO, "backup data resume");
    if (held < backupByte) {
      MX_LOG(libmx::WARN, "backup data holds %d of %d bytes: the records past it start from their defaults", held,
             backupByte);
    }
    resumeAll(resumeBuffer + BACKUP_HEADER_BYTES, held - BACKUP_HEADER_BYTES);
    initAfterResume();
    return;
  }
  if (std::all_of(resumeBuffer, resumeBuffer + held, [](u8 b) { return b == 0; })) {
    if (held < backupByte) {
      // A store shorter than the image (an empty one on a board started before): the settings
      // that the rest held are not there.
      MX_LOG(libmx::WARN, "backup data holds %d of %d bytes: settings start from defaults", held, backupByte);
    } else {
      // No image was ever stored: a new board, or a first start cut short before its first copy.
      MX_LOG(libmx::INFO, "no backup data");
    }
  } else {
    // Kept before the first copy of this start writes the new image over it.
    const char* kept = platform::keepNonVolatile("unreadable");
    MX_LOG(libmx::WARN, "backup data unreadable (magic 0x%08x, version %u): settings start from defaults%s%s", magic,
           version, kept != nullptr ? "; the image is kept as " : "", kept != nullptr ? kept : "");
  }
  initializeAll();
  nv.writeBoardMode(0);
}

void CategoryRegistry::initializeAll() {
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] != nullptr) categories[m][id]->initialize();
    }
  }
}

void CategoryRegistry::resumeAll(const void* image, int heldBytes) {
  const u8* records = static_cast<const u8*>(image);
  int at = 0;
  for (int id = 0; id < N_TYPES; ++id) {
    int reset = 0;  // saved fields that the checks of the resumes refused
    for (int m = 0; m < 2; ++m) {
      CategoryInterface* cat = categories[m][id];
      if (cat == nullptr) continue;
      cat->refused = 0;
      if (at + recordBytes[m][id] > heldBytes) {
        cat->initialize();  // nothing stored for it
      } else {
        try {
          cat->resume(records + at, 0);
          reset += cat->refused;
        } catch (const assert::AssertException&) {
          // A damaged record fails its checks: the category starts from its defaults instead.
          MX_LOG(libmx::ERR, "backup data of %s is broken, initialized", cat->typeName());
          cat->initialize();
        }
      }
      at += recordBytes[m][id];
    }
    if (reset > 0) MX_LOG(libmx::WARN, "backup data of %s: %d fields out of range, reset", typeNameOf(id), reset);
  }
}

void CategoryRegistry::initAfterResume() {
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      CategoryInterface* cat = categories[m][id];
      if (cat == nullptr) continue;
      if (m < 2) {
        cat->initInternal();
      } else {
        cat->initialize();
      }
    }
  }
}

void CategoryRegistry::backup() {
  // The boot mode word read at start-up decides, not its value now.
  if (state.bootMode & BOOT_MODE_NO_BACKUP) return;
  listIfStale();
  for (int i = 0; i < listed; ++i) instances[i]->storeBackup();
  backupCopy();
}

void CategoryRegistry::backupCopy() {
  if (state.bootMode & BOOT_MODE_NO_BACKUP || state.backupByte == 0) return;
  // A store that lost contents the board keeps (a host board's file cut short) was made whole again.
  if (const char* restored = platform::nonVolatileRestored()) MX_LOG(libmx::WARN, "%s", restored);
  MxDmaChannel* dma = mxDmaChannel(MX_DMA_BACKUP);
  if (state.dmaCount > 0) {
    if (mxDmaIsBusy(dma)) {
      if (state.dmaCount < DMA_GIVE_UP) {
        ++state.dmaCount;
        if (state.dmaCount % DMA_SLOW_REPORT == 0) MX_LOG(libmx::WARN, "DMA too slow %d", state.dmaCount);
        return;
      }
      // Given up: a new copy starts even on a channel that stays busy, so a hung channel is
      // reported once per 60 frames and copies resume as soon as it frees.
      MX_LOG(libmx::ERR, "DMA timeout");
      mxDmaStop(dma);
      mxDmaSync(dma);
      MX_LOG(libmx::WARN, "DMA too slow %d", DMA_GIVE_UP);
    } else if (!mxDmaSync(dma)) {
      return;
    } else {
      linknotes::backedUp(state.copying);
    }
  }
  mxDmaWriteBurst(dma, NON_VOLATILE_BASE, reinterpret_cast<const u32*>(backupBuffer()), state.backupByte);
  mxDmaExecute(dma);
  state.dmaCount = 1;
  state.copying = RequestReceiver::instance().position();
}

}  // namespace category
