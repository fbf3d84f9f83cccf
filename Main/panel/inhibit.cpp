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

bool CategoryButtonInhibit::acceptField(const codec::FieldView& f, const MxifButtonInhibit& in, int idx) {
  (void)idx;
  using rules::within;
  if (f.is(in.flag)) return within(in.flag, 0, 1);
  const int k = f.elementOf(in.entries);
  MX_CHECK(k >= 0);
  const InhibitEntry& e = in.entries[k];
  if (f.is(e.code)) return within(e.code, 0, 224);
  if (f.is(e.select)) return within(e.select, 0, 10);
  return within(e.mode, 0, 3);
}

}  // namespace category
