#include "Main/media/still.h"

#include "Driver/still/still.h"

namespace category {
namespace {

// Store or player 0..3 whose video (offset 0) or key (offset 1) source is source, counted from
// first; -1 when none.
int storeOfSource(int source, int first, int offset) {
  int d = source - first - offset;
  if (d < 0 || d % 3 != 0 || d / 3 >= N_STILL_STORES) return -1;
  return d / 3;
}

}  // namespace

int stillClipSourceKind(int source) {
  for (int first : {FIRST_STILL_SOURCE, FIRST_CLIP_SOURCE}) {
    if (storeOfSource(source, first, 0) >= 0) return SOURCE_KIND_VIDEO;
    if (storeOfSource(source, first, 1) >= 0) return SOURCE_KIND_KEY;
  }
  return -1;
}

int isRecordingStillSource(int source) {
  const MxifStillMemory& r = CategoryStillMemory::instance().record(0);
  if (r.capturing != 1 || r.store >= N_STILL_STORES) return 0;
  return (storeOfSource(source, FIRST_STILL_SOURCE, 0) == r.store ||
          storeOfSource(source, FIRST_STILL_SOURCE, 1) == r.store)
             ? 1
             : 0;
}

CategoryStillMemory& CategoryStillMemory::instance() {
  static CategoryStillMemory category;
  return category;
}

void CategoryStillMemory::clearStills() {
  mxFrameClearStills();
  for (int s = 0; s < N_STILL_STORES; ++s) CategoryStillStatus::instance().clearChannel(s);
}

CategoryStillStatus& CategoryStillStatus::instance() {
  static CategoryStillStatus category;
  return category;
}

void CategoryStillStatus::clearChannel(int ch) {
  MxifStillStatus& r = record(ch);
  r = MxifStillStatus{};
  r.index = static_cast<u8>(ch);
  codec::setAllPresence(r);
  dirty[ch] = 1;
}

}  // namespace category
