#include "Main/system/maintenance.h"

#include <cstdint>
#include <cstring>

#include "Driver/core/format.h"
#include "Lib/Include/log.h"
#include "Main/io/io.h"

namespace category {
namespace {

using R = MxifMaintenance;
using Alarm = MaintenanceAlarm;
using HourMeter = MaintenanceHourMeter;

// Clears bit of mask unless the value it carries is acceptable.
void dropUnless(u32& mask, u32 bit, bool ok) {
  if (!ok) mask &= ~bit;
}

// Clears bit of mask when the field it carries is present and outside what the record declares it
// takes.
template <class F>
void dropOutside(const R& r, u32& mask, u32 bit, const F& field) {
  if ((mask & bit) != 0 && !limits::takes(r, field)) mask &= ~bit;
}

// The elements of a date (year, month, day) and a time of day (hour, minute, second) of r, each out
// of its limits noted.
bool isValidDate(const R& r, const s16 (&d)[3]) {
  const bool year = limits::takes(r, d[0]), month = limits::takes(r, d[1]);
  return limits::takes(r, d[2]) && year && month;
}
bool isValidTimeOfDay(const R& r, const s16* t) {
  const bool hour = limits::takes(r, t[0]), minute = limits::takes(r, t[1]);
  return limits::takes(r, t[2]) && hour && minute;
}
// A calendar time: the day's limits depend on the month and, in February, the year, and are checked
// once those are in theirs.
bool isValidStamp(const R& r, const s16 (&s)[R::N_STAMP]) {
  const bool time = isValidTimeOfDay(r, s + R::HOUR);
  const bool inYears = limits::takes(r, s[R::YEAR]);
  if (!limits::takes(r, s[R::MONTH]) || !inYears) return false;
  return limits::takes(r, s[R::DAY]) && time;
}

const CategoryCustomInfo* customInfo() {
  return CategoryRegistry::instance().find<const CategoryCustomInfo>(TYPE_CUSTOM_INFO, 0);
}

// Partner v of custom-information item i: items whose mode is 0 or 1 take no entry; 0 (no partner)
// is taken otherwise; a partner must be another item that no other entry of the stored table
// holds and whose mode is neither 0 nor 2.
bool isValidPartner(const CategoryCustomInfo* info, const MaintenancePairTable& stored, int i, int v) {
  if (info == nullptr) return false;
  const int mode = info->modeOf(i);
  if (mode == 0 || mode == 1) return false;
  if (v == 0) return true;
  if (v < 1 || v > MaintenancePairTable::N_ITEMS || v == i + 1) return false;
  for (int j = 0; j < MaintenancePairTable::N_ITEMS; ++j) {
    if (j != i && stored.partner[j] == v) return false;
  }
  const int partnerMode = info->modeOf(v - 1);
  return partnerMode != 0 && partnerMode != 2;
}

// Clears the presence bit of every field of r whose value is refused (texts are always taken).
void dropRefused(R& r, const R& stored) {
  const rules::Checking checking(r);
  for (Alarm* a : {&r.mainframeAlarm, &r.controlPanelAlarm, &r.subControlPanel1Alarm, &r.subControlPanel2Alarm}) {
    for (int k = 0; k < Alarm::N_ITEMS; ++k) dropOutside(r, a->mask, 1u << (Alarm::FLAG_BIT + k), a->flag[k]);
  }
  dropOutside(r, r.flagOnly.mask, 1u << 0, r.flagOnly.flag);
  dropOutside(r, r.optionText.mask, 1u << 0, r.optionText.flag);
  dropOutside(r, r.flaggedTexts.mask, 1u << 0, r.flaggedTexts.flag);
  dropOutside(r, r.modeText.mask, 1u << 0, r.modeText.flag);
  dropOutside(r, r.modeText.mask, 1u << 1, r.modeText.mode);
  const CategoryCustomInfo* info = customInfo();
  for (int i = 0; i < MaintenancePairTable::N_ITEMS; ++i) {
    if ((r.pairTable.mask & (1u << i)) == 0 || isValidPartner(info, stored.pairTable, i, r.pairTable.partner[i])) continue;
    r.pairTable.mask &= ~(1u << i);
    rules::note(MaintenancePairTable::PARTNER_OF_MODE, r, r.pairTable.partner[i]);
  }
  dropOutside(r, r.mask, R::CHOICE1, r.choice1);
  dropOutside(r, r.mask, R::CHOICE2, r.choice2);
  if ((r.mask & R::DATE) != 0) dropUnless(r.mask, R::DATE, isValidDate(r, r.date));
  if ((r.mask & R::TIME1) != 0) dropUnless(r.mask, R::TIME1, isValidTimeOfDay(r, r.time1));
  if ((r.mask & R::TIME2) != 0) dropUnless(r.mask, R::TIME2, isValidTimeOfDay(r, r.time2));
  if ((r.mask & R::MV_TIME) != 0) dropUnless(r.mask, R::MV_TIME, isValidStamp(r, r.mvTime));
  if ((r.mask & R::MV_LTC) != 0) dropUnless(r.mask, R::MV_LTC, isValidStamp(r, r.mvLtc));
  dropOutside(r, r.mask, R::LEVER_PARAM1, r.leverParam1);
  dropOutside(r, r.mask, R::LEVER_PARAM2, r.leverParam2);
  dropOutside(r, r.mask, R::LEVER_PARAM3, r.leverParam3);
  dropOutside(r, r.mask, R::LEVER_PARAM4, r.leverParam4);
}

// Text k of an alarm sub-record becomes text (marked present).
void writeAlarmText(Alarm& a, int k, const char* text) {
  TextField<10>& t = a.text[k];
  const size_t n = std::strlen(text);
  std::memset(t.chars, 0, sizeof t.chars);
  std::memcpy(t.chars, text, n);
  t.count = static_cast<s16>(n);
  a.mask |= 1u << k;
}

// The rules of the alarm texts, which the back end sets every frame.
constexpr rules::Rule MAINFRAME_ALARM_TEXTS = {
    rules::Effect::MOVES, "the mainframe's alarm texts are set every frame from its alarm inputs: \"-\" for an item "
                          "not monitored (flag other than 1), else \"Alarm\" or \"No Alarm\""};
constexpr rules::Rule PANEL_ALARM_TEXTS = {
    rules::Effect::MOVES, "a panel's alarm text is \"-\" while its item is not monitored (flag other than 1)"};

// Text k of an alarm sub-record of r becomes text unless it already begins with it; the rule noted,
// with the item's flag.
void showAlarmText(const R& r, Alarm& a, int k, const char* text, const rules::Rule& rule) {
  if (std::strncmp(reinterpret_cast<const char*>(a.text[k].chars), text, std::strlen(text)) == 0) return;
  writeAlarmText(a, k, text);
  rules::note(rule, r, a.text[k]);
  rules::input(r, a.flag[k]);
}

// The flag of item k (with its bit) to 0 when it is 1.
void clearAlarmFlag(Alarm& a, int k) {
  if (a.flag[k] != 1) return;
  a.flag[k] = 0;
  a.mask |= 1u << (Alarm::FLAG_BIT + k);
}

template <int C>
bool sameText(const TextField<C>& a, const TextField<C>& b) {
  return std::strncmp(reinterpret_cast<const char*>(a.chars), reinterpret_cast<const char*>(b.chars), C + 1) == 0;
}

}  // namespace

CategoryMaintenance& CategoryMaintenance::instance() {
  static CategoryMaintenance category;
  return category;
}

CategoryMaintenance::CategoryMaintenance() {
  CategoryRegistry::instance().setCommandOwner(TYPE_MAINTENANCE_CMD, TYPE_INDEX);
}

CategoryMaintenance::LeverLimits CategoryMaintenance::leverLimits() {
  const R* r = CategoryRegistry::instance().record<R>();
  if (r == nullptr) return {};
  return {r->leverParam3, r->leverParam4};
}

void CategoryMaintenance::initData() {
  std::memset(static_cast<void*>(&record(0)), 0, sizeof(R));
  for (Alarm& held : heldPanelAlarms_) held = Alarm{};
}

void CategoryMaintenance::initInternal() {
  dirty[0] = 0;
  MaintenanceVersion& v = record(0).mainframeVersion;
  constexpr const auto& VERSION = MxifMaintenance::VERSION_TEXT;
  static_assert(sizeof VERSION == sizeof v.text[0].chars);
  std::memcpy(v.text[0].chars, VERSION, sizeof VERSION);
  v.text[0].count = static_cast<s16>(sizeof VERSION - 1);
  v.mask |= 1u << 0;
  startFrames_ = 0;
  temperatureAlarms_ = 0;
  accumulatedAlarms_ = 0;
  temperatureMute_ = 0;
  for (u8& f : firstTime_) f = 1;
}

void CategoryMaintenance::resume(const void* saved, int flag) {
  (void)flag;
  R in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  codec::setAllPresence(in);
  R& live = record(0);
  std::memset(static_cast<void*>(&live), 0, sizeof live);
  dropRefused(in, live);
  refuseSaved(codec::refusedFields(in, in, live));
  libmx::mergeTextRecord(live, in);
  codec::setAllPresence(live);

  // Alarm texts from the saved flags; then the flags of the units that are not fitted go off.
  for (int p = -1; p < R::N_PANELS; ++p) {
    Alarm& a = p < 0 ? live.mainframeAlarm : live.panelAlarm(p);
    for (int k = 0; k < Alarm::N_ITEMS; ++k) writeAlarmText(a, k, a.flag[k] == 1 ? "No Alarm" : "-");
  }
  int unitA = 0, unitB = 0;
  mxReadPowerUnitFlags(&unitA, &unitB);
  if (!unitA) clearAlarmFlag(live.mainframeAlarm, 0);
  if (!unitB) clearAlarmFlag(live.mainframeAlarm, 1);
  for (Alarm& held : heldPanelAlarms_) {
    for (int k = 0; k < Alarm::N_ITEMS; ++k) writeAlarmText(held, k, "No Alarm");
  }
}

void CategoryMaintenance::assign(const MxifMaintenance& in, int idx) {
  R& live = record(idx);
  R checked = in;
  dropRefused(checked, live);
  R staging;  // only the accepted fields carry their bits; texts cut to their room
  libmx::mergeTextRecord(staging, checked);
  for (int p = 0; p < R::N_PANELS; ++p) {
    const Alarm& a = staging.panelAlarm(p);
    for (int k = 0; k < Alarm::N_ITEMS; ++k) {
      if (!(a.mask & (1u << k))) continue;
      copyText(heldPanelAlarms_[p].text[k], a.text[k]);
      heldPanelAlarms_[p].mask |= 1u << k;
    }
  }
  libmx::mergeTextRecord(live, staging);
  // The time stamps are stored but never reported as changed, nor cause a report by themselves.
  constexpr u32 STAMPS = R::MV_TIME | R::MV_LTC;
  if ((staging.mask & STAMPS) == 0) {
    dirty[idx] = 1;
    return;
  }
  live.mask &= ~STAMPS;
  staging.mask &= ~STAMPS;
  if (codec::hasAny(staging)) dirty[idx] = 1;
}

void CategoryMaintenance::update() {
  R& r = record(0);
  int unitA = 0, unitB = 0;
  mxReadPowerUnitFlags(&unitA, &unitB);
  // Unit B's flag goes off only while unit A is fitted.
  if (!unitA) {
    clearAlarmFlag(r.mainframeAlarm, 0);
  } else if (!unitB) {
    clearAlarmFlag(r.mainframeAlarm, 1);
  }
  if (startFrames_ < GRACE_FRAMES) {
    ++startFrames_;
    graceTexts();
    panelAlarms();
  } else {
    pollAlarms();
    panelAlarms();
    setStatus(HourMeter::UNIT_A_FITTED, unitA, UNIT_A_FITTED);
    setStatus(HourMeter::UNIT_B_FITTED, unitB, UNIT_B_FITTED);
  }
  // Repeated every frame until the record is reported.
  if (r.mask & (R::LEVER_PARAM1 | R::LEVER_PARAM2)) {
    for (int p = 0; p < R::N_PANELS; ++p) resetCalibrations(p);
  }
  if (r.mask & (R::LEVER_PARAM3 | R::LEVER_PARAM4)) {
    for (int p = 0; p < R::N_PANELS; ++p) resetCalibrations(p);
  }
}

void CategoryMaintenance::graceTexts() {
  Alarm& a = record(0).mainframeAlarm;
  for (int k = 0; k < Alarm::N_ITEMS; ++k) showAlarmText(record(0), a, k, a.flag[k] == 1 ? "No Alarm" : "-", MAINFRAME_ALARM_TEXTS);
}

void CategoryMaintenance::pollAlarms() {
  R& r = record(0);
  const u32 w = mxGetAlarmStatus();
  accumulatedAlarms_ |= w;
  if ((w & TEMPERATURE_ALARM) != 0 && temperatureAlarms_ < INT32_MAX) ++temperatureAlarms_;
  if (temperatureMute_ >= 1) {
    --temperatureMute_;
  } else if (accumulatedAlarms_ & TEMPERATURE_ALARM) {
    MX_LOG(libmx::ERR, "Temperature alarm: %d times, 0x%x\n", temperatureAlarms_, accumulatedAlarms_);
    accumulatedAlarms_ = 0;
    temperatureMute_ = TEMPERATURE_LOG_MUTE;
  }
  setStatus(HourMeter::UNIT_A_ALARM, (w & UNIT_A_ALARMS) != 0, UNIT_A_ALARM);
  setStatus(HourMeter::UNIT_B_ALARM, (w & UNIT_B_ALARMS) != 0, UNIT_B_ALARM);
  setStatus(HourMeter::INPUT_ALARM, w & ALARM_INPUT, INPUT_ALARM);

  static constexpr u32 ITEM_ALARMS[Alarm::N_ITEMS] = {UNIT_A_ALARMS, UNIT_B_ALARMS, ALARM_INPUT, TEMPERATURE_ALARM};
  Alarm& a = r.mainframeAlarm;
  for (int k = 0; k < Alarm::N_ITEMS; ++k) {
    showAlarmText(r, a, k, a.flag[k] != 1 ? "-" : (w & ITEM_ALARMS[k]) != 0 ? "Alarm" : "No Alarm", MAINFRAME_ALARM_TEXTS);
  }
  if (firstTime_[ALARM_TEXTS]) {
    a.mask |= 0x7;  // texts 0, 1 and 2
    firstTime_[ALARM_TEXTS] = 0;
  }
}

void CategoryMaintenance::panelAlarms() {
  R& r = record(0);
  for (int p = 0; p < R::N_PANELS; ++p) {
    Alarm& a = r.panelAlarm(p);
    const Alarm& held = heldPanelAlarms_[p];
    for (int k = 0; k < Alarm::N_ITEMS; ++k) {
      if (a.flag[k] != 1) {
        showAlarmText(r, a, k, "-", PANEL_ALARM_TEXTS);
      } else if (!sameText(held.text[k], a.text[k])) {
        copyText(a.text[k], held.text[k]);
        a.mask |= 1u << k;
      }
    }
  }
}

void CategoryMaintenance::setStatus(int byte, int value, FirstTime first) {
  HourMeter& h = record(0).hourMeter;
  if (h.status[byte] == value && !firstTime_[first]) return;
  h.status[byte] = static_cast<u8>(value);
  h.mask |= 1u << (HourMeter::STATUS_BIT + byte);
  firstTime_[first] = 0;
}

void CategoryMaintenance::resetCalibrations(int panel) {
  auto* target = CategoryRegistry::instance().find<LeverCalibrationTarget>(TYPE_FADER_EVENT, 0);
  if (target != nullptr) target->resetCalibration(panel);
}

void CategoryMaintenance::receiveCommand(int id, RequestReceiver& rx) {
  using typelist::IndexOf;
  MX_CHECK_VALUE(id, IndexOf<MxifMaintenanceCmd>::value);
  MxifMaintenanceCmd cmd;
  if (!rx.readRecord(cmd)) return;
  rx.clearHeader();
  cmd.result = 0;
  if (!limits::takes(cmd, cmd.code)) {
    cmd.result = -2;
  } else if (cmd.code == MxifMaintenanceCmd::RESET_ALARMS) {
    R& r = record(0);
    for (Alarm* a : {&r.mainframeAlarm, &r.controlPanelAlarm, &r.subControlPanel1Alarm, &r.subControlPanel2Alarm}) {
      for (int k = 0; k < Alarm::N_ITEMS; ++k) writeAlarmText(*a, k, "No Alarm");
    }
    pollAlarms();
  } else if (MxifMaintenanceCmd::RESET_CALIBRATION <= cmd.code) {
    resetCalibrations(cmd.code - MxifMaintenanceCmd::RESET_CALIBRATION);
  }
  if (!AcknowledgeSender::instance().writeRecord(TYPE_MAINTENANCE_CMD, cmd)) reportSendBufferFull();
}

}  // namespace category
