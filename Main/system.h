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

// Copies every field whose presence bit is set in source into target and sets the bit there; texts
// follow the copy rule of merged texts.
void mergeSystem(MxifSystem& target, const MxifSystem& source);

}  // namespace libmx
