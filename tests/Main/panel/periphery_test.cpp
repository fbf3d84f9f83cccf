// The recent colours through the request ring, in the categories that start-up creates.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "tests/Main/category_fixture.h"

namespace {

using namespace category;

class PeripheryTest : public test_categories::StartedSystemTest {
 protected:
  // Sends the record and runs a frame; returns the records of its type that the frame sent.
  template <class T>
  std::vector<T> send(const T& r) {
    peer.send(r);
    std::vector<T> out;
    for (const auto& p : frameSends(T::TYPE_INDEX)) out.push_back(p.template as<T>());
    return out;
  }
};

TEST_F(PeripheryTest, RecentColoursKeepTheListMostRecentFirst) {
  using Color = std::array<s16, 3>;
  using List = std::array<Color, 8>;
  const Color z{0, 0, 0}, a{1, 2, 3}, a2{1, 2, 4}, n{9, 9, 9};
  const List full{{{10, 0, 0}, {11, 0, 0}, {12, 0, 0}, {13, 0, 0}, {14, 0, 0}, {15, 0, 0}, {16, 0, 0}, {17, 0, 0}}};
  struct Step {
    const char* what;
    u32 mask;
    List colors;
    List expected;
    u32 reported;  // colour mask of the echo
  } steps[] = {
      {"black matches the empty list", 0x01, {z}, {z, z, z, z, z, z, z, z}, 0},
      {"a colour used", 0x01, {a}, {a, z, z, z, z, z, z, z}, 0xFF},
      {"third value differs", 0x05, {a2, z, n}, {a2, a, z, z, z, z, z, z}, 0xFF},
      {"a whole list", 0xFF, full, full, 0xFF},
      {"held at position 5", 0x01, {full[5]}, full, 0},
      {"new to a full list", 0x01, {n}, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0xFF},
      {"bit 0 clear", 0xFE, full, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
      {"bit 7 clear", 0x7F, full, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
      {"bit 2 clear", 0x03, {a, a2}, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    MxifRecentColor r{};
    r.colorMask = s.mask;
    for (int i = 0; i < 8; ++i) std::copy(s.colors[i].begin(), s.colors[i].end(), r.colors[i]);
    const auto echoes = send(r);
    ASSERT_EQ(echoes.size(), 1u);
    EXPECT_EQ(echoes[0].colorMask, s.reported);
    List got;
    for (int i = 0; i < 8; ++i) std::copy(echoes[0].colors[i], echoes[0].colors[i] + 3, got[i].begin());
    EXPECT_EQ(got, s.expected);
  }
}

}  // namespace
