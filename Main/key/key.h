#pragma once
// Key channels (type 0, one instance per ME): the four key channels of every ME, received,
// validated, merged, backed up and reported.
#include "Lib/Include/data_internal.h"
#include "Lib/Include/rules.h"
#include "Main/framework/bp.h"
#include "Main/transition/keydve.h"
#include "Main/transition/updater.h"

namespace libmx {

// Builds into out (cleared first) the fields of in that pass their range checks (the limits the
// record declares) for key channel 0..3, each with its presence bit; groups (colours, triples, boxes) are taken only whole. The
// checks that a saved channel must pass: every value a request may bring, the status bytes 0..1
// and the cleared border width 0 as well. A DVE scale value of 0 is taken as 10000.
void checkKeyRanges(const MxifKey& in, int channel, MxifKey& out);

// The validated form of a request for key channel 0..3 against the live channel: the range checks,
// without the status bytes (reverse, in transition) and a border width of 0, with the mask box and
// the crop edges clamped against the live ones (the crop by the live crop mode), the shift link and
// the in/out link applied from validated fields only. The priority stays in out for the caller's
// re-rank.
void acceptKeyFields(const MxifKey& in, const MxifKey& live, int channel, MxifKey& out);

// The in/out link of a key or downstream key record, on validated fields only: setting the link to 1
// copies setting A (the validated request's fields, else the channel's) into setting B; with the
// link already on and not carried, each field carried by A or B (A winning) goes to both. in is the
// request, live the channel, out the fields of in that passed.
inline constexpr rules::Rule IN_OUT_LINKED = {
    rules::Effect::MOVES, "while inOutLink is 1 (sent, else as held) transIn and transOut (on, mode, value) are kept "
                          "equal: setting the link copies transIn to transOut, and then a field sent in either goes to "
                          "both (transIn's when both are sent)"};
template <class R>
void linkInOut(const R& in, const R& live, R& out) {
  using Trans = typename R::Trans;
  auto has = [](u32 word, int b) { return ((word >> b) & 1u) != 0; };
  auto eachField = [](auto fn) {
    fn(&Trans::on, 0);
    fn(&Trans::mode, 1);
    fn(&Trans::value, 2);
  };
  if (has(out.mask, R::W0_IN_OUT_LINK)) {
    if (out.inOutLink != 1 || live.inOutLink == 1) return;
    eachField([&](auto member, int b) {
      const bool sent = has(out.transIn.mask, b);
      // What transOut holds without the link; the rule decided only where the copy differs.
      const auto without = has(out.transOut.mask, b) ? out.transOut.*member : live.transOut.*member;
      out.transOut.*member = sent ? out.transIn.*member : live.transIn.*member;
      out.transOut.mask |= 1u << b;
      if (out.transOut.*member == without) return;
      rules::note(IN_OUT_LINKED, in, in.transOut.*member);
      rules::sent(in, in.inOutLink);
      sent ? rules::sent(in, in.transIn.*member) : rules::input(live, live.transIn.*member);
    });
    return;
  }
  // A link the request carried but that failed its check copies nothing.
  if (has(in.mask, R::W0_IN_OUT_LINK) || live.inOutLink != 1) return;
  eachField([&](auto member, int b) {
    const bool fromIn = has(out.transIn.mask, b);
    if (!fromIn && !has(out.transOut.mask, b)) return;
    const auto v = fromIn ? out.transIn.*member : out.transOut.*member;
    // What the other side holds without the link.
    const auto without = fromIn ? (has(out.transOut.mask, b) ? out.transOut.*member : live.transOut.*member) : live.transIn.*member;
    out.transIn.*member = v;
    out.transOut.*member = v;
    out.transIn.mask |= 1u << b;
    out.transOut.mask |= 1u << b;
    if (v == without) return;
    rules::note(IN_OUT_LINKED, in, fromIn ? in.transOut.*member : in.transIn.*member);
    rules::input(live, live.inOutLink);
    rules::sent(in, fromIn ? in.transIn.*member : in.transOut.*member);
  });
}

// A DVE size brought into the range of key channel 0..3 (MxifKey::sizeMax; for a size copied from
// another key).
s32 fitKeySize(s32 size, int channel);

// A saved channel as resume takes it: every field whose value passes checkKeyRanges present with
// its saved value, every other field absent.
MxifKey keyImageFields(const MxifKey& saved, int channel);

}  // namespace libmx

namespace category {

class CategoryBus;
class CategoryControlPanelConfig;
class CategoryFaderEvent;

class CategoryKey : public CategoryCommon<MxifKey> {
 public:
  static constexpr int N_KEYS = MxifKey::N_CHANNELS;

  // Told which key changed when a request carries key settings (style, adjust, edge, the mask
  // sub-record, or word 0 bits 0..6), before it is validated; installed by the key source memory.
  using KeyChangedHook = void (*)(int me, int key);
  static void setKeyChangedHook(KeyChangedHook hook);

  // What the key writers keep per key: the channel record and the last matte and edge colours
  // written, as 10-bit Y, Cb, Cr.
  struct ParamView {
    MxifKey* record = nullptr;
    u16 matte[3] = {};
    u16 edge[3] = {};
  };

  // The four instances, one per ME, built on first call.
  static CategoryKey* instance();

