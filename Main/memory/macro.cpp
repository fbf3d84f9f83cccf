#include "Main/memory/macro.h"

#include "Main/bus/button.h"

namespace category {

using internal::MxifButtonEvent;

CategoryMacro::CategoryMacro() {
  CategoryButtonEvent::setHook(ButtonReceiver::MACRO, [](CategoryInterface& target, const MxifButtonEvent& ev) {
    if (auto* macro = dynamic_cast<CategoryMacro*>(&target)) macro->onAttachButton(ev);
  });
}

CategoryMacro& CategoryMacro::instance() {
  static CategoryMacro category;
  return category;
}

void CategoryMacro::onAttachButton(const MxifButtonEvent& btn) {
  MX_CHECK(btn.getCode() == MxifButtonEvent::BTN_TR_MACRO_ATTCH);
  if (btn.state != MxifButtonEvent::PRESSED) return;
  if (btn.panel >= MxifMacro::N_GROUPS || btn.index >= MxifMacro::N_ATTACH) return;
  MxifMacro::Attach& group = record(0).attach[btn.panel];
  group.flag[btn.index] = group.flag[btn.index] != 0 ? 0 : 1;
  group.mask |= 1u << btn.index;
  dirty[0] = 1;
}

u8 CategoryMacro::attached(int group, int index) {
  MX_CHECK(0 <= group && group < MxifMacro::N_GROUPS);
  MX_CHECK(0 <= index && index < MxifMacro::N_ATTACH);
  return record(0).attach[group].flag[index];
}

}  // namespace category
