#pragma once
// Control-panel button event (command type 94): one press or release of one panel button.
#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

namespace internal {

struct MxifButtonEvent {
  static constexpr int TYPE_INDEX = category::TYPE_BUTTON_EVENT;
  static constexpr bool IS_STATUS = false;

  // Button codes and ranges the dispatch knows.
  static constexpr u16 BTN_XPT_FIRST = 1100;  // 192 crosspoint buttons 1100..1291
  static constexpr u16 BTN_XPT_LAST = 1291;
  static constexpr u16 BTN_IMAGE_FIRST = 1295;
  static constexpr u16 BTN_IMAGE_LAST = 1296;
  static constexpr u16 BTN_TR_MACRO_ATTCH = 1603;
  static constexpr u16 BTN_PANEL_OPTION1 = 2006;
  static constexpr u16 BTN_PANEL_OPTION2 = 2013;
  static constexpr u16 BTN_ALL_RELEASED = 3000;
  // Background buttons: direction normal/reverse, normal/reverse alternation, partial, NAM; the
  // next-transition buttons of the background and of keys 1..4.
  static constexpr u16 BTN_DIR_NORMAL = 1600;
  static constexpr u16 BTN_NR_TOGGLE = 1601;
  static constexpr u16 BTN_DIR_REVERSE = 1602;
  static constexpr u16 BTN_PARTIAL_TOGGLE = 1604;
  static constexpr u16 BTN_NAM_TOGGLE = 1605;
  static constexpr u16 BTN_NEXT_KEY1 = 1608;
  static constexpr u16 BTN_NEXT_BKGD = 1612;
  // Transition buttons of an ME.
  static constexpr u16 BTN_TYPE0 = 1613;  // 1613..1615: transition type 0..2 of the selected layers
  static constexpr u16 BTN_AUTO = 1616;
  static constexpr u16 BTN_CUT = 1617;
  static constexpr u16 BTN_BKGD_AUTO = 3100;
  static constexpr u16 BTN_BKGD_CUT = 3101;
  // Blocks of buttons: one per ME, the downstream-key block and the block of ME index 2's keys.
  static constexpr u16 BTN_ME_BLOCK = 1700;   // 1700..1703 fader select 4m + k
  static constexpr u16 BTN_DSK_BLOCK = 1800;  // 1800..1803 fader select 16 + k
  static constexpr u16 BTN_ME2_BLOCK = 2100;  // 2100..2103 fader select 8 + k
  static constexpr u16 BTN_KEY_TRANS = 1716;  // + k: transition button of key k (0..3), by operate mode
  static constexpr u16 BTN_KEY_AUTO = 1724;
  static constexpr u16 BTN_KEY_CUT = 1732;
  static constexpr u16 BTN_DSK_TRANS = 1816;  // + c: downstream key c (0..3)
  static constexpr u16 BTN_DSK_AUTO = 1824;
  static constexpr u16 BTN_DSK_CUT = 1832;
  static constexpr u16 BTN_ME2_KEY_TRANS = 2116;
  // On/off buttons of the up-stream keys 1..4.
  static constexpr u16 BTN_USK_ON = 2050;

  static constexpr u8 PRESSED = 1;
  static constexpr u8 RELEASED = 0;

  // Wire order, 12 bytes big-endian. The two words and two flags are carried, not interpreted;
  // a flag byte counts as true when non-zero.
  u16 word1 = 0;
  u8 flag1 = 0;
  u16 word2 = 0;
  u8 panel = 0;  // 0 main, 1 sub panel 1, 2 sub panel 2
  u8 me = 0;
  u8 index = 0;  // button row position; bus entry 0..88 for bus buttons
  u16 code = 0;  // button code
  u8 state = 0;  // 1 pressed, 0 released
  u8 flag2 = 0;

  int getMe() const { return me; }
  int getCode() const { return code; }
  bool isPressed() const { return state == PRESSED; }
  bool isReleased() const { return state == RELEASED; }
  bool getFlag1() const { return flag1 != 0; }
  bool getFlag2() const { return flag2 != 0; }

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("word1", r.word1);
    v.field("flag1", r.flag1);
    v.field("word2", r.word2);
    v.field("panel", r.panel);
    v.field("me", r.me);
    v.field("index", r.index);
    v.field("code", r.code);
    v.field("state", r.state);
    v.field("flag2", r.flag2);
  }
  // An event of another ME number reaches only the buttons tied to no ME (all released, the panel
  // options); one of another panel or state, no latch or bus row.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.panel, 0, 2);
    l.take(r.me, 0, category::N_ME - 1);
    l.take(r.state, RELEASED, PRESSED);
  }
};
static_assert(sizeof(MxifButtonEvent) == 14);
static_assert(codec::wireSize<MxifButtonEvent>() == 12);

}  // namespace internal
