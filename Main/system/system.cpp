// System settings: format table, phase rules, request validation and merge of the system record.
#include "Main/system/system.h"

#include <cstring>

#include "Common/storage.h"
#include "Main/bus/button.h"

namespace libmx {

namespace {

using codec::acceptIf;

struct FormatEntry {
  s8 driverCode;  // mode other than 2
  s8 driverCodeMode2;
  u16 lineLength;
};

constexpr FormatEntry FORMATS[MxifSystem::N_FORMATS] = {
    {0, 10, 2200}, {1, 11, 2640}, {7, 13, 2750}, {6, 12, 2750}, {2, 10, 1650}, {3, 11, 1980},
    {4, 10, 858},  {5, 11, 864},  {0, 14, 2200}, {1, 15, 2640}, {8, 10, 2200}, {9, 11, 2640},
};

bool validFormat(int format) { return 0 <= format && format < MxifSystem::N_FORMATS; }

}  // namespace

int systemDriverFormatCode(int format, int mode) {
  if (!validFormat(format)) return -1;
  return mode == 2 ? FORMATS[format].driverCodeMode2 : FORMATS[format].driverCode;
}

int systemLineLength(int format) { return validFormat(format) ? FORMATS[format].lineLength : -1; }

bool isFieldPhase(int format, u8 fieldFlag, int field) {
  if (!isSegmentedFormat(format)) return true;
  return field == 1 ? fieldFlag == 1 : fieldFlag == 0;
}

bool isClipPhase(int format, u8 fieldFlag) { return is720Format(format) || fieldFlag == 1; }

bool isRecallPhase(int format, int recallPhaseMode, u8 fieldFlag) {
  if (isSegmentedFormat(format)) return fieldFlag == 0;
  if (is720Format(format)) return false;
  switch (recallPhaseMode) {
    case 1: return fieldFlag == 0;
    case 2: return fieldFlag == 1;
    default: return false;
  }
}

bool isSwitchingGateOpen(int format, int recallPhaseMode, u8 fieldFlag) {
  if (isSegmentedFormat(format)) return fieldFlag == 0;
  if (is720Format(format)) return true;
  switch (recallPhaseMode) {
    case 0: return true;
    case 1: return fieldFlag == 0;
    default: return fieldFlag == 1;
  }
}

float sdAspectScale(int format, int sdScaleFlag) {
  if (sdScaleFlag != 1) return 1.0f;
  if (format == 6) return 0.84f;
  if (format == 7) return 0.76f;
  return 1.0f;
}

void checkSystemRanges(const MxifSystem& request, MxifSystem& out) {
  const MxifSystem& r = request;
  out = request;
  codec::clearPresence(out);

  acceptIf(r.videoMask, out.videoMask, MxifSystem::FORMAT, r.format < MxifSystem::N_FORMATS);
  acceptIf(r.videoMask, out.videoMask, MxifSystem::MODE, true);
  acceptIf(r.videoMask, out.videoMask, MxifSystem::SD_SCALE, r.sdScale < 2);

  acceptIf(r.phaseMask, out.phaseMask, MxifSystem::VERTICAL_OFFSET, r.verticalOffset < 2);
  acceptIf(r.phaseMask, out.phaseMask, MxifSystem::HORIZONTAL_PHASE,
           -50 <= r.horizontalPhase && r.horizontalPhase <= 49);
  acceptIf(r.phaseMask, out.phaseMask, MxifSystem::VERTICAL_PHASE,
           -100 <= r.verticalPhase && r.verticalPhase <= 100);

  acceptIf(r.genlockMask, out.genlockMask, MxifSystem::GENLOCK_REFERENCE, r.genlockReference < 4);
  acceptIf(r.genlockMask, out.genlockMask, MxifSystem::GENLOCK_SETUP, r.genlockSetup < 2);

  acceptIf(r.secondMask, out.secondMask, MxifSystem::BKGD_LATENCY, r.bkgdLatency < 2);
  acceptIf(r.secondMask, out.secondMask, MxifSystem::KEY_LATENCY, r.keyLatency < 2);
  acceptIf(r.secondMask, out.secondMask, MxifSystem::SECOND_TEXT, true);
  acceptIf(r.secondMask, out.secondMask, MxifSystem::SDI_DELAY, r.sdiDelay < 2);

  const MxifSystemAncillary& a = r.ancillary;
  MxifSystemAncillary& oa = out.ancillary;
  acceptIf(a.mask, oa.mask, MxifSystemAncillary::AUX1_FOLLOWS, a.aux1Follows < 2);
  acceptIf(a.mask, oa.mask, MxifSystemAncillary::ME_OUTPUT1_MODE, a.meOutput1Mode < 3);
  acceptIf(a.mask, oa.mask, MxifSystemAncillary::ME_OUTPUT2_MODE, a.meOutput2Mode < 3);
  acceptIf(a.mask, oa.mask, MxifSystemAncillary::KEY_SELECT, a.keySelect < 5);
  acceptIf(a.mask, oa.mask, MxifSystemAncillary::PER_ME_KEY_SELECT, a.perMeKeySelect < 2);
  acceptIf(a.mask, oa.mask, MxifSystemAncillary::DSK_STAGE_MODE, a.dskStageMode < 3);
  for (int n = 0; n < MxifSystemAncillary::N_ME_KEY_SELECTS; ++n)
    acceptIf(a.meKeySelectMask, oa.meKeySelectMask, 1u << n, a.meKeySelect[n] < 5);
  for (int n = 0; n < MxifSystemAncillary::N_DSK_SOURCES; ++n)
    acceptIf(a.dskMask, oa.dskMask, 1u << n, a.dskStageSource[n] < 5);

  for (int n = 0; n < MxifSystem::N_MULTIVIEW_SOURCES; ++n)
    acceptIf(r.multiviewMask, out.multiviewMask, 1u << n, r.multiviewSource[n] < 11);

  acceptIf(r.mask, out.mask, MxifSystem::RECALL_PHASE_MODE, r.recallPhaseMode < 3);

  const TextBlock& t = r.addressTexts;
  acceptIf(t.mask, out.addressTexts.mask, 1u << 0, isValidEscapedText(t.text1));
  acceptIf(t.mask, out.addressTexts.mask, 1u << 1, isValidEscapedText(t.text2));
  acceptIf(t.mask, out.addressTexts.mask, 1u << 2, isValidEscapedText(t.text3));
  acceptIf(t.mask, out.addressTexts.mask, 1u << 3, isValidEscapedText(t.text4));

  const MxifSystemDisplay& d = r.display;
  MxifSystemDisplay& od = out.display;
  acceptIf(d.mask, od.mask, MxifSystemDisplay::TIMING_FLAG, d.timingFlag < 2);
  acceptIf(d.mask, od.mask, MxifSystemDisplay::TIMING_SELECT, d.timingSelect < 3);
  acceptIf(d.mask, od.mask, MxifSystemDisplay::OPTION, d.option < 2);
  acceptIf(d.mask, od.mask, MxifSystemDisplay::TOGGLE1, d.toggle1 < 2);
  acceptIf(d.mask, od.mask, MxifSystemDisplay::TOGGLE2, d.toggle2 < 2);

  acceptIf(r.mask, out.mask, MxifSystem::BUS_REFRESH, r.busRefresh < 2);
}

void acceptSystemFields(const MxifSystem& request, const MxifSystem& live, bool firstAssign,
                        MxifSystem& out) {
  checkSystemRanges(request, out);
  // Repeating the live mode is no change (and writes nothing to the storage words).
  if (request.mode == live.mode) out.videoMask &= ~MxifSystem::MODE;
  if (firstAssign) {
    // The first request after start cannot change the toggles: they keep the live values.
    out.display.toggle1 = live.display.toggle1;
    out.display.toggle2 = live.display.toggle2;
    out.display.mask |= MxifSystemDisplay::TOGGLE1 | MxifSystemDisplay::TOGGLE2;
  }
}

}  // namespace libmx

