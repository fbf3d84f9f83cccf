#pragma once
// Test ground of the transition engine: the driver call log and the updaters under test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Driver/calllog.h"
#include "Driver/core/core.h"
#include "Main/transition/updater.h"
#include "tests/support/board_fixture.h"

namespace transition_test {

// Notes the driver calls while it lives (the log starts empty).
struct CallLog {
  CallLog() { calllog::enable(true); }
  ~CallLog() { calllog::enable(false); }
};

// The calls of one setter (all calls when name is null), oldest first.
inline std::vector<calllog::Call> calls(const char* name = nullptr) {
  std::vector<calllog::Call> out;
  for (size_t i = 0; i < calllog::size(); ++i) {
    const calllog::Call& c = calllog::at(i);
    if (name == nullptr || std::string(c.function) == name) out.push_back(c);
  }
  return out;
}

// The last call of a setter; fails the test when there is none.
inline calllog::Call last(const char* name) {
  auto all = calls(name);
  if (all.empty()) ADD_FAILURE() << "no call of " << name;
  return all.empty() ? calllog::Call{name, 0, 0, 0, {}} : all.back();
}

inline void expectArgs(const calllog::Call& c, std::vector<float> expected, float tolerance = 1e-6f) {
  ASSERT_EQ(c.count, static_cast<int>(expected.size())) << c.function;
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(c.args[i], expected[i], tolerance) << c.function << " arg " << i;
}

// The same setters called in the same order with the same arguments.
inline void expectSameCalls(const std::vector<calllog::Call>& want, const std::vector<calllog::Call>& got, float tolerance = 0) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_STREQ(got[i].function, want[i].function);
    expectArgs(got[i], {want[i].args, want[i].args + want[i].count}, tolerance);
  }
}

// The last call of a setter with its arguments.
struct Last { const char* setter; std::vector<float> args; float tolerance = 1e-6f; };
inline void expectLast(const std::vector<Last>& calls) {
  for (const Last& c : calls) expectArgs(last(c.setter), c.args, c.tolerance);
}

// Board reset, ME 1's context selected and the call log on.
class EngineTest : public testing_support::BoardTest {
 protected:
  void SetUp() override { BoardTest::SetUp(), mxSetContext(MX_CONTEXT_ME1), calllog::enable(true); }
  void TearDown() override { calllog::enable(false), BoardTest::TearDown(); }
};

// A background and a key updater over format 0 with latency 0 (no DVE routing unless asked).
class LayerTest : public EngineTest {
 protected:
  void SetUp() override { EngineTest::SetUp(), sys.bkgdLatency = sys.keyLatency = 1; }
  // One background frame at p (second position q) through load and apply.
  void frame(float p, unsigned mode = 1, u8 reverse = 0, unsigned ab = 0, float q = -1.0f, u8 presetOk = 0) {
    calllog::clear();
    bkgd.load(rec, sys, p, mode, reverse, ab, presetOk);
    bkgd.apply(0, p, q);
  }
  // One key frame at p through load and apply.
  void keyFrame(float p) { calllog::clear(), key.load(keyRec, sys, p), key.apply(0, p, -1.0f); }
  MxifBkgd rec;
  MxifSystem sys;
  MxifKey keyRec;
  BkgdTransition bkgd;
  KeyTransition key;
};

}  // namespace transition_test
