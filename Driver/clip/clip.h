#pragma once
// Clip players: four players (MX_CLIP_1 .. MX_CLIP_4; two in paired-FPGA mode) record compressed
// frame units from the clip encoder into clip memory, list them in a header and a frame index in
// the shared window (Lib/Include/shared.h), and play them back field by field or frame by frame,
// with audio. Setters change the player state and the headers; mxClipUpdateOutputs (stage 2 of
// mxUpdate) and mxClipUpdate (stage 5) write the registers. Entries the core calls are in
// Driver/blocks.h. Also the quantiser and DCT tables that the extended display shares.
#include "Driver/core/core.h"

// ---- Players -------------------------------------------------------------------------------------
// Header words of a player in a form for the clip categories: units played (0 and every output 0
// without a clip), picture size of the stored format, header flag bit 0, whether audio is stored.
void mxClipGetInfo(int target, int* length, int* width, int* height, int* flag, int* audio);
int mxClipGetLength(int target);  // stored units
int mxClipGetStatus(int target);  // 1 while recording
// Cues frame: mode 0 shows a field pair from frame, 1 holds that frame, 2 plays on from it.
void mxClipSetMode(int target, int frame, int mode);
void mxClipArmAudioPlayback(int target);
// Ends audio capture (storing where the samples lie) and stops audio playback.
void mxClipStop(int target);
// count -1 records until stopped, n > 0 records n units, 0 ends a recording. Flags: bits 0-1 mode
// (1: half capacity), bit 2 the larger activity bank, bit 3 audio, bit 4 append to the stored units.
void mxClipRecord(int target, int count, int flags);
void mxClipSetPlayRange(int target, int in, int length);
// Keeps units [start, start + length) of the stored clip.
void mxClipTrim(int target, int start, int length);
// 1: the player passes its input through.
void mxClipSetEnable(int target, int enable);
void mxClipGetAudioLevel(int target, u32* left, u32* right);
// The per-frame record step of a recording player (index 0..3), from mxClipUpdate.
void mxClipRecordFrame(int player);

// ---- Tables shared with the extended display ------------------------------------------------------
// 64 entries factor x 1048576 / q, q = round(quality x source[63 - t(i)]) where t swaps the row and
// column of i; q 0 counts as 1 and q from 255 on as 255.
void mxJpegScaleTable(u32* table, const u8* source, float quality, float factor);
// 128 entries: the JPEG luminance table, then the chrominance table, for a quality.
void mxJpegQuantTables(u32* table, float quality);
// 32 words: the 16 words of the 8-point DCT basis (two signed 16-bit values x 16384 a word), twice.
void mxDctCoefficients(u32* out);
// 64 entries 1048576 / (scale x M[63 - t(i)]), M the default intra quantisation matrix.
void mxClipLoadQuantTable(u32* table, float scale);
// Audio samples per VSYNC of a format code (48 kHz).
double mxClipSamplesPerVsync(int format);
// The audio cadence table of a format code: its number of words, written to table (up to 704).
int mxClipCadenceTable(int format, u32* table);
constexpr int MX_CLIP_CADENCE_MAX = 704;

// Test support: the players as at program start.
void mxClipReset();
