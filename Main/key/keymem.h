#pragma once
// The key source memory: for every source that can feed a keyer, the key parameters last used with
// it, kept in the shared-memory key source units (Lib/Include/shared.h) and put back when a keyer is
// switched to that source. It serves the four keys of ME 0 and ME 1 and the four downstream keys, is
// switched by the operate record, and runs at the end of the operate category's frame.
#include "Lib/Include/records/xpt.h"
#include "Lib/Include/records/operate.h"
#include "Lib/Include/stored.h"
#include "Lib/Include/types.h"

class KeyMemory {
 public:
  static constexpr int N_ME = 4;
  static constexpr int N_KEY = 4;
  static constexpr int N_DSK = 4;
  static constexpr int N_SRC = N_KEY_SOURCES;
  static constexpr int N_TRACKED_ME = 2;  // the keys of ME 0 and ME 1 are stored and recalled

  struct KeyEntry {
    u32 me;
    u32 key;
    u8 changed;           // the keyer's parameters changed this frame
    s32 source;           // the keyer's source now
    s32 previousSource;   // at the end of the previous frame
    StoredKeyData data;   // working copy
  };
  struct DskEntry {
    u32 me;  // always 0
    u32 channel;
    u8 changed;
    s32 source;
    s32 previousSource;
    StoredDskData data;
  };

  using Switches = MxifOperate::KeyMemorySwitches;

  // Every entry zeroed, nothing held, per-key mode.
  void reset();
  // Stamps the ME and key numbers into the key entries and the channel numbers into the downstream
  // key entries, and clears every changed flag; sources and flags stay.
  void init();
  // The validated key-memory change of an operate request, before it is merged into `live`:
  // unless the front end holds the memory, a change of enable or share empties it.
  void onOperateAssign(const Switches& change, const Switches& live);
  // The validated change of a source link request (it carries the link mode only when the mode
  // changes): unless the front end holds the memory, a new link mode empties it.
  void onSourceLinkAssign(const MxifSourceLink& change);
  // Once per frame, with the live operate switches: nothing unless enabled; then the share flag,
  // the keys of ME 0 and ME 1 and the downstream keys followed to their sources (stored when
  // changed, recalled when switched, unless held), and every entry's changed flag cleared and its
  // source noted as the previous one.
  void update(const Switches& live);
  // Empties every source unit (the entries are stamped again).
  void clearAll();
  // Key ch of ME me, or downstream key ch, received key settings.
  void setKeyChanged(int me, int ch);
  void setDskChanged(int ch);

  // The unit of a source number; -1 (logged) for a source without one.
  static int sourceIndex(int source);
  // Writes data into the slot at offset of unit index (reference index refIdx, below 64) unless the
  // slot holds it already: the header marked as being written, the slot, then the header with the
  // write counter moved on.
  void writeKeyData(int index, int refIdx, int offset, const StoredKeyData& data);
  void writeDskData(int index, int refIdx, int offset, const StoredDskData& data);

  KeyEntry keys[N_ME][N_KEY];
  DskEntry dsks[N_DSK];
  u8 busy = 0;    // 1 while the front end holds the memory
  u8 shared = 0;  // 1 in share mode

 private:
  void storeKeyData(KeyEntry& entry);
  void storeDskData(DskEntry& entry);
  void syncKeyEntry(KeyEntry& entry, int refIdx, int offset);
  void syncDskEntry(DskEntry& entry, int refIdx, int offset);
  template <class Data>
  void writeSlot(int index, int refIdx, int offset, const Data& data, Data& present);
  // Reads the slot at offset into data from unit index, or from the defaults unit when the unit's
  // refIdx slot is empty; false when the unit was never initialised.
  template <class Data>
  static bool readSlot(int index, int refIdx, int offset, Data& data);
  KeyEntry* findKeySharingSource(const KeyEntry& entry);
  DskEntry* findDskSharingSource(const DskEntry& entry);

  // Present slot contents, read before a write.
  StoredKeyData keyScratch_;
  StoredDskData dskScratch_;
};
