// Start-up binding of the categories' records (minimal form: every instance is bound in a static
// buffer and initialised; the backup image and its resume come with the non-volatile storage).
#include "Main/bp.h"

namespace category {
namespace {

constexpr int BUFFER_BYTES = 71680;
alignas(8) u8 backupBuffer[BUFFER_BYTES];
alignas(8) u8 volatileBuffer[BUFFER_BYTES];

int roundUp4(int n) { return (n + 3) & ~3; }

}  // namespace

void CategoryRegistry::initialize() {
  int backupUsed = 0;
  int volatileUsed = 0;
  for (int id = 0; id < N_TYPES; ++id) {
    for (int m = 0; m < N_ME; ++m) {
      CategoryInterface* cat = categories[m][id];
      if (cat == nullptr) continue;
      bool backed = m < 2;
      u8* buffer = backed ? backupBuffer : volatileBuffer;
      int& used = backed ? backupUsed : volatileUsed;
      u8* area = buffer + used;
      int bytes = roundUp4(cat->bindStorage(area));
      MX_CHECK(used + bytes <= BUFFER_BYTES);
      std::memset(area, 0, static_cast<size_t>(bytes));
      storage[m][id] = bytes > 0 ? area : nullptr;
      if (backed) recordBytes[m][id] = bytes;
      used += bytes;
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
