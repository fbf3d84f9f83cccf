#pragma once
// Maintenance record (type 27): version texts, alarm states of the mainframe and the three control
// panels, free texts, dates and times, the hour-meter block and four lever parameters; and the
// maintenance command (type 70). One channel, one instance.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

namespace maintenance_names {
// Field names of the texts held in arrays, "text0" ... "text16".
inline constexpr const char* TEXT[] = {"text0",  "text1",  "text2",  "text3",  "text4",  "text5",
                                       "text6",  "text7",  "text8",  "text9",  "text10", "text11",
                                       "text12", "text13", "text14", "text15", "text16"};
inline constexpr const char* CHARS[] = {
    "text0.chars",  "text1.chars",  "text2.chars",  "text3.chars",  "text4.chars",  "text5.chars",
    "text6.chars",  "text7.chars",  "text8.chars",  "text9.chars",  "text10.chars", "text11.chars",
    "text12.chars", "text13.chars", "text14.chars", "text15.chars", "text16.chars"};

// Texts 0..N-1 of an array, text k under bit k of mask.
template <class V, class T, size_t N, class M>
constexpr void texts(V& v, T (&text)[N], M& mask) {
  static_assert(N <= sizeof TEXT / sizeof TEXT[0]);
  for (size_t k = 0; k < N; ++k) textField(v, TEXT[k], CHARS[k], text[k], mask, static_cast<int>(k));
}
}  // namespace maintenance_names

// The version texts of one unit (mainframe, control panel, sub control panels).
struct MaintenanceVersion {
  static constexpr int N_TEXTS = 17;
  u32 mask = 0;
  TextField<12> text[N_TEXTS] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    maintenance_names::texts(v, r.text, r.mask);
  }
};
static_assert(sizeof(MaintenanceVersion) == 276);

// Alarm state of one unit: per item a text ("Alarm", "No Alarm" or "-") and whether it is
// monitored. Items: 0 unit A, 1 unit B, 2 the alarm input, 3 FPGA temperature.
struct MaintenanceAlarm {
  static constexpr int N_ITEMS = 4;
  static constexpr int FLAG_BIT = 4;  // flag k under bit FLAG_BIT + k
  u32 mask = 0;
  TextField<10> text[N_ITEMS] = {};
  u8 flag[N_ITEMS] = {};  // 1: item monitored

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    maintenance_names::texts(v, r.text, r.mask);
    v.each("flag", r.flag, r.mask, FLAG_BIT);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flag, 0, 1);
  }
};
static_assert(sizeof(MaintenanceAlarm) == 64);

// The hour-meter block the front end keeps; status bytes 0, 1, 8, 9 and 10 are the system's.
struct MaintenanceHourMeter {
  static constexpr int N_TEXTS = 10;
  static constexpr int N_STATUS = 17;
  static constexpr int STATUS_BIT = 10;  // status byte j under bit STATUS_BIT + j
  enum Status { UNIT_A_FITTED = 0, UNIT_B_FITTED = 1, UNIT_A_ALARM = 8, UNIT_B_ALARM = 9, INPUT_ALARM = 10 };
  u32 mask = 0;
  TextField<8> text[N_TEXTS] = {};
  u8 status[N_STATUS] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    maintenance_names::texts(v, r.text, r.mask);
    codec::tag(v, codec::status("the power units fitted (0, 1) and the board's alarm inputs (8..10)",
                                1u << UNIT_A_FITTED | 1u << UNIT_B_FITTED | 1u << UNIT_A_ALARM | 1u << UNIT_B_ALARM |
                                    1u << INPUT_ALARM));
    v.each("status", r.status, r.mask, STATUS_BIT);
  }
};
static_assert(sizeof(MaintenanceHourMeter) == 144);

struct MaintenanceFlag {
  u32 mask = 0;
  u8 flag = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flag, 0, 1);
  }
};

// Partner of each custom-information item: 0 none, v in 1..8 item v - 1.
struct MaintenancePairTable {
  static constexpr int N_ITEMS = 8;
  u32 mask = 0;
  u8 partner[N_ITEMS] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.each("partner", r.partner, r.mask, 0);
  }
  static constexpr rules::Rule PARTNER_OF_MODE = {
      rules::Effect::REFUSES, "pairTable.partner[i] is taken only for an item whose custom-information mode is neither 0 "
                              "nor 1, and names 0 or another item that no other entry holds and whose mode is neither 0 "
                              "nor 2"};
  // Every item of this system's custom information has mode 1: no partner is taken.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.rule(r.partner, PARTNER_OF_MODE, limits::REFUSES_ALL);
  }
};

