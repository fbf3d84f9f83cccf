#pragma once
// Categories of the video inputs, outputs and multiview: extended display (type 32), custom
// information (33), source names (39), multiview (40), DVI inputs (41), video inputs (42),
// outputs (43).
#include "Main/framework/services.h"
#include "Lib/Include/data_internal.h"

namespace category {

constexpr int N_AUX_SOURCES = 24;  // source codes 1..24 name AUX buses 1..24

// The AUX bus id of a source code 1..24, -1 for any other code and for the codes 17..24 of AUX
// buses the board does not have.
int auxOfSourceCode(int code);

// Implemented by the bus category: takes the source of custom-information channel 0..35.
class CustomInfoSourceTarget {
 public:
  virtual void setCustomInfoSource(int channel, int source) = 0;

 protected:
  ~CustomInfoSourceTarget() = default;
};

class CategoryExtendedDisplay : public CategoryCommon<MxifExtendedDisplay> {
 public:
  static CategoryExtendedDisplay& instance();
  // While the extended display is on, routes its AUX assignment to external output 3 (4754).
  void update() override;

 private:
  CategoryExtendedDisplay() = default;
};

class CategoryCustomInfo : public CategoryCommon<MxifCustomInfo> {
 public:
  static constexpr int N_ITEMS = 8;
  static CategoryCustomInfo& instance();

  // Merges, then hands every channel source the record carried to the bus category.
  void assign(const MxifCustomInfo& in, int idx) override;

  // Mode and index of custom-information item -1..7: every item has mode 1 and no index.
  int modeOf(int item) const;
  int indexOf(int item) const;
  // The first ME slot 0..7 whose word names ME me (holds me + 1); -1 when none does.
  int findIndex(int me);

 protected:
  // An ME slot word names no ME beyond the last (0..N_ME).
  bool acceptField(const codec::FieldView& f, const MxifCustomInfo& in, int idx) override;

 private:
  CategoryCustomInfo() = default;
};

class CategoryButtonSourceName : public CategoryCommon<MxifSourceName> {
 public:
  static CategoryButtonSourceName& instance();

 private:
  CategoryButtonSourceName() = default;
};

class CategoryMultiView : public CategoryChannels<MxifMultiView> {
 public:
  static CategoryMultiView& instance();

  // Lays multiview channel 0..7 out for a system format (format and flag kept in its record,
  // which is then sent) and marks it for redraw; other channels are ignored.
  void setVideoFormat(int format, int flag, int channel);
  // Marks all 8 channels for redraw: each redraw flag and presence bit 0x80 of each record.
  void markAllChanged();
  bool needsRedraw(int channel) const { return redraw_[channel] != 0; }

  void initInternal() override;

 private:
  CategoryMultiView() = default;
  u8 redraw_[MxifMultiView::N_CHANNELS] = {};
};

class CategoryInputDvi : public CategoryChannels<MxifInputDvi> {
 public:
  static CategoryInputDvi& instance();

 private:
  CategoryInputDvi() = default;
};

// The 128 input records live in the category itself, not in the backup image: they describe
// the inputs as found, so every start begins from defaults.
class CategoryInputVideo : public CategoryChannels<MxifInputVideo> {
 public:
  static constexpr int FIRST_SDI_SOURCE = 10;
  static constexpr int LAST_SDI_SOURCE = 137;

  static CategoryInputVideo& instance();

  // State word of SDI input source 10..137; 0 for any other source.
  u32 channelFlag(int source);
  // 1 for an SDI input source whose input reports a standard-definition format (4 or 5) while its
  // state word is 3; 0 for every other source, and for sources beyond the board's 32 inputs.
  int isChannelMode3(int source);
  // Byte 16 of the record of SDI input source 10..137; 0 for any other source.
  u8 channelByte16(int source);

  int bindStorage(void* area) override;
  void resume(const void* saved, int flag = 0) override;

 private:
  CategoryInputVideo() { records = inputs_; }
  int inputOf(int source) const;
  MxifInputVideo inputs_[MxifInputVideo::N_CHANNELS] = {};
};

class CategoryOutput : public CategoryCommon<MxifOutput> {
 public:
  static CategoryOutput& instance();
  // Routes every output whose source code names one of AUX buses 1..16.
  void update() override;

 private:
  CategoryOutput() = default;
};

}  // namespace category
