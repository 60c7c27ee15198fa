// Entry point of the lab test binaries. Each binary is one CTest test: when
// every case in it skipped (outside the lab, say), it exits with 77 so that
// CTest reports it as skipped rather than passed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  const int status = RUN_ALL_TESTS();
  const auto& tests = *::testing::UnitTest::GetInstance();
  constexpr int kSkipped = 77;
  if (status == 0 && tests.successful_test_count() == 0 && tests.skipped_test_count() > 0) {
    return kSkipped;
  }
  return status;
}
