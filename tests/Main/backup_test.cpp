#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Common/storage.h"
#include "Main/bp.h"
#include "board_fixture.h"
#include "dma_engine.h"
#include "frontend_peer.h"
#include "platform.h"
#include "storage.h"
#include "test_categories.h"

using category::CategoryRegistry;
using testing_support::consoleCount;

namespace {

using PerMe = test_categories::Rec<2, true>;         // 16 bytes per instance, four instances
using Single = test_categories::Rec<6, false, 2>;    // 32 bytes, one instance

// Logs the start-up calls the registry makes; its record field `a` must stay below 100, and a
// resume of a saved value of 0xEE fails a check (a damaged record).
template <class R>
class StartCategory : public test_categories::TestCategory<R> {
 public:
  void initialize() override {
    log("initialize");
    test_categories::TestCategory<R>::initialize();
  }
  void initInternal() override {
    log("initInternal");
    test_categories::TestCategory<R>::initInternal();
  }
  void resume(const void* saved, int flag = 0) override {
    log("resume");
    MX_CHECK(static_cast<const R*>(saved)->a != 0xEE);
    test_categories::TestCategory<R>::resume(saved, flag);
  }
  void log(const char* what) { test_categories::calls().push_back(test_categories::call(what, R::TYPE_INDEX, this->me)); }

 protected:
  bool acceptField(const codec::FieldView& f, const R& in, int) override { return !f.is(in.a) || in.a < 100; }
};

// Binds a fixed number of bytes without a record (layout tests).
template <int TYPE>
struct Sized : category::CategoryWithoutStatus<test_categories::Rec<TYPE>> {
  explicit Sized(int n) : bytes(n) {}
  int bindStorage(void*) override { return bytes; }
  int bytes;
};

constexpr u32 NV = 0x81800000;
constexpr u32 BOOT_MODE = 0xFFFF0000;

class BackupTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    clean();
    test_categories::calls().clear();
  }
  // The non-volatile window survives the fixture's reset: leave no image, and no engine that would
  // write one, for the next test.
  void TearDown() override {
    clean();
    platform::dmaEngine().detach();
    BoardTest::TearDown();
  }
  static void clean() {
    platform::dmaEngine().reset();
    reg().reset();
    testing_support::FrontendPeer().reset();
    std::memset(platform::memory(NV, 0x20000), 0, 0x20000);
    platform::writeMem32(BOOT_MODE, 0);
  }
  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }

  // The categories of one run of the program.
  struct Run {
    StartCategory<PerMe> perMe[4];
    StartCategory<Single> single;
  };
  void start(std::unique_ptr<Run>& run) {
    run.reset();
    reg().reset();
    run = std::make_unique<Run>();
    reg().initialize();
  }
  static void saveImage(u32 magic, u32 version) {
    platform::writeMem32(NV, magic);
    platform::writeMem32(NV + 4, version);
  }
  static int count(const std::string& c) {
    int n = 0;
    for (const auto& s : test_categories::calls()) n += s == c;
    return n;
  }
};

TEST_F(BackupTest, LayoutFollowsTheRecordSizes) {
  Sized<70> a(37);
  Sized<71> b(38);
  Sized<72> none(0);
  test_categories::TestCategory<PerMe> perMe[4];
  reg().initialize();
  EXPECT_EQ(reg().recordBytes[0][70], 40);
  EXPECT_EQ(reg().recordBytes[0][71], 40);
  EXPECT_EQ(reg().recordBytes[0][72], 0);
  EXPECT_EQ(reg().recordBytes[1][2], 16);
  EXPECT_EQ(reg().recordBytes[2][2], 0);  // ME 2 and 3 are not in the image
  // ME 0 then ME 1 of type 2 first, then the types behind it, after the 8-byte header.
  const u8* image = platform::memory(BACKUP_BUFFER_ADR, 16);
  EXPECT_EQ(reg().storage[0][2], image + 8);
  EXPECT_EQ(reg().storage[1][2], image + 24);
  EXPECT_EQ(reg().storage[0][70], image + 40);
  EXPECT_EQ(reg().storage[0][71], image + 80);
  EXPECT_EQ(reg().storage[2][2] + 16, reg().storage[3][2]);
  EXPECT_EQ(platform::readMem32(BACKUP_BUFFER_ADR), 0x08765421u);
  EXPECT_EQ(platform::readMem32(BACKUP_BUFFER_ADR + 4), 146u);
  EXPECT_EQ(consoleCount("[INFO] Number of registered categories: 4/104 65"), 1);
  EXPECT_EQ(consoleCount("[INFO] Backup buffer size: 120 bytes"), 1);
}

