#pragma once
// Shot memory (type 21, owner of command type 66) and its status (type 22).
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

class CategoryShotMemory : public CategoryWithCommands<MxifShotMemory> {
 public:
  static CategoryShotMemory& instance();

 private:
  CategoryShotMemory() : CategoryWithCommands({TYPE_SHOT_MEMORY_CMD}) {}
};

class CategoryShotMemoryStatus : public CategoryCommon<MxifShotMemoryStatus> {
 public:
  static CategoryShotMemoryStatus& instance();

 private:
  CategoryShotMemoryStatus() = default;
};

}  // namespace category
