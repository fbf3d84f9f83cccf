#pragma once
// System settings: the rules of the system record (formats, phase predicates, switching gate,
// validation of a request, merge) and the category that owns type 29.
#include "Lib/Include/data_internal.h"
#include "Main/bus/button.h"
#include "Lib/Include/rules.h"
#include "Main/framework/bp.h"
#include "Main/framework/vsync.h"

namespace libmx {

// Format table: driver format code (mode not 2) and total line length in samples, by format 0..11.
// Returns -1 for a format outside 0..11.
int systemDriverFormatCode(int format, int mode);
int systemLineLength(int format);

// 1080-line segmented-frame formats (two VSYNCs per picture): 2, 3, 8, 9.
inline bool isSegmentedFormat(int format) { return format == 2 || format == 3 || format == 8 || format == 9; }
// 720-line progressive formats: 4, 5.
inline bool is720Format(int format) { return format == 4 || format == 5; }
// Standard-definition formats (BT.601 colour): 6, 7.
inline bool isSdFormat(int format) { return format == 6 || format == 7; }

// Phase rules; fieldFlag is the field bit of the current VSYNC (0 or 1).
bool isFieldPhase(int format, u8 fieldFlag, int field);
bool isClipPhase(int format, u8 fieldFlag);
bool isRecallPhase(int format, int recallPhaseMode, u8 fieldFlag);
// Whether switching commands and button events may act on this VSYNC.
bool isSwitchingGateOpen(int format, int recallPhaseMode, u8 fieldFlag);

// Format families: a change of format within a family keeps the stills. Families are {0, 1, 2, 3,
// 8, 9}, {4, 5}, {6}, {7} and {10, 11}; -1 for any other value.
int systemFormatFamily(int format);

// Picture aspect factor of the standard-definition formats shown 16:9: 0.84 (format 6) or 0.76
// (format 7) when the scale flag is 1, else 1.0.
float sdAspectScale(int format, int sdScaleFlag);

// Builds into `out` the record with only its present fields that are in range marked present (the
// genlock status text is never taken). Used by assign and, on the saved image, by resume.
void checkSystemRanges(const MxifSystem& record, MxifSystem& out);

// Builds into `accepted` the request with only its present and valid fields marked present. The
// system mode counts only when it differs from the live one. On the first request after start
// (firstAssign) the two display toggles are taken from the live record instead.
void acceptSystemFields(const MxifSystem& request, const MxifSystem& live, bool firstAssign,
                        MxifSystem& accepted);

// Wire body of type 29: libmx::readTextRecord, writeTextRecord and textRecordWireLength (text.h);
// its length is 106 plus the six text counts that are not negative.

// Presence words: codec::setAllPresence, clearPresence and hasAny walk the field list; the merge
// of texts and fields by presence bit is libmx::mergeTextRecord (text.h).

}  // namespace libmx

namespace category {

// Implemented by the bus category: sets its crosspoint refresh request, which it serves on its
// next pass. The system record's bus refresh request reaches every ME's bus category through it.
class BusRefreshTarget {
 public:
  virtual void requestRefresh() = 0;

 protected:
  ~BusRefreshTarget() = default;
};

// Owner of the system settings record (type 29, one channel, one instance). Its update (class 1,
// first of every frame) applies a presented format, mode or scale through the drivers, keeps the
// genlock reference, setup and phase in the hardware and reports the lock state, sets the display
// timing, lights the panel lamps of its two option buttons and routes AUX 1, the ME outputs, the
// multiview inputs and the DSK stages.
class CategorySystem : public CategoryCommon<MxifSystem> {
 public:
  static constexpr int LAMP_OPTION1 = 2906;  // lit while button 2006 is held on the main panel
  static constexpr int LAMP_OPTION2 = 2913;  // ... button 2013

  static CategorySystem& instance();

  // The record stays as the registry cleared it; the object's own state starts as constructed.
  void initData() override;
  void initInternal() override;
  void resume(const void* saved, int flag = 0) override;
  void receive(RequestReceiver& rx) override;
  void sendStatus(AcknowledgeSender& tx) override;
  void send(AcknowledgeSender& tx, int part) override;
  void assign(const MxifSystem& in, int idx) override;
  void update() override;
  // Panel option buttons 2006 and 2013: a press from panel 0..2 that names no ME toggles the
  // display option 1, respectively 2; the panel's button slot follows the press and the release.
  void onButtonEvent(const internal::MxifButtonEvent& ev);
  // The last step of update: AUX 1, the ME outputs of every ME, the multiview inputs and the DSK
  // stages from the routing options and the on-air state of the keys and DSKs.
  void routeOutputs();

  const MxifSystem& system() { return record(0); }
  int format() { return record(0).format; }
  int mode() { return record(0).mode; }

  // The field bit of the current VSYNC (bit 2 of the video interrupt status), which the frame
  // callback stores before the frame's category work (0 from program start).
  static u8 fieldFlag() { return vsyncFieldBit() != 0 ? 1 : 0; }

  // Whether the current VSYNC is the one on which a stepper acts (see libmx:: for the rules).
  bool isFieldPhase(int field) { return libmx::isFieldPhase(format(), fieldFlag(), field); }
  bool isClipPhase() { return libmx::isClipPhase(format(), fieldFlag()); }
  bool isRecallPhase() { return libmx::isRecallPhase(format(), record(0).recallPhaseMode, fieldFlag()); }
  // Picture aspect factor of the standard-definition formats (0.84, 0.76 or 1.0).
  float sdAspectScale() { return libmx::sdAspectScale(format(), record(0).sdScale); }

  // Set when a format, mode or scale change is applied this frame (by update); 1 after start, until
  // the first update.
  u8 formatChanged() const { return changeFlag_; }
  // Test support: the flag as the system update would leave it.
  void setFormatChangedForTest(u8 changed) { changeFlag_ = changed; }
  // Format last applied or about to be applied (-1 after a resume), and the one applied before the
  // first change since the last update (-1 when none is pending).
  s8 appliedFormat() const { return appliedFormat_; }
  s8 previousFormat() const { return previousFormat_; }

 protected:
  CategorySystem();

 private:
  // Writes the record when it is dirty or carries presence bits; false when the output stream is
  // more than half full (the report stays pending).
  bool sendRecord(AcknowledgeSender& tx);
  // The steps of update.
  void applyVideoFormat();
  void applyGenlock();
  // Notes that the board does not run the format the record holds (the driver refuses it).
  void noteFormatNotRun(int format);
  void applyGenlockPhase();
  void applyDisplay();
  void showOptionLamps();
  // After a rule that read a video field of the system record: its value, as a request of this frame
  // sent it (bit `sent` of the video presence word) or as held.
  template <class F>
  void noteVideoInput(const F& field, u32 sent) {
    (sentVideo_ & sent) != 0 ? rules::sent(record(0), field) : rules::input(record(0), field, 0, 0);
  }

  u8 changeFlag_ = 1;
  u8 firstAssignDone_ = 0;
  u8 lockLogged_ = 0;
  s8 appliedFormat_ = 0;
  s8 previousFormat_ = -1;
  // Video presence bits (format, mode, scale) accepted or resumed and not yet applied: each is
  // applied by the next update only, however long its report waits for its turn.
  u32 videoPending_ = 0;
  // Video presence bits that requests sent and the system took since the last update.
  u32 sentVideo_ = 0;
  ButtonLatch option1_;  // button 2006 on each panel
  ButtonLatch option2_;  // button 2013
};

// Whether switching commands and button events may act on this VSYNC, from the system record and
// the field flag of the system category.
bool isSwitchingGateOpen();

}  // namespace category
