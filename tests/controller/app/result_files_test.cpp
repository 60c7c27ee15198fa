// Result files written as root into a folder other users share: the symlinks
// the system would not follow with fs.protected_symlinks set are not followed
// whatever it is set to.
#include "controller/app/result_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "controller/base/errors.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOther = 4242;

struct LinkCase {
  const char* name;
  bool sticky;        // the folder of the link: world-writable, sticky or not
  bool othersFolder;  // the folder belongs to kOther
  bool othersLink;    // the link belongs to kOther
  bool refused;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class PlantedLinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(PlantedLinkTest, IsFollowedOnlyWhereTheSystemWouldFollowIt) {
  const auto& param = GetParam();
  if ((param.othersFolder || param.othersLink) && geteuid() != 0) {
    GTEST_SKIP() << "giving a file to another user needs root";
  }
  const testing::TemporaryFolder base;
  const auto shared = base / "shared";
  fs::create_directories(shared);
  fs::permissions(shared, param.sticky ? fs::perms::all | fs::perms::sticky_bit : fs::perms::all);
  std::ofstream(base / "precious") << "precious";
  fs::create_symlink(base / "precious", shared / "results.xml");
  ASSERT_EQ(chown(shared.c_str(), param.othersFolder ? kOther : geteuid(), -1), 0);
  ASSERT_EQ(lchown((shared / "results.xml").c_str(), param.othersLink ? kOther : geteuid(), -1), 0);
  Options options;
  options.xmlFile = (shared / "results.xml").string();
  bool refused = false;
  try {
    OpenResultFiles(options, {});
  } catch (const SystemError& error) {
    refused = true;
    EXPECT_NE(std::string(error.what()).find("symlink"), std::string::npos) << error.what();
  }
  std::ostringstream kept;
  kept << std::ifstream(base / "precious").rdbuf();
  EXPECT_EQ(refused, param.refused);
  EXPECT_EQ(kept.str() == "precious", param.refused);
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedLinkTest,
    ::testing::Values(LinkCase{"OthersInStickyFolder", true, false, true, true},
                      LinkCase{"OwnInStickyFolder", true, false, false, false},
                      LinkCase{"FolderOwnersInStickyFolder", true, true, true, false},
                      LinkCase{"OthersInPlainFolder", false, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostsweep::controller
