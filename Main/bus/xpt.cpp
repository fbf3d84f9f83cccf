#include "Main/bus/xpt.h"

namespace category {
namespace {

bool isMarker(int source) { return source == MxifXptAssign::MARKER_CLASS1 || source == MxifXptAssign::MARKER_CLASS2; }

bool isPresent(const MxifXptAssign& r, int button) { return (r.buttonMask[button / 32] >> (button % 32) & 1u) != 0; }

void setPresent(MxifXptAssign& r, int button) { r.buttonMask[button / 32] |= 1u << (button % 32); }

// The bus category of the ME (the ME 0 instance where that ME has none); null before it exists.
XptReselectTarget* busOf(int me) {
  return CategoryRegistry::instance().find<XptReselectTarget>(TYPE_BUS, me);
}

}  // namespace

CategoryXpt& CategoryXpt::instance() {
  static CategoryXpt cat;
  return cat;
}

CategoryXpt& CategoryXpt::registered() {
  auto* cat = CategoryRegistry::instance().get(TYPE_INDEX, 0);
  MX_CHECK(cat != nullptr);
  return *static_cast<CategoryXpt*>(cat);
}

void CategoryXpt::initData() {
  for (int ch = 0; ch < N_PANELS; ++ch) {
    MxifXptAssign& r = record(ch);
    MxifXptAssign::atStart(r);
    for (int b = 0; b < MxifXptAssign::N_BUTTONS; ++b) setPresent(r, b);
    r.panel = static_cast<u16>(ch);
    // Classes follow the table they describe, whatever they were before.
    rebuildColumnClasses(ch);
  }
}

void CategoryXpt::resume(const void* saved, int flag) {
  (void)flag;
  // Each saved value is taken when a request could have set it; a damaged one keeps its default.
  initData();
  for (int ch = 0; ch < N_PANELS; ++ch) {
    MxifXptAssign in;
    std::memcpy(static_cast<void*>(&in), static_cast<const u8*>(saved) + sizeof(MxifXptAssign) * ch, sizeof in);
    MxifXptAssign& r = record(ch);
    const bool flagTaken = limits::takes(in, in.panelFlag);
    r.panelFlag = flagTaken ? in.panelFlag : 0;
    if (!flagTaken) refuseSaved(1);
    for (int b = 0; b < MxifXptAssign::N_BUTTONS; ++b) {
      if (limits::takes(in, in.source[b])) {
        r.source[b] = in.source[b];
      } else if (in.source[b] != r.source[b]) {
        refuseSaved(1);
      }
      setPresent(r, b);
    }
    r.mask |= MxifXptAssign::PANEL_FLAG;
    r.panel = static_cast<u16>(ch);
    rebuildColumnClasses(ch);
  }
}

void CategoryXpt::receive(RequestReceiver& rx) {
  MxifXptAssign in{};
  if (!rx.readRecord(in)) return;
  if (in.panel >= N_PANELS) return;
  assign(in, in.panel);
}

void CategoryXpt::notifyBuses(int button, int panel) {
  const int previous = record(panel).source[button];
  for (int me = 0; me < N_ME; ++me) {
    if (auto* bus = busOf(me)) bus->reselectButton(button, previous, panel);
  }
}

void CategoryXpt::assign(const MxifXptAssign& in, int panel) {
  const rules::Checking checking(in);
  MxifXptAssign& live = record(panel);
  MxifXptAssign work{};
  for (int b = 0; b < MxifXptAssign::N_BUTTONS; ++b) {
    if (!isPresent(in, b) || !limits::takes(in, in.source[b])) continue;
    work.source[b] = in.source[b];
    setPresent(work, b);
    if (!isMarker(in.source[b])) {
      notifyBuses(b, panel);
      continue;
    }
    // A marker takes its whole column: every ME hears of the four buttons in row order.
    const int column = b % N_COLUMNS;
    for (int me = 0; me < N_ME; ++me) {
      auto* bus = busOf(me);
      if (bus == nullptr) continue;
      for (int row = 0; row < N_ROWS; ++row) {
        const int button = column + row * N_COLUMNS;
        bus->reselectButton(button, live.source[button], panel);
      }
    }
  }
  if ((in.mask & MxifXptAssign::PANEL_FLAG) != 0 && limits::takes(in, in.panelFlag)) {
    live.panelFlag = in.panelFlag;
    live.mask |= MxifXptAssign::PANEL_FLAG;
  }
  live.panel = in.panel;
  for (int b = 0; b < MxifXptAssign::N_BUTTONS; ++b) {
    if (!isPresent(work, b)) continue;
    live.source[b] = work.source[b];
    setPresent(live, b);
  }
  dirty[panel] = 1;
  rebuildColumnClasses(panel);
}

void CategoryXpt::rebuildColumnClasses(int panel) {
  const MxifXptAssign& r = record(panel);
  for (int c = 0; c < N_COLUMNS; ++c) {
    u8 cls = 0;
    for (int row = 0; row < N_ROWS && cls == 0; ++row) {
      const int s = r.source[c + row * N_COLUMNS];
      if (s == MxifXptAssign::MARKER_CLASS1) cls = 1;
      if (s == MxifXptAssign::MARKER_CLASS2) cls = 2;
    }
    columnClass_[panel][c] = cls;
  }
}

int CategoryXpt::columnClass(int panel, int column) const {
  MX_CHECK(0 <= panel && panel < 3);
  MX_CHECK(0 <= column && column < N_COLUMNS);
  return columnClass_[panel][column];
}

bool CategoryXpt::isButtonMasked(int panel, int button, int bits) const {
  MX_CHECK(0 <= panel && panel < 3);
  if (bits == 0 || button < 0 || button >= N_COLUMN_BUTTONS) return false;
  return (bits & columnClass_[panel][button % N_COLUMNS]) != 0;
}

}  // namespace category
