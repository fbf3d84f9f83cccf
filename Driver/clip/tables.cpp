// Tables of the clip and display encoders: quantiser tables, the DCT basis and the audio cadence.
#include <cmath>

#include "Driver/clip/clip.h"
#include "Driver/clip/player.h"
#include "Lib/Include/check.h"

const u8 MX_CLIP_INTRA_MATRIX[64] = {
    8,  17, 18, 19, 21, 23, 25, 27,  //
    17, 18, 19, 21, 23, 25, 27, 28,  //
    20, 21, 22, 23, 24, 26, 28, 30,  //
    21, 22, 23, 24, 26, 28, 30, 32,  //
    22, 23, 24, 26, 28, 30, 32, 35,  //
    23, 24, 26, 28, 30, 32, 35, 38,  //
    25, 26, 28, 30, 32, 35, 38, 41,  //
    27, 28, 30, 32, 35, 38, 41, 45,
};

namespace {

// The JPEG example tables of luminance and chrominance, in row order.
constexpr u8 JPEG_LUMA[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,
};
constexpr u8 JPEG_CHROMA[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,
};
constexpr float JPEG_LUMA_FACTOR = 1.1689497f;
constexpr float JPEG_CHROMA_FACTOR = 8.0f / 7.0f;
constexpr float RECIPROCAL_ONE = 1048576.0f;
constexpr int Q_MAX = 255;

// The entry read for table position i: transposed, from the far end of the source.
int sourceIndex(int i) { return 63 - ((i % 8) * 8 + i / 8); }

// Audio samples per VSYNC at 48 kHz, times ten, and the cadence table's words, by format code.
constexpr int SAMPLES_X10[8] = {8008, 9600, 8008, 9600, 8008, 9600, 10010, 10000};
constexpr int CADENCE_WORDS[8] = {704, 141, 469, 94, 329, 79, 704, 141};
int formatRow(int format) { return (format >= 0 && format < 8) ? format : 0; }

}  // namespace

void mxJpegScaleTable(u32* table, const u8* source, float quality, float factor) {
  for (int i = 0; i < 64; ++i) {
    long q = std::lround(quality * static_cast<float>(source[sourceIndex(i)]));
    if (q < 1) q = 1;
    if (q > Q_MAX) q = Q_MAX;
    table[i] = static_cast<u32>(factor * (RECIPROCAL_ONE / static_cast<float>(q)));
  }
}

void mxJpegQuantTables(u32* table, float quality) {
  mxJpegScaleTable(table, JPEG_LUMA, quality, JPEG_LUMA_FACTOR);
  mxJpegScaleTable(table + 64, JPEG_CHROMA, quality, JPEG_CHROMA_FACTOR);
}

void mxDctCoefficients(u32* out) {
  constexpr double PI = 3.14159265358979323846;
  auto basis = [](int u, int x) {
    const double norm = u == 0 ? 1.0 / (2.0 * std::sqrt(2.0)) : 0.5;
    const long v = std::lround(norm * std::cos((2 * x + 1) * u * PI / 16.0) * 16384.0);
    return static_cast<u32>(static_cast<u16>(static_cast<s16>(v)));
  };
  // Row u, columns 0..3 (the other four mirror them), two to a word, the first in the low half.
  for (int k = 0; k < 16; ++k) {
    const int u = k / 2, x = (k % 2) * 2;
    out[k] = out[k + 16] = basis(u, x) | (basis(u, x + 1) << 16);
  }
}

void mxClipLoadQuantTable(u32* table, float scale) {
  MX_CHECK(scale > 0.0f);
  for (int i = 0; i < 64; ++i) {
    table[i] = static_cast<u32>(RECIPROCAL_ONE / (scale * static_cast<float>(MX_CLIP_INTRA_MATRIX[sourceIndex(i)])));
  }
}

double mxClipSamplesPerVsync(int format) { return SAMPLES_X10[formatRow(format)] / 10.0; }

// The cadence spreads the format's S samples per VSYNC evenly over the table's 8E nibbles (E
// words of eight 4-bit values, low nibble first): nibble j = floor(S (j + 1) / 8E) - floor(S j / 8E),
// so the values sum to floor(S). The counts are the project's rule, not values of the hardware.
int mxClipCadenceTable(int format, u32* table) {
  const int row = formatRow(format);
  const s64 s10 = SAMPLES_X10[row];
  const int words = CADENCE_WORDS[row];
  const s64 nibbles = 8LL * words;
  for (int w = 0; w < words; ++w) {
    u32 word = 0;
    for (int n = 0; n < 8; ++n) {
      const s64 j = 8LL * w + n;
      const s64 v = s10 * (j + 1) / (10 * nibbles) - s10 * j / (10 * nibbles);
      word |= static_cast<u32>(v) << (4 * n);
    }
    table[w] = word;
  }
  return words;
}
