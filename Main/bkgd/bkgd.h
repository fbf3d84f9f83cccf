#pragma once
// Backgrounds (type 2, one instance per ME): the background transition of the ME, its mix, wipe
// pattern, border and dust settings. A request is validated field by field into a fresh record and
// merged; the background and next-transition buttons of the panels change direction, mode and the
// next-transition selection. Once per frame the background sets the border colour and fill, sets
// the limit window and partial end of its auto transition, and hands the transition at the auto
// transition's position to the transition engine.
#include "Lib/Include/data_internal.h"
#include "Main/bus/bus.h"
#include "Main/bus/button.h"
#include "Main/framework/bp.h"
#include "Main/transition/updater.h"

namespace libmx {

// Whether field f of r lies in the range that a request may set. The edges, the link, modulation
// and modify groups and the free patterns have merges of their own and are not judged here; the
// transition value and the status group, which no request sets, pass.
bool isBkgdFieldInRange(const codec::FieldView& f, const MxifBkgd& r);
// Sets every field of a saved background that lies outside the ranges a request may set to 0 (the
// border width 0 of a record never set stays): a damaged image loses that field alone. Returns how
// many fields it dropped (one per presence bit).
int dropBadBkgdFields(MxifBkgd& r);

}  // namespace libmx

namespace category {

class CategoryBkgd : public CategoryCommon<MxifBkgd>, public BusBackgroundLink {
 public:
  static constexpr int N_LATCHES = 5;

  // The four instances, one per ME, built on first call.
  static CategoryBkgd* instance();
  CategoryBkgd();

  // Latches cleared, the type last seen 0, no restore pending.
  void initInternal() override;
  // The saved record whole, every presence bit set; a saved field out of range fails a check.
  void resume(const void* saved, int flag = 0) override;
  // Builds a fresh record from the request's present and valid fields, then merges it.
  void assign(const MxifBkgd& in, int ch) override;
  // Border, limits, partial end, direction reset, preset check, and the transition at the auto
  // transition's position handed to the engine; then the dust.
  void update() override;

  // A background or next-transition button of this ME, or the all-released code 3000.
  void onButton(const internal::MxifButtonEvent& btn);
  int getME() const { return me; }

  // Status flags 0..3 (the fader events report their view of the transition).
  void setStatus0(u8 v) { record(0).setStatus0(v); }
  void setStatus1(u8 v) { record(0).setStatus1(v); }
  void setStatus2(u8 v) { record(0).setStatus2(v); }
  void setStatus3(u8 v) { record(0).setStatus3(v); }

  // BusBackgroundLink.
  int programFlip() override;
  void onProgramBusChange() override;
  void serveNrModeRestore() override;
  // Asks the bus to set nrMode to 1 at its next update (a one-shot request).
  void requestNrModeRestore() { nrModeRestore_ = 1; }

  // What a stored-frame recall leaves for a background of type 2: the recalled type, direction and
  // 1 - the recalled transition position. Kept for a recall; no playback reads them yet.
  void setRecall(u32 kind, u32 direction, float position);

  // This ME's background auto transition (through the fader events).
  AutoTransition& autoTransition();
  // Its read-out: position A (which != 1) or B.
  float bkgdPosition(int which);
  BkgdTransition& updater() { return updater_; }
  u8 sourceNotReady() const { return sourceNotReady_; }

 private:
  void validate(const MxifBkgd& in, const MxifBkgd& live, MxifBkgd& staged) const;
  void applyDirectionButtons();
  void applyNextSelection();
  void applyToggleButtons();
  void setBorder(int format);
  u8 presetSourceNotReady(int busSelector);

  BkgdTransition updater_;
  // Pending flags of the background buttons, by code - 1600 (1600..1605).
  u8 pending_[6] = {};
  ButtonLatch latches_[N_LATCHES];
  u8 lastType_ = 0;
  u32 recallKind_ = 0;
  u32 recallDirection_ = 0;
  float recallPosition_ = 0.0f;
  u8 nrModeRestore_ = 0;
  u8 sourceNotReady_ = 0;
};

}  // namespace category
