#pragma once
// The resolution of a tally source: the source is flagged and followed back to every source and
// bus entry that feeds it, through ME outputs (buses, keys, border and auxiliary buses), clean
// feeds, DSK outputs (their keys and background feed), bus outputs, record inputs and up-stream
// keys. In the hardware-status mode an output's contributors come from the tally status flags; in
// the transition mode from the positions of the transitions (both background buses while the
// background moves, keys and DSKs away from rest). Each source is followed once per group and
// frame, which also ends every loop through re-entered outputs.
#include "Lib/Include/records/dsk.h"
#include "Main/tally/tally.h"

class AutoTransition;

namespace category {

class CategoryBus;
class CategoryFaderEvent;
class CategoryInputVideo;
class CategoryUpStreamKeyAssign;

class TallyResolver {
 public:
  // Looks the switcher state up for one frame; flags are the six flag words of the source tally.
  TallyResolver(const u32* flags, bool transitionMode);

  // Resolves source into w.
  void resolve(CategorySourceTally::Tally& w, int source);

 private:
  enum Mode { HARDWARE, TRANSITION };

  void resolve(int source, Mode mode);
  void resolveEntry(int me, int entry, Mode mode) { resolve(busSource(me, entry), mode); }
  void flagEntry(int me, int entry) { w_->flagEntry(me, entry); }
  void flagEntryEverywhere(int entry);
  int busSource(int me, int entry);
  bool isLeftOut(int source) const;
  u8 flagByte(int source) const;

  // The rules of both modes.
  void outputRule(int source, Mode mode);
  void borderBusRule(int me, int select, Mode mode);
  void dskRule(int k, Mode mode);
  void dskBackgroundFeed(int source, Mode mode);
  void recordInputRule(int source);
  void upStreamKeyRule(int source, Mode mode);
  // The hardware-status mode.
  void meOutputRule(int me, u8 f);
  void cleanOutputRule(int me, u8 f);
  void dskOutputRule(int source, u8 f);
  // The transition mode.
  void recurBkgd(int me, bool preview);
  void meOutputTransition(int me, bool preview);
  void keyRule(int me, int k, int keyMode);
  void cleanOutputTransition(int me);
  void dskOutputTransition(int source, u8 f);

  // What the records say.
  const MxifKey* key(int me, int k) const { return keys_[me][k]; }
  bool usesKeyBus(int me, int k) const;
  float keyPosition(int me, int k) const;
  float dskPosition(int k) const;

  CategorySourceTally::Tally* w_ = nullptr;
  const u32* flags_;
  Mode mode_;
  const MxifMainframeConfig& config_;
  CategoryBus* buses_[N_ME];
  const MxifBkgd* bkgd_[N_ME];
  const MxifKey* keys_[N_ME][4];
  const MxifDsk* dsk_[4];
  const MxifUpStreamKey* usk_[4];
  CategoryUpStreamKeyAssign* uskAssign_;
  CategoryFaderEvent* faders_;
  const AutoTransition* fade_;
  CategoryInputVideo* inputs_;
  bool stills_;
  bool clips_;
};

}  // namespace category
