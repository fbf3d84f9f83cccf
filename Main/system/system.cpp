// System settings: format table, phase rules, request validation and merge of the system record.
#include "Main/system/system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "Common/storage.h"
#include "Driver/core/core.h"
#include "Driver/core/format.h"
#include "Driver/genlock/genlock.h"
#include "Driver/sdi/sdi.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/log.h"
#include "Lib/Include/records/dsk.h"
#include "Lib/Include/rules.h"
#include "Main/io/io.h"
#include "Main/media/clip.h"
#include "Main/media/still.h"
#include "Main/panel/led.h"

namespace {

constexpr int LAST_REFERENCE = MxifSystem::LAST_GENLOCK_REFERENCE;

}  // namespace

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

int systemFormatFamily(int format) {
  static constexpr s8 FAMILIES[MxifSystem::N_FORMATS] = {0, 0, 0, 0, 1, 1, 2, 3, 0, 0, 4, 4};
  return validFormat(format) ? FAMILIES[format] : -1;
}

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
  const rules::Checking checking(request);
  const auto accept = [&](u32 in, u32& to, u32 bit, const auto& field) { limits::accept(request, in, to, bit, field); };
  out = request;
  codec::clearPresence(out);

  accept(r.videoMask, out.videoMask, MxifSystem::FORMAT, r.format);
  acceptIf(r.videoMask, out.videoMask, MxifSystem::MODE, true);
  accept(r.videoMask, out.videoMask, MxifSystem::SD_SCALE, r.sdScale);

  accept(r.phaseMask, out.phaseMask, MxifSystem::VERTICAL_OFFSET, r.verticalOffset);
  accept(r.phaseMask, out.phaseMask, MxifSystem::HORIZONTAL_PHASE, r.horizontalPhase);
  accept(r.phaseMask, out.phaseMask, MxifSystem::VERTICAL_PHASE, r.verticalPhase);

  accept(r.genlockMask, out.genlockMask, MxifSystem::GENLOCK_REFERENCE, r.genlockReference);
  accept(r.genlockMask, out.genlockMask, MxifSystem::GENLOCK_SETUP, r.genlockSetup);

  accept(r.secondMask, out.secondMask, MxifSystem::BKGD_LATENCY, r.bkgdLatency);
  accept(r.secondMask, out.secondMask, MxifSystem::KEY_LATENCY, r.keyLatency);
  acceptIf(r.secondMask, out.secondMask, MxifSystem::SECOND_TEXT, true);
  accept(r.secondMask, out.secondMask, MxifSystem::SDI_DELAY, r.sdiDelay);

  const MxifSystemAncillary& a = r.ancillary;
  MxifSystemAncillary& oa = out.ancillary;
  accept(a.mask, oa.mask, MxifSystemAncillary::AUX1_FOLLOWS, a.aux1Follows);
  accept(a.mask, oa.mask, MxifSystemAncillary::ME_OUTPUT1_MODE, a.meOutput1Mode);
  accept(a.mask, oa.mask, MxifSystemAncillary::ME_OUTPUT2_MODE, a.meOutput2Mode);
  accept(a.mask, oa.mask, MxifSystemAncillary::KEY_SELECT, a.keySelect);
  accept(a.mask, oa.mask, MxifSystemAncillary::PER_ME_KEY_SELECT, a.perMeKeySelect);
  accept(a.mask, oa.mask, MxifSystemAncillary::DSK_STAGE_MODE, a.dskStageMode);
  for (int n = 0; n < MxifSystemAncillary::N_ME_KEY_SELECTS; ++n)
    accept(a.meKeySelectMask, oa.meKeySelectMask, 1u << n, a.meKeySelect[n]);
  for (int n = 0; n < MxifSystemAncillary::N_DSK_SOURCES; ++n)
    accept(a.dskMask, oa.dskMask, 1u << n, a.dskStageSource[n]);

  for (int n = 0; n < MxifSystem::N_MULTIVIEW_SOURCES; ++n)
    accept(r.multiviewMask, out.multiviewMask, 1u << n, r.multiviewSource[n]);

  accept(r.mask, out.mask, MxifSystem::RECALL_PHASE_MODE, r.recallPhaseMode);

  const TextBlock& t = r.addressTexts;
  acceptIf(t.mask, out.addressTexts.mask, 1u << 0, isReceivedTextValid(t.text1));
  acceptIf(t.mask, out.addressTexts.mask, 1u << 1, isReceivedTextValid(t.text2));
  acceptIf(t.mask, out.addressTexts.mask, 1u << 2, isReceivedTextValid(t.text3));
  acceptIf(t.mask, out.addressTexts.mask, 1u << 3, isReceivedTextValid(t.text4));

  const MxifSystemDisplay& d = r.display;
  MxifSystemDisplay& od = out.display;
  accept(d.mask, od.mask, MxifSystemDisplay::TIMING_FLAG, d.timingFlag);
  accept(d.mask, od.mask, MxifSystemDisplay::TIMING_SELECT, d.timingSelect);
  accept(d.mask, od.mask, MxifSystemDisplay::OPTION, d.option);
  accept(d.mask, od.mask, MxifSystemDisplay::TOGGLE1, d.toggle1);
  accept(d.mask, od.mask, MxifSystemDisplay::TOGGLE2, d.toggle2);

  accept(r.mask, out.mask, MxifSystem::BUS_REFRESH, r.busRefresh);
}

