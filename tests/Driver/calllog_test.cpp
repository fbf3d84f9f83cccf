// The call log notes the driver setters called while it is on, the latest CAPACITY of them.
#include "Driver/calllog.h"

#include "Driver/dve/dve.h"
#include "tests/Driver/driver_test.h"

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
  const calllog::Call& m = calllog::at(0);
  EXPECT_STREQ(m.function, "mxDveSetMatrices");
  EXPECT_EQ((std::vector<int>{m.context, m.target, m.count}), (std::vector<int>{MX_CONTEXT_ME2, MX_KEY2, 13}));
  EXPECT_EQ(m.args[12], static_cast<float>(MX_DVE_EFFECT_DUAL));
  EXPECT_EQ(calllog::at(1).target, MX_BKGD);  // the background setters without a target name it
  // A failed check still leaves the call in the log; the oldest calls go first.
  EXPECT_THROW(mxTransSetLatency(MX_KEY1, 2), assert::AssertException);
  for (size_t i = 0; i < calllog::CAPACITY; ++i) mxTransSetLevel(MX_KEY1, static_cast<float>(i) / calllog::CAPACITY);
  EXPECT_EQ(std::make_pair(calllog::total(), calllog::size()), std::make_pair(calllog::CAPACITY + 3, calllog::CAPACITY));
  EXPECT_STREQ(calllog::at(0).function, "mxTransSetLevel");
  EXPECT_EQ(calllog::at(0).args[0], 0.0f);
  calllog::enable(true);
  EXPECT_EQ(calllog::size(), 0u);
}

}  // namespace
