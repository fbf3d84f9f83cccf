#pragma once
// Image effects (type 3, one instance per ME): mosaic or defocus, posterize and colourise on the A
// and B background buses and the keys. Every frame the effects of MEs 0 and 1 go to the filter
// driver (keys 1 and 2 only: the other keys have no image-effect hardware) and the two image lamps
// of the ME are lit. The background and key layers read the enable bytes through ImageFlags.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"
#include "Main/key/imageflags.h"

namespace category {

// Copies each field of from whose presence bit is set into into and sets that bit there; no
// range checks (button toggles, stored-frame capture and recall).
void mergeImageTarget(MxifImage::Target& into, const MxifImage::Target& from);

class CategoryImage : public CategoryCommon<MxifImage>, public ImageFlags {
 public:
  using Target = MxifImage::Target;
  static constexpr int N_FILTER_ME = 2;  // the MEs with filter hardware
  static constexpr int LAMP_A = 227, LAMP_B = 228;

  // The four instances, one per ME.
  static CategoryImage* instance();

  // Cleared record with the instance's ME.
  void initData() override;
  // MEs 0 and 1: the four targets to the filter, the image lamps.
  void update() override;
  u8 imageFlag(Flag flag) const override;

  // An image button (1295, 1296) pressed: toggles the effect of the A or B target (exchanged while
  // swapAB holds); the change is reported.
  void applyButtonTarget(const internal::MxifButtonEvent& ev);
  // Whether the image buttons address the targets exchanged: by the A/B mode of the ME in the
  // operate record, with the bus on program.
  bool swapAB();
  // One target's effect to filter target t of the selected ME context (off unless enable is 1);
  // the colourise colour by the system format.
  static void applyTarget(const Target& target, int t, int systemFormat);

 protected:
  bool acceptField(const codec::FieldView& f, const MxifImage& in, int idx) override;

 private:
  // Installs the button hook.
  CategoryImage();
};

}  // namespace category
