// Record-level helpers of MxifBkgd: merge, resume copy, presence words, wire form and the
// group merges by declared limits that the key record shares.

#include "Lib/Include/codec.h"
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/rules.h"

using rules::within;

void MxifBkgd::PatFree::merge(PatFree& to, const PatFree& from) { codec::merge(to, from); }

void MxifBkgd::merge(MxifBkgd& to, const MxifBkgd& from) { codec::merge(to, from); }

void MxifBkgd::resumeFrom(const MxifBkgd& saved) { codec::resume(*this, saved); }

void MxifBkgd::clearPresence() { codec::clearPresence(*this); }

bool MxifBkgd::hasAny() const { return codec::hasAny(*this); }

bool MxifBkgd::read(const u8* data, size_t size, MxifBkgd& r) {
  MxifBkgd in;
  if (!codec::read(data, size, in)) return false;
  afterRead(in);
  r = in;
  return true;
}

size_t MxifBkgd::write(const MxifBkgd& r, u8* out, size_t cap) { return codec::encode(r, out, cap); }

namespace {

// Merges the fields of a group that lie in its declared limits.
template <class G>
void mergeDeclared(G& to, const G& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) { return limits::check(from, f) != 0; });
}

}  // namespace

void MxifBkgd::mergeSelectors(Selectors& to, const Selectors& from) { mergeDeclared(to, from); }

void MxifBkgd::mergeLevels10000(Modulation& to, const Modulation& from) { mergeDeclared(to, from); }

void MxifBkgd::mergeFlagLevelsAngle(MxifModify& to, const MxifModify& from) { mergeDeclared(to, from); }

bool MxifBkgd::isColorValid(const s16 color[3]) {
  // Each element out of range is noted.
  const bool hue = within(color[0], COLOR[0].lo, COLOR[0].hi), saturation = within(color[1], COLOR[1].lo, COLOR[1].hi);
  return within(color[2], COLOR[2].lo, COLOR[2].hi) && hue && saturation;
}
