#pragma once
// Fader events (command type 95): the control panels' transition levers and transition buttons
// drive every transition of the system. The category owns the 84 transitions (ME backgrounds, keys,
// downstream keys, clip-linked and event-memory transitions) and the lever tracker beside each,
// tracker k bound to transition k; twelve main levers (three panels x four) with their calibration,
// which the backup image keeps, and the 48 key-fader levers. Once per frame it steps the levers,
// lets them take their transitions, acts on the pressed buttons, reports which layers are on air,
// moving or stopping, and advances every transition. After a panel row is given another ME, a
// countdown per (panel, ME) keeps the levers off that ME's transitions. The key faders of the
// panels drive the keys assigned to their buttons; the panels' transition lamps, lever bars and
// key-fader lamps show every transition's state.
#include "Lib/Include/data_internal.h"
#include "Main/bkgd/autotrans.h"
#include "Main/fader/faderlever.h"
#include "Main/framework/bp.h"
#include "Main/system/maintenance.h"
#include "Main/transition/faderpos.h"

namespace category {

// The mainframe configuration (type 26) as the fader-select buttons reach it (implemented by the
// category registered under that type; while none is, the buttons select nothing).
class FaderSelectTarget {
 public:
  virtual bool faderSelectEnabled() = 0;
  virtual void setFaderSelect(int value) = 0;

 protected:
  ~FaderSelectTarget() = default;
};

class CategoryFaderEvent : public CategoryWithoutStatus<internal::MxifFaderEvent>, public LeverCalibrationTarget {
 public:
  static constexpr int N_SLOTS = AutoTransition::N_SLOTS;
  static constexpr int N_PANELS = limits::runOf(&internal::MxifFaderEvent::panel).hi + 1;
  static constexpr int N_PANEL_LEVERS = limits::runOf(&internal::MxifFaderEvent::lever).hi + 1;
  static constexpr int N_LEVERS = N_PANELS * N_PANEL_LEVERS;
  static constexpr int N_KEY_FADER_PANEL = 16;
  static constexpr int N_KEYS = AutoTransition::N_KEY_CHANNELS;
  static constexpr int N_DSK = AutoTransition::N_DSK_CHANNELS;
  static constexpr int ME_CHANGE_FRAMES = 16;
  // Key faders of a panel: kinds 0..7 drive the keys their buttons name (kinds 0..3 have 8
  // buttons, 4..7 have 12); kinds 8..15 drive key (kind - 8) mod 4 of ME index 2.
  static constexpr int N_KEY_FADERS = MxifKeyFader::N_FADERS;
  static constexpr int N_KEY_FADER_BUTTONS = MxifKeyFader::KEY_FADER_BUTTON_NUM;
  static constexpr int KEY_FADER_ME = 2;
  // The lever bar: lamps 400..423 of a panel's ME row.
  static constexpr int LEVER_BAR_LAMP = 400;

  // Buttons of a block (internal::MxifButtonEvent: BTN_ME_BLOCK, BTN_DSK_BLOCK, BTN_ME2_BLOCK).
  static constexpr int N_BLOCK_BUTTONS = 40;

  // Lever command input: the calibration never widens below this raw value, nor above 4095 less
  // the margin.
  static constexpr int LEVER_LOWEST = 350;
  static constexpr int LEVER_CEILING_MARGIN = 95;

  static CategoryFaderEvent& instance();

  // Binds the calibration table; 48 bytes.
  int bindStorage(void* area) override;
  // Every calibration entry {2555, 1533}.
  void initData() override;
  // Levers at their start state; every transition at its start, every tracker unowned and bound to
  // its transition, the backgrounds whose program bus is B turned over once, and the keys and
  // downstream keys whose records are on air put on air as a cut leaves them; no countdown, no
  // button pressed.
  void initInternal() override;
  // The saved calibration, each entry out of range (max 2555..4000, min 350..1533) reset.
  void resume(const void* saved, int flag = 0) override;
  // The frame work: levers, levers to transitions, buttons, layer status, advance.
  void update() override;
  // Before the frame's backup copy: where a run ended in the frame's advance, the key and
  // downstream-key status as it now stands (reported with the next frame's status, when the frame
  // work would write it), so the image never shows a layer in transition whose reverse byte has
  // already turned over at its run's end.
  void storeBackup() override;
  // A lever's raw value (13-byte body); a panel above 2 or a lever above 3 addresses no lever.
  void receiveCommand(int type, RequestReceiver& rx) override;

