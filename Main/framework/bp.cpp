#include "Main/framework/bp.h"

#include "Common/reg.h"
#include "Lib/Include/log.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/records/memory.h"
#include "Lib/Include/rules.h"
#include "Main/framework/notes.h"
#include "Platform/platform.h"

namespace category {
namespace {

struct Priority {
  int type;
  int priority;
};
constexpr Priority PRIORITIES[] = {
    {TYPE_SYSTEM, 1},       {TYPE_SOURCE_TALLY, 2}, {TYPE_FADER_EVENT, 3},   {TYPE_SHOT_MEMORY, 4},
    {TYPE_EVENT_MEMORY, 5}, {TYPE_BUS, 6},          {TYPE_OPERATE, 7},       {TYPE_BKGD_WIPE, 8},
    {TYPE_CHROMA_KEY, 8},   {TYPE_BUTTON_EVENT, 10}, {TYPE_SWITCHING_CMD, 10},
};
constexpr int DEFAULT_PRIORITY = 9;

}  // namespace

void CategoryRegistry::checkSlot(int id, int me) {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= id && id < N_TYPES);
}

void CategoryInterface::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  (void)rx;
  MX_FAIL("NeverReachHere");
}

void CategoryRegistry::reset() {
  ++generation;
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
  listInstances();
  resetLinkState();
  profileFrames = 0;
}

void CategoryRegistry::resetLinkState() {
  waitFrames = 0;
  sendEnabled = 1;
  phase = 0;
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
  ++generation;
  listStale = true;
}

void CategoryRegistry::listInstances() {
  listStale = false;
  listed = 0;
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] != nullptr) instances[listed++] = categories[m][id];
    }
  }
  updateCount = 0;
  for (int p = 1; p <= 10; ++p) {
    for (int id = 0; id < N_TYPES; ++id) {
      if (updatePriority[id] == p && count[id] > 0) updateOrder[updateCount++] = id;
    }
  }
}

int CategoryRegistry::instanceCount(int id) const {
  MX_CHECK(0 <= id && id < N_TYPES);
  return count[id];
}

int CategoryRegistry::commandOwnerOf(int type) const {
  MX_CHECK(0 <= type && type < N_TYPES);
  return commandOwner[type];
}

int CategoryRegistry::updatePriorityOf(int type) const {
  MX_CHECK(0 <= type && type < N_TYPES);
  return updatePriority[type];
}

u8* CategoryRegistry::storageOf(int id, int me) const {
  checkSlot(id, me);
  return storage[me][id];
}

int CategoryRegistry::boundBytes(int id, int me) const {
  checkSlot(id, me);
  return recordBytes[me][id];
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
  recordBytes[me][id] = bytes;
  return bytes;
}

void registerCategory(CategoryInterface* cat, int id) { CategoryRegistry::instance().add(id, cat); }

void CategoryRegistry::refreshAll() {
  listIfStale();
  for (int i = 0; i < listed; ++i) instances[i]->refresh();
}

void CategoryRegistry::process() {
  linknotes::beginFrame();
  if (mxFifoKeep()) waitFrames = 0;  // the wait was read from a ring started again, or written over
  for (int id : {TYPE_BUTTON_EVENT, TYPE_SWITCHING_CMD}) {
    if (auto* queue = as<FrameQueue>(categories[0][id])) queue->runQueue();
  }
  if (waitFrames >= 1) {
    --waitFrames;
  } else {
    receiveAll();
  }
  const u32 updateFrom = rules::written();
  updatePass();
  linknotes::publish(updateFrom);
  if (platform::readMem32(OCM_PROFILE) != 0) profile();
  sendAll(AcknowledgeSender::instance());
  backup();
}

void CategoryRegistry::updatePass() {
  listIfStale();
  for (int i = 0; i < updateCount; ++i) {
    const int id = updateOrder[i];
    u32 start = mxGetTicks();
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] != nullptr) categories[m][id]->update();
    }
    updateUs[id] = mxElapsedUs(start, mxGetTicks());
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

bool CategoryRegistry::rotatesStatus() const {
  const MxifEventMemory* eventMemory = record<MxifEventMemory>();
  return eventMemory != nullptr && eventMemory->sendsInTurns();
}

void CategoryRegistry::sendAll(AcknowledgeSender& tx) {
  const bool pass = sendEnabled == 1, inTurns = rotatesStatus();
  if (sendEnabled == 1) {
    if (!inTurns) {
      listIfStale();
      for (int i = 0; i < listed; ++i) instances[i]->sendStatus(tx);
    } else {
      // A turn: an ME's keys and a part of the other records a frame, every pair once.
      static_assert(MxifEventMemory::TURN_FRAMES == N_ME * N_ME);
      phase = (phase + 1) % MxifEventMemory::TURN_FRAMES;
      int meRow = phase / N_ME;
      int part = phase % N_ME;
      for (int id = 0; id < N_TYPES; ++id) {
        if (id == TYPE_KEY || id == TYPE_CHROMA_KEY) {
          if (categories[meRow][id] != nullptr) categories[meRow][id]->send(tx, part);
        } else if (id == TYPE_BUS || id == TYPE_LED || id == TYPE_ME_LED || id == TYPE_BUS_TALLY ||
                   id == TYPE_SOURCE_TALLY) {
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
  // A whole pass out answers every request read so far.
  linknotes::answered(RequestReceiver::instance().position(), pass && sendEnabled == 1, inTurns, waitFrames);
}

}  // namespace category
