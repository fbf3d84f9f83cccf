#pragma once
// MxifKey (type 0): the four key channels of one ME, one 420-byte channel record each, and the
// keyer sub-records "style", "adjust" and "edge" that the downstream and up-stream key records
// carry as well.
//
// Memory layout (that of the backup image) keeps the fields at the offsets the other areas read;
// on the wire the fields follow in the order of `fields`, big-endian, without padding, the two
// names in their text form, so a body is 342 bytes plus the two name lengths.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/text.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// Key type and flags of a keyer.
struct KeyStyle {
  // The key type of a chroma key, whose settings are in MxifChromaKey.
  static constexpr u8 CHROMA_KEY_TYPE = 2;

  u32 mask = 0;
  u8 keyType = 0;      // bit 0 (2: chroma key in the key record)
  u8 secondLevel = 0;  // bit 1, used with key type 0
  u8 option = 0;       // bit 2
  u8 keySource = 0;    // bit 3: with a non-zero key type the key signal comes from the key bus
  u8 secondMode = 0;   // bit 4

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("keyType", r.keyType, r.mask, 0);
    v.field("secondLevel", r.secondLevel, r.mask, 1);
    v.field("option", r.option, r.mask, 2);
    v.field("keySource", r.keySource, r.mask, 3);
    v.field("secondMode", r.secondMode, r.mask, 4);
  }
  // The key type's limit is the record's (KEY_TYPE_MAX).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.secondLevel, 0, 1);
    l.take(r.option, 0, 1);
    l.take(r.keySource, 0, 1);
    l.take(r.secondMode, 0, 1);
  }
};

// Clip level, gain, density and the first mode flag of a keyer.
struct KeyAdjust {
  static constexpr u16 CLIP_MAX = 1080, GAIN_MAX = 2000, DENSITY_MAX = 1000;
  u32 mask = 0;
  u16 clip = 0;     // bit 0
  u16 gain = 0;     // bit 1
  u16 density = 0;  // bit 2
  u8 modeFlag = 0;  // bit 3

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("clip", r.clip, r.mask, 0);
    v.field("gain", r.gain, r.mask, 1);
    v.field("density", r.density, r.mask, 2);
    v.field("modeFlag", r.modeFlag, r.mask, 3);
  }
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.clip, 0, CLIP_MAX);
    l.take(r.gain, 0, GAIN_MAX);
    l.take(r.density, 0, DENSITY_MAX);
    l.take(r.modeFlag, 0, 1);
  }
};

// Key edge: type, width, direction (x 45 degrees), level ((v + 1) / 4) and fill source.
struct KeyEdge {
  static constexpr u8 WIDTH_MAX = 4, DIRECTION_MAX = 7;
  u32 mask = 0;
  u8 type = 0;       // bit 0
  u8 width = 0;      // bit 1
  u8 direction = 0;  // bit 2
  u8 level = 0;      // bit 3
  u8 fill = 0;       // bit 4

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("type", r.type, r.mask, 0);
    v.field("width", r.width, r.mask, 1);
    v.field("direction", r.direction, r.mask, 2);
    v.field("level", r.level, r.mask, 3);
    v.field("fill", r.fill, r.mask, 4);
  }
  // The fill's limit is the record's (EDGE_FILL_MAX).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.type, 0, 4);
    l.take(r.width, 0, WIDTH_MAX);
    l.take(r.direction, 0, DIRECTION_MAX);
    l.take(r.level, 0, 3);
  }
};

static_assert(sizeof(KeyStyle) == 12 && sizeof(KeyAdjust) == 12 && sizeof(KeyEdge) == 12);

// The keyer fields in the wire order shared by the key and downstream key records: "style",
// "adjust", the matte colour, "edge", the edge colour, the mask sub-record and the mask box, the
// colours and box under bits 0..2 of word 0.
template <class V, class R>
constexpr void keyerFieldList(V& v, R& r) {
  v.sub("style", r.style);
  v.sub("adjust", r.adjust);
  v.field("matteColor", r.matteColor, r.mask, R::W0_MATTE_COLOR);
  v.sub("edge", r.edge);
  v.field("edgeColor", r.edgeColor, r.mask, R::W0_EDGE_COLOR);
  v.sub("maskSet", r.maskSet);
  v.field("maskBox", r.maskBox, r.mask, R::W0_MASK_BOX);
}

// What the in and out transitions of a key or downstream key record take (modes up to the record's
// TRANS_MODE_MAX), with their link and the reverse byte.
template <class L, class R>
constexpr void keyTransLimits(L& l, R& r) {
  l.sub(r.transIn);
  l.take(r.transIn.mode, 0, R::TRANS_MODE_MAX);
  l.sub(r.transOut);
  l.take(r.transOut.mode, 0, R::TRANS_MODE_MAX);
  l.take(r.inOutLink, 0, 1);
  l.take(r.reverse, 0, 1);
}