void acceptSystemFields(const MxifSystem& request, const MxifSystem& live, bool firstAssign,
                        MxifSystem& out) {
  checkSystemRanges(request, out);
  const TextBlock& texts = request.addressTexts;
  const u32 refusedTexts = texts.mask & ~out.addressTexts.mask;
  if ((refusedTexts & 1u) != 0) noteRefusedText(request, texts.text1);
  if ((refusedTexts & 2u) != 0) noteRefusedText(request, texts.text2);
  if ((refusedTexts & 4u) != 0) noteRefusedText(request, texts.text3);
  if ((refusedTexts & 8u) != 0) noteRefusedText(request, texts.text4);
  // Repeating the live mode is no change (and writes nothing to the storage words).
  if (request.mode == live.mode) out.videoMask &= ~MxifSystem::MODE;
  if (firstAssign) {
    // The first request after start cannot change the toggles: they keep the live values.
    static constexpr rules::Rule FIRST_KEEPS_TOGGLES = {
        rules::Effect::REFUSES, "the first MxifSystem request after the back end starts keeps display.toggle1 and "
                                "display.toggle2 as they are (the same request again is taken)"};
    if (request.display.mask & MxifSystemDisplay::TOGGLE1) rules::note(FIRST_KEEPS_TOGGLES, request, request.display.toggle1);
    if (request.display.mask & MxifSystemDisplay::TOGGLE2) rules::note(FIRST_KEEPS_TOGGLES, request, request.display.toggle2);
    out.display.toggle1 = live.display.toggle1;
    out.display.toggle2 = live.display.toggle2;
    out.display.mask |= MxifSystemDisplay::TOGGLE1 | MxifSystemDisplay::TOGGLE2;
  }
}

}  // namespace libmx

