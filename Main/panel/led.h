#pragma once
// Lamp images of the three control panels: the panel-wide lamps (type 49, one instance) and the
// lamps of each ME row (type 50, one instance per ME). Categories request a lamp by button code;
// once per frame the store turns requests into lamp states, blinking included, marks the lamps
// that changed and sends each changed panel image. The images are never in the backup image.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

// Lamp states: 0 off; 1, 2, 3 lit; 11, 12, 13 blink in 1, 2, 3 (lit 20 frames, dark 10). Any other
// value is shown as it stands.
struct LedCell {
  static constexpr u8 BLINK_FIRST = 11;
  static constexpr u8 BLINK_LAST = 13;
  static constexpr u8 BLINK_DARK_AT = 20;
  static constexpr u8 BLINK_PERIOD = 30;

  u8 request = 0;      // as last put by a requesting category
  u8 lastRequest = 0;  // the request seen at the previous frame
  u8 output = 0;       // the state to show now
  u8 changed = 0;      // output must be reported
  u8 counter = 0;      // blink frame counter, 0..29

  // One frame; returns whether output must be reported.
  bool step();
};

template <class T>
class CategoryLedCommon : public CategoryCommon<T> {
 public:
  using Base = CategoryCommon<T>;
  static constexpr int N_LED = T::N_LED;
  static constexpr int N_CHANNELS = T::N_CHANNELS;  // one per panel
  static constexpr int N_PANELS = N_CHANNELS;

  // The images are held here, zeroed; nothing of the backup buffer is taken.
  int bindStorage(void* area) override;
  // Panel numbers (and the ME) into the three images.
  void initData() override;
  // Every cell and lamp off, nothing pending.
  void initInternal() override;
  // Nothing comes back: lamps start off and are lit again as they are requested.
  void resume(const void* saved, int flag = 0) override;
  // Every cell steps; a changed lamp goes into its image with its mask bit.
  void update() override;
  // A record from the front end asks for one panel's image again (dropped for a panel above 2 or
  // an ME above 3).
  void receive(RequestReceiver& rx) override;
  // The received lamps are ignored: the panel is marked for a full resend.
  void assign(const T& in, int panel) override;

  // Requests state for the lamp of a button code on panel 0..2 (shown from the next update).
  void setLed(int panel, int code, int state) {
    if (static_cast<unsigned>(panel) >= N_PANELS) checkPanel(panel);
    request(panel, T::lampIndex(code), state);
  }
  // The same for button codes code..code + n - 1, states[k] for code + k.
  void setLeds(int panel, int code, const u8* states, int n) {
    if (!T::lampsFollow(code, n)) {
      for (int k = 0; k < n; ++k) setLed(panel, code + k, states[k]);
      return;
    }
    if (static_cast<unsigned>(panel) >= N_PANELS) checkPanel(panel);
    const int first = T::lampIndex(code);
    for (int k = 0; k < n; ++k) request(panel, first + k, states[k]);
  }
  void setLedOnAllPanels(int code, int state) {
    const int i = T::lampIndex(code);
    for (int p = 0; p < N_PANELS; ++p) request(p, i, state);
  }
  // The request last put for the lamp of a button code on panel 0..2.
  int ledRequest(int panel, int code);

 protected:
  CategoryLedCommon() = default;

 private:
  static constexpr int N_WORDS = (N_LED + 63) / 64;

  // Fails the panel check (kept out of line: the requests pass it every time).
  static void checkPanel(int panel);
  void stamp();
  LedCell& cellOf(int panel, int code);
  // A lamp whose request changes is marked for the next update.
  void request(int panel, int i, int state) {
    LedCell& c = cells_[panel][i];
    const u8 s = static_cast<u8>(state);
    if (c.request == s) return;
    c.request = s;
    active_[panel][i / 64] |= u64{1} << (i % 64);
  }

  T images_[N_PANELS] = {};
  LedCell cells_[N_PANELS][N_LED] = {};
  // The cells the update must step: a request changed since the last step, or a blinking request.
  // Every other cell shows its request already and would step to no change.
  u64 active_[N_PANELS][N_WORDS] = {};
};

class CategoryLed : public CategoryLedCommon<internal::MxifLed> {
 public:
  static CategoryLed& instance();

 private:
  CategoryLed() = default;
};

class CategoryMeLed : public CategoryLedCommon<internal::MxifMeLed> {
 public:
  // The four instances, one per ME.
  static CategoryMeLed* instance();

 private:
  CategoryMeLed() = default;
};

extern template class CategoryLedCommon<internal::MxifLed>;
extern template class CategoryLedCommon<internal::MxifMeLed>;

}  // namespace category