// What the keyer fields of keyerFieldList take: key types up to the record's KEY_TYPE_MAX, edge fills
// up to its EDGE_FILL_MAX.
template <class L, class R>
constexpr void keyerLimits(L& l, R& r) {
  l.take(r.style.keyType, 0, R::KEY_TYPE_MAX);
  l.sub(r.style);
  l.sub(r.adjust);
  MxifBkgd::takeColor(l, r.matteColor);
  l.sub(r.edge);
  l.take(r.edge.fill, 0, R::EDGE_FILL_MAX);
  MxifBkgd::takeColor(l, r.edgeColor);
  l.sub(r.maskSet);
  l.take(r.maskBox, MxifBkgd::EDGE_MIN, MxifBkgd::EDGE_MAX);
}

struct MxifKey {
  static constexpr int TYPE_INDEX = category::TYPE_KEY;
  static constexpr int N_CHANNELS = 4;
  static constexpr bool PER_ME = true;
  // Body bytes besides the two name lengths.
  static constexpr u32 WIRE_FIXED = 342;
  // What sets the status bytes of a key's transition.
  static constexpr const char* TRANSITION = "the key's transition (buttons key-cut, key-auto, key-trans, or onAir)";
  // What an onAir sent does (CategoryKey::serveOnAirRequest).
  static constexpr const char* ON_AIR_REQUEST =
      "an onAir other than the key's state ends its transition at once, as do keys grouped with it that share its "
      "state: a key at rest cuts, one in transition completes it";
  static constexpr int NAME_CAPACITY = 12;
  static constexpr u8 KEY_TYPE_MAX = 3, EDGE_FILL_MAX = 2;
  static constexpr u8 TRANS_MODE_MAX = 1;  // 0 MIX, 1 effect
  // Keys 1 and 2 have a DVE: rotation, scale and perspective, and a size up to four times the frame
  // (10000 = the frame).
  static constexpr int N_DVE_KEYS = 2;
  static constexpr s32 SIZE_MAX_DVE = 40000, SIZE_MAX_PLAIN = 10000;
  // A DVE scale in ten-thousandths: 0 stands for the full size.
  static constexpr s16 SCALE_MIN = 5000, SCALE_FULL = 10000;
  static constexpr rules::Range SCALE_VALUES[] = {{0, 0}, {SCALE_MIN, SCALE_FULL}};
  static constexpr s16 BORDER_WIDTH_MAX = 1000;

  // Bits of `mask` (word 0).
  enum Word0Bit {
    W0_MATTE_COLOR = 0, W0_EDGE_COLOR = 1, W0_MASK_BOX = 2, W0_SOFT_ON = 3, W0_SOFTNESS = 4,
    W0_THIRD_COLOR = 5, W0_WINDOW = 6, W0_DVE_TRANS_ON = 7, W0_DVE_SHAPE_ON = 8, W0_DVE_SHAPE_TYPE = 9,
    W0_DVE_BORDER_SCALE = 10, W0_DVE_BORDER_COLOR = 11, W0_DVE_POSITION = 12, W0_DVE_SIZE = 13,
    W0_DVE_TRIPLE1 = 14, W0_DVE_VALUE1 = 15, W0_DVE_ROTATION = 16, W0_DVE_TRIPLE2 = 17, W0_DVE_VALUE2 = 18,
    W0_DVE_VALUE3 = 19, W0_DVE_PERSPECTIVE = 20, W0_DVE_CROP = 21, W0_FOLLOWER = 22, W0_MIRROR_MODE = 23,
    W0_EFFECT_PARAMS = 24, W0_EFFECT_SIZE = 25, W0_DVE_ANGLES = 26, W0_DVE_TRIPLE3 = 27, W0_IN_OUT_LINK = 28,
    W0_REVERSE = 29, W0_EFFECT_A = 30, W0_EFFECT_B = 31,
  };
  // Bits of `mask1` (word 1).
  enum Word1Bit {
    W1_EFFECT_BOTH = 0, W1_TRAVEL_ON = 1, W1_TRAVEL34 = 2, W1_TRAVEL34_REV = 3, W1_TRAVEL34_BOTH = 4,
    W1_TRAVEL12 = 5, W1_TRAVEL12_REV = 6, W1_TRAVEL12_BOTH = 7, W1_TRANS_TRIPLE1 = 8, W1_SPIN = 9,
    W1_SPIN_REV = 10, W1_SPIN_BOTH = 11, W1_TRANS_TRIPLE2 = 12, W1_PRIORITY = 13, W1_GROUP = 14,
    W1_KEY_SETTING = 15, W1_ON_AIR = 16, W1_STATUS_FLAG = 17, W1_STOPPING = 18, W1_IN_TRANSITION = 19,
  };

