// The rules the back end notes while it takes a request, each with the values that decided it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/rules.h"
#include "Tools/lib/frontend.h"
#include "tests/Main/category_fixture.h"

namespace {

using rules::From;

class RuleNotes : public test_categories::StartedSystemTest {
 protected:
  // Sends the words as one request and runs the frame that takes it; the notes of that frame.
  std::vector<rules::Note> send(const std::vector<std::string>& words) {
    frontend::Bytes packet;
    std::string error;
    EXPECT_TRUE(frontend::sendPacket(words, packet, error)) << error;
    peer.write(packet);
    rules::clear();
    runFrame(0);
    std::vector<rules::Note> notes;
    for (int i = 0; i < rules::count(); ++i) notes.push_back(rules::noteAt(i));
    return notes;
  }
};

// The first note of a rule whose text begins with the one given: the record bytes it decided, and
// after it exactly the inputs given, sent with the request or held (of ME me; -1 its own).
TEST_F(RuleNotes, EachRuleNamesTheValuesThatDecided) {
  using K = MxifKey;
  using B = MxifBkgd;
  using S = MxifSystem;
  struct Input {
    From from;
    int type, at, me, value;
  };
  struct Case {
    std::vector<std::vector<std::string>> before;
    std::vector<std::string> words;
    const char* rule;
    int type, at;
    std::vector<Input> inputs;
  };
  const Case cases[] = {
      {{}, {"MxifKey", "me=1", "channel=2", "maskBox=5000,0,0,0"}, "the edge rule (edges left", K::TYPE_INDEX,
       offsetof(K, maskBox[3]), {{From::SENT, K::TYPE_INDEX, offsetof(K, maskBox[0]), -1, 5000}}},
      {{}, {"MxifBkgd", "patFree1.edges[0]=3000"}, "the edge rule (edges[0] left", B::TYPE_INDEX,
       offsetof(B, patFree1.edges[1]), {{From::SENT, B::TYPE_INDEX, offsetof(B, patFree1.edges[0]), -1, 3000},
                                        {From::HELD, B::TYPE_INDEX, offsetof(B, patFree1.edgeSymmetry), -1, 0}}},
      {{{"MxifKey", "me=0", "channel=2", "dveShape.cropMode=1"}, {"MxifKey", "me=0", "channel=2", "dveCrop=-420,134,-134,420"}},
       {"MxifKey", "me=0", "channel=2", "dveCrop=-420,-1963,-134,0", "dveShape.cropMode=0"},
       "the edge rule with the crop mode that the channel held before this request (dveShape.cropMode=1", K::TYPE_INDEX,
       offsetof(K, dveCrop[0]), {{From::SENT, K::TYPE_INDEX, offsetof(K, dveCrop[3]), -1, 0},
                                 {From::HELD, K::TYPE_INDEX, offsetof(K, dveShape.cropMode), -1, 1}}},
      {{}, {"MxifKey", "dveScale.first=7500", "dveScale.second=4999"}, "dveScale.first and dveScale.second sent together",
       K::TYPE_INDEX, offsetof(K, dveScale.first), {{From::SENT, K::TYPE_INDEX, offsetof(K, dveScale.second), -1, 4999}}},
      {{}, {"MxifBkgd", "patFree1.size=5", "patFree1.edges[0]=-5001"}, "the free-pattern sub-record is taken whole",
       B::TYPE_INDEX, offsetof(B, patFree1), {{From::SENT, B::TYPE_INDEX, offsetof(B, patFree1.edges[0]), -1, -5001}}},
      {{{"MxifBus", "me=0", "entries[2]=1178", "entries[3]=1179"}}, {"MxifBus", "me=1", "entries[0]=1174"},
       "entries 0..11 take neither", MxifBus::TYPE_INDEX, offsetof(MxifBus, entries[0]),
       {{From::HELD, MxifBus::TYPE_INDEX, offsetof(MxifBus, entries[2]), 0, 1178},
        {From::HELD, MxifBus::TYPE_INDEX, offsetof(MxifBus, entries[3]), 0, 1179}}},
      {{}, {"MxifKey", "me=1", "channel=3", "style.keySource=1"}, "key type 0", K::TYPE_INDEX,
       offsetof(K, style.keySource), {{From::HELD, K::TYPE_INDEX, offsetof(K, style.keyType), 1, 0}}},
      {{}, {"MxifSystem", "addressTexts.text2=a\"b"}, "a text takes printable ASCII", S::TYPE_INDEX,
       offsetof(S, addressTexts.text2), {}},
      {{}, {"MxifSystem", "format=10"}, "this board, which has no paired FPGA, runs formats 0..9", S::TYPE_INDEX,
       offsetof(S, format), {}},
      {{{"MxifSystem", "format=2"}}, {"MxifSystem", "genlockReference=1"}, "the format in force decides the genlock "
       "reference", S::TYPE_INDEX, offsetof(S, genlockReference), {{From::HELD, S::TYPE_INDEX, offsetof(S, format), 0, 2}}},
      {{}, {"MxifSystem", "format=7", "genlockSetup=1"}, "the format in force decides the genlock setup", S::TYPE_INDEX,
       offsetof(S, genlockSetup), {{From::SENT, S::TYPE_INDEX, offsetof(S, format), -1, 7}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    for (const auto& words : c.before) send(words);
    const std::vector<rules::Note> notes = send(c.words);
    auto n = std::find_if(notes.begin(), notes.end(), [&](const rules::Note& x) {
      return x.rule != nullptr && std::string(x.rule->text).starts_with(c.rule);
    });
    ASSERT_NE(n, notes.end());
    EXPECT_EQ(std::tuple(n->type, n->at), std::tuple(c.type, c.at));
    std::vector<std::tuple<From, int, int, int, int>> inputs, expected;
    for (++n; n != notes.end() && !rules::leads(*n); ++n) {
      s16 value = 0;  // every input here is at most two bytes
      std::memcpy(&value, n->value, n->size);
      inputs.emplace_back(n->from, n->type, n->at, n->me, n->size == 1 ? n->value[0] : value);
    }
    for (const Input& in : c.inputs) expected.emplace_back(in.from, in.type, in.at, in.me, in.value);
    EXPECT_EQ(inputs, expected);
  }
}

// Each range by which a check refused a value: the element's bytes, each range of the set it takes,
// and after them the values of the request that the limits depend on.
TEST_F(RuleNotes, EachRangeNamesTheElementItsSetAndWhatItDependsOn) {
  using K = MxifKey;
  using B = MxifBkgd;
  using M = MxifMaintenance;
  struct Case {
    std::vector<std::string> words;
    int type, at;
    std::vector<std::pair<s32, s32>> set;
    std::vector<int> dependsOn;  // sent
  };
  const Case cases[] = {
      {{"MxifBkgd", "patternKind=2", "patternNumber=17"}, B::TYPE_INDEX, offsetof(B, patternNumber), {{0, 15}}, {offsetof(B, patternKind)}},
      {{"MxifKey", "channel=1", "dveCrop=0,0,0,-5001"}, K::TYPE_INDEX, offsetof(K, dveCrop[3]), {{-5000, 5000}}, {}},
      {{"MxifKey", "dveScale.first=4999"}, K::TYPE_INDEX, offsetof(K, dveScale.first), {{0, 0}, {5000, 10000}}, {}},
      {{"MxifMaintenance", "mvTime=2001,2,29,0,0,0"}, M::TYPE_INDEX, offsetof(M, mvTime[M::DAY]), {{1, 28}},
       {offsetof(M, mvTime[M::MONTH]), offsetof(M, mvTime[M::YEAR])}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[1]);
    const std::vector<rules::Note> notes = send(c.words);
    auto n = std::find_if(notes.begin(), notes.end(), [&](const rules::Note& x) {
      return x.from == From::RANGE && std::tuple(x.type, int{x.at}) == std::tuple(c.type, c.at);
    });
    std::vector<std::pair<s32, s32>> set;
    for (; n != notes.end() && n->from == From::RANGE && n->at == c.at; ++n) {
      s32 range[2];
      std::memcpy(range, n->value, sizeof range);
      set.emplace_back(range[0], range[1]);
    }
    std::vector<int> dependsOn;
    for (; n != notes.end() && n->from == From::SENT; ++n) dependsOn.push_back(n->at);
    EXPECT_EQ(set, c.set);
    EXPECT_EQ(dependsOn, c.dependsOn);
  }
}

}  // namespace
