#pragma once
// Chroma keys (type 1, one instance per ME): a key channel whose key type is 2 keys by colour. The
// front end prepares each channel's two reference colours and keyer table as a data block in shared
// memory; this category keeps the channel records, a working copy of every block (its keyer part
// also in the backup image), loads the blocks into the keyer, and writes the chroma mode, range and
// sample box every frame.
//
// The storage bound for an instance holds the backup blocks first and the four records behind them,
// so the registry's typed record read does not apply to this type: other areas ask the category.
#include "Lib/Include/data_internal.h"
#include "Lib/Include/shared.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryChromaKey : public CategoryCommon<MxifChromaKey> {
 public:
  static constexpr int N_KEYS = MxifChromaKey::N_CHANNELS;
  static constexpr int BACKUP_BLOCK_BYTES = MxifChromaKey::BACKUP_BLOCK_BYTES;  // 9264

  // The four instances, one per ME, built on first call.
  static CategoryChromaKey* instance();

  // Backup blocks at area, the records behind them; 9376 bytes.
  int bindStorage(void* area) override;
  // Backup blocks zeroed; each record cleared with its ME and channel numbers.
  void initData() override;
  // Dirty bytes cleared, working blocks from the backup blocks, the hand-shake and the change
  // detection at their start: only channel 0 loadable, every loadable chroma channel loaded at the
  // next frame.
  void initInternal() override;
  // The backup blocks as saved; each record through the range checks with every presence bit.
  void resume(const void* saved, int flag = 0) override;
  // One record; an ME above 3 or a channel outside 0..3 drops it. It goes to the instance of its ME.
  void receive(RequestReceiver& rx) override;
  // Tells the key source memory of a carried range base or width (taken or not), then merges the
  // fields in range; the ME's shared fields become the ME's current values.
  void assign(const MxifChromaKey& in, int ch) override;
  // Each frame in the ME's context: per key channel the shared fields, output taps, mode, range,
  // sample box and pending loads; then the ready words.
  void update() override;
  // MxifChromaKeyCmd: re-reads a channel's block from shared memory and loads it into the keyer.
  void receiveCommand(int id, RequestReceiver& rx) override;
  int largestBody(int type) const override { return largestBodyOf<MxifChromaKey, MxifChromaKeyCmd>(type); }

  // The stored frames' and the key source memory's access to a channel's data block.
  void copyChannelData(int ch, ChromaKeyBlock& out);
  // Takes block as channel ch's data (marked loaded), keeps its keyer part for the backup image,
  // writes it to the channel's unit and loads it into the keyer at the next frame.
  void loadChannelData(int ch, const ChromaKeyBlock& block);
  // Re-reads channel ch's unit and loads the keyer at once (system initialise).
  void reloadChannel(int ch);
  // Whether channel ch's output-point flag (record byte 14) is set.
  int outputPointFlag(int ch);

  const ChromaKeyBlock& workingBlock(int ch);

 protected:
  CategoryChromaKey() { CategoryRegistry::instance().setCommandOwner(TYPE_CHROMA_KEY_CMD, TYPE_INDEX); }
  bool acceptField(const codec::FieldView& f, const MxifChromaKey& in, int idx) override;

 private:
  // Values shared by the four channels of the ME, as last taken and as last written to the records.
  struct Shared {
    u8 sampleKey = 0;
    u8 modeSelect = 0;
    s16 centre[2] = {};
    s16 size = 0;
  };

  static int checkedChannel(int ch);
  u8* backupBlock(int ch);
  // Reads unit 4 me + ch into the working block and its keyer part into the backup block.
  void readUnit(int ch);
  // Loads channel ch's working block into the keyer when the channel is loadable.
  void loadKeyer(int ch);
  // Copies the shared values that changed into record ch, each with its presence bit.
  void takeSharedFields(MxifChromaKey& r);
  // The key channel that the mainframe configuration marks for the key fader, -1 when none.
  int markedChannel();
  void pollReadyWords();

  u8* backup_ = nullptr;
  ChromaKeyBlock blocks_[N_KEYS] = {};
  u8 sampleActive_ = 0;
  u8 reapply_ = 0;
  Shared current_;
  Shared previous_;
  u8 polled_[N_KEYS] = {};
  u8 valid_[N_KEYS] = {};
};

}  // namespace category

namespace libmx {

// The chroma sample box in pixels and lines for centre (x, y) and size s in frame units (x to the
// right, y downwards from the centre) on the raster of system format f: start, top, width, height.
struct SampleBox {
  int start, top, width, height;
};
SampleBox chromaSampleBox(int format, float x, float y, float s);

}  // namespace libmx