  // Box mask mode (0 off, 1 fixed box by video format, 2 box from maskBox), sense and enable.
  struct MaskSet {
    u32 mask = 0;
    u8 mode = 0;    // bit 0
    u8 sense = 0;   // bit 1
    u8 enable = 0;  // bit 2
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("mode", r.mode, r.mask, 0);
      v.field("sense", r.sense, r.mask, 1);
      v.field("enable", r.enable, r.mask, 2);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.mode, 0, 2);
      l.take(r.sense, 0, 1);
      l.take(r.enable, 0, 1);
    }
  };
  struct DveBorder {
    u32 mask = 0;
    u8 on = 0;         // bit 0
    s16 width = 0;     // bit 1
    s16 softness = 0;  // bit 2
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("on", r.on, r.mask, 0);
      v.field("width", r.width, r.mask, 1);
      v.field("softness", r.softness, r.mask, 2);
    }
  };
  // A pair of 16-bit values under bits 0 and 1 (DVE scale x, y; the key DVE pair).
  struct Pair {
    u32 mask = 0;
    s16 first = 0;   // bit 0
    s16 second = 0;  // bit 1
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("first", r.first, r.mask, 0);
      v.field("second", r.second, r.mask, 1);
    }
  };
  // DVE shape mode and the crop clamp mode of dveCrop.
  struct DveShape {
    u32 mask = 0;
    u8 mode = 0;      // bit 0
    u8 cropMode = 0;  // bit 1
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("mode", r.mode, r.mask, 0);
      v.field("cropMode", r.cropMode, r.mask, 1);
    }
  };
  // Three byte flags under bits 0..2.
  struct Flags3 {
    u32 mask = 0;
    u8 flag[3] = {};
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.each("flag", r.flag, r.mask, 0);
    }
  };
  // One transition setting: on, mode (0 MIX, 1 effect) and value.
  struct Trans {
    static constexpr u16 RATE_MAX = 999;
    u32 mask = 0;
    u8 on = 0;      // bit 0
    u8 mode = 0;    // bit 1
    u16 value = 0;  // bit 2
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("on", r.on, r.mask, 0);
      v.field("mode", r.mode, r.mask, 1);
      v.field("value", r.value, r.mask, 2);
    }
    // The mode's limit is the record's (TRANS_MODE_MAX).
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.on, 0, 1);
      l.take(r.value, 0, RATE_MAX);
    }
  };
  struct TransSettings {
    u32 mask = 0;
    u8 setting1 = 0;   // bit 0
    s16 setting2 = 0;  // bit 1
    u8 setting3 = 0;   // bit 2
    u8 setting4 = 0;   // bit 3
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("setting1", r.setting1, r.mask, 0);
      v.field("setting2", r.setting2, r.mask, 1);
      v.field("setting3", r.setting3, r.mask, 2);
      v.field("setting4", r.setting4, r.mask, 3);
    }
  };
  struct Names {
    u32 mask = 0;
    TextField<NAME_CAPACITY> name1 = {};  // bit 0
    TextField<NAME_CAPACITY> name2 = {};  // bit 1
    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      MX_TEXT_FIELD(v, r, name1, mask, 0);
      MX_TEXT_FIELD(v, r, name2, mask, 1);
    }
  };

  // The wipe patterns that the transition engine draws for a key: by kind (0..3), a bit per number
  // 0..29. The free patterns (kind 0 number 23, kind 3 numbers 22 and 23) need the background's
  // free-pattern geometry, which a key record lacks; kind 1 numbers 20..22 are never drawn for a key;
  // kind 3 numbers 12..21 reach only the end states.
  static constexpr u32 PATTERNS[MxifBkgd::N_PATTERN_KINDS] = {
      0x00017FFF,  // 0..14, 16
      0x008FFFFF,  // 0..19, 23
      0x0000FFFF,  // 0..15
      0x00000FFF,  // 0..11
  };

  // The rules declared with their fields (the key category applies them).
  static constexpr auto SCALE_ZERO_TEXT = rules::compose("a dveScale value of 0 stands for ", SCALE_FULL, ", the full size");
  static constexpr rules::Rule SCALE_ZERO = {rules::Effect::SAME, SCALE_ZERO_TEXT.chars};
  static constexpr rules::Rule BORDER_WIDTH = {rules::Effect::REFUSES,
                                               "a border keeps a width: a dveBorder.width of 0 is not taken"};
  static constexpr rules::Rule WITH_TRIPLE = {
      rules::Effect::REFUSES, "dveValue2 and dveValue3 are taken only with dveTriple2, sent in the same request"};

  // The largest DVE size of key channel 0..3, and the sizes a channel takes.
  static constexpr s32 sizeMax(int channel) { return channel < N_DVE_KEYS ? SIZE_MAX_DVE : SIZE_MAX_PLAIN; }
  static constexpr int dveSizes(const limits::Inputs& in, limits::Runs& out) {
    out.add(0, sizeMax(in.channel));
    return 0;
  }
  static constexpr limits::Computed DVE_SIZE = {&dveSizes, false, true};
  // An effect pair ([0] number, [1] kind): keys 1 and 2 take every kind, keys 3 and 4 kind 0 alone;
  // the number is one that the keys' pattern table draws for the kind (any where the kind is refused).
  static constexpr int effectKinds(const limits::Inputs& in, limits::Runs& out) {
    out.add(0, in.channel < N_DVE_KEYS ? MxifBkgd::N_PATTERN_KINDS - 1 : 0);
    return 0;
  }
  static constexpr int effectNumbers(const limits::Inputs& in, limits::Runs& out) {
    limits::Runs kinds;
    effectKinds(in, kinds);
    if (!kinds.holds(in.value[0])) {
      out.add(0, 0xFF);
      return 0;
    }
    for (int n = 0; n < MxifBkgd::N_PATTERN_NUMBERS; ++n) {
      if ((PATTERNS[in.value[0]] >> n & 1u) != 0) out.add(n, n);
    }
    return 1;
  }
  static constexpr limits::Computed EFFECT_KIND = {&effectKinds, false, true};
  static constexpr limits::Computed EFFECT_NUMBER = {&effectNumbers, false, true};

  u32 mask = 0;
  u32 mask1 = 0;
  u8 me = 0;
  u16 channel = 0;
  KeyStyle style;
  KeyAdjust adjust;
  s16 matteColor[3] = {};  // hue, saturation, luminance in tenths
  KeyEdge edge;
  s16 edgeColor[3] = {};
  MaskSet maskSet;
  s16 maskBox[4] = {};  // left, top, bottom, right
  u8 softOn = 0;
  s16 softness = 0;
  s16 thirdColor[3] = {};
  s16 window[4] = {};  // centre x, centre y, width, height
  u8 dveTransOn = 0;
  u8 dveShapeOn = 0;
  u8 dveShapeType = 0;
  DveBorder dveBorder;
  u8 dveBorderScale = 0;
  s16 dveBorderColor[3] = {};
  s16 dvePosition[3] = {};  // x, y (upwards), z
  s32 dveSize = 0;          // 10000 = full size
  s16 dveTriple1[3] = {};
  s32 dveValue1 = 0;
  s16 dveRotation[3] = {};  // tenths of a degree
  Pair dveScale;            // x, y in ten-thousandths; 0 stands for 10000
  s16 dveTriple2[3] = {};
  s16 dveValue2 = 0;
  s16 dveValue3 = 0;
  DveShape dveShape;
  s16 dvePerspective = 0;
  s16 dveCrop[4] = {};  // left, top, bottom, right
  u8 follower = 0;      // 0 none, n: key n follows this key
  u8 mirrorMode = 0;
  Flags3 dveSettings;
  s16 effectParams[3] = {};
  s32 effectSize = 0;
  s16 dveAngles[3] = {};
  Pair dvePair;
  s16 dveTriple3[3] = {};
  Trans transIn;   // setting A
  Trans transOut;  // setting B, used while the transition runs reversed unless linked
  u8 inOutLink = 0;
  u8 reverse = 0;  // status: the key transition runs backwards
  u8 effectA[2] = {};  // effect number, kind
  u8 effectB[2] = {};
  u8 effectBoth = 0;
  u8 travelOn = 0;
  s16 travel34[2] = {};  // travel start x, y of keys 3 and 4
  s16 travel34Rev[2] = {};
  u8 travel34Both = 0;
  s16 travel12[2] = {};  // travel start x, y of keys 1 and 2
  s16 travel12Rev[2] = {};
  u8 travel12Both = 0;
  s16 transTriple1[3] = {};
  MxifModify pageTurn = {};
  s16 spin[3] = {};
  s16 spinRev[3] = {};
  u8 spinBoth = 0;
  s16 transTriple2[3] = {};
  TransSettings transSettings;
  MxifBkgd::Selectors shift = {};  // multi-pattern shift counts x, y and their link
  MxifBkgd::Modulation modulationX = {};
  MxifBkgd::Modulation modulationY = {};
  u8 priority = 0;  // rank among the ME's four keys
  u8 group = 0;
  u8 keySetting = 0;
  Flags3 flags;
  u8 onAir = 0;
  u8 statusFlag = 0;
  u8 stopping = 0;      // status: auto transition stopping
  u8 inTransition = 0;  // status
  Names names;

  // Fields in wire order (the "dveSettings" sub-record travels last).
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.mask("mask1", r.mask1);
    codec::meField(v, "me", r.me);
    codec::channelField(v, "channel", r.channel);
    keyerFieldList(v, r);
    v.field("softOn", r.softOn, r.mask, W0_SOFT_ON);
    v.field("softness", r.softness, r.mask, W0_SOFTNESS);
    v.field("thirdColor", r.thirdColor, r.mask, W0_THIRD_COLOR);
    v.field("window", r.window, r.mask, W0_WINDOW);
    v.field("dveTransOn", r.dveTransOn, r.mask, W0_DVE_TRANS_ON);
    v.field("dveShapeOn", r.dveShapeOn, r.mask, W0_DVE_SHAPE_ON);
    v.field("dveShapeType", r.dveShapeType, r.mask, W0_DVE_SHAPE_TYPE);
    v.sub("dveBorder", r.dveBorder);
    v.field("dveBorderScale", r.dveBorderScale, r.mask, W0_DVE_BORDER_SCALE);
    v.field("dveBorderColor", r.dveBorderColor, r.mask, W0_DVE_BORDER_COLOR);
    v.field("dvePosition", r.dvePosition, r.mask, W0_DVE_POSITION);
    v.field("dveSize", r.dveSize, r.mask, W0_DVE_SIZE);
    v.field("dveTriple1", r.dveTriple1, r.mask, W0_DVE_TRIPLE1);
    v.field("dveValue1", r.dveValue1, r.mask, W0_DVE_VALUE1);
    v.field("dveRotation", r.dveRotation, r.mask, W0_DVE_ROTATION);
    v.sub("dveScale", r.dveScale);
    v.field("dveTriple2", r.dveTriple2, r.mask, W0_DVE_TRIPLE2);
    v.field("dveValue2", r.dveValue2, r.mask, W0_DVE_VALUE2);
    v.field("dveValue3", r.dveValue3, r.mask, W0_DVE_VALUE3);
    v.sub("dveShape", r.dveShape);
    v.field("dvePerspective", r.dvePerspective, r.mask, W0_DVE_PERSPECTIVE);
    v.field("dveCrop", r.dveCrop, r.mask, W0_DVE_CROP);
    v.field("follower", r.follower, r.mask, W0_FOLLOWER);
    v.field("mirrorMode", r.mirrorMode, r.mask, W0_MIRROR_MODE);
    v.field("effectParams", r.effectParams, r.mask, W0_EFFECT_PARAMS);
    v.field("effectSize", r.effectSize, r.mask, W0_EFFECT_SIZE);
    v.field("dveAngles", r.dveAngles, r.mask, W0_DVE_ANGLES);
    v.sub("dvePair", r.dvePair);
    v.field("dveTriple3", r.dveTriple3, r.mask, W0_DVE_TRIPLE3);
    v.sub("transIn", r.transIn);
    v.sub("transOut", r.transOut);
    v.field("inOutLink", r.inOutLink, r.mask, W0_IN_OUT_LINK);
    codec::tag(v, codec::status(TRANSITION));
    v.field("reverse", r.reverse, r.mask, W0_REVERSE);
    v.field("effectA", r.effectA, r.mask, W0_EFFECT_A);
    v.field("effectB", r.effectB, r.mask, W0_EFFECT_B);
    v.field("effectBoth", r.effectBoth, r.mask1, W1_EFFECT_BOTH);
    v.field("travelOn", r.travelOn, r.mask1, W1_TRAVEL_ON);
    v.field("travel34", r.travel34, r.mask1, W1_TRAVEL34);
    v.field("travel34Rev", r.travel34Rev, r.mask1, W1_TRAVEL34_REV);
    v.field("travel34Both", r.travel34Both, r.mask1, W1_TRAVEL34_BOTH);
    v.field("travel12", r.travel12, r.mask1, W1_TRAVEL12);
    v.field("travel12Rev", r.travel12Rev, r.mask1, W1_TRAVEL12_REV);
    v.field("travel12Both", r.travel12Both, r.mask1, W1_TRAVEL12_BOTH);
    v.field("transTriple1", r.transTriple1, r.mask1, W1_TRANS_TRIPLE1);
    v.sub("pageTurn", r.pageTurn);
    v.field("spin", r.spin, r.mask1, W1_SPIN);
    v.field("spinRev", r.spinRev, r.mask1, W1_SPIN_REV);
    v.field("spinBoth", r.spinBoth, r.mask1, W1_SPIN_BOTH);
    v.field("transTriple2", r.transTriple2, r.mask1, W1_TRANS_TRIPLE2);
    v.sub("transSettings", r.transSettings);
    v.sub("shift", r.shift);
    v.sub("modulationX", r.modulationX);
    v.sub("modulationY", r.modulationY);
    v.field("priority", r.priority, r.mask1, W1_PRIORITY);
    v.field("group", r.group, r.mask1, W1_GROUP);
    v.field("keySetting", r.keySetting, r.mask1, W1_KEY_SETTING);
    v.sub("flags", r.flags);
    codec::tag(v, codec::onAirRequest(ON_AIR_REQUEST));
    v.field("onAir", r.onAir, r.mask1, W1_ON_AIR);
    v.field("statusFlag", r.statusFlag, r.mask1, W1_STATUS_FLAG);
    codec::tag(v, codec::status(TRANSITION));
    v.field("stopping", r.stopping, r.mask1, W1_STOPPING);
    codec::tag(v, codec::status(TRANSITION));
    v.field("inTransition", r.inTransition, r.mask1, W1_IN_TRANSITION);
    v.sub("names", r.names);
    v.sub("dveSettings", r.dveSettings);
  }

  // What each field takes from a request (and from a backup image); the transition settings and the
  // names take what they hold (a name as the escape rule of texts allows).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    keyerLimits(l, r);
    l.take(r.softOn, 0, 1);
    l.take(r.softness, 0, 1000);
    MxifBkgd::takeColor(l, r.thirdColor);
    l.take(r.window[0], -5000, 5000);  // centre x, y
    l.take(r.window[1], -5000, 5000);
    l.take(r.window[2], 0, 10000);  // width, height
    l.take(r.window[3], 0, 10000);
    l.take(r.dveTransOn, 0, 1);
    l.take(r.dveShapeOn, 0, 1);
    l.take(r.dveShapeType, 0, 4);
    l.take(r.dveBorder.on, 0, 1);
    l.take(r.dveBorder.width, 0, BORDER_WIDTH_MAX);
    l.rule(r.dveBorder.width, BORDER_WIDTH, limits::refuses(0, 0));
    l.take(r.dveBorder.softness, 0, 1000);
    l.take(r.dveBorderScale, 0, 1);
    MxifBkgd::takeColor(l, r.dveBorderColor);
    l.take(r.dvePosition, -10000, 10000);
    l.take(r.dveSize, DVE_SIZE);
    l.take(r.dveTriple1, -5000, 5000);
    l.take(r.dveValue1, 0, 10000);
    l.take(r.dveRotation, -28800, 28800);
    l.take(r.dveScale.first, SCALE_VALUES);
    l.rule(r.dveScale.first, SCALE_ZERO);
    l.take(r.dveScale.second, SCALE_VALUES);
    l.rule(r.dveScale.second, SCALE_ZERO);
    l.take(r.dveTriple2, -5000, 5000);
    l.take(r.dveValue2, -100, 100);
    l.rule(r.dveValue2, WITH_TRIPLE, limits::REFUSES_ALL);
    l.take(r.dveValue3, 0, 65);
    l.rule(r.dveValue3, WITH_TRIPLE, limits::REFUSES_ALL);
    l.take(r.dveShape.mode, 0, 2);
    l.take(r.dveShape.cropMode, 0, 1);
    l.take(r.dvePerspective, -5000, 5000);
    l.take(r.dveCrop, MxifBkgd::EDGE_MIN, MxifBkgd::EDGE_MAX);
    l.take(r.follower, 0, N_CHANNELS);
    l.take(r.mirrorMode, 0, 3);
    l.take(r.dveSettings.flag[0], 0, 1);
    l.take(r.dveSettings.flag[1], 0, 1);
    l.take(r.dveSettings.flag[2], 0, 4);
    l.take(r.effectParams, -10000, 10000);
    l.take(r.effectSize, 0, 40000);
    l.take(r.dveAngles, -720, 720);
    l.take(r.dvePair.first, -999, 999);
    l.take(r.dvePair.second, -999, 999);
    l.take(r.dveTriple3, -5000, 5000);
    keyTransLimits(l, r);
    l.take(r.effectA[1], EFFECT_KIND);
    l.take(r.effectA[0], EFFECT_NUMBER, r.effectA[1]);
    l.take(r.effectB[1], EFFECT_KIND);
    l.take(r.effectB[0], EFFECT_NUMBER, r.effectB[1]);
    l.take(r.effectBoth, 0, 1);
    l.take(r.travelOn, 0, 2);
    l.take(r.travel34, -10000, 10000);
    l.take(r.travel34Rev, -10000, 10000);
    l.take(r.travel34Both, 0, 1);
    l.take(r.travel12, -10000, 10000);
    l.take(r.travel12Rev, -10000, 10000);
    l.take(r.travel12Both, 0, 1);
    l.take(r.transTriple1, -40, 40);
    l.sub(r.pageTurn);
    l.take(r.spin, -40, 40);
    l.take(r.spinRev, -40, 40);
    l.take(r.spinBoth, 0, 1);
    l.take(r.transTriple2, -500, 500);
    l.sub(r.shift);
    l.sub(r.modulationX);
    l.sub(r.modulationY);
    l.take(r.priority, 0, N_CHANNELS - 1);
    l.take(r.group, 0, 1);
    l.take(r.keySetting, 0, 32);
    l.take(r.flags.flag, 0, 1);
    l.take(r.onAir, 0, 1);
    l.take(r.statusFlag, 0, 1);
    l.take(r.stopping, 0, 1);
    l.take(r.inTransition, 0, 1);
  }
};

