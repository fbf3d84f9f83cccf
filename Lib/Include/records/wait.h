#pragma once
// waitCmd (type 74): holds the reading of requests back for a number of frames.
#include "Lib/Include/codec.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// The wait command's body: six bytes not used, then the number of frames to wait.
struct WaitCommand {
  static constexpr int TYPE_INDEX = category::TYPE_WAIT_CMD;
  u8 unused[6];
  s16 frames;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("unused", r.unused);
    v.field("frames", r.frames);
  }
};
static_assert(codec::wireSize<WaitCommand>() == 8);