  // Each channel cleared, with its ME index and channel index.
  void initData() override;
  // Dirty bytes, parameter views, geometry-changed bytes and on-air requests to their start state.
  void initInternal() override;
  // Takes from the four saved channels every field that passes its range check (the others keep
  // their cleared value), names by their copy rule, the channel and ME index; every presence bit set.
  void resume(const void* saved, int flag = 0) override;
  // One record: ME at byte 8, channel at bytes 10..11; either outside 0..3 drops it.
  void receive(RequestReceiver& rx) override;
  // Channels 0..3 that changed, stopping at the first that finds the output stream more than half
  // full (it stays pending).
  void sendStatus(AcknowledgeSender& tx) override;
  void send(AcknowledgeSender& tx, int part) override;
  // The validated merge of a request (see libmx::acceptKeyFields), with the priority re-rank of all
  // four keys, the on-air request and the geometry-changed byte.
  void assign(const MxifKey& in, int ch) override;
  // The merge without checks, for records built inside the system (key copy, stored frames, key
  // source memory): present fields and names by their copy rule, the index bytes, the dirty byte.
  void assignUnchecked(const MxifKey& in, int ch);

  // Each frame, in the key's ME context: the stacking order, then per key its sources routed, its
  // position and reverse byte from its auto transition, the matte and edge colours, parameters and
  // edge (or, with the DVE transition and its border on, the border colour), the third colour, the
  // soft window; then a DVE key follows its geometry and drives the key DVE, any other key its
  // transition updater; last the key's on-air request is served.
  void update() override;
  // MxifKeyCmd: copies key DVE settings onto the keys of an ME and replies with the command.
  void receiveCommand(int id, RequestReceiver& rx) override;
  int largestBody(int type) const override { return largestBodyOf<MxifKey, MxifKeyCmd>(type); }

  // Accessors of key channel 0..3 for the fader events and the key-fader code.
  int keyType(int ch);
  int keySourceFlag(int ch);
  int secondModeFlag(int ch);
  // The transition mode in force: setting A's while linked, else setting B's while reversed, else
  // setting A's. setKeyTransMode sets it the same way (both settings while linked), reported.
  int keyTransMode(int ch);
  void setKeyTransMode(int mode, int ch);
  int keyTransInValue(int ch);
  int keyTransOutValue(int ch);
  // Flag i (0..2) of the three-flag sub-record, reported.
  void setKeyFlag(int ch, int value, int i);
  // Status bytes, reported: on air, auto transition stopping, in transition.
  void setKeyOnAir(int ch, int value);
  void setKeyTransState3(int ch, int value);
  void setKeyInTransition(int ch, int value);
  // Steps the transition setting in force (both while linked) from off to mix, from mix to effect
  // and from effect to off.
  void toggleKeyTransMode(int ch);
  // The DVE transition on (1) or off (0).
  void toggleKeyTransDve(int ch);

  // The key category of ME 0..3 (ME 0's when that ME has none).
  static CategoryKey& keyCategory(int me);
  static CategoryControlPanelConfig* controlPanelConfig();
  // The downstream key category; null while there is none.
  static CategoryInterface* dskCategory();
  // The first non-zero assignment match of a lit button (state 1 on panel) among the first
  // `buttons` buttons of key fader 0..7 to downstream key `key`; 0 when none (or fader 8 and above).
  static int findKeyFaderForKey(int key, int panel, int fader, int buttons);
  // The same for key `key` of ME select kind + 1 (kinds 0..3) or kind + 2 (kinds 4..7).
  static int findKeyFaderForKeyRange(int kind, int key, int panel, int fader, int buttons);

  // A raw value of the key-fader lever of `kind` on panel 0..2: kinds 4..11 and 16..23 have levers,
  // the others are ignored.
  static void keyFaderLeverInput(CategoryFaderEvent& faders, int panel, int value, int kind);

  // No lever owns the key transitions of the four MEs or the downstream key transitions any more
  // (the key-fader panel kind changed).
  static void resetKeyAutoTransitions(CategoryFaderEvent& faders);

  ParamView& paramView(int k);
  KeyTransition& keyTransition(int k);
  // Key k's key DVE setting, which the key update loads and applies while its DVE transition is on.
  KeyDveSetting& keyDve(int k);
  // Set by a change of DVE position, size, rotation, follower or mirror mode.
  u8 geometryChanged(int k) const;
  void clearGeometryChanged(int k);
  // The on-air value last requested by the front end, -1 when none is pending.
  s32 onAirRequest(int k) const;

 protected:
  // Each instance enters the category as the owner of the key command (the registry keeps one).
  CategoryKey() { CategoryRegistry::instance().setCommandOwner(TYPE_KEY_CMD, TYPE_INDEX); }

 private:
  static int checkedKey(int k);
  // Merges a checked (or trusted) record into channel ch, with the index bytes and the dirty byte.
  void mergeChannel(const MxifKey& in, int ch);
  // Writes the channel when it changed; false (channel kept) when more than half the output stream
  // is pending.
  bool sendKeyChannel(AcknowledgeSender& tx, int ch);
  // Key ch takes rank newRank; the others step toward its old rank; all four report the priority.
  void rerank(int ch, int newRank);
  // Hands key k's geometry on along its chain of followers, each key at most once.
  void followGeometry(int k);
  // 1 in the formats 0, 1, 8 and 9 while the source on bus entry 2(k + 1) is a standard-definition
  // input of channel class 3; else 0.
  u8 insetFlag(CategoryBus* bus, int format, int k);
  // A pending request that differs from the on-air byte stops key k's auto transition and frees its
  // tracker, with every grouped key in the same on-air state when key k is grouped; the request is
  // consumed either way.
  void serveOnAirRequest(CategoryFaderEvent& faders, int k);

  ParamView views_[N_KEYS];
  KeyDveSetting keyDve_[N_KEYS];
  KeyTransition transitions_[N_KEYS];
  u8 geometryChanged_[N_KEYS] = {};
  s32 onAirRequest_[N_KEYS] = {-1, -1, -1, -1};
};

}  // namespace category
