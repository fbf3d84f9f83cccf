#pragma once
// Registers of the clip players in the ME1 FPGA: the clip encoder, the two decoder blocks (two
// players each), the activity statistics of the encoder, the audio block and the output selectors.
#include "Driver/core/core.h"

// ---- Encoder -----------------------------------------------------------------------------------
constexpr u32 CLIP_ENCODER = MX_ME1_BASE + 0x1400;
constexpr u32 CLIP_ENC_CONTROL = 0x00;   // 0 stops; CLIP_ENC_START_A / _B start on a source
constexpr u32 CLIP_ENC_STATUS = 0x04;    // CLIP_ENC_DONE once the unit is complete
constexpr u32 CLIP_ENC_SIZE = 0x08;      // bytes of the unit
constexpr u32 CLIP_ENC_MODE = 0x0C;
// Per source (A, or B for the second pair of players): source word and the header's flag bit 0.
constexpr u32 CLIP_ENC_SOURCE_A = 0x10, CLIP_ENC_FLAGS_A = 0x14;
constexpr u32 CLIP_ENC_SOURCE_B = 0x18, CLIP_ENC_FLAGS_B = 0x1C;
constexpr u32 CLIP_ENC_LAST_PIXEL = 0x24, CLIP_ENC_LAST_LINE = 0x28;
constexpr u32 CLIP_ENC_QUANT = 0x2C;     // port: 64 reciprocal quantiser words
constexpr u32 CLIP_ENC_DCT = 0x30;       // four ports of eight DCT words each, 4 bytes apart
constexpr u32 CLIP_ENC_LIMIT_RESET = 0x50;
constexpr u32 CLIP_ENC_LIMIT = 0x54;     // port: 64 words of scaled quantiser steps
constexpr u32 CLIP_ENC_ADDRESS_A = 0x80, CLIP_ENC_ADDRESS_B = 0xC0;  // clip-memory address of the unit
constexpr u32 CLIP_ENC_DONE = 1u << 5;
constexpr u32 CLIP_ENC_START_A = 1, CLIP_ENC_START_B = 7;
constexpr u32 CLIP_ADDRESS_GO = 0x80000001;  // or-ed into the encoder's address word to arm it
// Source words: the base code, plus the even-field offset when the unit starts on field 0.
constexpr u32 CLIP_SOURCE_PAIRED = 0xA08, CLIP_SOURCE_720 = 0xA08, CLIP_SOURCE_OTHER = 0xA14;
constexpr u32 CLIP_FIELD_PAIRED = 256, CLIP_FIELD_OTHER = 128;

// ---- Decoders ------------------------------------------------------------------------------------
// Players 0, 1 share the first block, 2, 3 the second; the odd player's words lie 8 bytes further
// (paired-FPGA mode: player 0 in the first block, player 1 in the second, neither offset).
constexpr u32 CLIP_DECODER_1 = MX_ME1_BASE + 0x1500, CLIP_DECODER_2 = MX_ME1_BASE + 0x1600;
constexpr u32 CLIP_DECODER_ODD = 8;
constexpr u32 CLIP_DEC_CONTROL = 0;
constexpr u32 CLIP_DEC_SOURCE = 16;      // playback control base, plus the field offset
constexpr u32 CLIP_DEC_FLAGS = 20;       // header flag bit 0
constexpr u32 CLIP_DEC_ADDRESS = 128;    // start word: address | CLIP_DEC_GO
constexpr u32 CLIP_DEC_LENGTH = 132;     // written: (blocks - 1) x 256 (+ 3); read: the error word
constexpr u32 CLIP_DEC_GO = 0x80000000;
constexpr u32 CLIP_DEC_LENGTH_FLAG = 3;  // added with header flag bit 1
// Error word: uncorrectable errors in the top byte, corrected ones in bits 16..23.
constexpr u32 CLIP_DEC_UNCORRECTABLE_SHIFT = 24, CLIP_DEC_CORRECTED_SHIFT = 16;
// Start values of a decoder pair's control word: the even player's, the odd player's.
constexpr u32 CLIP_DEC_ARM_EVEN = 0, CLIP_DEC_GO_EVEN = 1, CLIP_DEC_ARM_ODD = 2, CLIP_DEC_GO_ODD = 3;

// Set-up words of each decoder block (from the block base).
constexpr u32 CLIP_DEC_SETUP = 0x0C;
constexpr u32 CLIP_SETUP_MODE = 0, CLIP_SETUP_BLOCKS = 20, CLIP_SETUP_LAST_PIXEL = 24, CLIP_SETUP_LAST_LINE = 28;
constexpr u32 CLIP_SETUP_DCT = 36;       // four ports of eight DCT words each, 4 bytes apart
constexpr u32 CLIP_SETUP_ZERO_1 = 116, CLIP_SETUP_ZERO_2 = 124, CLIP_SETUP_LENGTH = 132;
constexpr u32 CLIP_SETUP_LENGTH_VALUE = 512;

