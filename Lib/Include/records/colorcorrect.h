#pragma once
// MxifColorCorrect (type 46): the settings of one of the twelve colour correction units (channels
// 0..7 on inputs 25..32, 8..11 on outputs 13..16): enable, tone-curve limit, luminance gain and
// pedestal, chroma gain and hue, the four control points of the three tone curves, three option
// groups kept for the front end, six matrix coefficients and twelve hue-sector pairs.
// MxifColorCorrectCmd (type 71): resets or copies a channel's settings.
//
// The record helpers are the codec's: clear (= {}), merge (codec::merge), checked merge (the
// category's assign), copy all (codec::resume), clear presence and has presence.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/records/names.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// A presence word and N values, bit n covering value n.
template <class X, int N>
struct ColorValues {
  u32 mask = 0;
  X value[N] = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.each("value", r.value, r.mask, 0);
  }
};
// One control point of the three tone curves: a value per curve in tenths of a percent.
using ColorCurvePoint = ColorValues<s16, 3>;
static_assert(sizeof(ColorCurvePoint) == 12);  // two alignment bytes at the end
// Four option bytes the front end keeps here.
using ColorOptions = ColorValues<u8, 4>;
// Six matrix coefficients in hundredths.
using ColorMatrix6 = ColorValues<s16, 6>;
static_assert(sizeof(ColorMatrix6) == 16);
// The two values of one hue sector (kept for the front end; the units do not use them).
using ColorSector = ColorValues<s16, 2>;
static_assert(sizeof(ColorSector) == 8);

// An option group: its group word is never set here (it goes out as 0 and is ignored on receipt).
struct ColorOptionGroup {
  u32 group = 0;
  ColorOptions a, b;

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("group", r.group);
    v.sub("a", r.a);
    v.sub("b", r.b);
  }
};
static_assert(sizeof(ColorOptionGroup) == 20);

struct MxifColorCorrect {
  static constexpr int TYPE_INDEX = category::TYPE_COLOR_CORRECT;
  static constexpr int N_CHANNELS = 12;
  static constexpr int N_POINTS = 4, N_GROUPS = 3, N_COEFFS = 6, N_SECTORS = 12;
  static constexpr u8 RESET_ALL = 4;  // the reset target that restores everything

  // Bits of `mask`.
  enum Bit : u32 {
    ENABLE = 1u << 0, CURVE_LIMIT = 1u << 1, LUMA_GAIN = 1u << 2, PEDESTAL = 1u << 3, CHROMA_GAIN = 1u << 4,
    HUE = 1u << 5, FIXED_MATRIX_MODE = 1u << 6, LINK_COMPONENTS = 1u << 7, RESET_TARGET = 1u << 8,
    AUX_SELECTION = 1u << 9, ALL_BITS = 0x3FF,
  };

  u32 mask = 0;
  u16 channel = 0;        // always carried; a record above 11 is dropped
  u8 enable = 0;          // 1: unit on; written to the unit as it stands
  u8 curveLimit = 0;      // 0 none, 1 108 %, 2 104 %, 3 100 %
  s16 lumaGain = 0;       // thousandths
  s16 pedestal = 0;       // thousandths
  s16 chromaGain = 0;     // thousandths
  s16 hue = 0;            // tenths of a degree
  u8 fixedMatrixMode = 0;  // nonzero: normal matrix mode also for a 480i/576i input
  u8 linkComponents = 0;   // 1: every point's second and third values follow its first
  u8 reserved18[2] = {};
  ColorCurvePoint curvePoint[N_POINTS];  // point 1 lowest
  ColorOptionGroup optionGroup[N_GROUPS];
  ColorMatrix6 matrix6;
  ColorSector sector[N_SECTORS];
  u8 resetTarget = 0;   // what the reset command restores
  u8 auxSelection = 0;  // kept for the front end
  u8 reserved242[2] = {};