  AutoTransition& transition(int slot);
  TransitionFader& fader(int slot);
  // Main lever panel x 4 + lever.
  FaderLever& lever(int index);
  FaderLever& keyFaderLever(int panel, int kind);
  LeverCalibration& calibration(int index);

  // A button state from the button events: pressed buttons are noted for the next frame work; the
  // per-panel tables of the key and downstream-key transition buttons follow press (1) and release
  // (0). A status for an ME above 3 is ignored.
  void onButtonStatus(const internal::MxifButtonEvent* btnStatus);
  // Whether panel holds the transition button of key k (0..3) of ME me down (1716..1719).
  bool keyButtonHeld(int panel, int me, int k) const;
  // The same for downstream key c (1816..1819) and for key c of ME index 2 (2116..2119).
  bool dskButtonHeld(int panel, int c) const;
  bool me2KeyButtonHeld(int panel, int c) const;

  // The four calibration entries of panel 0..2 back to {2555, 1533}; mode is not used.
  void resetCalibration(int panel, int mode = 0) override;
  // No lever owns the background and key transitions of ME me (0..3) any more, and panel 0..2 waits
  // ME_CHANGE_FRAMES frames before its lever takes them.
  void releaseMeFaders(int panel, int me);
  // Frames panel still waits before its lever takes ME me's transitions.
  int meChangeCountdown(int panel, int me) const;

  // 1 when the background transition of ME me rests at an end.
  int isTransitionIdle(int me);
  // The read-out of ME me's background transition (which 1: position B).
  float bkgdPosition(int me, int which);
  // The background's limit window and partial end on ME me's background transition.
  void setLimits(int me, float a, float b);
  void setPartialEnd(int me, float p, int rate);

  // The direction a lever-driven reversal gives a run, by the operate fader direction mode.
  int faderSign(const AutoTransition& t);
  // Starts key ch (0..3) of ME me (0..3) on its transition t with the rate of its transition setting
  // in force, or completes it at once when that setting is off. syncKeyTransition2 does the same for
  // downstream key ch.
  void syncKeyTransition(AutoTransition& t, int me, int ch);
  void syncKeyTransition2(AutoTransition& t, int ch);
  // A key fader's transition button: a running transition turns to faderSign, any other starts as
  // syncKeyTransition (syncKeyTransition2 for a downstream key) starts it.
  void syncKeyFaderTracker(AutoTransition& t, int me, int ch);
  void syncKeyFaderTracker2(AutoTransition& t, int ch);
  // Feeds a raw value to a lever (see FaderLever::input).
  void inputLever(FaderLever& lever, int raw, int percent, int lowest, int ceilingMargin);
  // Operate byte 932 = 1: the panels show the plain lamp codes.
  bool operateFlagSet();

  // Owner id of a key fader on the trackers, apart from the main levers' panel ids 0..2.
  static int keyFaderOwner(int panel, int kind) { return N_PANELS + panel * N_KEY_FADER_PANEL + kind; }
  // Buttons of key fader kind 0..7: 8 for kinds 0..3, 12 for 4..7.
  static int keyFaderButtonCount(int kind) { return kind < 4 ? 8 : N_KEY_FADER_BUTTONS; }
  // A key-fader button of panel 0..2 pressed (from the keyer code): an assignment button of kind
  // 0..7, and a fader's transition button. They act in the next frame work.
  void pressKeyFaderButton(int panel, int kind, int button);
  void pressKeyFaderTransButton(int panel, int kind);
  // The lamp of one key-fader button naming transition t (N = 2: key ch of the ME that selMe
  // names; N = 16: downstream key ch), put into `lamp`; returns what the button adds to its
  // fader's lamp.
  template <int N>
  int onKeyFaderTransLed(const AutoTransition& t, int selMe, int ch, u8& lamp);
  // A fader lamp a after one more button that adds r (0, 1, 2, 11, 12) to it.
  static int addToFaderLamp(int a, int r);

