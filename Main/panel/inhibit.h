#pragma once
// Button inhibit tables (type 34): one table per control panel (channel = panel 0..2), each field
// checked against its range, kept in the backup image and reported panel by panel. The inhibits
// are not applied here: the front end gives them their effect.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryButtonInhibit : public CategoryCommon<MxifButtonInhibit> {
 public:
  static CategoryButtonInhibit& instance();

  // Every table names its panel.
  void initData() override;
  void resume(const void* saved, int flag = 0) override;
  // A table for a panel other than 0..2 is dropped.
  void receive(RequestReceiver& rx) override;

 protected:
  CategoryButtonInhibit() = default;
  bool acceptField(const codec::FieldView& f, const MxifButtonInhibit& in, int idx) override;
};

}  // namespace category