// ---- Encoder statistics ---------------------------------------------------------------------------
constexpr u32 CLIP_STATS = MX_ME1_BASE + 0x1A00;
constexpr u32 CLIP_STATS_ADDRESS = 0x00, CLIP_STATS_PORT = 0x04, CLIP_STATS_MODE = 0x08, CLIP_STATS_LINES = 0x0C;
constexpr u32 CLIP_STATS_MODE_VALUE = 2;
// Eight activity words per bank; bank C only with header flag bit 0.
constexpr u32 CLIP_STATS_BANK_A = 32, CLIP_STATS_BANK_B = 64, CLIP_STATS_BANK_C = 96;

// ---- Audio -----------------------------------------------------------------------------------------
constexpr u32 CLIP_AUDIO_CAPTURE = MX_ME1_BASE + 0x1800;  // (player + 28) << 24, | CLIP_AUDIO_GO
constexpr u32 CLIP_AUDIO_POINTER = MX_ME1_BASE + 0x1804;  // byte pointer in bits 0..23, state in 24..25
constexpr u32 CLIP_AUDIO_MODE = MX_ME1_BASE + 0x1808;
constexpr u32 CLIP_AUDIO_FORMAT_COPY = MX_ME1_BASE + 0x1820;
constexpr u32 CLIP_AUDIO_GO = 0x80000000;
constexpr u32 CLIP_AUDIO_STATE_SHIFT = 24, CLIP_AUDIO_STATE_RUNNING = 3;
constexpr u32 CLIP_AUDIO_POINTER_MASK = 0xFFFFFF, CLIP_AUDIO_WRAP_MARK = 0xF00000;
// Per player p at CLIP_AUDIO_PLAYER + 16 p: play address, control, levels.
constexpr u32 CLIP_AUDIO_PLAYER = MX_ME1_BASE + 0x1900, CLIP_AUDIO_PLAYER_STRIDE = 16;
constexpr u32 CLIP_AUDIO_ADDRESS = 0, CLIP_AUDIO_CONTROL = 4, CLIP_AUDIO_LEVEL_A = 8, CLIP_AUDIO_LEVEL_B = 12;
constexpr u32 CLIP_AUDIO_ADDRESS_BASE = 0x1C000000, CLIP_AUDIO_ADDRESS_STEP = 0x1000000;
constexpr u32 CLIP_AUDIO_LEVEL_INIT = 32768;
// Control values: stopped, playing, passing the input through.
constexpr u32 CLIP_AUDIO_STOP = 1, CLIP_AUDIO_PLAY = 3, CLIP_AUDIO_THROUGH = 5;
constexpr u32 CLIP_AUDIO_FORMAT = MX_ME1_BASE + 0x1940;  // six format words
constexpr u32 CLIP_AUDIO_ZERO_1 = MX_ME1_BASE + 0x1958, CLIP_AUDIO_ZERO_2 = MX_ME1_BASE + 0x1970;
constexpr u32 CLIP_AUDIO_CADENCE = MX_ME1_BASE + 0x1974;  // port: the cadence table
constexpr u32 CLIP_AUDIO_FRAME_RESET = MX_ME1_BASE + 0x1978;
constexpr u32 CLIP_AUDIO_FRAME_PORT = MX_ME1_BASE + 0x197C;  // port: 24 frame bytes
constexpr u32 CLIP_AUDIO_RING_SAMPLES = 0x400000;
constexpr u32 CLIP_AUDIO_SAMPLE_MASK = 0x3FFFFE;

// ---- Output selectors --------------------------------------------------------------------------------
constexpr u32 CLIP_OUTPUT_1 = MX_ME1_BASE + 0x1300, CLIP_OUTPUT_3 = MX_ME1_BASE + 0x1380;
constexpr u32 CLIP_OUTPUT_LIVE_PAIRED = 0x8A08, CLIP_OUTPUT_LIVE_720 = 0x8A08, CLIP_OUTPUT_LIVE_OTHER = 0x8A14;
constexpr u32 CLIP_OUTPUT_PLAY = 0x8000;  // added to the playback control base while a clip shows

// ---- Clip memory -----------------------------------------------------------------------------------
constexpr u32 CLIP_MEMORY_SIZE = 0x30000000;  // 768 MiB per player
