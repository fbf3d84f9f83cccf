#pragma once
// Menu locks: the system menu lock (type 30) and the configuration menu lock (type 35), one record
// each of flags 0 or 1, kept in the backup image and reported. Nothing else reads them.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

template <class R>
class CategoryMenuLock : public CategoryCommon<R> {
 public:
  static CategoryMenuLock& instance() {
    static CategoryMenuLock cat;
    return cat;
  }

 protected:
  CategoryMenuLock() = default;
  bool acceptField(const codec::FieldView& f, const R& in, int idx) override {
    (void)idx;
    return limits::check(in, f) != 0;
  }
};

using CategorySystemMenuLock = CategoryMenuLock<MxifSystemMenuLock>;
using CategoryConfigMenuLock = CategoryMenuLock<MxifConfigMenuLock>;

}  // namespace category
