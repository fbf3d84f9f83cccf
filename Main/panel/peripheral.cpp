#include "Main/panel/peripheral.h"

#include <cstring>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Main/io/io.h"

namespace category {

namespace {

constexpr u32 GROUP_FIELDS = TallyGroup::ALL;

}  // namespace

CategoryPeripheral& CategoryPeripheral::instance() {
  static CategoryPeripheral cat;
  return cat;
}

bool CategoryPeripheral::acceptField(const codec::FieldView& f, const MxifPeripheral& in, int idx) {
  (void)idx;
  if (const int k = limits::check(in, f); k >= 0) return k == 1;
  if (f.is(in.flagA0)) {
    rules::note(MxifPeripheral::FLAG_A0_KEPT, in, in.flagA0);
    return false;
  }
  const int g = f.elementOf(in.groups);
  return g >= 0 && f.is(in.groups[g].exclusion);  // a truth value, as read
}

void CategoryPeripheral::resume(const void* saved, int flag) {
  record(0) = MxifPeripheral{};  // a refused field keeps its default
  CategoryCommon::resume(saved, flag);
  // Flag A0, which no request sets, as it was saved.
  MxifPeripheral in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  record(0).flagA0 = in.flagA0;
}

void CategoryPeripheral::update() {
  const MxifPeripheral& r = record(0);
  if (r.maskA & MxifPeripheral::TALLY_MODE) mxSetTallyControl(MX_DSK_PGM1, r.tallyMode != 1 ? 1 : 0);
  bool groupChanged = false;
  for (const TallyGroup& g : r.groups) groupChanged = groupChanged || (g.mask & GROUP_FIELDS) != 0;
  if (!groupChanged) return;
  if (auto* multiview = CategoryRegistry::instance().find<CategoryMultiView>(TYPE_MULTI_VIEW, 0)) {
    multiview->markAllChanged();
  }
}

}  // namespace category