namespace category {

namespace {

constexpr u32 PENDING_LIMIT = 0x20000;
constexpr u32 VIDEO_FIELDS = MxifSystem::FORMAT | MxifSystem::MODE | MxifSystem::SD_SCALE;
constexpr int N_MULTIVIEW_CHANNELS = 8;
constexpr int N_MULTIVIEW_INPUTS = 4;  // MX_MULTI1 .. MX_MULTI4 from sources 0..3
constexpr int N_ROUTED_KEYS = 4;       // key selects 1..4 and DSK stage sources 1..4
constexpr float SD_NARROW_SCALE = 0.75f;

// The system mode goes to the non-volatile storage words at once: the board start-up and the FPGA
// configuration loading read it at the next start.
void storeSystemMode(u8 mode) { Storage::instance().writeBoardMode(mode + 256u); }

template <class C>
C* registered(int type) {
  return CategoryRegistry::instance().find<C>(type, 0);
}

// The genlock reference and setup that the format allows.
constexpr auto REFERENCE_OF_FORMAT_TEXT =
    rules::compose("the format in force decides the genlock reference: format 2 takes reference 2, the SD formats 6 "
                   "and 7 take 0 or 3 (any other becomes 0), the others 0..", LAST_REFERENCE);
constexpr rules::Rule REFERENCE_OF_FORMAT = {rules::Effect::MOVES, REFERENCE_OF_FORMAT_TEXT.chars};
constexpr rules::Rule SETUP_OF_FORMAT = {
    rules::Effect::MOVES, "the format in force decides the genlock setup: formats 1, 2, 5, 7, 9 and 11 take none "
                          "(genlockSetup 0), the others 0 or 1"};
u8 allowedReference(int format, u8 reference) {
  if (format == 2) return 2;
  if (libmx::isSdFormat(format)) return reference == 0 || reference == 3 ? reference : 0;
  return reference <= LAST_REFERENCE ? reference : 0;
}

u8 allowedSetup(int format, u8 setup) {
  switch (format) {
    case 1: case 2: case 5: case 7: case 9: case 11: return 0;
    default: return setup != 0 ? 1 : 0;
  }
}

// "0..9": the system formats that run on a kind of board with the mode given (2, or any other),
// by the driver's own test; "" none.
void formatsRun(bool paired, bool fourK, int mode, char* out, size_t size) {
  size_t at = 0;
  out[0] = 0;
  for (int f = 0; f < MxifSystem::N_FORMATS; ++f) {
    const auto runs = [&](int g) { return mxBoardRunsFormat(libmx::systemDriverFormatCode(g, mode), paired, fourK); };
    if (!runs(f)) continue;
    int last = f;
    while (last + 1 < MxifSystem::N_FORMATS && runs(last + 1)) ++last;
    const int n = last == f ? std::snprintf(out + at, size - at, "%s%d", at > 0 ? ", " : "", f)
                            : std::snprintf(out + at, size - at, "%s%d..%d", at > 0 ? ", " : "", f, last);
    at = std::min(size - 1, at + static_cast<size_t>(n));
    f = last;
  }
}

// "<board> runs formats 0..9 (none with mode=2, ...)": what a kind of board runs. The record's mode
// 2 is the 4K board's: its formats take the 4K driver codes.
void boardFormatsText(const char* board, bool paired, bool fourK, char* out, size_t size) {
  constexpr const char* MODE2 = "mode=2, the 4K board's mode";
  char other[32], mode2[32];
  formatsRun(paired, fourK, 0, other, sizeof other);
  formatsRun(paired, fourK, 2, mode2, sizeof mode2);
  if (mode2[0] == 0) {
    std::snprintf(out, size, "%s runs formats %s (none with %s)", board, other[0] != 0 ? other : "none", MODE2);
  } else if (other[0] == 0) {
    std::snprintf(out, size, "%s runs formats %s, each only with %s", board, mode2, MODE2);
  } else {
    std::snprintf(out, size, "%s runs formats %s, and with %s formats %s", board, other, MODE2, mode2);
  }
}

// Horizontal phase in samples: percent of the line length, rounded half away from zero.
int phaseSamples(int percent, int lineLength) {
  const int n = percent * lineLength;
  return n >= 0 ? (n + 50) / 100 : -((-n + 50) / 100);
}

// Multiview input source by routing value 0..10: black, then the ME outputs, then the DSK outputs.
constexpr int MULTIVIEW_SOURCES[] = {MX_BLACK, 4512, 4516, 4520, 4524, 4513, 4517, 4521, 4525, MX_DSK_PGM1, MX_DSK_PGM2};

bool keyOnAir(int me, int channel) {
  const MxifKey* key = CategoryRegistry::instance().record<MxifKey>(me, channel);
  return key != nullptr && key->onAir == 1;
}

bool dskOnAir(int channel) {
  const MxifDsk* dsk = CategoryRegistry::instance().record<MxifDsk>(0, channel);
  return dsk != nullptr && dsk->onAir == 1;
}

// ME output o (0: 5120, 1: 5121) of an ME.
int meOutputSource(const MxifSystemAncillary& a, int me, int o) {
  const u8 mode = o == 0 ? a.meOutput1Mode : a.meOutput2Mode;
  if (mode != 1 && mode != 2) return MX_BLACK;
  const int k = a.perMeKeySelect == 1 ? a.meKeySelect[me] : a.keySelect;
  if (k == 0) {
    const MxifBus* bus = CategoryRegistry::instance().record<MxifBus>(me);
    const bool aOnProgram = bus == nullptr || bus->programBus == 0;
    // Output 1 carries the program bus, output 2 the other one.
    return aOnProgram == (o == 0) ? MX_ABUS : MX_BBUS;
  }
  if (k > N_ROUTED_KEYS || (mode == 2 && !keyOnAir(me, k - 1))) return MX_BLACK;
  return MX_KEY1 + 2 * (k - 1);
}

// A DSK stage fed by stage source v (0..4).
int dskStageSource(u8 mode, int v) {
  const bool dsk = 1 <= v && v <= N_ROUTED_KEYS;
  switch (mode) {
    case 1: return dsk ? MX_DSK1 + 2 * (v - 1) : MX_BKGD;
    case 2:
      if (!dsk) return MX_BKGD;
      return dskOnAir(v - 1) ? MX_DSK1 + 2 * (v - 1) : MX_BLACK;
    default: return MX_BLACK;
  }
}

}  // namespace

CategorySystem& CategorySystem::instance() {
  static CategorySystem category;
  return category;
}

CategorySystem::CategorySystem() {
  option1_.code = internal::MxifButtonEvent::BTN_PANEL_OPTION1;
  option2_.code = internal::MxifButtonEvent::BTN_PANEL_OPTION2;
  CategoryButtonEvent::setHook(ButtonReceiver::SYSTEM,
                               [](CategoryInterface& target, const internal::MxifButtonEvent& ev) {
                                 if (auto* sys = dynamic_cast<CategorySystem*>(&target)) sys->onButtonEvent(ev);
                               });
}

void CategorySystem::onButtonEvent(const internal::MxifButtonEvent& ev) {
  if (ev.panel >= ButtonLatch::N_PANELS || ev.getMe() < N_ME) return;
  const u32 button = static_cast<u32>(ev.getCode());
  ButtonLatch* slot = button == option1_.code ? &option1_ : button == option2_.code ? &option2_ : nullptr;
  if (slot == nullptr) return;
  if (ev.isPressed()) {
    MxifSystem& live = record(0);
    MxifSystem change = live;
    codec::clearPresence(change);
    if (slot == &option1_) {
      change.display.toggle1 = live.display.toggle1 != 0 ? 0 : 1;
      change.display.mask = MxifSystemDisplay::TOGGLE1;
    } else {
      change.display.toggle2 = live.display.toggle2 != 0 ? 0 : 1;
      change.display.mask = MxifSystemDisplay::TOGGLE2;
    }
    libmx::mergeTextRecord(live, change);
    dirty[0] = 1;
  }
  slot->onEvent(ev);
}

void CategorySystem::initData() {
  appliedFormat_ = 0;
  videoPending_ = 0;
  for (ButtonLatch* slot : {&option1_, &option2_}) {
    for (u8& held : slot->held) held = 0;
    slot->clear();
  }
}

void CategorySystem::initInternal() {
  dirty[0] = 0;
  changeFlag_ = 1;
  firstAssignDone_ = 0;
  lockLogged_ = 0;
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
  refuseSaved(codec::refusedFields(in, accepted, live));
  libmx::mergeTextRecord(live, accepted);
  codec::setAllPresence(live);
  appliedFormat_ = flag == 1 ? liveFormat : -1;
  // The first update applies the image's format, mode and scale.
  videoPending_ = VIDEO_FIELDS;
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
  videoPending_ |= accepted.videoMask & VIDEO_FIELDS;
  sentVideo_ |= accepted.videoMask & VIDEO_FIELDS;
  if ((accepted.mask & MxifSystem::BUS_REFRESH) && accepted.busRefresh == 1) {
    for (int me = 0; me < N_ME; ++me) {
      auto* bus = CategoryRegistry::instance().find<BusRefreshTarget>(TYPE_BUS, me);
      if (bus != nullptr) bus->requestRefresh();
    }
  }
  libmx::mergeTextRecord(live, accepted);
  dirty[idx] = 1;
}

// ---- Per frame ----------------------------------------------------------------------------------

void CategorySystem::update() {
  applyVideoFormat();
  mxSdiSetDelay(record(0).sdiDelay == 1 ? 1 : 0);
  applyGenlock();
  applyGenlockPhase();
  applyDisplay();
  showOptionLamps();
  routeOutputs();
  sentVideo_ = 0;
}

void CategorySystem::applyVideoFormat() {
  const MxifSystem& r = record(0);
  const u32 video = videoPending_;
  videoPending_ = 0;
  changeFlag_ = (video & MxifSystem::MODE) != 0 ? 1 : 0;
  int format = appliedFormat_;
  bool familyChanged = false;
  bool formatChanged = false;
  if (video & MxifSystem::FORMAT) {
    changeFlag_ = 1;
    format = r.format;
    const int family = libmx::systemFormatFamily(previousFormat_);
    familyChanged = family < 0 || family != libmx::systemFormatFamily(format);
    formatChanged = previousFormat_ != format;
    previousFormat_ = -1;
    mxLoadFormatTable();
    appliedFormat_ = static_cast<s8>(format);
  }
  float scale = 1.0f;
  if (libmx::isSdFormat(format)) {
    if (video & MxifSystem::SD_SCALE) changeFlag_ = 1;
    if (r.sdScale == 1) scale = SD_NARROW_SCALE;
  }
  if (changeFlag_ == 0) return;
  const int code = libmx::systemDriverFormatCode(format, r.mode);
  if (code >= 0 && !mxBoardRunsFormat(code, mxPairedFpga(), mx4kMode())) noteFormatNotRun(format);
  if (code >= 0) mxSetVideoFormat(code, scale);
  if (familyChanged) {
    if (auto* stills = registered<CategoryStillMemory>(TYPE_STILL_MEMORY)) stills->clearStills();
  }
  if (formatChanged) {
    if (auto* clips = registered<CategoryClipStatus>(TYPE_CLIP_STATUS)) clips->requestReset();
  }
  mxGenlockSetFormatClock();
  if (auto* multiview = registered<CategoryMultiView>(TYPE_MULTI_VIEW)) {
    for (int ch = 0; ch < N_MULTIVIEW_CHANNELS; ++ch) multiview->setVideoFormat(appliedFormat_, 0, ch);
  }
}

void CategorySystem::noteFormatNotRun(int format) {
  // The driver's own test (mxBoardRunsFormat) by the kind of board: the record keeps the format, the
  // video keeps the one it runs.
  static char texts[3][160];
  static const rules::Rule RUNS[3] = {{rules::Effect::NOT_RUN, texts[0]}, {rules::Effect::NOT_RUN, texts[1]},
                                      {rules::Effect::NOT_RUN, texts[2]}};
  static constexpr const char* BOARDS[3] = {"this board, which has no paired FPGA,",
                                            "this board, which has the paired FPGA,", "this 4K board"};
  const int kind = mx4kMode() ? 2 : mxPairedFpga() ? 1 : 0;  // a 4K board has the paired FPGA too
  if (texts[kind][0] == 0) boardFormatsText(BOARDS[kind], mxPairedFpga(), mx4kMode(), texts[kind], sizeof texts[kind]);
  MxifSystem& r = record(0);
  rules::note(RUNS[kind], r, r.format);
  // The mode decided where another mode would run the format.
  const int otherMode = r.mode == 2 ? 0 : 2;
  if (mxBoardRunsFormat(libmx::systemDriverFormatCode(format, otherMode), mxPairedFpga(), mx4kMode())) {
    noteVideoInput(r.mode, MxifSystem::MODE);
  }
}

void CategorySystem::applyGenlock() {
  MxifSystem& r = record(0);
  const int format = appliedFormat_;
  if (libmx::validFormat(format)) {
    // What the format does not allow is corrected and reported.
    const u8 reference = allowedReference(format, r.genlockReference);
    const u8 setup = allowedSetup(format, r.genlockSetup);
    if (reference != r.genlockReference) {
      rules::note(REFERENCE_OF_FORMAT, r, r.genlockReference);
      noteVideoInput(r.format, MxifSystem::FORMAT);
      r.genlockReference = reference;
      r.genlockMask |= MxifSystem::GENLOCK_REFERENCE;
    }
    if (setup != r.genlockSetup) {
      rules::note(SETUP_OF_FORMAT, r, r.genlockSetup);
      noteVideoInput(r.format, MxifSystem::FORMAT);
      r.genlockSetup = setup;
      r.genlockMask |= MxifSystem::GENLOCK_SETUP;
    }
  }
  if ((r.genlockMask & (MxifSystem::GENLOCK_REFERENCE | MxifSystem::GENLOCK_SETUP)) != 0 || changeFlag_ != 0) {
    mxGenlockSetFormatClock();
    switch (r.genlockReference) {
      case 3:
        mxGenlockSetMode(MX_GENLOCK_INTERNAL, MX_GENLOCK_BBST,
                         r.genlockSetup != 0 ? MX_GENLOCK_SETUP : MX_GENLOCK_NO_SETUP);
        break;
      case 0: mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST, MX_GENLOCK_NO_SETUP); break;
      case 1: mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_BBST2, MX_GENLOCK_NO_SETUP); break;
      case 2: mxGenlockSetMode(MX_GENLOCK_EXTERNAL, MX_GENLOCK_TRI, MX_GENLOCK_NO_SETUP); break;
      default: return;
    }
  }
  const bool locked = mxGenlockIsLocked() == 1;
  const char* status = locked ? "Locked" : "Unlocked";
  TextField<9>& text = r.genlockStatus;
  const bool changed = std::strncmp(reinterpret_cast<const char*>(text.chars), status, text.capacity) != 0;
  if (changed) {
    libmx::copyTextChars(text.count, text.chars, reinterpret_cast<const u8*>(status), text.capacity);
    r.genlockMask |= MxifSystem::GENLOCK_STATUS;
  }
  if (changed || lockLogged_ == 0) MX_LOG(libmx::WARN, "%s\n", locked ? "GenLock:LOCK" : "GenLock:UNLOCK");
  lockLogged_ = 1;
}

