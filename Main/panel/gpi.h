#pragma once
// GPI port settings (type 31, one channel, one instance): each port's code and mode checked against
// the rule of its group, kept in the backup image and reported. Nothing else reads them.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryGpiInOut : public CategoryCommon<MxifGpiInOut> {
 public:
  static CategoryGpiInOut& instance();

 protected:
  CategoryGpiInOut() = default;
  bool acceptField(const codec::FieldView& f, const MxifGpiInOut& in, int idx) override;
};

}  // namespace category
