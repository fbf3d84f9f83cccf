#pragma once
// Bus status (type 48, one instance per ME): for each control panel, the bus entry that each of the
// panel's five bus rows of the ME shows, and the panel-side switches. The lamps of the bus rows read
// it every frame; the stored-frame code asks whether a row shows a key-source bus.
#include "Main/framework/bp.h"
#include "Lib/Include/data_internal.h"

namespace category {

class CategoryBusStatus : public CategoryCommon<MxifBusStatus> {
 public:
  // The four instances, one per ME, built on first call.
  static CategoryBusStatus* instance();

  void initData() override;
  void initInternal() override;
  void resume(const void* saved, int flag = 0) override;
  // Addresses the instance by the record's `me` and the channel by its `channel`; a record naming an
  // ME above 3 or a channel above 2 is dropped.
  void receive(RequestReceiver& rx) override;
  void assign(const MxifBusStatus& in, int ch) override;

  // 1 when row 0, 1, 2 or 3 of the channel shows a key-source bus of a key or DSK, utility bus 2, or
  // one of the special rows 103, 105, 107, 109.
  int statusHasListedCode(int ch);

  // The bus entry 0..88 that row 0..4 of the channel shows, -1 when the row byte names none (the
  // special rows 102..109, 255, or whatever else the front end sent: rows are stored as sent).
  int rowEntry(int ch, int row);

  CategoryBusStatus() = default;

 protected:
  bool acceptField(const codec::FieldView& f, const MxifBusStatus& in, int ch) override;

 private:
  u8 lastByte20_[N_CHANNELS] = {};
};

}  // namespace category
