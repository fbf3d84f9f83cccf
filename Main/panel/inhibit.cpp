#include "Main/panel/inhibit.h"

namespace category {

CategoryButtonInhibit& CategoryButtonInhibit::instance() {
  static CategoryButtonInhibit cat;
  return cat;
}

void CategoryButtonInhibit::initData() {
  CategoryCommon::initData();
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch).panel = static_cast<u16>(ch);
}

void CategoryButtonInhibit::resume(const void* saved, int flag) {
  CategoryCommon::resume(saved, flag);
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch).panel = static_cast<u16>(ch);
}

void CategoryButtonInhibit::receive(RequestReceiver& rx) {
  MxifButtonInhibit in{};
  if (!readBody(rx, in)) return;
  rx.clearHeader();
  if (in.panel >= N_CHANNELS) return;
  assign(in, in.panel);
}

// A field of an entry is checked by the entry's own limits, not the whole table's.
bool CategoryButtonInhibit::acceptField(const codec::FieldView& f, const MxifButtonInhibit& in, int idx) {
  (void)idx;
  const int k = f.elementOf(in.entries);
  return (k >= 0 ? limits::check(in.entries[k], f) : limits::check(in, f)) != 0;
}

}  // namespace category
