// Helpers shared by the system tests.
#pragma once

#include <gtest/gtest.h>

#include "Driver/calllog.h"
#include "tests/support/frontend_peer.h"

namespace system_test {

// Notes the driver calls while it lives (the log starts empty).
struct CallLog { CallLog() { calllog::enable(true); } ~CallLog() { calllog::enable(false); } };

// A reported packet decoded as text record T; the whole body is used.
template <class T>
T textRecord(const testing_support::AckPacket& p) {
  T r{};
  libmx::WireIn in(p.body.data(), p.body.size());
  EXPECT_TRUE(libmx::readTextRecord(in, r));
  EXPECT_EQ(in.position(), p.body.size());
  return r;
}

}  // namespace system_test