static_assert(sizeof(MxifKey) == 420);
static_assert(codec::wireSize<MxifKey>() == 366);
static_assert(offsetof(MxifKey, mask1) == 4);
static_assert(offsetof(MxifKey, me) == 8);
static_assert(offsetof(MxifKey, channel) == 10);
static_assert(offsetof(MxifKey, style) == 12 && offsetof(MxifKey, style) + offsetof(KeyStyle, keyType) == 16);
static_assert(offsetof(MxifKey, style) + offsetof(KeyStyle, keySource) == 19);
static_assert(offsetof(MxifKey, style) + offsetof(KeyStyle, secondMode) == 20);
static_assert(offsetof(MxifKey, adjust) == 24 && offsetof(MxifKey, adjust) + offsetof(KeyAdjust, clip) == 28);
static_assert(offsetof(MxifKey, adjust) + offsetof(KeyAdjust, density) == 32);
static_assert(offsetof(MxifKey, adjust) + offsetof(KeyAdjust, modeFlag) == 34);
static_assert(offsetof(MxifKey, matteColor) == 36);
static_assert(offsetof(MxifKey, edge) == 44 && offsetof(MxifKey, edge) + offsetof(KeyEdge, type) == 48);
static_assert(offsetof(MxifKey, edge) + offsetof(KeyEdge, fill) == 52);
static_assert(offsetof(MxifKey, edgeColor) == 56);
static_assert(offsetof(MxifKey, maskSet) == 64 && offsetof(MxifKey, maskSet) + offsetof(MxifKey::MaskSet, mode) == 68);
static_assert(offsetof(MxifKey, maskSet) + offsetof(MxifKey::MaskSet, enable) == 70);
static_assert(offsetof(MxifKey, maskBox) == 72);
static_assert(offsetof(MxifKey, softOn) == 80 && offsetof(MxifKey, softness) == 82);
static_assert(offsetof(MxifKey, thirdColor) == 84 && offsetof(MxifKey, window) == 90);
static_assert(offsetof(MxifKey, dveTransOn) == 98 && offsetof(MxifKey, dveShapeOn) == 99);
static_assert(offsetof(MxifKey, dveShapeType) == 100);
static_assert(offsetof(MxifKey, dveBorder) == 104);
static_assert(offsetof(MxifKey, dveBorder) + offsetof(MxifKey::DveBorder, on) == 108);
static_assert(offsetof(MxifKey, dveBorder) + offsetof(MxifKey::DveBorder, width) == 110);
static_assert(offsetof(MxifKey, dveBorder) + offsetof(MxifKey::DveBorder, softness) == 112);
static_assert(offsetof(MxifKey, dveBorderScale) == 116 && offsetof(MxifKey, dveBorderColor) == 118);
static_assert(offsetof(MxifKey, dvePosition) == 124 && offsetof(MxifKey, dveSize) == 132);
static_assert(offsetof(MxifKey, dveTriple1) == 136 && offsetof(MxifKey, dveValue1) == 144);
static_assert(offsetof(MxifKey, dveRotation) == 148 && offsetof(MxifKey, dveScale) == 156);
static_assert(offsetof(MxifKey, dveScale) + offsetof(MxifKey::Pair, first) == 160);
static_assert(offsetof(MxifKey, dveScale) + offsetof(MxifKey::Pair, second) == 162);
static_assert(offsetof(MxifKey, dveTriple2) == 164 && offsetof(MxifKey, dveValue2) == 170);
static_assert(offsetof(MxifKey, dveValue3) == 172 && offsetof(MxifKey, dveShape) == 176);
static_assert(offsetof(MxifKey, dveShape) + offsetof(MxifKey::DveShape, mode) == 180);
static_assert(offsetof(MxifKey, dveShape) + offsetof(MxifKey::DveShape, cropMode) == 181);
static_assert(offsetof(MxifKey, dvePerspective) == 184 && offsetof(MxifKey, dveCrop) == 186);
static_assert(offsetof(MxifKey, follower) == 194 && offsetof(MxifKey, mirrorMode) == 195);
static_assert(offsetof(MxifKey, dveSettings) == 196 && offsetof(MxifKey, dveSettings) + offsetof(MxifKey::Flags3, flag) == 200);
static_assert(offsetof(MxifKey, effectParams) == 204 && offsetof(MxifKey, effectSize) == 212);
static_assert(offsetof(MxifKey, dveAngles) == 216 && offsetof(MxifKey, dvePair) == 224);
static_assert(offsetof(MxifKey, dveTriple3) == 232);
static_assert(offsetof(MxifKey, transIn) == 240 && offsetof(MxifKey, transOut) == 248);
static_assert(offsetof(MxifKey, transIn) + offsetof(MxifKey::Trans, on) == 244);
static_assert(offsetof(MxifKey, transIn) + offsetof(MxifKey::Trans, mode) == 245);
static_assert(offsetof(MxifKey, transIn) + offsetof(MxifKey::Trans, value) == 246);
static_assert(offsetof(MxifKey, inOutLink) == 256 && offsetof(MxifKey, reverse) == 257);
static_assert(offsetof(MxifKey, effectA) == 258 && offsetof(MxifKey, effectB) == 260);
static_assert(offsetof(MxifKey, effectBoth) == 262 && offsetof(MxifKey, travelOn) == 263);
static_assert(offsetof(MxifKey, travel34) == 264 && offsetof(MxifKey, travel34Rev) == 268);
static_assert(offsetof(MxifKey, travel34Both) == 272 && offsetof(MxifKey, travel12) == 274);
static_assert(offsetof(MxifKey, travel12Rev) == 278 && offsetof(MxifKey, travel12Both) == 282);
static_assert(offsetof(MxifKey, transTriple1) == 284 && offsetof(MxifKey, pageTurn) == 292);
static_assert(offsetof(MxifKey, pageTurn) + offsetof(MxifModify, on) == 296);
static_assert(offsetof(MxifKey, pageTurn) + offsetof(MxifModify, value3) == 302);
static_assert(offsetof(MxifKey, spin) == 304 && offsetof(MxifKey, spinRev) == 310);
static_assert(offsetof(MxifKey, spinBoth) == 316 && offsetof(MxifKey, transTriple2) == 318);
static_assert(offsetof(MxifKey, transSettings) == 324);
static_assert(offsetof(MxifKey, transSettings) + offsetof(MxifKey::TransSettings, setting2) == 330);
static_assert(offsetof(MxifKey, transSettings) + offsetof(MxifKey::TransSettings, setting4) == 333);
static_assert(offsetof(MxifKey, shift) == 336);
static_assert(offsetof(MxifKey, shift) + offsetof(MxifBkgd::Selectors, selectA) == 340);
static_assert(offsetof(MxifKey, shift) + offsetof(MxifBkgd::Selectors, selectLink) == 342);
static_assert(offsetof(MxifKey, modulationX) == 344 && offsetof(MxifKey, modulationY) == 356);
static_assert(offsetof(MxifKey, modulationY) + offsetof(MxifBkgd::Modulation, phaseSpeed) == 366);
static_assert(offsetof(MxifKey, priority) == 368 && offsetof(MxifKey, group) == 369);
static_assert(offsetof(MxifKey, keySetting) == 370 && offsetof(MxifKey, flags) == 372);
static_assert(offsetof(MxifKey, flags) + offsetof(MxifKey::Flags3, flag) == 376);
static_assert(offsetof(MxifKey, onAir) == 380 && offsetof(MxifKey, statusFlag) == 381);
static_assert(offsetof(MxifKey, stopping) == 382 && offsetof(MxifKey, inTransition) == 383);
static_assert(offsetof(MxifKey, names) == 384);
static_assert(offsetof(MxifKey, names) + offsetof(MxifKey::Names, name1) == 388);
static_assert(offsetof(MxifKey, names) + offsetof(MxifKey::Names, name2) == 404);