struct MaintenanceOptionText {
  u32 mask = 0;
  u8 flag = 0;
  u8 value = 0;  // any
  TextField<32> text = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
    v.field("value", r.value, r.mask, 1);
    MX_TEXT_FIELD(v, r, text, mask, 2);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flag, 0, 1);
  }
};

template <int N>
struct MaintenanceTextSet {
  u32 mask = 0;
  TextField<10> text[N] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    maintenance_names::texts(v, r.text, r.mask);
  }
};

struct MaintenanceFlaggedTexts {
  static constexpr int N_TEXTS = 3;
  u32 mask = 0;
  u8 flag = 0;
  TextField<15> text[N_TEXTS] = {};  // bits 1..3

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
    for (int k = 0; k < N_TEXTS; ++k) {
      textField(v, maintenance_names::TEXT[k], maintenance_names::CHARS[k], r.text[k], r.mask, k + 1);
    }
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flag, 0, 1);
  }
};

struct MaintenanceModeText {
  static constexpr int LAST_MODE = 5;
  u32 mask = 0;
  u8 flag = 0;
  u8 mode = 0;
  TextField<15> text = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
    v.field("mode", r.mode, r.mask, 1);
    MX_TEXT_FIELD(v, r, text, mask, 2);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.flag, 0, 1);
    l.take(r.mode, 0, LAST_MODE);
  }
};

struct MxifMaintenance {
  static constexpr int TYPE_INDEX = category::TYPE_MAINTENANCE;
  static constexpr bool HAS_TEXTS = true;
  static constexpr int N_PANELS = 3;  // control panel, sub control panels 1 and 2
  // The system's version, as text 0 of mainframeVersion reports it.
  static constexpr char VERSION_TEXT[] = "6.22-00-0.00";

  // Bits of `mask`.
  static constexpr u32 LABEL1 = 1u << 0;
  static constexpr u32 LABEL2 = 1u << 1;
  static constexpr u32 LABEL3 = 1u << 2;
  static constexpr u32 CHOICE1 = 1u << 3;
  static constexpr u32 CHOICE2 = 1u << 4;
  static constexpr u32 DATE = 1u << 5;
  static constexpr u32 TIME1 = 1u << 6;
  static constexpr u32 TIME2 = 1u << 7;
  static constexpr u32 MV_TIME = 1u << 8;
  static constexpr u32 MV_LTC = 1u << 9;
  static constexpr u32 LEVER_PARAM1 = 1u << 10;
  static constexpr u32 LEVER_PARAM2 = 1u << 11;
  static constexpr u32 LEVER_PARAM3 = 1u << 12;
  static constexpr u32 LEVER_PARAM4 = 1u << 13;

  // Elements of `date` (year, month, day), of `time1` and `time2` (hour, minute, second), and of
  // the time stamps (year, month, day, hour, minute, second, as a TimeStamp).
  enum { YEAR = 0, MONTH, DAY, HOUR, MINUTE, SECOND, N_STAMP };
  static constexpr int LEVER_MAX = 2000;
  static constexpr int LAST_CHOICE = 2;
  // Dates and times from 2000-01-01 00:00:00 to 2037-12-31 23:59:59.
  static constexpr int FIRST_YEAR = 2000, LAST_YEAR = 2037;
  static constexpr int N_MONTHS = 12, LAST_DAY = 31, LAST_HOUR = 23, LAST_MINUTE = 59;

