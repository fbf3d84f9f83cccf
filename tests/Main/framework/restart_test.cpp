// A warm restart loses nothing: every record type that a category keeps is sent with each field at
// an edge of what its category takes, frames run with a background and a key transition going, and
// the restart resumes every record of the backup image as it was, without a failed check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Main/fader/faderevent.h"
#include "Main/key/key.h"
#include "Tools/lib/backup_image.h"
#include "Tools/lib/link_ring.h"
#include "Tools/lib/record_types.h"
#include "tests/Main/category_fixture.h"
#include "tests/support/live_records.h"

namespace {

using category::CategoryFaderEvent;
using testing_support::consoleCount;
using testing_support::fieldsText;
using testing_support::put;

std::string numberText(double v) {
  char b[40];
  if (v == std::floor(v) && std::fabs(v) < 1e15) std::snprintf(b, sizeof b, "%lld", static_cast<long long>(v));
  else std::snprintf(b, sizeof b, "%.9g", v);
  return b;
}

// The name with the number of each repeated sub-record ("entry12.code", "bkgd[3].rate") as '#'.
std::string shapeOf(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    size_t end = i;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    const bool inPrefix = end < name.size() && (name[end] == '.' || name.compare(end, 2, "].") == 0);
    if (end > i && inPrefix) {
      out += '#';
      i = end - 1;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The lowest and the highest value that the category takes for a field (or an element, "name[i]"),
// the ends of its kind where the probe finds none (no category keeps the record where it looks).
std::pair<double, double> edgeValues(int type, const std::string& name, codec::Kind kind) {
  std::vector<frontend::Interval> taken;
  std::string error;
  if (frontend::acceptedValues(type, name, 0, {}, taken, error, true) && !taken.empty()) {
    return {taken.front().lo, taken.back().hi};
  }
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  return {static_cast<double>(lo), static_cast<double>(hi)};
}

// Each field at the lowest (side 0) and the highest (side 1) value that its category takes for ME
// or channel 0, found once per field of a repeated sub-record; the elements of a short array (a
// colour, a box) each at its own edges, a longer array at those of its first element; a text empty
// and full. The index fields are left to the sender.
std::vector<frontend::Assignments> edgesOf(int type) {
  constexpr int SHORT_ARRAY = 4;
  std::vector<frontend::FieldInfo> fields;
  std::vector<frontend::Assignments> out(2);
  if (!frontend::settableFields(type, fields)) return out;
  std::map<std::string, std::vector<std::pair<double, double>>> known;
  for (const frontend::FieldInfo& f : fields) {
    if (f.name == "me" || f.name == "channel") continue;
    if (f.textCapacity > 0) {
      out[0].emplace_back(f.name, "");
      out[1].emplace_back(f.name, std::string(static_cast<size_t>(f.textCapacity), 'A'));
      continue;
    }
    auto [at, fresh] = known.try_emplace(shapeOf(f.name));
    if (fresh) {
      const int probed = f.count <= SHORT_ARRAY ? f.count : 1;
      for (int i = 0; i < probed; ++i) {
        at->second.push_back(edgeValues(type, f.count > 1 ? f.name + "[" + std::to_string(i) + "]" : f.name, f.kind));
      }
    }
    for (int side = 0; side < 2; ++side) {
      std::string list;
      for (int i = 0; i < f.count; ++i) {
        const auto& e = at->second[std::min<size_t>(i, at->second.size() - 1)];
        list += (i == 0 ? "" : ",") + numberText(side == 0 ? e.first : e.second);
      }
      out[side].emplace_back(f.name, list);
    }
  }
  return out;
}

class RestartTest : public test_categories::SystemCategoriesTest {
 protected:
  void TearDown() override {
    platform::writeMem32(NON_VOLATILE_BASE, 0);  // no image for the tests that follow
    SystemCategoriesTest::TearDown();
  }
  void frames(int n) {
    for (int f = 0; f < n; ++f) runFrame(f & 1), peer.readPackets();
  }
  void sendBody(int type, const frontend::Assignments& fields) {
    frontend::Bytes body;
    std::string error;
    ASSERT_TRUE(frontend::buildBody(type, fields, body, error)) << error;
    const auto packet = linkpeer::packetBytes(type, body);
    while (peer.requestPending() != 0 && peer.requestPending() + packet.size() + LINK_RING_RESERVE >= LINK_RING_DATA) {
      frames(1);
    }
    ASSERT_EQ(peer.write(packet), packet.size());
  }
};

// Two rounds; in each, the instances and channels of a type take the two edges in turn (the other
// way round in the second), so that neighbouring keys differ. The auto transitions run at ME 0's
// highest rates in the first round.
TEST_F(RestartTest, EveryRecordAtTheEdgesOfItsRangesComesBack) {
  std::vector<std::vector<frontend::Assignments>> edges(category::FIRST_COMMAND_TYPE);
  for (int type = 0; type < category::FIRST_COMMAND_TYPE; ++type) {
    if (frontend::isRecordBuilt(type) && reg().at(type, 0) != nullptr) edges[type] = edgesOf(type);
  }
  testing_support::consoleClear();
  for (int round : {1, 0}) {
    SCOPED_TRACE(round);
    for (int type = 0; type < category::FIRST_COMMAND_TYPE; ++type) {
      frontend::RecordShape shape;
      if (edges[type].empty() || !frontend::recordShape(type, shape)) continue;
      // A record per ME names its channel in a field "channel", or in one that takes its edges.
      std::vector<frontend::FieldInfo> fields;
      frontend::settableFields(type, fields);
      const bool named = std::any_of(fields.begin(), fields.end(), [](const auto& f) { return f.name == "channel"; });
      const int channels = shape.perMe && !named ? 1 : shape.channels;
      for (int m = 0; m < (shape.perMe ? category::N_ME : 1); ++m) {
        for (int c = 0; c < channels; ++c) {
          frontend::Assignments fields = edges[type][(m + c + round) % 2];
          if (shape.perMe) fields.emplace_back("me", std::to_string(m));
          if (channels > 1) fields.emplace_back("channel", std::to_string(c));
          sendBody(type, fields);
        }
      }
    }
    frames(10);
    // An auto transition of ME 0's background and of its key 1, some frames into their run.
    for (int code : {CategoryFaderEvent::BTN_BKGD_AUTO, CategoryFaderEvent::BTN_KEY_AUTO}) {
      sendBody(category::TYPE_BUTTON_EVENT, {{"code", std::to_string(code)}, {"state", "1"}});
    }
    frames(6);
    auto& faders = CategoryFaderEvent::instance();
    EXPECT_TRUE(round != 1 || (faders.transition(AutoTransition::bkgdSlot(0)).state == AutoTransition::RUNNING &&
                               faders.transition(AutoTransition::keySlot(0, 0)).state == AutoTransition::RUNNING));

    const auto before = frontend::backedUpRecords();
    restart();
    EXPECT_EQ(frontend::restartChanges(before, frontend::backedUpRecords()), "");
    EXPECT_EQ(std::tuple(consoleCount("is broken"), consoleCount("Assertion failed"), consoleCount("out of range")),
              std::tuple(0, 0, 0))
        << testing_support::consoleText();
    testing_support::consoleClear();
  }
}

// Key 1 of ME 0 with the DVE transition on hands its size of 40000 on to its follower, key 3,
// whose range ends at 10000; key 2 has a softness. The restart brings every key back.
TEST_F(RestartTest, AFollowersCopiedSizeStaysInItsRange) {
  sendBody(category::TYPE_KEY, {{"me", "0"}, {"channel", "1"}, {"softness", "456"}});
  sendBody(category::TYPE_KEY,
           {{"me", "0"}, {"channel", "0"}, {"dveTransOn", "1"}, {"follower", "3"}, {"dveSize", "40000"}});
  frames(3);
  EXPECT_EQ(category::CategoryKey::instance()[0].record(2).dveSize, 10000);
  const auto before = frontend::backedUpRecords();
  restart();
  EXPECT_EQ(frontend::restartChanges(before, frontend::backedUpRecords()), "");
  EXPECT_EQ(consoleCount("is broken"), 0) << testing_support::consoleText();
}

// The plug-in states are saved as bytes beside the records: a damaged one resumes as no state, a
// good neighbour comes back, nothing is reported broken and one line counts what was reset. (A damaged
// field of a record in the image is each conformance table's damage step.)
TEST_F(RestartTest, ADamagedPluginStateAloneIsDropped) {
  put<MxifPluginStatus>(0, 1, "state=1");
  put<MxifPluginStatus>(0, 2, "state=5");
  reg().backup();  // the category stores the states it keeps outside the record
  testing_support::consoleClear();
  restart();
  EXPECT_EQ(std::tuple(fieldsText<MxifPluginStatus>(0, 1).find("\nstate=1\n") != std::string::npos,
                       fieldsText<MxifPluginStatus>(0, 2).find("\nstate=0\n") != std::string::npos,
                       consoleCount("[WARN] backup data"), consoleCount("is broken"),
                       consoleCount("\x1b[WARN] backup data of MxifPluginStatus: 1 fields out of range, reset")),
            std::tuple(true, true, 1, 0, 1))
      << testing_support::consoleText();
}

}  // namespace
