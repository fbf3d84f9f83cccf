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
#include "Tools/lib/link/link.h"
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
// after it exactly the inputs given, sent with the request or held (of ME me; -1 its own). (The
// verdicts' table reads more of them as send shows them.)
TEST_F(RuleNotes, EachRuleNamesTheValuesThatDecided) {
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
      {{}, {"MxifBkgd", "patFree1.edges[0]=3000"}, "the edge rule (edges[0] left", B::TYPE_INDEX,
       offsetof(B, patFree1.edges[1]), {{From::SENT, B::TYPE_INDEX, offsetof(B, patFree1.edges[0]), -1, 3000},
                                        {From::HELD, B::TYPE_INDEX, offsetof(B, patFree1.edgeSymmetry), -1, 0}}},
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

}  // namespace
