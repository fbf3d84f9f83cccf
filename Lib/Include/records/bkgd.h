#pragma once
// MxifBkgd (type 2): the background of one ME — transition direction and mode, next-transition
// selection, mix, timing and limit window, partial transition, wipe pattern with border,
// modulation, geometry and free patterns, dust filter and status flags.
//
// Memory layout (272 bytes, 16 presence words) is that of the backup image; on the wire the same
// fields follow in the same order, big-endian, without padding (239 bytes). Each presence word
// has one bit per field of its group; the head word `mask` also covers the top-level fields that
// lie behind the groups.
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

// The on/value1/value2/value3 sub-record: the background's `spin` and `modify`, the key's
// "pageTurn".
struct MxifModify {
  u32 mask;
  u8 on;      // bit 0
  s16 value1;  // bit 1
  s16 value2;  // bit 2
  s16 value3;  // bit 3

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("on", r.on, r.mask, 0);
    v.field("value1", r.value1, r.mask, 1);
    v.field("value2", r.value2, r.mask, 2);
    v.field("value3", r.value3, r.mask, 3);
  }
  // What `modify` and the key's pageTurn take (the background's spin declares its own).
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.on, 0, 1);
    l.take(r.value1, 0, 1000);
    l.take(r.value2, 0, 1000);
    l.take(r.value3, -45, 45);
  }
};

struct MxifBkgd {
  static constexpr int TYPE_INDEX = category::TYPE_BKGD;
  static constexpr int N_CHANNELS = 1;
  static constexpr bool PER_ME = true;
  static constexpr size_t WIRE_SIZE = 239;

  // A colour (here and in the other records): hue, saturation and luminance in tenths, each
  // taking its run.
  static constexpr rules::Range COLOR[3] = {{0, 3599}, {0, 1000}, {0, 1080}};
  template <class L, class C>
  static constexpr void takeColor(L& l, C& color) {
    for (int i = 0; i < 3; ++i) l.take(color[i], COLOR[i].lo, COLOR[i].hi);
  }
  // The edges of a box (left, top, bottom, right, here and in the keys' boxes).
  static constexpr s16 EDGE_MIN = -5000;
  static constexpr s16 EDGE_MAX = 5000;
  // The wipe patterns the background draws: by kind (patternKind 0..3), a bit per number 0..29.
  static constexpr int N_PATTERN_KINDS = 4;
  static constexpr int N_PATTERN_NUMBERS = 30;
  static constexpr u32 PATTERNS[N_PATTERN_KINDS] = {
      0x00817FFF,  // 0..14, 16, 23
      0x00FF7FFF,  // 0..14, 16..23
      0x0000FFFF,  // 0..15
      0x00C1FFFF,  // 0..16, 22, 23
  };
  static constexpr rules::Rule EDGES_SYMMETRIC = {
      rules::Effect::MOVES, "the edge rule in its symmetric mode (edges left, top, bottom, right): a changed edge sets "
                            "its opposite to minus it, and left and bottom stay at most 0, top and right at least 0"};

