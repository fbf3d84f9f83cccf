#pragma once
// Shot memory (type 21, owner of command type 66) and its status (type 22).
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

class CategoryShotMemory : public CategoryWithCommands<MxifShotMemory> {
 public:
  static constexpr int COMMAND = 66;
  static CategoryShotMemory& instance();

 private:
  CategoryShotMemory() : CategoryWithCommands({COMMAND}) {}
};

class CategoryShotMemoryStatus : public CategoryCommon<MxifShotMemoryStatus> {
 public:
  static CategoryShotMemoryStatus& instance();

 private:
  CategoryShotMemoryStatus() = default;
};

}  // namespace category
