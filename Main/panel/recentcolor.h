#pragma once
// Recent colours (type 51, one record, one instance): the eight colours used last, most recent
// first, kept in the backup image and reported. Nothing else reads them.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryRecentColor : public CategoryCommon<MxifRecentColor> {
 public:
  static CategoryRecentColor& instance();

  // A record with all eight colours replaces the list; one with colour 0 present and colour 1
  // absent reports a colour just used, which goes to the front unless the list holds it already;
  // any other record changes nothing. The record is echoed in every case.
  void assign(const MxifRecentColor& in, int idx) override;

 protected:
  CategoryRecentColor() = default;
};

}  // namespace category
