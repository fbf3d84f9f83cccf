#include "Main/key/image.h"

#include "Driver/core/core.h"
#include "Driver/filter/filter.h"
#include "Lib/Include/color.h"
#include "Main/bus/button.h"
#include "Main/panel/led.h"

namespace category {
namespace {

using Target = MxifImage::Target;

}  // namespace

void mergeImageTarget(MxifImage::Target& into, const MxifImage::Target& from) { codec::merge(into, from); }

CategoryImage* CategoryImage::instance() {
  static CategoryImage objects[N_ME];
  return objects;
}

CategoryImage::CategoryImage() {
  CategoryButtonEvent::setHook(ButtonReceiver::IMAGE, [](CategoryInterface& target, const internal::MxifButtonEvent& ev) {
    if (auto* image = dynamic_cast<CategoryImage*>(&target)) image->applyButtonTarget(ev);
  });
}

void CategoryImage::initData() {
  CategoryCommon::initData();
  setMe(record(0));
}

bool CategoryImage::acceptField(const codec::FieldView& f, const MxifImage& in, int idx) {
  (void)idx;
  return limits::check(in, f) == 1;
}

u8 CategoryImage::imageFlag(Flag flag) const {
  if (records == nullptr) return 0;
  const MxifImage& r = records[0];
  switch (flag) {
    case KEY1_ON:
      return r.imageKey[0].enable;
    case KEY2_ON:
      return r.imageKey[1].enable;
    case BUS_A_ON:
      return r.imageA.enable;
    case BUS_B_ON:
      return r.imageB.enable;
  }
  return 0;
}

void CategoryImage::applyTarget(const Target& target, int t, int systemFormat) {
  if (target.enable != 1) {
    mxFilterSetImageMode(t, 0, 0.0f);
    mxFilterSetPosterize(t, 0, 0, 0);
    mxFilterSetColorize(t, 0, 512, 512);
    return;
  }
  const int mode = target.effectType == MxifImage::EFFECT_MOSAIC    ? MX_IMAGE_MOSAIC
                   : target.effectType == MxifImage::EFFECT_DEFOCUS ? MX_IMAGE_DEFOCUS
                                                                    : 0;
  mxFilterSetImageMode(t, mode, static_cast<float>(target.level) * 0.1f);
  mxFilterSetPosterize(t, target.posterize, target.posterizeY, target.posterizeC);
  u16 y = 0, cb = 0, cr = 0;
  colorToYCbCr(systemFormat, target.hue, target.saturation, 1000, &y, &cb, &cr);
  mxFilterSetColorize(t, target.colorize, cb, cr);
}

void CategoryImage::update() {
  if (me >= N_FILTER_ME) return;
  mxSetContext(MX_CONTEXT_ME1 + me);
  const MxifImage& r = record(0);
  const MxifSystem* system = CategoryRegistry::instance().record<MxifSystem>();
  const int format = system != nullptr ? system->format : 0;
  applyTarget(r.imageA, MX_ABUS, format);
  applyTarget(r.imageB, MX_BBUS, format);
  applyTarget(r.imageKey[0], MX_KEY1, format);
  applyTarget(r.imageKey[1], MX_KEY1 + 2, format);

  auto* leds = CategoryRegistry::instance().find<CategoryMeLed>(TYPE_ME_LED, me);
  if (leds == nullptr) return;
  const bool swap = swapAB();
  leds->setLedOnAllPanels(swap ? LAMP_B : LAMP_A, r.imageA.enable == 1 ? 2 : 0);
  leds->setLedOnAllPanels(swap ? LAMP_A : LAMP_B, r.imageB.enable == 1 ? 2 : 0);
}

bool CategoryImage::swapAB() {
  auto& reg = CategoryRegistry::instance();
  const MxifOperate* op = reg.record<MxifOperate>();
  const MxifBus* bus = reg.record<MxifBus>(me);
  if (op == nullptr || bus == nullptr) return false;
  // The operate record's A/B mode: 0 swaps never, 1 while B is on program, any other (a select
  // byte without mode included) while A is.
  const int mode = op->abMode(me);
  if (mode == 0) return false;
  return mode == 1 ? bus->programBus == 1 : bus->programBus == 0;
}

void CategoryImage::applyButtonTarget(const internal::MxifButtonEvent& ev) {
  if (!ev.isPressed()) return;
  const bool b = ev.getCode() == internal::MxifButtonEvent::BTN_IMAGE_LAST;
  Target& stored = b != swapAB() ? record(0).imageB : record(0).imageA;
  Target toggle{};
  toggle.mask = 1u << Target::BIT_ENABLE;
  toggle.enable = stored.enable == 1 ? 0 : 1;
  mergeImageTarget(stored, toggle);
}

}  // namespace category
