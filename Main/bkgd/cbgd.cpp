#include "Main/bkgd/cbgd.h"

#include <initializer_list>

#include "Driver/cbgd/cbgd.h"
#include "Lib/Include/color.h"
#include "Main/system/system.h"

namespace category {
namespace {


bool hasAny(const MxifCbgd& r, std::initializer_list<int> bits) {
  for (int bit : bits) {
    if ((r.mask >> bit & 1u) != 0) return true;
  }
  return false;
}

int modeOf(const MxifCbgd& r) {
  if (r.wash == 0) return MX_CBGD_FLAT;
  if (r.curve == 1) return MX_CBGD_CURVE;
  return r.form == 0 ? MX_CBGD_WASH : MX_CBGD_WASH2;
}

}  // namespace

CategoryCbgd& CategoryCbgd::instance() {
  static CategoryCbgd cat;
  return cat;
}

void CategoryCbgd::initData() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    record(ch) = MxifCbgd{};
    record(ch).channel = static_cast<u16>(ch);
  }
  MxifCbgd& second = record(1);
  second.color1[1] = 1000;
  second.color1[2] = 1000;
  second.mask |= 1u << MxifCbgd::BIT_COLOR1;
}

void CategoryCbgd::initInternal() {
  CategoryCommon::initInternal();
  for (auto& w : working_) w = Working{};
}

void CategoryCbgd::resume(const void* saved, int flag) {
  CategoryCommon::resume(saved, flag);
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch).channel = static_cast<u16>(ch);
}

void CategoryCbgd::receive(RequestReceiver& rx) {
  MxifCbgd in{};
  if (!rx.readRecord(in)) return;
  rx.clearHeader();
  if (in.channel >= N_CHANNELS) return;
  assign(in, in.channel);
}

bool CategoryCbgd::acceptField(const codec::FieldView& f, const MxifCbgd& in, int idx) {
  (void)idx;
  return limits::check(in, f) != 0;  // the channel, declared by none, is taken
}

void CategoryCbgd::update() {
  CategorySystem& system = CategorySystem::instance();
  const bool applied = system.formatChanged() != 0;
  const bool stepping = system.isFieldPhase(1);
  for (int g = 0; g < N_CHANNELS; ++g) {
    const MxifCbgd& r = record(g);
    Working& w = working_[g];
    const int target = MX_CBGD_1 + g;
    if (applied || hasAny(r, {MxifCbgd::BIT_COLOR1, MxifCbgd::BIT_COLOR2})) {
      for (int c = 0; c < 2; ++c) {
        const s16* hsl = c == 0 ? r.color1 : r.color2;
        u16* ycc = w.colors[c];
        colorToYCbCr(system.format(), hsl[0], hsl[1], hsl[2], &ycc[0], &ycc[1], &ycc[2]);
      }
      const u16(&c)[2][3] = w.colors;
      mxCbgdSetColors(target, c[0][0], c[0][1], c[0][2], c[1][0], c[1][1], c[1][2]);
    }
    if (applied || hasAny(r, {MxifCbgd::BIT_SIZE, MxifCbgd::BIT_CENTRE})) {
      mxCbgdSetWashRange(target, r.size / 1000.0f, r.centre / 1080.0f);
    }
    if (applied || hasAny(r, {MxifCbgd::BIT_WASH, MxifCbgd::BIT_CURVE, MxifCbgd::BIT_FORM})) {
      mxCbgdSetMode(target, modeOf(r));
    }
    if (stepping) {
      w.rate = r.rate / 50.0f + 0.5f;
      if (r.motion == MxifCbgd::SCROLL) {
        w.direction = r.direction / 10.0f;
        w.position += r.speed * 0.25f;
        if (w.position >= 1800.0f) {
          w.position -= 3600.0f;
        } else if (w.position <= -1800.0f) {
          w.position += 3600.0f;
        }
      } else if (r.motion == MxifCbgd::ROTATE) {
        w.position = r.position / 2.5f;
        w.direction += r.speed * 0.05f;
        // 359, not 360: the turn is one degree short.
        if (w.direction > 360.0f) {
          w.direction -= 359.0f;
        } else if (w.direction < 0.0f) {
          w.direction += 359.0f;
        }
      } else {
        w.position = r.position / 2.5f;
        w.direction = r.direction / 10.0f;
      }
    }
    mxCbgdSetWash(target, w.rate, w.position, w.direction);
  }
}

}  // namespace category
