#include "Main/media/clip.h"

#include "Driver/clip/clip.h"
#include "Main/bus/button.h"
#include "Main/media/still.h"

namespace category {

using internal::MxifButtonEvent;

int isRecordingClipSource(int source) {
  const MxifClipRec& r = CategoryClipRec::instance().record(0);
  if (r.recording != 1 || r.channel >= N_CLIP_PLAYERS) return 0;
  int video = FIRST_CLIP_SOURCE + 3 * r.channel;
  return (source == video || source == video + 1) ? 1 : 0;
}

CategoryClipPlay& CategoryClipPlay::instance() {
  static CategoryClipPlay category;
  return category;
}

int CategoryClipPlay::isTransitionLinked(int me, int channel) {
  if (channel < 0 || channel >= N_CLIP_PLAYERS) return 0;
  const MxifClipPlay& r = record(channel);
  return (r.mode == MxifClipPlay::MODE_TRANSITION && r.linkedMe == me) ? 1 : 0;
}

CategoryClipRec& CategoryClipRec::instance() {
  static CategoryClipRec category;
  return category;
}

CategoryClipRegister& CategoryClipRegister::instance() {
  static CategoryClipRegister category;
  return category;
}

CategoryClipStatus::CategoryClipStatus() {
  CategoryButtonEvent::setHook(ButtonReceiver::CLIP_STATUS, [](CategoryInterface& target, const MxifButtonEvent& ev) {
    if (auto* status = dynamic_cast<CategoryClipStatus*>(&target)) status->onButtonEvent(ev);
  });
}

CategoryClipStatus& CategoryClipStatus::instance() {
  static CategoryClipStatus category;
  return category;
}

void CategoryClipStatus::onButtonEvent(const MxifButtonEvent& btn) {
  if (btn.getCode() != BTN_CLIP_TRIGGER || btn.state != MxifButtonEvent::PRESSED) return;
  if (btn.index >= N_CLIP_PLAYERS) return;
  trigger_[btn.index] = 1;
}

void CategoryClipStatus::update() {
  // A trigger is taken here; a reset stops the players and clears their status entries.
  for (auto& t : trigger_) t = 0;
  if (resetRequest_ == 0) return;
  resetRequest_ = 0;
  for (int c = 0; c < N_CLIP_PLAYERS; ++c) {
    mxClipStop(MX_CLIP_1 + 2 * c);
    int idx = statusIndex(c);
    MxifClipStatus& r = record(idx);
    r = MxifClipStatus{};
    r.entry = static_cast<u8>(idx);
    codec::setAllPresence(r);
    dirty[idx] = 1;
  }
}

void CategoryClipStatus::initInternal() {
  CategoryCommon::initInternal();
  for (auto& t : trigger_) t = 0;
  resetRequest_ = 0;
}

bool readTimeStamp(RequestReceiver& rx, TimeStamp& t) {
  if (rx.remaining() < TimeStamp::WIRE_BYTES) {
    rx.reportShort();
    return false;
  }
  for (s16* v : {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second}) *v = rx.readS16();
  return true;
}

void writeTimeStamp(AcknowledgeSender& tx, const TimeStamp& t) {
  for (s16 v : {t.year, t.month, t.day, t.hour, t.minute, t.second}) tx.writeU16(static_cast<u16>(v));
}

}  // namespace category
