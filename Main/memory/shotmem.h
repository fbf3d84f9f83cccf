#pragma once
// Shot memory (type 21, owner of command type 66) and its status (type 22).
//
// Registers 81..160 hold the key presets: register 81 + 16 g + 4 c + j is preset j of key c of key
// group g. Storing, recalling and the commands are not built; what they tell the key presets after
// their work on such a register goes through the register decoder here.
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

class CategoryShotMemory : public CategoryWithCommands<MxifShotMemory> {
 public:
  static constexpr int FIRST_KEY_PRESET = 81;
  static constexpr int LAST_KEY_PRESET = 160;

  static CategoryShotMemory& instance();

  // The key preset of register r: group (r - 81) >> 4, key ((r - 81) & 15) >> 2, preset
  // (r - 81) & 3. A register outside 81..160 fails "NeverReachHere".
  struct KeyPreset {
    int group, key, preset;
  };
  static KeyPreset decodeKeyPreset(int r);

  // After register r (81..160) was stored, recalled, or found stored by a command of the given
  // code: the key presets select it (store: without the lamp window; recall: with it; commands 1,
  // 2, 4, 10, 11 and 12: the clear form with the window; other commands tell nothing).
  void keyPresetStored(int r);
  void keyPresetRecalled(int r);
  void keyPresetCommandDone(int code, int r);

 private:
  CategoryShotMemory() : CategoryWithCommands({TYPE_SHOT_MEMORY_CMD}) {}
  static void selectKeyPreset(int r, u8 window, u8 set);
};

// The status record is kept and echoed; the stored flag of every register 1..160 (byte 6 of its
// status) is held here, outside the backup image.
class CategoryShotMemoryStatus : public CategoryCommon<MxifShotMemoryStatus> {
 public:
  static constexpr int N_REGISTERS = 160;

  static CategoryShotMemoryStatus& instance();

  // 1 when register r holds a stored frame; 0 for any register outside 1..160.
  u8 isStored(int r) const;
  void setStored(int r, u8 stored);
  void initInternal() override;

 private:
  CategoryShotMemoryStatus() = default;
  u8 stored_[N_REGISTERS] = {};
};

}  // namespace category
