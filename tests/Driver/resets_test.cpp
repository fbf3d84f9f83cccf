// One call brings every driver block with state back to where it starts.
#include "tests/Driver/driver_test.h"

namespace {

using namespace driver_test;

using ResetsTest = testing_support::BoardTest;

TEST_F(ResetsTest, OneCallResetsEveryBlock) {
  mxSetContext(MX_CONTEXT_ME3);
  mxSetBusSource(MX_ABUS, MX_IN_5);
  mxDskSetPriority(MX_DSK2, MX_DSK3, MX_DSK4);
  MxDmaChannel* dma = mxDmaChannel(2);
  mxDmaWrite(dma, MX_GLUE_BASE + 0x1230, 1);
  for (int frame = 0; frame < 120; ++frame) mxReportBlockTimes();  // the next one reports

  mxResetAllBlocks();
  EXPECT_EQ(std::make_tuple(mxCurrentContext(), int{mxXptImage()[xpt::BUS + 32]}, int{mxDskMixer().priority[0]}, dma->cmdPtr),
            std::make_tuple(int{MX_CONTEXT_ME1}, 0, 3, 0));
  mxReportBlockTimes();
  EXPECT_EQ(consoleText(), "");
}

}  // namespace