  // Transition timing.
  struct Trans {
    u32 mask;
    u8 flag;         // bit 0
    s16 value;       // bit 1 (never taken from the front end)
    s16 rate;        // bit 2, frames
    s16 limitStart;  // bit 3, 1/1000
    s16 limitEnd;    // bit 4, 1/1000 (the window ends at 1 - limitEnd)

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("flag", r.flag, r.mask, 0);
      v.field("value", r.value, r.mask, 1);
      v.field("rate", r.rate, r.mask, 2);
      v.field("limitStart", r.limitStart, r.mask, 3);
      v.field("limitEnd", r.limitEnd, r.mask, 4);
    }
  };

  // Linked A/B selectors (the key record carries the same group).
  struct Selectors {
    u32 mask;
    u8 selectA;     // bit 0
    u8 selectB;     // bit 1
    u8 selectLink;  // bit 2

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("selectA", r.selectA, r.mask, 0);
      v.field("selectB", r.selectB, r.mask, 1);
      v.field("selectLink", r.selectLink, r.mask, 2);
    }
    static constexpr rules::Rule LINKED = {
        rules::Effect::MOVES, "while selectLink is 1 (sent, else as held) selectA and selectB are kept equal: the one "
                              "sent is copied to the other (selectA when both are)"};
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.selectA, 0, 3);
      l.take(r.selectB, 0, 3);
      l.rule(r.selectB, LINKED);
      l.take(r.selectLink, 0, 1);
    }
  };

  // Wipe modulation of one axis (the key record carries the same group).
  struct Modulation {
    u32 mask;
    u8 waveform;     // bit 0: 0 sine, 1 delta
    s16 amplitude;   // bit 1
    s16 frequency;   // bit 2
    s16 phaseSpeed;  // bit 3

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("waveform", r.waveform, r.mask, 0);
      v.field("amplitude", r.amplitude, r.mask, 1);
      v.field("frequency", r.frequency, r.mask, 2);
      v.field("phaseSpeed", r.phaseSpeed, r.mask, 3);
    }
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.take(r.waveform, 0, 1);
      l.take(r.amplitude, 0, 10000);
      l.take(r.frequency, 0, 10000);
      l.take(r.phaseSpeed, -50, 50);
    }
  };

  // Free-pattern geometry ("patFree1", "patFree2").
  struct PatFree {
    u32 mask;
    u32 size;          // bit 0, 1/10000
    s16 positionX;     // bit 1
    s16 positionY;     // bit 2
    s16 rotation1;     // bit 3
    s16 rotation2;     // bit 4
    s16 rotation3;     // bit 5
    s16 edges[4];      // bits 6..9, one per edge (edges 0, 3, 2, 1 of the edge rule)
    u8 edgeSymmetry;   // bit 10

    template <class V, class R>
    static constexpr void fields(V& v, R& r) {
      v.mask("mask", r.mask);
      v.field("size", r.size, r.mask, 0);
      v.field("positionX", r.positionX, r.mask, 1);
      v.field("positionY", r.positionY, r.mask, 2);
      v.field("rotation1", r.rotation1, r.mask, 3);
      v.field("rotation2", r.rotation2, r.mask, 4);
      v.field("rotation3", r.rotation3, r.mask, 5);
      v.each("edges", r.edges, r.mask, 6);
      v.field("edgeSymmetry", r.edgeSymmetry, r.mask, 10);
    }
    // Copies the fields whose bits are set in from (by their own bits).
    static void merge(PatFree& to, const PatFree& from);

    static constexpr auto WHOLE_TEXT = rules::compose("the free-pattern sub-record is taken whole or not at all: one edge "
                                                      "outside ", EDGE_MIN, "..", EDGE_MAX, " refuses every field sent with it");
    static constexpr rules::Rule WHOLE = {rules::Effect::REFUSES, WHOLE_TEXT.chars};
    static constexpr rules::Rule SYMMETRIC = {
        rules::Effect::MOVES, "with edgeSymmetry other than 0 (sent, else as held) the edges are symmetric (edges[0] "
                              "left, edges[3] top, edges[2] bottom, edges[1] right): a changed edge sets its opposite to "
                              "minus it, and left and bottom stay at most 0, top and right at least 0"};
    template <class L, class R>
    static constexpr void limits(L& l, R& r) {
      l.rule(r.size, WHOLE);
      l.rule(r.positionX, WHOLE);
      l.rule(r.positionY, WHOLE);
      l.rule(r.rotation1, WHOLE);
      l.rule(r.rotation2, WHOLE);
      l.rule(r.rotation3, WHOLE);
      l.take(r.edges, EDGE_MIN, EDGE_MAX);
      l.rule(r.edges, SYMMETRIC);
      l.rule(r.edges, WHOLE);
      l.rule(r.edgeSymmetry, WHOLE);
    }
  };

  // Head bits of `mask`.
  enum HeadBit {
    BIT_DIRECTION = 0, BIT_NR_MODE = 1, BIT_BORDER_SOURCE = 2, BIT_MIX_COLOR = 3, BIT_PATTERN = 4,
    BIT_BORDER_COLOR = 5, BIT_EDGES = 6, BIT_OPTION144 = 7, BIT_OPTION145 = 8, BIT_OPTION146 = 9,
    BIT_EDGE_SYMMETRY = 10, BIT_OPTION148 = 11, BIT_PRESET_CHECK = 12, BIT_OPTION150 = 13,
    BIT_OPTION152 = 14, BIT_SIZE1 = 15, BIT_SIZE2 = 16, BIT_POINT1 = 17, BIT_CENTER = 18,
    BIT_POINT2 = 19, BIT_OFFSETS = 20, BIT_STATUS0 = 21,
  };

  u32 mask;
  u8 me;
  u8 direction;     // bit 0
  u8 nrMode;        // bit 1
  u8 borderSource;  // bit 2
  u32 nextMask;
  u8 nextBkgd;      // nextMask bit 0
  u32 nextKeyMask;
  u8 nextKey[4];    // nextKeyMask bits 0..3
  u32 mixMask;
  u8 type;          // mixMask bit 0
  u8 nam;           // mixMask bit 1
  u8 namCmix;       // mixMask bit 2
  s16 mixColor[3];  // head bit 3: hue, saturation, luminance in tenths
  Trans trans;
  u32 positionMask;
  u8 partialOn;         // positionMask bit 0
  s16 partialPosition;  // positionMask bit 1, 1/10000
  s16 partialRate;      // positionMask bit 2, frames
  u8 pad66[2];
  u8 patternNumber;     // head bit 4, with patternKind
  u8 patternKind;
  u32 borderMask;
  u8 borderOn;          // borderMask bit 0
  s16 borderWidth;      // borderMask bit 1
  s16 softness;         // borderMask bit 2
  u8 pad82[2];
  s16 borderColor[3];   // head bit 5
  u32 dustMask;
  u8 dustOn;            // dustMask bit 0
  s16 dustGain;         // dustMask bit 1, 1/1000
  u8 dustLevelOn;       // dustMask bit 2
  u8 dustLevel;         // dustMask bit 3
  Selectors link;
  Modulation modulationX;
  Modulation modulationY;
  s16 edges[4];         // head bit 6
  u8 option144;         // head bits 7..13 for the bytes 144..150
  u8 option145;
  u8 option146;
  u8 edgeSymmetry;
  u8 option148;
  u8 presetCheck;
  u8 option150;
  s16 option152;        // head bit 14
  s16 size1;            // 15
  s16 size2;            // 16
  s16 point1[2];        // 17
  s16 center[2];        // 18
  s16 point2[2];        // 19
  s16 offsets[3];       // 20
  MxifModify spin;
  MxifModify modify;
  u32 statusMask;
  s16 statusValue1;     // statusMask bit 0
  s16 statusValue2;     // statusMask bit 1
  u8 statusFlag;        // statusMask bit 2
  PatFree patFree1;
  PatFree patFree2;
  u8 status[4];         // head bits 21..24

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    v.field("direction", r.direction, r.mask, BIT_DIRECTION);
    v.field("nrMode", r.nrMode, r.mask, BIT_NR_MODE);
    v.field("borderSource", r.borderSource, r.mask, BIT_BORDER_SOURCE);
    v.mask("nextMask", r.nextMask);
    v.field("nextBkgd", r.nextBkgd, r.nextMask, 0);
    v.mask("nextKeyMask", r.nextKeyMask);
    v.each("nextKey", r.nextKey, r.nextKeyMask, 0);
    v.mask("mixMask", r.mixMask);
    v.field("type", r.type, r.mixMask, 0);
    v.field("nam", r.nam, r.mixMask, 1);
    v.field("namCmix", r.namCmix, r.mixMask, 2);
    v.field("mixColor", r.mixColor, r.mask, BIT_MIX_COLOR);
    v.sub("trans", r.trans);
    v.mask("positionMask", r.positionMask);
    v.field("partialOn", r.partialOn, r.positionMask, 0);
    v.field("partialPosition", r.partialPosition, r.positionMask, 1);
    v.field("partialRate", r.partialRate, r.positionMask, 2);
    v.field("patternNumber", r.patternNumber, r.mask, BIT_PATTERN);
    v.field("patternKind", r.patternKind, r.mask, BIT_PATTERN);
    v.mask("borderMask", r.borderMask);
    v.field("borderOn", r.borderOn, r.borderMask, 0);
    v.field("borderWidth", r.borderWidth, r.borderMask, 1);
    v.field("softness", r.softness, r.borderMask, 2);
    v.field("borderColor", r.borderColor, r.mask, BIT_BORDER_COLOR);
    v.mask("dustMask", r.dustMask);
    v.field("dustOn", r.dustOn, r.dustMask, 0);
    v.field("dustGain", r.dustGain, r.dustMask, 1);
    v.field("dustLevelOn", r.dustLevelOn, r.dustMask, 2);
    v.field("dustLevel", r.dustLevel, r.dustMask, 3);
    v.sub("link", r.link);
    v.sub("modulationX", r.modulationX);
    v.sub("modulationY", r.modulationY);
    v.field("edges", r.edges, r.mask, BIT_EDGES);
    v.field("option144", r.option144, r.mask, BIT_OPTION144);
    v.field("option145", r.option145, r.mask, BIT_OPTION145);
    v.field("option146", r.option146, r.mask, BIT_OPTION146);
    v.field("edgeSymmetry", r.edgeSymmetry, r.mask, BIT_EDGE_SYMMETRY);
    v.field("option148", r.option148, r.mask, BIT_OPTION148);
    v.field("presetCheck", r.presetCheck, r.mask, BIT_PRESET_CHECK);
    v.field("option150", r.option150, r.mask, BIT_OPTION150);
    v.field("option152", r.option152, r.mask, BIT_OPTION152);
    v.field("size1", r.size1, r.mask, BIT_SIZE1);
    v.field("size2", r.size2, r.mask, BIT_SIZE2);
    v.field("point1", r.point1, r.mask, BIT_POINT1);
    v.field("center", r.center, r.mask, BIT_CENTER);
    v.field("point2", r.point2, r.mask, BIT_POINT2);
    v.field("offsets", r.offsets, r.mask, BIT_OFFSETS);
    v.sub("spin", r.spin);
    v.sub("modify", r.modify);
    v.mask("statusMask", r.statusMask);
    v.field("statusValue1", r.statusValue1, r.statusMask, 0);
    v.field("statusValue2", r.statusValue2, r.statusMask, 1);
    v.field("statusFlag", r.statusFlag, r.statusMask, 2);
    v.sub("patFree1", r.patFree1);
    v.sub("patFree2", r.patFree2);
    codec::tag(v, codec::status("the transitions of the ME's background and keys"));
    v.each("status", r.status, r.mask, BIT_STATUS0);
  }

  // The run of a transition, which its limits (trans.limitStart, trans.limitEnd) share.
  static constexpr int LIMIT_SUM = 1000;
  static constexpr int BORDER_WIDTH_LAST = 1000;
  static constexpr auto LIMITS_GIVE_WAY_TEXT =
      rules::compose("trans.limitStart + trans.limitEnd stay within ", LIMIT_SUM,
                     ": the limit sent (limitStart when both are) keeps its value and the other gives way");
  static constexpr rules::Rule LIMITS_GIVE_WAY = {rules::Effect::MOVES, LIMITS_GIVE_WAY_TEXT.chars};
  static constexpr rules::Rule NR_TOGGLES = {rules::Effect::SAME, "nrMode 2 toggles the mode held, 0 and 1"};
  static constexpr rules::Rule BACK_END_OWN = {
      rules::Effect::REFUSES, "trans.value, statusValue1, statusValue2 and statusFlag are the back end's own: a "
                              "request never sets them"};
  // patternNumber by patternKind (input 0): the numbers the kind draws; a kind out of range draws none.
  static constexpr int patternNumbers(const limits::Inputs& in, limits::Runs& out) {
    const s64 kind = in.value[0];
    for (int n = 0; 0 <= kind && kind < N_PATTERN_KINDS && n < N_PATTERN_NUMBERS; ++n) {
      if ((PATTERNS[kind] >> n & 1u) != 0) out.add(n, n);
    }
    return 1;
  }
  static constexpr limits::Computed PATTERN_NUMBERS = {&patternNumbers};

  // What each field takes from a request (and from a backup image, which resume takes through the
  // same checks). direction and the dust fields take what they hold.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.rule(r.nrMode, NR_TOGGLES);
    l.take(r.borderSource, 0, 2);
    l.take(r.nextBkgd, 0, 1);
    l.take(r.nextKey, 0, 1);
    l.take(r.type, 0, 2);
    l.take(r.nam, 0, 1);
    l.take(r.namCmix, 0, 1);
    takeColor(l, r.mixColor);
    l.take(r.trans.flag, 0, 1);
    l.rule(r.trans.value, BACK_END_OWN, limits::REFUSES_ALL);
    l.take(r.trans.rate, 0, 999);
    l.take(r.trans.limitStart, 0, LIMIT_SUM);
    l.take(r.trans.limitEnd, 0, LIMIT_SUM);
    l.rule(r.trans.limitEnd, LIMITS_GIVE_WAY);
    l.take(r.partialOn, 0, 1);
    l.take(r.partialPosition, 0, 10000);
    l.take(r.partialRate, 0, 999);
    l.take(r.patternNumber, PATTERN_NUMBERS, r.patternKind);
    l.take(r.patternKind, 0, N_PATTERN_KINDS - 1);
    l.take(r.borderOn, 0, 1);
    l.take(r.borderWidth, 1, BORDER_WIDTH_LAST);
    l.take(r.softness, 0, 1000);
    takeColor(l, r.borderColor);
    l.sub(r.link);
    l.sub(r.modulationX);
    l.sub(r.modulationY);
    l.take(r.edges, EDGE_MIN, EDGE_MAX);
    l.rule(r.edges, EDGES_SYMMETRIC);
    l.take(r.option144, 0, 1);
    l.take(r.option145, 0, 2);
    l.take(r.option146, 0, 4);
    l.take(r.edgeSymmetry, 0, 1);
    l.rule(r.option148, rules::TRUTH_VALUE);
    l.take(r.presetCheck, 0, 1);
    l.take(r.option150, 0, 3);
    l.take(r.option152, -5000, 5000);
    l.take(r.size1, 0, 10000);
    l.take(r.size2, 0, 10000);
    l.take(r.point1, -10000, 10000);
    l.take(r.center, -10000, 10000);
    l.take(r.point2, -10000, 10000);
    l.take(r.offsets, -500, 500);
    l.take(r.spin.on, 0, 1);
    l.take(r.spin.value1, -3600, 3600);
    l.take(r.spin.value2, -3600, 3600);
    l.take(r.spin.value3, -3600, 3600);
    l.sub(r.modify);
    l.rule(r.statusValue1, BACK_END_OWN, limits::REFUSES_ALL);
    l.rule(r.statusValue2, BACK_END_OWN, limits::REFUSES_ALL);
    l.rule(r.statusFlag, BACK_END_OWN, limits::REFUSES_ALL);
    l.sub(r.patFree1);
    l.sub(r.patFree2);
    l.take(r.status, 0, 1);
  }

  // Every field and presence word 0, and the padding too (the backup image copies records whole).
  // A record made at compile time (the wire size count) only names its fields.
  constexpr MxifBkgd() {
    if (!std::is_constant_evaluated()) std::memset(static_cast<void*>(this), 0, sizeof(*this));
  }

  // --- record helpers ---

  // Copies every field whose presence bit is set in from (the pattern pair together, the free
  // patterns field by field) and sets the bit in to; `me` is always copied. No range checks.
  static void merge(MxifBkgd& to, const MxifBkgd& from);
  // Copies every field and sets every presence bit, so the record is sent whole.
  void resumeFrom(const MxifBkgd& saved);
  // All 16 presence words := 0.
  void clearPresence();
  bool hasAny() const;

  // Wire form: exactly WIRE_SIZE bytes. read() fails (record unchanged) on a shorter body and
  // normalises option148 to 0 or 1; write() returns the bytes written (0 when cap is too small).
  static bool read(const u8* data, size_t size, MxifBkgd& r);
  static size_t write(const MxifBkgd& r, u8* out, size_t cap);
  // The reader's normalisation: option148 is stored as 1 for any non-zero byte.
  static void afterRead(MxifBkgd& r) { rules::takeAsTruth(r, r.option148); }

  // Merges of one group by the group's declared limits (present and valid fields only, their bits
  // set in to).
  static void mergeSelectors(Selectors& to, const Selectors& from);
  static void mergeLevels10000(Modulation& to, const Modulation& from);
  static void mergeFlagLevelsAngle(MxifModify& to, const MxifModify& from);
  // A colour triple whose every element lies in its run of COLOR (each one outside is noted).
  static bool isColorValid(const s16 color[3]);

  // Head-field accessors; each setter writes the value and sets its head bit.
  u8 getDirection() const { return direction; }
  void setDirection(u8 v) { setHead(direction, v, BIT_DIRECTION); }
  u8 getNrMode() const { return nrMode; }
  void setNrMode(u8 v) { setHead(nrMode, v, BIT_NR_MODE); }
  u8 getBorderSource() const { return borderSource; }
  void setBorderSource(u8 v) { setHead(borderSource, v, BIT_BORDER_SOURCE); }
  const s16* getBorderColor() const { return borderColor; }
  void setBorderColor(const s16 v[3]) { setHeadArray(borderColor, v, BIT_BORDER_COLOR); }
  void setPattern(u8 number, u8 kind) {
    patternNumber = number;
    patternKind = kind;
    mask |= 1u << BIT_PATTERN;
  }
  const s16* getEdges() const { return edges; }
  void setEdges(const s16 v[4]) { setHeadArray(edges, v, BIT_EDGES); }
  u8 getOption144() const { return option144; }
  void setOption144(u8 v) { setHead(option144, v, BIT_OPTION144); }
  u8 getOption145() const { return option145; }
  void setOption145(u8 v) { setHead(option145, v, BIT_OPTION145); }
  u8 getOption146() const { return option146; }
  void setOption146(u8 v) { setHead(option146, v, BIT_OPTION146); }
  u8 getEdgeSymmetry() const { return edgeSymmetry; }
  void setEdgeSymmetry(u8 v) { setHead(edgeSymmetry, v, BIT_EDGE_SYMMETRY); }
  u8 getOption148() const { return option148; }
  void setOption148(u8 v) { setHead(option148, v, BIT_OPTION148); }
  u8 getPresetCheck() const { return presetCheck; }
  void setPresetCheck(u8 v) { setHead(presetCheck, v, BIT_PRESET_CHECK); }
  u8 getOption150() const { return option150; }
  void setOption150(u8 v) { setHead(option150, v, BIT_OPTION150); }
  s16 getOption152() const { return option152; }
  void setOption152(s16 v) { setHead(option152, v, BIT_OPTION152); }
  s16 getSize1() const { return size1; }
  void setSize1(s16 v) { setHead(size1, v, BIT_SIZE1); }
  s16 getSize2() const { return size2; }
  void setSize2(s16 v) { setHead(size2, v, BIT_SIZE2); }
  const s16* getPoint1() const { return point1; }
  void setPoint1(const s16 v[2]) { setHeadArray(point1, v, BIT_POINT1); }
  const s16* getCenter() const { return center; }
  void setCenter(const s16 v[2]) { setHeadArray(center, v, BIT_CENTER); }
  const s16* getPoint2() const { return point2; }
  void setPoint2(const s16 v[2]) { setHeadArray(point2, v, BIT_POINT2); }
  const s16* getOffsets() const { return offsets; }
  void setOffsets(const s16 v[3]) { setHeadArray(offsets, v, BIT_OFFSETS); }
  // Status flags 0..3: each setter writes only its byte and its bit.
  void setStatus0(u8 v) { setHead(status[0], v, BIT_STATUS0); }
  void setStatus1(u8 v) { setHead(status[1], v, BIT_STATUS0 + 1); }
  void setStatus2(u8 v) { setHead(status[2], v, BIT_STATUS0 + 2); }
  void setStatus3(u8 v) { setHead(status[3], v, BIT_STATUS0 + 3); }

 private:
  template <class X>
  void setHead(X& field, X v, int bit) {
    field = v;
    mask |= 1u << bit;
  }
  template <class X, size_t N>
  void setHeadArray(X (&field)[N], const X* v, int bit) {
    for (size_t i = 0; i < N; ++i) field[i] = v[i];
    mask |= 1u << bit;
  }
};

