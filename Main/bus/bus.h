#pragma once
// Buses (type 47, one instance per ME): which source sits on each of the ME's 89 bus entries.
// A selection arrives from the front end (assign), from a panel crosspoint button (onButton) or from
// another category (select); it must be allowed on the entry and must not make an ME feed its own
// input. Once per frame update follows source links, repairs entries, routes the selections to the
// crosspoint driver, runs the AUX mixes of ME 0 and lights the bus-row and crosspoint lamps of one
// present panel, the panels in rotation.
//
// Bus entries: 0/1 background A/B, 2..9 key fill and key source pairs, 10/11 utility buses, 12 a
// spare bus, 13..15 external outputs, 16..23 DSK fill and key source pairs, 24..71 AUX buses (24..27
// mixed), 72..79 up-stream key assignment slots, 80..88 further entries.
// Crosspoint code of an entry: 0..767 panel x 256 + button (resolved through the crosspoint
// assignment), 1024 + source a direct source.
#include "Main/bkgd/auxtrans.h"
#include "Main/framework/bp.h"
#include "Main/io/io.h"
#include "Main/system/system.h"
#include "Main/bus/xpt.h"
#include "Lib/Include/data_internal.h"

namespace category {

// Link mode of the source-link record: 0 the first entry of a linked pair drives the second, 1 the
// second drives the first.
int sourceLinkMode();

// What the bus category follows of its ME's background (implemented by the background category,
// registered under type 2).
class BusBackgroundLink {
 public:
  // Flip of the ME's background auto transition (negative: the B bus is on program).
  virtual int programFlip() = 0;
  // The program bus changed: with nrMode 1 the background's direction turns (1 - direction).
  virtual void onProgramBusChange() = 0;
  // A pending nrMode restore request is served (nrMode := 1) and cleared.
  virtual void serveNrModeRestore() = 0;

 protected:
  ~BusBackgroundLink() = default;
};

// The up-stream key assignment category (type 8) as the bus category drives its key slots.
class UskAssignTarget {
 public:
  // Slot 0..7 takes the source when it differs.
  virtual void setAssignment(int source, int slot) = 0;