namespace category {

namespace {

constexpr u32 PENDING_LIMIT = 0x20000;

// The system mode goes to the non-volatile storage words at once: the board start-up and the FPGA
// configuration loading read it at the next start.
void storeSystemMode(u8 mode) { Storage::instance().writeBoardMode(mode + 256u); }

}  // namespace

CategorySystem& CategorySystem::instance() {
  static CategorySystem category;
  return category;
}

CategorySystem::CategorySystem() {
  CategoryButtonEvent::setHook(ButtonReceiver::SYSTEM,
                               [](CategoryInterface& target, const internal::MxifButtonEvent& ev) {
                                 if (auto* sys = dynamic_cast<CategorySystem*>(&target)) sys->onButtonEvent(ev);
                               });
}

void CategorySystem::onButtonEvent(const internal::MxifButtonEvent& ev) {
  const int code = ev.getCode();
  if (ev.panel >= ButtonLatch::N_PANELS || ev.getMe() < N_ME || !ev.isPressed()) return;
  MxifSystem& live = record(0);
  MxifSystem change = live;
  codec::clearPresence(change);
  if (code == internal::MxifButtonEvent::BTN_PANEL_OPTION1) {
    change.display.toggle1 = live.display.toggle1 != 0 ? 0 : 1;
    change.display.mask = MxifSystemDisplay::TOGGLE1;
  } else if (code == internal::MxifButtonEvent::BTN_PANEL_OPTION2) {
    change.display.toggle2 = live.display.toggle2 != 0 ? 0 : 1;
    change.display.mask = MxifSystemDisplay::TOGGLE2;
  } else {
    return;
  }
  libmx::mergeTextRecord(live, change);
  dirty[0] = 1;
}

void CategorySystem::initInternal() {
  dirty[0] = 0;
  changeFlag_ = 1;
  firstAssignDone_ = 0;
  previousFormat_ = -1;
}

void CategorySystem::resume(const void* saved, int flag) {
  const s8 liveFormat = static_cast<s8>(record(0).format);
  MxifSystem in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  codec::setAllPresence(in);
  // A damaged image cannot bring values that a request could not: out-of-range fields keep 0.
  MxifSystem accepted;
  libmx::checkSystemRanges(in, accepted);
  accepted.genlockMask |= MxifSystem::GENLOCK_STATUS;
  MxifSystem& live = record(0);
  live = MxifSystem{};
  libmx::mergeTextRecord(live, accepted);
  codec::setAllPresence(live);
  appliedFormat_ = flag == 1 ? liveFormat : -1;
}

void CategorySystem::receive(RequestReceiver& rx) {
  MxifSystem in{};
  if (!libmx::readTextRecord(rx, in)) {
    rx.reportShort();
    return;
  }
  rx.clearHeader();
  assign(in, 0);
}

void CategorySystem::assign(const MxifSystem& in, int idx) {
  MxifSystem& live = record(idx);
  MxifSystem accepted;
  libmx::acceptSystemFields(in, live, firstAssignDone_ == 0, accepted);
  firstAssignDone_ = 1;
  if (accepted.videoMask & MxifSystem::FORMAT) {
    if (previousFormat_ == -1) previousFormat_ = appliedFormat_;
    appliedFormat_ = static_cast<s8>(accepted.format);
  }
  if (accepted.videoMask & MxifSystem::MODE) storeSystemMode(accepted.mode);
  if ((accepted.mask & MxifSystem::BUS_REFRESH) && accepted.busRefresh == 1) {
    for (int me = 0; me < N_ME; ++me) {
      auto* bus = dynamic_cast<BusRefreshTarget*>(CategoryRegistry::instance().get(TYPE_BUS, me));
      if (bus != nullptr) bus->requestRefresh();
    }
  }
  libmx::mergeTextRecord(live, accepted);
  dirty[idx] = 1;
}

bool CategorySystem::sendRecord(AcknowledgeSender& tx) {
  MxifSystem& r = record(0);
  if (dirty[0] == 0 && !codec::hasAny(r)) return true;
  if (static_cast<u32>(tx.pending()) > PENDING_LIMIT) return false;
  if (tx.beginPacket(TYPE_INDEX, libmx::textRecordWireLength(r))) {
    libmx::writeTextRecord(tx.stream(), r);
  } else {
    reportSendBufferFull();
  }
  dirty[0] = 0;
  codec::clearPresence(r);
  return true;
}

void CategorySystem::sendStatus(AcknowledgeSender& tx) { sendRecord(tx); }

void CategorySystem::send(AcknowledgeSender& tx, int part) {
  record(part);  // the one channel
  sendRecord(tx);
}

bool isSwitchingGateOpen() {
  auto* registered = CategoryRegistry::instance().get(MxifSystem::TYPE_INDEX, 0);
  MX_CHECK(registered != nullptr);
  auto& sys = *static_cast<CategorySystem*>(registered);
  return libmx::isSwitchingGateOpen(sys.format(), sys.system().recallPhaseMode, sys.fieldFlag());
}

}  // namespace category
