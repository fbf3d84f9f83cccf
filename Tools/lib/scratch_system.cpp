#include "Tools/lib/scratch_system.h"

#include <cstring>

#include "Driver/resets.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/storage.h"
#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Main/framework/startup.h"
#include "Platform/board.h"
#include "Platform/board_models.h"

namespace frontend {
namespace {

struct Scratch {
  bool own = false;
  std::vector<u8> image;  // the last image loaded (empty: the defaults)
  u8* backup = nullptr;   // the records of ME 0 and 1 as bound, behind the image's header
  int backupBytes = 0;
  u8* volatileRecords = nullptr;  // those of ME 2 and 3
  int volatileBytes = 0;
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

u32 wordAt(const std::vector<u8>& image, size_t offset) {
  u32 v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | image[offset + static_cast<size_t>(i)];  // little-endian, as the target keeps it
  return v;
}

// The state of the image (or of the defaults), and a frame after it, as a start gives them.
void restart() {
  auto& registry = category::CategoryRegistry::instance();
  const std::vector<u8>& image = scratch().image;
  // The drivers and the records start anew, as in a new process (whose start clears memory): only
  // what the image holds comes back.
  mxResetAllBlocks();
  std::memset(scratch().backup, 0, static_cast<size_t>(scratch().backupBytes));
  std::memset(scratch().volatileRecords, 0, static_cast<size_t>(scratch().volatileBytes));
  if (image.empty()) {
    registry.initializeAll();
  } else {
    registry.resumeAll(image.data() + BACKUP_HEADER_BYTES, static_cast<int>(image.size()) - BACKUP_HEADER_BYTES);
    registry.initAfterResume();
  }
  mxFifoReset();
  RequestReceiver::instance().reset();
  AcknowledgeSender::instance().reset();
  try {
    registry.updatePass();
  } catch (const assert::AssertException&) {
    // A check that fails on the state restored leaves the rest of the frame; the records stand.
  } catch (const ScratchEnded&) {
  }
  rules::clear();
}

}  // namespace

bool useScratchSystem() {
  if (!platform::boardIsOpen()) {
    platform::BoardOptions options;  // anonymous memory
    options.clock = platform::ClockMode::Fast;
    platform::boardOpen(options);
    platform::attachBoardModels();
    platform::setEndHandler([](platform::EndReason, u32) { throw ScratchEnded{}; });
    platform::setDebugEcho(false);
  }
  auto& registry = category::CategoryRegistry::instance();
  createCategories();  // enters only the ones not entered yet
  if (registry.storageOf(category::TYPE_KEY, 0) != nullptr) return false;  // a system is bound already
  // Rows 0 and 1 in backup order first, then the others, as start-up binds them.
  static u8 area[2][BUF_SIZE * 4];
  int used[2] = {BACKUP_HEADER_BYTES, 0};
  for (int id = 0; id < category::N_TYPES; ++id) {
    for (int m = 0; m < category::N_ME; ++m) {
      const int buffer = m < 2 ? 0 : 1;
      if (registry.at(id, m) == nullptr || used[buffer] >= BUF_SIZE * 4) continue;
      used[buffer] += registry.bindInstance(m, id, area[buffer] + used[buffer]);
    }
  }
  registry.initializeAll();
  RequestReceiver::instance().reset();
  scratch().own = true;
  scratch().backup = area[0];
  scratch().backupBytes = used[0];
  scratch().volatileRecords = area[1];
  scratch().volatileBytes = used[1];
  return true;
}

bool scratchIsOwn() {
  useScratchSystem();
  return scratch().own;
}

bool loadScratchImage(const std::vector<u8>& nvram) {
  if (!scratchIsOwn()) return false;
  const bool readable = nvram.size() >= static_cast<size_t>(BACKUP_HEADER_BYTES) && wordAt(nvram, 0) == BACKUP_MAGIC &&
                        wordAt(nvram, 4) == BACKUP_VERSION;
  scratch().image = readable ? nvram : std::vector<u8>{};
  restart();
  return readable;
}

void resetScratch() {
  if (scratchIsOwn()) restart();
}

std::vector<u8> scratchImage() {
  std::vector<u8> image(NON_VOLATILE_SIZE, 0);
  if (!scratchIsOwn()) return image;
  category::CategoryRegistry::instance().backup();  // each instance's storeBackup
  std::memcpy(image.data(), scratch().backup, static_cast<size_t>(scratch().backupBytes));
  for (int i = 0; i < 4; ++i) {  // magic and version, little-endian as the target keeps them
    image[static_cast<size_t>(i)] = static_cast<u8>(BACKUP_MAGIC >> (8 * i));
    image[static_cast<size_t>(4 + i)] = static_cast<u8>(BACKUP_VERSION >> (8 * i));
  }
  return image;
}

}  // namespace frontend
