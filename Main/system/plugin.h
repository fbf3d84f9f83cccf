#pragma once
// Plug-in data that the front end keeps here: the four settings (type 44, kept whole in the
// backup image) and 30 status slots (type 45, held in the object; the backup image keeps only each
// slot's state). Nothing else reads them.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryPlugin : public CategoryCommon<MxifPlugin> {
 public:
  static CategoryPlugin& instance();

 protected:
  CategoryPlugin() = default;
};

class CategoryPluginStatus : public CategoryCommon<MxifPluginStatus> {
 public:
  static constexpr int SAVED_BYTES = MxifPluginStatus::SAVED_BYTES;

  static CategoryPluginStatus& instance();

  // Binds the slots held in the object (cleared) and takes area for the saved states.
  int bindStorage(void* area) override;
  // Every slot names itself.
  void initData() override;
  // Each slot gets its saved state, reported once; texts and values start empty.
  void resume(const void* saved, int flag = 0) override;
  // The slots' states into the backup image, before each backup copy.
  void storeBackup() override;
  // A record for a slot outside 0..29 is dropped.
  void receive(RequestReceiver& rx) override;
  // Texts are always taken (at most 32 characters); a value out of its range is dropped.
  void assign(const MxifPluginStatus& in, int idx) override;

 protected:
  CategoryPluginStatus() = default;

 private:
  MxifPluginStatus slots_[N_CHANNELS] = {};
  u8* savedStates_ = nullptr;
};

}  // namespace category
