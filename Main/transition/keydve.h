#pragma once
// Key DVE: a key whose DVE transition is on is moved, sized, cropped and turned in 2-D or 3-D
// through the DVE. Each frame the key update loads the key's setting from its channel record and
// the system record, then applies it to the key, transition, filter and DVE drivers of the ME
// context it selected. The key's transition position drives its level and, with the travel on,
// moves the key from its start position and grows it.
#include "Lib/Include/records/key.h"
#include "Lib/Include/records/system.h"
#include "Main/transition/updater.h"

// Transition types of the key DVE: the plain key and the four shaped ones.
constexpr u16 KEY_DVE_PLAIN = 5387;
constexpr u16 KEY_DVE_SHAPED_FIRST = 5391, KEY_DVE_SHAPED_LAST = 5394;

class KeyDveSetting : public CommonSetting {
 public:
  // Format, latency and aspect scale from the system record (the key's latency byte).
  void loadSystem(const MxifSystem& sys) { loadCommon(sys, sys.keyLatency); }
  // Driver target: MX_KEY1 + 2 x channel.
  int target() const;

  u8 inset = 0;     // the key is a 4:3 inset of the wide frame (size forced to 1.0)
  u8 shape = 0;     // shaped key DVE and border on
  u8 kind = 0;      // 0 plain, 1 shaped 2-D, 2 3-D
  u8 cropMode = 0;  // 0 none, 1 the 4:3 crop of the format, 2 the record's crop
  s16 travel = 0;   // the key travels from its start position while the transition runs
  u16 type = KEY_DVE_PLAIN;  // kept from frame to frame
  float centreX = 0.5f, centreY = 0.5f;  // 0..1 of the frame, y down
  float sizeX = 1.0f, sizeY = 1.0f;
  float border = 0.0f, softness = 0.0f;  // fractions of the frame height
  float crop[4] = {-0.5f, 0.5f, -0.5f, 0.5f};  // visible left, right, top, bottom about the centre
  float level = 0.0f;
  float scaleX = 1.0f, scaleY = 1.0f, perspective = 0.0f;
  float rotation[3] = {};  // x, y, z in radians
  s16 startX = 0, startY = 0;  // travel start, ten-thousandths
};

// The whole load at transition position p: the steps below in order, then the level.
void loadKeyDveSettings(KeyDveSetting& s, const MxifKey& rec, const MxifSystem& sys, u8 inset, float p);
void loadKeyDveStart(KeyDveSetting& s, const MxifKey& rec);
void selectKeyDveType(KeyDveSetting& s, const MxifKey& rec);
void loadKeyDvePosition(KeyDveSetting& s, const MxifKey& rec, float p);
void loadKeyDveSize(KeyDveSetting& s, const MxifKey& rec, float p);
void chooseKeyDveKind(KeyDveSetting& s, const MxifKey& rec);
void loadKeyDveBorder(KeyDveSetting& s, const MxifKey& rec);
void loadKeyDveCrop(KeyDveSetting& s, const MxifKey& rec);
// Softness and border grow a little unless the centre is (0, 0), the size 1.0 and the crop whole.
void adjustKeyDveSoftness(KeyDveSetting& s);
// A full-size plain key's crop edge that lies on the frame border moves beyond it.
void snapKeyDveCrop(KeyDveSetting& s, const MxifKey& rec);

// By the kind: plain, shaped 2-D or 3-D (the last two only for keys 1 and 2).
void applyKeyDve(KeyDveSetting& s, float p);
// The key and transition set-up of all three; with the travel on, p becomes 1 while it runs.
void applyKeyDveCommon(KeyDveSetting& s, float& p);
void applyKeyDvePlain(KeyDveSetting& s, float p);
void applyKeyDveShaped(KeyDveSetting& s, float p);
void applyKeyDve3D(KeyDveSetting& s, float p);

// 1 when |angle| (radians) is not a whole number of turns, in single precision.
int isFractionalTurn(float angle);
// Width and height factors of the picture: 4:3 for the standard-definition formats at full
// aspect, else 16:9.
void keyDveAspect(const KeyDveSetting& s, float& width, float& height);
