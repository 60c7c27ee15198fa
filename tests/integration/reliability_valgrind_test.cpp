// The worker under valgrind's memcheck: no leak and no memory error in a run.
// It runs the worker's shared-library twin: the worker itself is static, and
// valgrind cannot follow a static C library's allocator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

constexpr int kMemcheckFound = 99;

struct WorkerRun {
  const char* name;
  std::string request;  // after the handle
  std::size_t reports;
};

void PrintTo(const WorkerRun& c, std::ostream* os) { *os << c.name; }

class MemcheckTest : public ::testing::TestWithParam<WorkerRun> {};

TEST_P(MemcheckTest, FindsNoLeakAndNoError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "this build's worker carries AddressSanitizer, which valgrind cannot run";
#endif
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  if (!std::filesystem::exists("/usr/bin/valgrind")) {
    GTEST_SKIP() << "valgrind is not installed (package valgrind)";
  }
  ReportReceiver receiver;
  const auto run = RunProcess({"/usr/bin/valgrind", "--tool=memcheck", "--leak-check=full",
                               "--errors-for-leak-kinds=definite,indirect,possible",
                               "--error-exitcode=" + std::to_string(kMemcheckFound),
                               HOSTSWEEP_SHARED_WORKER_PATH,
                               std::to_string(receiver.handle()) + "," + GetParam().request});
  EXPECT_EQ(run.exitStatus, 0) << run.standardError;
  EXPECT_THAT(receiver.WaitFor(GetParam().reports, milliseconds(10000)),
              ::testing::SizeIs(GetParam().reports));
}

INSTANTIATE_TEST_SUITE_P(
    Worker, MemcheckTest,
    ::testing::Values(WorkerRun{"NamedHostWithAdapterAddress", "10.213.0.10,A,,,,,0", 1},
                      WorkerRun{"DeadThenUnnamedHost", "10.213.1.9,A,10.213.0.12,B,,,0", 2},
                      WorkerRun{"NameOnly", "0,10.213.0.11", 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::testing
