#pragma once
// Macros (type 20): the macro attach flags that the panels' attach buttons toggle.
#include "Main/framework/bp.h"
#include "Lib/Include/data_internal.h"

namespace category {

class CategoryMacro : public CategoryCommon<MxifMacro> {
 public:
  static CategoryMacro& instance();

  // The macro attach button (code 1603): a press from panel group 0..2 on button index 0..7
  // toggles that attach flag and marks it changed; anything else is ignored.
  void onAttachButton(const internal::MxifButtonEvent& btn);
  // The attach flag of panel group 0..2 and index 0..7.
  u8 attached(int group, int index);

 private:
  // Installs the button hook through which attach button events reach this category.
  CategoryMacro();
};

}  // namespace category
