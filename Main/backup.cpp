// Start-up binding of the categories' records (minimal form: every instance is bound in a static
// buffer and initialised; the backup image and its resume come with the non-volatile storage).
#include "Main/bp.h"

namespace category {
namespace {

constexpr int BUFFER_BYTES = 71680;
alignas(8) u8 backupBuffer[BUFFER_BYTES];
alignas(8) u8 volatileBuffer[BUFFER_BYTES];

}  // namespace

void CategoryRegistry::initialize() {
  std::memset(backupBuffer, 0, sizeof backupBuffer);
  std::memset(volatileBuffer, 0, sizeof volatileBuffer);
  int used[2] = {0, 0};  // backup buffer (ME rows 0 and 1), volatile buffer (rows 2 and 3)
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      int which = m < 2 ? 0 : 1;
      u8* buffer = which == 0 ? backupBuffer : volatileBuffer;
      used[which] += bindInstance(m, id, buffer + used[which]);
      MX_CHECK(used[which] <= BUFFER_BYTES);
    }
  }
  initializeAll();
}

void CategoryRegistry::initializeAll() {
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] != nullptr) categories[m][id]->initialize();
    }
  }
}

void CategoryRegistry::resumeAll(const void* image) {
  const u8* p = static_cast<const u8*>(image);
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < 2; ++m) {
      if (categories[m][id] == nullptr) continue;
      categories[m][id]->resume(p, 0);
      p += recordBytes[m][id];
    }
  }
}

void CategoryRegistry::initAfterResume() {
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      if (categories[m][id] == nullptr) continue;
      if (m < 2) {
        categories[m][id]->initInternal();
      } else {
        categories[m][id]->initialize();
      }
    }
  }
}

void CategoryRegistry::backupCopy() {}

}  // namespace category
