#include "Main/panel/gpi.h"

namespace libmx {

bool isExtendedGpiCode(int code) {
  struct Range {
    int first, last;
  };
  static constexpr Range RANGES[] = {{0, 315},     {400, 615},   {700, 915},   {1000, 1215}, {1300, 1319},
                                     {1400, 1479}, {1500, 1511}, {1600, 1611}, {1700, 1711}, {1800, 1811}};
  for (const Range& r : RANGES) {
    if (r.first <= code && code <= r.last) return true;
  }
  return false;
}

}  // namespace libmx

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
    return k < MxifGpiInOut::FIRST_EXTENDED ? 0 <= e.code && e.code <= 245 : libmx::isExtendedGpiCode(e.code);
  }
  return e.mode <= 3;
}

}  // namespace category
