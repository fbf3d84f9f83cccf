#pragma once
// GPI port settings (type 31, one channel, one instance): each port's code and mode checked against
// the rule of its group, kept in the backup image and reported. Nothing else reads them.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace libmx {

// The extended code set of GPI groups 6..9.
constexpr rules::Range EXTENDED_GPI_CODES[] = {{0, 315},     {400, 615},   {700, 915},   {1000, 1215}, {1300, 1319},
                                               {1400, 1479}, {1500, 1511}, {1600, 1611}, {1700, 1711}, {1800, 1811}};

}  // namespace libmx

namespace category {

class CategoryGpiInOut : public CategoryCommon<MxifGpiInOut> {
 public:
  static CategoryGpiInOut& instance();

 protected:
  CategoryGpiInOut() = default;
  bool acceptField(const codec::FieldView& f, const MxifGpiInOut& in, int idx) override;
};

}  // namespace category
