#pragma once
// The transition updaters: each frame the background of an ME, or one of its keys, loads its
// transition settings from its record and the system record, and then turns the transition
// position into settings of the transition, filter and DVE drivers of the ME context the caller
// selected: a mix (MIX, NAM, CMIX), a wipe, or the end state of a DVE effect.
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/records/key.h"
#include "Lib/Include/records/system.h"
#include "Lib/Include/types.h"

// Picture geometry by system format: 16 rows of 12 floats, row r and format f at element r + f.
// Edges are measured from the picture centre, x to the right and y upward.
enum FormatRow : int {
  ROW_DVE_SCALE = 0,        // DVE scale of border and softness
  ROW_BORDER_DIVISOR = 12,  // border divisor of wipes
  ROW_LINES = 24,           // lines of the wipe and DVE geometry
  ROW_FULL_LEFT = 36,       // full window
  ROW_FULL_RIGHT = 48,
  ROW_FULL_TOP = 60,
  ROW_FULL_BOTTOM = 72,
  ROW_WIDTH = 84,           // width in pixels
  ROW_HEIGHT = 96,          // height in lines
  ROW_AREA1_LEFT = 108,     // area 1
  ROW_AREA1_RIGHT = 120,
  ROW_AREA_BOTTOM = 132,    // areas 1 to 3
  ROW_AREA_TOP = 144,
  ROW_AREA2_LEFT = 156,     // areas 2 and 3 (the 4:3 centre of a wide picture)
  ROW_AREA2_RIGHT = 168,
  ROW_PIXEL_ASPECT = 180,   // pixel aspect factor of the DVE kinds
};
constexpr int N_SYSTEM_FORMATS = 12;
extern const float FormatGeometry[16 * N_SYSTEM_FORMATS];
// The value of row r for a format (formats outside 0..11 read format 0).
float formatGeometry(int row, u32 format);

// What every layer takes from the system record.
class CommonSetting {
 public:
  u32 format = 0;      // system video format 0..11
  u32 systemMode = 0;  // system byte 9: 2 selects the smaller minimum wipe softness
  u32 channel = 0;     // key channel 0..3; 0 for the background
  u32 latency = 0;     // 1 when the layer's latency option is 0
  u8 isKey = 0;
  u8 isBkgd = 0;
  float aspectScale = 0.0f;  // 1.0, or the 16:9 factor of the standard-definition formats

 protected:
  // Format, mode, latency (from the layer's latency byte) and aspect scale.
  void loadCommon(const MxifSystem& sys, u8 latencyOption);
};

// One layer's transition: positions and windows are fractions of the picture, x from the left
// and y from the top edge, unless said otherwise.
class TransitionUpdater : public CommonSetting {
 public:
  virtual void updateKey() {}
  virtual void updateBkgd(int /*abSelect*/) {}

  u8 imageOnA = 0;       // image effect on the A bus (background) or on the key; set by the caller
  u8 imageOnB = 0;       // image effect on the B bus; set by the caller (keys: 0)
  u8 nam = 0;            // NAM selected for the mix
  u8 bkgdInNext = 0;     // the background takes part in the next transition
  u8 holdAtZero = 0;     // keeps the effect path at position 0 (normal/reverse alternation on)
  u8 toggleMode = 0;     // normal/reverse alternation on
  u8 aspectFollows = 0;  // the wipe pattern's aspect grows with the position
  u8 freeFlag = 0;       // free patterns: order of the two pictures
  u8 reverse = 0;        // 1 runs the pattern backwards
  u8 areaMode = 0;       // window mode 0..4 (keys: 0)
  u8 rotationMode = 0;   // 0 off, 1 times the scale, 2 advancing, 3 as loaded
  u8 busOption = 0;      // passed to mxDveSetBkgdBuses
  u32 abSelect = 0;      // background bus on program (0 A, 1 B)
  u32 aspectFlag = 0;    // standard-definition picture shown 16:9
  s32 pendingFrames = 0; // frames that keep the effect path after a DVE effect returned to 0
  float previousPosition = 0.0f;
  u32 mode = 0;          // 0 MIX, 1 effect
  u8 effect = 0;         // effect (pattern) number within the kind
  u8 kind = 0;           // 0 wipe, 1 and 2 the DVE effect families, 3 3-D DVE
  float border = 0.0f;   // border width (0: none)
  float edgeSpan = 0.0f; // 2 x border + soft (DVE kinds)
  float soft = 0.0f;     // softness
  float halfSoft = 0.0f; // half the softness when there is no border, else 0
  float window[4] = {};  // crop window: left, right, top, bottom
  float startCentre[2] = {};
  float position[2] = {};
  float keyEffectValue = 0.0f;
  float size = 0.0f;
  float spin[3] = {};
  float patternAspect = 0.0f;
  u32 modify[3] = {};    // the record's `modify` sub-record, its 12 bytes as they lie in memory
  s16 userBox[4] = {};
  s16 userBox2[4] = {};
  float position2[2] = {};
  float size2 = 0.0f;
  float window2[4] = {};
  float spin2[3] = {};
  u8 shiftX = 0;
  u8 shiftY = 0;
  float modAmp[2] = {};
  float modFreq[2] = {};
  float modSpeed[2] = {};
  float modPhase[2] = {};  // kept from frame to frame
  u32 modPattern[2] = {};
  float spinAccumulator[3] = {};  // running angles of rotation mode 2
  u8 refusedKind = 0;  // DVE kind last refused for a key without DVE hardware (0: none)

