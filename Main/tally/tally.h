#pragma once
// Bus tally (type 52, one instance per ME) and source tally (type 53, one instance; it also sends
// the dual tally, type 54). Once per frame the source tally turns each code of the four tally
// groups (peripheral record, type 28) into a source and resolves which sources and bus entries
// feed it: from the hardware tally status, or with the tally mode setting at 0 from the switcher
// state (Main/tally/tallyresolve.cpp). Changed groups are sent whole; group 0 also sets the bus tally
// of each ME. Nothing of either is kept in the backup image.
#include "Lib/Include/data_internal.h"
#include "Main/framework/services.h"

namespace category {

// Tally index 0..246 of a source number; -1 for a source that has none.
int tallyIndexOf(int source);
// The source a tally group's code names: 1..20 the ME 1 to ME 4 and DSK outputs, 21..68 the bus
// outputs 240..287; -1 for 0 and every other code.
int tallyCodeSource(int code);

class CategoryBusTally : public CategoryInObject<MxifBusTally> {
 public:
  static constexpr int N_ENTRIES = MxifBusTally::N_ENTRIES;

  // The four instances, one per ME.
  static CategoryBusTally* instance();

  // Whether the bus tally of ME me (the ME 0 instance where that ME has none) flags entry 0..88;
  // 0 while there is no bus tally.
  static u8 entryTally(int me, int entry);

  // The ME only.
  void initData() override;
  // The ME; nothing present, not dirty.
  void initInternal() override;
  // A received record changes no flag: the stored one is sent again, whole.
  void assign(const MxifBusTally& in, int idx) override;
  // Sent when dirty or an entry changed, unless over half the output stream is pending; a record
  // the stream cannot take keeps its marks for the next turn.
  void sendStatus(AcknowledgeSender& tx) override;
  void send(AcknowledgeSender& tx, int part) override;

  // The per-frame merge: every entry whose flag differs from computed takes it, with its presence
  // bit; the others are left as they are.
  void merge(const MxifBusTally& computed);

 private:
  CategoryBusTally() = default;
};

class CategorySourceTally : public CategoryInObject<MxifSourceTally> {
 public:
  static constexpr int N_GROUPS = MxifSourceTally::N_CHANNELS;
  static constexpr int N_CODES = TallyGroup::N_ENTRIES;
  static constexpr int N_MARK_SLOTS = 4;
  // The flag words: the status of ME 1..4 (ME 3 and ME 4 have none), DSK program and DSK clean.
  enum FlagWord { FLAG_ME1 = 0, FLAG_DSK_PGM = 4, FLAG_DSK_CLN = 5, N_FLAG_WORDS = 6 };

  // The working record of one group's resolution: the flagged sources and, per ME, the flagged bus
  // entries. Every flag set carries its presence bit.
  struct Tally {
    MxifSourceTally source;
    MxifBusTally bus[N_ME];

    Tally();
    bool isFlagged(int index) const { return source.tally[index] != 0; }
    void flagIndex(int index);
    // Entry e of ME me (entries above 88 are not flagged).
    void flagEntry(int me, int entry);
  };

  static CategorySourceTally& instance();

  // Nothing present in the stored records; the last computed tally and the dual tally empty with
  // their group numbers; no group dirty.
  void initInternal() override;
  // One record with its flags as truth values; an index above 3 drops it.
  void receive(RequestReceiver& rx) override;
  // With the external source tally setting 1 the flags present become group g's tally and side B
  // of its dual tally; otherwise nothing is taken. Group g is dirty either way.
  void assign(const MxifSourceTally& in, int g) override;
  // The hardware status, then each group resolved and compared; the mark ring advances.
  void update() override;
  // Dual tally of each group that changed, then the source tally: the received records with the
  // external setting 1, else the computed ones.
  void sendStatus(AcknowledgeSender& tx) override;
  void send(AcknowledgeSender& tx, int part) override;

  // The transition engine renders a background DVE effect on the ME whose context is selected.
  void markBkgdDveTransition();
  // The marks of the current ring slot (tests).
  u8 bkgdDveMark(int me) const;
  int bkgdDveTransCnt() const { return bkgdDveTransCnt_; }
  // Flag word w: the OR of this frame's and the previous frame's status.
  u32 flagWord(int w) const { return flags_[w]; }
  const MxifSourceTally& lastComputed(int g) const { return last_[g]; }
  const MxifDualSourceTally& dual(int g) const { return dual_[g]; }

 private:
  CategorySourceTally() = default;
  void readHardwareStatus();
  bool sendDual(AcknowledgeSender& tx, int g);

  MxifSourceTally last_[N_GROUPS];
  MxifDualSourceTally dual_[N_GROUPS];
  u32 history_[2][N_FLAG_WORDS] = {};
  u32 flags_[N_FLAG_WORDS] = {};
  int row_ = 0;
  u8 marks_[N_MARK_SLOTS][N_ME] = {};
  int bkgdDveTransCnt_ = 0;
};

}  // namespace category
