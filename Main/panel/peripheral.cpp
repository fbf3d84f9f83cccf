#include "Main/panel/peripheral.h"

#include <cstring>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Main/io/io.h"

namespace category {

namespace {

constexpr u32 GROUP_FIELDS = TallyGroup::ALL;
constexpr int MAX_TALLY_CODE = 36;

}  // namespace

CategoryPeripheral& CategoryPeripheral::instance() {
  static CategoryPeripheral cat;
  return cat;
}

int CategoryPeripheral::tallySource(int code, int group) {
  // The ME outputs 150..156 by code 1..6 (none for 153), the DSK outputs 170..177 by 13..20, the
  // bus outputs 240..255 by 21..36. Preview outputs are for groups 1..3 only.
  static constexpr s16 SOURCES[] = {0, 150, 151, 152, 154, 155, 156, -1, -1, -1, -1, -1, -1,
                                    170, 171, 172, 173, 174, 175, 176, 177};
  const bool preview = code == 2 || code == 5 || code == 15 || code == 16;
  if (preview && group == 0) return -1;
  if (0 <= code && code <= 20) return SOURCES[code];
  if (21 <= code && code <= MAX_TALLY_CODE) return code + 219;
  return -1;
}

bool CategoryPeripheral::acceptField(const codec::FieldView& f, const MxifPeripheral& in, int idx) {
  (void)idx;
  using rules::within;
  static constexpr rules::Rule FLAG_A0_KEPT = {rules::Effect::REFUSES, "flagA0 is carried and kept: a request never sets it"};
  if (f.is(in.flagA0)) {
    rules::note(FLAG_A0_KEPT, in, in.flagA0);
    return false;
  }
  if (f.is(in.option)) return within(in.option, 0, 1);
  if (f.is(in.reportForm)) return within(in.reportForm, 0, 1);
  if (f.is(in.tallyMode)) return within(in.tallyMode, 0, 1);
  const int g = f.elementOf(in.groups);
  if (g < 0) return false;
  const TallyGroup& group = in.groups[g];
  if (f.is(group.entries)) {
    return rules::withinWhere(group.entries[f.index], 0, MAX_TALLY_CODE, [g](s32 code) { return isTallySourceValid(code, g); });
  }
  if (f.is(group.color)) return within(group.color, 0, 3);
  return f.is(group.exclusion);
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
