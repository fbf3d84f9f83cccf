#include "Main/panel/led.h"

#include <bit>
#include <cstring>

namespace category {

bool LedCell::step() {
  changed = request != lastRequest ? 1 : 0;
  lastRequest = request;
  if (request < BLINK_FIRST || request > BLINK_LAST) {
    output = request;
    return changed != 0;
  }
  if (changed != 0) {
    // A new blink request starts lit.
    output = static_cast<u8>(request - 10);
    counter = 0;
    return true;
  }
  counter = static_cast<u8>(counter + 1);
  if (counter == BLINK_DARK_AT) {
    output = 0;
    changed = 1;
  } else if (counter == BLINK_PERIOD) {
    counter = 0;
    output = static_cast<u8>(request - 10);
    changed = 1;
  }
  return changed != 0;
}

template <class T>
int CategoryLedCommon<T>::bindStorage(void* area) {
  (void)area;
  this->records = images_;
  for (auto& r : images_) r = T{};
  return 0;
}

template <class T>
void CategoryLedCommon<T>::stamp() {
  for (int p = 0; p < N_PANELS; ++p) {
    images_[p].panel = static_cast<u16>(p);
    this->setMe(images_[p]);
  }
}

template <class T>
void CategoryLedCommon<T>::initData() {
  for (auto& r : images_) r = T{};
  stamp();
}

template <class T>
void CategoryLedCommon<T>::initInternal() {
  Base::initInternal();
  std::memset(static_cast<void*>(cells_), 0, sizeof cells_);
  std::memset(active_, 0, sizeof active_);
  for (auto& r : images_) r = T{};
  stamp();
}

template <class T>
void CategoryLedCommon<T>::resume(const void* saved, int flag) {
  (void)saved;
  (void)flag;
}

template <class T>
void CategoryLedCommon<T>::update() {
  for (int p = 0; p < N_PANELS; ++p) {
    T& image = images_[p];
    for (int w = 0; w < N_WORDS; ++w) {
      for (u64 bits = active_[p][w]; bits != 0; bits &= bits - 1) {
        const int i = w * 64 + std::countr_zero(bits);
        LedCell& c = cells_[p][i];
        if (c.step()) {
          c.changed = 0;
          image.lamps[i] = c.output;
          codec::setPresenceBit(image.lampMask, i);
        }
        if (c.request < LedCell::BLINK_FIRST || c.request > LedCell::BLINK_LAST) active_[p][w] &= ~(u64{1} << (i % 64));
      }
    }
  }
}

template <class T>
void CategoryLedCommon<T>::receive(RequestReceiver& rx) {
  T in{};
  if (!rx.readRecord(in)) return;
  rx.clearHeader();
  if (in.panel >= N_PANELS) return;
  if constexpr (RecordInfo<T>::PER_ME) {
    if (in.me >= N_ME) return;
    auto* target = CategoryRegistry::instance().find<CategoryLedCommon<T>>(T::TYPE_INDEX, in.me);
    if (target != nullptr) target->assign(in, in.panel);
  } else {
    assign(in, in.panel);
  }
}

template <class T>
void CategoryLedCommon<T>::assign(const T& in, int panel) {
  (void)in;
  this->setMe(this->record(panel));
  this->dirty[panel] = 1;
}

template <class T>
void CategoryLedCommon<T>::checkPanel(int panel) {
  MX_CHECK(0 <= panel && panel < N_CHANNELS);
}

template <class T>
LedCell& CategoryLedCommon<T>::cellOf(int panel, int code) {
  checkPanel(panel);
  return cells_[panel][T::lampIndex(code)];
}

template <class T>
int CategoryLedCommon<T>::ledRequest(int panel, int code) {
  return cellOf(panel, code).request;
}

template class CategoryLedCommon<internal::MxifLed>;
template class CategoryLedCommon<internal::MxifMeLed>;

CategoryLed& CategoryLed::instance() {
  static CategoryLed category;
  return category;
}

CategoryMeLed* CategoryMeLed::instance() {
  static CategoryMeLed objects[N_ME];
  return objects;
}

}  // namespace category
