#include "Main/panel/gpi.h"

namespace category {

CategoryGpiInOut& CategoryGpiInOut::instance() {
  static CategoryGpiInOut cat;
  return cat;
}

// Each field of a port is judged on its own: a refused code does not stop the mode.
bool CategoryGpiInOut::acceptField(const codec::FieldView& f, const MxifGpiInOut& in, int idx) {
  (void)idx;
  const int k = f.elementOf(in.entries);
  MX_CHECK(k >= 0);
  const GpiEntry& e = in.entries[k];
  if (f.is(e.code)) {
    return k < MxifGpiInOut::FIRST_EXTENDED ? rules::within(e.code, 0, 245) : rules::withinAny(e.code, libmx::EXTENDED_GPI_CODES);
  }
  return rules::within(e.mode, 0, 3);
}

}  // namespace category