static_assert(sizeof(MxifModify) == 12);
static_assert(sizeof(MxifBkgd::Selectors) == 8);
static_assert(sizeof(MxifBkgd::Modulation) == 12);
static_assert(sizeof(MxifBkgd::PatFree) == 28);
static_assert(offsetof(MxifBkgd::PatFree, edges) == 18);
static_assert(offsetof(MxifBkgd::PatFree, edgeSymmetry) == 26);
static_assert(sizeof(MxifBkgd) == 272);
static_assert(codec::wireSize<MxifBkgd>() == 239);
static_assert(offsetof(MxifBkgd, me) == 4);
static_assert(offsetof(MxifBkgd, nextMask) == 8);
static_assert(offsetof(MxifBkgd, nextBkgd) == 12);
static_assert(offsetof(MxifBkgd, nextKeyMask) == 16);
static_assert(offsetof(MxifBkgd, nextKey) == 20);
static_assert(offsetof(MxifBkgd, mixMask) == 24);
static_assert(offsetof(MxifBkgd, type) == 28);
static_assert(offsetof(MxifBkgd, nam) == 29);
static_assert(offsetof(MxifBkgd, namCmix) == 30);
static_assert(offsetof(MxifBkgd, mixColor) == 32);
static_assert(offsetof(MxifBkgd, trans) == 40);
static_assert(offsetof(MxifBkgd, trans) + offsetof(MxifBkgd::Trans, flag) == 44);
static_assert(offsetof(MxifBkgd, trans) + offsetof(MxifBkgd::Trans, value) == 46);
static_assert(offsetof(MxifBkgd, trans) + offsetof(MxifBkgd::Trans, rate) == 48);
static_assert(offsetof(MxifBkgd, trans) + offsetof(MxifBkgd::Trans, limitStart) == 50);
static_assert(offsetof(MxifBkgd, trans) + offsetof(MxifBkgd::Trans, limitEnd) == 52);
static_assert(offsetof(MxifBkgd, positionMask) == 56);
static_assert(offsetof(MxifBkgd, partialOn) == 60);
static_assert(offsetof(MxifBkgd, partialPosition) == 62);
static_assert(offsetof(MxifBkgd, partialRate) == 64);
static_assert(offsetof(MxifBkgd, patternNumber) == 68);
static_assert(offsetof(MxifBkgd, patternKind) == 69);
static_assert(offsetof(MxifBkgd, borderMask) == 72);
static_assert(offsetof(MxifBkgd, borderOn) == 76);
static_assert(offsetof(MxifBkgd, borderWidth) == 78);
static_assert(offsetof(MxifBkgd, softness) == 80);
static_assert(offsetof(MxifBkgd, borderColor) == 84);
static_assert(offsetof(MxifBkgd, dustMask) == 92);
static_assert(offsetof(MxifBkgd, dustOn) == 96);
static_assert(offsetof(MxifBkgd, dustGain) == 98);
static_assert(offsetof(MxifBkgd, dustLevelOn) == 100);
static_assert(offsetof(MxifBkgd, dustLevel) == 101);
static_assert(offsetof(MxifBkgd, link) == 104);
static_assert(offsetof(MxifBkgd, link) + offsetof(MxifBkgd::Selectors, selectA) == 108);
static_assert(offsetof(MxifBkgd, link) + offsetof(MxifBkgd::Selectors, selectB) == 109);
static_assert(offsetof(MxifBkgd, link) + offsetof(MxifBkgd::Selectors, selectLink) == 110);
static_assert(offsetof(MxifBkgd, modulationX) == 112);
static_assert(offsetof(MxifBkgd, modulationY) == 124);
static_assert(offsetof(MxifBkgd, edges) == 136);
static_assert(offsetof(MxifBkgd, option144) == 144);
static_assert(offsetof(MxifBkgd, option145) == 145);
static_assert(offsetof(MxifBkgd, option146) == 146);
static_assert(offsetof(MxifBkgd, edgeSymmetry) == 147);
static_assert(offsetof(MxifBkgd, option148) == 148);
static_assert(offsetof(MxifBkgd, presetCheck) == 149);
static_assert(offsetof(MxifBkgd, option150) == 150);
static_assert(offsetof(MxifBkgd, option152) == 152);
static_assert(offsetof(MxifBkgd, size1) == 154);
static_assert(offsetof(MxifBkgd, size2) == 156);
static_assert(offsetof(MxifBkgd, point1) == 158);
static_assert(offsetof(MxifBkgd, center) == 162);
static_assert(offsetof(MxifBkgd, point2) == 166);
static_assert(offsetof(MxifBkgd, offsets) == 170);
static_assert(offsetof(MxifBkgd, spin) == 176);
static_assert(offsetof(MxifBkgd, modify) == 188);
static_assert(offsetof(MxifBkgd, statusMask) == 200);
static_assert(offsetof(MxifBkgd, statusValue1) == 204);
static_assert(offsetof(MxifBkgd, statusValue2) == 206);
static_assert(offsetof(MxifBkgd, statusFlag) == 208);
static_assert(offsetof(MxifBkgd, patFree1) == 212);
static_assert(offsetof(MxifBkgd, patFree2) == 240);
static_assert(offsetof(MxifBkgd, status) == 268);