  // Driver target of the layer: MX_BKGD or MX_KEY1 + 2 x channel.
  int target() const;

  // Turns the loaded transition at position p (second position q of a split mix, or -1.0) into
  // driver settings of the selected ME context; `me` names the ME whose background record the
  // NAM/CMIX choice reads.
  void apply(int me, float p, float q);
  void applyMix(int me, float p, float q);
  void resetForMix();
  // The effect frame of the DVE kinds at mix position m with a transition type.
  void applyEffectFrame(float p, float m, int type);
  void applyModulation(bool on);
  bool modulationAllowed() const;
  void busFlags(int& a, int& b) const;

  // The wipe (kind 0) at position p.
  void applyWipe(float p);
  void setWipePatternGeometry(float p, bool withCentre);
  void applyWipeFrame(float w, int type);
  void setFreePatternGeometry();
  float freePatternPosition(float s, int type) const;

  // The 3-D DVE effects (kind 3) at position p (reversed when the reverse flag is set), and the
  // fixed placements of effects 22 and 23; then the end state: the unit transform at 0, the
  // full-frame default at 1.
  void applyDveGeometry(float p);
  // Effects 0..3: the picture swings about its left, top, right or bottom edge.
  void applyTiltEffect(float p);
  // Effects 4, 5: the picture turns about its vertical or horizontal centre line.
  void applyFlipEffect(float p);
  // Effects 6, 7: the two halves swing about their outer edges (kind 3 only).
  void applyTwinTiltEffect(float p);
  // Effects 8..11: the picture turns in towards one corner while it travels in and grows.
  void applySpinEffect(float p);

  // The picture of a zoom from the top edge at position p: the DVE effect writer at the ends.
  void applyZoomFromTop(float p);
  // Tells the source tally that the background of the selected ME runs a DVE transition, when
  // this is the background's updater and p lies strictly between the ends.
  void markRunningBkgdDve(float p) const;
  // DVE window 0 of the target from a rectangle in pixels, widened by the border when there is
  // one, else shrunk by half the softness; sizes never below 0.
  void setEdgedWindow(int target, float x, float y, float width, float height);

 protected:
  ~TransitionUpdater() = default;
  // The parts of both loads: edges of the key or the background's kind, the moving centre of a
  // kind-1 pattern, and the modulation of both directions.
  void loadMovingCentre(float x, float y, float p);
  void loadModulation(const MxifBkgd::Modulation& x, const MxifBkgd::Modulation& y, float p);
  void setWindowFromEdges(float left, float right, float top, float bottom);

 private:
  // The wipe position of family W3 for a pattern type.
  float wipePositionW3(float p, int type) const;
  bool endCheckFinishes(float p);
};

// The background's transition, one per ME.
class BkgdTransition : public TransitionUpdater {
 public:
  // Loads the background's settings at position p; mode 0 MIX, 1 effect; reverse the direction;
  // abSelect the bus on program; presetOk allows the preset area of area modes 2 and 3.
  void load(const MxifBkgd& rec, const MxifSystem& sys, float p, unsigned mode, u8 reverse, unsigned abSelect,
            u8 presetOk);
  // Which bus the background transition drives: preview when the background takes part in the next
  // transition on the bus off program.
  void updateBkgd(int abSelect) override;

  // The DVE effects of kind 2 at position p (reversed when the reverse flag is set), on the DVE of
  // whichever layer u is: slides (effects 0..7), pushes (8..11) and pushes that pause half way
  // (12..15).
  static void applyEffect(TransitionUpdater& u, float p);

 private:
  void loadEdges(const MxifBkgd& rec);
  void loadWindow(const MxifBkgd& rec, float p, u8 presetOk);
};

// A key channel's transition, four per ME.
class KeyTransition : public TransitionUpdater {
 public:
  void load(const MxifKey& rec, const MxifSystem& sys, float p);

  // The DVE effects of kind 1 at position p (reversed when the reverse flag is set), on the DVE of
  // whichever layer u is: zooms (effects 0..10), shaped zooms (11..14), 3-D flies (15, and 10 of
  // the background), squeeze pushes (16..19) and timed 3-D moves (20..23).
  static void applyEffect(TransitionUpdater& u, float p);
  // The zoom of an effect 0..10 at position p (effect 5 grows from the top edge).
  static void applyZoom(TransitionUpdater& u, int effect, float p);
  // Fixed 3-D placements of kind 3: one picture placed from the updater's first position, size and
  // rotations (effect 22), or two, the second from its second set and area (effect 23).
  static void applyDvePlacement(TransitionUpdater& u);
  static void applyDvePlacementPair(TransitionUpdater& u);
};

// Tells the source tally that the background of the ME whose driver context is selected runs a
// DVE transition in this frame.
void markBkgdDveTransition();
