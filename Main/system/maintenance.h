#pragma once
// Maintenance (type 27, one channel, one instance; owner of the maintenance command, type 70):
// keeps the maintenance record the front end fills, stamps the system's version text, watches the
// mainframe's alarm inputs and its two optional units, mirrors the panels' alarm texts, logs
// temperature alarms and resets the lever calibrations when the lever parameters change.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"
#include "Main/media/clip.h"

namespace category {

// Implemented by the fader-event category: the four lever calibrations of panel 0..2 back to their
// defaults (maximum 2555, minimum 1533).
class LeverCalibrationTarget {
 public:
  virtual void resetCalibration(int panel, int mode = 0) = 0;

 protected:
  ~LeverCalibrationTarget() = default;
};

class CategoryMaintenance : public CategoryCommon<MxifMaintenance> {
 public:
  // Frames after start in which the alarm inputs are not read, and polls between two temperature
  // log lines.
  static constexpr int GRACE_FRAMES = 3600;
  static constexpr int TEMPERATURE_LOG_MUTE = 3600;
  // Bits of the alarm word (mxGetAlarmStatus).
  static constexpr u32 ALARM_INPUT = 0x01;
  static constexpr u32 UNIT_A_ALARMS = 0x02 | 0x08;
  static constexpr u32 UNIT_B_ALARMS = 0x04 | 0x10;
  static constexpr u32 TEMPERATURE_ALARM = 0x20;

  static CategoryMaintenance& instance();

  // What the key-fader lever input passes on as its calibration: the lower floor (leverParam3)
  // and the top margin (leverParam4) of the stored record; 0, 0 while there is none.
  struct LeverLimits {
    int floor = 0;
    int topMargin = 0;
  };
  static LeverLimits leverLimits();

  // The stored record starts as zero storage; no panel alarm text held.
  void initData() override;
  // Stamps the version text (text 0 of mainframeVersion) and starts the grace period again.
  void initInternal() override;
  // The saved record through the checks of assign, every bit set; alarm texts from the saved
  // flags, the flags of absent units cleared, held panel texts "No Alarm".
  void resume(const void* saved, int flag = 0) override;
  void assign(const MxifMaintenance& in, int idx) override;
  // Unit flags, the grace-period texts or the alarm poll, the panel alarm texts, the unit
  // presence bytes, and the calibration resets while a lever parameter change is unreported.
  void update() override;
  // The maintenance command: answers with the body and its result.
  void receiveCommand(int type, RequestReceiver& rx) override;
  int largestBody(int type) const override { return largestBodyOf<MxifMaintenance, MxifMaintenanceCmd>(type); }

  // Reads the alarm word into the mainframe alarm texts and hour-meter status bytes 8..10; logs
  // temperature alarms (at most one line every 3601 polls).
  void pollAlarms();

  // The alarm texts last received for panel 0..2.
  const MaintenanceAlarm& heldPanelAlarm(int panel) const { return heldPanelAlarms_[panel]; }

 protected:
  CategoryMaintenance();

  s32 temperatureAlarms_ = 0;  // polls that found the temperature alarm, up to INT32_MAX

 private:
  enum FirstTime { UNIT_A_FITTED, UNIT_B_FITTED, UNIT_A_ALARM, UNIT_B_ALARM, INPUT_ALARM, ALARM_TEXTS, N_FIRST };

  void graceTexts();
  void panelAlarms();
  void setStatus(int byte, int value, FirstTime first);
  void resetCalibrations(int panel);

  MaintenanceAlarm heldPanelAlarms_[MxifMaintenance::N_PANELS] = {};
  s32 startFrames_ = 0;
  u32 accumulatedAlarms_ = 0;
  s32 temperatureMute_ = 0;
  u8 firstTime_[N_FIRST] = {};
};

}  // namespace category
