#pragma once
// Key presets (type 19, one instance): four stored states of every key, kept as shot-memory
// registers 81 + 16 g + 4 c + j (preset j of key c of key group g; groups 0..3 are the keys of
// MEs 0..3, group 4 a fifth group lit on the panel's own lamps). This category follows which preset
// each key last stored or recalled, which key each panel's preset buttons address in each group,
// takes the panels' key-select buttons, lights the preset and key-select lamps of the three panels
// and reports all of it.
//
// The record (panel targets, recall options, kept settings) is in the backup image; the selection
// table, the lamp window and the button marks are not, so every start reports each entry as -1.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryKeyPreset : public CategoryCommon<MxifKeyPreset> {
 public:
  using Event = internal::MxifButtonEvent;
  static constexpr int N_PANELS = MxifKeyPreset::N_PANELS;
  static constexpr int N_ROWS = MxifKeyPreset::N_GROUPS;
  static constexpr int N_COLUMNS = MxifKeyPreset::N_COLUMNS;
  static constexpr int N_KEYS = MxifKeyPreset::N_KEYS;
  static constexpr int N_PRESETS = MxifKeyPreset::N_PRESETS;
  static constexpr int N_SHARED_PRESETS = 3;  // presets 0..2 of group 2 have shared-bank lamps
  static constexpr int N_PRESET_GROUPS = 5;   // groups 0..4 are selected by the shot memory
  static constexpr int N_ME_GROUPS = 4;       // groups 0..3 are lit on ME lamps
  static constexpr int PANEL_GROUP = 4;
  static constexpr int SHARED_GROUP = 2;
  static constexpr int VIEW_GROUP = 9;        // a second view of group 2
  static constexpr int WINDOW_FRAMES = 5;

  static CategoryKeyPreset& instance();

  // Selection table, shared selection, lamp window and button marks to their start state.
  void initInternal() override;
  // Each frame: the panels' buttons to targets, the lamps, the selection report.
  void update() override;

  // After the shot memory stored (set 1, window 0), recalled (set 1, window 1) or found stored
  // (set 0, window 1: the clear form) preset j (0..3) of key c (0..3) of group g (0..4).
  void selectPreset(int group, int key, int preset, u8 window, u8 set);
  // A key-select button (1700..1707, 1800..1807, 2100..2103) pressed on a panel: marked for the next
  // update. Events from a panel above 2 or an ME above 3 are ignored.
  void onButton(const Event& ev);
  // The system initialise command: no selections, no window, the preset lamps off, every panel
  // target key 1, the whole record reported.
  void clearAll();

  // Target key (0..3, 4 none) of group 0..9 on panel 0..2.
  int panelTarget(int panel, int group);
  // Merges a panel sub-record change (its presence bits say which targets) into the panel, then
  // marks the whole record for reporting.
  void setPanelTarget(int panel, const MxifKeyPreset::Panel& change);
  // Recall option 0..2 (record bytes 20..22) of the stored-frame recall of keys and downstream keys.
  u8 recallOption(int option);

  // What the window and the selections hold (-1: none).
  s32 selection(int row, int column) const;
  s32 sharedSelection(int key) const;
  s32 lastGroup() const { return lastGroup_; }
  s32 lastKey() const { return lastKey_; }
  s32 countdown() const { return countdown_; }
  s32 lastCleared() const { return lastCleared_; }
  u8 clearMode() const { return clearMode_; }

 protected:
  bool acceptField(const codec::FieldView& f, const MxifKeyPreset& in, int idx) override;

 private:
  struct Mark {
    u32 id = 0;
    u8 pressed = 0;
  };
  // Marks of one panel: the 1700..1707 buttons of groups 0..3, 1800..1807 (group 4), 2100..2103
  // (group 9).
  struct PanelMarks {
    Mark group[N_ME_GROUPS][8];
    Mark panelGroup[8];
    Mark viewGroup[N_KEYS];
  };

  // Installs the button hook.
  CategoryKeyPreset();
  void resetState();
  void processButtons();
  void updateLamps();
  void reportSelections();
  // Sets the target of group g on panel p to key when it differs.
  void selectTarget(int panel, int group, int key);
  // State of the lamp of preset j of key c in a row, by the registers and window of group wg.
  int presetLamp(int row, int key, int preset, int windowGroup, bool clearRule) const;
  int sharedPresetLamp(int key, int preset) const;
  bool windowRuns(int group) const { return lastGroup_ == group && countdown_ >= 1; }

  s32 table_[N_ROWS][N_COLUMNS];
  s32 shared_[N_KEYS];
  s32 lastGroup_ = -1;
  s32 lastKey_ = -1;
  s32 countdown_ = -1;
  s32 lastCleared_ = -1;
  u8 clearMode_ = 0;
  PanelMarks marks_[N_PANELS];
};

}  // namespace category
