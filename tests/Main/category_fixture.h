#pragma once
// Test ground for one category: a registry emptied before the test's categories register, the
// front end's peer with a connected link, and stand-ins for the categories it talks to.
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Lib/Include/records/button.h"
#include "Lib/Include/storage.h"
#include "Main/framework/bp.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "Platform/platform.h"
#include "tests/support/board_fixture.h"
#include "tests/support/frontend_peer.h"

namespace test_categories {

// A panel button event.
inline internal::MxifButtonEvent buttonEvent(int code, int me = 0, int state = 1, int panel = 0, int index = 0) {
  internal::MxifButtonEvent ev{};
  std::tie(ev.code, ev.me, ev.state, ev.panel, ev.index) = std::tuple(code, me, state, panel, index);
  return ev;
}

// A VSYNC frame: the driver update, then the registry's frame work.
inline void runFrame(int field) {
  vsyncSetFrameWork([] {});
  onVsyncFrame(vsyncGuard(), field);
  vsyncSetFrameWork(nullptr);
  category::CategoryRegistry::instance().process();
}

// A category that keeps nothing, registered under a type index (several take ME rows 0, 1, ...).
struct StubCategory : category::CategoryInterface {
  StubCategory(int type, const char* n) : name(n) { category::registerCategory(this, type); }
  std::string name;
  int ownedByME() const override { return 1; }
  const char* typeName() const override { return name.c_str(); }
  int bindStorage(void*) override { return 0; }
  void initialize() override {}
  void initData() override {}
  void initInternal() override {}
  void resume(const void*, int) override {}
  void receive(RequestReceiver&) override {}
  void sendStatus(AcknowledgeSender&) override {}
  void send(AcknowledgeSender&, int) override {}
};

// Stands in for the owner of record R (ME row 0), whose record other categories read through the
// registry; the test writes `record`.
template <class R>
struct RecordOwner : StubCategory {
  RecordOwner() : StubCategory(R::TYPE_INDEX, "owner") {
    category::CategoryRegistry::instance().bindInstance(meIndex(), R::TYPE_INDEX, reinterpret_cast<u8*>(&record));
  }
  int bindStorage(void*) override { return static_cast<int>(sizeof(R)); }
  R record{};
};

// Category C over N channels of record R bound to `stored`, initialised; the link is connected.
template <class C, class R, int N = 1>
class RecordCategoryTest : public testing_support::BoardTest {
 protected:
  struct Fresh {
    Fresh() { category::CategoryRegistry::instance().reset(); }
  } fresh;  // before the members register

  void SetUp() override {
    BoardTest::SetUp();
    peer.reset();
    AcknowledgeSender::instance().reset();
    ASSERT_EQ(cat.bindStorage(stored), static_cast<int>(sizeof stored));
    cat.initialize();
    peer.sendPacket(category::TYPE_DUAL_SOURCE_TALLY, {});  // a first packet, which nothing answers, connects the link
    category::CategoryRegistry::instance().receiveAll();
  }

  // Sends the record through the request ring, runs one receive pass, and returns what the next
  // status pass reports.
  std::vector<testing_support::AckPacket> roundTrip(const R& r) {
    peer.send(r);
    category::CategoryRegistry::instance().receiveAll();
    return sendPass();
  }
  std::vector<testing_support::AckPacket> sendPass() {
    cat.sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }

  testing_support::FrontendPeer peer;
  C cat;
  R stored[N] = {};
};

// Every category that start-up creates, initialised as at a fresh start; the link is connected.
class SystemCategoriesTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    platform::writeMem32(NON_VOLATILE_BASE, 0);  // a cold start, whatever image an earlier test left
    reg().reset();
    peer.reset();
    AcknowledgeSender::instance().reset();
    createCategories();
    reg().initialize();
    peer.sendPacket(category::TYPE_DUAL_SOURCE_TALLY, {});  // a first packet, which nothing answers, connects the link
    reg().receiveAll();
    testing_support::consoleClear();
  }
  void TearDown() override {
    platform::writeMem32(NON_VOLATILE_BASE, 0);  // no image for the tests that follow (a restart leaves one)
    vsyncReset(), BoardTest::TearDown();
  }

  static category::CategoryRegistry& reg() { return category::CategoryRegistry::instance(); }

  static void runFrame(int field) { test_categories::runFrame(field); }

  // What one status pass of cat reports.
  std::vector<testing_support::AckPacket> sendPass(category::CategoryInterface& cat) {
    cat.sendStatus(AcknowledgeSender::instance());
    AcknowledgeSender::instance().flush();
    return peer.readPackets();
  }

  // Runs a frame; returns the packets that it sent, by type.
  std::map<int, std::vector<testing_support::AckPacket>> framePackets() {
    runFrame(0);
    std::map<int, std::vector<testing_support::AckPacket>> out;
    for (auto& p : peer.readPackets()) out[p.type].push_back(p);
    return out;
  }
  std::vector<testing_support::AckPacket> frameSends(int type) { return framePackets()[type]; }
  // A restart on the same board: the backup image as the last frame left it comes back.
  static void restart() {
    const u32 bytes = BUF_SIZE * 4;
    std::memcpy(platform::memory(NON_VOLATILE_BASE, bytes), platform::memory(BACKUP_BUFFER_ADR, bytes), bytes);
    category::CategoryRegistry::instance().initialize();
  }
  testing_support::FrontendPeer peer;
};

// The same, with one frame run (it opens the switching gate in format 0).
class StartedSystemTest : public SystemCategoriesTest {
 protected:
  void SetUp() override {
    SystemCategoriesTest::SetUp();
    runFrame(0);
  }
};

}  // namespace test_categories
