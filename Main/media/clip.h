#pragma once
// Clip play (type 10, owner of command 68), clip record (11, owner of 69), clip register (12,
// owner of 81), clip status (13), and the time stamp of the wire.
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

constexpr int N_CLIP_PLAYERS = 4;

// 1 when source is the video or key source of the clip channel selected in the clip-record record
// while that record records (byte 13 = 1), else 0.
int isRecordingClipSource(int source);

class CategoryClipPlay : public CategoryWithCommands<MxifClipPlay> {
 public:
  static CategoryClipPlay& instance();

  // 1 when clip player channel (0..3) is linked to the transition of ME me (byte 20 = 7 and
  // byte 21 = me), else 0.
  int isTransitionLinked(int me, int channel);

 private:
  CategoryClipPlay() : CategoryWithCommands({TYPE_CLIP_PLAY_CMD}) {}
};

class CategoryClipRec : public CategoryWithCommands<MxifClipRec> {
 public:
  static CategoryClipRec& instance();

 private:
  CategoryClipRec() : CategoryWithCommands({TYPE_CLIP_REC_CMD}) {}
};

class CategoryClipRegister : public CategoryWithCommands<MxifClipRegister> {
 public:
  static CategoryClipRegister& instance();

 private:
  CategoryClipRegister() : CategoryWithCommands({TYPE_CLIP_REGISTER_CMD}) {}
};

class CategoryClipStatus : public CategoryChannels<MxifClipStatus> {
 public:
  static constexpr u16 BTN_CLIP_TRIGGER = 1616;

  static CategoryClipStatus& instance();

  // The status entry of clip player channel: channel + 81.
  static int statusIndex(int channel) { return channel + MxifClipStatus::FIRST_PLAYER; }

  // Panel buttons 1600..1839 and 2100..2139: a press of the clip trigger button (1616) with index
  // 0..3 sets that player's trigger, taken by the next update.
  void onButtonEvent(const internal::MxifButtonEvent& btn);
  // The next update stops the four clip players and clears their status.
  void requestReset() { resetRequest_ = 1; }

  void update() override;
  void initInternal() override;

  bool isTriggerPending(int channel) const { return trigger_[channel] != 0; }
  bool isResetPending() const { return resetRequest_ != 0; }

 private:
  // Installs the button hook through which panel button events reach this category.
  CategoryClipStatus();

  u8 trigger_[N_CLIP_PLAYERS] = {};
  u8 resetRequest_ = 0;
};

// Year, month, day, hour, minute, second; on the wire six big-endian 16-bit values (12 bytes).
struct TimeStamp {
  static constexpr int WIRE_BYTES = 12;
  s16 year = 0;
  s16 month = 0;
  s16 day = 0;
  s16 hour = 0;
  s16 minute = 0;
  s16 second = 0;
};

// Reads one time stamp from the body in hand; false (t unchanged) when fewer than 12 bytes are
// left, which also marks the body short.
bool readTimeStamp(RequestReceiver& rx, TimeStamp& t);
// Writes one time stamp into the packet being written.
void writeTimeStamp(AcknowledgeSender& tx, const TimeStamp& t);

}  // namespace category
