#pragma once

#include <gtest/gtest.h>

#include "tests/worker/fake_platform.h"

namespace hostsweep {

// Every test starts from a fresh fake platform.
class FakePlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  static fake::Platform& os() { return fake::Current(); }
};

}  // namespace hostsweep
