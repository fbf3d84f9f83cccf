#pragma once
// Control panel configuration (type 25, one channel, one instance): the settings of the main and
// the two sub panels, stored texts and codes, and the key-fader tables (which key each key-fader
// button drives, and whether it is on for each panel).
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace libmx {

// Builds into `out` the record with only its present fields that are in range marked present:
// every field but the key-fader button states, which a request brings by its own rule and a resume
// never keeps. From a request (fromImage false) code entries 4..7 and texts 2..4 are never taken;
// from the backup image they are.
void checkPanelConfigRanges(const MxifControlPanelConfig& in, MxifControlPanelConfig& out, bool fromImage);

}  // namespace libmx

namespace category {

class CategoryControlPanelConfig : public CategoryCommon<MxifControlPanelConfig> {
 public:
  using Record = MxifControlPanelConfig;
  static constexpr int N_PANELS = Record::N_PANELS;

  static CategoryControlPanelConfig& instance();

  // Validates a received record field by field and merges what passes; releases the transition of
  // every key-fader assignment the record replaces, and switches a button that loses its key off
  // on every panel unless the record carries its state. Also called by the bus code to clear a sub
  // panel's request flag.
  void assign(const Record& in, int idx) override;
  // The saved record with every presence bit, through the range checks; every button off.
  void resume(const void* saved, int flag = 0) override;
  void receive(RequestReceiver& rx) override;
  void sendStatus(AcknowledgeSender& tx) override;
  void send(AcknowledgeSender& tx, int part) override;

  // 1 when button btn of fader 0..7 is assigned to exactly (selMe, selKeyCh); 0 for selMe 0 and
  // for a fader of 8 or more.
  int matchKeyFaderAssign(int fader, int btn, int selMe, int selKeyCh);
  // State of a button on panel 0..2 (a fader of 8 or more reads fader 0, a button of 12 or more
  // button 0). Inline: the key faders read every button each frame.
  int keyFaderButtonState(int panel, int fader, int btn) {
    return stateEntry(panel, fader).state[0 <= btn && btn < MxifKeyFader::KEY_FADER_BUTTON_NUM ? btn : 0];
  }
  // The states of all buttons of a fader on panel 0..2 (read alike), for a loop over its buttons.
  const u8* keyFaderButtonStates(int panel, int fader) { return stateEntry(panel, fader).state; }
  // Stores value as the button's state; a panel outside 0..2 does nothing, a fader or button out of
  // range stores nothing but still marks the record changed.
  void setKeyFaderButtonState(int panel, int fader, int btn, int value);
  // 1 becomes 0, anything else 1.
  void toggleKeyFaderButtonState(int panel, int fader, int btn);
  // The key the button drives; false when there is none to drive. With custom information enabled,
  // an assignment it does not allow is unusable: the button goes off on every panel.
  bool keyFaderAssign(int fader, int btn, int& selMe, int& selKeyCh);
  // Every button state 0, each reported.
  void clearKeyFaderStates();

  // The ME index 0..7 a key assignment's ME select code names (1..4: 0..3, 6..9: 4..7), -1 for
  // none and for a downstream key.
  static int meIndexOf(int selMe);
  // The transition slot an assignment drives: key channels 0..3 of ME index 0..3, downstream key
  // channels 0..3; -1 for the assignments that name no transition of this system (ME index 4..7,
  // key channels 4..7, nothing).
  static int transitionSlotOf(int selMe, int selKeyCh);

 protected:
  CategoryControlPanelConfig() = default;

 private:
  KeyFaderButtonAssign& assignEntry(int fader, int btn);
  // The button assignments of key fader 0..7; NULL for any other fader.
  KeyFaderButtonAssign* assignRow(int fader);
  KeyFaderButtonStates& stateEntry(int panel, int fader) {
    if (panel < 0 || panel >= N_PANELS) failPanel();
    return record(0).keyFaderStates[panel][0 <= fader && fader < MxifKeyFader::N_FADERS ? fader : 0];
  }
  // A panel out of range (out of line: the check above passes every frame).
  static void failPanel();
  bool sendRecord(AcknowledgeSender& tx);
};

}  // namespace category