 protected:
  ~UskAssignTarget() = default;
};

class CategoryBus : public CategoryCommon<MxifBus>,
                    public BusRefreshTarget,
                    public XptReselectTarget,
                    public CustomInfoSourceTarget {
 public:
  static constexpr int N_ENTRIES = MxifBus::N_ENTRIES;
  static constexpr int N_PANELS = buses::N_PANELS;
  static constexpr int N_BUTTONS = buses::N_BUTTONS;
  static constexpr int PANEL_CODES = buses::PANEL_CODES;  // codes 0..767: panel x 256 + button
  static constexpr int LAST_LOOP_ENTRY = buses::LAST_LOOP_ENTRY;  // entries 0..11 feed the ME: they may close a loop
  static constexpr int USK_ENTRY = buses::USK_ENTRY;  // entries 72..79 follow the up-stream key slots 0..7
  static constexpr int DIRECT = buses::DIRECT;        // code of a direct source: DIRECT + source
  static constexpr int SOURCE_COLOR_BACKGROUND = buses::SOURCE_COLOR_BACKGROUND, SOURCE_BARS = buses::SOURCE_BARS,
                       SOURCE_BLACK = buses::SOURCE_BLACK;
  static constexpr int REPLACEMENT_CODE = buses::REPLACEMENT_CODE;  // black, written over an entry not allowed
  static constexpr int BUTTON_FIRST = 1100;       // crosspoint button codes 1100..1291
  static constexpr int BUTTON_LAST = 1291;
  static constexpr int ALL_RELEASED = 3000;
  static constexpr int N_AUX_MIX = buses::N_AUX_MIX;  // entries 24..27

  // The four instances, one per ME, built on first call.
  static CategoryBus* instance();
  CategoryBus();

  void initData() override;
  void initInternal() override;
  void resume(const void* saved, int flag = 0) override;
  void assign(const MxifBus& in, int ch) override;
  void update() override;
  // The system record's bus refresh request: the whole record is reported again and the usage
  // rebuilt on the next update; the source links do not act on it.
  void requestRefresh() override { refreshRequested_ = 1; }

  // A panel crosspoint press or release (codes 1100..1291) or the all-released code 3000; the
  // event's index is the bus entry.
  void onButton(const internal::MxifButtonEvent& btn);
  void onButton(int panel, int eventMe, int entry, int code, int state);
  // Direct selection of a source on an entry (stored-frame recall, links, button reassignment).
  void select(int entry, int source);
  // Selects on `to` the source linked to the source of `from`.
  void selectLinked(int from, int to);
  // Every entry holding the panel's button code takes `source` as a direct code.
  void reselectButton(int button, int source, int panel) override;
  // Entry 72 + offset (offset -72..16) takes the source unless it already resolves to it.
  void assignSource(int source, int offset);
  void setProgramBus(int v);
  // Key k's fill and key crosspoints of this ME: the key source bus when the key record's key type
  // and key-source selection are both non-zero, else the fill.
  void routeKeySources(int keyType, int keySource, int k);
  // DSK k's fill and key crosspoints from entries 16 + 2k and 17 + 2k, by the same rule.
  void routeDskSources(int keyType, int keySource, int k);

  // The source selected on an entry, -1 when none (or the entry is above 88).
  int busSource(int entry);
  static int codeToSource(int code);
  static bool isSourceAllowed(int entry, int source);
  // Whether selecting the source on the entry of this ME keeps every ME free of feeding itself.
  bool reentryAllows(int entry, int source) const;
  // Whether this ME taking ME m's output would close a loop; then takes[a] is the ME whose output ME
  // a takes, along the loop from m round to this ME (takes[m] is this ME when m takes it directly).
  bool closesLoop(int m, s8 (&takes)[N_ME]) const;
  static int busSourceToHardware(int source);
  // Last entry update checks: 88 on ME 0, 23 on ME 1, 11 on MEs 2 and 3.
  static int repairLimit(int me);
  // Rebuilds this ME's row of the usage table from entries 0..11.
  void refreshUsage();
  // Whether ME a's entries 0..11 hold an output of ME b.
  static bool uses(int a, int b);

  int prevCode(int entry) const { return prevCode_[entry]; }
  u8 abSwap() const { return abSwap_; }
  u8 linkSuppressed() const { return linkSuppressed_; }
  void suppressLinks() { linkSuppressed_ = 1; }
  u8 isPressed(int panel, int entry, int button) const { return pressed_[panel][entry][button]; }

  // Running and hold bytes of AUX mix channel ch.
  u8 isMixRunning(int ch) const { return aux_.isRunning(ch); }
  u8 isMixHeld(int ch) const { return aux_.isHeld(ch); }
  AuxTransition& auxTransition() { return aux_; }

  // The last step of update: the lamps of this ME's bus rows and crosspoint buttons on the next
  // present panel.
  void updateLamps();
  // The panel whose lamps this ME refreshed last.
  int lampPanel() const { return lampPanel_; }
  // Panel 0 is always present; a sub panel from its first lamp refresh request on (shared by the
  // four MEs).
  static bool panelPresent(int panel);
  // Serves sub panel 1 or 2's lamp refresh request: the panel is present, and its request byte of
  // the control panel configuration is cleared through that category.
  static void requestPanelRefresh(int panel);

  // The sources that the custom information carries, per channel 0..35; kept, read by nothing here.
  static constexpr int N_CUSTOM_INFO = 36;
  void setCustomInfoSource(int channel, int source) override;
  int customInfoSource(int channel) const;

 private:
  CategoryBus* bus(int me);
  void copyToOthers(int entry);
  void setPrevCodeEverywhere(int entry, int code);
  void followLinks();
  void routeBuses();
  void repair();
  // After a rule that refused or replaced the code on an entry (source s): the values that decided
  // it, the crosspoint assignment of a panel button and, for a loop, the entries that form it.
  void noteWhy(int entry, int code, int source);
  void followBackground();
  void updateAbSwap();
  void routeAux();
  // The lamp work on one panel (buslamps.cpp).
  struct LampPass;
  void delegationLamps(const LampPass& pass, int delegation);
  int rowSourceState(const LampPass& pass, int entry);
  void abLamp(const LampPass& pass, int row);
  void crosspointRow(const LampPass& pass, int row);
  void rowSettingLamps(const LampPass& pass);
  // Position 0..23 on a row of the button that shows a code on the panel's page, -1 when none.
  int lampButton(int code, const LampPass& pass, int page);

  AuxTransition aux_;
  s32 prevCode_[N_ENTRIES];
  u8 abSwap_ = 0;
  u8 linkSuppressed_ = 1;
  u8 refreshRequested_ = 0;
  s32 lampPanel_ = 0;
  static u8 present_[N_PANELS];
  s32 customInfoSource_[N_CUSTOM_INFO] = {};
  u8 pressed_[N_PANELS][N_ENTRIES][N_BUTTONS];
  // The inputs of the last repair pass that replaced nothing: the ME (-1: none such pass), the
  // entries up to the ME's limit, the usage table and the sources of the entries that hold button
  // codes.
  struct RepairInputs {
    int me = -1;
    u16 entries[N_ENTRIES];
    u8 usage[N_ME][N_ME];
    int nButtons = 0;
    u8 buttonEntry[N_ENTRIES];
    s16 buttonSource[N_ENTRIES];
  } passed_;
};

}  // namespace category
