#include "Main/system/plugin.h"

#include <cstring>

namespace category {

using S = MxifPluginStatus;

CategoryPlugin& CategoryPlugin::instance() {
  static CategoryPlugin cat;
  return cat;
}

CategoryPluginStatus& CategoryPluginStatus::instance() {
  static CategoryPluginStatus cat;
  return cat;
}

int CategoryPluginStatus::bindStorage(void* area) {
  for (auto& s : slots_) s = S{};
  records = slots_;
  savedStates_ = static_cast<u8*>(area);
  return SAVED_BYTES;
}

void CategoryPluginStatus::initData() {
  for (int i = 0; i < N_CHANNELS; ++i) record(i).slot = static_cast<s16>(i);
}

void CategoryPluginStatus::resume(const void* saved, int flag) {
  if (flag != 0) return;
  const u8* states = static_cast<const u8*>(saved);
  for (int i = 0; i < N_CHANNELS; ++i) {
    S& r = record(i);
    r.slot = static_cast<s16>(i);
    r.state = states[i] <= 1 ? states[i] : 0;  // a damaged byte is no state
    if (states[i] > 1) refuseSaved(1);
    r.mask |= S::STATE;
  }
}

void CategoryPluginStatus::storeBackup() {
  MX_CHECK(savedStates_ != nullptr);  // bound at start-up
  for (int i = 0; i < N_CHANNELS; ++i) savedStates_[i] = record(i).state;
}

void CategoryPluginStatus::receive(RequestReceiver& rx) {
  S in{};
  if (!readBody(rx, in)) return;
  rx.clearHeader();
  if (in.slot < 0 || in.slot >= N_CHANNELS) return;
  assign(in, in.slot);
}

void CategoryPluginStatus::assign(const S& in, int idx) {
  const rules::Checking checking(in);
  S accepted = in;
  accepted.mask = in.mask & (S::TEXT1 | S::TEXT2);
  limits::accept(in, in.mask, accepted.mask, S::STATE, in.state);
  limits::accept(in, in.mask, accepted.mask, S::VALUE1, in.value1);
  limits::accept(in, in.mask, accepted.mask, S::VALUE2, in.value2);
  limits::accept(in, in.mask, accepted.mask, S::VALUE3, in.value3);
  limits::accept(in, in.mask, accepted.mask, S::VALUE4, in.value4);
  S& live = record(idx);
  libmx::mergeTextRecord(live, accepted);
  live.slot = static_cast<s16>(idx);  // whatever a record built elsewhere carried
  dirty[idx] = 1;
}

}  // namespace category
