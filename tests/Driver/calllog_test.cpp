#include "Driver/calllog.h"

#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/transition/transition.h"
#include "Lib/Include/check.h"
#include "tests/support/board_fixture.h"

namespace {

class CallLogTest : public testing_support::BoardTest {
 protected:
  void TearDown() override {
    calllog::enable(false);
    BoardTest::TearDown();
  }
};

TEST_F(CallLogTest, NotesCallsWhileOnAndKeepsTheLatest) {
  mxSetContext(MX_CONTEXT_ME2);
  mxTransSetLevel(MX_BKGD, 0.5f);
  EXPECT_EQ(calllog::size(), 0u);  // off: nothing noted

  calllog::enable(true);
  const float a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {7, 8, 9, 10, 11, 12};
  mxDveSetMatrices(MX_KEY2, a, b, MX_DVE_EFFECT_DUAL);
  mxTransSetBkgdPreview(1);
  ASSERT_EQ(calllog::size(), 2u);
  const calllog::Call& m = calllog::at(0);
  EXPECT_STREQ(m.function, "mxDveSetMatrices");
  EXPECT_EQ(m.context, MX_CONTEXT_ME2);
  EXPECT_EQ(m.target, MX_KEY2);
  ASSERT_EQ(m.count, 13);
  EXPECT_EQ(m.args[6], 7.0f);
  EXPECT_EQ(m.args[12], static_cast<float>(MX_DVE_EFFECT_DUAL));
  EXPECT_EQ(calllog::at(1).target, MX_BKGD);  // the background setters without a target name it

  // A failed check still leaves the call in the log.
  EXPECT_THROW(mxTransSetLatency(MX_KEY1, 2), assert::AssertException);
  EXPECT_STREQ(calllog::at(2).function, "mxTransSetLatency");

  for (size_t i = 0; i < calllog::CAPACITY; ++i) mxTransSetLevel(MX_KEY1, static_cast<float>(i) / calllog::CAPACITY);
  EXPECT_EQ(calllog::size(), calllog::CAPACITY);
  EXPECT_EQ(calllog::total(), calllog::CAPACITY + 3);
  EXPECT_STREQ(calllog::at(0).function, "mxTransSetLevel");  // the three oldest calls went
  EXPECT_EQ(calllog::at(0).args[0], 0.0f);
  calllog::enable(true);
  EXPECT_EQ(calllog::size(), 0u);
}

}  // namespace
