// Mainframe configuration (type 26) and the system initialise command (type 73).
#include "Main/system/mfconfig.h"

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/rules.h"
#include "Main/key/chrkey.h"
#include "Main/key/key.h"
#include "Main/key/keypreset.h"
#include "Main/media/clip.h"
#include "Main/memory/eventmem.h"
#include "Main/panel/operate.h"
#include "Main/panel/panelconfig.h"

namespace category {
namespace {

using R = MxifMainframeConfig;

constexpr int N_KEYS = MainframeMeConfig::N_KEYS;
constexpr int N_DSK = MainframeDskConfig::N_DSK;
constexpr int ME_OUTPUT_FIRST = 4512;             // ME outputs 4512..4543
constexpr int DSK_PGM2_COMPANION = MX_DSK_PGM2 + 1;  // 4547

// Another category's stored record, or a zero record while that category is absent.
template <class T>
const T& storedRecord(int me, int channel = 0) {
  static const T absent{};
  const T* r = CategoryRegistry::instance().record<T>(me, channel);
  return r != nullptr ? *r : absent;
}

template <class C>
C* categoryOf(int type, int me) {
  return CategoryRegistry::instance().find<C>(type, me);
}

int keyTypeOf(int me, int ch) {
  CategoryKey* keys = categoryOf<CategoryKey>(TYPE_KEY, me);
  return keys != nullptr ? keys->keyType(ch) : 0;
}

int outputPointFlagOf(int me, int ch) {
  CategoryChromaKey* chroma = categoryOf<CategoryChromaKey>(TYPE_CHROMA_KEY, me);
  return chroma != nullptr ? chroma->outputPointFlag(ch) : 0;
}

// Output point source of the chroma key on key k: its layer point while the chroma channel's
// output-point flag is set, else the plain output.
int chromaPointSource(int me, int k) { return outputPointFlagOf(me, k) != 0 ? MX_LAYER_POINT_1 + k : MX_ME_OUT_1; }

// Bit n for every entry n that is 1.
int entryMask(const u8 (&entries)[N_KEYS]) {
  int mask = 0;
  for (int n = 0; n < N_KEYS; ++n) mask |= entries[n] == 1 ? 1 << n : 0;
  return mask;
}

// The ME output behind a DSK background value: ME outputs 0..7 in steps of 4 from 4512, values
// 8..15 the same outputs' companions from 4514.
int meOutputCode(int v) {
  if (0 <= v && v <= 7) return ME_OUTPUT_FIRST + 4 * v;
  if (8 <= v && v <= 15) return ME_OUTPUT_FIRST + 2 + 4 * (v - 8);
  return ME_OUTPUT_FIRST;
}

}  // namespace

// ---- Mainframe configuration ----------------------------------------------------------------------

CategoryMainframeConfig& CategoryMainframeConfig::instance() {
  static CategoryMainframeConfig category;
  return category;
}

bool CategoryMainframeConfig::acceptField(const codec::FieldView& f, const R& in, int idx) {
  (void)idx;
  if (const int k = limits::check(in, f); k >= 0) return k == 1;
  // faderSelectEnable, a truth value: a request's is 0 or 1 once read; a stored one other than
  // those is no value the record holds.
  MX_CHECK(f.is(in.faderSelectEnable));
  return rules::within(in.faderSelectEnable, 0, 1);
}

void CategoryMainframeConfig::assign(const R& in, int idx) {
  R taken = in;
  for (int m = R::N_ME_ROWS; m < R::N_ROWS; ++m) {
    if ((in.meConfig[m].mask | in.meConfig[m].tapBKeysMask | in.meConfig[m].tapAKeysMask) != 0) {
      rules::note(R::SPARE_ROWS, in, in.meConfig[m]);
    }
    if (in.faderKeys[m].entryMask != 0) rules::note(R::SPARE_ROWS, in, in.faderKeys[m]);
    MainframeMeConfig& c = taken.meConfig[m];
    c.mask = c.tapBKeysMask = c.tapAKeysMask = 0;
    taken.faderKeys[m].entryMask = 0;
  }
  CategoryCommon::assign(taken, idx);
}

bool CategoryMainframeConfig::faderSelectEnabled() { return record(0).faderSelectEnable != 0; }

void CategoryMainframeConfig::setFaderSelect(int value) {
  R& r = record(0);
  r.faderSelect = static_cast<u8>(value);
  r.mask |= R::FADER_SELECT;
}

int CategoryMainframeConfig::chromaTap(int me, int ignore) {
  if (ignore != 0) return -1;
  CategoryChromaKey* chroma = categoryOf<CategoryChromaKey>(TYPE_CHROMA_KEY, me);
  if (chroma == nullptr) return -1;
  // Only 1..4 name a key: a greater value would name a key channel the ME does not have.
  const int c = chroma->record(0).sampleKey;
  if (c < 1 || c > N_KEYS) return -1;
  return keyTypeOf(me, c - 1) == CHROMA_KEY_TYPE ? c - 1 : -1;
}

void CategoryMainframeConfig::update() {
  R& r = record(0);
  cleanTaps(r);
  outputPointB(r);
  outputPointA(r);
  dskBackgrounds(r);
  dskOptions(r);
  cleanOutputs(r);
  faderLayer(r);
}

void CategoryMainframeConfig::cleanTaps(const R& r) {
  for (int m = 0; m < N_ME; ++m) {
    const MainframeMeConfig& c = r.meConfig[m];
    mxSelectContext(MX_CONTEXT_ME1 + m);
    if (c.cleanTapMode == 2) {
      mxKeySetCleanTap(MX_CLEAN_POINT);
    } else if (c.cleanTapMode == 1) {
      mxKeySetCleanTap(MX_LAYER_POINT_1 + c.cleanKey);
    } else {
      mxKeySetCleanTap(MX_KEY1 + 2 * c.cleanKey);
    }
  }
}

void CategoryMainframeConfig::outputPointB(const R& r) {
  for (int m = 0; m < N_ME; ++m) {
    const MainframeMeConfig& c = r.meConfig[m];
    const int k = chromaTap(m, c.tapBIgnoreChroma);
    mxSelectContext(MX_CONTEXT_ME1 + m);
    if (k < 0) {
      mxKeySetOutputTapB(MX_ME_OUT_1, entryMask(c.tapBKeys));
    } else {
      mxKeySetOutputTapB(chromaPointSource(m, k), 1 << k);
    }
  }
}

// Without a chroma key, a listed key counts when it goes on air with the next transition: selected
// (0) while it runs backwards, or deselected (1) while it runs forwards.
void CategoryMainframeConfig::outputPointA(const R& r) {
  for (int m = 0; m < N_ME; ++m) {
    const MainframeMeConfig& c = r.meConfig[m];
    const int k = chromaTap(m, c.tapAIgnoreChroma);
    mxSelectContext(MX_CONTEXT_ME1 + m);
    if (k >= 0) {
      mxKeySetOutputTapA(chromaPointSource(m, k), 1 << k);
      continue;
    }
    const MxifBkgd& bkgd = storedRecord<MxifBkgd>(m);
    int mask = 0;
    for (int n = 0; n < N_KEYS; ++n) {
      if (c.tapAKeys[n] != 1) continue;
      const int s = bkgd.nextKey[n];
      const int reverse = storedRecord<MxifKey>(m, n).reverse;
      if ((s == 0 && reverse == 1) || (s == 1 && reverse == 0)) mask |= 1 << n;
    }
    mxKeySetOutputTapA(bkgd.nextBkgd == 1 ? MX_ME_OUT_2 : MX_ME_OUT_1, mask);
  }
}

void CategoryMainframeConfig::dskBackgrounds(const R& r) {
  const MainframeDskConfig& d = r.dskConfig;
  mxSetDskSource(MX_DSK_BKGD_PGM1, meOutputCode(d.dskBackground1));
  mxSetDskSource(MX_DSK_BKGD_PGM2, meOutputCode(d.dskBackground2));
  if (d.dskBackground2Own == 0) mxSetDskSource(MX_DSK_BKGD_PGM2, meOutputCode(d.dskBackground1));
  for (int n = 0; n < N_DSK; ++n) {
    const int p = d.dskProgram[n];
    if (p == 0 || p == 1) mxDskSetOutput(MX_DSK1 + 2 * n, p == 0 ? MX_DSK_PGM1 : MX_DSK_PGM2);
  }
}

// The top DSKs of a program output (those holding its greatest ordering byte, ties included) take
// the top option, the others dskOption. Without either option set the top option is forced on.
void CategoryMainframeConfig::dskOptions(R& r) {
  static constexpr rules::Rule TOP_OPTION_FORCED = {
      rules::Effect::MOVES, "with dskConfig.dskOption 0 the top option is forced on: dskConfig.dskTopOption is set to 1"};
  MainframeDskConfig& d = r.dskConfig;
  if (d.dskOption == 0 && d.dskTopOption == 0) {
    rules::note(TOP_OPTION_FORCED, r, d.dskTopOption);
    rules::input(r, d.dskOption, 0, 0);
    d.dskTopOption = 1;
    d.mask |= MainframeDskConfig::TOP_OPTION;
  }
  int order[N_DSK];
  for (int n = 0; n < N_DSK; ++n) order[n] = storedRecord<MxifDsk>(0, n).priority;
  for (int n = 0; n < N_DSK; ++n) {
    int top = -1;
    for (int i = 0; i < N_DSK; ++i) {
      if (d.dskProgram[i] == d.dskProgram[n] && order[i] > top) top = order[i];
    }
    const int option = order[n] == top ? (d.dskTopOption == 0 ? 1 : 0) : (d.dskOption == 1 ? 1 : 0);
    mxDskSetOutputOption(MX_DSK1 + 2 * n, option);
  }
  mxDskSetFlags(entryMask(d.dskFlag));
}

void CategoryMainframeConfig::cleanOutputs(const R& r) {
  const MainframeDskConfig& d = r.dskConfig;
  for (int n = 0; n < N_DSK; ++n) {
    mxDskSetCleanSource(MX_DSK_CLN1 + n, d.dskCleanAlt[n] != 0 ? MX_DSK_CLEAN_POINT_1 + n : MX_DSK1 + 2 * n);
  }
  const int v = d.dskOutput2Source;
  const int source = 1 <= v && v <= 4 ? MX_DSK_CLEAN_POINT_1 + v - 1 : v == 5 ? MX_DSK_OUT_POINT_2 : DSK_PGM2_COMPANION;
  mxDskSetOutputSource(DSK_PGM2_COMPANION, source);
}

// The key or DSK that faderSelect names, when its list allows it; a chroma key with its output-point
// flag is driven at its layer point. Nothing selected: the DSK layer, off.
void CategoryMainframeConfig::faderLayer(const R& r) {
  int context = 0, source = MX_DSK1, enable = 0;
  for (int m = 0; m < N_ME; ++m) {
    for (int n = 0; n < N_KEYS; ++n) {
      if (r.faderKeys[m].entries[n] != 1 || r.faderSelect != N_KEYS * m + n) continue;
      enable = 1, context = MX_CONTEXT_ME1 + m, source = MX_KEY1 + 2 * n;
      if (keyTypeOf(m, n) == CHROMA_KEY_TYPE && outputPointFlagOf(m, n) != 0) source = MX_LAYER_POINT_1 + n;
    }
  }
  for (int n = 0; n < N_DSK; ++n) {
    if (r.faderDsks.entries[n] == 1 && r.faderSelect == R::FIRST_DSK_SELECT + n) {
      enable = 1, context = 0, source = MX_DSK1 + 2 * n;
    }
  }
  mxKeySetLayerSource(context, source, enable);
}

// ---- System initialise ----------------------------------------------------------------------------

CategoryInitialize& CategoryInitialize::instance() {
  static CategoryInitialize category;
  return category;
}

void CategoryInitialize::receiveCommand(int id, RequestReceiver& rx) {
  using internal::SystemInitialCmd;
  using typelist::IndexOf;
  MX_CHECK_VALUE(id, IndexOf<SystemInitialCmd>::value);
  if (rx.remaining() < SystemInitialCmd::WIRE_BYTES) {
    rx.reportShort();
    return;
  }
  SystemInitialCmd cmd;
  cmd.option1 = rx.readU8();
  cmd.option2 = rx.readU8();
  cmd.mode = rx.readU16();
  rx.readS16();  // the result field of a request means nothing
  TimeStamp date;
  readTimeStamp(rx, date);
  cmd.option3 = rx.readU8();
  rx.clearHeader();

  const s16 result = perform(cmd);
  AcknowledgeSender& tx = AcknowledgeSender::instance();
  if (!tx.beginPacket(SystemInitialCmd::TYPE_INDEX, SystemInitialCmd::WIRE_BYTES)) {
    reportSendBufferFull();
    return;
  }
  tx.writeU8(cmd.option1);
  tx.writeU8(cmd.option2);
  tx.writeU16(cmd.mode);
  tx.writeU16(static_cast<u16>(result));
  writeTimeStamp(tx, date);
  tx.writeU8(cmd.option3);
}

s16 CategoryInitialize::perform(const internal::SystemInitialCmd& cmd) {
  if (auto* events = categoryOf<CategoryEventMemory>(TYPE_EVENT_MEMORY, 0)) {
    for (int n = 0; n < CategoryEventMemory::N_REGISTER_PLAYERS; ++n) {
      if (events->registerPlayer(n).status == EventPlayer::STATUS_RUNNING) return BUSY;
    }
    if (events->workPlayer().status == EventPlayer::STATUS_RUNNING) return BUSY;
  }
  if (!limits::takes(cmd, cmd.mode)) return BAD_MODE;

  if (auto* faders = categoryOf<CategoryFaderEvent>(TYPE_FADER_EVENT, 0)) {
    auto rest = [&](int slot) { faders->fader(slot).setPosition(1, 0.0f, -1.0f); };
    for (int m = 0; m < N_ME; ++m) {
      rest(AutoTransition::bkgdSlot(m));
      for (int k = 0; k < N_KEYS; ++k) rest(AutoTransition::keySlot(m, k));
    }
    for (int c = 0; c < N_DSK; ++c) rest(AutoTransition::dskSlot(c));
  }
  for (int me = 0; me < 2; ++me) {
    auto* chroma = CategoryRegistry::instance().findAt<CategoryChromaKey>(TYPE_CHROMA_KEY, me);
    if (chroma == nullptr) continue;
    for (int ch = 0; ch < CategoryChromaKey::N_KEYS; ++ch) chroma->reloadChannel(ch);
  }
  if (auto* presets = categoryOf<CategoryKeyPreset>(TYPE_KEY_PRESET, 0)) presets->clearAll();
  if (auto* operate = categoryOf<CategoryOperate>(TYPE_OPERATE, 0)) operate->keyMemory().clearAll();
  if (auto* panel = categoryOf<CategoryControlPanelConfig>(TYPE_CONTROL_PANEL_CONFIG, 0)) panel->clearKeyFaderStates();
  return DONE;
}

}  // namespace category
