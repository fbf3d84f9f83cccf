#pragma once
// Crosspoint button assignment (type 38): for each of three panels, the source each crosspoint
// button selects; marker values 300 and 301 mask whole button columns.
#include "Main/framework/bp.h"
#include "Lib/Include/data_internal.h"

namespace category {

// Implemented by the bus category: before a button takes a new source, every entry of that ME that
// holds the button (code panel * 256 + button) is set to the button's previous source as a direct
// source code.
class XptReselectTarget {
 public:
  virtual void reselectButton(int button, int source, int panel) = 0;

 protected:
  ~XptReselectTarget() = default;
};

class CategoryXpt : public CategoryCommon<MxifXptAssign> {
 public:
  static constexpr int N_PANELS = MxifXptAssign::N_CHANNELS;
  static constexpr int N_COLUMNS = 24;
  static constexpr int N_ROWS = 4;
  static constexpr int N_COLUMN_BUTTONS = N_COLUMNS * N_ROWS;  // buttons 0..95

  static CategoryXpt& instance();
  // The instance entered in the registry under type 38 (the check fails when there is none).
  static CategoryXpt& registered();

  // Every button of every panel gets the default source, present; panel = channel.
  void initData() override;
  // Takes panel flag and sources from the image, every bit present.
  void resume(const void* saved, int flag = 0) override;
  // Drops a record whose panel is above 2; else assigns it to that panel.
  void receive(RequestReceiver& rx) override;
  void assign(const MxifXptAssign& in, int panel) override;

  // Whether the button (0..95) lies in a column whose class shares a bit with bits.
  bool isButtonMasked(int panel, int button, int bits) const;
  // Source of the button, -1 when its column is masked or the button is outside 0..191. Inline:
  // the lamps ask it for every button of a row.
  int sourceOf(int panel, int button) {
    MX_CHECK(0 <= panel && panel < 3);
    if (button < 0 || button >= MxifXptAssign::N_BUTTONS) return -1;
    if (button < N_COLUMN_BUTTONS && columnClass_[panel][button % N_COLUMNS] != 0) return -1;
    return record(panel).source[button];
  }
  // Column class of the panel's column: 0 none, 1 a 300 marker, 2 a 301 marker.
  int columnClass(int panel, int column) const;
  // The panel's N_COLUMNS column classes (panel 0..2).
  const u8* columnClasses(int panel) const { return columnClass_[panel]; }

 protected:
  CategoryXpt() = default;

 private:
  void rebuildColumnClasses(int panel);
  // The button's previous source to the bus of every ME.
  void notifyBuses(int button, int panel);

  u8 columnClass_[N_PANELS][N_COLUMNS] = {};
};

}  // namespace category