  u32 mask = 0;
  TextField<12> label1 = {};
  MaintenanceVersion mainframeVersion;
  MaintenanceVersion controlPanelVersion;
  MaintenanceVersion subControlPanel1Version;
  MaintenanceVersion subControlPanel2Version;
  TextField<12> label2 = {};
  MaintenanceAlarm mainframeAlarm;
  MaintenanceAlarm controlPanelAlarm;
  MaintenanceAlarm subControlPanel1Alarm;
  MaintenanceAlarm subControlPanel2Alarm;
  MaintenanceFlag flagOnly;
  MaintenancePairTable pairTable;
  MaintenanceOptionText optionText;
  MaintenanceTextSet<4> textSet4;
  TextField<10> label3 = {};
  MaintenanceTextSet<3> textSet3;
  u8 choice1 = 0;
  u8 choice2 = 0;
  s16 date[3] = {2011, 1, 1};  // taken whole
  s16 time1[3] = {};           // hour, minute, second, taken whole
  s16 time2[3] = {};
  s16 mvTime[N_STAMP] = {};    // a calendar time, taken whole
  s16 mvLtc[N_STAMP] = {};
  MaintenanceFlaggedTexts flaggedTexts;
  MaintenanceModeText modeText;
  MaintenanceHourMeter hourMeter;
  s16 leverParam1 = 0;
  s16 leverParam2 = 0;
  s16 leverParam3 = 0;  // lower floor of the key-fader lever calibration
  s16 leverParam4 = 0;  // top margin of the key-fader lever calibration

  // The panel alarm sub-records by panel 0..2.
  MaintenanceAlarm& panelAlarm(int panel) {
    return panel == 0 ? controlPanelAlarm : panel == 1 ? subControlPanel1Alarm : subControlPanel2Alarm;
  }

  // Fields in wire order; texts make the wire form variable in length (libmx::readTextRecord,
  // writeTextRecord): 494 bytes plus the lengths of the 109 texts.
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    MX_TEXT_FIELD(v, r, label1, mask, 0);
    v.sub("mainframeVersion", r.mainframeVersion);
    v.sub("controlPanelVersion", r.controlPanelVersion);
    v.sub("subControlPanel1Version", r.subControlPanel1Version);
    v.sub("subControlPanel2Version", r.subControlPanel2Version);
    MX_TEXT_FIELD(v, r, label2, mask, 1);
    v.sub("mainframeAlarm", r.mainframeAlarm);
    v.sub("controlPanelAlarm", r.controlPanelAlarm);
    v.sub("subControlPanel1Alarm", r.subControlPanel1Alarm);
    v.sub("subControlPanel2Alarm", r.subControlPanel2Alarm);
    v.sub("flagOnly", r.flagOnly);
    v.sub("pairTable", r.pairTable);
    v.sub("optionText", r.optionText);
    v.sub("textSet4", r.textSet4);
    MX_TEXT_FIELD(v, r, label3, mask, 2);
    v.sub("textSet3", r.textSet3);
    v.field("choice1", r.choice1, r.mask, 3);
    v.field("choice2", r.choice2, r.mask, 4);
    v.field("date", r.date, r.mask, 5);
    v.field("time1", r.time1, r.mask, 6);
    v.field("time2", r.time2, r.mask, 7);
    v.field("mvTime", r.mvTime, r.mask, 8);
    v.field("mvLtc", r.mvLtc, r.mask, 9);
    v.sub("flaggedTexts", r.flaggedTexts);
    v.sub("modeText", r.modeText);
    v.sub("hourMeter", r.hourMeter);
    v.field("leverParam1", r.leverParam1, r.mask, 10);
    v.field("leverParam2", r.leverParam2, r.mask, 11);
    v.field("leverParam3", r.leverParam3, r.mask, 12);
    v.field("leverParam4", r.leverParam4, r.mask, 13);
  }

  // The days of a time stamp's month (the first value read) in its year (the second): 29 February
  // only in a leap year. Decided by the month, and in February by the year too.
  static constexpr int stampDays(const limits::Inputs& in, limits::Runs& out) {
    constexpr int DAYS[N_MONTHS] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const s64 month = in.value[0], year = in.value[1];
    if (month < 1 || month > N_MONTHS) {
      out.add(1, LAST_DAY);
      return 1;
    }
    const bool leap = FIRST_YEAR <= year && year <= LAST_YEAR && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0);
    out.add(1, month == 2 && !leap ? 28 : DAYS[month - 1]);
    return month == 2 ? 3 : 1;
  }
  static constexpr limits::Computed STAMP_DAYS = {&stampDays};

  template <class L>
  static constexpr void takeTimeOfDay(L& l, const s16& hour, const s16& minute, const s16& second) {
    l.take(hour, 0, LAST_HOUR);
    l.take(minute, 0, LAST_MINUTE);
    l.take(second, 0, LAST_MINUTE);
  }
  template <class L, class S>
  static constexpr void takeStamp(L& l, S& s) {
    l.take(s[YEAR], FIRST_YEAR, LAST_YEAR);
    l.take(s[MONTH], 1, N_MONTHS);
    l.take(s[DAY], STAMP_DAYS, s[MONTH], s[YEAR]);
    takeTimeOfDay(l, s[HOUR], s[MINUTE], s[SECOND]);
  }

  // What each field takes from a request and from the backup image (resume takes it through the
  // same checks); the texts, optionText.value and the hour meter's bytes take what they hold.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.sub(r.mainframeAlarm);
    l.sub(r.controlPanelAlarm);
    l.sub(r.subControlPanel1Alarm);
    l.sub(r.subControlPanel2Alarm);
    l.sub(r.flagOnly);
    l.sub(r.pairTable);
    l.sub(r.optionText);
    l.take(r.choice1, 0, LAST_CHOICE);
    l.take(r.choice2, 0, LAST_CHOICE);
    l.take(r.date[YEAR], FIRST_YEAR, LAST_YEAR);
    l.take(r.date[MONTH], 1, N_MONTHS);
    l.take(r.date[DAY], 1, LAST_DAY);
    takeTimeOfDay(l, r.time1[0], r.time1[1], r.time1[2]);
    takeTimeOfDay(l, r.time2[0], r.time2[1], r.time2[2]);
    takeStamp(l, r.mvTime);
    takeStamp(l, r.mvLtc);
    l.sub(r.flaggedTexts);
    l.sub(r.modeText);
    l.take(r.leverParam1, 0, LEVER_MAX);
    l.take(r.leverParam2, 0, LEVER_MAX);
    l.take(r.leverParam3, 0, LEVER_MAX);
    l.take(r.leverParam4, 0, LEVER_MAX);
  }
  // The back end starts the record from zero storage, the date too.
  static void atStart(MxifMaintenance& r) {
    for (s16& v : r.date) v = 0;
  }
};
// Offsets that other areas read (the key-fader lever input, the multiview clock).
static_assert(offsetof(MxifMaintenance, mainframeAlarm) == 1140);
static_assert(offsetof(MxifMaintenance, mvTime) == 1604 && offsetof(MxifMaintenance, mvLtc) == 1616);
static_assert(offsetof(MxifMaintenance, hourMeter) == 1712);
static_assert(offsetof(MxifMaintenance, leverParam3) == 1860 && offsetof(MxifMaintenance, leverParam4) == 1862);
static_assert(sizeof(MxifMaintenance) == 1864);
static_assert(codec::wireSize<MxifMaintenance>() == 1746);

