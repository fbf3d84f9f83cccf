#include "Main/memory/shotmem.h"

namespace category {

CategoryShotMemory& CategoryShotMemory::instance() {
  static CategoryShotMemory category;
  return category;
}

CategoryShotMemoryStatus& CategoryShotMemoryStatus::instance() {
  static CategoryShotMemoryStatus category;
  return category;
}

}  // namespace category
