#pragma once
// Shared ground of the keyer tests: presence bits, the driver calls of one target, and the system's
// categories with the driver call log on.
#include <vector>

#include "tests/Main/category_fixture.h"
#include "tests/Main/transition/engine_fixture.h"

namespace key_test {

constexpr u32 bit(int b) { return 1u << b; }

// The calls of one setter for one target, oldest first.
inline std::vector<calllog::Call> callsFor(const char* name, int target) {
  std::vector<calllog::Call> out;
  for (const calllog::Call& c : transition_test::calls(name)) {
    if (c.target == target) out.push_back(c);
  }
  return out;
}

// The last call of a setter for a target, checked against its arguments (and, with `only`, that it
// is the one call).
inline void expectCall(const char* name, int target, std::vector<float> args, float tolerance = 1e-5f,
                       bool only = true) {
  const auto all = callsFor(name, target);
  ASSERT_FALSE(all.empty()) << name << " " << target;
  EXPECT_TRUE(!only || all.size() == 1u) << name << " " << target << " called " << all.size() << " times";
  transition_test::expectArgs(all.back(), args, tolerance);
}

// The categories of a fresh start (Base: SystemCategoriesTest, or StartedSystemTest with a frame run),
// the call log on.
template <class Base = test_categories::SystemCategoriesTest>
class LoggedTest : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    calllog::enable(true);
  }
  void TearDown() override {
    calllog::enable(false);
    Base::TearDown();
  }
};

}  // namespace key_test
