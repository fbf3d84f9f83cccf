#pragma once
// MxifCbgd (type 6): the settings of one of the two colour background generators: two colours as
// hue, saturation and luminance, flat colour or wash, the curve wash's range, the wash's form,
// rate, position and direction, and a motion that scrolls or rotates the wash.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifCbgd {
  static constexpr int TYPE_INDEX = category::TYPE_CBGD;
  static constexpr int N_CHANNELS = 2;  // MX_CBGD_1, MX_CBGD_2

  // Bits of `mask`.
  enum Bit {
    BIT_COLOR1 = 0, BIT_COLOR2 = 1, BIT_WASH = 2, BIT_CURVE = 3, BIT_SIZE = 4, BIT_CENTRE = 5, BIT_FORM = 6,
    BIT_RATE = 7, BIT_POSITION = 8, BIT_DIRECTION = 9, BIT_MOTION = 10, BIT_SPEED = 11, N_BITS = 12,
  };
  enum Motion { STILL = 0, SCROLL = 1, ROTATE = 2 };

  u32 mask = 0;
  u16 channel = 0;
  s16 color1[3] = {};  // hue, saturation, luminance (tenths)
  s16 color2[3] = {};
  u8 wash = 0;         // 0 flat colour 1, 1 wash
  u8 curve = 0;        // 1: wash through the fixed colour curve
  s16 size = 0;        // range size, thousandths
  s16 centre = 0;      // range centre, in 1/1080
  u8 form = 0;         // 0 or 1: the two-colour wash forms
  u8 reserved25 = 0;
  s16 rate = 0;
  s16 position = 0;
  s16 direction = 0;   // tenths of a degree
  u8 motion = 0;       // Motion
  u8 reserved33 = 0;
  s16 speed = 0;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "channel", r.channel);
    v.field("color1", r.color1, r.mask, BIT_COLOR1);
    v.field("color2", r.color2, r.mask, BIT_COLOR2);
    v.field("wash", r.wash, r.mask, BIT_WASH);
    v.field("curve", r.curve, r.mask, BIT_CURVE);
    v.field("size", r.size, r.mask, BIT_SIZE);
    v.field("centre", r.centre, r.mask, BIT_CENTRE);
    v.field("form", r.form, r.mask, BIT_FORM);
    v.field("rate", r.rate, r.mask, BIT_RATE);
    v.field("position", r.position, r.mask, BIT_POSITION);
    v.field("direction", r.direction, r.mask, BIT_DIRECTION);
    v.field("motion", r.motion, r.mask, BIT_MOTION);
    v.field("speed", r.speed, r.mask, BIT_SPEED);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    MxifBkgd::takeColor(l, r.color1);
    MxifBkgd::takeColor(l, r.color2);
    l.take(r.wash, 0, 1);
    l.take(r.curve, 0, 1);
    l.take(r.size, 0, 1000);
    l.take(r.centre, 0, 1080);
    l.take(r.form, 0, 1);
    l.take(r.rate, 0, 1000);
    l.take(r.position, -1800, 1800);
    l.take(r.direction, 0, 3600);
    l.take(r.motion, STILL, ROTATE);
    l.take(r.speed, -500, 500);
  }
};
static_assert(sizeof(MxifCbgd) == 36);
static_assert(codec::wireSize<MxifCbgd>() == 34);
static_assert(offsetof(MxifCbgd, channel) == 4);
static_assert(offsetof(MxifCbgd, color1) == 6);
static_assert(offsetof(MxifCbgd, color2) == 12);
static_assert(offsetof(MxifCbgd, wash) == 18);
static_assert(offsetof(MxifCbgd, curve) == 19);
static_assert(offsetof(MxifCbgd, size) == 20);
static_assert(offsetof(MxifCbgd, centre) == 22);
static_assert(offsetof(MxifCbgd, form) == 24);
static_assert(offsetof(MxifCbgd, rate) == 26);
static_assert(offsetof(MxifCbgd, position) == 28);
static_assert(offsetof(MxifCbgd, direction) == 30);
static_assert(offsetof(MxifCbgd, motion) == 32);
static_assert(offsetof(MxifCbgd, speed) == 34);
