#pragma once
// Peripheral tally groups (type 28, one channel, one instance): the four tally groups, the tally
// mode and the report form, checked, kept in the backup image and reported. A new tally mode goes
// to the hardware's tally control and a changed group has the multiview redrawn, every frame until
// the report carries them. The source tally, the multiview and the key-fader lamps read the record.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryPeripheral : public CategoryCommon<MxifPeripheral> {
 public:
  static constexpr int N_GROUPS = MxifPeripheral::N_GROUPS;

  static CategoryPeripheral& instance();

  // Nothing: a fresh record is all zero.
  void initData() override {}
  // The saved record through the checks of a request (a field that fails keeps its default), flag
  // A0 as saved; every field present, not dirty, so the next frames apply the tally mode and
  // redraw the multiview again, and the next report carries everything.
  void resume(const void* saved, int flag = 0) override;
  // While the tally mode is present: the hardware's tally control (1 unless the mode is 1). While a
  // group field is present: the multiview redraws.
  void update() override;

 protected:
  CategoryPeripheral() = default;
  // Flags, colours and entry codes as the record declares them, the exclusion flag always; flag A0
  // never.
  bool acceptField(const codec::FieldView& f, const MxifPeripheral& in, int idx) override;
};

}  // namespace category
