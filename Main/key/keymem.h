#pragma once
// The key source memory: for every source that can feed a keyer, the key parameters last used with
// it, kept in shared-memory units and put back when a keyer is switched to that source. It tracks
// the four keys of every ME and the four downstream keys, and is switched by the operate record.
//
// This is its least form: the entries, the busy and share flags, and when the memory is emptied
// and tracked. Storing and recalling parameters and emptying the units are not built yet.
#include "Lib/Include/records/operate.h"
#include "Lib/Include/types.h"

class KeyMemory {
 public:
  static constexpr int N_ME = 4;
  static constexpr int N_KEY = 4;
  static constexpr int N_DSK = 4;

  struct Entry {
    u32 me = 0;
    u32 key = 0;  // the channel of a downstream key entry
    u8 changed = 0;
    s32 source = 0;
    s32 previousSource = 0;
  };

  using Switches = MxifOperate::KeyMemorySwitches;

  // Stamps the ME and key numbers into the key entries and the channel numbers into the downstream
  // key entries, and clears every changed flag; sources and flags stay.
  void init();
  // The validated key-memory change of an operate request, before it is merged into `live`:
  // unless the front end holds the memory, a change of enable or share empties it.
  void onOperateAssign(const Switches& change, const Switches& live);
  // Once per frame, with the live operate switches: nothing unless enabled; then the share flag,
  // and every entry's changed flag cleared and its source noted as the previous one.
  void update(const Switches& live);
  // Empties every source unit (the entries are stamped again).
  void clearAll();
  // Downstream key ch (0..3) received key settings; nothing is stored for it yet.
  void setDskChanged(int ch);

  Entry keys[N_ME][N_KEY];
  Entry dsks[N_DSK];
  u8 busy = 0;    // 1 while the front end holds the memory
  u8 shared = 0;  // 1 in share mode
};
