// Record-level helpers of MxifBkgd: merge, resume copy, presence words, wire form and the
// range-checked group merges that the key record shares.

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

void MxifBkgd::mergeSelectors(Selectors& to, const Selectors& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) {
    if (f.is(from.selectLink)) return within(from.selectLink, 0, 1);
    return f.is(from.selectA) ? within(from.selectA, 0, 3) : within(from.selectB, 0, 3);
  });
}

void MxifBkgd::mergeLevels10000(Modulation& to, const Modulation& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) {
    if (f.is(from.waveform)) return within(from.waveform, 0, 1);
    if (f.is(from.phaseSpeed)) return within(from.phaseSpeed, -50, 50);
    return within(f.is(from.amplitude) ? from.amplitude : from.frequency, 0, 10000);
  });
}

void MxifBkgd::mergeFlagLevelsAngle(MxifModify& to, const MxifModify& from) {
  codec::merge(to, from, [&](const codec::FieldView& f) {
    if (f.is(from.on)) return within(from.on, 0, 1);
    if (f.is(from.value3)) return within(from.value3, -45, 45);
    return within(f.is(from.value1) ? from.value1 : from.value2, 0, 1000);
  });
}

bool MxifBkgd::isColorValid(const s16 color[3]) {
  // Each element out of range is noted.
  const bool hue = within(color[0], 0, 3599), saturation = within(color[1], 0, 1000);
  return within(color[2], 0, 1080) && hue && saturation;
}
