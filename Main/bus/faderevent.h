#pragma once
// Fader events (command type 95): the owner of the 84 transitions of the system (ME backgrounds,
// keys, downstream keys, clip-linked and event-memory transitions) and of the lever tracker beside
// each, tracker k bound to transition k. Once per frame it advances them all. After a panel row is
// given another ME, a countdown per (panel, ME) keeps the levers off that ME's transitions.
#include "Lib/Include/data_internal.h"
#include "Main/bus/autotrans.h"
#include "Main/framework/bp.h"
#include "Main/transition/faderpos.h"

namespace category {

class CategoryFaderEvent : public CategoryWithoutStatus<internal::MxifFaderEvent> {
 public:
  static constexpr int N_SLOTS = AutoTransition::N_SLOTS;
  static constexpr int N_PANELS = 3;
  static constexpr int ME_CHANGE_FRAMES = 16;

  static CategoryFaderEvent& instance();

  // Every transition back at its start, every tracker unowned and bound to its transition, no
  // countdown running.
  void initInternal() override;
  // The countdowns that run decrease by one; the two-position transitions advance as such, the
  // others as single ones, in slot order; then every tracker follows its transition.
  void update() override;
  // Lever values are not acted on yet: the dispatcher skips the body.
  void receiveCommand(int type, RequestReceiver& rx) override;

  AutoTransition& transition(int slot);
  TransitionFader& fader(int slot);

  // No lever owns the background and key transitions of ME me (0..3) any more, and panel 0..2 waits
  // ME_CHANGE_FRAMES frames before its lever takes them.
  void releaseMeFaders(int panel, int me);
  // Frames panel still waits before its lever takes ME me's transitions.
  int meChangeCountdown(int panel, int me) const;

 protected:
  CategoryFaderEvent();

 private:
  AutoTransition transitions_[N_SLOTS];
  TransitionFader faders_[N_SLOTS];
  s32 meChangeCountdown_[N_PANELS][N_ME] = {};
};

}  // namespace category
