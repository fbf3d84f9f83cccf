// Record-level helpers of MxifBkgd: merge, resume copy, presence words, wire form and the
// range-checked group merges that the key record shares.

#include "Lib/Include/codec.h"
#include "Lib/Include/records/bkgd.h"

namespace {

bool inRange(int v, int lo, int hi) { return lo <= v && v <= hi; }

}  // namespace

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

void MxifBkgd::mergeSelectors(Selectors& to, const Selectors& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) {
    if (f.is(from.selectLink)) return from.selectLink < 2;
    return f.is(from.selectA) ? from.selectA < 4 : from.selectB < 4;
  });
}

void MxifBkgd::mergeLevels10000(Modulation& to, const Modulation& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) {
    if (f.is(from.waveform)) return from.waveform < 2;
    if (f.is(from.phaseSpeed)) return inRange(from.phaseSpeed, -50, 50);
    return inRange(f.is(from.amplitude) ? from.amplitude : from.frequency, 0, 10000);
  });
}

void MxifBkgd::mergeFlagLevelsAngle(MxifModify& to, const MxifModify& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) {
    if (f.is(from.on)) return from.on < 2;
    if (f.is(from.value3)) return inRange(from.value3, -45, 45);
    return inRange(f.is(from.value1) ? from.value1 : from.value2, 0, 1000);
  });
}

bool MxifBkgd::isColorValid(const s16 color[3]) {
  return inRange(color[0], 0, 3599) && inRange(color[1], 0, 1000) && inRange(color[2], 0, 1080);
}
