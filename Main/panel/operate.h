#pragma once
// Panel operation (type 36, one channel, one instance): which ME each row of the three control
// panels drives, kept a permutation every frame; fade to black, run frame by frame to the DSK fade
// level with its on-air state reported; the stored bus settings; and the key source memory.
#include "Lib/Include/data_internal.h"
#include "Main/bkgd/autotrans.h"
#include "Main/framework/bp.h"
#include "Main/key/keymem.h"

namespace libmx {

// Builds into `out` the record with only its present fields that are in range marked present.
// From a request (fromImage false) rows 0 and 1 of the ME maps take 0 and 1 and rows 2 and 3
// nothing; from the backup image every row takes 0..3. The key memory's enable takes 0 and 1 (a
// request's 2 and 3 are commands to the memory, never stored).
void checkOperateRanges(const MxifOperate& in, MxifOperate& out, bool fromImage);

}  // namespace libmx

namespace category {

class CategoryOperate : public CategoryCommon<MxifOperate> {
 public:
  using Record = MxifOperate;
  using MeMap = Record::Bytes4;
  static constexpr int N_PANELS = Record::N_PANELS;

  static CategoryOperate& instance();

  // The record cleared, the fade clear and stopped, the key memory with nothing held.
  void initData() override;
  // No fade request pending; the key memory's entries stamped, and the key channels and the source
  // link told to report to it.
  void initInternal() override;
  // The saved record with every presence bit, through the range checks field by field (an ME map
  // entry above 3 keeps its cleared value, which the first update's map repair resolves); the fade
  // stopped at the end the saved target names.
  void resume(const void* saved, int flag = 0) override;
  // Fade source and level to the drivers, fade requests, the fade's frame step and status, the ME
  // map repair, the key memory.
  void update() override;
  // Takes each present field that is in range, logs the bad fader modes, and acts on what changes:
  // the key-fader kind frees the key transitions, the fade target requests a fade, a panel row's
  // new ME frees both MEs' transitions, the key memory switches may empty the memory.
  void assign(const Record& in, int idx) override;

  // Repairs the three panels' ME maps: a row 0 or 1 above 1 is reset to its own number, and a map
  // with a pending row is resolved.
  void checkMeChangeRange();
  // Keeps a map's four entries a permutation of 0..3, the rows present in its mask first; two of
  // them naming one ME give the identity with every bit set.
  static void resolveMeChange(MeMap& map, int panel);

  // Stored bus setting `entry` (0..5, anything else entry 0) of `group` (0..7, anything else an
  // all-zero setting).
  Record::BusSetting busSetting(int group, int entry);
  // The bus-status value of a bus-setting code in a slot (mode 1: the second value).
  static u8 busStatusValue(int code, int slot, int mode);
  // The slot of a bus setting's code k (0..3; 0 otherwise).
  static int busStatusSlot(int k);

  // The fade to black (the tally reads its level).
  const AutoTransition& fadeTracker() const { return fadeTracker_; }
  // 0 clear .. 1 faded.
  static float fadeLevel(const AutoTransition& t);
  bool fadeRequested() const { return fadeRequested_ != 0; }
  bool clearRequested() const { return clearRequested_ != 0; }
  KeyMemory& keyMemory() { return keyMemory_; }
  // The key source memory of the operate category in the registry; null while there is none.
  static KeyMemory* registeredKeyMemory();

 protected:
  CategoryOperate();

 private:
  void runFade();
  void ftbStatus();

  AutoTransition fadeTracker_;
  u8 fadeRequested_ = 0;
  u8 clearRequested_ = 0;
  KeyMemory keyMemory_;
};

}  // namespace category
