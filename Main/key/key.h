#pragma once
// Key channels (type 0, one instance per ME): the four key channels of every ME, received,
// validated, merged, backed up and reported.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryKey : public CategoryCommon<MxifKey> {
 public:
  static constexpr int N_KEYS = MxifKey::N_CHANNELS;

  // What the key writers keep per key: the channel record and the last matte and edge colours
  // written, as 10-bit Y, Cb, Cr.
  struct ParamView {
    MxifKey* record = nullptr;
    u16 matte[3] = {};
    u16 edge[3] = {};
  };

  // The four instances, one per ME, built on first call.
  static CategoryKey* instance();

  // Each channel cleared, with its ME index and channel index.
  void initData() override;
  // Dirty bytes, parameter views, geometry-changed bytes and on-air requests to their start state.
  void initInternal() override;
  // One record: ME at byte 8, channel at bytes 10..11; either outside 0..3 drops it.
  void receive(RequestReceiver& rx) override;
  // Channels 0..3 that changed, stopping at the first that finds the output stream more than half
  // full (it stays pending).
  void sendStatus(AcknowledgeSender& tx) override;
  void send(AcknowledgeSender& tx, int part) override;
  // The merge without checks, for records built inside the system (key copy, stored frames, key
  // source memory): present fields and names by their copy rule, the index bytes, the dirty byte.
  void assignUnchecked(const MxifKey& in, int ch);

  ParamView& paramView(int k);
  // Set by a change of DVE position, size, rotation, follower or mirror mode.
  u8 geometryChanged(int k) const;
  void clearGeometryChanged(int k);
  // The on-air value last requested by the front end, -1 when none is pending.
  s32 onAirRequest(int k) const;

 protected:
  CategoryKey() = default;

 private:
  static int checkedKey(int k);
  // Merges a checked (or trusted) record into channel ch, with the index bytes and the dirty byte.
  void mergeChannel(const MxifKey& in, int ch);
  // Writes the channel when it changed; false (channel kept) when more than half the output stream
  // is pending.
  bool sendKeyChannel(AcknowledgeSender& tx, int ch);

  ParamView views_[N_KEYS];
  u8 geometryChanged_[N_KEYS] = {};
  s32 onAirRequest_[N_KEYS] = {-1, -1, -1, -1};
};

}  // namespace category
