#include "Main/key/colorcorrect.h"

#include <cmath>
#include <numbers>

#include "Driver/core/format.h"
#include "Driver/sdi/sdi.h"
#include "Main/framework/vsync.h"
#include "Main/system/system.h"

namespace category {
namespace {

using R = MxifColorCorrect;

constexpr int N_INPUT_UNITS = 8;
// Hue is in tenths of a degree.
constexpr double HUE_RADIANS_PER_UNIT = std::numbers::pi / 1800.0;
// Points of the straight curves that reset target 1 restores.
constexpr s16 LINEAR_POINTS[R::N_POINTS] = {0, 333, 666, 1000};

// Tone curves: limit in percent by curveLimit (0: none); samples of each segment and their step.
constexpr float CURVE_LIMITS[4] = {0.0f, 108.0f, 104.0f, 100.0f};
constexpr int FIRST_SAMPLE = 96, SEGMENT_SAMPLES = 21, LAST_SAMPLE = 159;
constexpr float T_STEP = 0.046875f;

bool inRange(int v, int low, int high) { return low <= v && v <= high; }
bool isChannel(int ch) { return inRange(ch, 0, R::N_CHANNELS - 1); }

// The middle segment (q1 to q2) of the natural cubic spline through four equally spaced control
// values (tenths of a percent) at t in 0..1, in percent.
float segment(const s16* p, float t) {
  const float q0 = static_cast<float>(p[0]) * 0.1f, q1 = static_cast<float>(p[1]) * 0.1f;
  const float q2 = static_cast<float>(p[2]) * 0.1f, q3 = static_cast<float>(p[3]) * 0.1f;
  const float d1 = q0 + (q2 - 2.0f * q1), d2 = q1 + (q3 - 2.0f * q2);
  const float a = d1 * 0.26666668f - d2 * 0.06666667f, b = d2 * 0.26666668f - d1 * 0.06666667f;
  return q1 + (q2 - q1 - b - 2.0f * a + (3.0f * a + (b - a) * t) * t) * t;
}

// Holds the frames off for a stretch of the main loop; the one that arrived meanwhile runs at its end.
struct FrameDeferral {
  FrameDeferral() { beginVsyncDefer(); }
  ~FrameDeferral() { endVsyncDefer(); }
  FrameDeferral(const FrameDeferral&) = delete;
  FrameDeferral& operator=(const FrameDeferral&) = delete;
};

// The system category's flag of a format applied this frame; none while it is absent.
bool formatApplied() {
  auto* system = CategoryRegistry::instance().find<CategorySystem>(TYPE_SYSTEM, 0);
  return system != nullptr && system->formatChanged() != 0;
}

}  // namespace

void buildColorCorrectCurves(const R& r, float (&curves)[3][CC_CURVE_ENTRIES]) {
  const float limit = CURVE_LIMITS[r.curveLimit < 4 ? r.curveLimit : 0];  // percent
  const bool clamped = limit > 0.0f;
  const float top = limit * 0.01f;
  // A sample in percent as a curve value, and a continued value, each within the limit.
  auto sampled = [&](float s) { return clamped && s < 0.0f ? 0.0f : clamped && s > limit ? top : s * 0.01f; };
  auto limited = [&](float v) { return clamped && v < 0.0f ? 0.0f : clamped && v > top ? top : v; };
  for (int c = 0; c < 3; ++c) {
    float* e = curves[c];
    s16 p[R::N_POINTS + 2];
    for (int k = 0; k < R::N_POINTS; ++k) p[k + 1] = r.curvePoint[k].value[c];
    p[0] = static_cast<s16>(2 * p[1] - p[2]);
    p[5] = static_cast<s16>(2 * p[4] - p[3]);
    // Entry 96 + 21 s + i from segment s; the last sample of a segment overwrites the first of the next.
    float t = 0.0f;
    for (int i = 0; i <= SEGMENT_SAMPLES; ++i) {
      for (int s = 0; s < 3; ++s) e[FIRST_SAMPLE + SEGMENT_SAMPLES * s + i] = sampled(segment(p + s, t));
      t += T_STEP;
    }
    for (int j = FIRST_SAMPLE - 1; j >= 0; --j) e[j] = limited(2.0f * e[j + 1] - e[j + 2]);
    for (int j = LAST_SAMPLE + 1; j < CC_CURVE_ENTRIES; ++j) e[j] = limited(2.0f * e[j - 1] - e[j - 2]);
  }
}

CategoryColorCorrect::CategoryColorCorrect() {
  CategoryRegistry::instance().setCommandOwner(TYPE_COLOR_CORRECT_CMD, TYPE_INDEX);
}

CategoryColorCorrect& CategoryColorCorrect::instance() {
  static CategoryColorCorrect cat;
  return cat;
}

int CategoryColorCorrect::unitOf(int channel) {
  MX_CHECK(isChannel(channel));
  return channel < N_INPUT_UNITS ? MX_IN_25 + channel : MX_OUT_13 + channel - N_INPUT_UNITS;
}

void CategoryColorCorrect::initData() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch).channel = static_cast<u16>(ch);
}

