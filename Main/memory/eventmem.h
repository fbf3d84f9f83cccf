#pragma once
// Event memory (type 14, owner of command type 65 and of record types 15, 17 and 18) and its
// status (type 16).
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

// One event-memory player: idle, paused or running.
struct EventPlayer {
  static constexpr s32 STATUS_IDLE = 0;
  static constexpr s32 STATUS_PAUSE = 1;
  static constexpr s32 STATUS_RUNNING = 2;
  s32 status = STATUS_IDLE;
};

class CategoryEventMemory : public CategoryWithCommands<MxifEventMemory> {
 public:
  static constexpr int N_REGISTER_PLAYERS = 9;

  static CategoryEventMemory& instance();

  // Whether the event memory is linked to ME me (byte 4 set, byte 12 = me + 1): that ME's lever
  // and auto button then drive the event-memory transition.
  bool isLinkedToMe(int me);

  EventPlayer& workPlayer() { return work_; }
  EventPlayer& registerPlayer(int n);

  // Every player idle.
  void initInternal() override;

 private:
  CategoryEventMemory()
      : CategoryWithCommands(
            {TYPE_EVENT_MEMORY_CMD, TYPE_EVENT_MEMORY_EDIT_POINT, TYPE_EVENT_MEMORY_HISTORY, TYPE_DATA_HEADER_N}) {}

  EventPlayer work_;
  EventPlayer registers_[N_REGISTER_PLAYERS];
};

class CategoryEventMemoryStatus : public CategoryCommon<MxifEventMemoryStatus> {
 public:
  static CategoryEventMemoryStatus& instance();

 private:
  CategoryEventMemoryStatus() = default;
};

}  // namespace category
