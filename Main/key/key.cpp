// Key channels: the category of type 0.
#include "Main/key/key.h"

#include <cstring>

#include "Lib/Include/text.h"

namespace category {

namespace {

using K = MxifKey;

}  // namespace

CategoryKey* CategoryKey::instance() {
  static CategoryKey objects[N_ME];
  return objects;
}

int CategoryKey::checkedKey(int k) {
  MX_CHECK(0 <= k && k < N_KEYS);
  return k;
}

CategoryKey::ParamView& CategoryKey::paramView(int k) { return views_[checkedKey(k)]; }
u8 CategoryKey::geometryChanged(int k) const { return geometryChanged_[checkedKey(k)]; }
void CategoryKey::clearGeometryChanged(int k) { geometryChanged_[checkedKey(k)] = 0; }
s32 CategoryKey::onAirRequest(int k) const { return onAirRequest_[checkedKey(k)]; }

void CategoryKey::initData() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    K& r = record(ch);
    r = K{};
    r.me = static_cast<u8>(me);
    r.channel = static_cast<u16>(ch);
  }
}

void CategoryKey::initInternal() {
  for (int k = 0; k < N_KEYS; ++k) {
    dirty[k] = 0;
    views_[k] = ParamView{};
    views_[k].record = &record(k);
    geometryChanged_[k] = 0;
    onAirRequest_[k] = -1;
  }
}

void CategoryKey::receive(RequestReceiver& rx) {
  K in{};
  if (!libmx::readTextRecord(rx, in)) {
    rx.reportShort();
    return;
  }
  rx.clearHeader();
  if (in.me >= N_ME || in.channel >= N_CHANNELS) return;
  auto* target = static_cast<CategoryKey*>(CategoryRegistry::instance().get(TYPE_INDEX, in.me));
  target->assign(in, in.channel);
}

void CategoryKey::assignUnchecked(const K& in, int ch) { mergeChannel(in, ch); }

void CategoryKey::mergeChannel(const K& in, int ch) {
  K& live = record(ch);
  libmx::mergeTextRecord(live, in);
  // The index bytes name this instance and channel, whatever a record built elsewhere carried.
  live.me = static_cast<u8>(me);
  live.channel = static_cast<u16>(ch);
  dirty[ch] = 1;
}

bool CategoryKey::sendKeyChannel(AcknowledgeSender& tx, int ch) {
  K& r = record(ch);
  if (dirty[ch] == 0 && !codec::hasAny(r)) return true;
  if (tx.pending() > SEND_PENDING_LIMIT) return false;
  r.me = static_cast<u8>(me);
  if (tx.beginPacket(TYPE_INDEX, libmx::textRecordWireLength(r))) {
    libmx::writeTextRecord(tx.stream(), r);
  } else {
    reportSendBufferFull();
  }
  dirty[ch] = 0;
  codec::clearPresence(r);
  return true;
}

void CategoryKey::sendStatus(AcknowledgeSender& tx) {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    if (!sendKeyChannel(tx, ch)) break;
  }
}

void CategoryKey::send(AcknowledgeSender& tx, int part) { sendKeyChannel(tx, part); }

}  // namespace category
