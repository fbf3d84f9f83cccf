#pragma once
// The entries of the block drivers that the driver core calls: format initialisation
// (mxInitialize), the per-frame writers of mxUpdate and mxUpdateEarly, the frame-counter events,
// the board start, and the colour setters behind mxSetColor. Each block driver defines its entries
// with these signatures in its own folder.
#include "Lib/Include/types.h"

// Board devices, inter-FPGA timing and serdes links.
int initDevices();
void initSyncTiming();
void initSyncTiming2();
void initSdiTransceivers();
int adjustSerdesDelay(int link, int delay);
void adjustAllSerdesDelays();

// Format timing, PLLs, temperature alarms, debug reports.
void mxInitWindowTiming();
void mxStillInitialize();
void mxSetDefaultFormatTiming();
void mxLoadFormatTable();
void mxSetTemperatureAlarm(u32 port, int celsius);
void mxReportBandwidth();
void mxReportBlockTimes();
// The start of the FPGA temperature monitor (frame 12).
void mxTemperatureMonitorStart();

// Transition (mix and wipe).
void mxTransInitialize(float scale);
void mxTransLoadPatternTables();
void mxTransUpdate();
void mxTransSetBkgdBorderColor(int y, int cb, int cr);
void mxTransSetKeyBorderColor(int key, int y, int cb, int cr);

// DVE.
void mxDveInitialize(float scale);
void mxDveUpdate();
void mxDveUpdateTail();
void mxDveSetColor(int target, int y, int cb, int cr);
// The image effect of a filter slot of an ME context (12816..): slot MX_BKGD, a key, or the B-bus
// slot MX_BKGD_B, whose values of the previous call go to the ME's registers at once (the filter
// writer calls it in its stage). Scale 1.0 means no effect.
void mxDveSetImageEffect(int context, int slot, int mosaic, float scale, u32 word);
// The background's two bus flags of an ME context.
void mxDveGetBusFlags(int context, int* a, int* b);

// Filters.
void mxFilterInitialize();
void mxFilterUpdate();
// Resize parameters of a filter slot (the extended display sets its two fixed slots).
void mxFilterSetParameters(int target, float a, float b, float c, float d);

// Keys and key mixer.
void mxKeyInit();
void mxKeyWriteParams();
void mxKeyUpdateMixer();
void mxKeyLatchParams();
void mxKeySetMatteColor(int target, int y, int cb, int cr);
void mxKeySetEdgeColor(int target, int y, int cb, int cr);
void mxKeySetExtraColor(int target, int y, int cb, int cr);
// The filter parameters of a key (words 23..26 of its parameter block), from the filter driver.
void mxKeySetFilterParameters(int target, float a, float b, float c, float d);
// From the transition driver: a key's transition latency (its delay flag) in the current context,
// and whether the key settings of a key (MX_KEY1..MX_KEY4) of a context (12816..) changed since
// they were last latched (1) or not (0).
void mxKeySetDelayed(int key, int on);
int mxKeyParamsChanged(int context, int key);

// Colour backgrounds.
void mxCbgdInit(int format, float factor);
void mxCbgdUpdate();

// Multiview and OSD.
void mxMvInitFormat();
void mxMvReset(int target);
void mxMvUpdate();
// The OSD start of the board: clears the four multiview overlays and flushes.
void mxOsdBoardInit();

// Still players, crosspoint frame writer, clip players, extended display.
void mxFrameUpdate();
void mxCrosspointUpdate();
void mxClipInit();
void mxClipResetHeader(int target);  // MX_CLIP_1 .. MX_CLIP_4, or -1 for all four
void mxClipUpdate();
void mxClipUpdateOutputs();
void mxDisplayInit();
void mxDisplayUpdate();

// SDI and DVI inputs, outputs, genlock.
void mxSdiInit();
void mxSdiUpdateControl();
void mxSdiUpdateStatus();
void mxSdiPollInputs();
// Status bit n (0..7) of the SDI input groups, 0 outside; detected format index of an input.
int mxSdiGetStatusBit(int n);
int mxSdiGetFormat(int target);
void mxDviInit();
void mxOutConvInit();
// The down-converters at the SDI bring-up: each unit for the current format, squeezed.
void mxOutConvStart();
void mxGenlockReset();
void mxGenlockUpdate(int field);
