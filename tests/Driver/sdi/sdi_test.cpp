

#include "Driver/sdi/regs.h"
#include "Driver/xpt/regs.h"
#include "Platform/sdi_inputs.h"
#include "tests/Driver/driver_test.h"

using namespace sdi_regs;
using namespace driver_test;

namespace {

enum BoardMode { NORMAL = 0, DUAL = 1, QUAD = 2 };

class SdiTest : public DriverTest {
 protected:
  void SetUp() override { boardMode(NORMAL); }
  void boardMode(int mode) {
    DriverTest::boardMode(mode);
    traceClear();
  }
  // A register of each FPGA.
  static Words perFpga(u32 offset) {
    Words w;
    for (u32 base : FPGA) w.push_back(regPeek(base + offset));
    return w;
  }
};

// One input enabled (the paired-FPGA mode always takes its companion) or given a link mode: a control
// word of each FPGA.
TEST_F(SdiTest, EnableAndLinkWordsByBoardMode) {
  constexpr int ENABLED = 99;
  struct Case { BoardMode mode; int id, linkMode; u32 word; Words words; } cases[] = {
      {NORMAL, MX_IN_24, ENABLED, ENABLE, {0, 1u << 13, 0, 0}}, {NORMAL, MX_IN_32, ENABLED, ENABLE, {0, 0, 0, 8}},
      {DUAL, MX_IN_2, ENABLED, COMPANION, {0xC, 0, 0, 0}},     {DUAL, MX_IN_6, ENABLED, ENABLE, {0, 3, 0, 0}},
      {DUAL, MX_IN_16, ENABLED, COMPANION, {0, 0, 0, 0xC}},    {DUAL, MX_IN_17, ENABLED, ENABLE, {0, 0, 0, 0}},
      {QUAD, MX_IN_9, ENABLED, ENABLE, {4, 1, 0, 0}},          {QUAD, MX_IN_13, ENABLED, ENABLE, {0, 2, 0, 0}},
      {QUAD, MX_IN_10, ENABLED, ENABLE, {0, 0, 0, 0}},         {NORMAL, MX_IN_2, 1, LINK1, {2, 0, 0, 0}},
      {NORMAL, MX_IN_2, 1, LINK2, {0, 0, 0, 0}},               {NORMAL, MX_IN_2, 2, LINK2, {2, 0, 0, 0}},
      {NORMAL, MX_IN_2, 5, LINK2, {0, 0, 0, 0}},               {NORMAL, MX_IN_2, 5, LINK3, {2, 0, 0, 0}},
      // quad-link: link 3 as a nibble per group; ME2's first nibble is input 9's two channels
      {QUAD, MX_IN_5, -1, LINK3, {0xF0, 0, 0, 0}},             {QUAD, MX_IN_9, 3, LINK2, {4, 1, 0, 0}},
      {QUAD, MX_IN_9, 3, LINK3, {0xF00, 3, 0, 0}},             {QUAD, MX_IN_21, 3, LINK1, {0, 8, 0, 0}},
      {QUAD, MX_IN_21, 3, LINK3, {0, 0xF000, 0, 0}}};
  for (const auto& c : cases) {
    boardMode(c.mode);
    for (int k = 0; k < 32; ++k) mxSdiSetLinkMode(MX_IN_1 + k, 0);
    if (c.linkMode == ENABLED) mxSdiSetEnable(c.id, 1, 0);
    else mxSdiSetLinkMode(c.id, c.linkMode);
    mxSdiUpdateControl();
    EXPECT_EQ(perFpga(c.word), c.words) << c.mode << " " << c.id << " " << c.linkMode << " " << c.word;
  }
}

TEST_F(SdiTest, ModesConversionAndChannelOptions) {
  mxSdiSetMode(MX_IN_12, MX_SDI_CONVERT);  // ME2 channel 1
  mxSdiSetMode(MX_IN_27, MX_SDI_UC);       // SDI1 channel 2
  mxSdiSetLinkMode(MX_IN_27, 2);
  mxSdiUpdateControl();
  EXPECT_EQ(perFpga(SELECT), (Words{0, 2, 4, 0}));  // link 2 without the up-converted input | conversion
  EXPECT_EQ(perFpga(UP_CONVERT), (Words{0, 0, 4, 0}));
  EXPECT_EQ(regPeek(FPGA[SDI1] + LINK2), 0u);
  mxSdiSetInputSelect(MX_IN_2, MX_SDI_SELECT_2);
  mxSdiUpdateStatus();
  EXPECT_EQ(perFpga(SELECT), (Words{2, 0, 0, 0}));  // the select words follow in every mode
  Words convert(14, 0);
  convert[1] = 1;
  EXPECT_EQ(writesTo(FPGA[ME2] + PROCESS + P_CONVERT), convert);
  EXPECT_EQ(regPeek(FPGA[SDI2] + PROCESS + P_CONVERSION), 1044u);

  mxSdiSetChannelOption(MX_IN_28, 0x1A, 0);  // nibble 3 of SDI1
  mxSdiSetChannelOption(MX_IN_31, 5, 0);     // nibble 2 of SDI2
  EXPECT_EQ(perFpga(CHANNEL_OPTION), (Words{0, 0, 0xA000, 0x500}));
  mxSdiSetChannelOption(MX_IN_14, 3, 1);  // the whole word: nibbles 2 and 3
  mxSdiSetChannelOption(MX_IN_32, 1, 0);
  EXPECT_EQ(perFpga(CHANNEL_OPTION), (Words{0, 0, 0x3300, 0x1000}));
  boardMode(DUAL);
  mxSdiSetChannelOption(MX_IN_16, 3, 1);
  EXPECT_EQ(perFpga(CHANNEL_OPTION), (Words{0, 0, 0, 0x3300}));
}

TEST_F(SdiTest, InitWordsAndDelay) {
  mxSdiSetEnable(MX_IN_3, 1, 0);
  mxSdiInit();
  mxSdiUpdateControl();
  mxSdiSetDelay(2);  // the delay is for the quad-link mode only
  EXPECT_EQ(std::tuple(perFpga(ENABLE), perFpga(LINK1), perFpga(DELAY)),
            std::tuple(Words{0, 0, 0, 0}, Words{0x3FF, 0x3FFF, 0xF, 0xF}, Words{0, 0, 0, 0}));
  boardMode(QUAD);
  mxSdiUpdateControl();
  mxSdiSetDelay(2);
  EXPECT_EQ(std::tuple(perFpga(LINK1), perFpga(DELAY)), std::tuple(Words{7, 0xF, 1, 1}, Words{2, 2, 2, 2}));
}

TEST_F(SdiTest, FormatAndFlagDecoding) {
  constexpr u32 S1 = 1, S2 = 2, S3 = 4;
  struct Case { BoardMode mode; int id; u32 nibble, bits, payload; int format, flags; } cases[] = {
      {NORMAL, MX_IN_1, 15, S1, 0, -1, 1}, {NORMAL, MX_IN_1, 3, S1 | S2 | S3, 0, -2, 2},
      {NORMAL, MX_IN_1, 3, S1, 0, 11, 1}, {NORMAL, MX_IN_1, 3, S1 | S3, 151u | 0xF0000000u, 11, 1 + 16 + 12},
      {NORMAL, MX_IN_1, 3, S1 | S2, 0x50000098u, 11, 2 + 16 + 4},  // payload 152
      {NORMAL, MX_IN_20, 6, S1, 0, 14, 1},  // ME2 channel 9: second nibble word, payload from + 0xB88
      {NORMAL, MX_IN_1, 4, S2, 151, 4, 0}, {QUAD, MX_IN_1, 4, 0, 0, 4, 1}, {QUAD, MX_IN_1, 4, S2, 0, 4, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nibble * 10 + c.bits);
    boardMode(c.mode);
    const int f = c.id == MX_IN_1 ? ME1 : ME2;
    const int ch = c.id == MX_IN_1 ? 0 : 9;
    const u32 B = FPGA[f];
    regPoke(B + (ch < 8 ? FORMAT_LOW : FORMAT_HIGH), c.nibble << (4 * (ch % 8)));
    regPoke(B + STATUS_S1, (c.bits & S1) << (16 + ch));
    regPoke(B + STATUS_S2, ((c.bits & S2) >> 1) << (16 + ch));
    regPoke(B + STATUS_S3, ((c.bits & S3) >> 2) << (16 + ch));
    regPoke(B + (f == ME2 ? PAYLOAD_ME2 : PAYLOAD) + 4 * static_cast<u32>(ch), c.payload);
    mxSdiUpdateStatus();
    EXPECT_EQ(std::make_tuple(mxSdiGetFormat(c.id), mxSdiGetFormatFlags(c.id)), std::make_tuple(c.format, c.flags));
  }
}

// Quad-link groups: input 5 (channels 4-7 on ME1) and input 9 (ME1 8-9, ME2 0-1).
TEST_F(SdiTest, QuadLinkAlignment) {
  constexpr u32 LIMIT = 6673333 - 1000;  // 1080-line 59.94 Hz
  // input: the first input of the group; timing: as read, ME2's 32 early; asyncLink: -1 for none.
  struct Case { const char* what; int input; int formats[4]; u32 timing[4]; int asyncLink; bool bad; } cases[] = {
      {"160 apart", 5, {0, 0, 0, 0}, {1000, 1160, 840, 1000}, -1, false},
      {"161 apart", 5, {0, 0, 0, 0}, {1000, 1161, 1000, 1000}, 5, true},
      {"first link without signal", 5, {-1, 0, 0, 0}, {1, 1000, 1000, 1161}, 7, true},
      {"wrap", 5, {0, 0, 0, 0}, {100, LIMIT, 100, 100}, -1, false},
      {"not a wrap", 5, {0, 0, 0, 0}, {100, LIMIT - 1, 100, 100}, 5, true},
      {"timing unknown", 5, {0, 0, 0, 0}, {0xFFFFFF, 1, 1, 1}, -1, false},
      {"format differs", 5, {0, 2, 0, 0}, {1000, 5000, 1000, 1000}, -1, true},
      {"bad link", 5, {0, -2, 0, 0}, {1000, 1000, 1000, 1000}, -1, true},
      {"ME2 half out", 9, {8, 8, 8, 8}, {1000, 1000, 968, 800}, 11, true},
      {"input 9 link missing", 9, {8, 8, -1, 8}, {1000, 1000, 968, 968}, -1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    boardMode(QUAD);
    for (int j = 0; j < 4; ++j) {
      const int n = c.input - 1 + j;
      sdiSetDetectedFormat(n + 1, c.formats[j]);
      regPoke(n < 10 ? FPGA[ME1] + TIMING + 4 * static_cast<u32>(n) : FPGA[ME2] + TIMING_ME2 + 4 * static_cast<u32>(n - 10),
              c.timing[j]);
    }
    mxSdiUpdateStatus();
    mxSdiUpdateStatus();
    for (int j = 0; j < 4; ++j) {
      const int n = c.input - 1 + j;
      EXPECT_EQ((mxSdiGetFormatFlags(MX_IN_1 + n) & 32) != 0, n == c.asyncLink) << n;
    }
    const u32 badBit = c.input == 5 ? 2 : 4;  // ME1 bits of the groups
    EXPECT_EQ((regPeek(FPGA[ME1] + SELECT) >> SELECT_BAD_SHIFT) == badBit, c.bad);
    EXPECT_EQ(consoleCount("ASYNC 4K SDI Input#"), c.asyncLink >= 0 ? 1 : 0);
  }
}

TEST_F(SdiTest, LevelBGroupsAndSelectWords) {
  boardMode(QUAD);
  for (int n = 1; n <= 8; ++n) sdiSetDetectedFormat(n, n <= 4 ? 9 : 1);  // input 5's group below 8
  mxSdiSetLinkMode(MX_IN_1, 3);
  mxSdiSetLinkMode(MX_IN_5, 3);
  mxSdiSetInputSelect(MX_IN_1, MX_SDI_SELECT_1);
  mxSdiSetInputSelect(MX_IN_5, MX_SDI_SELECT_2);
  mxSdiSetInputSelect(MX_IN_9, MX_SDI_SELECT_OTHER);
  mxSdiSetInputSelect(MX_IN_13, MX_SDI_SELECT_2);
  mxSdiSetInputSelect(MX_IN_29, MX_SDI_SELECT_2);
  struct Case { u32 alignedMe1, alignedMe2; Words select; u32 fourK; } cases[] = {
      {4, 0, {2 | 1u << 8, 2, 0, 1}, 0},                 // input 9 aligned on ME1 only: dropped
      {4, 1, {2 | 5u << 8, 2 | 1u << 8, 0, 1}, 1}};        // both halves
  for (const auto& c : cases) {
    regPoke(FPGA[ME1] + ALIGNED, c.alignedMe1);
    regPoke(FPGA[ME2] + ALIGNED, c.alignedMe2);
    mxSdiUpdateStatus();
    EXPECT_EQ(std::make_tuple(perFpga(SELECT), regPeek(FOUR_K_SELECT)), std::make_tuple(c.select, c.fourK));
  }
  mxSdiUpdateControl();
  EXPECT_EQ(regPeek(FPGA[ME1] + LINK2), 3u | 2u << 8);  // input 5's group is not level A
  const int bits[] = {mxSdiGetStatusBit(-1), mxSdiGetStatusBit(0), mxSdiGetStatusBit(1), mxSdiGetStatusBit(3),
                      mxSdiGetStatusBit(6), mxSdiGetStatusBit(7), mxSdiGetStatusBit(8)};
  EXPECT_EQ(std::vector<int>(bits, bits + 7), (std::vector<int>{0, 0, 1, 1, 0, 1, 0}));
  mxSdiSetInputSelect(MX_IN_9, MX_SDI_SELECT_2);  // ME2 bit 0 as well
  regPoke(FPGA[ME2] + ALIGNED, 0);
  mxSdiUpdateStatus();
  EXPECT_EQ(regPeek(FOUR_K_SELECT), 1u);
}

TEST_F(SdiTest, PollReadsOneGroupPerPass) {
  // pass: the pass (0..3) that reads it.
  struct Case { BoardMode mode; int id, fpga, slot, pass; } cases[] = {
      {NORMAL, MX_IN_24, ME2, 13, 1}, {NORMAL, MX_IN_32, SDI2, 3, 3}, {QUAD, MX_IN_9, ME1, 2, 0},
      {QUAD, MX_IN_21, ME2, 2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    boardMode(c.mode);
    u32(&w)[SDI_SELECTORS][SDI_COUNTER_WORDS] = sdiReceiver(c.fpga).words;
    w[0][c.slot] = 0x01000005, w[16][c.slot] = 2;         // flag from a
    w[1][c.slot] = 5, w[17][c.slot] = 0x800010;          // b has bit 23
    w[15][c.slot] = 0x123, w[31][c.slot] = 0x01000000;   // flag from b
    u32 words[16];
    u8 bytes[16];
    for (int pass = 0; pass < 4; ++pass) {
      mxSdiPollInputs();
      mxSdiGetStatusWords(c.id, words);
      ASSERT_EQ(words[0], pass < c.pass ? 0u : 3u) << pass;
    }
    mxSdiGetInfoBytes(c.id, bytes);
    EXPECT_EQ(std::make_tuple(words[1], words[15], std::vector<int>({bytes[0], bytes[1], bytes[14], bytes[15]})),
              std::make_tuple(0x7FFFF5u, 0x123u, (std::vector<int>{1, 0, 0, 1})));
  }
  // Quad-link: channels between the groups' first ones are cleared.
  sdiReceiver(ME1).words[0][1] = 7;
  for (int pass = 0; pass < 4; ++pass) mxSdiPollInputs();
  u32 words[16];
  mxSdiGetStatusWords(MX_IN_2, words);
  EXPECT_EQ(words[0], 0u);
  // The re-arm through the group's receiver closes every pass.
  traceClear();
  mxSdiPollInputs();
  const Words control = writesTo(FPGA[ME1] + RECEIVER + RX_CONTROL),
      select = writesTo(FPGA[ME1] + RECEIVER + RX_SELECT);
  EXPECT_EQ(Words(control.end() - 4, control.end()), (Words{0, 2, 0, 1}));
  for (u32 i = 0; i < 16; ++i) EXPECT_EQ(Words(select.end() - 32 + 2 * i, select.end() - 30 + 2 * i), (Words{i,
      i + 16}));
}

TEST_F(SdiTest, StalledTicoDecoderRestarts) {
  const u32 S1 = FPGA[SDI1], S2 = FPGA[SDI2];
  regPoke(S1 + TICO_STATUS, 0x12);
  regPoke(S2 + TICO_STATUS, 0x16);  // running
  for (int poll = 1; poll <= 6; ++poll) {
    mxSdiPollInputs();
    ASSERT_EQ(consoleCount("reset TICO 0\n"), poll < 6 ? 0 : 1) << poll;
  }
  const std::vector<std::pair<u32, u32>> restart = {{0x4000, 7}, {0x4000, 1}, {0x422C, 2}, {0x4290, 2962}, {0x423C, 5},
                                                    {0x424C, 1}, {0x4100, 1}, {0x4238, 1}, {0x4000, 0}};
  std::vector<std::pair<u32, u32>> written;
  for (const auto& e : traceRecent()) {
    if (e.adr >= S1 + TICO_CONTROL && e.adr < S2) written.emplace_back(e.adr - S1, e.value);
  }
  EXPECT_EQ(written, restart);
  regPoke(S2 + TICO_STATUS, 0x10);
  regPoke(S2 + FORMAT_LOW, 0xF);  // no signal
  for (int poll = 0; poll < 6; ++poll) mxSdiPollInputs();
  EXPECT_EQ(consoleCount("reset TICO"), 2);  // SDI1 again after six more polls
  regPoke(S2 + FORMAT_LOW, 0);
  mxSdiPollInputs();
  EXPECT_EQ(consoleCount("reset TICO 1\n"), 1);
}

TEST_F(SdiTest, FourKHoldFollowsInputStatus) {
  // formats: inputs 5-8.
  struct Case { int formats[4]; bool selected; int held; } cases[] = {
      {{3, -1, -1, -1}, false, 9}, {{-1, 8, 15, -1}, false, 5}, {{8, 8, 8, 8}, true, 100}};
  for (const auto& c : cases) {
    boardMode(QUAD);
    for (int j = 0; j < 4; ++j) sdiSetDetectedFormat(5 + j, c.formats[j]);
    if (c.selected) mxSdiSetInputSelect(MX_IN_5, MX_SDI_SELECT_2);
    mxSetOutputSource(MX_OUT_1, 4517);
    mxSetContext(MX_CONTEXT_ME2);
    mxSetBusSource(MX_ABUS, MX_IN_5);  // code 1 in 4K mode
    for (int frame = 0; frame < 12; ++frame) {
      mxSdiUpdateStatus();
      mxCrosspointUpdate();
      ASSERT_EQ(regPeek(XPT_4K_BUS_CLASSES) & 0xFF, frame < c.held ? 6u : 0u) << c.held << " " << frame;
    }
  }
}

}  // namespace
