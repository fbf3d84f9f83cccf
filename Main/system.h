#pragma once
// System settings: the rules of the system record (formats, phase predicates, switching gate,
// validation of a request, merge) and the category that owns type 29.
#include "data_internal.h"

namespace libmx {

// Format table: driver format code (mode not 2) and total line length in samples, by format 0..11.
// Returns -1 for a format outside 0..11.
int systemDriverFormatCode(int format, int mode);
int systemLineLength(int format);

// 1080-line segmented-frame formats (two VSYNCs per picture): 2, 3, 8, 9.
inline bool isSegmentedFormat(int format) { return format == 2 || format == 3 || format == 8 || format == 9; }
// 720-line progressive formats: 4, 5.
inline bool is720Format(int format) { return format == 4 || format == 5; }
// Standard-definition formats (BT.601 colour): 6, 7.
inline bool isSdFormat(int format) { return format == 6 || format == 7; }

// Phase rules; fieldFlag is the field bit of the current VSYNC (0 or 1).
bool isFieldPhase(int format, u8 fieldFlag, int field);
bool isClipPhase(int format, u8 fieldFlag);
bool isRecallPhase(int format, int recallPhaseMode, u8 fieldFlag);
// Whether switching commands and button events may act on this VSYNC.
bool isSwitchingGateOpen(int format, int recallPhaseMode, u8 fieldFlag);

// Picture aspect factor of the standard-definition formats shown 16:9: 0.84 (format 6) or 0.76
// (format 7) when the scale flag is 1, else 1.0.
float sdAspectScale(int format, int sdScaleFlag);

// Builds into `accepted` the request with only its present and valid fields marked present. The
// system mode counts only when it differs from the live one. On the first request after start
// (firstAssign) the two display toggles are taken from the live record instead.
void acceptSystemFields(const MxifSystem& request, const MxifSystem& live, bool firstAssign,
                        MxifSystem& accepted);

// Wire body of type 29 (big-endian, texts in their wire form): read from one packet body (false,
// with the record partly filled, when the body is too short), written onto anything with
// write(u8), and its length (106 plus the six text counts that are not negative).
template <class In>
bool readSystem(In& in, MxifSystem& r);
u32 systemWireLength(const MxifSystem& r);
template <class Out>
void writeSystem(Out& out, const MxifSystem& r);

// Copies every field whose presence bit is set in source into target and sets the bit there; texts
// follow the copy rule of merged texts.
void mergeSystem(MxifSystem& target, const MxifSystem& source);

// The wire fields of type 29 in order; v is called with each scalar, byte array and text.
template <class V, class R>
void systemWireFields(V& v, R& r) {
  v(r.mask);
  v(r.videoMask);
  v(r.format);
  v(r.mode);
  v(r.sdScale);
  v(r.phaseMask);
  v(r.verticalOffset);
  v(r.horizontalPhase);
  v(r.verticalPhase);
  v(r.genlockMask);
  v(r.genlockReference);
  v(r.genlockSetup);
  v(r.genlockStatus);
  v(r.secondMask);
  v(r.bkgdLatency);
  v(r.keyLatency);
  v(r.secondText);
  v(r.sdiDelay);
  auto& a = r.ancillary;
  v(a.mask);
  v(a.aux1Follows);
  v(a.meOutput1Mode);
  v(a.meOutput2Mode);
  v(a.keySelect);
  v(a.perMeKeySelect);
  v(a.dskStageMode);
  v(a.dskMask);
  v(a.dskStageSource);
  v(a.meKeySelectMask);
  v(a.meKeySelect);
  v(r.multiviewMask);
  v(r.multiviewSource);
  v(r.recallPhaseMode);
  v(r.addressTexts.mask);
  v(r.addressTexts.text1);
  v(r.addressTexts.text2);
  v(r.addressTexts.text3);
  v(r.addressTexts.text4);
  auto& d = r.display;
  v(d.mask);
  v(d.timingFlag);
  v(d.timingSelect);
  v(d.option);
  v(d.toggle1);
  v(d.toggle2);
  v(r.busRefresh);
}

template <class In>
struct SystemWireReader {
  In& in;
  void operator()(u8& x) { x = in.readU8(); }
  void operator()(s16& x) { x = static_cast<s16>(in.readU16()); }
  void operator()(u32& x) { x = in.readU32(); }
  template <size_t N>
  void operator()(u8 (&x)[N]) {
    for (u8& b : x) b = in.readU8();
  }
  template <int C>
  void operator()(TextField<C>& t) {
    readText(in, t);
  }
};

template <class In>
bool readSystem(In& in, MxifSystem& r) {
  SystemWireReader<In> reader{in};
  systemWireFields(reader, r);
  return !in.isShort();
}

template <class Out>
struct SystemWireWriter {
  Out& out;
  void operator()(const u8& x) { out.write(x); }
  void operator()(const s16& x) { writeU16(out, static_cast<u16>(x)); }
  void operator()(const u32& x) { writeU32(out, x); }
  template <size_t N>
  void operator()(const u8 (&x)[N]) {
    for (u8 b : x) out.write(b);
  }
  template <int C>
  void operator()(const TextField<C>& t) {
    writeText(out, t);
  }
};

template <class Out>
void writeSystem(Out& out, const MxifSystem& r) {
  SystemWireWriter<Out> w{out};
  systemWireFields(w, r);
}

}  // namespace libmx
