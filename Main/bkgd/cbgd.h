#pragma once
// Colour backgrounds (type 6): the settings of the two colour background generators shared by all
// MEs, one channel each, turned every frame into settings of the colour background driver.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryCbgd : public CategoryCommon<MxifCbgd> {
 public:
  static CategoryCbgd& instance();

  // Channel numbers 0 and 1; the second channel's colour 1 is red (hue 0, sat 1000, lum 1000).
  void initData() override;
  void initInternal() override;
  // Takes both saved channels through the checks of assign, every field present.
  void resume(const void* saved, int flag = 0) override;
  // A record for a channel above 1 is dropped.
  void receive(RequestReceiver& rx) override;
  void update() override;

 protected:
  CategoryCbgd() = default;
  bool acceptField(const codec::FieldView& f, const MxifCbgd& in, int idx) override;

 private:
  // What the motion has made of the wash, and the colours last converted.
  struct Working {
    float position = 0.0f, direction = 0.0f, rate = 0.0f;
    u16 colors[2][3] = {};
  };
  Working working_[N_CHANNELS];
};

}  // namespace category
