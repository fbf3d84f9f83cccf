#pragma once
// What the layers of an ME read of its image-effect record (type 3): whether an image effect is on
// for a background bus or a key. The image category implements it; while no image category is
// registered every flag reads 0.
#include "Lib/Include/type_index.h"
#include "Main/framework/bp.h"

namespace category {

class ImageFlags {
 public:
  // The flags by the record byte that holds each (1: the effect is on).
  enum Flag : int { KEY1_ON = 12, KEY2_ON = 32, BUS_A_ON = 92, BUS_B_ON = 112 };
  virtual u8 imageFlag(Flag flag) const = 0;

 protected:
  ~ImageFlags() = default;
};

// The flag of ME me's image record (the ME 0 instance where the ME has none); 0 while type 3 is
// absent.
inline u8 imageFlag(int me, ImageFlags::Flag flag) {
  const auto* image = CategoryRegistry::instance().find<const ImageFlags>(TYPE_IMAGE, me);
  return image != nullptr ? image->imageFlag(flag) : 0;
}

}  // namespace category
