#pragma once
// Still memory (type 23, owner of command type 67), still status (type 24), and the still and
// clip source numbers.
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

constexpr int N_STILL_STORES = 4;
constexpr int FIRST_STILL_SOURCE = 181;  // store s: video 181 + 3 s, key 182 + 3 s
constexpr int FIRST_CLIP_SOURCE = 201;   // player c: video 201 + 3 c, key 202 + 3 c
constexpr int SOURCE_KIND_VIDEO = 13;    // the record input bus that tallies a video output
constexpr int SOURCE_KIND_KEY = 14;      // ... and a key output

// 13 for the video sources of the stills and clips, 14 for their key sources, else -1.
int stillClipSourceKind(int source);
// 1 when source is the video or key source of the still store selected in the still-memory
// record while that record captures (byte 14 = 1), else 0.
int isRecordingStillSource(int source);

class CategoryStillMemory : public CategoryWithCommands<MxifStillMemory> {
 public:
  static CategoryStillMemory& instance();

  // Clears the four still stores: their valid words are cleared and their status records go back
  // to defaults and are sent whole.
  void clearStills();

 private:
  CategoryStillMemory() : CategoryWithCommands({TYPE_STILL_MEMORY_CMD}) {}
};

class CategoryStillStatus : public CategoryChannels<MxifStillStatus> {
 public:
  static CategoryStillStatus& instance();
  // Channel ch back to its defaults, every field marked for sending.
  void clearChannel(int ch);

 private:
  CategoryStillStatus() = default;
};

}  // namespace category
