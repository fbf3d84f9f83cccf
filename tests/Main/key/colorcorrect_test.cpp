// Colour correction: the reset command and the records' driver calls on the twelve units.
#include <gtest/gtest.h>

#include <vector>

#include "Driver/blocks.h"
#include "Main/key/colorcorrect.h"
#include "Main/system/system.h"
#include "Platform/sdi_inputs.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryColorCorrect;
using transition_test::calls;
using transition_test::expectArgs;
using R = MxifColorCorrect;
using Cmd = MxifColorCorrectCmd;
using Ints = std::vector<int>;

struct TestColorCorrect : CategoryColorCorrect {};

Ints targetsOf(const char* setter) {
  Ints out;
  for (const auto& c : calls(setter)) out.push_back(c.target);
  return out;
}

class ColorCorrectTest : public key_test::LoggedTest<test_categories::RecordCategoryTest<TestColorCorrect, R, R::N_CHANNELS>> {
 protected:
  test_categories::RecordOwner<MxifSystem> system;
};

// A reset restores what channel 5's stored target selects; a copy (source >= 0) takes the source's
// whole record but keeps the destination's own reset target and AUX selection.
TEST_F(ColorCorrectTest, ResetRestoresWhatTheStoredTargetSelectsACopyKeepsIt) {
  // Masks: first word, curve point 4, matrix6, sector 1; values: enable, curveLimit, lumaGain, hue, link,
  // point 2 and 4, matrix6, sector, aux.
  const struct { int target; Ints masks, values; int source = -1; } cases[] = {
      {0, {0x07C, 0, 0, 0}, {1, 2, 1000, 0, 1, 111, 111, 11, 22, 7}},
      {1, {0x080, 7, 0, 0}, {1, 2, 500, 900, 0, 333, 1000, 11, 22, 7}},
      {2, {0x000, 0, 0x3F, 0}, {1, 2, 500, 900, 1, 111, 111, 0, 22, 7}},
      {3, {0x000, 0, 0, 3}, {1, 2, 500, 900, 1, 111, 111, 11, 0, 7}},
      {4, {0x3FF, 7, 0x3F, 3}, {0, 0, 1000, 0, 0, 333, 1000, 0, 0, 0}},
      {1, {0x3FF, 7, 0x3F, 3}, {0, 3, 1500, 100, 0, 222, 222, 33, 44, 7}, 3},
  };
  R& source = cat.record(3);
  source.curveLimit = 3, source.lumaGain = 1500, source.hue = 100, source.resetTarget = 2, source.auxSelection = 9;
  source.matrix6.value[5] = 33, source.sector[11].value[1] = 44;
  for (auto& p : source.curvePoint) p.value[0] = p.value[2] = 222;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target * 10 + c.source);
    R& live = cat.record(5);
    live.enable = 1, live.curveLimit = 2, live.lumaGain = 500, live.hue = 900, live.linkComponents = 1;
    live.resetTarget = static_cast<u8>(c.target), live.auxSelection = 7, live.matrix6 = {0, {11, 11, 11, 11, 11, 11}};
    for (auto& p : live.curvePoint) p = {0, {111, 111, 111}};
    for (auto& s : live.sector) s = {0, {22, 22}};
    peer.send(Cmd{1, 2, c.source < 0 ? Cmd::RESET : Cmd::COPY, 0, 5, static_cast<u16>(c.source < 0 ? 0 : c.source)});
    category::CategoryRegistry::instance().receiveAll();
    AcknowledgeSender::instance().flush();
    const auto replies = peer.readPackets();  // one reply, result 0
    EXPECT_TRUE(replies.size() == 1 && replies[0].body.size() == 10 && (replies[0].body[4] | replies[0].body[5]) == 0);
    const auto sent = sendPass();
    ASSERT_EQ(sent.size(), 1u);
    const R r = sent[0].as<R>();

    EXPECT_EQ(Ints({int(r.mask), int(r.curvePoint[3].mask), int(r.matrix6.mask), int(r.sector[0].mask)}), c.masks);
    EXPECT_EQ(Ints({r.enable, r.curveLimit, r.lumaGain, r.hue, r.linkComponents, r.curvePoint[1].value[2],
                    r.curvePoint[3].value[0], r.matrix6.value[5], r.sector[11].value[1], r.auxSelection}),
              c.values);
    EXPECT_EQ(live.resetTarget, c.target);
  }
}

