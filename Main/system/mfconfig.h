#pragma once
// Mainframe configuration (type 26, one channel, one instance): every frame it puts the ME output
// points (clean feed, points A and B), the wiring of the downstream keyers to the program and
// clean-feed outputs, and the key-fader layer into the key and crosspoint drivers. It keeps the
// fader selection that the fader-select buttons write and the chroma keys read.
//
// System initialise (command type 73, no record): refused while an event memory plays; otherwise
// every ME and DSK transition back to rest, the chroma keys of ME 0 and ME 1 reloaded from their
// units, the key presets, the key source memory and the key-fader button states cleared.
#include "Lib/Include/data_internal.h"
#include "Main/fader/faderevent.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryMainframeConfig : public CategoryCommon<MxifMainframeConfig>, public FaderSelectTarget {
 public:
  static constexpr int CHROMA_KEY_TYPE = KeyStyle::CHROMA_KEY_TYPE;

  static CategoryMainframeConfig& instance();

  // Rows 4..7 of meConfig and faderKeys are never taken; every other field when in range.
  void assign(const MxifMainframeConfig& in, int idx) override;
  // Each frame: clean-feed points, output points B and A, DSK backgrounds and program outputs,
  // DSK output options and flags, clean-feed and companion outputs, the key-fader layer.
  void update() override;

  // The fader-select buttons (while enabled): stored without a range check and reported.
  bool faderSelectEnabled() override;
  void setFaderSelect(int value) override;

  // The key of ME me (0..3) whose chroma key the output points carry, -1 for none: the key that
  // ME me's chroma record assigns (1..4 name keys 0..3) while it is a chroma key and the point
  // does not ignore chroma (ignore 0).
  static int chromaTap(int me, int ignore);

 protected:
  CategoryMainframeConfig() = default;
  bool acceptField(const codec::FieldView& f, const MxifMainframeConfig& in, int idx) override;

 private:
  void cleanTaps(const MxifMainframeConfig& r);
  void outputPointB(const MxifMainframeConfig& r);
  void outputPointA(const MxifMainframeConfig& r);
  void dskBackgrounds(const MxifMainframeConfig& r);
  void dskOptions(MxifMainframeConfig& r);
  void cleanOutputs(const MxifMainframeConfig& r);
  void faderLayer(const MxifMainframeConfig& r);
};

class CategoryInitialize : public CategoryWithoutStatus<internal::SystemInitialCmd> {
 public:
  static constexpr s16 DONE = 0;
  static constexpr s16 BAD_MODE = -2;
  static constexpr s16 BUSY = -16;

  static CategoryInitialize& instance();

  // Reads the command, performs it and answers with the body and its result (the resets stand
  // when the answer does not fit the output stream).
  void receiveCommand(int type, RequestReceiver& rx) override;

 protected:
  CategoryInitialize() = default;

 private:
  static s16 perform(const internal::SystemInitialCmd& cmd);
};

}  // namespace category