  // Operate byte 85 as the last frame left it.
  u8 lastFaderEventFlag() const { return lastFaderEventFlag_; }

 protected:
  CategoryFaderEvent();

 private:
  struct Layers;  // the categories a frame works with, looked up once

  void leversToTransitions(const MxifOperate& op, const Layers& layers);
  void typeButtons(int me, const Layers& layers);
  void autoCutButtons(int me, const Layers& layers);
  void autoSelected(int me, const Layers& layers);
  void keyButtons(int me, const MxifOperate& op, const Layers& layers);
  void dskButtons(const MxifOperate& op, const Layers& layers);
  void faderSelectButtons();
  void layerStatus(const Layers& layers, bool backgrounds = true);
  // Key faders: levers to their keys, their buttons, their lamps.
  void keyFaderUpdate(const FrameStep& frame, const MxifOperate& op);
  void keyFaderButtons(const MxifOperate& op);
  void keyFaderLeds(const MxifOperate& op);
  bool keyFaderConsistent(int panel, int kind, const MxifOperate& op);
  void startKeyFaderLayers(int panel, int kind, bool consistent);
  // Transition lamps and lever bars of every ME, the downstream-key lamps and the keys of ME index 2
  // on the panel lamps; then the on-air signs are remembered.
  void transitionLamps(const MxifOperate& op);
  void meLamps(int me, const MxifOperate& op);
  void dskLamps(const MxifOperate& op);
  void me2KeyLamps(const MxifOperate& op);
  int startDirection(const AutoTransition& t);
  void keyAuto(int me, int k);
  void keyCut(int me, int k);
  void dskAuto(int c);
  void dskCut(int c);

  AutoTransition transitions_[N_SLOTS];
  TransitionFader faders_[N_SLOTS];
  FaderLever levers_[N_LEVERS];
  FaderLever keyFaderLevers_[N_PANELS * N_KEY_FADER_PANEL];
  // The key-fader levers' calibration lives with the object (not backed up).
  LeverCalibration keyFaderCalibration_[N_PANELS * N_KEY_FADER_PANEL];
  // Until the registry binds the stored table, the levers read this one.
  FaderCalibration unbound_;
  FaderCalibration* calibration_ = &unbound_;
  s32 meChangeCountdown_[N_PANELS][N_ME] = {};

  // Pressed since the last frame work: transition buttons per ME (1613..1617, 3100, 3101), the ME
  // blocks, the downstream-key block and the ME index 2 block.
  u8 transPressed_[N_ME][7] = {};
  u8 mePressed_[N_ME][N_BLOCK_BUTTONS] = {};
  u8 dskPressed_[N_BLOCK_BUTTONS] = {};
  u8 me2Pressed_[N_BLOCK_BUTTONS] = {};
  // Held down, per panel.
  u8 keyHeld_[N_PANELS][N_ME][N_KEYS] = {};
  u8 dskHeld_[N_PANELS][N_DSK] = {};
  u8 me2KeyHeld_[N_PANELS][N_KEYS] = {};

  // Key faders: pressed assignment and transition buttons per panel and kind, and the direction
  // each fader (panel, kind) last drove with.
  u8 keyFaderPressed_[N_PANELS][N_KEY_FADERS][N_KEY_FADER_BUTTONS] = {};
  u8 keyFaderTransPressed_[N_PANELS][N_KEY_FADERS] = {};
  s32 keyFaderDirection_[N_PANELS][N_KEY_FADER_PANEL] = {};
  // On-air signs of the keys and downstream keys as the last frame's lamps left them.
  s8 keySign_[N_ME][N_KEYS] = {};
  s8 dskSign_[N_DSK] = {};

  u8 lastFaderEventFlag_ = 0;
  // The keys and downstream keys the last status showed in transition: bit N_KEYS * m + k key k of
  // ME m, bit DSK_LAYER + c downstream key c.
  static constexpr int DSK_LAYER = N_ME * N_KEYS;
  static_assert(DSK_LAYER + N_DSK <= 32);
  u32 movingLayers_ = 0;
  bool runEnded_ = false;  // the run of one of them ended in this frame's advance
};

}  // namespace category
