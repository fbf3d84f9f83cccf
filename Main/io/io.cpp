#include "Main/io/io.h"

#include "Driver/sdi/sdi.h"
#include "Driver/xpt/xpt.h"

namespace category {

int auxOfSourceCode(int code) {
  if (code < 1 || code > N_AUX_SOURCES) return -1;
  // The board has the first 16 of them; a code naming another keeps the destination's source.
  const int aux = MX_AUX1 + 2 * (code - 1);
  return aux <= MX_AUX_LAST ? aux : -1;
}

CategoryExtendedDisplay& CategoryExtendedDisplay::instance() {
  static CategoryExtendedDisplay category;
  return category;
}

void CategoryExtendedDisplay::update() {
  const MxifExtendedDisplay& r = record(0);
  if (r.display == 0) return;
  int aux = auxOfSourceCode(r.aux);
  if (aux >= 0) mxSetAuxSource(MX_EXT_OUT_3, aux);
}

CategoryCustomInfo& CategoryCustomInfo::instance() {
  static CategoryCustomInfo category;
  return category;
}

void CategoryCustomInfo::assign(const MxifCustomInfo& in, int idx) {
  CategoryCommon::assign(in, idx);
  auto* bus = CategoryRegistry::instance().find<CustomInfoSourceTarget>(TYPE_BUS, 0);
  if (bus == nullptr) return;
  for (int c = 0; c < MxifCustomInfo::N_SOURCES; ++c) {
    if (codec::presenceBit(in.sourceMask, c)) bus->setCustomInfoSource(c, record(idx).source[c]);
  }
}

int CategoryCustomInfo::modeOf(int item) const {
  (void)item;
  return 1;
}

int CategoryCustomInfo::indexOf(int item) const {
  (void)item;
  return -1;
}

int CategoryCustomInfo::findIndex(int me) {
  const MxifCustomInfo& r = record(0);
  for (int s = 0; s < MxifCustomInfo::N_SLOTS; ++s) {
    if (r.meSlot[s] != 0 && r.meSlot[s] == static_cast<u32>(me) + 1) return s;
  }
  return -1;
}

bool CategoryCustomInfo::acceptField(const codec::FieldView& f, const MxifCustomInfo& in, int idx) {
  (void)idx;
  return limits::check(in, f) != 0;
}

CategoryButtonSourceName& CategoryButtonSourceName::instance() {
  static CategoryButtonSourceName category;
  return category;
}

CategoryMultiView& CategoryMultiView::instance() {
  static CategoryMultiView category;
  return category;
}

void CategoryMultiView::setVideoFormat(int format, int flag, int channel) {
  if (channel < 0 || channel >= N_CHANNELS) return;
  MxifMultiView& r = record(channel);
  r.format = static_cast<u8>(format);
  r.formatFlag = static_cast<u8>(flag);
  r.mask |= 1u;
  redraw_[channel] = 1;
}

void CategoryMultiView::markAllChanged() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    record(ch).mask |= MxifMultiView::REDRAW_BIT;
    redraw_[ch] = 1;
  }
}

void CategoryMultiView::initInternal() {
  CategoryCommon::initInternal();
  for (auto& r : redraw_) r = 0;
}

CategoryInputDvi& CategoryInputDvi::instance() {
  static CategoryInputDvi category;
  return category;
}

CategoryInputVideo& CategoryInputVideo::instance() {
  static CategoryInputVideo category;
  return category;
}

int CategoryInputVideo::bindStorage(void* area) {
  (void)area;
  records = inputs_;
  return 0;
}

void CategoryInputVideo::resume(const void* saved, int flag) {
  (void)saved;
  (void)flag;
  initData();
}

int CategoryInputVideo::inputOf(int source) const {
  if (source < FIRST_SDI_SOURCE || source > LAST_SDI_SOURCE) return -1;
  return source - FIRST_SDI_SOURCE;
}

u32 CategoryInputVideo::channelFlag(int source) {
  int n = inputOf(source);
  return n < 0 ? 0 : record(n).state;
}

int CategoryInputVideo::isChannelMode3(int source) {
  const int n = inputOf(source);
  if (n < 0 || n >= RX_CHANNELS) return 0;
  const int format = mxSdiGetFormat(MX_IN_1 + n);
  return (format == 4 || format == 5) && channelFlag(source) == 3 ? 1 : 0;
}

u8 CategoryInputVideo::channelByte16(int source) {
  int n = inputOf(source);
  return n < 0 ? 0 : record(n).byte16;
}

CategoryOutput& CategoryOutput::instance() {
  static CategoryOutput category;
  return category;
}

void CategoryOutput::update() {
  const MxifOutput& r = record(0);
  for (int n = 0; n < MxifOutput::N_OUTPUTS; ++n) {
    int aux = auxOfSourceCode(r.source[n]);
    if (aux >= 0) mxSetOutputSource(MX_OUT_1 + n, aux);
  }
}

}  // namespace category
