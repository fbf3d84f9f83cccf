#pragma once
// Control-panel button events (command 94): a small ring of pending events, the per-frame gate that
// decides whether they act at once, and the dispatch by button code to the categories that react.
#include "Main/framework/bp.h"
#include "Lib/Include/data_internal.h"

namespace category {

// Follows one button on each of the three panels; categories embed it.
struct ButtonLatch {
  static constexpr int N_PANELS = limits::runOf(&internal::MxifButtonEvent::panel).hi + 1;
  u32 code = 0;
  u8 latched[N_PANELS] = {};
  u8 held[N_PANELS] = {};

  // A press of the code on panel 0..2 sets held and latched; a release clears held only.
  void onEvent(const internal::MxifButtonEvent& ev);
  // Clears the three latched bytes (held stays).
  void clear();
};

// The receivers of button events. Each is a category of its own; the dispatch finds the instance
// under the receiver's type index for the event's ME (the ME 0 instance where that ME has none).
enum class ButtonReceiver : u8 {
  BUS,          // type 47, onButton
  BKGD,         // type 2, onButton
  SYSTEM,       // type 29, onButtonEvent (panel options 2006, 2013)
  IMAGE,        // type 3, applyButtonTarget
  CLIP_STATUS,  // type 13, onButtonEvent
  FADER_EVENT,  // type 95, onButtonStatus
  KEY_PRESET,   // type 19, onButton
  MACRO,        // type 20, onAttachButton
  USK_ASSIGN,   // type 8, onButton
  COUNT
};

// Calls the receiver's handler on the instance the dispatch found.
using ButtonHook = void (*)(CategoryInterface& target, const internal::MxifButtonEvent& ev);

class CategoryButtonEvent : public CategoryWithoutStatus<internal::MxifButtonEvent>, public FrameQueue {
 public:
  using Event = internal::MxifButtonEvent;
  static constexpr int N_SLOTS = 64;
  static constexpr int MAX_PENDING = 60;

  static CategoryButtonEvent& instance();

  // The hook a receiver category installs (from its constructor) so that its events reach it; a
  // receiver without hook gets nothing.
  static void setHook(ButtonReceiver receiver, ButtonHook hook);
  static ButtonHook hook(ButtonReceiver receiver);
  // Type index under which the receiver's instances are registered.
  static int receiverType(ButtonReceiver receiver);

  // Empties the ring (slots are left as they are).
  void initInternal() override;
  // Last update class: the gate for the next frame, from this frame's field flag.
  void update() override;
  // One event: acted on at once while the gate is open, else queued.
  void receiveCommand(int type, RequestReceiver& rx) override;
  // Start of frame: the queued events in order, while the gate is open.
  void runQueue() override { processEvents(); }
  void processEvents();
  // Hands one event to every receiver its code reaches, in table order.
  void dispatch(const Event& ev);

  int pending() const { return (write_ - read_ + N_SLOTS) % N_SLOTS; }

 protected:
  CategoryButtonEvent();

 private:
  bool full() const { return pending() >= MAX_PENDING; }
  bool empty() const { return write_ == read_; }
  void push(const Event& ev);
  Event pop();
  void drain();
  void deliver(ButtonReceiver receiver, int me, const Event& ev);

  u8 dispatchNow_ = 0;
  s32 write_ = 0;
  s32 read_ = 0;
  Event slots_[N_SLOTS];
};

}  // namespace category