  static constexpr auto POINT_NAMES = ElementNames<N_POINTS>::numbered("curvePoint", 1);
  static constexpr auto GROUP_NAMES = ElementNames<N_GROUPS>::numbered("optionGroup", 1);
  static constexpr auto SECTOR_NAMES = ElementNames<N_SECTORS>::numbered("sector", 1);

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::channelField(v, "channel", r.channel);
    v.field("enable", r.enable, r.mask, 0);
    v.field("curveLimit", r.curveLimit, r.mask, 1);
    v.field("lumaGain", r.lumaGain, r.mask, 2);
    v.field("pedestal", r.pedestal, r.mask, 3);
    v.field("chromaGain", r.chromaGain, r.mask, 4);
    v.field("hue", r.hue, r.mask, 5);
    v.field("fixedMatrixMode", r.fixedMatrixMode, r.mask, 6);
    v.field("linkComponents", r.linkComponents, r.mask, 7);
    for (int k = 0; k < N_POINTS; ++k) v.sub(POINT_NAMES(k), r.curvePoint[k]);
    for (int k = 0; k < N_GROUPS; ++k) v.sub(GROUP_NAMES(k), r.optionGroup[k]);
    v.sub("matrix6", r.matrix6);
    for (int k = 0; k < N_SECTORS; ++k) v.sub(SECTOR_NAMES(k), r.sector[k]);
    v.field("resetTarget", r.resetTarget, r.mask, 8);
    v.field("auxSelection", r.auxSelection, r.mask, 9);
  }
  // What each field takes from a request (and from a backup image); enable, fixedMatrixMode and the
  // option groups take what they hold.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.curveLimit, 0, 3);
    l.take(r.lumaGain, 0, 2000);
    l.take(r.pedestal, -200, 200);
    l.take(r.chromaGain, 0, 2000);
    l.take(r.hue, MxifBkgd::COLOR[0].lo, MxifBkgd::COLOR[0].hi);  // as a colour's hue
    l.take(r.linkComponents, 0, 1);
    for (const ColorCurvePoint& p : r.curvePoint) l.take(p.value, -100, 1080);
    l.take(r.matrix6.value, -60, 60);
    for (const ColorSector& s : r.sector) l.take(s.value, -300, 300);
    l.take(r.resetTarget, 0, RESET_ALL);
    l.take(r.auxSelection, 0, 27);
  }
};
static_assert(sizeof(MxifColorCorrect) == 244);
static_assert(codec::wireSize<MxifColorCorrect>() == 232);
static_assert(offsetof(MxifColorCorrect, channel) == 4);
static_assert(offsetof(MxifColorCorrect, enable) == 6 && offsetof(MxifColorCorrect, curveLimit) == 7);
static_assert(offsetof(MxifColorCorrect, lumaGain) == 8 && offsetof(MxifColorCorrect, pedestal) == 10);
static_assert(offsetof(MxifColorCorrect, chromaGain) == 12 && offsetof(MxifColorCorrect, hue) == 14);
static_assert(offsetof(MxifColorCorrect, fixedMatrixMode) == 16 && offsetof(MxifColorCorrect, linkComponents) == 17);
static_assert(offsetof(MxifColorCorrect, curvePoint) == 20);
static_assert(offsetof(MxifColorCorrect, optionGroup) == 68);
static_assert(offsetof(MxifColorCorrect, matrix6) == 128);
static_assert(offsetof(MxifColorCorrect, sector) == 144);
static_assert(offsetof(MxifColorCorrect, resetTarget) == 240 && offsetof(MxifColorCorrect, auxSelection) == 241);

// Reset (kind 0) or copy (kind 1) of a channel; the reply carries the request with its result.
struct MxifColorCorrectCmd {
  static constexpr int TYPE_INDEX = category::TYPE_COLOR_CORRECT_CMD;
  enum Kind : u16 { RESET = 0, COPY = 1 };

  u8 first = 0;   // echoed
  u8 second = 0;  // echoed
  u16 kind = 0;
  s16 result = 0;   // ignored on receipt
  u16 channel = 0;  // the channel reset, or the copy's destination
  u16 source = 0;   // the copy's source

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("first", r.first);
    v.field("second", r.second);
    v.field("kind", r.kind);
    codec::tag(v, codec::REPLY);
    v.field("result", r.result);
    v.field("channel", r.channel);
    v.field("source", r.source);
  }
  // What the command acts on (the first and second bytes are echoed whatever they hold); a reset
  // reads no source.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.kind, RESET, COPY);
    l.take(r.channel, 0, MxifColorCorrect::N_CHANNELS - 1);
    l.take(r.source, 0, MxifColorCorrect::N_CHANNELS - 1);
  }
};
static_assert(sizeof(MxifColorCorrectCmd) == 10);
static_assert(codec::wireSize<MxifColorCorrectCmd>() == 10);