void CategorySystem::applyGenlockPhase() {
  const MxifSystem& r = record(0);
  const int lineLength = libmx::systemLineLength(appliedFormat_);
  if (lineLength < 0 || (r.phaseMask == 0 && changeFlag_ == 0)) return;
  mxGenlockSetPhase(static_cast<s16>(phaseSamples(r.horizontalPhase, lineLength)), r.verticalOffset + r.verticalPhase);
}

void CategorySystem::applyDisplay() {
  MxifSystemDisplay& d = record(0).display;
  // The extended display takes the output that display option 1 would use.
  const MxifExtendedDisplay* extended = CategoryRegistry::instance().record<MxifExtendedDisplay>();
  if (extended != nullptr && extended->display == 1 && d.toggle1 == 1) {
    static constexpr rules::Rule EXTENDED_TAKES_OUTPUT = {
        rules::Effect::MOVES, "while the extended display is on (MxifExtendedDisplay display=1) it takes the output of "
                              "display option 1: display.toggle1 is set to 0"};
    rules::note(EXTENDED_TAKES_OUTPUT, record(0), d.toggle1);
    rules::input(*extended, extended->display, 0, 0);
    d.toggle1 = 0;
    d.mask |= MxifSystemDisplay::TOGGLE1;
  }
  const int preset = d.toggle2 != 0 ? 2 : d.timingSelect == 1 ? 1 : d.timingSelect == 2 ? 3 : 0;
  mxSetFormatTiming(preset, d.timingFlag != 0 ? 1 : 0);
}

