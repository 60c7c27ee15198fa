#include "controller/system/worker_path.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

namespace fs = std::filesystem;

struct Layout {
  const char* name;
  bool besideController;
  bool installed;
  const char* expected;  // relative to the tree
};

void PrintTo(const Layout& c, std::ostream* os) { *os << c.name; }

class WorkerLocation : public ::testing::TestWithParam<Layout> {};

// A tree with bin/hostsweep and, as the case says, bin/hostsweep-worker
// and libexec/hostsweep/hostsweep-worker.
TEST_P(WorkerLocation, BesideTheControllerFirstThenTheInstalledFolder) {
  const testing::TemporaryFolder tree;
  fs::create_directories(tree / "bin");
  fs::create_directories(tree / "libexec/hostsweep");
  if (GetParam().besideController) {
    std::ofstream(tree / "bin/hostsweep-worker") << "";
  }
  if (GetParam().installed) {
    std::ofstream(tree / "libexec/hostsweep/hostsweep-worker") << "";
  }
  EXPECT_EQ(FindWorker(tree / "bin", "../libexec/hostsweep", "hostsweep-worker"),
            tree / GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, WorkerLocation,
    ::testing::Values(Layout{"build_tree", true, false, "bin/hostsweep-worker"},
                      Layout{"both", true, true, "bin/hostsweep-worker"},
                      Layout{"installed", false, true, "libexec/hostsweep/hostsweep-worker"},
                      Layout{"missing", false, false, "libexec/hostsweep/hostsweep-worker"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