// Maintenance command (type 70): answered with the same body and its result set.
struct MxifMaintenanceCmd {
  static constexpr int TYPE_INDEX = category::TYPE_MAINTENANCE_CMD;
  enum Code : s16 {
    RESET_ALARMS = 0,      // every alarm text "No Alarm", then the alarms read at once
    RESET_CALIBRATION = 4  // 4, 5, 6: lever calibrations of panel 0, 1, 2 to their defaults
  };
  static constexpr int LAST_CODE = 6;

  u8 byte1 = 0;  // bytes 1 to 4, date and time are only echoed
  u8 byte2 = 0;
  s16 code = 0;
  s16 result = 0;  // 0 done, -2 a code outside 0..LAST_CODE
  u8 byte3 = 0;
  u8 byte4 = 0;
  s16 date[3] = {2011, 1, 1};
  s16 time[3] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("byte1", r.byte1);
    v.field("byte2", r.byte2);
    v.field("code", r.code);
    codec::tag(v, codec::REPLY);
    v.field("result", r.result);
    v.field("byte3", r.byte3);
    v.field("byte4", r.byte4);
    v.field("date", r.date);
    v.field("time", r.time);
  }
  // What the command's handler takes (codes 1..3 do nothing).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.code, 0, LAST_CODE);
  }
};
static_assert(sizeof(MxifMaintenanceCmd) == 20);
static_assert(codec::wireSize<MxifMaintenanceCmd>() == 20);