// MxifBkgdWipe (type 9): the twelve stored wipes of one ME. The selected entry follows the ME's
// live background; selecting another entry recalls it; a step request moves the background's
// pattern to the next variant of its family. Each entry has the background record's layout and
// wire body; only its wipe fields are tracked and recalled.
struct MxifBkgdWipe {
  static constexpr int TYPE_INDEX = category::TYPE_BKGD_WIPE;
  static constexpr int N_CHANNELS = 1;
  static constexpr bool PER_ME = true;
  static constexpr int N_ENTRIES = 12;
  static constexpr size_t WIRE_SIZE = 2875;
  enum Bit { BIT_SELECTED = 0, BIT_STEP_REQUEST = 1 };

  u32 mask;
  u8 me;
  u8 selected;      // bit 0: the entry that follows the background, 0..11
  u8 pad6[2];
  MxifBkgd entries[N_ENTRIES];
  u8 stepRequest;   // bit 1: 1 asks for a pattern step
  u8 pad3273[3];

  static constexpr const char* NAMES[N_ENTRIES] = {"bkgd[0]", "bkgd[1]", "bkgd[2]", "bkgd[3]",
                                                   "bkgd[4]", "bkgd[5]", "bkgd[6]", "bkgd[7]",
                                                   "bkgd[8]", "bkgd[9]", "bkgd[10]", "bkgd[11]"};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    codec::meField(v, "me", r.me);
    v.field("selected", r.selected, r.mask, BIT_SELECTED);
    for (int i = 0; i < N_ENTRIES; ++i) v.sub(NAMES[i], r.entries[i]);
    v.field("stepRequest", r.stepRequest, r.mask, BIT_STEP_REQUEST);
  }

  // Every field and presence word 0, as MxifBkgd().
  constexpr MxifBkgdWipe() {
    if (!std::is_constant_evaluated()) std::memset(static_cast<void*>(this), 0, sizeof(*this));
  }
  // Each entry is read with the background's normalisation.
  static void afterRead(MxifBkgdWipe& r) {
    for (MxifBkgd& e : r.entries) rules::takeAsTruth(r, e.option148);
  }
  // Every field takes what it holds: an entry stores a wipe as sent, and a recall takes it through
  // the background's checks.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    for (auto& e : r.entries) l.rule(e.option148, rules::TRUTH_VALUE);
  }
};

static_assert(sizeof(MxifBkgdWipe) == 3276);
static_assert(codec::wireSize<MxifBkgdWipe>() == 2875);
static_assert(offsetof(MxifBkgdWipe, selected) == 5);
static_assert(offsetof(MxifBkgdWipe, entries) == 8);
static_assert(offsetof(MxifBkgdWipe, stepRequest) == 3272);
