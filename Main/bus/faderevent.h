#pragma once
// Fader events (command type 95): the owner of the 84 transitions of the system (ME backgrounds,
// keys, downstream keys, clip-linked and event-memory transitions) and of the lever tracker beside
// each, tracker k bound to transition k. Once per frame it advances them all.
#include "Lib/Include/data_internal.h"
#include "Main/bus/autotrans.h"
#include "Main/framework/bp.h"
#include "Main/transition/faderpos.h"

namespace category {

class CategoryFaderEvent : public CategoryWithoutStatus<internal::MxifFaderEvent> {
 public:
  static constexpr int N_SLOTS = AutoTransition::N_SLOTS;

  static CategoryFaderEvent& instance();

  // Every transition back at its start, every tracker unowned and bound to its transition.
  void initInternal() override;
  // The two-position transitions advance as such, the others as single ones, in slot order; then
  // every tracker follows its transition.
  void update() override;
  // Lever values are not acted on yet: the dispatcher skips the body.
  void receiveCommand(int type, RequestReceiver& rx) override;

  AutoTransition& transition(int slot);
  TransitionFader& fader(int slot);

 protected:
  CategoryFaderEvent();

 private:
  AutoTransition transitions_[N_SLOTS];
  TransitionFader faders_[N_SLOTS];
};

}  // namespace category
