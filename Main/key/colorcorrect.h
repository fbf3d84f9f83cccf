#pragma once
// Colour correction (type 46, owner of command type 71): the twelve records of the colour
// correction units, checked and merged as they arrive, reset or copied by the command, and applied
// to the units: every frame the matrix mode, enable, level, hue matrices and coefficients; in the
// main loop the tone curves of the channels whose curve settings changed.
#include "Driver/cc/cc.h"
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

// The three tone curves of a record (curve c from value c of each control point; 1.0 = 100 %):
// the middle segments of the natural cubic splines through the points, sampled at entries 96..159,
// continued straight outwards to both ends, limited by the record's curve limit.
void buildColorCorrectCurves(const MxifColorCorrect& r, float (&curves)[3][CC_CURVE_ENTRIES]);

class CategoryColorCorrect : public CategoryCommon<MxifColorCorrect> {
 public:
  // Command results.
  static constexpr s16 DONE = 0, FAILED = -2;

  static CategoryColorCorrect& instance();

  // The unit of channel 0..11: MX_IN_25.. for 0..7, MX_OUT_13.. for 8..11.
  static int unitOf(int channel);

  // Numbers the channels; every other field starts at 0.
  void initData() override;
  // Resets every unit at the next update; no curves pending.
  void initInternal() override;
  // Takes every saved field through the checks of assign, every field present, channels renumbered.
  void resume(const void* saved, int flag = 0) override;
  // A record for a channel above 11 is dropped.
  void receive(RequestReceiver& rx) override;
  // Reset or copy; the reply is the request with its result.
  void receiveCommand(int type, RequestReceiver& rx) override;
  int largestBody(int type) const override { return largestBodyOf<MxifColorCorrect, MxifColorCorrectCmd>(type); }
  void update() override;
  // Builds and uploads the curves of each flagged channel; a frame arriving meanwhile runs after the
  // channel's upload.
  void refresh() override;

  // Restores what target 0..4 selects (0 levels, 1 curve points, 2 coefficients, 3 sectors, 4 all
  // of them and the channel's switches), each restored field marked for the report. DONE, or FAILED
  // for another target.
  int resetChannel(int channel, int target);

 protected:
  CategoryColorCorrect();
  bool acceptField(const codec::FieldView& f, const MxifColorCorrect& in, int idx) override;

 private:
  s16 runCommand(const MxifColorCorrectCmd& cmd);
  // Matrix mode, links, enable and, for an enabled unit, level, hue matrices and coefficients.
  void applyUnit(int channel, int systemFormat);

  u8 resetPending_ = 0;
  u8 curveDirty_[N_CHANNELS] = {};
};

}  // namespace category