// MxifKeyCmd (type 75): copies the DVE settings of chosen keys onto the keys of one ME; the reply
// carries the request's fields with the reply code. 15 bytes on the wire, big-endian.
struct MxifKeyCmd {
  static constexpr int TYPE_INDEX = category::TYPE_KEY_CMD;
  static constexpr u16 COPY_DVE = 0;
  static constexpr s16 DONE = 0, REFUSED = -2;

  u8 first = 0;   // echoed
  u8 second = 0;  // echoed
  u16 command = 0;
  s16 reply = 0;  // ignored on receipt
  u8 targetMe = 0;
  u32 mask = 0;   // presence word of the sources, echoed
  u8 source[4] = {};  // per target key: 0 leaves it, else 8 x ME + key + 1 of the source key

  static constexpr int SOURCE_KEYS_PER_ME = 8;  // a source code counts 8 keys per ME
  // The source codes of keys that exist (keys 0..3 of MEs 0..3), and 0.
  static constexpr int sourceCodes(const limits::Inputs&, limits::Runs& out) {
    out.add(0, 0);
    for (int me = 0; me < category::N_ME; ++me) {
      out.add(SOURCE_KEYS_PER_ME * me + 1, SOURCE_KEYS_PER_ME * me + MxifKey::N_CHANNELS);
    }
    return 0;
  }
  static constexpr limits::Computed SOURCE_CODES = {&sourceCodes};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("first", r.first);
    v.field("second", r.second);
    v.field("command", r.command);
    codec::tag(v, codec::REPLY);
    v.field("reply", r.reply);
    v.field("targetMe", r.targetMe);
    v.field("mask", r.mask);
    v.field("source", r.source);
  }
  // What the command acts on: the first and second bytes and the mask are echoed whatever they hold;
  // a target ME of 4..7 is refused, one above 7 takes nothing and is done.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.command, COPY_DVE, COPY_DVE);
    l.take(r.targetMe, 0, category::N_ME - 1);
    l.take(r.source, SOURCE_CODES);
  }
};
static_assert(sizeof(MxifKeyCmd) == 16);
static_assert(codec::wireSize<MxifKeyCmd>() == 15);