void CategoryColorCorrect::initInternal() {
  CategoryCommon::initInternal();
  resetPending_ = 1;
  for (u8& d : curveDirty_) d = 0;
}

void CategoryColorCorrect::resume(const void* saved, int flag) {
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch) = R{};
  CategoryCommon::resume(saved, flag);
  initData();
}

void CategoryColorCorrect::receive(RequestReceiver& rx) {
  R in{};
  if (!rx.readRecord(in)) return;
  rx.clearHeader();
  if (in.channel >= N_CHANNELS) return;
  assign(in, in.channel);
}

bool CategoryColorCorrect::acceptField(const codec::FieldView& f, const R& in, int idx) {
  (void)idx;
  // enable, fixedMatrixMode and the option groups: any value
  return limits::check(in, f) != 0;
}

int CategoryColorCorrect::resetChannel(int channel, int target) {
  R& live = record(channel);
  if (!inRange(target, 0, R::RESET_ALL)) return FAILED;
  const bool all = target == R::RESET_ALL;
  R r{};
  r.channel = live.channel;
  if (target == 0 || all) {
    r.lumaGain = 1000, r.pedestal = 0, r.chromaGain = 1000, r.hue = 0, r.fixedMatrixMode = 0;
    r.mask |= R::LUMA_GAIN | R::PEDESTAL | R::CHROMA_GAIN | R::HUE | R::FIXED_MATRIX_MODE;
  }
  if (target == 1 || all) {
    r.linkComponents = 0;
    r.mask |= R::LINK_COMPONENTS;
    for (int k = 0; k < R::N_POINTS; ++k) {
      for (s16& v : r.curvePoint[k].value) v = LINEAR_POINTS[k];
      r.curvePoint[k].mask = 7;
    }
  }
  if (target == 2 || all) r.matrix6.mask = 0x3F;
  if (target == 3 || all) {
    for (ColorSector& s : r.sector) s.mask = 3;
  }
  if (all) {
    r.enable = 0, r.curveLimit = 0, r.resetTarget = R::RESET_ALL, r.auxSelection = 0;
    r.mask |= R::ENABLE | R::CURVE_LIMIT | R::RESET_TARGET | R::AUX_SELECTION;
  }
  codec::merge(live, r);
  return DONE;
}

s16 CategoryColorCorrect::runCommand(const MxifColorCorrectCmd& cmd) {
  // A channel outside 0..11 fails the command alone; it changes nothing.
  if (!limits::takes(cmd, cmd.channel)) return FAILED;
  if (cmd.kind == MxifColorCorrectCmd::RESET) {
    return static_cast<s16>(resetChannel(cmd.channel, record(cmd.channel).resetTarget));
  }
  if (cmd.kind != MxifColorCorrectCmd::COPY || !limits::takes(cmd, cmd.source)) return FAILED;
  R copy = record(cmd.source);
  R& destination = record(cmd.channel);
  copy.channel = destination.channel;
  copy.resetTarget = destination.resetTarget;
  copy.auxSelection = destination.auxSelection;
  codec::resume(destination, copy);
  return DONE;
}

