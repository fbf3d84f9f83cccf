#pragma once
// Transition status (type 56, one instance): each frame the state of every background, key and
// downstream key transition and of every aux mix is compared with what was last seen, and the
// entries that changed are reported.
#include "Lib/Include/records/transstatus.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryTransitionStatus : public CategoryCommon<MxifTransitionStatus> {
 public:
  static constexpr int N_SEEN = 28;  // 4 backgrounds, 16 keys by ME, 4 downstream keys, 4 aux mixes

  static CategoryTransitionStatus& instance();

  // The record lives in the object: nothing goes to the backup image.
  int bindStorage(void* area) override;
  void initData() override {}
  void resume(const void* saved, int flag = 0) override;
  // The present entries of each group with their bits; marks the record for sending.
  void assign(const MxifTransitionStatus& in, int ch) override;
  void update() override;

 protected:
  CategoryTransitionStatus() = default;

 private:
  // A changed state is kept and marked in entry e of group g.
  void note(int seen, int g, int e, u8 state);

  MxifTransitionStatus own_;
  u32 seen_[N_SEEN] = {};
};

}  // namespace category
