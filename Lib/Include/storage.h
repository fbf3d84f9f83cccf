#pragma once
// Areas of the non-volatile window (offsets from NON_VOLATILE_BASE) and of the backup buffers.
#include "Lib/Include/memory_map.h"
#include "Lib/Include/types.h"

// Backup image at offset 0: magic, version, then the records of the ME 0 and ME 1 instances.
constexpr u32 BACKUP_MAGIC = 0x08765421;
constexpr u32 BACKUP_VERSION = 146;
constexpr int BACKUP_HEADER_BYTES = 8;
constexpr int BUF_SIZE = 17920;      // words of the backup buffer and of the volatile buffer
constexpr int BUF_SIZE_EXT = 15360;  // words of the extended buffer behind the backup buffer

// Settings words behind the image.
constexpr int STORAGE_VERSION_COPY = 0x14008;      // image version, copied at every cold power-on
constexpr int STORAGE_GENLOCK = 0x14010;           // three words: marker, start DAC, averaged DAC
constexpr u32 STORAGE_GENLOCK_MARKER = 0x2A551234;
constexpr int STORAGE_BOARD_MODE_MARKER = 0x14028;
constexpr u32 BOARD_MODE_MARKER = 0x54AA1234;
constexpr int STORAGE_BOARD_MODE = 0x1402C;        // low byte valid only behind the marker
// The board mode that the marker word and the mode word give: the mode word's low byte behind the
// marker, else 0 (a plain board).
constexpr int boardModeOf(u32 marker, u32 word) { return marker == BOARD_MODE_MARKER ? static_cast<int>(word & 0xFF) : 0; }

// The backup buffer (BACKUP_BUFFER_ADR) and the extended buffer behind it.
constexpr u32 BACKUP_BUFFER_EXT_ADR = BACKUP_BUFFER_ADR + BUF_SIZE * 4;