void CategoryColorCorrect::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  MxifColorCorrectCmd reply{};
  if (!rx.readRecord(reply)) return;
  reply.result = runCommand(reply);
  if (!AcknowledgeSender::instance().writeRecord(TYPE_COLOR_CORRECT_CMD, reply)) reportSendBufferFull();
}

void CategoryColorCorrect::update() {
  if (formatApplied()) resetPending_ = 1;
  if (resetPending_ != 0) {
    for (int ch = 0; ch < N_CHANNELS; ++ch) {
      mxColorCorrectReset(unitOf(ch));
      curveDirty_[ch] = 1;
    }
    resetPending_ = 0;
  }
  const MxifSystem* system = CategoryRegistry::instance().record<MxifSystem>();
  const int systemFormat = system != nullptr ? system->format : 0;
  for (int ch = 0; ch < N_CHANNELS; ++ch) applyUnit(ch, systemFormat);
}

void CategoryColorCorrect::applyUnit(int channel, int systemFormat) {
  R& r = record(channel);
  const int unit = unitOf(channel);
  const bool sdInput = channel < N_INPUT_UNITS && mxIsSdLine(mxSdiGetFormat(unit));
  const bool sdMatrix = sdInput && !libmx::isSdFormat(systemFormat) && r.fixedMatrixMode == 0;
  mxColorCorrectSetMatrixMode(unit, sdMatrix ? MX_CC_MATRIX_SD : MX_CC_MATRIX_NORMAL);

  if (r.linkComponents == 1) {
    for (ColorCurvePoint& p : r.curvePoint) {
      if (p.mask == 0 && (r.mask & R::LINK_COMPONENTS) == 0) continue;
      p.value[1] = p.value[2] = p.value[0];
      p.mask |= 7;
    }
  }

  mxColorCorrectSetEnable(unit, r.enable);
  if (r.enable == 1) {
    mxColorCorrectSetLevel(unit, static_cast<float>(r.lumaGain / 1000.0), static_cast<float>(r.pedestal / 1000.0));
    const double gain = r.chromaGain / 1000.0, angle = r.hue * HUE_RADIANS_PER_UNIT;
    const float m[4] = {static_cast<float>(gain * std::cos(angle)), static_cast<float>(-gain * std::sin(angle)),
                        static_cast<float>(gain * std::sin(angle)), static_cast<float>(gain * std::cos(angle))};
    for (int s = 0; s < CC_SECTORS; ++s) mxColorCorrectSetHueMatrix(unit, s, m);
    for (int k = 0; k < R::N_COEFFS; ++k) {
      mxColorCorrectSetGain(unit, MX_CC_COEFF_1 + k, static_cast<float>(r.matrix6.value[k] / 100.0));
    }
  }

  bool curvesChanged = (r.mask & (R::CURVE_LIMIT | R::LINK_COMPONENTS)) != 0;
  for (const ColorCurvePoint& p : r.curvePoint) curvesChanged = curvesChanged || p.mask != 0;
  if (curvesChanged) curveDirty_[channel] = 1;
}

void CategoryColorCorrect::refresh() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    if (curveDirty_[ch] == 0) continue;
    // A frame would stream sector matrices through the port the curves use; it runs after the
    // upload, and a curve change it brings flags the channel again for the next pass.
    FrameDeferral deferral;
    curveDirty_[ch] = 0;
    const R snapshot = record(ch);
    float curves[3][CC_CURVE_ENTRIES];
    buildColorCorrectCurves(snapshot, curves);
    mxColorCorrectSetCurves(unitOf(ch), curves[0], curves[1], curves[2]);
  }
}

}  // namespace category
