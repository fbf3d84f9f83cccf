#pragma once
// Test patterns (type 57, one instance per ME, sixteen channels each, never in the backup image).
// Channel 0 of the ME 1 instance puts a hardware test mode on every ME each frame: the
// multi-pattern mode (pattern size and shift, dust, bus gains, key soft masks, bus filter modes)
// or the wipe-modulation mode. Everything else is kept and reported only.
#include "Lib/Include/data_internal.h"
#include "Main/framework/services.h"

namespace category {

class CategoryTest : public CategoryInObject<MxifTest> {
 public:
  // The four instances, one per ME, built on first call.
  static CategoryTest* instance();

  // Every channel names its ME and its number.
  void initData() override;
  // Dropped for an ME above 3 or a channel above 15; values are taken as they come.
  void receive(RequestReceiver& rx) override;
  // Values beyond what the drivers accept are brought into their ranges; the record keeps them.
  void update() override;

 protected:
  CategoryTest() = default;
};

}  // namespace category
