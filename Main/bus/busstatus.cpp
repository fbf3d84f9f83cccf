#include "Main/bus/busstatus.h"

#include "Main/bus/bus.h"

namespace category {

CategoryBusStatus* CategoryBusStatus::instance() {
  static CategoryBusStatus objects[N_ME];
  return objects;
}

void CategoryBusStatus::initData() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    MxifBusStatus& r = record(ch);
    r = MxifBusStatus{};
    r.channel = static_cast<u16>(ch);
    r.me = static_cast<u8>(me);
  }
}

void CategoryBusStatus::initInternal() {
  CategoryCommon::initInternal();
  for (auto& b : lastByte20_) b = 0;
}

void CategoryBusStatus::resume(const void* saved, int flag) {
  CategoryCommon::resume(saved, flag);
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch).channel = static_cast<u16>(ch);
}

void CategoryBusStatus::receive(RequestReceiver& rx) {
  MxifBusStatus in{};
  if (!rx.readRecord(in)) return;
  rx.clearHeader();
  if (in.me >= N_ME || in.channel >= N_CHANNELS) return;
  auto* target = static_cast<CategoryBusStatus*>(CategoryRegistry::instance().get(TYPE_INDEX, in.me));
  if (target == nullptr) return;
  target->assign(in, in.channel);
}

bool CategoryBusStatus::acceptField(const codec::FieldView& f, const MxifBusStatus& in, int ch) {
  (void)ch;
  return limits::check(in, f) != 0;
}

void CategoryBusStatus::assign(const MxifBusStatus& in, int ch) {
  MX_CHECK(0 <= ch && ch < N_CHANNELS);
  MxifBusStatus work{};
  codec::merge(work, in, [&](const codec::FieldView& f) { return acceptField(f, in, ch); });
  // With link mode 0 a repeated 1 switches the special lamp off.
  if (sourceLinkMode() == 0 && lastByte20_[ch] == 1 && in.switchLamp == 1) {
    work.switchLamp = 0;
    work.maskA |= MxifBusStatus::SWITCH;
  }
  lastByte20_[ch] = in.switchLamp;
  MxifBusStatus& live = record(ch);
  codec::merge(live, work);
  live.channel = static_cast<u16>(ch);
  setMe(live);
  dirty[ch] = 1;
}

int CategoryBusStatus::rowEntry(int ch, int row) {
  MX_CHECK(0 <= row && row < MxifBusStatus::N_ROWS);
  const u8 entry = record(ch).rows[row];
  return entry < MxifBus::N_ENTRIES ? entry : -1;
}

int CategoryBusStatus::statusHasListedCode(int ch) {
  static constexpr u8 LISTED[] = {3, 5, 7, 9, 103, 105, 107, 109, 17, 19, 21, 23, 11};
  const MxifBusStatus& r = record(ch);
  for (int row = 0; row < 4; ++row) {
    for (u8 code : LISTED) {
      if (r.rows[row] == code) return 1;
    }
  }
  return 0;
}

}  // namespace category
