#include "Main/framework/bp.h"

#include "Common/reg.h"
#include "Lib/Include/log.h"
#include "Lib/Include/memory_map.h"
#include "Platform/platform.h"

namespace category {
namespace {

struct Priority {
  int type;
  int priority;
};
constexpr Priority PRIORITIES[] = {
    {29, 1},  // system
    {53, 2},  // source tally
    {95, 3},  // fader events
    {21, 4},  // shot memory
    {14, 5},  // event memory
    {47, 6},  // bus
    {36, 7},  // operate
    {9, 8},   // background wipe memory
    {1, 8},   // chroma key
    {94, 10}, // button events
    {76, 10}, // switching commands
};
constexpr int DEFAULT_PRIORITY = 9;

}  // namespace

void CategoryInterface::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  (void)rx;
  MX_FAIL("NeverReachHere");
}

CategoryRegistry& CategoryRegistry::instance() {
  static CategoryRegistry registry;
  return registry;
}

void CategoryRegistry::reset() {
  for (int m = 0; m < N_ME; ++m) {
    for (int id = 0; id < N_TYPES; ++id) {
      categories[m][id] = nullptr;
      recordBytes[m][id] = 0;
      storage[m][id] = nullptr;
    }
  }
  for (int id = 0; id < N_TYPES; ++id) {
    count[id] = 0;
    commandOwner[id] = -1;
    updatePriority[id] = DEFAULT_PRIORITY;
    updateUs[id] = 0;
    updateMaxUs[id] = 0;
  }
  for (const auto& p : PRIORITIES) updatePriority[p.type] = p.priority;
  waitFrames = 0;
  sendEnabled = 1;
  phase = 0;
  profileFrames = 0;
}

void CategoryRegistry::add(int id, CategoryInterface* cat) {
  MX_CHECK(0 <= id && id < N_TYPES);
  int me = count[id];
  CategoryInterface* ref = cat;
  ref->me = me;
  MX_CHECK(me < N_ME);
  MX_CHECK(me == 0 || ref->ownedByME());
  count[id] += 1;
  categories[me][id] = cat;
}

CategoryInterface* CategoryRegistry::get(int id, int me) {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= id && id < N_TYPES);
  CategoryInterface* cat = categories[me][id];
  return cat != nullptr ? cat : categories[0][id];
}

void CategoryRegistry::setCommandOwner(int id, int owner) {
  MX_CHECK(0 <= id && id < N_TYPES);
  commandOwner[id] = owner;
}

int CategoryRegistry::bindInstance(int me, int id, u8* area) {
  CategoryInterface* cat = categories[me][id];
  if (cat == nullptr) return 0;
  int bytes = (cat->bindStorage(area) + 3) & ~3;
  storage[me][id] = bytes > 0 ? area : nullptr;
  if (me < 2) recordBytes[me][id] = bytes;
  return bytes;
}

void registerCategory(CategoryInterface* cat, int id) { CategoryRegistry::instance().add(id, cat); }

void CategoryRegistry::refreshAll() {
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] != nullptr) categories[m][id]->refresh();
    }
  }
}

void CategoryRegistry::process() {
  for (int id : {TYPE_BUTTON_EVENT, TYPE_SWITCHING_CMD}) {
    if (auto* queue = dynamic_cast<FrameQueue*>(categories[0][id])) queue->runQueue();
  }
  if (waitFrames >= 1) {
    --waitFrames;
  } else {
    receiveAll();
  }
  updatePass();
  if (platform::readMem32(OCM_PROFILE) != 0) profile();
  sendAll(AcknowledgeSender::instance());
  if ((platform::readMem32(OCM_BOOT_MODE) & BOOT_MODE_NO_BACKUP) == 0) {
    for (int id = 0; id < N_TYPES; ++id) {
      for (int m = 0; m < N_ME; ++m) {
        if (categories[m][id] != nullptr) categories[m][id]->storeBackup();
      }
    }
    backupCopy();
  }
}

void CategoryRegistry::updatePass() {
  for (int p = 1; p <= 10; ++p) {
    for (int id = 0; id < N_TYPES; ++id) {
      if (updatePriority[id] != p || count[id] == 0) continue;
      u32 start = mxGetTicks();
      for (int m = 0; m < N_ME; ++m) {
        if (categories[m][id] != nullptr) categories[m][id]->update();
      }
      updateUs[id] = mxElapsedUs(start, mxGetTicks());
    }
  }
}

void CategoryRegistry::profile() {
  for (int id = 0; id < N_TYPES; ++id) {
    if (updateUs[id] > updateMaxUs[id]) updateMaxUs[id] = updateUs[id];
  }
  ++profileFrames;
  if (profileFrames == 60) {
    for (int id = 0; id < N_TYPES; ++id) {
      if (updateMaxUs[id] == 0) continue;
      consolePrintf(", %d, %f, %f, %s\n", id, updateUs[id] / 1000.0, updateMaxUs[id] / 1000.0, typeNameOf(id));
      updateMaxUs[id] = 0;
    }
  }
  if (profileFrames == 300) profileFrames = 0;
}

u8 CategoryRegistry::eventMemoryByte(int offset) const {
  const u8* rec = storage[0][TYPE_EVENT_MEMORY];
  if (rec == nullptr || recordBytes[0][TYPE_EVENT_MEMORY] <= offset) return 0;
  return rec[offset];
}

void CategoryRegistry::sendAll(AcknowledgeSender& tx) {
  if (sendEnabled == 1) {
    if (eventMemoryByte(4) == 0 || eventMemoryByte(12) == 0) {
      for (int id = 0; id < N_TYPES; ++id) {
        for (int m = 0; m < N_ME; ++m) {
          if (categories[m][id] != nullptr) categories[m][id]->sendStatus(tx);
        }
      }
    } else {
      phase = (phase + 1) % 16;
      int meRow = phase / 4;
      int part = phase % 4;
      for (int id = 0; id < N_TYPES; ++id) {
        if (id == 0 || id == 1) {
          if (categories[meRow][id] != nullptr) categories[meRow][id]->send(tx, part);
        } else if (id == 47 || id == 49 || id == 50 || id == 52 || id == 53) {
          for (int m = 0; m < N_ME; ++m) {
            if (categories[m][id] != nullptr) categories[m][id]->sendStatus(tx);
          }
        } else if (categories[part][id] != nullptr) {
          categories[part][id]->sendStatus(tx);
        }
      }
    }
  }
  tx.flush();
  sendEnabled = tx.stream().empty() ? 1 : 0;
}

}  // namespace category