TEST_F(ColorCorrectTest, StartResetsEveryUnitThenCurvesFollowAtRefresh) {
  cat.record(2).enable = 2;  // anything but 1: mode and enable only
  const Ints units = {MX_IN_25, MX_IN_26, MX_IN_27, MX_IN_28, MX_IN_29,  MX_IN_30,
                      MX_IN_31, MX_IN_32, MX_OUT_13, MX_OUT_14, MX_OUT_15, MX_OUT_16};
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    cat.update();
    EXPECT_EQ(std::tuple(targetsOf("mxColorCorrectReset"), targetsOf("mxColorCorrectSetMatrixMode"),
                         targetsOf("mxColorCorrectSetEnable"), calls("mxColorCorrectSetEnable")[2].args[0], calllog::size()),
              std::tuple(pass == 0 ? units : Ints{}, units, units, 2.0f, pass == 0 ? 36u : 24u));

    calllog::clear();
    cat.refresh();
    EXPECT_EQ(targetsOf("mxColorCorrectSetCurves"), pass == 0 ? units : Ints{});
    calllog::clear();
  }
}

// Input channel 7 (SDI input 32): a 480/576-line input takes the SD matrix on an HD system unless
// its record fixes the mode.
TEST_F(ColorCorrectTest, SdMatrixForAnSdInputOnAnHdSystemUnlessTheRecordFixesIt) {
  const struct { int inputFormat, systemFormat, fixed, mode; } cases[] = {
      {4, 0, 0, MX_CC_MATRIX_SD}, {5, 1, 1, MX_CC_MATRIX_NORMAL}, {0, 0, 0, MX_CC_MATRIX_NORMAL},
      {5, 6, 0, MX_CC_MATRIX_NORMAL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inputFormat * 100 + c.systemFormat * 10 + c.fixed);
    platform::sdiSetDetectedFormat(32, c.inputFormat);
    mxSdiUpdateStatus();
    system.record.format = static_cast<u8>(c.systemFormat), cat.record(7).fixedMatrixMode = static_cast<u8>(c.fixed);
    calllog::clear();
    cat.update();
    key_test::expectCall("mxColorCorrectSetMatrixMode", MX_IN_32, {float(c.mode)});
  }
}

TEST_F(ColorCorrectTest, EnabledUnitGetsLevelOneHueMatrixForEverySectorAndCoefficients) {
  const struct { s16 luma, pedestal, chroma, hue, coeff; std::vector<float> level; float m[4], gain; } cases[] = {
      {1000, 0, 1000, 0, 60, {1.0f, 0.0f}, {1, 0, 0, 1}, 0.6f},
      {500, -200, 500, 900, -60, {0.5f, -0.2f}, {0, -0.5f, 0.5f, 0}, -0.6f},  // 90 degrees
  };
  cat.update(), cat.refresh(), sendPass();  // the first frame (every unit reset) and the curve upload behind it
  calllog::clear();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hue);
    R& r = cat.record(10);
    r.enable = 1, r.lumaGain = c.luma, r.pedestal = c.pedestal, r.chromaGain = c.chroma, r.hue = c.hue;
    for (s16& v : r.matrix6.value) v = c.coeff;
    for (auto& s : r.sector) s.value[0] = 300, s.value[1] = -300;  // no effect on the unit
    cat.update();
    expectArgs(transition_test::last("mxColorCorrectSetLevel"), c.level);
    const auto matrices = calls("mxColorCorrectSetHueMatrix"), gains = calls("mxColorCorrectSetGain");
    ASSERT_EQ(targetsOf("mxColorCorrectSetHueMatrix"), Ints(12, MX_OUT_15));
    ASSERT_EQ(gains.size(), 6u);
    for (int s = 0; s < 12; ++s) expectArgs(matrices[s], {float(s), c.m[0], c.m[1], c.m[2], c.m[3]});
    for (int k = 0; k < 6; ++k) expectArgs(gains[k], {float(MX_CC_COEFF_1 + k), c.gain});
    calllog::clear();
  }
}

TEST_F(ColorCorrectTest, CurvesThroughTheirPointsWithinTheirLimit) {
  R r{};
  const s16 points[3][4] = {{0, 333, 666, 1000}, {0, 0, 1000, 1000}, {-100, 500, 1080, 1080}};
  for (int k = 0; k < 4; ++k) for (int c = 0; c < 3; ++c) r.curvePoint[k].value[c] = points[c][k];

  float curves[3][CC_CURVE_ENTRIES];
  category::buildColorCorrectCurves(r, curves);
  const struct { int curve, entry; float value; } values[] = {
      {0, 0, -1.4985f}, {0, 160, 1.0104f}, {0, 255, 2.4984f}, {1, 0, 0.6389f},
      {1, 117, -0.0071f}, {1, 127, 0.4636f}, {1, 150, 1.0687f}, {1, 255, 0.3395f},
  };
  for (auto v : values) EXPECT_NEAR(curves[v.curve][v.entry], v.value, 2e-4f) << v.curve << " " << v.entry;

  r.curveLimit = 1;  // 108 %
  category::buildColorCorrectCurves(r, curves);
  EXPECT_EQ(curves[2][0], 0.0f);
  EXPECT_FLOAT_EQ(curves[2][255], 1.08f);
}

}  // namespace