void CategorySystem::showOptionLamps() {
  auto* lamps = registered<CategoryLed>(TYPE_LED);
  if (lamps == nullptr) return;
  constexpr int MAIN_PANEL = 0;
  constexpr int LIT = 2;
  lamps->setLed(MAIN_PANEL, LAMP_OPTION1, option1_.held[MAIN_PANEL] != 0 ? LIT : 0);
  lamps->setLed(MAIN_PANEL, LAMP_OPTION2, option2_.held[MAIN_PANEL] != 0 ? LIT : 0);
}

void CategorySystem::routeOutputs() {
  const MxifSystem& r = record(0);
  const MxifSystemAncillary& a = r.ancillary;
  mxSetMeOutputSource(MX_AUX, a.aux1Follows == 1 ? MX_AUX : MX_BLACK);
  for (int me = 0; me < N_ME; ++me) {
    mxSelectContext(MX_CONTEXT_ME1 + me);
    mxSetMeOutputSource(MX_ME_OUT_1, meOutputSource(a, me, 0));
    mxSetMeOutputSource(MX_ME_OUT_2, meOutputSource(a, me, 1));
  }
  for (int i = 0; i < N_MULTIVIEW_INPUTS; ++i) {
    const u8 v = r.multiviewSource[i];
    mxSetMultiviewSource(MX_MULTI1 + i, v < std::size(MULTIVIEW_SOURCES) ? MULTIVIEW_SOURCES[v] : MX_BLACK);
  }
  // The program outputs first, then their companions.
  const u8* source = a.dskStageSource;
  mxSetDskOutputSource(MX_DSK_PGM1, dskStageSource(a.dskStageMode, source[0]));
  mxSetDskOutputSource(MX_DSK_PGM2, dskStageSource(a.dskStageMode, source[1]));
  mxSetDskOutputSource(MX_DSK_PGM1 + 1, dskStageSource(a.dskStageMode, source[0]));
  mxSetDskOutputSource(MX_DSK_PGM2 + 1, dskStageSource(a.dskStageMode, source[1]));
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