TEST_F(BackupTest, ImageMustStayBelowItsLimit) {
  Sized<70> big(BUF_SIZE * 4 - 8);
  EXPECT_THROW(reg().initialize(), assert::AssertException);
  EXPECT_EQ(consoleCount("Assertion failed: Main/backup.cpp("), 1);
  EXPECT_EQ(consoleCount(") backupByte < BUF_SIZE * 4"), 1);
  reg().reset();
  Sized<70> fits(BUF_SIZE * 4 - 12);
  EXPECT_NO_THROW(reg().initialize());
}

TEST_F(BackupTest, StartUpBranches) {
  struct Case {
    u32 bootMode, magic, version;
    const char* line;
    bool resumed;
  } cases[] = {
      {0, 0x08765421, 146, "[INFO] backup data resume", true},
      {0x4000, 0x08765421, 146, "[INFO] initializeAll()", false},
      {0, 0x08765421, 145, "[INFO] no backup data", false},
      {0, 0x08765420, 146, "[INFO] no backup data", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    testing_support::consoleClear();
    test_categories::calls().clear();
    saveImage(c.magic, c.version);
    platform::writeMem32(NV + 8, 0x0001);   // ME 0's mask word: field a
    platform::writeMem32(NV + 12, 0x0700);  // me 0, a = 7
    platform::writeMem32(NV + 0x14028, 0);
    platform::writeMem32(BOOT_MODE, c.bootMode);
    std::unique_ptr<Run> run;
    start(run);
    char mode[32];
    std::snprintf(mode, sizeof mode, "[INFO] bootMode = 0x%x", c.bootMode);
    EXPECT_EQ(consoleCount(mode), 1);
    EXPECT_EQ(consoleCount(c.line), 1);
    EXPECT_EQ(count("resume 2/0"), c.resumed ? 1 : 0);
    EXPECT_EQ(count("initialize 2/0"), c.resumed ? 0 : 1);
    EXPECT_EQ(count("initialize 2/2") + count("initialize 2/3"), 2);  // ME 2 and 3 every time
    EXPECT_EQ(run->perMe[0].record(0).a, c.resumed ? 7 : 0);
    const bool reset = std::string(c.line).find("no backup") != std::string::npos;
    EXPECT_EQ(platform::readMem32(NV + 0x14028), reset ? 0x54AA1234u : 0u);
    if (reset) {
      EXPECT_EQ(platform::readMem32(NV + 0x1402C), 0u);
    }
  }
}

TEST_F(BackupTest, ResumeTakesMe0And1AndInitialisesMe2And3) {
  std::unique_ptr<Run> run;
  start(run);
  run->perMe[0].record(0).a = 5;
  run->perMe[1].record(0).a = 6;
  run->perMe[2].record(0).a = 8;
  run->single.record(1).c = 99;
  reg().backupCopy();
  test_categories::calls().clear();
  start(run);  // a restart: new objects, the saved image
  EXPECT_EQ(consoleCount("backup data resume"), 1);
  EXPECT_EQ(run->perMe[0].record(0).a, 5);
  EXPECT_EQ(run->perMe[1].record(0).a, 6);
  EXPECT_EQ(run->perMe[2].record(0).a, 0);  // not saved
  EXPECT_EQ(run->single.record(1).c, 99);
  EXPECT_EQ(run->perMe[0].record(0).me, 0);
  EXPECT_EQ(run->perMe[1].record(0).me, 1);
  EXPECT_NE(run->perMe[0].record(0).mask, 0u);  // reported whole at the first status
  const std::vector<std::string> expected = {"resume 2/0",       "resume 2/1",       "resume 6/0",
                                             "initInternal 2/0", "initInternal 2/1", "initialize 2/2",
                                             "initInternal 2/2", "initialize 2/3",   "initInternal 2/3",
                                             "initInternal 6/0"};
  EXPECT_EQ(test_categories::calls(), expected);
}

TEST_F(BackupTest, DamagedRecordsAreInitialisedOrFilteredOnResume) {
  std::unique_ptr<Run> run;
  start(run);
  run->perMe[0].record(0).a = 50;
  run->perMe[0].record(0).c = 3;
  run->perMe[1].record(0).a = 7;
  run->single.record(0).c = 4;
  reg().backupCopy();
  // Damage the image: ME 1's `a` out of range, ME 0's record fails its resume check.
  platform::memory(NV + 8 + 16 + 5, 1)[0] = 200;
  platform::memory(NV + 8 + 5, 1)[0] = 0xEE;
  start(run);
  EXPECT_EQ(consoleCount("[ERR] backup data of MxifBkgd is broken, initialized"), 1);
  EXPECT_EQ(run->perMe[0].record(0).a, 0);
  EXPECT_EQ(run->perMe[0].record(0).c, 0);  // the whole category starts from defaults
  EXPECT_EQ(run->perMe[1].record(0).a, 0);  // refused by the range check
  EXPECT_EQ(run->single.record(0).c, 4);    // the others resume as saved
}

TEST_F(BackupTest, EveryFrameCopiesTheImageToTheWindow) {
  std::unique_ptr<Run> run;
  start(run);
  run->perMe[1].record(0).b = 0x1234;
  reg().process();
  EXPECT_EQ(platform::readMem32(NV), 0x08765421u);
  EXPECT_EQ(platform::readMem32(NV + 4), 146u);
  EXPECT_EQ(0, std::memcmp(platform::memory(NV, 8 + 64), platform::memory(BACKUP_BUFFER_ADR, 8 + 64), 8 + 64));
  run->perMe[1].record(0).b = 0x4321;
  reg().process();
  EXPECT_EQ(0, std::memcmp(platform::memory(NV, 8 + 64), platform::memory(BACKUP_BUFFER_ADR, 8 + 64), 8 + 64));
  EXPECT_EQ(platform::dmaEngine().completedRuns(3), 2);
  EXPECT_GE(count("store 2/3"), 2);

  // With boot mode 0x4000 nothing is ever copied.
  platform::writeMem32(BOOT_MODE, 0x4000);
  start(run);
  run->perMe[0].record(0).a = 9;
  const std::vector<u8> before(platform::memory(NV, 72), platform::memory(NV, 72) + 72);
  reg().process();
  reg().process();
  EXPECT_EQ(std::vector<u8>(platform::memory(NV, 72), platform::memory(NV, 72) + 72), before);
  EXPECT_EQ(platform::dmaEngine().completedRuns(3), 2);
}

TEST_F(BackupTest, SlowAndStuckCopies) {
  std::unique_ptr<Run> run;
  start(run);
  // A copy that takes longer than a frame is waited for: that frame copies nothing.
  platform::dmaEngine().setLatencyUs(3, 50000);
  reg().backupCopy();
  reg().backupCopy();
  EXPECT_EQ(platform::dmaEngine().completedRuns(3), 0);
  platform::clockAdvance(50000 * platform::TICKS_PER_US);
  reg().backupCopy();
  EXPECT_EQ(platform::dmaEngine().completedRuns(3), 1);
  EXPECT_EQ(consoleCount("DMA too slow"), 0);

  // A hung channel is reported every 15 frames and restarted after 60.
  platform::dmaEngine().setLatencyUs(3, 0);
  platform::dmaEngine().setStuck(3, true);
  testing_support::consoleClear();
  for (int frame = 2; frame <= 60; ++frame) reg().backupCopy();  // the copy of frame 1 is running
  for (int n : {15, 30, 45, 60}) EXPECT_EQ(consoleCount("[WARN] DMA too slow " + std::to_string(n)), 1) << n;
  EXPECT_EQ(consoleCount("DMA timeout"), 0);
  reg().backupCopy();
  EXPECT_EQ(consoleCount("[ERR] DMA timeout"), 1);
  EXPECT_EQ(consoleCount("[WARN] DMA too slow 60"), 2);
  EXPECT_TRUE(platform::dmaEngine().busy(3));  // a new copy was started on the stopped channel
  platform::dmaEngine().setStuck(3, false);
  reg().backupCopy();  // the restarted copy ends, and the next one runs at once
  EXPECT_EQ(platform::dmaEngine().completedRuns(3), 3);
  EXPECT_FALSE(platform::dmaEngine().busy(3));
}

// Settings made before a restart are back after it: the board directory keeps the non-volatile
// window, and a second opening of the same directory resumes from it.
TEST(BackupRestart, SettingsSurviveARestartOfTheBoard) {
  auto dir = std::filesystem::temp_directory_path() / ("backup-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  platform::BoardOptions saved = platform::boardOptions();
  platform::BoardOptions o;
  o.dir = dir.string();
  o.clock = platform::ClockMode::Stepped;
  CategoryRegistry& reg = CategoryRegistry::instance();

  struct Run {
    test_categories::TestCategory<PerMe> perMe[4];
    test_categories::TestCategory<Single> single;
  };
  platform::boardOpen(o);
  platform::dmaEngine().reset();
  testing_support::consoleClear();
  reg.reset();
  auto run = std::make_unique<Run>();
  reg.initialize();
  EXPECT_EQ(consoleCount("no backup data"), 1);
  run->perMe[1].record(0).b = -321;
  run->single.record(1).a = 42;
  reg.process();

  platform::boardOpen(o);  // restart on the same board directory
  testing_support::consoleClear();
  reg.reset();
  run = std::make_unique<Run>();
  reg.initialize();
  EXPECT_EQ(consoleCount("backup data resume"), 1);
  EXPECT_EQ(run->perMe[1].record(0).b, -321);
  EXPECT_EQ(run->single.record(1).a, 42);

  run.reset();
  reg.reset();
  platform::boardOpen(saved);
  platform::dmaEngine().detach();
  testing_support::FrontendPeer().reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
