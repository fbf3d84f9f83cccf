#pragma once
// Up-stream keys (type 7) and their assignment (type 8), one instance each for the mainframe.
// The four up-stream keys are keyers on the source side of the crosspoint: their settings are
// received, validated, backed up, reported and written to the key driver every frame. The
// assignment holds each key's fill and key source, which sources each key is laid over and the
// keys' on/off flags, and routes them in the crosspoint every frame; its eight source slots are
// mirrored in bus entries 72..79 of ME 0.
#include "Lib/Include/data_internal.h"
#include "Main/bus/bus.h"
#include "Main/framework/bp.h"

namespace libmx {

// Whether field f of request r may be taken: the style bytes, the adjust fields and the mask
// sub-record each by itself, the matte colour and the box (edges -5000..5000) as groups, each text
// when it is a valid escaped text; the channel always.
bool isUpStreamKeyFieldValid(const codec::FieldView& f, const MxifUpStreamKey& r);
// The validated form of a request for an up-stream key against the live channel: the fields of in
// that pass their range checks (the matte colour and the box as groups) with their presence bits,
// the box clamped against the live one, each text only when it is a valid escaped text.
void acceptUpStreamKeyFields(const MxifUpStreamKey& in, const MxifUpStreamKey& live, MxifUpStreamKey& out);

// Crosspoint source id of an up-stream key slot source: SDI inputs 10..41, DVI 140 and 141, the
// still and clip sources, colour backgrounds 220 and 221, colour bars 222 and black 223; 0 for a
// source that names no crosspoint source (the crosspoint keeps its source).
int uskSlotSourceId(int source);
// Crosspoint source id of entry 0..149 of the attachment list; 0 for entries 32..127, which name
// no crosspoint source.
int uskEntrySourceId(int entry);

}  // namespace libmx

namespace category {

class CategoryUpStreamKey : public CategoryCommon<MxifUpStreamKey> {
 public:
  static constexpr int N_USK = MxifUpStreamKey::N_CHANNELS;

  static CategoryUpStreamKey& instance();

  // Each channel cleared with its channel number.
  void initData() override;
  // Every saved field through the checks of assign, with every presence bit; the channel numbers.
  void resume(const void* saved, int flag = 0) override;
  // One record; a channel field above 3 drops it without an answer.
  void receive(RequestReceiver& rx) override;
  // The validated merge (libmx::acceptUpStreamKeyFields); the channel is marked dirty even when
  // nothing was taken.
  void assign(const MxifUpStreamKey& in, int ch) override;
  // Every frame, dirty or not, each key's matte colour and key parameters (the key source flag of
  // key type 0 corrected and reported).
  void update() override;

 protected:
  CategoryUpStreamKey() = default;
  bool acceptField(const codec::FieldView& f, const MxifUpStreamKey& in, int idx) override;
};

class CategoryUpStreamKeyAssign : public CategoryCommon<MxifUpStreamKeyAssign>, public UskAssignTarget {
 public:
  using Record = MxifUpStreamKeyAssign;

  static CategoryUpStreamKeyAssign& instance();

  // Nothing: a fresh record is zero. Resume keeps the base's: the slot sources, attachments and
  // on/off flags through the checks of assign, each with its presence bit (the word at offset 0
  // names no field and is left as it is).
  void initData() override {}
  // Takes the slot sources 10..223, the attachments 0..8 and the on/off flags 0..1 that the record
  // carries, marks the record dirty, then has bus entry 72 + s of ME 0 follow each slot s taken.
  void assign(const Record& in, int ch) override;
  // Every frame: the up-stream key fill and key crosspoints, and for every source of the list which
  // up-stream key keys it.
  void update() override;

  // Slot 0..7 takes the source through assign when it differs from the slot's.
  void setAssignment(int source, int slot) override;
  // A press of button 2050 + k toggles the on/off flag of key k + 1 through assign.
  void onButton(const internal::MxifButtonEvent& ev);
  // Whether attachment value v keys its source now: 1..4 while that key's on/off flag is 1, 5..8
  // always, anything else never.
  int isKeyAssigned(int value);

 protected:
  CategoryUpStreamKeyAssign();
  bool acceptField(const codec::FieldView& f, const Record& in, int idx) override;
};

}  // namespace category
