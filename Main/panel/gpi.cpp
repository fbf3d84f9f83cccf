#include "Main/panel/gpi.h"

namespace category {

CategoryGpiInOut& CategoryGpiInOut::instance() {
  static CategoryGpiInOut cat;
  return cat;
}

// Each field of a port is judged on its own: a refused code does not stop the mode.
bool CategoryGpiInOut::acceptField(const codec::FieldView& f, const MxifGpiInOut& in, int idx) {
  (void)idx;
  return limits::check(in, f) != 0;
}

}  // namespace category
