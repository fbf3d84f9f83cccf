#pragma once
// Downstream keys (type 5, one instance for the system): the four downstream key channels,
// received, validated, merged, backed up, reported and turned into keyer settings every frame.
#include "Lib/Include/records/dsk.h"
#include "Main/framework/bp.h"

namespace libmx {

// Builds into out (cleared first) the fields of in that pass their range checks (groups whole),
// each with its presence bit: every value a request may bring, and the status bytes 0..1. The
// checks that a saved channel passes too.
void checkDskRanges(const MxifDsk& in, MxifDsk& out);

// The validated form of a request for a downstream key against the live channel: the range checks,
// the mask box clamped against the live one, without the reverse and in-transition bytes, with the
// in/out link applied from validated fields only. The priority and the on-air value stay in out for
// the caller.
void acceptDskFields(const MxifDsk& in, const MxifDsk& live, MxifDsk& out);

}  // namespace libmx

namespace category {

class CategoryDsk : public CategoryCommon<MxifDsk> {
 public:
  static constexpr int N_DSK = MxifDsk::N_CHANNELS;

  static CategoryDsk& instance();

  // Each channel cleared with its channel index.
  void initData() override;
  // Dirty bytes and on-air requests to their start state.
  void initInternal() override;
  // Every saved field that passes its range check (the others keep their cleared value), names by
  // the copy rule, the channel index; every presence bit set.
  void resume(const void* saved, int flag = 0) override;
  // One record; a channel field outside 0..3 drops it.
  void receive(RequestReceiver& rx) override;
  // The validated merge (libmx::acceptDskFields), with the key source memory told of key settings,
  // the priority re-rank of all four channels and the on-air request.
  void assign(const MxifDsk& in, int ch) override;
  // Each frame: the stacking order, then per channel its sources, colours, key parameters, edge,
  // level and reverse byte from its auto transition, and its on-air request.
  void update() override;

  // Status bytes for the fader events, reported: on air, auto transition stopping, in transition.
  void setDskOnAir(int ch, int value);
  void setDskTransState3(int ch, int value);
  void setDskInTransition(int ch, int value);
  // Toggles the transition-on byte of the setting in force: both while linked, else setting B
  // while reversed, else setting A.
  void toggleDskTransMode(int ch);

  // The on-air value last requested by the front end, -1 when none is pending.
  s32 onAirRequest(int ch) const;

 protected:
  CategoryDsk() = default;

 private:
  // Channel ch takes rank newRank; the others step toward its old rank; all four report it.
  void rerank(int ch, int newRank);

  s32 onAirRequest_[N_DSK] = {-1, -1, -1, -1};
};

}  // namespace category
